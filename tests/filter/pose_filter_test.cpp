// The pose filter alone, on synthetic measurements: convergence, tracking without lag, the gate,
// coasting through gaps, refusal of non-finite input, bounded covariance and the reset.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>

#include "filter_test_util.h"

namespace {

using namespace filter_test;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

// Feeds records from t0 until t1; the time of the last record fed.
double run(vr_pose_filter *f, const Motion &m, double t0, double t1, double sigma_cm,
           std::mt19937 &rng) {
  double t = t0;
  for (; t <= t1 + 1e-9; t += record_interval_s) feed_record(f, m, t, sigma_cm, rng);
  return t - record_interval_s;
}

// A filter with the matched settings, started on the motion m's truth and fed its records (noise
// 0.005 cm) from 0.02 s to `seconds`; returns the newest record's time.
double start_and_run(vr_pose_filter *f, const Motion &m, double seconds, std::mt19937 &rng) {
  const vr_pose_filter_settings s = matched();
  vr_pose_filter_init(f, &s);
  start_near(f, m, 0.0, {}, {});
  return run(f, m, 0.02, seconds, 0.005, rng);
}

// Whether a symmetric matrix is positive definite (Cholesky without allocation).
bool positive_definite(const double *a, int n) {
  double l[vr_pose_filter_dim * vr_pose_filter_dim] = {};
  for (int j = 0; j < n; ++j) {
    double d = a[j * n + j];
    for (int k = 0; k < j; ++k) d -= l[j * n + k] * l[j * n + k];
    if (!(d > 0.0)) return false;
    l[j * n + j] = std::sqrt(d);
    for (int i = j + 1; i < n; ++i) {
      double s = a[i * n + j];
      for (int k = 0; k < j; ++k) s -= l[i * n + k] * l[j * n + k];
      l[i * n + j] = s / l[j * n + j];
    }
  }
  return true;
}

// The whole covariance from the filter's lower triangle (symmetric by construction).
void unpacked(const vr_pose_filter &f, double *a) {
  constexpr int n = vr_pose_filter_dim;
  int k = 0;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j <= i; ++j) a[i * n + j] = a[j * n + i] = f.cov[k++];
}

void expect_sane_covariance(const vr_pose_filter &f) {
  const vr_pose_filter_settings &s = f.settings;
  // The error state's parts in order: position, velocity, orientation, turn, acceleration.
  const double bound[5] = {s.max_sigma_cm, s.max_sigma_cm_s, s.max_sigma_rad, s.max_sigma_rad_s,
                           s.max_sigma_cm_s2};
  constexpr int n = vr_pose_filter_dim;
  double cov[n * n];
  unpacked(f, cov);
  for (int i = 0; i < n; ++i) {
    EXPECT_TRUE(std::isfinite(cov[i * n + i]));
    EXPECT_LE(cov[i * n + i], bound[i / 3] * bound[i / 3] * (1 + 1e-12)) << "variance " << i;
    for (int j = 0; j < n; ++j) EXPECT_TRUE(std::isfinite(cov[i * n + j])) << i << "," << j;
  }
  EXPECT_TRUE(positive_definite(cov, n));
}

// Everything a refused measurement must leave untouched.
struct Snapshot {
  double time_s, pos[3], vel[3], acc[3], quat[4], omega[3];
  double cov[vr_pose_filter_packed];
  explicit Snapshot(const vr_pose_filter &f) : time_s(f.time_s) {
    std::memcpy(pos, f.pos, sizeof pos);
    std::memcpy(vel, f.vel, sizeof vel);
    std::memcpy(acc, f.acc, sizeof acc);
    std::memcpy(quat, f.quat, sizeof quat);
    std::memcpy(omega, f.omega, sizeof omega);
    std::memcpy(cov, f.cov, sizeof cov);
  }
  bool same_as(const vr_pose_filter &f) const {
    return time_s == f.time_s && !std::memcmp(pos, f.pos, sizeof pos) &&
           !std::memcmp(vel, f.vel, sizeof vel) && !std::memcmp(acc, f.acc, sizeof acc) &&
           !std::memcmp(quat, f.quat, sizeof quat) && !std::memcmp(omega, f.omega, sizeof omega) &&
           !std::memcmp(cov, f.cov, sizeof cov);
  }
};

TEST(PoseFilterDistances, StillPoseConvergesToTruthWithinCountResolution) {
  std::mt19937 rng(1);
  const Motion still;
  const vr_pose_filter_settings s = matched();
  vr_pose_filter f;
  vr_pose_filter_init(&f, &s);
  EXPECT_EQ(f.state, VR_FILTER_OFF);
  // A first solve 0.8 cm and 3 degrees off.
  start_near(&f, still, 0.0, {0.5, -0.4, 0.5}, {0.03, -0.02, 0.04});
  EXPECT_EQ(f.state, VR_FILTER_CONVERGING);
  const double end = run(&f, still, 0.02, 2.0, 0.005, rng);
  EXPECT_EQ(f.state, VR_FILTER_TRACKING);
  EXPECT_EQ(f.gated, 0);
  EXPECT_EQ(f.taken, 100 * 9);
  // Over the next second: the mean pose within a count of the truth, the jitter about it small.
  V3 sum{0, 0, 0};
  double sum_sq = 0, worst_rot = 0;
  int n = 0;
  for (double t = end + record_interval_s; t < end + 1.0; t += record_interval_s) {
    feed_record(&f, still, t, 0.005, rng);
    double pos[3];
    ASSERT_TRUE(vr_pose_filter_predict(&f, t + 0.04, pos, nullptr));
    const V3 e = load(pos) - still.p0;
    sum = sum + e;
    sum_sq += e.x * e.x + e.y * e.y + e.z * e.z;
    worst_rot = std::fmax(worst_rot, predicted_error(&f, still, t + 0.04).rot_rad);
    ++n;
  }
  EXPECT_LT(norm((1.0 / n) * sum), count_cm);
  EXPECT_LT(std::sqrt(sum_sq / n), 0.03);
  EXPECT_LT(worst_rot, 0.01);
}

