// Matrices, points and vectors: conventions, aliasing and precision.
#include <cmath>
#include <numbers>
#include <string>

#include "mat_check.h"

namespace {

TEST(Mat, RowVectorConventionRotationSenseAndBuilders) {
  dmat m;
  dpt out;
  const dpt x_axis = {1, 0, 0}, y_axis = {0, 1, 0}, z_axis = {0, 0, 1}, ones = {1, 1, 1};
  vr_mat_rot_z(std::numbers::pi / 2, m);
  vr_mat_mul_dpt(x_axis, m, out);
  EXPECT_PT_NEAR(out, 0, 1, 0, 1e-15);
  vr_mat_rot_x(std::numbers::pi / 2, m);
  vr_mat_mul_dpt(y_axis, m, out);
  EXPECT_PT_NEAR(out, 0, 0, 1, 1e-15);
  vr_mat_rot_y(std::numbers::pi / 2, m);
  vr_mat_mul_dpt(z_axis, m, out);
  EXPECT_PT_NEAR(out, 1, 0, 0, 1e-15);

  vr_mat_trans(1, 2, 3, m);
  m[0][3] = m[1][3] = m[2][3] = 99.0;  // column 3 is never read for points
  const dpt origin = {0, 0, 0};
  vr_mat_mul_dpt(origin, m, out);
  EXPECT_PT_NEAR(out, 1, 2, 3, 0);
  vr_mat_scale_and_trans(1, 2, 3, 2, m);
  vr_mat_mul_dpt(ones, m, out);
  EXPECT_PT_NEAR(out, 3, 4, 5, 0);
  vr_mat_trans_and_scale(2, 1, 2, 3, m);
  vr_mat_mul_dpt(ones, m, out);
  EXPECT_PT_NEAR(out, 4, 6, 8, 0);
  vr_mat_shear_z(0.5, -2, m);
  vr_mat_mul_dpt(ones, m, out);
  EXPECT_PT_NEAR(out, 1.5, -1, 1, 0);
}

TEST(Mat, ProductAppliesLeftFirstAndIsAliasSafe) {
  dmat a, b, expected, a2, b2;
  mat_check::fill(a, {1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 10, 0, 1, -1, 2, 1});
  mat_check::fill(b, {0.5, 0, 1, 0, 2, 1, 0, 0, -1, 3, 1, 0, 4, 5, 6, 1});
  vr_mat_mul_mat(a, b, expected);
  const dpt p = {0.25, -1.5, 2};
  dpt stepwise, at_once;
  vr_mat_mul_dpt(p, a, stepwise);
  vr_mat_mul_dpt(stepwise, b, stepwise);
  vr_mat_mul_dpt(p, expected, at_once);
  EXPECT_PT_NEAR(at_once, stepwise[0], stepwise[1], stepwise[2], 1e-12);

  vr_mat_copy(a, a2);
  vr_mat_copy(b, b2);
  vr_mat_mul_mat(a2, b, a2);
  vr_mat_mul_mat(a, b2, b2);
  EXPECT_MAT_EQ(a2, expected);
  EXPECT_MAT_EQ(b2, expected);
}

TEST(Mat, PointAliasingAndTheUnsafeTranpt) {
  dmat m;
  vr_mat_rot_z(0.3, m);
  m[3][0] = 1;
  m[3][1] = 2;
  const dpt p = {1, 2, 3};
  dpt separate, q = {1, 2, 3}, t = {1, 2, 3};
  vr_mat_mul_dpt(p, m, separate);
  vr_mat_mul_dpt(q, m, q);
  EXPECT_PT_NEAR(q, separate[0], separate[1], separate[2], 0);
  fpt f = {1, 2, 3};
  vr_mat_mul_fpt(f, m, f);
  EXPECT_PT_NEAR(f, float(separate[0]), float(separate[1]), float(separate[2]), 0);

  // vr_tranpt writes as it goes: the second component already uses the new first one.
  vr_tranpt(t, m, t);
  EXPECT_EQ(t[0], separate[0]);
  EXPECT_EQ(t[1], t[0] * m[0][1] + p[1] * m[1][1] + p[2] * m[2][1] + m[3][1]);
  EXPECT_NE(t[1], separate[1]);
}

TEST(Mat, NormalsIgnoreTranslationAndComeOutUnit) {
  dmat m;
  vr_mat_trans(1, 2, 3, m);
  dpt n = {1, 0, 0};
  vr_mat_mul_dnorm(n, m, n);
  EXPECT_PT_NEAR(n, 1, 0, 0, 0);
  vr_mat_scale(2, 5, 1, m);
  fpt f = {0, 3, 4};
  vr_mat_mul_fnorm(f, m, f);
  EXPECT_PT_NEAR(f, 0, 15 / std::sqrt(241.0), 4 / std::sqrt(241.0), 1e-7);
}

TEST(Mat, DescaleEqualityConversionsAndPrint) {
  dmat m, out, expected;
  vr_mat_scale_and_trans(5, 6, 7, 2, m);
  m[1][3] = 4.0;
  vr_mat_trans(5, 6, 7, expected);
  vr_mat_descale(m, out);
  EXPECT_MAT_EQ(out, expected);
  vr_mat_descale(m, m);
  EXPECT_MAT_EQ(m, expected);

  EXPECT_EQ(vr_mat_equal(m, expected), 1);
  m[3][3] = NAN;
  EXPECT_EQ(vr_mat_equal(m, m), 0);

  fmat f;
  expected[0][0] = 0.1;
  vr_dmat_to_fmat(expected, f);
  vr_fmat_to_dmat(f, m);
  EXPECT_EQ(m[0][0], double(0.1f));

  testing::internal::CaptureStdout();
  vr_mat_print(out);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "\t1.000000\t0.000000\t0.000000\t0.000000\n"
            "\t0.000000\t1.000000\t0.000000\t0.000000\n"
            "\t0.000000\t0.000000\t1.000000\t0.000000\n"
            "\t5.000000\t6.000000\t7.000000\t1.000000\n");
}

