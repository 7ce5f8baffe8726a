// vrsim-serve: runs the simulator's devices against the wall clock on the master side of
// pseudo-terminals, so that programs reach them through real serial lines and the capture daemon:
//
//   vrsim-serve --link-a /tmp/ttyA --link-b /tmp/ttyB
//   vrcapd --port-a /tmp/ttyA --port-b /tmp/ttyB -- app
//
// It prints "A <slave>" and "B <slave>" for the lines it serves, then "ready". Commands on its
// standard input change the truth and switch faults while it runs (see --help).
#include <CLI/CLI.hpp>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <string>
#include <termios.h>
#include <time.h>
#include <unistd.h>
#include <vector>

#include "serve_script.h"
#include "vrsim/vrsim.h"
#include "vrsim/vrsim_wall.h"

namespace {

constexpr long long ns_per_ms = 1000000;
constexpr long long ns_per_s = 1000000000;
// Bytes leave in batches at most this often: every record still leaves within it of its time,
// without waking for each character.
constexpr long long batch_ns = 1 * ns_per_ms;
constexpr int idle_wait_ms = 1000;
const char *const port_name[2] = {"A", "B"};

volatile std::sig_atomic_t stop_requested = 0;
void on_stop(int) {
  stop_requested = 1;
}

long long monotonic_ns() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * ns_per_s + ts.tv_nsec;
}

struct Baud {
  int baud;
  speed_t speed;
};
constexpr Baud bauds[] = {{1200, B1200},   {2400, B2400},   {4800, B4800},   {9600, B9600},
                          {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200}};

int baud_of(speed_t s) {
  for (const Baud &b : bauds)
    if (b.speed == s) return b.baud;
  return 0;
}

vr_line_settings settings_of(const termios &t) {
  vr_line_settings s{};
  s.baud = baud_of(cfgetospeed(&t));
  switch (t.c_cflag & CSIZE) {
    case CS5:
      s.data_bits = 5;
      break;
    case CS6:
      s.data_bits = 6;
      break;
    case CS7:
      s.data_bits = 7;
      break;
    default:
      s.data_bits = 8;
      break;
  }
  s.parity = (t.c_cflag & PARENB) ? ((t.c_cflag & PARODD) ? 1 : 2) : 0;
  s.stop_bits = (t.c_cflag & CSTOPB) ? 2 : 1;
  s.local = (t.c_cflag & CLOCAL) != 0;
  s.read_enable = (t.c_cflag & CREAD) != 0;
  s.raw = t.c_lflag == 0;
  return s;
}

// One served line: a pseudo-terminal pair standing in for a serial port.
struct ServedLine {
  int port = 0;
  std::string link;     // path kept pointing at the slave, or empty
  bool linked = false;  // the link at `link` is ours
  int master = -1;
  int slave_keep = -1;  // held open so the line lives while no program has it
  std::string slave;
  std::vector<unsigned char> out;  // bytes due on the line, written after each step
  long long overruns = 0;
  bool was_wake_setting = false;
};

bool open_line(ServedLine &l, std::string &why) {
  int m = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (m < 0 || grantpt(m) != 0 || unlockpt(m) != 0) {
    why = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
    if (m >= 0) close(m);
    return false;
  }
  const char *name = ptsname(m);
  int s = name ? open(name, O_RDWR | O_NOCTTY | O_CLOEXEC) : -1;
  if (s < 0) {
    why = std::string("cannot open the pseudo-terminal's slave: ") + std::strerror(errno);
    close(m);
    return false;
  }
  // A fresh serial port: 9600 baud, 8 bits, receiver on, no echo or line editing (an echoing
  // line would hand the devices' bytes straight back to them).
  termios t{};
  tcgetattr(s, &t);
  cfmakeraw(&t);
  t.c_cflag = CS8 | CREAD | CLOCAL;
  cfsetispeed(&t, B9600);
  cfsetospeed(&t, B9600);
  tcsetattr(s, TCSANOW, &t);
  l.master = m;
  l.slave_keep = s;
  l.slave = name;
  if (!l.link.empty()) {
    // Only a link of ours is ever replaced: a mistyped path must not cost the user a file.
    struct stat st {};
    if (lstat(l.link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
      why = "refusing to replace " + l.link + ": it exists and is not a symbolic link";
      return false;
    }
    // Replace any older link in one step, so a reader never finds the path missing or stale.
    std::string tmp = l.link + ".new";
    unlink(tmp.c_str());
    if (symlink(l.slave.c_str(), tmp.c_str()) != 0 || rename(tmp.c_str(), l.link.c_str()) != 0) {
      why = "cannot link " + l.link + " to " + l.slave + ": " + std::strerror(errno);
      return false;
    }
    l.linked = true;
  }
  return true;
}

void close_line(ServedLine &l) {
  // As the device node of an unplugged adapter; never a path this server did not link.
  if (l.linked) unlink(l.link.c_str());
  l.linked = false;
  if (l.slave_keep >= 0) close(l.slave_keep);
  if (l.master >= 0) close(l.master);
  l.master = l.slave_keep = -1;
  l.out.clear();
}

void to_line(void *user, int port, unsigned char byte) {
  auto *lines = static_cast<ServedLine *>(user);
  lines[port].out.push_back(byte);
}

void flush_out(ServedLine &l) {
  if (l.out.empty()) return;
  if (l.master >= 0) {
    ssize_t n = write(l.master, l.out.data(), l.out.size());
    // A full input queue on the far side: a real port overruns and loses them too.
    size_t sent = n > 0 ? static_cast<size_t>(n) : 0;
    l.overruns += static_cast<long long>(l.out.size() - sent);
  }
  l.out.clear();
}

struct Server {
  vrsim *sim = nullptr;
  ServedLine lines[2];
  serve::Track tracks[2];
  vrsim_imperfections imperfections[2] = {};  // as last set, so commands change one at a time
  long long start_ns = 0;
  bool quit = false;
  ~Server() {
    if (sim) vrsim_destroy(sim);
  }
};

void scripted_pose(void *user, double t, dmat out) {
  auto *track = static_cast<serve::Track *>(user);
  double xyz[3] = {0, 0, 0};
  track->position_at(t, xyz);
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) out[i][j] = i == j ? 1.0 : 0.0;
  for (int i = 0; i < 3; ++i) out[3][i] = xyz[i];
}

