// A CyberMan on port B beside the Logitech glasses unit: its two-stage line start-up, the tactile
// command, the packets decoded into cyberman_state, and its own way of closing.
#include <cerrno>

#include "track_fixture.h"

namespace {

using track_test::bytes;
using track_test::TrackTest;

class Cyberman : public TrackTest {
 protected:
  void SetUp() override {
    TrackTest::SetUp();
    plug_glasses_and_cyberman();
  }

  void plug_glasses_and_cyberman() {
    vrsim_lt_config glasses;
    vrsim_lt_config_init(&glasses, VRSIM_RX_GLASSES);
    vrsim_plug_logitech(sim, 0, &glasses);
    vrsim_plug_cyberman(sim, 1, 40.0);
    ctx->tracking_mode = 1;
    ctx->glasses_source = 2;
    ctx->mouse_source = 3;
    ctx->streaming = 1;
  }

  const vrsim_event *event(int kind, int port, int from = 0) {
    int i = vrsim_event_find(sim, from, kind, port);
    return i < 0 ? nullptr : vrsim_event_at(sim, i);
  }
};

TEST_F(Cyberman, LineStartUpTactileCommandAndNoLogitechCommands) {
  double t0 = vrsim_now(sim);
  ASSERT_EQ(vr_init_glasses_and_mouse_6d(ctx, 1, 1), 1);
  EXPECT_EQ(cybermen_present, 1);
  EXPECT_EQ(vrsim_cyberman_started(sim), 1);
  EXPECT_EQ(vrsim_cyberman_tactile_count(sim), 1);

  // Stage one from the line's own settings: 1200 baud, 7 bits, not local, receiver on.
  int get = vrsim_event_find(sim, 0, VRSIM_EV_LINE_GET, 1);
  ASSERT_GE(get, 0);
  int set1 = vrsim_event_find(sim, get, VRSIM_EV_LINE_SET, 1);
  ASSERT_GE(set1, 0);
  const vr_line_settings s1 = vrsim_event_at(sim, set1)->settings;
  EXPECT_EQ(s1.baud, 1200);
  EXPECT_EQ(s1.data_bits, 7);
  EXPECT_EQ(s1.parity, 0);
  EXPECT_EQ(s1.local, 0);
  EXPECT_EQ(s1.read_enable, 1);
  EXPECT_EQ(s1.min_read, 0);
  EXPECT_EQ(s1.read_timeout, 1);
  EXPECT_EQ(s1.raw, vrsim_event_at(sim, get)->settings.raw);  // kept from the line
  double t_set1 = vrsim_event_at(sim, set1)->time_ns * 1e-9;

  // Modem lines: DTR and RTS up, RTS down 0.3 s later, up again 0.3 s after that.
  int m1 = vrsim_event_find(sim, set1, VRSIM_EV_MODEM, 1);
  ASSERT_GE(m1, 0);
  int m2 = vrsim_event_find(sim, m1 + 1, VRSIM_EV_MODEM, 1);
  int m3 = vrsim_event_find(sim, m2 + 1, VRSIM_EV_MODEM, 1);
  ASSERT_GE(m3, 0);
  const vrsim_event e1 = *vrsim_event_at(sim, m1), e2 = *vrsim_event_at(sim, m2),
                    e3 = *vrsim_event_at(sim, m3);
  EXPECT_EQ(e1.lines, VR_MODEM_DTR | VR_MODEM_RTS);
  EXPECT_EQ(e1.raise, 1);
  EXPECT_EQ(e2.lines, VR_MODEM_RTS);
  EXPECT_EQ(e2.raise, 0);
  EXPECT_EQ(e3.lines, VR_MODEM_RTS);
  EXPECT_EQ(e3.raise, 1);
  EXPECT_NEAR((e2.time_ns - e1.time_ns) * 1e-9, 0.3, 1e-9);
  EXPECT_NEAR((e3.time_ns - e2.time_ns) * 1e-9, 0.3, 1e-9);
  EXPECT_NEAR(e1.time_ns * 1e-9, t_set1, 1e-9);

  // Flush, "*S" at 1200 baud, and 0.3 s later stage two: 4800 baud, 8 bits.
  int flush = vrsim_event_find(sim, m3, VRSIM_EV_FLUSH, 1);
  int write = vrsim_event_find(sim, m3, VRSIM_EV_WRITE, 1);
  int set2 = vrsim_event_find(sim, set1 + 1, VRSIM_EV_LINE_SET, 1);
  ASSERT_GE(flush, 0);
  ASSERT_LT(flush, write);
  ASSERT_LT(write, set2);
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(vrsim_event_at(sim, write)->bytes), 2),
            "*S");
  const vr_line_settings s2 = vrsim_event_at(sim, set2)->settings;
  EXPECT_EQ(s2.baud, 4800);
  EXPECT_EQ(s2.data_bits, 8);
  EXPECT_EQ(s2.local, 0);
  EXPECT_EQ(s2.read_enable, 1);
  EXPECT_NEAR((vrsim_event_at(sim, set2)->time_ns - vrsim_event_at(sim, write)->time_ns) * 1e-9,
              0.3, 1e-9);
  EXPECT_EQ(count_events(VRSIM_EV_LINE_SET, 1), 2);

  // The CyberMan hears its start-up, the tactile command one second after the reset, and the
  // slave type; none of the commands that go to both units.
  EXPECT_EQ(written_on(1), (std::vector<std::string>{"*S", bytes({'!', 'T', 1, 1, 7}),
                                                     bytes({'*', '$', 2, 1, 3})}));
  std::vector<track_test::Write> w = writes();
  double reset_time = -1, tactile_time = -1;
  for (const auto &x : w) {
    if (x.port == 0 && x.bytes == "*R") reset_time = x.time;
    if (x.port == 1 && x.bytes.size() == 5 && x.bytes[0] == '!') tactile_time = x.time;
  }
  EXPECT_NEAR(tactile_time - reset_time, 2.0, 1e-9);  // 1.0 s settle, then 1 s sleep
  EXPECT_EQ(written_on(0),
            (std::vector<std::string>{"*R", bytes({'*', '$', 2, 7, 3}), "*m", "*S"}));
  // Line start-up 0.9 s and 1 s; reset 1.1 s; tactile pause 1 s; filter length 0.5 s; first
  // mapping 0.2 s (one processor-clock step more, as its pause follows the filter's settle
  // directly); status 0.6 s; slave type 0.2 s; streaming 0.2 s. No status from the CyberMan.
  EXPECT_NEAR(vrsim_now(sim) - t0, 5.7 + 0.001, 1e-9);
}

