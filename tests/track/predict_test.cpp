// Eye nodal point prediction of the 6D-report path: the speed ramp, the frame-rate limit and the
// step along the line of sight, on a context without any device.
//
// The previous eye points are process-wide and never reset; every test first primes them with a
// pose of its own, so the order of the tests does not matter.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <numbers>

#include "vr_track_internal.h"
#include "vrlib/vr.h"

namespace {

struct CtxFree {
  void operator()(vr_ctx *c) const { std::free(c); }
};

class Predict : public ::testing::Test {
 protected:
  void SetUp() override {
    ctx.reset(vr_ctx_create());
    ASSERT_NE(ctx, nullptr);
    ctx->glasses_source = 2;
    ctx->predict_ramp_start = 2.0;
    ctx->predict_ramp_end = 4.0;
    vr_mat_identity(ctx->dig_to_plate);
    set(ctx->left_eye_offset, -3.25, 0.0, 0.0);
    set(ctx->right_eye_offset, 3.25, 0.0, 0.0);
    ctx->gaze_mode = 1;
    set(ctx->window_center, 10.0, 0.0, -100.0);
  }

  static void set(double *p, double x, double y, double z) { p[0] = x, p[1] = y, p[2] = z; }

  static vr_lt_6d at(double x, double y, double z) {
    vr_lt_6d p{};
    p.x = x, p.y = y, p.z = z;
    return p;
  }

  // Runs the prediction for a pose seen pworld_time_delta after the previous one.
  void step(const vr_lt_6d &pose, double delta) {
    ctx->pworld_time_delta = delta;
    vr_lt_predict_eye_nodal_points(&unit, ctx.get(), &pose, ctx->screen_left_eye,
                                   ctx->screen_right_eye);
  }

  // The nodal point expected for an extrapolated eye point (dig_to_plate is the identity).
  void expect_nodal(const double *out, const double *eye, const char *what) {
    dpt g;
    for (int i = 0; i < 3; ++i) g[i] = ctx->window_center[i] - eye[i];
    double len = std::sqrt(g[0] * g[0] + g[1] * g[1] + g[2] * g[2]);
    for (int i = 0; i < 3; ++i) {
      double want = len == 0.0 ? eye[i] : eye[i] + 1.1 * g[i] / len;
      EXPECT_NEAR(out[i], want, 1e-12) << what << " component " << i;
    }
  }

  // Primes the previous eye points at pose p0, moves by dx along x after delta, and checks that
  // the gain k was applied.
  void expect_gain(double dx, double delta, double k) {
    step(at(10.0, 0.0, 50.0), 0.01);
    step(at(10.0, 0.0, 50.0), 0.01);  // still: previous points now at the primed pose
    step(at(10.0 + dx, 0.0, 50.0), delta);
    dpt left = {10.0 + dx - 3.25 + k * dx, 0.0, 50.0};
    dpt right = {10.0 + dx + 3.25 + k * dx, 0.0, 50.0};
    expect_nodal(ctx->screen_left_eye, left, "left");
    expect_nodal(ctx->screen_right_eye, right, "right");
  }

