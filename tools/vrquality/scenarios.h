// The scripted sessions of the tracking-quality benchmark: where the head and the 3D mouse are
// at every moment, and what the simulated devices do wrong meanwhile.
#pragma once

#include <vrlib/vr.h>

#include <string>

#include "tools/common/session.h"

namespace vrquality {

enum class Motion { still, sway, turns, lean, demo };

struct Scenario {
  std::string name;
  Motion motion;
  double outlier_rate = 0.0;  // per raw distance
  double outlier_cm = 0.0;
  bool dropouts = false;  // the devices fall silent for 0.5 s at 2, 5 and 8 s
};

// Whether the devices are silent at session time t in this scenario.
bool silent_at(const Scenario &s, double t);

// The motion of one scenario. The truth derived from it (what the devices measure, the true eyes
// and the mouse's hot spot) is the demo's, in the library's frames (read from the context the
// script is made with).
class Script : public vrsession::Truth {
 public:
  Script(vr_ctx *ctx, const Scenario &scenario, unsigned long long seed);

  void head_to_plate(double t, dmat out) const override;
  void mouse_to_plate(double t, dmat out) const override;

 private:
  Motion motion_;
  vrsession::Session demo_;  // the demo's script, which also moves the mouse in every moving one
};

}  // namespace vrquality
