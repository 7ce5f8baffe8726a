// Eye placement: where vr_cache_eye_pos puts the eyes in each mode (fixed field, screen- or
// window-relative, the quantized grids).
#include <climits>
#include <cmath>
#include <cstring>

#include "vr.h"

namespace {

// ---------------------------------------------------------------------------------------------
// Eye-position caching helpers
// ---------------------------------------------------------------------------------------------

// The single eye of the fixed-field and window-relative modes. Both put "right" at the window
// centre like "between": only the screen-relative mode knows where a right eye is.
void place_mono_eye_x(vr_ctx *ctx) {
  const double cx = ctx->window_center[0];
  switch (ctx->mono_eye) {
    case VR_MONO_BETWEEN:
    case VR_MONO_RIGHT:
      ctx->left_eye[0] = cx;
      break;
    case VR_MONO_LEFT:
      ctx->left_eye[0] = cx + ctx->left_eye_offset[0];
      break;
    default:
      break;
  }
  ctx->right_eye[0] = ctx->left_eye[0];
}

void place_stereo_eyes_x(vr_ctx *ctx) {
  const double cx = ctx->window_center[0];
  ctx->left_eye[0] = cx + ctx->left_eye_offset[0];
  ctx->right_eye[0] = cx + ctx->right_eye_offset[0];
}

// A grid coordinate truncated toward zero. Coordinates that no int can hold (a degenerate grid
// or window gives infinities or NaN) are pinned to the ends of the int range first, so the
// conversion is always defined; the clamp to the grid follows.
int grid_index(double g) {
  if (std::isnan(g)) return 0;
  if (g >= static_cast<double>(INT_MAX)) return INT_MAX;
  if (g <= static_cast<double>(INT_MIN)) return INT_MIN;
  return static_cast<int>(g);
}

// Into 0..steps-1; a grid without positions keeps index 0.
int clamp_index(int i, int steps) {
  if (i < 0) return 0;
  if (i >= steps) return steps > 0 ? steps - 1 : 0;
  return i;
}

struct Grid {
  double half_steps;  // n/2 in floating point: an odd count gives a half-step offset
  double step;
  double center_x;

  explicit Grid(const vr_ctx *ctx)
      : half_steps(static_cast<double>(ctx->quantize_steps) / 2.0),
        step(ctx->quantize_step),
        center_x(ctx->window_center[0]) {}

  double x_of(int index) const { return (index - half_steps) * step + center_x; }
  double coordinate_of(double x) const { return (x - center_x) / step + half_steps; }
};

void place_quantized_y_z(vr_ctx *ctx) {
  ctx->left_eye[1] = ctx->right_eye[1] = ctx->window_center[1];
  ctx->left_eye[2] = ctx->right_eye[2] = ctx->quantize_distance;
}

}  // namespace

