// Cost of the pose predictor's share of a display-time frame: one new measurement of a head that
// moves and turns (taken by the level-and-trend smoothing, past the jump and gate checks), then
// the pose at the moment the frame is shown. The raw-unit display-time frame does not use this
// predictor; the 6D, DynaSight, network and VRPN sources do, once per report and once per frame.
#include <benchmark/benchmark.h>

#include <cmath>

#include "vr_predict.h"

namespace {

constexpr double report_interval_s = 1.0 / 60.0;
constexpr double display_delay_s = 0.03;

void BM_PredictorReportAndFrame(benchmark::State &state) {
  vr_pose_predictor pred;
  vr_predictor_reset(&pred, nullptr);
  double t = 0.0;
  double pos_out[3], quat_out[4];
  for (auto _ : state) {
    t += report_interval_s;
    // A sway of 10 cm and a turn of 0.4 rad about the vertical, at about 1 Hz.
    const double sway = std::sin(6.0 * t), half_turn = 0.2 * std::sin(5.0 * t);
    const double pos[3] = {10.0 * sway, 2.0, 58.0 - 3.0 * sway};
    const double quat[4] = {0.0, std::sin(half_turn), 0.0, std::cos(half_turn)};
    benchmark::DoNotOptimize(vr_predictor_add(&pred, t, pos, quat));
    benchmark::DoNotOptimize(vr_predictor_predict(&pred, t + display_delay_s, pos_out, quat_out));
    benchmark::ClobberMemory();
  }
  state.counters["rejected"] = static_cast<double>(pred.rejected + pred.held + pred.refused);
}
BENCHMARK(BM_PredictorReportAndFrame);

}  // namespace
