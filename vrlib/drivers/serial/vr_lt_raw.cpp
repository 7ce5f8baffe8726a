// Raw capture through the timestamping driver: the stream of 24-byte raw ultrasonic records in a
// unit's capture ring becomes the unit's 16-slot history of distances on the physical world time
// line. The unit's own millisecond clock is mapped onto physical time by a clock model that
// follows the arrival lag of the records; the nine times of flight become centimetres with a
// speed-of-sound factor calibrated from the transmitter's reference distance; samples that
// disagree with their channel's fitted line are held back as outliers.
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "vr.h"
#include "vr_capture.h"
#include "vr_lt_internal.h"
#include "vr_lt_raw.h"

namespace {

using vr::capture::distance;
using vr::capture::ring_bytes;
using vr::capture::RingView;
using vr::capture::wrap;
using vr::lt::raw_history_slots;
using vr::lt::raw_record_bytes;
using vr::lt::raw_window_bytes;
using vr::lt::to_float;

vr::lt::RawState state{0.0, 0.0, {60, 60}, {}, {}, {}, false};
vr::lt::RawCounters counters[2];

// A clock offset or fit intercept below this has not been measured yet.
constexpr double unmeasured_limit = -10000000.0;
constexpr double unmeasured_value = -11000000.0;
constexpr float invalid_sample = -100.0f;

// Clock model.
constexpr double in_time_window_s = 0.1;    // allowed change of the arrival lag
constexpr double unit_clock_wrap_s = 60.0;  // the unit's millisecond clock wraps here
constexpr int lost_step = 9;                // lost counter increase per dropped record
constexpr int lost_limit = 30;              // beyond this the next record is taken anyway
constexpr double clock_correction_divisor = 7.0;
constexpr double restart_gap_s = 1.2;  // a pass this long after the last restarts
constexpr int caught_up_bytes = 1516;  // a position this far "behind" is ahead of w

// Distances.
constexpr double max_distance_cm = 160.0;
constexpr double outlier_residual_sq_cm2 = 2.25;  // 1.5 cm
constexpr int max_rejections = 20;
constexpr double stale_fit_s = 0.3;
constexpr double time_to_cm_min = 0.0045;
constexpr double time_to_cm_max = 0.0065;

// Which of the twelve record values feeds each channel (channel 0: the reference).
constexpr int channel_value[10] = {4, 1, 2, 3, 5, 6, 7, 9, 10, 11};
constexpr int reference_value = 4;
constexpr int timestamp_value = 8;

int port_index(const vr_lt_unit *unit) {
  return unit->port == 0 ? 0 : 1;
}

// A record starts where a byte with high nibble 0xF is followed by 0xF0 (the low and high
// bytes of the first value, 0xF0F0 plus the buttons).
bool record_starts(const RingView &ring, int p) {
  return (ring[p] & 0xF0) == 0xF0 && ring[p + 1] == 0xF0;
}

// Copies the 24 record bytes at ring position p into `record`, each value (sent low byte
// first) stored in the machine's byte order.
void take_record(const RingView &ring, int p, unsigned char *record) {
  for (int k = 0; k < raw_record_bytes / 2; ++k) {
    const std::uint16_t v =
        static_cast<std::uint16_t>(ring[p + 2 * k] | (ring[p + 2 * k + 1] << 8));
    std::memcpy(record + 2 * k, &v, sizeof v);
  }
}

bool has_line(const vr_lt_channel &c) {
  return !(c.fit_intercept < unmeasured_limit);
}

// A clock model that went non-finite (it cannot from sane input, but the time it is fed comes
// from outside) is set back to unmeasured, so that it is measured again from the next record.
void keep_clock_model_finite(vr_lt_unit *unit, vr::lt::RawCounters &count) {
  if (!std::isfinite(unit->clock_rate) || unit->clock_rate <= 0.0) unit->clock_rate = 1.0;
  if (!std::isfinite(unit->clock_offset) || !std::isfinite(unit->clock_lag)) {
    unit->clock_offset = unmeasured_value;
    unit->clock_lag = 0.0;
    ++count.clock_resets;
  }
}

void restart_history(vr_lt_unit *unit) {
  for (int k = 0; k < raw_history_slots; ++k) unit->slot_valid[k] = 0;
  for (vr_lt_channel &c : unit->chan)
    for (float &v : c.value) v = invalid_sample;
}

// The nine distances of a record taken into slot s. Returns whether any channel made the
// record useful.
bool take_distances(vr_lt_unit *unit, const unsigned v[12], int s, double now, vr_lt_stat_header *h,
                    vr::lt::RawCounters &count) {
  bool useful = false;
  for (int k = 1; k < 10; ++k) {
    vr_lt_channel &c = unit->chan[k];
    const double dist = v[channel_value[k]] * state.time_to_cm;
    const bool line = has_line(c);
    if (dist > max_distance_cm) {
      c.value[s] = invalid_sample;
      ++count.out_of_range;
      if (h && line) h->kept[k - 1] = invalid_sample;
      continue;
    }
    if (h) h->dist[k - 1] = to_float(dist);
    if (!line) {
      if (h) h->resid[k - 1] = to_float(dist - c.fit_value);
      c.value[s] = to_float(dist);
      c.reject_count = 0;
      useful = true;
      continue;
    }
    const double residual = dist - (unit->slot_time[s] * c.fit_slope + c.fit_intercept);
    if (h) h->resid[k - 1] = to_float(residual);
    if (residual * residual < outlier_residual_sq_cm2) {
      c.value[s] = to_float(dist);
      c.reject_count = 0;
      useful = true;
    } else {
      if (c.reject_count < INT_MAX) ++c.reject_count;
      if (c.reject_count <= max_rejections && now - c.fit_time <= stale_fit_s) {
        c.value[s] = invalid_sample;
        ++count.rejected_samples;
      } else {
        // Too many outliers in a row, or the line is stale: the line is what is wrong.
        c.fit_value = to_float(dist);
        c.value[s] = to_float(dist);
        ++count.forced_samples;
        useful = true;
      }
    }
    if (h) h->kept[k - 1] = c.value[s];
  }
  return useful;
}

}  // namespace

