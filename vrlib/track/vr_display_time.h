// Display-time tracking: the per-frame handlers' work when VR_TRACK_DISPLAY_TIME is on (see the
// header's section on it). Not exported.
#pragma once

#include "vr.h"
#include "vr_display_state.h"

namespace vr::display {

// The frame's work for the glasses / the 3D mouse when the mode is on and applies to the source
// in use: true when done (the caller does nothing more), false to leave it to the fixed handler.
// When done, *mark says what the frame found for the tracking status (vr_status.h: the newest
// pose's mark, or no_pose), and stays as it was when there is no unit to read.
bool glasses_frame(vr_ctx *ctx, long long *mark);
bool mouse_frame(vr_ctx *ctx, vr_lt_unit *unit, long long *mark);

// A head source that dates its own poses (the network source): the mode is on when
// VR_TRACK_DISPLAY_TIME is. start_dated_poses forgets every pose taken before (the source's
// set-up); take_dated_pose feeds one pose that arrived at arrival_s (physical world time), measured
// VR_TRACKER_DELAY before it, to the glasses' predictor, gating and holding it as for the
// DynaSight; place_dated_eyes puts the head and the eyes at the pose predicted for the display
// time, false (nothing changed) while there is no pose to predict from.
bool dated_poses_on(vr_ctx *ctx);
void start_dated_poses(vr_ctx *ctx);
void take_dated_pose(vr_ctx *ctx, const vr_lt_6d &pose, double arrival_s);
bool place_dated_eyes(vr_ctx *ctx);
// The same for a source whose poses come as the head's matrix in the tracker's frame and carry
// their own measurement time (physical world time): fed to the predictor as they are.
void take_dated_head(vr_ctx *ctx, const dmat head_to_dig, double measured_s);
// VR_TRACKER_DELAY as the predictor uses it (clamped): for a source that only knows arrivals.
double tracker_delay_s(vr_ctx *ctx);

// The display time of the frame now being computed: the frame's physical world time plus the
// display latency (VR_DISPLAY_LATENCY, or one frame interval), also stored for VR_DISPLAY_TIME.
double frame_display_time(vr_ctx *ctx);

// Places a record that arrived within [earliest, latest] on its stream's clock; returns the
// estimated arrival time (always within the interval when it is not empty).
double place_arrival(vr_arrival_clock *clock, double earliest, double latest);

}  // namespace vr::display
