// Tracking front-end: starts the tracker driver that the context names and holds the per-frame
// handlers that turn the newest tracker data into the mouse pose, the head pose and the two
// predicted eye positions.
#include "vr.h"
#include "vr_status.h"
#include "vr_net.h"
#include "vr_display_time.h"
#include "vr_track_internal.h"

namespace {

constexpr int source_lt_raw = 1;
constexpr int source_lt_6d = 2;
constexpr int source_cyberman = 3;
constexpr int source_dynasight = 4;
constexpr int tracking_head_mounted = 5;

// Eye extrapolation: the gain ceiling, the frame rates below which it fades out (per second), and
// how far each eye point moves along the line of sight to its nodal point (cm).
constexpr double gain_ceiling = 2.0;
constexpr double rate_no_prediction_per_s = 2.0;
constexpr double rate_full_prediction_per_s = 6.0;
constexpr double nodal_step_cm = 1.1;

// The previous eye points in tracker coordinates, shared by the Logitech 6D and DynaSight paths.
dpt prev_left;
dpt prev_right;

bool logitech_source(int s) {
  return s == source_lt_raw || s == source_lt_6d;
}

// A unit reporting on demand sends nothing until asked: each frame asks for the report that the
// next frame reads.
void demand_next_report(vr_lt_unit *unit) {
  if (use_demand_reporting) vr_lt_demand_event(unit);
}

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
  const double *target = ctx->gaze_mode == 1 ? ctx->window_center : ctx->mouse_tip_plate;
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

// The mouse's frame with display-time tracking off (or for a source the mode does not serve):
// the tracking status's mark of what it found.
long long fixed_mouse_frame(vr_ctx *ctx, vr_lt_unit *unit) {
  namespace status = vr::status;
  if (ctx->mouse_source == source_lt_raw) {
    const int accepted = vr_lt_obtain_current_raw_events(ctx, unit);
    const long long mark = status::raw_mark(unit, accepted);
    if (accepted > 0) {
      int buttons = vr_lt_debounce_buttons(unit);
      if (buttons != -1) ctx->mouse_buttons = buttons & 15;
    }
    // Even without a new record the solver can carry the pose forward from the history.
    if (comp_mouse_6d_raws(ctx, unit, ctx->mouse_to_dig)) mouse_frames(ctx);
    return mark;
  }
  if (ctx->mouse_source == source_cyberman) {
    vr_lt_obtain_current_raw_cyberman(unit);
    vr_lt_cyberman_cvt(unit->record, &ctx->cyberman_state);
    return status::cyberman_mark(unit);
  }
  vr_lt_6d pose;
  const bool got = vr_lt_get_6d(unit, &pose);
  const long long mark = got ? status::report_6d_mark(unit) : status::no_pose;
  demand_next_report(unit);
  if (!got) return mark;
  ctx->mouse_buttons = pose.buttons;
  build_mat_6Dm_to_dig(unit, &pose, ctx->mouse_to_dig);
  mouse_frames(ctx);
  return mark;
}

// The glasses' frame with display-time tracking off (or for a source the mode does not serve):
// the tracking status's mark of what it found, no_tracker without a unit to read.
long long fixed_glasses_frame(vr_ctx *ctx) {
  namespace status = vr::status;
  vr_lt_6d pose;
  switch (ctx->glasses_source) {
    case source_lt_raw: {
      vr_lt_unit *unit = vr_lt_glasses_unit;
      if (!unit) return status::no_tracker;
      const int accepted = vr_lt_obtain_current_raw_events(ctx, unit);
      const long long mark = status::raw_mark(unit, accepted);
      if (accepted <= 0) return mark;
      if (ctx->tracking_mode == tracking_head_mounted)
        comp_mouse_6d_raws(ctx, unit, ctx->head_to_dig);
      else
        vr_lt_new_predict_eye_nodal_points(unit, ctx, nullptr, ctx->screen_left_eye,
                                           ctx->screen_right_eye);
      return mark;
    }
    case source_lt_6d: {
      vr_lt_unit *unit = vr_lt_glasses_unit;
      if (!unit) return status::no_tracker;
      const bool got = vr_lt_get_6d(unit, &pose);
      const long long mark = got ? status::report_6d_mark(unit) : status::no_pose;
      demand_next_report(unit);
      if (got)
        vr_lt_predict_eye_nodal_points(unit, ctx, &pose, ctx->screen_left_eye,
                                       ctx->screen_right_eye);
      return mark;
    }
    case source_dynasight: {
      if (!vr_ds_glasses_unit) return status::no_tracker;
      const bool got = vr_ds_get_6d(vr_ds_glasses_unit, &pose);
      const long long mark = got ? status::dynasight_mark(vr_ds_glasses_unit) : status::no_pose;
      if (got)
        vr_lt_predict_eye_nodal_points(vr_ds_glasses_unit, ctx, &pose, ctx->screen_left_eye,
                                       ctx->screen_right_eye);
      return mark;
    }
    default:
      return status::no_tracker;
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

void place_eyes(vr_ctx *ctx, dmat head_to_dig) {
  dpt left, right;
  vr_mat_mul_dpt(ctx->left_eye_offset, head_to_dig, left);
  vr_mat_mul_dpt(ctx->right_eye_offset, head_to_dig, right);
  to_nodal_points(ctx, left, right, ctx->screen_left_eye, ctx->screen_right_eye);
}

void derive_mouse_frames(vr_ctx *ctx) {
  mouse_frames(ctx);
}

void place_eyes_from_head(vr_ctx *ctx) {
  if (ctx->tracking_mode == tracking_head_mounted) return;
  place_eyes(ctx, ctx->head_to_dig);
}

}  // namespace vr::track

extern "C" {

VR_API int vr_init_glasses_and_mouse_6d(vr_ctx *ctx, int want_glasses, int want_mouse) {
  if (!ctx) return 0;
  const bool vrpn_mouse = want_mouse && ctx->mouse_source == VR_MOUSE_SOURCE_VRPN;
  if (ctx->glasses_source == VR_GLASSES_SOURCE_VRPN)
    return vr_vrpn_init(ctx, want_glasses, vrpn_mouse);
  if (logitech_source(ctx->glasses_source) && vrpn_mouse) {
    // A Logitech head with a VRPN mouse: the units' own mouse stays closed.
    if (!vr_lt_init_glasses_and_mouse_6d(ctx, want_glasses, 0)) return 0;
    return vr_vrpn_init(ctx, 0, 1);
  }
  if (logitech_source(ctx->glasses_source))
    return vr_lt_init_glasses_and_mouse_6d(ctx, want_glasses, want_mouse);
  if (ctx->glasses_source == source_dynasight) return vr_ds_init_glasses(ctx);
  if (ctx->glasses_source == VR_SOURCE_NETWORK) return vr_net_init_glasses(ctx);
  return 0;
}

VR_API void vr_re_init_glasses_and_mouse_6d(vr_ctx *ctx, int want_glasses, int want_mouse) {
  if (ctx && logitech_source(ctx->glasses_source))
    vr_lt_re_init_glasses_and_mouse_6d(ctx, want_glasses, want_mouse);
}

VR_API void vr_remove_glasses_and_mouse_6d(vr_ctx *ctx) {
  if (!ctx) return;
  vr_vrpn_remove(ctx);
  if (logitech_source(ctx->glasses_source))
    vr_lt_remove_glasses_and_mouse_6d(ctx);
  else if (ctx->glasses_source == source_dynasight)
    vr_ds_remove_glasses(ctx);
  else if (ctx->glasses_source == VR_SOURCE_NETWORK)
    vr_net_remove_glasses(ctx);
}

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

VR_API void vr_lt_event_mouse3d(vr_ctx *ctx) {
  vr_lt_unit *unit = vr_lt_mouse_6d_unit;
  // Without a unit there is no tracker to report on: the status stays as it was.
  if (!ctx || !unit) return;
  long long mark = vr::status::no_tracker;
  if (!vr::display::mouse_frame(ctx, unit, &mark)) mark = fixed_mouse_frame(ctx, unit);
  vr::status::note(ctx, vr::status::mouse, mark);
}

VR_API void vr_lt_event_glasses(vr_ctx *ctx) {
  if (!ctx) return;
  long long mark = vr::status::no_tracker;
  if (!vr::display::glasses_frame(ctx, &mark)) mark = fixed_glasses_frame(ctx);
  vr::status::note(ctx, vr::status::head, mark);
}

VR_API void vr_lt_predict_eye_nodal_points(vr_lt_unit *unit, vr_ctx *ctx, const vr_lt_6d *pose,
                                           dpt left_out, dpt right_out) {
  if (!ctx || !left_out || !right_out) return;
  if (ctx->glasses_source == source_lt_raw) {
    if (!vr_lt_glasses_unit) return;
    comp_mouse_6d_raws(ctx, vr_lt_glasses_unit, ctx->head_to_dig);
  } else {
    if (!pose) return;
    build_mat_6Dm_to_dig(unit, pose, ctx->head_to_dig);
  }

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

VR_API void vr_lt_new_predict_eye_nodal_points(vr_lt_unit *unit, vr_ctx *ctx, const vr_lt_6d *pose,
                                               dpt left_out, dpt right_out) {
  if (!ctx || !left_out || !right_out || !vr_lt_glasses_unit) return;
  // The raw solver already looks ahead; the eye points are only placed.
  comp_mouse_6d_raws(ctx, vr_lt_glasses_unit, ctx->head_to_dig);
  dpt left, right;
  vr_mat_mul_dpt(ctx->left_eye_offset, ctx->head_to_dig, left);
  vr_mat_mul_dpt(ctx->right_eye_offset, ctx->head_to_dig, right);
  to_nodal_points(ctx, left, right, left_out, right_out);
}

}  // extern "C"
