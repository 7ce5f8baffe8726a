// The typed attribute accessors: result codes with their messages, type and access checks, and
// the frames that only they can set by value.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "view_test_util.h"

using namespace view_test;
using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

namespace {

constexpr double nan_value = std::numeric_limits<double>::quiet_NaN();

// A rigid frame with a turn about every axis and a translation, its bits unlike any default.
void odd_frame(double turn, double tx, double ty, double tz, dmat out) {
  dmat a, b, c;
  vr_mat_rot_x(turn, a);
  vr_mat_rot_y(0.7 * turn, b);
  vr_mat_mul_mat(a, b, c);
  vr_mat_rot_z(1.3 * turn, a);
  vr_mat_mul_mat(c, a, out);
  out[3][0] = tx;
  out[3][1] = ty;
  out[3][2] = tz;
}

bool same_bits(const double (*a)[4], const double (*b)[4]) {
  return std::memcmp(a, b, sizeof(dmat)) == 0;
}

double max_off_identity(const double (*a)[4], const double (*b)[4]) {
  dmat x, y, p;
  std::memcpy(x, a, sizeof x);
  std::memcpy(y, b, sizeof y);
  vr_mat_mul_mat(x, y, p);
  double worst = 0.0;
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) worst = std::fmax(worst, std::fabs(p[r][c] - (r == c ? 1.0 : 0.0)));
  }
  return worst;
}

}  // namespace

TEST(TypedAccessors, EveryResultCodeComesWithItsMessage) {
  Ctx ctx = new_ctx();
  struct Case {
    const char *what;
    vr_result expected;
    std::string message;
    vr_result (*call)(vr_ctx *);
  };
  const Case cases[] = {
      {"ok", VR_OK, "", [](vr_ctx *c) { return vr_set_double(c, VR_SCREEN_WIDTH_CM, 40.0); }},
      {"unknown", VR_ERR_UNKNOWN_ID, "vr_set_double: unknown attribute 128\n",
       [](vr_ctx *c) { return vr_set_double(c, 128, 1.0); }},
      {"unknown beyond the table", VR_ERR_UNKNOWN_ID, "vr_get_int: unknown attribute 100000\n",
       [](vr_ctx *c) {
         int v = 0;
         return vr_get_int(c, 100000, &v);
       }},
      {"int for a double", VR_ERR_WRONG_TYPE,
       "vr_set_int: attribute 1 (VR_SCREEN_WIDTH_PIXELS) holds a double\n",
       [](vr_ctx *c) { return vr_set_int(c, VR_SCREEN_WIDTH_PIXELS, 1920); }},
      {"double for an int", VR_ERR_WRONG_TYPE,
       "vr_set_double: attribute 16 (VR_STEREO) holds an int\n",
       [](vr_ctx *c) { return vr_set_double(c, VR_STEREO, 1.0); }},
      {"read-only point", VR_ERR_NOT_SETTABLE,
       "vr_set_point: attribute 76 (VR_LEFT_EYE) can only be read\n",
       [](vr_ctx *c) {
         const dpt p = {1, 2, 3};
         return vr_set_point(c, VR_LEFT_EYE, p);
       }},
      {"derived matrix", VR_ERR_NOT_SETTABLE,
       "vr_set_matrix: attribute 110 (VR_LEFT_VIEW) can only be read\n",
       [](vr_ctx *c) {
         dmat m;
         vr_mat_identity(m);
         return vr_set_matrix(c, VR_LEFT_VIEW, m);
       }},
      {"non-finite", VR_ERR_BAD_VALUE,
       "vr_set_double: attribute 3 (VR_SCREEN_WIDTH_CM): value refused\n",
       [](vr_ctx *c) { return vr_set_double(c, VR_SCREEN_WIDTH_CM, nan_value); }},
      {"singular frame", VR_ERR_BAD_VALUE,
       "vr_set_matrix: attribute 25 (VR_WORLD_TO_COEXISTENCE): value refused\n",
       [](vr_ctx *c) {
         dmat m;
         vr_mat_scale(1.0, 0.0, 1.0, m);
         return vr_set_matrix(c, VR_WORLD_TO_COEXISTENCE, m);
       }},
      {"null value", VR_ERR_BAD_VALUE,
       "vr_get_matrix: attribute 21 (VR_DIG_TO_PLATE): null value\n",
       [](vr_ctx *c) { return vr_get_matrix(c, VR_DIG_TO_PLATE, nullptr); }},
      {"null context", VR_ERR_BAD_VALUE, "vr_set_int: attribute 16 (VR_STEREO): null context\n",
       [](vr_ctx *) { return vr_set_int(nullptr, VR_STEREO, 1); }},
      {"set-only slot", VR_ERR_NOT_GETTABLE,
       "vr_get_double: attribute 123 (VR_MOUSE_EVENT_FN) can only be written\n",
       [](vr_ctx *c) {
         double v = 0;
         return vr_get_double(c, VR_MOUSE_EVENT_FN, &v);
       }},
      {"callbacks only through the list", VR_ERR_WRONG_TYPE,
       "vr_set_int: attribute 127 (VR_EYE_HOOK_FN) holds a block or callback\n",
       [](vr_ctx *c) { return vr_set_int(c, VR_EYE_HOOK_FN, 0); }},
      {"blocks by pointer only", VR_ERR_WRONG_TYPE,
       "vr_get_matrix: attribute 122 (VR_PWORLD_TIME) holds a block or callback\n",
       [](vr_ctx *c) {
         dmat m;
         return vr_get_matrix(c, VR_PWORLD_TIME, m);
       }},
  };
  for (const Case &k : cases) {
    CaptureStderr();
    const vr_result r = k.call(ctx.get());
    EXPECT_EQ(r, k.expected) << k.what;
    EXPECT_EQ(GetCapturedStderr(), k.message) << k.what;
  }
}

