// Geometry and math: 4x4 frame matrices, points and vectors in both precisions, inversion,
// view orientation and quaternions. The calibration frames that take a context are frames
// (frames/vr_calib_frames.cpp).
//
// Points are row vectors on the left (p' = p x M), the translation sits in row 3 and column 3 is
// never read when transforming. Nothing here allocates, fails or reports an error.
#include <cmath>
#include <cstdio>
#include <utility>

#include "vr.h"
#include "vr_mat_internal.h"
#include "vr_mat_blocks.h"
#include "vr_platform.h"

namespace {

using namespace vr::mat;
using cmat = const double (*)[4];

// Magnitudes below this count as zero: singular pivots, degenerate quaternion components.
constexpr double small_value = 1e-30;

// ---- Matrix building blocks --------------------------------------------------------------

template <typename Src, typename Dst>
void convert(const Src (*src)[4], Dst (*dst)[4]) {
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) dst[i][j] = static_cast<Dst>(src[i][j]);
}

// ---- Points and vectors, shared by the float and double entries --------------------------

// p x M with the implied fourth coordinate 1; accumulated in double whatever T is.
template <typename T>
double point_component(const T *p, cmat m, int j) {
  return static_cast<double>(p[0]) * m[0][j] + static_cast<double>(p[1]) * m[1][j] +
         static_cast<double>(p[2]) * m[2][j] + m[3][j];
}

template <typename T>
double normal_component(const T *n, cmat m, int j) {
  return static_cast<double>(n[0]) * m[0][j] + static_cast<double>(n[1]) * m[1][j] +
         static_cast<double>(n[2]) * m[2][j];
}

// Both transforms form the whole result in double before storing it, so out may alias the
// input. Points take the translation row; normals (directions) do not.
template <typename T, typename Component>
void transform(const T *v, cmat m, T *out, Component component) {
  const double x = component(v, m, 0);
  const double y = component(v, m, 1);
  const double z = component(v, m, 2);
  out[0] = static_cast<T>(x);
  out[1] = static_cast<T>(y);
  out[2] = static_cast<T>(z);
}

template <typename T>
void transform_point(const T *p, cmat m, T *out) {
  transform(p, m, out, point_component<T>);
}

template <typename T>
void transform_normal(const T *n, cmat m, T *out) {
  transform(n, m, out, normal_component<T>);
}

// The sums below run in T: the float entries round every product and partial sum to single
// precision, as their callers expect.
template <typename T>
T dot(const T *a, const T *b) {
  return (a[0] * b[0] + a[1] * b[1]) + a[2] * b[2];
}

template <typename T>
void cross(const T *a, const T *b, T *out) {
  const T x = a[1] * b[2] - a[2] * b[1];
  const T y = a[2] * b[0] - a[0] * b[2];
  const T z = a[0] * b[1] - a[1] * b[0];
  out[0] = x;
  out[1] = y;
  out[2] = z;
}

template <typename T>
double length(const T *v) {
  const double s = dot(v, v);
  return s == 0.0 ? 0.0 : std::sqrt(s);
}

template <typename T>
void normalize(T *v) {
  const double len = length(v);
  if (len == 0.0) {
    v[0] = v[1] = v[2] = 0;
    return;
  }
  const double k = 1.0 / len;
  for (int i = 0; i < 3; ++i) v[i] = static_cast<T>(v[i] * k);
}

template <typename T>
void add(const T *a, const T *b, T *out) {
  for (int i = 0; i < 3; ++i) out[i] = a[i] + b[i];
}

template <typename T>
void sub(const T *a, const T *b, T *out) {
  for (int i = 0; i < 3; ++i) out[i] = a[i] - b[i];
}

template <typename T>
void smul(const T *v, double s, T *out) {
  for (int i = 0; i < 3; ++i) out[i] = static_cast<T>(v[i] * s);
}

// ---- Inversion ---------------------------------------------------------------------------

// The inversion keeps its pivots, factors and swap temporaries in single precision: an element
// moved by a swap is rounded to float on the way.
void swap_through_float(double &a, double &b) {
  const float t = static_cast<float>(a);
  a = b;
  b = t;
}

// ---- Quaternions and poses ---------------------------------------------------------------

