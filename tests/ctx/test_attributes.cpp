// The attribute interface: identifiers, value types, access, side effects and bad arguments.
#include <gtest/gtest.h>

#include <cctype>
#include <climits>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "vr_attr.h"
#include "view_test_util.h"

using namespace view_test;

namespace {

// The scalar attributes accepted by both set and get, with their value types: the numbers and
// types are the interface applications are written against.
constexpr int scalar_doubles[] = {1,  2,  3,  4,  8,  9,  10, 11,  12,  13,  14,  18, 19,
                                  46, 47, 48, 61, 62, 69, 70, 71,  73,  74,  75,  79, 82,
                                  87, 88, 89, 90, 91, 95, 98, 101, 104, 105, 108, 109};
constexpr int scalar_ints[] = {5,  6,  7,  16, 17, 32,  33,  34,  36,  38,  39, 40,
                               41, 42, 43, 44, 45, 78,  80,  81,  83,  84,  85, 92,
                               93, 94, 96, 97, 99, 100, 102, 103, 106, 107, 119};
constexpr int set_get_points[] = {63, 64, 68, 72, 86, 115, 116, 117, 118};
constexpr int get_only_points[] = {15, 76, 77};
constexpr int get_only_blocks[] = {20, 21, 22, 23,  24,  25,  26,  27,  28,  29,  30,
                                   31, 35, 37, 110, 111, 112, 113, 114, 120, 121, 122};
constexpr int set_only_callbacks[] = {123, 124, 125, 126, 127, 129};

// Every gettable scalar, read as raw bytes, so one snapshot compares all of them at once.
struct Scalars {
  std::vector<double> doubles;
  std::vector<int> ints;
};

Scalars snapshot(vr_ctx *ctx) {
  Scalars s;
  for (int id : scalar_doubles) s.doubles.push_back(get_double(ctx, id));
  for (int id : scalar_ints) s.ints.push_back(get_int(ctx, id));
  return s;
}

std::string set_message(int id) {
  return "Bad argument to vr_object_set " + std::to_string(id) + "\n";
}
std::string get_message(int id) {
  return "Bad argument to vr_object_get " + std::to_string(id) + "\n";
}

int hook_calls = 0;
void count_hook(vr_ctx *) {
  ++hook_calls;
}

}  // namespace

TEST(Attributes, EachScalarRoundTripsThroughItsOwnFieldOnly) {
  // Setting one attribute changes exactly that attribute among all scalars: no two identifiers
  // share a field, and no row reads or writes the wrong type.
  for (std::size_t k = 0; k < std::size(scalar_doubles); ++k) {
    const int id = scalar_doubles[k];
    Ctx ctx = new_ctx();
    Scalars before = snapshot(ctx.get());
    const double value = before.doubles[k] + 0.5 + id;
    vr_object_set(ctx.get(), id, value, 0);
    Scalars after = snapshot(ctx.get());
    before.doubles[k] = value;
    EXPECT_EQ(after.doubles, before.doubles) << "id " << id;
    EXPECT_EQ(after.ints, before.ints) << "id " << id;
  }
  for (std::size_t k = 0; k < std::size(scalar_ints); ++k) {
    const int id = scalar_ints[k];
    Ctx ctx = new_ctx();
    Scalars before = snapshot(ctx.get());
    const int changed = before.ints[k] + 7;
    vr_object_set(ctx.get(), id, changed, 0);
    Scalars after = snapshot(ctx.get());
    before.ints[k] = changed;
    EXPECT_EQ(after.ints, before.ints) << "id " << id;
    EXPECT_EQ(after.doubles, before.doubles) << "id " << id;
  }
}

