// vrcalib on the simulator, end to end: a tracker placed away from the set-up's numbers is
// calibrated through the real drivers, the set-up file is written, and an application that loads
// it sees the mouse tip and the eyes where they really are.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <numbers>
#include <string>

#include "run.h"
#include "simulated_desk.h"
#include "ctx_compare.h"
#include "temp_dir.h"

namespace {

namespace fs = std::filesystem;
using vrcalib::Vec3;

using vr_test::Ctx;

// Application frames on the desk: time passes, then the views (and tracker readings).
void frames(vrcalib::SimulatedDesk &desk, vr_ctx *ctx, int n) {
  for (int i = 0; i < n; ++i) {
    desk.wait(1.0 / 60.0);
    vr_comp_view(ctx);
  }
}

class Calib : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(tmp_.path().empty()) << "no temporary folder";
    dir_ = tmp_.path();
    config_ = (dir_ / "setup.toml").string();
  }
  // Runs vrcalib; its printed steps come back in `printed`.
  int run(const vrcalib::Options &o, std::string &printed) {
    const std::string log = (dir_ / "out.txt").string();
    std::FILE *out = std::fopen(log.c_str(), "w");
    const int status = vrcalib::run(o, out, stderr);
    std::fclose(out);
    std::FILE *in = std::fopen(log.c_str(), "r");
    printed.clear();
    for (int c; (c = std::fgetc(in)) != EOF;) printed.push_back(static_cast<char>(c));
    std::fclose(in);
    return status;
  }

  // The desk of a run, for checking the result against the truth.
  static vrcalib::DeskSetup desk_of(const vrcalib::Options &o, vrcalib::DeskKind kind) {
    Ctx defaults(vr_ctx_create());
    vrcalib::DeskSetup d;
    d.kind = kind;
    dmat configured;
    vr_get_matrix(defaults.get(), VR_TRACKER_TO_PLATE, configured);
    vrcalib::true_placement(configured, o, d.true_tracker_to_plate);
    return d;
  }

  vr_test::TempDir tmp_{"vrcalib"};  // removed with everything in it after the test
  fs::path dir_;
  std::string config_;
};

double distance(const double *a, const Vec3 &b) {
  return std::hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]);
}

// The worst distance, over a grid covering the screen, between where the tip really is and
// where an application with this context's calibration shows it.
double worst_tip_error(vrcalib::SimulatedDesk &desk, vr_ctx *ctx) {
  double worst = 0.0;
  for (int i = 0; i <= 8; ++i) {
    for (int j = 0; j <= 6; ++j) {
      const Vec3 p = {36.5 * i / 8.0, 25.9 * j / 6.0, 0.0};
      desk.place_mouse_tip(p);
      frames(desk, ctx, 6);
      dpt shown;
      vr_get_point(ctx, VR_MOUSE_TIP_PLATE, shown);
      worst = std::fmax(worst, distance(shown, p));
    }
  }
  return worst;
}

}  // namespace

TEST(CalibPieces, ATouchIsTakenOnlyWhenTheTipHeldStillWhileTheButtonWasDown) {
  vrcalib::TouchRecorder touch(0.3);
  using E = vrcalib::TouchRecorder::Event;
  EXPECT_EQ(touch.feed({5, 5, 5}, false), E::none);
  EXPECT_EQ(touch.feed({1, 2, 3}, true), E::none);
  EXPECT_EQ(touch.feed({1.2, 2, 3}, true), E::none);
  EXPECT_EQ(touch.feed({9, 9, 9}, false), E::accepted);  // the release point is not counted
  EXPECT_NEAR(touch.point()[0], 1.1, 1e-12);
  EXPECT_EQ(touch.feed({1, 2, 3}, true), E::none);
  EXPECT_EQ(touch.feed({1, 2, 3.5}, true), E::none);
  EXPECT_EQ(touch.feed({1, 2, 3}, true), E::none);  // came back, but it moved meanwhile
  EXPECT_EQ(touch.feed({1, 2, 3}, false), E::refused);
  EXPECT_NEAR(touch.motion_cm(), 0.5, 1e-12);

  vrcalib::HoldRecorder hold(0.5);
  EXPECT_FALSE(hold.steady());
  hold.add({0, 0, 60});
  hold.add({0.4, 0, 60});
  EXPECT_TRUE(hold.steady());
  hold.add({3, 0, 60});
  EXPECT_FALSE(hold.steady());

  const auto targets = vrcalib::screen_targets(36.5, 25.9, 2.0);
  ASSERT_EQ(targets.size(), 5u);
  EXPECT_EQ(targets[2].plate, (Vec3{34.5, 23.9, 0.0}));
  EXPECT_EQ(targets[4].plate, (Vec3{18.25, 12.95, 0.0}));
  const auto head = vrcalib::head_positions(36.5, 25.9, 60.0, 15.0);
  EXPECT_EQ(head[1].plate, (Vec3{3.25, 12.95, 60.0}));  // the viewer's left is the plate's -x
}

