// The per-context settings and state of display-time tracking (attributes 160..189), kept in the
// context's extension bytes (vr_ext.h). Plain data; the attributes' defaults are in
// vr_attributes.def, the rest start at zero.
#pragma once

#include "vr_pose_filter.h"
#include "vr_predict.h"

constexpr int vr_display_slots = 16;          // a raw unit's history slots
constexpr int vr_display_channels = 9;        // a raw unit's distances
constexpr int vr_display_gate_history = 7;    // disagreements kept per distance for the gate
constexpr int vr_display_latency_frames = 9;  // frame intervals the default display latency uses

// When the records of a periodic stream arrived: each new record is known to have arrived
// within an interval (after the previous frame's look at the ring, before the bytes that came
// after it). The stream's period ties the records together: the interval a record can lie in is
// the previous record's carried one period on, cut by the record's own, so that the intervals
// of many records, seen at frame times that beat against the stream, pin down each arrival far
// closer than one frame.
struct vr_arrival_clock {
  double low_s, high_s;  // where the newest record arrived, as far as is known
  double period_s;       // time between records; 0 = not known yet
  double base_latest_s;  // the latest arrival bound of the record the period is measured from
  double prev_latest_s;  // the latest arrival bound of the newest record
  double base_steps;     // records since that one
  int records;           // records placed
};

// One raw unit's clock (per port), the driver's: each record's unit time stamp unwrapped and
// placed on the physical world time line.
struct vr_raw_clock {
  double unit_s[vr_display_slots];  // each slot's record time stamp on the unwrapped unit clock
  unsigned known;                   // slots whose unit_s this mode has noted
  // The unit clock unwrapped (it wraps every 60 s) and mapped onto physical world time: a record
  // stamped u arrives no earlier than u + envelope_s.
  double wrap_base_s;
  double last_unit_s;
  double envelope_s;
  double envelope_at_s;
  int has_envelope;
  // ... and no later than u + floor_s: a record that was not there when the previous pass looked
  // arrived after that pass. The clock is placed midway between the two.
  double floor_s;
  int has_floor;
  int last_write;  // the ring's write offset after the previous pass
  double last_pass_s;
  int has_last_pass;
};

// One raw unit's distances as the front end judges them (per port): the gate's history, each
// distance's line, and the jump hold.
struct vr_raw_lines {
  unsigned rejected[vr_display_channels];  // per distance: slots the gate left out
  unsigned judged[vr_display_channels];    // per distance: slots the gate found on their line
  float disagreement[vr_display_channels][vr_display_gate_history];  // |value - line| taken, cm
  int disagreement_count[vr_display_channels];
  int disagreement_next[vr_display_channels];
  int rejected_in_row[vr_display_channels];
  // Each distance's newest line: value + slope * (t - at_s), fitted up to newest_s.
  double line_at_s[vr_display_channels];
  double line_value[vr_display_channels];
  double line_slope[vr_display_channels];
  double line_newest_s[vr_display_channels];
  int has_line[vr_display_channels];
  // The last pose used, for the jump hold (and, with the pose filter, the solved pose of the
  // record before, which a start must agree with).
  double pose_pos[3];
  double pose_time_s;
  double held_since_s;  // first pose held in a row, while holding
  int holding;
  int has_pose;
};

struct vr_display_raw {
  vr_raw_clock clock;
  vr_raw_lines lines;
};

// One whole-pose tracker (6D reports or DynaSight): glasses or mouse.
struct vr_display_whole {
  vr_pose_predictor predictor;
  vr_arrival_clock arrivals;
  int last_start;  // ring position of the newest record taken; -1 none
  unsigned char last_record[16];
  int last_write;       // write offset seen by the previous frame; -1 none
  double last_frame_s;  // when the previous frame looked
  // The record that was on its way when a frame looked (its first bytes in the ring): where it
  // starts (-1: none), and the interval in which its last byte arrives.
  int pending_start;
  double pending_low_s, pending_high_s;
  int configured;  // predictor settings taken from the context
};

struct vr_ext_display {
  // The attributes 160..182; their defaults are in vr_attributes.def (given by vr_ext_init).
  int enabled;
  double latency_s;  // 0: one frame interval
  double tracker_delay_s;
  double gate_sigmas;
  double gate_floor_cm;
  double speed_limit_cm_s;
  double level_s;
  double trend_s;
  int fit_slots;
  int held_jumps;
  int rejected_values;
  double display_time_s;
  // The default display latency: the newest frame intervals (a ring: count, next slot; and the
  // same values sorted), the frame time they were last taken at, and their median.
  double frame_interval_s[vr_display_latency_frames] = {};
  double sorted_interval_s[vr_display_latency_frames] = {};
  int frame_intervals = 0;
  int next_frame_interval = 0;
  int intervals_taken = 0;
  double intervals_frame_s = 0.0;
  double frame_latency_s = 0.0;
  vr_display_raw raw[2];      // by port
  vr_display_whole whole[2];  // 0 = glasses, 1 = mouse
  // The pose filter (attributes 169..172, 183): the head's only. The 8 KiB of extension state
  // hold one filter beside everything else, so the mouse keeps the display-time path.
  int filter_mode;
  double filter_accel_noise;
  double filter_turn_noise;
  double filter_distance_sigma;
  int filter_state;  // vr_pose_filter_state at the last frame
  int filter_ready;  // `filter` was initialised (a zeroed context has not)
  vr_pose_filter filter;
};

// Display-time tracking is on: asked for itself, or implied by the pose filter.
inline bool vr_display_time_on(const vr_ext_display &d) {
  return d.enabled != 0 || d.filter_mode != 0;
}
