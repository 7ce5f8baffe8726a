// The serial sources' frames (Logitech raw and 6D units, the CyberMan, the DynaSight): the fixed
// handlers that the context's slots hold, their reading of the capture rings for the front end
// (marks for the tracking status, records for display-time tracking), and their Source records.
// Not exported.
#pragma once

#include "vr.h"
#include "vr_source.h"

namespace vr::serial {

// Marks of the newest pose of a unit in its source's ring (its position), or
// vr::status::no_pose: the front end's tracking status tells a fresh pose by them.
long long report_6d_mark(const vr_lt_unit *unit);
long long cyberman_mark(const vr_lt_unit *unit);
long long dynasight_mark(const vr_lt_unit *unit);
// The unit time stamp of the newest raw record when a capture pass accepted any, else no_pose.
long long raw_mark(const vr_lt_unit *unit, int accepted);

// The frame's work for the glasses / the 3D mouse when display-time tracking is on and applies to
// the source in use (vr_serial_display_time.cpp): true when done (the caller does nothing more),
// false to leave it to the fixed handler. When done, *mark says what the frame found for the
// tracking status, and stays as it was when there is no unit to read.
bool display_glasses_frame(vr_ctx *ctx, long long *mark);
bool display_mouse_frame(vr_ctx *ctx, vr_lt_unit *unit, long long *mark);

}  // namespace vr::serial

namespace vr::sources {
extern const vr::track::Source logitech;
extern const vr::track::Source dynasight;
}  // namespace vr::sources
