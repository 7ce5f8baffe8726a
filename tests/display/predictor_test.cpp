// The pose predictor on its own: convergence on steady motion, the robust gate, the jump hold,
// and what it does with times and values that are not measurements.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "vr_predict.h"

namespace {

double dist(const double *a, const double *b) {
  return std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) +
                   (a[2] - b[2]) * (a[2] - b[2]));
}

// The rotation angle between two unit quaternions.
double angle_between(const double *a, const double *b) {
  double d = std::fabs(a[0] * b[0] + a[1] * b[1] + a[2] * b[2] + a[3] * b[3]);
  return 2 * std::acos(std::min(1.0, d));
}

// A turn of `angle` about z.
void about_z(double angle, double q[4]) {
  q[0] = 0, q[1] = 0, q[2] = std::sin(angle / 2), q[3] = std::cos(angle / 2);
}

class Predictor : public ::testing::Test {
 protected:
  void SetUp() override { vr_predictor_reset(&pred, nullptr); }

  // A head moving at constant velocity (cm/s) and turning at a constant rate (rad/s), measured
  // every `period` s with Gaussian noise; the prediction is checked `lead` s after each.
  // Returns the RMS prediction error over the last half of n measurements.
  double run_steady(int n, double period, double lead, double noise_cm, double *turn_rms) {
    std::mt19937 rng(7);
    std::normal_distribution<double> gauss(0.0, noise_cm > 0 ? noise_cm : 1.0);
    const double v[3] = {20.0, -8.0, 5.0};
    const double rate = 1.5;
    double sum = 0, sum_turn = 0;
    int counted = 0;
    for (int i = 0; i < n; ++i) {
      const double t = 3.0 + i * period;
      double p[3], q[4];
      for (int c = 0; c < 3; ++c) p[c] = v[c] * t + (noise_cm > 0 ? gauss(rng) : 0.0);
      about_z(rate * t, q);
      vr_predictor_add(&pred, t, p, q);
      double out[3], out_q[4], truth[3], truth_q[4];
      EXPECT_EQ(vr_predictor_predict(&pred, t + lead, out, out_q), 1);
      for (int c = 0; c < 3; ++c) truth[c] = v[c] * (t + lead);
      about_z(rate * (t + lead), truth_q);
      if (i >= n / 2) {
        sum += dist(out, truth) * dist(out, truth);
        sum_turn += angle_between(out_q, truth_q) * angle_between(out_q, truth_q);
        ++counted;
      }
    }
    if (turn_rms) *turn_rms = std::sqrt(sum_turn / counted);
    return std::sqrt(sum / counted);
  }

  vr_pose_predictor pred{};
};

TEST_F(Predictor, SteadyMotionIsPredictedExactlyWithoutNoise) {
  double turn = 0;
  EXPECT_LT(run_steady(200, 0.02, 0.04, 0.0, &turn), 1e-6);
  EXPECT_LT(turn, 1e-6);
}

TEST_F(Predictor, SteadyMotionErrorStaysBelowTheNoise) {
  // Smoothed for a steady motion, the prediction 40 ms ahead is closer to the truth than one
  // measurement is to where the head is at that moment (sigma on each of three axes).
  vr_predictor_settings smooth;
  smooth.level_s = 0.03;
  smooth.trend_s = 0.1;
  vr_predictor_reset(&pred, &smooth);
  const double noise = 0.05;
  EXPECT_LT(run_steady(400, 0.02, 0.04, noise, nullptr), noise * std::sqrt(3.0));
}

TEST_F(Predictor, UnevenMeasurementTimesStillConverge) {
  double p[3], out[3];
  for (int i = 0; i < 300; ++i) {
    const double t = 1.0 + 0.013 * i + 0.006 * (i % 3);
    for (int c = 0; c < 3; ++c) p[c] = 10.0 * (c + 1) * t;
    vr_predictor_add(&pred, t, p, nullptr);
  }
  const double t = 1.0 + 0.013 * 299 + 0.006 * (299 % 3);
  ASSERT_EQ(vr_predictor_predict(&pred, t + 0.05, out, nullptr), 1);
  for (int c = 0; c < 3; ++c) EXPECT_NEAR(out[c], 10.0 * (c + 1) * (t + 0.05), 1e-6);
}

