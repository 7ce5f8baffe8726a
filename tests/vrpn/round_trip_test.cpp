// The library's VRPN server feeding a second context through the VRPN source: context A takes
// its head and mouse from a lab tracker (VRPN's own server), publishes them in plate
// coordinates, and context B on the same screen, with the identity calibration, ends up with
// the same eyes, mouse tip, buttons and measurement time stamps.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "vr.h"
#include "vrpn_test_server.h"

namespace {

using vrpn_test::get_double;
using vrpn_test::get_int;
using vrpn_test::run_until;
using vrpn_test::TestServer;

struct CtxFree {
  void operator()(vr_ctx *c) const {
    vr_vrpn_serve_stop(c);
    vr_quit(c);
    std::free(c);
  }
};
using Ctx = std::unique_ptr<vr_ctx, CtxFree>;

Ctx vrpn_context(const std::string &device, const dmat calibration) {
  Ctx ctx(vr_ctx_create_display(53.0, 30.0, 1920, 1080, VR_DISPLAY_FLAT_PANEL));
  EXPECT_EQ(vr_set_int(ctx.get(), VR_GLASSES_SOURCE, VR_GLASSES_SOURCE_VRPN), VR_OK);
  EXPECT_EQ(vr_set_int(ctx.get(), VR_MOUSE_SOURCE, VR_MOUSE_SOURCE_VRPN), VR_OK);
  EXPECT_EQ(vr_vrpn_set_devices(ctx.get(), device.c_str(), nullptr), VR_OK);
  EXPECT_EQ(vr_set_matrix(ctx.get(), VR_DIG_TO_PLATE, calibration), VR_OK);
  EXPECT_EQ(vr_init_glasses_and_mouse_6d(ctx.get(), 1, 1), 1);
  return ctx;
}

void expect_points_near(vr_ctx *a, vr_ctx *b, int id, double tolerance) {
  dpt pa, pb;
  ASSERT_EQ(vr_get_point(a, id, pa), VR_OK);
  ASSERT_EQ(vr_get_point(b, id, pb), VR_OK);
  for (int j = 0; j < 3; ++j) EXPECT_NEAR(pa[j], pb[j], tolerance) << vr_attr_name(id) << j;
}

TEST(VrpnRoundTrip, ServedHeadAndMouseGiveTheSameEyesInASecondContext) {
  const int lab_port = net_test::free_loopback_port();
  ASSERT_NE(lab_port, 0);
  TestServer lab(lab_port);
  ASSERT_TRUE(lab.ok());

  // A: a tracker leaning over the screen, turned about two axes.
  const double c = std::cos(0.7), s = std::sin(0.7);
  const dmat leaning = {
      {c, 0, -s, 0}, {s * s, c, c * s, 0}, {s * c, -s, c * c, 0}, {26.5, 38.0, 6.0, 1}};
  Ctx a = vrpn_context(vrpn_test::device_at(lab_port), leaning);
  ASSERT_NE(a, nullptr);
  const int serve_port = net_test::free_loopback_port();
  ASSERT_NE(serve_port, 0);
  ASSERT_EQ(vr_vrpn_serve_start(a.get(), "Head", nullptr, serve_port), VR_OK);

  // B: the same screen; A serves plate coordinates, so B's calibration is the identity.
  dmat identity;
  vr_mat_identity(identity);
  Ctx b = vrpn_context(vrpn_test::device_at(serve_port, "Head"), identity);
  ASSERT_NE(b, nullptr);

  const double head[3] = {0.02, -0.31, 0.47}, mouse[3] = {-0.05, -0.22, 0.33};
  const double qh[4] = {0.1, -0.2, 0.05, 0.97}, qm[4] = {-0.3, 0.1, 0.2, 0.9};
  lab.set_button(1, 1);
  bool pressed = false;
  ASSERT_TRUE(run_until(
      [&] {
        lab.send(0, head, qh);
        lab.send(1, mouse, qm);
        lab.serve();
        vr_comp_view(a.get());
        // Buttons change only once A's client is connected, so that the change is sent.
        if (!pressed && get_int(a.get(), VR_VRPN_CONNECTED)) {
          lab.set_button(3, 1);
          pressed = true;
        }
        vr_vrpn_serve_frame(a.get());
        vr_comp_view(b.get());
      },
      [&] {
        return get_int(b.get(), VR_HEAD_TRACK_STATE) == VR_TRACK_TRACKING &&
               get_int(b.get(), VR_MOUSE_TRACK_STATE) == VR_TRACK_TRACKING &&
               get_int(b.get(), VR_MOUSE_BUTTONS) == 10 && get_int(b.get(), VR_VRPN_REPORTS) > 4;
      },
      5.0));
  for (int id :
       {VR_SCREEN_LEFT_EYE, VR_SCREEN_RIGHT_EYE, VR_LEFT_EYE, VR_RIGHT_EYE, VR_MOUSE_TIP_PLATE})
    expect_points_near(a.get(), b.get(), id, 1e-9);
  dmat ha, hb, plate;
  vr_get_matrix(a.get(), VR_HEAD_TO_DIG, ha);
  vr_mat_mul_mat(ha, const_cast<double(*)[4]>(leaning), plate);
  vr_get_matrix(b.get(), VR_HEAD_TO_DIG, hb);
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) EXPECT_NEAR(hb[i][j], plate[i][j], 1e-12);

