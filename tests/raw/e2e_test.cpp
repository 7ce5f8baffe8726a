// The raw ultrasonic path end to end on the simulator, in virtual time, with the defaults of a
// new context (glasses and mouse both raw): still poses against the truth, a moving head with
// noisy distances and outliers (the predicted eye points against the truth when the frame is
// shown), the unit clock's 60 s wrap, a dropout, a stalled clock and garbage on the line.
#include <cmath>
#include <cstring>
#include <cstdio>
#include <functional>
#include <random>
#include <algorithm>
#include <vector>

#include "raw_test_util.h"
#include "track_fixture.h"

namespace {

using raw_test::angle_between_deg;
using raw_test::translation_error;
using track_test::TrackTest;
using vr::lt::raw_counters;

constexpr double frame_s = 1.0 / 60.0;

bool finite_pose(const dmat m) {
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c)
      if (!std::isfinite(m[r][c])) return false;
  return true;
}

// A scripted head: sway along x and turns about the head's vertical axis.
struct Motion {
  double sway_cm_per_s = 20.0;
  double turn_deg_per_s = 60.0;
  double omega = 2.0;  // rad/s of both sinusoids
  static void at(void *user, double t, dmat out) {
    const Motion *m = static_cast<const Motion *>(user);
    const double x = m->sway_cm_per_s / m->omega * std::sin(m->omega * t);
    const double z = 60.0 + 15.0 * std::sin(0.4 * t);  // nearer and farther, up to 6 cm/s
    const double yaw = m->turn_deg_per_s / m->omega * M_PI / 180.0 * std::sin(m->omega * t + 0.7);
    dmat r, tr;
    vr_mat_rot_y(yaw, r);
    vr_mat_trans(x, -10.0, z, tr);
    vr_mat_mul_mat(r, tr, out);
  }
};

// Errors of the predicted eye points over a run.
struct EyeErrors {
  double rms = 0, worst = 0, p95 = 0, rms_at_compute = 0;
  int over_5cm = 0, samples = 0;
  vr::lt::RawCounters counters{};
};

class RawE2e : public TrackTest {
 protected:
  void SetUp() override {
    TrackTest::SetUp();
    raw_test::reset_module();
    vrsim_plug_standard(sim);
  }
  void TearDown() override {
    cur_stat = 255;
    TrackTest::TearDown();
  }
  void start(int raw_interpolate) {
    // A new context's tracker configuration: glasses and mouse raw, streaming.
    ASSERT_EQ(ctx->glasses_source, 1);
    ASSERT_EQ(ctx->mouse_source, 1);
    ctx->raw_interpolate = raw_interpolate;
    ASSERT_EQ(vr_init_glasses_and_mouse_6d(ctx, 1, 1), 1);
    ASSERT_EQ(vr_lt_glasses_unit, &unit_6d[0]);
    ASSERT_EQ(vr_lt_mouse_6d_unit, &unit_6d[1]);
  }
  void truth(int which, double t, dmat out) const { vrsim_get_pose(sim, which, t, out); }
  EyeErrors moving_head(int raw_interpolate, bool outliers);
  // The scripted head lives as long as the simulator that calls it (until TearDown).
  Motion motion;
  int frames_until_tracking(int limit);

  // The eye point the glasses handler computes, from a head pose.
  void screen_eye(dmat head, const dpt offset, dpt out) const {
    dpt dig, plate, gaze;
    vr_mat_mul_dpt(offset, head, dig);
    vr_mat_mul_dpt(dig, ctx->dig_to_plate, plate);
    const double *target = ctx->gaze_mode == 1 ? ctx->window_center : ctx->mouse_tip_plate;
    vr_dvector_sub(target, plate, gaze);
    vr_dvector_normalize(gaze);
    for (int i = 0; i < 3; ++i) out[i] = plate[i] + 1.1 * gaze[i];
  }
};

class RawE2eFit : public RawE2e, public ::testing::WithParamInterface<int> {
 protected:
  // The library's own solve of the given nine distances (wire order) for the unit on a port,
  // with fitting off.
  int solve_distances(int port, const double d[9], dmat out) {
    vr_lt_unit scratch = unit_6d[port];
    for (int w = 0; w < 9; ++w) scratch.chan[w + 1].value[0] = static_cast<float>(d[w]);
    scratch.next_slot = 1;
    vr_lt_unit *const glasses = vr_lt_glasses_unit;
    if (port == 0) vr_lt_glasses_unit = &scratch;  // the glasses receiver's side correction
    const int interpolate = ctx->raw_interpolate;
    ctx->raw_interpolate = 0;
    const int ok = comp_mouse_6d_raws(ctx, &scratch, out);
    ctx->raw_interpolate = interpolate;
    vr_lt_glasses_unit = glasses;
    return ok;
  }
};

