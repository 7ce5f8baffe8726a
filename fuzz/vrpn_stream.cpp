// The library's VRPN server reading what a client sends over TCP: VRPN's cookie, then messages
// (header, body) that a poll may find cut anywhere and must complete on a later one. The input
// is a run of chunks, each led by a byte giving its length (its low six bits, plus one); after
// each chunk the server runs one frame. Then the client closes its side, and the server must
// drop the connection within a few frames. One server serves every input.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "tools/common/free_port.h"
#include "vrlib/vr.h"

namespace {

constexpr int frames_to_drop = 20;

sockaddr_in loopback(int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<unsigned short>(port));
  return a;
}

struct Server {
  vr_ctx *ctx = nullptr;
  int port = 0;
  Server() {
    ctx = vr_ctx_create();
    for (int attempt = 0; attempt < 20 && port == 0; ++attempt) {
      const int p = vrtools::free_loopback_port();
      if (p != 0 && vr_vrpn_serve_start(ctx, "Tracker0", nullptr, p) == VR_OK) port = p;
    }
    if (port == 0) std::abort();
  }
};

bool closed_by_server(int fd) {
  char b[512];
  for (;;) {
    const ssize_t n = recv(fd, b, sizeof b, MSG_DONTWAIT);
    if (n == 0) return true;
    if (n < 0) return errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static Server server;
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  const sockaddr_in at = loopback(server.port);
  if (connect(fd, reinterpret_cast<const sockaddr *>(&at), sizeof at) != 0) std::abort();
  vr_vrpn_serve_frame(server.ctx);  // accepts the connection
  for (std::size_t i = 0; i < size;) {
    const std::size_t length = (data[i] & 0x3f) + 1u;
    ++i;
    const std::size_t n = length < size - i ? length : size - i;
    if (n > 0 && send(fd, data + i, n, MSG_NOSIGNAL | MSG_DONTWAIT) < 0) break;
    i += n;
    vr_vrpn_serve_frame(server.ctx);
  }
  shutdown(fd, SHUT_WR);
  bool dropped = false;
  for (int f = 0; f < frames_to_drop && !dropped; ++f) {
    vr_vrpn_serve_frame(server.ctx);
    dropped = closed_by_server(fd);
  }
  close(fd);
  // A client that has closed its side is gone: the server must not keep its connection.
  if (!dropped) std::abort();
  return 0;
}