TEST_F(Predictor, StillHeadDoesNotDrift) {
  std::mt19937 rng(3);
  std::normal_distribution<double> gauss(0.0, 0.05);
  const double at[3] = {5.0, -10.0, 55.0};
  double q[4];
  about_z(0.3, q);
  double worst = 0;
  for (int i = 0; i < 3000; ++i) {  // a minute at 50 Hz
    const double t = 2.0 + 0.02 * i;
    double p[3];
    for (int c = 0; c < 3; ++c) p[c] = at[c] + gauss(rng);
    vr_predictor_add(&pred, t, p, q);
    double out[3], out_q[4];
    ASSERT_EQ(vr_predictor_predict(&pred, t + 0.035, out, out_q), 1);
    if (i > 50) worst = std::max(worst, dist(out, at));
    EXPECT_LT(angle_between(out_q, q), 1e-9);
  }
  EXPECT_LT(worst, 0.5);
  double out[3];
  vr_predictor_predict(&pred, 62.0, out, nullptr);
  EXPECT_LT(dist(out, at), 0.1);
}

TEST_F(Predictor, SingleOutlierIsRejectedAndBarelyMovesThePose) {
  double p[3] = {0, 0, 50}, out[3];
  for (int i = 0; i < 50; ++i) {
    p[0] = 10.0 * 0.02 * i + (i % 2 ? 0.02 : -0.02);
    vr_predictor_add(&pred, 0.02 * i, p, nullptr);
  }
  double before[3];
  vr_predictor_predict(&pred, 0.02 * 50 + 0.03, before, nullptr);
  double bad[3] = {10.0 * 0.02 * 50 + 4.0, 0, 50};
  EXPECT_EQ(vr_predictor_add(&pred, 0.02 * 50, bad, nullptr), VR_PREDICT_REJECTED);
  vr_predictor_predict(&pred, 0.02 * 50 + 0.03, out, nullptr);
  EXPECT_LT(dist(out, before), 0.5);
  EXPECT_EQ(pred.rejected, 1);
}

TEST_F(Predictor, JumpIsHeldAndCountedThenTakenWhenItPersists) {
  double p[3] = {0, 0, 50}, out[3];
  for (int i = 0; i < 20; ++i) vr_predictor_add(&pred, 0.02 * i, p, nullptr);
  // A metre in 20 ms: no head does that.
  double far[3] = {100, 0, 50};
  EXPECT_EQ(vr_predictor_add(&pred, 0.40, far, nullptr), VR_PREDICT_HELD);
  vr_predictor_predict(&pred, 0.42, out, nullptr);
  EXPECT_LT(dist(out, p), 1e-9);
  EXPECT_EQ(pred.held, 1);
  // Still there a quarter of a second later: it was the head (or the track was wrong).
  vr_predict_result r = VR_PREDICT_HELD;
  for (int i = 1; i < 30 && r != VR_PREDICT_RESTARTED; ++i)
    r = vr_predictor_add(&pred, 0.40 + 0.02 * i, far, nullptr);
  EXPECT_EQ(r, VR_PREDICT_RESTARTED);
  vr_predictor_predict(&pred, 1.0, out, nullptr);
  EXPECT_LT(dist(out, far), 1e-9);
}

// Poses refused in a row are no silence: the track restarts at the new place only when they have
// gone on for restart_after_s, not as soon as nothing was used for a moment; and a measurement
// not later than the newest one judged is refused.
TEST_F(Predictor, RefusedPosesRestartTheTrackAfterRestartAfterSNotBefore) {
  double p[3] = {0, 0, 50};
  for (int i = 0; i < 60; ++i) vr_predictor_add(&pred, i / 60.0, p, nullptr);
  const double far[3] = {100, 0, 50};
  const double first = 1.0;
  vr_predict_result r = VR_PREDICT_HELD;
  int i = 0;
  for (; i < 60 && r != VR_PREDICT_RESTARTED; ++i) {
    r = vr_predictor_add(&pred, first + i / 60.0, far, nullptr);
    if (r != VR_PREDICT_RESTARTED) {
      EXPECT_TRUE(r == VR_PREDICT_HELD || r == VR_PREDICT_REJECTED) << i;
      EXPECT_EQ(vr_predictor_add(&pred, first + (i - 0.5) / 60.0, far, nullptr),
                VR_PREDICT_REFUSED);
    }
  }
  EXPECT_EQ(r, VR_PREDICT_RESTARTED);
  EXPECT_NEAR((i - 1) / 60.0, pred.settings.restart_after_s, 1.0 / 60.0 + 1e-9);
}

