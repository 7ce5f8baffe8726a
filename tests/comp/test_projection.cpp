// The off-axis projection and the eye view matrix built on it.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "view_test_util.h"
#include "vr_view_internal.h"

using namespace view_test;

namespace {

// Clip coordinates after the division by w.
struct Ndc {
  double x, y, z;
};

Ndc project(const double (*m)[4], double x, double y, double z) {
  const auto h = transform(m, x, y, z);
  return Ndc{h[0] / h[3], h[1] / h[3], h[2] / h[3]};
}

void expect_same_within(const double (*a)[4], const double (*b)[4], double tolerance) {
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) EXPECT_NEAR(a[r][c], b[r][c], tolerance) << r << "," << c;
  }
}

}  // namespace

TEST(OffAxisProjection, WorkedExample) {
  Ctx ctx = new_ctx();  // full-screen window: L 0, R 36.5, B 0, T 25.9
  const dpt eye = {18.25, 12.95, 60.0};
  vr_compute_lr_plate_to_cc(ctx.get(), eye, 55.0, -100.0, 0);
  const double(*p)[4] = ctx->lr_plate_to_cc[0];
  EXPECT_NEAR(p[0][0], 0.0205479, 1e-7);
  EXPECT_NEAR(p[1][1], 0.0289575, 1e-7);
  EXPECT_EQ(p[2][0], 0.0);
  EXPECT_EQ(p[2][1], 0.0);
  EXPECT_NEAR(p[2][2], 0.0066532, 1e-7);
  EXPECT_EQ(p[2][3], -0.00625);
  EXPECT_NEAR(p[3][0], -0.375, 1e-15);
  EXPECT_NEAR(p[3][1], -0.375, 1e-15);
  EXPECT_NEAR(p[3][2], -0.3346774, 1e-7);
  EXPECT_EQ(p[3][3], 0.375);
  // Off-diagonal identity elements stay zero.
  EXPECT_EQ(p[0][1], 0.0);
  EXPECT_EQ(p[1][3], 0.0);

  const Ndc corner = project(p, 0.0, 0.0, 0.0);
  EXPECT_NEAR(corner.x, -1.0, 1e-12);
  EXPECT_NEAR(corner.y, -1.0, 1e-12);
  EXPECT_NEAR(corner.z, -0.892473, 1e-6);
  EXPECT_NEAR(project(p, 18.25, 12.95, 55.0).z, 1.0, 1e-12);
  EXPECT_NEAR(project(p, 18.25, 12.95, -100.0).z, -1.0, 1e-12);

  // The right eye's selector writes the other matrix.
  vr_compute_lr_plate_to_cc(ctx.get(), eye, 55.0, -100.0, 7);
  expect_same_within(ctx->lr_plate_to_cc[1], ctx->lr_plate_to_cc[0], 0.0);
}

TEST(OffAxisProjection, OffCentreEyeStillMapsTheWindowToTheUnitSquare) {
  Ctx ctx = new_ctx();
  vr_window_match_ws(ctx.get(), 100, 50, 400, 300);
  const dpt eye = {2.0, 30.0, 35.0};
  vr_compute_lr_plate_to_cc(ctx.get(), eye, 30.0, -50.0, 0);
  const double L = ctx->window_left_cm, B = ctx->window_bottom_cm;
  const double R = L + ctx->window_width_cm, T = B + ctx->window_height_cm;
  const double(*p)[4] = ctx->lr_plate_to_cc[0];
  const struct {
    double x, y, nx, ny;
  } corners[] = {{L, B, -1, -1}, {R, B, 1, -1}, {L, T, -1, 1}, {R, T, 1, 1}};
  for (const auto &c : corners) {
    const Ndc n = project(p, c.x, c.y, 0.0);
    EXPECT_NEAR(n.x, c.nx, 1e-12);
    EXPECT_NEAR(n.y, c.ny, 1e-12);
  }
  // A point in front of the plate lands where the line from the eye through it meets the plate.
  const double t = 35.0 / (35.0 - 10.0);
  const Ndc in_front = project(p, 5.0, 20.0, 10.0);
  const Ndc on_plate = project(p, 2.0 + (5.0 - 2.0) * t, 30.0 + (20.0 - 30.0) * t, 0.0);
  EXPECT_NEAR(in_front.x, on_plate.x, 1e-12);
  EXPECT_NEAR(in_front.y, on_plate.y, 1e-12);
}

TEST(EyeViewMatrix, WorldViewIsProjectionBehindTheFrameChain) {
  Ctx ctx = new_ctx();
  vr_object_set(ctx.get(), VR_CRT_CORRECTION, 0, 0);
  const dpt eye = {20.0, 10.0, 45.0};
  dmat view;
  vr_make_v(ctx.get(), eye, 40.0, -80.0, 1e23, 1e23, view, 0);

  vr_compute_lr_plate_to_cc(ctx.get(), eye, 40.0, -80.0, 0);
  dmat q, expected;
  vr_mat_mul_mat(ctx->coexistence_to_plate, ctx->lr_plate_to_cc[0], q);
  vr_mat_mul_mat(ctx->world_to_coexistence, q, expected);
  expect_same_within(view, expected, 0.0);

  // One world unit is one plate centimetre around the window centre: the world point over the
  // lower left window corner goes to the lower left of clip space.
  const Ndc n = project(view, -18.25, -12.95, 0.0);
  EXPECT_NEAR(n.x, -1.0, 1e-5);
  EXPECT_NEAR(n.y, -1.0, 1e-5);
}