TEST(PoseFilterDistances, ConstantVelocityTrackedWithoutLag) {
  std::mt19937 rng(2);
  Motion m;
  m.vel = {25, -10, 15};  // 30 cm/s
  const vr_pose_filter_settings s = matched();
  vr_pose_filter f;
  vr_pose_filter_init(&f, &s);
  start_near(&f, m, 0.0, {0.3, 0.2, -0.3}, {0.02, 0.0, -0.02});
  run(&f, m, 0.02, 1.0, 0.005, rng);
  EXPECT_EQ(f.state, VR_FILTER_TRACKING);
  // The frame shown 40 ms after the newest measurement: no lag (the mean error is a small
  // share of the 1.2 cm moved in 40 ms), and the noise only what the velocity's uncertainty
  // carries over 40 ms.
  double worst = 0;
  V3 sum{0, 0, 0};
  int n = 0;
  for (double t = 1.02; t < 3.0; t += record_interval_s) {
    feed_record(&f, m, t, 0.005, rng);
    worst = std::fmax(worst, predicted_error(&f, m, t + 0.04).eye_cm);
    double pos[3];
    ASSERT_TRUE(vr_pose_filter_predict(&f, t + 0.04, pos, nullptr));
    sum = sum + (load(pos) - m.at(t + 0.04).pos);
    ++n;
  }
  EXPECT_LT(norm((1.0 / n) * sum), 0.01);
  EXPECT_LT(worst, 0.2);
  EXPECT_NEAR(f.vel[0], 25, 0.2);
  EXPECT_NEAR(f.vel[1], -10, 0.2);
  EXPECT_NEAR(f.vel[2], 15, 0.2);
  EXPECT_EQ(f.gated, 0);
}

TEST(PoseFilterDistances, ConstantTurnTrackedWithoutLag) {
  std::mt19937 rng(3);
  Motion m;
  m.omega = {0.3, 2.0, 0.2};  // about 120 degrees a second, mostly about the vertical
  m.vel = {10, 0, -5};
  const vr_pose_filter_settings s = matched();
  vr_pose_filter f;
  vr_pose_filter_init(&f, &s);
  start_near(&f, m, 0.0, {0.3, 0.2, -0.3}, {0.02, 0.0, -0.02});
  run(&f, m, 0.02, 1.0, 0.005, rng);
  double worst = 0, worst_rot = 0;
  for (double t = 1.02; t < 2.0; t += record_interval_s) {
    feed_record(&f, m, t, 0.005, rng);
    const Error e = predicted_error(&f, m, t + 0.04);
    worst = std::fmax(worst, e.eye_cm);
    worst_rot = std::fmax(worst_rot, e.rot_rad);
  }
  EXPECT_LT(worst, 0.2);
  EXPECT_LT(worst_rot, 0.015);
  EXPECT_NEAR(f.omega[1], 2.0, 0.02);
  EXPECT_EQ(f.gated, 0);
}

// One speaker's three distances given together (as the front end gives them) leave the filter
// where the same distances given one at a time leave it: the batch reads the covariance once and
// accounts for each update's effect on the next, to the first order of the corrections.
TEST(PoseFilterDistances, ASpeakersDistancesTogetherAgreeWithThemOneAtATime) {
  Motion m;
  m.vel = {20, -5, 10};
  m.omega = {0.2, 1.0, 0.1};
  const vr_pose_filter_settings s = matched();
  vr_pose_filter one, batch;
  vr_pose_filter_init(&one, &s);
  vr_pose_filter_init(&batch, &s);
  start_near(&one, m, 0.0, {0.3, 0.2, -0.3}, {0.02, 0.0, -0.02});
  start_near(&batch, m, 0.0, {0.3, 0.2, -0.3}, {0.02, 0.0, -0.02});
  std::mt19937 rng(11);
  std::normal_distribution<double> noise(0.0, 0.005);
  double spk[3][3], mic[3][3];
  for (int i = 0; i < 3; ++i) array(speakers[i], spk[i]), array(mics[i], mic[i]);
  const double *const mic_rows[3] = {mic[0], mic[1], mic[2]};
  double worst_pos = 0, worst_cov = 0;
  for (double t = 0.02; t < 1.5; t += record_interval_s) {
    for (int sp = 0; sp < 3; ++sp) {
      const double fired = t - (2 - sp) * speaker_interval_s;
      double d[3];
      for (int k = 0; k < 3; ++k) d[k] = distance(m.at(fired), sp, k) + noise(rng);
      for (int k = 0; k < 3; ++k) vr_pose_filter_distance(&one, fired, spk[sp], mic[k], d[k], 0);
      vr_pose_filter_result r[3];
      EXPECT_EQ(vr_pose_filter_distances(&batch, fired, spk[sp], mic_rows, d, 3, 0.0, r), 3);
    }
    if (t < 0.5) continue;  // converging: the corrections are millimetres
    worst_pos = std::fmax(worst_pos, norm(load(one.pos) - load(batch.pos)));
    // Each covariance entry against the scale of its row's and column's variances.
    double a[vr_pose_filter_dim * vr_pose_filter_dim], b[vr_pose_filter_dim * vr_pose_filter_dim];
    unpacked(one, a);
    unpacked(batch, b);
    constexpr int n = vr_pose_filter_dim;
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j)
        worst_cov = std::fmax(worst_cov, std::fabs(a[i * n + j] - b[i * n + j]) /
                                             std::sqrt(a[i * n + i] * a[j * n + j]));
  }
  std::printf("together against one at a time: position %.2g cm, covariance %.2g\n", worst_pos,
              worst_cov);
  EXPECT_EQ(one.taken, batch.taken);
  EXPECT_EQ(one.state, batch.state);
  EXPECT_LT(worst_pos, 1e-4);  // a thousandth of a millimetre
  EXPECT_LT(worst_cov, 2e-3);
  EXPECT_LT(angle_between(from_library(one.quat), from_library(batch.quat)), 1e-5);
}

