// The network source's frame handler and the pose output allocate nothing per frame, on the real
// sockets of the default platform (loopback), while datagrams good and bad arrive.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "alloc_count.h"
#include "net_fixture.h"

namespace {

using namespace alloc_count;

TEST(NetAllocation, FramesWithDatagramsAndOutputAllocateNothing) {
  ASSERT_NE(hooks_installed, 0);
  unsetenv("VRLIB_OPENTRACK");
  vr_platform_install(nullptr);
  vr_ctx *ctx = vr_ctx_create();
  ASSERT_NE(ctx, nullptr);
  ctx->glasses_source = VR_SOURCE_NETWORK;
  ctx->tracking_mode = 1;
  // A port of the system's choosing: bind, learn it, let it go.
  const int probe = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(net_test::loopback);
  ASSERT_EQ(bind(probe, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
  socklen_t len = sizeof a;
  getsockname(probe, reinterpret_cast<sockaddr *>(&a), &len);
  close(probe);
  ASSERT_EQ(vr_set_int(ctx, VR_NET_BIND_PORT, ntohs(a.sin_port)), VR_OK);
  ASSERT_EQ(vr_init_glasses_and_mouse_6d(ctx, 1, 0), 1) << vr_net_message;
  ASSERT_EQ(vr_set_int(ctx, VR_NET_OUTPUT, 1), VR_OK);
  ASSERT_EQ(vr_set_int(ctx, VR_NET_OUTPUT_PORT, 9), VR_OK);  // discard: nobody listens

  const int s = socket(AF_INET, SOCK_DGRAM, 0);
  const double good[6] = {1, -10, 55, 2, 1, 0}, absurd[6] = {0, 0, 1e6, 0, 0, 0};
  const auto g = net_test::datagram(good), b = net_test::datagram(absurd);
  vr_comp_view(ctx);  // the output's socket opens once, outside the count
  long total = 0;
  for (int i = 0; i < 50; ++i) {
    sendto(s, g.data(), g.size(), 0, reinterpret_cast<sockaddr *>(&a), sizeof a);
    sendto(s, b.data(), 20, 0, reinterpret_cast<sockaddr *>(&a), sizeof a);
    sendto(s, b.data(), b.size(), 0, reinterpret_cast<sockaddr *>(&a), sizeof a);
    allocations = 0;
    counting = true;
    vr_comp_view(ctx);
    counting = false;
    total += allocations;
  }
  close(s);
  EXPECT_EQ(total, 0);
  int packets = 0;
  vr_get_int(ctx, VR_NET_PACKETS, &packets);
  EXPECT_GT(packets, 0);
  vr_quit(ctx);
  std::free(ctx);
}

// The same with display-time tracking: every datagram goes through the pose predictor, and the
// eyes come from its prediction.
TEST(NetAllocation, DisplayTimeFramesAllocateNothing) {
  ASSERT_NE(hooks_installed, 0);
  unsetenv("VRLIB_OPENTRACK");
  vr_platform_install(nullptr);
  vr_ctx *ctx = vr_ctx_create();
  ASSERT_NE(ctx, nullptr);
  ctx->glasses_source = VR_SOURCE_NETWORK;
  ctx->tracking_mode = 1;
  ASSERT_EQ(vr_set_int(ctx, VR_TRACK_DISPLAY_TIME, 1), VR_OK);
  const int probe = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(net_test::loopback);
  ASSERT_EQ(bind(probe, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
  socklen_t len = sizeof a;
  getsockname(probe, reinterpret_cast<sockaddr *>(&a), &len);
  close(probe);
  ASSERT_EQ(vr_set_int(ctx, VR_NET_BIND_PORT, ntohs(a.sin_port)), VR_OK);
  ASSERT_EQ(vr_init_glasses_and_mouse_6d(ctx, 1, 0), 1) << vr_net_message;

  const int s = socket(AF_INET, SOCK_DGRAM, 0);
  long total = 0;
  for (int i = 0; i < 50; ++i) {
    // A head moving and turning, and now and then a pose far off (gated or held).
    const double x = i % 10 == 9 ? 80.0 : 0.2 * i;
    const double v[6] = {x, -10, 55, 0.3 * i, 1, 0};
    const auto g = net_test::datagram(v);
    sendto(s, g.data(), g.size(), 0, reinterpret_cast<sockaddr *>(&a), sizeof a);
    usleep(2000);
    allocations = 0;
    counting = true;
    vr_comp_view(ctx);
    counting = false;
    total += allocations;
  }
  close(s);
  EXPECT_EQ(total, 0);
  int packets = 0, held = 0, rejected = 0;
  vr_get_int(ctx, VR_NET_PACKETS, &packets);
  vr_get_int(ctx, VR_HELD_JUMPS, &held);
  vr_get_int(ctx, VR_REJECTED_VALUES, &rejected);
  EXPECT_GT(packets, 0);
  EXPECT_GT(held + rejected, 0);
  vr_quit(ctx);
  std::free(ctx);
}

}  // namespace
