// Small helpers for the context and view-pipeline tests: an owned context and typed reads
// through vr_object_get.
#pragma once

#include <array>
#include <cstdlib>
#include <memory>

#include "vrlib/vr.h"

namespace view_test {

struct CtxFree {
  void operator()(vr_ctx *ctx) const { std::free(ctx); }
};
using Ctx = std::unique_ptr<vr_ctx, CtxFree>;

inline Ctx new_ctx() {
  return Ctx(vr_ctx_create());
}

using Point = std::array<double, 3>;

inline double get_double(vr_ctx *ctx, int id) {
  double v = -12345.0;
  vr_object_get(ctx, id, &v);
  return v;
}

inline int get_int(vr_ctx *ctx, int id) {
  int v = -12345;
  vr_object_get(ctx, id, &v);
  return v;
}

inline Point get_point(vr_ctx *ctx, int id) {
  Point p{-12345.0, -12345.0, -12345.0};
  vr_object_get(ctx, id, p.data());
  return p;
}

// The context's own matrix (not a copy).
inline double (*get_matrix(vr_ctx *ctx, int id))[4] {
  double(*m)[4] = nullptr;
  vr_object_get(ctx, id, &m);
  return m;
}

// A plate point through a matrix, homogeneous: (x, y, z, 1) x m.
inline std::array<double, 4> transform(const double (*m)[4], double x, double y, double z) {
  std::array<double, 4> out{};
  for (int j = 0; j < 4; ++j) out[j] = x * m[0][j] + y * m[1][j] + z * m[2][j] + m[3][j];
  return out;
}

}  // namespace view_test
