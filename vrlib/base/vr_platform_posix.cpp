// The default platform: Linux/POSIX clocks, termios serial lines and the mapped capture device.
#include "vr_platform.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace {

constexpr off_t capture_map_offset_bytes = 65536;
constexpr size_t capture_area_bytes = 4096;

// An error number for a call that failed, never 0 (callers take 0 for success).
int failure() {
  return errno != 0 ? errno : EIO;
}

long long clock_ns(clockid_t id) {
  timespec ts{};
  clock_gettime(id, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

long long posix_hrtime(void *) {
  return clock_ns(CLOCK_MONOTONIC);
}
long long posix_hrvtime(void *) {
  return clock_ns(CLOCK_THREAD_CPUTIME_ID);
}

void posix_sleep(void *, unsigned seconds) {
  // sleep() returns early on a signal; the driver relies on the whole pause.
  timespec left{static_cast<time_t>(seconds), 0};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

// The units' records treat descriptor 0 as "line closed", so never hand out 0.
int not_zero(int fd) {
  if (fd != 0) return fd;
  int moved = fcntl(fd, F_DUPFD_CLOEXEC, 1);
  close(fd);
  return moved;
}

int posix_line_open(void *, const char *path) {
  // A line whose modem status lines are not yet ignored would hold the open until carrier
  // appears, which a tracker never raises: open without waiting, then make the descriptor
  // blocking again (the driver chooses the no-delay flag itself later).
  int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return not_zero(fd);
}

int posix_line_write(void *, int fd, const void *bytes, int count) {
  if (count <= 0) return 0;
  ssize_t n;
  do {
    n = write(fd, bytes, static_cast<size_t>(count));
  } while (n < 0 && errno == EINTR);
  return static_cast<int>(n);
}

void posix_line_close(void *, int fd) {
  close(fd);
}

struct baud_speed {
  int baud;
  speed_t speed;
};

constexpr baud_speed speeds[] = {
    {300, B300},   {600, B600},     {1200, B1200},   {2400, B2400},   {4800, B4800},
    {9600, B9600}, {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200},
};

speed_t to_speed(int baud) {
  for (const auto &s : speeds)
    if (s.baud == baud) return s.speed;
  return B0;
}

int from_speed(speed_t speed) {
  for (const auto &s : speeds)
    if (s.speed == speed) return s.baud;
  return 0;
}

int data_bits_of(tcflag_t cflag) {
  switch (cflag & CSIZE) {
    case CS5:
      return 5;
    case CS6:
      return 6;
    case CS7:
      return 7;
    default:
      return 8;
  }
}

tcflag_t csize_of(int data_bits) {
  switch (data_bits) {
    case 5:
      return CS5;
    case 6:
      return CS6;
    case 7:
      return CS7;
    default:
      return CS8;
  }
}

int posix_line_get(void *, int fd, vr_line_settings *out) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) return failure();
  *out = vr_line_settings{};
  out->baud = from_speed(cfgetospeed(&t));
  out->data_bits = data_bits_of(t.c_cflag);
  out->parity = (t.c_cflag & PARENB) ? ((t.c_cflag & PARODD) ? 1 : 2) : 0;
  out->stop_bits = (t.c_cflag & CSTOPB) ? 2 : 1;
  out->local = (t.c_cflag & CLOCAL) != 0;
  out->read_enable = (t.c_cflag & CREAD) != 0;
  out->hangup_on_close = (t.c_cflag & HUPCL) != 0;
  out->raw = t.c_iflag == 0 && t.c_oflag == 0 && t.c_lflag == 0;
  out->min_read = t.c_cc[VMIN];
  out->read_timeout = t.c_cc[VTIME];
  return 0;
}

// The control flags are rebuilt from the settings alone (anything not named there, such as
// hardware flow control or hang-up on close, ends up off); the input, output and local flags
// are cleared for a raw line and otherwise kept as the line had them.
int posix_line_set(void *, int fd, const vr_line_settings *s) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) return failure();
  speed_t speed = to_speed(s->baud);
  if (speed == B0 || s->data_bits < 5 || s->data_bits > 8 || s->parity < 0 || s->parity > 2 ||
      s->min_read < 0 || s->min_read > 255 || s->read_timeout < 0 || s->read_timeout > 255)
    return EINVAL;
  t.c_cflag = csize_of(s->data_bits) | (s->local ? CLOCAL : 0) | (s->read_enable ? CREAD : 0) |
              (s->hangup_on_close ? HUPCL : 0) | (s->stop_bits == 2 ? CSTOPB : 0) |
              (s->parity ? (PARENB | (s->parity == 1 ? PARODD : 0)) : 0);
  if (s->raw) {
    t.c_iflag = 0;
    t.c_oflag = 0;
    t.c_lflag = 0;
  }
  t.c_cc[VMIN] = static_cast<cc_t>(s->min_read);
  t.c_cc[VTIME] = static_cast<cc_t>(s->read_timeout);
  if (cfsetispeed(&t, speed) != 0 || cfsetospeed(&t, speed) != 0) return EINVAL;
  if (tcsetattr(fd, TCSANOW, &t) != 0) return failure();
  // tcsetattr succeeds when any part of the request took; a line that silently kept another
  // speed or character size would garble every byte, so such a line counts as rejected.
  termios now{};
  if (tcgetattr(fd, &now) != 0) return failure();
  if (cfgetospeed(&now) != speed || (now.c_cflag & CSIZE) != (t.c_cflag & CSIZE)) return EINVAL;
  return 0;
}

