// The VRPN head and mouse source: poses from a lab tracker's VRPN server, polled once per frame
// through the VRPN door, turned into the head and mouse poses in the tracker's (dig) frame and
// from there into eyes and mouse tip exactly as the serial sources do.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "vr.h"
#include "vr_display_time.h"
#include "vr_ext.h"
#include "vr_source.h"
#include "vr_status.h"
#include "vr_track_internal.h"
#include "vr_vrpn_internal.h"

namespace {

using vr::vrpn::keep_name;

constexpr int button_count = 4;  // VR_MOUSE_BUTTONS holds the low four bits
constexpr const char *env_devices = "VRLIB_VRPN";

// The newest report of one sensor that the frame's poll delivered.
struct Newest {
  bool fresh = false;
  dpt position{};
  dquat orientation{};
  double stamp_s = 0.0;
  long long count = 0;  // reports of this sensor so far: the tracking status's mark
};

// One context's running source: the door's handle and what the last poll delivered.
struct Source {
  vr_vrpn_door door;
  void *handle = nullptr;
  int head_sensor = 0;
  int mouse_sensor = 1;
  bool head = false;
  bool mouse = false;
  Newest newest[2];  // head, mouse
  int buttons = 0;
  bool buttons_changed = false;
  int reports = 0;
  // Set for the length of one poll: the context whose frame it is, and whether every head
  // report goes to the display-time predictor as it comes in.
  vr_ctx *ctx = nullptr;
  bool dated = false;
};

enum { head_slot = 0, mouse_slot = 1 };

Source *source_of(vr_ctx *ctx) {
  return static_cast<Source *>(vr_ext(ctx).vrpn.source);
}

// The measurement time of a report in the context's physical world time: its age on the door's
// clock, counted back from this frame. A report without a stamp is as old as this frame.
double pose_time(vr_ctx *ctx, const Source &s, double stamp_s) {
  if (stamp_s <= 0.0) return ctx->pworld_time_now;
  const double age_s = s.door.now(s.door.user) - stamp_s;
  return ctx->pworld_time_now - (age_s > 0.0 ? age_s : 0.0);
}

// A head report for the display-time predictor, at its measurement time: the server's own stamp
// where it sends one, else its arrival less the tracker's delay (as for the network source).
void date_head_report(Source &s, const double position[3], const dquat orientation,
                      double stamp_s) {
  vr_ctx *ctx = s.ctx;
  dmat head_to_dig;
  vr::vrpn::pose_to_matrix(position, orientation, vr_ext(ctx).vrpn.cm_per_unit, head_to_dig);
  const double measured_s = stamp_s > 0.0
                                ? pose_time(ctx, s, stamp_s)
                                : ctx->pworld_time_now - vr::display::tracker_delay_s(ctx);
  vr::display::take_dated_head(ctx, head_to_dig, measured_s);
}

void on_pose(void *user, int sensor, const double position[3], const dquat orientation,
             double stamp_s) {
  auto *s = static_cast<Source *>(user);
  ++s->reports;
  const bool wanted[2] = {s->head && sensor == s->head_sensor,
                          s->mouse && sensor == s->mouse_sensor};
  for (int slot = 0; slot < 2; ++slot) {
    if (!wanted[slot]) continue;
    Newest &n = s->newest[slot];
    n.fresh = true;
    ++n.count;
    std::memcpy(n.position, position, sizeof n.position);
    std::memcpy(n.orientation, orientation, sizeof n.orientation);
    n.stamp_s = stamp_s;
    if (slot == head_slot && s->dated) date_head_report(*s, position, orientation, stamp_s);
  }
}

void on_button(void *user, int button, int pressed) {
  auto *s = static_cast<Source *>(user);
  if (button < 0 || button >= button_count) return;
  const int bit = 1 << button;
  s->buttons = pressed ? (s->buttons | bit) : (s->buttons & ~bit);
  s->buttons_changed = true;
}

// Reads everything that has arrived since the last frame. Never blocks.
void poll(vr_ctx *ctx, Source &s) {
  vr_ext_vrpn &e = vr_ext(ctx).vrpn;
  s.head_sensor = e.head_sensor;
  s.mouse_sensor = e.mouse_sensor;
  s.ctx = ctx;
  s.dated = s.head && vr::display::dated_poses_on(ctx);
  const vr_vrpn_sink sink{&s, on_pose, on_button};
  e.connected = s.door.poll(s.door.user, s.handle, &sink) ? 1 : 0;
  s.ctx = nullptr;
  e.reports = s.reports;
}

long long mark_of(const Newest &n) {
  return n.count > 0 ? n.count - 1 : vr::status::no_pose;
}

// The head source's step from the newest pose to the eyes, with display-time tracking off.
void head_pose_to_eyes(vr_ctx *ctx, const dmat head_to_dig) {
  std::memcpy(ctx->head_to_dig, head_to_dig, sizeof(dmat));
  vr::track::place_eyes_from_head(ctx);
}

void vrpn_event_mouse(vr_ctx *ctx) {
  Source *s = source_of(ctx);
  if (!s) return;
  poll(ctx, *s);
  Newest &n = s->newest[mouse_slot];
  vr::status::note(ctx, vr::status::mouse, mark_of(n));
  if (s->buttons_changed) {
    ctx->mouse_buttons = s->buttons;
    s->buttons_changed = false;
  }
  if (!n.fresh) return;
  n.fresh = false;
  vr_ext(ctx).vrpn.mouse_pose_s = pose_time(ctx, *s, n.stamp_s);
  vr::vrpn::pose_to_matrix(n.position, n.orientation, vr_ext(ctx).vrpn.cm_per_unit,
                           ctx->mouse_to_dig);
  vr::track::derive_mouse_frames(ctx);
}

void vrpn_event_glasses(vr_ctx *ctx) {
  Source *s = source_of(ctx);
  if (!s) return;
  // The mouse handler runs first in a frame and has polled already when it is VRPN's.
  if (!s->mouse) poll(ctx, *s);
  Newest &n = s->newest[head_slot];
  vr::status::note(ctx, vr::status::head, mark_of(n));
  const bool fresh = n.fresh;
  if (fresh) {
    n.fresh = false;
    vr_ext_vrpn &e = vr_ext(ctx).vrpn;
    e.head_stamp_s = n.stamp_s > 0.0 ? n.stamp_s : s->door.now(s->door.user);
    e.head_pose_s = pose_time(ctx, *s, n.stamp_s);
  }
  // With display-time tracking on, the poll fed every head report to the predictor: the eyes go
  // where it says the head is at the display time, every frame, new report or not.
  if (vr::display::dated_poses_on(ctx) && vr::display::place_dated_eyes(ctx)) return;
  if (!fresh) return;
  dmat head_to_dig;
  vr::vrpn::pose_to_matrix(n.position, n.orientation, vr_ext(ctx).vrpn.cm_per_unit, head_to_dig);
  head_pose_to_eyes(ctx, head_to_dig);
}

// The devices named by VRLIB_VRPN: "tracker" or "tracker,button".
bool devices_from_environment(vr_ctx *ctx) {
  const char *value = std::getenv(env_devices);
  if (!value || !*value) return false;
  const char *comma = std::strchr(value, ',');
  char tracker[VR_VRPN_NAME_BYTES], button[VR_VRPN_NAME_BYTES];
  const std::size_t tracker_length =
      comma ? static_cast<std::size_t>(comma - value) : std::strlen(value);
  if (!keep_name(tracker, value, tracker_length)) return false;
  button[0] = '\0';
  if (comma && comma[1] && !keep_name(button, comma + 1, std::strlen(comma + 1))) return false;
  return vr_vrpn_set_devices(ctx, tracker, button) == VR_OK;
}

void clear_slots(vr_ctx *ctx) {
  if (ctx->mouse_event_fn == vrpn_event_mouse) {
    ctx->mouse_event_fn = nullptr;
    ctx->mouse_remove_fn = nullptr;
  }
  if (ctx->glasses_event_fn == vrpn_event_glasses) {
    ctx->glasses_event_fn = nullptr;
    ctx->glasses_remove_fn = nullptr;
  }
}

}  // namespace

