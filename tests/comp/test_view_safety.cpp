// Values that cannot be geometry, and the views that must stay finite whatever the settings: each
// bad call either is refused where it enters or is caught at the end of the frame, and the views
// then stay those of the last good frame.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "view_test_util.h"

namespace {

using view_test::Ctx;
using view_test::new_ctx;

constexpr double nan_v = std::numeric_limits<double>::quiet_NaN();
constexpr double inf_v = std::numeric_limits<double>::infinity();

// Every matrix a frame hands out for drawing, copied.
struct Views {
  dmat m[4];
};

Views views_of(const vr_ctx *ctx) {
  Views v;
  std::memcpy(v.m[0], ctx->left_view, sizeof(dmat));
  std::memcpy(v.m[1], ctx->right_view, sizeof(dmat));
  std::memcpy(v.m[2], ctx->left_head_view, sizeof(dmat));
  std::memcpy(v.m[3], ctx->right_head_view, sizeof(dmat));
  return v;
}

bool finite(const Views &v) {
  for (const dmat &m : v.m)
    for (int i = 0; i < 16; ++i)
      if (!std::isfinite(m[i / 4][i % 4])) return false;
  return true;
}

bool same(const Views &a, const Views &b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// A stereo context with eye-relative views and CRT correction, so that every view and every
// correction term is computed.
Ctx stereo_ctx() {
  Ctx ctx = new_ctx();
  vr_object_set(ctx.get(), VR_STEREO, 1, VR_HEAD_RELATIVE_VIEWS, 1, VR_CRT_CORRECTION, 1, 0);
  return ctx;
}

std::string fault_message(const char *cause) {
  return std::string("vr_comp_view: matrices not finite (") + cause +
         "); the last good frame is kept\n";
}

struct BadValue {
  const char *what;
  std::function<void(vr_ctx *)> before;  // settings of the last good frame, if any
  std::function<void(vr_ctx *)> call;
  std::string message;  // everything the call and the next frame print
  int faults;           // frames caught at the end of vr_comp_view
};

TEST(ViewSafety, BadValuesKeepTheLastGoodViews) {
  const dpt nan_eye = {10.0, nan_v, 60.0};
  const std::vector<BadValue> rows = {
      {"minimised window", nullptr, [](vr_ctx *c) { vr_window_match_ws(c, 0, 0, 0, 0); }, "", 0},
      {"window 0 wide", nullptr, [](vr_ctx *c) { vr_object_set(c, VR_WINDOW_WIDTH, 0.0, 0); },
       "Bad value for vr_object_set 11\n", 0},
      {"screen of 0 pixels", nullptr,
       [](vr_ctx *c) { vr_object_set(c, VR_SCREEN_WIDTH_PIXELS, 0.0, 0); },
       "Bad value for vr_object_set 1\n", 0},
      {"screen of 0 cm", nullptr, [](vr_ctx *c) { vr_object_set(c, VR_SCREEN_HEIGHT_CM, 0.0, 0); },
       "Bad value for vr_object_set 4\n", 0},
      {"NaN screen size", nullptr,
       [](vr_ctx *c) { vr_object_set(c, VR_SCREEN_WIDTH_CM, nan_v, 0); },
       "Bad value for vr_object_set 3\n", 0},
      {"infinite screen size", nullptr,
       [](vr_ctx *c) { vr_object_set(c, VR_SCREEN_HEIGHT_PIXELS, inf_v, 0); },
       "Bad value for vr_object_set 2\n", 0},
      {"infinite window size", nullptr,
       [](vr_ctx *c) { vr_object_set(c, VR_WINDOW_HEIGHT, -inf_v, 0); },
       "Bad value for vr_object_set 12\n", 0},
      {"NaN interocular", nullptr, [](vr_ctx *c) { vr_object_set(c, VR_INTEROCULAR, nan_v, 0); },
       "Bad value for vr_object_set 65\n", 0},
      {"NaN eye position", nullptr,
       [&](vr_ctx *c) { vr_object_set(c, VR_SCREEN_LEFT_EYE, nan_eye, 0); },
       "Bad value for vr_object_set 68\n", 0},
      {"infinite eye coordinate", nullptr,
       [](vr_ctx *c) { vr_object_set(c, VR_SCREEN_RIGHT_EYE_Z, inf_v, 0); },
       "Bad value for vr_object_set 75\n", 0},
      {"NaN CRT glass thickness", nullptr,
       [](vr_ctx *c) { vr_object_set(c, VR_CRT_GLASS_THICKNESS, nan_v, 0); },
       "Bad value for vr_object_set 8\n", 0},
      // The refused value is taken from the list: the identifier after it is still read.
      {"refusal in the middle of a list", nullptr,
       [](vr_ctx *c) { vr_object_set(c, VR_CRT_RADIUS, inf_v, VR_WINDOW_WIDTH, 0.0, 0); },
       "Bad value for vr_object_set 10\nBad value for vr_object_set 11\n", 0},
      // These pass every setter and are caught at the end of the frame.
      {"hither equal to yon", nullptr,
       [](vr_ctx *c) {
         vr_object_set(c, VR_YON_RELATIVE, 1, VR_HITHER, -100.0, VR_YON, -100.0, 0);
       },
       fault_message("hither and yon coincide"), 1},
      {"field of view 0 in the fixed-field eye mode",
       [](vr_ctx *c) { vr_object_set(c, VR_EYE_POS_MODE, 1, 0); },
       [](vr_ctx *c) { vr_object_set(c, VR_FIELD_OF_VIEW, 0.0, 0); },
       fault_message("a field of view of 0 in the fixed-field eye mode"), 1},
  };

  for (const BadValue &row : rows) {
    SCOPED_TRACE(row.what);
    Ctx ctx = stereo_ctx();
    if (row.before) row.before(ctx.get());
    vr_comp_view(ctx.get());
    const Views good = views_of(ctx.get());
    ASSERT_TRUE(finite(good));

    testing::internal::CaptureStderr();
    row.call(ctx.get());
    vr_comp_view(ctx.get());
    vr_comp_view(ctx.get());  // a second bad frame prints nothing more
    EXPECT_EQ(testing::internal::GetCapturedStderr(), row.message);

    const Views after = views_of(ctx.get());
    EXPECT_TRUE(finite(after));
    EXPECT_TRUE(same(after, good));
    for (int i = 0; i < 3; ++i) {
      EXPECT_TRUE(std::isfinite(ctx->left_eye[i]));
      EXPECT_TRUE(std::isfinite(ctx->right_eye[i]));
    }
    int faults = -1;
    EXPECT_EQ(vr_get_int(ctx.get(), VR_VIEW_FAULTS, &faults), VR_OK);
    EXPECT_EQ(faults, 2 * row.faults);
  }
}

TEST(ViewSafety, CaughtFramesRecoverWithTheSettings) {
  Ctx ctx = stereo_ctx();
  vr_comp_view(ctx.get());
  const Views good = views_of(ctx.get());
  testing::internal::CaptureStderr();
  vr_object_set(ctx.get(), VR_YON_RELATIVE, 1, VR_HITHER, -100.0, VR_YON, -100.0, 0);
  vr_comp_view(ctx.get());
  // Set back: the next frame computes its own views again, with no further message.
  vr_object_set(ctx.get(), VR_YON_RELATIVE, 2, VR_HITHER, -5.0, 0);
  vr_comp_view(ctx.get());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), fault_message("hither and yon coincide"));
  EXPECT_TRUE(same(views_of(ctx.get()), good));
  vr_object_set(ctx.get(), VR_HITHER, -6.0, 0);
  vr_comp_view(ctx.get());
  EXPECT_FALSE(same(views_of(ctx.get()), good));
  EXPECT_TRUE(finite(views_of(ctx.get())));
}