int posix_line_modem(void *, int fd, int lines, int raise) {
  int bits = ((lines & VR_MODEM_DTR) ? TIOCM_DTR : 0) | ((lines & VR_MODEM_RTS) ? TIOCM_RTS : 0);
  return ioctl(fd, raise ? TIOCMBIS : TIOCMBIC, &bits) == 0 ? 0 : failure();
}

int posix_line_flush(void *, int fd) {
  return tcflush(fd, TCIOFLUSH) == 0 ? 0 : failure();
}

int posix_line_nodelay(void *, int fd) {
  int flags = fcntl(fd, F_GETFL);
  if (flags < 0) return failure();
  return fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0 ? 0 : failure();
}

// Linux has no stream modules on its terminal lines: there is never one to pop.
int posix_line_top_module(void *, int, char *name, int size) {
  if (name && size > 0) name[0] = '\0';
  return 0;
}

int posix_line_pop_module(void *, int) {
  return EINVAL;
}

int posix_capture_open(void *, const char *path) {
  // Never through a symbolic link: one planted at the path in a shared folder would make the
  // Logitech driver's clearing of the rings write zeros into a file of the user's own.
  int fd = open(path, O_RDWR | O_NOFOLLOW | O_CLOEXEC);
  return fd < 0 ? -1 : fd;
}

// Whether VRLIB_CAPTURE_UNSAFE=1 lets the drivers map an area that other users can write.
bool unsafe_capture_allowed() {
  const char *value = std::getenv("VRLIB_CAPTURE_UNSAFE");
  return value != nullptr && std::strcmp(value, "1") == 0;
}

unsigned char *posix_capture_map(void *, int fd) {
  // A regular file standing in for the device must hold the whole area: touching a mapped page
  // beyond its end would kill the process instead of failing here.
  struct stat st {};
  if (fstat(fd, &st) != 0) return nullptr;
  if (S_ISREG(st.st_mode) &&
      st.st_size < capture_map_offset_bytes + static_cast<off_t>(capture_area_bytes))
    return nullptr;
  // Anyone who may write the area can put fake records in the rings, which the drivers decode
  // as poses: such an area (a file planted world-writable in a shared folder, say) is refused
  // like a missing device. Group write stays allowed, since the daemon's group shares it.
  if ((st.st_mode & S_IWOTH) != 0 && !unsafe_capture_allowed()) return nullptr;
  void *area = mmap(nullptr, capture_area_bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd,
                    capture_map_offset_bytes);
  return area == MAP_FAILED ? nullptr : static_cast<unsigned char *>(area);
}

