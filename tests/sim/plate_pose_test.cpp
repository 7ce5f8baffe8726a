// Truths given in a context's plate coordinates: tracked through the real drivers (6D reports
// and raw times of flight), the library reports the head's eyes and the mouse tip where they
// were given, to the tracker's resolution; scripted truths follow time and the calibration;
// what cannot be converted changes nothing.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>

#include "track_fixture.h"

namespace {

using track_test::TrackTest;

constexpr double deg = std::numbers::pi / 180.0;
constexpr int source_raw = 1;
constexpr int source_6d = 2;

// A 6D report carries positions in steps of 0.001 inch and angles in steps of 1/40 degree; an
// eye 4.1 cm from the receiver moves by at most the position step per axis plus three angle
// steps' worth of arc: under 0.006 cm.
constexpr double resolution_6d_cm = 0.006;
// A raw record carries whole counts of 25.4 / 4800 cm; solved into a pose, that costs up to about
// a millimetre at the receiver and a tenth of a degree.
constexpr double resolution_raw_cm = 0.1;

double distance(const double *a, const double *b) {
  return std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) +
                   (a[2] - b[2]) * (a[2] - b[2]));
}

bool same_matrix(const dmat a, const dmat b) {
  return std::memcmp(a, b, sizeof(dmat)) == 0;
}

class PlatePose : public TrackTest {
 protected:
  void track(int source) {
    vrsim_plug_standard(sim);
    ctx->glasses_source = source;
    ctx->mouse_source = source;
    ctx->stereo = 1;
    ASSERT_EQ(vr_init_glasses_and_mouse_6d(ctx, 1, 1), 1);
    frames(40);
  }
};

struct Pose {
  const char *name;
  bool use_default;
  dpt eye_mid;
  double yaw, pitch, roll;
  dpt tip;
};

const Pose poses[] = {
    {"default viewer", true, {0, 0, 0}, 0, 0, 0, {0, 0, 0}},
    {"left and near, turned", false, {8.0, 16.0, 45.0}, 15 * deg, 8 * deg, 5 * deg, {12, 6, 32}},
    {"right and far, tipped",
     false,
     {30.0, 10.0, 70.0},
     -20 * deg,
     5 * deg,
     -10 * deg,
     {25, 3, 35}},
};

// The eyes and mouse tip come back where they were given, through the 6D reports and through the
// raw records, for the default viewer and for turned heads, with the context's own calibration
// and offsets (a transmitter placed elsewhere, narrower eyes, a longer stylus).
TEST_F(PlatePose, TrackedEyesAndTipComeBackWhereGiven) {
  for (int source : {source_6d, source_raw}) {
    for (bool own_calibration : {false, true}) {
      for (const Pose &p : poses) {
        SCOPED_TRACE(testing::Message() << (source == source_6d ? "6D " : "raw ") << p.name
                                        << (own_calibration ? ", own calibration" : ""));
        TearDown();
        SetUp();
        if (own_calibration) {
          leaning_triangle_make_dig_to_plate(ctx, 40 * deg, 20.0, 33.0, 8.0);
          const dpt left = {-3.1, 1.5, 3.0}, right = {3.1, 1.5, 3.0}, tip = {0.0, -0.5, -12.0};
          ASSERT_EQ(vr_set_point(ctx, VR_LEFT_EYE_OFFSET, left), VR_OK);
          ASSERT_EQ(vr_set_point(ctx, VR_RIGHT_EYE_OFFSET, right), VR_OK);
          ASSERT_EQ(vr_set_point(ctx, VR_MOUSE_TIP_OFFSET, tip), VR_OK);
        }
        dquat q;
        vrsim_orientation_from_angles(p.yaw, p.pitch, p.roll, q);
        const double *mid = p.use_default ? nullptr : p.eye_mid;
        const double *tip = p.use_default ? nullptr : p.tip;
        ASSERT_EQ(vrsim_set_head_plate(sim, ctx, mid, q), 1);
        ASSERT_EQ(vrsim_set_mouse_tip_plate(sim, ctx, tip, q), 1);
        track(source);
        if (HasFatalFailure()) return;

        const double tol = source == source_6d ? resolution_6d_cm : resolution_raw_cm;
        dpt want_tip, got_tip;
        if (tip)
          std::memcpy(want_tip, tip, sizeof want_tip);
        else
          vrsim_default_mouse_tip_plate(ctx, want_tip);
        ASSERT_EQ(vr_get_point(ctx, VR_MOUSE_TIP_PLATE, got_tip), VR_OK);
        EXPECT_LT(distance(got_tip, want_tip), tol);

        dpt want_left, want_right, got_left, got_right;
        vrsim_plate_eyes(ctx, mid, q, want_left, want_right);
        ASSERT_EQ(vr_get_point(ctx, VR_LEFT_EYE, got_left), VR_OK);
        ASSERT_EQ(vr_get_point(ctx, VR_RIGHT_EYE, got_right), VR_OK);
        EXPECT_LT(distance(got_left, want_left), tol);
        EXPECT_LT(distance(got_right, want_right), tol);
        std::printf("%s %s%s: eyes off by %.4f / %.4f cm, tip by %.4f cm\n",
                    source == source_6d ? "6D" : "raw", p.name,
                    own_calibration ? " (own calibration)" : "", distance(got_left, want_left),
                    distance(got_right, want_right), distance(got_tip, want_tip));

        if (p.use_default && !own_calibration) {
          // Centred in front of the default screen: each eye 1.1 cm from its centre of rotation
          // toward the window centre, straight ahead.
          EXPECT_NEAR((got_left[0] + got_right[0]) / 2, 36.5 / 2, tol);
          EXPECT_NEAR((got_left[1] + got_right[1]) / 2, 25.9 / 2, tol);
          EXPECT_NEAR(got_left[2], 60.0 - 1.1 * std::cos(std::atan(3.3 / 60.0)), tol);
          EXPECT_NEAR(distance(got_left, got_right), 6.6 * (1 - 1.1 / std::hypot(60.0, 3.3)), tol);
        }
        if (p.yaw > 0) {
          EXPECT_LT(got_right[2], got_left[2]);  // turned to the left: the right eye forward
        }
      }
    }
  }
}

