// Set-up files: a saved set-up gives the same views in a new context; every kind of bad file is
// refused with a message naming file, line and key, and leaves the context and device paths as
// they were; VRLIB_CONFIG reaches contexts made by vr_ctx_create.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <array>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "vr_attr.h"
#include "vr_config.h"
#include "setup_file_fixture.h"
#include "vrlib/vr.h"
#include "ctx_compare.h"

namespace {

namespace fs = std::filesystem;

// The source tree, named by the build (a compiler cache may hand __FILE__ over relative).
const fs::path source_dir = VR_SOURCE_DIR;

class ConfigTest : public vr_test::SetupFileTest {
 protected:
  ConfigTest() : SetupFileTest("vrconfig") {}
};

using vr_test::Ctx;

using vr_test::bytes_of;

std::array<std::string, 4> device_paths() {
  std::array<std::string, 4> out;
  for (int d = 0; d < 4; ++d) out[d] = vr_device_path(d);
  return out;
}

void place(double angle_x, double angle_y, double x, double y, double z, dmat out) {
  dmat rx, ry, t;
  vr_mat_rot_x(angle_x, rx);
  vr_mat_rot_y(angle_y, ry);
  vr_mat_trans(x, y, z, t);
  vr_mat_mul_mat(rx, ry, out);
  vr_mat_mul_mat(out, t, out);
}

// A set-up far from the defaults in every section.
void customise(vr_ctx *ctx) {
  ASSERT_EQ(vr_set_double(ctx, VR_SCREEN_WIDTH_CM, 53.1), VR_OK);
  ASSERT_EQ(vr_set_double(ctx, VR_SCREEN_HEIGHT_CM, 29.9), VR_OK);
  ASSERT_EQ(vr_set_double(ctx, VR_SCREEN_WIDTH_PIXELS, 1920), VR_OK);
  ASSERT_EQ(vr_set_double(ctx, VR_SCREEN_HEIGHT_PIXELS, 1080), VR_OK);
  vr_window_match_ws(ctx, 100, 50, 1280, 720);
  const dpt left = {-3.1, 1.7, 3.3}, right = {3.05, 1.75, 3.4};
  ASSERT_EQ(vr_set_point(ctx, VR_LEFT_EYE_OFFSET, left), VR_OK);
  ASSERT_EQ(vr_set_point(ctx, VR_RIGHT_EYE_OFFSET, right), VR_OK);
  const dpt sl = {20.1, 14.2, 55.5}, sr = {26.3, 14.4, 55.1};
  ASSERT_EQ(vr_set_point(ctx, VR_SCREEN_LEFT_EYE, sl), VR_OK);
  ASSERT_EQ(vr_set_point(ctx, VR_SCREEN_RIGHT_EYE, sr), VR_OK);
  ASSERT_EQ(vr_set_int(ctx, VR_STEREO, 1), VR_OK);
  ASSERT_EQ(vr_set_int(ctx, VR_CRT_CORRECTION, 0), VR_OK);
  ASSERT_EQ(vr_set_int(ctx, VR_COEXISTENCE_CENTER, 2), VR_OK);
  ASSERT_EQ(vr_set_double(ctx, VR_PREDICT_LEAD, 0.031), VR_OK);
  ASSERT_EQ(vr_set_int(ctx, VR_GLASSES_SOURCE, 4), VR_OK);
  dmat m;
  place(0.3, -0.2, 21.7, 33.1, 8.9, m);
  ASSERT_EQ(vr_set_matrix(ctx, VR_TRACKER_TO_PLATE, m), VR_OK);
  ASSERT_EQ(vr_set_device_path(VR_DEVICE_TTYA, "/dev/tty \"odd\\name\"\t1"), 1);
}

using vr_test::expect_same_views;

std::string base_setup() {
  return "[screen]\nwidth_cm = 40.0\nheight_cm = 30\n\n[view]\nstereo = true\n";
}

}  // namespace

TEST_F(ConfigTest, ASavedSetUpLoadedIntoANewContextGivesIdenticalViews) {
  Ctx original(vr_ctx_create());
  customise(original.get());
  const std::string path = (dir_ / "setup.toml").string();
  ASSERT_EQ(vr_config_save(original.get(), path.c_str()), 1) << vr_config_message();
  const auto paths = device_paths();
  for (int d = 0; d < 4; ++d) vr_set_device_path(d, nullptr);

  Ctx loaded(vr_ctx_create());
  ASSERT_EQ(vr_config_load(loaded.get(), path.c_str()), 1) << vr_config_message();
  EXPECT_EQ(device_paths(), paths);
  expect_same_views(original.get(), loaded.get());
  // Not only the views: the whole record matches, every derived frame included.
  EXPECT_EQ(bytes_of(original.get()), bytes_of(loaded.get()));

  // Saving the loaded context gives the same file again.
  const std::string again = (dir_ / "again.toml").string();
  ASSERT_EQ(vr_config_save(loaded.get(), again.c_str()), 1);
  std::stringstream a, b;
  a << std::ifstream(path).rdbuf();
  b << std::ifstream(again).rdbuf();
  EXPECT_EQ(a.str(), b.str());
}

