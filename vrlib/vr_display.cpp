// Graphics conventions and display presets: a context made for a given display, world
// coordinates in plate centimetres, and each eye's view split into a projection and a
// world-to-eye matrix under the depth convention of the application's graphics interface.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>

#include "vr.h"
#include "vr_ext.h"
#include "vr_internal.h"

namespace {

// The tracker placement of the default context, kept relative to the top edge's middle of the
// screen it was made for (36.5 x 25.9 cm): leaning 50 degrees, 3 mm right of the middle,
// 11.81 cm above the top edge, 4.6 cm in front of the plate.
constexpr double default_screen_width_cm = 36.5;
constexpr double default_screen_height_cm = 25.9;
constexpr double transmitter_lean_rad = 50.0 * std::numbers::pi / 180.0;
constexpr double transmitter_right_of_middle_cm = 18.28 - default_screen_width_cm / 2.0;
constexpr double transmitter_above_top_cm = 37.71 - default_screen_height_cm;
constexpr double transmitter_in_front_cm = 4.6;

// The preset viewer: eyes level with the screen centre, this far in front of the plate.
constexpr double preset_eye_distance_cm = 60.0;

// The number a caller passed for an enumeration. C callers may pass any int; reading the bits
// keeps values outside the enumeration defined here too, so they can be refused.
template <class Enum>
int enum_value(const Enum &e) {
  static_assert(sizeof(Enum) == sizeof(int), "the enumerations are int-sized");
  int v = 0;
  std::memcpy(&v, &e, sizeof v);
  return v;
}

bool positive_finite(double v) {
  return std::isfinite(v) && v > 0.0;
}

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

vr_result split_failure(const char *who, const char *why, vr_result result) {
  std::fprintf(stderr, "%s: %s\n", who, why);
  return result;
}

// Both matrices of one eye in double precision, laid out for the graphics interfaces: a dmat's
// rows laid end to end are the column-major array of the column-vector matrix.
vr_result eye_matrices(const char *who, vr_ctx *ctx, int eye, int d, double projection_out[16],
                       double view_out[16]) {
  if (ctx == nullptr || projection_out == nullptr || view_out == nullptr) {
    return split_failure(who, "null context or matrix", VR_ERR_BAD_VALUE);
  }
  if (eye != VR_EYE_LEFT && eye != VR_EYE_RIGHT) {
    return split_failure(who, "eye is neither VR_EYE_LEFT nor VR_EYE_RIGHT", VR_ERR_BAD_VALUE);
  }
  if (d < 0 || d >= depth_convention_count) {
    return split_failure(who, "unknown depth convention", VR_ERR_BAD_VALUE);
  }
  const vr_ext_graphics &g = vr_ext(ctx).graphics;
  const vr_ext_eye_split &split = g.eyes[eye];
  if (ctx->tracking_mode == VR_TRACKING_HEAD_MOUNTED) {
    return split_failure(who, "no desk-top view in the head-mounted mode", VR_ERR_NO_VIEW);
  }
  if (split.valid == 0) {
    return split_failure(who,
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

void vr_center_transmitter(vr_ctx *ctx) {
  leaning_triangle_make_dig_to_plate(
      ctx, transmitter_lean_rad, ctx->screen_width_cm / 2.0 + transmitter_right_of_middle_cm,
      ctx->screen_height_cm + transmitter_above_top_cm, transmitter_in_front_cm);
}

void vr_center_screen_eye(vr_ctx *ctx, int eye) {
  // The fixed viewer centred on the screen; the eyes sit the eye offsets apart, as tracking
  // would place them.
  const bool left = eye == VR_EYE_LEFT;
  const double x_offset = left ? ctx->left_eye_offset[0] : ctx->right_eye_offset[0];
  const double place[3] = {ctx->screen_width_cm / 2.0 + x_offset, ctx->screen_height_cm / 2.0,
                           preset_eye_distance_cm};
  std::memcpy(left ? ctx->screen_left_eye : ctx->screen_right_eye, place, sizeof(dpt));
}

extern "C" {

VR_API vr_ctx *vr_ctx_create_display(double width_cm, double height_cm, int width_px, int height_px,
                                     vr_display_kind kind) {
  const int k = enum_value(kind);
  if (!positive_finite(width_cm) || !positive_finite(height_cm) || width_px <= 0 ||
      height_px <= 0 || (k != VR_DISPLAY_FLAT_PANEL && k != VR_DISPLAY_CRT)) {
    std::fprintf(stderr, "vr_ctx_create_display: bad display %g x %g cm, %d x %d pixels, kind %d\n",
                 width_cm, height_cm, width_px, height_px, k);
    return nullptr;
  }
  vr_ctx *ctx = vr_ctx_create();
  if (ctx == nullptr) return nullptr;

  ctx->screen_width_cm = width_cm;
  ctx->screen_height_cm = height_cm;
  ctx->screen_width_pixels = width_px;
  ctx->screen_height_pixels = height_px;
  ctx->window_x_pixels = 0.0;
  ctx->window_y_pixels = 0.0;
  ctx->window_width_pixels = width_px;
  ctx->window_height_pixels = height_px;
  // A flat panel draws on its front surface: nothing to refract.
  ctx->crt_correction = k == VR_DISPLAY_CRT ? 1 : 0;

  vr_center_transmitter(ctx);
  vr_center_screen_eye(ctx, VR_EYE_LEFT);
  vr_center_screen_eye(ctx, VR_EYE_RIGHT);

  // One world unit is one plate centimetre while the window covers the screen, as the default
  // context's fixed world scale gives on its own screen (the god's-eye unit is half the
  // window's smaller side).
  const double half_side = std::fmin(width_cm, height_cm) / 2.0;
  vr_mat_scale(1.0 / half_side, 1.0 / half_side, 1.0 / half_side, ctx->world_to_coexistence);
  vr_mat_scale(half_side, half_side, half_side, ctx->coexistence_to_world);

  vr_window_comp(ctx);
  ctx->attributes_changed = 1;
  return ctx;
}

VR_API vr_result vr_world_in_plate_cm(vr_ctx *ctx) {
  if (ctx == nullptr)
    return split_failure("vr_world_in_plate_cm", "null context", VR_ERR_BAD_VALUE);
  // The god's-eye frame stops following the display and becomes the plate itself; with the
  // coexistence centre at its origin and no world scale, world = coexistence = plate.
  ctx->gods_eye_center_mode = VR_GODS_EYE_KEPT;
  ctx->gods_eye_scale = 1.0;
  vr_mat_identity(ctx->plate_to_gods_eye);
  ctx->coexistence_base = VR_COEXISTENCE_AT_GODS_EYE;
  ctx->coexistence_center = VR_COEXISTENCE_AT_GODS_EYE;
  vr_mat_identity(ctx->world_to_coexistence);
  vr_mat_identity(ctx->coexistence_to_world);
  consistify_coexistence_center(ctx);
  ctx->attributes_changed = 1;
  return VR_OK;
}

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