namespace vr::vrpn {

void pose_to_matrix(const double position[3], const dquat q, double cm_per_unit, dmat out) {
  const double x = q[0], y = q[1], z = q[2], w = q[3];
  // A quaternion that is not of unit length still names a rotation: divide by its norm.
  const double n2 = x * x + y * y + z * z + w * w;
  const double s = n2 > 0.0 ? 2.0 / n2 : 0.0;
  // The rotation for column vectors, R, transposed: points are rows here (p' = p x M).
  const double r[3][3] = {{1 - s * (y * y + z * z), s * (x * y - z * w), s * (x * z + y * w)},
                          {s * (x * y + z * w), 1 - s * (x * x + z * z), s * (y * z - x * w)},
                          {s * (x * z - y * w), s * (y * z + x * w), 1 - s * (x * x + y * y)}};
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) out[i][j] = r[j][i];
    out[i][3] = 0.0;
    out[3][i] = position[i] * cm_per_unit;
  }
  out[3][3] = 1.0;
}

void matrix_to_pose(const dmat m, double cm_per_unit, double position[3], dquat q) {
  // R[i][j] = m[j][i]; the largest of the four candidates keeps the division well away from 0.
  const auto r = [&m](int i, int j) { return m[j][i]; };
  const double trace = r(0, 0) + r(1, 1) + r(2, 2);
  if (trace > 0.0) {
    const double s = 2.0 * std::sqrt(1.0 + trace);
    q[3] = 0.25 * s;
    q[0] = (r(2, 1) - r(1, 2)) / s;
    q[1] = (r(0, 2) - r(2, 0)) / s;
    q[2] = (r(1, 0) - r(0, 1)) / s;
  } else if (r(0, 0) > r(1, 1) && r(0, 0) > r(2, 2)) {
    const double s = 2.0 * std::sqrt(1.0 + r(0, 0) - r(1, 1) - r(2, 2));
    q[3] = (r(2, 1) - r(1, 2)) / s;
    q[0] = 0.25 * s;
    q[1] = (r(0, 1) + r(1, 0)) / s;
    q[2] = (r(0, 2) + r(2, 0)) / s;
  } else if (r(1, 1) > r(2, 2)) {
    const double s = 2.0 * std::sqrt(1.0 + r(1, 1) - r(0, 0) - r(2, 2));
    q[3] = (r(0, 2) - r(2, 0)) / s;
    q[0] = (r(0, 1) + r(1, 0)) / s;
    q[1] = 0.25 * s;
    q[2] = (r(1, 2) + r(2, 1)) / s;
  } else {
    const double s = 2.0 * std::sqrt(1.0 + r(2, 2) - r(0, 0) - r(1, 1));
    q[3] = (r(1, 0) - r(0, 1)) / s;
    q[0] = (r(0, 2) + r(2, 0)) / s;
    q[1] = (r(1, 2) + r(2, 1)) / s;
    q[2] = 0.25 * s;
  }
  for (int i = 0; i < 3; ++i) position[i] = m[3][i] / cm_per_unit;
}

}  // namespace vr::vrpn

