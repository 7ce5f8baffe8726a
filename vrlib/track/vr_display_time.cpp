// Display-time tracking, the front end's part: every tracker read for the moment the frame is on
// the screen.
//
// The display time is the frame's physical world time plus the display latency. Whole poses
// (Logitech 6D reports, the DynaSight, the network and VRPN sources) come as samples with the
// moment they were measured, and a double-exponential smoothing predictor (vr_predict) gives the
// pose at the display time. A record read from a serial line's capture ring is dated here from
// its arrival in the ring (vr_source.h: RingRecord); the network source dates each datagram
// itself (its arrival less the sender's latency), the VRPN source by its report's stamp. A raw
// unit's driver places each record's distances on the time line (its unit clock); what becomes of
// them is in vr_raw_distances.cpp.
#include "vr_display_time.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#include "vr_ext.h"
#include "vr_source.h"
#include "vr_track_internal.h"

namespace {

using vr::capture::distance;
using vr::capture::wrap;
using vr::display::finite_matrix;
using vr::display::hold_max_s;
using vr::display::jump_floor_cm;
using vr::display::tracker_delay;

// Display latency: the most one frame interval counts for in the default estimate, and the most
// the application may ask for.
constexpr double frame_latency_max_s = 0.1;
constexpr double latency_max_s = 0.25;

// Arrival clock of the 6D and DynaSight streams: how much a record's interval may widen per
// period carried (the stream's own timing wobble), the records over which the period is first
// measured, and the silences after which the stream's pace is measured afresh.
constexpr double arrival_widen_s = 0.00025;
constexpr double arrival_baseline_records = 5.0;
constexpr double arrival_gap_s = 0.5;
constexpr double arrival_gap_periods = 10.0;
constexpr double arrival_lost_periods = 1.8;

constexpr double turn_limit_rad_s = 20.0;
constexpr int gate_min_history = 5;
constexpr double mad_to_sigma = 1.4826;

vr_ext_display &settings(vr_ctx *ctx) {
  return vr_ext(ctx).display;
}

// The default display latency: the median of the newest frame intervals (the lower of the two
// middle ones for an even count), each counted at most frame_latency_max_s. A single slow frame
// (a screenshot, a shader compile, a page fault) or a clock step is one interval among nine and
// moves the median by at most one neighbour; a real change of frame rate is followed within
// five frames. Taken once per frame, whichever handler asks first; no allocation.
double frame_interval_latency(const vr_ctx *ctx, vr_ext_display &d) {
  const double now = ctx->pworld_time_now;
  if (d.intervals_taken && now == d.intervals_frame_s) return d.frame_latency_s;
  d.intervals_taken = 1;
  d.intervals_frame_s = now;
  const double interval = ctx->pworld_time_delta;
  if (!std::isfinite(interval)) return d.frame_latency_s;
  const double in = std::clamp(interval, 0.0, frame_latency_max_s);
  // The ring keeps the order of arrival, `sorted` the same values in ascending order: the oldest
  // leaves it and the new one is inserted, each a short shift.
  double *sorted = d.sorted_interval_s;
  int n = std::clamp(d.frame_intervals, 0, vr_display_latency_frames);
  const int slot = std::clamp(d.next_frame_interval, 0, vr_display_latency_frames - 1);
  if (n == vr_display_latency_frames) {
    const double out = d.frame_interval_s[slot];
    int k = 0;
    while (k < n - 1 && sorted[k] != out) ++k;
    for (; k < n - 1; ++k) sorted[k] = sorted[k + 1];
    --n;
  }
  d.frame_interval_s[slot] = in;
  d.next_frame_interval = (slot + 1) % vr_display_latency_frames;
  int j = n;
  for (; j > 0 && sorted[j - 1] > in; --j) sorted[j] = sorted[j - 1];
  sorted[j] = in;
  d.frame_intervals = ++n;
  d.frame_latency_s = sorted[(n - 1) / 2];
  return d.frame_latency_s;
}

void configure_predictor(vr_ctx *ctx, vr_pose_predictor &pred, int *configured) {
  const vr_ext_display &d = settings(ctx);
  if (!*configured) {
    vr_predictor_reset(&pred, nullptr);
    *configured = 1;
  }
  vr_predictor_settings &s = pred.settings;
  s.level_s = d.level_s;
  s.trend_s = d.trend_s;
  s.speed_limit_cm_s = d.speed_limit_cm_s;
  s.turn_limit_rad_s = turn_limit_rad_s;
  s.jump_floor_cm = jump_floor_cm;
  s.gate_sigmas = d.gate_sigmas;
  s.gate_floor_cm = d.gate_floor_cm;
  s.gate_floor_rad = d.gate_floor_cm / 10.0;
  s.restart_after_s = hold_max_s;
  s.ramp_low_cm_s = ctx->predict_ramp_start;
  s.ramp_high_cm_s = ctx->predict_ramp_end;
}

bool pose_to_matrix(const double pos[3], const dquat q, dmat out) {
  dmat m;
  vr_quat_to_mat(q, m);
  for (int c = 0; c < 3; ++c) m[3][c] = pos[c];
  if (!finite_matrix(m)) return false;
  std::memcpy(out, m, sizeof m);
  return true;
}

// A decoded pose as a position and an orientation, through the library's own matrix for it.
void pose_parts(vr_lt_unit *unit, const vr_lt_6d &pose, double pos[3], dquat q) {
  dmat m;
  build_mat_6Dm_to_dig(unit, &pose, m);
  for (int c = 0; c < 3; ++c) pos[c] = m[3][c];
  vr_mat_to_quat(m, q);
}

// Counts what the gate and the jump hold made of a measurement.
void count_result(vr_ctx *ctx, vr_predict_result result) {
  vr_ext_display &d = settings(ctx);
  if (result == VR_PREDICT_HELD && d.held_jumps < INT_MAX) ++d.held_jumps;
  if (result == VR_PREDICT_REJECTED && d.rejected_values < INT_MAX) ++d.rejected_values;
}

}  // namespace

