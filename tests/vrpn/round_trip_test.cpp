// The library's VRPN server feeding a second context through the VRPN source: context A takes
// its head and mouse from a lab tracker (VRPN's own server), publishes them in plate
// coordinates, and context B on the same screen, with the identity calibration, ends up with
// the same eyes, mouse tip, buttons and measurement time stamps.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <vector>

#include "vr.h"
#include "vrpn_test_server.h"

namespace {

using vrpn_test::get_double;
using vrpn_test::get_int;
using vrpn_test::run_until;
using vrpn_test::TestServer;

struct ServingCtxFree {
  void operator()(vr_ctx *c) const {
    vr_vrpn_serve_stop(c);
    vr_quit(c);
    std::free(c);
  }
};
using ServingCtx = std::unique_ptr<vr_ctx, ServingCtxFree>;

ServingCtx vrpn_context(const std::string &device, const dmat calibration) {
  ServingCtx ctx(vr_ctx_create_display(53.0, 30.0, 1920, 1080, VR_DISPLAY_FLAT_PANEL));
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
  ServingCtx a = vrpn_context(vrpn_test::device_at(lab_port), leaning);
  ASSERT_NE(a, nullptr);
  const int serve_port = net_test::free_loopback_port();
  ASSERT_NE(serve_port, 0);
  ASSERT_EQ(vr_vrpn_serve_start(a.get(), "Head", nullptr, serve_port), VR_OK);

  // B: the same screen; A serves plate coordinates, so B's calibration is the identity.
  dmat identity;
  vr_mat_identity(identity);
  ServingCtx b = vrpn_context(vrpn_test::device_at(serve_port, "Head"), identity);
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
  ServingCtx a(vr_ctx_create());
  EXPECT_EQ(vr_vrpn_serve_start(a.get(), "Bad@name", nullptr, 0), VR_ERR_BAD_VALUE);
  EXPECT_EQ(vr_vrpn_serve_start(a.get(), "", nullptr, 0), VR_ERR_BAD_VALUE);
  EXPECT_EQ(vr_vrpn_serve_start(a.get(), nullptr, nullptr, 70000), VR_ERR_BAD_VALUE);
  EXPECT_EQ(vr_vrpn_serve_start(nullptr, nullptr, nullptr, 0), VR_ERR_BAD_VALUE);
  vr_vrpn_serve_frame(a.get());  // no server: nothing happens

  // A server whose context tracks nothing sends no pose: the client stays without reports.
  const int port = net_test::free_loopback_port();
  ASSERT_EQ(vr_vrpn_serve_start(a.get(), nullptr, nullptr, port), VR_OK);
  // A second server on the same port cannot listen.
  ServingCtx other(vr_ctx_create());
  EXPECT_EQ(vr_vrpn_serve_start(other.get(), nullptr, nullptr, port), VR_ERR_BAD_VALUE);
  dmat identity;
  vr_mat_identity(identity);
  ServingCtx b = vrpn_context(vrpn_test::device_at(port), identity);
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

// Display-time tracking through the round trip: a head moving at a steady 30 cm/s is served by
// the lab tracker, relayed by context A's server, and taken by context B on the same screen,
// first without the predictor and then with it (a VRPN server takes one client at a time). What a
// viewer sees is the eyes while the frame is on the screen, so both are measured against where the
// head truly is at the display time; the predicted head must be close to it and much closer than
// the newest received pose.
double wall_s() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

double percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  return v[static_cast<std::size_t>(p * static_cast<double>(v.size() - 1))];
}

TEST(VrpnRoundTrip, PredictorFollowsAMovingHeadAtTheDisplayTime) {
  const int lab_port = net_test::free_loopback_port();
  ASSERT_NE(lab_port, 0);
  TestServer lab(lab_port);
  ASSERT_TRUE(lab.ok());
  const double c = std::cos(0.4), s = std::sin(0.4);
  const dmat turned = {{c, 0, -s, 0}, {0, 1, 0, 0}, {s, 0, c, 0}, {20.0, 30.0, 10.0, 1}};
  ServingCtx a = vrpn_context(vrpn_test::device_at(lab_port), turned);
  const int serve_port = net_test::free_loopback_port();
  ASSERT_NE(serve_port, 0);
  ASSERT_EQ(vr_vrpn_serve_start(a.get(), "Head", nullptr, serve_port), VR_OK);
  dmat identity;
  vr_mat_identity(identity);
  constexpr double latency_s = 0.03;
  ServingCtx b = vrpn_context(vrpn_test::device_at(serve_port, "Head"), identity);
  ASSERT_EQ(vr_set_double(b.get(), VR_DISPLAY_LATENCY, latency_s), VR_OK);

  // Metres on the tracker's clock (seconds since 1970), as a lab tracker reports it.
  constexpr double speed_m_per_s = 0.3;
  const double q[4] = {0.0, 0.0, 0.0, 1.0};
  const double start_s = wall_s();
  const auto head_at = [&](double t, double p[3]) {
    p[0] = -0.2 + speed_m_per_s * (t - start_s);
    p[1] = 0.05;
    p[2] = 0.5;
  };
  // Where the plate sees that head (cm): the tracker's position through A's calibration.
  const auto plate_head_at = [&](double t, double out[3]) {
    double p[3];
    head_at(t, p);
    for (int j = 0; j < 3; ++j)
      out[j] =
          100.0 * (p[0] * turned[0][j] + p[1] * turned[1][j] + p[2] * turned[2][j]) + turned[3][j];
  };
  const auto error_cm = [&](vr_ctx *ctx, double display_s) {
    dmat h;
    vr_get_matrix(ctx, VR_HEAD_TO_DIG, h);
    double truth[3];
    plate_head_at(display_s, truth);
    return std::hypot(h[3][0] - truth[0], h[3][1] - truth[1], h[3][2] - truth[2]);
  };

  // Each frame: the lab tracker reports the head now, A relays it, B computes its view; B's
  // head is compared with the true head at B's display time.
  std::vector<double> errors;
  double tracking_since_s = 0.0;
  const auto frame = [&] {
    double p[3];
    head_at(wall_s(), p);
    lab.send(0, p, q);
    lab.serve();
    vr_comp_view(a.get());
    vr_vrpn_serve_frame(a.get());
    const double frame_s = wall_s();
    vr_comp_view(b.get());
    if (get_int(b.get(), VR_HEAD_TRACK_STATE) != VR_TRACK_TRACKING) return;
    if (tracking_since_s == 0.0) tracking_since_s = frame_s;
    // A quarter of a second for the predictor to settle on the motion.
    if (frame_s - tracking_since_s < 0.25) return;
    errors.push_back(error_cm(b.get(), frame_s + latency_s));
  };
  const auto measure = [&] {
    errors.clear();
    tracking_since_s = 0.0;
    return run_until(
        frame, [&] { return errors.size() >= 200; }, 5.0);
  };
  ASSERT_TRUE(measure());
  const std::vector<double> without = errors;
  ASSERT_EQ(vr_set_int(b.get(), VR_TRACK_DISPLAY_TIME, 1), VR_OK);
  ASSERT_TRUE(measure());
  const std::vector<double> with = errors;

  const double with_p50 = percentile(with, 0.5), with_p90 = percentile(with, 0.9);
  const double without_p50 = percentile(without, 0.5);
  std::printf(
      "display-time error at %.0f cm/s, %.0f ms latency: predictor p50 %.4f cm p90 %.4f "
      "cm; newest pose p50 %.4f cm\n",
      100.0 * speed_m_per_s, 1e3 * latency_s, with_p50, with_p90, without_p50);
  // Without prediction the head is behind by at least the display latency's travel (0.9 cm).
  EXPECT_GT(without_p50, 100.0 * speed_m_per_s * latency_s * 0.9);
  EXPECT_LT(with_p50, 0.4 * without_p50);
  EXPECT_LT(with_p50, 0.35);
  for (double e : with) ASSERT_TRUE(std::isfinite(e));

  // The pose filter in the predictor's place: each report one pose measurement at its stamp.
  ASSERT_EQ(vr_set_int(b.get(), VR_TRACK_DISPLAY_TIME, 0), VR_OK);
  ASSERT_EQ(vr_set_int(b.get(), VR_TRACK_FILTER, 1), VR_OK);
  ASSERT_TRUE(measure());
  const double filter_p50 = percentile(errors, 0.5), filter_p90 = percentile(errors, 0.9);
  std::printf("display-time error with the pose filter: p50 %.4f cm p90 %.4f cm\n", filter_p50,
              filter_p90);
  EXPECT_EQ(get_int(b.get(), VR_TRACK_FILTER_STATE), 2);  // tracking
  EXPECT_LT(filter_p50, 0.4 * without_p50);
  EXPECT_LT(filter_p50, 0.35);
  for (double e : errors) ASSERT_TRUE(std::isfinite(e));
}

}  // namespace