  // The measurement time travels with the pose: B's stamp is A's, on the same clock, to the
  // microsecond VRPN's time stamps carry (plus the moment between the two clock readings).
  EXPECT_NEAR(get_double(b.get(), VR_VRPN_HEAD_STAMP), get_double(a.get(), VR_VRPN_HEAD_STAMP),
              2e-3);

  // The views agree as well: both contexts build them from the same eyes.
  dmat va, vb;
  vr_get_matrix(a.get(), VR_LEFT_VIEW, va);
  vr_get_matrix(b.get(), VR_LEFT_VIEW, vb);
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) EXPECT_NEAR(va[i][j], vb[i][j], 1e-9);
}

TEST(VrpnRoundTrip, ServerRefusesUnusableSettingsAndSendsNothingUntracked) {
  Ctx a(vr_ctx_create());
  EXPECT_EQ(vr_vrpn_serve_start(a.get(), "Bad@name", nullptr, 0), VR_ERR_BAD_VALUE);
  EXPECT_EQ(vr_vrpn_serve_start(a.get(), "", nullptr, 0), VR_ERR_BAD_VALUE);
  EXPECT_EQ(vr_vrpn_serve_start(a.get(), nullptr, nullptr, 70000), VR_ERR_BAD_VALUE);
  EXPECT_EQ(vr_vrpn_serve_start(nullptr, nullptr, nullptr, 0), VR_ERR_BAD_VALUE);
  vr_vrpn_serve_frame(a.get());  // no server: nothing happens

  // A server whose context tracks nothing sends no pose: the client stays without reports.
  const int port = net_test::free_loopback_port();
  ASSERT_EQ(vr_vrpn_serve_start(a.get(), nullptr, nullptr, port), VR_OK);
  // A second server on the same port cannot listen.
  Ctx other(vr_ctx_create());
  EXPECT_EQ(vr_vrpn_serve_start(other.get(), nullptr, nullptr, port), VR_ERR_BAD_VALUE);
  dmat identity;
  vr_mat_identity(identity);
  Ctx b = vrpn_context(vrpn_test::device_at(port), identity);
  EXPECT_TRUE(run_until(
      [&] {
        vr_vrpn_serve_frame(a.get());
        vr_comp_view(b.get());
      },
      [&] { return get_int(b.get(), VR_VRPN_CONNECTED) == 1; }, 5.0));
  for (int i = 0; i < 20; ++i) {
    vr_vrpn_serve_frame(a.get());
    vr_comp_view(b.get());
  }
  EXPECT_EQ(get_int(b.get(), VR_VRPN_REPORTS), 0);
}

}  // namespace
