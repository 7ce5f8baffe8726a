// The fixed calibration frames that take a context: the transmitter leaning over the screen,
// the head-mounted coexistence frame and each eye's head-mounted display plate; and what the
// display presets place for a screen's size (the transmitter over its top edge, the fixed eyes
// before its centre).
#include "vr_screen_frames.h"

#include <cstring>
#include <numbers>

#include "vr.h"
#include "vr_mat_blocks.h"

namespace {

using namespace vr::mat;

constexpr double cm_per_inch = 2.54;
// Where the head-mounted coexistence frame sits below and behind the transmitter.
constexpr double hmd_coexistence_drop_cm = -12 * cm_per_inch - 45;
constexpr double hmd_coexistence_back_cm = 18 * cm_per_inch;
// Distance from the head sensor to each eye's display plate.
constexpr double hmd_plate_distance_cm = 13 * cm_per_inch;

void eye_plate(const vr_ctx *ctx, const dpt eye_offset, dmat m) {
  set_translation(m, eye_offset[0] + ctx->screen_width_cm / 2,
                  eye_offset[1] + ctx->screen_height_cm / 2, eye_offset[2] + hmd_plate_distance_cm);
}

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

}  // namespace

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

// Writes the context's dig_to_plate in place.
VR_API void leaning_triangle_make_dig_to_plate(vr_ctx *ctx, double angle, double x, double y,
                                               double z) {
  if (ctx == nullptr) return;
  dmat &dig_to_plate = ctx->dig_to_plate;
  // The transmitter tilted by angle about the plate's x axis, its origin at (x, y, z).
  set_rotation(angle, 1, 2, dig_to_plate);
  set_translation(dig_to_plate, x, y, z);
}

// rot_x(angle) x translation(x, y, z).
VR_API void fake_make_dig_to_plate(double angle, double x, double y, double z, dmat out) {
  dmat rotation;
  vr_mat_trans(x, y, z, out);
  vr_mat_rot_x(angle, rotation);
  vr_mat_mul_mat(rotation, out, out);
}

// A coexistence point (x, y, z) maps to the digitiser point (x, z - 75.48, d - 45.72 - y).
VR_API void make_coexistence_to_dig(vr_ctx *ctx, double d) {
  dmat &m = ctx->coexistence_to_dig;
  set_zero(m);
  m[0][0] = 1.0;
  m[2][1] = 1.0;
  m[1][2] = -1.0;
  m[3][3] = 1.0;
  m[3][1] = hmd_coexistence_drop_cm;
  m[3][2] = d - hmd_coexistence_back_cm;
}

// A head point (x, y, z) maps to (tx - x, ty - z, tz - y) on each eye's display plate, where
// t is the eye offset moved to the plate's centre and out by the plate distance.
VR_API void make_head_to_lr_plate(vr_ctx *ctx) {
  dmat &left = ctx->head_to_lr_plate[0];
  set_zero(left);
  left[0][0] = -1.0;
  left[2][1] = -1.0;
  left[1][2] = -1.0;
  left[3][3] = 1.0;
  vr_dmat_to_dmat(left, ctx->head_to_lr_plate[1]);
  eye_plate(ctx, ctx->left_eye_offset, left);
  eye_plate(ctx, ctx->right_eye_offset, ctx->head_to_lr_plate[1]);
}

}  // extern "C"
