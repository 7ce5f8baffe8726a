// Display-time tracking of the serial sources: their reading of the capture rings when
// VR_TRACK_DISPLAY_TIME is on.
//
// Raw units: the nine distances of each record are placed at the moments their speakers fired,
// on the physical world time line. The unit's clock stamps each record; the arrival of its last
// byte bounds that stamp's place on the world time line from above (the pass's time less the
// bytes that came after it) and from below (a record missing at the previous pass came after
// it). Midway between the tightest of these bounds over the records, less the record's time on
// the line and the unit's delay, lies the moment of the measurement. Each distance is fitted
// with a line over its newest measurements, and all nine lines are evaluated at the one display
// time. Values that disagree with their line are left out before they enter it.
//
// 6D reports and the DynaSight: each new report goes to the front end as a ring record
// (vr_source.h), which dates it from its arrival in the capture ring and predicts the pose at
// the display time.
#include "vr_serial_frames.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#include "vr_display_time.h"
#include "vr_ext.h"
#include "vr_lt_internal.h"
#include "vr_lt_raw.h"
#include "vr_status.h"
#include "vr_serial_decode.h"
#include "vr_track_internal.h"

namespace {

using vr::capture::distance;
using vr::capture::RingView;
using vr::display::finite_matrix;
using vr::display::gate_width;
using vr::display::hold_max_s;
using vr::display::jump_floor_cm;
using vr::display::tracker_delay;

// Line timing of the units (19200 baud: 1920 bytes a second).
constexpr double line_bytes_per_s = vr::lt::line_bytes_per_s;
constexpr int raw_record_bytes = vr::lt::raw_record_bytes;
constexpr int report_6d_bytes = vr::decode::report_6d_bytes;
constexpr int dynasight_bytes = vr::decode::dynasight_bytes;

// Raw units. The speakers fire in turn 20/3 ms apart, the top speaker at the record's time stamp;
// channels 1-3 hear the left speaker, 4-6 the right one, 7-9 the top one.
constexpr double speaker_offset_s[3] = {-0.0133333, -0.0066667, 0.0};
constexpr double unit_clock_wrap_s = 60.0;
constexpr double raw_horizon_max_s = 0.15;  // furthest a line is extrapolated
constexpr double line_stale_s = 0.2;        // a line this old no longer judges new values
constexpr int window_prune_passes = 2;      // measurements a fit may leave out
// Changes of a distance (cm/s) below which a line's slope is noise (0.02 cm of noise gives
// slopes of about 0.15 cm/s over eight measurements), and above which it is motion.
constexpr double raw_ramp_low_cm_s = 0.5;
constexpr double raw_ramp_high_cm_s = 1.5;
constexpr int gate_rejections_max = 2;  // the third disagreeing value in a row is taken
// The unit clock may run this much slower than the world's (ppm) and still be followed; a clock
// this far off the envelope has jumped (the world time was set), and the envelope starts again.
constexpr double clock_drift_allowance = 200e-6;
constexpr double clock_jump_s = 0.5;

vr_ext_display &settings(vr_ctx *ctx) {
  return vr_ext(ctx).display;
}

// ---- Raw units ------------------------------------------------------------------------------

int port_of(const vr_lt_unit *unit) {
  return unit->port == 0 ? 0 : 1;
}

// Where on the world time line the unit clock's zero arrives: between the two envelopes.
double clock_offset(const vr_display_raw &r) {
  if (r.has_floor && r.floor_s <= r.envelope_s) return 0.5 * (r.floor_s + r.envelope_s);
  return r.envelope_s;
}

// The world time at which the top speaker of the record in slot s fired.
double slot_fired_s(const vr_display_raw &r, const vr_lt_unit *unit, int s, double delay) {
  const double on_line_s = raw_record_bytes / line_bytes_per_s;
  return unit->clock_rate * r.unit_s[s] + clock_offset(r) - on_line_s - delay;
}

double line_at(const vr_display_raw &r, int k, double t) {
  return r.line_value[k] + r.line_slope[k] * (t - r.line_at_s[k]);
}

// ---- The pose filter's view of a raw unit -----------------------------------------------------

// The glasses unit reports its sides this much short (the raw solver adds it back as well).
constexpr double glasses_side_extra_cm = 0.08;
// Each speaker's distances come heard by mlr, mll, mtop in turn (indices into Geometry::mic).
constexpr int mic_of_channel[3] = {1, 0, 2};
// Noise of a record's solved pose when the filter takes it as a measurement: a few millimetres
// and about a degree (one record's nine distances span 13 ms of motion).
constexpr double solved_sigma_cm = 0.4;
constexpr double solved_sigma_rad = 0.015;
// Two records' solved poses this close in time, and as close in place as the jump hold allows,
// start the filter.
constexpr double start_pair_s = 0.1;

double distance3(const double a[3], const double b[3]) {
  return std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) +
                   (a[2] - b[2]) * (a[2] - b[2]));
}

