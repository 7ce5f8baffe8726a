// The serial sources' per-frame handlers and their set-up's last step, which installs them: each
// frame reads the newest record of the unit's capture ring, turns it into the head's or the
// mouse's pose and notes for the tracking status what it found. With display-time tracking on,
// vr_serial_display_time.cpp does the reading instead. (The lines' set-up itself is in vr_lt.cpp
// and vr_ds.cpp, which know nothing of the handlers.)
#include "vr_serial_frames.h"

#include "vr_display_time.h"
#include "vr_lt_internal.h"
#include "vr_lt_raw.h"
#include "vr_status.h"
#include "vr_track_internal.h"

namespace {

// A unit reporting on demand sends nothing until asked: each frame asks for the report that the
// next frame reads.
void demand_next_report(vr_lt_unit *unit) {
  if (use_demand_reporting) vr_lt_demand_event(unit);
}

// The mouse's frame with display-time tracking off (or for a source the mode does not serve):
// the tracking status's mark of what it found.
long long fixed_mouse_frame(vr_ctx *ctx, vr_lt_unit *unit) {
  namespace status = vr::status;
  if (ctx->mouse_source == VR_MOUSE_SOURCE_LOGITECH_RAW) {
    const int accepted = vr_lt_obtain_current_raw_events(ctx, unit);
    const long long mark = vr::serial::raw_mark(unit, accepted);
    if (accepted > 0) {
      int buttons = vr_lt_debounce_buttons(unit);
      if (buttons != -1) ctx->mouse_buttons = buttons & 15;
    }
    // Even without a new record the solver can carry the pose forward from the history.
    if (comp_mouse_6d_raws(ctx, unit, ctx->mouse_to_dig)) vr::track::derive_mouse_frames(ctx);
    return mark;
  }
  if (ctx->mouse_source == VR_MOUSE_SOURCE_CYBERMAN) {
    vr_lt_obtain_current_raw_cyberman(unit);
    vr_lt_cyberman_cvt(unit->record, &ctx->cyberman_state);
    return vr::serial::cyberman_mark(unit);
  }
  vr_lt_6d pose;
  const bool got = vr_lt_get_6d(unit, &pose);
  const long long mark = got ? vr::serial::report_6d_mark(unit) : status::no_pose;
  demand_next_report(unit);
  if (!got) return mark;
  ctx->mouse_buttons = pose.buttons;
  build_mat_6Dm_to_dig(unit, &pose, ctx->mouse_to_dig);
  vr::track::derive_mouse_frames(ctx);
  return mark;
}

// The glasses' frame with display-time tracking off (or for a source the mode does not serve):
// the tracking status's mark of what it found, no_tracker without a unit to read.
long long fixed_glasses_frame(vr_ctx *ctx) {
  namespace status = vr::status;
  vr_lt_6d pose;
  switch (ctx->glasses_source) {
    case VR_GLASSES_SOURCE_LOGITECH_RAW: {
      vr_lt_unit *unit = vr_lt_glasses_unit;
      if (!unit) return status::no_tracker;
      const int accepted = vr_lt_obtain_current_raw_events(ctx, unit);
      const long long mark = vr::serial::raw_mark(unit, accepted);
      if (accepted <= 0) return mark;
      if (ctx->tracking_mode == VR_TRACKING_HEAD_MOUNTED)
        comp_mouse_6d_raws(ctx, unit, ctx->head_to_dig);
      else
        vr_lt_new_predict_eye_nodal_points(unit, ctx, nullptr, ctx->screen_left_eye,
                                           ctx->screen_right_eye);
      return mark;
    }
    case VR_GLASSES_SOURCE_LOGITECH_6D: {
      vr_lt_unit *unit = vr_lt_glasses_unit;
      if (!unit) return status::no_tracker;
      const bool got = vr_lt_get_6d(unit, &pose);
      const long long mark = got ? vr::serial::report_6d_mark(unit) : status::no_pose;
      demand_next_report(unit);
      if (got)
        vr_lt_predict_eye_nodal_points(unit, ctx, &pose, ctx->screen_left_eye,
                                       ctx->screen_right_eye);
      return mark;
    }
    case VR_GLASSES_SOURCE_DYNASIGHT: {
      if (!vr_ds_glasses_unit) return status::no_tracker;
      const bool got = vr_ds_get_6d(vr_ds_glasses_unit, &pose);
      const long long mark = got ? vr::serial::dynasight_mark(vr_ds_glasses_unit) : status::no_pose;
      if (got)
        vr_lt_predict_eye_nodal_points(vr_ds_glasses_unit, ctx, &pose, ctx->screen_left_eye,
                                       ctx->screen_right_eye);
      return mark;
    }
    default:
      return status::no_tracker;
  }
}

// The handlers of the units asked for, with the Logitech remove function for both.
void install_handlers(vr_ctx *ctx, int want_glasses, int want_mouse) {
  if (want_glasses)
    vr_object_set(ctx, VR_GLASSES_EVENT_FN, static_cast<vr_fn>(vr_lt_event_glasses),
                  VR_GLASSES_REMOVE_FN, static_cast<vr_fn>(vr_lt_remove_glasses_and_mouse_6d), 0);
  if (want_mouse)
    vr_object_set(ctx, VR_MOUSE_EVENT_FN, static_cast<vr_fn>(vr_lt_event_mouse3d),
                  VR_MOUSE_REMOVE_FN, static_cast<vr_fn>(vr_lt_remove_glasses_and_mouse_6d), 0);
}

// The sources' start, restart and stop as the registry calls them.
int start_logitech(vr_ctx *ctx, int want_glasses, int want_mouse) {
  return vr_lt_init_glasses_and_mouse_6d(ctx, want_glasses, want_mouse);
}
void restart_logitech(vr_ctx *ctx, int want_glasses, int want_mouse) {
  vr_lt_re_init_glasses_and_mouse_6d(ctx, want_glasses, want_mouse);
}
int start_dynasight(vr_ctx *ctx, int, int) {
  return vr_ds_init_glasses(ctx);
}

}  // namespace

