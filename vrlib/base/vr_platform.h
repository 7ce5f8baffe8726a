// The platform layer: every call the library makes into the operating system goes through the
// installed vr_platform table (see vr.h). Modules call these thin wrappers, never the system.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "vr.h"

namespace vr::os {

const vr_platform &table();

inline long long hrtime() { return table().hrtime(table().user); }
inline long long hrvtime() { return table().hrvtime(table().user); }
inline void sleep_seconds(unsigned s) { table().sleep_seconds(table().user, s); }
inline int line_open(const char *path) { return table().line_open(table().user, path); }
inline int line_write(int fd, const void *bytes, int n) {
  return table().line_write(table().user, fd, bytes, n);
}
inline void line_close(int fd) { table().line_close(table().user, fd); }
inline int line_get(int fd, vr_line_settings *out) { return table().line_get(table().user, fd, out); }
inline int line_set(int fd, const vr_line_settings *s) {
  return table().line_set(table().user, fd, s);
}
inline int line_modem(int fd, int lines, int raise) {
  return table().line_modem(table().user, fd, lines, raise);
}
inline int line_flush(int fd) { return table().line_flush(table().user, fd); }
inline int line_nodelay(int fd) { return table().line_nodelay(table().user, fd); }
inline int line_top_module(int fd, char *name, int size) {
  return table().line_top_module(table().user, fd, name, size);
}
inline int line_pop_module(int fd) { return table().line_pop_module(table().user, fd); }
inline int capture_open(const char *path) { return table().capture_open(table().user, path); }
inline unsigned char *capture_map(int fd) { return table().capture_map(table().user, fd); }
inline int udp_open(unsigned address, int port, int *fd) {
  return table().udp_open(table().user, address, port, fd);
}
inline int udp_receive(int fd, unsigned char *bytes, int size, long long *arrival_ns) {
  return table().udp_receive(table().user, fd, bytes, size, arrival_ns);
}
inline int udp_send(int fd, unsigned address, int port, const unsigned char *bytes, int count) {
  return table().udp_send(table().user, fd, address, port, bytes, count);
}
inline void udp_close(int fd) {
  table().udp_close(table().user, fd);
}

// The Linux/POSIX implementation (vr_platform_posix.cpp), and its UDP entries
// (vr_platform_udp.cpp).
const vr_platform &posix_platform();
int posix_udp_open(void *user, unsigned address, int port, int *fd);
int posix_udp_receive(void *user, int fd, unsigned char *bytes, int size, long long *arrival_ns);
int posix_udp_send(void *user, int fd, unsigned address, int port, const unsigned char *bytes,
                   int count);
void posix_udp_close(void *user, int fd);

// Plain files (set-up files), outside the device table: nothing of them needs simulating.
// Reads a whole regular file of at most max_bytes into out: 0, or an error number (EFBIG when
// larger, ELOOP for a symbolic link, which is not followed, EISDIR for a folder), or one of the
// negative numbers below for a name that is no file (refused at once, never waited on).
int read_file(const char *path, std::string &out, std::size_t max_bytes);
constexpr int not_regular_fifo = -1;
constexpr int not_regular_socket = -2;
constexpr int not_regular_device = -3;
// Writes text to path, replacing the old file only once the new one is complete: 0 or an error
// number (the old file then stays as it was).
int replace_file(const char *path, std::string_view text);

// Device paths given by a set-up file: below a path the application set (vr_set_device_path) and
// below the environment's, above the built-in names. Same rules as vr_set_device_path.
int set_file_device_path(int which, const char *path);
// The path a set-up file should keep: the application's, else a file's, else the built-in one
// (never the environment's, which belongs to the launcher of this run). NULL for an unknown
// device.
const char *device_path_for_file(int which);

}  // namespace vr::os