enum { qx, qy, qz, qw };

// A pose: x, y, z (cm), roll (about z), pitch (about x), yaw (about y), radians.
enum { pose_roll = 3, pose_pitch = 4, pose_yaw = 5 };

// The quaternion of the rotation block of m. A squared component that rounding pushed below
// zero (half turns can give w² a few 1e-16 below zero) counts as small like any other tiny value,
// so no square root of a negative number is taken.
void rotation_to_quat(cmat m, dquat q) {
  const double w2 = 0.25 * (1.0 + m[0][0] + m[1][1] + m[2][2]);
  if (w2 >= small_value) {
    q[qw] = std::sqrt(w2);
    const double s = 1.0 / (4.0 * q[qw]);
    q[qx] = (m[2][1] - m[1][2]) * s;
    q[qy] = (m[0][2] - m[2][0]) * s;
    q[qz] = (m[1][0] - m[0][1]) * s;
    return;
  }
  q[qw] = 0.0;
  const double x2 = -0.5 * (m[1][1] + m[2][2]);
  if (x2 >= small_value) {
    q[qx] = std::sqrt(x2);
    const double s = 1.0 / (2.0 * q[qx]);
    q[qy] = m[1][0] * s;
    q[qz] = m[2][0] * s;
    return;
  }
  q[qx] = 0.0;
  const double y2 = 0.5 * (1.0 - m[2][2]);
  if (y2 >= small_value) {
    q[qy] = std::sqrt(y2);
    q[qz] = m[2][1] / (2.0 * q[qy]);
    return;
  }
  q[qy] = 0.0;
  q[qz] = 1.0;
}

// All four components set to 0 unless the squared length is positive (zero or not a number).
void normalize_quat(dquat q) {
  const double n2 = q[qx] * q[qx] + q[qy] * q[qy] + q[qz] * q[qz] + q[qw] * q[qw];
  const bool has_length = n2 > 0.0;
  const double k = has_length ? 1.0 / std::sqrt(n2) : 0.0;
  for (int i = 0; i < 4; ++i) q[i] = has_length ? q[i] * k : 0.0;
}

}  // namespace

extern "C" {

// ---- Matrices ----------------------------------------------------------------------------

VR_API void vr_mat_identity(dmat m) {
  set_identity(m);
}

VR_API void vr_mat_copy(dmat src, dmat dst) {
  convert<double, double>(src, dst);
}

VR_API int vr_mat_equal(dmat a, dmat b) {
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      if (!(a[i][j] == b[i][j])) return 0;
  return 1;
}

VR_API void vr_mat_scale(double sx, double sy, double sz, dmat out) {
  set_identity(out);
  out[0][0] = sx;
  out[1][1] = sy;
  out[2][2] = sz;
}

VR_API void vr_mat_trans(double tx, double ty, double tz, dmat out) {
  set_identity(out);
  set_translation(out, tx, ty, tz);
}

// Scale by s, then translate by t.
VR_API void vr_mat_scale_and_trans(double tx, double ty, double tz, double s, dmat out) {
  vr_mat_scale(s, s, s, out);
  set_translation(out, tx, ty, tz);
}

// Translate by t, then scale by s.
VR_API void vr_mat_trans_and_scale(double s, double tx, double ty, double tz, dmat out) {
  vr_mat_scale(s, s, s, out);
  set_translation(out, s * tx, s * ty, s * tz);
}

// x' = x + a·z, y' = y + b·z.
VR_API void vr_mat_shear_z(double a, double b, dmat out) {
  set_identity(out);
  out[2][0] = a;
  out[2][1] = b;
}

VR_API void vr_mat_rot_x(double angle, dmat out) {
  set_rotation(angle, 1, 2, out);
}
VR_API void vr_mat_rot_y(double angle, dmat out) {
  set_rotation(angle, 2, 0, out);
}
VR_API void vr_mat_rot_z(double angle, dmat out) {
  set_rotation(angle, 0, 1, out);
}

VR_API void vr_mat_transpose(dmat m) {
  for (int i = 0; i < 4; ++i)
    for (int j = i + 1; j < 4; ++j) {
      const double t = m[i][j];
      m[i][j] = m[j][i];
      m[j][i] = t;
    }
}

// out = a x b; out may be a or b.
VR_API void vr_mat_mul_mat(dmat a, dmat b, dmat out) {
  dmat product;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      product[i][j] = a[i][0] * b[0][j] + a[i][1] * b[1][j] + a[i][2] * b[2][j] + a[i][3] * b[3][j];
  convert<double, double>(product, out);
}

VR_API void vr_mat_mul_dpt(const dpt p, dmat m, dpt out) {
  transform_point(p, m, out);
}

VR_API void vr_mat_mul_fpt(const fpt p, dmat m, fpt out) {
  transform_point(p, m, out);
}

// Writes each component as soon as it is formed, so out must not be p: callers that pass the
// same point get the later components computed from the already updated earlier ones.
VR_API void vr_tranpt(const dpt p, dmat m, dpt out) {
  out[0] = point_component(p, m, 0);
  out[1] = point_component(p, m, 1);
  out[2] = point_component(p, m, 2);
}

// Directions pass through the upper 3x3 block only, then are brought back to unit length.
VR_API void vr_mat_mul_dnorm(const dpt n, dmat m, dpt out) {
  transform_normal(n, m, out);
  normalize(out);
}

VR_API void vr_mat_mul_fnorm(const fpt n, dmat m, fpt out) {
  transform_normal(n, m, out);
  normalize(out);
}

// Removes a uniform scale, measured on row 0, from the rotation block; the translation stays.
VR_API void vr_mat_descale(dmat src, dmat dst) {
  const double k =
      1.0 / std::sqrt(src[0][0] * src[0][0] + src[0][1] * src[0][1] + src[0][2] * src[0][2]);
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) dst[i][j] = k * src[i][j];
    dst[i][3] = 0.0;
  }
  for (int j = 0; j < 3; ++j) dst[3][j] = src[3][j];
  dst[3][3] = 1.0;
}

