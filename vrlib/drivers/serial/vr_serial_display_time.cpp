// Display-time tracking of the serial sources: their reading of the capture rings when
// VR_TRACK_DISPLAY_TIME is on.
//
// Raw units: the nine distances of each record are placed at the moments their speakers fired,
// on the physical world time line. The unit's clock stamps each record; the arrival of its last
// byte bounds that stamp's place on the world time line from above (the pass's time less the
// bytes that came after it) and from below (a record missing at the previous pass came after
// it). Midway between the tightest of these bounds over the records, less the record's time on
// the line and the unit's delay, lies the moment of the measurement. The records go to the front
// end as raw samples (vr_source.h), which gates, fits or filters them and solves the pose
// through this driver's solver.
//
// 6D reports and the DynaSight: each new report goes to the front end as a ring record
// (vr_source.h), which dates it from its arrival in the capture ring and predicts the pose at
// the display time.
#include "vr_serial_frames.h"

#include <algorithm>
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
using vr::display::tracker_delay;
using vr::track::RawHistory;
using vr::track::RawLayout;
using vr::track::RawRecord;

// Line timing of the units (19200 baud: 1920 bytes a second).
constexpr double line_bytes_per_s = vr::lt::line_bytes_per_s;
constexpr int raw_record_bytes = vr::lt::raw_record_bytes;
constexpr int report_6d_bytes = vr::decode::report_6d_bytes;
constexpr int dynasight_bytes = vr::decode::dynasight_bytes;

// Raw units. The speakers fire in turn 20/3 ms apart, the top speaker at the record's time stamp;
// channels 1-3 hear the left speaker, 4-6 the right one, 7-9 the top one, each speaker's three
// heard by mlr, mll, mtop in that order (indices into RawLayout::mic).
constexpr double speaker_offset_s[3] = {-0.0133333, -0.0066667, 0.0};
constexpr int mic_of_channel[3] = {1, 0, 2};
constexpr double unit_clock_wrap_s = 60.0;
// The unit clock may run this much slower than the world's (ppm) and still be followed; a clock
// this far off the envelope has jumped (the world time was set), and the envelope starts again.
constexpr double clock_drift_allowance = 200e-6;
constexpr double clock_jump_s = 0.5;
// The glasses unit reports its sides this much short (the raw solver adds it back as well).
constexpr double glasses_side_extra_cm = 0.08;

vr_ext_display &settings(vr_ctx *ctx) {
  return vr_ext(ctx).display;
}

// ---- Raw units ------------------------------------------------------------------------------

int port_of(const vr_lt_unit *unit) {
  return unit->port == 0 ? 0 : 1;
}

// Where on the world time line the unit clock's zero arrives: between the two envelopes.
double clock_offset(const vr_raw_clock &r) {
  if (r.has_floor && r.floor_s <= r.envelope_s) return 0.5 * (r.floor_s + r.envelope_s);
  return r.envelope_s;
}

// The world time at which the top speaker of the record in slot s fired.
double slot_fired_s(const vr_raw_clock &r, const vr_lt_unit *unit, int s, double delay) {
  const double on_line_s = raw_record_bytes / line_bytes_per_s;
  return unit->clock_rate * r.unit_s[s] + clock_offset(r) - on_line_s - delay;
}

// The firing order of every unit.
constexpr RawLayout firing_order = {{speaker_offset_s[0], speaker_offset_s[1], speaker_offset_s[2]},
                                    {mic_of_channel[0], mic_of_channel[1], mic_of_channel[2]},
                                    {},
                                    {}};

// The firing order, and for the pose filter the speakers in the tracker's frame and the
// microphones in the receiver frame of the pose matrix, from the units' reported geometry (cm):
// speakers sll (-b/2, 0, 0), slr (b/2, 0, 0), stop (0, sqrt(s^2 - b^2/4), 0) of the transmitter;
// microphones mll (b/2, 0, 0), mlr (-b/2, 0, 0), mtop (-e, h, 0) of the receiver.
RawLayout filter_layout(const vr_lt_unit *unit, bool glasses) {
  RawLayout layout = firing_order;
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
  const double speakers[3][3] = {
      {-tb / 2, 0, 0}, {tb / 2, 0, 0}, {0, std::sqrt(std::max(0.0, ts * ts - tb * tb / 4)), 0}};
  const double mics[3][3] = {{b / 2, 0, 0}, {-b / 2, 0, 0}, {-e, h, 0}};
  std::memcpy(layout.speaker, speakers, sizeof speakers);
  std::memcpy(layout.mic, mics, sizeof mics);
  return layout;
}

bool solve_distances(vr_ctx *ctx, void *unit, dmat pose,
                     const double distance_cm[vr_display_channels]) {
  return vr::lt::solve_raw_pose(ctx, static_cast<vr_lt_unit *>(unit), pose, distance_cm) != 0;
}