// The eye model as documented: for the default head of the tracker frame the eyes sit 11.6 cm
// below the screen's lower edge, 6.44 cm apart.
TEST_F(PlatePose, EyeModelOfTheDefaultTrackerFrameHead) {
  dpt left, right;
  dmat head;
  vrsim_get_pose(sim, VRSIM_HEAD, 0.0, head);
  // The same head given in plate coordinates: its eye midpoint and its turn against the plate.
  dpt mid_offset = {0.0, 2.0, 3.5}, mid;
  dmat head_to_plate;
  vr_mat_mul_mat(head, ctx->dig_to_plate, head_to_plate);
  vr_mat_mul_dpt(mid_offset, head_to_plate, mid);
  const dquat up_50 = {std::sin(25 * deg), 0, 0, std::cos(25 * deg)};
  vrsim_plate_eyes(ctx, mid, up_50, left, right);
  dmat back;
  ASSERT_EQ(vrsim_head_pose_from_plate(ctx, mid, up_50, back), 1);
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) EXPECT_NEAR(back[r][c], head[r][c], 1e-12) << r << c;
  EXPECT_NEAR(left[1], -11.6, 0.05);
  EXPECT_NEAR(distance(left, right), 6.44, 0.005);
}

struct Sway {
  double speed_cm_per_s;
  bool broken = false;
};

void sway(void *user, double t, dpt point, dquat orientation) {
  const Sway &s = *static_cast<const Sway *>(user);
  point[0] = 18.0 + s.speed_cm_per_s * t;
  point[1] = 13.0;
  point[2] = s.broken ? NAN : 60.0;
  vrsim_orientation_from_angles(0.1 * t, 0, 0, orientation);
}