// Speakers sll, slr, stop in the dig frame and microphones mll, mlr, mtop in the receiver frame
// of the pose matrix, from the units' reported geometry (cm).
struct Geometry {
  double spk[3][3];
  double mic[3][3];
};

Geometry raw_geometry(const vr_lt_unit *unit, bool glasses) {
  // The transmitter's geometry comes from the unit that carries it, as for the solver's scale.
  const vr_lt_unit *tx = unit;
  if (vr_lt_glasses_unit && vr_lt_glasses_unit->op_info.op_byte[6] == 2)
    tx = vr_lt_glasses_unit;
  else if (vr_lt_mouse_6d_unit)
    tx = vr_lt_mouse_6d_unit;
  const double tb = tx->op_info.transmitter_geom[0], ts = tx->op_info.transmitter_geom[1];
  const double *geom = unit->op_info.receiver_geom;
  const double b = geom[0], e = geom[3];
  double h = geom[2];
  if (h == 0.0) {
    const double side = geom[1] + (glasses ? glasses_side_extra_cm : 0.0);
    h = std::sqrt(std::max(0.0, side * side - b * b / 4));
  }
  return {
      {{-tb / 2, 0, 0}, {tb / 2, 0, 0}, {0, std::sqrt(std::max(0.0, ts * ts - tb * tb / 4)), 0}},
      {{b / 2, 0, 0}, {-b / 2, 0, 0}, {-e, h, 0}}};
}

