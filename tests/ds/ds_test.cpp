// The DynaSight optical tracker on port A on the simulator: set-up, removal, the head position
// driving the eye prediction, and every failure leaving nothing behind and the process alive.
#include <cerrno>

#include "track_fixture.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;
using track_test::TrackTest;

constexpr double ds_cm = 0.005;  // one step of a DynaSight coordinate

class Dynasight : public TrackTest {
 protected:
  void SetUp() override {
    TrackTest::SetUp();
    vrsim_plug_dynasight(sim, 0, 60.0);
    ctx->tracking_mode = 1;
    ctx->glasses_source = 4;
  }

  int init() {
    CaptureStderr();
    int r = vr_init_glasses_and_mouse_6d(ctx, 1, 1);
    err = GetCapturedStderr();
    return r;
  }

  // Nothing of a failed set-up stays: no record, every opened line closed, no handlers.
  void expect_nothing_left() {
    EXPECT_EQ(vr_ds_glasses_unit, nullptr);
    EXPECT_EQ(ctx->glasses_event_fn, nullptr);
    EXPECT_EQ(ctx->glasses_remove_fn, nullptr);
    EXPECT_EQ(count_events(VRSIM_EV_CLOSE, 0),
              vrsim_event_find(sim, 0, VRSIM_EV_OPEN, 0) >= 0 &&
                      vrsim_event_at(sim, vrsim_event_find(sim, 0, VRSIM_EV_OPEN, 0))->result > 0
                  ? 1
                  : 0);
  }

  std::string err;
};

TEST_F(Dynasight, SetUpInstallsTheGlassesHandlersOnly) {
  double t0 = vrsim_now(sim);
  ASSERT_EQ(init(), 1);
  EXPECT_EQ(err, "");
  // One second for the line, 0.2 s around the first mapping; nothing is ever sent.
  EXPECT_NEAR(vrsim_now(sim) - t0, 1.2, 1e-9);
  EXPECT_EQ(count_events(VRSIM_EV_WRITE), 0);
  EXPECT_EQ(count_events(VRSIM_EV_OPEN, 1), 0);
  EXPECT_EQ(count_events(VRSIM_EV_CAPTURE_OPEN), 1);
  int set = vrsim_event_find(sim, 0, VRSIM_EV_LINE_SET, 0);
  ASSERT_GE(set, 0);
  const vr_line_settings &s = vrsim_event_at(sim, set)->settings;
  EXPECT_EQ(s.baud, 19200);
  EXPECT_EQ(s.data_bits, 8);
  EXPECT_EQ(s.local, 1);
  EXPECT_EQ(s.raw, 1);
  EXPECT_EQ(count_events(VRSIM_EV_NODELAY, 0), 1);

  ASSERT_NE(vr_ds_glasses_unit, nullptr);
  EXPECT_STREQ(vr_ds_glasses_unit->device_name, "Crystal Eyes(tm)");
  EXPECT_EQ(vr_ds_glasses_unit->port, 0);
  EXPECT_EQ(ctx->glasses_event_fn, vr_lt_event_glasses);
  EXPECT_EQ(ctx->glasses_remove_fn, vr_ds_remove_glasses);
  EXPECT_EQ(ctx->mouse_event_fn, nullptr);
  EXPECT_EQ(ctx->mouse_remove_fn, nullptr);
  EXPECT_NE(vr::ds::capture_area(), nullptr);
  // The Logitech driver keeps its own mapping.
  EXPECT_EQ(vr::lt::capture_area(), nullptr);
}

// Only a Logitech head runs beside the VRPN mouse: with the DynaSight the mouse source is not
// started, so the set-up neither waits for a VRPN server nor fails for the lack of one.
TEST_F(Dynasight, AVrpnMouseIsNotStartedBesideIt) {
  ctx->mouse_source = VR_MOUSE_SOURCE_VRPN;
  ASSERT_EQ(vr_vrpn_set_devices(ctx, "Tracker0@127.0.0.1:1", nullptr), VR_OK);
  ASSERT_EQ(init(), 1);
  EXPECT_EQ(ctx->glasses_event_fn, vr_lt_event_glasses);
  EXPECT_EQ(ctx->mouse_event_fn, nullptr);
  EXPECT_EQ(ctx->mouse_remove_fn, nullptr);
  int connected = -1;
  ASSERT_EQ(vr_get_int(ctx, VR_VRPN_CONNECTED, &connected), VR_OK);
  EXPECT_EQ(connected, 0);
  vr_remove_glasses_and_mouse_6d(ctx);
  EXPECT_EQ(ctx->glasses_event_fn, nullptr);
  EXPECT_EQ(vr_ds_glasses_unit, nullptr);
}

