// The matrix building blocks that the math kit and the calibration frames share: identity,
// zero, a translation row and a rotation in one coordinate plane. Inline, not exported.
#pragma once

#include <cmath>

#include "vr.h"

namespace vr::mat {

inline void set_identity(dmat m) {
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) m[i][j] = (i == j) ? 1.0 : 0.0;
}

inline void set_translation(dmat m, double tx, double ty, double tz) {
  m[3][0] = tx;
  m[3][1] = ty;
  m[3][2] = tz;
}

inline void set_zero(dmat m) {
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) m[i][j] = 0.0;
}

// A rotation in the plane of axes a and b: M[a][a] = M[b][b] = cos, M[a][b] = sin,
// M[b][a] = -sin, which turns a point from axis a toward axis b.
inline void set_rotation(double angle, int a, int b, dmat out) {
  const double c = std::cos(angle);
  const double s = std::sin(angle);
  set_identity(out);
  out[a][a] = c;
  out[b][b] = c;
  out[a][b] = s;
  out[b][a] = -s;
}

}  // namespace vr::mat