VR_API void vr_mat_print(dmat m) {
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) std::printf("\t%f", m[i][j]);
    std::printf("\n");
  }
}

VR_API void vr_dmat_to_fmat(dmat src, fmat dst) {
  convert<double, float>(src, dst);
}
VR_API void vr_fmat_to_dmat(fmat src, dmat dst) {
  convert<float, double>(src, dst);
}
VR_API void vr_fmat_to_fmat(fmat src, fmat dst) {
  convert<float, float>(src, dst);
}
VR_API void vr_dmat_to_dmat(dmat src, dmat dst) {
  convert<double, double>(src, dst);
}

// ---- Vectors -----------------------------------------------------------------------------

VR_API void vr_fvector_add(const fpt a, const fpt b, fpt out) {
  add(a, b, out);
}
VR_API void vr_dvector_add(const dpt a, const dpt b, dpt out) {
  add(a, b, out);
}
VR_API void vr_fvector_sub(const fpt a, const fpt b, fpt out) {
  sub(a, b, out);
}
VR_API void vr_dvector_sub(const dpt a, const dpt b, dpt out) {
  sub(a, b, out);
}
VR_API void vr_fvector_smul(const fpt v, double s, fpt out) {
  smul(v, s, out);
}
VR_API void vr_dvector_smul(const dpt v, double s, dpt out) {
  smul(v, s, out);
}
VR_API double vr_fvector_dot_prod(const fpt a, const fpt b) {
  return dot(a, b);
}
VR_API double vr_dvector_dot_prod(const dpt a, const dpt b) {
  return dot(a, b);
}
VR_API void vr_fvector_cross_prod(const fpt a, const fpt b, fpt out) {
  cross(a, b, out);
}
VR_API void vr_dvector_cross_prod(const dpt a, const dpt b, dpt out) {
  cross(a, b, out);
}
VR_API double vr_fvector_length(const fpt v) {
  return length(v);
}
VR_API double vr_dvector_length(const dpt v) {
  return length(v);
}
VR_API void vr_fvector_normalize(fpt v) {
  normalize(v);
}
VR_API void vr_dvector_normalize(dpt v) {
  normalize(v);
}

// ---- Inversion ---------------------------------------------------------------------------