TEST_F(ConfigTest, ASetUpThatAFileCannotKeepIsNotWrittenAndAnOldFileStays) {
  Ctx ctx(vr_ctx_create());
  const std::string path = write("kept.toml", base_setup());
  // The fixed interface hands dig_to_plate out by address: a scaled matrix can get in.
  double(*dig_to_plate)[4] = nullptr;
  vr_object_get(ctx.get(), VR_DIG_TO_PLATE, &dig_to_plate);
  dig_to_plate[0][0] = 2.0;
  testing::internal::CaptureStderr();
  EXPECT_EQ(vr_config_save(ctx.get(), path.c_str()), 0);
  testing::internal::GetCapturedStderr();
  EXPECT_NE(std::string(vr_config_message()).find("calibration.tracker_to_plate"),
            std::string::npos)
      << vr_config_message();
  std::stringstream kept;
  kept << std::ifstream(path).rdbuf();
  EXPECT_EQ(kept.str(), base_setup());
  // A folder that does not exist: a message, nothing else.
  testing::internal::CaptureStderr();
  dig_to_plate[0][0] = 1.0;
  const std::string nowhere = (dir_ / "no" / "such.toml").string();
  EXPECT_EQ(vr_config_save(ctx.get(), nowhere.c_str()), 0);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(std::string(vr_config_message()),
            nowhere + ": cannot write the set-up file: No such file or directory");
}

TEST_F(ConfigTest, EachKindOfBadFileIsRefusedWithFileLineAndKeyAndChangesNothing) {
  struct Case {
    const char *text;
    const char *message;  // after "<path>:"
  };
  const Case cases[] = {
      {"[screen]\nwidth_cm = 40\n[sreen]\nheight_cm = 20\n", "3: sreen: unknown section"},
      {"[screen]\nwidth_cm = 40\nwidht_cm = 20\n", "3: screen.widht_cm: unknown key"},
      {"stereo = true\n", "1: stereo: unknown key (keys belong in a [section])"},
      {"[screen]\n\nwidth_cm = \"wide\"\n", "3: screen.width_cm: expected a number"},
      {"[view]\nmono_eye = 1.5\n", "2: view.mono_eye: expected a whole number"},
      {"[view]\nmono_eye = true\n", "2: view.mono_eye: expected a whole number"},
      {"[view]\nstereo = 3000000000\n",
       "2: view.stereo: 3000000000 is out of range (-2147483648 to 2147483647)"},
      {"[view]\nstereo = \"yes\"\n", "2: view.stereo: expected true or false"},
      {"[eyes]\nleft_offset = [1, 2]\n", "2: eyes.left_offset: expected three numbers [x, y, z]"},
      {"[eyes]\nleft_offset = [1, \"2\", 3]\n",
       "2: eyes.left_offset: expected three numbers [x, y, z]"},
      {"[eyes]\nleft_offset = [1, 2, inf]\n",
       "2: eyes.left_offset: inf is out of range (any finite number)"},
      {"[screen]\nwidth_cm = 0\n",
       "2: screen.width_cm: 0 is out of range (any finite number but 0)"},
      {"[screen]\nwidth_cm = nan\n",
       "2: screen.width_cm: nan is out of range (any finite number but 0)"},
      {"[tracking]\nglasses_source = 99.5\n",
       "2: tracking.glasses_source: expected a whole number"},
      {"[tracking]\naux = 3000000000\n",
       "2: tracking.aux: 3000000000 is out of range (-2147483648 to 2147483647)"},
      {"[calibration]\ntracker_to_plate = [[1, 0, 0, 0], [0, 1, 0, 0], [0, 0, 1, 0]]\n",
       "2: calibration.tracker_to_plate: expected four rows of four numbers"},
      {"[calibration]\ntracker_to_plate = [[2, 0, 0, 0], [0, 2, 0, 0], [0, 0, 2, 0], [0, 0, 0, "
       "1]]\n",
       "2: calibration.tracker_to_plate: refused: not a rigid transform (rotation and translation "
       "only)"},
      {"[devices]\ntty_a = 5\n", "2: devices.tty_a: expected a device path in quotes"},
      {"[devices]\ntty_a = \"\"\n", "2: devices.tty_a: a device path has 1 to 255 bytes"},
      {"[screen]\nwidth_cm = 40\nwidth_cm = 41\n", "3: not valid TOML"},
      {"[screen\n", "1: not valid TOML"},
      // Characters the TOML reader would misread where it tests for white space.
      {"# caf\u00e9\n[screen]\nwidth_cm = 40 \u03fb\n",
       "3: character U+03FB is not accepted outside strings and comments"},
      {"[devices]\ntty_a = \"\"\"a\\\n\u00a1\"\"\"\n",
       "3: character U+00A1 is not accepted outside strings and comments"},
      // Control characters, which TOML allows nowhere: one in a table header trips the reader.
      {"[screen]\nwidth_cm = 40\n[\x01sch]\n",
       "3: control character U+0001 is not allowed in a set-up file"},
      {"# a comment with a bell \a\n",
       "1: control character U+0007 is not allowed in a set-up file"},
  };
  for (const Case &k : cases) {
    Ctx ctx(vr_ctx_create());
    const auto before = bytes_of(ctx.get());
    const auto paths = device_paths();
    const std::string path = write("bad.toml", k.text);
    testing::internal::CaptureStderr();
    EXPECT_EQ(vr_config_load(ctx.get(), path.c_str()), 0) << k.text;
    const std::string printed = testing::internal::GetCapturedStderr();
    const std::string message = vr_config_message();
    EXPECT_EQ(message.rfind(path + ":" + k.message, 0), 0u) << message;
    EXPECT_NE(printed.find(message), std::string::npos) << printed;
    EXPECT_EQ(bytes_of(ctx.get()), before) << k.text;
    EXPECT_EQ(device_paths(), paths);
  }
}