TEST(Attributes, PointsAreCopiedAndComponentsAddressThem) {
  Ctx ctx = new_ctx();
  for (int id : set_get_points) {
    const dpt p = {id + 0.25, id + 0.5, id + 0.75};
    vr_object_set(ctx.get(), id, p, 0);
    EXPECT_EQ(get_point(ctx.get(), id), (Point{id + 0.25, id + 0.5, id + 0.75})) << "id " << id;
  }
  // The _X, _Y, _Z rows are the coordinates of their point.
  const struct {
    int point, first_component;
  } parts[] = {{VR_SCREEN_LEFT_EYE, VR_SCREEN_LEFT_EYE_X},
               {VR_SCREEN_RIGHT_EYE, VR_SCREEN_RIGHT_EYE_X},
               {VR_MOUSE_TIP_OFFSET, VR_MOUSE_TIP_OFFSET_X}};
  for (const auto &part : parts) {
    vr_object_set(ctx.get(), part.first_component, 1.0, part.first_component + 1, 2.0,
                  part.first_component + 2, 3.0, 0);
    EXPECT_EQ(get_point(ctx.get(), part.point), (Point{1.0, 2.0, 3.0}));
    EXPECT_EQ(get_double(ctx.get(), part.first_component + 2), 3.0);
  }
  EXPECT_EQ(ctx->screen_left_eye[1], 2.0);
  EXPECT_EQ(ctx->mouse_tip_offset[2], 3.0);
}

TEST(Attributes, BlocksHandOutTheContextsOwnStorage) {
  Ctx ctx = new_ctx();
  const struct {
    int id;
    const void *field;
  } blocks[] = {{VR_HEAD_TO_DIG, ctx->head_to_dig},
                {VR_DIG_TO_PLATE, ctx->dig_to_plate},
                {VR_PLATE_TO_GODS_EYE, ctx->plate_to_gods_eye},
                {VR_PLATE_TO_COEXISTENCE, ctx->plate_to_coexistence},
                {VR_COEXISTENCE_TO_PLATE, ctx->coexistence_to_plate},
                {VR_WORLD_TO_COEXISTENCE, ctx->world_to_coexistence},
                {VR_COEXISTENCE_TO_WORLD, ctx->coexistence_to_world},
                {VR_HEAD_VIEW_BASE, ctx->head_view_base},
                {VR_CORNER_DIR_MATRIX, ctx->corner_dir_matrix},
                {VR_GODS_EYE_TO_DIG, ctx->gods_eye_to_dig},
                {VR_COEXISTENCE_TO_DIG, ctx->coexistence_to_dig},
                {VR_MOUSE_TO_DIG, ctx->mouse_to_dig},
                {VR_HEAD_TO_WORLD, ctx->head_to_world},
                {VR_MOUSE_TO_WORLD, ctx->mouse_to_world},
                {VR_LEFT_VIEW, ctx->left_view},
                {VR_RIGHT_VIEW, ctx->right_view},
                {VR_LEFT_HEAD_VIEW, ctx->left_head_view},
                {VR_RIGHT_HEAD_VIEW, ctx->right_head_view},
                {VR_WINDOW_CORNER_DIRS, ctx->window_corner_dirs},
                {VR_MOUSE_TO_PLATE, ctx->mouse_to_plate},
                {VR_CYBERMAN_STATE, &ctx->cyberman_state},
                {VR_PWORLD_TIME, &ctx->pworld_time_now}};
  ASSERT_EQ(std::size(blocks), std::size(get_only_blocks));
  for (const auto &b : blocks) {
    void *address = nullptr;
    vr_object_get(ctx.get(), b.id, &address);
    EXPECT_EQ(address, b.field) << "id " << b.id;
  }

  double(*view)[4] = get_matrix(ctx.get(), VR_LEFT_VIEW);
  view[2][3] = 7.5;
  EXPECT_EQ(get_matrix(ctx.get(), VR_LEFT_VIEW), view);
  EXPECT_EQ(get_matrix(ctx.get(), VR_LEFT_VIEW)[2][3], 7.5);

  // The time block is the four consecutive doubles, now first.
  double *time = nullptr;
  vr_object_get(ctx.get(), VR_PWORLD_TIME, &time);
  EXPECT_EQ(time[1], -0.3);
  EXPECT_EQ(time[2], 0.3);
}

TEST(Attributes, SetRaisesTheChangedFlagEvenForAnEmptyList) {
  Ctx ctx = new_ctx();
  ctx->attributes_changed = 0;
  vr_object_set(ctx.get(), 0);
  EXPECT_EQ(ctx->attributes_changed, 1);
}

