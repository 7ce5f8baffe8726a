// Tracking status of the head and mouse trackers: the age of the newest fresh pose and the state
// it gives (tracking, stale, lost), with one message on each change that matters to the user.
#include "vr_status.h"

#include <cstdio>

#include "vr_ext.h"

extern "C" {

// The trackers' message lines (exported): the front end writes the status changes into them,
// the sources their set-up errors and news. The DynaSight has its own; every other source writes
// the Logitech driver's, as it always has.
VR_API char vr_lt_message[256];
VR_API char vr_ds_message[256];

}  // extern "C"

namespace {

constexpr const char *role_names[2] = {"Head", "Mouse"};

int state_for_age(double age_s, int previous) {
  if (age_s >= VR_TRACK_LOST_SECONDS) return VR_TRACK_LOST;
  if (age_s >= VR_TRACK_STALE_SECONDS) return VR_TRACK_STALE;
  return previous;
}

char *message_of(const vr_ctx *ctx, vr::status::Role role) {
  return role == vr::status::head && ctx->glasses_source == VR_GLASSES_SOURCE_DYNASIGHT
             ? vr_ds_message
             : vr_lt_message;
}

void report_change(const vr_ctx *ctx, vr::status::Role role, int from, int to, double age_s) {
  char *message = message_of(ctx, role);
  constexpr std::size_t bytes = sizeof vr_lt_message;
  const char *who = role_names[role];
  if (to == VR_TRACK_STALE || to == VR_TRACK_LOST)
    std::snprintf(message, bytes, "%s tracker %s: no fresh pose for %.2f s", who,
                  to == VR_TRACK_STALE ? "stale" : "lost", age_s);
  else if (to == VR_TRACK_TRACKING && (from == VR_TRACK_STALE || from == VR_TRACK_LOST))
    std::snprintf(message, bytes, "%s tracker tracking again", who);
}

}  // namespace

namespace vr::status {

void note_fresh(vr_ctx *ctx, Role role, bool fresh) {
  vr_track_status &s = vr_ext(ctx).views.track[role];
  const double now = ctx->pworld_time_now;
  if (!s.begun) {
    s.begun = 1;
    s.since_s = now;
  }
  const int before = s.state;
  if (fresh) {
    s.since_s = now;
    s.age_s = 0.0;
    s.state = VR_TRACK_TRACKING;
  } else {
    // A clock set back (a new physical time zero) makes no age negative.
    const double age = now - s.since_s;
    s.age_s = age > 0.0 ? age : 0.0;
    s.state = state_for_age(s.age_s, before);
  }
  if (s.state != before) report_change(ctx, role, before, s.state, s.age_s);
}

void note(vr_ctx *ctx, Role role, long long mark) {
  if (mark == no_tracker) return;
  vr_track_status &s = vr_ext(ctx).views.track[role];
  // The mark is kept plus one, so that the zeroed state means "none seen yet".
  const bool fresh = mark != no_pose && mark + 1 != s.last_mark;
  if (fresh) s.last_mark = mark + 1;
  note_fresh(ctx, role, fresh);
}

}  // namespace vr::status