TEST_F(ConfigTest, AFileThatFailsHalfWayLeavesContextAndDevicePathsUntouched) {
  // Good keys in every section before and after the bad one, including device paths and the
  // calibration: none of them may stick.
  const std::string text =
      base_setup() +
      "[devices]\ntty_a = \"/dev/ttyS7\"\n[calibration]\n"
      "tracker_to_plate = [[1, 0, 0, 0], [0, 1, 0, 0], [0, 0, 1, 0], [5, 6, 7, 1]]\n"
      "[eyes]\ninterocular = 7.0\nscreen_left = [1, 2, 3]\n"
      "[prediction]\nlead = inf\n"  // out of range: the last problem of the file
      "[window]\nwidth_pixels = 300\n";
  Ctx ctx(vr_ctx_create());
  const auto before = bytes_of(ctx.get());
  const auto paths = device_paths();
  const std::string path = write("half.toml", text);
  testing::internal::CaptureStderr();
  EXPECT_EQ(vr_config_load(ctx.get(), path.c_str()), 0);
  testing::internal::GetCapturedStderr();
  EXPECT_NE(std::string(vr_config_message()).find(":15: prediction.lead:"), std::string::npos)
      << vr_config_message();
  EXPECT_EQ(bytes_of(ctx.get()), before);
  EXPECT_EQ(device_paths(), paths);

  // Several problems: the first in the file is the one reported.
  const std::string two =
      write("two.toml", "[view]\nstereo = -3000000000\n[screen]\nwidth_cm = 0\n");
  testing::internal::CaptureStderr();
  EXPECT_EQ(vr_config_load(ctx.get(), two.c_str()), 0);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(std::string(vr_config_message()),
            two + ":2: view.stereo: -3000000000 is out of range (-2147483648 to 2147483647)");
}

TEST_F(ConfigTest, ALoadAppliesOnTopOfTheContextAndTakesEffectAtOnce) {
  Ctx ctx(vr_ctx_create());
  ASSERT_EQ(vr_set_double(ctx.get(), VR_CRT_RADIUS, 99.0), VR_OK);  // the application's own
  static int hook_calls;
  static vr_ctx *hook_ctx;
  hook_calls = 0;
  vr_object_set(ctx.get(), VR_EYE_HOOK_FN, static_cast<vr_fn>([](vr_ctx *c) {
                  ++hook_calls;
                  hook_ctx = c;
                }),
                0);
  // Any text in comments and strings.
  const std::string path =
      write("on_top.toml", base_setup() +
                               "[eyes] # \u00e9\u03fb\u3001\n"
                               "interocular = 7.0\n[devices]\ntty_b = '/dev/\u00e9\u03fb'\n");
  ASSERT_EQ(vr_config_load(ctx.get(), path.c_str()), 1) << vr_config_message();
  EXPECT_STREQ(vr_config_message(), "");
  double v = 0;
  vr_get_double(ctx.get(), VR_CRT_RADIUS, &v);
  EXPECT_EQ(v, 99.0);
  EXPECT_STREQ(vr_device_path(VR_DEVICE_TTYB), "/dev/\u00e9\u03fb");
  vr_get_double(ctx.get(), VR_INTEROCULAR, &v);
  EXPECT_DOUBLE_EQ(v, 7.0);
  // The new screen size reaches the window geometry without the application matching it.
  dpt center;
  vr_get_point(ctx.get(), VR_WINDOW_CENTER, center);
  EXPECT_DOUBLE_EQ(center[0], 20.0);
  EXPECT_DOUBLE_EQ(center[1], 15.0);
  // The application's eye hook saw the real context, never the copy the load works on.
  EXPECT_GE(hook_calls, 1);
  EXPECT_EQ(hook_ctx, ctx.get());
}

TEST_F(ConfigTest, VrlibConfigIsLoadedByContextCreationAndAMissingFileKeepsTheDefaults) {
  unsetenv("VRLIB_CONFIG");
  Ctx plain(vr_ctx_create());
  const auto defaults = bytes_of(plain.get());

  setenv("VRLIB_CONFIG", "", 1);
  Ctx empty(vr_ctx_create());
  EXPECT_EQ(bytes_of(empty.get()), defaults);

  const std::string missing = (dir_ / "nowhere.toml").string();
  setenv("VRLIB_CONFIG", missing.c_str(), 1);
  testing::internal::CaptureStderr();
  Ctx kept(vr_ctx_create());
  const std::string printed = testing::internal::GetCapturedStderr();
  ASSERT_NE(kept, nullptr);
  EXPECT_EQ(bytes_of(kept.get()), defaults);
  EXPECT_EQ(printed, missing + ": cannot read the set-up file: No such file or directory\n" +
                         "VRLIB_CONFIG: the set-up in " + missing +
                         " was not applied; the defaults stay\n");

  setenv("VRLIB_CONFIG", write("env.toml", base_setup()).c_str(), 1);
  Ctx configured(vr_ctx_create());
  double width = 0;
  vr_get_double(configured.get(), VR_SCREEN_WIDTH_CM, &width);
  EXPECT_EQ(width, 40.0);
}