TEST(Vector, ZeroStaysZeroAndCrossIsAliasSafe) {
  dpt z = {0, 0, 0};
  EXPECT_EQ(vr_dvector_length(z), 0.0);
  vr_dvector_normalize(z);
  EXPECT_PT_NEAR(z, 0, 0, 0, 0);
  fpt fz = {0, 0, 0};
  vr_fvector_normalize(fz);
  EXPECT_PT_NEAR(fz, 0, 0, 0, 0);
  dpt v = {0, 3, 4};
  vr_dvector_normalize(v);
  EXPECT_PT_NEAR(v, 0, 0.6, 0.8, 2e-16);  // multiplied by 1/5, itself rounded

  dpt x = {1, 0, 0};
  const dpt y = {0, 1, 0};
  vr_dvector_cross_prod(x, y, x);
  EXPECT_PT_NEAR(x, 0, 0, 1, 0);
  fpt fy = {0, 1, 0};
  const fpt fzz = {0, 0, 1};
  vr_fvector_cross_prod(fy, fzz, fy);
  EXPECT_PT_NEAR(fy, 1, 0, 0, 0);
}

TEST(Vector, FloatDotProductRoundsEveryStepToSinglePrecision) {
  // Summed left to right in float, each 2^-24 is lost against 1; in double, or summed right to
  // left, they would survive as 2^-23.
  const float tiny = std::ldexp(1.0f, -12);
  const fpt p = {1, tiny, tiny};
  EXPECT_EQ(vr_fvector_dot_prod(p, p), 1.0);
  EXPECT_EQ(vr_fvector_length(p), 1.0);
  const dpt dp = {1, tiny, tiny};
  EXPECT_EQ(vr_dvector_dot_prod(dp, dp), 1.0 + std::ldexp(1.0, -23));
}

}  // namespace
