// Each eye's view split into a projection and a world-to-eye matrix, under the depth convention
// of the application's graphics interface. The frame keeps what each eye's view was built from
// (vr_record_eye_split, on the hot path: copies only); vr_eye_matrices forms the products.
#include <cmath>
#include <cstring>

#include "vr.h"
#include "vr_ext.h"
#include "vr_view_internal.h"

namespace {

using vr::view::enum_value;
using vr::view::report_failure;

bool finite_matrix(const dmat m) {
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) {
      if (!std::isfinite(m[r][c])) return false;
    }
  }
  return true;
}

// Clip coordinates (X, Y, Z, W) of the library's depth (+1 at hither, -1 at yon) to another
// convention: Z' = a Z + b W, applied to the projection's depth column.
struct DepthRemap {
  double a, b;
};
constexpr DepthRemap depth_remaps[] = {
    {1.0, 0.0},   // VR_DEPTH_LIBRARY: unchanged
    {-1.0, 0.0},  // VR_DEPTH_GL: -1 near, +1 far
    {-0.5, 0.5},  // VR_DEPTH_ZERO_ONE: 0 near, 1 far
    {0.5, 0.5},   // VR_DEPTH_REVERSED_ZERO_ONE: 1 near, 0 far
};
constexpr int depth_convention_count = sizeof depth_remaps / sizeof depth_remaps[0];

void remap_depth(dmat projection, const DepthRemap &r) {
  for (int row = 0; row < 4; ++row) {
    projection[row][2] = r.a * projection[row][2] + r.b * projection[row][3];
  }
}

// Both matrices of one eye in double precision, laid out for the graphics interfaces: a dmat's
// rows laid end to end are the column-major array of the column-vector matrix.
vr_result eye_matrices(const char *who, vr_ctx *ctx, int eye, int d, double projection_out[16],
                       double view_out[16]) {
  if (ctx == nullptr || projection_out == nullptr || view_out == nullptr) {
    return report_failure(who, "null context or matrix", VR_ERR_BAD_VALUE);
  }
  if (eye != VR_EYE_LEFT && eye != VR_EYE_RIGHT) {
    return report_failure(who, "eye is neither VR_EYE_LEFT nor VR_EYE_RIGHT", VR_ERR_BAD_VALUE);
  }
  if (d < 0 || d >= depth_convention_count) {
    return report_failure(who, "unknown depth convention", VR_ERR_BAD_VALUE);
  }
  const vr_ext_graphics &g = vr_ext(ctx).graphics;
  const vr_ext_eye_split &split = g.eyes[eye];
  if (ctx->tracking_mode == VR_TRACKING_HEAD_MOUNTED) {
    return report_failure(who, "no desk-top view in the head-mounted mode", VR_ERR_NO_VIEW);
  }
  if (split.valid == 0) {
    return report_failure(who,
                          eye == VR_EYE_RIGHT && g.eyes[VR_EYE_LEFT].valid != 0
                              ? "the last frame had no right eye (VR_STEREO was 0)"
                              : "no view computed yet (vr_comp_view has not run)",
                          VR_ERR_NO_VIEW);
  }

  // World to eye: into the plate, then the eye to the origin. The eye's axes are the plate's
  // (x right, y up, z toward the viewer, looking along -z), in centimetres.
  const double *e = split.eye;
  dmat to_eye, from_eye, world_to_plate, plate_to_clip, view, projection;
  vr_mat_trans(-e[0], -e[1], -e[2], to_eye);
  vr_mat_trans(e[0], e[1], e[2], from_eye);
  dmat world_to_coexistence, coexistence_to_plate;
  std::memcpy(world_to_coexistence, split.world_to_coexistence, sizeof(dmat));
  std::memcpy(coexistence_to_plate, split.coexistence_to_plate, sizeof(dmat));
  vr_mat_mul_mat(world_to_coexistence, coexistence_to_plate, world_to_plate);
  vr_mat_mul_mat(world_to_plate, to_eye, view);

  // Eye to clip: back to the plate and through the frame's projection.
  std::memcpy(plate_to_clip, split.plate_to_clip, sizeof(dmat));
  vr_mat_mul_mat(from_eye, plate_to_clip, projection);
  remap_depth(projection, depth_remaps[d]);

  std::memcpy(projection_out, projection, sizeof projection);
  std::memcpy(view_out, view, sizeof view);
  return VR_OK;
}

}  // namespace

void vr_record_eye_split(vr_ctx *ctx, int eye, const double *eye_position, const dmat plate_to_clip,
                         const dmat view) {
  // Only the context's own two views; a frame whose view came out non-finite keeps the last
  // good split, as a view that is kept should.
  if (view != ctx->left_view && view != ctx->right_view) return;
  vr_ext_graphics &g = vr_ext(ctx).graphics;
  if (eye == 0) g.eyes[1].valid = 0;  // a mono frame has no right eye
  if (!finite_matrix(view)) return;
  vr_ext_eye_split &split = g.eyes[eye];
  // Copies only: the frame's hot path leaves the products to vr_eye_matrices.
  std::memcpy(split.world_to_coexistence, ctx->world_to_coexistence, sizeof(dmat));
  std::memcpy(split.coexistence_to_plate, ctx->coexistence_to_plate, sizeof(dmat));
  std::memcpy(split.plate_to_clip, plate_to_clip, sizeof(dmat));
  std::memcpy(split.eye, eye_position, sizeof split.eye);
  split.valid = 1;
}

extern "C" {

VR_API vr_result vr_eye_matrices_d(vr_ctx *ctx, int eye, vr_depth_convention depth,
                                   double projection[16], double view[16]) {
  return eye_matrices("vr_eye_matrices_d", ctx, eye, enum_value(depth), projection, view);
}

VR_API vr_result vr_eye_matrices(vr_ctx *ctx, int eye, vr_depth_convention depth,
                                 float projection[16], float view[16]) {
  double p[16], v[16];
  const vr_result r =
      eye_matrices("vr_eye_matrices", ctx, eye, enum_value(depth),
                   projection != nullptr ? p : nullptr, view != nullptr ? v : nullptr);
  if (r != VR_OK) return r;
  for (int i = 0; i < 16; ++i) {
    projection[i] = static_cast<float>(p[i]);
    view[i] = static_cast<float>(v[i]);
  }
  return VR_OK;
}

}  // extern "C"
