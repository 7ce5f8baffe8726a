// The raw pose solver on hand-filled histories: poses against an independent geometric truth,
// the prediction lead, the fitting window, every plausibility test and the filter adaptation,
// and the two exported helpers that the library does not call itself.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "raw_test_util.h"
#include "vr_lt_raw.h"

namespace {

using namespace raw_test;

constexpr double rx_base = 6.35;  // cm

class Solve : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_module();
    init_unit(&unit, 1, false);
    std::memset(&ctx, 0, sizeof ctx);
    ctx.raw_interpolate = 0;
    ctx.predict_from_frame_time = 1;
    ctx.predict_lead = 3.0 / 112.9;
    ctx.predict_lead_limit = 3.0;
    ctx.raw_limit = 100.0;
    ctx.pworld_time_delta = 0.02;
    vr_mat_identity(out);
    for (int k = 0; k < 16; ++k) unit.slot_time[k] = static_cast<float>(20.0 + 0.02 * k);
  }

  // Slot k holds the distances of `truth` (receiver side `side`, mtop offset e).
  void put_pose(int k, const dmat truth, double side = rx_base, double e = 0.0) {
    const auto d = distances(truth, rx_base, side, e);
    const int channel_of_wire[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    for (int w = 0; w < 9; ++w) unit.chan[channel_of_wire[w]].value[k] = static_cast<float>(d[w]);
    unit.slot_valid[k] = 1;
  }
  void put_pose_everywhere(const dmat truth, double side = rx_base) {
    for (int k = 0; k < 16; ++k) put_pose(k, truth, side);
  }

  // Speakers placed directly in the solving frame (microphones mll (-b/2, 0, 0), mlr (b/2, 0, 0),
  // mtop (0, h, 0)): the slot's nine distances.
  void put_speakers(int k, const P3 (&sp)[3]) {
    const double h = std::sqrt(rx_base * rx_base - rx_base * rx_base / 4);
    const P3 mll{-rx_base / 2, 0, 0}, mlr{rx_base / 2, 0, 0}, mtop{0, h, 0};
    for (int s = 0; s < 3; ++s) {
      unit.chan[3 * s + 1].value[k] = static_cast<float>(dist(sp[s], mlr));
      unit.chan[3 * s + 2].value[k] = static_cast<float>(dist(sp[s], mll));
      unit.chan[3 * s + 3].value[k] = static_cast<float>(dist(sp[s], mtop));
    }
  }

  int solve() { return comp_mouse_6d_raws(&ctx, &unit, out); }

  vr_ctx ctx;
  vr_lt_unit unit;
  dmat out;
};

TEST_F(Solve, StillPosesComeOutAsTheTruthWithAndWithoutFitting) {
  const double poses[][6] = {{0, 0, 0, 0, -10, 55},
                             {0.3, -0.2, 0.4, 5, -8, 50},
                             {-0.5, 0.3, -0.3, -12, 4, 70},
                             {1.2, 0.1, 0.2, 10, 20, 45},
                             {0.0, -0.4, 0.0, 3, -30, 60}};
  for (int interpolate : {0, 1}) {
    for (const auto &p : poses) {
      SetUp();
      ctx.raw_interpolate = interpolate;
      dmat truth;
      pose(p[0], p[1], p[2], p[3], p[4], p[5], truth);
      put_pose_everywhere(truth);
      unit.next_slot = 5;
      ASSERT_EQ(solve(), 1) << interpolate << " " << p[3];
      EXPECT_LT(translation_error(out, truth), 1e-3);
      EXPECT_LT(angle_between_deg(out, truth), 5e-3);
      EXPECT_EQ(out[0][3], 0.0);
      EXPECT_EQ(out[1][3], 0.0);
      EXPECT_EQ(out[2][3], 0.0);
      EXPECT_EQ(out[3][3], 1.0);
    }
  }
}

TEST_F(Solve, GlassesReceiverSideIsLongerUnlessTheHeightIsGiven) {
  vr_lt_glasses_unit = &unit;
  dmat truth;
  pose(0.2, 0.1, -0.2, 2, -5, 55, truth);
  put_pose_everywhere(truth, rx_base + 0.08);
  ASSERT_EQ(solve(), 1);
  EXPECT_LT(translation_error(out, truth), 1e-3);
  // A height given outright is used as it is.
  const double h = 4.0;
  unit.op_info.receiver_geom[2] = h;
  put_pose_everywhere(truth, std::sqrt(h * h + rx_base * rx_base / 4));
  ASSERT_EQ(solve(), 1);
  EXPECT_LT(translation_error(out, truth), 1e-3);
  // So is an mtop offset.
  unit.op_info.receiver_geom[3] = 0.7;
  const double side = std::sqrt(h * h + rx_base * rx_base / 4);
  for (int k = 0; k < 16; ++k) put_pose(k, truth, side, 0.7);
  ASSERT_EQ(solve(), 1);
  EXPECT_LT(translation_error(out, truth), 1e-3);
}

