// Three contexts in one process naming one VRPN server (the three screens of a wall driven from
// one program) share VRPN's one connection to it; each still gets every report, whichever of
// them happens to read it, and a context that stops running frames for a while disturbs
// neither the others nor itself once it runs again.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <thread>

#include "vr.h"
#include "vrpn_test_server.h"

namespace {

using vrpn_test::get_int;

constexpr int contexts = 3;

long head_number(vr_ctx *ctx) {
  dmat m;
  vr_get_matrix(ctx, VR_HEAD_TO_DIG, m);
  return std::lround(m[3][0]);
}

TEST(VrpnSharedServer, EveryContextGetsEveryReportAndPausingOneDisturbsNoOther) {
  const int port = net_test::free_loopback_port();
  ASSERT_NE(port, 0);
  vrpn_test::TestServer server(port);
  ASSERT_TRUE(server.ok());
  vr_ctx *ctx[contexts];
  for (vr_ctx *&c : ctx) {
    c = vr_ctx_create();
    vr_set_int(c, VR_GLASSES_SOURCE, VR_GLASSES_SOURCE_VRPN);
    vr_set_int(c, VR_MOUSE_SOURCE, VR_MOUSE_SOURCE_VRPN);
    ASSERT_EQ(vr_vrpn_set_devices(c, vrpn_test::device_at(port).c_str(), nullptr), VR_OK);
    ASSERT_EQ(vr_init_glasses_and_mouse_6d(c, 1, 1), 1);
  }
  // Report n puts the head n cm along x (the context's unit is 100 cm).
  long n = 0;
  const auto send = [&] {
    ++n;
    const double p[3] = {0.01 * static_cast<double>(n), 0.2, 0.5}, q[4] = {0, 0, 0, 1};
    server.send(0, p, q);
    server.send(1, p, q);
    server.serve();
  };
  const auto frame = [&](int i) { vr_comp_view(ctx[i]); };
  ASSERT_TRUE(vrpn_test::run_until(
      [&] {
        send();
        for (int i = 0; i < contexts; ++i) frame(i);
      },
      [&] {
        for (vr_ctx *c : ctx)
          if (get_int(c, VR_HEAD_TRACK_STATE) != VR_TRACK_TRACKING) return false;
        return true;
      },
      5.0));

  // Each frame every context has the newest report, although the first to poll reads it; and
  // every report reaches every context.
  int reports_before[contexts];
  for (int i = 0; i < contexts; ++i) reports_before[i] = get_int(ctx[i], VR_VRPN_REPORTS);
  constexpr int frames = 300;
  int behind = 0;
  for (int f = 0; f < frames; ++f) {
    send();
    for (int i = 0; i < contexts; ++i) {
      frame(i);
      behind += head_number(ctx[i]) != n;
    }
  }
  EXPECT_EQ(behind, 0);
  for (int i = 0; i < contexts; ++i)
    EXPECT_EQ(get_int(ctx[i], VR_VRPN_REPORTS) - reports_before[i], 2 * frames) << i;

  // The third stops running frames for longer than the lost time; the other two keep tracking
  // every frame with every report.
  const auto pause_end =
      std::chrono::steady_clock::now() + std::chrono::duration<double>(VR_TRACK_LOST_SECONDS + 0.3);
  int untracked = 0;
  behind = 0;
  while (std::chrono::steady_clock::now() < pause_end) {
    send();
    for (int i = 0; i < 2; ++i) {
      frame(i);
      untracked += get_int(ctx[i], VR_HEAD_TRACK_STATE) != VR_TRACK_TRACKING;
      behind += head_number(ctx[i]) != n;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(untracked, 0);
  EXPECT_EQ(behind, 0);

  // Running again, the third tracks at once, with the newest report.
  send();
  frame(2);
  EXPECT_EQ(get_int(ctx[2], VR_HEAD_TRACK_STATE), VR_TRACK_TRACKING);
  EXPECT_EQ(head_number(ctx[2]), n);
  EXPECT_LT(vrpn_test::get_double(ctx[2], VR_HEAD_POSE_AGE), 0.05);

  // One context stops its source; the other two keep tracking on the connection they share.
  vr_vrpn_remove(ctx[1]);
  int lagging = 0;
  for (int f = 0; f < 100; ++f) {
    send();
    frame(0);
    frame(2);
    lagging += head_number(ctx[0]) != n || head_number(ctx[2]) != n;
  }
  EXPECT_EQ(lagging, 0);
  ASSERT_EQ(vr_vrpn_init(ctx[1], 1, 1), 1);
  ASSERT_TRUE(vrpn_test::run_until(
      [&] {
        send();
        for (int i = 0; i < contexts; ++i) frame(i);
      },
      [&] { return head_number(ctx[1]) == n; }, 3.0));

  // And when the server stops sending, each goes stale and lost by its own frames' clock. The
  // contexts may have read the last report a frame apart (whichever polled first after it came),
  // so each is waited for.
  for (vr_ctx *c : ctx) vr_comp_view(c);
  ASSERT_TRUE(vrpn_test::run_until(
      [&] {
        for (int i = 0; i < contexts; ++i) frame(i);
      },
      [&] {
        for (vr_ctx *c : ctx)
          if (get_int(c, VR_HEAD_TRACK_STATE) != VR_TRACK_LOST) return false;
        return true;
      },
      3.0));

  for (vr_ctx *c : ctx) {
    vr_quit(c);
    std::free(c);
  }
}

}  // namespace
