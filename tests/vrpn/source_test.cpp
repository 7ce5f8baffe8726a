// The VRPN source against VRPN's own tracker and button servers on loopback: poses in the
// tracker's frame become eyes and mouse tip through the calibration, buttons arrive, time
// stamps are kept, and a server that goes away is reported stale, then lost, then tracked again
// when it returns.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "vr.h"
#include "vrpn_test_server.h"

namespace {

using vrpn_test::get_double;
using vrpn_test::get_int;
using vrpn_test::run_until;
using vrpn_test::TestServer;

constexpr double pi = 3.14159265358979323846;
constexpr double nodal_step_cm = 1.1;

struct CtxFree {
  void operator()(vr_ctx *c) const {
    vr_quit(c);
    std::free(c);
  }
};
using Ctx = std::unique_ptr<vr_ctx, CtxFree>;

// A rigid calibration: the tracker turned 0.3 rad about the plate's x axis, origin at
// (18, 40, 5) cm.
void calibration(dmat out) {
  const double c = std::cos(0.3), s = std::sin(0.3);
  const dmat m = {{1, 0, 0, 0}, {0, c, s, 0}, {0, -s, c, 0}, {18, 40, 5, 1}};
  std::memcpy(out, m, sizeof(dmat));
}

// The sensor-to-tracker matrix of a rotation by `angle` about the tracker's y axis (what the
// quaternion (0, sin(a/2), 0, cos(a/2)) names) with a translation in cm.
void about_y(double angle, const double t_cm[3], dmat out) {
  const double c = std::cos(angle), s = std::sin(angle);
  const dmat m = {{c, 0, -s, 0}, {0, 1, 0, 0}, {s, 0, c, 0}, {t_cm[0], t_cm[1], t_cm[2], 1}};
  std::memcpy(out, m, sizeof(dmat));
}

void times(const double p[3], const dmat m, double out[3]) {
  for (int j = 0; j < 3; ++j) out[j] = p[0] * m[0][j] + p[1] * m[1][j] + p[2] * m[2][j] + m[3][j];
}

// The eye the library should place: the offset through head and calibration, then 1.1 cm toward
// the window centre.
void expected_eye(vr_ctx *ctx, const double offset[3], const dmat head, const dmat cal,
                  double out[3]) {
  double dig[3], plate[3], centre[3];
  times(offset, head, dig);
  times(dig, cal, plate);
  vr_get_point(ctx, VR_WINDOW_CENTER, centre);
  double d[3], n = 0;
  for (int j = 0; j < 3; ++j) {
    d[j] = centre[j] - plate[j];
    n += d[j] * d[j];
  }
  n = std::sqrt(n);
  for (int j = 0; j < 3; ++j) out[j] = plate[j] + nodal_step_cm * d[j] / n;
}

Ctx vrpn_context(int port) {
  Ctx ctx(vr_ctx_create());
  EXPECT_EQ(vr_set_int(ctx.get(), VR_GLASSES_SOURCE, VR_GLASSES_SOURCE_VRPN), VR_OK);
  EXPECT_EQ(vr_set_int(ctx.get(), VR_MOUSE_SOURCE, VR_MOUSE_SOURCE_VRPN), VR_OK);
  EXPECT_EQ(vr_vrpn_set_devices(ctx.get(), vrpn_test::device_at(port).c_str(), nullptr), VR_OK);
  dmat cal;
  calibration(cal);
  EXPECT_EQ(vr_set_matrix(ctx.get(), VR_DIG_TO_PLATE, cal), VR_OK);
  EXPECT_EQ(vr_init_glasses_and_mouse_6d(ctx.get(), 1, 1), 1);
  return ctx;
}

const double head_m[3] = {0.10, 0.20, 0.60};
const double head_angle = pi / 6;
const double mouse_m[3] = {0.05, -0.10, 0.40};
const double mouse_angle = -0.4;

void send_poses(TestServer &server, timeval stamp = {}) {
  const double qh[4] = {0, std::sin(head_angle / 2), 0, std::cos(head_angle / 2)};
  const double qm[4] = {0, std::sin(mouse_angle / 2), 0, std::cos(mouse_angle / 2)};
  server.send(0, head_m, qh, stamp);
  server.send(1, mouse_m, qm, stamp);
}

TEST(VrpnSource, PosesAndButtonsMatchTheTrackerAfterCalibration) {
  const int port = net_test::free_loopback_port();
  ASSERT_NE(port, 0);
  TestServer server(port);
  ASSERT_TRUE(server.ok());
  Ctx ctx = vrpn_context(port);
  vr_init_pworld_time(ctx.get());
  // A stamp 20 ms in the past: the source keeps it and dates the pose back by as much.
  timeval stamp;
  vrpn_gettimeofday(&stamp, nullptr);
  stamp.tv_usec -= 20000;
  if (stamp.tv_usec < 0) {
    stamp.tv_usec += 1000000;
    --stamp.tv_sec;
  }
  ASSERT_TRUE(run_until(
      [&] {
        send_poses(server, stamp);
        server.serve();
        vr_comp_view(ctx.get());
      },
      [&] {
        return get_int(ctx.get(), VR_HEAD_TRACK_STATE) == VR_TRACK_TRACKING &&
               get_int(ctx.get(), VR_MOUSE_TRACK_STATE) == VR_TRACK_TRACKING;
      },
      5.0));
  EXPECT_EQ(get_int(ctx.get(), VR_VRPN_CONNECTED), 1);
  EXPECT_GT(get_int(ctx.get(), VR_VRPN_REPORTS), 1);

  dmat cal, head, mouse;
  calibration(cal);
  const double head_cm[3] = {10, 20, 60}, mouse_cm[3] = {5, -10, 40};
  about_y(head_angle, head_cm, head);
  about_y(mouse_angle, mouse_cm, mouse);
  dmat got;
  vr_get_matrix(ctx.get(), VR_HEAD_TO_DIG, got);
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) EXPECT_NEAR(got[i][j], head[i][j], 1e-12) << i << "," << j;