TEST_F(Solve, LeadFromTheFrameIntervalOrFixed) {
  vr_lt_glasses_unit = &unit;
  dmat truth;
  pose(0, 0, 0, 0, -10, 55, truth);
  put_pose_everywhere(truth, rx_base + 0.08);
  unit.next_slot = 0;  // slot 15 is the newest
  const double t15 = unit.slot_time[15];
  solve();
  EXPECT_DOUBLE_EQ(future_time, t15 + 0.02 + 1.0 / 112.9);
  EXPECT_NEAR(future_sll_to_mll, dist(speaker(2), through({rx_base / 2, 0, 0}, truth)), 1e-4);
  ctx.predict_lead_limit = 0.025;  // 0.02 + 1/112.9 exceeds it: not the limit, 3 cycles
  solve();
  EXPECT_DOUBLE_EQ(future_time, t15 + 3.0 / 112.9);
  ctx.predict_from_frame_time = 0;
  ctx.predict_lead = 0.5;
  solve();
  EXPECT_DOUBLE_EQ(future_time, t15 + 0.5);
}

TEST_F(Solve, NewestSlotFollowsTheCursorAndAnImpossibleCursorSolvesNothing) {
  dmat truth, other;
  pose(0.1, 0, 0, 4, -6, 60, truth);
  pose(0, 0, 0, -4, 6, 50, other);
  put_pose_everywhere(other);
  put_pose(15, truth);
  unit.next_slot = 0;
  ASSERT_EQ(solve(), 1);
  EXPECT_LT(translation_error(out, truth), 1e-3);
  dmat before;
  std::memcpy(before, out, sizeof before);
  for (int cursor : {16, -1, 1000}) {
    unit.next_slot = cursor;
    EXPECT_EQ(solve(), 0);
    EXPECT_EQ(std::memcmp(before, out, sizeof before), 0);
  }
}

TEST_F(Solve, FitWindowIsTheNewestFilterLengthSlots) {
  ctx.raw_interpolate = 1;
  unit.filter_length = 8;
  vr_lt_channel &c = unit.chan[4];
  double t[16];
  for (int k = 0; k < 16; ++k) t[k] = unit.slot_time[k];
  auto line = [&](int k) { return static_cast<float>(40.0 + 5.0 * (t[k] - 20.0)); };
  struct Case {
    int newest;
    int window[8];
  } cases[] = {{2, {2, 1, 0, 15, 14, 13, 12, 11}}, {10, {10, 9, 8, 7, 6, 5, 4, 3}}};
  for (const Case &cs : cases) {
    for (int k = 0; k < 16; ++k) c.value[k] = 90.0f;  // valid, but far off the line
    for (int k : cs.window) c.value[k] = line(k);
    // The window wraps in slot order, not in time: fit against the slot times as they are.
    const double v = least_sq_fit_interpolate(&ctx, &unit, t, &c, cs.newest, 0.0);
    EXPECT_NEAR(v, line(cs.newest), 1e-4) << cs.newest;
    EXPECT_NEAR(c.fit_slope, 5.0, 1e-3);
    EXPECT_EQ(c.fit_time, static_cast<float>(t[cs.newest]));
  }
}