// In a batch each distance has its own fate: a wrong one is gated and a meaningless one refused,
// and the others are taken as they would be alone; no usable distance leaves the filter as it was.
TEST(PoseFilterDistances, EachDistanceOfABatchIsJudgedOnItsOwn) {
  Motion m;
  m.vel = {5, 0, 0};
  std::mt19937 rng(12);
  vr_pose_filter f;
  const double t = start_and_run(&f, m, 1.0, rng) + 0.001;
  double spk[3], mic[3][3];
  array(speakers[0], spk);
  for (int i = 0; i < 3; ++i) array(mics[i], mic[i]);
  const double *const mic_rows[3] = {mic[0], mic[1], mic[2]};
  double d[3];
  for (int k = 0; k < 3; ++k) d[k] = distance(m.at(t), 0, k);
  d[1] += 4.0;
  vr_pose_filter_result r[3];
  const long gated = f.gated;
  EXPECT_EQ(vr_pose_filter_distances(&f, t, spk, mic_rows, d, 3, 0.0, r), 2);
  EXPECT_EQ(r[0], VR_FILTER_TAKEN);
  EXPECT_EQ(r[1], VR_FILTER_GATED);
  EXPECT_EQ(r[2], VR_FILTER_TAKEN);
  EXPECT_EQ(f.gated, gated + 1);

  d[1] = NAN;
  d[2] = -1.0;
  const long invalid = f.invalid;
  EXPECT_EQ(vr_pose_filter_distances(&f, t, spk, mic_rows, d, 3, 0.0, r), 1);
  EXPECT_EQ(r[0], VR_FILTER_TAKEN);
  EXPECT_EQ(r[1], VR_FILTER_INVALID);
  EXPECT_EQ(r[2], VR_FILTER_INVALID);
  EXPECT_EQ(f.invalid, invalid + 2);

  const Snapshot before(f);
  d[0] = INFINITY;
  EXPECT_EQ(vr_pose_filter_distances(&f, t, spk, mic_rows, d, 3, 0.0, r), 0);
  EXPECT_EQ(vr_pose_filter_distances(&f, t, spk, mic_rows, d, 4, 0.0, r), 0);  // too many
  EXPECT_EQ(vr_pose_filter_distances(&f, t, spk, mic_rows, d, 3, 0.0, nullptr), 0);
  EXPECT_EQ(vr_pose_filter_distances(&f, t, spk, mic_rows, d, 0, 0.0, r), 0);
  EXPECT_EQ(f.invalid, invalid + 5);
  EXPECT_TRUE(before.same_as(f));
}

TEST(PoseFilterDistances, ImpossibleDistancesAreRefusedAndCounted) {
  Motion m;
  m.vel = {5, 0, 0};
  std::mt19937 rng(4);
  vr_pose_filter f;
  const double t = start_and_run(&f, m, 1.0, rng) + 0.001;
  double spk[3], mic[3];
  array(speakers[1], spk);
  array(mics[2], mic);
  const double truth = distance(m.at(t), 1, 2);
  const long taken = f.taken;
  for (double wrong : {4.0, 100.0, -4.0, 0.5}) {
    vr_pose_filter_advance(&f, t);
    const Snapshot before(f);
    EXPECT_EQ(vr_pose_filter_distance(&f, t, spk, mic, truth + wrong, 0.0), VR_FILTER_GATED)
        << wrong;
    EXPECT_TRUE(before.same_as(f)) << wrong;
  }
  EXPECT_EQ(f.gated, 4);
  EXPECT_EQ(f.refused_in_row, 4);
  // The true distance still goes in, and ends the run of refusals.
  EXPECT_EQ(vr_pose_filter_distance(&f, t, spk, mic, truth, 0.0), VR_FILTER_TAKEN);
  EXPECT_EQ(f.taken, taken + 1);
  EXPECT_EQ(f.refused_in_row, 0);
  // A distance that is no distance at all.
  EXPECT_EQ(vr_pose_filter_distance(&f, t, spk, mic, -100.0, 0.0), VR_FILTER_INVALID);
  EXPECT_EQ(vr_pose_filter_distance(&f, t, spk, mic, 0.0, 0.0), VR_FILTER_INVALID);
}

