// Display-time tracking of raw ultrasonic units, the front end's part: what becomes of the
// distances a source has placed on the time line (vr_source.h: RawRecord, RawHistory).
//
// Without the pose filter, each distance is judged against the line through its newest
// measurements (a value that disagrees with it by more than the median disagreement allows is
// left out before it enters a fit), each line is refitted over the history and read at the one
// display time, and the nine values are solved into a pose, which the jump hold judges. With the
// filter, every distance goes to it at its speaker's firing moment, and its pose is the answer.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#include "vr_display_time.h"
#include "vr_ext.h"
#include "vr_source.h"

namespace {

using vr::display::finite_matrix;
using vr::display::gate_width;
using vr::display::hold_max_s;
using vr::display::jump_floor_cm;
using vr::track::RawHistory;
using vr::track::RawRecord;

constexpr double raw_horizon_max_s = 0.15;  // furthest a line is extrapolated
constexpr double line_stale_s = 0.2;        // a line this old no longer judges new values
constexpr int window_prune_passes = 2;      // measurements a fit may leave out
// Changes of a distance (cm/s) below which a line's slope is noise (0.02 cm of noise gives
// slopes of about 0.15 cm/s over eight measurements), and above which it is motion.
constexpr double raw_ramp_low_cm_s = 0.5;
constexpr double raw_ramp_high_cm_s = 1.5;
constexpr int gate_rejections_max = 2;  // the third disagreeing value in a row is taken

// Noise of a record's solved pose when the filter takes it as a measurement: a few millimetres
// and about a degree (one record's nine distances span 13 ms of motion).
constexpr double solved_sigma_cm = 0.4;
constexpr double solved_sigma_rad = 0.015;
// Two records' solved poses this close in time, and as close in place as the jump hold allows,
// start the filter.
constexpr double start_pair_s = 0.1;

double distance3(const double a[3], const double b[3]) {
  dpt d;
  vr_dvector_sub(a, b, d);
  return vr_dvector_length(d);
}

bool has_slot(unsigned mask, int slot) {
  return (mask >> slot & 1u) != 0;
}

float value_at(const RawHistory &h, int k, int slot) {
  return h.distance_cm[k][slot];
}

// The moment distance k of the record whose top speaker fired at `fired` was measured.
double channel_moment(const RawHistory &h, int k, double fired) {
  return fired + h.layout->speaker_offset_s[k / 3];
}

double line_at(const vr_raw_lines &r, int k, double t) {
  return r.line_value[k] + r.line_slope[k] * (t - r.line_at_s[k]);
}

// Feeds one record to the filter: first its solved pose when the filter needs one (to start, or
// after a coast left it too uncertain), then each of its distances at its speaker's firing
// moment. A record the capture found implausible is left out.
void feed_filter(vr_ctx *ctx, vr_pose_filter &f, vr_raw_lines &r, const RawHistory &h,
                 const RawRecord &record) {
  const double speed_limit_cm_s = vr_ext(ctx).display.speed_limit_cm_s;
  const int s = record.slot;
  const vr::track::RawLayout &layout = *h.layout;
  if (!record.valid) return;
  if (vr_pose_filter_wants_pose(&f)) {
    double given[vr_display_channels];
    bool complete = true;
    for (int k = 0; k < vr_display_channels; ++k) {
      given[k] = value_at(h, k, s);
      complete = complete && given[k] > 0.0;
    }
    dmat solved;
    std::memcpy(solved, ctx->head_to_dig, sizeof solved);
    if (complete && h.solve(ctx, h.unit, solved, given) && finite_matrix(solved)) {
      dquat q;
      vr_mat_to_quat(solved, q);
      // The middle speaker's moment: the record's distances span the three firings.
      const double t = record.fired_s + layout.speaker_offset_s[1];
      if (f.state == VR_FILTER_OFF) {
        // A start needs two records in a row that agree: the first record after a silence can
        // carry distances measured before it, which no later one would then agree with.
        const double dt = t - r.pose_time_s;
        const bool agrees =
            r.has_pose && dt > 0.0 && dt <= start_pair_s &&
            distance3(solved[3], r.pose_pos) <= jump_floor_cm + speed_limit_cm_s * dt;
        std::copy(solved[3], solved[3] + 3, r.pose_pos);
        r.pose_time_s = t;
        r.has_pose = 1;
        if (agrees) vr_pose_filter_start(&f, t, solved[3], q);
      } else
        vr::display::count_filter_result(
            ctx, vr_pose_filter_pose(&f, t, solved[3], q, solved_sigma_cm, solved_sigma_rad));
    }
  }
  // Each speaker's distances were measured at its one moment: they go in together.
  for (int speaker = 0; speaker < 3; ++speaker) {
    const double *mics[vr_pose_filter_batch_max];
    double values[vr_pose_filter_batch_max];
    int n = 0;
    for (int k = 3 * speaker; k < 3 * speaker + 3; ++k) {
      const float v = value_at(h, k, s);
      if (!(v > 0.0f)) continue;
      mics[n] = layout.mic[layout.mic_of_channel[k % 3]];
      values[n++] = v;
    }
    vr_pose_filter_result results[vr_pose_filter_batch_max];
    vr_pose_filter_distances(&f, channel_moment(h, 3 * speaker, record.fired_s),
                             layout.speaker[speaker], mics, values, n, 0.0, results);
    for (int i = 0; i < n; ++i) vr::display::count_filter_result(ctx, results[i]);
  }
}

// The gate's verdict on each distance of one record: left out (and counted) when it is farther
// from its line than the disagreements so far allow, else taken into the disagreements.
void judge_record(vr_ext_display &d, vr_raw_lines &r, const RawHistory &h,
                  const RawRecord &record) {
  const int s = record.slot;
  for (int k = 0; k < vr_display_channels; ++k) {
    const float v = value_at(h, k, s);
    if (!(v > 0.0f)) continue;
    const double t = channel_moment(h, k, record.fired_s);
    if (!r.has_line[k] || t - r.line_newest_s[k] > line_stale_s) continue;
    const double off = std::fabs(v - line_at(r, k, t));
    // The gate is never narrower than its floor: only a value beyond it needs the median.
    if (off > d.gate_floor_cm && r.rejected_in_row[k] < gate_rejections_max &&
        off > gate_width(r.disagreement[k], r.disagreement_count[k], d.gate_sigmas,
                         d.gate_floor_cm)) {
      r.rejected[k] |= 1u << s;
      ++r.rejected_in_row[k];
      if (d.rejected_values < INT_MAX) ++d.rejected_values;
      continue;
    }
    // Within the floor of a line: no fit needs to look at it again.
    if (off <= d.gate_floor_cm) r.judged[k] |= 1u << s;
    r.rejected_in_row[k] = 0;
    r.disagreement[k][r.disagreement_next[k]] = static_cast<float>(std::min(off, 1e6));
    r.disagreement_next[k] = (r.disagreement_next[k] + 1) % vr_display_gate_history;
    if (r.disagreement_count[k] < vr_display_gate_history) ++r.disagreement_count[k];
  }
}

// One distance's measurements in a fit window, times relative to the newest one's.
struct Window {
  double t[vr_display_slots];
  double v[vr_display_slots];
  int slot[vr_display_slots];
  bool dropped[vr_display_slots];
  int n = 0;
  double t_ref = 0;
};

// Least squares line through the kept points, as its value and slope at t_ref. With fewer than
// two distinct times, the mean, flat.
void fit_window(const Window &w, double c[2]) {
  double m0 = 0, m1 = 0, m2 = 0, y0 = 0, y1 = 0;
  for (int i = 0; i < w.n; ++i) {
    if (w.dropped[i]) continue;
    m0 += 1;
    m1 += w.t[i];
    m2 += w.t[i] * w.t[i];
    y0 += w.v[i];
    y1 += w.t[i] * w.v[i];
  }
  c[0] = m0 > 0 ? y0 / m0 : 0.0;
  c[1] = 0.0;
  const double det = m0 * m2 - m1 * m1;
  if (det > 1e-12 * m0 * m0 && std::isfinite(det)) {
    c[1] = (m0 * y1 - m1 * y0) / det;
    c[0] = (y0 - c[1] * m1) / m0;
  }
}

double line_value(const double c[2], double dt) {
  return c[0] + dt * c[1];
}

// The nine distances at the display time, each from the line through its newest measurements.
// A measurement far off the line through the others (one the gate could not judge yet, such as
// one of the first records) is left out of it. When no distance changes faster than the noise
// lets a line's slope mean anything, the lines are read at the middle of their measurements
// instead (blending toward the display time as the fastest change rises from raw_ramp_low to
// raw_ramp_high), so that a still head is smoothed, not extrapolated. False when a distance has
// nothing to go by.
bool distances_at(vr_ext_display &d, vr_raw_lines &r, const RawHistory &h, double display_s,
                  double out[vr_display_channels]) {
  if (h.newest_slot < 0) return false;
  const int slots = std::clamp(d.fit_slots, 3, vr_display_slots);
  // The slots of the window, newest first, with their top speakers' firing times.
  int window_slot[vr_display_slots];
  int in_window = 0;
  for (int age = 0; age < slots; ++age) {
    const int s = (h.newest_slot - age + vr_display_slots) % vr_display_slots;
    if (has_slot(h.usable, s)) window_slot[in_window++] = s;
  }
  double middle_s = 0, fastest = 0, newest_s = -INFINITY;
  for (int k = 0; k < vr_display_channels; ++k) {
    Window w;
    bool all_judged = true;
    for (int i = 0; i < in_window; ++i) {
      const int s = window_slot[i];
      const float v = value_at(h, k, s);
      if (has_slot(r.rejected[k], s) || !(v > 0.0f)) continue;
      if (!has_slot(r.judged[k], s)) all_judged = false;
      const double t = channel_moment(h, k, h.fired_s[s]);
      if (w.n == 0) w.t_ref = t;  // the newest comes first
      w.t[w.n] = t - w.t_ref;
      w.v[w.n] = v;
      w.slot[w.n] = s;
      w.dropped[w.n] = false;
      ++w.n;
    }
    if (w.n == 0) return false;
    double c[2];
    fit_window(w, c);
    for (int pass = 0; pass < window_prune_passes && !all_judged && d.gate_sigmas > 0.0 && w.n > 3;
         ++pass) {
      int worst = -1;
      double worst_off = d.gate_floor_cm;
      for (int i = 0; i < w.n; ++i) {
        const double off = std::fabs(w.v[i] - line_value(c, w.t[i]));
        if (!w.dropped[i] && off > worst_off) worst = i, worst_off = off;
      }
      if (worst < 0) break;
      w.dropped[worst] = true;
      if (!has_slot(r.rejected[k], w.slot[worst])) {
        r.rejected[k] |= 1u << w.slot[worst];
        if (d.rejected_values < INT_MAX) ++d.rejected_values;
      }
      fit_window(w, c);
    }
    // The gate judges new values against the line's tangent at its newest measurement.
    r.line_at_s[k] = w.t_ref;
    r.line_value[k] = c[0];
    r.line_slope[k] = c[1];
    r.line_newest_s[k] = w.t_ref;
    r.has_line[k] = 1;
    double sum_t = 0, kept = 0;
    for (int i = 0; i < w.n; ++i)
      if (!w.dropped[i]) sum_t += w.t[i], kept += 1;
    middle_s += (w.t_ref + sum_t / kept) / vr_display_channels;
    fastest = std::max(fastest, std::fabs(c[1]));
    newest_s = std::max(newest_s, w.t_ref);
  }
  double gain = 1.0;
  if (!(fastest >= raw_ramp_high_cm_s))
    gain = fastest > raw_ramp_low_cm_s
               ? (fastest - raw_ramp_low_cm_s) / (raw_ramp_high_cm_s - raw_ramp_low_cm_s)
               : 0.0;
  const double ahead = std::min(display_s, newest_s + raw_horizon_max_s);
  const double at = middle_s + gain * (ahead - middle_s);
  for (int k = 0; k < vr_display_channels; ++k) {
    out[k] = line_at(r, k, at);
    if (!std::isfinite(out[k])) return false;
  }
  return true;
}

// Whether a new position is a jump from the last one used; counts and holds it when it is.
bool jumped(vr_ext_display &d, vr_raw_lines &r, const double pos[3], double now) {
  if (r.has_pose) {
    const double moved = distance3(pos, r.pose_pos);
    const double allowed = jump_floor_cm + d.speed_limit_cm_s * std::max(0.0, now - r.pose_time_s);
    if (moved > allowed) {
      if (!r.holding) {
        r.holding = 1;
        r.held_since_s = now;
      }
      if (now - r.held_since_s < hold_max_s) {
        if (d.held_jumps < INT_MAX) ++d.held_jumps;
        return true;
      }
    }
  }
  r.holding = 0;
  r.has_pose = 1;
  std::copy(pos, pos + 3, r.pose_pos);
  r.pose_time_s = now;
  return false;
}

}  // namespace

