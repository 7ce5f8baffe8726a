// Hostile VRPN peers on the loopback interface, and the measures that show whether they hold up
// the library: the wall time of each frame, and the moments the tracking status changes.
//
// A VRPN client asks its server for a connection with a datagram ("<its address> <its TCP
// port>") and waits for the server to connect back. HostileServer answers that call back and
// then misbehaves; HostileClient connects to a VRPN server and misbehaves there.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <vrpn_Connection.h>

namespace hostile {

// The longest frame a hostile peer may cause when the scheduler did not interrupt it, and the
// longest any frame may last at all: a frame that waited on the peer lasts until the peer gives
// up, far longer than any preemption of a busy machine.
constexpr double frame_budget_s = 5e-3;
constexpr double frame_never_s = 0.1;

// What the peer sends once connected, before it holds the connection open and says nothing.
enum class Attack {
  partial_cookie,         // the first 5 bytes of VRPN's 24-byte cookie
  cookie_partial_header,  // the whole cookie, then 10 bytes of a 24-byte message header
  garbage,                // 64 bytes that are no cookie
  garbage_after_cookie,   // the whole cookie, then 64 bytes that are no message
  never_answers,          // takes the request and never connects back
  closes_at_once,         // connects back and closes straight away
};

inline const char *name_of(Attack a) {
  constexpr const char *names[] = {
      "partial cookie",           "cookie and partial header", "garbage",
      "garbage after the cookie", "a peer that never answers", "a peer that closes at once"};
  return names[static_cast<int>(a)];
}

constexpr std::size_t cookie_bytes = 24;
constexpr std::size_t partial_cookie_bytes = 5;
constexpr std::size_t partial_header_bytes = 10;
constexpr std::size_t garbage_bytes = 64;

// VRPN's own cookie, as a peer of this version sends it.
inline std::vector<char> cookie() {
  std::vector<char> c(501, 0);
  write_vrpn_cookie(c.data(), c.size(), 0);
  c.resize(cookie_bytes);
  return c;
}

// The bytes of an attack, sent at once after connecting.
inline std::vector<char> bytes_of(Attack a) {
  std::vector<char> out;
  const std::vector<char> c = cookie();
  // A message header: length 64 (header and body), a time, sender 0, type 0, padding.
  const std::uint32_t header[6] = {htonl(64), htonl(1), htonl(2), 0, 0, 0};
  const char *h = reinterpret_cast<const char *>(header);
  switch (a) {
    case Attack::partial_cookie:
      out.assign(c.begin(), c.begin() + partial_cookie_bytes);
      break;
    case Attack::cookie_partial_header:
      out = c;
      out.insert(out.end(), h, h + partial_header_bytes);
      break;
    case Attack::garbage:
      out.assign(garbage_bytes, '\xa5');
      break;
    case Attack::garbage_after_cookie:
      out = c;
      out.insert(out.end(), garbage_bytes, '\xa5');
      break;
    case Attack::never_answers:
    case Attack::closes_at_once:
      break;
  }
  return out;
}

inline sockaddr_in loopback(int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<unsigned short>(port));
  return a;
}

// A TCP connection to 127.0.0.1:port (blocking connect: the loopback answers at once), or -1.
inline int connect_to(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  const sockaddr_in a = loopback(port);
  if (connect(fd, reinterpret_cast<const sockaddr *>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

inline void send_all(int fd, const std::vector<char> &bytes) {
  if (!bytes.empty()) (void)send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
}

// True once the other end has closed the connection (without waiting).
inline bool closed_by_peer(int fd) {
  char b[256];
  for (;;) {
    const ssize_t n = recv(fd, b, sizeof b, MSG_DONTWAIT);
    if (n == 0) return true;
    if (n < 0) return errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR;
  }
}

// A stand-in VRPN server on 127.0.0.1:port that takes every connection request, connects back
// and attacks, in a thread of its own; the connections stay open until it goes.
class HostileServer {
 public:
  HostileServer(int port, Attack attack) : attack_(attack) {
    udp_ = socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in a = loopback(port);
    ok_ = udp_ >= 0 && bind(udp_, reinterpret_cast<const sockaddr *>(&a), sizeof a) == 0;
    if (ok_) thread_ = std::thread([this] { run(); });
  }
  ~HostileServer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    for (int fd : held_) close(fd);
    if (udp_ >= 0) close(udp_);
  }
  HostileServer(const HostileServer &) = delete;
  HostileServer &operator=(const HostileServer &) = delete;

  bool ok() const { return ok_; }
  int requests() const { return requests_; }
  int attacks() const { return attacks_; }
  // Whether the library has closed every connection this peer holds.
  bool all_dropped() {
    std::lock_guard<std::mutex> lock(mutex_);
    return !held_.empty() && std::all_of(held_.begin(), held_.end(), closed_by_peer);
  }

 private:
  void run() {
    while (!stop_) {
      pollfd p{udp_, POLLIN, 0};
      if (poll(&p, 1, 5) <= 0) continue;
      char msg[200] = {};
      sockaddr_in from{};
      socklen_t length = sizeof from;
      const ssize_t n =
          recvfrom(udp_, msg, sizeof msg - 1, 0, reinterpret_cast<sockaddr *>(&from), &length);
      if (n <= 0) continue;
      ++requests_;
      char host[100] = {};
      int port = 0;
      if (attack_ == Attack::never_answers || std::sscanf(msg, "%99s %d", host, &port) != 2 ||
          std::strcmp(host, "127.0.0.1") != 0)
        continue;
      const int fd = connect_to(port);
      if (fd < 0) continue;
      ++attacks_;
      if (attack_ == Attack::closes_at_once) {
        close(fd);
        continue;
      }
      send_all(fd, bytes_of(attack_));
      std::lock_guard<std::mutex> lock(mutex_);
      held_.push_back(fd);
    }
  }

  Attack attack_;
  int udp_ = -1;
  bool ok_ = false;
  std::atomic<bool> stop_{false};
  std::atomic<int> requests_{0};
  std::atomic<int> attacks_{0};
  std::mutex mutex_;
  std::vector<int> held_;
  std::thread thread_;
};

// Wall time of a call, and whether the scheduler took the processor away during it: on a busy
// machine a frame can be preempted for longer than its budget without the library waiting for
// anything, whereas a frame that waits on a socket gives the processor up by itself.
struct Timed {
  double seconds = 0.0;
  bool preempted = false;
};

template <typename F>
Timed timed(F &&f) {
  rusage before{}, after{};
  getrusage(RUSAGE_THREAD, &before);
  const auto start = std::chrono::steady_clock::now();
  f();
  const auto end = std::chrono::steady_clock::now();
  getrusage(RUSAGE_THREAD, &after);
  return {std::chrono::duration<double>(end - start).count(), after.ru_nivcsw != before.ru_nivcsw};
}

// The longest frames of a run: overall, and among those the scheduler did not interrupt.
struct FrameTimes {
  double max_s = 0.0;
  double max_uninterrupted_s = 0.0;
  int frames = 0;
  void add(const Timed &t) {
    ++frames;
    max_s = std::max(max_s, t.seconds);
    if (!t.preempted) max_uninterrupted_s = std::max(max_uninterrupted_s, t.seconds);
  }
};

}  // namespace hostile
