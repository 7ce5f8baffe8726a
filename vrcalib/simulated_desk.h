// A desk on the simulator with a chosen true tracker placement, and a simulated user who does
// what the calibration asks: moves the mouse tip to each target and clicks, or holds the head at
// each position. vrcalib's --simulate mode and the tests run the real drivers against it.
#pragma once

#include "calibration.h"
#include "vrsim/vrsim.h"

namespace vrcalib {

// webcam: a face tracker sending opentrack datagrams; true_tracker_to_plate is its camera's
// placement.
enum class DeskKind { ultrasonic, dynasight, webcam };

struct DeskSetup {
  DeskKind kind = DeskKind::ultrasonic;
  dmat true_tracker_to_plate{};       // where the tracker really is
  Vec3 tip_offset{0.0, -1.0, -10.0};  // the real mouse tip in the mouse frame
  Vec3 between_eyes{0.0, 2.0, 3.5};   // the real point between the eyes in the head frame
  double noise_cm = 0.0;              // tracker noise (sigma per axis)
  unsigned long long seed = 1;
  int wobble_touch = 0;  // the n-th touch (from 1) drifts while the button is down; 0 = none
  double wobble_cm = 1.0;
};

class SimulatedDesk : public Pacer {
 public:
  explicit SimulatedDesk(const DeskSetup &setup);
  ~SimulatedDesk() override;
  SimulatedDesk(const SimulatedDesk &) = delete;
  SimulatedDesk &operator=(const SimulatedDesk &) = delete;

  bool ok() const { return sim_ != nullptr; }
  vrsim *sim() { return sim_; }
  // Chooses the context's sources for this desk's devices (6D reports for the ultrasonic units).
  void use_sources(vr_ctx *ctx) const;
  // The webcam desk's sender sends to address:port (IPv4, host order; 0, every interface, is
  // reached on loopback) from now on; it starts out sending to the default 127.0.0.1:4242.
  void send_webcam_to(unsigned address, int port);

  double now() override;
  void wait(double seconds) override;
  void asked(Ask what, const Target &target) override;

  // Puts the mouse tip at a plate point (the mouse held pointing into the screen, tilted 20
  // degrees) or the point between the eyes at one (head level, facing the screen), at once.
  void place_mouse_tip(const Vec3 &plate);
  void place_eyes(const Vec3 &plate);

 private:
  void act(double t);

  DeskSetup setup_;
  vrsim *sim_ = nullptr;
  dmat plate_to_tracker_{};
  // The simulated user: what was asked when, and where the hand or head was then.
  Ask ask_ = Ask::hold;
  double asked_at_ = -1.0;
  Vec3 from_{}, to_{}, now_at_{};
  int touches_ = 0;
  bool wobbling_ = false;
};

}  // namespace vrcalib
