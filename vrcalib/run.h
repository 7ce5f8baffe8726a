// One run of vrcalib: read the set-up file, start the tracker (the devices, or a simulated desk),
// run the chosen procedure, and write the fitted placement back into the set-up file.
#pragma once

#include <cstdio>
#include <string>

#include "calibration.h"

namespace vrcalib {

enum class Procedure { mouse, dynasight };

struct Options {
  std::string config_path;  // read first when it exists, then written with the result
  Procedure procedure = Procedure::mouse;
  Settings settings;
  bool window = false;  // show the targets in a full-screen window (when a display is there)
  // Simulation: the true tracker placement is the set-up's one turned by true_turn_deg about
  // true_axis (through the tracker's origin) and then moved by true_offset_cm on the plate.
  bool simulate = false;
  Vec3 true_offset_cm{0.0, 0.0, 0.0};
  double true_turn_deg = 0.0;
  Vec3 true_axis{0.0, 1.0, 0.0};
  double noise_cm = 0.0;
  int wobble_touch = 0;
  unsigned long long seed = 1;
};

// The simulated true placement for a set-up's placement.
void true_placement(const dmat configured, const Options &o, dmat out);

// The whole run; messages on out (steps, fit) and err (failures). The process exit status.
int run(const Options &o, std::FILE *out, std::FILE *err);

}  // namespace vrcalib