const vr_platform posix = {
    nullptr,
    posix_hrtime,
    posix_hrvtime,
    posix_sleep,
    posix_line_open,
    posix_line_write,
    posix_line_close,
    posix_line_get,
    posix_line_set,
    posix_line_modem,
    posix_line_flush,
    posix_line_nodelay,
    posix_line_top_module,
    posix_line_pop_module,
    posix_capture_open,
    posix_capture_map,
    vr::os::posix_udp_open,
    vr::os::posix_udp_receive,
    vr::os::posix_udp_send,
    vr::os::posix_udp_close,
};

}  // namespace

namespace vr::os {
int read_file(const char *path, std::string &out, std::size_t max_bytes) {
  // Without waiting and without following a link: opening a FIFO with no writer would block
  // (a context made with VRLIB_CONFIG naming one would never come back), and a link could hand
  // the reader a file the user never meant. Only a regular file is read.
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    const int error = failure();
    // A socket cannot be opened at all; say what it is rather than "no such device".
    struct stat st {};
    if (error == ENXIO && lstat(path, &st) == 0)
      return S_ISSOCK(st.st_mode) ? not_regular_socket : not_regular_device;
    return error;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0) {
    const int error = failure();
    close(fd);
    return error;
  }
  if (!S_ISREG(st.st_mode)) {
    close(fd);
    if (S_ISDIR(st.st_mode)) return EISDIR;
    if (S_ISFIFO(st.st_mode)) return not_regular_fifo;
    if (S_ISSOCK(st.st_mode)) return not_regular_socket;
    return not_regular_device;
  }
  out.clear();
  char chunk[4096];
  int error = 0;
  for (;;) {
    const ssize_t got = read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      error = failure();
      break;
    }
    if (got == 0) break;
    if (out.size() + static_cast<std::size_t>(got) > max_bytes) {
      error = EFBIG;
      break;
    }
    out.append(chunk, static_cast<std::size_t>(got));
  }
  close(fd);
  return error;
}

namespace {
// A fresh name beside the target for each try, so that nothing planted at a guessable name is
// ever opened: O_EXCL with O_NOFOLLOW refuses any existing name, a link included.
std::string temporary_name(const char *path, unsigned attempt) {
  char suffix[64];
  std::snprintf(suffix, sizeof suffix, ".tmp%ld.%lld.%u", static_cast<long>(getpid()),
                clock_ns(CLOCK_MONOTONIC), attempt);
  return std::string(path) + suffix;
}
constexpr unsigned temporary_attempts = 100;
}  // namespace

int replace_file(const char *path, std::string_view text) {
  // A new sibling file, renamed over the old one when complete: a failed write never leaves a
  // half-written set-up behind, and a name planted beforehand (a link to another file) is never
  // written through. The mode is 0666 less the umask, as for any new file.
  std::string temporary;
  int fd = -1;
  for (unsigned attempt = 0; attempt < temporary_attempts && fd < 0; ++attempt) {
    temporary = temporary_name(path, attempt);
    fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) return failure();
  }
  if (fd < 0) return EEXIST;
  int error = 0;
  for (std::size_t done = 0; done < text.size() && error == 0;) {
    const ssize_t put = write(fd, text.data() + done, text.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) error = failure();
    if (put > 0) done += static_cast<std::size_t>(put);
  }
  if (error == 0 && fsync(fd) != 0) error = failure();
  if (close(fd) != 0 && error == 0) error = failure();
  if (error == 0 && rename(temporary.c_str(), path) != 0) error = failure();
  if (error != 0) unlink(temporary.c_str());
  return error;
}

const vr_platform &posix_platform() {
  return posix;
}
}  // namespace vr::os