TEST(PoseFilterDistances, GapCoastsThenRecoversWithoutJumpBeyondTheMotion) {
  std::mt19937 rng(5);
  Motion m;
  m.vel = {12, 5, -4};  // 13.6 cm/s
  m.omega = {0, 0.5, 0};
  vr_pose_filter f;
  start_and_run(&f, m, 1.0, rng);
  // Frames at 60 Hz, shown 40 ms after they are drawn; the records stop for half a second.
  const double gap_from = 1.0, gap_to = 1.5;
  double next_record = 1.02, last_pos[3] = {}, worst_step = 0, worst_after = 0;
  bool coasted = false, have_last = false;
  for (double frame = 1.0; frame < 2.5; frame += 1.0 / 60) {
    while (next_record <= frame) {
      if (next_record < gap_from || next_record >= gap_to)
        feed_record(&f, m, next_record, 0.005, rng);
      next_record += record_interval_s;
    }
    const vr_pose_filter_state state = vr_pose_filter_tick(&f, frame);
    if (frame > gap_from + 0.1 && frame < gap_to) {
      EXPECT_EQ(state, VR_FILTER_COASTING) << frame;
      coasted = true;
    }
    double pos[3];
    ASSERT_TRUE(vr_pose_filter_predict(&f, frame + 0.04, pos, nullptr));
    if (have_last) worst_step = std::fmax(worst_step, norm(load(pos) - load(last_pos)));
    std::memcpy(last_pos, pos, sizeof pos);
    have_last = true;
    if (frame > gap_to + 0.2)
      worst_after = std::fmax(worst_after, predicted_error(&f, m, frame + 0.04).eye_cm);
  }
  EXPECT_TRUE(coasted);
  EXPECT_NE(f.state, VR_FILTER_OFF);
  // The largest step from one frame to the next is no more than the truth moved in the gap.
  EXPECT_LT(worst_step, norm(m.vel) * (gap_to - gap_from));
  EXPECT_LT(worst_after, 0.2);
  EXPECT_EQ(f.gated, 0);
  EXPECT_EQ(f.resets, 0);
}

TEST(PoseFilterDistances, TooUncertainForDistancesAsksForASolvedPose) {
  std::mt19937 rng(14);
  Motion m;
  m.vel = {10, 0, 0};
  vr_pose_filter f;
  vr_pose_filter_init(&f, nullptr);  // the defaults' process noise
  start_near(&f, m, 0.0, {}, {});
  double spk[3], mic[3];
  array(speakers[0], spk);
  array(mics[0], mic);
  // A distance at the start is taken: the start's uncertainty is within the distances' reach.
  EXPECT_EQ(vr_pose_filter_distance(&f, 0.0, spk, mic, distance(m.at(0.0), 0, 0), 0.0),
            VR_FILTER_TAKEN);
  const double end = run(&f, m, 0.02, 1.0, 0.02, rng);
  EXPECT_EQ(vr_pose_filter_wants_pose(&f), 0);
  // Silent for 0.6 s: the orientation is no longer known well enough for a distance.
  const double t = end + 0.6;
  EXPECT_EQ(vr_pose_filter_distance(&f, t, spk, mic, distance(m.at(t), 0, 0), 0.0),
            VR_FILTER_NEEDS_POSE);
  EXPECT_EQ(f.unstarted, 1);
  EXPECT_EQ(vr_pose_filter_wants_pose(&f), 1);
  EXPECT_NE(f.state, VR_FILTER_OFF);
  // The record's solved pose anchors it, the velocities carry on, and distances are taken again.
  feed_solved_pose(&f, m, t, rng);
  EXPECT_EQ(vr_pose_filter_wants_pose(&f), 0);
  EXPECT_EQ(f.starts, 1);
  EXPECT_NEAR(f.vel[0], 10, 1);
  EXPECT_EQ(feed_record(&f, m, t + 0.02, 0.02, rng), 9);
}

TEST(PoseFilterPrediction, StillReceiverIsNotExtrapolatedAndSilenceStopsAtTheHorizon) {
  std::mt19937 rng(15);
  const Motion still;
  vr_pose_filter f;
  vr_pose_filter_init(&f, nullptr);
  start_near(&f, still, 0.0, {}, {});
  const double end = run(&f, still, 0.02, 0.5, 0.02, rng);
  double now[3], ahead[3], q_now[4], q_ahead[4];
  // A velocity below ramp_low_cm_s is the noise of a still receiver: the frame 40 ms ahead shows
  // the pose as it is.
  f.vel[0] = 0.5 * f.settings.ramp_low_cm_s, f.vel[1] = f.vel[2] = 0;
  f.omega[0] = 0.5 * f.settings.ramp_low_rad_s, f.omega[1] = f.omega[2] = 0;
  f.acc[0] = f.acc[1] = f.acc[2] = 0;
  ASSERT_TRUE(vr_pose_filter_predict(&f, end, now, q_now));
  ASSERT_TRUE(vr_pose_filter_predict(&f, end + 0.04, ahead, q_ahead));
  for (int c = 0; c < 3; ++c) EXPECT_EQ(now[c], ahead[c]);
  for (int c = 0; c < 4; ++c) EXPECT_EQ(q_now[c], q_ahead[c]);
  // Above ramp_high_cm_s the velocity counts in full.
  f.vel[0] = 2 * f.settings.ramp_high_cm_s;
  ASSERT_TRUE(vr_pose_filter_predict(&f, end + 0.04, ahead, nullptr));
  EXPECT_NEAR(ahead[0] - now[0], 0.04 * f.vel[0], 1e-9);
  // Past max_horizon_s after the newest measurement the picture stands still.
  const double horizon = f.last_taken_s + f.settings.max_horizon_s;
  double at_horizon[3], later[3];
  ASSERT_TRUE(vr_pose_filter_predict(&f, horizon, at_horizon, nullptr));
  ASSERT_TRUE(vr_pose_filter_predict(&f, horizon + 1.0, later, nullptr));
  for (int c = 0; c < 3; ++c) EXPECT_EQ(at_horizon[c], later[c]);
}