// The distances on the wire are whole counts of 25.4/4800 cm, which alone moves a solved pose by
// up to about a millimetre and a tenth of a degree. So the check is in two steps, each at the
// full precision: the solver on the exact distances is the truth (the simulator and the library
// agree on every frame and on the receiver geometry), and the whole pipeline (capture, clock,
// calibration, fitting) on the simulated records gives exactly the solve of the distances the
// records carry.
TEST_P(RawE2eFit, StillHeadAndMouseComeOutAsTheTruth) {
  start(GetParam());
  frames(60);
  const double now = vrsim_now(sim);
  vrsim_transmitter tx;
  vrsim_get_transmitter(sim, &tx);
  const struct {
    int port, which;
    double *got;
    const char *name;
  } units[] = {{0, VRSIM_HEAD, &ctx->head_to_dig[0][0], "head"},
               {1, VRSIM_MOUSE, &ctx->mouse_to_dig[0][0], "mouse"}};
  for (const auto &u : units) {
    dmat want, exact, carried;
    truth(u.which, now, want);
    double d[9], q[9];
    vrsim_true_distances(sim, u.port, now, d);
    for (int w = 0; w < 9; ++w) q[w] = std::llround(d[w] / tx.cm_per_count) * tx.cm_per_count;
    ASSERT_EQ(solve_distances(u.port, d, exact), 1) << u.name;
    ASSERT_EQ(solve_distances(u.port, q, carried), 1) << u.name;
    EXPECT_LT(translation_error(exact, want), 0.01) << u.name;
    EXPECT_LT(angle_between_deg(exact, want), 0.05) << u.name;
    dmat got;
    std::memcpy(got, u.got, sizeof got);
    EXPECT_LT(translation_error(got, carried), 0.01) << u.name;
    EXPECT_LT(angle_between_deg(got, carried), 0.05) << u.name;
    std::printf(
        "still %s, raw_interpolate %d: exact distances %.6f cm %.6f deg; pipeline against "
        "the carried distances %.6f cm %.6f deg; against the truth %.4f cm %.4f deg\n",
        u.name, GetParam(), translation_error(exact, want), angle_between_deg(exact, want),
        translation_error(got, carried), angle_between_deg(got, carried),
        translation_error(got, want), angle_between_deg(got, want));
    // What whole counts cost at these poses.
    EXPECT_LT(translation_error(got, want), 0.2) << u.name;
    EXPECT_LT(angle_between_deg(got, want), 0.3) << u.name;
  }
  EXPECT_EQ(raw_counters(0).out_of_time, 0);
  EXPECT_EQ(raw_counters(0).rejected_samples, 0);
  EXPECT_EQ(raw_counters(1).out_of_time, 0);
}

