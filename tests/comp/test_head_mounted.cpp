// The head-mounted display mode: one plate per eye riding on the head.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "view_test_util.h"
#include "vr_view_internal.h"

using namespace view_test;

namespace {

void expect_matrix_near(const double (*a)[4], const double (*b)[4], double tolerance = 0.0) {
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) EXPECT_NEAR(a[r][c], b[r][c], tolerance) << r << "," << c;
  }
}

// world -> coexistence -> tracker -> head -> the eye's plate -> clip coordinates
void head_mounted_view(vr_ctx *ctx, int eye, dmat out) {
  dmat a;
  vr_mat_mul_mat(ctx->head_to_lr_plate[eye], ctx->lr_plate_to_cc[eye], a);
  vr_mat_mul_mat(ctx->dig_to_head, a, a);
  vr_mat_mul_mat(ctx->coexistence_to_dig, a, a);
  vr_mat_mul_mat(ctx->world_to_coexistence, a, out);
}

class HeadMounted : public testing::Test {
 protected:
  void SetUp() override {
    ctx = new_ctx();
    // A window off the plate origin, so its true centre differs from half its far corner.
    vr_window_match_ws(ctx.get(), 480, 0, 480, 340);
    vr_object_set(ctx.get(), VR_TRACKING_MODE, 5, VR_STEREO, 1, 0);
    make_head_to_lr_plate(ctx.get());
    make_coexistence_to_dig(ctx.get(), 45.72);
    vr_mat_identity(ctx->head_to_dig);
  }
  Ctx ctx;
};

}  // namespace

TEST_F(HeadMounted, EachEyeLooksAtTheCentreOfItsPlate) {
  vr_comp_view(ctx.get());
  // Eye 36 cm in front of the window centre (27.375, 19.425): a centred projection.
  Ctx reference = new_ctx();
  vr_window_match_ws(reference.get(), 480, 0, 480, 340);
  const dpt eye = {27.375, 19.425, 36.0};
  vr_compute_lr_plate_to_cc(reference.get(), eye, 30.0, -100.0, 0);
  expect_matrix_near(ctx->lr_plate_to_cc[0], reference->lr_plate_to_cc[0], 1e-15);
  expect_matrix_near(ctx->lr_plate_to_cc[1], reference->lr_plate_to_cc[0], 1e-15);
  EXPECT_NEAR(ctx->lr_plate_to_cc[0][2][0], 0.0, 1e-15);
  EXPECT_NEAR(ctx->lr_plate_to_cc[0][2][1], 0.0, 1e-15);
  // The desk-top views' depth planes are not used here.
  EXPECT_EQ(ctx->depth_front_ndc, -1.0);
}

TEST_F(HeadMounted, ViewsRunThroughTheHeadFrames) {
  vr_mat_rot_x(0.3, ctx->head_to_dig);
  ctx->head_to_dig[3][1] = -70.0;
  vr_comp_view(ctx.get());

  dmat inverse;
  vr_mat_inv2(ctx->head_to_dig, inverse);
  expect_matrix_near(ctx->dig_to_head, inverse);
  dmat expected;
  head_mounted_view(ctx.get(), 0, expected);
  expect_matrix_near(get_matrix(ctx.get(), VR_LEFT_VIEW), expected);
  head_mounted_view(ctx.get(), 1, expected);
  expect_matrix_near(get_matrix(ctx.get(), VR_RIGHT_VIEW), expected);

  // Up of the head in world coordinates: the tracker's y is the coexistence z.
  const Point up = get_point(ctx.get(), VR_WORLD_UP);
  EXPECT_NEAR(up[0], 0.0, 1e-6);
  EXPECT_NEAR(up[1], -std::sin(0.3), 1e-6);
  EXPECT_NEAR(up[2], std::cos(0.3), 1e-6);

  // The end-of-frame consistency step does not run in this mode.
  EXPECT_EQ(ctx->attributes_changed, 1);
}

TEST_F(HeadMounted, MonoKeepsTheRightPlateButStillFormsTheRightView) {
  vr_comp_view(ctx.get());
  dmat right_plate;
  vr_mat_copy(ctx->lr_plate_to_cc[1], right_plate);
  vr_object_set(ctx.get(), VR_STEREO, 0, VR_SCREEN_LEFT_EYE_Z, 50.0, 0);
  vr_comp_view(ctx.get());
  expect_matrix_near(ctx->lr_plate_to_cc[1], right_plate);     // not rebuilt
  EXPECT_NE(ctx->lr_plate_to_cc[0][2][2], right_plate[2][2]);  // the left one follows hither
  dmat expected;
  head_mounted_view(ctx.get(), 1, expected);
  expect_matrix_near(ctx->right_view, expected);
}

TEST_F(HeadMounted, TrackedFramesInWorldCoordinates) {
  vr_mat_copy(ctx->coexistence_to_dig, ctx->gods_eye_to_dig);
  consistify_coexistence_center(ctx.get());
  vr_object_set(ctx.get(), VR_HEAD_TO_WORLD_WANTED, 1, VR_MOUSE_TO_WORLD_WANTED, 1, 0);
  vr_mat_trans(0.0, -75.48, 0.0, ctx->mouse_to_dig);  // at the coexistence origin
  vr_comp_view(ctx.get());
  // The tracker origin lies 75.48 coexistence units along z; one unit is 12.95 world units.
  const double world_per_coexistence = 25.9 / 2.0;
  const auto head = transform(ctx->head_to_world, 0.0, 0.0, 0.0);
  EXPECT_NEAR(head[0], 0.0, 1e-3);
  EXPECT_NEAR(head[1], 0.0, 1e-3);
  EXPECT_NEAR(head[2], 75.48 * world_per_coexistence, 1e-3);
  const auto mouse = transform(ctx->mouse_to_world, 0.0, 0.0, 0.0);
  EXPECT_NEAR(mouse[2], 0.0, 1e-3);
}
