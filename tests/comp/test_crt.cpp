// CRT correction: where the eye sees a phosphor point through the thick, curved face plate.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "view_test_util.h"
#include "vr_view_internal.h"

using namespace view_test;

namespace {

struct Seen {
  double x, y;
};

Seen correct(vr_ctx *ctx, const dpt eye, double x, double y) {
  Seen s{-1e9, -1e9};
  vr_correct_crt(ctx, eye, x, y, &s.x, &s.y);
  return s;
}

constexpr dpt centred_eye = {18.25, 12.95, 60.0};

}  // namespace

TEST(CrtCorrection, WorkedExamples) {
  Ctx ctx = new_ctx();  // cylindrical, t 1.3, n 1.52, radius 117.3, 36.5 x 25.9 cm
  Seen s = correct(ctx.get(), centred_eye, 0.0, 0.0);
  EXPECT_NEAR(s.x, -0.21265, 5e-5);
  EXPECT_NEAR(s.y, -0.15090, 5e-5);
  s = correct(ctx.get(), centred_eye, 36.5, 25.9);
  EXPECT_NEAR(s.x, 36.71265, 5e-5);
  EXPECT_NEAR(s.y, 26.05090, 5e-5);

  vr_object_set(ctx.get(), VR_CRT_CURVATURE, 1, 0);
  s = correct(ctx.get(), centred_eye, 0.0, 0.0);
  EXPECT_NEAR(s.x, -0.39430, 5e-5);
  EXPECT_NEAR(s.y, -0.27979, 5e-5);
}

TEST(CrtCorrection, GlassTermAloneOnTheCentreLine) {
  // On the vertical centre line a cylindrical face has no tilt and no sag: only the lateral
  // shift of a flat slab of glass remains.
  Ctx ctx = new_ctx();
  const dpt eye = {30.0, 12.95, 50.0};
  const Seen s = correct(ctx.get(), eye, 18.25, 5.0);
  const double dx = 18.25 - 30.0, dy = 5.0 - 12.95;
  const double d = std::hypot(dx, dy);
  const double i = std::atan(d / 50.0);
  const double r = std::asin(std::sin(i) / 1.52);
  const double shift = 1.3 * (std::tan(i) - std::tan(r));
  EXPECT_NEAR(s.x, 18.25 - shift * dx / d, 1e-12);
  EXPECT_NEAR(s.y, 5.0 - shift * dy / d, 1e-12);

  // The spherical face tilts the normal in y there and adds the y distance to the sag.
  vr_object_set(ctx.get(), VR_CRT_CURVATURE, 1, 0);
  const Seen sphere = correct(ctx.get(), eye, 18.25, 5.0);
  EXPECT_GT(std::fabs(sphere.y - s.y), 1e-4);
  // ... but on the horizontal centre line both models agree.
  const Seen on_axis_sphere = correct(ctx.get(), eye, 5.0, 12.95);
  vr_object_set(ctx.get(), VR_CRT_CURVATURE, 2, 0);
  const Seen on_axis_cylinder = correct(ctx.get(), eye, 5.0, 12.95);
  EXPECT_NEAR(on_axis_sphere.x, on_axis_cylinder.x, 1e-12);
  EXPECT_NEAR(on_axis_sphere.y, on_axis_cylinder.y, 1e-12);
}

TEST(CrtCorrection, RefractionAndCurvatureEachAlone) {
  Ctx ctx = new_ctx();
  // Index 1: no refraction, only the sag term, which moves the point outward.
  vr_object_set(ctx.get(), VR_CRT_REFRACTION_INDEX, 1.0, 0);
  Seen s = correct(ctx.get(), centred_eye, 0.0, 0.0);
  const double phi = std::asin(-18.25 / 117.3);
  const double sag = 117.3 * (1.0 - std::cos(phi));
  const double d = std::hypot(18.25, 12.95);
  const double outward = sag * d / 60.0;  // sag times tan(theta)
  EXPECT_NEAR(s.x, -outward * 18.25 / d, 1e-9);
  EXPECT_NEAR(s.y, -outward * 12.95 / d, 1e-9);

  // No glass and a flat face: the point comes back unchanged.
  vr_object_set(ctx.get(), VR_CRT_REFRACTION_INDEX, 1.52, VR_CRT_GLASS_THICKNESS, 0.0,
                VR_CRT_RADIUS, 1e12, 0);
  s = correct(ctx.get(), centred_eye, 3.0, 4.0);
  EXPECT_NEAR(s.x, 3.0, 1e-9);
  EXPECT_NEAR(s.y, 4.0, 1e-9);
}

TEST(CrtCorrection, UndefinedGeometryLeavesThePoint) {
  Ctx ctx = new_ctx();
  // Eye straight in front of the point: no direction to shift along.
  const dpt above = {10.0, 7.0, 40.0};
  Seen s = correct(ctx.get(), above, 10.0, 7.0);
  EXPECT_EQ(s.x, 10.0);
  EXPECT_EQ(s.y, 7.0);
  // Eye in the plate plane.
  const dpt flat = {0.0, 0.0, 0.0};
  s = correct(ctx.get(), flat, 10.0, 7.0);
  EXPECT_EQ(s.x, 10.0);
  EXPECT_EQ(s.y, 7.0);
  // A point farther from the centre than the radius of curvature, both models.
  vr_object_set(ctx.get(), VR_CRT_RADIUS, 10.0, 0);
  s = correct(ctx.get(), centred_eye, 0.0, 0.0);
  EXPECT_EQ(s.x, 0.0);
  EXPECT_EQ(s.y, 0.0);
  vr_object_set(ctx.get(), VR_CRT_CURVATURE, 1, VR_CRT_RADIUS, 20.0, 0);
  s = correct(ctx.get(), centred_eye, 18.25 - 15.0, 12.95 - 15.0);  // 21.2 cm off centre
  EXPECT_EQ(s.x, 18.25 - 15.0);
  EXPECT_EQ(s.y, 12.95 - 15.0);
  // A radius of zero and an index too small to pass the ray.
  vr_object_set(ctx.get(), VR_CRT_RADIUS, 0.0, 0);
  s = correct(ctx.get(), centred_eye, 18.25, 12.95 + 1.0);
  EXPECT_EQ(s.y, 12.95 + 1.0);
  vr_object_set(ctx.get(), VR_CRT_RADIUS, 117.3, VR_CRT_REFRACTION_INDEX, 0.1, 0);
  s = correct(ctx.get(), centred_eye, 0.0, 0.0);
  EXPECT_EQ(s.x, 0.0);

  // Nothing non-finite in the eye crashes; the output is written.
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const dpt bad = {nan, 1.0, 1.0};
  s = correct(ctx.get(), bad, 1.0, 1.0);
  EXPECT_EQ(s.x, 1.0);
}
