// The vrpn-serve program: the serial trackers' head, here from the simulated 6D unit, published
// over VRPN on loopback and taken up by a context through the VRPN source.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <string>

#include "vr.h"
#include "vrpn_test_server.h"
#include "vrsim/vrsim.h"

#ifdef VRPN_SERVE_PATH

namespace {

TEST(VrpnServeProgram, PublishesTheSimulatedHeadInPlateCoordinates) {
  const int port = net_test::free_loopback_port();
  ASSERT_NE(port, 0);
  const std::string port_text = std::to_string(port);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    execl(VRPN_SERVE_PATH, VRPN_SERVE_PATH, "--simulate", "--glasses", "6d", "--port",
          port_text.c_str(), "--frames", "3000", "--rate", "100", static_cast<char *>(nullptr));
    _exit(127);
  }
  vr_ctx *ctx = vr_ctx_create();
  vr_set_int(ctx, VR_GLASSES_SOURCE, VR_GLASSES_SOURCE_VRPN);
  dmat identity;
  vr_mat_identity(identity);
  vr_set_matrix(ctx, VR_DIG_TO_PLATE, identity);
  ASSERT_EQ(vr_vrpn_set_devices(ctx, vrpn_test::device_at(port).c_str(), nullptr), VR_OK);
  ASSERT_EQ(vr_init_glasses_and_mouse_6d(ctx, 1, 0), 1);
  // The simulated units take a few seconds of virtual time to come up, at 100 frames a second.
  const bool tracking = vrpn_test::run_until(
      [&] { vr_comp_view(ctx); },
      [&] { return vrpn_test::get_int(ctx, VR_HEAD_TRACK_STATE) == VR_TRACK_TRACKING; }, 20.0);
  kill(child, SIGTERM);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(tracking);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  // The simulator's default viewer: eyes centred on the default screen, 60 cm in front.
  dpt mid, left, right;
  vrsim_default_head_plate(ctx, mid);
  vr_get_point(ctx, VR_SCREEN_LEFT_EYE, left);
  vr_get_point(ctx, VR_SCREEN_RIGHT_EYE, right);
  for (int j = 0; j < 3; ++j) EXPECT_NEAR((left[j] + right[j]) / 2, mid[j], 2.0) << j;
  vr_quit(ctx);
  std::free(ctx);
}

}  // namespace

#endif
