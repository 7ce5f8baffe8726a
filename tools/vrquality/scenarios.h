// The scripted sessions of the tracking-quality benchmark: where the head and the 3D mouse are
// at every moment, and what the simulated devices do wrong meanwhile.
#pragma once

#include <vrlib/vr.h>

#include <string>

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

// The truth of one scenario, in the library's frames (read from the context it is made with).
class Script {
 public:
  Script(vr_ctx *ctx, const Scenario &scenario, unsigned long long seed);
  ~Script();
  Script(const Script &) = delete;
  Script &operator=(const Script &) = delete;

  void head_to_dig(double t, dmat out) const;
  void mouse_to_dig(double t, dmat out) const;
  // True eye nodal points and mouse hot spot in plate coordinates at time t.
  void true_eyes(double t, dpt left, dpt right) const;
  void true_mouse_tip(double t, dpt tip) const;

 private:
  void head_to_plate(double t, dmat out) const;
  void mouse_to_plate(double t, dmat out) const;

  Motion motion_;
  struct Demo;
  Demo *demo_;  // the demo's session, which also moves the mouse in every moving scenario
  mutable dmat plate_to_dig_{};
  dpt left_eye_offset_{}, right_eye_offset_{}, mouse_tip_offset_{}, window_center_{};
};

}  // namespace vrquality
