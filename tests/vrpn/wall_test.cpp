// A wall of three screens (a small CAVE) fed with one head through a stand-in VRPN door: every
// screen places the same eyes in the room, and a scene point beyond a shared edge, in line with
// the eye and that edge, projects onto the edge in both neighbouring views.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "vr.h"

namespace {

struct ScreenCtxFree {
  void operator()(vr_ctx *c) const {
    vr_quit(c);
    std::free(c);
  }
};
using ScreenCtx = std::unique_ptr<vr_ctx, ScreenCtxFree>;

// The stand-in door: one tracker that always reports the head below, on a clock of its own.
struct Door {
  double position_m[3] = {0.12, 0.58, 0.25};
  dquat orientation = {0.05, 0.3, -0.02, 0.95};
  int opened = 0;
  int closed = 0;
};
Door door_state;

void *door_open(void *user, const char *tracker, const char *button) {
  auto *d = static_cast<Door *>(user);
  ++d->opened;
  EXPECT_STREQ(tracker, "Head@wall");
  EXPECT_STREQ(button, "Head@wall");
  return d;
}
int door_poll(void *user, void *handle, const vr_vrpn_sink *sink) {
  auto *d = static_cast<Door *>(handle);
  EXPECT_EQ(user, handle);
  sink->pose(sink->user, 0, d->position_m, d->orientation, 500.0);
  return 1;
}
double door_now(void *) {
  return 500.25;
}
void door_close(void *user, void *) {
  ++static_cast<Door *>(user)->closed;
}

class Wall : public ::testing::Test {
 protected:
  void SetUp() override {
    const vr_vrpn_door door = {&door_state, door_open, door_poll, door_now, door_close};
    vr_vrpn_door_install(&door);
    ASSERT_EQ(vr_wall_cave(width_cm, height_cm, width_px, height_px, screens), VR_OK);
    for (int i = 0; i < 3; ++i) {
      ctx[i].reset(vr_ctx_create_wall_screen(&screens[i], nullptr));
      ASSERT_NE(ctx[i], nullptr);
      ASSERT_EQ(vr_set_int(ctx[i].get(), VR_GLASSES_SOURCE, VR_GLASSES_SOURCE_VRPN), VR_OK);
      ASSERT_EQ(vr_vrpn_set_devices(ctx[i].get(), "Head@wall", nullptr), VR_OK);
      ASSERT_EQ(vr_init_glasses_and_mouse_6d(ctx[i].get(), 1, 0), 1);
      vr_comp_view(ctx[i].get());
    }
  }
  void TearDown() override {
    for (auto &c : ctx) c.reset();
    vr_vrpn_door_install(nullptr);
  }

  // A plate point of screen i in room coordinates.
  void to_room(int i, const dpt p, dpt out) { vr_mat_mul_dpt(p, screens[i].plate_to_room, out); }
  // Where a room point falls in screen i's left (only) view, in pixels from the lower-left.
  void project(int i, const dpt room, double px[2]) {
    dmat view;
    vr_get_matrix(ctx[i].get(), VR_LEFT_VIEW, view);
    double clip[4];
    for (int j = 0; j < 4; ++j)
      clip[j] = room[0] * view[0][j] + room[1] * view[1][j] + room[2] * view[2][j] + view[3][j];
    px[0] = (clip[0] / clip[3] + 1.0) / 2.0 * width_px;
    px[1] = (clip[1] / clip[3] + 1.0) / 2.0 * height_px;
  }
  void eye_in_room(int i, dpt out) {
    dpt eye;
    vr_get_point(ctx[i].get(), VR_LEFT_EYE, eye);
    to_room(i, eye, out);
  }