// Places the records the capture pass just put into the history on the world time line: their
// unit times and the clock envelope. Writes them, oldest first, into `records`; returns how many.
int place_new_records(vr_ext_display &d, vr_raw_clock &r, vr_lt_unit *unit, int accepted,
                      int write_offset, RawRecord *records) {
  const int port = port_of(unit);
  const vr::lt::RawState &raw = vr::lt::raw_state();
  const int n = std::min(accepted, vr_display_slots);
  const double delay = tracker_delay(d);
  int placed = 0;
  for (int i = n; i >= 1; --i) {
    const int s = (unit->next_slot - i + vr_display_slots) % vr_display_slots;
    // The unit clock wraps every 60 s: keep it running on.
    double u = raw.slot_unit_s[port][s] + r.wrap_base_s;
    if (u < r.last_unit_s - unit_clock_wrap_s / 2) {
      r.wrap_base_s += unit_clock_wrap_s;
      u += unit_clock_wrap_s;
    }
    const bool seen = r.has_envelope && !(u > r.last_unit_s);
    r.last_unit_s = u;
    r.unit_s[s] = u;
    r.known |= 1u << s;

    const double arrival = raw.slot_arrival_s[port][s];
    const double sample = arrival - unit->clock_rate * u;
    bool restarted = false;
    if (!r.has_envelope || std::fabs(sample - r.envelope_s) > clock_jump_s) {
      // First record, or the world's clock (or the unit's) jumped: start the envelope here.
      r.has_envelope = 1;
      r.envelope_s = sample;
      r.has_floor = 0;
      restarted = true;
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
    records[placed++] = {s, slot_fired_s(r, unit, s, delay), unit->slot_valid[s] != 0, seen,
                         restarted};
  }
  return placed;
}

// The unit's history as the front end reads it: every slot within the newest VR_RAW_FIT_SLOTS
// (the most a line is fitted through) whose record is valid and placed on the time line, with its
// moment after this pass's clock. The pose filter takes each record as it comes and reads no
// history: `dated` false leaves every slot undated.
RawHistory raw_history(vr_ext_display &d, const vr_raw_clock &r, vr_lt_unit *unit,
                       const RawLayout *layout, bool dated) {
  RawHistory h;
  h.newest_slot = -1;
  h.usable = 0;
  h.layout = layout;
  h.solve = solve_distances;
  h.unit = unit;
  for (int k = 0; k < vr_display_channels; ++k) h.distance_cm[k] = unit->chan[k + 1].value;
  if (!r.has_envelope || unit->next_slot < 0 || unit->next_slot >= vr_display_slots) return h;
  h.newest_slot = (unit->next_slot + vr_display_slots - 1) % vr_display_slots;
  if (!dated) return h;
  const int slots = std::clamp(d.fit_slots, 3, vr_display_slots);
  const double delay = tracker_delay(d);
  for (int age = 0; age < slots; ++age) {
    const int s = (h.newest_slot - age + vr_display_slots) % vr_display_slots;
    if (!unit->slot_valid[s] || !(r.known >> s & 1u)) continue;
    h.usable |= 1u << s;
    h.fired_s[s] = slot_fired_s(r, unit, s, delay);
  }
  return h;
}

// One frame of a raw unit: capture, place the new records, and the front end's pose at the
// display time into `out`. Returns the capture's count of new records (as
// vr_lt_obtain_current_raw_events) and whether a pose was written.
bool raw_frame(vr_ctx *ctx, vr_lt_unit *unit, dmat out, int *accepted_out, bool head) {
  vr_ext_display &d = settings(ctx);
  vr_display_raw &r = d.raw[port_of(unit)];
  vr_pose_filter *f = head ? vr::display::head_filter(ctx) : nullptr;
  vr::lt::raw_state().take_newest_record = true;
  const int accepted = vr_lt_obtain_current_raw_events(ctx, unit);
  vr::lt::raw_state().take_newest_record = false;
  if (accepted_out) *accepted_out = accepted;
  const int write_offset = vr::lt::ring(unit).write_offset();
  RawRecord records[vr_display_slots];
  const int placed =
      accepted > 0 ? place_new_records(d, r.clock, unit, accepted, write_offset, records) : 0;
  // The filter needs the units' geometry only for the records it is fed.
  const bool feeds_filter = f && placed > 0;
  RawLayout geometry;
  if (feeds_filter) geometry = filter_layout(unit, unit == vr_lt_glasses_unit);
  const RawHistory history =
      raw_history(d, r.clock, unit, feeds_filter ? &geometry : &firing_order, !f);
  if (placed > 0) vr::display::take_raw_records(ctx, r.lines, history, records, placed, f);
  r.clock.last_write = write_offset;
  r.clock.last_pass_s = ctx->pworld_time_now;
  r.clock.has_last_pass = write_offset >= 0;
  return vr::display::raw_pose(ctx, r.lines, history, f, out);
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
  const int partial = start >= 0
                          ? vr::decode::partial_6d_report_bytes(
                                ring, vr::capture::wrap(start + report_6d_bytes), write_offset)
                          : 0;
  vr::display::take_ring_record(
      ctx, w,
      {start, write_offset, report_6d_bytes, line_bytes_per_s, tracker_delay(settings(ctx)),
       unit->record, unit, pose, true, partial});
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
  const int partial = start >= 0
                          ? vr::decode::partial_dynasight_record_bytes(
                                ring, vr::capture::wrap(start + dynasight_bytes), write_offset)
                          : 0;
  vr::display::take_ring_record(ctx, w,
                                {start, write_offset, dynasight_bytes, line_bytes_per_s, 0.0,
                                 unit->record, unit, pose, false, partial});
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
