// The capture engine: the capture file, the serial lines and the poll loop that joins them.
#include "capture_engine.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <fcntl.h>
#include <grp.h>
#include <linux/serial.h>
#include <poll.h>
#include <pwd.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <syslog.h>
#include <time.h>
#include <unistd.h>

#include "vr_capture.h"

namespace vrcapd {

namespace cap = vr::capture;

namespace {

constexpr mode_t area_mode = 0660;
constexpr int read_chunk_bytes = 4096;
constexpr int wanted_latency_timer_ms = 1;
const char *const port_name[2] = {"A", "B"};

void vlog(bool to_syslog, int priority, const char *format, va_list args) {
  if (to_syslog) {
    vsyslog(priority, format, args);
    return;
  }
  std::fputs("vrcapd: ", stderr);
  std::vfprintf(stderr, format, args);
  std::fputc('\n', stderr);
}

std::string errno_text(int error) {
  return std::strerror(error);
}

std::int32_t *offset_word(unsigned char *area, int port) {
  return reinterpret_cast<std::int32_t *>(area + cap::write_offset_byte[port]);
}

bool read_small_file(const std::string &path, int &value) {
  std::FILE *f = std::fopen(path.c_str(), "r");
  if (!f) return false;
  bool ok = std::fscanf(f, "%d", &value) == 1;
  std::fclose(f);
  return ok;
}

bool write_small_file(const std::string &path, int value) {
  std::FILE *f = std::fopen(path.c_str(), "w");
  if (!f) return false;
  bool ok = std::fprintf(f, "%d\n", value) > 0;
  return std::fclose(f) == 0 && ok;
}

// The sysfs name of the terminal behind a path (which may be a udev link such as /dev/vrlib-a).
std::string tty_name(const std::string &path) {
  char resolved[PATH_MAX];
  if (!realpath(path.c_str(), resolved)) return {};
  const char *slash = std::strrchr(resolved, '/');
  return slash ? slash + 1 : resolved;
}

}  // namespace

long long monotonic_ms() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void Logger::info(const char *format, ...) const {
  va_list args;
  va_start(args, format);
  vlog(to_syslog, LOG_INFO, format, args);
  va_end(args);
}

void Logger::debug(const char *format, ...) const {
  if (!verbose) return;
  va_list args;
  va_start(args, format);
  vlog(to_syslog, LOG_DEBUG, format, args);
  va_end(args);
}

void Logger::error(const char *format, ...) const {
  va_list args;
  va_start(args, format);
  vlog(to_syslog, LOG_ERR, format, args);
  va_end(args);
}

// ---- The capture file --------------------------------------------------------------------------

Area::~Area() {
  if (area_) munmap(area_, static_cast<size_t>(area_file_bytes - area_offset_bytes));
  if (fd_ >= 0) close(fd_);  // also releases the lock
}

namespace {

// Opens the area file for reading and writing: a new one created for this user alone, or the
// one already there, never through a symbolic link and never waiting (a FIFO planted at the
// path opens at once and is then refused as not a regular file).
int open_area_file(const std::string &path, bool &created) {
  constexpr int attempts = 3;  // the file may vanish between the two opens; look again
  for (int i = 0; i < attempts; ++i) {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, area_mode);
    created = fd >= 0;
    if (fd >= 0 || errno != EEXIST) return fd;
    // Opening an existing file with O_CREAT would be refused outright in a sticky folder such
    // as /dev/shm when another user owns it (fs.protected_regular); open it plainly, so that
    // the checks below can say who owns it.
    fd = ::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0 || errno != ENOENT) return fd;
  }
  errno = EAGAIN;
  return -1;
}