TEST_F(Predictor, NonMeasurementsAreRefusedAndLeaveTheTrack) {
  double p[3] = {1, 2, 3}, out[3], q[4];
  EXPECT_EQ(vr_predictor_predict(&pred, 1.0, out, q), 0);  // nothing measured yet
  EXPECT_EQ(vr_predictor_add(&pred, 1.0, p, nullptr), VR_PREDICT_RESTARTED);
  double nan_pos[3] = {NAN, 0, 0};
  EXPECT_EQ(vr_predictor_add(&pred, 1.02, nan_pos, nullptr), VR_PREDICT_REFUSED);
  EXPECT_EQ(vr_predictor_add(&pred, NAN, p, nullptr), VR_PREDICT_REFUSED);
  EXPECT_EQ(vr_predictor_add(&pred, INFINITY, p, nullptr), VR_PREDICT_REFUSED);
  EXPECT_EQ(vr_predictor_add(&pred, 1.0, p, nullptr), VR_PREDICT_REFUSED);  // not later
  double zero_q[4] = {0, 0, 0, 0};
  EXPECT_EQ(vr_predictor_add(&pred, 1.02, p, zero_q), VR_PREDICT_REFUSED);
  EXPECT_EQ(vr_predictor_predict(&pred, NAN, out, q), 0);
  ASSERT_EQ(vr_predictor_predict(&pred, 1.01, out, q), 1);
  EXPECT_EQ(out[0], 1.0);
  EXPECT_EQ(q[3], 1.0);  // no orientation measured: the identity
  EXPECT_EQ(pred.refused, 5);
}

TEST_F(Predictor, ClockJumpsRestartTheTrackAndHorizonIsBounded) {
  double p[3] = {0, 0, 50}, out[3];
  for (int i = 0; i < 50; ++i) {
    p[0] = 30.0 * 0.02 * i;
    vr_predictor_add(&pred, 0.02 * i, p, nullptr);
  }
  // Asked an hour ahead, it looks no further than its horizon.
  ASSERT_EQ(vr_predictor_predict(&pred, 3600.0, out, nullptr), 1);
  EXPECT_NEAR(out[0], 30.0 * (0.98 + pred.settings.max_horizon_s), 0.05);
  // Asked for the past, it gives the newest pose, not a pose extrapolated backwards.
  ASSERT_EQ(vr_predictor_predict(&pred, -10.0, out, nullptr), 1);
  EXPECT_NEAR(out[0], 30.0 * 0.98, 0.05);
  // The clock jumps an hour forward, then back: each time the track starts again there.
  EXPECT_EQ(vr_predictor_add(&pred, 3600.0, p, nullptr), VR_PREDICT_RESTARTED);
  EXPECT_EQ(vr_predictor_add(&pred, 1.0, p, nullptr), VR_PREDICT_RESTARTED);
  ASSERT_EQ(vr_predictor_predict(&pred, 1.05, out, nullptr), 1);
  for (double v : out) EXPECT_TRUE(std::isfinite(v));
  EXPECT_NEAR(out[0], p[0], 1e-9);
}

TEST_F(Predictor, OrientationIsKeptUnitAndTurnsTheShortWay) {
  double p[3] = {0, 0, 50}, q[4], out[3], out_q[4];
  for (int i = 0; i < 100; ++i) {
    // Across the sign flip of the quaternion: the same rotations, written both ways.
    about_z(3.0 + 0.01 * i, q);
    if (i % 2)
      for (double &c : q) c = -c;
    vr_predictor_add(&pred, 0.02 * i, p, q);
  }
  ASSERT_EQ(vr_predictor_predict(&pred, 0.02 * 99 + 0.04, out, out_q), 1);
  const double n = std::sqrt(out_q[0] * out_q[0] + out_q[1] * out_q[1] + out_q[2] * out_q[2] +
                             out_q[3] * out_q[3]);
  EXPECT_NEAR(n, 1.0, 1e-12);
  double want[4];
  about_z(3.0 + 0.01 * 99 + 0.5 * 0.04, want);
  EXPECT_LT(angle_between(out_q, want), 1e-6);
}

}  // namespace
