// The per-frame view computation in the desk-top mode.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "view_test_util.h"
#include "vr_view_internal.h"

using namespace view_test;

namespace {

bool all_zero(const double (*m)[4]) {
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) {
      if (m[r][c] != 0.0) return false;
    }
  }
  return true;
}

void expect_same(const double (*a)[4], const double (*b)[4]) {
  EXPECT_EQ(std::memcmp(a, b, sizeof(dmat)), 0);
}

std::string order;
void mouse_event(vr_ctx *) {
  order += "m";
}
// A head tracker that moves the viewer 10 cm to the right.
void glasses_event(vr_ctx *ctx) {
  order += "g";
  ctx->screen_left_eye[0] = 27.75;
  ctx->screen_right_eye[0] = 34.35;
}
void eye_hook(vr_ctx *) {
  order += "e";
}

}  // namespace

TEST(CompView, DefaultFrameUsesTheCachedEyeAndTheDefaultPlanes) {
  Ctx ctx = new_ctx();
  EXPECT_TRUE(all_zero(get_matrix(ctx.get(), VR_LEFT_VIEW)));
  vr_comp_view(ctx.get());

  // Hither 5 cm in front of the eye (relative), yon 100 cm behind the plate (absolute); the first
  // depth plane 100 cm behind the eye, the second on the yon plane.
  Ctx reference = new_ctx();
  const dpt eye = {21.05, 13.75, 35.0};
  dmat expected;
  vr_make_v(reference.get(), eye, 30.0, -100.0, -65.0, -100.0, expected, 0);
  expect_same(get_matrix(ctx.get(), VR_LEFT_VIEW), expected);
  EXPECT_EQ(get_double(ctx.get(), VR_DEPTH_FRONT_NDC), reference->depth_front_ndc);
  EXPECT_NEAR(get_double(ctx.get(), VR_DEPTH_BACK_NDC), -1.0, 1e-12);

  // One eye, no head-relative views: nothing else is written.
  EXPECT_TRUE(all_zero(get_matrix(ctx.get(), VR_RIGHT_VIEW)));
  EXPECT_TRUE(all_zero(get_matrix(ctx.get(), VR_LEFT_HEAD_VIEW)));
  EXPECT_TRUE(all_zero(get_matrix(ctx.get(), VR_HEAD_TO_WORLD)));
}

TEST(CompView, ScaledPlanesFollowTheWorldScale) {
  Ctx ctx = new_ctx();
  // World scale 2/25.9 times the god's-eye scale 12.95: one, to rounding.
  vr_object_set(ctx.get(), VR_HITHER_SCALE_MODE, 2, VR_YON_SCALE_MODE, 2, 0);
  vr_comp_view(ctx.get());
  Ctx unscaled = new_ctx();
  vr_comp_view(unscaled.get());
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) EXPECT_NEAR(ctx->left_view[r][c], unscaled->left_view[r][c], 1e-12);
  }

  // A negative god's-eye scale still scales by a positive factor; here by 2.
  Ctx doubled = new_ctx();
  vr_object_set(doubled.get(), VR_GODS_EYE_CENTER_MODE, 0, VR_GODS_EYE_SCALE, -25.9, 0);
  vr_object_set(doubled.get(), VR_HITHER_SCALE_MODE, 2, VR_HITHER, -2.5, VR_HITHER_RELATIVE, 1, 0);
  vr_comp_view(doubled.get());
  Ctx plain = new_ctx();
  dmat expected;
  vr_make_v(plain.get(), plain->left_eye, 30.0, -100.0, 35.0 + 2.0 * -100.0, -100.0, expected, 0);
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) EXPECT_NEAR(doubled->left_view[r][c], expected[r][c], 1e-12);
  }
  EXPECT_NEAR(doubled->depth_front_ndc, plain->depth_front_ndc, 1e-12);
}