TEST_F(ConfigTest, TheExampleFileLoadsAndTheReadmeAndExampleNameEveryKey) {
  const std::string example = (source_dir / "examples" / "vrlib.toml").string();
  Ctx ctx(vr_ctx_create());
  ASSERT_EQ(vr_config_load(ctx.get(), example.c_str()), 1) << vr_config_message();
  int source = 0;
  vr_get_int(ctx.get(), VR_GLASSES_SOURCE, &source);
  EXPECT_EQ(source, 4);
  EXPECT_STREQ(vr_device_path(VR_DEVICE_TTYA), "/dev/ttyS0");

  std::stringstream readme;
  readme << std::ifstream(source_dir / "README.md").rdbuf();
  for (int k = 0; k < vr::config::key_count(); ++k) {
    const auto key = vr::config::key_at(k);
    const std::string name = std::string(key.section) + "." + key.name;
    EXPECT_NE(readme.str().find("`" + name + "`"), std::string::npos)
        << name << " is not documented in README.md";
  }
}

// One row of the README's key table: its keys and the type, range and default columns.
struct ReadmeRow {
  std::vector<std::string> keys;
  std::string type, range, initial;
};

std::string trimmed(const std::string &s) {
  const auto first = s.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return s.substr(first, s.find_last_not_of(' ') - first + 1);
}

std::vector<ReadmeRow> readme_key_rows() {
  std::ifstream readme(source_dir / "README.md");
  std::vector<ReadmeRow> rows;
  for (std::string line; std::getline(readme, line);) {
    if (line.rfind("| `", 0) != 0) continue;
    std::vector<std::string> cells;
    std::stringstream cut(line.substr(1));
    for (std::string cell; std::getline(cut, cell, '|');) cells.push_back(trimmed(cell));
    if (cells.size() < 5) continue;
    ReadmeRow row{{}, cells[1], cells[2], cells[3]};
    for (std::size_t at = cells[0].find('`'); at != std::string::npos;) {
      const std::size_t end = cells[0].find('`', at + 1);
      row.keys.push_back(cells[0].substr(at + 1, end - at - 1));
      at = cells[0].find('`', end + 1);
    }
    rows.push_back(row);
  }
  return rows;
}

// The items of a default column, split at the commas outside brackets: one per key of the row,
// or one for all of them.
std::vector<std::string> default_items(const std::string &column) {
  std::vector<std::string> items{""};
  int depth = 0;
  for (const char c : column) {
    depth += c == '[' ? 1 : c == ']' ? -1 : 0;
    if (c == ',' && depth == 0) {
      items.push_back("");
    } else {
      items.back() += c;
    }
  }
  for (auto &item : items) item = trimmed(item);
  return items;
}

// A number as the README writes it ("π/2" included), or NaN.
double readme_number(const std::string &text) {
  if (text == "π/2") return std::numbers::pi / 2;
  char *end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  return end != text.c_str() && *end == '\0' ? v : std::nan("");
}

// Whether a README number stands for the value: the README rounds to four significant digits.
bool close_to(const std::string &text, double value) {
  return std::fabs(readme_number(text) - value) <= 5e-4 * std::fabs(value);
}

// What the range column says for an attribute key, from the numbers its setter takes.
std::string expected_range(const vr::config::KeyInfo &key) {
  if (key.is_switch) return "";
  if (!key.attribute) return key.endpoint ? "\"a.b.c.d:port\"" : "";
  vr_attr_range r{};
  switch (vr_attr_type_of(key.id)) {
    case VR_TYPE_POINT:
      return "any";
    case VR_TYPE_MATRIX:
      return "a rotation and a translation only";
    case VR_TYPE_DOUBLE:
      EXPECT_TRUE(vr_attr_range_of(key.id, &r));
      if (r.low == 0) return r.zero_refused ? "above 0" : "0 or more";
      return r.zero_refused ? "any but 0" : "any";
    case VR_TYPE_INT:
      EXPECT_TRUE(vr_attr_range_of(key.id, &r));
      if (r.low == INT_MIN && r.high == INT_MAX) return "any";
      // The axis mappings' range is one of two signed bands (the setter says which).
      if (key.id >= VR_NET_MAP_X && key.id <= VR_NET_MAP_ROLL)
        return key.id <= VR_NET_MAP_Z ? "±1 to ±3" : "±4 to ±6";
      return std::to_string(static_cast<long long>(r.low)) + " to " +
             std::to_string(static_cast<long long>(r.high));
    default:
      return "?";
  }
}