  std::unique_ptr<vr_ctx, CtxFree> ctx;
  vr_lt_unit unit{};
};

TEST_F(Predict, RampAndFrameRateLimit) {
  // Speeds are |dx| / delta with exactly representable values.
  {
    SCOPED_TRACE("rate 2 per second: no prediction however fast");
    expect_gain(5.0, 0.5, 0.0);
  }
  {
    SCOPED_TRACE("rate just below 2");
    expect_gain(5.0, 0.5078125, 0.0);
  }
  {
    SCOPED_TRACE("rate 4, speed 3: half the ramp, half the rate scale");
    expect_gain(0.75, 0.25, 0.5);
  }
  {
    SCOPED_TRACE("rate 8, speed below the start");
    expect_gain(0.125, 0.125, 0.0);
  }
  {
    SCOPED_TRACE("rate 8, speed exactly the start: full gain");
    expect_gain(0.25, 0.125, 2.0);
  }
  {
    SCOPED_TRACE("rate 8, speed 3: middle of the ramp");
    expect_gain(0.375, 0.125, 1.0);
  }
  {
    SCOPED_TRACE("rate 8, speed exactly the end");
    expect_gain(-0.5, 0.125, 2.0);
  }
  {
    SCOPED_TRACE("rate exactly 6: no rate scaling");
    expect_gain(1.0, 1.0 / 6.0, 2.0);
  }
}

TEST_F(Predict, StillHeadIsNotExtrapolated) {
  step(at(1.0, 2.0, 40.0), 0.02);
  step(at(1.0, 2.0, 40.0), 0.02);
  dpt left = {1.0 - 3.25, 2.0, 40.0};
  expect_nodal(ctx->screen_left_eye, left, "left");
  const double *prev = vr::track::previous_left_eye();
  EXPECT_EQ(prev[0], 1.0 - 3.25);
  EXPECT_EQ(prev[2], 40.0);
}

TEST_F(Predict, HeadPoseAndEyeOffsetsThroughTheDigToPlateFrame) {
  // Yawing the head by 90 degrees turns the eye offsets: x toward -z about y.
  vr_lt_6d yawed = at(0.0, 5.0, 60.0);
  yawed.yaw = std::numbers::pi / 2;
  vr_mat_trans(1.0, 2.0, 3.0, ctx->dig_to_plate);
  step(yawed, 0.01);
  step(yawed, 0.01);
  dmat expect;
  build_mat_6Dm_to_dig(&unit, &yawed, expect);
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) EXPECT_DOUBLE_EQ(ctx->head_to_dig[r][c], expect[r][c]);
  dpt left = {0.0 + 1.0, 5.0 + 2.0, 60.0 + 3.25 + 3.0};
  expect_nodal(ctx->screen_left_eye, left, "left");
}

TEST_F(Predict, GazeTargets) {
  // Looking at the mouse tip instead of the window centre.
  ctx->gaze_mode = 0;
  set(ctx->mouse_tip_plate, -5.0, -5.0, 0.0);
  step(at(0.0, 0.0, 50.0), 0.01);
  step(at(0.0, 0.0, 50.0), 0.01);
  set(ctx->window_center, -5.0, -5.0, 0.0);  // the same target, for the expectation
  dpt left = {-3.25, 0.0, 50.0};
  expect_nodal(ctx->screen_left_eye, left, "left");

  // An eye exactly at the gaze target: the direction has no length and the point stays.
  ctx->gaze_mode = 1;
  set(ctx->window_center, -3.25, 0.0, 50.0);
  step(at(0.0, 0.0, 50.0), 0.01);
  EXPECT_EQ(ctx->screen_left_eye[0], -3.25);
  EXPECT_EQ(ctx->screen_left_eye[1], 0.0);
  EXPECT_EQ(ctx->screen_left_eye[2], 50.0);
}

TEST_F(Predict, DegenerateFrameTimesStayFinite) {
  for (double delta : {0.0, -0.01, std::nan("")}) {
    step(at(0.0, 0.0, 50.0), 0.01);
    step(at(0.5, 0.0, 50.0), delta);
    for (int i = 0; i < 3; ++i) {
      EXPECT_TRUE(std::isfinite(ctx->screen_left_eye[i])) << delta;
      EXPECT_TRUE(std::isfinite(ctx->screen_right_eye[i])) << delta;
    }
  }
}

TEST(BuildPoseMatrix, RollPitchYawThenTranslation) {
  vr_lt_6d p{};
  p.x = 1.0, p.y = 2.0, p.z = 3.0;
  dmat m;
  build_mat_6Dm_to_dig(nullptr, &p, m);
  dmat t;
  vr_mat_trans(1.0, 2.0, 3.0, t);
  EXPECT_TRUE(vr_mat_equal(m, t));

  // Roll turns x toward y, then pitch turns y toward z: (1, 0, 0) ends on +z.
  p.roll = std::numbers::pi / 2;
  p.pitch = std::numbers::pi / 2;
  build_mat_6Dm_to_dig(nullptr, &p, m);
  dpt q = {1.0, 0.0, 0.0}, out;
  vr_mat_mul_dpt(q, m, out);
  EXPECT_NEAR(out[0], 1.0, 1e-12);
  EXPECT_NEAR(out[1], 2.0, 1e-12);
  EXPECT_NEAR(out[2], 4.0, 1e-12);
  // Yaw comes last: with it added, +z turns on toward +x.
  p.yaw = std::numbers::pi / 2;
  build_mat_6Dm_to_dig(nullptr, &p, m);
  vr_mat_mul_dpt(q, m, out);
  EXPECT_NEAR(out[0], 2.0, 1e-12);
  EXPECT_NEAR(out[1], 2.0, 1e-12);
  EXPECT_NEAR(out[2], 3.0, 1e-12);
}

}  // namespace