TEST(Attributes, RejectedSetIdentifiersTakeNoValue) {
  Ctx ctx = new_ctx();
  // A get-only identifier: message, and the item after it is read as the next identifier.
  testing::internal::CaptureStderr();
  vr_object_set(ctx.get(), VR_LEFT_VIEW, VR_STEREO, 1, 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), set_message(110));
  EXPECT_EQ(ctx->stereo, 1);

  testing::internal::CaptureStderr();
  vr_object_set(ctx.get(), 128, 0);
  vr_object_set(ctx.get(), 130, -7, VR_GAZE_MODE, 4, 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            set_message(128) + set_message(130) + set_message(-7));
  EXPECT_EQ(ctx->gaze_mode, 4);

  // Every get-only row is refused by set.
  testing::internal::CaptureStderr();
  std::string expected;
  for (int id : get_only_blocks) {
    vr_object_set(ctx.get(), id, 0);
    expected += set_message(id);
  }
  for (int id : get_only_points) {
    vr_object_set(ctx.get(), id, 0);
    expected += set_message(id);
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(), expected);
}

TEST(Attributes, NullPointIsRefusedWithoutChange) {
  Ctx ctx = new_ctx();
  const Point before = get_point(ctx.get(), VR_SCREEN_LEFT_EYE);
  testing::internal::CaptureStderr();
  vr_object_set(ctx.get(), VR_SCREEN_LEFT_EYE, static_cast<const double *>(nullptr), VR_STEREO, 1,
                0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), set_message(VR_SCREEN_LEFT_EYE));
  EXPECT_EQ(get_point(ctx.get(), VR_SCREEN_LEFT_EYE), before);
  EXPECT_EQ(ctx->stereo, 1);
}

TEST(Attributes, GetRejectsWithoutTouchingTheCallersStorage) {
  Ctx ctx = new_ctx();
  // Identifiers spread over the whole int range, the edges, and the neighbourhood of the table.
  std::vector<int> ids = {INT_MIN, INT_MIN + 1, -1,   0,           128,    129,
                          130,     131,         1000, INT_MAX - 1, INT_MAX};
  for (long long id = INT_MIN; id <= INT_MAX; id += 1 << 22) ids.push_back(static_cast<int>(id));
  for (int id : set_only_callbacks) ids.push_back(id);

  std::string expected;
  testing::internal::CaptureStderr();
  for (int id : ids) {
    unsigned char storage[64];
    std::memset(storage, 0xA5, sizeof storage);
    vr_object_get(ctx.get(), id, storage);
    for (unsigned char byte : storage) ASSERT_EQ(byte, 0xA5) << "id " << id;
    expected += get_message(id);
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(), expected);

  // Identifier 122 is a block and is accepted; a null destination is refused.
  testing::internal::CaptureStderr();
  double *time = nullptr;
  vr_object_get(ctx.get(), VR_PWORLD_TIME, &time);
  vr_object_get(ctx.get(), VR_STEREO, nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), get_message(VR_STEREO));
  EXPECT_NE(time, nullptr);
}

TEST(Attributes, EveryIdentifierUpTo122IsReadable) {
  Ctx ctx = new_ctx();
  testing::internal::CaptureStderr();
  for (int id = 1; id <= VR_PWORLD_TIME; ++id) {
    alignas(double) unsigned char storage[64] = {};
    vr_object_get(ctx.get(), id, storage);
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(Attributes, SetSweepOfTheIntRangeRejectsCleanly) {
  Ctx ctx = new_ctx();
  testing::internal::CaptureStderr();
  std::string expected;
  int count = 0;
  for (long long id = INT_MIN; id <= INT_MAX; id += 1 << 22) {
    if (id >= 0 && id <= 129) continue;  // 0 would end the list
    vr_object_set(ctx.get(), static_cast<int>(id), 0);
    expected += set_message(static_cast<int>(id));
    ++count;
  }
  vr_object_set(ctx.get(), INT_MAX, INT_MIN, 0);
  expected += set_message(INT_MAX) + set_message(INT_MIN);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), expected);
  EXPECT_GT(count, 1000);
}

