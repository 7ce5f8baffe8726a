// Quaternions: conversions, the sense of rotation, composition and blending.
#include <cmath>
#include <numbers>

#include "mat_check.h"

namespace {

#define EXPECT_QUAT_NEAR(q, x, y, z, w, tol) \
  do {                                       \
    EXPECT_PT_NEAR(q, x, y, z, tol);         \
    EXPECT_NEAR((q)[3], (w), (tol));         \
  } while (0)

void unit_quat(double x, double y, double z, double w, dquat q) {
  const double n = std::sqrt(x * x + y * y + z * z + w * w);
  q[0] = x / n;
  q[1] = y / n;
  q[2] = z / n;
  q[3] = w / n;
}

TEST(QuatConvert, SenseOfRotationAndRoundTrip) {
  // (0, 0, sin(a/2), cos(a/2)) is the matrix of a turn by -a about z.
  const dquat qz = {0, 0, std::sin(0.4), std::cos(0.4)};
  dmat m, expected;
  dquat q;
  vr_quat_to_mat(qz, m);
  vr_mat_rot_z(-0.8, expected);
  EXPECT_LT(mat_check::max_abs_diff(m, expected), 1e-15);

  const double samples[][4] = {
      {0, 0, 0, 1}, {0.1, 0.2, 0.3, 0.9}, {-0.5, 0.4, 0.1, 0.2}, {0, 0, 0.999, 0.001}};
  for (const auto &s : samples) {
    unit_quat(s[0], s[1], s[2], s[3], q);
    vr_quat_to_mat(q, m);
    dquat back;
    vr_mat_to_quat(m, back);
    // w comes from the square root of a small difference: accuracy drops as w nears 0.
    EXPECT_QUAT_NEAR(back, q[0], q[1], q[2], q[3], 1e-10);
  }
}

TEST(QuatConvert, HalfTurnsUseTheFallbackSteps) {
  dmat m;
  dquat q;
  vr_mat_rot_x(std::numbers::pi, m);
  vr_mat_to_quat(m, q);
  EXPECT_QUAT_NEAR(q, 1, 0, 0, 0, 1e-15);
  vr_mat_rot_y(std::numbers::pi, m);
  vr_mat_to_quat(m, q);
  EXPECT_QUAT_NEAR(q, 0, 1, 0, 0, 1e-15);
  vr_mat_identity(m);
  m[0][0] = m[1][1] = -1;
  vr_mat_to_quat(m, q);
  EXPECT_QUAT_NEAR(q, 0, 0, 1, 0, 0);

  // About (1, 1, 1) the diagonal rounds so that w² comes out near -3e-16: still a half turn,
  // not the square root of a negative number.
  unit_quat(1, 1, 1, 0, q);
  vr_quat_to_mat(q, m);
  ASSERT_LT(1 + m[0][0] + m[1][1] + m[2][2], 0.0);
  dquat back;
  vr_mat_to_quat(m, back);
  EXPECT_QUAT_NEAR(back, q[0], q[1], q[2], 0, 1e-12);
}

TEST(QuatConvert, SimilarityMatrixSplitsIntoRotationCentreAndScale) {
  dmat m;
  dquat q;
  dpt centre;
  double scale = 0;
  vr_mat_scale_and_trans(1, 2, 3, 2, m);
  vr_mat_to_quat_center_scale(m, q, centre, &scale);
  EXPECT_EQ(scale, 2.0);
  EXPECT_PT_NEAR(centre, 1, 2, 3, 0);
  EXPECT_QUAT_NEAR(q, 0, 0, 0, 1, 0);
}

TEST(QuatAlgebra, ProductComposesLikeMatricesAndIsAliasSafe) {
  dquat a, b, ab, out;
  unit_quat(0.1, 0.5, -0.3, 0.8, a);
  unit_quat(-0.4, 0.2, 0.6, 0.3, b);
  const dquat one = {0, 0, 0, 1};
  vr_quat_add(a, one, out);
  EXPECT_QUAT_NEAR(out, a[0], a[1], a[2], a[3], 0);
  vr_quat_add(one, b, out);
  EXPECT_QUAT_NEAR(out, b[0], b[1], b[2], b[3], 0);

  vr_quat_add(a, b, ab);  // its matrix is mat(a) x mat(b)
  dmat ma, mb, mab;
  vr_quat_to_mat(a, ma);
  vr_quat_to_mat(b, mb);
  vr_mat_mul_mat(ma, mb, ma);
  vr_quat_to_mat(ab, mab);
  EXPECT_LT(mat_check::max_abs_diff(mab, ma), 1e-15);

  dquat a2 = {a[0], a[1], a[2], a[3]}, b2 = {b[0], b[1], b[2], b[3]};
  vr_quat_add(a2, b, a2);
  vr_quat_add(a, b2, b2);
  EXPECT_QUAT_NEAR(a2, ab[0], ab[1], ab[2], ab[3], 0);
  EXPECT_QUAT_NEAR(b2, ab[0], ab[1], ab[2], ab[3], 0);
}

TEST(QuatAlgebra, InverseAndDifferences) {
  dquat a, d;
  unit_quat(0.1, 0.5, -0.3, 0.8, a);
  vr_quat_sub(a, a, d);
  EXPECT_QUAT_NEAR(d, 0, 0, 0, 1, 1e-15);
  dquat q = {1, 2, 3, 4};  // not unit: the inverse divides by the squared length
  vr_quat_inverse(q, q);
  EXPECT_QUAT_NEAR(q, -1.0 / 30, -2.0 / 30, -3.0 / 30, 4.0 / 30, 1e-16);

  // Component difference: with a scalar part left, the vector part is scaled by l·√(1 - dw²);
  // with none, it is made unit length.
  const dquat p = {0.6, 0, 0, 0.8}, r = {0, 0, 0, 0.5}, s = {3, 0, 4, 0.5};
  vr_quat_ssub(p, r, d);
  EXPECT_QUAT_NEAR(d, 0.36 * std::sqrt(1 - 0.09), 0, 0, 0.3, 1e-15);
  vr_quat_ssub(s, r, d);
  EXPECT_QUAT_NEAR(d, 0.6, 0, 0.8, 0, 1e-15);
}

TEST(QuatBlend, NormaliseAndInterpolate) {
  dquat z = {0, 0, 0, 0}, bad = {NAN, 0, 0, 1}, out;
  vr_normalize_quat(z);
  EXPECT_QUAT_NEAR(z, 0, 0, 0, 0, 0);
  vr_normalize_quat(bad);
  EXPECT_QUAT_NEAR(bad, 0, 0, 0, 0, 0);

  const dquat a = {0, 0, 1, 1}, b = {1, 0, 0, 0}, neg = {0, 0, -1, -1};
  const double h = std::sqrt(0.5), t = 1 / std::sqrt(3.0);
  vr_interpolate_quat(a, b, 0, out);
  EXPECT_QUAT_NEAR(out, 0, 0, h, h, 2e-16);
  vr_interpolate_quat(a, b, 1, out);
  EXPECT_QUAT_NEAR(out, 1, 0, 0, 0, 0);
  vr_interpolate_quat(a, b, 0.5, out);
  EXPECT_QUAT_NEAR(out, t, 0, t, t, 2e-16);
  vr_interpolate_quat(a, neg, 0.5, out);  // no shortest-arc flip: opposites cancel
  EXPECT_QUAT_NEAR(out, 0, 0, 0, 0, 0);
}

}  // namespace
