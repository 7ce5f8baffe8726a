// Cost of one frame of raw ultrasonic tracking: the capture pass over the record that arrived
// since the last frame plus the pose solve, for the glasses alone and for glasses and mouse, with
// fitting off and on; and a whole vr_comp_view with both raw units installed.
#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "vr_capture.h"
#include "vr_lt_raw.h"
#include "vrlib/vr.h"
#include "vrsim/vrsim.h"

namespace {

constexpr double cm_per_count = 25.4 / 4800;
constexpr unsigned reference_counts = 4800;

// The nine times of flight (wire order) of a receiver with base b and side s at a pose, from
// the default transmitter (base and side 30.48 cm).
std::array<unsigned, 9> times_of_flight(dmat pose, double b, double s) {
  const double tb = 30.48, th = std::sqrt(30.48 * 30.48 - tb * tb / 4);
  const double spk[3][3] = {{-tb / 2, 0, 0}, {tb / 2, 0, 0}, {0, th, 0}};
  const double h = std::sqrt(s * s - b * b / 4);
  const double mic[3][3] = {{-b / 2, 0, 0}, {b / 2, 0, 0}, {0, h, 0}};  // mlr, mll, mtop
  std::array<unsigned, 9> t{};
  for (int sp = 0; sp < 3; ++sp)
    for (int m = 0; m < 3; ++m) {
      dpt p;
      vr_mat_mul_dpt(mic[m], pose, p);
      const double d = std::sqrt((spk[sp][0] - p[0]) * (spk[sp][0] - p[0]) +
                                 (spk[sp][1] - p[1]) * (spk[sp][1] - p[1]) +
                                 (spk[sp][2] - p[2]) * (spk[sp][2] - p[2]));
      t[3 * sp + m] = static_cast<unsigned>(std::lround(d / cm_per_count));
    }
  return t;
}

// A unit's stream of raw records: one per 20 ms, with a count of noise that varies from record
// to record so that the fits and the outlier test work as they do on real data.
struct Stream {
  std::array<unsigned, 9> tof{};
  unsigned stamp = 1000;
  unsigned n = 0;
  void encode(unsigned char out[24]) {
    const unsigned noise = (n * 2654435761u) >> 30;  // 0..3
    unsigned v[12] = {0xF0F0u,
                      tof[0] + noise,
                      tof[1],
                      tof[2] + (noise & 1),
                      reference_counts,
                      tof[3],
                      tof[4] + noise,
                      tof[5],
                      stamp,
                      tof[6],
                      tof[7],
                      tof[8] + noise};
    for (int k = 0; k < 12; ++k) {
      out[2 * k] = static_cast<unsigned char>(v[k] & 0xFF);
      out[2 * k + 1] = static_cast<unsigned char>(v[k] >> 8);
    }
    stamp = (stamp + 20) % 60000;
    ++n;
  }
  // Appends the next record to a port's ring in a capture area, as the capture driver does.
  void append(unsigned char *area, int port) {
    std::int32_t w;
    std::memcpy(&w, area + vr::capture::write_offset_byte[port], sizeof w);
    unsigned char rec[24];
    encode(rec);
    for (unsigned char b : rec) {
      area[vr::capture::ring_start_byte[port] + w] = b;
      w = vr::capture::wrap(w + 1);
    }
    std::memcpy(area + vr::capture::write_offset_byte[port], &w, sizeof w);
  }
};

void init_unit(vr_lt_unit *u, int port, double b, double s) {
  std::memset(u, 0, sizeof *u);
  vr_lt_device_struct_init(port == 0 ? "Crystal Eyes(tm)" : "Logitech 3D Mouse", u);
  u->port = port;
  u->op_info.op_byte[6] = port == 0 ? 2 : 0;
  u->op_info.receiver_geom[0] = b;
  u->op_info.receiver_geom[1] = s;
  u->op_info.transmitter_geom[0] = u->op_info.transmitter_geom[1] = 30.48;
  u->op_info.transmitter_geom[2] = 25.4;
}

// state.range(0): units (1 = glasses, 2 = glasses and mouse); state.range(1): raw_interpolate.
void BM_RawFrame(benchmark::State &state) {
  const int units = static_cast<int>(state.range(0));
  vr::lt::reset_raw_state();
  cur_stat = 255;
  static unsigned char area[vr::capture::area_bytes];
  std::memset(area, 0, sizeof area);
  static vr_lt_unit glasses, mouse;
  init_unit(&glasses, 0, 6.35, 6.35);
  init_unit(&mouse, 1, 5.08, 5.08);
  vr_lt_glasses_unit = &glasses;
  vr_lt_mouse_6d_unit = &mouse;
  vr_ctx *ctx = static_cast<vr_ctx *>(std::calloc(1, sizeof(vr_ctx)));
  ctx->raw_interpolate = static_cast<int>(state.range(1));
  ctx->predict_from_frame_time = 1;
  ctx->predict_lead_limit = 3.0;
  ctx->raw_limit = 100.0;
  ctx->pworld_time_delta = 0.02;
  dmat head, hand;
  vr_mat_trans(0, -10, 55, head);
  vr_mat_trans(8, -25, 40, hand);
  Stream sa, sb;
  sa.tof = times_of_flight(head, 6.35, 6.43);
  sb.tof = times_of_flight(hand, 5.08, 5.08);
  const vr::capture::RingView ring_a(area, 0), ring_b(area, 1);
  double now = 10.0;
  int solved = 0;
  for (auto _ : state) {
    // One record per unit and frame (50 Hz frames), appended as the capture driver would.
    sa.append(area, 0);
    if (units == 2) sb.append(area, 1);
    now += 0.02;
    if (units == 2) {
      vr::lt::capture_pass(&mouse, ring_b, ring_b.write_offset(), now);
      solved += comp_mouse_6d_raws(ctx, &mouse, ctx->mouse_to_dig);
    }
    vr::lt::capture_pass(&glasses, ring_a, ring_a.write_offset(), now);
    solved += comp_mouse_6d_raws(ctx, &glasses, ctx->head_to_dig);
    benchmark::DoNotOptimize(ctx->head_to_dig[3][2]);
    benchmark::ClobberMemory();
  }
  state.counters["poses_per_frame"] =
      benchmark::Counter(static_cast<double>(solved) / static_cast<double>(state.iterations()));
  vr_lt_glasses_unit = vr_lt_mouse_6d_unit = nullptr;
  std::free(ctx);
}

// The simulator's virtual clock, moved by the benchmark itself once the set-up has run.
long long bench_clock_ns = 0;
long long bench_hrtime(void *) {
  return bench_clock_ns;
}
// Processor time moves on with every reading, so that the pauses of the removal at the end end.
long long bench_cpu_ns = 0;
long long bench_hrvtime(void *) {
  return bench_cpu_ns += 1000000;
}
int bench_line_write(void *, int, const void *, int n) {
  return n;
}
void bench_line_close(void *, int) {}

// vr_comp_view with both raw units installed by the real set-up (on the simulator), then fed one
// record per unit and frame straight into the capture area. state.range(1): display-time
// tracking on (1), or the pose filter (2: the head's unit through the filter); state.range(2): only the two units' per-frame handlers (the tracking part of a
// frame) instead of the whole vr_comp_view.
void BM_CompViewRawUnits(benchmark::State &state) {
  vr::lt::reset_raw_state();
  cur_stat = 255;
  vrsim *sim = vrsim_create(1);
  vrsim_install(sim);
  vrsim_plug_standard(sim);
  vr_ctx *ctx = vr_ctx_create();
  ctx->raw_interpolate = static_cast<int>(state.range(0));
  vr_set_int(ctx, VR_TRACK_DISPLAY_TIME, state.range(1) == 1 ? 1 : 0);
  vr_set_int(ctx, VR_TRACK_FILTER, state.range(1) == 2 ? 1 : 0);
  const bool handlers_only = state.range(2) != 0;
  if (vr_init_glasses_and_mouse_6d(ctx, 1, 1) != 1) {
    state.SkipWithError("raw set-up failed on the simulator");
    vrsim_destroy(sim);
    std::free(ctx);
    return;
  }
  // From here on the library's clock is the benchmark's, and the devices are silent: the
  // records come from the streams below, into the same capture area.
  bench_clock_ns = static_cast<long long>(vrsim_now_ns(sim)) + 1000000000000LL;
  vr_platform p = *vr_platform_default();
  p.hrtime = bench_hrtime;
  p.hrvtime = bench_hrvtime;
  p.line_write = bench_line_write;
  p.line_close = bench_line_close;
  vrsim_destroy(sim);
  vr_platform_install(&p);
  unsigned char *area = vrsim_capture_area();
  dmat head, hand;
  vr_mat_trans(0, -10, 55, head);
  vr_mat_trans(8, -25, 40, hand);
  Stream sa, sb;
  sa.tof = times_of_flight(head, 6.35, 6.43);
  sb.tof = times_of_flight(hand, 5.08, 5.08);
  vr::lt::reset_raw_counters();
  for (auto _ : state) {
    sa.append(area, 0);
    sb.append(area, 1);
    bench_clock_ns += 20000000;
    if (handlers_only) {
      vr_sync_pworld_time(ctx);
      vr_lt_event_mouse3d(ctx);
      vr_lt_event_glasses(ctx);
    } else {
      vr_comp_view(ctx);
    }
    benchmark::DoNotOptimize(ctx->left_view[0][0]);
    benchmark::DoNotOptimize(ctx->screen_left_eye[0]);
    benchmark::ClobberMemory();
  }
  state.counters["poses_per_frame"] = benchmark::Counter(
      static_cast<double>(vr::lt::raw_counters(0).solves_ok + vr::lt::raw_counters(1).solves_ok) /
      static_cast<double>(state.iterations()));
  vr_lt_remove_glasses_and_mouse_6d(ctx);
  vr_platform_install(nullptr);
  std::free(ctx);
}

}  // namespace

BENCHMARK(BM_RawFrame)
    ->ArgNames({"units", "fit"})
    ->Args({1, 0})
    ->Args({1, 1})
    ->Args({2, 0})
    ->Args({2, 1});
BENCHMARK(BM_CompViewRawUnits)
    ->ArgNames({"fit", "display", "handlers"})
    ->Args({0, 0, 0})
    ->Args({1, 0, 0})
    ->Args({0, 1, 0})
    ->Args({0, 0, 1})
    ->Args({1, 0, 1})
    ->Args({0, 1, 1})
    ->Args({0, 2, 0})
    ->Args({0, 2, 1});
