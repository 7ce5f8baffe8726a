// The library's view matrices, loaded unchanged into OpenGL, put physical points where the eye
// sees them: on the line from the eye through the point, where it meets the screen.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "render_fixture.h"
#include "vr_view_internal.h"

namespace {

using render_test::centroid;
using render_test::context_with_eyes;
using render_test::Marker;
using render_test::on_screen;
using render_test::Pixel;
using render_test::plate_to_pixel;
using render_test::Point;
using render_test::render_markers;
using render_test::RenderTest;

using render_test::height;
using render_test::screen_h_cm;
using render_test::screen_w_cm;
using render_test::width;
constexpr double marker_radius_cm = 0.25;

const vrdemo::Rgb colours[] = {{255, 0, 0},   {0, 255, 0},    {0, 0, 255},   {255, 255, 0},
                               {255, 0, 255}, {0, 255, 255},  {255, 128, 0}, {128, 0, 255},
                               {0, 128, 255}, {255, 255, 255}};

struct Eyes {
  Point left, right;
};

// Head positions: centred, off to each side, high, close, far, and a tilted, turned head whose
// eyes differ in height and distance.
const Eyes head_positions[] = {
    {{15.05, 14.0, 55.0}, {21.65, 14.0, 55.0}}, {{2.0, 12.0, 50.0}, {8.6, 12.0, 50.0}},
    {{30.0, 10.0, 45.0}, {36.6, 10.0, 45.0}},   {{15.0, 30.0, 60.0}, {21.6, 30.0, 60.0}},
    {{15.5, 13.0, 30.0}, {22.1, 13.0, 30.0}},   {{14.0, 16.0, 90.0}, {20.6, 16.0, 90.0}},
    {{12.0, 15.5, 48.0}, {18.2, 13.2, 51.0}},
};

// Points on the screen surface spread over the window, away from its edges.
std::vector<Marker> screen_markers() {
  std::vector<Marker> m;
  int k = 0;
  for (double x : {3.0, 18.25, 33.5})
    for (double y : {3.0, 12.95, 22.9}) m.push_back({{x, y, 0.0}, colours[k++]});
  return m;
}

// Points in front of and behind the screen whose lines of sight from every head position above
// meet the screen inside the window.
std::vector<Marker> space_markers() {
  return {{{18.0, 12.0, 12.0}, colours[0]}, {{10.0, 8.0, 4.0}, colours[1]},
          {{26.0, 17.0, 8.0}, colours[2]},  {{14.0, 16.0, -10.0}, colours[3]},
          {{22.0, 9.0, -25.0}, colours[4]}, {{18.25, 12.95, -60.0}, colours[5]}};
}

TEST_F(RenderTest, ScreenSurfacePointsHaveZeroParallaxForEveryHeadPosition) {
  for (const Eyes &eyes : head_positions) {
    auto ctx = context_with_eyes(eyes.left, eyes.right, 0);
    const auto markers = screen_markers();
    const auto left = render_markers(*gl_, ctx.get(), VR_LEFT_VIEW, markers, marker_radius_cm);
    const auto right = render_markers(*gl_, ctx.get(), VR_RIGHT_VIEW, markers, marker_radius_cm);
    for (const auto &m : markers) {
      SCOPED_TRACE(testing::Message()
                   << "left eye (" << eyes.left[0] << ", " << eyes.left[1] << ", " << eyes.left[2]
                   << "), point (" << m.at[0] << ", " << m.at[1] << ")");
      const Pixel l = centroid(left, m.colour), r = centroid(right, m.colour);
      ASSERT_GT(l.count, 20);
      ASSERT_GT(r.count, 20);
      // The same physical spot on the glass: no offset between the two pictures.
      EXPECT_NEAR(l.x, r.x, 0.25);
      EXPECT_NEAR(l.y, r.y, 0.25);
      // ... and it is the pixel under that spot.
      const Pixel want =
          plate_to_pixel(m.at[0], m.at[1], 0, 0, screen_w_cm, screen_h_cm, width, height);
      EXPECT_NEAR(l.x, want.x, 0.25);
      EXPECT_NEAR(l.y, want.y, 0.25);
    }
  }
}

TEST_F(RenderTest, PointsInSpaceRenderWhereTheLineOfSightMeetsTheScreen) {
  for (const Eyes &eyes : head_positions) {
    auto ctx = context_with_eyes(eyes.left, eyes.right, 0);
    const auto markers = space_markers();
    for (int view_id : {VR_LEFT_VIEW, VR_RIGHT_VIEW}) {
      const Point &eye = view_id == VR_LEFT_VIEW ? eyes.left : eyes.right;
      const auto img = render_markers(*gl_, ctx.get(), view_id, markers, marker_radius_cm);
      for (const auto &m : markers) {
        SCOPED_TRACE(testing::Message()
                     << "eye (" << eye[0] << ", " << eye[1] << ", " << eye[2] << "), point ("
                     << m.at[0] << ", " << m.at[1] << ", " << m.at[2] << ")");
        const auto s = on_screen(eye, m.at);
        const Pixel want =
            plate_to_pixel(s[0], s[1], 0, 0, screen_w_cm, screen_h_cm, width, height);
        const Pixel got = centroid(img, m.colour);
        ASSERT_GT(got.count, 5);
        EXPECT_NEAR(got.x, want.x, 1.0);
        EXPECT_NEAR(got.y, want.y, 1.0);
      }
    }
  }
}

// With the face-plate correction the window's corners are moved to where the eye sees them
// through the glass, and the picture stretches with them: each point moves by no more than the
// largest corner displacement, and lands exactly where the corrected window puts it.
TEST_F(RenderTest, FacePlateCorrectionMovesPointsByNoMoreThanItPredicts) {
  const double px_per_cm = width / screen_w_cm;
  for (int curvature : {1, 2}) {
    for (const Eyes &eyes : head_positions) {
      auto ctx = context_with_eyes(eyes.left, eyes.right, 1);
      vr_object_set(ctx.get(), VR_CRT_CURVATURE, curvature, 0);
      vr_comp_view(ctx.get());
      const auto markers = space_markers();
      for (int view_id : {VR_LEFT_VIEW, VR_RIGHT_VIEW}) {
        const Point &eye = view_id == VR_LEFT_VIEW ? eyes.left : eyes.right;
        const double e[3] = {eye[0], eye[1], eye[2]};
        double l = 0, b = 0, r = screen_w_cm, t = screen_h_cm;
        vr_correct_crt(ctx.get(), e, 0, 0, &l, &b);
        vr_correct_crt(ctx.get(), e, screen_w_cm, screen_h_cm, &r, &t);
        const double shift_cm = std::max(
            {std::fabs(l), std::fabs(b), std::fabs(r - screen_w_cm), std::fabs(t - screen_h_cm)});
        ASSERT_GT(shift_cm, 0.0);
        ASSERT_LT(shift_cm, 1.0);
        const auto img = render_markers(*gl_, ctx.get(), view_id, markers, marker_radius_cm);
        for (const auto &m : markers) {
          SCOPED_TRACE(testing::Message() << "curvature " << curvature << ", eye (" << eye[0]
                                          << ", " << eye[1] << ", " << eye[2] << "), point ("
                                          << m.at[0] << ", " << m.at[1] << ", " << m.at[2] << ")");
          const auto s = on_screen(eye, m.at);
          const Pixel plain =
              plate_to_pixel(s[0], s[1], 0, 0, screen_w_cm, screen_h_cm, width, height);
          const Pixel corrected = plate_to_pixel(s[0], s[1], l, b, r, t, width, height);
          const Pixel got = centroid(img, m.colour);
          ASSERT_GT(got.count, 5);
          EXPECT_NEAR(got.x, corrected.x, 1.0);
          EXPECT_NEAR(got.y, corrected.y, 1.0);
          EXPECT_LE(std::fabs(got.x - plain.x), shift_cm * px_per_cm + 1.0);
          EXPECT_LE(std::fabs(got.y - plain.y), shift_cm * px_per_cm + 1.0);
        }
      }
    }
  }
}

// The scene's chain from plate to world is the library's: a plate point taken to world and back
// through the library's own matrices is where it started.
TEST_F(RenderTest, SceneFrameTakesPlatePointsToTheLibrarysWorld) {
  auto ctx = context_with_eyes({15.05, 14.0, 55.0}, {21.65, 14.0, 55.0}, 0);
  // A world that is not the default: scaled, so that a unit is not a centimetre.
  dmat *w2c = nullptr, *c2w = nullptr;
  vr_object_get(ctx.get(), VR_WORLD_TO_COEXISTENCE, &w2c);
  vr_object_get(ctx.get(), VR_COEXISTENCE_TO_WORLD, &c2w);
  vr_mat_scale(0.5, 0.5, 0.5, *w2c);
  vr_mat_scale(2.0, 2.0, 2.0, *c2w);
  vr_comp_view(ctx.get());
  const vrdemo::SceneFrame frame = vrdemo::scene_frame_from_context(ctx.get());
  EXPECT_DOUBLE_EQ(frame.window_left_cm, 0.0);
  EXPECT_DOUBLE_EQ(frame.window_bottom_cm, 0.0);
  EXPECT_NEAR(frame.window_width_cm, screen_w_cm, 1e-12);
  EXPECT_NEAR(frame.window_height_cm, screen_h_cm, 1e-12);
  const dpt plate = {10.0, 5.0, -7.0};
  dpt world, coex, back;
  vrdemo::plate_to_world_point(frame, plate, world);
  dmat *p2c = nullptr, *c2p = nullptr;
  vr_object_get(ctx.get(), VR_PLATE_TO_COEXISTENCE, &p2c);
  vr_object_get(ctx.get(), VR_COEXISTENCE_TO_PLATE, &c2p);
  vr_mat_mul_dpt(world, *w2c, coex);
  vr_mat_mul_dpt(coex, *c2p, back);
  // The library inverts its frames with single-precision pivots, so the way back agrees to about
  // a ten-millionth of the coordinates, not to double precision.
  for (int c = 0; c < 3; ++c) EXPECT_NEAR(back[c], plate[c], 1e-5);

  // Drawn through that world, the marker still lands on the eye's line of sight.
  const auto img = render_markers(*gl_, ctx.get(), VR_LEFT_VIEW,
                                  {{{plate[0], plate[1], plate[2]}, colours[0]}}, marker_radius_cm);
  const auto s = on_screen({15.05, 14.0, 55.0}, {plate[0], plate[1], plate[2]});
  const Pixel want = plate_to_pixel(s[0], s[1], 0, 0, screen_w_cm, screen_h_cm, width, height);
  const Pixel got = centroid(img, colours[0]);
  ASSERT_GT(got.count, 5);
  EXPECT_NEAR(got.x, want.x, 1.0);
  EXPECT_NEAR(got.y, want.y, 1.0);
}

}  // namespace