namespace vr::lt {

RawState &raw_state() {
  return state;
}

void reset_raw_state() {
  state.pworld_time = 0.0;
  state.time_to_cm = 0.0;
  state.lost_in_time_counts[0] = 60;
  state.lost_in_time_counts[1] = 60;
  state.take_newest_record = false;
  for (int port = 0; port < 2; ++port)
    for (int k = 0; k < raw_history_slots; ++k)
      state.slot_unit_s[port][k] = state.slot_arrival_s[port][k] = 0.0;
}

RawCounters &raw_counters(int port) {
  return counters[port == 0 ? 0 : 1];
}

void reset_raw_counters() {
  counters[0] = counters[1] = RawCounters{};
}

void raw_values(const unsigned char *record, unsigned v[12]) {
  for (int k = 0; k < 12; ++k) {
    std::uint16_t u;
    std::memcpy(&u, record + 2 * k, sizeof u);
    v[k] = u;
  }
}

RawPass capture_pass(vr_lt_unit *unit, const RingView &ring, int w, double now) {
  const int port = port_index(unit);
  RawCounters &count = counters[port];
  int &lost = state.lost_in_time_counts[port];
  ++count.passes;
  state.pworld_time = now;
  keep_clock_model_finite(unit, count);
  vr_lt_stat *rec = stats_capture_record(unit);

  // A write offset outside the ring, or a time that is no time, is no data.
  const bool have_data = w >= 0 && w < ring_bytes && std::isfinite(now);
  const int pending = have_data ? distance(wrap(unit->ring_pos), w) : 0;
  if (rec) {
    rec->bytes = pending;
    rec->events = 0;
    rec->headers = 0;
  }
  if (pending < raw_record_bytes) {
    stats_end_capture(unit);
    return {0, false};
  }

  // Carry on where the last pass stopped, unless that is too far back in bytes or in time
  // (or the saved position is not a position): then take only the newest 16 records.
  int p;
  int s;
  const bool carry_on = unit->ring_pos >= 0 && unit->ring_pos < ring_bytes &&
                        unit->next_slot >= 0 && unit->next_slot < raw_history_slots &&
                        pending < raw_window_bytes && unit->last_capture_time + restart_gap_s > now;
  if (carry_on) {
    p = unit->ring_pos;
    s = unit->next_slot;
    if (rec) rec->events = pending / raw_record_bytes;
  } else {
    p = wrap(w - raw_window_bytes);
    s = 0;
    restart_history(unit);
    ++count.restarts;
    if (rec) rec->events = raw_history_slots;
  }

  // Parse up to the writer, keeping one record of margin.
  const int margin = state.take_newest_record ? raw_record_bytes - 1 : raw_record_bytes;
  auto caught_up = [w, margin](int pos) {
    const int d = distance(pos, w);
    return d <= margin || d >= caught_up_bytes;
  };
  int accepted = 0;
  double last_delay = 0.0;
  const double rate = unit->clock_rate;
  while (!caught_up(p)) {
    bool found = true;
    while (!record_starts(ring, p)) {
      p = wrap(p + 1);
      if (caught_up(p)) {
        found = false;
        break;
      }
    }
    if (!found) break;

    take_record(ring, p, unit->record);
    p = wrap(p + raw_record_bytes);
    ++count.parsed;
    unsigned v[12];
    raw_values(unit->record, v);
    const double t = v[timestamp_value] / 1000.0;  // unit clock, seconds
    // The records still queued behind this one have been in transit 20 ms each.
    const double delay = distance(p, w) * raw_record_interval_s / raw_record_bytes;

    if (unit->clock_offset < unmeasured_limit) unit->clock_offset = now - rate * (t + delay);
    double lag = now - (rate * (t + delay) + unit->clock_offset);
    const bool in_time = std::fabs(lag - unit->clock_lag) < in_time_window_s;
    const bool wrapped =
        !in_time && std::fabs(lag - unit_clock_wrap_s - unit->clock_lag) < in_time_window_s;
    vr_lt_stat_header *h = rec ? stats_next_header(rec) : nullptr;
    if (!in_time && !wrapped) {
      if (lost <= lost_limit) {
        lost += lost_step;
        ++count.out_of_time;
        if (h) {
          h->time = -1000.0f;
          h->skew = to_float(lag);
          h->tdist = to_float(delay);
          h->time_to_cm = to_float(unit->clock_lag);
        }
        if (rec) {
          rec->finite[0] = lost;
          rec->norm_l[0] = to_float(now);
          rec->norm_x[0] = to_float(t);
          rec->norm_x[1] = to_float(unit->clock_offset);
          rec->norm_x[2] = to_float(rate);
        }
        // Look for the next record inside this one: its start may have been garbage.
        p = wrap(p - 2);
        continue;
      }
      ++count.forced_in_time;
    }

    if (wrapped) {
      unit->clock_offset += unit_clock_wrap_s;
      lag -= unit_clock_wrap_s;
      ++count.clock_wraps;
    }
    unit->clock_lag = lag;
    lost = 0;
    // The slot time is written only now: a record dropped above must not leave its unit-clock
    // time in a slot that still holds an older valid record.
    unit->slot_time[s] = to_float(t * rate + unit->clock_offset);
    state.slot_unit_s[port][s] = t;
    state.slot_arrival_s[port][s] = now - distance(p, w) / vr::lt::line_bytes_per_s;
    state.slot_end[port][s] = p;
    unit->ring_pos = p;
    unit->slot_valid[s] = 1;

    const unsigned b = v[0] & 15u;
    unit->slot_buttons[s] = static_cast<int>((b & 10u) | ((b & 1u) << 2) | ((b & 4u) >> 2));

    unit->chan[0].value[s] = static_cast<float>(v[reference_value]);
    const bool transmitter_here = unit->op_info.op_byte[6] == 2;
    if (transmitter_here && v[reference_value] != 0) {
      const double r = unit->op_info.transmitter_geom[2] / v[reference_value];
      if (r > time_to_cm_min && r < time_to_cm_max) state.time_to_cm = r;
    }
    if (h) {
      h->time = unit->slot_time[s];
      h->skew = to_float(lag);
      if (transmitter_here) {
        h->tdist = static_cast<float>(v[reference_value]);
        h->time_to_cm = to_float(state.time_to_cm);
      }
    }

    if (take_distances(unit, v, s, now, h, count)) {
      ++accepted;
      ++count.accepted;
      last_delay = delay;
      s = (s + 1) % raw_history_slots;
    } else {
      unit->slot_valid[s] = 0;
    }
  }

  unit->ring_pos = p;
  unit->next_slot = s;
  unit->last_capture_time = now;
  stats_end_capture(unit);
  if (accepted == 0) return {0, true};

  // Pull the clock model a seventh of the way towards the newest record's arrival.
  const int q = (s + raw_history_slots - 1) % raw_history_slots;
  unit->clock_offset += (now - (unit->slot_time[q] + last_delay * rate)) / clock_correction_divisor;
  keep_clock_model_finite(unit, count);
  return {accepted, true};
}

}  // namespace vr::lt

