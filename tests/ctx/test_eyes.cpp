// Eye-position caching: the three modes, the one-eye choice, the quantized grid and the hook.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>
#include <numbers>

#include "view_test_util.h"

using namespace view_test;

namespace {

void expect_point(const double *p, double x, double y, double z, double tolerance = 1e-12) {
  EXPECT_NEAR(p[0], x, tolerance);
  EXPECT_NEAR(p[1], y, tolerance);
  EXPECT_NEAR(p[2], z, tolerance);
}

int eye_hook_calls = 0;
void count_eye_hook(vr_ctx *) {
  ++eye_hook_calls;
}

}  // namespace

TEST(EyeCaching, ScreenRelative) {
  Ctx ctx = new_ctx();
  expect_point(ctx->left_eye, 21.05, 13.75, 35.0);
  expect_point(ctx->right_eye, 21.05, 13.75, 35.0);

  vr_object_set(ctx.get(), VR_STEREO, 1, 0);
  expect_point(ctx->left_eye, 17.75, 13.75, 35.0);
  expect_point(ctx->right_eye, 24.35, 13.75, 35.0);

  const dpt left = {10.0, 11.0, 40.0}, right = {16.0, 12.0, 44.0};
  vr_object_set(ctx.get(), VR_STEREO, 0, VR_SCREEN_LEFT_EYE, left, VR_SCREEN_RIGHT_EYE, right,
                VR_MONO_EYE, 2, 0);
  expect_point(ctx->left_eye, 10.0, 11.0, 40.0);
  expect_point(ctx->right_eye, 10.0, 11.0, 40.0);
  vr_object_set(ctx.get(), VR_MONO_EYE, 3, 0);
  expect_point(ctx->left_eye, 16.0, 12.0, 44.0);
  expect_point(ctx->right_eye, 16.0, 12.0, 44.0);
  vr_object_set(ctx.get(), VR_MONO_EYE, 1, 0);
  expect_point(ctx->left_eye, 13.0, 11.5, 42.0);
  // An unknown choice keeps the single eye and copies it to the right.
  ctx->left_eye[0] = 99.0;
  vr_object_set(ctx.get(), VR_MONO_EYE, 9, 0);
  expect_point(ctx->left_eye, 99.0, 11.5, 42.0);
  expect_point(ctx->right_eye, 99.0, 11.5, 42.0);
}

TEST(EyeCaching, FixedFieldOfView) {
  Ctx ctx = new_ctx();
  vr_object_set(ctx.get(), VR_EYE_POS_MODE, 1, 0);
  // The window's larger side (36.5 cm) spans 90 degrees.
  EXPECT_EQ(ctx->left_eye[2], 36.5 / (std::tan(std::numbers::pi / 4) * 2.0));
  expect_point(ctx->left_eye, 18.25, 12.95, 18.25);
  expect_point(ctx->right_eye, 18.25, 12.95, 18.25);

  vr_object_set(ctx.get(), VR_MONO_EYE, 2, 0);
  EXPECT_NEAR(ctx->left_eye[0], 14.95, 1e-12);
  EXPECT_EQ(ctx->right_eye[0], ctx->left_eye[0]);
  vr_object_set(ctx.get(), VR_MONO_EYE, 3, 0);  // the window centre, not the right offset
  EXPECT_EQ(ctx->left_eye[0], 18.25);

  vr_object_set(ctx.get(), VR_STEREO, 1, 0);
  expect_point(ctx->left_eye, 14.95, 12.95, 18.25);
  expect_point(ctx->right_eye, 21.55, 12.95, 18.25);

  // A portrait window uses its height.
  vr_window_match_ws(ctx.get(), 0, 0, 200, 600);
  EXPECT_NEAR(ctx->left_eye[2], ctx->window_height_cm / 2.0, 1e-12);
}

TEST(EyeCaching, WindowRelative) {
  Ctx ctx = new_ctx();
  vr_object_set(ctx.get(), VR_EYE_POS_MODE, 3, VR_STEREO, 1, 0);
  expect_point(ctx->left_eye, 14.95, 12.95, 35.0);
  expect_point(ctx->right_eye, 21.55, 12.95, 35.0);

  vr_object_set(ctx.get(), VR_SCREEN_RIGHT_EYE_Z, 50.0, 0);
  EXPECT_EQ(ctx->right_eye[2], 50.0);
  vr_object_set(ctx.get(), VR_STEREO, 0, 0);
  expect_point(ctx->left_eye, 18.25, 12.95, 35.0);
  expect_point(ctx->right_eye, 18.25, 12.95, 35.0);

  // The eyes follow the window.
  vr_window_match_ws(ctx.get(), 480, 0, 480, 340);
  expect_point(ctx->left_eye, 27.375, 19.425, 35.0);
}

