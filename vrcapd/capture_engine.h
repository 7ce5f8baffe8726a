// The capture engine of vrcapd: copies every byte received on the serial lines of ports A and B
// into the two rings of a capture file that the library maps, with the layout the library reads
// (a 4096-byte area at offset 65536 of the file). Kept apart from the program's options, so that
// the daemon, its benchmark and its tests drive the same code.
#pragma once

#include <csignal>
#include <string>
#include <sys/types.h>
#include <termios.h>

namespace vrcapd {

constexpr long area_offset_bytes = 65536;
constexpr long area_file_bytes = area_offset_bytes + 4096;
constexpr long long reopen_interval_ms = 1000;

// Exit statuses of the daemon.
enum ExitStatus { exit_ok = 0, exit_failure = 1, exit_bad_input = 2, exit_busy = 3 };

// One-line messages, to the standard error stream or to the system log once detached.
struct Logger {
  bool verbose = false;
  bool to_syslog = false;
  void info(const char *format, ...) const __attribute__((format(printf, 2, 3)));
  void debug(const char *format, ...) const __attribute__((format(printf, 2, 3)));
  void error(const char *format, ...) const __attribute__((format(printf, 2, 3)));
};

// No --group: the area keeps the group it was created with (the daemon's, or the folder's).
constexpr gid_t keep_group = static_cast<gid_t>(-1);

// The capture file, opened for one writer: created with mode 0660, never through a symbolic
// link, locked exclusively, and mapped. The file is never removed or shortened, so that a
// program still holding the mapping goes on reading after a restart of the daemon. A file
// already at the path is used only when it belongs to the daemon's effective user and grants
// nothing to others; any other is refused untouched (someone else could read the tracker
// bytes or write fake ones), and the user removes it.
class Area {
 public:
  Area() = default;
  Area(const Area &) = delete;
  Area &operator=(const Area &) = delete;
  ~Area();

  // exit_ok, or another status with a one-line reason in `why`. With a `group`, the area is
  // given to that group (the daemon's user must be a member, or root) so that its members'
  // programs can map it.
  int open(const std::string &path, std::string &why, gid_t group = keep_group);
  // Stores bytes in a port's ring: each byte at the write offset, then the offset advanced with
  // a release store, so that a reader that loads the offset (acquire) sees the byte.
  void store(int port, const unsigned char *bytes, int count);
  const unsigned char *base() const { return area_; }

 private:
  int fd_ = -1;
  unsigned char *area_ = nullptr;
  int next_[2] = {0, 0};
};

// The serial line of one port, as the daemon holds it.
struct Line {
  int port = 0;
  std::string path;
  int fd = -1;
  bool vanished = false;       // logged as gone; reopened every second
  long long next_try_ms = 0;   // monotonic time of the next reopening
  bool have_settings = false;  // speed and framing seen while it was open
  termios settings{};
};

// A one-line explanation of why a path cannot be a capture line, with what to try next; empty
// when it opened. On success the descriptor is in `fd`.
std::string open_line(const std::string &path, int &fd);

// Puts the daemon's own descriptor into raw mode (no input, output or local processing); the
// speed and framing stay as the library set them.
bool make_raw(int fd);

// Asks an adapter for low latency: ASYNC_LOW_LATENCY where the driver takes it, and the FTDI
// latency timer (sysfs) lowered to 1 ms when writable. Logs one line about the timer.
void request_low_latency(const Line &line, const Logger &log);

class Engine {
 public:
  Engine(Area &area, const Logger &log) : area_(area), log_(log) {}
  // Adds a port's line; exit_ok or exit_bad_input with a one-line reason in `why`.
  int add_line(int port, const std::string &path, std::string &why);
  // Captures until stop() or until `stop_flag` becomes non-zero (checked whenever a signal
  // interrupts the wait; the caller blocks those signals and passes the mask to wait with).
  void run(const volatile std::sig_atomic_t *stop_flag, const sigset_t *wait_mask);
  // From another thread or a signal handler.
  void stop();
  ~Engine();

 private:
  void drain(Line &line);
  void vanish(Line &line, const char *reason);
  void try_reopen(Line &line, long long now_ms);

  Area &area_;
  const Logger &log_;
  Line lines_[2];
  int line_count_ = 0;
  int wake_fd_ = -1;  // an eventfd that stop() signals
};

long long monotonic_ms();

}  // namespace vrcapd