// Whether a default item of the README is the fresh context's value of the key.
bool default_agrees(vr_ctx *ctx, const vr::config::KeyInfo &key, const std::string &item) {
  if (key.endpoint) {
    int address = 0, port = 0;
    vr_get_int(ctx, key.id, &address);
    vr_get_int(ctx, key.id + 1, &port);
    const auto a = static_cast<unsigned>(address);
    return item == "\"" + std::to_string(a >> 24) + "." + std::to_string((a >> 16) & 255u) + "." +
                       std::to_string((a >> 8) & 255u) + "." + std::to_string(a & 255u) + ":" +
                       std::to_string(port) + "\"";
  }
  switch (vr_attr_type_of(key.id)) {
    case VR_TYPE_DOUBLE: {
      double v = 0;
      vr_get_double(ctx, key.id, &v);
      return close_to(item, v);
    }
    case VR_TYPE_INT: {
      int v = 0;
      vr_get_int(ctx, key.id, &v);
      if (key.is_switch) return item == (v ? "true" : "false");
      return item == std::to_string(v);
    }
    case VR_TYPE_POINT: {
      dpt p{};
      vr_get_point(ctx, key.id, p);
      if (item.size() < 2 || item.front() != '[' || item.back() != ']') return false;
      const auto coordinates = default_items(item.substr(1, item.size() - 2));
      return coordinates.size() == 3 && close_to(coordinates[0], p[0]) &&
             close_to(coordinates[1], p[1]) && close_to(coordinates[2], p[2]);
    }
    default:
      return true;  // a matrix is described in words
  }
}

// The README's key table is held to the attribute table: every key has one row, every row names
// keys, and each attribute key's type, range and default columns say what the setter takes and
// what a new context holds.
TEST_F(ConfigTest, TheReadmeKeyTableAgreesWithTheAttributeTable) {
  const std::vector<ReadmeRow> rows = readme_key_rows();
  std::vector<std::string> documented;
  for (const auto &row : rows)
    documented.insert(documented.end(), row.keys.begin(), row.keys.end());
  Ctx ctx(vr_ctx_create());
  for (int k = 0; k < vr::config::key_count(); ++k) {
    const auto key = vr::config::key_at(k);
    const std::string name = std::string(key.section) + "." + key.name;
    const ReadmeRow *row = nullptr;
    for (const auto &r : rows) {
      for (std::size_t i = 0; i < r.keys.size(); ++i) {
        if (r.keys[i] == name) row = &r;
      }
    }
    ASSERT_NE(row, nullptr) << name << " has no row in the README's key table";
    std::erase(documented, name);

    const vr_attr_type type = key.attribute ? vr_attr_type_of(key.id) : VR_TYPE_NONE;
    const std::string expected_type = !key.attribute           ? "text"
                                      : key.is_switch          ? "switch"
                                      : type == VR_TYPE_DOUBLE ? "number"
                                      : type == VR_TYPE_INT    ? "whole"
                                      : type == VR_TYPE_POINT  ? "point"
                                      : type == VR_TYPE_MATRIX ? "4 rows of 4 numbers"
                                                               : "?";
    EXPECT_EQ(row->type, expected_type) << name;

    if (key.attribute || key.endpoint) {
      // The column may add a remark in parentheses after the range.
      const std::string range = expected_range(key);
      EXPECT_TRUE(row->range == range || row->range.rfind(range + " (", 0) == 0)
          << name << ": the README says \"" << row->range << "\", the setter takes " << range;

      const auto items = default_items(row->initial);
      std::size_t at = 0;
      while (row->keys[at] != name) ++at;
      const std::string item = items.size() == row->keys.size() ? items[at] : items.front();
      EXPECT_TRUE(default_agrees(ctx.get(), key, item))
          << name << ": the README's default \"" << item << "\" is not a new context's";
    }
  }
  EXPECT_TRUE(documented.empty()) << "the README documents " << documented.front()
                                  << ", which is no set-up key";
}