extern "C" {

VR_API int vr_lt_obtain_current_raw_events(vr_ctx *ctx, vr_lt_unit *unit) {
  if (!ctx || !unit) return 0;
  use_demand_reporting = ctx->streaming == 0 ? 1 : 0;
  const RingView ring = vr::lt::ring(unit);
  const vr::lt::RawPass pass =
      vr::lt::capture_pass(unit, ring, ring.write_offset(), ctx->pworld_time_now);
  if (use_demand_reporting) {
    vr_lt_demand_event(unit);
    // Nothing whole had arrived: give the unit time to answer the request before the frame
    // goes on.
    if (!pass.whole_record) vr_usleep(30000);
  }
  return pass.accepted;
}

VR_API int vr_lt_obtain_current_raw_event(vr_lt_unit *unit) {
  if (!unit) return 0;
  const RingView ring = vr::lt::ring(unit);
  const int w = ring.write_offset();
  if (w < 0) return 0;
  int p = wrap(w - raw_record_bytes);
  for (int step = 0; step < ring_bytes; ++step) {
    if (record_starts(ring, p)) {
      take_record(ring, p, unit->record);
      return 1;
    }
    p = wrap(p - 1);
  }
  return 0;
}

VR_API int vr_lt_debounce_buttons(vr_lt_unit *unit) {
  if (!unit || unit->next_slot < 0 || unit->next_slot >= raw_history_slots) return -1;
  int found[3];
  int n = 0;
  for (int age = 1; age < raw_history_slots && n < 3; ++age) {
    const int k = (unit->next_slot - age + raw_history_slots) % raw_history_slots;
    if (unit->slot_valid[k]) found[n++] = unit->slot_buttons[k];
  }
  if (n == 3 && found[0] == found[1] && found[1] == found[2]) return found[0];
  return -1;
}

VR_API void print_mouse_6d_raw(const unsigned char record[24]) {
  unsigned v[12];
  vr::lt::raw_values(record, v);
  std::fprintf(stderr, "SA_TO_ABC:\t%5d\t%5d\t%5d\n", static_cast<int>(v[1]),
               static_cast<int>(v[2]), static_cast<int>(v[3]));
  std::fprintf(stderr, "SB_TO_ABC:\t%5d\t%5d\t%5d\n", static_cast<int>(v[5]),
               static_cast<int>(v[6]), static_cast<int>(v[7]));
  std::fprintf(stderr, "SB_TO_ABC:\t%5d\t%5d\t%5d\n", static_cast<int>(v[9]),
               static_cast<int>(v[10]), static_cast<int>(v[11]));
  std::fprintf(stderr, "buttons:\t0x%x\text_ref_time:\t%d\n", v[0], static_cast<int>(v[8]));
  std::fflush(stderr);
}

}  // extern "C"