TEST_F(Solve, FitExtrapolatesByTheLeadAndKeepsOnlyGoodLines) {
  ctx.raw_interpolate = 1;
  unit.filter_length = 16;
  vr_lt_channel &c = unit.chan[7];
  double t[16];
  for (int k = 0; k < 16; ++k) {
    t[k] = 100.0 + 0.02 * k;
    c.value[k] = static_cast<float>(60.0 - 20.0 * 0.02 * k);  // 20 cm/s towards the speaker
  }
  double v = least_sq_fit_interpolate(&ctx, &unit, t, &c, 15, 0.05);
  EXPECT_NEAR(v, 60.0 - 20.0 * (0.3 + 0.05), 1e-4);
  EXPECT_NEAR(c.fit_intercept + c.fit_slope * t[15], 54.0, 1e-4);
  EXPECT_LT(c.fit_variance, 1e-8);

  // Residuals of 2 cm (mean square 4): the value is still extrapolated, the line not kept.
  const vr_lt_channel before = c;
  for (int k = 0; k < 16; ++k) c.value[k] = static_cast<float>(50.0 + (k % 2 ? 2.0 : -2.0));
  v = least_sq_fit_interpolate(&ctx, &unit, t, &c, 15, 0.0);
  EXPECT_NEAR(v, 50.0, 0.5);
  EXPECT_EQ(c.fit_slope, before.fit_slope);
  EXPECT_EQ(c.fit_intercept, before.fit_intercept);
  EXPECT_EQ(c.fit_time, before.fit_time);
  EXPECT_EQ(c.fit_variance, before.fit_variance);
  EXPECT_EQ(c.fit_value, static_cast<float>(v));

  // Nothing valid in the window: the previous estimate, channel untouched.
  for (float &x : c.value) x = -100.0f;
  const vr_lt_channel empty = c;
  EXPECT_EQ(least_sq_fit_interpolate(&ctx, &unit, t, &c, 15, 0.0), empty.fit_value);
  EXPECT_EQ(std::memcmp(&empty, &c, sizeof c), 0);

  // A single sample, or samples all at one time, determine no line: their mean stands for it.
  c.value[3] = 42.0f;
  EXPECT_EQ(least_sq_fit_interpolate(&ctx, &unit, t, &c, 15, 0.05), 42.0);
  for (int k = 0; k < 16; ++k) {
    t[k] = 100.0;
    c.value[k] = k < 8 ? 41.0f : 43.0f;
  }
  EXPECT_EQ(least_sq_fit_interpolate(&ctx, &unit, t, &c, 15, 0.05), 42.0);
  EXPECT_EQ(c.fit_slope, 0.0);

  // Fitting off: the newest sample as it is, even the invalid mark; nothing written.
  ctx.raw_interpolate = 0;
  c.value[15] = -100.0f;
  const vr_lt_channel off = c;
  EXPECT_EQ(least_sq_fit_interpolate(&ctx, &unit, t, &c, 15, 0.05), -100.0);
  EXPECT_EQ(std::memcmp(&off, &c, sizeof c), 0);
}

TEST_F(Solve, PredictionFollowsAMovingReceiver) {
  // The receiver moves at 20 cm/s; each speaker's distances are measured at its own firing time.
  auto truth_at = [](double t, dmat m) { pose(0.1, 0.0, 0.0, 20.0 * (t - 20.0), -8, 55, m); };
  auto fill = [&](vr_lt_unit &u, int k, double shift) {
    const double ts[3] = {u.slot_time[k] - 0.0133333, u.slot_time[k] - 0.0066667, u.slot_time[k]};
    for (int s = 0; s < 3; ++s) {
      dmat m;
      truth_at(ts[s] + shift, m);
      const auto d = distances(m, rx_base, rx_base);
      for (int w = 0; w < 3; ++w) u.chan[3 * s + 1 + w].value[k] = static_cast<float>(d[3 * s + w]);
    }
  };
  for (int k = 0; k < 16; ++k) fill(unit, k, 0.0);
  unit.next_slot = 0;
  unit.filter_length = 8;
  const double lead = 0.02 + 1.0 / 112.9;
  dmat ahead;
  truth_at(unit.slot_time[15] + lead, ahead);

  ctx.raw_interpolate = 0;
  ASSERT_EQ(solve(), 1);
  const double raw_error = translation_error(out, ahead);
  ctx.raw_interpolate = 1;
  ASSERT_EQ(solve(), 1);
  dmat fitted;
  std::memcpy(fitted, out, sizeof fitted);
  // Each speaker's line is evaluated at its own newest firing time plus the lead: exactly the
  // newest slot's measurements taken one lead later.
  vr_lt_unit later = unit;
  fill(later, 15, lead);
  ctx.raw_interpolate = 0;
  ASSERT_EQ(comp_mouse_6d_raws(&ctx, &later, out), 1);
  // (Up to the curvature of the distances over the fitted window: a few hundredths of a cm.)
  EXPECT_LT(translation_error(out, fitted), 0.1);
  EXPECT_LT(angle_between_deg(out, fitted), 0.1);
  EXPECT_GT(raw_error, 0.5);
  EXPECT_LT(translation_error(fitted, ahead), 0.5 * raw_error);
}