// A head swaying at up to 20 cm/s and turning at up to 60 degrees/s while slowly moving nearer
// and farther, distances with 0.03 cm of noise (and, when asked, an outlier of 4 cm in one
// distance of 500): the eye points the glasses handler predicts, against the truth at the
// moment the frame is shown (one frame interval after it is computed), over 10 s of frames at
// 60 Hz after 1 s of settling.
EyeErrors RawE2e::moving_head(int raw_interpolate, bool outliers) {
  vrsim_set_pose_fn(sim, VRSIM_HEAD, &Motion::at, &motion);
  vrsim_imperfections imp{};
  imp.distance_noise_cm = 0.03;
  imp.outlier_rate = outliers ? 0.002 : 0.0;
  imp.outlier_cm = 4.0;
  vrsim_set_imperfections(sim, VRSIM_PORT_A, &imp);
  start(raw_interpolate);
  if (HasFatalFailure()) return {};
  frames(60);
  std::vector<double> errors;
  double sum_sq_now = 0;
  for (int f = 0; f < 600; ++f) {
    frames(1);
    const double now = vrsim_now(sim);
    for (const double shown : {now + frame_s, now}) {
      dmat head;
      truth(VRSIM_HEAD, shown, head);
      dpt left, right;
      screen_eye(head, ctx->left_eye_offset, left);
      screen_eye(head, ctx->right_eye_offset, right);
      for (const auto &[got, want] :
           {std::pair{ctx->screen_left_eye, left}, std::pair{ctx->screen_right_eye, right}}) {
        double e2 = 0;
        for (int i = 0; i < 3; ++i) e2 += (got[i] - want[i]) * (got[i] - want[i]);
        if (shown == now)
          sum_sq_now += e2;
        else
          errors.push_back(std::sqrt(e2));
      }
    }
    EXPECT_TRUE(finite_pose(ctx->head_to_dig));
  }
  EyeErrors r;
  r.samples = static_cast<int>(errors.size());
  double sum_sq = 0;
  for (double e : errors) {
    sum_sq += e * e;
    r.worst = std::max(r.worst, e);
    r.over_5cm += e > 5.0;
  }
  r.rms = std::sqrt(sum_sq / r.samples);
  r.rms_at_compute = std::sqrt(sum_sq_now / r.samples);
  std::sort(errors.begin(), errors.end());
  r.p95 = errors[errors.size() * 95 / 100];
  r.counters = raw_counters(0);
  const vr::lt::RawCounters &c = r.counters;
  std::printf(
      "moving head, raw_interpolate %d, %s: eye error when shown RMS %.4f cm, 95%% %.4f "
      "cm, worst %.4f cm, over 5 cm %d of %d (RMS against the truth at compute time "
      "%.4f cm); outlier samples rejected %ld, forced %ld; filter length changes %ld "
      "(now %d); poses written %ld of %ld solves\n",
      ctx->raw_interpolate, outliers ? "with outliers" : "noise only", r.rms, r.p95, r.worst,
      r.over_5cm, r.samples, r.rms_at_compute, c.rejected_samples, c.forced_samples,
      c.filter_changes, unit_6d[0].filter_length, c.solves_ok, c.solves);
  return r;
}

TEST_F(RawE2e, MovingHeadWithFitting) {
  const EyeErrors r = moving_head(1, true);
  EXPECT_LT(r.rms, 1.0);
  EXPECT_LT(r.worst, 2.5);
  // The outlier test holds the outliers back, and the fit lengthens and shortens with the
  // distance.
  EXPECT_GT(r.counters.rejected_samples, 10);
  EXPECT_GT(r.counters.filter_changes, 2);
  EXPECT_EQ(r.counters.out_of_time, 0);
}

TEST_F(RawE2e, MovingHeadWithoutFitting) {
  // Fitting off (the default): no line, so no outlier test; the plausibility tests are the only
  // guard, and an outlier of a few centimetres in one distance moves the solved speaker by tens
  // of centimetres while still passing them.
  const EyeErrors r = moving_head(0, true);
  EXPECT_LT(r.p95, 2.5);
  EXPECT_LT(r.over_5cm, r.samples / 20);
  EXPECT_EQ(r.counters.rejected_samples, 0);
  EXPECT_GT(r.counters.filter_changes, 2);
}

TEST_F(RawE2e, MovingHeadWithoutFittingNoOutliers) {
  const EyeErrors r = moving_head(0, false);
  EXPECT_LT(r.rms, 1.5);
  EXPECT_LT(r.worst, 3.0);
}

// Frames until the head pose is within 0.2 cm and 0.3 degree of the truth (at most `limit`; at
// least one frame is run), checking that nothing non-finite ever reaches the pose or the eye
// points.
int RawE2e::frames_until_tracking(int limit) {
  for (int f = 1; f <= std::max(limit, 1); ++f) {
    frames(1);
    EXPECT_TRUE(finite_pose(ctx->head_to_dig));
    EXPECT_TRUE(finite_pose(ctx->mouse_to_dig));
    for (int i = 0; i < 3; ++i)
      EXPECT_TRUE(std::isfinite(ctx->screen_left_eye[i]) &&
                  std::isfinite(ctx->screen_right_eye[i]));
    dmat head;
    truth(VRSIM_HEAD, vrsim_now(sim), head);
    if (translation_error(ctx->head_to_dig, head) < 0.2 &&
        angle_between_deg(ctx->head_to_dig, head) < 0.3)
      return f;
  }
  return limit + 1;
}