extern "C" {

// ---------------------------------------------------------------------------------------------
// Eye-position caching
// ---------------------------------------------------------------------------------------------

VR_API void vr_cache_eye_pos(vr_ctx *ctx) {
  if (ctx->quantize_force == 0) {
    switch (ctx->eye_pos_mode) {
      case VR_EYES_FIXED_FIELD:
        vr_cache_eye_pos_fixed_field(ctx);
        break;
      case VR_EYES_SCREEN_RELATIVE:
        vr_cache_eye_pos_screen_relitive(ctx);
        break;
      case VR_EYES_WINDOW_RELATIVE:
        vr_cache_eye_pos_window_relitive(ctx);
        break;
      default:
        break;  // the eyes stay where the application or the tracker left them
    }
    if (ctx->quantize_space != 0) vr_cache_eye_pos_quantize_space(ctx);
  } else {
    vr_cache_eye_pos_quantize_force(ctx);
  }
  if (ctx->eye_hook_fn != nullptr) ctx->eye_hook_fn(ctx);
}

VR_API void vr_cache_eye_pos_fixed_field(vr_ctx *ctx) {
  ctx->left_eye[1] = ctx->right_eye[1] = ctx->window_center[1];
  if (ctx->stereo) {
    place_stereo_eyes_x(ctx);
  } else {
    place_mono_eye_x(ctx);
  }
  // The distance at which the window's larger side spans the field of view.
  const double size =
      ctx->window_width_cm >= ctx->window_height_cm ? ctx->window_width_cm : ctx->window_height_cm;
  const double z = size / (std::tan(ctx->field_of_view / 2.0) * 2.0);
  ctx->left_eye[2] = ctx->right_eye[2] = z;
}

VR_API void vr_cache_eye_pos_screen_relitive(vr_ctx *ctx) {
  if (ctx->stereo) {
    std::memcpy(ctx->left_eye, ctx->screen_left_eye, sizeof(dpt));
    std::memcpy(ctx->right_eye, ctx->screen_right_eye, sizeof(dpt));
    return;
  }
  switch (ctx->mono_eye) {
    case VR_MONO_BETWEEN:
      for (int i = 0; i < 3; ++i) {
        ctx->left_eye[i] = (ctx->screen_left_eye[i] + ctx->screen_right_eye[i]) / 2.0;
      }
      break;
    case VR_MONO_LEFT:
      std::memcpy(ctx->left_eye, ctx->screen_left_eye, sizeof(dpt));
      break;
    case VR_MONO_RIGHT:
      std::memcpy(ctx->left_eye, ctx->screen_right_eye, sizeof(dpt));
      break;
    default:
      break;
  }
  std::memcpy(ctx->right_eye, ctx->left_eye, sizeof(dpt));
}

VR_API void vr_cache_eye_pos_window_relitive(vr_ctx *ctx) {
  ctx->left_eye[1] = ctx->right_eye[1] = ctx->window_center[1];
  ctx->left_eye[2] = ctx->right_eye[2] = ctx->screen_left_eye[2];
  if (ctx->stereo) {
    place_stereo_eyes_x(ctx);
    ctx->right_eye[2] = ctx->screen_right_eye[2];
  } else {
    place_mono_eye_x(ctx);
  }
}

VR_API void vr_cache_eye_pos_quantize_space(vr_ctx *ctx) {
  const Grid grid(ctx);
  const int steps = ctx->quantize_steps;
  const double left_x = ctx->screen_left_eye[0];
  const double right_x = ctx->screen_right_eye[0];

  const double a = grid.coordinate_of(left_x);
  int li = clamp_index(grid_index(a), steps);
  int ri = 0;
  ctx->left_eye[0] = grid.x_of(li);
  if (a < 0.0) {
    // Left eye off the low end: the right eye keeps the true eye distance, unsnapped.
    ctx->right_eye[0] = ctx->left_eye[0] + right_x - left_x;
    ri = grid_index(li + (right_x - left_x) / grid.step);
  } else {
    const double b = grid.coordinate_of(right_x);
    ri = clamp_index(grid_index(b), steps);
    ctx->right_eye[0] = grid.x_of(ri);
    if (b >= static_cast<double>(steps)) {
      // Right eye off the high end: the left eye keeps the true eye distance instead.
      ctx->left_eye[0] = ctx->right_eye[0] + left_x - right_x;
      li = grid_index(ri + (left_x - right_x) / grid.step);
    }
  }
  ctx->quantize_left_index = clamp_index(li, steps);
  ctx->quantize_right_index = clamp_index(ri, steps);
  place_quantized_y_z(ctx);
}

VR_API void vr_cache_eye_pos_quantize_force(vr_ctx *ctx) {
  const Grid grid(ctx);
  const int steps = ctx->quantize_steps;
  ctx->quantize_left_index = clamp_index(ctx->quantize_left_index, steps);
  ctx->left_eye[0] = grid.x_of(ctx->quantize_left_index);
  ctx->right_eye[0] = ctx->left_eye[0];
  place_quantized_y_z(ctx);
  if (ctx->stereo) {
    ctx->quantize_right_index = clamp_index(ctx->quantize_right_index, steps);
    ctx->right_eye[0] = grid.x_of(ctx->quantize_right_index);
  }
}

}  // extern "C"
