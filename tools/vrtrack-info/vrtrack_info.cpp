// vrtrack-info: checks the trackers through the library, the way an application uses them. It
// opens the configured lines (VRLIB_TTYA, VRLIB_TTYB, VRLIB_CAPTURE or the built-in names), runs
// the set-up, prints each unit's operating information and the first poses, measures the record
// rate, and explains each failure in one line with what to try next. Exit status 0 only when
// tracking works.
#include <CLI/CLI.hpp>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "vrlib/vr.h"

namespace {

constexpr int ring_bytes = 2044;
constexpr int record_bytes_6d = 16, record_bytes_raw = 24, record_bytes_ds = 8,
              record_bytes_cyberman = 5;
constexpr int frame_us = 16667;
constexpr int first_poses = 3;
const char *const dialout_hint =
    "add your user to the dialout group (sudo usermod -aG dialout $USER) and log in again";

double now_s() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + ts.tv_nsec * 1e-9;
}

void pause_us(int us) {
  timespec ts{0, static_cast<long>(us) * 1000L};
  nanosleep(&ts, nullptr);
}

// One line on what stops a serial line from being used, or empty when it opens.
std::string check_line(const char *port, const char *variable, const char *path) {
  struct stat st {};
  if (stat(path, &st) != 0) {
    if (errno == EACCES) return std::string("permission denied on ") + path + ": " + dialout_hint;
    return std::string("port ") + port + ": " + path + " does not exist: wrong port? set " +
           variable + " to the adapter (e.g. /dev/ttyUSB0, see ls /dev/ttyUSB*)";
  }
  if (!S_ISCHR(st.st_mode))
    return std::string("port ") + port + ": " + path + " is not a serial line: set " + variable +
           " to the adapter's device";
  int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    int e = errno;
    if (e == EACCES || e == EPERM)
      return std::string("port ") + port + ": permission denied on " + path + ": " + dialout_hint;
    return std::string("port ") + port + ": cannot open " + path + " (" + std::strerror(e) +
           "): adapter unplugged?";
  }
  bool tty = isatty(fd);
  close(fd);
  if (!tty)
    return std::string("port ") + port + ": " + path + " is not a serial line: set " + variable;
  return {};
}

// One line when the capture daemon does not fill the capture file, or empty.
std::string check_capture(const char *path) {
  int fd = open(path, O_RDWR | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ELOOP)
      return std::string("capture file ") + path +
             " is a symbolic link, which the library does not follow: set VRLIB_CAPTURE to the "
             "file itself";
    if (errno == EACCES)
      return std::string("permission denied on the capture file ") + path +
             ": run the program as the daemon's user or group";
    return std::string("capture file ") + path +
           " is missing: the capture daemon is not running (start vrcapd --port-a ... "
           "--port-b ..., or set VRLIB_CAPTURE to its --area)";
  }
  // The library refuses an area that others may write (see VRLIB_CAPTURE_UNSAFE in vr.h).
  struct stat st {};
  const char *unsafe = std::getenv("VRLIB_CAPTURE_UNSAFE");
  if (fstat(fd, &st) == 0 && (st.st_mode & S_IWOTH) != 0 &&
      !(unsafe && std::strcmp(unsafe, "1") == 0)) {
    close(fd);
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    return std::string("capture file ") + path + " may be written by other users (mode " + mode +
           "), so the library refuses it: remove it and restart vrcapd, which creates it with "
           "mode 0660";
  }
  // The daemon holds an exclusive lock on its file for as long as it runs.
  bool unlocked = flock(fd, LOCK_SH | LOCK_NB) == 0;
  close(fd);
  if (unlocked)
    return std::string("capture file ") + path +
           " is not being filled: the capture daemon is not running (start vrcapd)";
  return {};
}

const char *socket_name(int code) {
  switch (code) {
    case 11:
      return "glasses";
    case 4:
      return "3D mouse";
    case 15:
      return "nothing";
    default:
      return "other";
  }
}