TEST(Attributes, CallbacksAreSetOnly) {
  Ctx ctx = new_ctx();
  hook_calls = 0;
  vr_object_set(ctx.get(), VR_EYE_HOOK_FN, &count_hook, 0);
  EXPECT_EQ(hook_calls, 0);
  vr_object_set(ctx.get(), VR_MONO_EYE, 2, 0);
  EXPECT_EQ(hook_calls, 1);
  vr_object_set(ctx.get(), VR_MOUSE_EVENT_FN, &count_hook, VR_MOUSE_REMOVE_FN, &count_hook,
                VR_GLASSES_EVENT_FN, &count_hook, VR_GLASSES_REMOVE_FN, &count_hook,
                VR_EYE_HOOK_REMOVE_FN, &count_hook, 0);
  EXPECT_EQ(ctx->mouse_event_fn, &count_hook);
  EXPECT_EQ(ctx->mouse_remove_fn, &count_hook);
  EXPECT_EQ(ctx->glasses_event_fn, &count_hook);
  EXPECT_EQ(ctx->glasses_remove_fn, &count_hook);
  EXPECT_EQ(ctx->eye_hook_remove_fn, &count_hook);
  vr_object_set(ctx.get(), VR_MOUSE_EVENT_FN, static_cast<vr_fn>(nullptr), 0);
  EXPECT_EQ(ctx->mouse_event_fn, nullptr);
}

TEST(Attributes, CacheRowsRecomputeTheEyesOncePerItem) {
  Ctx ctx = new_ctx();
  hook_calls = 0;
  vr_object_set(ctx.get(), VR_EYE_HOOK_FN, &count_hook, 0);
  vr_object_set(ctx.get(), VR_STEREO, 0, 0);  // unchanged value still recomputes
  EXPECT_EQ(hook_calls, 1);
  const dpt p = {1.0, 2.0, 3.0};
  vr_object_set(ctx.get(), VR_STEREO, 1, VR_MONO_EYE, 1, VR_LEFT_EYE_OFFSET, p, VR_RIGHT_EYE_OFFSET,
                p, VR_INTEROCULAR, 6.0, VR_LEFT_EYE_OFFSET_X, -3.0, VR_RIGHT_EYE_OFFSET_X, 3.0,
                VR_SCREEN_LEFT_EYE, p, VR_SCREEN_LEFT_EYE_X, 1.0, VR_SCREEN_LEFT_EYE_Y, 1.0,
                VR_SCREEN_LEFT_EYE_Z, 1.0, VR_SCREEN_RIGHT_EYE, p, VR_SCREEN_RIGHT_EYE_X, 1.0,
                VR_SCREEN_RIGHT_EYE_Y, 1.0, VR_SCREEN_RIGHT_EYE_Z, 1.0, VR_EYE_POS_MODE, 2, 0);
  EXPECT_EQ(hook_calls, 1 + 16);
  // Rows without the side effect leave the eyes alone.
  vr_object_set(ctx.get(), VR_HITHER, -4.0, VR_QUANTIZE_FORCE, 1, VR_WINDOW_X, 5.0, 0);
  EXPECT_EQ(hook_calls, 17);
}