// A glasses handler that reports whatever pose the test gives it.
dmat handler_pose;
void pose_handler(vr_ctx *ctx) {
  std::memcpy(ctx->head_to_dig, handler_pose, sizeof(dmat));
  vr_mat_mul_dpt(ctx->left_eye_offset, ctx->head_to_dig, ctx->screen_left_eye);
  vr_mat_mul_dpt(ctx->right_eye_offset, ctx->head_to_dig, ctx->screen_right_eye);
}

TEST(ViewSafety, NonFiniteTrackerPoseKeepsTheHeadAndTheViews) {
  Ctx ctx = stereo_ctx();
  vr_mat_trans(20.0, 15.0, 60.0, handler_pose);
  vr_object_set(ctx.get(), VR_GLASSES_EVENT_FN, &pose_handler, VR_HEAD_TO_WORLD_WANTED, 1, 0);
  vr_comp_view(ctx.get());
  const Views good = views_of(ctx.get());
  dmat good_head, good_world;
  std::memcpy(good_head, ctx->head_to_dig, sizeof(dmat));
  std::memcpy(good_world, ctx->head_to_world, sizeof(dmat));

  handler_pose[3][1] = nan_v;
  testing::internal::CaptureStderr();
  vr_comp_view(ctx.get());
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            fault_message("the head tracker's pose is not finite"));
  EXPECT_TRUE(same(views_of(ctx.get()), good));
  EXPECT_EQ(std::memcmp(ctx->head_to_dig, good_head, sizeof(dmat)), 0);
  EXPECT_EQ(std::memcmp(ctx->head_to_world, good_world, sizeof(dmat)), 0);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(std::isfinite(ctx->screen_left_eye[i]));

  // The next good pose is taken at once.
  handler_pose[3][1] = 18.0;
  vr_comp_view(ctx.get());
  EXPECT_EQ(ctx->head_to_dig[3][1], 18.0);
  EXPECT_FALSE(same(views_of(ctx.get()), good));
  int faults = 0;
  vr_get_int(ctx.get(), VR_VIEW_FAULTS, &faults);
  EXPECT_EQ(faults, 1);
}

