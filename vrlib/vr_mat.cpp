// Geometry and math: 4x4 frame matrices, points and vectors in both precisions, inversion,
// view orientation, quaternions and the fixed calibration frames.
//
// Points are row vectors on the left (p' = p x M), the translation sits in row 3 and column 3 is
// never read when transforming. Nothing here allocates, fails or reports an error.
#include <cmath>
#include <cstdio>

#include "vr.h"
#include "vr_internal.h"
#include "vr_platform.h"

namespace {

using cmat = const double (*)[4];

// Magnitudes below this count as zero: singular pivots, degenerate quaternion components.
constexpr double small_value = 1e-30;

// ---- Matrix building blocks --------------------------------------------------------------

void set_identity(dmat m) {
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) m[i][j] = (i == j) ? 1.0 : 0.0;
}

template <typename Src, typename Dst>
void convert(const Src (*src)[4], Dst (*dst)[4]) {
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) dst[i][j] = static_cast<Dst>(src[i][j]);
}

void set_translation(dmat m, double tx, double ty, double tz) {
  m[3][0] = tx;
  m[3][1] = ty;
  m[3][2] = tz;
}

// A rotation in the plane of axes a and b: M[a][a] = M[b][b] = cos, M[a][b] = sin,
// M[b][a] = -sin, which turns a point from axis a toward axis b.
void set_rotation(double angle, int a, int b, dmat out) {
  const double c = std::cos(angle);
  const double s = std::sin(angle);
  set_identity(out);
  out[a][a] = c;
  out[b][b] = c;
  out[a][b] = s;
  out[b][a] = -s;
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

template <typename T>
void transform_point(const T *p, cmat m, T *out) {
  const double x = point_component(p, m, 0);
  const double y = point_component(p, m, 1);
  const double z = point_component(p, m, 2);
  out[0] = static_cast<T>(x);
  out[1] = static_cast<T>(y);
  out[2] = static_cast<T>(z);
}

template <typename T>
void transform_normal(const T *n, cmat m, T *out) {
  const double x = normal_component(n, m, 0);
  const double y = normal_component(n, m, 1);
  const double z = normal_component(n, m, 2);
  out[0] = static_cast<T>(x);
  out[1] = static_cast<T>(y);
  out[2] = static_cast<T>(z);
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

}  // extern "C"
