#include "demo_options.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <CLI/CLI.hpp>

namespace vrdemo {

namespace {

constexpr int max_frames = 100000;
constexpr int axis_count = 6;

// A validator that refuses an empty text.
CLI::Validator not_empty(const std::string &what) {
  return CLI::Validator(
      [what](std::string &v) { return v.empty() ? what + " is empty" : std::string(); }, "TEXT");
}

// A non-negative whole number without sign (the seed).
const CLI::Validator whole_number(
    [](std::string &v) {
      const bool digits = !v.empty() && v.find_first_not_of("0123456789") == std::string::npos;
      return digits ? std::string() : "must be a non-negative whole number, not '" + v + "'";
    },
    "N");

// A finite number within [lo, hi]: a range check alone would let NaN through.
CLI::Validator finite_in(double lo, double hi, const std::string &what) {
  return CLI::Validator(
      [=](std::string &v) {
        char *end = nullptr;
        errno = 0;
        const double d = std::strtod(v.c_str(), &end);
        if (v.empty() || errno != 0 || *end != '\0' || !std::isfinite(d) || d < lo || d > hi) {
          char text[160];
          std::snprintf(text, sizeof text, "%s must be a number from %g to %g, not '%s'",
                        what.c_str(), lo, hi, v.c_str());
          return std::string(text);
        }
        return std::string();
      },
      "X");
}

// A whole number within [lo, hi], said as such for a typing mistake too.
CLI::Validator whole_in(long long lo, long long hi, const std::string &what) {
  return CLI::Validator(
      [=](std::string &v) {
        char *end = nullptr;
        errno = 0;
        const long long n = std::strtoll(v.c_str(), &end, 10);
        if (v.empty() || errno != 0 || *end != '\0' || n < lo || n > hi)
          return what + " must be a whole number from " + std::to_string(lo) + " to " +
                 std::to_string(hi) + ", not '" + v + "'";
        return std::string();
      },
      "N");
}

// Six comma-separated axis numbers, each +-1..6.
bool parse_axes(const std::string &text, int out[axis_count]) {
  int n = 0;
  const char *p = text.c_str();
  while (n < axis_count) {
    char *end = nullptr;
    errno = 0;
    const long v = std::strtol(p, &end, 10);
    if (end == p || errno != 0 || v == 0 || v < -axis_count || v > axis_count) return false;
    out[n++] = static_cast<int>(v);
    p = end;
    if (n < axis_count) {
      if (*p != ',') return false;
      ++p;
    }
  }
  return *p == '\0';
}

const CLI::Validator axis_list(
    [](std::string &v) {
      int scratch[axis_count];
      return parse_axes(v, scratch) ? std::string()
                                    : "axes must be six numbers like -1,2,3,4,5,6, not '" + v + "'";
    },
    "LIST");

}  // namespace

std::string usage_text(const char *program) {
  // The bare name: the full path of the build folder says nothing useful here.
  std::string p = program && *program ? program : "vrdemo";
  if (const auto slash = p.rfind('/'); slash != std::string::npos) p = p.substr(slash + 1);
  return "Usage: " + p +
         " [options]\n"
         "\n"
         "Runs a scripted session of a head-tracked viewer in front of a 36.5 x 25.9 cm screen on\n"
         "the tracker simulator, computes each frame's left and right eye views with the library\n"
         "and renders them with OpenGL (headless EGL). Writes stereo frames (left, right and\n"
         "red/cyan anaglyph), a contact sheet of the views from several head positions and a plot\n"
         "of the true and tracked eye positions, then prints a summary.\n"
         "\n"
         "Options:\n"
         "  -n, --frames N     frames to run at 60 per second of virtual time (default 600,\n"
         "                     one pass of the 10 s script; 1 to 100000)\n"
         "  -o, --out DIR      folder for the pictures (default ./vrdemo-out; created if missing)\n"
         "  -s, --seed N       seed of the simulated tracker noise and of the motion's small\n"
         "                     variations (default 1)\n"
         "      --6d           track with the units' 6D reports instead of raw times of flight\n"
         "      --predict      raw mode: fit each distance over its recent measurements and\n"
         "                     extrapolate it to when the frame is shown (VR_RAW_INTERPOLATE 1)\n"
         "      --track display\n"
         "                     read the trackers for the moment each frame is shown\n"
         "                     (VR_TRACK_DISPLAY_TIME 1); the plot then sets this run beside\n"
         "                     one with the library's defaults; with --live it applies to\n"
         "                     the opentrack and the serial trackers\n"
         "      --track filter\n"
         "                     the same, with the head tracked by the pose filter\n"
         "                     (VR_TRACK_FILTER 1): every distance or pose taken at its own\n"
         "                     moment into one pose-and-velocity state\n"
         "      --tracker-delay MS\n"
         "                     with --track display: milliseconds from a serial tracker's\n"
         "                     measurement to its arrival (0 to 200, default the library's 5)\n"
         "      --sender-latency MS\n"
         "                     with --track display: the opentrack sender's own latency, from\n"
         "                     its measurement to the datagram's arrival (0 to 200, default 5)\n"
         "      --noise CM     distance noise of the simulated tracker, one sigma in cm\n"
         "                     (default 0.02; 0 for perfect measurements)\n"
         "      --wall         instead: three screens of a small CAVE at 90 degrees, one process\n"
         "                     each, fed one scripted head by a VRPN server on 127.0.0.1; writes\n"
         "                     the three pictures and a contact sheet and prints the latency\n"
         "                     from the server's pose time stamp to each screen's frame\n"
         "                     (frames in real time at 60 per second)\n"
         "\n"
         "Live window (needs a display):\n"
         "      --live         open a window and render the views every frame at the display's\n"
         "                     rate until Esc or the window is closed (or -n frames)\n"
         "      --stereo MODE  mono (default), anaglyph (red left, cyan right) or quad\n"
         "                     (quad-buffered, where the driver offers it; else anaglyph)\n"
         "      --source SRC   where the head comes from: sim (default: the mouse moves the head\n"
         "                     across the screen, Up/Down or W/S move it nearer and further),\n"
         "                     opentrack (UDP on 127.0.0.1:4242, or VRLIB_OPENTRACK=host:port) or\n"
         "                     trackers (the serial trackers through the capture driver)\n"
         "      --axes LIST    opentrack axis mapping, six numbers for the head's x, y, z, yaw,\n"
         "                     pitch and roll, each the sender's value 1..6 (X, Y, Z, yaw, pitch,\n"
         "                     roll), negative to negate it (default 1,2,3,4,5,6)\n"
         "      --screenshot F write the last frame, read back from the window, to PNG file F\n"
         "  -h, --help         show this text and exit\n";
}

bool parse_options(int argc, char **argv, DemoOptions *out, std::string *error) {
  DemoOptions o;
  CLI::App app{"vrdemo"};
  // The usage text above says more than a generated one would; --help prints it.
  app.set_help_flag();
  // Flags take no value: "--help=yes" is a mistake, not a way of saying yes.
  app.add_flag("-h,--help", o.help)->disable_flag_override();
  app.add_flag("--6d", o.six_d)->disable_flag_override();
  app.add_flag("--predict", o.predict)->disable_flag_override();
  app.add_flag("--live", o.live)->disable_flag_override();
  app.add_flag("--wall", o.wall)->disable_flag_override();
  // The wall's parent starts one child per screen with these; they are not for users.
  app.add_option("--wall-screen", o.wall_screen)->check(whole_in(0, 2, "--wall-screen"));
  app.add_option("--wall-port", o.wall_port)->check(whole_in(1, 65535, "--wall-port"));
  app.add_option("-n,--frames", o.frames)->check(whole_in(1, max_frames, "frames"));
  app.add_option("-o,--out", o.out_dir)->check(not_empty("the output folder name"));
  app.add_option("-s,--seed", o.seed)->check(whole_number);
  app.add_option("--noise", o.noise_cm)->check(finite_in(0.0, 5.0, "noise (cm)"));
  app.add_option("--stereo", o.stereo)->check(CLI::IsMember({"mono", "anaglyph", "quad"}));
  app.add_option("--source", o.source)->check(CLI::IsMember({"sim", "opentrack", "trackers"}));
  app.add_option("--screenshot", o.screenshot)->check(not_empty("the screenshot file name"));
  std::string axes;
  app.add_option("--axes", axes)->check(axis_list);
  std::string track;
  app.add_option("--track", track)->check(CLI::IsMember({"display", "filter"}));
  app.add_option("--tracker-delay", o.tracker_delay_ms)
      ->check(finite_in(0.0, 200.0, "tracker delay (ms)"));
  app.add_option("--sender-latency", o.sender_latency_ms)
      ->check(finite_in(0.0, 200.0, "sender latency (ms)"));
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError &e) {
    *error = e.what();
    return false;
  }
  o.frames_given = app.count("--frames") > 0;
  o.track_filter = track == "filter";
  o.track_display = track == "display" || o.track_filter;
  if (!axes.empty()) parse_axes(axes, o.axes);
  if (!o.live &&
      (o.stereo != "mono" || o.source != "sim" || !o.screenshot.empty() || !axes.empty())) {
    *error = "--stereo, --source, --axes and --screenshot belong to the live window (--live)";
    return false;
  }
  if (app.count("--tracker-delay") > 0 && !o.track_display) {
    *error = "--tracker-delay belongs to --track display";
    return false;
  }
  if (app.count("--sender-latency") > 0 && !o.track_display) {
    *error = "--sender-latency belongs to --track display";
    return false;
  }
  if (o.predict && o.six_d) {
    *error = "--predict fits the raw distances; it does not apply with --6d";
    return false;
  }
  if (o.predict && o.track_display) {
    *error = "--predict and --track display both choose how the raw distances are extrapolated";
    return false;
  }
  *out = o;
  return true;
}

}  // namespace vrdemo