TEST(PoseFilterDistances, LongSilenceTurnsOffUntilStartedAgain) {
  std::mt19937 rng(6);
  const Motion still;
  vr_pose_filter f;
  const double end = start_and_run(&f, still, 0.5, rng);
  EXPECT_EQ(vr_pose_filter_tick(&f, end + 0.5), VR_FILTER_COASTING);
  EXPECT_EQ(feed_record(&f, still, end + 1.2, 0.005, rng), 0);
  EXPECT_EQ(f.state, VR_FILTER_OFF);
  EXPECT_EQ(f.gaps, 1);
  EXPECT_EQ(f.unstarted, 9);
  double pos[3];
  EXPECT_EQ(vr_pose_filter_predict(&f, end + 1.2, pos, nullptr), 0);
  start_near(&f, still, end + 1.2, {}, {});
  EXPECT_EQ(feed_record(&f, still, end + 1.22, 0.005, rng), 9);
  EXPECT_EQ(f.starts, 2);
}

TEST(PoseFilterDistances, RunOfRefusalsResetsTheFilter) {
  std::mt19937 rng(7);
  const Motion still;
  Motion moved;
  moved.p0 = still.p0 + V3{0, 0, 20};
  vr_pose_filter f;
  double t = start_and_run(&f, still, 0.5, rng);
  // The receiver is somewhere else now (the filter held a wrong pose): three records' worth of
  // refusals turns the filter off, so that the front end starts it from a solved pose.
  int records = 0;
  while (f.state != VR_FILTER_OFF && records < 10) {
    t += record_interval_s;
    EXPECT_EQ(feed_record(&f, moved, t, 0.005, rng), 0);
    ++records;
  }
  EXPECT_EQ(f.state, VR_FILTER_OFF);
  EXPECT_EQ(f.resets, 1);
  EXPECT_EQ(f.gated, f.settings.reset_after_refused);
  EXPECT_EQ(records, 3);
  start_near(&f, moved, t, {}, {});
  run(&f, moved, t + 0.02, t + 0.5, 0.005, rng);
  EXPECT_EQ(f.state, VR_FILTER_TRACKING);
  EXPECT_LT(predicted_error(&f, moved, f.time_s).pos_cm, 0.02);
}

TEST(PoseFilterDistances, SlightlyLateMeasurementTakenOlderOneRefused) {
  std::mt19937 rng(8);
  const Motion still;
  vr_pose_filter f;
  const double end = start_and_run(&f, still, 0.5, rng);
  double spk[3], mic[3];
  array(speakers[0], spk);
  array(mics[0], mic);
  const double d = distance(still.at(0), 0, 0);
  EXPECT_EQ(vr_pose_filter_distance(&f, end - 0.005, spk, mic, d, 0.0), VR_FILTER_TAKEN);
  EXPECT_EQ(f.time_s, end);  // never back
  EXPECT_EQ(vr_pose_filter_distance(&f, end - 0.05, spk, mic, d, 0.0), VR_FILTER_LATE);
  EXPECT_EQ(f.late, 1);
}

