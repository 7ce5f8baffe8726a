// Tracking status on the simulator, in virtual time: a tracker that is powered off, unplugged,
// stops sending or whose unit clock stands still is reported stale within half a second and lost
// after a second, with one message per change, and tracking again from its first fresh pose. A
// healthy tracker never leaves the tracking state.
#include <cstring>
#include <string>

#include "track_fixture.h"

namespace {

using track_test::TrackTest;

constexpr double frame_s = 1.0 / 60.0;
constexpr double report_within_s = 0.5;

int state_of(vr_ctx *ctx, int id) {
  int s = -1;
  EXPECT_EQ(vr_get_int(ctx, id, &s), VR_OK);
  return s;
}

double age_of(vr_ctx *ctx, int id) {
  double a = -1.0;
  EXPECT_EQ(vr_get_double(ctx, id, &a), VR_OK);
  return a;
}

class Status : public TrackTest {
 protected:
  // Runs frames until the state attribute reads `want` or `limit_s` has passed; the virtual
  // time it took, or a negative number when it never came.
  double frames_until(int state_id, int want, double limit_s) {
    const double t0 = vrsim_now(sim);
    while (vrsim_now(sim) - t0 <= limit_s) {
      frames(1, frame_s);
      if (state_of(ctx, state_id) == want) return vrsim_now(sim) - t0;
    }
    return -1.0;
  }

  // A tracker that is healthy for two seconds: tracking throughout, fresh poses, no message.
  void expect_healthy(int state_id, int age_id) {
    for (int i = 0; i < 120; ++i) {
      frames(1, frame_s);
      if (i < 5) continue;  // the first frames may come before the first pose
      ASSERT_EQ(state_of(ctx, state_id), VR_TRACK_TRACKING) << "frame " << i;
      ASSERT_LT(age_of(ctx, age_id), 0.05) << "frame " << i;
    }
    EXPECT_STREQ(vr_lt_message, "");
    EXPECT_STREQ(vr_ds_message, "");
  }

  // After a fault at the present time: stale within half a second (and not before a quarter),
  // then lost after a second, each with its message in `message`.
  void expect_stale_then_lost(int state_id, int age_id, const char *who, const char *message) {
    const double stale_after = frames_until(state_id, VR_TRACK_STALE, 2.0);
    ASSERT_GT(stale_after, 0.0) << who << " never reported stale";
    EXPECT_LE(stale_after, report_within_s) << who;
    EXPECT_GE(stale_after, VR_TRACK_STALE_SECONDS - 0.05) << who;
    EXPECT_EQ(
        std::string(message).rfind(std::string(who) + " tracker stale: no fresh pose for ", 0), 0u)
        << message;
    EXPECT_GE(age_of(ctx, age_id), VR_TRACK_STALE_SECONDS);

    const double lost_after = frames_until(state_id, VR_TRACK_LOST, 2.0);
    ASSERT_GT(lost_after, 0.0) << who << " never reported lost";
    EXPECT_LE(stale_after + lost_after, VR_TRACK_LOST_SECONDS + report_within_s) << who;
    EXPECT_EQ(std::string(message).rfind(std::string(who) + " tracker lost: no fresh pose for ", 0),
              0u)
        << message;
    EXPECT_GE(age_of(ctx, age_id), VR_TRACK_LOST_SECONDS);
  }