TEST_F(ConfigTest, PoseFilterKeysRoundTripAndAreChecked) {
  Ctx original(vr_ctx_create());
  ASSERT_EQ(vr_set_int(original.get(), VR_TRACK_FILTER, 1), VR_OK);
  ASSERT_EQ(vr_set_double(original.get(), VR_FILTER_ACCEL_NOISE, 640.5), VR_OK);
  ASSERT_EQ(vr_set_double(original.get(), VR_FILTER_TURN_NOISE, 3.25), VR_OK);
  ASSERT_EQ(vr_set_double(original.get(), VR_FILTER_DISTANCE_SIGMA, 0.0375), VR_OK);
  // The filter's state is the library's to report, never set.
  EXPECT_EQ(vr_set_int(original.get(), VR_TRACK_FILTER_STATE, 2), VR_ERR_NOT_SETTABLE);
  EXPECT_EQ(vr_set_int(original.get(), VR_TRACK_FILTER, 2), VR_ERR_BAD_VALUE);
  EXPECT_EQ(vr_set_double(original.get(), VR_FILTER_ACCEL_NOISE, 0.0), VR_ERR_BAD_VALUE);

  const std::string path = (dir_ / "filter.toml").string();
  ASSERT_EQ(vr_config_save(original.get(), path.c_str()), 1) << vr_config_message();
  std::stringstream written;
  written << std::ifstream(path).rdbuf();
  EXPECT_NE(written.str().find("filter = true"), std::string::npos) << written.str();
  EXPECT_NE(written.str().find("filter_accel_noise = 640.5"), std::string::npos);
  EXPECT_NE(written.str().find("filter_distance_sigma = 0.0375"), std::string::npos);
  Ctx loaded(vr_ctx_create());
  ASSERT_EQ(vr_config_load(loaded.get(), path.c_str()), 1) << vr_config_message();
  EXPECT_EQ(bytes_of(original.get()), bytes_of(loaded.get()));

  // A hand-written file switches it on as users write it.
  const std::string hand =
      write("hand.toml", "[display_time]\nfilter = true\nfilter_turn_noise = 1.5\n");
  Ctx by_hand(vr_ctx_create());
  ASSERT_EQ(vr_config_load(by_hand.get(), hand.c_str()), 1) << vr_config_message();
  int on = 0;
  double turn = 0;
  vr_get_int(by_hand.get(), VR_TRACK_FILTER, &on);
  vr_get_double(by_hand.get(), VR_FILTER_TURN_NOISE, &turn);
  EXPECT_EQ(on, 1);
  EXPECT_EQ(turn, 1.5);
  for (const char *bad :
       {"[display_time]\nfilter = 3\n", "[display_time]\nfilter_turn_noise = -1\n",
        "[display_time]\nfilter_distance_sigma = nan\n"}) {
    Ctx ctx(vr_ctx_create());
    const auto before = bytes_of(ctx.get());
    const std::string file = write("bad.toml", bad);
    testing::internal::CaptureStderr();
    EXPECT_EQ(vr_config_load(ctx.get(), file.c_str()), 0) << bad;
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(bytes_of(ctx.get()), before) << bad;
  }
}

TEST_F(ConfigTest, DisplayTimeAndNetworkKeysRoundTripAndAreChecked) {
  Ctx original(vr_ctx_create());
  ASSERT_EQ(vr_set_int(original.get(), VR_TRACK_DISPLAY_TIME, 1), VR_OK);
  ASSERT_EQ(vr_set_double(original.get(), VR_DISPLAY_LATENCY, 0.0213), VR_OK);
  ASSERT_EQ(vr_set_double(original.get(), VR_TRACKER_DELAY, 0.0071), VR_OK);
  ASSERT_EQ(vr_set_double(original.get(), VR_OUTLIER_GATE, 5.5), VR_OK);
  ASSERT_EQ(vr_set_double(original.get(), VR_OUTLIER_FLOOR, 0.7), VR_OK);
  ASSERT_EQ(vr_set_double(original.get(), VR_HEAD_SPEED_LIMIT, 250.0), VR_OK);
  ASSERT_EQ(vr_set_double(original.get(), VR_PREDICT_SMOOTHING, 0.02), VR_OK);
  ASSERT_EQ(vr_set_double(original.get(), VR_PREDICT_TREND, 0.03), VR_OK);
  ASSERT_EQ(vr_set_int(original.get(), VR_RAW_FIT_SLOTS, 11), VR_OK);
  ASSERT_EQ(vr_set_int(original.get(), VR_GLASSES_SOURCE, VR_SOURCE_NETWORK), VR_OK);
  ASSERT_EQ(vr_net_set_endpoint(original.get(), VR_NET_BIND_ADDRESS, "0.0.0.0:5000"), VR_OK);
  const dpt camera = {-2.5, 1.25, -3.0};
  ASSERT_EQ(vr_set_point(original.get(), VR_NET_CAMERA_OFFSET, camera), VR_OK);
  ASSERT_EQ(vr_set_double(original.get(), VR_NET_CAMERA_TILT, 0.1734), VR_OK);
  const int map[6] = {-1, 3, 2, -4, 6, 5};
  for (int a = 0; a < 6; ++a)
    ASSERT_EQ(vr_set_int(original.get(), VR_NET_MAP_X + a, map[a]), VR_OK);
  ASSERT_EQ(vr_set_double(original.get(), VR_NET_SILENCE_TIMEOUT, 1.75), VR_OK);
  ASSERT_EQ(vr_set_int(original.get(), VR_NET_OUTPUT, 1), VR_OK);
  ASSERT_EQ(vr_net_set_endpoint(original.get(), VR_NET_OUTPUT_ADDRESS, "127.0.0.2:6001"), VR_OK);

  const std::string path = (dir_ / "net.toml").string();
  ASSERT_EQ(vr_config_save(original.get(), path.c_str()), 1) << vr_config_message();
  std::stringstream written;
  written << std::ifstream(path).rdbuf();
  EXPECT_NE(written.str().find("listen = \"0.0.0.0:5000\""), std::string::npos) << written.str();
  EXPECT_NE(written.str().find("output_to = \"127.0.0.2:6001\""), std::string::npos);
  EXPECT_NE(written.str().find("glasses_source = 6"), std::string::npos);
  EXPECT_NE(written.str().find("[display_time]\n"), std::string::npos);

  Ctx loaded(vr_ctx_create());
  ASSERT_EQ(vr_config_load(loaded.get(), path.c_str()), 1) << vr_config_message();
  EXPECT_EQ(bytes_of(original.get()), bytes_of(loaded.get()));

  struct Case {
    const char *text;
    const char *message;  // after "<path>:"
  };
  const Case cases[] = {
      {"[network]\nlisten = \"127.0.0.1:0\"\n",
       "2: network.listen: expected \"a.b.c.d:port\" (IPv4 address and UDP port)"},
      {"[network]\nlisten = \"example.org:4242\"\n", "2: network.listen: expected"},
      {"[network]\noutput_to = 4243\n", "2: network.output_to: expected"},
      {"[network]\nmap_x = 4\n",
       "2: network.map_x: refused: x, y and z take 1 to 3, the angles 4 to 6 (negative: negated)"},
      {"[network]\nmap_roll = 7\n", "2: network.map_roll: 7 is out of range (-6 to 6)"},
      {"[network]\ncamera_tilt = -inf\n", "2: network.camera_tilt: -inf is out of range"},
      {"[network]\nsilence_timeout = 0\n", "2: network.silence_timeout: 0 is out of range"},
      {"[display_time]\nenabled = 2\n", "2: display_time.enabled: 2 is out of range (0 to 1)"},
      {"[display_time]\nlatency = -0.1\n", "2: display_time.latency: -0.1 is out of range"},
      {"[display_time]\nraw_fit_slots = 2\n",
       "2: display_time.raw_fit_slots: 2 is out of range (3 to 16)"},
      {"[tracking]\nglasses_source = 6.0\n", "2: tracking.glasses_source: expected a whole number"},
      {"[tracking]\nmouse_source = 2147483648\n",
       "2: tracking.mouse_source: 2147483648 is out of range (-2147483648 to 2147483647)"},
      {"[network]\nsender_latency = -0.001\n",
       "2: network.sender_latency: -0.001 is out of range (0 or more)"},
  };
  for (const Case &k : cases) {
    Ctx ctx(vr_ctx_create());
    const auto before = bytes_of(ctx.get());
    const std::string bad = write("bad.toml", k.text);
    testing::internal::CaptureStderr();
    EXPECT_EQ(vr_config_load(ctx.get(), bad.c_str()), 0) << k.text;
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::string(vr_config_message()).rfind(bad + ":" + k.message, 0), 0u)
        << vr_config_message();
    EXPECT_EQ(bytes_of(ctx.get()), before) << k.text;
  }
}

