// Tracking front end, the part every source shares: eye placement from a head pose (with the
// one-frame eye extrapolation of the fixed handlers), the mouse frames from a mouse pose, and the
// head's matrix of a decoded pose. The sources themselves live in drivers/ and are started
// through the registry (sources/vr_sources.cpp).
#include "vr.h"
#include "vr_track_internal.h"

namespace {

// Eye extrapolation: the gain ceiling, the frame rates below which it fades out (per second), and
// how far each eye point moves along the line of sight to its nodal point (cm).
constexpr double gain_ceiling = 2.0;
constexpr double rate_no_prediction_per_s = 2.0;
constexpr double rate_full_prediction_per_s = 6.0;
constexpr double nodal_step_cm = 1.1;

// The previous eye points in tracker coordinates, shared by the Logitech 6D and DynaSight paths.
dpt prev_left;
dpt prev_right;

// The mouse frames and tip points that follow from a new mouse_to_dig.
void mouse_frames(vr_ctx *ctx) {
  vr_mat_mul_mat(ctx->mouse_to_dig, ctx->dig_to_plate, ctx->mouse_to_plate);
  vr_mat_mul_dpt(ctx->mouse_tip_offset, ctx->mouse_to_plate, ctx->mouse_tip_plate);
  vr_mat_mul_dpt(ctx->mouse_tip_plate, ctx->plate_to_coexistence, ctx->mouse_tip_coexistence);
  vr_mat_mul_dpt(ctx->mouse_tip_coexistence, ctx->coexistence_to_world, ctx->mouse_tip_world);
}

// Gain of the eye extrapolation for a speed (cm/s) at a frame rate (per second).
double prediction_gain(const vr_ctx *ctx, double speed, double rate) {
  double start = ctx->predict_ramp_start;
  double end = ctx->predict_ramp_end;
  double k;
  if (speed < start)
    k = 0.0;
  else if (start < speed && speed < end)
    k = gain_ceiling * (speed - start) / (end - start);
  else
    k = gain_ceiling;
  if (rate < rate_no_prediction_per_s)
    k = 0.0;
  else if (rate < rate_full_prediction_per_s)
    k = k * (rate - rate_no_prediction_per_s) /
        (rate_full_prediction_per_s - rate_no_prediction_per_s);
  return k;
}

// Plate-coordinate eye points moved along the line of sight to the gaze target.
void to_nodal_points(vr_ctx *ctx, const dpt left_tracker, const dpt right_tracker, dpt left_out,
                     dpt right_out) {
  const double *target =
      ctx->gaze_mode == VR_GAZE_WINDOW_CENTER ? ctx->window_center : ctx->mouse_tip_plate;
  const double *in[2] = {left_tracker, right_tracker};
  double *out[2] = {left_out, right_out};
  for (int e = 0; e < 2; ++e) {
    dpt plate, gaze;
    vr_mat_mul_dpt(in[e], ctx->dig_to_plate, plate);
    vr_dvector_sub(target, plate, gaze);
    vr_dvector_normalize(gaze);
    for (int i = 0; i < 3; ++i) out[e][i] = plate[i] + nodal_step_cm * gaze[i];
  }
}

}  // namespace

namespace vr::track {

const double *previous_left_eye() {
  return prev_left;
}
const double *previous_right_eye() {
  return prev_right;
}

void place_eyes(vr_ctx *ctx, dmat head_to_dig, dpt left_out, dpt right_out) {
  dpt left, right;
  vr_mat_mul_dpt(ctx->left_eye_offset, head_to_dig, left);
  vr_mat_mul_dpt(ctx->right_eye_offset, head_to_dig, right);
  to_nodal_points(ctx, left, right, left_out, right_out);
}

void place_eyes(vr_ctx *ctx, dmat head_to_dig) {
  place_eyes(ctx, head_to_dig, ctx->screen_left_eye, ctx->screen_right_eye);
}

void derive_mouse_frames(vr_ctx *ctx) {
  mouse_frames(ctx);
}

void place_eyes_from_head(vr_ctx *ctx) {
  if (ctx->tracking_mode == VR_TRACKING_HEAD_MOUNTED) return;
  place_eyes(ctx, ctx->head_to_dig);
}

void predict_eyes(vr_ctx *ctx, dpt left_out, dpt right_out) {
  dpt left, right;
  vr_mat_mul_dpt(ctx->left_eye_offset, ctx->head_to_dig, left);
  vr_mat_mul_dpt(ctx->right_eye_offset, ctx->head_to_dig, right);

  dpt moved;
  vr_dvector_sub(left, prev_left, moved);
  double rate = 1.0 / ctx->pworld_time_delta;
  double speed = vr_dvector_length(moved) * rate;
  double k = prediction_gain(ctx, speed, rate);

  // Extrapolate each eye one frame ahead along its own motion.
  dpt left_ahead, right_ahead;
  for (int i = 0; i < 3; ++i) {
    left_ahead[i] = left[i] + k * (left[i] - prev_left[i]);
    right_ahead[i] = right[i] + k * (right[i] - prev_right[i]);
    prev_left[i] = left[i];
    prev_right[i] = right[i];
  }
  to_nodal_points(ctx, left_ahead, right_ahead, left_out, right_out);
}

void predict_eyes_from_pose(vr_ctx *ctx, vr_lt_unit *unit, const vr_lt_6d *pose, dpt left_out,
                            dpt right_out) {
  if (!ctx || !left_out || !right_out || !pose) return;
  build_mat_6Dm_to_dig(unit, pose, ctx->head_to_dig);
  predict_eyes(ctx, left_out, right_out);
}

}  // namespace vr::track

extern "C" {

VR_API void build_mat_6Dm_to_dig(vr_lt_unit *unit, const vr_lt_6d *pose, dmat out) {
  if (!pose) return;
  // Roll first, then pitch, then yaw, then the translation.
  dmat rx, ry, rz, t, m;
  vr_mat_rot_x(pose->pitch, rx);
  vr_mat_rot_y(pose->yaw, ry);
  vr_mat_rot_z(pose->roll, rz);
  vr_mat_trans(pose->x, pose->y, pose->z, t);
  vr_mat_mul_mat(rz, rx, m);
  vr_mat_mul_mat(m, ry, m);
  vr_mat_mul_mat(m, t, out);
}

}  // extern "C"
