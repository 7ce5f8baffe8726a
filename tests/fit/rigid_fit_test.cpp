// The rigid fit: exact recovery of known placements, the residuals of noisy points, and the
// refusal of point sets that fix no placement.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <numbers>
#include <random>
#include <vector>

#include "vrlib/vr.h"

namespace {

constexpr double deg = std::numbers::pi / 180.0;

// rot_z(c) x rot_y(b) x rot_x(a) x trans(t): a placement in the library's row-vector convention.
void placement(double a, double b, double c, double tx, double ty, double tz, dmat out) {
  dmat rx, ry, rz, t;
  vr_mat_rot_x(a, rx);
  vr_mat_rot_y(b, ry);
  vr_mat_rot_z(c, rz);
  vr_mat_trans(tx, ty, tz, t);
  vr_mat_mul_mat(rz, ry, out);
  vr_mat_mul_mat(out, rx, out);
  vr_mat_mul_mat(out, t, out);
}

std::vector<std::array<double, 3>> moved(const std::vector<std::array<double, 3>> &pts, dmat m) {
  std::vector<std::array<double, 3>> out(pts.size());
  for (std::size_t i = 0; i < pts.size(); ++i) vr_mat_mul_dpt(pts[i].data(), m, out[i].data());
  return out;
}

const dpt *as_dpt(const std::vector<std::array<double, 3>> &v) {
  return reinterpret_cast<const dpt *>(v.data());
}

void expect_same(dmat got, dmat want, double tol) {
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) EXPECT_NEAR(got[r][c], want[r][c], tol) << r << "," << c;
  }
}

// Five screen targets: the corners and the centre of a 36.5 x 25.9 cm plate (one plane).
const std::vector<std::array<double, 3>> screen_targets = {
    {2, 2, 0}, {34.5, 2, 0}, {2, 23.9, 0}, {34.5, 23.9, 0}, {18.25, 12.95, 0}};

}  // namespace

TEST(RigidFit, RecoversKnownPlacementsExactlyIncludingQuarterAndHalfTurns) {
  struct Case {
    double a, b, c, tx, ty, tz;
  };
  const Case cases[] = {{0, 0, 0, 0, 0, 0},
                        {50 * deg, 0, 0, 18.28, 37.71, 4.6},
                        {90 * deg, 0, 0, 1, 2, 3},
                        {0, 90 * deg, 0, -5, 0, 10},
                        {0, 0, 180 * deg, 3, -4, 5},
                        {180 * deg, 0, 0, 0, 0, -20},
                        {0, 180 * deg, 90 * deg, 7, 7, 7},
                        {33 * deg, -71 * deg, 128 * deg, -40, 12.5, 90}};
  // A cloud in space and the coplanar screen targets: both fix the placement.
  const std::vector<std::array<double, 3>> cloud = {{0, 0, 0},  {10, 0, 0}, {0, 10, 0},
                                                    {0, 0, 10}, {3, -7, 2}, {-4, 5, 9}};
  for (const auto *set : {&cloud, &screen_targets}) {
    for (const Case &k : cases) {
      dmat truth, fit;
      placement(k.a, k.b, k.c, k.tx, k.ty, k.tz, truth);
      const auto to = moved(*set, truth);
      double rms = -1, worst = -1;
      ASSERT_EQ(
          vr_rigid_fit(static_cast<int>(set->size()), as_dpt(*set), as_dpt(to), fit, &rms, &worst),
          VR_FIT_OK);
      expect_same(fit, truth, 1e-9);
      EXPECT_LT(rms, 1e-9);
      EXPECT_LT(worst, 1e-9);
    }
  }
}

TEST(RigidFit, AMirrorImageGivesTheNearestRotationNotAReflection) {
  // The same points mirrored in x: no rotation maps them, and the fit must not return a
  // reflection (determinant -1) that would turn a screen's axes inside out.
  std::vector<std::array<double, 3>> mirrored = screen_targets;
  for (auto &p : mirrored) p[0] = -p[0];
  std::vector<std::array<double, 3>> cloud = {{0, 0, 0}, {10, 0, 0}, {0, 10, 0}, {0, 0, 10}};
  std::vector<std::array<double, 3>> cloud_mirrored = cloud;
  for (auto &p : cloud_mirrored) p[0] = -p[0];
  dmat fit;
  double rms = 0, worst = 0;
  ASSERT_EQ(vr_rigid_fit(4, as_dpt(cloud), as_dpt(cloud_mirrored), fit, &rms, &worst), VR_FIT_OK);
  const double det = fit[0][0] * (fit[1][1] * fit[2][2] - fit[1][2] * fit[2][1]) -
                     fit[0][1] * (fit[1][0] * fit[2][2] - fit[1][2] * fit[2][0]) +
                     fit[0][2] * (fit[1][0] * fit[2][1] - fit[1][1] * fit[2][0]);
  EXPECT_NEAR(det, 1.0, 1e-12);
  EXPECT_GT(worst, 1.0);  // the misfit is reported, not hidden
}