TEST_F(Dynasight, HeadPositionDrivesTheEyes) {
  ctx->stereo = 1;
  ctx->eye_pos_mode = 2;
  vrsim_set_position(sim, VRSIM_HEAD, -4.25, 3.5, 61.0);
  ASSERT_EQ(init(), 1);
  frames(6);
  dmat want;
  vr_mat_trans(-4.25, 3.5, 61.0, want);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) EXPECT_EQ(ctx->head_to_dig[r][c], want[r][c]);
  for (int c = 0; c < 3; ++c) EXPECT_NEAR(ctx->head_to_dig[3][c], want[3][c], ds_cm);

  // Still head: the eyes are the offsets moved with the head, then 1.1 cm toward the gaze.
  for (int e = 0; e < 2; ++e) {
    const double *offset = e == 0 ? ctx->left_eye_offset : ctx->right_eye_offset;
    const double *eye = e == 0 ? ctx->screen_left_eye : ctx->screen_right_eye;
    dpt dig, plate, gaze;
    vr_mat_mul_dpt(offset, ctx->head_to_dig, dig);
    vr_mat_mul_dpt(dig, ctx->dig_to_plate, plate);
    vr_dvector_sub(ctx->window_center, plate, gaze);
    vr_dvector_normalize(gaze);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(eye[i], plate[i] + 1.1 * gaze[i], 1e-9);
  }
  for (int i = 0; i < 3; ++i) EXPECT_EQ(ctx->left_eye[i], ctx->screen_left_eye[i]);

  // The head moves; a few frames later the tracked position is there.
  vrsim_set_position(sim, VRSIM_HEAD, 0.0, 0.0, 45.0);
  frames(6);
  EXPECT_NEAR(ctx->head_to_dig[3][0], 0.0, ds_cm);
  EXPECT_NEAR(ctx->head_to_dig[3][2], 45.0, ds_cm);
}

TEST_F(Dynasight, RemovalClosesTheLineAndFreesTheRecord) {
  ASSERT_EQ(init(), 1);
  vrsim_events_clear(sim);
  vr_remove_glasses_and_mouse_6d(ctx);
  EXPECT_EQ(count_events(VRSIM_EV_CLOSE, 0), 1);
  EXPECT_EQ(count_events(VRSIM_EV_WRITE), 0);
  EXPECT_EQ(vr_ds_glasses_unit, nullptr);
  EXPECT_EQ(ctx->glasses_event_fn, nullptr);
  EXPECT_EQ(ctx->glasses_remove_fn, nullptr);
  vr_ds_remove_glasses(ctx);
  vr_ds_port_close(nullptr);
  EXPECT_EQ(vrsim_event_count(sim), 1);
  // No unit: the handler keeps the eyes where they were.
  dpt before;
  std::memcpy(before, ctx->screen_left_eye, sizeof before);
  vr_lt_event_glasses(ctx);
  EXPECT_EQ(0, std::memcmp(before, ctx->screen_left_eye, sizeof before));
}

TEST_F(Dynasight, TrackingDisabledOpensNothing) {
  ctx->tracking_mode = 0;
  EXPECT_EQ(init(), 1);
  EXPECT_EQ(vrsim_event_count(sim), 0);
  EXPECT_EQ(ctx->glasses_event_fn, nullptr);
}

TEST_F(Dynasight, LineThatCannotBeOpenedFailsWithoutEndingTheProcess) {
  vrsim_unplug(sim, 0);
  vr_set_device_path(VR_DEVICE_TTYA, "/dev/ttyS2");
  EXPECT_EQ(init(), 0);
  EXPECT_EQ(err, "Couldn't open /dev/ttyS2 for reading DynaSight\n");
  expect_nothing_left();
}

TEST_F(Dynasight, RejectedLineParametersCloseTheLine) {
  vrsim_line_faults f{};
  f.set_errno = EIO;
  vrsim_set_line_faults(sim, 0, &f);
  EXPECT_EQ(init(), 0);
  EXPECT_STREQ(vr_ds_message, "Could not set port parameters for \"/dev/ttya\" (5)");
  expect_nothing_left();
}

TEST_F(Dynasight, StreamModulesAndFileStatusFlags) {
  vrsim_push_module(sim, 0, "ldterm", EPERM);
  EXPECT_EQ(init(), 0);
  EXPECT_STREQ(vr_ds_message, "Error in popping stream module ldterm");
  expect_nothing_left();

  TearDown();
  SetUp();
  vrsim_push_module(sim, 0, "ldterm", 0);
  vrsim_line_faults f{};
  f.nodelay_errno = EBADF;
  vrsim_set_line_faults(sim, 0, &f);
  EXPECT_EQ(init(), 1);
  EXPECT_EQ(vrsim_module_count(sim, 0), 0);
  EXPECT_STREQ(vr_ds_message, "Error in fcntl serial ports");
}

TEST_F(Dynasight, CaptureDriverOnlyUnderItsFirstName) {
  vrsim_set_capture_fault(sim, VRSIM_CAPTURE_PRIMARY_MISSING);
  EXPECT_EQ(init(), 0);
  EXPECT_EQ(err, "Open of kel failed, is driver installed?\n");
  expect_nothing_left();
  EXPECT_EQ(count_events(VRSIM_EV_CAPTURE_OPEN), 1);
}

TEST_F(Dynasight, SecondSetUpReplacesTheFirst) {
  ASSERT_EQ(init(), 1);
  ASSERT_EQ(vr_ds_init_glasses(ctx), 1);
  EXPECT_NE(vr_ds_glasses_unit, nullptr);
  EXPECT_EQ(count_events(VRSIM_EV_CLOSE, 0), 1);  // the first line is not left open
}

}  // namespace
