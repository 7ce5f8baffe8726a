// One run of vrcalib.
#include "run.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

#include "setup_keys.h"
#include "simulated_desk.h"
#ifdef VRCALIB_HAVE_WINDOW
#include "target_window.h"
#endif

namespace vrcalib {

namespace {

struct CtxFree {
  void operator()(vr_ctx *ctx) const { std::free(ctx); }
};
using Ctx = std::unique_ptr<vr_ctx, CtxFree>;

// Time in front of the real devices.
class RealPacer : public Pacer {
 public:
  double now() override {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  }
  void wait(double seconds) override {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  }

 private:
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// Rotation by angle about a unit axis, for row vectors.
void axis_rotation(Vec3 axis, double angle, dmat out) {
  const double n = std::sqrt(axis[0] * axis[0] + axis[1] * axis[1] + axis[2] * axis[2]);
  vr_mat_identity(out);
  if (n == 0.0) return;
  for (double &c : axis) c /= n;
  const double c = std::cos(angle), s = std::sin(angle);
  // Column-vector Rodrigues matrix, stored transposed.
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      double col = (1.0 - c) * axis[i] * axis[j] + (i == j ? c : 0.0);
      const int k = 3 - i - j;
      if (i != j) col += (((j - i + 3) % 3 == 1) ? -1.0 : 1.0) * s * axis[k];
      out[j][i] = col;
    }
  }
}

const char *start_message(Procedure p) {
  if (p == Procedure::dynasight) return vr_ds_message;
  if (p == Procedure::opentrack) return vr_net_message;
  return vr_lt_message;
}

DeskKind desk_kind(Procedure p) {
  switch (p) {
    case Procedure::mouse:
      return DeskKind::ultrasonic;
    case Procedure::dynasight:
      return DeskKind::dynasight;
    case Procedure::opentrack:
      break;
  }
  return DeskKind::webcam;
}

// Where the network source listens: the set-up's [network] listen, with VRLIB_OPENTRACK over it
// as the library's set-up takes it (a part the variable leaves out keeps the set-up's). Asked
// once the source has started, which means that a variable that is set is well formed.
struct Endpoint {
  unsigned address = 0;  // IPv4, host order
  int port = 0;
  std::string text() const {
    char t[32];
    std::snprintf(t, sizeof t, "%u.%u.%u.%u:%d", address >> 24, (address >> 16) & 255u,
                  (address >> 8) & 255u, address & 255u, port);
    return t;
  }
};

Endpoint listen_endpoint(vr_ctx *work) {
  int address = 0, port = 0;
  vr_get_int(work, VR_NET_BIND_ADDRESS, &address);
  vr_get_int(work, VR_NET_BIND_PORT, &port);
  const char *env = std::getenv("VRLIB_OPENTRACK");
  Ctx scratch(static_cast<vr_ctx *>(std::calloc(1, sizeof(vr_ctx))));
  if (env != nullptr && *env != '\0' && scratch) {
    // The library's own reading of the text, on a scratch context: the set-up stays as it is.
    vr_init_attributes(scratch.get());
    vr_set_int(scratch.get(), VR_NET_BIND_ADDRESS, address);
    vr_set_int(scratch.get(), VR_NET_BIND_PORT, port);
    if (vr_net_set_endpoint(scratch.get(), VR_NET_BIND_ADDRESS, env) == VR_OK) {
      vr_get_int(scratch.get(), VR_NET_BIND_ADDRESS, &address);
      vr_get_int(scratch.get(), VR_NET_BIND_PORT, &port);
    }
  }
  return {static_cast<unsigned>(address), port};
}

// What the network source heard, for a failure message: where it listened and how many
// datagrams came (the source's own counts, read before it is removed).
std::string heard(vr_ctx *work, const Endpoint &listen) {
  int accepted = 0, wrong_length = 0, not_finite = 0, absurd = 0;
  vr_get_int(work, VR_NET_PACKETS, &accepted);
  vr_get_int(work, VR_NET_DROPS_LENGTH, &wrong_length);
  vr_get_int(work, VR_NET_DROPS_NOT_FINITE, &not_finite);
  vr_get_int(work, VR_NET_DROPS_ABSURD, &absurd);
  const int received = accepted + wrong_length + not_finite + absurd;
  std::string text = "the webcam source listened on " + listen.text() + " and received ";
  if (received == 0) return text + "no datagram: is the face tracker sending to that address?";
  return text + std::to_string(received) + " datagram(s), " + std::to_string(accepted) +
         " of them usable";
}

void print_matrix(std::FILE *out, const dmat m) {
  for (int r = 0; r < 4; ++r) {
    std::fprintf(out, "  [%10.6f %10.6f %10.6f %10.6f]\n", m[r][0], m[r][1], m[r][2], m[r][3]);
  }
}

}  // namespace

