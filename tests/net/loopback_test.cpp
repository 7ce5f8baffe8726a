// The default platform's real UDP sockets on loopback (127.0.0.1 only): datagrams sent by the
// test reach the views, and a second process bound to the output port receives the library's
// datagrams, which decode to the tracked head.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "net_fixture.h"

namespace {

using net_test::datagram;
using net_test::loopback;

// A free loopback port, as the system hands one out.
int free_port() {
  const vr_platform *os = vr_platform_default();
  int fd = -1;
  if (os->udp_open(nullptr, loopback, 0, &fd) != 0) return -1;
  sockaddr_in a{};
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
  os->udp_close(nullptr, fd);
  return ntohs(a.sin_port);
}

void send_to(int port, const std::vector<unsigned char> &bytes) {
  const int s = socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_GE(s, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(loopback);
  a.sin_port = htons(static_cast<unsigned short>(port));
  ASSERT_EQ(sendto(s, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr *>(&a), sizeof a),
            static_cast<ssize_t>(bytes.size()));
  close(s);
}

class Loopback : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("VRLIB_OPENTRACK");
    vr_platform_install(nullptr);
    ctx = vr_ctx_create();
    ASSERT_NE(ctx, nullptr);
    ctx->glasses_source = VR_SOURCE_NETWORK;
    ctx->tracking_mode = 1;
    in_port = free_port();
    ASSERT_GT(in_port, 0);
    ASSERT_EQ(vr_set_int(ctx, VR_NET_BIND_PORT, in_port), VR_OK);
  }
  void TearDown() override {
    vr_quit(ctx);
    std::free(ctx);
  }
  // Frames until the source has taken `packets` datagrams (real time: the kernel delivers them
  // within microseconds; two seconds is the limit for a loaded machine).
  bool frames_until(int packets) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    for (;;) {
      vr_comp_view(ctx);
      int n = 0;
      vr_get_int(ctx, VR_NET_PACKETS, &n);
      if (n >= packets) return true;
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
  vr_ctx *ctx = nullptr;
  int in_port = 0;
};

TEST_F(Loopback, DatagramsReachTheViews) {
  ASSERT_EQ(vr_init_glasses_and_mouse_6d(ctx, 1, 0), 1) << vr_net_message;
  vr_comp_view(ctx);
  dmat before;
  vr_mat_copy(ctx->left_view, before);

  const double v[6] = {-6.0, -12.0, 58.0, 5.0, 0.0, 0.0};
  send_to(in_port, datagram(v, 52));
  const double bad[6] = {0, 0, 1e9, 0, 0, 0};
  send_to(in_port, datagram(bad));
  send_to(in_port, std::vector<unsigned char>(20, 0));
  ASSERT_TRUE(frames_until(1));
  // The drops follow the good datagram in the same socket: wait for them too.
  for (int i = 0; i < 200; ++i) {
    int drops = 0, length = 0;
    vr_get_int(ctx, VR_NET_DROPS_ABSURD, &drops);
    vr_get_int(ctx, VR_NET_DROPS_LENGTH, &length);
    if (drops == 1 && length == 1) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    vr_comp_view(ctx);
  }
  int drops = 0, length = 0;
  vr_get_int(ctx, VR_NET_DROPS_ABSURD, &drops);
  vr_get_int(ctx, VR_NET_DROPS_LENGTH, &length);
  EXPECT_EQ(drops, 1);
  EXPECT_EQ(length, 1);
  EXPECT_EQ(ctx->head_to_dig[3][0], -6.0);
  EXPECT_EQ(ctx->head_to_dig[3][2], 58.0);
  EXPECT_FALSE(vr_mat_equal(ctx->left_view, before));
  // The kernel's arrival stamp, on the frames' time scale: before the clock is read again now,
  // and within the test's two seconds.
  double arrival = 0;
  vr_get_double(ctx, VR_NET_LAST_ARRIVAL, &arrival);
  vr_sync_pworld_time(ctx);
  EXPECT_LE(arrival, ctx->pworld_time_now);
  EXPECT_GT(arrival, ctx->pworld_time_now - 2.5);
}

TEST_F(Loopback, ASecondProgramReceivesTheOutputAsTheTrackedHead) {
  const int out_port = free_port();
  ASSERT_GT(out_port, 0);
  int ready[2], results[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(results), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The second program: binds the output port, says so, and passes on the first datagram.
    const int s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(loopback);
    a.sin_port = htons(static_cast<unsigned short>(out_port));
    const char ok = bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 ? 'y' : 'n';
    if (write(ready[1], &ok, 1) != 1) _exit(2);
    pollfd p{s, POLLIN, 0};
    unsigned char buf[128];
    ssize_t n = poll(&p, 1, 5000) == 1 ? recv(s, buf, sizeof buf, 0) : -1;
    if (n > 0 && write(results[1], buf, static_cast<size_t>(n)) != n) _exit(3);
    _exit(n == 48 ? 0 : 1);
  }
  char ok = 0;
  ASSERT_EQ(read(ready[0], &ok, 1), 1);
  ASSERT_EQ(ok, 'y');

  ASSERT_EQ(vr_init_glasses_and_mouse_6d(ctx, 1, 0), 1) << vr_net_message;
  ASSERT_EQ(vr_set_int(ctx, VR_NET_OUTPUT, 1), VR_OK);
  ASSERT_EQ(vr_set_int(ctx, VR_NET_OUTPUT_PORT, out_port), VR_OK);
  const double v[6] = {3.0, -14.0, 61.0, -8.0, 4.0, 1.0};
  send_to(in_port, datagram(v));
  ASSERT_TRUE(frames_until(1));

  unsigned char got[48];
  ASSERT_EQ(read(results[0], got, sizeof got), 48);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  vr::net::Packet p{};
  ASSERT_EQ(vr::net::decode_packet(got, 48, &p), vr::net::Verdict::accepted);
  // The head on the plate: the camera sits at the middle of the screen's top edge, square to it,
  // so the position is shifted and the angles are the sender's.
  const double want[6] = {36.5 / 2 + 3.0, 25.9 - 14.0, 61.0, -8.0, 4.0, 1.0};
  for (int k = 0; k < 6; ++k) EXPECT_NEAR(p.value[k], want[k], 1e-9) << k;
  for (int fd : {ready[0], ready[1], results[0], results[1]}) close(fd);
}

}  // namespace
