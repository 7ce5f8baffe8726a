// The Logitech units' lifecycle on the simulator: what initialisation installs, re-initialisation,
// pause, removal and shutdown, the parameterised commands, and the diagnostics entry.
#include <cmath>

#include "track_fixture.h"

namespace {

using track_test::bytes;
using track_test::TrackTest;

class LtLifecycle : public TrackTest {
 protected:
  void start_both() {
    vrsim_plug_standard(sim);
    use_6d();
    ASSERT_EQ(vr_init_glasses_and_mouse_6d(ctx, 1, 1), 1);
  }
};

TEST_F(LtLifecycle, FreshRecords) {
  vr_lt_unit unit;
  std::memset(&unit, 0x7F, sizeof unit);
  temporal_filter_length = 6;
  vr_lt_device_struct_init("name", &unit);
  EXPECT_STREQ(unit.device_name, "name");
  EXPECT_EQ(unit.filter_length, 6);
  EXPECT_EQ(unit.clock_rate, 1.0);
  EXPECT_EQ(unit.clock_offset, -11000000.0);
  EXPECT_EQ(unit.clock_lag, 0.0);
  for (const vr_lt_channel &c : unit.chan) {
    for (float v : c.value) EXPECT_EQ(v, -100.0f);
    EXPECT_EQ(c.reject_count, 60);
    EXPECT_EQ(c.fit_intercept, -11000000.0);
    EXPECT_EQ(c.fit_slope, -11000000.0);
  }
  vr_lt_change_filter_length(5);
  EXPECT_EQ(goo57, 0.0);
  vr_lt_change_filter_length(0);
  EXPECT_EQ(goo57, -0.5);
  vr_lt_change_filter_length(-2147483647);
  EXPECT_TRUE(std::isfinite(goo57));
}

TEST_F(LtLifecycle, TrackingDisabledOpensNothing) {
  vrsim_plug_standard(sim);
  use_6d();
  ctx->tracking_mode = 0;
  EXPECT_EQ(vr_init_glasses_and_mouse_6d(ctx, 1, 1), 1);
  EXPECT_EQ(vr_lt_re_init_glasses_and_mouse_6d(ctx, 1, 1), 1);
  EXPECT_EQ(vrsim_event_count(sim), 0);
  EXPECT_EQ(ctx->glasses_event_fn, nullptr);
  EXPECT_EQ(ctx->mouse_event_fn, nullptr);
  EXPECT_EQ(vr_lt_glasses_unit, nullptr);
}

TEST_F(LtLifecycle, UnknownSourcesStartNothing) {
  vrsim_plug_standard(sim);
  for (int source : {0, 3, 5}) {
    ctx->glasses_source = source;
    EXPECT_EQ(vr_init_glasses_and_mouse_6d(ctx, 1, 1), 0) << source;
    vr_re_init_glasses_and_mouse_6d(ctx, 1, 1);
    vr_remove_glasses_and_mouse_6d(ctx);
  }
  EXPECT_EQ(vrsim_event_count(sim), 0);
}

TEST_F(LtLifecycle, MouseAloneInstallsOnlyTheMouseHandlers) {
  vrsim_plug_standard(sim);
  use_6d();
  vrsim_set_position(sim, VRSIM_MOUSE, 4.0, -22.0, 41.0);
  ASSERT_EQ(vr_init_glasses_and_mouse_6d(ctx, 0, 1), 1);
  EXPECT_EQ(ctx->glasses_event_fn, nullptr);
  EXPECT_EQ(ctx->glasses_remove_fn, nullptr);
  EXPECT_EQ(ctx->mouse_event_fn, vr_lt_event_mouse3d);
  EXPECT_EQ(ctx->mouse_remove_fn, vr_lt_remove_glasses_and_mouse_6d);
  EXPECT_EQ(vr_lt_glasses_unit, nullptr);
  EXPECT_TRUE(written_on(0).empty());
  // No transmitter check without the glasses unit: no slave type, no second status request.
  EXPECT_EQ(written_on(1),
            (std::vector<std::string>{"*R", bytes({'*', '$', 2, 7, 3}), "*m", "*S"}));
  frames(5);
  EXPECT_NEAR(ctx->mouse_to_dig[3][1], -22.0, 0.00254);
}

TEST_F(LtLifecycle, ParameterisedCommands) {
  start_both();
  vrsim_events_clear(sim);
  vr_lt_set_event_filter_length(0, 0, 0);
  vr_lt_set_event_filter_length(11, 0, 0);
  EXPECT_TRUE(writes().empty());
  EXPECT_EQ(LT_SET_EVENT_FILTER_LENGTH[4], 3);  // the last value sent stays in the array
  vr_lt_set_event_filter_length(1, 0, 0);
  vr_lt_set_event_filter_length(10, 0, 0);
  EXPECT_EQ(written_on(0), written_on(1));
  EXPECT_EQ(written_on(0),
            (std::vector<std::string>{bytes({'*', '$', 2, 7, 1}), bytes({'*', '$', 2, 7, 10})}));

  vrsim_events_clear(sim);
  vr_lt_set_slave_transmitter_type(16, vr_lt_glasses_unit, 0, 0);
  vr_lt_set_slave_transmitter_type(-1, vr_lt_glasses_unit, 0, 0);
  vr_lt_set_slave_transmitter_type(15, vr_lt_glasses_unit, 0, 0);
  vr_lt_set_slave_transmitter_type(0, vr_lt_glasses_unit, 0, 0);  // shortened at its zero
  EXPECT_EQ(written_on(0),
            (std::vector<std::string>{bytes({'*', '$', 2, 1, 15}), bytes({'*', '$', 2, 1, 15}),
                                      bytes({'*', '$', 2, 1, 15}), bytes({'*', '$', 2, 1})}));
  EXPECT_TRUE(written_on(1).empty());

  // Each command flushes its line first, then waits its settle times.
  vrsim_events_clear(sim);
  double t0 = vrsim_now(sim);
  vr_lt_command(vr_lt_glasses_unit, nullptr, 30000, 70000, LT_GLOBAL_EULER);
  ASSERT_EQ(vrsim_event_count(sim), 2);
  EXPECT_EQ(vrsim_event_at(sim, 0)->kind, VRSIM_EV_FLUSH);
  EXPECT_NEAR(vrsim_event_at(sim, 1)->time_ns * 1e-9 - t0, 0.03, 1e-9);
  EXPECT_NEAR(vrsim_now(sim) - t0, 0.1, 1e-9);
  // Commands to units that are not there go nowhere.
  vr_lt_command(nullptr, nullptr, 0, 0, LT_RESET);
  vr_lt_demand_event(nullptr);
  EXPECT_EQ(vrsim_event_count(sim), 2);
}

TEST_F(LtLifecycle, ReInitialisationResetsTheUnitsOnTheOpenLines) {
  start_both();
  vrsim_events_clear(sim);
  ctx->streaming = 0;
  double t0 = vrsim_now(sim);
  ASSERT_EQ(vr_lt_re_init_glasses_and_mouse_6d(ctx, 1, 1), 1);
  EXPECT_NEAR(vrsim_now(sim) - t0, 3.2, 1e-9);
  for (int kind :
       {VRSIM_EV_OPEN, VRSIM_EV_CLOSE, VRSIM_EV_LINE_SET, VRSIM_EV_LINE_GET, VRSIM_EV_TOP_MODULE,
        VRSIM_EV_POP_MODULE, VRSIM_EV_NODELAY, VRSIM_EV_SLEEP, VRSIM_EV_CAPTURE_OPEN})
    EXPECT_EQ(count_events(kind), 0) << kind;
  EXPECT_EQ(written_on(0),
            (std::vector<std::string>{"*R", bytes({'*', '$', 2, 7, 3}), "*m", "*D"}));
  EXPECT_EQ(written_on(1), (std::vector<std::string>{"*R", bytes({'*', '$', 2, 7, 3}), "*m",
                                                     bytes({'*', '$', 2, 1, 3}), "*m", "*D"}));
  EXPECT_EQ(use_demand_reporting, 1);
  EXPECT_EQ(ctx->glasses_event_fn, vr_lt_event_glasses);
  EXPECT_EQ(ctx->mouse_event_fn, vr_lt_event_mouse3d);
  // The filter length copied at the first start-up stays.
  EXPECT_EQ(unit_6d[0].filter_length, ctx->event_filter_length);
}

TEST_F(LtLifecycle, ReInitialisingUnitsNotInUseFails) {
  vrsim_plug_standard(sim);
  use_6d();
  EXPECT_EQ(vr_lt_re_init_glasses_and_mouse_6d(ctx, 1, 1), 0);
  EXPECT_EQ(vrsim_event_count(sim), 0);
  EXPECT_EQ(ctx->glasses_event_fn, nullptr);
  EXPECT_STRNE(vr_lt_message, "");

  ASSERT_EQ(vr_init_glasses_and_mouse_6d(ctx, 1, 0), 1);
  vrsim_events_clear(sim);
  EXPECT_EQ(vr_lt_re_init_glasses_and_mouse_6d(ctx, 1, 1), 0);
  EXPECT_EQ(vrsim_event_count(sim), 0);
  EXPECT_EQ(ctx->mouse_event_fn, nullptr);
  EXPECT_EQ(vr_lt_glasses_unit, &unit_6d[0]);  // the unit in use is left as it was
}

TEST_F(LtLifecycle, PauseStopsReportsAndTransmitterUntilReInitialisation) {
  vrsim_set_position(sim, VRSIM_HEAD, 0.0, -10.0, 55.0);
  start_both();
  frames(3);
  vrsim_events_clear(sim);
  double t0 = vrsim_now(sim);
  vr_lt_pause_glasses_and_mouse_6d();
  EXPECT_NEAR(vrsim_now(sim) - t0, 4 * 0.3, 1e-9);
  std::vector<track_test::Write> w = writes();
  ASSERT_EQ(w.size(), 4u);
  const char *order[4] = {"*D", "*O", "*D", "*O"};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(w[i].port, i < 2 ? 0 : 1);
    EXPECT_EQ(w[i].bytes, order[i]);
    EXPECT_NEAR(w[i].time - t0, 0.1 + 0.3 * i, 1e-9);
  }
  EXPECT_EQ(count_events(VRSIM_EV_CLOSE), 0);
  vrsim_lt_state a;
  vrsim_lt_get_state(sim, 0, &a);
  EXPECT_EQ(a.streaming, 0);
  EXPECT_EQ(a.measuring, 0);