void true_placement(const dmat configured, const Options &o, dmat out) {
  dmat turn, move;
  axis_rotation(o.true_axis, o.true_turn_deg * std::numbers::pi / 180.0, turn);
  vr_mat_trans(o.true_offset_cm[0], o.true_offset_cm[1], o.true_offset_cm[2], move);
  vr_mat_mul_mat(turn, const_cast<double(*)[4]>(configured), out);
  vr_mat_mul_mat(out, move, out);
}

void configured_placement(vr_ctx *setup, Procedure p, dmat out) {
  if (p == Procedure::opentrack) {
    camera_placement(setup, out);
  } else {
    vr_get_matrix(setup, VR_TRACKER_TO_PLATE, out);
  }
}

int run(const Options &o, std::FILE *out, std::FILE *err) {
  Ctx setup(vr_ctx_create());
  Ctx work(static_cast<vr_ctx *>(std::calloc(1, sizeof(vr_ctx))));
  if (!setup || !work) {
    std::fprintf(err, "vrcalib: out of memory\n");
    return 1;
  }
  std::error_code ec;
  std::vector<std::string> read_keys;  // the keys the set-up file had
  if (!o.config_path.empty() && std::filesystem::exists(o.config_path, ec)) {
    if (!vr_config_load(setup.get(), o.config_path.c_str())) {
      std::fprintf(err, "vrcalib: the set-up file was not read; nothing calibrated\n");
      return 1;
    }
    std::fprintf(out, "Set-up read from %s.\n", o.config_path.c_str());
    read_keys = setup_keys(o.config_path);
  } else if (!o.config_path.empty()) {
    std::fprintf(out, "No set-up file at %s yet: starting from the defaults.\n",
                 o.config_path.c_str());
  }
  // The tracking runs on a copy: it overwrites the eye positions and tracker frames every frame,
  // which the set-up file must not keep.
  *work = *setup;
  vr_set_int(work.get(), VR_TRACKING_MODE, VR_TRACKING_DESKTOP);

  RealPacer real;
  Pacer *pacer = &real;
  std::unique_ptr<SimulatedDesk> desk;
  if (o.simulate) {
    DeskSetup d;
    d.kind = desk_kind(o.procedure);
    dmat configured;
    configured_placement(setup.get(), o.procedure, configured);
    true_placement(configured, o, d.true_tracker_to_plate);
    dpt tip, left, right;
    vr_get_point(setup.get(), VR_MOUSE_TIP_OFFSET, tip);
    vr_get_point(setup.get(), VR_LEFT_EYE_OFFSET, left);
    vr_get_point(setup.get(), VR_RIGHT_EYE_OFFSET, right);
    d.tip_offset = {tip[0], tip[1], tip[2]};
    for (int i = 0; i < 3; ++i) d.between_eyes[i] = (left[i] + right[i]) / 2.0;
    d.noise_cm = o.noise_cm;
    d.seed = o.seed;
    d.wobble_touch = o.wobble_touch;
    desk = std::make_unique<SimulatedDesk>(d);
    if (!desk->ok()) {
      std::fprintf(err, "vrcalib: the simulator could not be created\n");
      return 1;
    }
    desk->use_sources(work.get());
    pacer = desk.get();
    std::fprintf(out, "Simulated desk; the %s's true placement on the plate:\n",
                 o.procedure == Procedure::opentrack ? "camera" : "tracker");
    print_matrix(out, d.true_tracker_to_plate);
  } else if (o.procedure == Procedure::dynasight) {
    vr_set_int(work.get(), VR_GLASSES_SOURCE, VR_GLASSES_SOURCE_DYNASIGHT);
  } else if (o.procedure == Procedure::opentrack) {
    vr_set_int(work.get(), VR_GLASSES_SOURCE, VR_SOURCE_NETWORK);
  } else {
    // The Logitech driver starts through the glasses source; the mouse keeps its own.
    int mouse = 0;
    vr_get_int(work.get(), VR_MOUSE_SOURCE, &mouse);
    if (mouse != VR_MOUSE_SOURCE_LOGITECH_RAW && mouse != VR_MOUSE_SOURCE_LOGITECH_6D)
      mouse = VR_MOUSE_SOURCE_LOGITECH_RAW;
    vr_set_int(work.get(), VR_MOUSE_SOURCE, mouse);
    vr_set_int(work.get(), VR_GLASSES_SOURCE, mouse);
  }

  const bool head = o.procedure != Procedure::mouse;
#ifdef VRCALIB_HAVE_WINDOW
  std::unique_ptr<TargetWindow> window;
  if (o.window) {
    double width = 0, height = 0;
    vr_get_double(work.get(), VR_SCREEN_WIDTH_CM, &width);
    vr_get_double(work.get(), VR_SCREEN_HEIGHT_CM, &height);
    const auto &s = o.settings;
    // The head positions show where on the screen the eyes are centred.
    const auto targets = head ? head_positions(width, height, s.head_distance_cm, s.head_step_cm)
                              : screen_targets(width, height, s.margin_cm);
    window = std::make_unique<TargetWindow>(*pacer, targets, width, height);
    if (window->open()) {
      pacer = window.get();
      std::fprintf(out, "Target window open on the screen.\n");
    } else {
      std::fprintf(out, "No display: the targets are given as positions only.\n");
    }
  }
#else
  if (o.window) std::fprintf(out, "Built without a window: the targets are given as positions.\n");
#endif
  if (!vr_init_glasses_and_mouse_6d(work.get(), head ? 1 : 0, head ? 0 : 1)) {
    std::fprintf(err, "vrcalib: the tracker did not start: %s\n", start_message(o.procedure));
    vr_quit(work.get());
    return 1;
  }
  // The webcam's datagrams are awaited where the source listens, which the set-up file or
  // VRLIB_OPENTRACK chose; the simulated face tracker sends them there.
  Endpoint listen;
  if (o.procedure == Procedure::opentrack) {
    listen = listen_endpoint(work.get());
    if (desk) desk->send_webcam_to(listen.address, listen.port);
    std::fprintf(out, "Listening for the webcam's datagrams on %s.\n", listen.text().c_str());
  }
  TrackerFrameHeadSource dynasight("DynaSight");
  NetworkHeadSource webcam;
  HeadSource &source =
      o.procedure == Procedure::opentrack ? static_cast<HeadSource &>(webcam) : dynasight;
  Result r = head ? calibrate_head(work.get(), source, *pacer, o.settings, out)
                  : calibrate_mouse(work.get(), *pacer, o.settings, out);
  if (!r.ok && o.procedure == Procedure::opentrack) r.error += "; " + heard(work.get(), listen);
  vr_quit(work.get());
#ifdef VRCALIB_HAVE_WINDOW
  if (window && window->open()) {
    std::fprintf(out, "Target window: %d frames drawn.\n", window->frames());
  }
#endif
  if (!r.ok) {
    std::fprintf(err, "vrcalib: %s; nothing written\n", r.error.c_str());
    return 1;
  }

  if (o.procedure == Procedure::opentrack) {
    // The network source places its camera by offset and tilt only.
    webcam.place(setup.get(), r.source_to_plate);
    dpt offset;
    double tilt = 0.0;
    vr_get_point(setup.get(), VR_NET_CAMERA_OFFSET, offset);
    vr_get_double(setup.get(), VR_NET_CAMERA_TILT, &tilt);
    std::fprintf(out,
                 "Camera from the middle of the screen's top edge (network.camera_offset): "
                 "[%.2f, %.2f, %.2f] cm\nCamera tilt (network.camera_tilt): %.4f rad "
                 "(%.2f degrees)\n",
                 offset[0], offset[1], offset[2], tilt, tilt * 180.0 / std::numbers::pi);
  } else {
    // The mouse and the DynaSight both place the tracker's frame (the DynaSight reports in it).
    dynasight.place(setup.get(), r.source_to_plate);
    if (head) vr_set_int(setup.get(), VR_GLASSES_SOURCE, VR_GLASSES_SOURCE_DYNASIGHT);
    std::fprintf(out, "Tracker placement on the plate (calibration.tracker_to_plate):\n");
    print_matrix(out, r.source_to_plate);
  }
  if (r.retakes > 0) std::fprintf(out, "%d step(s) were taken again.\n", r.retakes);
  if (o.config_path.empty()) return 0;
  // The file keeps the keys it had and gets what was measured, nothing else: loaded into a new
  // context it gives the same views as this set-up (what follows its screen, such as the fixed
  // eyes, is placed again by the screen, not frozen at this run's values).
  std::vector<std::string> keys = read_keys;
  for (const char *measured :
       o.procedure == Procedure::opentrack
           ? std::vector<const char *>{"network.camera_offset", "network.camera_tilt",
                                       "tracking.glasses_source"}
       : head ? std::vector<const char *>{"calibration.tracker_to_plate", "tracking.glasses_source"}
              : std::vector<const char *>{"calibration.tracker_to_plate"}) {
    if (std::find(keys.begin(), keys.end(), measured) == keys.end()) keys.emplace_back(measured);
  }
  std::vector<const char *> names;
  for (const std::string &k : keys) names.push_back(k.c_str());
  names.push_back(nullptr);
  if (!vr_config_save_keys(setup.get(), o.config_path.c_str(), names.data())) {
    std::fprintf(err, "vrcalib: the result was not written\n");
    return 1;
  }
  std::fprintf(out, "Set-up written to %s; start applications with VRLIB_CONFIG=%s\n",
               o.config_path.c_str(), o.config_path.c_str());
  return 0;
}

}  // namespace vrcalib