namespace vr::display {

double gate_width(const float *history, int count, double sigmas, double floor) {
  if (!(sigmas > 0.0) || count < gate_min_history) return INFINITY;
  float v[vr_display_gate_history];
  std::copy(history, history + count, v);
  std::nth_element(v, v + count / 2, v + count);
  return std::max(floor, sigmas * mad_to_sigma * static_cast<double>(v[count / 2]));
}

vr_pose_filter *head_filter(vr_ctx *ctx) {
  vr_ext_display &d = settings(ctx);
  if (!d.filter_mode) return nullptr;
  if (!d.filter_ready) {
    vr_pose_filter_init(&d.filter, nullptr);
    d.filter_ready = 1;
  }
  vr_pose_filter_settings &s = d.filter.settings;
  s.accel_density_cm2_s3 = d.filter_accel_noise;
  s.turn_density_rad2_s3 = d.filter_turn_noise;
  s.distance_sigma_cm = d.filter_distance_sigma;
  return &d.filter;
}

vr_pose_filter *filter_of(vr_ctx *ctx, const vr_display_whole &w) {
  return &w == &settings(ctx).whole[0] ? head_filter(ctx) : nullptr;
}

bool filter_pose(vr_ctx *ctx, vr_pose_filter &f, dmat out) {
  vr_ext_display &d = settings(ctx);
  d.filter_state = vr_pose_filter_tick(&f, ctx->pworld_time_now);
  double pos[3];
  dquat q;
  if (!vr_pose_filter_predict(&f, d.display_time_s, pos, q)) return false;
  return pose_to_matrix(pos, q, out);
}

void count_filter_result(vr_ctx *ctx, vr_pose_filter_result result) {
  vr_ext_display &d = settings(ctx);
  if (result == VR_FILTER_GATED && d.rejected_values < INT_MAX) ++d.rejected_values;
}

void configure_whole(vr_ctx *ctx, vr_display_whole &w) {
  if (!w.configured) {
    w.arrivals = vr_arrival_clock{};
    w.last_start = -1;
    w.last_write = -1;
    w.pending_start = -1;
    // A new start of the head's source starts the filter afresh from its first pose.
    if (vr_pose_filter *f = filter_of(ctx, w)) vr_pose_filter_init(f, &f->settings);
  }
  configure_predictor(ctx, w.predictor, &w.configured);
}

void take_ring_record(vr_ctx *ctx, vr_display_whole &w, const vr::track::RingRecord &r) {
  const double now = ctx->pworld_time_now;
  const int start = r.start, bytes = r.bytes, write_offset = r.write_offset;
  const unsigned char *record = r.record;
  const bool fresh = start >= 0 && (start != w.last_start ||
                                    std::memcmp(record, w.last_record, static_cast<size_t>(bytes)));
  if (fresh) {
    const int end = wrap(start + bytes);
    double latest = now - distance(end, write_offset) / r.line_bytes_per_s;
    // It was not there when the previous frame looked if it ends after what that frame saw.
    double earliest = -INFINITY;
    if (w.last_write >= 0 && distance(w.last_write, end) <= distance(w.last_write, write_offset) &&
        end != w.last_write)
      earliest = w.last_frame_s;
    // A frame that saw this record on its way knows its end to within a byte.
    if (start == w.pending_start && w.pending_low_s <= latest && w.pending_high_s >= earliest) {
      earliest = std::max(earliest, w.pending_low_s);
      latest = std::min(latest, w.pending_high_s);
    }
    const double arrived = place_arrival(&w.arrivals, earliest, latest);
    const double measured = arrived - bytes / r.line_bytes_per_s - r.delay_s;
    double pos[3];
    dquat q;
    pose_parts(r.unit, r.pose, pos, q);
    if (vr_pose_filter *f = filter_of(ctx, w))
      count_filter_result(
          ctx, vr_pose_filter_pose(f, measured, pos, r.with_orientation ? q : nullptr, 0.0, 0.0));
    else
      count_result(ctx,
                   vr_predictor_add(&w.predictor, measured, pos, r.with_orientation ? q : nullptr));
    w.last_start = start;
    std::memcpy(w.last_record, record, static_cast<size_t>(bytes));
  }
  // The next record's first partial_bytes have come: its k-th byte was complete by now and the
  // next one was not, and a device sends a record's bytes back to back, so its last byte
  // arrives within one byte time before now + (bytes - k) byte times.
  w.pending_start = -1;
  if (start >= 0 && r.partial_bytes > 0 && r.partial_bytes < bytes) {
    w.pending_start = wrap(start + bytes);
    w.pending_high_s = now + (bytes - r.partial_bytes) / r.line_bytes_per_s;
    w.pending_low_s = w.pending_high_s - 1.0 / r.line_bytes_per_s;
  }
  w.last_write = write_offset;
  w.last_frame_s = now;
}

bool predicted_pose(vr_ctx *ctx, const vr_display_whole &w, dmat out) {
  if (vr_pose_filter *f = filter_of(ctx, w)) return filter_pose(ctx, *f, out);
  double pos[3];
  dquat q;
  if (!vr_predictor_predict(&w.predictor, settings(ctx).display_time_s, pos, q)) return false;
  return pose_to_matrix(pos, q, out);
}

double place_arrival(vr_arrival_clock *c, double earliest, double latest) {
  if (!(earliest <= latest)) earliest = -INFINITY;
  const bool known = c->period_s > 0.0;
  // With nothing before it, a record may have arrived any time in the last period.
  const double own_low = std::isfinite(earliest) ? earliest : latest - (known ? c->period_s : 0.0);
  const double gap = latest - c->prev_latest_s;
  if (c->records == 0 || !(gap > 0.0) || gap > arrival_gap_s ||
      (known && gap > arrival_gap_periods * c->period_s)) {
    // The first record, or the stream stopped, jumped or fell far behind: measure its pace again
    // from here, keeping the interval this record gives.
    c->base_latest_s = latest;
    c->base_steps = 0;
    c->low_s = own_low;
    c->high_s = latest;
  } else {
    // The pace over all records since the base: the jitter of each record's latest bound (up to
    // a frame) shrinks with the number of records it is spread over.
    // One record per period, unless the gap leaves no doubt that records were lost: the latest
    // bounds jitter by up to a frame.
    c->base_steps +=
        known && gap > arrival_lost_periods * c->period_s ? std::round(gap / c->period_s) : 1.0;
    if (c->base_steps >= arrival_baseline_records)
      c->period_s = (latest - c->base_latest_s) / c->base_steps;
    double low = own_low, high = latest;
    if (c->period_s > 0.0) {
      // The previous record's interval carried on by the records between, cut by this one's.
      const double n = std::max(
          1.0, std::round((0.5 * (own_low + latest) - 0.5 * (c->low_s + c->high_s)) / c->period_s));
      const double carried_low = c->low_s + n * c->period_s - n * arrival_widen_s;
      const double carried_high = c->high_s + n * c->period_s + n * arrival_widen_s;
      if (std::max(carried_low, own_low) <= std::min(carried_high, latest)) {
        low = std::max(carried_low, own_low);
        high = std::min(carried_high, latest);
      }
    }
    c->low_s = low;
    c->high_s = high;
  }
  if (!(c->period_s > 0.0 && c->period_s < arrival_gap_s)) c->period_s = 0.0;
  c->prev_latest_s = latest;
  ++c->records;
  double at = 0.5 * (c->low_s + c->high_s);
  if (!std::isfinite(at)) at = latest;
  return at;
}

bool dated_poses_on(vr_ctx *ctx) {
  return vr_display_time_on(settings(ctx));
}

void start_dated_poses(vr_ctx *ctx) {
  settings(ctx).whole[0].configured = 0;
}

void take_dated_pose(vr_ctx *ctx, const vr_lt_6d &pose, double arrival_s) {
  vr_display_whole &w = settings(ctx).whole[0];
  configure_whole(ctx, w);
  double pos[3];
  dquat q;
  pose_parts(nullptr, pose, pos, q);
  const double measured = arrival_s - vr::net::sender_latency_s(vr_ext(ctx).net);
  if (vr_pose_filter *f = filter_of(ctx, w))
    count_filter_result(ctx, vr_pose_filter_pose(f, measured, pos, q, 0.0, 0.0));
  else
    count_result(ctx, vr_predictor_add(&w.predictor, measured, pos, q));
}

void take_dated_head(vr_ctx *ctx, const dmat head_to_dig, double measured_s) {
  vr_display_whole &w = settings(ctx).whole[0];
  configure_whole(ctx, w);
  double pos[3];
  dquat q;
  dmat m;
  std::memcpy(m, head_to_dig, sizeof m);
  for (int c = 0; c < 3; ++c) pos[c] = m[3][c];
  vr_mat_to_quat(m, q);
  if (vr_pose_filter *f = filter_of(ctx, w))
    count_filter_result(ctx, vr_pose_filter_pose(f, measured_s, pos, q, 0.0, 0.0));
  else
    count_result(ctx, vr_predictor_add(&w.predictor, measured_s, pos, q));
}

double tracker_delay_s(vr_ctx *ctx) {
  return tracker_delay(settings(ctx));
}

bool place_dated_eyes(vr_ctx *ctx) {
  vr_display_whole &w = settings(ctx).whole[0];
  configure_whole(ctx, w);
  frame_display_time(ctx);
  dmat pose;
  if (!predicted_pose(ctx, w, pose)) return false;
  std::memcpy(ctx->head_to_dig, pose, sizeof pose);
  vr::track::place_eyes(ctx, ctx->head_to_dig);
  return true;
}

double frame_display_time(vr_ctx *ctx) {
  vr_ext_display &d = settings(ctx);
  double latency = d.latency_s;
  if (!(latency > 0.0)) latency = frame_interval_latency(ctx, d);
  latency = std::min(latency, latency_max_s);
  d.display_time_s = ctx->pworld_time_now + latency;
  return d.display_time_s;
}

}  // namespace vr::display
