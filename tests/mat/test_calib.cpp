// Calibration frames, the pose matrix and the diagnostic print.
#include <cmath>
#include <memory>
#include <numbers>
#include <vector>

#include "mat_check.h"
#include "vr_mat_internal.h"

namespace {

constexpr double tilt = 50 * std::numbers::pi / 180;

TEST(Calib, LeaningTriangleWritesDigToPlateThroughTheContext) {
  auto ctx = std::make_unique<vr_ctx>();
  std::fill(&ctx->dig_to_plate[0][0], &ctx->dig_to_plate[0][0] + 16, 7.0);
  dmat expected;
  leaning_triangle_make_dig_to_plate(ctx.get(), 0, 1, 2, 3);
  vr_mat_trans(1, 2, 3, expected);
  EXPECT_MAT_EQ(ctx->dig_to_plate, expected);

  leaning_triangle_make_dig_to_plate(ctx.get(), tilt, 18.28, 37.71, 4.6);
  const dpt dig_y = {0, 1, 0};  // tilted toward the viewer
  dpt out;
  vr_mat_mul_dpt(dig_y, ctx->dig_to_plate, out);
  EXPECT_PT_NEAR(out, 18.28, 37.71 + std::cos(tilt), 4.6 + std::sin(tilt), 1e-14);
  EXPECT_PT_NEAR(ctx->dig_to_plate[3], 18.28, 37.71, 4.6, 0);
  fake_make_dig_to_plate(tilt, 18.28, 37.71, 4.6, expected);
  EXPECT_MAT_EQ(ctx->dig_to_plate, expected);
}

TEST(Calib, PlateToDigUndoesDigToPlateAfterItsShift) {
  dmat to_plate, to_dig;
  fake_make_dig_to_plate(tilt, 18.28, 37.71, 4.6, to_plate);
  fake_make_plate_to_dig(tilt, 18.28, 37.71, 4.6, 0, to_dig);
  vr_mat_mul_mat(to_plate, to_dig, to_dig);
  EXPECT_LT(mat_check::max_abs_diff_from_identity(to_dig), 1e-14);

  fake_make_plate_to_dig(tilt, 18.28, 37.71, 4.6, 5, to_dig);  // shift along y comes first
  dpt p = {18.28, 37.71 - 5, 4.6};
  vr_mat_mul_dpt(p, to_dig, p);
  EXPECT_PT_NEAR(p, 0, 0, 0, 1e-14);
}

TEST(Calib, HeadMountedFrames) {
  auto ctx = std::make_unique<vr_ctx>();
  std::fill(&ctx->coexistence_to_dig[0][0], &ctx->coexistence_to_dig[0][0] + 16, 7.0);
  std::fill(&ctx->head_to_lr_plate[0][0][0], &ctx->head_to_lr_plate[0][0][0] + 32, 7.0);
  const dpt origin = {0, 0, 0}, p = {1, 2, 3};
  dpt out;
  make_coexistence_to_dig(ctx.get(), 45.72);
  vr_mat_mul_dpt(origin, ctx->coexistence_to_dig, out);
  EXPECT_PT_NEAR(out, 0, -75.48, 0, 1e-13);
  make_coexistence_to_dig(ctx.get(), 50);
  vr_mat_mul_dpt(p, ctx->coexistence_to_dig, out);
  EXPECT_PT_NEAR(out, 1, 3 - 75.48, 50 - 45.72 - 2, 1e-13);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(ctx->coexistence_to_dig[i][3], i == 3 ? 1.0 : 0.0);

  ctx->screen_width_cm = 36.5;
  ctx->screen_height_cm = 25.9;
  const dpt left = {-3.3, 2.0, 3.5}, right = {3.3, 2.0, 3.5};
  std::copy(left, left + 3, ctx->left_eye_offset);
  std::copy(right, right + 3, ctx->right_eye_offset);
  make_head_to_lr_plate(ctx.get());
  EXPECT_PT_NEAR(ctx->head_to_lr_plate[0][3], 14.95, 14.95, 36.52, 1e-13);
  vr_mat_mul_dpt(p, ctx->head_to_lr_plate[1], out);
  EXPECT_PT_NEAR(out, 21.55 - 1, 14.95 - 3, 36.52 - 2, 1e-13);
  EXPECT_EQ(ctx->head_to_lr_plate[1][0][3], 0.0);
  EXPECT_EQ(ctx->head_to_lr_plate[1][3][3], 1.0);
}

TEST(Calib, SimMatIsYawAfterPitchOnly) {
  const double pose[6] = {5, 6, 7, 0.3, 0.4, 0.5};
  dmat out, rx, ry;
  build_sim_mat(pose, out);
  vr_mat_rot_x(0.4, rx);
  vr_mat_rot_y(0.5, ry);
  vr_mat_mul_mat(ry, rx, ry);
  EXPECT_MAT_EQ(out, ry);
}

std::vector<unsigned> slept;

TEST(Calib, PrintMattPrintsFivePointsAndPausesThroughThePlatform) {
  vr_platform recording = *vr_platform_default();
  recording.sleep_seconds = [](void *, unsigned s) { slept.push_back(s); };
  vr_platform_install(&recording);
  const double pose[6] = {1, 2, 3, 0, 0, 0};
  testing::internal::CaptureStdout();
  print_matt(pose);
  const std::string text = testing::internal::GetCapturedStdout();
  vr_platform_install(nullptr);
  EXPECT_EQ(text,
            "pl\t 0.000\t 0.000\t-1.000\n"
            "pl_I\t 0.000\t 0.000\t-1.000\n"
            "pl_II\t 0.000\t 0.000\t-1.000\n"
            "pl_III\t 0.000\t 0.000\t-1.000\n"
            "pl_III'\t 0.000\t 0.000\t-1.000\n"
            "\n");
  EXPECT_EQ(slept, std::vector<unsigned>{1});
}

}  // namespace