// Feeds one record (slot s, top speaker fired at `fired`) to the filter: first its solved pose
// when the filter needs one (to start, or after a coast left it too uncertain), then each of its
// distances at its speaker's firing moment. A record the capture found implausible is left out.
void feed_filter(vr_ctx *ctx, vr_pose_filter &f, vr_display_raw &r, vr_lt_unit *unit,
                 const Geometry &g, int s, double fired) {
  const double speed_limit_cm_s = settings(ctx).speed_limit_cm_s;
  if (!unit->slot_valid[s]) return;
  if (vr_pose_filter_wants_pose(&f)) {
    double given[vr_display_channels];
    bool complete = true;
    for (int k = 0; k < vr_display_channels; ++k) {
      given[k] = unit->chan[k + 1].value[s];
      complete = complete && given[k] > 0.0;
    }
    dmat solved;
    std::memcpy(solved, ctx->head_to_dig, sizeof solved);
    if (complete && vr::lt::solve_raw_pose(ctx, unit, solved, given) && finite_matrix(solved)) {
      dquat q;
      vr_mat_to_quat(solved, q);
      // The middle speaker's moment: the record's distances span the three firings.
      const double t = fired + speaker_offset_s[1];
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
  for (int k = 0; k < vr_display_channels; ++k) {
    const float v = unit->chan[k + 1].value[s];
    if (!(v > 0.0f)) continue;
    vr::display::count_filter_result(
        ctx, vr_pose_filter_distance(&f, fired + speaker_offset_s[k / 3], g.spk[k / 3],
                                     g.mic[mic_of_channel[k % 3]], v, 0.0));
  }
}

// Takes note of the records the capture pass just put into the history: their unit times, the
// clock envelope, and the gate's verdict on each of their distances (or, with the pose filter
// `f`, the filter's: each distance goes to it instead).
void note_new_records(vr_ctx *ctx, vr_ext_display &d, vr_display_raw &r, vr_lt_unit *unit,
                      int accepted, int write_offset, vr_pose_filter *f) {
  Geometry geometry{};
  if (f) geometry = raw_geometry(unit, unit == vr_lt_glasses_unit);
  const int port = port_of(unit);
  const vr::lt::RawState &raw = vr::lt::raw_state();
  const int n = std::min(accepted, vr_display_slots);
  const double delay = tracker_delay(d);
  for (int i = n; i >= 1; --i) {
    const int s = (unit->next_slot - i + vr_display_slots) % vr_display_slots;
    // The unit clock wraps every 60 s: keep it running on.
    double u = raw.slot_unit_s[port][s] + r.wrap_base_s;
    if (u < r.last_unit_s - unit_clock_wrap_s / 2) {
      r.wrap_base_s += unit_clock_wrap_s;
      u += unit_clock_wrap_s;
    }
    // A slot the filter has seen (a capture pass can hand back slots it noted before) must not
    // go in again: after a silence it would restart the filter from a pose long gone.
    const bool seen = r.has_envelope && !(u > r.last_unit_s);
    r.last_unit_s = u;
    r.unit_s[s] = u;
    r.known |= 1u << s;
    for (unsigned &mask : r.rejected) mask &= ~(1u << s);
    for (unsigned &mask : r.judged) mask &= ~(1u << s);

    const double arrival = raw.slot_arrival_s[port][s];
    const double sample = arrival - unit->clock_rate * u;
    if (!r.has_envelope || std::fabs(sample - r.envelope_s) > clock_jump_s) {
      // First record, or the world's clock (or the unit's) jumped: start the envelope here.
      r.has_envelope = 1;
      r.envelope_s = sample;
      r.has_floor = 0;
      for (int &h : r.has_line) h = 0;
    } else {
      const double drift = clock_drift_allowance * std::max(0.0, arrival - r.envelope_at_s);
      r.envelope_s = std::min(r.envelope_s + drift, sample);
      r.floor_s -= drift;
    }
    r.envelope_at_s = arrival;
    // Not there at the previous pass: it arrived after that pass.
    const int end = raw.slot_end[port][s];
    if (r.has_last_pass && end != r.last_write &&
        distance(r.last_write, end) <= distance(r.last_write, write_offset)) {
      const double low = r.last_pass_s - unit->clock_rate * u;
      if (!r.has_floor || low > r.floor_s) r.floor_s = low;
      r.has_floor = 1;
    }

    const double fired = slot_fired_s(r, unit, s, delay);
    if (f) {
      if (!seen) feed_filter(ctx, *f, r, unit, geometry, s, fired);
      continue;
    }
    for (int k = 0; k < vr_display_channels; ++k) {
      const float v = unit->chan[k + 1].value[s];
      if (!(v > 0.0f)) continue;
      const double t = fired + speaker_offset_s[k / 3];
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
bool distances_at(vr_ext_display &d, vr_display_raw &r, const vr_lt_unit *unit, double display_s,
                  double out[vr_display_channels]) {
  if (!r.has_envelope || unit->next_slot < 0 || unit->next_slot >= vr_display_slots) return false;
  const int newest = (unit->next_slot + vr_display_slots - 1) % vr_display_slots;
  const int slots = std::clamp(d.fit_slots, 3, vr_display_slots);
  const double delay = tracker_delay(d);
  // The slots of the window, newest first, with their top speakers' firing times.
  int window_slot[vr_display_slots];
  double fired[vr_display_slots];
  int in_window = 0;
  for (int age = 0; age < slots; ++age) {
    const int s = (newest - age + vr_display_slots) % vr_display_slots;
    if (!unit->slot_valid[s] || !(r.known >> s & 1u)) continue;
    window_slot[in_window] = s;
    fired[in_window++] = slot_fired_s(r, unit, s, delay);
  }
  double middle_s = 0, fastest = 0, newest_s = -INFINITY;
  for (int k = 0; k < vr_display_channels; ++k) {
    Window w;
    bool all_judged = true;
    for (int i = 0; i < in_window; ++i) {
      const int s = window_slot[i];
      const float v = unit->chan[k + 1].value[s];
      if ((r.rejected[k] >> s & 1u) || !(v > 0.0f)) continue;
      if (!(r.judged[k] >> s & 1u)) all_judged = false;
      const double t = fired[i] + speaker_offset_s[k / 3];
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
      if (!(r.rejected[k] >> w.slot[worst] & 1u)) {
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
bool jumped(vr_ext_display &d, vr_display_raw &r, const double pos[3], double now) {
  if (r.has_pose) {
    const double dx = pos[0] - r.pose_pos[0], dy = pos[1] - r.pose_pos[1],
                 dz = pos[2] - r.pose_pos[2];
    const double moved = std::sqrt(dx * dx + dy * dy + dz * dz);
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

// One frame of a raw unit: capture, note, and the pose at the display time into `out`. Returns
// the capture's count of new records (as vr_lt_obtain_current_raw_events) and whether a pose was
// written.
bool raw_frame(vr_ctx *ctx, vr_lt_unit *unit, dmat out, int *accepted_out, bool head) {
  vr_ext_display &d = settings(ctx);
  vr_display_raw &r = d.raw[port_of(unit)];
  vr_pose_filter *f = head ? vr::display::head_filter(ctx) : nullptr;
  vr::lt::raw_state().take_newest_record = true;
  const int accepted = vr_lt_obtain_current_raw_events(ctx, unit);
  vr::lt::raw_state().take_newest_record = false;
  if (accepted_out) *accepted_out = accepted;
  const int write_offset = vr::lt::ring(unit).write_offset();
  if (accepted > 0) note_new_records(ctx, d, r, unit, accepted, write_offset, f);
  r.last_write = write_offset;
  r.last_pass_s = ctx->pworld_time_now;
  r.has_last_pass = write_offset >= 0;
  // The filter gates each distance itself and never jumps: its pose is the answer.
  if (f) return vr::display::filter_pose(ctx, *f, out);

  double dist[vr_display_channels];
  if (!distances_at(d, r, unit, d.display_time_s, dist)) return false;
  dmat pose;
  std::memcpy(pose, out, sizeof pose);
  if (!vr::lt::solve_raw_pose(ctx, unit, pose, dist) || !finite_matrix(pose)) return false;
  if (jumped(d, r, pose[3], ctx->pworld_time_now)) return false;
  std::memcpy(out, pose, sizeof pose);
  return true;
}

// The tracking status's mark of a whole-pose record: its ring position.
long long record_mark(int start) {
  return start >= 0 ? start : vr::status::no_pose;
}

// One frame of a Logitech unit reporting 6D: returns whether a pose was written; *buttons gets
// the newest report's buttons (-1 when there is none), *mark the newest report's mark.
bool report_6d_frame(vr_ctx *ctx, vr_display_whole &w, vr_lt_unit *unit, dmat out, int *buttons,
                     long long *mark) {
  vr::display::configure_whole(ctx, w);
  const RingView ring = vr::lt::ring(unit);
  const int write_offset = ring.write_offset();
  const int start = vr::decode::newest_6d_report_at(ring, write_offset);
  *mark = record_mark(start);
  vr_lt_6d pose{};
  *buttons = -1;
  if (start >= 0) {
    ring.copy(start, report_6d_bytes, unit->record);
    vr_lt_event event;
    vr_lt_convert_event(unit->record, &event);
    vr::decode::event_to_6d(event, &pose);
    *buttons = pose.buttons;
  }
  vr::display::take_ring_record(ctx, w,
                                {start, write_offset, report_6d_bytes, line_bytes_per_s,
                                 tracker_delay(settings(ctx)), unit->record, unit, pose, true});
  // A unit reporting on demand is asked for the report that the next frame reads.
  if (use_demand_reporting) vr_lt_demand_event(unit);
  return vr::display::predicted_pose(ctx, w, out);
}

bool dynasight_frame(vr_ctx *ctx, vr_display_whole &w, vr_lt_unit *unit, dmat out,
                     long long *mark) {
  vr::display::configure_whole(ctx, w);
  const RingView ring(vr::ds::capture_area(), unit->port);
  const int write_offset = ring.write_offset();
  const int start = vr::decode::newest_dynasight_record_at(ring, write_offset);
  *mark = record_mark(start);
  vr_lt_6d pose{};
  if (start >= 0) {
    ring.copy(start, dynasight_bytes, unit->record);
    vr::decode::dynasight_to_6d(unit->record, &pose);
  }
  // The DynaSight sends each record as soon as it has measured.
  vr::display::take_ring_record(ctx, w,
                                {start, write_offset, dynasight_bytes, line_bytes_per_s, 0.0,
                                 unit->record, unit, pose, false});
  return vr::display::predicted_pose(ctx, w, out);
}

}  // namespace

namespace vr::serial {

bool display_glasses_frame(vr_ctx *ctx, long long *mark) {
  vr_ext_display &d = settings(ctx);
  if (!vr_display_time_on(d)) return false;
  const int source = ctx->glasses_source;
  if (source != VR_GLASSES_SOURCE_LOGITECH_RAW && source != VR_GLASSES_SOURCE_LOGITECH_6D &&
      source != VR_GLASSES_SOURCE_DYNASIGHT)
    return false;
  vr::display::frame_display_time(ctx);
  dmat pose;
  std::memcpy(pose, ctx->head_to_dig, sizeof pose);
  bool got = false;
  if (source == VR_GLASSES_SOURCE_LOGITECH_RAW) {
    if (!vr_lt_glasses_unit) return true;
    int accepted = 0;
    got = raw_frame(ctx, vr_lt_glasses_unit, pose, &accepted, true);
    *mark = raw_mark(vr_lt_glasses_unit, accepted);
  } else if (source == VR_GLASSES_SOURCE_LOGITECH_6D) {
    if (!vr_lt_glasses_unit) return true;
    int buttons;
    got = report_6d_frame(ctx, d.whole[0], vr_lt_glasses_unit, pose, &buttons, mark);
  } else {
    if (!vr_ds_glasses_unit) return true;
    got = dynasight_frame(ctx, d.whole[0], vr_ds_glasses_unit, pose, mark);
  }
  if (!got) return true;
  std::memcpy(ctx->head_to_dig, pose, sizeof pose);
  if (source == VR_GLASSES_SOURCE_LOGITECH_RAW && ctx->tracking_mode == VR_TRACKING_HEAD_MOUNTED)
    return true;
  vr::track::place_eyes(ctx, ctx->head_to_dig);
  return true;
}

bool display_mouse_frame(vr_ctx *ctx, vr_lt_unit *unit, long long *mark) {
  vr_ext_display &d = settings(ctx);
  if (!vr_display_time_on(d) || !unit) return false;
  const int source = ctx->mouse_source;
  if (source != VR_MOUSE_SOURCE_LOGITECH_RAW && source != VR_MOUSE_SOURCE_LOGITECH_6D) return false;
  vr::display::frame_display_time(ctx);
  dmat pose;
  std::memcpy(pose, ctx->mouse_to_dig, sizeof pose);
  bool got;
  if (source == VR_MOUSE_SOURCE_LOGITECH_RAW) {
    int accepted = 0;
    got = raw_frame(ctx, unit, pose, &accepted, false);
    *mark = raw_mark(unit, accepted);
    if (accepted > 0) {
      const int buttons = vr_lt_debounce_buttons(unit);
      if (buttons != -1) ctx->mouse_buttons = buttons & 15;
    }
  } else {
    int buttons;
    got = report_6d_frame(ctx, d.whole[1], unit, pose, &buttons, mark);
    if (buttons >= 0) ctx->mouse_buttons = buttons;
  }
  if (!got) return true;
  std::memcpy(ctx->mouse_to_dig, pose, sizeof pose);
  vr::track::derive_mouse_frames(ctx);
  return true;
}

}  // namespace vr::serial