namespace vr::display {

void take_raw_records(vr_ctx *ctx, vr_raw_lines &lines, const RawHistory &history,
                      const RawRecord *records, int count, vr_pose_filter *f) {
  vr_ext_display &d = vr_ext(ctx).display;
  for (int i = 0; i < count; ++i) {
    const RawRecord &record = records[i];
    // A slot's record is new: what was judged of the one before it there no longer applies.
    for (unsigned &mask : lines.rejected) mask &= ~(1u << record.slot);
    for (unsigned &mask : lines.judged) mask &= ~(1u << record.slot);
    if (record.clock_restarted)
      for (int &has : lines.has_line) has = 0;
    if (f) {
      // A record the filter has had must not go in again: after a silence it would restart the
      // filter from a pose long gone.
      if (!record.seen) feed_filter(ctx, *f, lines, history, record);
    } else
      judge_record(d, lines, history, record);
  }
}

bool raw_pose(vr_ctx *ctx, vr_raw_lines &lines, const RawHistory &history, vr_pose_filter *f,
              dmat out) {
  // The filter gates each distance itself and never jumps: its pose is the answer.
  if (f) return filter_pose(ctx, *f, out);
  vr_ext_display &d = vr_ext(ctx).display;
  double dist[vr_display_channels];
  if (!distances_at(d, lines, history, d.display_time_s, dist)) return false;
  dmat pose;
  std::memcpy(pose, out, sizeof pose);
  if (!history.solve(ctx, history.unit, pose, dist) || !finite_matrix(pose)) return false;
  if (jumped(d, lines, pose[3], ctx->pworld_time_now)) return false;
  std::memcpy(out, pose, sizeof pose);
  return true;
}

}  // namespace vr::display