TEST_P(RawE2eFit, UnitClockWrapKeepsEveryRecord) {
  start(GetParam());
  // The units' clocks read 12.345 s at virtual time 0: they wrap at 47.655 s.
  const double wrap_at = 47.655;
  ASSERT_LT(vrsim_now(sim), wrap_at - 2.0);
  ASSERT_LE(frames_until_tracking(30), 30);
  const long restarts = raw_counters(0).restarts;
  int off = 0;
  while (vrsim_now(sim) < wrap_at + 2.0) {
    frames(1);
    dmat head;
    truth(VRSIM_HEAD, vrsim_now(sim), head);
    off += translation_error(ctx->head_to_dig, head) > 0.2;
  }
  EXPECT_EQ(off, 0);
  for (int port : {0, 1}) {
    EXPECT_EQ(raw_counters(port).clock_wraps, 1) << port;
    EXPECT_EQ(raw_counters(port).out_of_time, 0) << port;
  }
  EXPECT_EQ(raw_counters(0).restarts, restarts);
  vrsim_lt_state st;
  ASSERT_EQ(vrsim_lt_get_state(sim, 0, &st), 1);
  EXPECT_LT(st.unit_clock_ms, 5000);  // it did wrap
}

TEST_P(RawE2eFit, DropoutAndTrackingResumes) {
  start(GetParam());
  ASSERT_LE(frames_until_tracking(30), 30);
  const long restarts = raw_counters(0).restarts;
  vrsim_imperfections imp{};
  imp.stopped = 1;
  vrsim_set_imperfections(sim, VRSIM_PORT_A, &imp);
  vrsim_set_position(sim, VRSIM_HEAD, 6.0, -4.0, 62.0);  // the head moves while nothing comes
  for (int k = 0; k < 120; ++k) frames_until_tracking(0);
  imp.stopped = 0;
  vrsim_set_imperfections(sim, VRSIM_PORT_A, &imp);
  const int f = frames_until_tracking(60);
  std::printf("dropout of 2 s, raw_interpolate %d: tracking again after %d frames (%.0f ms)\n",
              GetParam(), f, f * frame_s * 1000);
  EXPECT_LE(f, 8);  // a few records of 20 ms, plus the one still in transit
  // The newest record always stays pending as the margin behind the writer, so every pass
  // during the dropout counts as a capture and the 1.2 s rule does not restart the history:
  // the old slots keep their own (correct) times and age out of the fits.
  EXPECT_EQ(raw_counters(0).restarts, restarts);
}

TEST_P(RawE2eFit, StalledUnitClockIsSurvived) {
  motion.sway_cm_per_s = 5.0;
  motion.turn_deg_per_s = 10.0;
  vrsim_set_pose_fn(sim, VRSIM_HEAD, &Motion::at, &motion);
  start(GetParam());
  ASSERT_LE(frames_until_tracking(60), 60);
  vrsim_imperfections imp{};
  imp.clock_stalled = 1;
  vrsim_set_imperfections(sim, VRSIM_PORT_A, &imp);
  // While the time stamps stand still, the clock model takes the growing lag in its stride.
  for (int f = 0; f < 60; ++f) frames_until_tracking(0);
  EXPECT_EQ(raw_counters(0).out_of_time, 0);
  imp.clock_stalled = 0;  // the clock goes on where it would have been: a jump of 1 s
  vrsim_set_imperfections(sim, VRSIM_PORT_A, &imp);
  // Records are set aside four in five while the model catches up with the jump, a seventh of
  // the lag per record taken; then every record is in time again.
  int settled_after = -1;
  long set_aside = raw_counters(0).out_of_time;
  for (int f = 1, quiet = 0; f <= 300 && settled_after < 0; ++f) {
    frames_until_tracking(0);
    quiet = raw_counters(0).out_of_time == set_aside ? quiet + 1 : 0;
    set_aside = raw_counters(0).out_of_time;
    if (quiet >= 30 && std::fabs(unit_6d[0].clock_lag) < 0.05) settled_after = f - 30;
  }
  std::printf(
      "stalled clock for 1 s, raw_interpolate %d: records set aside %ld, taken anyway "
      "%ld; clock model settled %d frames after the jump\n",
      GetParam(), raw_counters(0).out_of_time, raw_counters(0).forced_in_time, settled_after);
  EXPECT_GT(raw_counters(0).out_of_time, 0);
  ASSERT_GE(settled_after, 0);
  EXPECT_LE(settled_after, 60);
  // And the head is followed as before (5 cm/s: within a centimetre with or without fitting).
  for (int f = 0; f < 60; ++f) {
    frames_until_tracking(0);
    dmat head;
    truth(VRSIM_HEAD, vrsim_now(sim), head);
    EXPECT_LT(translation_error(ctx->head_to_dig, head), 1.0);
  }
}

