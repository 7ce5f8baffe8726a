// The simulator and the library's own drivers agree: with noise-free devices the library
// recovers the simulated truth, in raw mode through its pose solver.
#include <cmath>

#include "track_fixture.h"

namespace {

using track_test::TrackTest;

class Agreement : public TrackTest {
 protected:
  void use_raw() {
    ctx->tracking_mode = 5;  // the raw glasses path then delivers the head pose itself
    ctx->glasses_source = 1;
    ctx->mouse_source = 1;
    ctx->streaming = 1;
    ctx->raw_interpolate = 0;
  }
};

void pose(double roll, double pitch, double yaw, double x, double y, double z, dmat out) {
  vr_lt_6d p{x, y, z, roll, pitch, yaw, 0};
  build_mat_6Dm_to_dig(nullptr, &p, out);
}

// Largest element difference of the rotation blocks, and of the translations (cm).
void difference(dmat a, dmat b, double *rot, double *trans) {
  *rot = *trans = 0;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) *rot = std::fmax(*rot, std::fabs(a[r][c] - b[r][c]));
  for (int c = 0; c < 3; ++c) *trans = std::fmax(*trans, std::fabs(a[3][c] - b[3][c]));
}

// The library's solver on the simulator's exact (unquantised) distances: the receiver and
// transmitter geometry, the frames and the channel order must agree to rounding.
TEST_F(Agreement, SolverOnExactDistancesGivesTheTruth) {
  vrsim_plug_standard(sim);
  ctx->raw_interpolate = 0;
  dmat truth[2];
  pose(0.2, -0.15, 0.3, 4.0, -8.0, 52.0, truth[0]);
  pose(-0.4, 0.3, -0.2, 12.0, -22.0, 38.0, truth[1]);
  vrsim_set_pose(sim, VRSIM_HEAD, truth[0]);
  vrsim_set_pose(sim, VRSIM_MOUSE, truth[1]);
  const int rx_thou[2] = {2500, 2000};  // the default glasses and mouse receivers
  for (int port : {0, 1}) {
    vr_lt_unit *unit = &unit_6d[port];
    vr_lt_device_struct_init(port == 0 ? "Crystal Eyes(tm)" : "Logitech 3D Mouse", unit);
    unit->port = port;
    (port == 0 ? vr_lt_glasses_unit : vr_lt_mouse_6d_unit) = unit;
    unit->op_info.receiver_geom[0] = rx_thou[port] * 2.54 / 1000;
    unit->op_info.receiver_geom[1] = rx_thou[port] * 2.54 / 1000;
    double d[9];
    vrsim_true_distances(sim, port, 1.0, d);
    for (int k = 1; k <= 9; ++k) unit->chan[k].value[0] = static_cast<float>(d[k - 1]);
    unit->next_slot = 1;
    dmat out;
    ASSERT_EQ(comp_mouse_6d_raws(ctx, unit, out), 1) << port;
    double rot, trans;
    difference(out, truth[port], &rot, &trans);
    // The channels are single precision: a few millionths of a centimetre.
    EXPECT_LT(rot, 2e-5) << port;
    EXPECT_LT(trans, 2e-4) << port;
  }
}

TEST_F(Agreement, RawModeRecoversHeadAndMousePoses) {
  vrsim_plug_standard(sim);
  dmat head, mouse;
  pose(0.2, -0.15, 0.3, 4.0, -8.0, 52.0, head);
  pose(-0.4, 0.3, -0.2, 12.0, -22.0, 38.0, mouse);
  vrsim_set_pose(sim, VRSIM_HEAD, head);
  vrsim_set_pose(sim, VRSIM_MOUSE, mouse);
  vrsim_set_buttons(sim, VRSIM_MOUSE, 1);
  use_raw();
  ASSERT_EQ(vr_init_glasses_and_mouse_6d(ctx, 1, 1), 1);
  frames(60);
  double rot, trans;
  difference(ctx->head_to_dig, head, &rot, &trans);
  // Times of flight are whole counts of 0.0053 cm: each distance is off by up to 0.0026 cm,
  // which the small microphone triangle (5 to 6 cm across, 40 to 55 cm away) magnifies about
  // twentyfold in the speaker positions. The exact agreement is the test above.
  EXPECT_LT(rot, 0.005);
  EXPECT_LT(trans, 0.08);
  difference(ctx->mouse_to_dig, mouse, &rot, &trans);
  EXPECT_LT(rot, 0.005);
  EXPECT_LT(trans, 0.08);
  EXPECT_EQ(ctx->mouse_buttons, 1);
}

}  // namespace