TEST(PoseFilterInput, NonFiniteInputNeverEntersTheState) {
  std::mt19937 rng(9);
  Motion m;
  m.vel = {5, 5, 0};
  vr_pose_filter_settings s = matched();
  s.reset_after_refused = 0;  // a run of refusals would start over: here nothing may move
  vr_pose_filter f;
  vr_pose_filter_init(&f, &s);
  const double good_pos[3] = {0, -10, 55}, good_q[4] = {0, 0, 0, 1};
  for (double bad : {nan, inf, -inf}) {
    const double pos[3] = {0, bad, 55}, q[4] = {0, bad, 0, 1};
    EXPECT_EQ(vr_pose_filter_start(&f, bad, good_pos, good_q), 0);
    EXPECT_EQ(vr_pose_filter_start(&f, 0, pos, good_q), 0);
    EXPECT_EQ(vr_pose_filter_start(&f, 0, good_pos, q), 0);
  }
  const double zero_q[4] = {0, 0, 0, 0};
  EXPECT_EQ(vr_pose_filter_start(&f, 0, good_pos, zero_q), 0);
  EXPECT_EQ(f.state, VR_FILTER_OFF);
  EXPECT_EQ(f.starts, 0);

  start_near(&f, m, 0.0, {}, {});
  const double end = run(&f, m, 0.02, 0.5, 0.005, rng);
  const double t = end + 0.001;
  vr_pose_filter_advance(&f, t);
  double spk[3], mic[3];
  array(speakers[2], spk);
  array(mics[1], mic);
  const double d = distance(m.at(t), 2, 1);
  const Snapshot before(f);
  long expected_invalid = 0;
  for (double bad : {nan, inf, -inf}) {
    const double bad3[3] = {bad, 0, 0}, bad_pos[3] = {0, -10, bad}, bad_q[4] = {bad, 0, 0, 1};
    const double q[4] = {0, 0, 0, 1};
    const vr_pose_filter_result results[] = {
        vr_pose_filter_distance(&f, bad, spk, mic, d, 0.0),
        vr_pose_filter_distance(&f, t, bad3, mic, d, 0.0),
        vr_pose_filter_distance(&f, t, spk, bad3, d, 0.0),
        vr_pose_filter_distance(&f, t, spk, mic, bad, 0.0),
        vr_pose_filter_distance(&f, t, spk, mic, d, bad),
        vr_pose_filter_pose(&f, bad, good_pos, q, 0, 0),
        vr_pose_filter_pose(&f, t, bad_pos, q, 0, 0),
        vr_pose_filter_pose(&f, t, good_pos, bad_q, 0, 0),
        vr_pose_filter_pose(&f, t, good_pos, q, bad, 0),
        vr_pose_filter_pose(&f, t, good_pos, q, 0, bad),
    };
    for (vr_pose_filter_result r : results) EXPECT_EQ(r, VR_FILTER_INVALID);
    expected_invalid += sizeof results / sizeof results[0];
    vr_pose_filter_advance(&f, bad);
    EXPECT_EQ(vr_pose_filter_tick(&f, bad), VR_FILTER_TRACKING);
    double pos[3] = {1, 2, 3};
    EXPECT_EQ(vr_pose_filter_predict(&f, bad, pos, nullptr), 0);
    EXPECT_EQ(pos[0], 1);
    EXPECT_TRUE(before.same_as(f)) << bad;
  }
  EXPECT_EQ(f.invalid, expected_invalid);
  EXPECT_EQ(vr_pose_filter_distance(&f, t, nullptr, mic, d, 0.0), VR_FILTER_INVALID);
  EXPECT_EQ(vr_pose_filter_pose(&f, t, nullptr, nullptr, 0, 0), VR_FILTER_INVALID);
  EXPECT_EQ(vr_pose_filter_distance(nullptr, t, spk, mic, d, 0.0), VR_FILTER_INVALID);
  // A microphone placed exactly on its speaker gives no direction to correct along.
  double on_speaker[3];
  const Rot r = from_library(f.quat);
  array(rotate(Rot{r.w, -r.x, -r.y, -r.z}, speakers[2] - load(f.pos)), on_speaker);
  EXPECT_EQ(vr_pose_filter_distance(&f, t, spk, on_speaker, 1.0, 0.0), VR_FILTER_INVALID);
  // Huge but finite values are gated, not taken.
  EXPECT_EQ(vr_pose_filter_distance(&f, t, spk, mic, 1e300, 0.0), VR_FILTER_GATED);
  expect_sane_covariance(f);
}

TEST(PoseFilterCovariance, StaysBoundedWithoutMeasurements) {
  std::mt19937 rng(10);
  Motion m;
  m.vel = {10, 0, 0};
  m.omega = {0, 1, 0};
  vr_pose_filter_settings s = matched();
  s.restart_after_s = 0;  // never off: the covariance alone must stay in bounds
  vr_pose_filter f;
  vr_pose_filter_init(&f, &s);
  start_near(&f, m, 0.0, {}, {});
  double t = run(&f, m, 0.02, 0.5, 0.005, rng);
  expect_sane_covariance(f);
  // Ten minutes without a measurement, in frames, then one very long step.
  for (int i = 0; i < 10 * 60 * 60; ++i) vr_pose_filter_advance(&f, t += 1.0 / 60);
  EXPECT_EQ(vr_pose_filter_tick(&f, t), VR_FILTER_COASTING);
  expect_sane_covariance(f);
  vr_pose_filter_advance(&f, t += 1e9);
  expect_sane_covariance(f);
  double pos[3];
  EXPECT_TRUE(vr_pose_filter_predict(&f, t, pos, nullptr));
  // The receiver is found again as the front end does it: the record's solved pose anchors the
  // filter, or, when the filter refuses that too, starts it afresh.
  const Motion there;
  int records = 0;
  for (; records < 100 && f.state != VR_FILTER_TRACKING; ++records) {
    t += record_interval_s;
    if (f.state == VR_FILTER_OFF) start_near(&f, there, t - 2 * speaker_interval_s, {}, {});
    feed_record(&f, there, t, 0.005, rng);
  }
  EXPECT_LT(records, 50);
  run(&f, there, t + record_interval_s, t + 1.0, 0.005, rng);
  EXPECT_EQ(f.state, VR_FILTER_TRACKING);
  EXPECT_LT(predicted_error(&f, there, f.time_s).pos_cm, 0.03);
  expect_sane_covariance(f);
}

TEST(PoseFilterCovariance, StaysSymmetricPositiveOverLongRuns) {
  std::mt19937 rng(11);
  Motion m;
  m.vel = {8, -3, 2};
  m.omega = {0.2, 0.6, -0.1};
  vr_pose_filter f;
  start_and_run(&f, m, 60.0, rng);
  EXPECT_EQ(f.state, VR_FILTER_TRACKING);
  // A 3.5 sigma gate refuses one Gaussian measurement in about 2000.
  EXPECT_LT(f.gated, f.taken / 500);
  expect_sane_covariance(f);
  EXPECT_LT(predicted_error(&f, m, f.time_s + 0.04).eye_cm, 0.2);
}

// ---- Whole poses ------------------------------------------------------------------------------

// A 6D report of the truth at t with Gaussian noise on each axis.
void pose_report(const Motion &m, double t, double sigma_cm, double sigma_rad, std::mt19937 &rng,
                 double pos[3], double q[4]) {
  std::normal_distribution<double> n(0.0, 1.0);
  const Pose p = m.at(t);
  array(p.pos + V3{sigma_cm * n(rng), sigma_cm * n(rng), sigma_cm * n(rng)}, pos);
  to_library(mul(exp_rot({sigma_rad * n(rng), sigma_rad * n(rng), sigma_rad * n(rng)}), p.rot), q);
}

