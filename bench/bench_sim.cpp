// The simulator's own cost: tests run minutes of virtual time, so one second of two Logitech
// units streaming raw records (100 records of 24 bytes, 4800 bytes into the rings) must stay far
// below a millisecond of real time.
#include <benchmark/benchmark.h>

#include "vr_platform.h"
#include "vrsim/vrsim.h"

namespace {

constexpr vr_line_settings logitech_line = {19200, 8, 0, 1, 1, 1, 0, 1, 0, 1};

void scripted_head(void *, double t, dmat out) {
  vr_lt_6d p{5.0 * t, -10.0, 55.0, 0.1 * t, 0.0, 0.05, 0};
  build_mat_6Dm_to_dig(nullptr, &p, out);
}

void BM_SimRawSecond(benchmark::State &state) {
  vrsim *sim = vrsim_create(1);
  vrsim_install(sim);
  vrsim_plug_standard(sim);
  vrsim_set_pose_fn(sim, VRSIM_HEAD, scripted_head, nullptr);
  vrsim_imperfections imp{};
  imp.distance_noise_cm = 0.1;
  vrsim_set_imperfections(sim, 0, &imp);
  for (const char *path : {"/dev/ttya", "/dev/ttyb"}) {
    int fd = vr::os::line_open(path);
    vr::os::line_set(fd, &logitech_line);
    vr::os::line_write(fd, "*\xF2", 2);
    vr::os::line_write(fd, "*S", 2);
  }
  for (auto _ : state) vrsim_advance(sim, 1.0);
  state.counters["records"] = benchmark::Counter(100.0 * static_cast<double>(state.iterations()),
                                                 benchmark::Counter::kIsRate);
  vrsim_destroy(sim);
}
BENCHMARK(BM_SimRawSecond)->Unit(benchmark::kMicrosecond);

}  // namespace
