// Inversion with single-precision pivoting, and the view-orientation kit.
#include <algorithm>
#include <array>
#include <cmath>

#include "mat_check.h"

using mat_check::max_abs_diff;
using mat_check::max_abs_diff_from_identity;

namespace {

TEST(MatInv, SimpleFrames) {
  dmat m, expected;
  vr_mat_scale(2, 4, 8, m);
  vr_mat_inv(m);
  vr_mat_scale(0.5, 0.25, 0.125, expected);
  EXPECT_MAT_EQ(m, expected);

  // The pivots 3 and 1/3 pass through single precision: the translation comes back exact, the
  // corner element only to float accuracy (0.99999997).
  vr_mat_trans(1, 2, 3, m);
  vr_mat_inv(m);
  vr_mat_trans(-1, -2, -3, expected);
  EXPECT_PT_NEAR(m[3], -1, -2, -3, 0);
  EXPECT_LT(max_abs_diff(m, expected), 1.2e-7);
}

TEST(MatInv, PermutationInverseIsItsTransposeExactly) {
  std::array<int, 4> perm = {0, 1, 2, 3};
  do {
    dmat p = {}, expected;
    for (int i = 0; i < 4; ++i) p[i][perm[i]] = 1.0;
    vr_mat_copy(p, expected);
    vr_mat_transpose(expected);
    vr_mat_inv(p);
    EXPECT_MAT_EQ(p, expected);
  } while (std::next_permutation(perm.begin(), perm.end()));
}

TEST(MatInv, SingularMatricesBecomeTheIdentity) {
  dmat zero = {}, equal_rows, rank3, tiny;
  mat_check::fill(equal_rows, {1, 2, 0, 4, 1, 2, 0, 4, 0, 0, 1, 0, 0, 0, 0, 1});
  // Rank 3: the last pass finds nothing left to pivot on; the partly reduced matrix is dropped.
  mat_check::fill(rank3, {1, 2, 0, 0, 2, 4, 0, 0, 0, 0, 3, 0, 0, 0, 0, 5});
  vr_mat_scale(1e-31, 1e-31, 1e-31, tiny);
  tiny[3][3] = 1e-31;
  for (auto *m : {zero, equal_rows, rank3, tiny}) {
    vr_mat_inv(m);
    EXPECT_EQ(max_abs_diff_from_identity(m), 0.0);
  }
}

TEST(MatInv, GeneralMatrixCarriesSinglePrecisionErrors) {
  dmat a, inv, product;
  mat_check::fill(a,
                  {0.1, 0.7, 0.3, 0.2, 0.9, 0.1, 0.4, 0.6, 0.3, 0.8, 0.1, 0.5, 0.4, 0.2, 0.6, 0.1});
  vr_mat_inv2(a, inv);
  vr_mat_mul_mat(a, inv, product);
  // Far above what double rounding alone leaves (about 1e-15), of the order of float epsilon.
  EXPECT_GT(max_abs_diff_from_identity(product), 1e-12);
  EXPECT_LT(max_abs_diff_from_identity(product), 1e-5);
}

TEST(MatInv, Inv2LeavesItsSourceAndWorksInPlace) {
  dmat a, original, inv, in_place;
  mat_check::fill(a, {2, 1, 0, 0, 1, 3, 0, 0, 0, 0, 4, 0, 5, 6, 7, 1});
  vr_mat_copy(a, original);
  vr_mat_copy(a, in_place);
  vr_mat_inv2(a, inv);
  EXPECT_MAT_EQ(a, original);
  vr_mat_inv(in_place);
  EXPECT_MAT_EQ(inv, in_place);
  vr_mat_inv2(a, a);
  EXPECT_MAT_EQ(a, in_place);
}

TEST(LookAt, AxisAlignedEyes) {
  const dpt target = {0, 0, 0}, eye_z = {0, 0, 10}, eye_x = {10, 0, 0}, above_eye_x = {10, 1, 0};
  dmat m, expected;
  dpt out;
  vr_look_at(eye_z, target, m);
  vr_mat_trans(0, 0, -10, expected);
  EXPECT_LT(max_abs_diff(m, expected), 1e-15);

  vr_look_at(eye_x, target, m);
  vr_mat_mul_dpt(target, m, out);
  EXPECT_PT_NEAR(out, 0, 0, -10, 1e-14);
  vr_mat_mul_dpt(above_eye_x, m, out);
  EXPECT_PT_NEAR(out, 0, 1, 0, 1e-14);
}

TEST(LookAt, GeneralEyeGivesOrthonormalFrameThroughTheEye) {
  const dpt eye = {3, 7, -2}, target = {-1, 2, 5};
  dmat m;
  vr_look_at(eye, target, m);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      EXPECT_NEAR(m[0][i] * m[0][j] + m[1][i] * m[1][j] + m[2][i] * m[2][j], i == j, 1e-14);
  dpt out, d;
  vr_mat_mul_dpt(eye, m, out);
  EXPECT_PT_NEAR(out, 0, 0, 0, 1e-14);
  vr_dvector_sub(eye, target, d);
  vr_mat_mul_dpt(target, m, out);
  EXPECT_PT_NEAR(out, 0, 0, -vr_dvector_length(d), 1e-13);
}

TEST(LookAt, DegenerateInputGivesNonFiniteElements) {
  const auto finite = [](dmat m) {
    return std::all_of(&m[0][0], &m[0][0] + 16, [](double v) { return std::isfinite(v); });
  };
  const dpt target = {0, 0, 0}, above = {0, 10, 0}, up = {0, 1, 0};
  dmat m;
  vr_look_at(above, target, m);  // up parallel to the viewing direction
  EXPECT_FALSE(finite(m));
  vr_look_at(target, target, m);  // eye at the target
  EXPECT_FALSE(finite(m));
  pevalvieworientationmatrix3(target, target, up, m);  // zero normal
  EXPECT_FALSE(finite(m));
}

}  // namespace