TEST_F(Solve, PlausibilityTestsInTheirOrderLeaveThePoseBitIdentical) {
  unit.next_slot = 1;
  dmat truth;
  pose(0, 0, 0, 0, -10, 55, truth);
  put_pose(0, truth);
  ASSERT_EQ(solve(), 1);
  dmat good;
  std::memcpy(good, out, sizeof good);
  auto fails = [&](const P3(&sp)[3], const char *what) {
    put_speakers(0, sp);
    EXPECT_EQ(solve(), 0) << what;
    EXPECT_EQ(std::memcmp(good, out, sizeof good), 0) << what;
  };
  auto passes = [&](const P3(&sp)[3], const char *what) {
    put_speakers(0, sp);
    EXPECT_EQ(solve(), 1) << what;
    std::memcpy(out, good, sizeof good);
  };
  const P3 ok[3] = {{-15, 5, 50}, {15, 5, 50}, {0, 30, 50}};
  passes(ok, "ok");
  // 5 degrees above the microphone plane, from either side of it.
  const double below = std::tan(0.08), above = std::tan(0.09);
  const P3 low[3] = {{-15, 5, 50}, {15, 5, 50}, {0, 40, 40 * below}};
  fails(low, "stop below 5 degrees");
  const P3 high[3] = {{-15, 5, 50}, {15, 5, 50}, {0, 40, 40 * above}};
  passes(high, "stop above 5 degrees");
  const P3 flat[3] = {{-15, 5, 0}, {15, 5, 50}, {0, 30, 50}};
  fails(flat, "sll in the microphone plane");
  // Beyond raw_limit.
  const P3 far[3] = {{-15, 5, 50}, {15, 5, 50}, {0, 30, 96}};
  fails(far, "stop beyond 100 cm");
  ctx.raw_limit = 120.0;
  passes(far, "stop within 120 cm");
  ctx.raw_limit = 100.0;
  const P3 same[3] = {{-15, 5, 50}, {15, 5, 50}, {-15, 5, 50}};
  fails(same, "two speakers at one place: no speaker plane, no axes");
  // Degenerate receiver: positions that are no numbers.
  passes(ok, "ok");
  unit.op_info.receiver_geom[0] = 0.0;
  fails(ok, "zero base");
  unit.op_info.receiver_geom[0] = rx_base;
  unit.op_info.receiver_geom[1] = 1.0;  // side shorter than half the base
  fails(ok, "short side");
}

TEST_F(Solve, FilterLengthFollowsTheDistanceOfTheTopSpeaker) {
  unit.next_slot = 1;
  ctx.raw_limit = 200.0;
  auto at = [&](double r, int start) {
    unit.filter_length = start;
    const P3 sp[3] = {{-15, 5, 30}, {15, 5, 30}, {0, r * 0.6, r * 0.8}};
    put_speakers(0, sp);
    solve();
    return unit.filter_length;
  };
  EXPECT_EQ(at(40.0, 12), 8);
  EXPECT_EQ(at(75.0, 8), 12);
  EXPECT_EQ(at(100.5, 8), 16);
  EXPECT_EQ(at(150.0, 8), 16);
  EXPECT_EQ(at(75.0, 4), 4);  // a short filter set by the application is left alone
  // Adapted once the positions pass, even when the axes then fail.
  unit.filter_length = 8;
  const P3 same[3] = {{0, 5, 60}, {15, 5, 60}, {0, 5, 60}};
  put_speakers(0, same);
  EXPECT_EQ(solve(), 0);
  EXPECT_EQ(unit.filter_length, 9);  // |stop| = 60.2 cm
  EXPECT_GE(vr::lt::raw_counters(1).filter_changes, 4);
}

TEST_F(Solve, NothingNonFiniteReachesThePose) {
  ctx.raw_interpolate = 1;
  dmat truth;
  pose(0, 0, 0, 0, -10, 55, truth);
  put_pose_everywhere(truth);
  ASSERT_EQ(solve(), 1);
  dmat good;
  std::memcpy(good, out, sizeof good);
  for (double lead : {double(NAN), double(INFINITY), -double(INFINITY)}) {
    ctx.predict_from_frame_time = 0;
    ctx.predict_lead = lead;
    EXPECT_EQ(solve(), 0);
    EXPECT_EQ(std::memcmp(good, out, sizeof good), 0);
  }
  // An absurd lead: whatever the line gives, saturated, fails the tests or is a finite pose.
  ctx.predict_lead = 1e300;
  unit.chan[9].value[3] += 0.5f;
  solve();
  // The stored lines were not touched by those calls, so the next sane call solves again.
  ctx.predict_lead = 0.02;
  EXPECT_EQ(solve(), 1);
  for (auto &row : out)
    for (double x : row) EXPECT_TRUE(std::isfinite(x));
}