TEST_P(RawE2eFit, GarbageOnTheLineIsSurvived) {
  start(GetParam());
  ASSERT_LE(frames_until_tracking(30), 30);
  vrsim_imperfections imp{};
  imp.garbage_rate = 1.0;  // 1 to 4 garbage bytes before every record
  vrsim_set_imperfections(sim, VRSIM_PORT_A, &imp);
  std::mt19937 rng(11);
  unsigned char junk[600];
  for (unsigned char &b : junk) b = static_cast<unsigned char>(rng());
  vrsim_inject(sim, VRSIM_PORT_A, junk, sizeof junk);
  int off = 0;
  for (int k = 0; k < 60; ++k) off += frames_until_tracking(0) > 1;
  imp.garbage_rate = 0.0;
  vrsim_set_imperfections(sim, VRSIM_PORT_A, &imp);
  const int f = frames_until_tracking(120);
  std::printf(
      "garbage burst, raw_interpolate %d: poses off by more than 0.2 cm in %d of 60 "
      "frames; tracking after %d frames; records set aside %ld, samples rejected %ld\n",
      GetParam(), off, f, raw_counters(0).out_of_time, raw_counters(0).rejected_samples);
  EXPECT_LE(f, 60);
}

TEST_F(RawE2e, DemandModeAsksForEachRecordAndPausesOnlyWhenNothingWholeArrived) {
  ctx->streaming = 0;
  start(0);
  ASSERT_EQ(use_demand_reporting, 1);
  frames(3);
  // Everything in both rings taken: nothing whole is pending. Each pass asks for a record and
  // gives the unit 30 ms to answer.
  vrsim_advance(sim, frame_s);
  unit_6d[0].ring_pos = vrsim_ring_offset(0);
  unit_6d[1].ring_pos = vrsim_ring_offset(1);
  vrsim_events_clear(sim);
  double t0 = vrsim_now(sim);
  vr_comp_view(ctx);
  EXPECT_GE(vrsim_now(sim) - t0, 2 * 0.030);
  EXPECT_LT(vrsim_now(sim) - t0, 2 * 0.030 + 0.005);
  const std::string ask = "*d";
  EXPECT_EQ(written_on(0), std::vector<std::string>{ask});
  EXPECT_EQ(written_on(1), std::vector<std::string>{ask});
  // From then on a record answers each request; one "*d" per pass and unit, and no pause.
  frames(10);
  vrsim_events_clear(sim);
  t0 = vrsim_now(sim);
  frames(30);
  EXPECT_NEAR(vrsim_now(sim) - t0, 30 * frame_s, 1e-6);
  EXPECT_EQ(written_on(0).size(), 30u);
  EXPECT_EQ(written_on(1).size(), 30u);
  dmat head;
  truth(VRSIM_HEAD, vrsim_now(sim), head);
  EXPECT_LT(translation_error(ctx->head_to_dig, head), 0.2);
  EXPECT_EQ(raw_counters(0).out_of_time, 0);
}

TEST_F(RawE2e, NewestWholeRawRecordIsFoundInTheRing) {
  start(0);
  vr_lt_unit probe = unit_6d[0];
  // Only the glasses unit's mapping exists once the set-up ran; before any raw record there is
  // the operating information, which holds no raw record start.
  frames(10);
  ASSERT_EQ(vr_lt_obtain_current_raw_event(&probe), 1);
  unsigned v[12];
  vr::lt::raw_values(probe.record, v);
  EXPECT_EQ(v[0] & 0xFFF0u, 0xF0F0u);
  EXPECT_EQ(v[4], 4800u);
  vrsim_transmitter tx;
  vrsim_get_transmitter(sim, &tx);
  double d[9];
  vrsim_true_distances(sim, 0, vrsim_now(sim), d);
  const int value_of_wire[9] = {1, 2, 3, 5, 6, 7, 9, 10, 11};
  for (int w = 0; w < 9; ++w)
    EXPECT_EQ(v[value_of_wire[w]], static_cast<unsigned>(std::llround(d[w] / tx.cm_per_count)));
  // The time stamp is the newest whole record's: the unit's clock now, less at most one cycle
  // and the transit.
  vrsim_lt_state st;
  ASSERT_EQ(vrsim_lt_get_state(sim, 0, &st), 1);
  const long long age_ms = (st.unit_clock_ms - v[8] + 60000) % 60000;
  EXPECT_LE(age_ms, 20 + 18 + 1);
}

INSTANTIATE_TEST_SUITE_P(Fitting, RawE2eFit, ::testing::Values(0, 1));

}  // namespace
