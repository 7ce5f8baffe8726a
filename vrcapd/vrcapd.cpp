// vrcapd: the capture daemon. It fills the capture file that the library maps with every byte
// received on the serial lines of ports A and B, so that the tracker drivers run on Linux.
//
//   vrcapd --port-a /dev/ttyUSB0 --port-b /dev/ttyUSB1            (detaches; logs to syslog)
//   vrcapd --port-a /dev/ttyUSB0 --port-b /dev/ttyUSB1 -- app ...  (runs app on these lines)
#include <CLI/CLI.hpp>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>
#include <vector>

#include "capture_engine.h"

namespace {

constexpr const char *default_area = "/dev/shm/vrlib-capture";
constexpr int exec_failed_status = 127;

// Set by the handlers, which only run while the engine waits (the signals are blocked elsewhere).
volatile std::sig_atomic_t woken = 0;
volatile std::sig_atomic_t stop_requested = 0;
volatile std::sig_atomic_t child_changed = 0;
volatile std::sig_atomic_t last_stop_signal = SIGTERM;

void on_stop(int sig) {
  stop_requested = 1;
  last_stop_signal = sig;
  woken = 1;
}
void on_child(int) {
  child_changed = 1;
  woken = 1;
}

struct Options {
  std::string port_a, port_b, area = default_area;
  std::string group;  // --group: empty keeps the area's group
  bool foreground = false, verbose = false;
  std::vector<std::string> app;  // after "--"
};

// A path made absolute without resolving links: a udev name such as /dev/vrlib-a must be opened
// by that name again when the adapter returns, and a detached daemon works from "/".
std::string absolute(const std::string &path) {
  if (path.empty() || path[0] == '/') return path;
  char cwd[4096];
  if (!getcwd(cwd, sizeof cwd)) return path;
  return std::string(cwd) + "/" + path;
}

// A group by name, or by number when no group has that name.
bool group_id(const std::string &name, gid_t &gid) {
  if (const group *gr = getgrnam(name.c_str())) {
    gid = gr->gr_gid;
    return true;
  }
  char *end = nullptr;
  errno = 0;
  unsigned long number = std::strtoul(name.c_str(), &end, 10);
  if (errno != 0 || end == name.c_str() || *end != '\0' || name[0] == '-' ||
      number >= static_cast<unsigned long>(vrcapd::keep_group))
    return false;
  gid = static_cast<gid_t>(number);
  return true;
}

void detach() {
  pid_t pid = fork();
  if (pid < 0) return;  // carry on in the foreground rather than not at all
  if (pid > 0) _exit(0);
  setsid();
  if (chdir("/") != 0) {
  }
  int null_fd = open("/dev/null", O_RDWR | O_CLOEXEC);
  if (null_fd >= 0) {
    dup2(null_fd, STDIN_FILENO);
    dup2(null_fd, STDOUT_FILENO);
    dup2(null_fd, STDERR_FILENO);
    if (null_fd > STDERR_FILENO) close(null_fd);
  }
}

pid_t launch(const Options &o, const sigset_t &old_mask) {
  pid_t pid = fork();
  if (pid != 0) return pid;
  // The application gets the signal handling it would have had without the daemon.
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
  std::signal(SIGHUP, SIG_DFL);
  std::signal(SIGCHLD, SIG_DFL);
  sigprocmask(SIG_SETMASK, &old_mask, nullptr);
  if (!o.port_a.empty()) setenv("VRLIB_TTYA", o.port_a.c_str(), 1);
  if (!o.port_b.empty()) setenv("VRLIB_TTYB", o.port_b.c_str(), 1);
  setenv("VRLIB_CAPTURE", o.area.c_str(), 1);
  std::vector<char *> argv;
  for (const auto &a : o.app) argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  execvp(argv[0], argv.data());
  std::fprintf(stderr, "vrcapd: cannot run %s: %s\n", argv[0], std::strerror(errno));
  _exit(exec_failed_status);
}

int status_of(int wait_status) {
  if (WIFEXITED(wait_status)) return WEXITSTATUS(wait_status);
  if (WIFSIGNALED(wait_status)) return 128 + WTERMSIG(wait_status);
  return vrcapd::exit_failure;
}

}  // namespace