TEST(Attributes, EyeOffsetRowsKeepTheScreenEyesInStep) {
  Ctx ctx = new_ctx();
  vr_object_set(ctx.get(), VR_LEFT_EYE_OFFSET_X, 2.0, 0);
  EXPECT_EQ(ctx->left_eye_offset[0], -2.0);
  EXPECT_NEAR(ctx->screen_left_eye[0], 19.05, 1e-12);
  EXPECT_NEAR(get_double(ctx.get(), VR_INTEROCULAR), 5.3, 1e-12);

  vr_object_set(ctx.get(), VR_RIGHT_EYE_OFFSET_X, -4.0, 0);
  EXPECT_EQ(get_double(ctx.get(), VR_RIGHT_EYE_OFFSET_X), 4.0);
  EXPECT_NEAR(ctx->screen_right_eye[0], 24.35 + 0.7, 1e-12);

  Ctx fresh = new_ctx();
  const double mid = (fresh->screen_left_eye[0] + fresh->screen_right_eye[0]) / 2.0;
  vr_object_set(fresh.get(), VR_INTEROCULAR, 8.0, 0);
  EXPECT_EQ(fresh->left_eye_offset[0], -4.0);
  EXPECT_EQ(fresh->right_eye_offset[0], 4.0);
  EXPECT_NEAR(fresh->screen_left_eye[0], 17.05, 1e-12);
  EXPECT_NEAR(fresh->screen_right_eye[0], 25.05, 1e-12);
  EXPECT_NEAR((fresh->screen_left_eye[0] + fresh->screen_right_eye[0]) / 2.0, mid, 1e-12);
  // The cached mono eye follows at once.
  EXPECT_NEAR(fresh->left_eye[0], mid, 1e-12);

  // Offsets are kept in single precision; the interocular read is the plain difference.
  vr_object_set(fresh.get(), VR_INTEROCULAR, 6.6, 0);
  EXPECT_EQ(fresh->right_eye_offset[0], 6.599999904632568 / 2.0);
  EXPECT_EQ(get_double(fresh.get(), VR_INTEROCULAR), 6.599999904632568);
  vr_object_set(fresh.get(), VR_LEFT_EYE_OFFSET_X, -3.3, 0);
  EXPECT_EQ(fresh->left_eye_offset[0], static_cast<double>(-3.3f));

  // Values beyond float range become infinite offsets, with no undefined conversion.
  vr_object_set(fresh.get(), VR_RIGHT_EYE_OFFSET_X, 1e300, 0);
  EXPECT_TRUE(std::isinf(fresh->right_eye_offset[0]));
}

TEST(Attributes, GeometryOverridesRaiseOnlyTheirOwnFlags) {
  Ctx ctx = new_ctx();
  vr_object_set(ctx.get(), VR_GLASSES_RX_GEOM_0, 1.5, VR_GLASSES_RX_GEOM_1, 2.5,
                VR_GLASSES_RX_GEOM_2, 3.5, VR_GLASSES_RX_GEOM_3, 4.5, 0);
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(ctx->glasses_rx_geom[k].value, 1.5 + k);
    EXPECT_EQ(ctx->glasses_rx_geom[k].set, 1);
    EXPECT_EQ(ctx->mouse_rx_geom[k].set, 0);
    EXPECT_EQ(ctx->tx_geom[k].set, 0);
    EXPECT_EQ(get_double(ctx.get(), VR_GLASSES_RX_GEOM_0 + k), 1.5 + k);
  }
  vr_object_set(ctx.get(), VR_MOUSE_RX_GEOM_2, 9.0, VR_TX_GEOM_3, 0.0, 0);
  EXPECT_EQ(ctx->mouse_rx_geom[2].value, 9.0);
  EXPECT_EQ(ctx->mouse_rx_geom[2].set, 1);
  EXPECT_EQ(ctx->mouse_rx_geom[1].set, 0);
  EXPECT_EQ(ctx->tx_geom[3].set, 1);  // a zero value still counts as given
  EXPECT_EQ(get_double(ctx.get(), VR_TX_GEOM_3), 0.0);
}

