// Helpers shared by the math tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <initializer_list>

#include "vr.h"

namespace mat_check {

// Fills m row by row from sixteen values.
inline void fill(dmat m, std::initializer_list<double> values) {
  const double *v = values.begin();
  for (int i = 0; i < 16; ++i) m[i / 4][i % 4] = v[i];
}

inline double max_abs_diff(dmat a, dmat b) {
  double worst = 0.0;
  for (int i = 0; i < 16; ++i)
    worst = std::max(worst, std::fabs(a[i / 4][i % 4] - b[i / 4][i % 4]));
  return worst;
}

inline double max_abs_diff_from_identity(dmat a) {
  dmat id;
  vr_mat_identity(id);
  return max_abs_diff(a, id);
}

}  // namespace mat_check

#define EXPECT_PT_NEAR(p, x, y, z, tol) \
  do {                                  \
    EXPECT_NEAR((p)[0], (x), (tol));    \
    EXPECT_NEAR((p)[1], (y), (tol));    \
    EXPECT_NEAR((p)[2], (z), (tol));    \
  } while (0)

#define EXPECT_MAT_EQ(a, b) EXPECT_EQ(mat_check::max_abs_diff((a), (b)), 0.0)