// The host side of each line, as the programs on the slave left it.
void observe_lines(Server &s) {
  for (ServedLine &l : s.lines) {
    if (l.master < 0) {
      vrsim_wall::set_line(s.sim, l.port, vr_line_settings{}, false);
      continue;
    }
    termios t{};
    if (tcgetattr(l.master, &t) != 0) continue;
    vr_line_settings ls = settings_of(t);
    vrsim_wall::set_line(s.sim, l.port, ls, true);
    // A pseudo-terminal carries no modem lines: the CyberMan's wake-up is taken from the line
    // going to its wake-up speed, which the library sets right before toggling them.
    bool wake_setting = ls.baud == 1200 && ls.data_bits == 7;
    if (wake_setting && !l.was_wake_setting) vrsim_wall::modem_wake(s.sim, l.port);
    l.was_wake_setting = wake_setting;
  }
}

void step_to_now(Server &s) {
  long long target = monotonic_ns() - s.start_ns;
  long long now = vrsim_now_ns(s.sim);
  if (target > now) vrsim_advance_ns(s.sim, target - now);
  for (ServedLine &l : s.lines) flush_out(l);
}

int port_of(const std::string &w) {
  return w == "A" || w == "a" ? 0 : w == "B" || w == "b" ? 1 : -1;
}

bool number(const std::string &w, double &out) {
  char *end = nullptr;
  out = std::strtod(w.c_str(), &end);
  return end && *end == '\0' && !w.empty() && std::isfinite(out);
}

// One control command; false with a reason when it is not understood.
bool command(Server &s, const std::vector<std::string> &w, std::string &why) {
  if (w.empty()) return true;
  const std::string &c = w[0];
  double v[3];
  if ((c == "head" || c == "mouse") && w.size() == 4 && number(w[1], v[0]) && number(w[2], v[1]) &&
      number(w[3], v[2])) {
    vrsim_set_position(s.sim, c == "head" ? VRSIM_HEAD : VRSIM_MOUSE, v[0], v[1], v[2]);
    return true;
  }
  if ((c == "buttons" || c == "head-buttons") && w.size() == 2 && number(w[1], v[0])) {
    vrsim_set_buttons(s.sim, c == "buttons" ? VRSIM_MOUSE : VRSIM_HEAD, static_cast<int>(v[0]));
    return true;
  }
  if (c == "quit") {
    s.quit = true;
    return true;
  }
  int port = w.size() >= 2 ? port_of(w[1]) : -1;
  if (port >= 0 && c == "power" && w.size() == 3 && (w[2] == "on" || w[2] == "off")) {
    vrsim_set_power(s.sim, port, w[2] == "on");
    return true;
  }
  if (port >= 0 && c == "unplug" && w.size() == 2) {
    close_line(s.lines[port]);
    std::printf("%s unplugged\n", port_name[port]);
    return true;
  }
  if (port >= 0 && c == "plug" && w.size() == 2) {
    if (s.lines[port].master >= 0) return true;
    if (!open_line(s.lines[port], why)) return false;
    std::printf("%s %s\n", port_name[port], s.lines[port].slave.c_str());
    return true;
  }
  if (port >= 0 && (c == "garbage" || c == "noise" || c == "stop") && w.size() == 3 &&
      number(w[2], v[0])) {
    vrsim_imperfections &imp = s.imperfections[port];
    if (c == "garbage") imp.garbage_rate = v[0];
    if (c == "noise") imp.distance_noise_cm = v[0];
    if (c == "stop") imp.stopped = v[0] != 0.0;
    vrsim_set_imperfections(s.sim, port, &imp);
    return true;
  }
  why =
      "unknown command (head X Y Z, mouse X Y Z, buttons N, head-buttons N, power A|B on|off, "
      "unplug A|B, plug A|B, garbage A|B RATE, noise A|B CM, stop A|B 0|1, quit)";
  return false;
}