std::string mode_text(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

// A user as "name (uid)", or the number alone when it has no name here.
std::string user_text(uid_t uid) {
  const passwd *pw = getpwuid(uid);
  std::string number = std::to_string(uid);
  return pw && pw->pw_name ? std::string(pw->pw_name) + " (" + number + ")" : number;
}

// A group as "name (gid)", or the number alone.
std::string group_text(gid_t gid) {
  const group *gr = getgrgid(gid);
  std::string number = std::to_string(gid);
  return gr && gr->gr_name ? std::string(gr->gr_name) + " (" + number + ")" : number;
}

// Why an area file found at the path cannot be used, or empty. Whoever else owns it, or whoever
// else may read or write it, could read the tracker bytes or write fake ones that the library
// decodes as poses; and a user who had it open while its mode allowed it keeps that descriptor
// whatever the mode is changed to now. So such a file is refused rather than adopted (it is not
// written to, truncated, re-owned or re-moded), and the user removes it and starts again.
std::string foreign_area(const std::string &path, const struct stat &st) {
  if (st.st_uid != geteuid())
    return "refusing area " + path + ": it belongs to user " + user_text(st.st_uid) +
           ", not to the daemon's user " + user_text(geteuid()) +
           " (someone else may have planted it: remove it, or give --area another file)";
  if ((st.st_mode & S_IRWXO) != 0)
    return "refusing area " + path + ": other users may read or write it (mode " +
           mode_text(st.st_mode) +
           "; one may still hold it open): remove it and start again, the daemon creates it "
           "with mode 0660";
  return {};
}

}  // namespace

int Area::open(const std::string &path, std::string &why, gid_t group) {
  // O_NOFOLLOW: a link planted at the area path could otherwise make the daemon create or
  // overwrite a file elsewhere with its rights.
  bool created = false;
  int fd = open_area_file(path, created);
  if (fd < 0) {
    int e = errno;
    if (e == ELOOP)
      why = "refusing area " + path + ": it is a symbolic link (give the real file's path)";
    else if (e == EISDIR)
      why = "refusing area " + path + ": not a regular file";
    else if (e == EACCES || e == EROFS || e == EPERM)
      why = "cannot create area " + path + ": " + errno_text(e) +
            " (choose a writable folder, e.g. /dev/shm, or remove a file someone else left there)";
    else
      why = "cannot open area " + path + ": " + errno_text(e);
    return exit_bad_input;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    why = "refusing area " + path + ": not a regular file";
    return exit_bad_input;
  }
  why = created ? std::string() : foreign_area(path, st);
  if (!why.empty()) {
    close(fd);
    return exit_bad_input;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int e = errno;
    close(fd);
    why = e == EWOULDBLOCK ? "another vrcapd is already capturing into " + path +
                                 " (stop it first, or give --area another file)"
                           : "cannot lock area " + path + ": " + errno_text(e);
    return exit_busy;
  }
  // The group whose members run the programs (--group), then read and write for owner and group
  // only, whatever the umask left.
  if (group != keep_group && st.st_gid != group && fchown(fd, static_cast<uid_t>(-1), group) != 0) {
    int e = errno;
    close(fd);
    why = "cannot give area " + path + " to group " + group_text(group) + ": " + errno_text(e) +
          " (the daemon's user must be a member of that group)";
    return exit_bad_input;
  }
  if ((st.st_mode & 07777) != area_mode && fchmod(fd, area_mode) != 0) {
    int e = errno;
    close(fd);
    why = "cannot set mode 0660 on area " + path + ": " + errno_text(e);
    return exit_failure;
  }
  if (st.st_size < area_file_bytes && ftruncate(fd, area_file_bytes) != 0) {
    int e = errno;
    close(fd);
    why = "cannot size area " + path + ": " + errno_text(e);
    return exit_failure;
  }
  void *map = mmap(nullptr, static_cast<size_t>(area_file_bytes - area_offset_bytes),
                   PROT_READ | PROT_WRITE, MAP_SHARED, fd, area_offset_bytes);
  if (map == MAP_FAILED) {
    int e = errno;
    close(fd);
    why = "cannot map area " + path + ": " + errno_text(e);
    return exit_failure;
  }
  fd_ = fd;
  area_ = static_cast<unsigned char *>(map);
  // A restarted daemon goes on where the last one stopped, so a reader that kept its place in
  // the ring sees new bytes after it rather than a jump back to the start.
  for (int port = 0; port < 2; ++port) {
    std::int32_t w = __atomic_load_n(offset_word(area_, port), __ATOMIC_ACQUIRE);
    next_[port] = (w >= 0 && w < cap::ring_bytes) ? w : 0;
    __atomic_store_n(offset_word(area_, port), next_[port], __ATOMIC_RELEASE);
  }
  return exit_ok;
}