TEST(SolveHelpers, AverageFitOverTheLast160Milliseconds) {
  // Entry 7 is exactly 0.16 s older than the newest (entry 5); entry 6 is a little older still.
  double times[8] = {-1.0, 1.0, 1.04, 1.08, 1.12, 1.16, 0.9999, 1.0};
  double pos[8][4] = {};
  for (int k = 0; k < 8; ++k) {
    pos[k][0] = 99.0;  // the time inside the entry is not read
    pos[k][1] = 10.0 + 50.0 * times[k];
    pos[k][2] = -3.0;
    pos[k][3] = 40.0 - 10.0 * times[k];
  }
  pos[0][1] = pos[6][1] = 1000.0;  // empty and too old: never used
  dmat out;
  vr_mat_identity(out);
  ASSERT_EQ(least_sq_fit_avg(times, pos, out, 5), 1);
  EXPECT_NEAR(out[3][0], 10.0 + 50.0 * 1.16, 1e-9);
  EXPECT_NEAR(out[3][1], -3.0, 1e-9);
  EXPECT_NEAR(out[3][2], 40.0 - 11.6, 1e-9);
  EXPECT_EQ(out[0][0], 1.0);
  pos[7][1] = 1000.0;  // now wrong: the entry 0.16 s old must have been used
  ASSERT_EQ(least_sq_fit_avg(times, pos, out, 5), 1);
  EXPECT_GT(std::fabs(out[3][0] - (10.0 + 50.0 * 1.16)), 1.0);
  // One entry: its own position.
  const double one[8] = {-1, -1, 2.0, -1, -1, -1, -1, -1};
  ASSERT_EQ(least_sq_fit_avg(one, pos, out, 2), 1);
  EXPECT_EQ(out[3][0], pos[2][1]);
  // Nothing usable, or an index outside the buffer.
  const double none[8] = {-1, -1, -1, -1, -1, -1, -1, -1};
  const dmat before = {{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}, {13, 14, 15, 16}};
  std::memcpy(out, before, sizeof out);
  EXPECT_EQ(least_sq_fit_avg(none, pos, out, 2), 0);
  EXPECT_EQ(least_sq_fit_avg(times, pos, out, 8), 0);
  EXPECT_EQ(least_sq_fit_avg(times, pos, out, -1), 0);
  EXPECT_EQ(std::memcmp(before, out, sizeof out), 0);
}

TEST(SolveHelpers, SingleRecordSolverFromTheNewestRecord) {
  reset_module();
  vr_lt_unit glasses, mouse;
  init_unit(&glasses, 0, true);
  init_unit(&mouse, 1, false, 5.08, 5.08);
  vr_lt_glasses_unit = &glasses;
  vr_lt_mouse_6d_unit = &mouse;
  dmat truth;
  pose(0.2, -0.1, 0.15, 6, -20, 45, truth);
  const auto d = distances(truth, 5.08, 5.08);
  std::array<unsigned, 9> tof;
  for (int k = 0; k < 9; ++k) tof[k] = static_cast<unsigned>(std::lround(d[k] / cm_per_count));
  auto store = [](vr_lt_unit &u, const Values &v) {
    for (int k = 0; k < 12; ++k) {
      const std::uint16_t x = static_cast<std::uint16_t>(v[k]);
      std::memcpy(u.record + 2 * k, &x, 2);
    }
  };
  // The scale comes from the transmitter unit's newest record.
  store(glasses, record(0, 0, reference_counts, tof));
  store(mouse, record(0, 0, 1, tof));
  dmat out;
  vr_mat_identity(out);
  comp_mouse_6d_raw(&mouse, out);
  // Counts of 0.0053 cm: a few hundredths of a centimetre after trilateration.
  EXPECT_LT(translation_error(out, truth), 0.1);
  EXPECT_LT(angle_between_deg(out, truth), 0.5);
  // No reference time of flight: nothing to scale with, the pose stays.
  store(glasses, record(0, 0, 0, tof));
  dmat before;
  std::memcpy(before, out, sizeof before);
  comp_mouse_6d_raw(&mouse, out);
  EXPECT_EQ(std::memcmp(before, out, sizeof out), 0);
}

}  // namespace