  // Paused: the head moves but the tracked pose stays.
  dmat before;
  std::memcpy(before, ctx->head_to_dig, sizeof before);
  vrsim_set_position(sim, VRSIM_HEAD, 6.0, -10.0, 55.0);
  frames(10);
  EXPECT_TRUE(vr_mat_equal(before, ctx->head_to_dig));

  ASSERT_EQ(vr_lt_re_init_glasses_and_mouse_6d(ctx, 1, 1), 1);
  frames(5);
  EXPECT_NEAR(ctx->head_to_dig[3][0], 6.0, 0.00254);
}

TEST_F(LtLifecycle, RemovalStopsTheUnitsAndClosesTheLines) {
  start_both();
  vrsim_events_clear(sim);
  double t0 = vrsim_now(sim);
  vr_remove_glasses_and_mouse_6d(ctx);
  EXPECT_NEAR(vrsim_now(sim) - t0, 4 * 0.3, 1e-9);
  EXPECT_EQ(written_on(0), (std::vector<std::string>{"*D", "*O"}));
  EXPECT_EQ(written_on(1), (std::vector<std::string>{"*D", "*O"}));
  EXPECT_EQ(count_events(VRSIM_EV_CLOSE, 0), 1);
  EXPECT_EQ(count_events(VRSIM_EV_CLOSE, 1), 1);
  // Glasses first.
  EXPECT_LT(vrsim_event_find(sim, 0, VRSIM_EV_CLOSE, 0),
            vrsim_event_find(sim, 0, VRSIM_EV_CLOSE, 1));
  EXPECT_EQ(ctx->glasses_event_fn, nullptr);
  EXPECT_EQ(ctx->glasses_remove_fn, nullptr);
  EXPECT_EQ(ctx->mouse_event_fn, nullptr);
  EXPECT_EQ(ctx->mouse_remove_fn, nullptr);
  EXPECT_EQ(vr_lt_glasses_unit, nullptr);
  EXPECT_EQ(vr_lt_mouse_6d_unit, nullptr);
  EXPECT_EQ(unit_6d[0].fd, 0);
  EXPECT_EQ(unit_6d[1].fd, 0);

  // Twice, and the close entry on units not in use: nothing more happens.
  vrsim_events_clear(sim);
  vr_lt_remove_glasses_and_mouse_6d(ctx);
  vr_lt_close_glasses_and_mouse_6d();
  vr_lt_pause_glasses_and_mouse_6d();
  EXPECT_EQ(vrsim_event_count(sim), 0);
}