TEST_F(ConfigTest, VrpnKeysRoundTripAndAreChecked) {
  Ctx original(vr_ctx_create());
  ASSERT_EQ(vr_set_int(original.get(), VR_GLASSES_SOURCE, VR_GLASSES_SOURCE_VRPN), VR_OK);
  ASSERT_EQ(vr_set_int(original.get(), VR_MOUSE_SOURCE, VR_MOUSE_SOURCE_VRPN), VR_OK);
  ASSERT_EQ(vr_vrpn_set_devices(original.get(), "DTrack@127.0.0.1:3884", "Wand0@127.0.0.1"), VR_OK);
  ASSERT_EQ(vr_set_int(original.get(), VR_VRPN_HEAD_SENSOR, 3), VR_OK);
  ASSERT_EQ(vr_set_int(original.get(), VR_VRPN_MOUSE_SENSOR, 7), VR_OK);
  ASSERT_EQ(vr_set_double(original.get(), VR_VRPN_CM_PER_UNIT, 0.1), VR_OK);

  const std::string path = (dir_ / "vrpn.toml").string();
  ASSERT_EQ(vr_config_save(original.get(), path.c_str()), 1) << vr_config_message();
  std::stringstream written;
  written << std::ifstream(path).rdbuf();
  for (const char *line : {"[vrpn]\n", "tracker = \"DTrack@127.0.0.1:3884\"\n",
                           "button = \"Wand0@127.0.0.1\"\n", "glasses_source = 240\n",
                           "mouse_source = 240\n", "head_sensor = 3\n", "cm_per_unit = 0.1\n"})
    EXPECT_NE(written.str().find(line), std::string::npos) << line << written.str();
  Ctx loaded(vr_ctx_create());
  ASSERT_EQ(vr_config_load(loaded.get(), path.c_str()), 1) << vr_config_message();
  EXPECT_EQ(bytes_of(original.get()), bytes_of(loaded.get()));

  // A tracker alone names the button device too; "" names none, and a default context's file
  // (nothing named) loads back to the same context.
  const std::string alone = write("alone.toml", "[vrpn]\ntracker = \"Tracker0@localhost\"\n");
  ASSERT_EQ(vr_config_load(loaded.get(), alone.c_str()), 1) << vr_config_message();
  const std::string alone_path = (dir_ / "alone_saved.toml").string();
  ASSERT_EQ(vr_config_save(loaded.get(), alone_path.c_str()), 1);
  std::stringstream alone_text;
  alone_text << std::ifstream(alone_path).rdbuf();
  EXPECT_NE(alone_text.str().find("button = \"Tracker0@localhost\""), std::string::npos);
  Ctx named(vr_ctx_create());
  ASSERT_EQ(vr_vrpn_set_devices(named.get(), "DTrack@127.0.0.1:3884", "Wand0@127.0.0.1"), VR_OK);
  ASSERT_EQ(vr_vrpn_set_devices(named.get(), "Tracker0@localhost", nullptr), VR_OK);
  const std::string named_path = (dir_ / "named.toml").string();
  ASSERT_EQ(vr_config_save(named.get(), named_path.c_str()), 1);
  std::stringstream named_text;
  named_text << std::ifstream(named_path).rdbuf();
  EXPECT_NE(named_text.str().find("button = \"Tracker0@localhost\""), std::string::npos);
  const std::string none = write("none.toml", "[vrpn]\ntracker = \"\"\nbutton = \"\"\n");
  ASSERT_EQ(vr_config_load(loaded.get(), none.c_str()), 1) << vr_config_message();
  Ctx fresh(vr_ctx_create());
  const std::string fresh_path = (dir_ / "fresh.toml").string();
  ASSERT_EQ(vr_config_save(fresh.get(), fresh_path.c_str()), 1) << vr_config_message();
  Ctx reloaded(vr_ctx_create());
  ASSERT_EQ(vr_config_load(reloaded.get(), fresh_path.c_str()), 1) << vr_config_message();
  EXPECT_EQ(bytes_of(fresh.get()), bytes_of(reloaded.get()));

  struct Case {
    const char *text;
    const char *message;  // after "<path>:"
  };
  const std::string long_name = "[vrpn]\ntracker = \"" + std::string(200, 'T') + "@host\"\n";
  const Case cases[] = {
      {"[vrpn]\ntracker = \"Tracker0\"\n",
       "2: vrpn.tracker: expected \"device@host[:port]\" of at most 127 bytes, or \"\""},
      {"[vrpn]\ntracker = \"@host\"\n", "2: vrpn.tracker: expected"},
      {"[vrpn]\ntracker = \"Tracker0@\"\n", "2: vrpn.tracker: expected"},
      {"[vrpn]\ntracker = 3883\n", "2: vrpn.tracker: expected"},
      {long_name.c_str(), "2: vrpn.tracker: expected"},
      {"[vrpn]\nbutton = \"Buttons0@host\"\n",
       "2: vrpn.button: refused: a button device needs a tracker named"},
      {"[vrpn]\nhead_sensor = -1\n", "2: vrpn.head_sensor: -1 is out of range (0 to 2147483647)"},
      {"[vrpn]\nmouse_sensor = 1.5\n", "2: vrpn.mouse_sensor: expected a whole number"},
      {"[vrpn]\ncm_per_unit = 0\n", "2: vrpn.cm_per_unit: 0 is out of range"},
      {"[tracking]\nglasses_source = 240.5\n",
       "2: tracking.glasses_source: expected a whole number"},
      {"[tracking]\nmouse_source = -2147483649\n",
       "2: tracking.mouse_source: -2147483649 is out of range (-2147483648 to 2147483647)"},
  };
  for (const Case &k : cases) {
    Ctx ctx(vr_ctx_create());
    const auto before = bytes_of(ctx.get());
    const std::string bad = write("bad.toml", k.text);
    testing::internal::CaptureStderr();
    EXPECT_EQ(vr_config_load(ctx.get(), bad.c_str()), 0) << k.text;
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::string(vr_config_message()).rfind(bad + ":" + k.message, 0), 0u)
        << vr_config_message();
    EXPECT_EQ(bytes_of(ctx.get()), before) << k.text;
  }
}

