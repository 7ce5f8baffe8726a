// Set-up files as untrusted input and as a faithful record: names that are not regular files are
// refused at once (a FIFO never blocks), a save cannot be redirected by a planted link, every
// value a setter takes survives a save and a load bit for bit, a file that sets the screen places
// what follows the screen, and the serial units' delay is kept apart from the network sender's.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cfloat>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <string>
#include <vector>

#include "vr_config.h"
#include "setup_file_fixture.h"
#include "vrlib/vr.h"
#include "ctx_compare.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

using vr_test::Ctx;

class SetupFiles : public vr_test::SetupFileTest {
 protected:
  SetupFiles() : SetupFileTest("vrsetup") {}
  // Loads quietly; the result and the message.
  static int load(vr_ctx *ctx, const std::string &p) {
    testing::internal::CaptureStderr();
    const int r = vr_config_load(ctx, p.c_str());
    testing::internal::GetCapturedStderr();
    return r;
  }
};

using vr_test::bytes_of;
using vr_test::expect_same_views;

bool same_bits(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

}  // namespace

// ---- Names that are not regular files ---------------------------------------------------------

TEST_F(SetupFiles, AFifoDeviceSocketFolderOrLinkIsRefusedAtOnceWithItsName) {
  const std::string fifo = path("fifo.toml");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string socket_path = path("socket.toml");
  const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(sock, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(socket_path.size(), sizeof address.sun_path);
  std::strcpy(address.sun_path, socket_path.c_str());
  ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
  const std::string real = write("real.toml", "[screen]\nwidth_cm = 40.0\n");
  const std::string link = path("link.toml");
  ASSERT_EQ(symlink(real.c_str(), link.c_str()), 0);
  const struct {
    std::string path;
    const char *why;
  } cases[] = {
      {fifo, "a FIFO, not a regular file"},
      {"/dev/null", "a device, not a regular file"},
      {socket_path, "a socket, not a regular file"},
      {dir_.string(), "a folder, not a regular file"},
      {link, "a symbolic link (set-up files are opened without following links)"},
  };
  for (const auto &c : cases) {
    Ctx ctx(vr_ctx_create());
    const auto before = bytes_of(ctx.get());
    // No writer ever opens the FIFO: a reader that waited would never come back, so the load
    // runs apart and is given a second.
    auto done = std::async(std::launch::async, [&] { return load(ctx.get(), c.path); });
    const bool finished = done.wait_for(std::chrono::seconds(1)) == std::future_status::ready;
    if (!finished) {
      const int writer = open(c.path.c_str(), O_WRONLY | O_NONBLOCK);  // lets a stuck open return
      done.wait();
      if (writer >= 0) close(writer);
    }
    ASSERT_TRUE(finished) << c.path << " blocked the load";
    EXPECT_EQ(done.get(), 0) << c.path;
    EXPECT_EQ(std::string(vr_config_message()), c.path + ": cannot read the set-up file: " + c.why);
    EXPECT_EQ(bytes_of(ctx.get()), before) << c.path;
  }
  close(sock);
  // The file behind the link is read when named itself.
  Ctx ctx(vr_ctx_create());
  EXPECT_EQ(load(ctx.get(), real), 1) << vr_config_message();
}

TEST_F(SetupFiles, VrlibConfigNamingAFifoGivesTheDefaultsAndTheMessageWithinMilliseconds) {
  Ctx plain(vr_ctx_create());
  const auto defaults = bytes_of(plain.get());
  const std::string fifo = path("setup.fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  setenv("VRLIB_CONFIG", fifo.c_str(), 1);
  std::string printed;
  const auto start = Clock::now();
  auto made = std::async(std::launch::async, [&] {
    testing::internal::CaptureStderr();
    vr_ctx *ctx = vr_ctx_create();
    printed = testing::internal::GetCapturedStderr();
    return ctx;
  });
  if (made.wait_for(std::chrono::seconds(2)) != std::future_status::ready) {
    const int writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    made.wait();
    if (writer >= 0) close(writer);
    std::free(made.get());
    FAIL() << "vr_ctx_create waited on the FIFO";
  }
  Ctx ctx(made.get());
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  ASSERT_NE(ctx, nullptr);
  EXPECT_LT(ms, 100.0);
  EXPECT_EQ(bytes_of(ctx.get()), defaults);
  EXPECT_EQ(printed, fifo + ": cannot read the set-up file: a FIFO, not a regular file\n" +
                         "VRLIB_CONFIG: the set-up in " + fifo +
                         " was not applied; the defaults stay\n");
}

// ---- Saving ---------------------------------------------------------------------------------

TEST_F(SetupFiles, LinksPlantedAtTemporaryNamesOrTheTargetAreNeverWrittenThrough) {
  const std::string target = path("setup.toml");
  const std::string victim = write("victim.txt", "not yours\n");
  // Links at the name the save once used, and at the names around it.
  const long pid = static_cast<long>(getpid());
  for (const std::string &suffix : {".tmp" + std::to_string(pid), ".tmp" + std::to_string(pid + 1),
                                    std::string(".tmp"), std::string(".new"), std::string("~")})
    ASSERT_EQ(symlink(victim.c_str(), (target + suffix).c_str()), 0) << suffix;
  const mode_t old_mask = umask(027);
  Ctx ctx(vr_ctx_create());
  ASSERT_EQ(vr_set_double(ctx.get(), VR_SCREEN_WIDTH_CM, 44.5), VR_OK);
  const int saved = vr_config_save(ctx.get(), target.c_str());
  umask(old_mask);
  ASSERT_EQ(saved, 1) << vr_config_message();
  EXPECT_EQ(read(victim), "not yours\n");
  struct stat st {};
  ASSERT_EQ(lstat(target.c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0640u);  // 0666 less the umask
  Ctx loaded(vr_ctx_create());
  ASSERT_EQ(load(loaded.get(), target), 1) << vr_config_message();
  double width = 0;
  vr_get_double(loaded.get(), VR_SCREEN_WIDTH_CM, &width);
  EXPECT_EQ(width, 44.5);
  // The planted links are still there, still pointing where they did: nothing was renamed
  // over them or through them, and no temporary file is left behind.
  std::size_t entries = 0;
  for (const auto &e : fs::directory_iterator(dir_)) {
    ++entries;
    if (e.path() != target && e.path() != victim) {
      EXPECT_TRUE(fs::is_symlink(e.symlink_status())) << e.path();
    }
  }
  EXPECT_EQ(entries, 7u);

  // A link at the target itself is replaced by the new file, not followed.
  const std::string linked = path("linked.toml");
  ASSERT_EQ(symlink(victim.c_str(), linked.c_str()), 0);
  ASSERT_EQ(vr_config_save(ctx.get(), linked.c_str()), 1) << vr_config_message();
  EXPECT_EQ(read(victim), "not yours\n");
  EXPECT_FALSE(fs::is_symlink(fs::symlink_status(linked)));
}

// ---- Numbers --------------------------------------------------------------------------------

TEST_F(SetupFiles, EveryValueTheSettersTakeIsSavedAndReadBackBitForBit) {
  Ctx original(vr_ctx_create());
  vr_ctx *c = original.get();
  const double min_subnormal = std::numeric_limits<double>::denorm_min();
  // Values a file refused before, though the setters took them, and numbers that text loses
  // easily: -0.0, the smallest subnormals, the largest doubles.
  ASSERT_EQ(vr_set_int(c, VR_STEREO, 2), VR_OK);
  ASSERT_EQ(vr_set_int(c, VR_GLASSES_SOURCE, 99), VR_OK);
  ASSERT_EQ(vr_set_int(c, VR_TRACKING_AUX, INT_MIN), VR_OK);
  ASSERT_EQ(vr_set_int(c, VR_EVENT_FILTER_LENGTH, INT_MAX), VR_OK);
  ASSERT_EQ(vr_set_double(c, VR_SCREEN_WIDTH_CM, -5.25), VR_OK);
  ASSERT_EQ(vr_set_double(c, VR_PREDICT_LEAD, 5.0), VR_OK);
  ASSERT_EQ(vr_set_double(c, VR_WINDOW_X, -0.0), VR_OK);
  ASSERT_EQ(vr_set_double(c, VR_CRT_GLASS_THICKNESS, min_subnormal), VR_OK);
  ASSERT_EQ(vr_set_double(c, VR_CRT_RADIUS, -min_subnormal), VR_OK);
  ASSERT_EQ(vr_set_double(c, VR_RAW_LIMIT, DBL_MAX), VR_OK);
  ASSERT_EQ(vr_set_double(c, VR_PREDICT_RAMP_START, -DBL_MAX), VR_OK);
  ASSERT_EQ(vr_set_double(c, VR_PREDICT_RAMP_END, DBL_MIN), VR_OK);
  ASSERT_EQ(vr_set_double(c, VR_FIELD_OF_VIEW, 0.1 + 0.2), VR_OK);
  ASSERT_EQ(vr_set_double(c, VR_NET_CAMERA_TILT, 4.0), VR_OK);
  ASSERT_EQ(vr_set_double(c, VR_DISPLAY_LATENCY, 20.0), VR_OK);
  ASSERT_EQ(vr_set_double(c, VR_NET_SILENCE_TIMEOUT, 1e6), VR_OK);
  ASSERT_EQ(vr_set_double(c, VR_NET_SENDER_LATENCY, 0.0), VR_OK);
  ASSERT_EQ(vr_set_double(c, VR_VRPN_CM_PER_UNIT, 1e-300), VR_OK);
  ASSERT_EQ(vr_set_double(c, VR_HEAD_SPEED_LIMIT, min_subnormal), VR_OK);
  const dpt eye = {-0.0, 2 * min_subnormal, 123456789.125}, tip = {1e300, -0.0, 300.0};
  ASSERT_EQ(vr_set_point(c, VR_SCREEN_LEFT_EYE, eye), VR_OK);
  ASSERT_EQ(vr_set_point(c, VR_MOUSE_TIP_OFFSET, tip), VR_OK);
  ASSERT_EQ(vr_set_point(c, VR_NET_CAMERA_OFFSET, tip), VR_OK);
  vr_window_comp(c);  // as a load does

  const std::string first = path("first.toml");
  ASSERT_EQ(vr_config_save(c, first.c_str()), 1) << vr_config_message();
  const std::string text = read(first);
  EXPECT_NE(text.find("x_pixels = -0.0\n"), std::string::npos) << text;
  EXPECT_NE(text.find("crt_glass_thickness = 5e-324\n"), std::string::npos) << text;
  EXPECT_NE(text.find("stereo = 2\n"), std::string::npos) << text;
  Ctx loaded(vr_ctx_create());
  ASSERT_EQ(load(loaded.get(), first), 1) << vr_config_message();
  EXPECT_EQ(bytes_of(c), bytes_of(loaded.get()));
  double x = 1.0;
  vr_get_double(loaded.get(), VR_WINDOW_X, &x);
  EXPECT_TRUE(same_bits(x, -0.0));
  const std::string again = path("again.toml");
  ASSERT_EQ(vr_config_save(loaded.get(), again.c_str()), 1);
  EXPECT_EQ(read(again), text);

  // Written by hand: -0.0 stays negative, a whole number is taken as a double, and the integer
  // -0 (which has no sign) gives +0.
  const std::string hand =
      write("hand.toml", "[window]\nx_pixels = -0.0\ny_pixels = -0\n[screen]\nwidth_cm = 4e-324\n");
  Ctx h(vr_ctx_create());
  ASSERT_EQ(load(h.get(), hand), 1) << vr_config_message();
  double y = 0.0, w = 0.0;
  vr_get_double(h.get(), VR_WINDOW_X, &x);
  vr_get_double(h.get(), VR_WINDOW_Y, &y);
  vr_get_double(h.get(), VR_SCREEN_WIDTH_CM, &w);
  EXPECT_TRUE(same_bits(x, -0.0));
  EXPECT_TRUE(same_bits(y, 0.0));
  EXPECT_TRUE(same_bits(w, min_subnormal));
}

TEST_F(SetupFiles, AFileRefusesExactlyWhatTheSetterRefuses) {
  // Every number key against its setter, at the edges of what the setter takes.
  const struct {
    const char *key;
    int id;
    double value;
  } edges[] = {
      {"screen.width_cm", VR_SCREEN_WIDTH_CM, 0.0},
      {"screen.width_cm", VR_SCREEN_WIDTH_CM, -1e-300},
      {"window.height_pixels", VR_WINDOW_HEIGHT, 0.0},
      {"display_time.latency", VR_DISPLAY_LATENCY, -1e-300},
      {"display_time.latency", VR_DISPLAY_LATENCY, 0.0},
      {"display_time.head_speed_limit", VR_HEAD_SPEED_LIMIT, 0.0},
      {"display_time.raw_fit_slots", VR_RAW_FIT_SLOTS, 17},
      {"display_time.raw_fit_slots", VR_RAW_FIT_SLOTS, 16},
      {"network.silence_timeout", VR_NET_SILENCE_TIMEOUT, 0.0},
      {"network.sender_latency", VR_NET_SENDER_LATENCY, -0.5},
      {"network.sender_latency", VR_NET_SENDER_LATENCY, 7.5},
      {"network.map_x", VR_NET_MAP_X, -3},
      {"network.map_x", VR_NET_MAP_X, 0},
      {"network.map_yaw", VR_NET_MAP_YAW, 3},
      {"vrpn.head_sensor", VR_VRPN_HEAD_SENSOR, -1},
      {"vrpn.cm_per_unit", VR_VRPN_CM_PER_UNIT, 0.0},
      {"view.mono_eye", VR_MONO_EYE, -7},
      {"prediction.lead", VR_PREDICT_LEAD, -1e300},
      {"eyes.interocular", VR_INTEROCULAR, -3e38},
  };
  for (const auto &e : edges) {
    const bool whole = vr_attr_type_of(e.id) == VR_TYPE_INT;
    Ctx set(vr_ctx_create());
    const vr_result by_setter = whole ? vr_set_int(set.get(), e.id, static_cast<int>(e.value))
                                      : vr_set_double(set.get(), e.id, e.value);
    const std::string key = e.key;
    const std::string dot = key.substr(0, key.find('.'));
    char number[64];
    std::snprintf(number, sizeof number, whole ? "%.0f" : "%.17g", e.value);
    std::string value = number;
    if (!whole && value.find_first_of(".e") == std::string::npos) value += ".0";
    const std::string file =
        write("edge.toml", "[" + dot + "]\n" + key.substr(dot.size() + 1) + " = " + value + "\n");
    Ctx loaded(vr_ctx_create());
    EXPECT_EQ(load(loaded.get(), file), by_setter == VR_OK ? 1 : 0)
        << key << " = " << value << ": " << vr_config_message();
    if (by_setter != VR_OK) continue;
    if (whole) {
      int a = 0, b = 1;
      vr_get_int(loaded.get(), e.id, &a);
      vr_get_int(set.get(), e.id, &b);
      EXPECT_EQ(a, b) << key;
    } else {
      double a = 0, b = 1;
      vr_get_double(loaded.get(), e.id, &a);
      vr_get_double(set.get(), e.id, &b);
      EXPECT_TRUE(same_bits(a, b)) << key << ": " << a << " against " << b;
    }
  }
}

TEST_F(SetupFiles, EyeOffsetsBeyondSinglePrecisionAreRefusedByAFileAndCannotBeSaved) {
  // The offsets are kept in single precision: the setter stores a larger number as an infinite
  // offset (as it always has), which a file can neither hold nor bring back.
  const std::string file = write("wide.toml", "[eyes]\ninterocular = 1e39\n");
  Ctx ctx(vr_ctx_create());
  EXPECT_EQ(load(ctx.get(), file), 0);
  EXPECT_EQ(std::string(vr_config_message()),
            file +
                ":2: eyes.interocular: 1e+39 is out of range (-3.40282347e+38 to "
                "3.40282347e+38)");
  ASSERT_EQ(vr_set_double(ctx.get(), VR_INTEROCULAR, 1e39), VR_OK);
  const std::string target = path("wide_saved.toml");
  testing::internal::CaptureStderr();
  EXPECT_EQ(vr_config_save(ctx.get(), target.c_str()), 0);
  testing::internal::GetCapturedStderr();
  EXPECT_NE(std::string(vr_config_message()).find("not written"), std::string::npos);
  EXPECT_FALSE(fs::exists(target));
}

// ---- The screen places what follows it --------------------------------------------------------

TEST_F(SetupFiles, AFileThatSetsTheScreenCentresTheFixedEyesAndTransmitterLikeCreateDisplay) {
  Ctx preset(vr_ctx_create_display(59.8, 33.6, 2560, 1440, VR_DISPLAY_FLAT_PANEL));
  ASSERT_NE(preset, nullptr);
  dpt want_left, want_right;
  dmat want_tx;
  vr_get_point(preset.get(), VR_SCREEN_LEFT_EYE, want_left);
  vr_get_point(preset.get(), VR_SCREEN_RIGHT_EYE, want_right);
  vr_get_matrix(preset.get(), VR_TRACKER_TO_PLATE, want_tx);

  const std::string only = write("panel.toml", "[screen]\nwidth_cm = 59.8\nheight_cm = 33.6\n");
  Ctx ctx(vr_ctx_create());
  ASSERT_EQ(load(ctx.get(), only), 1) << vr_config_message();
  dpt left, right, eye;
  dmat tx;
  vr_get_point(ctx.get(), VR_SCREEN_LEFT_EYE, left);
  vr_get_point(ctx.get(), VR_SCREEN_RIGHT_EYE, right);
  vr_get_matrix(ctx.get(), VR_TRACKER_TO_PLATE, tx);
  EXPECT_EQ(std::memcmp(left, want_left, sizeof left), 0);
  EXPECT_EQ(std::memcmp(right, want_right, sizeof right), 0);
  EXPECT_EQ(std::memcmp(tx, want_tx, sizeof tx), 0);
  EXPECT_DOUBLE_EQ(left[0], 29.9 - 3.3);
  EXPECT_DOUBLE_EQ(left[1], 16.8);
  // The untracked eye (mono, between the two) is in front of the middle: it follows at once.
  vr_get_point(ctx.get(), VR_LEFT_EYE, eye);
  EXPECT_DOUBLE_EQ(eye[0], 29.9);
  EXPECT_DOUBLE_EQ(eye[1], 16.8);

  // What the file places itself stays as it says; only the rest follows the screen.
  const std::string placed =
      write("placed.toml",
            "[screen]\nheight_cm = 33.6\nwidth_cm = 59.8\n[eyes]\nscreen_left = [20.0, 10.0, "
            "50.0]\n[calibration]\ntracker_to_plate = [[1, 0, 0, 0], [0, 1, 0, 0], [0, 0, 1, 0], "
            "[30, 40, 5, 1]]\n");
  Ctx own(vr_ctx_create());
  ASSERT_EQ(load(own.get(), placed), 1) << vr_config_message();
  vr_get_point(own.get(), VR_SCREEN_LEFT_EYE, left);
  vr_get_point(own.get(), VR_SCREEN_RIGHT_EYE, right);
  vr_get_matrix(own.get(), VR_TRACKER_TO_PLATE, tx);
  EXPECT_EQ(left[0], 20.0);
  EXPECT_EQ(left[2], 50.0);
  EXPECT_EQ(std::memcmp(right, want_right, sizeof right), 0);
  EXPECT_EQ(tx[3][0], 30.0);
  EXPECT_EQ(tx[3][1], 40.0);

  // A file without the screen moves nothing that follows the screen.
  const std::string no_screen = write("stereo.toml", "[view]\nstereo = true\n");
  Ctx plain(vr_ctx_create()), other(vr_ctx_create());
  ASSERT_EQ(load(other.get(), no_screen), 1);
  vr_get_point(plain.get(), VR_SCREEN_LEFT_EYE, want_left);
  vr_get_point(other.get(), VR_SCREEN_LEFT_EYE, left);
  EXPECT_EQ(std::memcmp(left, want_left, sizeof left), 0);
}

TEST_F(SetupFiles, ASetUpSavedWholeOrByItsOwnKeysGivesTheSameViewsInAFreshContext) {
  // A set-up made as vrcalib makes one: a file holding the screen, then a measured placement.
  const std::string panel = write("panel.toml",
                                  "[screen]\nwidth_cm = 59.8\nheight_cm = 33.6\n"
                                  "[view]\nstereo = true\n");
  Ctx setup(vr_ctx_create());
  ASSERT_EQ(load(setup.get(), panel), 1) << vr_config_message();
  dmat measured;
  vr_get_matrix(setup.get(), VR_TRACKER_TO_PLATE, measured);
  measured[3][0] += 1.25;
  measured[3][2] -= 0.5;
  ASSERT_EQ(vr_set_matrix(setup.get(), VR_TRACKER_TO_PLATE, measured), VR_OK);

  const std::string whole = path("whole.toml"), own = path("own.toml");
  ASSERT_EQ(vr_config_save(setup.get(), whole.c_str()), 1) << vr_config_message();
  const char *const keys[] = {"screen.width_cm", "screen.height_cm", "view.stereo",
                              "calibration.tracker_to_plate", nullptr};
  ASSERT_EQ(vr_config_save_keys(setup.get(), own.c_str(), keys), 1) << vr_config_message();
  const std::string own_text = read(own);
  EXPECT_EQ(own_text.find("[eyes]"), std::string::npos) << own_text;
  EXPECT_NE(own_text.find("[calibration]"), std::string::npos) << own_text;
  for (const std::string &file : {whole, own}) {
    Ctx fresh(vr_ctx_create());
    ASSERT_EQ(load(fresh.get(), file), 1) << vr_config_message();
    Ctx writer(static_cast<vr_ctx *>(std::malloc(sizeof(vr_ctx))));
    *writer = *setup;
    EXPECT_EQ(bytes_of(fresh.get()), bytes_of(writer.get())) << file;
    expect_same_views(fresh.get(), writer.get());
  }
  // An unknown key name writes nothing.
  const char *const bad[] = {"screen.width_cm", "screen.depth_cm", nullptr};
  const std::string nothing = path("nothing.toml");
  testing::internal::CaptureStderr();
  EXPECT_EQ(vr_config_save_keys(setup.get(), nothing.c_str(), bad), 0);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(std::string(vr_config_message()),
            nothing + ": not written: screen.depth_cm is no set-up key");
  EXPECT_FALSE(fs::exists(nothing));
}

// ---- The serial units' delay and the network sender's latency --------------------------------

TEST_F(SetupFiles, TheOldDelayKeyUnderTheNetworkSourceLoadsWithOneMessageNamingTheNewKey) {
  const std::string webcam =
      write("webcam.toml",
            "[tracking]\nglasses_source = 6\n[display_time]\nenabled = true\n"
            "tracker_delay = 0.02\n");
  Ctx ctx(vr_ctx_create());
  testing::internal::CaptureStderr();
  ASSERT_EQ(vr_config_load(ctx.get(), webcam.c_str()), 1);
  const std::string printed = testing::internal::GetCapturedStderr();
  const std::string message = vr_config_message();
  EXPECT_EQ(message, webcam +
                         ":5: display_time.tracker_delay: applies to the serial units only; the "
                         "network source's latency is network.sender_latency "
                         "(VR_NET_SENDER_LATENCY, still 0.005 s)");
  EXPECT_EQ(printed, message + "\n");
  double delay = 0, latency = 0;
  vr_get_double(ctx.get(), VR_TRACKER_DELAY, &delay);
  vr_get_double(ctx.get(), VR_NET_SENDER_LATENCY, &latency);
  EXPECT_EQ(delay, 0.02);
  EXPECT_EQ(latency, 0.005);

  // The source from the context counts too.
  const std::string delay_only = write("delay.toml", "[display_time]\ntracker_delay = 0.01\n");
  EXPECT_EQ(load(ctx.get(), delay_only), 1);
  EXPECT_NE(std::string(vr_config_message()).find("network.sender_latency"), std::string::npos);
  // No message: a serial source, or a file that sets the sender's latency as well (as every
  // saved file does).
  Ctx serial(vr_ctx_create());
  EXPECT_EQ(load(serial.get(), delay_only), 1);
  EXPECT_STREQ(vr_config_message(), "");
  const std::string both = write("both.toml",
                                 "[tracking]\nglasses_source = 6\n[display_time]\n"
                                 "tracker_delay = 0.01\n[network]\nsender_latency = "
                                 "0.02\n");
  EXPECT_EQ(load(serial.get(), both), 1);
  EXPECT_STREQ(vr_config_message(), "");
  vr_get_double(serial.get(), VR_NET_SENDER_LATENCY, &latency);
  EXPECT_EQ(latency, 0.02);
  const std::string saved = path("saved.toml");
  ASSERT_EQ(vr_config_save(ctx.get(), saved.c_str()), 1);
  Ctx reloaded(vr_ctx_create());
  EXPECT_EQ(load(reloaded.get(), saved), 1);
  EXPECT_STREQ(vr_config_message(), "");
  EXPECT_EQ(bytes_of(reloaded.get()), bytes_of(ctx.get()));
}