TEST(CompView, StereoAndHeadRelativeViews) {
  Ctx ctx = new_ctx();
  vr_object_set(ctx.get(), VR_HEAD_RELATIVE_VIEWS, 1, 0);
  vr_comp_view(ctx.get());
  EXPECT_FALSE(all_zero(get_matrix(ctx.get(), VR_LEFT_HEAD_VIEW)));
  EXPECT_TRUE(all_zero(get_matrix(ctx.get(), VR_RIGHT_VIEW)));
  EXPECT_TRUE(all_zero(get_matrix(ctx.get(), VR_RIGHT_HEAD_VIEW)));

  vr_object_set(ctx.get(), VR_STEREO, 1, 0);
  vr_comp_view(ctx.get());
  Ctx reference = new_ctx();
  const dpt left = {17.75, 13.75, 35.0}, right = {24.35, 13.75, 35.0};
  dmat expected;
  vr_make_v(reference.get(), left, 30.0, -100.0, -65.0, -100.0, expected, 0);
  expect_same(ctx->left_view, expected);
  const double left_depth = reference->depth_front_ndc;
  vr_make_v(reference.get(), right, 30.0, -100.0, 1e23, 1e23, expected, 0);
  expect_same(ctx->right_view, expected);
  vr_make_v(reference.get(), left, 34.95, 33.5, 1e23, 1e23, expected, 1);
  expect_same(ctx->left_head_view, expected);
  vr_make_v(reference.get(), right, 34.95, 33.5, 1e23, 1e23, expected, 1);
  expect_same(ctx->right_head_view, expected);
  // The depth planes belong to the left eye; the corner rays to the right, built last.
  EXPECT_EQ(ctx->depth_front_ndc, left_depth);
  EXPECT_EQ(std::memcmp(ctx->window_corner_dirs, reference->window_corner_dirs,
                        sizeof ctx->window_corner_dirs),
            0);
}

TEST(CompView, TrackersRunFirstMouseBeforeHead) {
  Ctx ctx = new_ctx();
  order.clear();
  vr_object_set(ctx.get(), VR_MOUSE_EVENT_FN, &mouse_event, VR_GLASSES_EVENT_FN, &glasses_event,
                VR_EYE_HOOK_FN, &eye_hook, 0);
  order.clear();
  vr_comp_view(ctx.get());
  EXPECT_EQ(order, "mge");
  // The view follows the head the glasses reported in this very frame.
  EXPECT_NEAR(ctx->left_eye[0], 31.05, 1e-12);
  Ctx reference = new_ctx();
  const dpt eye = {31.05, 13.75, 35.0};
  dmat expected;
  vr_make_v(reference.get(), eye, 30.0, -100.0, -65.0, -100.0, expected, 0);
  expect_same(ctx->left_view, expected);
}

TEST(CompView, EndOfFrameFramesAndTheCoexistenceRefresh) {
  Ctx ctx = new_ctx();
  vr_object_set(ctx.get(), VR_HEAD_TO_WORLD_WANTED, 1, VR_MOUSE_TO_WORLD_WANTED, 1, 0);
  vr_mat_identity(ctx->head_to_dig);
  vr_mat_trans(0.0, 0.0, 10.0, ctx->mouse_to_dig);
  vr_comp_view(ctx.get());
  // The transmitter origin sits at plate (18.28, 37.71, 4.6); the world is plate cm around the
  // window centre.
  auto head = transform(ctx->head_to_world, 0.0, 0.0, 0.0);
  EXPECT_NEAR(head[0], 0.03, 1e-4);
  EXPECT_NEAR(head[1], 24.76, 1e-4);
  EXPECT_NEAR(head[2], 4.6, 1e-4);
  auto mouse = transform(ctx->mouse_to_world, 0.0, 0.0, 0.0);
  const double a = 50.0 * std::acos(-1.0) / 180.0;  // the transmitter's lean
  EXPECT_NEAR(mouse[1], 24.76 + 10.0 * -std::sin(a), 1e-4);
  EXPECT_NEAR(mouse[2], 4.6 + 10.0 * std::cos(a), 1e-4);

  // Attribute changes are made consistent at the end of the frame, then the flag drops.
  EXPECT_EQ(ctx->attributes_changed, 0);
  vr_object_set(ctx.get(), VR_GODS_EYE_Z_FACTOR, 1.0, 0);  // no side effect of its own
  EXPECT_NEAR(ctx->coexistence_to_plate[3][2], 0.0, 1e-4);
  vr_comp_view(ctx.get());
  EXPECT_EQ(ctx->attributes_changed, 0);
  EXPECT_NEAR(ctx->coexistence_to_plate[3][2], 25.9, 1e-4);

  // Without a god's-eye centre the flag stays up.
  vr_object_set(ctx.get(), VR_GODS_EYE_CENTER_MODE, 0, 0);
  vr_comp_view(ctx.get());
  EXPECT_EQ(ctx->attributes_changed, 1);
}

TEST(CompView, TimeAdvancesEveryFrame) {
  Ctx ctx = new_ctx();
  vr_comp_view(ctx.get());
  const double first = ctx->pworld_time_now;
  vr_comp_view(ctx.get());
  EXPECT_EQ(ctx->pworld_time_prev, first);
  EXPECT_EQ(ctx->pworld_time_delta, ctx->pworld_time_now - first);
  EXPECT_GE(ctx->pworld_time_now, first);
}
