// The default platform's UDP sockets: IPv4 datagram sockets that never block, with the kernel's
// arrival time of each datagram brought onto the monotonic clock that hrtime reads.
#include "vr_platform.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

namespace {

constexpr long long ns_per_s = 1000000000LL;

int failure() {
  return errno != 0 ? errno : EIO;
}

long long clock_ns(clockid_t id) {
  timespec ts{};
  clock_gettime(id, &ts);
  return static_cast<long long>(ts.tv_sec) * ns_per_s + ts.tv_nsec;
}

sockaddr_in endpoint(unsigned address, int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(address);
  a.sin_port = htons(static_cast<unsigned short>(port));
  return a;
}

bool valid_port(int port, bool zero_allowed) {
  return port <= 65535 && (port > 0 || (zero_allowed && port == 0));
}

// The kernel stamps a datagram on the real-time clock; hrtime is monotonic. The two differ by a
// fixed amount between adjustments, so the stamp moves over by today's difference.
long long monotonic_arrival(const msghdr &msg) {
  const long long now_mono = clock_ns(CLOCK_MONOTONIC);
  for (cmsghdr *c = CMSG_FIRSTHDR(&msg); c != nullptr;
       c = CMSG_NXTHDR(const_cast<msghdr *>(&msg), c)) {
    if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_TIMESTAMPNS) continue;
    timespec stamp{};
    std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
    const long long stamp_ns = static_cast<long long>(stamp.tv_sec) * ns_per_s + stamp.tv_nsec;
    const long long age_ns = clock_ns(CLOCK_REALTIME) - stamp_ns;
    // A stamp from the future (clock stepped back) says nothing: take "now".
    return age_ns >= 0 ? now_mono - age_ns : now_mono;
  }
  return now_mono;
}

}  // namespace

namespace vr::os {

int posix_udp_open(void *, unsigned address, int port, int *fd) {
  if (fd == nullptr || !valid_port(port, true)) return EINVAL;
  const int s = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (s < 0) return failure();
  const int on = 1;
  // Without the stamp the arrival time is the moment of reading, up to a frame late.
  setsockopt(s, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
  const sockaddr_in a = endpoint(address, port);
  if (bind(s, reinterpret_cast<const sockaddr *>(&a), sizeof a) != 0) {
    const int error = failure();
    close(s);
    return error;
  }
  *fd = s;
  return 0;
}

int posix_udp_receive(void *, int fd, unsigned char *bytes, int size, long long *arrival_ns) {
  if (bytes == nullptr || size < 0) return -1;
  iovec io{bytes, static_cast<size_t>(size)};
  alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(timespec)) + 64];
  msghdr msg{};
  msg.msg_iov = &io;
  msg.msg_iovlen = 1;
  msg.msg_control = control;
  msg.msg_controllen = sizeof control;
  // MSG_TRUNC: the datagram's true length, so that a long one is not taken for a short one.
  const ssize_t n = recvmsg(fd, &msg, MSG_DONTWAIT | MSG_TRUNC);
  if (n < 0) return -1;
  if (arrival_ns != nullptr) *arrival_ns = monotonic_arrival(msg);
  return n > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(n);
}

int posix_udp_send(void *, int fd, unsigned address, int port, const unsigned char *bytes,
                   int count) {
  if (bytes == nullptr || count < 0 || !valid_port(port, false)) return EINVAL;
  const sockaddr_in a = endpoint(address, port);
  const ssize_t n = sendto(fd, bytes, static_cast<size_t>(count), MSG_DONTWAIT | MSG_NOSIGNAL,
                           reinterpret_cast<const sockaddr *>(&a), sizeof a);
  if (n < 0) return failure();
  return n == count ? 0 : EMSGSIZE;
}

void posix_udp_close(void *, int fd) {
  if (fd >= 0) close(fd);
}

}  // namespace vr::os