TEST(EyeViewMatrix, CrtCorrectionWidensTheWindowAsSeen) {
  Ctx ctx = new_ctx();
  const dpt eye = {18.25, 12.95, 60.0};
  dmat view;
  vr_make_v(ctx.get(), eye, 55.0, -100.0, 1e23, 1e23, view, 1);
  // The corrected corners, not the phosphor corners, bound the eye-relative projection.
  double l, b, r, t;
  vr_correct_crt(ctx.get(), eye, 0.0, 0.0, &l, &b);
  vr_correct_crt(ctx.get(), eye, 36.5, 25.9, &r, &t);
  EXPECT_LT(l, 0.0);
  EXPECT_GT(r, 36.5);
  const Ndc low = project(view, l - eye[0], b - eye[1], -eye[2]);
  const Ndc high = project(view, r - eye[0], t - eye[1], -eye[2]);
  EXPECT_NEAR(low.x, -1.0, 1e-12);
  EXPECT_NEAR(low.y, -1.0, 1e-12);
  EXPECT_NEAR(high.x, 1.0, 1e-12);
  EXPECT_NEAR(high.y, 1.0, 1e-12);
  EXPECT_NEAR(ctx->window_corner_dirs[0][0] / ctx->window_corner_dirs[0][2], (l - eye[0]) / -eye[2],
              1e-12);
}

TEST(EyeViewMatrix, DepthReferencePlanes) {
  Ctx ctx = new_ctx();
  const dpt eye = {18.25, 12.95, 60.0};
  dmat view;
  ctx->depth_front_ndc = 0.25;
  ctx->depth_back_ndc = 0.75;
  vr_make_v(ctx.get(), eye, 55.0, -100.0, 1e23, 0.0, view, 0);  // no planes: both kept
  EXPECT_EQ(ctx->depth_front_ndc, 0.25);
  EXPECT_EQ(ctx->depth_back_ndc, 0.75);

  vr_make_v(ctx.get(), eye, 55.0, -100.0, 55.0, -100.0, view, 0);
  EXPECT_NEAR(ctx->depth_front_ndc, 1.0, 1e-12);
  EXPECT_NEAR(ctx->depth_back_ndc, -1.0, 1e-12);
  vr_make_v(ctx.get(), eye, 55.0, -100.0, 0.0, -300.0, view, 0);
  EXPECT_NEAR(ctx->depth_front_ndc, -0.892473, 1e-6);
  EXPECT_EQ(ctx->depth_back_ndc, -1.0);  // beyond the yon plane: held at -1
  vr_make_v(ctx.get(), eye, 55.0, -100.0, 58.0, 1e30, view, 0);
  EXPECT_EQ(ctx->depth_front_ndc, 1.0);  // nearer than hither: held at 1
}

TEST(EyeViewMatrix, EyeRelativeRaysAreSymmetricForACentredEye) {
  Ctx ctx = new_ctx();
  vr_object_set(ctx.get(), VR_CRT_CORRECTION, 0, 0);
  const dpt eye = {18.25, 12.95, 35.0};
  dmat view;
  vr_make_v(ctx.get(), eye, 34.95, 33.5, 1e23, 1e23, view, 1);
  const double len = std::sqrt(18.25 * 18.25 + 12.95 * 12.95 + 35.0 * 35.0);
  const double sx[4] = {-1, 1, -1, 1}, sy[4] = {-1, -1, 1, 1};
  for (int i = 0; i < 4; ++i) {
    EXPECT_NEAR(ctx->window_corner_dirs[i][0], sx[i] * 18.25 / len, 1e-12);
    EXPECT_NEAR(ctx->window_corner_dirs[i][1], sy[i] * 12.95 / len, 1e-12);
    EXPECT_NEAR(ctx->window_corner_dirs[i][2], -35.0 / len, 1e-12);
  }
  // The eye-relative matrix takes a point given from the eye to the clip cube.
  const Ndc n = project(view, 18.25, 12.95, -35.0);
  EXPECT_NEAR(n.x, 1.0, 1e-12);
  EXPECT_NEAR(n.y, 1.0, 1e-12);
  EXPECT_NEAR(project(view, 0.0, 0.0, -0.05).z, 1.0, 1e-9);

  // The corner rays go through corner_dir_matrix as points, then are normalised.
  vr_mat_rot_z(std::numbers::pi / 2, ctx->corner_dir_matrix);
  vr_make_v(ctx.get(), eye, 34.95, 33.5, 1e23, 1e23, view, 1);
  EXPECT_NEAR(ctx->window_corner_dirs[0][0], 12.95 / len, 1e-12);
  EXPECT_NEAR(ctx->window_corner_dirs[0][1], -18.25 / len, 1e-12);
}

TEST(EyeViewMatrix, DegenerateWindowGivesNonFiniteButReturns) {
  Ctx ctx = new_ctx();
  vr_window_match_ws(ctx.get(), 0, 0, 0, 0);
  const dpt eye = {0.0, 0.0, -100.0};  // on the yon plane too
  dmat view;
  vr_make_v(ctx.get(), eye, -100.0, -100.0, 0.0, 0.0, view, 1);
  EXPECT_FALSE(std::isfinite(view[0][0]));
}