// A scripted truth is the script's plate pose at each time, converted through the context as it
// is at that moment; a point it cannot convert measures as the fixed truth it replaced.
TEST_F(PlatePose, ScriptFollowsTimeAndTheCalibration) {
  Sway s{2.0};
  ASSERT_EQ(vrsim_set_plate_fn(sim, VRSIM_HEAD, ctx, sway, &s), 1);
  for (double t : {0.0, 1.5, 4.0}) {
    dpt at;
    dquat q = {0, 0, 0, 1};
    sway(&s, t, at, q);
    dmat want, got;
    ASSERT_EQ(vrsim_head_pose_from_plate(ctx, at, q, want), 1);
    vrsim_get_pose(sim, VRSIM_HEAD, t, got);
    EXPECT_TRUE(same_matrix(got, want)) << t;
  }
  dmat before, after;
  vrsim_get_pose(sim, VRSIM_HEAD, 1.0, before);
  leaning_triangle_make_dig_to_plate(ctx, 30 * deg, 18.0, 40.0, 2.0);
  vrsim_get_pose(sim, VRSIM_HEAD, 1.0, after);
  EXPECT_FALSE(same_matrix(before, after));
  dpt at;
  dquat q = {0, 0, 0, 1};
  sway(&s, 1.0, at, q);
  dmat want;
  ASSERT_EQ(vrsim_head_pose_from_plate(ctx, at, q, want), 1);
  EXPECT_TRUE(same_matrix(after, want));

  // Tracked, the eyes follow the sway.
  vrsim_plug_standard(sim);
  ctx->glasses_source = source_6d;
  ctx->mouse_source = source_6d;
  ctx->stereo = 1;
  ASSERT_EQ(vr_init_glasses_and_mouse_6d(ctx, 1, 1), 1);
  frames(30);
  auto mid_x = [&] {
    dpt left, right;
    EXPECT_EQ(vr_get_point(ctx, VR_LEFT_EYE, left), VR_OK);
    EXPECT_EQ(vr_get_point(ctx, VR_RIGHT_EYE, right), VR_OK);
    return (left[0] + right[0]) / 2;
  };
  const double first = mid_x();
  frames(60);
  EXPECT_NEAR(mid_x() - first, 2.0, 0.05);  // 2 cm/s for one second

  // A point that cannot be converted: the fixed truth in force before the script.
  dmat fixed, got;
  vrsim_set_pose_fn(sim, VRSIM_HEAD, nullptr, nullptr);
  vrsim_get_pose(sim, VRSIM_HEAD, 0.0, fixed);
  s.broken = true;
  ASSERT_EQ(vrsim_set_plate_fn(sim, VRSIM_HEAD, ctx, sway, &s), 1);
  vrsim_get_pose(sim, VRSIM_HEAD, 2.0, got);
  EXPECT_TRUE(same_matrix(got, fixed));
  // The script reads this test's own record: the fixture's shutdown must not ask it for poses.
  vrsim_set_pose_fn(sim, VRSIM_HEAD, nullptr, nullptr);
}

// Nothing that cannot be converted changes the truth, and each refusal says so.
TEST_F(PlatePose, RefusesWhatItCannotConvert) {
  dmat start, now;
  vrsim_get_pose(sim, VRSIM_HEAD, 0.0, start);
  const dpt good = {18.0, 13.0, 60.0};
  const dpt not_finite = {18.0, NAN, 60.0};
  const dquat zero = {0, 0, 0, 0};
  const dquat inf = {INFINITY, 0, 0, 1};
  EXPECT_EQ(vrsim_set_head_plate(sim, nullptr, good, nullptr), 0);
  EXPECT_EQ(vrsim_set_head_plate(nullptr, ctx, good, nullptr), 0);
  EXPECT_EQ(vrsim_set_head_plate(sim, ctx, not_finite, nullptr), 0);
  EXPECT_EQ(vrsim_set_head_plate(sim, ctx, good, zero), 0);
  EXPECT_EQ(vrsim_set_head_plate(sim, ctx, good, inf), 0);
  EXPECT_EQ(vrsim_set_plate_fn(sim, 2, ctx, sway, nullptr), 0);
  EXPECT_EQ(vrsim_set_plate_fn(sim, VRSIM_HEAD, ctx, nullptr, nullptr), 0);
  EXPECT_EQ(vrsim_set_plate_fn(sim, VRSIM_HEAD, nullptr, sway, nullptr), 0);
  dmat flat;
  vr_mat_scale(1.0, 1.0, 0.0, flat);  // a calibration that loses depth cannot be inverted
  std::memcpy(ctx->dig_to_plate, flat, sizeof flat);
  EXPECT_EQ(vrsim_set_head_plate(sim, ctx, good, nullptr), 0);
  EXPECT_EQ(vrsim_set_mouse_tip_plate(sim, ctx, good, nullptr), 0);
  vrsim_get_pose(sim, VRSIM_HEAD, 0.0, now);
  EXPECT_TRUE(same_matrix(start, now));

  dpt left = {1, 2, 3}, right = {4, 5, 6};
  vrsim_plate_eyes(ctx, good, nullptr, left, right);
  EXPECT_EQ(left[0], 1.0);
  EXPECT_EQ(right[2], 6.0);
}

}  // namespace
