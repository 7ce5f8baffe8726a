// A port on the loopback interface that is free for both TCP and UDP right now, so that a VRPN
// server (the demo's wall, every VRPN test) listens where nothing else does. Header only: the
// demo and the tests share it without a library of their own.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vrtools {

// Whether a socket of this type (SOCK_STREAM, SOCK_DGRAM) can bind 127.0.0.1:port now.
inline bool bindable(int type, int port) {
  const int fd = socket(AF_INET, type, 0);
  if (fd < 0) return false;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<unsigned short>(port));
  const bool ok = bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
  close(fd);
  return ok;
}

// A port the system hands out for TCP on 127.0.0.1 that UDP can take as well; 0 when none.
inline int free_loopback_port() {
  constexpr int attempts = 50;
  for (int attempt = 0; attempt < attempts; ++attempt) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return 0;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr *>(&a), &length) == 0)
      port = ntohs(a.sin_port);
    close(fd);
    if (port != 0 && bindable(SOCK_DGRAM, port) && bindable(SOCK_STREAM, port)) return port;
  }
  return 0;
}

}  // namespace vrtools
