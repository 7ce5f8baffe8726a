// Scripted sessions on the simulator, and their truth. A script says where the glasses' and the
// 3D mouse's receivers are at every moment; the truth derived from it (what the tracker should
// measure, where the eyes and the mouse's hot spot really are) is computed here once, with the
// library's own head model, for the demo and for the tracking-quality benchmark alike.
#pragma once

#include <vrlib/vr.h>

namespace vrsession {

// A frame whose origin is `pivot` (given in the sensor frame), turned by roll, pitch and yaw in
// the library's order and placed at `target` (plate): p -> (p - pivot) x Rz x Rx x Ry + target.
void place(const dpt pivot, double roll, double pitch, double yaw, const dpt target, dmat out);

// The truth of a script. The frames of the context it is made with (dig_to_plate places the
// tracker's transmitter, in whose frame the simulator's truth is given; the eye offsets, the
// mouse tip offset and the window centre) are read once, so that the true eye nodal points follow
// the same head model as the library's.
class Truth {
 public:
  explicit Truth(vr_ctx *ctx);
  virtual ~Truth() = default;
  Truth(const Truth &) = delete;
  Truth &operator=(const Truth &) = delete;

  // The script: the glasses' and the mouse's receiver frames to the plate at session time t (s).
  virtual void head_to_plate(double t, dmat out) const = 0;
  virtual void mouse_to_plate(double t, dmat out) const = 0;

  // The same frames to the tracker's frame: what the simulated devices measure.
  void head_to_dig(double t, dmat out) const;
  void mouse_to_dig(double t, dmat out) const;

  // The true eye nodal points in plate coordinates at time t: the eye offsets through the head
  // pose, each moved 1.1 cm along its line of sight toward the window centre.
  void true_eyes(double t, dpt left, dpt right) const;
  // The true hot spot of the 3D mouse in plate coordinates.
  void true_mouse_tip(double t, dpt tip) const;

 protected:
  // The point between the eyes, in the glasses' frame: where a head turns about.
  void between_eyes(dpt out) const;

  dpt left_eye_offset_{}, right_eye_offset_{}, mouse_tip_offset_{};
  dpt window_center_{};

 private:
  // Mutable only because the library's matrix functions take their inputs as plain dmat.
  mutable dmat plate_to_dig_{};
};

// The demo's script: a viewer in front of the screen who sways from side to side, leans in,
// turns and nods, and a 3D mouse held out in front of the screen and moved through the scene.
// Everything is a smooth function of the session time, so the truth is known exactly at any
// moment, also between frames and between tracker cycles. The seed varies the amplitudes and
// phases of the motion a little.
class Session : public Truth {
 public:
  Session(vr_ctx *ctx, unsigned long long seed);

  // Length of one pass of the script; later times repeat it.
  static constexpr double period_s = 10.0;

  void head_to_plate(double t, dmat out) const override;
  void mouse_to_plate(double t, dmat out) const override;

  // What the viewer is doing at time t, for the pictures' captions.
  const char *activity(double t) const;

 private:
  double jitter_[8]{};  // per-seed variations, each in [-1, 1]
};

}  // namespace vrsession