// Gauss-Jordan elimination with full pivoting, in place. A matrix whose largest remaining
// pivot candidate is below small_value becomes the identity; the frame chains take that as
// "no transformation" rather than propagating infinities.
VR_API void vr_mat_inv(dmat m) {
  int column_used[4] = {0, 0, 0, 0};
  int pivot_row[4] = {0, 0, 0, 0};
  int pivot_col[4] = {0, 0, 0, 0};
  for (int pass = 0; pass < 4; ++pass) {
    float big = 0.0f;
    int irow = 0;
    int icol = 0;
    for (int j = 0; j < 4; ++j) {
      if (column_used[j] == 1) continue;
      for (int k = 0; k < 4; ++k) {
        if (column_used[k] == 1) continue;
        if (std::fabs(big) < std::fabs(m[j][k])) {
          big = static_cast<float>(m[j][k]);
          irow = j;
          icol = k;
        }
      }
    }
    if (std::fabs(big) < small_value) {
      set_identity(m);
      return;
    }
    ++column_used[icol];
    if (irow != icol)
      for (int l = 0; l < 4; ++l) swap_through_float(m[irow][l], m[icol][l]);
    pivot_row[pass] = irow;
    pivot_col[pass] = icol;

    float piv = static_cast<float>(m[icol][icol]);
    if (std::fabs(piv) < small_value) piv = static_cast<float>(small_value);
    m[icol][icol] = 1.0;
    for (int l = 0; l < 4; ++l) m[icol][l] /= piv;

    for (int r = 0; r < 4; ++r) {
      if (r == icol) continue;
      const float f = static_cast<float>(m[r][icol]);
      m[r][icol] = 0.0;
      for (int l = 0; l < 4; ++l) m[r][l] -= m[icol][l] * f;
    }
  }
  for (int pass = 3; pass >= 0; --pass) {
    if (pivot_row[pass] == pivot_col[pass]) continue;
    for (int k = 0; k < 4; ++k) swap_through_float(m[k][pivot_row[pass]], m[k][pivot_col[pass]]);
  }
}

// dst = inverse of src; src is left alone unless it is dst.
VR_API void vr_mat_inv2(dmat src, dmat dst) {
  vr_dmat_to_dmat(src, dst);
  vr_mat_inv(dst);
}

// ---- View orientation --------------------------------------------------------------------
// Degenerate input (eye at the target, zero normal, up parallel to the normal) is not caught:
// it divides by zero and the matrix comes out non-finite.

VR_API void look_at(const dpt eye, dpt vpn, dpt vup, const dpt target) {
  dpt d;
  sub(eye, target, d);
  const double len = std::sqrt(dot(d, d));
  for (int i = 0; i < 3; ++i) vpn[i] = d[i] / len;
  vup[0] = 0.0;
  vup[1] = 1.0;
  vup[2] = 0.0;
}

// A world point p maps to ((p - vrp)·u, (p - vrp)·v, (p - vrp)·n): x right, y up, z toward the
// viewer, who looks along -z.
VR_API void pevalvieworientationmatrix3(const dpt vrp, const dpt vpn, const dpt vup, dmat out) {
  dpt u;
  cross(vup, vpn, u);
  const double u_len = std::sqrt(dot(u, u));
  const double n_len = std::sqrt(dot(vpn, vpn));
  dpt n;
  for (int i = 0; i < 3; ++i) {
    u[i] /= u_len;
    n[i] = vpn[i] / n_len;
  }
  dpt v;
  cross(n, u, v);

  const double *axes[3] = {u, v, n};
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) out[i][j] = axes[i][j];
    out[i][3] = -dot(axes[i], vrp);
  }
  out[3][0] = out[3][1] = out[3][2] = 0.0;
  out[3][3] = 1.0;
  vr_mat_transpose(out);
}

VR_API void vr_look_at(const dpt eye, const dpt target, dmat out) {
  dpt vpn;
  dpt vup;
  look_at(eye, vpn, vup, target);
  pevalvieworientationmatrix3(eye, vpn, vup, out);
}

// ---- Quaternions -------------------------------------------------------------------------

VR_API void vr_mat_to_quat(dmat m, dquat q) {
  rotation_to_quat(m, q);
}