  double offset[3], want[3], eye[3];
  vr_get_point(ctx.get(), VR_LEFT_EYE_OFFSET, offset);
  expected_eye(ctx.get(), offset, head, cal, want);
  vr_get_point(ctx.get(), VR_SCREEN_LEFT_EYE, eye);
  for (int j = 0; j < 3; ++j) EXPECT_NEAR(eye[j], want[j], 1e-9);
  vr_get_point(ctx.get(), VR_RIGHT_EYE_OFFSET, offset);
  expected_eye(ctx.get(), offset, head, cal, want);
  vr_get_point(ctx.get(), VR_SCREEN_RIGHT_EYE, eye);
  for (int j = 0; j < 3; ++j) EXPECT_NEAR(eye[j], want[j], 1e-9);

  double tip_offset[3], dig[3], tip_want[3], tip[3];
  vr_get_point(ctx.get(), VR_MOUSE_TIP_OFFSET, tip_offset);
  times(tip_offset, mouse, dig);
  times(dig, cal, tip_want);
  vr_get_point(ctx.get(), VR_MOUSE_TIP_PLATE, tip);
  for (int j = 0; j < 3; ++j) EXPECT_NEAR(tip[j], tip_want[j], 1e-9);

  // The server's own stamp is kept, and the pose is dated 20 ms before its arrival.
  const double stamp_s = stamp.tv_sec + 1e-6 * stamp.tv_usec;
  EXPECT_NEAR(get_double(ctx.get(), VR_VRPN_HEAD_STAMP), stamp_s, 1e-6);
  const double lag = ctx->pworld_time_now - get_double(ctx.get(), VR_VRPN_HEAD_POSE_TIME);
  EXPECT_GE(lag, 0.019);
  EXPECT_LT(lag, 0.5);
  EXPECT_NEAR(get_double(ctx.get(), VR_VRPN_MOUSE_POSE_TIME),
              get_double(ctx.get(), VR_VRPN_HEAD_POSE_TIME), 0.1);

  // Buttons pressed and released arrive as well (and a client that connects later gets the
  // held ones from VRPN's button server at once).
  server.set_button(0, 1);
  server.set_button(2, 1);
  EXPECT_TRUE(run_until(
      [&] {
        server.serve();
        vr_comp_view(ctx.get());
      },
      [&] { return get_int(ctx.get(), VR_MOUSE_BUTTONS) == 5; }, 5.0));
  server.set_button(2, 0);
  EXPECT_TRUE(run_until(
      [&] {
        server.serve();
        vr_comp_view(ctx.get());
      },
      [&] { return get_int(ctx.get(), VR_MOUSE_BUTTONS) == 1; }, 5.0));
}

TEST(VrpnSource, ServerGoneIsStaleThenLostAndTrackedAgainWhenItReturns) {
  const int port = net_test::free_loopback_port();
  ASSERT_NE(port, 0);
  auto server = std::make_unique<TestServer>(port);
  ASSERT_TRUE(server->ok());
  Ctx ctx = vrpn_context(port);
  vr_init_pworld_time(ctx.get());
  const auto frame = [&] {
    if (server) {
      send_poses(*server);
      server->serve();
    }
    vr_comp_view(ctx.get());
  };
  const auto head_state = [&] { return get_int(ctx.get(), VR_HEAD_TRACK_STATE); };
  ASSERT_TRUE(run_until(
      frame, [&] { return head_state() == VR_TRACK_TRACKING; }, 5.0));

  server.reset();
  ASSERT_TRUE(run_until(
      frame, [&] { return head_state() != VR_TRACK_TRACKING; }, 2.0));
  EXPECT_EQ(head_state(), VR_TRACK_STALE);
  const double stale_age = get_double(ctx.get(), VR_HEAD_POSE_AGE);
  EXPECT_GE(stale_age, VR_TRACK_STALE_SECONDS);
  EXPECT_LT(stale_age, VR_TRACK_STALE_SECONDS + 0.1);
  EXPECT_NE(std::strstr(vr_lt_message, "tracker stale"), nullptr) << vr_lt_message;
  ASSERT_TRUE(run_until(
      frame, [&] { return head_state() == VR_TRACK_LOST; }, 2.0));
  EXPECT_EQ(get_int(ctx.get(), VR_MOUSE_TRACK_STATE), VR_TRACK_LOST);
  EXPECT_EQ(get_int(ctx.get(), VR_VRPN_CONNECTED), 0);

  // VRPN asks the server again by itself, from inside the frames' polls.
  server = std::make_unique<TestServer>(port);
  ASSERT_TRUE(server->ok());
  ASSERT_TRUE(run_until(
      frame, [&] { return head_state() == VR_TRACK_TRACKING; }, 8.0));
  EXPECT_EQ(get_int(ctx.get(), VR_VRPN_CONNECTED), 1);
  EXPECT_NE(std::strstr(vr_lt_message, "tracker tracking again"), nullptr) << vr_lt_message;
}