TEST(TypedAccessors, WhenTwoCodesApplyTheEarlierCheckWins) {
  // The order vr.h gives: unknown identifier, set-only slot (getters), type, read-only
  // (setters), NULL context or value, and last the value itself. One message, the winner's.
  Ctx ctx = new_ctx();
  struct Case {
    const char *what;
    vr_result expected;
    std::string message;
    vr_result (*call)(vr_ctx *);
  };
  const Case cases[] = {
      {"unknown beats a null context", VR_ERR_UNKNOWN_ID, "vr_set_double: unknown attribute 128\n",
       [](vr_ctx *) { return vr_set_double(nullptr, 128, nan_value); }},
      {"set-only beats the type (double)", VR_ERR_NOT_GETTABLE,
       "vr_get_double: attribute 123 (VR_MOUSE_EVENT_FN) can only be written\n",
       [](vr_ctx *c) {
         double v = 0;
         return vr_get_double(c, VR_MOUSE_EVENT_FN, &v);
       }},
      {"set-only beats the type (int)", VR_ERR_NOT_GETTABLE,
       "vr_get_int: attribute 127 (VR_EYE_HOOK_FN) can only be written\n",
       [](vr_ctx *c) {
         int v = 0;
         return vr_get_int(c, VR_EYE_HOOK_FN, &v);
       }},
      {"set-only beats the type and a null value", VR_ERR_NOT_GETTABLE,
       "vr_get_matrix: attribute 123 (VR_MOUSE_EVENT_FN) can only be written\n",
       [](vr_ctx *c) { return vr_get_matrix(c, VR_MOUSE_EVENT_FN, nullptr); }},
      {"type beats read-only", VR_ERR_WRONG_TYPE,
       "vr_set_double: attribute 76 (VR_LEFT_EYE) holds a point\n",
       [](vr_ctx *c) { return vr_set_double(c, VR_LEFT_EYE, 1.0); }},
      {"type beats read-only and a null context", VR_ERR_WRONG_TYPE,
       "vr_set_int: attribute 110 (VR_LEFT_VIEW) holds a matrix\n",
       [](vr_ctx *) { return vr_set_int(nullptr, VR_LEFT_VIEW, 0); }},
      {"read-only beats a bad value", VR_ERR_NOT_SETTABLE,
       "vr_set_double: attribute 132 (VR_HEAD_POSE_AGE) can only be read\n",
       [](vr_ctx *c) { return vr_set_double(c, VR_HEAD_POSE_AGE, nan_value); }},
      {"read-only beats a null context", VR_ERR_NOT_SETTABLE,
       "vr_set_point: attribute 76 (VR_LEFT_EYE) can only be read\n",
       [](vr_ctx *) {
         const dpt p = {1, 2, 3};
         return vr_set_point(nullptr, VR_LEFT_EYE, p);
       }},
      {"a null context beats a bad value", VR_ERR_BAD_VALUE,
       "vr_set_double: attribute 3 (VR_SCREEN_WIDTH_CM): null context\n",
       [](vr_ctx *) { return vr_set_double(nullptr, VR_SCREEN_WIDTH_CM, nan_value); }},
  };
  for (const Case &k : cases) {
    CaptureStderr();
    const vr_result r = k.call(ctx.get());
    EXPECT_EQ(r, k.expected) << k.what;
    EXPECT_EQ(GetCapturedStderr(), k.message) << k.what;
  }
}