TEST_F(Calib, UltrasonicTransmitterMovedTenCentimetresAndTurnedFifteenDegrees) {
  vrcalib::Options o;
  o.config_path = config_;
  o.simulate = true;
  o.true_offset_cm = {6.0, -8.0, 0.0};  // 10 cm
  o.true_turn_deg = 15.0;
  o.true_axis = {1.0, 1.0, 0.0};
  o.noise_cm = 0.01;
  o.wobble_touch = 3;  // the third touch drifts 1 cm while the button is down
  std::string printed;
  ASSERT_EQ(run(o, printed), 0) << printed;
  EXPECT_NE(printed.find("Step 5 of 5: touch the centre target"), std::string::npos) << printed;
  EXPECT_NE(printed.find("while the button was down: touch the top right target again"),
            std::string::npos)
      << printed;
  EXPECT_NE(printed.find("1 step(s) were taken again"), std::string::npos);
  EXPECT_NE(printed.find("RMS "), std::string::npos);

  // An application started with the file, on the same desk.
  vrcalib::SimulatedDesk desk(desk_of(o, vrcalib::DeskKind::ultrasonic));
  ASSERT_TRUE(desk.ok());
  Ctx app(vr_ctx_create());
  ASSERT_EQ(vr_config_load(app.get(), config_.c_str()), 1) << vr_config_message();
  desk.use_sources(app.get());
  ASSERT_EQ(vr_init_glasses_and_mouse_6d(app.get(), 1, 1), 1);
  const double calibrated = worst_tip_error(desk, app.get());
  vr_quit(app.get());

  Ctx uncalibrated(vr_ctx_create());
  desk.use_sources(uncalibrated.get());
  ASSERT_EQ(vr_init_glasses_and_mouse_6d(uncalibrated.get(), 1, 1), 1);
  const double default_numbers = worst_tip_error(desk, uncalibrated.get());
  vr_quit(uncalibrated.get());

  std::printf("mouse tip, worst over the screen: %.3f cm calibrated, %.2f cm with the defaults\n",
              calibrated, default_numbers);
  EXPECT_LT(calibrated, 0.2);
  EXPECT_GT(default_numbers, 5.0);
}

TEST_F(Calib, DynaSightTiltedAndOffsetIsPlacedFromHeldHeadPositions) {
  vrcalib::Options o;
  o.config_path = config_;
  o.procedure = vrcalib::Procedure::dynasight;
  o.simulate = true;
  o.true_offset_cm = {4.0, 5.0, -6.0};
  o.true_turn_deg = 12.0;
  o.true_axis = {1.0, 0.3, 0.0};
  o.noise_cm = 0.02;
  o.settings.settle_s = 1.5;
  std::string printed;
  ASSERT_EQ(run(o, printed), 0) << printed;
  EXPECT_NE(printed.find("60.0 cm from the glass"), std::string::npos) << printed;
  EXPECT_NE(printed.find("move your eyes 15.0 cm to the left"), std::string::npos);
  EXPECT_NE(printed.find("move your eyes 15.0 cm up"), std::string::npos);

  const vrcalib::DeskSetup truth = desk_of(o, vrcalib::DeskKind::dynasight);
  vrcalib::SimulatedDesk desk(truth);
  ASSERT_TRUE(desk.ok());
  Ctx app(vr_ctx_create());
  ASSERT_EQ(vr_config_load(app.get(), config_.c_str()), 1) << vr_config_message();
  int source = 0;
  vr_get_int(app.get(), VR_GLASSES_SOURCE, &source);
  EXPECT_EQ(source, 4);  // the file now names the calibrated source
  ASSERT_EQ(vr_init_glasses_and_mouse_6d(app.get(), 1, 0), 1);
  dmat fitted, defaults;
  vr_get_matrix(app.get(), VR_TRACKER_TO_PLATE, fitted);
  Ctx fresh(vr_ctx_create());
  vr_get_matrix(fresh.get(), VR_TRACKER_TO_PLATE, defaults);

  // Eyes wherever a viewer sits: as tracked with a placement, against the same frames with the
  // true placement.
  auto eyes_with = [&](const dmat placement, double out[6]) {
    vr_set_matrix(app.get(), VR_TRACKER_TO_PLATE, placement);
    frames(desk, app.get(), 10);
    vr_get_point(app.get(), VR_SCREEN_LEFT_EYE, out);
    vr_get_point(app.get(), VR_SCREEN_RIGHT_EYE, out + 3);
  };
  double worst_calibrated = 0.0, worst_default = 0.0;
  for (const Vec3 &p :
       {Vec3{18, 13, 60}, Vec3{5, 20, 45}, Vec3{30, 5, 75}, Vec3{25, 25, 50}, Vec3{10, 8, 70}}) {
    desk.place_eyes(p);
    double truth_eyes[6], calibrated[6], uncalibrated[6];
    eyes_with(truth.true_tracker_to_plate, truth_eyes);
    eyes_with(fitted, calibrated);
    eyes_with(defaults, uncalibrated);
    for (int e = 0; e < 6; e += 3) {
      const Vec3 t = {truth_eyes[e], truth_eyes[e + 1], truth_eyes[e + 2]};
      worst_calibrated = std::fmax(worst_calibrated, distance(calibrated + e, t));
      worst_default = std::fmax(worst_default, distance(uncalibrated + e, t));
    }
  }
  vr_quit(app.get());
  std::printf("eyes, worst: %.3f cm calibrated, %.2f cm with the defaults\n", worst_calibrated,
              worst_default);
  EXPECT_LT(worst_calibrated, 0.5);
  EXPECT_GT(worst_default, 3.0);
}