TEST(RigidFit, NoisyPointsGiveResidualsOfTheNoiseAndAnAccuratePlacement) {
  std::mt19937 rng(7);
  std::normal_distribution<double> noise(0.0, 0.1);  // 1 mm per coordinate
  std::uniform_real_distribution<double> spread(-30.0, 30.0);
  std::vector<std::array<double, 3>> from(200);
  for (auto &p : from) p = {spread(rng), spread(rng), spread(rng)};
  dmat truth, fit;
  placement(20 * deg, -35 * deg, 110 * deg, 12, -8, 40, truth);
  auto to = moved(from, truth);
  for (auto &p : to) {
    for (double &c : p) c += noise(rng);
  }
  double rms = 0, worst = 0;
  ASSERT_EQ(vr_rigid_fit(200, as_dpt(from), as_dpt(to), fit, &rms, &worst), VR_FIT_OK);
  // Three coordinates of sigma 0.1: a distance residual of 0.1 x sqrt(3) RMS, less the six
  // degrees of freedom the fit absorbs.
  const double expected = 0.1 * std::sqrt(3.0 * (200 - 6) / 200.0);
  EXPECT_NEAR(rms, expected, 0.15 * expected);
  EXPECT_GT(worst, rms);
  EXPECT_LT(worst, 5 * 0.1 * std::sqrt(3.0));
  expect_same(fit, truth, 0.05);
}

TEST(RigidFit, RefusesSetsThatFixNoPlacementAndWritesNothing) {
  dmat fit, untouched;
  vr_mat_identity(untouched);
  untouched[3][0] = 99;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    std::vector<std::array<double, 3>> from, to;
    int n;
    vr_fit_result want;
  };
  const std::vector<std::array<double, 3>> good = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
  const Case cases[] = {
      {good, good, 2, VR_FIT_TOO_FEW},
      {good, good, 0, VR_FIT_TOO_FEW},
      {good, good, -1, VR_FIT_TOO_FEW},
      {{{0, 0, 0}, {1, 1, 1}, {2, 2, 2}, {5, 5, 5}},
       {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}},
       4,
       VR_FIT_COLLINEAR},
      {good, {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}}, 3, VR_FIT_COLLINEAR},
      {{{1, 2, 3}, {1, 2, 3}, {1, 2, 3}}, good, 3, VR_FIT_COLLINEAR},
      {{{0, 0, 0}, {1, 0, 0}, {2, 1e-12, 0}}, good, 3, VR_FIT_COLLINEAR},
      {{{0, 0, 0}, {1, nan, 0}, {0, 1, 0}}, good, 3, VR_FIT_NOT_FINITE},
      {good, {{0, 0, inf}, {1, 0, 0}, {0, 1, 0}}, 3, VR_FIT_NOT_FINITE},
  };
  for (const Case &k : cases) {
    std::memcpy(fit, untouched, sizeof fit);
    double rms = -7, worst = -7;
    EXPECT_EQ(vr_rigid_fit(k.n, as_dpt(k.from), as_dpt(k.to), fit, &rms, &worst), k.want);
    expect_same(fit, untouched, 0.0);
    EXPECT_EQ(rms, -7);
    EXPECT_EQ(worst, -7);
  }
  EXPECT_EQ(vr_rigid_fit(3, nullptr, as_dpt(good), fit, nullptr, nullptr), VR_FIT_NULL);
  EXPECT_EQ(vr_rigid_fit(3, as_dpt(good), as_dpt(good), nullptr, nullptr, nullptr), VR_FIT_NULL);
  // Three points just off a line still fix a placement.
  EXPECT_EQ(vr_rigid_fit(3, as_dpt({{0, 0, 0}, {10, 0, 0}, {20, 0.01, 0}}), as_dpt(good), fit,
                         nullptr, nullptr),
            VR_FIT_OK);
}

TEST(TrackerToPlate, TakesRigidPlacementsOnlyAndIsTheContextsDigToPlate) {
  vr_ctx *ctx = vr_ctx_create();
  dmat m;
  placement(10 * deg, 20 * deg, -15 * deg, 5, 30, 8, m);
  EXPECT_EQ(vr_set_matrix(ctx, VR_TRACKER_TO_PLATE, m), VR_OK);
  double(*dig_to_plate)[4] = nullptr;
  vr_object_get(ctx, VR_DIG_TO_PLATE, &dig_to_plate);
  expect_same(dig_to_plate, m, 0.0);

  dmat scaled, mirrored, projective;
  vr_mat_scale(2, 2, 2, scaled);
  vr_mat_scale(-1, 1, 1, mirrored);
  vr_mat_identity(projective);
  projective[0][3] = 0.1;
  for (auto *bad : {&scaled, &mirrored, &projective}) {
    EXPECT_EQ(vr_set_matrix(ctx, VR_TRACKER_TO_PLATE, *bad), VR_ERR_BAD_VALUE);
  }
  expect_same(dig_to_plate, m, 0.0);
  // The same storage under its fixed name takes any invertible frame by value (a scaled one,
  // for instance), which the placement's own door refuses.
  EXPECT_EQ(vr_set_matrix(ctx, VR_DIG_TO_PLATE, scaled), VR_OK);
  expect_same(dig_to_plate, scaled, 0.0);
  std::free(ctx);
}