TEST(ViewSafety, FirstFrameFallsBackToTheContextsOwnMatrices) {
  // No good frame yet: the views the context held before the first frame are kept.
  Ctx ctx = stereo_ctx();
  const Views before = views_of(ctx.get());
  testing::internal::CaptureStderr();
  vr_object_set(ctx.get(), VR_YON_RELATIVE, 1, VR_HITHER, -100.0, VR_YON, -100.0, 0);
  vr_comp_view(ctx.get());
  testing::internal::GetCapturedStderr();
  EXPECT_TRUE(same(views_of(ctx.get()), before));
  EXPECT_TRUE(finite(views_of(ctx.get())));
}

TEST(ViewSafety, MinimisedAndRestoredWindowGivesTheSameViews) {
  Ctx ctx = stereo_ctx();
  vr_window_match_ws(ctx.get(), 120, 80, 800, 600);
  vr_comp_view(ctx.get());
  const Views before = views_of(ctx.get());
  const double width_cm = ctx->window_width_cm;

  testing::internal::CaptureStderr();
  vr_window_match_ws(ctx.get(), 0, 0, 0, 0);
  vr_comp_view(ctx.get());
  EXPECT_TRUE(same(views_of(ctx.get()), before));
  vr_window_match_ws(ctx.get(), 5, 5, -1, 600);  // negative sizes from a window system too
  vr_comp_view(ctx.get());
  EXPECT_EQ(ctx->window_width_cm, width_cm);
  vr_window_match_ws(ctx.get(), 120, 80, 800, 600);
  vr_comp_view(ctx.get());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_TRUE(same(views_of(ctx.get()), before));
  int faults = -1;
  vr_get_int(ctx.get(), VR_VIEW_FAULTS, &faults);
  EXPECT_EQ(faults, 0);
}

TEST(ViewSafety, NegativeInterocularKeepsEachEyeOnItsSide) {
  Ctx a = new_ctx();
  Ctx b = new_ctx();
  vr_object_set(a.get(), VR_INTEROCULAR, 7.0, 0);
  vr_object_set(b.get(), VR_INTEROCULAR, -7.0, 0);
  EXPECT_EQ(b->left_eye_offset[0], -3.5);
  EXPECT_EQ(b->right_eye_offset[0], 3.5);
  EXPECT_EQ(std::memcmp(a->screen_left_eye, b->screen_left_eye, sizeof(dpt)), 0);
  EXPECT_EQ(std::memcmp(a->screen_right_eye, b->screen_right_eye, sizeof(dpt)), 0);
  EXPECT_LT(b->screen_left_eye[0], b->screen_right_eye[0]);
  EXPECT_EQ(view_test::get_double(b.get(), VR_INTEROCULAR), 7.0);
}

TEST(ViewSafety, ExtensionAttributesAreReadOnlyAndNamed) {
  Ctx ctx = new_ctx();
  const int ids[] = {VR_VIEW_FAULTS, VR_HEAD_TRACK_STATE, VR_HEAD_POSE_AGE, VR_MOUSE_TRACK_STATE,
                     VR_MOUSE_POSE_AGE};
  const char *names[] = {"VR_VIEW_FAULTS", "VR_HEAD_TRACK_STATE", "VR_HEAD_POSE_AGE",
                         "VR_MOUSE_TRACK_STATE", "VR_MOUSE_POSE_AGE"};
  const vr_attr_type types[] = {VR_TYPE_INT, VR_TYPE_INT, VR_TYPE_DOUBLE, VR_TYPE_INT,
                                VR_TYPE_DOUBLE};
  testing::internal::CaptureStderr();
  for (int i = 0; i < 5; ++i) {
    EXPECT_STREQ(vr_attr_name(ids[i]), names[i]);
    EXPECT_EQ(vr_attr_type_of(ids[i]), types[i]);
    if (types[i] == VR_TYPE_INT) {
      int v = -1;
      EXPECT_EQ(vr_get_int(ctx.get(), ids[i], &v), VR_OK);
      EXPECT_EQ(v, 0);  // no fault, VR_TRACK_NONE
      EXPECT_EQ(vr_set_int(ctx.get(), ids[i], 1), VR_ERR_NOT_SETTABLE);
    } else {
      double v = -1.0;
      EXPECT_EQ(vr_get_double(ctx.get(), ids[i], &v), VR_OK);
      EXPECT_EQ(v, 0.0);
      EXPECT_EQ(vr_set_double(ctx.get(), ids[i], 1.0), VR_ERR_NOT_SETTABLE);
    }
  }
  // The varargs interface keeps to the fixed identifiers (a refused identifier takes no value:
  // the list ends right after it).
  vr_object_set(ctx.get(), VR_VIEW_FAULTS, 0);
  int faults = -1;
  vr_get_int(ctx.get(), VR_VIEW_FAULTS, &faults);
  EXPECT_EQ(faults, 0);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("Bad argument to vr_object_set 130\n"),
            std::string::npos);
}

}  // namespace
