// The simulated desk and its user.
#include "simulated_desk.h"

#include <cmath>
#include <cstring>
#include <numbers>

namespace vrcalib {

namespace {

// The simulated user's timing after an instruction: the move, the button press and release.
constexpr double move_s = 0.8;
constexpr double press_at_s = 1.0;
constexpr double release_at_s = 1.5;
constexpr double mouse_tilt_rad = 20.0 * std::numbers::pi / 180.0;
constexpr int first_button = 1;
constexpr unsigned every_interface = 0;

Vec3 lerp(const Vec3 &a, const Vec3 &b, double f) {
  f = std::fmin(1.0, std::fmax(0.0, f));
  return {a[0] + (b[0] - a[0]) * f, a[1] + (b[1] - a[1]) * f, a[2] + (b[2] - a[2]) * f};
}

// A sensor frame placed on the plate: rotation `rotation`, with `point` of the sensor frame at
// `plate`; returned as sensor-to-tracker through the plate-to-tracker matrix.
void sensor_pose(const dmat rotation, const Vec3 &point, const Vec3 &plate,
                 const dmat plate_to_tracker, dmat out) {
  dmat to_plate;
  std::memcpy(to_plate, rotation, sizeof to_plate);
  Vec3 turned;
  vr_mat_mul_dpt(point.data(), to_plate, turned.data());
  // A pure rotation has no translation yet: the one needed brings the point onto the plate.
  for (int i = 0; i < 3; ++i) to_plate[3][i] = plate[i] - turned[i];
  vr_mat_mul_mat(to_plate, const_cast<double(*)[4]>(plate_to_tracker), out);
}

}  // namespace

SimulatedDesk::SimulatedDesk(const DeskSetup &setup) : setup_(setup) {
  vr_mat_inv2(setup_.true_tracker_to_plate, plate_to_tracker_);
  sim_ = vrsim_create(setup.seed);
  if (sim_ == nullptr) return;
  vrsim_install(sim_);
  int port = VRSIM_PORT_A;
  vrsim_imperfections imp{};
  imp.distance_noise_cm = setup.noise_cm;
  if (setup.kind == DeskKind::webcam) {
    // A face tracker sending to the network source's default endpoint.
    vrsim_start_opentrack(sim_, nullptr);
    vrsim_set_opentrack_imperfections(sim_, &imp);
  } else {
    if (setup.kind == DeskKind::ultrasonic) {
      vrsim_plug_standard(sim_);
      port = VRSIM_PORT_B;
    } else {
      vrsim_plug_dynasight(sim_, VRSIM_PORT_A, 0);
    }
    if (setup.noise_cm > 0.0) vrsim_set_imperfections(sim_, port, &imp);
  }
  // The user starts in front of the screen centre.
  place_mouse_tip({18.0, 13.0, 15.0});
  place_eyes({18.0, 13.0, 60.0});
}

SimulatedDesk::~SimulatedDesk() {
  if (sim_ != nullptr) vrsim_destroy(sim_);
}

void SimulatedDesk::use_sources(vr_ctx *ctx) const {
  vr_set_int(ctx, VR_TRACKING_MODE, 1);
  if (setup_.kind == DeskKind::ultrasonic) {
    vr_set_int(ctx, VR_GLASSES_SOURCE, VR_GLASSES_SOURCE_LOGITECH_6D);
    vr_set_int(ctx, VR_MOUSE_SOURCE, VR_MOUSE_SOURCE_LOGITECH_6D);
  } else if (setup_.kind == DeskKind::webcam) {
    vr_set_int(ctx, VR_GLASSES_SOURCE, VR_SOURCE_NETWORK);
  } else {
    vr_set_int(ctx, VR_GLASSES_SOURCE, VR_GLASSES_SOURCE_DYNASIGHT);
  }
}

void SimulatedDesk::send_webcam_to(unsigned address, int port) {
  if (setup_.kind != DeskKind::webcam) return;
  vrsim_opentrack_config c;
  vrsim_opentrack_config_init(&c);
  if (address != every_interface) c.address = address;
  c.port = port;
  vrsim_start_opentrack(sim_, &c);
}

double SimulatedDesk::now() {
  return vrsim_now(sim_);
}

void SimulatedDesk::wait(double seconds) {
  act(vrsim_now(sim_));
  vrsim_advance(sim_, seconds);
}

void SimulatedDesk::asked(Ask what, const Target &target) {
  ask_ = what;
  asked_at_ = vrsim_now(sim_);
  from_ = now_at_;
  to_ = target.plate;
  if (what == Ask::touch) {
    ++touches_;
    wobbling_ = touches_ == setup_.wobble_touch;
  }
}

void SimulatedDesk::place_mouse_tip(const Vec3 &plate) {
  dmat tilt, pose;
  vr_mat_rot_x(mouse_tilt_rad, tilt);
  sensor_pose(tilt, setup_.tip_offset, plate, plate_to_tracker_, pose);
  vrsim_set_pose(sim_, VRSIM_MOUSE, pose);
  now_at_ = plate;
}

void SimulatedDesk::place_eyes(const Vec3 &plate) {
  dmat level, pose;
  vr_mat_identity(level);
  sensor_pose(level, setup_.between_eyes, plate, plate_to_tracker_, pose);
  // The DynaSight reports a position only: its head frame keeps the tracker's axes.
  if (setup_.kind == DeskKind::dynasight) {
    Vec3 at;
    vr_mat_mul_dpt(setup_.between_eyes.data(), pose, at.data());
    vr_mat_identity(pose);
    for (int i = 0; i < 3; ++i) pose[3][i] = at[i] - setup_.between_eyes[i];
  }
  vrsim_set_pose(sim_, VRSIM_HEAD, pose);
  now_at_ = plate;
}

void SimulatedDesk::act(double t) {
  if (asked_at_ < 0.0) return;
  const double since = t - asked_at_;
  if (ask_ == Ask::hold) {
    place_eyes(lerp(from_, to_, since / move_s));
    return;
  }
  Vec3 tip = lerp(from_, to_, since / move_s);
  const bool down = since >= press_at_s && since < release_at_s;
  if (wobbling_ && since >= press_at_s) {
    const Vec3 drifted = {to_[0] + setup_.wobble_cm, to_[1], to_[2]};
    tip = lerp(to_, drifted, (since - press_at_s) / (release_at_s - press_at_s));
  }
  place_mouse_tip(tip);
  vrsim_set_buttons(sim_, VRSIM_MOUSE, down ? first_button : 0);
}

}  // namespace vrcalib