int main(int argc, char **argv) {
  // Everything after the first "--" is the application to launch, untouched by option parsing.
  Options o;
  int own_argc = argc;
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--") == 0) {
      own_argc = i;
      for (int k = i + 1; k < argc; ++k) o.app.emplace_back(argv[k]);
      break;
    }

  CLI::App cli{
      "vrcapd: copies the bytes of the tracker serial lines into the capture file that "
      "vrlib maps.\nLauncher form: vrcapd [options] -- APP ARGS... runs APP with "
      "VRLIB_TTYA, VRLIB_TTYB and VRLIB_CAPTURE set and stops when it exits.",
      "vrcapd"};
  cli.add_option("--port-a", o.port_a, "serial line of port A (glasses unit or DynaSight)");
  cli.add_option("--port-b", o.port_b, "serial line of port B (mouse unit or CyberMan)");
  cli.add_option("--area", o.area, "capture file")->capture_default_str();
  cli.add_option("--group", o.group,
                 "give the capture file to this group (name or number), so that its members' "
                 "programs can map it; the daemon's user must belong to it");
  cli.add_flag("--foreground", o.foreground, "stay attached and log to the standard error stream");
  cli.add_flag("--verbose", o.verbose, "also log each retry and the low-latency requests");
  try {
    cli.parse(own_argc, argv);
  } catch (const CLI::ParseError &e) {
    int code = cli.exit(e);
    return code == 0 ? 0 : vrcapd::exit_bad_input;
  }
  if (o.port_a.empty() && o.port_b.empty()) {
    std::fputs("vrcapd: give --port-a, --port-b or both (see --help)\n", stderr);
    return vrcapd::exit_bad_input;
  }
  if (o.area.empty()) {
    std::fputs("vrcapd: --area needs a file path\n", stderr);
    return vrcapd::exit_bad_input;
  }
  gid_t area_group = vrcapd::keep_group;
  if (!o.group.empty() && !group_id(o.group, area_group)) {
    std::fprintf(stderr, "vrcapd: --group %s: no such group (see getent group)\n", o.group.c_str());
    return vrcapd::exit_bad_input;
  }
  struct stat sa {
  }, sb{};
  if (!o.port_a.empty() && !o.port_b.empty() && stat(o.port_a.c_str(), &sa) == 0 &&
      stat(o.port_b.c_str(), &sb) == 0 && sa.st_rdev == sb.st_rdev && sa.st_ino == sb.st_ino) {
    // Two readers of one line would each take part of its bytes.
    std::fputs("vrcapd: --port-a and --port-b name the same line\n", stderr);
    return vrcapd::exit_bad_input;
  }
  o.port_a = absolute(o.port_a);
  o.port_b = absolute(o.port_b);
  o.area = absolute(o.area);
  bool launcher = !o.app.empty();

  vrcapd::Logger log;
  log.verbose = o.verbose;

  // Signals only interrupt the wait for the lines, never a store into the rings.
  sigset_t blocked, old_mask;
  sigemptyset(&blocked);
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGCHLD}) sigaddset(&blocked, sig);
  sigprocmask(SIG_BLOCK, &blocked, &old_mask);
  struct sigaction stop_action {};
  stop_action.sa_handler = on_stop;
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &stop_action, nullptr);
  struct sigaction child_action {};
  child_action.sa_handler = on_child;
  child_action.sa_flags = SA_NOCLDSTOP;
  sigaction(SIGCHLD, &child_action, nullptr);
  sigset_t wait_mask = old_mask;
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGCHLD}) sigdelset(&wait_mask, sig);

  // Every check that can fail runs before detaching, so that its message reaches the user.
  vrcapd::Area area;
  std::string why;
  int status = area.open(o.area, why, area_group);
  if (status != vrcapd::exit_ok) {
    log.error("%s", why.c_str());
    return status;
  }
  vrcapd::Engine engine(area, log);
  const std::string *paths[2] = {&o.port_a, &o.port_b};
  for (int port = 0; port < 2; ++port) {
    if (paths[port]->empty()) continue;
    status = engine.add_line(port, *paths[port], why);
    if (status != vrcapd::exit_ok) {
      log.error("port %s: %s", port == 0 ? "A" : "B", why.c_str());
      return status;
    }
  }
  log.info("capture area %s ready", o.area.c_str());

  pid_t child = -1;
  if (launcher) {
    child = launch(o, old_mask);
    if (child < 0) {
      log.error("cannot start %s: %s", o.app[0].c_str(), std::strerror(errno));
      return vrcapd::exit_failure;
    }
  } else if (!o.foreground) {
    detach();
    openlog("vrcapd", LOG_PID, LOG_DAEMON);
    log.to_syslog = true;
  }

  // In the launcher form a first stop signal goes on to the application, which decides when to
  // end (it may need its lines to shut the units down); a second one stops the daemon at once.
  int child_status = vrcapd::exit_ok;
  bool forwarded = false;
  for (;;) {
    engine.run(&woken, &wait_mask);
    if (!woken) break;  // the wait itself failed (logged)
    woken = 0;
    if (child_changed) {
      child_changed = 0;
      int ws = 0;
      if (child > 0 && waitpid(child, &ws, WNOHANG) == child) {
        child_status = status_of(ws);
        break;
      }
    }
    if (!stop_requested) continue;
    stop_requested = 0;
    if (child > 0 && !forwarded) {
      kill(child, last_stop_signal);
      forwarded = true;
      continue;
    }
    break;
  }
  log.info("stopped");
  return launcher ? child_status : vrcapd::exit_ok;
}
