// Internal interface of the raw ultrasonic path of the Logitech driver: the capture pass over a
// ring (vr_lt_raw.cpp), the statistics recorder (vr_lt_stats.cpp) and the module state that the
// tests and the fuzz target need to reach. Not exported.
#pragma once

#include <cfloat>
#include <cmath>

#include "vr.h"
#include "vr_capture.h"

namespace vr::lt {

// Bytes of one raw ultrasonic record, and the unit's record rate assumed for bytes in transit.
constexpr int raw_record_bytes = 24;
constexpr int raw_history_slots = 16;
constexpr int raw_window_bytes = raw_record_bytes * raw_history_slots;  // 384
constexpr double raw_record_interval_s = 0.02;
constexpr double line_bytes_per_s = 1920.0;  // 19200 baud, 10 bits a byte

// Module state of the capture shared by both units.
struct RawState {
  double pworld_time;          // physical world time of the pass in progress, seconds
  double time_to_cm;           // cm per time-of-flight count; 0 until first calibrated
  int lost_in_time_counts[2];  // per port: records dropped in a row against the clock model
  // Per port and slot, for display-time tracking: the record's time stamp (unit clock, seconds)
  // and the latest physical world time at which its last byte can have arrived (the pass's time
  // less the bytes that came after it at the line's byte rate).
  double slot_unit_s[2][raw_history_slots];
  double slot_arrival_s[2][raw_history_slots];
  int slot_end[2][raw_history_slots];  // ring position just after the record
  // Display-time tracking: the pass takes a record as soon as all of it has arrived, instead of
  // keeping one record's margin before the writer.
  bool take_newest_record;
};
RawState &raw_state();
// Back to the state of a fresh process: time_to_cm 0, both lost counters 60.
void reset_raw_state();

// What the capture and the solver did, per port, since the last reset. Diagnostics only: nothing
// in the library reads them.
struct RawCounters {
  long passes;            // capture passes
  long restarts;          // passes that restarted the history
  long parsed;            // records parsed (in time or not)
  long out_of_time;       // records dropped against the clock model
  long forced_in_time;    // records taken although out of time (the clock model re-based)
  long clock_wraps;       // records taken across the 60 s wrap of the unit clock
  long accepted;          // records that filled a history slot
  long rejected_samples;  // channel samples rejected as outliers
  long forced_samples;    // channel samples forced through after too many rejections
  long out_of_range;      // channel samples beyond 160 cm
  long solves;            // solver calls
  long solves_ok;         // solver calls that wrote a pose
  long filter_changes;    // solver calls that changed filter_length
  long clock_resets;      // clock models found non-finite and set back to unmeasured
};
RawCounters &raw_counters(int port);
void reset_raw_counters();

// The outcome of one capture pass.
struct RawPass {
  int accepted;       // records that filled a history slot
  bool whole_record;  // at least one whole record was pending (false: the pass stopped early)
};

// One capture pass of `unit` over `ring`, with the writer's offset taken once by the caller
// (outside 0..2043 means no data) and the physical world time `now`. Sends nothing and never
// pauses: the demand-mode request is the caller's.
RawPass capture_pass(vr_lt_unit *unit, const capture::RingView &ring, int write_offset, double now);

// Reads the twelve values of a raw record held in a unit's `record` (stored in the machine's
// byte order by the capture).
void raw_values(const unsigned char *record, unsigned v[12]);

// A double as a float, saturated to the float range so that no conversion overflows (infinities
// and NaN pass through unchanged).
inline float to_float(double x) {
  if (x > FLT_MAX) return x == INFINITY ? INFINITY : FLT_MAX;
  if (x < -FLT_MAX) return x == -INFINITY ? -INFINITY : -FLT_MAX;
  return static_cast<float>(x);
}

// The raw pose solver (vr_lt_solve.cpp): comp_mouse_6d_raws, or, with `given` not null, the
// same trilateration and plausibility tests on the nine distances given (cm, in channel order
// 1..9) instead of the history's.
int solve_raw_pose(vr_ctx *ctx, vr_lt_unit *unit, dmat out, const double *given);

// Statistics recorder (vr_lt_stats.cpp). Each returns null when nothing is to be recorded.
// The record a capture call of `unit` fills (glasses unit, 0 <= cur_stat < 255).
vr_lt_stat *stats_capture_record(const vr_lt_unit *unit);
// The next free header entry of a record, counted in `headers`; null once 16 are used.
vr_lt_stat_header *stats_next_header(vr_lt_stat *record);
// The end of a capture call of `unit`: dumps a full table and advances cur_stat.
void stats_end_capture(const vr_lt_unit *unit);
// The record the solve after that capture writes (glasses unit, 0 < cur_stat < 255).
vr_lt_stat *stats_solver_record(const vr_lt_unit *unit);

}  // namespace vr::lt

// One channel's distance from its least-squares line, extrapolated by lead seconds past the
// newest slot (vr_lt_solve.cpp; reached by the tests).
double least_sq_fit_interpolate(vr_ctx *ctx, vr_lt_unit *unit, const double time_base[16],
                                vr_lt_channel *chan, int newest_slot, double lead);