extern "C" {

VR_API int vr_vrpn_init(vr_ctx *ctx, int want_head, int want_mouse) {
  if (!ctx) return 0;
  if (ctx->tracking_mode == VR_TRACKING_NONE) return 1;
  vr_vrpn_remove(ctx);
  if (!want_head && !want_mouse) return 1;
  vr_ext_vrpn &e = vr_ext(ctx).vrpn;
  if (!e.tracker[0] && !devices_from_environment(ctx)) {
    std::snprintf(vr_lt_message, sizeof vr_lt_message,
                  "No VRPN tracker named (vr_vrpn_set_devices or %s)", env_devices);
    return 0;
  }
  auto *s = new (std::nothrow) Source;
  if (!s) return 0;
  s->door = vr::vrpn::door();
  s->head = want_head != 0;
  s->mouse = want_mouse != 0;
  s->handle = s->door.open(s->door.user, e.tracker, e.button);
  if (!s->handle) {
    std::snprintf(vr_lt_message, sizeof vr_lt_message, "Could not open VRPN tracker %s", e.tracker);
    delete s;
    return 0;
  }
  e.source = s;
  if (s->head) vr::display::start_dated_poses(ctx);
  e.connected = 0;
  e.reports = 0;
  if (s->mouse) {
    ctx->mouse_event_fn = vrpn_event_mouse;
    ctx->mouse_remove_fn = vr_vrpn_remove;
  }
  if (s->head) {
    ctx->glasses_event_fn = vrpn_event_glasses;
    ctx->glasses_remove_fn = vr_vrpn_remove;
  }
  return 1;
}

VR_API void vr_vrpn_remove(vr_ctx *ctx) {
  if (!ctx) return;
  Source *s = source_of(ctx);
  clear_slots(ctx);
  if (!s) return;
  s->door.close(s->door.user, s->handle);
  delete s;
  vr_ext_vrpn &e = vr_ext(ctx).vrpn;
  e.source = nullptr;
  e.connected = 0;
}

}  // extern "C"

namespace {

// The registry's start: the mouse only when the context names the VRPN mouse.
int start_vrpn(vr_ctx *ctx, int want_head, int want_mouse) {
  return vr_vrpn_init(ctx, want_head, want_mouse && ctx->mouse_source == VR_MOUSE_SOURCE_VRPN);
}

}  // namespace

namespace vr::sources {

const vr::track::Source vrpn = {.name = "VRPN",
                                .glasses_sources = {VR_GLASSES_SOURCE_VRPN, 0},
                                .own_mouse_source = VR_MOUSE_SOURCE_VRPN,
                                .start = start_vrpn,
                                .stop = vr_vrpn_remove};

}  // namespace vr::sources
