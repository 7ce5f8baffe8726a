// Cost of one frame of the pose filter for two raw units: each unit's record (nine distances,
// each at its speaker's firing moment) as it arrives, 50 records a second against 60 frames, and
// the prediction of both poses to the moment the frame is shown.
#include <benchmark/benchmark.h>

#include <cmath>

#include "vr_pose_filter.h"

namespace {

constexpr double speakers[3][3] = {{-15.24, 0, 0}, {15.24, 0, 0}, {0, 26.3965, 0}};
constexpr double mics[3][3] = {{3.175, 0, 0}, {-3.175, 0, 0}, {0, 5.5914, 0}};
const double *const mic_rows[3] = {mics[0], mics[1], mics[2]};
constexpr double record_interval_s = 0.02;
constexpr double frame_interval_s = 1.0 / 60;
constexpr double speaker_interval_s = 0.02 / 3;

// A receiver circling, turning about the vertical, on a path that repeats after period_records
// records; the library's quaternion of its pose.
constexpr int period_records = 3000;
void truth(double t, double phase, double pos[3], double q[4]) {
  const double a = 8 * 2 * M_PI * t / (period_records * record_interval_s) + phase;
  pos[0] = 10 * std::cos(a);
  pos[1] = -10 + 3 * std::sin(2 * a);
  pos[2] = 55 + 10 * std::sin(a);
  const double yaw = 0.4 * std::sin(a);
  q[0] = 0, q[1] = -std::sin(yaw / 2), q[2] = 0, q[3] = std::cos(yaw / 2);
}

double distance(double t, double phase, int s, int m) {
  double p[3], q[4];
  truth(t, phase, p, q);
  const double yaw = -2 * std::atan2(q[1], q[3]);
  const double c = std::cos(yaw), sn = std::sin(yaw);
  const double r[3] = {c * mics[m][0] + sn * mics[m][2], mics[m][1],
                       -sn * mics[m][0] + c * mics[m][2]};
  const double dx = p[0] + r[0] - speakers[s][0], dy = p[1] + r[1] - speakers[s][1],
               dz = p[2] + r[2] - speakers[s][2];
  return std::sqrt(dx * dx + dy * dy + dz * dz);
}

struct Unit {
  vr_pose_filter filter;
  double phase;
  double next_record_s = record_interval_s;
  long next_record = 0;
  double d[period_records][9];  // the records' distances, computed before: only the filter is timed
};

void BM_PoseFilterFrameTwoRawUnits(benchmark::State &state) {
  static Unit units[2];  // static: too large for the stack
  for (int u = 0; u < 2; ++u) {
    Unit &unit = units[u];
    unit.phase = 1.3 * u;
    unit.next_record_s = record_interval_s;
    unit.next_record = 0;
    vr_pose_filter_init(&unit.filter, nullptr);
    double p[3], q[4];
    truth(0, unit.phase, p, q);
    vr_pose_filter_start(&unit.filter, 0, p, q);
    for (int r = 0; r < period_records; ++r)
      for (int k = 0; k < 9; ++k)
        unit.d[r][k] = distance((r + 1) * record_interval_s - (2 - k / 3) * speaker_interval_s,
                                unit.phase, k / 3, k % 3);
  }
  double frame_s = 0;
  long updates = 0;
  double pos[3], q[4];
  for (auto _ : state) {
    frame_s += frame_interval_s;
    for (Unit &unit : units) {
      while (unit.next_record_s <= frame_s) {
        const double *d = unit.d[unit.next_record++ % period_records];
        // As the front end feeds it: each speaker's three distances together, at its moment.
        for (int speaker = 0; speaker < 3; ++speaker) {
          vr_pose_filter_result results[3];
          vr_pose_filter_distances(&unit.filter,
                                   unit.next_record_s - (2 - speaker) * speaker_interval_s,
                                   speakers[speaker], mic_rows, d + 3 * speaker, 3, 0.0, results);
          updates += 3;
        }
        unit.next_record_s += record_interval_s;
      }
      vr_pose_filter_tick(&unit.filter, frame_s);
      if (unit.filter.state == VR_FILTER_OFF) {
        truth(frame_s, unit.phase, pos, q);
        vr_pose_filter_start(&unit.filter, unit.next_record_s - record_interval_s, pos, q);
      }
      vr_pose_filter_predict(&unit.filter, frame_s + 0.04, pos, q);
      benchmark::DoNotOptimize(pos);
    }
  }
  state.counters["refused"] =
      static_cast<double>(units[0].filter.gated + units[1].filter.gated +
                          units[0].filter.unstarted + units[1].filter.unstarted);
  state.counters["updates_per_frame"] =
      benchmark::Counter(static_cast<double>(updates) / static_cast<double>(state.iterations()));
}
BENCHMARK(BM_PoseFilterFrameTwoRawUnits);

}  // namespace
