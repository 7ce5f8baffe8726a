// Display-time tracking: the per-frame handlers' work when VR_TRACK_DISPLAY_TIME is on (see the
// header's section on it). Not exported.
#pragma once

#include <algorithm>
#include <cmath>

#include "vr.h"
#include "vr_display_state.h"
#include "vr_source.h"

namespace vr::display {

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

// The predictor of a whole-pose stream (w: the glasses' whole[0] or the mouse's whole[1]) set up
// from the context's settings, forgetting what it held when it was not configured yet.
void configure_whole(vr_ctx *ctx, vr_display_whole &w);
// Feeds a serial source's newest ring record to the stream's predictor when it is new, dated from
// its arrival in the ring (vr_source.h); notes the frame's write offset either way.
void take_ring_record(vr_ctx *ctx, vr_display_whole &w, const vr::track::RingRecord &record);
// The stream's predicted pose at the frame's display time as a sensor-to-tracker matrix; false
// while there is none (or it is not finite).
bool predicted_pose(vr_ctx *ctx, const vr_display_whole &w, dmat out);

// The pose filter (VR_TRACK_FILTER): the head's filter with the context's settings, initialised
// on first use, or null while the filter is off. filter_of gives it for the glasses' whole-pose
// stream only (the mouse keeps the predictor).
vr_pose_filter *head_filter(vr_ctx *ctx);
vr_pose_filter *filter_of(vr_ctx *ctx, const vr_display_whole &w);
// The filter's pose at the frame's display time as a sensor-to-tracker matrix, after telling it
// the time now (its state goes to VR_TRACK_FILTER_STATE); false while it has none.
bool filter_pose(vr_ctx *ctx, vr_pose_filter &f, dmat out);
// Counts a measurement the filter refused by its gate in VR_REJECTED_VALUES.
void count_filter_result(vr_ctx *ctx, vr_pose_filter_result result);

// Raw units (vr_source.h): the records a source placed on the time line this frame, oldest
// first, each distance judged by the gate against its line (vr_raw_distances.cpp), or with the
// pose filter f (null: off) fed to it at its speaker's firing moment.
void take_raw_records(vr_ctx *ctx, vr_raw_lines &lines, const vr::track::RawHistory &history,
                      const vr::track::RawRecord *records, int count, vr_pose_filter *f);
// The raw unit's pose at the frame's display time into `out` (which holds the previous pose): the
// filter's, or each distance's line read at the display time, solved, and held against jumps.
// False (out untouched) while there is none.
bool raw_pose(vr_ctx *ctx, vr_raw_lines &lines, const vr::track::RawHistory &history,
              vr_pose_filter *f, dmat out);

// The gates, shared by the whole-pose predictor and the raw units' distances: a move this small
// is never a jump, and this long a run of held poses is the head's new place.
constexpr double jump_floor_cm = 1.0;
constexpr double hold_max_s = 0.25;
// A gate's width for a history of disagreements: sigmas standard deviations, taken robustly from
// the median disagreement, and at least floor; infinite until there is a history to judge by.
double gate_width(const float *history, int count, double sigmas, double floor);

// VR_TRACKER_DELAY clamped to what the predictor takes.
constexpr double tracker_delay_max_s = 0.2;
inline double tracker_delay(const vr_ext_display &d) {
  return std::clamp(d.tracker_delay_s, 0.0, tracker_delay_max_s);
}

inline bool finite_matrix(const dmat m) {
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c)
      if (!std::isfinite(m[r][c])) return false;
  return true;
}

// Places a record that arrived within [earliest, latest] on its stream's clock; returns the
// estimated arrival time (always within the interval when it is not empty).
double place_arrival(vr_arrival_clock *clock, double earliest, double latest);

}  // namespace vr::display
