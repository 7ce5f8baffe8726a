// One tracking status for every source: each head and mouse source (Logitech 6D and raw,
// DynaSight, CyberMan, the network source and VRPN), with display-time tracking off and on,
// goes through the same states on the simulator, in virtual time: tracking while it delivers,
// stale after 0.3 s of silence, lost after 1.1 s, and tracking again from its first fresh pose,
// with the age of the newest fresh pose counted from the frame that read it.
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <string>
#include <tuple>
#include <utility>

#include "track_fixture.h"

namespace {

using track_test::TrackTest;

constexpr double source_frame_s = 1.0 / 60.0;
constexpr double half_source_frame_s = source_frame_s / 2.0;
// The slowest source (the network sender, 30 datagrams a second, read by 60 Hz frames) leaves a
// fresh pose at most this old while it delivers.
constexpr double fresh_age_max_s = 0.06;
// A source that delivers again is tracking within this (a raw unit's clock model takes a few
// records; the others one frame).
constexpr double resume_within_s = 0.25;

enum class Role { head, mouse };

// A VRPN tracker in virtual time, as a stand-in door: sensors 0 (head) and 1 (mouse) report at
// 60 Hz, stamped with their measurement time on the simulator's clock, each until it is
// silenced.
struct VirtualVrpn {
  vrsim *sim = nullptr;
  bool silent[2] = {false, false};
  double next_s = 0.0;
};
VirtualVrpn virtual_vrpn;

void *vrpn_open(void *user, const char *, const char *) {
  auto *v = static_cast<VirtualVrpn *>(user);
  v->next_s = vrsim_now(v->sim);
  return v;
}
int vrpn_poll(void *, void *handle, const vr_vrpn_sink *sink) {
  auto *v = static_cast<VirtualVrpn *>(handle);
  const double now = vrsim_now(v->sim);
  const double position_m[2][3] = {{0.0, 0.05, 0.6}, {0.05, -0.1, 0.35}};
  const dquat level = {0.0, 0.0, 0.0, 1.0};
  for (; v->next_s <= now; v->next_s += source_frame_s)
    for (int sensor = 0; sensor < 2; ++sensor)
      if (!v->silent[sensor]) sink->pose(sink->user, sensor, position_m[sensor], level, v->next_s);
  return 1;
}
double vrpn_now(void *user) {
  return vrsim_now(static_cast<VirtualVrpn *>(user)->sim);
}
void vrpn_close(void *, void *) {}

class StatusTable;

// One row of the table: a source in one role, how to start it and how to silence it.
struct Source {
  const char *name;
  Role role;
  void (*start)(StatusTable &t);
  void (*silence)(StatusTable &t, bool silent);
};

void PrintTo(const Source &s, std::ostream *os) {
  *os << s.name;
}

using Param = std::tuple<Source, bool>;

class StatusTable : public TrackTest, public ::testing::WithParamInterface<Param> {
 public:
  // The rows of the table set the simulator and the context up.
  using TrackTest::ctx;
  using TrackTest::sim;

  void SetUp() override {
    unsetenv("VRLIB_OPENTRACK");
    TrackTest::SetUp();
    virtual_vrpn = VirtualVrpn{};
    virtual_vrpn.sim = sim;
    const vr_vrpn_door door = {&virtual_vrpn, vrpn_open, vrpn_poll, vrpn_now, vrpn_close};
    vr_vrpn_door_install(&door);
  }
  void TearDown() override {
    // The network socket and the VRPN source belong to this test's simulator and door.
    vr_remove_glasses_and_mouse_6d(ctx);
    vr_vrpn_door_install(nullptr);
    TrackTest::TearDown();
  }

  using TrackTest::start_serial;
  void stop_port(int port, bool silent) {
    vrsim_imperfections imp{};
    imp.stopped = silent ? 1 : 0;
    vrsim_set_imperfections(sim, port, &imp);
  }