  // Recovery: the frame that first reads a fresh pose is tracking again.
  void expect_recovery(int state_id, int age_id, const char *who, const char *message,
                       double within_s) {
    const double back_after = frames_until(state_id, VR_TRACK_TRACKING, within_s);
    ASSERT_GT(back_after, 0.0) << who << " did not recover";
    EXPECT_EQ(age_of(ctx, age_id), 0.0);
    EXPECT_EQ(std::string(message), std::string(who) + " tracker tracking again");
  }
};

TEST_F(Status, NoTrackerReportsNothing) {
  frames(3);
  EXPECT_EQ(state_of(ctx, VR_HEAD_TRACK_STATE), VR_TRACK_NONE);
  EXPECT_EQ(state_of(ctx, VR_MOUSE_TRACK_STATE), VR_TRACK_NONE);
  EXPECT_EQ(age_of(ctx, VR_HEAD_POSE_AGE), 0.0);
}

TEST_F(Status, Logitech6dPowerOffIsReportedAndRecoveryFollows) {
  vrsim_plug_standard(sim);
  use_6d(0);  // on demand: each frame asks for the next report, so a unit powered on answers
  ASSERT_EQ(vr_init_glasses_and_mouse_6d(ctx, 1, 1), 1);
  expect_healthy(VR_HEAD_TRACK_STATE, VR_HEAD_POSE_AGE);
  EXPECT_EQ(state_of(ctx, VR_MOUSE_TRACK_STATE), VR_TRACK_TRACKING);

  // The mouse unit goes off; the glasses unit carries the transmitter and goes on measuring.
  vrsim_set_power(sim, VRSIM_PORT_B, 0);
  expect_stale_then_lost(VR_MOUSE_TRACK_STATE, VR_MOUSE_POSE_AGE, "Mouse", vr_lt_message);
  EXPECT_EQ(state_of(ctx, VR_HEAD_TRACK_STATE), VR_TRACK_TRACKING);

  vrsim_set_power(sim, VRSIM_PORT_B, 1);
  expect_recovery(VR_MOUSE_TRACK_STATE, VR_MOUSE_POSE_AGE, "Mouse", vr_lt_message, 0.1);

  // The transmitter's unit goes off: both lose their poses.
  vrsim_set_power(sim, VRSIM_PORT_A, 0);
  expect_stale_then_lost(VR_HEAD_TRACK_STATE, VR_HEAD_POSE_AGE, "Head", vr_lt_message);
  frames(3);
  EXPECT_EQ(state_of(ctx, VR_MOUSE_TRACK_STATE), VR_TRACK_LOST);
}

TEST_F(Status, RawUnitWithAStalledClockIsReportedAndRecoveryFollows) {
  vrsim_plug_standard(sim);
  start_serial(1, 1);
  expect_healthy(VR_HEAD_TRACK_STATE, VR_HEAD_POSE_AGE);

  // Records keep arriving, but with one time stamp: no fresh pose among them.
  vrsim_imperfections imp{};
  imp.clock_stalled = 1;
  vrsim_set_imperfections(sim, VRSIM_PORT_A, &imp);
  expect_stale_then_lost(VR_HEAD_TRACK_STATE, VR_HEAD_POSE_AGE, "Head", vr_lt_message);
  EXPECT_EQ(state_of(ctx, VR_MOUSE_TRACK_STATE), VR_TRACK_TRACKING);

  // The clock runs again: the clock model sets the first records aside as out of time (their
  // lag jumped), and takes them again after a few; the first taken is the first fresh pose.
  imp.clock_stalled = 0;
  vrsim_set_imperfections(sim, VRSIM_PORT_A, &imp);
  expect_recovery(VR_HEAD_TRACK_STATE, VR_HEAD_POSE_AGE, "Head", vr_lt_message, 0.2);
  EXPECT_GT(vr::lt::raw_counters(0).out_of_time, 0);
}

TEST_F(Status, RawUnitPowerOffIsReported) {
  vrsim_plug_standard(sim);
  start_serial(1, 1);
  frames(30);
  ASSERT_EQ(state_of(ctx, VR_MOUSE_TRACK_STATE), VR_TRACK_TRACKING);
  vrsim_set_power(sim, VRSIM_PORT_B, 0);
  expect_stale_then_lost(VR_MOUSE_TRACK_STATE, VR_MOUSE_POSE_AGE, "Mouse", vr_lt_message);
  EXPECT_EQ(state_of(ctx, VR_HEAD_TRACK_STATE), VR_TRACK_TRACKING);
  // Powered on, the unit is back in its 6D start-up mode: a new set-up brings its records back.
  vrsim_set_power(sim, VRSIM_PORT_B, 1);
  ASSERT_EQ(vr_lt_re_init_glasses_and_mouse_6d(ctx, 1, 1), 1);
  expect_recovery(VR_MOUSE_TRACK_STATE, VR_MOUSE_POSE_AGE, "Mouse", vr_lt_message, 0.5);
}

TEST_F(Status, UnpluggedDynaSightIsReportedInItsOwnMessage) {
  vrsim_plug_dynasight(sim, VRSIM_PORT_A, 60.0);
  ctx->tracking_mode = 1;
  ctx->glasses_source = 4;
  ASSERT_EQ(vr_init_glasses_and_mouse_6d(ctx, 1, 1), 1);
  expect_healthy(VR_HEAD_TRACK_STATE, VR_HEAD_POSE_AGE);

  vrsim_unplug(sim, VRSIM_PORT_A);
  expect_stale_then_lost(VR_HEAD_TRACK_STATE, VR_HEAD_POSE_AGE, "Head", vr_ds_message);
  EXPECT_STREQ(vr_lt_message, "");

  vrsim_plug_dynasight(sim, VRSIM_PORT_A, 60.0);
  expect_recovery(VR_HEAD_TRACK_STATE, VR_HEAD_POSE_AGE, "Head", vr_ds_message, 3 * frame_s);
  EXPECT_EQ(state_of(ctx, VR_MOUSE_TRACK_STATE), VR_TRACK_NONE);
}

TEST_F(Status, CybermanThatStopsSendingIsReported) {
  vrsim_lt_config glasses;
  vrsim_lt_config_init(&glasses, VRSIM_RX_GLASSES);
  vrsim_plug_logitech(sim, VRSIM_PORT_A, &glasses);
  vrsim_plug_cyberman(sim, VRSIM_PORT_B, 40.0);
  start_serial(2, 3);
  expect_healthy(VR_MOUSE_TRACK_STATE, VR_MOUSE_POSE_AGE);

  vrsim_imperfections imp{};
  imp.stopped = 1;
  vrsim_set_imperfections(sim, VRSIM_PORT_B, &imp);
  expect_stale_then_lost(VR_MOUSE_TRACK_STATE, VR_MOUSE_POSE_AGE, "Mouse", vr_lt_message);
  EXPECT_EQ(state_of(ctx, VR_HEAD_TRACK_STATE), VR_TRACK_TRACKING);

  imp.stopped = 0;
  vrsim_set_imperfections(sim, VRSIM_PORT_B, &imp);
  expect_recovery(VR_MOUSE_TRACK_STATE, VR_MOUSE_POSE_AGE, "Mouse", vr_lt_message, 3 * frame_s);
}

}  // namespace