TEST_F(Calib, WebcamTiltedAndOffsetIsPlacedFromHeldHeadPositions) {
  // A camera 4 cm right of the top edge's middle, 3 cm above it, 5 cm behind the glass, tilted
  // 12 degrees: the opentrack sender reports the head in that camera's frame.
  vrcalib::Options o;
  o.config_path = config_;
  o.procedure = vrcalib::Procedure::opentrack;
  o.simulate = true;
  o.true_offset_cm = {4.0, 3.0, -5.0};
  o.true_turn_deg = 12.0;
  o.true_axis = {1.0, 0.0, 0.0};
  o.noise_cm = 0.05;
  o.settings.settle_s = 1.5;
  std::string printed;
  ASSERT_EQ(run(o, printed), 0) << printed;
  EXPECT_NE(printed.find("network.camera_offset"), std::string::npos) << printed;
  EXPECT_EQ(printed.find("sideways"), std::string::npos) << printed;

  Ctx defaults(vr_ctx_create());
  vrcalib::DeskSetup truth;
  truth.kind = vrcalib::DeskKind::webcam;
  dmat configured;
  vrcalib::configured_placement(defaults.get(), o.procedure, configured);
  vrcalib::true_placement(configured, o, truth.true_tracker_to_plate);
  vrcalib::SimulatedDesk desk(truth);
  ASSERT_TRUE(desk.ok());
  Ctx app(vr_ctx_create());
  ASSERT_EQ(vr_config_load(app.get(), config_.c_str()), 1) << vr_config_message();
  int source = 0;
  vr_get_int(app.get(), VR_GLASSES_SOURCE, &source);
  EXPECT_EQ(source, VR_SOURCE_NETWORK);
  dpt fitted_offset, true_offset = {4.0, 3.0, -5.0}, no_offset = {0.0, 0.0, 0.0};
  double fitted_tilt = 0.0;
  vr_get_point(app.get(), VR_NET_CAMERA_OFFSET, fitted_offset);
  vr_get_double(app.get(), VR_NET_CAMERA_TILT, &fitted_tilt);
  const double true_tilt = 12.0 * std::numbers::pi / 180.0;
  EXPECT_NEAR(fitted_tilt, true_tilt, 0.01);
  ASSERT_EQ(vr_init_glasses_and_mouse_6d(app.get(), 1, 0), 1) << vr_net_message;

  // Eyes wherever a viewer sits: as tracked with a camera placement, against the same frames
  // with the true one. The source rebuilds the placement from offset and tilt every frame.
  auto eyes_with = [&](const dpt offset, double tilt, double out[6]) {
    vr_set_point(app.get(), VR_NET_CAMERA_OFFSET, offset);
    vr_set_double(app.get(), VR_NET_CAMERA_TILT, tilt);
    frames(desk, app.get(), 10);
    vr_get_point(app.get(), VR_SCREEN_LEFT_EYE, out);
    vr_get_point(app.get(), VR_SCREEN_RIGHT_EYE, out + 3);
  };
  double worst_calibrated = 0.0, worst_default = 0.0;
  for (const Vec3 &p :
       {Vec3{18, 13, 60}, Vec3{5, 20, 45}, Vec3{30, 5, 75}, Vec3{25, 25, 50}, Vec3{10, 8, 70}}) {
    desk.place_eyes(p);
    double truth_eyes[6], calibrated[6], uncalibrated[6];
    eyes_with(true_offset, true_tilt, truth_eyes);
    eyes_with(fitted_offset, fitted_tilt, calibrated);
    eyes_with(no_offset, 0.0, uncalibrated);
    for (int e = 0; e < 6; e += 3) {
      const Vec3 t = {truth_eyes[e], truth_eyes[e + 1], truth_eyes[e + 2]};
      worst_calibrated = std::fmax(worst_calibrated, distance(calibrated + e, t));
      worst_default = std::fmax(worst_default, distance(uncalibrated + e, t));
    }
  }
  vr_quit(app.get());
  std::printf("webcam eyes, worst: %.3f cm calibrated, %.2f cm with the default camera\n",
              worst_calibrated, worst_default);
  EXPECT_LT(worst_calibrated, 0.5);
  EXPECT_GT(worst_default, 3.0);
}

