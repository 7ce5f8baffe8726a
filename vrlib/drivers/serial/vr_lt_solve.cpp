// Raw ultrasonic pose solver: from the unit's history of the nine speaker-to-microphone
// distances, each speaker is trilaterated in a frame fixed to the receiver (optionally from
// distances extrapolated along fitted lines to the moment the next frame is shown), an
// orthonormal transmitter frame is built from the three speakers, and the pose is written only
// when it passes every plausibility test.
#include <cmath>

#include "vr.h"
#include "vr_lt_raw.h"

namespace {

using vr::lt::raw_history_slots;
using vr::lt::to_float;

// Lead: the measurement cycle of the units is 1/112.9 s.
constexpr double cycle_s = 1.0 / 112.9;
constexpr double fallback_lead_s = 3.0 / 112.9;

// The speakers fire in turn: each speaker's channels are fitted against its own firing time.
constexpr double slr_time_offset_s = -0.0066667;
constexpr double sll_time_offset_s = -0.0133333;

// The glasses receiver's equal sides are longer than it reports.
constexpr double glasses_side_extra_cm = 0.08;

// Plausibility.
constexpr double min_elevation_sine = 0.087155743;  // 5 degrees above the microphone plane
constexpr double column_low[3] = {0.97, 0.98, 0.975};
constexpr double column_high = 1.025;
constexpr double good_fit_variance_cm2 = 2.25;

// Filter adaptation.
constexpr int short_filter = 8;
constexpr int long_filter = 16;
constexpr double near_cm = 50.0;
constexpr double slots_per_cm = 16.0 / 100.0;

// least_sq_fit_avg: entries this much older than the newest are left out.
constexpr double avg_window_s = 0.16;

struct Vec {
  double x, y, z;
};
Vec operator-(Vec a, Vec b) {
  return {a.x - b.x, a.y - b.y, a.z - b.z};
}
Vec operator+(Vec a, Vec b) {
  return {a.x + b.x, a.y + b.y, a.z + b.z};
}
Vec operator*(double s, Vec a) {
  return {s * a.x, s * a.y, s * a.z};
}
double dot(Vec a, Vec b) {
  return a.x * b.x + a.y * b.y + a.z * b.z;
}
Vec cross(Vec a, Vec b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
double length(Vec a) {
  return std::sqrt(dot(a, a));
}
Vec normalised(Vec a) {
  return (1.0 / length(a)) * a;
}
bool finite(Vec a) {
  return std::isfinite(a.x) && std::isfinite(a.y) && std::isfinite(a.z);
}
void store(float out[3], Vec a) {
  out[0] = to_float(a.x);
  out[1] = to_float(a.y);
  out[2] = to_float(a.z);
}

// A straight line through (t, v) points by ordinary least squares.
struct Line {
  double slope, intercept;
};
// The times are taken relative to the first point's: the same line, without the cancellation
// that absolute times of a long-running process would cost.
struct LineSums {
  double t_ref = 0, m = 0, st = 0, stt = 0, sv = 0, stv = 0;
  void add(double t, double v) {
    if (m == 0) t_ref = t;
    t -= t_ref;
    m += 1;
    st += t;
    stt += t * t;
    sv += v;
    stv += t * v;
  }
  // With fewer than two distinct times no line is determined: the points' mean then stands for
  // it (a flat line), instead of the division by zero turning every result into NaN.
  Line fit() const {
    const double det = m * stt - st * st;
    if (!(det > 0.0) || !std::isfinite(det)) return {0.0, sv / m};
    const double d = 1.0 / det;
    const double slope = (m * stv - st * sv) * d;
    return {slope, (sv * stt - stv * st) * d - slope * t_ref};
  }
};

struct Speaker {
  const double *time_base;
  int to_mll, to_mlr, to_mtop;  // channels
};

}  // namespace

extern "C" {

VR_API double future_time;
VR_API double future_sll_to_mll;
VR_API double past_posA[8][4] = {{-1.0}, {-1.0}, {-1.0}, {-1.0}, {-1.0}, {-1.0}, {-1.0}, {-1.0}};
VR_API double past_posB[8][4] = {{-1.0}, {-1.0}, {-1.0}, {-1.0}, {-1.0}, {-1.0}, {-1.0}, {-1.0}};
VR_API int past_pos_iA;
VR_API int past_pos_iB;

}  // extern "C"

double least_sq_fit_interpolate(vr_ctx *ctx, vr_lt_unit *unit, const double time_base[16],
                                vr_lt_channel *chan, int newest_slot, double lead) {
  if (newest_slot < 0 || newest_slot >= raw_history_slots) return chan->fit_value;
  if (ctx->raw_interpolate == 0) return chan->value[newest_slot];

  // The newest filter_length slots of the ring, without the invalid samples.
  LineSums sums;
  for (int k = 0; k < raw_history_slots; ++k) {
    const int age = k > newest_slot ? newest_slot + raw_history_slots - k : newest_slot - k;
    if (age >= unit->filter_length || !(chan->value[k] > 0.0f)) continue;
    sums.add(time_base[k], chan->value[k]);
  }
  if (sums.m == 0) return chan->fit_value;

  const Line line = sums.fit();
  double q = 0.0;
  for (int k = 0; k < raw_history_slots; ++k) {
    const int age = k > newest_slot ? newest_slot + raw_history_slots - k : newest_slot - k;
    if (age >= unit->filter_length || !(chan->value[k] > 0.0f)) continue;
    const double r = line.slope * time_base[k] + line.intercept - chan->value[k];
    q += r * r;
  }
  q /= sums.m;
  if (q < good_fit_variance_cm2) {
    // The capture measures its outlier residuals against this stored line.
    chan->fit_variance = to_float(q);
    chan->fit_time = to_float(time_base[newest_slot]);
    chan->fit_slope = line.slope;
    chan->fit_intercept = line.intercept;
  }
  chan->fit_value = to_float(line.slope * (time_base[newest_slot] + lead) + line.intercept);
  return chan->fit_value;
}

extern "C" {

VR_API int comp_mouse_6d_raws(vr_ctx *ctx, vr_lt_unit *unit, dmat out) {
  return vr::lt::solve_raw_pose(ctx, unit, out, nullptr);
}

}  // extern "C"

int vr::lt::solve_raw_pose(vr_ctx *ctx, vr_lt_unit *unit, dmat out, const double *given) {
  if (!ctx || !unit || !out) return 0;
  vr::lt::RawCounters &count = vr::lt::raw_counters(unit->port);
  ++count.solves;
  // A slot cursor outside the ring gives no newest slot to solve from.
  if (unit->next_slot < 0 || unit->next_slot >= raw_history_slots) return 0;

  double lead = ctx->predict_lead;
  if (ctx->predict_from_frame_time != 0) {
    lead = ctx->pworld_time_delta + cycle_s;
    if (lead > ctx->predict_lead_limit) lead = fallback_lead_s;
  }
  const int n = unit->next_slot == 0 ? raw_history_slots - 1 : unit->next_slot - 1;

  vr_lt_stat *st = vr::lt::stats_solver_record(unit);
  if (st) {
    st->dt = to_float(lead);
    for (int c = 0; c < 3; ++c) st->xyz[c] = to_float(out[3][c]);
  }

  double t0[16], t1[16], t2[16];
  for (int k = 0; k < raw_history_slots; ++k) {
    t0[k] = unit->slot_time[k];
    t1[k] = t0[k] + slr_time_offset_s;
    t2[k] = t0[k] + sll_time_offset_s;
  }

  const bool glasses = unit == vr_lt_glasses_unit;
  const double *geom = unit->op_info.receiver_geom;
  const double b = geom[0];
  const double e = geom[3];
  double h = geom[2];
  if (h == 0.0) {
    const double side = geom[1] + (glasses ? glasses_side_extra_cm : 0.0);
    h = std::sqrt(side * side - (b / 2) * (b / 2));
  }

  const Speaker speakers[3] = {{t2, 2, 1, 3}, {t1, 5, 4, 6}, {t0, 8, 7, 9}};
  Vec pos[3];
  for (int sp = 0; sp < 3; ++sp) {
    const Speaker &spk = speakers[sp];
    auto distance = [&](int channel) {
      return given ? given[channel - 1]
                   : least_sq_fit_interpolate(ctx, unit, spk.time_base, &unit->chan[channel], n,
                                              lead);
    };
    const double d_ll = distance(spk.to_mll);
    const double d_lr = distance(spk.to_mlr);
    const double d_top = distance(spk.to_mtop);
    if (sp == 2 && glasses) {
      future_sll_to_mll = d_ll;
      future_time = unit->slot_time[n] + lead;
    }
    if (st) {
      st->fit_dist[sp][0] = to_float(d_ll);
      st->fit_dist[sp][1] = to_float(d_lr);
      st->fit_dist[sp][2] = to_float(d_top);
    }
    const double x = (d_ll * d_ll - d_lr * d_lr) / (2 * b);
    const double y = (d_ll * d_ll - d_top * d_top - 2 * x * (b / 2) - (b / 2) * (b / 2) + h * h +
                      e * e - 2 * x * e) /
                     (2 * h);
    const double z2 = d_ll * d_ll - (x + b / 2) * (x + b / 2) - y * y;
    pos[sp] = {x, y, z2 > 0 ? std::sqrt(z2) : 0.0};
  }
  const Vec &p_sll = pos[0];
  const Vec &p_slr = pos[1];
  const Vec &p_stop = pos[2];
  if (st)
    for (int sp = 0; sp < 3; ++sp) store(st->speaker_pos[sp], pos[sp]);

  const Vec i = normalised(p_slr - p_sll);
  const Vec k = normalised(cross(i, p_stop - p_sll));
  const Vec j = cross(k, i);
  if (st) {
    store(st->axis_i, i);
    store(st->axis_j, j);
    store(st->axis_k, k);
  }

  // Plausibility, in order; the first failure leaves the pose as it was.
  if (!finite(p_sll) || !finite(p_slr) || !finite(p_stop)) return 0;
  double elevation[3];
  for (int sp = 0; sp < 3; ++sp) elevation[sp] = pos[sp].z / length(pos[sp]);
  if (st) {
    st->finite[0] = 1;
    for (int sp = 0; sp < 3; ++sp) st->norm_l[sp] = to_float(elevation[sp]);
  }
  for (int sp = 0; sp < 3; ++sp) {
    // A speaker at the receiver itself has no elevation (0/0): it fails as well.
    if (!(elevation[sp] >= min_elevation_sine)) return 0;
    if (length(pos[sp]) > ctx->raw_limit) return 0;
  }

  // The farther the transmitter, the noisier the distances: fit over more slots.
  if (unit->filter_length >= short_filter) {
    const double r = length(p_stop);
    double slots = r < near_cm ? short_filter : std::trunc(r * slots_per_cm);
    if (slots > long_filter) slots = long_filter;
    if (slots < short_filter) slots = short_filter;
    const int adapted = static_cast<int>(slots);
    if (adapted != unit->filter_length) ++count.filter_changes;
    unit->filter_length = adapted;
  }

  if (!finite(i) || !finite(j) || !finite(k)) return 0;
  const Vec column[3] = {{i.x, j.x, k.x}, {i.y, j.y, k.y}, {i.z, j.z, k.z}};
  double column_length[3];
  for (int c = 0; c < 3; ++c) column_length[c] = length(column[c]);
  if (st) {
    st->finite[1] = 1;
    for (int c = 0; c < 3; ++c) st->norm_x[c] = to_float(column_length[c]);
  }
  for (int c = 0; c < 3; ++c)
    if (!(column_length[c] >= column_low[c] && column_length[c] <= column_high)) return 0;

  const Vec o = -0.5 * (p_sll + p_slr);
  const Vec axis[3] = {i, j, k};
  for (int c = 0; c < 3; ++c) {
    out[0][c] = -axis[c].x;
    out[1][c] = axis[c].y;
    out[2][c] = -axis[c].z;
    out[3][c] = dot(axis[c], o);
  }
  out[0][3] = out[1][3] = out[2][3] = 0.0;
  out[3][3] = 1.0;
  ++count.solves_ok;

  if (st) {
    st->dt = to_float(lead);
    for (int c = 0; c < 3; ++c) st->xyz[c] = to_float(out[3][c]);
    store(st->origin, o);
    st->tri[0] = to_float(length(p_sll - p_slr));
    st->tri[1] = to_float(length(p_sll - p_stop));
  }
  return 1;
}

extern "C" {

VR_API void comp_mouse_6d_raw(vr_lt_unit *unit, dmat out) {
  if (!unit || !out) return;
  // The scale comes from the unit that carries the transmitter.
  const vr_lt_unit *scaler = unit;
  if (vr_lt_glasses_unit && vr_lt_glasses_unit->op_info.op_byte[6] == 2)
    scaler = vr_lt_glasses_unit;
  else if (vr_lt_mouse_6d_unit)
    scaler = vr_lt_mouse_6d_unit;
  unsigned sv[12];
  vr::lt::raw_values(scaler->record, sv);
  const double scale = scaler->op_info.transmitter_geom[2] / sv[4];

  unsigned v[12];
  vr::lt::raw_values(unit->record, v);
  const double b = unit->op_info.receiver_geom[0];
  const double s = unit->op_info.receiver_geom[1];
  const double h = std::sqrt(s * s - (b / 2) * (b / 2));

  constexpr int raw_of[3][3] = {{2, 1, 3}, {6, 5, 7}, {10, 9, 11}};
  Vec pos[3];
  for (int sp = 0; sp < 3; ++sp) {
    const double d_ll = v[raw_of[sp][0]] * scale;
    const double d_lr = v[raw_of[sp][1]] * scale;
    const double d_top = v[raw_of[sp][2]] * scale;
    const double x = (d_lr * d_lr - b * b - d_ll * d_ll) / (2 * b);
    const double y = (d_top * d_top - b * x - (b / 2) * (b / 2) - h * h - d_ll * d_ll) / (2 * h);
    const double z2 = d_ll * d_ll - x * x - y * y;
    pos[sp] = {x, y, z2 > 0 ? std::sqrt(z2) : 0.0};
  }
  const Vec i = normalised(pos[1] - pos[0]);
  const Vec j = normalised(pos[2] - 0.5 * (pos[0] + pos[1]));
  const Vec k = normalised(cross(i, j));
  const Vec o = {-((pos[0].x + pos[1].x) / 2 + b / 2), -(pos[0].y + pos[1].y) / 2,
                 -(pos[0].z + pos[1].z) / 2};
  const Vec axis[3] = {i, j, k};
  dmat m;
  for (int c = 0; c < 3; ++c) {
    m[0][c] = axis[c].x;
    m[1][c] = -axis[c].y;
    m[2][c] = -axis[c].z;
    m[3][c] = dot(axis[c], o);
  }
  m[0][3] = m[1][3] = m[2][3] = 0.0;
  m[3][3] = 1.0;
  // This variant makes no plausibility test, but a record that yields no numbers (a zero
  // reference time, degenerate geometry) must not leave NaN in the caller's pose.
  for (auto &row : m)
    for (double x : row)
      if (!std::isfinite(x)) return;
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) out[r][c] = m[r][c];
}

VR_API int least_sq_fit_avg(const double times[8], double pos[8][4], dmat out, int n) {
  if (!times || !pos || !out || n < 0 || n > 7) return 0;
  LineSums x, y, z;
  for (int k = 0; k < 8; ++k) {
    // A negative time marks an empty entry; an infinite one is no time either.
    if (!(times[k] >= 0.0) || !std::isfinite(times[k]) || !(times[n] - times[k] <= avg_window_s))
      continue;
    x.add(times[k], pos[k][1]);
    y.add(times[k], pos[k][2]);
    z.add(times[k], pos[k][3]);
  }
  if (x.m == 0) return 0;
  const Line lx = x.fit(), ly = y.fit(), lz = z.fit();
  out[3][0] = lx.slope * times[n] + lx.intercept;
  out[3][1] = ly.slope * times[n] + ly.intercept;
  out[3][2] = lz.slope * times[n] + lz.intercept;
  return 1;
}

}  // extern "C"