TEST_F(ConfigTest, AQuoteWhereNoStringCanStartDoesNotHideCharactersFromTheCheck) {
  // The reader tests what follows such a quote as code: the characters it cannot take there are
  // refused before it sees them; strings in their proper places still take any text.
  const std::string bad = write("quote.toml", "[devices]\ntty_a =7\"/d\u00e9 \u03fb\"\n");
  Ctx ctx(vr_ctx_create());
  testing::internal::CaptureStderr();
  EXPECT_EQ(vr_config_load(ctx.get(), bad.c_str()), 0);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(std::string(vr_config_message()),
            bad + ":2: character U+00E9 is not accepted outside strings and comments");
  // Code points from every block of the reader's white-space test that it cannot take.
  for (const char *text : {"[screen]\nwidth_cm =\u2c5e 40\n", "[screen]\nwidth_cm =\u2eff 40\n",
                           "[screen]\nwidth_cm =\u3057 40\n", "[screen]\nwidth_cm =\ufb26 40\n"}) {
    const std::string path = write("block.toml", text);
    testing::internal::CaptureStderr();
    EXPECT_EQ(vr_config_load(ctx.get(), path.c_str()), 0) << text;
    testing::internal::GetCapturedStderr();
    EXPECT_NE(std::string(vr_config_message()).find(":2: character U+"), std::string::npos)
        << vr_config_message();
  }
  const std::string good =
      write("strings.toml",
            "[devices]\ntty_a = \"/d\u00e9\u03fb\"\n\"tty_b\" = '/\u03fb'\n"
            "[eyes]\nleft_offset = [ -3, 2, 3 ] # \u03fb\n[network]\nlisten=\"127.0.0.1:4242\"\n");
  ASSERT_EQ(vr_config_load(ctx.get(), good.c_str()), 1) << vr_config_message();
  EXPECT_STREQ(vr_device_path(VR_DEVICE_TTYB), "/\u03fb");
}