TEST_F(Cyberman, PacketsFillCybermanStateAndNoPose) {
  vrsim_set_position(sim, VRSIM_HEAD, 1.0, -9.0, 52.0);
  ASSERT_EQ(vr_init_glasses_and_mouse_6d(ctx, 1, 1), 1);
  dmat mouse_before, mouse_plate_before;
  std::memcpy(mouse_before, ctx->mouse_to_dig, sizeof(dmat));
  std::memcpy(mouse_plate_before, ctx->mouse_to_plate, sizeof(dmat));
  dpt tip_before;
  std::memcpy(tip_before, ctx->mouse_tip_plate, sizeof(dpt));
  ctx->cyberman_state.spare = 99;

  const int states[4] = {1, -1, 3, 0};
  vrsim_cyberman_set(sim, -5, 7, 6, states);
  frames(5);
  EXPECT_EQ(ctx->cyberman_state.x_motion, -5.0);
  EXPECT_EQ(ctx->cyberman_state.y_motion, 7.0);
  EXPECT_EQ(ctx->cyberman_state.buttons, 6);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(ctx->cyberman_state.state[i], states[i]) << i;
  EXPECT_EQ(ctx->cyberman_state.spare, 99);

  const int other[4] = {3, 0, -1, 1};
  vrsim_cyberman_set(sim, 127, -128, 1, other);
  frames(5);
  EXPECT_EQ(ctx->cyberman_state.x_motion, 127.0);
  EXPECT_EQ(ctx->cyberman_state.y_motion, -128.0);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(ctx->cyberman_state.state[i], other[i]) << i;

  EXPECT_TRUE(vr_mat_equal(mouse_before, ctx->mouse_to_dig));
  EXPECT_TRUE(vr_mat_equal(mouse_plate_before, ctx->mouse_to_plate));
  EXPECT_EQ(0, std::memcmp(tip_before, ctx->mouse_tip_plate, sizeof(dpt)));
  // The glasses unit still tracks the head.
  EXPECT_NEAR(ctx->head_to_dig[3][2], 52.0, 0.00254);
}

