// Cost of the network head-tracker source: decoding one datagram, and one whole frame
// (vr_comp_view) with the source taking a datagram from a real loopback socket, with and without
// the pose output.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "vr_net.h"
#include "vrlib/vr.h"

namespace {

constexpr unsigned loopback = 0x7F000001u;

void BM_DecodeDatagram(benchmark::State &state) {
  vr::net::Packet p{{3.0, -12.0, 58.0, 10.0, -4.0, 1.0}};
  unsigned char bytes[vr::net::packet_bytes];
  vr::net::encode_packet(p, bytes);
  const int map[6] = {-1, 2, -3, 4, -5, 6};
  for (auto _ : state) {
    vr::net::Packet out{};
    benchmark::DoNotOptimize(vr::net::decode_packet(bytes, sizeof bytes, &out));
    benchmark::DoNotOptimize(vr::net::packet_to_pose(vr::net::map_axes(map, out)));
  }
}
BENCHMARK(BM_DecodeDatagram);

void BM_FrameWithDatagram(benchmark::State &state) {
  const bool output = state.range(0) != 0;
  vr_platform_install(nullptr);
  vr_ctx *ctx = vr_ctx_create();
  ctx->glasses_source = VR_SOURCE_NETWORK;
  ctx->tracking_mode = 1;
  const int probe = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(loopback);
  bind(probe, reinterpret_cast<sockaddr *>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(probe, reinterpret_cast<sockaddr *>(&a), &len);
  close(probe);
  vr_set_int(ctx, VR_NET_BIND_PORT, ntohs(a.sin_port));
  vr_set_int(ctx, VR_NET_OUTPUT, output ? 1 : 0);
  vr_set_int(ctx, VR_NET_OUTPUT_PORT, 9);
  if (!vr_init_glasses_and_mouse_6d(ctx, 1, 0)) {
    state.SkipWithError(vr_net_message);
    std::free(ctx);
    return;
  }
  const int s = socket(AF_INET, SOCK_DGRAM, 0);
  vr::net::Packet p{{3.0, -12.0, 58.0, 10.0, -4.0, 1.0}};
  unsigned char bytes[vr::net::packet_bytes];
  for (auto _ : state) {
    state.PauseTiming();
    p.value[0] += 1e-3;
    vr::net::encode_packet(p, bytes);
    sendto(s, bytes, sizeof bytes, 0, reinterpret_cast<sockaddr *>(&a), sizeof a);
    state.ResumeTiming();
    vr_comp_view(ctx);
    benchmark::DoNotOptimize(ctx->left_view[0][0]);
  }
  close(s);
  vr_quit(ctx);
  std::free(ctx);
}
BENCHMARK(BM_FrameWithDatagram)->Arg(0)->Arg(1)->ArgName("output");

}  // namespace
