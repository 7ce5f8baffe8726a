// The window on the plate, the god's-eye frame over it and the coexistence centre: the window's
// place and size in plate centimetres from its pixels, the frame the coexistence centre starts
// from, and the coexistence frame that follows it.
#include <climits>
#include <cmath>

#include "vr.h"

namespace {

// A pixel count as an int, truncated toward zero; values no int can hold are pinned to the
// ends of the range (NaN to 0) rather than converted with undefined results.
int pixels_to_int(double v) {
  if (std::isnan(v)) return 0;
  if (v >= static_cast<double>(INT_MAX)) return INT_MAX;
  if (v <= static_cast<double>(INT_MIN)) return INT_MIN;
  return static_cast<int>(v);
}

// ---------------------------------------------------------------------------------------------
// Coexistence centre
// ---------------------------------------------------------------------------------------------

// Moves W's origin from the position the base stands for to the wanted one. Every run starts
// from a fresh copy of the base, so offsets never pile up.
void offset_coexistence_origin(vr_ctx *ctx, dmat w) {
  const int base = ctx->coexistence_base;
  const int center = ctx->coexistence_center;
  const double s = std::sqrt(w[0][0] * w[0][0] + w[0][1] * w[0][1] + w[0][2] * w[0][2]);
  const double up = s * ctx->coexistence_height;
  const double forward = s * ctx->coexistence_distance;
  double &ty = w[3][1];
  double &tz = w[3][2];

  if (base == VR_COEXISTENCE_AT_GODS_EYE && center == VR_COEXISTENCE_IN_FRONT) {
    tz -= forward;
  } else if (base == VR_COEXISTENCE_AT_GODS_EYE && center == VR_COEXISTENCE_RAISED) {
    ty -= up;
    tz -= forward;
  } else if (base == VR_COEXISTENCE_IN_FRONT && center == VR_COEXISTENCE_AT_GODS_EYE) {
    tz += forward;
  } else if (base == VR_COEXISTENCE_IN_FRONT && center == VR_COEXISTENCE_RAISED) {
    ty -= up;
  } else if (base == VR_COEXISTENCE_RAISED && center == VR_COEXISTENCE_AT_GODS_EYE) {
    ty += up;
    tz += forward;
  } else if (base == VR_COEXISTENCE_RAISED && center == VR_COEXISTENCE_IN_FRONT) {
    ty += up;
  }
}

}  // namespace

extern "C" {

// ---------------------------------------------------------------------------------------------
// Display plate geometry
// ---------------------------------------------------------------------------------------------

VR_API void vr_construct_gods_eye_to_plate(vr_ctx *ctx) {
  double cx = 0.0, cy = 0.0;
  switch (ctx->gods_eye_center_mode) {
    case VR_GODS_EYE_WINDOW:
      cx = ctx->window_center[0];
      cy = ctx->window_center[1];
      break;
    case VR_GODS_EYE_SCREEN:
      cx = ctx->screen_width_cm / 2.0;
      cy = ctx->screen_height_cm / 2.0;
      break;
    default:
      return;  // 0: the frame is not rebuilt; unknown centres leave it alone as well
  }

  double size = 0.0;
  switch (ctx->gods_eye_size_mode) {
    case VR_GODS_EYE_WINDOW:
      size = std::fmin(ctx->window_width_cm, ctx->window_height_cm);
      ctx->gods_eye_scale = size / 2.0;
      break;
    case VR_GODS_EYE_SCREEN:
      size = std::fmin(ctx->screen_width_cm, ctx->screen_height_cm);
      ctx->gods_eye_scale = 1.0;
      break;
    default:
      // No size from the display: the scale stays as the application set it, and the lift
      // uses the size that scale stands for in the window mode.
      size = 2.0 * ctx->gods_eye_scale;
      break;
  }

  const double cz = ctx->gods_eye_z_factor * size;
  vr_mat_scale_and_trans(cx, cy, cz, ctx->gods_eye_scale, ctx->coexistence_to_plate);
  vr_mat_inv2(ctx->coexistence_to_plate, ctx->plate_to_coexistence);
  vr_mat_copy(ctx->plate_to_coexistence, ctx->plate_to_gods_eye);
  if (ctx->tracking_mode == VR_TRACKING_HEAD_MOUNTED) ctx->gods_eye_scale = 1.0;
}

// ---------------------------------------------------------------------------------------------
// Window tracking
// ---------------------------------------------------------------------------------------------

VR_API void vr_window_match_ws(vr_ctx *ctx, int x, int y, int width, int height) {
  // A minimised window is reported as 0 x 0: keep the last window, and with it the last views.
  if (width <= 0 || height <= 0) return;
  ctx->window_x_pixels = x;
  ctx->window_y_pixels = y;
  ctx->window_width_pixels = width;
  ctx->window_height_pixels = height;
  vr_window_comp(ctx);
}

VR_API void vr_window_comp(vr_ctx *ctx) {
  ctx->cm_per_pixel_x = ctx->screen_width_cm / ctx->screen_width_pixels;
  ctx->cm_per_pixel_y = ctx->screen_height_cm / ctx->screen_height_pixels;
  ctx->window_left_cm = ctx->window_x_pixels * ctx->cm_per_pixel_x;
  // Pixel rows count down from the screen top; the plate counts up from its bottom.
  ctx->window_bottom_cm =
      (ctx->screen_height_pixels - (ctx->window_y_pixels + ctx->window_height_pixels)) *
      ctx->cm_per_pixel_y;
  ctx->window_width_cm = ctx->window_width_pixels * ctx->cm_per_pixel_x;
  ctx->window_height_cm = ctx->window_height_pixels * ctx->cm_per_pixel_y;
  ctx->window_center[0] = ctx->window_left_cm + ctx->window_width_cm / 2.0;
  ctx->window_center[1] = ctx->window_bottom_cm + ctx->window_height_cm / 2.0;
  ctx->window_center[2] = 0.0;
  vr_cache_eye_pos(ctx);
  consistify_coexistence_center(ctx);
}

VR_API void vr_window_fullscreen(vr_ctx *ctx, int *x, int *y, int *width, int *height) {
  if (x != nullptr) *x = 0;
  if (y != nullptr) *y = 0;
  if (width != nullptr) *width = pixels_to_int(ctx->screen_width_pixels);
  if (height != nullptr) *height = pixels_to_int(ctx->screen_height_pixels);
}

// ---------------------------------------------------------------------------------------------
// Coexistence centre
// ---------------------------------------------------------------------------------------------

VR_API void consistify_coexistence_center(vr_ctx *ctx) {
  if (ctx->coexistence_base == VR_COEXISTENCE_AT_GODS_EYE) vr_construct_gods_eye_to_plate(ctx);

  if (ctx->tracking_mode != VR_TRACKING_HEAD_MOUNTED) {
    vr_mat_copy(ctx->plate_to_gods_eye, ctx->plate_to_coexistence);
    offset_coexistence_origin(ctx, ctx->plate_to_coexistence);
    vr_mat_inv2(ctx->plate_to_coexistence, ctx->coexistence_to_plate);
  } else {
    vr_mat_copy(ctx->gods_eye_to_dig, ctx->coexistence_to_dig);
    vr_mat_inv2(ctx->coexistence_to_dig, ctx->dig_to_coexistence);
    offset_coexistence_origin(ctx, ctx->dig_to_coexistence);
    vr_mat_inv2(ctx->dig_to_coexistence, ctx->coexistence_to_dig);
  }
}

}  // extern "C"
