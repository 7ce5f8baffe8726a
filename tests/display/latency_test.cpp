// The default display latency on the simulator: one slow frame among 60 Hz frames (a screenshot,
// a shader compile) does not throw the horizon (VR_DISPLAY_TIME minus the frame's time) of the
// frames that follow it, while a lasting change of frame rate is followed within a few frames.
#include <gtest/gtest.h>

#include <cmath>

#include "track_fixture.h"

namespace {

using track_test::TrackTest;

constexpr double frame_60_s = 1.0 / 60.0;
constexpr double frame_30_s = 1.0 / 30.0;
constexpr double slow_frame_s = 0.150;
constexpr double horizon_tolerance_s = 0.002;

class DisplayLatency : public TrackTest {
 protected:
  void start(int source) {
    vrsim_plug_standard(sim);
    ctx->tracking_mode = 1;
    ctx->glasses_source = ctx->mouse_source = source;
    ASSERT_EQ(vr_set_int(ctx, VR_TRACK_DISPLAY_TIME, 1), VR_OK);
    ASSERT_EQ(vr_init_glasses_and_mouse_6d(ctx, 1, 1), 1);
  }
  // One frame dt after the previous one; its horizon.
  double frame(double dt) {
    frames(1, dt);
    double shown = 0.0;
    double *pworld = nullptr;
    EXPECT_EQ(vr_get_double(ctx, VR_DISPLAY_TIME, &shown), VR_OK);
    vr_object_get(ctx, VR_PWORLD_TIME, &pworld);
    return shown - pworld[0];
  }

  // 60 Hz frames with one of 150 ms among them: the slow frame itself and every frame after it
  // look one 60 Hz frame ahead.
  void one_slow_frame(int source) {
    ASSERT_NO_FATAL_FAILURE(start(source));
    for (int i = 0; i < 60; ++i) frame(frame_60_s);
    EXPECT_NEAR(frame(frame_60_s), frame_60_s, horizon_tolerance_s);
    EXPECT_NEAR(frame(slow_frame_s), frame_60_s, horizon_tolerance_s) << "the slow frame";
    for (int i = 0; i < 30; ++i)
      ASSERT_NEAR(frame(frame_60_s), frame_60_s, horizon_tolerance_s) << "frame " << i + 1;
  }
};

TEST_F(DisplayLatency, OneSlowFrameDoesNotThrowTheNextHorizonsRaw) {
  one_slow_frame(1);
}

TEST_F(DisplayLatency, OneSlowFrameDoesNotThrowTheNextHorizons6d) {
  one_slow_frame(2);
}

TEST_F(DisplayLatency, ALastingChangeOfFrameRateIsFollowed) {
  ASSERT_NO_FATAL_FAILURE(start(2));
  for (int i = 0; i < 60; ++i) frame(frame_60_s);
  // Down to 30 Hz: the horizon follows once most of the intervals it looks at are the new ones.
  for (int i = 0; i < 4; ++i) frame(frame_30_s);
  EXPECT_NEAR(frame(frame_30_s), frame_30_s, horizon_tolerance_s);
  for (int i = 0; i < 30; ++i) ASSERT_NEAR(frame(frame_30_s), frame_30_s, horizon_tolerance_s);
  // Frames that keep stalling longer than the largest interval counted: the horizon stays there.
  for (int i = 0; i < 9; ++i) frame(0.2);
  EXPECT_NEAR(frame(0.2), 0.1, 1e-9);
  // Back to 60 Hz.
  for (int i = 0; i < 4; ++i) frame(frame_60_s);
  EXPECT_NEAR(frame(frame_60_s), frame_60_s, horizon_tolerance_s);
}

}  // namespace