TEST(CalibPieces, TheTiltOnlyFitRecoversATiltedCameraAndNamesWhatItCannotKeep) {
  // Points in a camera frame, and the same on the plate through a tilted, offset camera.
  dmat tilt, move, camera;
  vr_mat_rot_x(-0.35, tilt);
  vr_mat_trans(-7.0, 40.0, 3.0, move);
  vr_mat_mul_mat(tilt, move, camera);
  const dpt from[4] = {{0, -10, 60}, {-15, -10, 60}, {15, -10, 60}, {0, 5, 61}};
  dpt to[4];
  for (int i = 0; i < 4; ++i) vr_mat_mul_dpt(from[i], camera, to[i]);
  vrcalib::NetworkHeadSource webcam;
  dmat fitted;
  double rms = 1, worst = 1;
  ASSERT_EQ(webcam.fit(4, from, to, fitted, &rms, &worst), VR_FIT_OK);
  EXPECT_LT(worst, 1e-9);
  EXPECT_EQ(webcam.caveat(), "");
  Ctx ctx(vr_ctx_create());
  dpt offset;
  double angle = 0.0;
  vrcalib::NetworkHeadSource::offset_and_tilt(ctx.get(), fitted, offset, &angle);
  EXPECT_NEAR(angle, -0.35, 1e-12);
  double width = 0, height = 0;
  vr_get_double(ctx.get(), VR_SCREEN_WIDTH_CM, &width);
  vr_get_double(ctx.get(), VR_SCREEN_HEIGHT_CM, &height);
  EXPECT_NEAR(offset[0], -7.0 - width / 2.0, 1e-9);
  EXPECT_NEAR(offset[1], 40.0 - height, 1e-9);
  EXPECT_NEAR(offset[2], 3.0, 1e-9);
  // Placed in a context, the camera's placement is the one fitted.
  ASSERT_TRUE(webcam.place(ctx.get(), fitted));
  dmat back;
  vrcalib::camera_placement(ctx.get(), back);
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) EXPECT_NEAR(back[r][c], camera[r][c], 1e-9);

  // A camera also turned sideways: the best tilt is kept and the rest is named.
  dmat yaw, turned;
  vr_mat_rot_y(0.1, yaw);
  vr_mat_mul_mat(yaw, camera, turned);
  for (int i = 0; i < 4; ++i) vr_mat_mul_dpt(from[i], turned, to[i]);
  ASSERT_EQ(webcam.fit(4, from, to, fitted, &rms, &worst), VR_FIT_OK);
  EXPECT_GT(worst, 0.5);
  EXPECT_NE(webcam.caveat().find("5.7 degrees sideways"), std::string::npos) << webcam.caveat();
  // Degenerate sets are refused as by the free fit.
  const dpt line[3] = {{0, 0, 50}, {1, 0, 50}, {2, 0, 50}};
  EXPECT_EQ(webcam.fit(3, line, line, fitted, nullptr, nullptr), VR_FIT_COLLINEAR);
  EXPECT_EQ(webcam.fit(2, from, to, fitted, nullptr, nullptr), VR_FIT_TOO_FEW);
}

