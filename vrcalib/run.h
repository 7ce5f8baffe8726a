// One run of vrcalib: read the set-up file, start the tracker (the devices, or a simulated desk),
// run the chosen procedure, and write the fitted placement back into the set-up file.
#pragma once

#include <cstdio>
#include <string>

#include "calibration.h"

namespace vrcalib {

enum class Procedure { mouse, dynasight, opentrack };

struct Options {
  std::string config_path;  // read first when it exists, then written with the result
  Procedure procedure = Procedure::mouse;
  Settings settings;
  bool window = false;  // show the targets in a full-screen window (when a display is there)
  // Simulation: the true tracker (or camera) placement is the set-up's one turned by
  // true_turn_deg about true_axis (through the tracker's origin, in its frame) and then moved by
  // true_offset_cm on the plate. For the webcam the set-up's placement is its camera offset and
  // tilt, and a turn about x (1, 0, 0) keeps the true camera one that a set-up can hold.
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
// The placement a set-up holds for the procedure's source: VR_TRACKER_TO_PLATE, or for the
// webcam the camera's (VR_NET_CAMERA_OFFSET, VR_NET_CAMERA_TILT).
void configured_placement(vr_ctx *setup, Procedure p, dmat out);

// The whole run; messages on out (steps, fit) and err (failures). The process exit status.
int run(const Options &o, std::FILE *out, std::FILE *err);

}  // namespace vrcalib
