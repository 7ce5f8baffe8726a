// Cost of the VRPN source's per-frame poll on an idle loopback connection (nothing arrives), of
// one that takes a head and a mouse report, and of polling while no server answers.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vrpn_Connection.h>
#include <vrpn_Tracker.h>

#include "vrlib/vr.h"

namespace {

int free_port() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof a;
  bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
  getsockname(fd, reinterpret_cast<sockaddr *>(&a), &length);
  close(fd);
  return ntohs(a.sin_port);
}

// A VRPN tracker server and a context connected to it through the VRPN source.
struct Link {
  vrpn_Connection *connection = nullptr;
  vrpn_Tracker_Server *tracker = nullptr;
  vr_ctx *ctx = nullptr;
  double p[3] = {0.1, 0.2, 0.5};
  double q[4] = {0, 0, 0, 1};

  Link() {
    const int port = free_port();
    connection = vrpn_create_server_connection(("127.0.0.1:" + std::to_string(port)).c_str());
    tracker = new vrpn_Tracker_Server("Tracker0", connection, 2);
    ctx = vr_ctx_create();
    vr_set_int(ctx, VR_GLASSES_SOURCE, VR_GLASSES_SOURCE_VRPN);
    vr_set_int(ctx, VR_MOUSE_SOURCE, VR_MOUSE_SOURCE_VRPN);
    vr_vrpn_set_devices(ctx, ("Tracker0@127.0.0.1:" + std::to_string(port)).c_str(), nullptr);
    vr_init_glasses_and_mouse_6d(ctx, 1, 1);
    int state = 0;
    for (int i = 0; i < 5000 && state != VR_TRACK_TRACKING; ++i) {
      send();
      vr_comp_view(ctx);
      vr_get_int(ctx, VR_HEAD_TRACK_STATE, &state);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  ~Link() {
    vr_quit(ctx);
    std::free(ctx);
    delete tracker;
    connection->removeReference();
  }
  void send() {
    timeval now;
    vrpn_gettimeofday(&now, nullptr);
    tracker->report_pose(0, now, p, q);
    tracker->report_pose(1, now, p, q);
    tracker->mainloop();
    connection->mainloop();
  }
  // The part of vr_comp_view that is the VRPN source's: its two handlers.
  void poll() {
    ctx->mouse_event_fn(ctx);
    ctx->glasses_event_fn(ctx);
  }
};

void BM_VrpnPollIdle(benchmark::State &state) {
  Link link;
  int connected = 0;
  vr_get_int(link.ctx, VR_VRPN_CONNECTED, &connected);
  if (!connected) state.SkipWithError("no VRPN connection on loopback");
  for (auto _ : state) link.poll();
}

void BM_VrpnFrameIdle(benchmark::State &state) {
  Link link;
  for (auto _ : state) vr_comp_view(link.ctx);
}

void BM_VrpnPollTwoReports(benchmark::State &state) {
  Link link;
  for (auto _ : state) {
    state.PauseTiming();
    link.send();
    // Lets the reports reach the client's socket before the timed poll.
    std::this_thread::sleep_for(std::chrono::microseconds(50));
    state.ResumeTiming();
    link.poll();
  }
}

// No server at all: every poll looks for the server's call back, and every two seconds VRPN
// sends its connection request again, all from inside the frame's poll.
void BM_VrpnPollNoServer(benchmark::State &state) {
  vr_ctx *ctx = vr_ctx_create();
  vr_set_int(ctx, VR_GLASSES_SOURCE, VR_GLASSES_SOURCE_VRPN);
  vr_vrpn_set_devices(ctx, ("Tracker0@127.0.0.1:" + std::to_string(free_port())).c_str(), nullptr);
  vr_init_glasses_and_mouse_6d(ctx, 1, 0);
  for (auto _ : state) ctx->glasses_event_fn(ctx);
  vr_quit(ctx);
  std::free(ctx);
}

}  // namespace

BENCHMARK(BM_VrpnPollIdle);
BENCHMARK(BM_VrpnPollNoServer)->MinTime(3.0);
BENCHMARK(BM_VrpnFrameIdle);
BENCHMARK(BM_VrpnPollTwoReports)->Iterations(2000);