TEST(TypedAccessors, RefusedValuesLeaveTheContextAsItWas) {
  // The pitfalls of the list interface, refused here: the int 1920 for a double, 1.0 for an
  // int, a zero size; nothing is stored and the changed flag stays down.
  Ctx ctx = new_ctx();
  ctx->attributes_changed = 0;
  const vr_ctx before = *ctx;
  CaptureStderr();
  EXPECT_EQ(vr_set_int(ctx.get(), VR_SCREEN_WIDTH_PIXELS, 1920), VR_ERR_WRONG_TYPE);
  EXPECT_EQ(vr_set_double(ctx.get(), VR_STEREO, 1.0), VR_ERR_WRONG_TYPE);
  EXPECT_EQ(vr_set_double(ctx.get(), VR_SCREEN_HEIGHT_CM, 0.0), VR_ERR_BAD_VALUE);
  const dpt bad = {0.0, nan_value, 0.0};
  EXPECT_EQ(vr_set_point(ctx.get(), VR_SCREEN_LEFT_EYE, bad), VR_ERR_BAD_VALUE);
  dmat m;
  odd_frame(0.3, 1, 2, 3, m);
  EXPECT_EQ(vr_set_point(ctx.get(), VR_DIG_TO_PLATE, m[0]), VR_ERR_WRONG_TYPE);
  EXPECT_EQ(vr_set_matrix(ctx.get(), VR_STEREO, m), VR_ERR_WRONG_TYPE);
  m[2][1] = std::numeric_limits<double>::infinity();
  EXPECT_EQ(vr_set_matrix(ctx.get(), VR_DIG_TO_PLATE, m), VR_ERR_BAD_VALUE);
  dmat zero = {};
  EXPECT_EQ(vr_set_matrix(ctx.get(), VR_HEAD_TO_DIG, zero), VR_ERR_BAD_VALUE);
  GetCapturedStderr();
  EXPECT_EQ(std::memcmp(&before, ctx.get(), sizeof before), 0);

  // And the same values, of the right type, go in.
  EXPECT_EQ(vr_set_double(ctx.get(), VR_SCREEN_WIDTH_PIXELS, 1920), VR_OK);
  EXPECT_EQ(vr_set_int(ctx.get(), VR_STEREO, 1), VR_OK);
  EXPECT_EQ(ctx->screen_width_pixels, 1920.0);
  EXPECT_EQ(ctx->stereo, 1);
  EXPECT_EQ(ctx->attributes_changed, 1);
}

TEST(TypedAccessors, EachSettableFrameReadsBackBitExact) {
  const int ids[] = {VR_DIG_TO_PLATE,    VR_WORLD_TO_COEXISTENCE, VR_COEXISTENCE_TO_WORLD,
                     VR_HEAD_VIEW_BASE,  VR_CORNER_DIR_MATRIX,    VR_PLATE_TO_GODS_EYE,
                     VR_GODS_EYE_TO_DIG, VR_HEAD_TO_DIG,          VR_MOUSE_TO_DIG};
  Ctx ctx = new_ctx();
  // A god's-eye base set by value is kept only while the display does not rebuild it.
  ASSERT_EQ(vr_set_int(ctx.get(), VR_GODS_EYE_CENTER_MODE, VR_GODS_EYE_KEPT), VR_OK);
  double turn = 0.1;
  for (int id : ids) {
    dmat m, back;
    odd_frame(turn, 3.0 * turn, -7.25 / turn, 1.0 / 3.0, m);
    turn += 0.17;
    ASSERT_EQ(vr_set_matrix(ctx.get(), id, m), VR_OK) << vr_attr_name(id);
    ASSERT_EQ(vr_get_matrix(ctx.get(), id, back), VR_OK);
    EXPECT_TRUE(same_bits(m, back)) << vr_attr_name(id);
    EXPECT_TRUE(same_bits(m, get_matrix(ctx.get(), id))) << vr_attr_name(id);
  }
  // Each set kept the one before it: no frame writes another's storage.
  turn = 0.1;
  for (int id : ids) {
    dmat m;
    odd_frame(turn, 3.0 * turn, -7.25 / turn, 1.0 / 3.0, m);
    turn += 0.17;
    if (id == VR_WORLD_TO_COEXISTENCE) continue;  // replaced by the inverse of the next one
    EXPECT_TRUE(same_bits(m, get_matrix(ctx.get(), id))) << vr_attr_name(id);
  }
}