TEST(PoseFilterPoses, FirstPoseStartsAndMotionIsTrackedWithoutLag) {
  std::mt19937 rng(12);
  Motion m;
  m.vel = {20, 10, -10};
  m.omega = {0.1, 1.5, 0.0};
  // Process noise for a receiver that moves at constant speeds.
  vr_pose_filter_settings s;
  s.accel_density_cm2_s3 = 10;
  s.turn_density_rad2_s3 = 0.05;
  s.jerk_density_cm2_s5 = 10;
  vr_pose_filter f;
  vr_pose_filter_init(&f, &s);
  double pos[3], q[4];
  pose_report(m, 0.0, 0.02, 0.002, rng, pos, q);
  EXPECT_EQ(vr_pose_filter_pose(&f, 0.0, pos, q, 0, 0), VR_FILTER_STARTED);
  EXPECT_EQ(f.state, VR_FILTER_CONVERGING);
  double worst = 0;
  for (int i = 1; i < 240; ++i) {  // 60 Hz for 4 s
    const double t = i / 60.0;
    pose_report(m, t, 0.02, 0.002, rng, pos, q);
    EXPECT_EQ(vr_pose_filter_pose(&f, t, pos, q, 0.02, 0.002), VR_FILTER_TAKEN) << t;
    if (t > 1.0) worst = std::fmax(worst, predicted_error(&f, m, t + 0.04).eye_cm);
  }
  EXPECT_EQ(f.state, VR_FILTER_TRACKING);
  EXPECT_LT(worst, 0.2);
  // A pose 5 cm off is refused; so is an orientation 30 degrees off.
  const double t = 4.0;
  pose_report(m, t, 0, 0, rng, pos, q);
  pos[0] += 5;
  EXPECT_EQ(vr_pose_filter_pose(&f, t, pos, q, 0, 0), VR_FILTER_GATED);
  pose_report(m, t, 0, 0, rng, pos, q);
  double turned[4];
  to_library(mul(exp_rot({0, 0, 0.5}), from_library(q)), turned);
  EXPECT_EQ(vr_pose_filter_pose(&f, t, pos, turned, 0, 0), VR_FILTER_GATED);
  EXPECT_EQ(f.gated, 2);
  EXPECT_EQ(vr_pose_filter_pose(&f, t, pos, q, 0, 0), VR_FILTER_TAKEN);
}

TEST(PoseFilterPoses, PositionOnlySourceAndRestartAfterSilence) {
  std::mt19937 rng(13);
  Motion m;
  m.vel = {-15, 0, 8};
  // Process noise for a receiver that moves at constant speeds.
  vr_pose_filter_settings s;
  s.accel_density_cm2_s3 = 10;
  s.turn_density_rad2_s3 = 0.05;
  s.jerk_density_cm2_s5 = 10;
  vr_pose_filter f;
  vr_pose_filter_init(&f, &s);
  double pos[3], q[4];
  double worst = 0;
  for (int i = 0; i < 200; ++i) {  // a DynaSight: positions only, 100 Hz
    const double t = i / 100.0;
    pose_report(m, t, 0.01, 0, rng, pos, q);
    const vr_pose_filter_result r = vr_pose_filter_pose(&f, t, pos, nullptr, 0.01, 0);
    EXPECT_EQ(r, i == 0 ? VR_FILTER_STARTED : VR_FILTER_TAKEN) << t;
    double p[3], pq[4];
    ASSERT_TRUE(vr_pose_filter_predict(&f, t + 0.04, p, pq));
    EXPECT_EQ(pq[3], 1.0);  // no orientation measured: none made up
    if (t > 0.5) worst = std::fmax(worst, norm(load(p) - m.at(t + 0.04).pos));
  }
  EXPECT_EQ(f.state, VR_FILTER_TRACKING);
  EXPECT_LT(worst, 0.05);
  // Two seconds of silence: the next pose starts a new track where the receiver is now.
  pose_report(m, 4.0, 0.0, 0, rng, pos, q);
  EXPECT_EQ(vr_pose_filter_pose(&f, 4.0, pos, nullptr, 0, 0), VR_FILTER_STARTED);
  EXPECT_EQ(f.gaps, 1);
  EXPECT_EQ(f.starts, 2);
  EXPECT_EQ(f.pos[0], pos[0]);
}

// ---- Acceleration and the still receiver -----------------------------------------------------