void Area::store(int port, const unsigned char *bytes, int count) {
  unsigned char *ring = area_ + cap::ring_start_byte[port];
  std::int32_t *offset = offset_word(area_, port);
  int w = next_[port];
  for (int i = 0; i < count; ++i) {
    __atomic_store_n(ring + w, bytes[i], __ATOMIC_RELAXED);
    w = w + 1 == cap::ring_bytes ? 0 : w + 1;
    __atomic_store_n(offset, w, __ATOMIC_RELEASE);
  }
  next_[port] = w;
}

// ---- Serial lines ------------------------------------------------------------------------------

std::string open_line(const std::string &path, int &fd) {
  fd = -1;
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    int e = errno;
    if (e == ENOENT)
      return path + " does not exist (wrong port? is the adapter plugged in? see ls /dev/ttyUSB*)";
    if (e == EACCES)
      return "permission denied on " + path +
             " (add your user to the dialout group: sudo usermod -aG dialout $USER, log in again)";
    return "cannot reach " + path + ": " + errno_text(e);
  }
  if (S_ISDIR(st.st_mode)) return path + " is a directory, not a serial line";
  if (!S_ISCHR(st.st_mode)) return path + " is not a serial line (not a character device)";
  // Read only: the library alone writes commands to the units. No controlling terminal, and
  // never waiting for carrier, which a tracker does not raise.
  fd = open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    int e = errno;
    if (e == EACCES || e == EPERM)
      return "permission denied on " + path +
             " (add your user to the dialout group: sudo usermod -aG dialout $USER, log in again)";
    if (e == ENXIO || e == ENODEV || e == EIO)
      return path + " has no device behind it (adapter unplugged?): " + errno_text(e);
    return "cannot open " + path + ": " + errno_text(e);
  }
  if (!isatty(fd)) {
    close(fd);
    fd = -1;
    return path + " is not a serial line (not a terminal device)";
  }
  if (!make_raw(fd)) {
    int e = errno;
    close(fd);
    fd = -1;
    return "cannot set raw mode on " + path + ": " + errno_text(e);
  }
  return {};
}

bool make_raw(int fd) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) return false;
  // The control flags (speed, character size, parity, stop bits) stay as they are.
  t.c_iflag = 0;
  t.c_oflag = 0;
  t.c_lflag = 0;
  return tcsetattr(fd, TCSANOW, &t) == 0;
}

void request_low_latency(const Line &line, const Logger &log) {
  serial_struct ss{};
  if (ioctl(line.fd, TIOCGSERIAL, &ss) == 0) {
    ss.flags |= ASYNC_LOW_LATENCY;
    if (ioctl(line.fd, TIOCSSERIAL, &ss) == 0)
      log.debug("port %s: low-latency mode on", port_name[line.port]);
    else
      log.debug("port %s: the driver refused low-latency mode", port_name[line.port]);
  } else {
    log.debug("port %s: the driver has no low-latency mode", port_name[line.port]);
  }
  std::string name = tty_name(line.path);
  std::string timer = "/sys/class/tty/" + name + "/device/latency_timer";
  int ms = 0;
  if (name.empty() || !read_small_file(timer, ms)) {
    log.info("port %s: %s has no adapter latency timer to lower", port_name[line.port],
             line.path.c_str());
    return;
  }
  if (ms <= wanted_latency_timer_ms) {
    log.info("port %s: adapter latency timer is %d ms", port_name[line.port], ms);
  } else if (write_small_file(timer, wanted_latency_timer_ms)) {
    log.info("port %s: adapter latency timer lowered from %d ms to %d ms", port_name[line.port], ms,
             wanted_latency_timer_ms);
  } else {
    log.info(
        "port %s: adapter latency timer is %d ms and not writable (%s); every record may "
        "wait that long: see the udev rule in the README",
        port_name[line.port], ms, timer.c_str());
  }
}

// ---- The poll loop -----------------------------------------------------------------------------

Engine::~Engine() {
  for (int i = 0; i < line_count_; ++i)
    if (lines_[i].fd >= 0) close(lines_[i].fd);
  if (wake_fd_ >= 0) close(wake_fd_);
}

int Engine::add_line(int port, const std::string &path, std::string &why) {
  if (wake_fd_ < 0) wake_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  Line &line = lines_[line_count_];
  line = Line{};
  line.port = port;
  line.path = path;
  why = open_line(path, line.fd);
  if (!why.empty()) return exit_bad_input;
  ++line_count_;
  log_.info("port %s: capturing %s", port_name[port], path.c_str());
  request_low_latency(line, log_);
  return exit_ok;
}