void print_unit(const char *what, const char *port, const vr_lt_unit *u) {
  if (!u) return;
  const vr_lt_op_info &o = u->op_info;
  std::printf(
      "%s unit on port %s: status 0x%02x, transmitter %s (type %d), receiver socket %d "
      "(%s), receiver geometry %.3f %.3f cm, transmitter geometry %.3f %.3f %.3f cm\n",
      what, port, o.op_byte[0] & 0xFF, o.op_byte[6] == 2 ? "here" : "on the other unit",
      o.op_byte[9], o.op_byte[8], socket_name(o.op_byte[8]), o.receiver_geom[0], o.receiver_geom[1],
      o.transmitter_geom[0], o.transmitter_geom[1], o.transmitter_geom[2]);
}

int ring_progress(int from, int to) {
  int d = (to - from) % ring_bytes;
  return d < 0 ? d + ring_bytes : d;
}

}  // namespace

int main(int argc, char **argv) {
  std::string mode = "raw";
  bool no_mouse = false, cyberman = false, frames = false, demand = false;
  double seconds = 2.0;
  CLI::App cli{
      "vrtrack-info: checks the trackers through the library and prints what it finds.\n"
      "Lines and capture file: VRLIB_TTYA, VRLIB_TTYB, VRLIB_CAPTURE (or vrcapd's "
      "launcher form). Exit status 0 only when tracking works.",
      "vrtrack-info"};
  cli.add_option("--mode", mode, "raw (the library's default), 6d, or dynasight")
      ->capture_default_str();
  cli.add_flag("--no-mouse", no_mouse, "glasses only (port B unused)");
  cli.add_flag("--cyberman", cyberman, "a CyberMan on port B instead of the 3D mouse");
  cli.add_flag("--demand", demand, "ask for each report instead of streaming");
  cli.add_option("--seconds", seconds, "how long to watch the poses")->capture_default_str();
  cli.add_flag("--frames", frames, "print every frame's poses");
  try {
    cli.parse(argc, argv);
  } catch (const CLI::ParseError &e) {
    int code = cli.exit(e);
    return code == 0 ? 0 : 2;
  }
  int glasses_source = mode == "raw"         ? VR_GLASSES_SOURCE_LOGITECH_RAW
                       : mode == "6d"        ? VR_GLASSES_SOURCE_LOGITECH_6D
                       : mode == "dynasight" ? VR_GLASSES_SOURCE_DYNASIGHT
                                             : 0;
  if (glasses_source == 0 || !(seconds > 0.0 && seconds < 3600.0)) {
    std::fputs("vrtrack-info: --mode is raw, 6d or dynasight; --seconds is above 0\n", stderr);
    return 2;
  }
  bool dynasight = glasses_source == VR_GLASSES_SOURCE_DYNASIGHT;
  bool want_mouse = !no_mouse && !dynasight;
  int mouse_source = cyberman ? VR_MOUSE_SOURCE_CYBERMAN : glasses_source;

  const char *path_a = vr_device_path(VR_DEVICE_TTYA);
  const char *path_b = vr_device_path(VR_DEVICE_TTYB);
  const char *capture = vr_device_path(VR_DEVICE_CAPTURE);
  std::printf("port A: %s\n", path_a);
  if (want_mouse) std::printf("port B: %s\n", path_b);
  std::printf("capture file: %s\n", capture);
  std::string why = check_line("A", "VRLIB_TTYA", path_a);
  if (why.empty() && want_mouse) why = check_line("B", "VRLIB_TTYB", path_b);
  if (why.empty()) why = check_capture(capture);
  if (!why.empty()) {
    std::printf("FAILED: %s\n", why.c_str());
    return 1;
  }

  // Start.
  vr_ctx *ctx = vr_ctx_create();
  if (!ctx) return 1;
  vr_object_set(ctx, VR_GLASSES_SOURCE, glasses_source, VR_MOUSE_SOURCE, mouse_source, VR_STREAMING,
                demand ? 0 : 1, 0);
  std::printf("set-up (%s, %s reporting), this takes a few seconds ...\n",
              dynasight                                          ? "DynaSight"
              : glasses_source == VR_GLASSES_SOURCE_LOGITECH_RAW ? "raw"
                                                                 : "6D",
              demand ? "demand" : "streaming");
  std::fflush(stdout);
  if (!vr_init_glasses_and_mouse_6d(ctx, 1, want_mouse ? 1 : 0)) {
    const char *message = vr_lt_message[0] ? vr_lt_message : vr_ds_message;
    if (message[0]) std::printf("library: %s\n", message);
    std::printf(
        "FAILED: the units did not answer the set-up: is each unit switched on, the "
        "transmitter plugged into the glasses unit, and the glasses unit on port A?\n");
    std::free(ctx);
    return 1;
  }
  if (!dynasight) {
    print_unit("glasses", "A", vr_lt_glasses_unit);
    if (!cyberman) print_unit("mouse", "B", want_mouse ? vr_lt_mouse_6d_unit : nullptr);
    std::printf("report mode: %s, %s\n",
                glasses_source == VR_GLASSES_SOURCE_LOGITECH_RAW ? "raw times of flight" : "6D",
                demand ? "on demand" : "streaming");
  } else {
    std::printf("report mode: DynaSight positions, streaming\n");
  }

  // Frames.
  int record_bytes[2] = {dynasight                                          ? record_bytes_ds
                         : glasses_source == VR_GLASSES_SOURCE_LOGITECH_RAW ? record_bytes_raw
                                                                            : record_bytes_6d,
                         cyberman                                         ? record_bytes_cyberman
                         : mouse_source == VR_MOUSE_SOURCE_LOGITECH_RAW ? record_bytes_raw
                                                                          : record_bytes_6d};
  auto offsets = [&](int out[2]) {
    out[0] = out[1] = -1;
    if (dynasight) {
      out[0] = vr_ds_obtain_current_offset(vr_ds_glasses_unit);
      return;
    }
    vr_lt_offsets(&out[0], &out[1], nullptr, nullptr);
  };
  int last[2];
  offsets(last);
  long long bytes[2] = {0, 0};
  int printed = 0;
  bool finite = true;
  double start = now_s(), t = 0.0;
  while ((t = now_s() - start) < seconds) {
    vr_comp_view(ctx);
    int off[2];
    offsets(off);
    for (int p = 0; p < 2; ++p)
      if (off[p] >= 0 && last[p] >= 0) {
        bytes[p] += ring_progress(last[p], off[p]);
        last[p] = off[p];
      }
    dmat *head = nullptr, *mouse = nullptr;
    dpt left, right, tip;
    int buttons = 0;
    vr_object_get(ctx, VR_HEAD_TO_DIG, &head);
    vr_object_get(ctx, VR_MOUSE_TO_DIG, &mouse);
    vr_object_get(ctx, VR_SCREEN_LEFT_EYE, left);
    vr_object_get(ctx, VR_SCREEN_RIGHT_EYE, right);
    vr_object_get(ctx, VR_MOUSE_TIP_PLATE, tip);
    vr_object_get(ctx, VR_MOUSE_BUTTONS, &buttons);
    for (int i = 0; i < 3; ++i)
      finite = finite && std::isfinite(left[i]) && std::isfinite(right[i]) &&
               std::isfinite((*head)[3][i]);
    if (frames || (printed < first_poses && bytes[0] > 0 && t > 0.5)) {
      std::printf(
          "%s t %.3f head %.3f %.3f %.3f eyes %.3f %.3f %.3f %.3f %.3f %.3f mouse %.3f "
          "%.3f %.3f tip %.3f %.3f %.3f buttons %d\n",
          frames ? "frame" : "pose", t, (*head)[3][0], (*head)[3][1], (*head)[3][2], left[0],
          left[1], left[2], right[0], right[1], right[2], (*mouse)[3][0], (*mouse)[3][1],
          (*mouse)[3][2], tip[0], tip[1], tip[2], buttons);
      ++printed;
    }
    std::fflush(stdout);
    pause_us(frame_us);
  }
  double rate[2];
  for (int p = 0; p < 2; ++p) rate[p] = static_cast<double>(bytes[p]) / record_bytes[p] / t;
  std::printf("record rate: port A %.1f/s", rate[0]);
  if (want_mouse) std::printf(", port B %.1f/s", rate[1]);
  std::printf("\n");

  // Stop.
  vr_quit(ctx);
  std::free(ctx);

  if (rate[0] <= 0.0 || (want_mouse && rate[1] <= 0.0)) {
    const char *port = rate[0] <= 0.0 ? "A" : "B";
    std::printf(
        "FAILED: no records arrive on port %s: is vrcapd capturing port %s, the unit "
        "switched on and the transmitter's output on?\n",
        port, port);
    return 1;
  }
  if (!finite) {
    std::printf("FAILED: the poses are not numbers: check the receivers' placement\n");
    return 1;
  }
  std::printf("tracking works\n");
  return 0;
}
