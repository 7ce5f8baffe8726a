// Display presets: a context made for a given display, and world coordinates in plate
// centimetres. Each eye's split into a projection and a view is in view/vr_eye_matrices.cpp.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "vr.h"
#include "vr_screen_frames.h"
#include "vr_ext.h"
#include "vr_view_internal.h"

namespace {

bool positive_finite(double v) {
  return std::isfinite(v) && v > 0.0;
}

}  // namespace

extern "C" {

VR_API vr_ctx *vr_ctx_create_display(double width_cm, double height_cm, int width_px, int height_px,
                                     vr_display_kind kind) {
  const int k = vr::view::enum_value(kind);
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
    return vr::view::report_failure("vr_world_in_plate_cm", "null context", VR_ERR_BAD_VALUE);
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

}  // extern "C"
