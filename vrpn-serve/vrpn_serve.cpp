// vrpn-serve: the serial trackers' head and 3D mouse published over VRPN, for the other machines
// of a wall or any VRPN client. It runs the library's tracker drivers (through the capture
// driver's rings, as an application would) and calls the library's VRPN server once per frame.
// --simulate runs the same drivers against the tracker simulator instead of the serial lines.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>

#include <CLI/CLI.hpp>

#include "vrlib/vr.h"
#include "vrsim/vrsim.h"

namespace {

volatile std::sig_atomic_t stop_requested = 0;

void request_stop(int) {
  stop_requested = 1;
}

struct Options {
  std::string glasses = "raw";
  bool mouse = true;
  std::string device = VR_VRPN_SERVE_DEFAULT_DEVICE;
  std::string address = VR_VRPN_SERVE_DEFAULT_ADDRESS;
  int port = VR_VRPN_DEFAULT_PORT;
  double rate_hz = 60.0;
  long long frames = 0;
  std::string tty_a, tty_b;
  bool simulate = false;
};

}  // namespace

int main(int argc, char **argv) {
  Options o;
  CLI::App app{
      "Publishes the tracked head (sensor 0) and 3D mouse (sensor 1) in plate "
      "coordinates, with the mouse buttons, over VRPN."};
  const std::map<std::string, int> sources = {{"raw", VR_GLASSES_SOURCE_LOGITECH_RAW},
                                              {"6d", VR_GLASSES_SOURCE_LOGITECH_6D},
                                              {"dynasight", VR_GLASSES_SOURCE_DYNASIGHT}};
  app.add_option("--glasses", o.glasses, "head tracker: raw, 6d or dynasight")
      ->check(CLI::IsMember({"raw", "6d", "dynasight"}))
      ->capture_default_str();
  app.add_flag("!--no-mouse", o.mouse, "do not start the 3D mouse");
  app.add_option("--device", o.device, "VRPN device name of tracker and buttons")
      ->capture_default_str();
  app.add_option("--address", o.address, "address to listen on (loopback unless told otherwise)")
      ->capture_default_str();
  app.add_option("--port", o.port, "port to listen on")
      ->check(CLI::Range(1, 65535))
      ->capture_default_str();
  app.add_option("--rate", o.rate_hz, "frames per second")
      ->check(CLI::Range(1.0, 1000.0))
      ->capture_default_str();
  app.add_option("--frames", o.frames, "stop after this many frames (0: until interrupted)")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--tty-a", o.tty_a, "serial line of port A");
  app.add_option("--tty-b", o.tty_b, "serial line of port B");
  app.add_flag("--simulate", o.simulate, "run the drivers against the tracker simulator");
  CLI11_PARSE(app, argc, argv);

  vrsim *sim = nullptr;
  if (o.simulate) {
    sim = vrsim_create(1);
    vrsim_install(sim);
    vrsim_plug_standard(sim);
  }
  if (!o.tty_a.empty()) vr_set_device_path(VR_DEVICE_TTYA, o.tty_a.c_str());
  if (!o.tty_b.empty()) vr_set_device_path(VR_DEVICE_TTYB, o.tty_b.c_str());

  vr_ctx *ctx = vr_ctx_create();
  if (!ctx) return 1;
  vr_set_int(ctx, VR_GLASSES_SOURCE, sources.at(o.glasses));
  if (sim) vrsim_set_head_plate(sim, ctx, nullptr, nullptr);
  if (!vr_init_glasses_and_mouse_6d(ctx, 1, o.mouse ? 1 : 0)) {
    std::fprintf(stderr, "vrpn-serve: the trackers did not start%s%s\n",
                 vr_lt_message[0] ? ": " : "", vr_lt_message);
    std::free(ctx);
    if (sim) vrsim_destroy(sim);
    return 1;
  }
  if (vr_vrpn_serve_start(ctx, o.device.c_str(), o.address.c_str(), o.port) != VR_OK) {
    vr_quit(ctx);
    std::free(ctx);
    if (sim) vrsim_destroy(sim);
    return 1;
  }
  std::printf("vrpn-serve: %s@%s:%d, head from %s%s\n", o.device.c_str(), o.address.c_str(), o.port,
              o.glasses.c_str(), o.simulate ? " (simulated)" : "");
  std::fflush(stdout);

  std::signal(SIGINT, request_stop);
  std::signal(SIGTERM, request_stop);
  const auto period = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double>(1.0 / o.rate_hz));
  auto next = std::chrono::steady_clock::now();
  for (long long frame = 0; !stop_requested && (o.frames == 0 || frame < o.frames); ++frame) {
    if (sim) vrsim_advance(sim, 1.0 / o.rate_hz);
    vr_comp_view(ctx);
    vr_vrpn_serve_frame(ctx);
    next += period;
    std::this_thread::sleep_until(next);
  }
  vr_vrpn_serve_stop(ctx);
  vr_quit(ctx);
  std::free(ctx);
  if (sim) vrsim_destroy(sim);
  return 0;
}