TEST(EyeCaching, QuantizeForceClampsAndStoresTheIndices) {
  Ctx ctx = new_ctx();
  vr_object_set(ctx.get(), VR_QUANTIZE_LEFT_INDEX, 40, VR_QUANTIZE_FORCE, 1, VR_STEREO, 0, 0);
  EXPECT_EQ(ctx->quantize_left_index, 31);
  expect_point(ctx->left_eye, 27.775, 12.95, 18.8);
  expect_point(ctx->right_eye, 27.775, 12.95, 18.8);

  vr_object_set(ctx.get(), VR_QUANTIZE_LEFT_INDEX, -3, VR_QUANTIZE_RIGHT_INDEX, 100, VR_STEREO, 1,
                0);
  EXPECT_EQ(ctx->quantize_left_index, 0);
  EXPECT_EQ(ctx->quantize_right_index, 31);
  EXPECT_NEAR(ctx->left_eye[0], 8.09, 1e-12);
  EXPECT_NEAR(ctx->right_eye[0], 27.775, 1e-12);

  // The eye-position mode does not apply while forced.
  const Point left = {ctx->left_eye[0], ctx->left_eye[1], ctx->left_eye[2]};
  vr_object_set(ctx.get(), VR_EYE_POS_MODE, 1, 0);
  EXPECT_EQ((Point{ctx->left_eye[0], ctx->left_eye[1], ctx->left_eye[2]}), left);

  // An odd count puts the grid a half step off the centre.
  vr_object_set(ctx.get(), VR_QUANTIZE_STEPS, 5, VR_QUANTIZE_LEFT_INDEX, 2, VR_STEREO, 1, 0);
  EXPECT_NEAR(ctx->left_eye[0], 18.25 - 0.5 * 0.635, 1e-12);
}

TEST(EyeCaching, QuantizeSpaceSnapsTheScreenEyes) {
  Ctx ctx = new_ctx();
  vr_object_set(ctx.get(), VR_QUANTIZE_SPACE, 1, VR_STEREO, 0, 0);
  expect_point(ctx->left_eye, 17.615, 12.95, 18.8);
  expect_point(ctx->right_eye, 23.965, 12.95, 18.8);
  EXPECT_EQ(get_int(ctx.get(), VR_QUANTIZE_LEFT_INDEX), 15);
  EXPECT_EQ(get_int(ctx.get(), VR_QUANTIZE_RIGHT_INDEX), 25);

  // Left eye off the low end: grid position 0, the right eye at the true eye distance.
  vr_object_set(ctx.get(), VR_SCREEN_LEFT_EYE_X, -10.0, 0);
  EXPECT_NEAR(ctx->left_eye[0], 8.09, 1e-12);
  EXPECT_NEAR(ctx->right_eye[0], 8.09 + 34.35, 1e-12);
  EXPECT_EQ(ctx->quantize_left_index, 0);
  EXPECT_EQ(ctx->quantize_right_index, 31);

  // Right eye off the high end: the left eye keeps the distance to the last position.
  vr_object_set(ctx.get(), VR_SCREEN_LEFT_EYE_X, 17.75, VR_SCREEN_RIGHT_EYE_X, 100.0, 0);
  EXPECT_NEAR(ctx->right_eye[0], 27.775, 1e-12);
  EXPECT_NEAR(ctx->left_eye[0], 27.775 + 17.75 - 100.0, 1e-12);
  EXPECT_EQ(ctx->quantize_left_index, 0);
  EXPECT_EQ(ctx->quantize_right_index, 31);
}

TEST(EyeCaching, DegenerateGridsStayDefined) {
  // Coordinates that no int can hold: a zero step, huge or non-finite eyes, extreme counts.
  Ctx ctx = new_ctx();
  vr_object_set(ctx.get(), VR_QUANTIZE_SPACE, 1, VR_QUANTIZE_STEP, 0.0, 0);
  vr_cache_eye_pos(ctx.get());
  EXPECT_EQ(ctx->quantize_left_index, 0);
  EXPECT_EQ(ctx->quantize_right_index, 31);

  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double extremes[] = {1e300, -1e300, inf, -inf, nan, 3e9, -3e9};
  const int counts[] = {INT_MIN, -1, 0, 1, 32, INT_MAX};
  for (double x : extremes) {
    for (int n : counts) {
      // Non-finite eyes are refused when set, so the grid is recomputed here, not by the setter.
      vr_object_set(ctx.get(), VR_QUANTIZE_STEP, 0.635, VR_QUANTIZE_STEPS, n, VR_SCREEN_LEFT_EYE_X,
                    x, VR_SCREEN_RIGHT_EYE_X, -x, 0);
      vr_cache_eye_pos(ctx.get());
      const int top = n > 0 ? n - 1 : 0;
      EXPECT_GE(ctx->quantize_left_index, 0);
      EXPECT_LE(ctx->quantize_left_index, top);
      EXPECT_GE(ctx->quantize_right_index, 0);
      EXPECT_LE(ctx->quantize_right_index, top);
    }
  }
  vr_object_set(ctx.get(), VR_QUANTIZE_SPACE, 0, VR_QUANTIZE_FORCE, 1, VR_QUANTIZE_STEPS, INT_MIN,
                VR_QUANTIZE_LEFT_INDEX, INT_MAX, 0);
  vr_cache_eye_pos(ctx.get());
  EXPECT_EQ(ctx->quantize_left_index, 0);
}

TEST(EyeCaching, HookRunsAfterEveryCall) {
  Ctx ctx = new_ctx();
  eye_hook_calls = 0;
  vr_object_set(ctx.get(), VR_EYE_HOOK_FN, &count_eye_hook, VR_EYE_POS_MODE, 7, 0);
  EXPECT_EQ(eye_hook_calls, 1);
  // No mode applies: the eyes stay as they were.
  const dpt before = {ctx->left_eye[0], ctx->left_eye[1], ctx->left_eye[2]};
  vr_cache_eye_pos(ctx.get());
  EXPECT_EQ(eye_hook_calls, 2);
  expect_point(ctx->left_eye, before[0], before[1], before[2], 0.0);
  vr_object_set(ctx.get(), VR_QUANTIZE_FORCE, 1, VR_STEREO, 1, 0);
  EXPECT_EQ(eye_hook_calls, 3);
}
