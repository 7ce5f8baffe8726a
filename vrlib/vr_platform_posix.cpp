// The default platform: Linux/POSIX clocks, termios serial lines and the mapped capture device.
#include "vr_platform.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace {

constexpr off_t capture_map_offset_bytes = 65536;
constexpr size_t capture_area_bytes = 4096;

long long clock_ns(clockid_t id) {
  timespec ts{};
  clock_gettime(id, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

long long posix_hrtime(void *) { return clock_ns(CLOCK_MONOTONIC); }
long long posix_hrvtime(void *) { return clock_ns(CLOCK_THREAD_CPUTIME_ID); }

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
  return not_zero(open(path, O_RDWR | O_NOCTTY | O_CLOEXEC));
}

int posix_line_write(void *, int fd, const void *bytes, int count) {
  return static_cast<int>(write(fd, bytes, static_cast<size_t>(count)));
}

void posix_line_close(void *, int fd) { close(fd); }

speed_t to_speed(int baud) {
  switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    default: return B0;
  }
}

int from_speed(speed_t s) {
  switch (s) {
    case B1200: return 1200;
    case B2400: return 2400;
    case B4800: return 4800;
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    default: return 0;
  }
}

int posix_line_get(void *, int fd, vr_line_settings *out) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) return errno;
  *out = vr_line_settings{};
  out->baud = from_speed(cfgetospeed(&t));
  out->data_bits = (t.c_cflag & CSIZE) == CS7 ? 7 : (t.c_cflag & CSIZE) == CS8 ? 8 : 0;
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

int posix_line_set(void *, int fd, const vr_line_settings *s) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) return errno;
  speed_t speed = to_speed(s->baud);
  if (speed == B0) return EINVAL;
  t.c_cflag = (s->data_bits == 7 ? CS7 : CS8) | (s->local ? CLOCAL : 0) |
              (s->read_enable ? CREAD : 0) | (s->hangup_on_close ? HUPCL : 0) |
              (s->stop_bits == 2 ? CSTOPB : 0) |
              (s->parity ? (PARENB | (s->parity == 1 ? PARODD : 0)) : 0);
  if (s->raw) {
    t.c_iflag = 0;
    t.c_oflag = 0;
    t.c_lflag = 0;
  }
  t.c_cc[VMIN] = static_cast<cc_t>(s->min_read);
  t.c_cc[VTIME] = static_cast<cc_t>(s->read_timeout);
  cfsetispeed(&t, speed);
  cfsetospeed(&t, speed);
  if (tcsetattr(fd, TCSANOW, &t) != 0) return errno;
  return 0;
}

int posix_line_modem(void *, int fd, int lines, int raise) {
  int bits = ((lines & VR_MODEM_DTR) ? TIOCM_DTR : 0) | ((lines & VR_MODEM_RTS) ? TIOCM_RTS : 0);
  return ioctl(fd, raise ? TIOCMBIS : TIOCMBIC, &bits) == 0 ? 0 : errno;
}

int posix_line_flush(void *, int fd) { return tcflush(fd, TCIOFLUSH) == 0 ? 0 : errno; }

int posix_line_nodelay(void *, int fd) {
  int flags = fcntl(fd, F_GETFL);
  if (flags < 0) return errno;
  return fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0 ? 0 : errno;
}

// Linux has no stream modules on its terminal lines: there is never one to pop.
int posix_line_top_module(void *, int, char *name, int size) {
  if (name && size > 0) name[0] = '\0';
  return 0;
}

int posix_line_pop_module(void *, int) { return EINVAL; }

int posix_capture_open(void *, const char *path) { return open(path, O_RDWR | O_CLOEXEC); }

unsigned char *posix_capture_map(void *, int fd) {
  void *area = mmap(nullptr, capture_area_bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd,
                    capture_map_offset_bytes);
  return area == MAP_FAILED ? nullptr : static_cast<unsigned char *>(area);
}

const vr_platform posix = {
    nullptr,           posix_hrtime,        posix_hrvtime,         posix_sleep,
    posix_line_open,   posix_line_write,    posix_line_close,      posix_line_get,
    posix_line_set,    posix_line_modem,    posix_line_flush,      posix_line_nodelay,
    posix_line_top_module, posix_line_pop_module, posix_capture_open, posix_capture_map,
};

}  // namespace

namespace vr::os {
const vr_platform &posix_platform() { return posix; }
}  // namespace vr::os