// Splits a similarity matrix into rotation, translation and the uniform scale of row 0.
VR_API void vr_mat_to_quat_center_scale(dmat m, dquat q, dpt center, double *scale) {
  *scale = std::sqrt(m[0][0] * m[0][0] + m[0][1] * m[0][1] + m[0][2] * m[0][2]);
  const double k = 1.0 / *scale;
  dmat rotation;
  set_identity(rotation);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) rotation[i][j] = m[i][j] * k;
  for (int j = 0; j < 3; ++j) center[j] = m[3][j];
  rotation_to_quat(rotation, q);
}

// Exact for unit quaternions; q is not normalised first.
VR_API void vr_quat_to_mat(const dquat q, dmat m) {
  const double x = q[qx], y = q[qy], z = q[qz], w = q[qw];
  set_identity(m);
  m[0][0] = 1 - 2 * y * y - 2 * z * z;
  m[0][1] = 2 * (x * y - w * z);
  m[0][2] = 2 * (x * z + w * y);
  m[1][0] = 2 * (x * y + w * z);
  m[1][1] = 1 - 2 * x * x - 2 * z * z;
  m[1][2] = 2 * (y * z - w * x);
  m[2][0] = 2 * (x * z - w * y);
  m[2][1] = 2 * (y * z + w * x);
  m[2][2] = 1 - 2 * x * x - 2 * y * y;
}

// The Hamilton product a ⊗ b; out may be a or b.
VR_API void vr_quat_add(const dquat a, const dquat b, dquat out) {
  const double w = a[qw] * b[qw] - a[qx] * b[qx] - a[qy] * b[qy] - a[qz] * b[qz];
  const double x = a[qw] * b[qx] + b[qw] * a[qx] + a[qy] * b[qz] - a[qz] * b[qy];
  const double y = a[qw] * b[qy] + b[qw] * a[qy] - a[qx] * b[qz] + a[qz] * b[qx];
  const double z = a[qw] * b[qz] + b[qw] * a[qz] + a[qx] * b[qy] - a[qy] * b[qx];
  out[qw] = w;
  out[qx] = x;
  out[qy] = y;
  out[qz] = z;
}

// The conjugate over the squared length; out may be q. A zero quaternion is not caught.
VR_API void vr_quat_inverse(const dquat q, dquat out) {
  const double k = 1.0 / (q[qw] * q[qw] + q[qx] * q[qx] + q[qy] * q[qy] + q[qz] * q[qz]);
  const double w = q[qw];
  for (int i = qx; i <= qz; ++i) out[i] = -q[i] * k;
  out[qw] = w * k;
}

// a ⊗ b⁻¹: the rotation that takes b to a.
VR_API void vr_quat_sub(const dquat a, const dquat b, dquat out) {
  dquat b_inverse;
  vr_quat_inverse(b, b_inverse);
  vr_quat_add(a, b_inverse, out);
}

// The component difference a - b. With a scalar part left, the vector part is scaled by
// l·√(1 - dw²) (l its length), which gives a unit quaternion only when l is 1; without one, the
// vector part is made unit length. Equal vector parts divide by zero in the second case.
VR_API void vr_quat_ssub(const dquat a, const dquat b, dquat out) {
  double d[4];
  for (int i = 0; i < 4; ++i) d[i] = a[i] - b[i];
  const double l = std::sqrt(d[qx] * d[qx] + d[qy] * d[qy] + d[qz] * d[qz]);
  double k;
  if (std::fabs(d[qw]) >= small_value) {
    k = l * std::sqrt(1.0 - d[qw] * d[qw]);
  } else {
    k = 1.0 / l;
    d[qw] = 0.0;
  }
  for (int i = qx; i <= qz; ++i) out[i] = d[i] * k;
  out[qw] = d[qw];
}

VR_API void vr_normalize_quat(dquat q) {
  normalize_quat(q);
}

// A plain linear blend: no shortest-arc sign flip, and t outside 0..1 extrapolates. Opposite
// quaternions blended half way give the zero quaternion.
VR_API void vr_interpolate_quat(const dquat a, const dquat b, double t, dquat out) {
  for (int i = 0; i < 4; ++i) out[i] = (1.0 - t) * a[i] + t * b[i];
  normalize_quat(out);
}