TEST(TypedAccessors, TheWorldPairStaysInverse) {
  Ctx ctx = new_ctx();
  dmat m;
  odd_frame(0.4, 10.0, -3.0, 2.5, m);
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) m[r][c] *= 0.25;  // a world of 4 cm units
  }
  ASSERT_EQ(vr_set_matrix(ctx.get(), VR_WORLD_TO_COEXISTENCE, m), VR_OK);
  EXPECT_LT(max_off_identity(ctx->world_to_coexistence, ctx->coexistence_to_world), 1e-14);
  ASSERT_EQ(vr_set_matrix(ctx.get(), VR_COEXISTENCE_TO_WORLD, m), VR_OK);
  EXPECT_TRUE(same_bits(m, ctx->coexistence_to_world));
  EXPECT_LT(max_off_identity(ctx->world_to_coexistence, ctx->coexistence_to_world), 1e-14);

  // The views take the new world: the same view as a plate-unit world, behind the new one.
  Ctx plate = new_ctx();
  dmat identity;
  vr_mat_identity(identity);
  ASSERT_EQ(vr_set_matrix(plate.get(), VR_WORLD_TO_COEXISTENCE, identity), VR_OK);
  vr_comp_view(ctx.get());
  vr_comp_view(plate.get());
  dmat expected;
  vr_mat_mul_mat(ctx->world_to_coexistence, plate->left_view, expected);
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) EXPECT_NEAR(ctx->left_view[r][c], expected[r][c], 1e-15);
  }
}

TEST(TypedAccessors, CalibrationSetByValueMatchesTheBuiltOne) {
  // The tracker placement through the typed setter is the same frame the calibration routine
  // writes through the pointer, and setting the god's-eye base re-derives the coexistence pair.
  Ctx a = new_ctx(), b = new_ctx();
  dmat placed;
  fake_make_dig_to_plate(0.6, 20.0, 35.0, 5.0, placed);
  ASSERT_EQ(vr_set_matrix(a.get(), VR_DIG_TO_PLATE, placed), VR_OK);
  leaning_triangle_make_dig_to_plate(b.get(), 0.6, 20.0, 35.0, 5.0);
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) EXPECT_NEAR(a->dig_to_plate[r][c], b->dig_to_plate[r][c], 1e-15);
  }

  ASSERT_EQ(vr_set_int(a.get(), VR_COEXISTENCE_BASE, VR_COEXISTENCE_IN_FRONT), VR_OK);
  ASSERT_EQ(vr_set_int(a.get(), VR_COEXISTENCE_CENTER, VR_COEXISTENCE_IN_FRONT), VR_OK);
  dmat base;
  vr_mat_scale_and_trans(-1.0, -2.0, -3.0, 0.5, base);
  ASSERT_EQ(vr_set_matrix(a.get(), VR_PLATE_TO_GODS_EYE, base), VR_OK);
  EXPECT_TRUE(same_bits(base, a->plate_to_gods_eye));
  EXPECT_TRUE(same_bits(base, a->plate_to_coexistence));  // base and centre are both "in front"
  EXPECT_LT(max_off_identity(a->plate_to_coexistence, a->coexistence_to_plate), 1e-6);
}

TEST(TypedAccessors, TheListInterfaceStillRefusesFrames) {
  // vr_object_set keeps its fixed behaviour: a matrix identifier takes no value.
  Ctx ctx = new_ctx();
  dmat w;
  std::memcpy(w, ctx->world_to_coexistence, sizeof w);
  CaptureStderr();
  vr_object_set(ctx.get(), VR_WORLD_TO_COEXISTENCE, VR_STEREO, 1, 0);
  EXPECT_EQ(GetCapturedStderr(), "Bad argument to vr_object_set 25\n");
  EXPECT_TRUE(same_bits(w, ctx->world_to_coexistence));
  EXPECT_EQ(ctx->stereo, 1);
}

TEST(TypedAccessors, TypesAndNamesOfTheTable) {
  EXPECT_EQ(vr_attr_type_of(VR_SCREEN_WIDTH_CM), VR_TYPE_DOUBLE);
  EXPECT_EQ(vr_attr_type_of(VR_STEREO), VR_TYPE_INT);
  EXPECT_EQ(vr_attr_type_of(VR_LEFT_EYE_OFFSET), VR_TYPE_POINT);
  EXPECT_EQ(vr_attr_type_of(VR_DIG_TO_PLATE), VR_TYPE_MATRIX);
  EXPECT_EQ(vr_attr_type_of(VR_PWORLD_TIME), VR_TYPE_OTHER);
  EXPECT_EQ(vr_attr_type_of(128), VR_TYPE_NONE);
  EXPECT_STREQ(vr_attr_name(VR_COEXISTENCE_TO_WORLD), "VR_COEXISTENCE_TO_WORLD");
  EXPECT_EQ(vr_attr_name(0), nullptr);
  EXPECT_EQ(vr_attr_name(-5), nullptr);
}
