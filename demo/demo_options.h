// Command line of vrdemo.
#pragma once

#include <string>

namespace vrdemo {

struct DemoOptions {
  int frames = 600;             // 10 s of the script at 60 frames per second
  double frame_rate_hz = 60.0;  // virtual time per frame is its inverse
  std::string out_dir = "vrdemo-out";
  unsigned long long seed = 1;
  bool six_d = false;    // 6D-report mode instead of raw times of flight
  bool predict = false;  // raw mode: fit and extrapolate the distances
  // --track display: every tracker read for the moment the frame is shown.
  bool track_display = false;
  // --track filter: the same, with the head tracked by the pose filter (VR_TRACK_FILTER 1); sets
  // track_display too, since the filter implies display time.
  bool track_filter = false;
  // --tracker-delay MS (with --track display): VR_TRACKER_DELAY, the serial trackers' time from a
  // measurement to its arrival; < 0 keeps the library's default.
  double tracker_delay_ms = -1.0;
  // --sender-latency MS (with --track display): VR_NET_SENDER_LATENCY, the opentrack sender's
  // own latency; < 0 keeps the library's default.
  double sender_latency_ms = -1.0;
  double noise_cm = 0.02;  // the simulated tracker's distance noise (one sigma)
  bool help = false;
  // The live window (--live): how the eyes are shown, where the head comes from, and an optional
  // picture of the last frame read back from the window's framebuffer.
  bool live = false;
  bool frames_given = false;         // live: without -n the window runs until it is closed
  std::string stereo = "mono";       // mono, anaglyph or quad
  std::string source = "sim";        // sim (mouse and keys), opentrack or trackers
  std::string screenshot;            // PNG path, empty for none
  int axes[6] = {1, 2, 3, 4, 5, 6};  // opentrack axis mapping (VR_NET_MAP_X ...)
  bool wall = false;     // three screens of a small CAVE fed one head over VRPN
  int wall_screen = -1;  // internal: this process renders screen 0, 1 or 2 of the wall
  int wall_port = 0;     // internal: the loopback port of the wall's head server
};

// Parses argv. False with a message in *error on a bad option or value (the caller prints it
// with a pointer to --help and exits with status 2).
bool parse_options(int argc, char **argv, DemoOptions *out, std::string *error);

std::string usage_text(const char *program);

}  // namespace vrdemo
