// The scripted session of the demo: a viewer in front of the screen who sways from side to side,
// leans in, turns and nods, and a 3D mouse held out in front of the screen and moved through the
// scene. Everything is a smooth function of the session time, so the truth is known exactly at
// any moment, also between frames and between tracker cycles.
#pragma once

#include <vrlib/vr.h>

namespace vrdemo {

class Session {
 public:
  // dig_to_plate places the tracker's transmitter (the simulator's truth is given in its frame);
  // the eye offsets, the mouse tip offset and the window centre come from the context, so that
  // the true eye nodal points follow the same head model as the library's. The seed varies the
  // amplitudes and phases of the motion a little.
  Session(vr_ctx *ctx, unsigned long long seed);

  // Length of one pass of the script; later times repeat it.
  static constexpr double period_s = 10.0;

  // Sensor frames at session time t (seconds): the glasses receiver and the 3D mouse receiver,
  // to the plate and to the tracker's frame.
  void head_to_plate(double t, dmat out) const;
  void mouse_to_plate(double t, dmat out) const;
  void head_to_dig(double t, dmat out) const;
  void mouse_to_dig(double t, dmat out) const;

  // The true eye nodal points in plate coordinates at time t: the eye offsets through the head
  // pose, each moved 1.1 cm along its line of sight toward the window centre.
  void true_eyes(double t, dpt left, dpt right) const;
  // The true hot spot of the 3D mouse in plate coordinates.
  void true_mouse_tip(double t, dpt tip) const;

  // What the viewer is doing at time t, for the pictures' captions.
  const char *activity(double t) const;

 private:
  // Mutable only because the library's matrix functions take their inputs as plain dmat.
  mutable dmat dig_to_plate_{};
  mutable dmat plate_to_dig_{};
  dpt left_eye_offset_{}, right_eye_offset_{}, mouse_tip_offset_{};
  dpt window_center_{};
  double jitter_[8]{};  // per-seed variations, each in [-1, 1]
};

}  // namespace vrdemo