namespace vr::sources {

const vr::track::Source logitech = {
    .name = "Logitech",
    .glasses_sources = {VR_GLASSES_SOURCE_LOGITECH_RAW, VR_GLASSES_SOURCE_LOGITECH_6D},
    .takes_other_mouse = true,
    .start = start_logitech,
    .restart = restart_logitech,
    .stop = vr_lt_remove_glasses_and_mouse_6d};
const vr::track::Source dynasight = {.name = "DynaSight",
                                     .glasses_sources = {VR_GLASSES_SOURCE_DYNASIGHT, 0},
                                     .start = start_dynasight,
                                     .stop = vr_ds_remove_glasses};

}  // namespace vr::sources

extern "C" {

VR_API void vr_lt_event_mouse3d(vr_ctx *ctx) {
  vr_lt_unit *unit = vr_lt_mouse_6d_unit;
  // Without a unit there is no tracker to report on: the status stays as it was.
  if (!ctx || !unit) return;
  long long mark = vr::status::no_tracker;
  if (!vr::serial::display_mouse_frame(ctx, unit, &mark)) mark = fixed_mouse_frame(ctx, unit);
  vr::status::note(ctx, vr::status::mouse, mark);
}

VR_API void vr_lt_event_glasses(vr_ctx *ctx) {
  if (!ctx) return;
  long long mark = vr::status::no_tracker;
  if (!vr::serial::display_glasses_frame(ctx, &mark)) mark = fixed_glasses_frame(ctx);
  vr::status::note(ctx, vr::status::head, mark);
}

VR_API int vr_lt_init_glasses_and_mouse_6d(vr_ctx *ctx, int want_glasses, int want_mouse) {
  if (!ctx) return 0;
  if (ctx->tracking_mode == VR_TRACKING_NONE) return 1;
  int raw = ctx->glasses_source == VR_GLASSES_SOURCE_LOGITECH_6D ? 0 : 1;
  if (ctx->mouse_source == VR_MOUSE_SOURCE_CYBERMAN) cybermen_present = 1;
  temporal_filter_length = ctx->event_filter_length;
  if (!vr_lt_port_open(ctx, want_glasses, want_mouse, raw, 0)) return 0;
  install_handlers(ctx, want_glasses, want_mouse);
  return 1;
}

VR_API int vr_lt_re_init_glasses_and_mouse_6d(vr_ctx *ctx, int want_glasses, int want_mouse) {
  if (!ctx) return 0;
  if (ctx->tracking_mode == VR_TRACKING_NONE) return 1;
  int raw = ctx->glasses_source == VR_GLASSES_SOURCE_LOGITECH_6D ? 0 : 1;
  if (!vr_lt_port_open(ctx, want_glasses, want_mouse, raw, 1)) return 0;
  install_handlers(ctx, want_glasses, want_mouse);
  return 1;
}

VR_API int vr_ds_init_glasses(vr_ctx *ctx) {
  if (!ctx) return 0;
  if (ctx->tracking_mode == VR_TRACKING_NONE) return 1;
  if (!vr_ds_port_open()) return 0;
  vr_object_set(ctx, VR_GLASSES_EVENT_FN, static_cast<vr_fn>(vr_lt_event_glasses),
                VR_GLASSES_REMOVE_FN, static_cast<vr_fn>(vr_ds_remove_glasses), 0);
  return 1;
}

VR_API void vr_lt_predict_eye_nodal_points(vr_lt_unit *unit, vr_ctx *ctx, const vr_lt_6d *pose,
                                           dpt left_out, dpt right_out) {
  if (!ctx || !left_out || !right_out) return;
  if (ctx->glasses_source == VR_GLASSES_SOURCE_LOGITECH_RAW) {
    if (!vr_lt_glasses_unit) return;
    comp_mouse_6d_raws(ctx, vr_lt_glasses_unit, ctx->head_to_dig);
    vr::track::predict_eyes(ctx, left_out, right_out);
  } else {
    vr::track::predict_eyes_from_pose(ctx, unit, pose, left_out, right_out);
  }
}

VR_API void vr_lt_new_predict_eye_nodal_points(vr_lt_unit *unit, vr_ctx *ctx, const vr_lt_6d *pose,
                                               dpt left_out, dpt right_out) {
  if (!ctx || !left_out || !right_out || !vr_lt_glasses_unit) return;
  // The raw solver already looks ahead; the eye points are only placed.
  comp_mouse_6d_raws(ctx, vr_lt_glasses_unit, ctx->head_to_dig);
  vr::track::place_eyes(ctx, ctx->head_to_dig, left_out, right_out);
}

}  // extern "C"
