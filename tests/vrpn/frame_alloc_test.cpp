// The VRPN source's per-frame poll allocates nothing once connected: neither on an idle
// connection nor while reports and button changes arrive.
#include <gtest/gtest.h>

#include <cstdlib>

#include "alloc_count.h"
#include "vr.h"
#include "vrpn_test_server.h"

namespace {

using vrpn_test::get_int;

TEST(VrpnFrames, ConnectedPollAllocatesNothing) {
  const int port = net_test::free_loopback_port();
  ASSERT_NE(port, 0);
  vrpn_test::TestServer server(port);
  ASSERT_TRUE(server.ok());
  vr_ctx *ctx = vr_ctx_create();
  vr_set_int(ctx, VR_GLASSES_SOURCE, VR_GLASSES_SOURCE_VRPN);
  vr_set_int(ctx, VR_MOUSE_SOURCE, VR_MOUSE_SOURCE_VRPN);
  ASSERT_EQ(vr_vrpn_set_devices(ctx, vrpn_test::device_at(port).c_str(), nullptr), VR_OK);
  ASSERT_EQ(vr_init_glasses_and_mouse_6d(ctx, 1, 1), 1);
  const double p[3] = {0.1, 0.2, 0.5}, q[4] = {0, 0, 0, 1};
  ASSERT_TRUE(vrpn_test::run_until(
      [&] {
        // Both sensors before counting: VRPN's tracker client grows its table of sensors once,
        // the first time a sensor number arrives (vrpn_Tracker_Remote::
        // ensure_enough_sensor_callbacks), and never again for that number.
        server.send(0, p, q);
        server.send(1, p, q);
        server.serve();
        vr_comp_view(ctx);
      },
      [&] { return get_int(ctx, VR_HEAD_TRACK_STATE) == VR_TRACK_TRACKING; }, 5.0));

  // Idle: nothing arrives.
  alloc_count::allocations = 0;
  alloc_count::counting = true;
  for (int i = 0; i < 200; ++i) vr_comp_view(ctx);
  alloc_count::counting = false;
  EXPECT_EQ(alloc_count::allocations, 0);

  // Busy: a report of each sensor and a button change before every frame; only the frames
  // are counted, not the server.
  const int before = get_int(ctx, VR_VRPN_REPORTS);
  long during_frames = 0;
  for (int i = 0; i < 200; ++i) {
    server.send(0, p, q);
    server.send(1, p, q);
    server.set_button(i % 4, i % 2);
    server.serve();
    alloc_count::allocations = 0;
    alloc_count::counting = true;
    vr_comp_view(ctx);
    alloc_count::counting = false;
    during_frames += alloc_count::allocations;
  }
  EXPECT_GT(get_int(ctx, VR_VRPN_REPORTS), before);
  EXPECT_EQ(during_frames, 0);
  vr_quit(ctx);
  std::free(ctx);
}

}  // namespace
