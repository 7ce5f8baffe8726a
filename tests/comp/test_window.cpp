// Window tracking: pixels from the window system to plate centimetres.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>

#include "view_test_util.h"

using namespace view_test;

TEST(Window, DefaultsCoverTheScreen) {
  Ctx ctx = new_ctx();
  EXPECT_NEAR(ctx->cm_per_pixel_x, 0.0380208, 1e-7);
  EXPECT_NEAR(ctx->cm_per_pixel_y, 0.0380882, 1e-7);
  EXPECT_EQ(ctx->window_left_cm, 0.0);
  EXPECT_EQ(ctx->window_bottom_cm, 0.0);
  EXPECT_EQ(ctx->window_width_cm, 36.5);
  EXPECT_EQ(ctx->window_height_cm, 25.9);
  EXPECT_EQ(get_point(ctx.get(), VR_WINDOW_CENTER), (Point{18.25, 12.95, 0.0}));
}

TEST(Window, PixelRowsFlipToThePlate) {
  Ctx ctx = new_ctx();
  vr_window_match_ws(ctx.get(), 0, 0, 960, 340);  // touching the top, half the height
  EXPECT_NEAR(ctx->window_bottom_cm, 25.9 / 2.0, 1e-12);
  EXPECT_NEAR(ctx->window_center[1], 25.9 * 0.75, 1e-12);
  EXPECT_EQ(ctx->window_y_pixels, 0.0);
  EXPECT_EQ(ctx->window_height_pixels, 340.0);

  // Partly off the screen: accepted as given.
  vr_window_match_ws(ctx.get(), -96, 612, 192, 136);
  EXPECT_NEAR(ctx->window_left_cm, -3.65, 1e-12);
  EXPECT_NEAR(ctx->window_bottom_cm, -68 * 25.9 / 680.0, 1e-12);
  EXPECT_NEAR(ctx->window_center[0], 0.0, 1e-12);
}

TEST(Window, ComputationIsExplicit) {
  Ctx ctx = new_ctx();
  vr_object_set(ctx.get(), VR_WINDOW_X, 480.0, VR_WINDOW_WIDTH, 480.0, VR_SCREEN_WIDTH_CM, 40.0, 0);
  EXPECT_EQ(ctx->window_left_cm, 0.0);
  EXPECT_EQ(ctx->window_center[0], 18.25);
  vr_window_comp(ctx.get());
  EXPECT_EQ(ctx->window_left_cm, 20.0);
  EXPECT_EQ(ctx->window_center[0], 30.0);
  // The eyes and the coexistence frame follow.
  EXPECT_NEAR(ctx->coexistence_to_plate[3][0], 30.0, 1e-4);
  vr_object_set(ctx.get(), VR_EYE_POS_MODE, 3, 0);
  vr_window_match_ws(ctx.get(), 0, 0, 480, 680);
  EXPECT_NEAR(ctx->left_eye[0], 10.0, 1e-12);
  EXPECT_NEAR(ctx->coexistence_to_plate[3][0], 10.0, 1e-4);
}

TEST(Window, FullscreenTruncatesThePixelCounts) {
  Ctx ctx = new_ctx();
  int x = -1, y = -1, w = -1, h = -1;
  vr_object_set(ctx.get(), VR_SCREEN_WIDTH_PIXELS, 1279.9, VR_SCREEN_HEIGHT_PIXELS, 1023.5, 0);
  vr_window_fullscreen(ctx.get(), &x, &y, &w, &h);
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 0);
  EXPECT_EQ(w, 1279);
  EXPECT_EQ(h, 1023);
  EXPECT_EQ(ctx->window_width_pixels, 960.0);  // the context is not changed

  // Counts no int can hold are pinned instead of converted with undefined results; a count
  // that is not a number is refused when set, so the old one stays.
  vr_object_set(ctx.get(), VR_SCREEN_WIDTH_PIXELS, 1e12, VR_SCREEN_HEIGHT_PIXELS,
                std::numeric_limits<double>::quiet_NaN(), 0);
  vr_window_fullscreen(ctx.get(), &x, &y, &w, &h);
  EXPECT_EQ(w, INT_MAX);
  EXPECT_EQ(h, 1023);
  ctx->screen_height_pixels = -1e12;  // written around the setter: still pinned
  vr_window_fullscreen(ctx.get(), &x, &y, &w, &h);
  EXPECT_EQ(h, INT_MIN);
  vr_window_fullscreen(ctx.get(), nullptr, nullptr, nullptr, nullptr);
}

TEST(Window, ZeroScreenIsRefusedAndTheViewsStayFinite) {
  Ctx ctx = new_ctx();
  testing::internal::CaptureStderr();
  vr_object_set(ctx.get(), VR_SCREEN_WIDTH_PIXELS, 0.0, VR_SCREEN_HEIGHT_PIXELS, 0.0,
                VR_QUANTIZE_SPACE, 1, VR_STEREO, 1, 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Bad value for vr_object_set 1\nBad value for vr_object_set 2\n");
  EXPECT_EQ(ctx->screen_width_pixels, 960.0);
  vr_window_comp(ctx.get());
  EXPECT_TRUE(std::isfinite(ctx->cm_per_pixel_x));
  vr_object_set(ctx.get(), VR_HEAD_RELATIVE_VIEWS, 1, 0);
  vr_comp_view(ctx.get());
  for (int i = 0; i < 16; ++i) EXPECT_TRUE(std::isfinite(ctx->left_view[i / 4][i % 4]));
  EXPECT_GE(ctx->quantize_left_index, 0);
  EXPECT_LE(ctx->quantize_left_index, 31);
}