// A head that speeds up along a straight line, reported at 60 Hz: with the acceleration tracked
// the frame shown 40 ms after a report is where the head is then; the constant-velocity model
// (no jerk, no acceleration to start from) falls behind by about the acceleration times the
// square of its smoothing time.
TEST(PoseFilterPoses, ConstantAccelerationTrackedWithoutTheConstantVelocityLag) {
  Motion m;
  m.vel = {10, -5, 0};
  m.acc = {40, 20, -30};            // 54 cm/s^2, a brisk head start kept up
  vr_pose_filter_settings tracked;  // the defaults
  vr_pose_filter_settings constant_velocity;
  constant_velocity.jerk_density_cm2_s5 = 0;
  constant_velocity.start_sigma_cm_s2 = 0;
  constant_velocity.accel_density_cm2_s3 = 1000;  // what suited it best before
  struct Lag {
    double mean_along_cm, rms_cm;
  };
  const auto run_poses = [&](const vr_pose_filter_settings &s) {
    std::mt19937 rng(16);
    vr_pose_filter f;
    vr_pose_filter_init(&f, &s);
    V3 sum{0, 0, 0};
    double sum_sq = 0;
    int n = 0;
    for (int i = 0; i < 90; ++i) {  // 1.5 s
      const double t = i / 60.0;
      double pos[3], q[4];
      pose_report(m, t, 0.02, 0.002, rng, pos, q);
      vr_pose_filter_pose(&f, t, pos, q, 0.02, 0.002);
      if (t < 0.75) continue;
      double p[3];
      EXPECT_TRUE(vr_pose_filter_predict(&f, t + 0.04, p, nullptr));
      const V3 e = load(p) - m.at(t + 0.04).pos;
      sum = sum + e;
      sum_sq += e.x * e.x + e.y * e.y + e.z * e.z;
      ++n;
    }
    EXPECT_EQ(f.gated, 0);
    const V3 mean = (1.0 / n) * sum;
    const double along = (mean.x * m.acc.x + mean.y * m.acc.y + mean.z * m.acc.z) / norm(m.acc);
    return Lag{along, std::sqrt(sum_sq / n)};
  };
  const Lag ca = run_poses(tracked), cv = run_poses(constant_velocity);
  std::printf(
      "constant acceleration, 40 ms ahead: mean error along it %.4f cm (constant velocity "
      "%.4f cm), RMS %.4f cm (%.4f cm)\n",
      ca.mean_along_cm, cv.mean_along_cm, ca.rms_cm, cv.rms_cm);
  EXPECT_LT(std::fabs(ca.mean_along_cm), 0.01);
  EXPECT_LT(ca.rms_cm, cv.rms_cm);
  EXPECT_LT(cv.mean_along_cm, -0.03);  // behind, as the constant-velocity model must be
}

// Past accel_horizon_s after the newest measurement the acceleration no longer bends the
// prediction: the pose goes on in a straight line at the velocity it reached, so that a source
// that falls silent is not carried off on a parabola.
TEST(PoseFilterPrediction, AccelerationBendsThePathOnlyOverItsHorizon) {
  std::mt19937 rng(17);
  const Motion still;
  vr_pose_filter f;
  vr_pose_filter_init(&f, nullptr);
  start_near(&f, still, 0.0, {}, {});
  const double end = run(&f, still, 0.02, 0.5, 0.02, rng);
  f.vel[0] = 20, f.vel[1] = f.vel[2] = 0;
  f.acc[0] = 100, f.acc[1] = f.acc[2] = 0;
  const double horizon = f.last_taken_s + f.settings.accel_horizon_s;
  const auto x_at = [&](double t) {
    double p[3];
    EXPECT_TRUE(vr_pose_filter_predict(&f, t, p, nullptr));
    return p[0];
  };
  // Within the horizon the path bends forward (a positive second difference) ...
  const double a0 = x_at(end), a1 = x_at(end + 0.04), a2 = x_at(end + 0.08);
  EXPECT_GT(a2 - 2 * a1 + a0, 0.5 * 100 * 0.04 * 0.04 * 0.5);
  // ... past it, it is straight, at more than the velocity it had.
  const double b0 = x_at(horizon + 0.05), b1 = x_at(horizon + 0.15), b2 = x_at(horizon + 0.25);
  EXPECT_NEAR(b2 - b1, b1 - b0, 1e-9);
  EXPECT_GT((b1 - b0) / 0.1, 20 + 100 * 0.5 * f.settings.accel_horizon_s);
  EXPECT_LT((b1 - b0) / 0.1, 20 + 100 * f.settings.accel_horizon_s);
}

// A receiver that stands still, measured as a raw unit with the simulator's 0.02 cm of noise:
// the process noise falls to still_noise_share of itself, so the eye 40 ms ahead (13 cm from the
// receiver, where its turns count most) jitters less than with the full process noise.
TEST(PoseFilterDistances, StillReceiverIsHeldSteadierThanWithTheFullProcessNoise) {
  const Motion still;
  const auto jitter = [&](double still_share) {
    std::mt19937 rng(18);
    vr_pose_filter_settings s;
    s.still_noise_share = still_share;
    vr_pose_filter f;
    vr_pose_filter_init(&f, &s);
    start_near(&f, still, 0.0, {}, {});
    const double end = run(&f, still, 0.02, 1.0, 0.02, rng);
    V3 sum{0, 0, 0};
    double sum_sq = 0;
    int n = 0;
    for (double t = end + record_interval_s; t < end + 3.0; t += record_interval_s) {
      feed_record(&f, still, t, 0.02, rng);
      double pos[3], q[4];
      EXPECT_TRUE(vr_pose_filter_predict(&f, t + 0.04, pos, q));
      const V3 eye = load(pos) + rotate(from_library(q), V3{0, -8, 10});
      sum = sum + eye;
      sum_sq += eye.x * eye.x + eye.y * eye.y + eye.z * eye.z;
      ++n;
    }
    EXPECT_EQ(f.state, VR_FILTER_TRACKING);
    const V3 mean = (1.0 / n) * sum;
    return std::sqrt(
        std::fmax(0.0, sum_sq / n - (mean.x * mean.x + mean.y * mean.y + mean.z * mean.z)));
  };
  const double held = jitter(vr_pose_filter_settings{}.still_noise_share), full = jitter(1.0);
  std::printf("still receiver, eye 40 ms ahead: %.4f cm RMS (full process noise: %.4f cm)\n", held,
              full);
  EXPECT_LT(held, 0.9 * full);
}

}  // namespace