// Kept as an exported entry for applications that link it; it has nothing to convert.
VR_API void vr_euler_to_quat(void) {}

// Only yaw after pitch: roll and the position do not enter this matrix (the receiver pose
// builder of the tracker front-end is the one that forms the full pose).
VR_API void build_sim_mat(const double pose[6], dmat out) {
  dmat rx;
  dmat ry;
  vr_mat_rot_x(pose[pose_pitch], rx);
  vr_mat_rot_y(pose[pose_yaw], ry);
  vr_mat_mul_mat(ry, rx, out);
}

// Follows (0, 0, -1) through roll, pitch and yaw one at a time, then through their product,
// so the two paths can be compared by eye.
VR_API void print_matt(const double pose[6]) {
  dmat rx;
  dmat ry;
  dmat rz;
  vr_mat_rot_x(pose[pose_pitch], rx);
  vr_mat_rot_y(pose[pose_yaw], ry);
  vr_mat_rot_z(pose[pose_roll], rz);

  const dpt p0 = {0.0, 0.0, -1.0};
  dpt p1;
  dpt p2;
  dpt p3;
  print_pt(p0, "pl");
  vr_mat_mul_dpt(p0, rz, p1);
  print_pt(p1, "pl_I");
  vr_mat_mul_dpt(p1, rx, p2);
  print_pt(p2, "pl_II");
  vr_mat_mul_dpt(p2, ry, p3);
  print_pt(p3, "pl_III");

  dmat m;
  vr_mat_mul_mat(rz, rx, m);
  vr_mat_mul_mat(m, ry, m);
  dpt p;
  vr_mat_mul_dpt(p0, m, p);
  print_pt(p, "pl_III'");

  std::printf("\n");
  std::fflush(stdout);
  vr::os::sleep_seconds(1);
}

}  // extern "C"

// The inverse of fake_make_dig_to_plate, preceded by a shift of d along y.
void fake_make_plate_to_dig(double angle, double x, double y, double z, double d, dmat out) {
  dmat m;
  vr_mat_trans(-x, -y, -z, out);
  vr_mat_rot_x(-angle, m);
  vr_mat_mul_mat(out, m, out);
  vr_mat_trans(0.0, d, 0.0, m);
  vr_mat_mul_mat(m, out, out);
}

void print_pt(const double *p, const char *label) {
  std::printf("%s\t%6.3f\t%6.3f\t%6.3f\n", label, p[0], p[1], p[2]);
}

// ---- Checked inversion -------------------------------------------------------------------
// vr_mat_inv keeps the fixed behaviour (single-precision pivots, identity for a singular
// matrix). Matrices an application sets by value get an inverse in full precision instead, and
// a singular one is reported rather than replaced.

namespace {

constexpr double relative_pivot_limit = 1e-14;  // pivot / largest element below this: singular

}  // namespace

bool vr_mat_invert_checked(const dmat src, dmat dst) {
  double a[4][8];
  double largest = 0.0;
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) {
      a[r][c] = src[r][c];
      a[r][c + 4] = r == c ? 1.0 : 0.0;
      largest = std::fmax(largest, std::fabs(src[r][c]));
    }
  }
  if (!(largest > 0.0) || !std::isfinite(largest)) return false;
  for (int col = 0; col < 4; ++col) {
    int pivot = col;
    for (int r = col + 1; r < 4; ++r) {
      if (std::fabs(a[r][col]) > std::fabs(a[pivot][col])) pivot = r;
    }
    if (!(std::fabs(a[pivot][col]) > relative_pivot_limit * largest)) return false;
    if (pivot != col) {
      for (int c = 0; c < 8; ++c) std::swap(a[pivot][c], a[col][c]);
    }
    const double p = a[col][col];
    for (int c = 0; c < 8; ++c) a[col][c] /= p;
    for (int r = 0; r < 4; ++r) {
      if (r == col || a[r][col] == 0.0) continue;
      const double f = a[r][col];
      for (int c = 0; c < 8; ++c) a[r][c] -= f * a[col][c];
    }
  }
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) {
      if (!std::isfinite(a[r][c + 4])) return false;
    }
  }
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) dst[r][c] = a[r][c + 4];
  }
  return true;
}