  static constexpr double width_cm = 100.0, height_cm = 75.0;
  static constexpr int width_px = 320, height_px = 240;
  vr_wall_screen screens[3];
  ScreenCtx ctx[3];
};

TEST_F(Wall, EveryScreenHasTheSameEyesInTheRoom) {
  EXPECT_EQ(door_state.opened, 3);
  dpt first, other;
  eye_in_room(0, first);
  for (int i = 1; i < 3; ++i) {
    eye_in_room(i, other);
    // The views' eye passes through the eye cache, which rounds it to single precision.
    for (int j = 0; j < 3; ++j) EXPECT_NEAR(first[j], other[j], 1e-5) << i;
  }
  // The head itself is where the tracker put it, in room cm, so the eyes are near it.
  EXPECT_NEAR(first[1], 58.0, 10.0);
  // The door's stamps give the pose's age: a quarter of a second before the frame.
  double measured = 0;
  vr_get_double(ctx[1].get(), VR_VRPN_HEAD_POSE_TIME, &measured);
  EXPECT_NEAR(ctx[1]->pworld_time_now - measured, 0.25, 1e-9);
}

TEST_F(Wall, APointBeyondASharedEdgeProjectsOntoTheEdgeInBothViews) {
  const double h = width_cm / 2;
  // Left | centre at room x = -h, z = -h; centre | right at x = +h, z = -h.
  const struct {
    int a, b;
    double edge_x;
  } borders[] = {{0, 1, -h}, {1, 2, h}};
  for (const auto &border : borders) {
    for (double y : {10.0, 37.5, 70.0}) {
      dpt eye;
      eye_in_room(border.a, eye);
      const dpt edge = {border.edge_x, y, -h};
      dpt beyond;
      for (int j = 0; j < 3; ++j) beyond[j] = eye[j] + 2.5 * (edge[j] - eye[j]);
      double pa[2], pb[2];
      project(border.a, beyond, pa);
      project(border.b, beyond, pb);
      EXPECT_NEAR(pa[0], width_px, 1.0) << "screen " << border.a << " y " << y;
      EXPECT_NEAR(pb[0], 0.0, 1.0) << "screen " << border.b << " y " << y;
      EXPECT_NEAR(pa[1], pb[1], 1.0) << "height differs across the border, y " << y;
    }
  }
}

TEST_F(Wall, SetUpsThatCannotBeAWallAreRefused) {
  vr_wall_screen bad = screens[1];
  bad.plate_to_room[0][0] = 2.0;  // a scale is not a placement
  EXPECT_EQ(vr_ctx_create_wall_screen(&bad, nullptr), nullptr);
  bad = screens[1];
  bad.gaze_room[1] = NAN;
  EXPECT_EQ(vr_ctx_create_wall_screen(&bad, nullptr), nullptr);
  bad = screens[1];
  bad.width_px = 0;
  EXPECT_EQ(vr_ctx_create_wall_screen(&bad, nullptr), nullptr);
  EXPECT_EQ(vr_ctx_create_wall_screen(nullptr, nullptr), nullptr);
  // A mirrored placement turns the plate's normal away from the viewer.
  bad = screens[1];
  for (int j = 0; j < 3; ++j) bad.plate_to_room[2][j] = -bad.plate_to_room[2][j];
  EXPECT_EQ(vr_ctx_create_wall_screen(&bad, nullptr), nullptr);
  vr_wall_screen out[3];
  EXPECT_EQ(vr_wall_cave(0.0, 75.0, 320, 240, out), VR_ERR_BAD_VALUE);
  EXPECT_EQ(vr_wall_cave(100.0, 75.0, 320, 0, out), VR_ERR_BAD_VALUE);
  EXPECT_EQ(vr_wall_cave(100.0, 75.0, 320, 240, nullptr), VR_ERR_BAD_VALUE);
  // A door with an entry missing is refused; the stand-in stays in use.
  const vr_vrpn_door half = {nullptr, door_open, nullptr, door_now, door_close};
  vr_vrpn_door_install(&half);
  const int opened = door_state.opened;
  ASSERT_EQ(vr_vrpn_init(ctx[0].get(), 1, 0), 1);
  EXPECT_EQ(door_state.opened, opened + 1);
  const int closed = door_state.closed;
  vr_vrpn_remove(ctx[0].get());
  EXPECT_EQ(door_state.closed, closed + 1);
}

}  // namespace