// False once standard input has ended.
bool read_commands(Server &s, std::string &pending) {
  char buf[512];
  ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
  if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) return false;
  if (n < 0) return true;
  pending.append(buf, static_cast<size_t>(n));
  size_t nl;
  while ((nl = pending.find('\n')) != std::string::npos) {
    std::string line = pending.substr(0, nl);
    pending.erase(0, nl + 1);
    std::string why;
    if (!command(s, serve::words(line), why))
      std::fprintf(stderr, "vrsim-serve: %s: %s\n", line.c_str(), why.c_str());
    std::fflush(stdout);
  }
  return true;
}

bool parse_xyz(const std::string &text, double out[3]) {
  return std::sscanf(text.c_str(), "%lf,%lf,%lf", &out[0], &out[1], &out[2]) == 3 &&
         std::isfinite(out[0]) && std::isfinite(out[1]) && std::isfinite(out[2]);
}

}  // namespace

int main(int argc, char **argv) {
  std::string dev_a = "logitech", dev_b = "logitech", link_a, link_b, script, head, mouse;
  unsigned long long seed = 1;
  double noise_cm = 0.0, garbage_rate = 0.0, drop_rate = 0.0;
  int mouse_buttons = 0;
  bool raw = false;
  CLI::App cli{
      "vrsim-serve: the simulated trackers against the wall clock on pseudo-terminals.\n"
      "Prints \"A <line>\" and \"B <line>\", then \"ready\". Commands on standard input: "
      "head X Y Z, mouse X Y Z, buttons N, head-buttons N, power A|B on|off, unplug A|B, "
      "plug A|B, garbage A|B RATE, noise A|B CM, stop A|B 0|1, quit.",
      "vrsim-serve"};
  cli.add_option("--port-a", dev_a, "device on port A: logitech (glasses), dynasight, none")
      ->capture_default_str();
  cli.add_option("--port-b", dev_b, "device on port B: logitech (mouse), cyberman, none")
      ->capture_default_str();
  cli.add_option("--link-a", link_a, "keep a symbolic link to port A's line at this path");
  cli.add_option("--link-b", link_b, "keep a symbolic link to port B's line at this path");
  cli.add_flag("--raw", raw,
               "the Logitech units answer raw and 6D requests alike; accepted "
               "so that a raw-mode session reads as one");
  cli.add_option("--head", head, "fixed head position X,Y,Z in cm (default 0,-10,55)");
  cli.add_option("--mouse", mouse, "fixed mouse position X,Y,Z in cm (default 8,-25,40)");
  cli.add_option("--buttons", mouse_buttons, "mouse buttons 0..15");
  cli.add_option("--script", script, "scripted truth: lines \"T head|mouse X Y Z\"");
  cli.add_option("--seed", seed, "seed of the noise")->capture_default_str();
  cli.add_option("--noise", noise_cm, "Gaussian noise sigma on every measurement, cm");
  cli.add_option("--garbage", garbage_rate, "chance per measurement of garbage bytes before it");
  cli.add_option("--drop", drop_rate, "chance per measurement that it is lost");
  try {
    cli.parse(argc, argv);
  } catch (const CLI::ParseError &e) {
    int code = cli.exit(e);
    return code == 0 ? 0 : 2;
  }

  Server s;
  s.sim = vrsim_create(seed);
  if (!s.sim) return 1;
  std::string why;
  if (!script.empty()) {
    if (!serve::read_script(script, s.tracks, why)) {
      std::fprintf(stderr, "vrsim-serve: %s\n", why.c_str());
      return 2;
    }
  }
  double xyz[3];
  if (!head.empty() && !parse_xyz(head, xyz)) {
    std::fputs("vrsim-serve: --head wants X,Y,Z\n", stderr);
    return 2;
  }
  if (!head.empty()) vrsim_set_position(s.sim, VRSIM_HEAD, xyz[0], xyz[1], xyz[2]);
  if (!mouse.empty() && !parse_xyz(mouse, xyz)) {
    std::fputs("vrsim-serve: --mouse wants X,Y,Z\n", stderr);
    return 2;
  }
  if (!mouse.empty()) vrsim_set_position(s.sim, VRSIM_MOUSE, xyz[0], xyz[1], xyz[2]);
  for (int which : {VRSIM_HEAD, VRSIM_MOUSE})
    if (!s.tracks[which].keys.empty())
      vrsim_set_pose_fn(s.sim, which, scripted_pose, &s.tracks[which]);
  vrsim_set_buttons(s.sim, VRSIM_MOUSE, mouse_buttons);

  const std::string *devs[2] = {&dev_a, &dev_b};
  for (int port = 0; port < 2; ++port) {
    const std::string &d = *devs[port];
    if (d == "logitech") {
      vrsim_lt_config cfg;
      vrsim_lt_config_init(&cfg, port == 0 ? VRSIM_RX_GLASSES : VRSIM_RX_MOUSE);
      vrsim_plug_logitech(s.sim, port, &cfg);
    } else if (d == "cyberman" && port == 1) {
      vrsim_plug_cyberman(s.sim, port, 0.0);
    } else if (d == "dynasight" && port == 0) {
      vrsim_plug_dynasight(s.sim, port, 0.0);
    } else if (d != "none") {
      std::fprintf(stderr, "vrsim-serve: no device \"%s\" for port %s (see --help)\n", d.c_str(),
                   port_name[port]);
      return 2;
    }
    vrsim_imperfections &imp = s.imperfections[port];
    imp.distance_noise_cm = noise_cm;
    imp.garbage_rate = garbage_rate;
    imp.drop_rate = drop_rate;
    vrsim_set_imperfections(s.sim, port, &imp);
  }
  // The transmitter sits on port A's unit, or on B's when A carries no Logitech unit.
  vrsim_transmitter tx;
  vrsim_get_transmitter(s.sim, &tx);
  tx.port = dev_a == "logitech" ? 0 : dev_b == "logitech" ? 1 : -1;
  vrsim_set_transmitter(s.sim, &tx);

  s.lines[0].link = link_a;
  s.lines[1].link = link_b;
  for (int port = 0; port < 2; ++port) {
    s.lines[port].port = port;
    if (!open_line(s.lines[port], why)) {
      std::fprintf(stderr, "vrsim-serve: port %s: %s\n", port_name[port], why.c_str());
      for (ServedLine &l : s.lines) close_line(l);
      return 1;
    }
    std::printf("%s %s\n", port_name[port], s.lines[port].slave.c_str());
  }
  std::printf("ready\n");
  std::fflush(stdout);

  struct sigaction stop {};
  stop.sa_handler = on_stop;
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &stop, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
  vrsim_wall::set_sink(s.sim, to_line, s.lines);
  s.start_ns = monotonic_ns();
  bool stdin_open = true;
  std::string pending;
  unsigned char buf[256];
  long long last_step_ns = 0;

  while (!stop_requested && !s.quit) {
    pollfd fds[3];
    int owner[3];
    int n = 0;
    for (ServedLine &l : s.lines)
      if (l.master >= 0) {
        fds[n] = {l.master, POLLIN, 0};
        owner[n++] = l.port;
      }
    if (stdin_open) {
      fds[n] = {STDIN_FILENO, POLLIN, 0};
      owner[n++] = -1;
    }
    long long next = vrsim_wall::next_event_ns(s.sim);
    long long now = monotonic_ns() - s.start_ns;
    int timeout_ms = idle_wait_ms;
    if (next >= 0) {
      long long due = std::max(next, last_step_ns + batch_ns);
      timeout_ms = static_cast<int>(
          std::clamp<long long>((due - now + ns_per_ms - 1) / ns_per_ms, 0, idle_wait_ms));
    }
    int ready = poll(fds, static_cast<nfds_t>(n), timeout_ms);
    if (ready < 0 && errno != EINTR) break;
    // Time first, so that what the programs wrote reaches the devices at its own moment.
    observe_lines(s);
    step_to_now(s);
    last_step_ns = vrsim_now_ns(s.sim);
    for (int i = 0; ready > 0 && i < n; ++i) {
      if (!fds[i].revents) continue;
      if (owner[i] < 0) {
        // Without input left the server goes on serving what it has.
        stdin_open = (fds[i].revents & POLLIN) ? read_commands(s, pending) : false;
        continue;
      }
      ServedLine &l = s.lines[owner[i]];
      ssize_t got;
      while ((got = read(l.master, buf, sizeof buf)) > 0)
        vrsim_wall::host_wrote(s.sim, l.port, buf, static_cast<int>(got));
    }
  }
  for (ServedLine &l : s.lines) {
    if (l.overruns)
      std::fprintf(stderr, "vrsim-serve: port %s: %lld bytes lost (nobody reading)\n",
                   port_name[l.port], l.overruns);
    close_line(l);
  }
  return 0;
}