TEST_F(Calib, ABadSetUpFileStopsTheRunAndStaysAsItWas) {
  {
    std::FILE *f = std::fopen(config_.c_str(), "w");
    std::fputs("[screen]\nwidth_cm = 0\n", f);  // a size of 0 cannot be geometry
    std::fclose(f);
  }
  vrcalib::Options o;
  o.config_path = config_;
  o.simulate = true;
  std::string printed;
  testing::internal::CaptureStderr();
  EXPECT_EQ(run(o, printed), 1);
  const std::string errors = testing::internal::GetCapturedStderr();
  EXPECT_NE(errors.find(config_ + ":2: screen.width_cm:"), std::string::npos) << errors;
  EXPECT_EQ(printed.find("Step 1"), std::string::npos);
  std::FILE *f = std::fopen(config_.c_str(), "r");
  char line[64] = {};
  std::fgets(line, sizeof line, f);
  std::fclose(f);
  EXPECT_STREQ(line, "[screen]\n");
}

// A set-up file holding only the panel's size: vrcalib writes back that size and what it measured,
// nothing else, so the fixed eyes keep following the screen, and the file gives a new context
// the views of the set-up vrcalib ended with.
TEST_F(Calib, TheWrittenFileHoldsOnlyItsOwnKeysAndWhatWasMeasured) {
  const std::string panel = "[screen]\nwidth_cm = 59.8\nheight_cm = 33.6\n";
  {
    std::FILE *f = std::fopen(config_.c_str(), "w");
    std::fputs(panel.c_str(), f);
    std::fclose(f);
  }
  vrcalib::Options o;
  o.config_path = config_;
  o.simulate = true;
  o.true_offset_cm = {3.0, -2.0, 1.0};
  o.true_turn_deg = 5.0;
  o.true_axis = {0.0, 1.0, 0.0};
  std::string printed;
  ASSERT_EQ(run(o, printed), 0) << printed;

  std::string written;
  {
    std::FILE *f = std::fopen(config_.c_str(), "r");
    for (int c; (c = std::fgetc(f)) != EOF;) written.push_back(static_cast<char>(c));
    std::fclose(f);
  }
  for (const char *kept : {"[screen]\n", "width_cm = 59.8\n", "height_cm = 33.6\n",
                           "[calibration]\n", "tracker_to_plate = ["})
    EXPECT_NE(written.find(kept), std::string::npos) << kept << "\n" << written;
  for (const char *left_out : {"[eyes]", "[view]", "[window]", "width_pixels", "[tracking]"})
    EXPECT_EQ(written.find(left_out), std::string::npos) << left_out << "\n" << written;

  // The set-up vrcalib ended with: the original file, then the measured placement.
  Ctx app(vr_ctx_create());
  ASSERT_EQ(vr_config_load(app.get(), config_.c_str()), 1) << vr_config_message();
  dmat measured;
  vr_get_matrix(app.get(), VR_TRACKER_TO_PLATE, measured);
  const std::string original = (dir_ / "panel.toml").string();
  {
    std::FILE *f = std::fopen(original.c_str(), "w");
    std::fputs(panel.c_str(), f);
    std::fclose(f);
  }
  Ctx setup(vr_ctx_create());
  ASSERT_EQ(vr_config_load(setup.get(), original.c_str()), 1) << vr_config_message();
  ASSERT_EQ(vr_set_matrix(setup.get(), VR_TRACKER_TO_PLATE, measured), VR_OK);
  vr_comp_view(app.get());
  vr_comp_view(setup.get());
  for (int id : {VR_LEFT_VIEW, VR_RIGHT_VIEW}) {
    dmat a, b;
    vr_get_matrix(app.get(), id, a);
    vr_get_matrix(setup.get(), id, b);
    EXPECT_EQ(std::memcmp(a, b, sizeof a), 0);
  }
  // The fixed eyes are the panel's own, centred as vr_ctx_create_display centres them.
  Ctx preset(vr_ctx_create_display(59.8, 33.6, 2560, 1440, VR_DISPLAY_FLAT_PANEL));
  dpt want, got;
  vr_get_point(preset.get(), VR_SCREEN_LEFT_EYE, want);
  vr_get_point(app.get(), VR_SCREEN_LEFT_EYE, got);
  EXPECT_EQ(std::memcmp(want, got, sizeof want), 0);
}