void Engine::stop() {
  if (wake_fd_ < 0) return;
  std::uint64_t one = 1;
  ssize_t n = write(wake_fd_, &one, sizeof one);
  (void)n;
}

void Engine::vanish(Line &line, const char *reason) {
  close(line.fd);
  line.fd = -1;
  line.next_try_ms = monotonic_ms() + reopen_interval_ms;
  if (!line.vanished)
    log_.error("port %s: %s vanished (%s); the other port goes on, retrying every second",
               port_name[line.port], line.path.c_str(), reason);
  line.vanished = true;
}

void Engine::drain(Line &line) {
  unsigned char buffer[read_chunk_bytes];
  for (;;) {
    ssize_t n = read(line.fd, buffer, sizeof buffer);
    if (n > 0) {
      area_.store(line.port, buffer, static_cast<int>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    // Nothing more for now. A line set to return at once (minimum 0, no timeout) reads 0 rather
    // than "try again"; a hang-up also reads 0, but poll() reports that one.
    if (n == 0 || errno == EAGAIN || errno == EWOULDBLOCK) break;
    // EIO: the adapter (or the far side of a pseudo-terminal) went away.
    vanish(line, std::strerror(errno));
    return;
  }
  // What the library set (speed and framing), so that a returning adapter gets them back.
  if (tcgetattr(line.fd, &line.settings) == 0) line.have_settings = true;
}

void Engine::try_reopen(Line &line, long long now_ms) {
  if (now_ms < line.next_try_ms) return;
  line.next_try_ms = now_ms + reopen_interval_ms;
  int fd = -1;
  std::string why = open_line(line.path, fd);
  if (!why.empty()) {
    log_.debug("port %s: not back yet: %s", port_name[line.port], why.c_str());
    return;
  }
  // A replugged adapter starts at its own default speed; the library set the line once, at its
  // set-up, so put back what it had set rather than leave the units' bytes garbled.
  if (line.have_settings) {
    termios t = line.settings;
    t.c_iflag = 0;
    t.c_oflag = 0;
    t.c_lflag = 0;
    tcsetattr(fd, TCSANOW, &t);
  }
  line.fd = fd;
  line.vanished = false;
  log_.info("port %s: %s is back", port_name[line.port], line.path.c_str());
  request_low_latency(line, log_);
}

void Engine::run(const volatile std::sig_atomic_t *stop_flag, const sigset_t *wait_mask) {
  pollfd fds[3];
  Line *owner[3];
  for (;;) {
    if (stop_flag && *stop_flag) return;
    int n = 0;
    long long timeout_ms = -1;
    long long now = monotonic_ms();
    for (int i = 0; i < line_count_; ++i) {
      Line &line = lines_[i];
      if (line.fd < 0) {
        long long wait = std::max(0LL, line.next_try_ms - now);
        timeout_ms = timeout_ms < 0 ? wait : std::min(timeout_ms, wait);
        continue;
      }
      fds[n] = {line.fd, POLLIN, 0};
      owner[n++] = &line;
    }
    fds[n] = {wake_fd_, POLLIN, 0};
    owner[n++] = nullptr;
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(timeout_ms / 1000);
    ts.tv_nsec = static_cast<long>(timeout_ms % 1000) * 1000000L;
    int ready = ppoll(fds, static_cast<nfds_t>(n), timeout_ms < 0 ? nullptr : &ts, wait_mask);
    if (ready < 0) {
      if (errno == EINTR) continue;
      log_.error("waiting for the lines failed: %s", std::strerror(errno));
      return;
    }
    for (int i = 0; i < n; ++i) {
      if (fds[i].revents == 0) continue;
      if (!owner[i]) return;  // stop() was called
      Line &line = *owner[i];
      drain(line);
      // A hang-up that still reads "try again" would wake this loop for ever.
      if (line.fd >= 0 && (fds[i].revents & (POLLHUP | POLLERR | POLLNVAL)))
        vanish(line, "hung up");
    }
    now = monotonic_ms();
    for (int i = 0; i < line_count_; ++i)
      if (lines_[i].fd < 0) try_reopen(lines_[i], now);
  }
}

}  // namespace vrcapd