TEST_F(LtLifecycle, SecondSetUpWithoutRemovalReleasesTheFirstLines) {
  start_both();
  vrsim_events_clear(sim);
  ASSERT_EQ(vr_init_glasses_and_mouse_6d(ctx, 1, 1), 1);
  EXPECT_EQ(count_events(VRSIM_EV_CLOSE, 0), 1);
  EXPECT_EQ(count_events(VRSIM_EV_CLOSE, 1), 1);
  EXPECT_EQ(count_events(VRSIM_EV_OPEN), 2);
  EXPECT_LT(vrsim_event_find(sim, 0, VRSIM_EV_CLOSE, 0),
            vrsim_event_find(sim, 0, VRSIM_EV_OPEN, 0));
  frames(3);
  EXPECT_NEAR(ctx->head_to_dig[3][2], 55.0, 0.00254);  // the default head truth
}

int remove_calls = 0;
void counting_remove(vr_ctx *c) {
  ++remove_calls;
  vr_lt_remove_glasses_and_mouse_6d(c);
}

TEST_F(LtLifecycle, QuitCallsTheLogitechRemovalOnce) {
  start_both();
  ASSERT_EQ(ctx->mouse_remove_fn, vr_lt_remove_glasses_and_mouse_6d);
  ASSERT_EQ(ctx->glasses_remove_fn, vr_lt_remove_glasses_and_mouse_6d);
  // The same function in both slots, observed.
  ctx->mouse_remove_fn = counting_remove;
  ctx->glasses_remove_fn = counting_remove;
  remove_calls = 0;
  vrsim_events_clear(sim);
  vr_quit(ctx);
  EXPECT_EQ(remove_calls, 1);
  EXPECT_EQ(count_events(VRSIM_EV_CLOSE), 2);
  EXPECT_EQ(vr_lt_glasses_unit, nullptr);
}

