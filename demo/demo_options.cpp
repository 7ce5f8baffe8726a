#include "demo_options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <string_view>

namespace vrdemo {

namespace {

constexpr int max_frames = 100000;

bool parse_int(std::string_view text, long long lo, long long hi, long long *out) {
  if (text.empty()) return false;
  std::string s(text);
  char *end = nullptr;
  errno = 0;
  const long long v = std::strtoll(s.c_str(), &end, 10);
  if (errno != 0 || end == s.c_str() || *end != '\0' || v < lo || v > hi) return false;
  *out = v;
  return true;
}

bool parse_seed(std::string_view text, unsigned long long *out) {
  if (text.empty() || text[0] == '-' || text[0] == '+') return false;
  std::string s(text);
  char *end = nullptr;
  errno = 0;
  const unsigned long long v = std::strtoull(s.c_str(), &end, 10);
  if (errno != 0 || end == s.c_str() || *end != '\0') return false;
  *out = v;
  return true;
}

bool parse_double(std::string_view text, double lo, double hi, double *out) {
  if (text.empty()) return false;
  std::string s(text);
  char *end = nullptr;
  errno = 0;
  const double v = std::strtod(s.c_str(), &end);
  if (errno != 0 || end == s.c_str() || *end != '\0' || !std::isfinite(v) || v < lo || v > hi)
    return false;
  *out = v;
  return true;
}

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
         "      --noise CM     distance noise of the simulated tracker, one sigma in cm\n"
         "                     (default 0.02; 0 for perfect measurements)\n"
         "      --wall         instead: three screens of a small CAVE at 90 degrees, one process\n"
         "                     each, fed one scripted head by a VRPN server on 127.0.0.1; writes\n"
         "                     the three pictures and a contact sheet and prints the latency\n"
         "                     from the server's pose time stamp to each screen's frame\n"
         "                     (frames in real time at 60 per second)\n"
         "  -h, --help         show this text and exit\n";
}

bool parse_options(int argc, char **argv, DemoOptions *out, std::string *error) {
  DemoOptions o;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    std::string_view value;
    bool has_inline_value = false;
    if (arg.starts_with("--")) {
      const auto eq = arg.find('=');
      if (eq != std::string_view::npos) {
        value = arg.substr(eq + 1);
        arg = arg.substr(0, eq);
        has_inline_value = true;
      }
    }
    auto take_value = [&](std::string_view name) -> bool {
      if (has_inline_value) return true;
      if (i + 1 >= argc) {
        *error = "option " + std::string(name) + " needs a value";
        return false;
      }
      value = argv[++i];
      return true;
    };
    auto no_value = [&](std::string_view name) -> bool {
      if (!has_inline_value) return true;
      *error = "option " + std::string(name) + " takes no value";
      return false;
    };
    if (arg == "-h" || arg == "--help") {
      if (!no_value(arg)) return false;
      o.help = true;
    } else if (arg == "--6d") {
      if (!no_value(arg)) return false;
      o.six_d = true;
    } else if (arg == "--predict") {
      if (!no_value(arg)) return false;
      o.predict = true;
    } else if (arg == "-n" || arg == "--frames") {
      long long v = 0;
      if (!take_value(arg)) return false;
      if (!parse_int(value, 1, max_frames, &v)) {
        *error = "frames must be a whole number from 1 to " + std::to_string(max_frames) +
                 ", not '" + std::string(value) + "'";
        return false;
      }
      o.frames = static_cast<int>(v);
    } else if (arg == "-o" || arg == "--out") {
      if (!take_value(arg)) return false;
      if (value.empty()) {
        *error = "the output folder name is empty";
        return false;
      }
      o.out_dir = std::string(value);
    } else if (arg == "-s" || arg == "--seed") {
      if (!take_value(arg)) return false;
      if (!parse_seed(value, &o.seed)) {
        *error = "seed must be a non-negative whole number, not '" + std::string(value) + "'";
        return false;
      }
    } else if (arg == "--wall") {
      if (!no_value(arg)) return false;
      o.wall = true;
    } else if (arg == "--wall-screen" || arg == "--wall-port") {
      long long v = 0;
      if (!take_value(arg)) return false;
      const bool screen = arg == "--wall-screen";
      if (!parse_int(value, screen ? 0 : 1, screen ? 2 : 65535, &v)) {
        *error = std::string(arg) + " out of range: '" + std::string(value) + "'";
        return false;
      }
      (screen ? o.wall_screen : o.wall_port) = static_cast<int>(v);
    } else if (arg == "--noise") {
      if (!take_value(arg)) return false;
      if (!parse_double(value, 0.0, 5.0, &o.noise_cm)) {
        *error = "noise must be a number of cm from 0 to 5, not '" + std::string(value) + "'";
        return false;
      }
    } else {
      *error = "unknown option '" + std::string(argv[i]) + "'";
      return false;
    }
  }
  if (o.predict && o.six_d) {
    *error = "--predict fits the raw distances; it does not apply with --6d";
    return false;
  }
  *out = o;
  return true;
}

}  // namespace vrdemo