  int state() {
    int s = -1;
    EXPECT_EQ(
        vr_get_int(ctx, role() == Role::head ? VR_HEAD_TRACK_STATE : VR_MOUSE_TRACK_STATE, &s),
        VR_OK);
    return s;
  }
  double age() {
    double a = -1.0;
    EXPECT_EQ(vr_get_double(ctx, role() == Role::head ? VR_HEAD_POSE_AGE : VR_MOUSE_POSE_AGE, &a),
              VR_OK);
    return a;
  }
  Role role() const { return std::get<0>(GetParam()).role; }
  const char *who() const { return role() == Role::head ? "Head" : "Mouse"; }
  // Where the status writes its messages for this source.
  const char *message() const {
    return role() == Role::head && ctx->glasses_source == 4 ? vr_ds_message : vr_lt_message;
  }
  bool message_starts(const std::string &text) const {
    return std::string(message()).rfind(std::string(who()) + text, 0) == 0;
  }

  // Runs frames until `seconds` after `from` (virtual time); every frame's state must be `want`
  // when want >= 0.
  void frames_until(double from, double seconds, int want = -1) {
    while (vrsim_now(sim) - from < seconds - half_source_frame_s) {
      frames(1, source_frame_s);
      if (want >= 0) {
        ASSERT_EQ(state(), want) << vrsim_now(sim) - from << " s after";
      }
    }
  }
};

// Rows for the standard Logitech units, both in one mode (1 raw, 2 6D reports), and for silencing
// one serial port.
template <int mode>
void standard_units(StatusTable &t) {
  vrsim_plug_standard(t.sim);
  t.start_serial(mode, mode);
}
template <int port>
void silence_port(StatusTable &t, bool silent) {
  t.stop_port(port, silent);
}

const Source status_sources[] = {
    {"Logitech6dHead", Role::head, standard_units<2>, silence_port<VRSIM_PORT_A>},
    {"Logitech6dMouse", Role::mouse, standard_units<2>, silence_port<VRSIM_PORT_B>},
    {"LogitechRawHead", Role::head, standard_units<1>, silence_port<VRSIM_PORT_A>},
    {"LogitechRawMouse", Role::mouse, standard_units<1>, silence_port<VRSIM_PORT_B>},
    {"DynaSightHead", Role::head,
     [](StatusTable &t) {
       vrsim_plug_dynasight(t.sim, VRSIM_PORT_A, 60.0);
       t.start_serial(4, 1);
     },
     silence_port<VRSIM_PORT_A>},
    {"CybermanMouse", Role::mouse,
     [](StatusTable &t) {
       vrsim_lt_config glasses;
       vrsim_lt_config_init(&glasses, VRSIM_RX_GLASSES);
       vrsim_plug_logitech(t.sim, VRSIM_PORT_A, &glasses);
       vrsim_plug_cyberman(t.sim, VRSIM_PORT_B, 40.0);
       t.start_serial(2, 3);
     },
     silence_port<VRSIM_PORT_B>},
    {"NetworkHead", Role::head,
     [](StatusTable &t) {
       t.ctx->tracking_mode = 1;
       t.ctx->glasses_source = VR_SOURCE_NETWORK;
       ASSERT_EQ(vr_init_glasses_and_mouse_6d(t.ctx, 1, 0), 1) << vr_net_message;
       vrsim_start_opentrack(t.sim, nullptr);
     },
     [](StatusTable &t, bool s) {
       vrsim_imperfections imp{};
       imp.stopped = s ? 1 : 0;
       vrsim_set_opentrack_imperfections(t.sim, &imp);
     }},
    {"VrpnHead", Role::head,
     [](StatusTable &t) {
       t.ctx->tracking_mode = 1;
       t.ctx->glasses_source = VR_GLASSES_SOURCE_VRPN;
       t.ctx->mouse_source = VR_MOUSE_SOURCE_VRPN;
       ASSERT_EQ(vr_vrpn_set_devices(t.ctx, "Tracker0@sim", nullptr), VR_OK);
       ASSERT_EQ(vr_init_glasses_and_mouse_6d(t.ctx, 1, 1), 1) << vr_lt_message;
     },
     [](StatusTable &, bool s) { virtual_vrpn.silent[0] = s; }},
    {"VrpnMouse", Role::mouse,
     [](StatusTable &t) {
       t.ctx->tracking_mode = 1;
       t.ctx->glasses_source = VR_GLASSES_SOURCE_VRPN;
       t.ctx->mouse_source = VR_MOUSE_SOURCE_VRPN;
       ASSERT_EQ(vr_vrpn_set_devices(t.ctx, "Tracker0@sim", nullptr), VR_OK);
       ASSERT_EQ(vr_init_glasses_and_mouse_6d(t.ctx, 1, 1), 1) << vr_lt_message;
     },
     [](StatusTable &, bool s) { virtual_vrpn.silent[1] = s; }},
};

TEST_P(StatusTable, TrackingThenStaleThenLostThenTrackingAgain) {
  const Source &source = std::get<0>(GetParam());
  if (std::get<1>(GetParam())) {
    ASSERT_EQ(vr_set_int(ctx, VR_TRACK_DISPLAY_TIME, 1), VR_OK);
  }
  ASSERT_NO_FATAL_FAILURE(source.start(*this));

  // Tracking: from the first fresh pose on, every frame, with a young pose and no message.
  double t0 = vrsim_now(sim);
  while (state() != VR_TRACK_TRACKING && vrsim_now(sim) - t0 < 2.0) frames(1, source_frame_s);
  ASSERT_EQ(state(), VR_TRACK_TRACKING) << "never tracking";
  t0 = vrsim_now(sim);
  while (vrsim_now(sim) - t0 < 0.5) {
    frames(1, source_frame_s);
    ASSERT_EQ(state(), VR_TRACK_TRACKING);
    ASSERT_LT(age(), fresh_age_max_s);
  }
  EXPECT_STREQ(message(), "");

  // Silent: still tracking for a while, stale at 0.3 s, lost at 1.1 s, each said once.
  source.silence(*this, true);
  const double silent_s = vrsim_now(sim);
  ASSERT_NO_FATAL_FAILURE(frames_until(silent_s, 0.15, VR_TRACK_TRACKING));
  frames_until(silent_s, 0.3);
  EXPECT_EQ(state(), VR_TRACK_STALE);
  EXPECT_GE(age(), VR_TRACK_STALE_SECONDS);
  EXPECT_LE(age(), 0.3 + 1e-6);
  EXPECT_TRUE(message_starts(" tracker stale: no fresh pose for ")) << message();
  frames_until(silent_s, 1.1);
  EXPECT_EQ(state(), VR_TRACK_LOST);
  EXPECT_GE(age(), VR_TRACK_LOST_SECONDS);
  EXPECT_LE(age(), 1.1 + 1e-6);
  EXPECT_TRUE(message_starts(" tracker lost: no fresh pose for ")) << message();

  // Resumed: tracking again from the frame that reads the first fresh pose, whose age is 0.
  source.silence(*this, false);
  const double resumed_s = vrsim_now(sim);
  while (state() != VR_TRACK_TRACKING && vrsim_now(sim) - resumed_s < 2.0)
    frames(1, source_frame_s);
  ASSERT_EQ(state(), VR_TRACK_TRACKING) << "never tracking again";
  EXPECT_LE(vrsim_now(sim) - resumed_s, resume_within_s);
  EXPECT_EQ(age(), 0.0);
  EXPECT_EQ(std::string(message()), std::string(who()) + " tracker tracking again");
  ASSERT_NO_FATAL_FAILURE(frames_until(vrsim_now(sim), 0.5, VR_TRACK_TRACKING));
}

INSTANTIATE_TEST_SUITE_P(EverySourceBothModes, StatusTable,
                         ::testing::Combine(::testing::ValuesIn(status_sources), ::testing::Bool()),
                         [](const ::testing::TestParamInfo<Param> &p) {
                           return std::string(std::get<0>(p.param).name) +
                                  (std::get<1>(p.param) ? "_DisplayTime" : "_Fixed");
                         });

// The network source's own states next to the common status, as vr.h maps them: waiting is
// "none" and then stale and lost; a gap longer than the stale time is stale while the source
// still counts as tracking; silent is stale and then lost; a datagram after the silence gives
// tracking in both at once.
class NetworkStates : public TrackTest {
 protected:
  void SetUp() override {
    unsetenv("VRLIB_OPENTRACK");
    TrackTest::SetUp();
  }
  void TearDown() override {
    vr_remove_glasses_and_mouse_6d(ctx);
    TrackTest::TearDown();
  }
  // Runs frames until `seconds` after `from`; then both states.
  std::pair<int, int> at(double from, double seconds) {
    while (vrsim_now(sim) - from < seconds - half_source_frame_s) frames(1, source_frame_s);
    int net = -1, common = -1;
    EXPECT_EQ(vr_get_int(ctx, VR_NET_STATE, &net), VR_OK);
    EXPECT_EQ(vr_get_int(ctx, VR_HEAD_TRACK_STATE, &common), VR_OK);
    return {net, common};
  }
  void send_silence(bool silent) {
    vrsim_imperfections imp{};
    imp.stopped = silent ? 1 : 0;
    vrsim_set_opentrack_imperfections(sim, &imp);
  }
};

TEST_F(NetworkStates, MapOntoTheCommonStatus) {
  using States = std::pair<int, int>;
  ctx->tracking_mode = 1;
  ctx->glasses_source = VR_SOURCE_NETWORK;
  ASSERT_EQ(vr_init_glasses_and_mouse_6d(ctx, 1, 0), 1) << vr_net_message;
  double t = vrsim_now(sim);
  EXPECT_EQ(at(t, 0.2), States(VR_NET_STATE_WAITING, VR_TRACK_NONE));
  EXPECT_EQ(at(t, 0.3), States(VR_NET_STATE_WAITING, VR_TRACK_STALE));
  EXPECT_EQ(at(t, 1.1), States(VR_NET_STATE_WAITING, VR_TRACK_LOST));

  // The sender starts: its first datagram arrives 21 ms later (phase and latency).
  vrsim_start_opentrack(sim, nullptr);
  t = vrsim_now(sim);
  EXPECT_EQ(at(t, 2 * source_frame_s), States(VR_NET_STATE_TRACKING, VR_TRACK_TRACKING));
  EXPECT_EQ(at(t, 1.0), States(VR_NET_STATE_TRACKING, VR_TRACK_TRACKING));

  // Silent: stale before the source's silence timeout (0.5 s), then silent, then lost.
  send_silence(true);
  t = vrsim_now(sim);
  EXPECT_EQ(at(t, 0.35), States(VR_NET_STATE_TRACKING, VR_TRACK_STALE));
  EXPECT_EQ(at(t, 0.65), States(VR_NET_STATE_SILENT, VR_TRACK_STALE));
  EXPECT_EQ(at(t, 1.1), States(VR_NET_STATE_SILENT, VR_TRACK_LOST));
  send_silence(false);
  t = vrsim_now(sim);
  int net = -1, common = -1;
  while (common != VR_TRACK_TRACKING && vrsim_now(sim) - t < 0.5) {
    frames(1, source_frame_s);
    vr_get_int(ctx, VR_NET_STATE, &net);
    vr_get_int(ctx, VR_HEAD_TRACK_STATE, &common);
  }
  EXPECT_EQ(States(net, common), States(VR_NET_STATE_TRACKING, VR_TRACK_TRACKING));
}

}  // namespace