// vr.h describes each fixed identifier as "type unit [frame]; access; default; effect." The
// type, unit, access and eye or coexistence effect it gives must be what the attribute table
// (vr_attributes.def) does, and the default what a new context holds: the header is what
// applications read.
TEST(Attributes, TheHeaderDescribesEachFixedIdentifierAsTheTableHoldsIt) {
  std::ifstream file(std::string(VR_SOURCE_DIR) + "/vrlib/include/vrlib/vr.h");
  std::stringstream read;
  read << file.rdbuf();
  const std::string header = read.str();
  const auto trim = [](std::string s) {
    const auto first = s.find_first_not_of(" \n");
    if (first == std::string::npos) return std::string();
    return s.substr(first, s.find_last_not_of(" \n") - first + 1);
  };

  const Ctx fresh = new_ctx();
  const auto parse_number = [](const std::string &t, double *v) {
    char *stop = nullptr;
    *v = std::strtod(t.c_str(), &stop);
    return !t.empty() && *stop == '\0';
  };
  const auto near = [](double a, double b) {
    return std::fabs(a - b) <= 1e-9 * std::fmax(1.0, std::fabs(b));
  };
  int checked = 0, defaults_checked = 0;
  for (std::size_t end = header.find("*/"); end != std::string::npos;
       end = header.find("*/", end + 2)) {
    // A comment standing right before "VR_NAME = number," of the fixed block.
    std::size_t at = header.find_first_not_of(" \n", end + 2);
    const std::size_t eq = header.find(" = ", at);
    const std::size_t comma = header.find(',', eq);
    if (at == std::string::npos || eq == std::string::npos || comma == std::string::npos ||
        header.compare(at, 3, "VR_") != 0 || header.find_first_of(" \n", at) != eq)
      continue;
    const std::string number = header.substr(eq + 3, comma - eq - 3);
    if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) continue;
    const int id = std::stoi(number);
    if (id < 1 || id > VR_EYE_HOOK_REMOVE_FN) continue;
    const std::size_t begin = header.rfind("/*", end) + 2;
    std::string text;
    for (const char c : header.substr(begin, end - begin)) {
      if (c == '\n') continue;
      if (c == '*' && !text.empty() && text.back() == ' ') continue;  // a continued line's star
      if (c == ' ' && !text.empty() && text.back() == ' ') continue;
      text += c;
    }
    std::vector<std::string> fields;
    std::stringstream cut(text);
    for (std::string f; std::getline(cut, f, ';');) fields.push_back(trim(f));
    // Groups ("49..60: double cm") and blocks ("4 dpt") are described in words.
    if (fields.size() < 3 || std::isdigit(static_cast<unsigned char>(fields[0][0]))) continue;
    const std::string name = vr_attr_name(id);
    SCOPED_TRACE(name + ": " + text);

    std::stringstream head(fields[0]);
    std::string type, unit;
    head >> type >> unit;
    if (!unit.empty() && unit[0] == '[') unit.clear();
    vr_attr_info info{};
    ASSERT_TRUE(vr_attr_info_of(id, &info));
    EXPECT_EQ(unit, info.unit);
    const vr_attr_type held = vr_attr_type_of(id);
    EXPECT_EQ(held, type == "double" ? VR_TYPE_DOUBLE
                    : type == "int"  ? VR_TYPE_INT
                    : type == "dpt"  ? VR_TYPE_POINT
                    : type == "dmat" ? VR_TYPE_MATRIX
                                     : VR_TYPE_OTHER);

    const std::string access = fields[1];
    EXPECT_EQ(info.gettable, access == "SG" || access == "G" || access == "G M");
    EXPECT_EQ(info.list_settable, access == "SG" || access == "S");
    EXPECT_EQ(info.typed_settable, access == "G M");

    const std::string effect = fields.size() > 3 ? fields[3] : "";
    EXPECT_EQ(info.caches_eyes, effect.rfind("cache", 0) == 0);
    EXPECT_EQ(info.consistifies, effect.rfind("consistify", 0) == 0);

    // A default written as a number or "(x, y, z)" is what a new context holds; the ones
    // written in words ("computed", "identity", "pi/2") are left to the tests of their own.
    std::string initial = fields[2].substr(0, fields[2].find(". "));
    if (!initial.empty() && initial.back() == '.') initial.pop_back();
    double v = 0;
    if ((held == VR_TYPE_DOUBLE || held == VR_TYPE_INT) && parse_number(initial, &v)) {
      const double now =
          held == VR_TYPE_INT ? get_int(fresh.get(), id) : get_double(fresh.get(), id);
      EXPECT_TRUE(near(now, v)) << "a new context holds " << now;
      ++defaults_checked;
    }
    if (held == VR_TYPE_POINT && initial.size() > 2 && initial.front() == '(' &&
        initial.back() == ')') {
      std::stringstream xyz(initial.substr(1, initial.size() - 2));
      const Point now = get_point(fresh.get(), id);
      for (int axis = 0; axis < 3; ++axis) {
        std::string item;
        std::getline(xyz, item, ',');
        ASSERT_TRUE(parse_number(trim(item), &v)) << item;
        EXPECT_TRUE(near(now[axis], v)) << "a new context holds " << now[axis];
      }
      ++defaults_checked;
    }
    ++checked;
  }
  EXPECT_GE(defaults_checked, 80);
  // Every fixed identifier but the grouped geometry overrides and the blocks is described.
  EXPECT_GE(checked, 110);
}