TEST(VrpnSource, DevicesFromNamesOrTheEnvironmentAndClearFailures) {
  Ctx ctx(vr_ctx_create());
  // Names that cannot be a VRPN device are refused and change nothing.
  EXPECT_EQ(vr_vrpn_set_devices(ctx.get(), "Tracker0", nullptr), VR_ERR_BAD_VALUE);
  EXPECT_EQ(vr_vrpn_set_devices(ctx.get(), "@host", nullptr), VR_ERR_BAD_VALUE);
  EXPECT_EQ(vr_vrpn_set_devices(ctx.get(), "Tracker0@", nullptr), VR_ERR_BAD_VALUE);
  EXPECT_EQ(vr_vrpn_set_devices(ctx.get(), std::string(200, 'a').append("@h").c_str(), nullptr),
            VR_ERR_BAD_VALUE);
  EXPECT_EQ(vr_vrpn_set_devices(ctx.get(), "T@127.0.0.1:1", "Buttons"), VR_ERR_BAD_VALUE);
  EXPECT_EQ(vr_vrpn_set_devices(nullptr, "T@127.0.0.1:1", nullptr), VR_ERR_BAD_VALUE);

  // Nothing named: the set-up says so and installs nothing.
  unsetenv("VRLIB_VRPN");
  EXPECT_EQ(vr_set_int(ctx.get(), VR_GLASSES_SOURCE, VR_GLASSES_SOURCE_VRPN), VR_OK);
  EXPECT_EQ(vr_init_glasses_and_mouse_6d(ctx.get(), 1, 0), 0);
  EXPECT_NE(std::strstr(vr_lt_message, "VRLIB_VRPN"), nullptr);
  EXPECT_EQ(ctx->glasses_event_fn, nullptr);

  // The environment names the devices; the server need not be up yet.
  const int port = net_test::free_loopback_port();
  const std::string names =
      vrpn_test::device_at(port) + "," + vrpn_test::device_at(port, "Buttons0");
  setenv("VRLIB_VRPN", names.c_str(), 1);
  EXPECT_EQ(vr_init_glasses_and_mouse_6d(ctx.get(), 1, 0), 1);
  unsetenv("VRLIB_VRPN");
  EXPECT_NE(ctx->glasses_event_fn, nullptr);
  EXPECT_EQ(ctx->mouse_event_fn, nullptr);
  for (int i = 0; i < 5; ++i) vr_comp_view(ctx.get());
  EXPECT_EQ(get_int(ctx.get(), VR_VRPN_CONNECTED), 0);
  EXPECT_EQ(get_int(ctx.get(), VR_VRPN_REPORTS), 0);

  // vr_quit stops the source and clears its handlers.
  vr_quit(ctx.get());
  EXPECT_EQ(ctx->glasses_event_fn, nullptr);
  EXPECT_EQ(ctx->glasses_remove_fn, nullptr);

  // Settings: sensors from 0, a positive unit.
  EXPECT_EQ(get_int(ctx.get(), VR_VRPN_HEAD_SENSOR), 0);
  EXPECT_EQ(get_int(ctx.get(), VR_VRPN_MOUSE_SENSOR), 1);
  EXPECT_EQ(get_double(ctx.get(), VR_VRPN_CM_PER_UNIT), 100.0);
  EXPECT_EQ(vr_set_int(ctx.get(), VR_VRPN_HEAD_SENSOR, -1), VR_ERR_BAD_VALUE);
  EXPECT_EQ(vr_set_double(ctx.get(), VR_VRPN_CM_PER_UNIT, 0.0), VR_ERR_BAD_VALUE);
  EXPECT_EQ(vr_set_int(ctx.get(), VR_VRPN_CONNECTED, 1), VR_ERR_NOT_SETTABLE);
  EXPECT_STREQ(vr_attr_name(VR_VRPN_REPORTS), "VR_VRPN_REPORTS");
}

}  // namespace