TEST_F(LtLifecycle, OffsetsForDiagnostics) {
  int a = -7, b = -7;
  double g = -7.0, m = -7.0;
  // Nothing mapped and no unit in use: nothing is known, nothing is written.
  vr_lt_offsets(&a, &b, &g, &m);
  EXPECT_EQ(a, -7);
  EXPECT_EQ(b, -7);
  EXPECT_EQ(g, -7.0);
  EXPECT_EQ(m, -7.0);
  vr_lt_offsets(nullptr, nullptr, nullptr, nullptr);

  vrsim_plug_standard(sim);
  use_6d();
  ASSERT_EQ(vr_init_glasses_and_mouse_6d(ctx, 1, 0), 1);
  frames(3);
  vr_lt_offsets(&a, &b, &g, &m);
  EXPECT_EQ(a, vrsim_ring_offset(0));
  EXPECT_EQ(b, vrsim_ring_offset(1));
  EXPECT_EQ(g, static_cast<double>(unit_6d[0].slot_time[0]));
  EXPECT_EQ(m, -7.0);  // the mouse unit is not in use
  EXPECT_EQ(vr_lt_obtain_current_offset(vr_lt_glasses_unit), vrsim_ring_offset(0));
  EXPECT_EQ(vr_lt_obtain_current_offset(nullptr), -1);
}

}  // namespace
