// What one benchmark run measured, and the plot of all of them.
#pragma once

#include <string>
#include <vector>

namespace vrquality {

struct RunResult {
  std::string scenario;
  std::string config;                  // source and configuration, e.g. "raw display-time"
  int frames = 0;                      // frames with a tracked head
  double rms = 0, p95 = 0, worst = 0;  // eye error at display time (both eyes), cm
  double jitter = -1;                  // still head: RMS of the eye about its mean, cm; < 0 n/a
  double tip_rms = -1;                 // mouse hot spot at display time, cm; < 0 n/a
  int held = 0, rejected = 0;          // display-time mode's counters
};

// One panel per scenario: for each configuration a bar of the RMS, a lighter one of the 95th
// percentile and a mark at the worst, on a logarithmic cm axis. False with a message on failure.
bool write_plot(const std::string &path, const std::vector<std::string> &scenarios,
                const std::vector<std::string> &configs, const std::vector<RunResult> &results,
                std::string *error);

}  // namespace vrquality