TEST_F(Cyberman, StaysACybermanForTheRestOfTheProcess) {
  ASSERT_EQ(vr_init_glasses_and_mouse_6d(ctx, 1, 1), 1);
  vr_remove_glasses_and_mouse_6d(ctx);
  ctx->mouse_source = 2;
  vrsim_events_clear(sim);
  ASSERT_EQ(vr_init_glasses_and_mouse_6d(ctx, 1, 1), 1);
  EXPECT_EQ(cybermen_present, 1);
  // Still started like a CyberMan and spared the Logitech commands.
  EXPECT_EQ(count_events(VRSIM_EV_MODEM, 1), 3);
  EXPECT_EQ(written_on(1).front(), "*S");
  EXPECT_EQ(written_on(1).size(), 3u);
}

TEST_F(Cyberman, ReInitialisationRestartsTheLineOnly) {
  ASSERT_EQ(vr_init_glasses_and_mouse_6d(ctx, 1, 1), 1);
  vrsim_events_clear(sim);
  ASSERT_EQ(vr_lt_re_init_glasses_and_mouse_6d(ctx, 1, 1), 1);
  EXPECT_EQ(count_events(VRSIM_EV_OPEN), 0);
  EXPECT_EQ(count_events(VRSIM_EV_TOP_MODULE), 0);
  EXPECT_EQ(count_events(VRSIM_EV_LINE_SET, 0), 0);
  EXPECT_EQ(count_events(VRSIM_EV_LINE_SET, 1), 2);
  EXPECT_EQ(count_events(VRSIM_EV_MODEM, 1), 3);
  EXPECT_EQ(count_events(VRSIM_EV_SLEEP), 2);  // after the line start-up and before the tactile
  EXPECT_EQ(vrsim_cyberman_tactile_count(sim), 2);
  frames(3);
  EXPECT_EQ(vrsim_cyberman_started(sim), 1);
}

TEST_F(Cyberman, ClosingTogglesRtsInsteadOfCommands) {
  ASSERT_EQ(vr_init_glasses_and_mouse_6d(ctx, 1, 1), 1);
  vrsim_events_clear(sim);
  vr_lt_port_close(vr_lt_mouse_6d_unit);
  EXPECT_TRUE(written_on(1).empty());
  int m1 = vrsim_event_find(sim, 0, VRSIM_EV_MODEM, 1);
  int m2 = vrsim_event_find(sim, m1 + 1, VRSIM_EV_MODEM, 1);
  int close = vrsim_event_find(sim, 0, VRSIM_EV_CLOSE, 1);
  ASSERT_GE(m1, 0);
  ASSERT_GE(m2, 0);
  ASSERT_GE(close, 0);
  EXPECT_EQ(vrsim_event_at(sim, m1)->raise, 0);
  EXPECT_EQ(vrsim_event_at(sim, m2)->raise, 1);
  EXPECT_NEAR((vrsim_event_at(sim, m2)->time_ns - vrsim_event_at(sim, m1)->time_ns) * 1e-9, 0.3,
              1e-9);
  EXPECT_NEAR((vrsim_event_at(sim, close)->time_ns - vrsim_event_at(sim, m2)->time_ns) * 1e-9, 0.3,
              1e-9);
  EXPECT_EQ(unit_6d[1].fd, 0);
  // The glasses unit is stopped with commands as usual.
  vr_lt_port_close(vr_lt_glasses_unit);
  EXPECT_EQ(written_on(0), (std::vector<std::string>{"*D", "*O"}));
}

TEST_F(Cyberman, RejectedStageTwoSettingsEndTheSetUp) {
  vrsim_line_faults f{};
  f.set_errno = EIO;
  f.set_fail_at = 2;  // the first set on B is stage one, the second stage two
  vrsim_set_line_faults(sim, 1, &f);
  testing::internal::CaptureStderr();
  EXPECT_EQ(vr_init_glasses_and_mouse_6d(ctx, 1, 1), 0);
  testing::internal::GetCapturedStderr();
  EXPECT_STREQ(vr_lt_message, "Could not set port parameters for \"/dev/ttyb\" (5)");
  EXPECT_EQ(vr_lt_mouse_6d_unit, nullptr);
  EXPECT_EQ(count_events(VRSIM_EV_CLOSE, 0), 1);
  EXPECT_EQ(count_events(VRSIM_EV_CLOSE, 1), 1);
}

}  // namespace
