// The coexistence centre, the god's-eye frame it starts from, and shutdown.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "view_test_util.h"

using namespace view_test;

namespace {

// Where the coexistence origin sits on the plate.
std::array<double, 4> origin_on_plate(vr_ctx *ctx) {
  return transform(get_matrix(ctx, VR_COEXISTENCE_TO_PLATE), 0.0, 0.0, 0.0);
}

void expect_origin(vr_ctx *ctx, double x, double y, double z) {
  const auto o = origin_on_plate(ctx);
  EXPECT_NEAR(o[0], x, 1e-4);
  EXPECT_NEAR(o[1], y, 1e-4);
  EXPECT_NEAR(o[2], z, 1e-4);
}

bool same_matrix(const double (*a)[4], const double (*b)[4]) {
  return std::memcmp(a, b, sizeof(dmat)) == 0;
}

std::string calls;
void mouse_remove(vr_ctx *) {
  calls += "m";
}
void glasses_remove(vr_ctx *) {
  calls += "g";
}
void hook_remove(vr_ctx *) {
  calls += "h";
}
// Like the Logitech driver: one remove function for both devices that clears all four slots.
void remove_both(vr_ctx *ctx) {
  calls += "b";
  vr_object_set(ctx, VR_MOUSE_EVENT_FN, static_cast<vr_fn>(nullptr), VR_MOUSE_REMOVE_FN,
                static_cast<vr_fn>(nullptr), VR_GLASSES_EVENT_FN, static_cast<vr_fn>(nullptr),
                VR_GLASSES_REMOVE_FN, static_cast<vr_fn>(nullptr), 0);
}

}  // namespace

TEST(Coexistence, DefaultCentreIsTheWindowCentre) {
  Ctx ctx = new_ctx();
  expect_origin(ctx.get(), 18.25, 12.95, 0.0);
  const auto unit_x = transform(get_matrix(ctx.get(), VR_COEXISTENCE_TO_PLATE), 1.0, 0.0, 0.0);
  EXPECT_NEAR(unit_x[0] - 18.25, 12.95, 1e-4);
  EXPECT_NEAR(get_matrix(ctx.get(), VR_PLATE_TO_COEXISTENCE)[0][0], 1.0 / 12.95, 1e-8);
}

TEST(Coexistence, CentrePositionsMoveTheOriginWithoutAccumulating) {
  Ctx ctx = new_ctx();
  dmat plate_to_coexistence, coexistence_to_plate;
  vr_mat_copy(ctx->plate_to_coexistence, plate_to_coexistence);
  vr_mat_copy(ctx->coexistence_to_plate, coexistence_to_plate);

  vr_object_set(ctx.get(), VR_COEXISTENCE_CENTER, 2, 0);
  expect_origin(ctx.get(), 18.25, 12.95, 45.0);
  vr_object_set(ctx.get(), VR_COEXISTENCE_CENTER, 3, 0);
  expect_origin(ctx.get(), 18.25, 180.95, 45.0);
  vr_object_set(ctx.get(), VR_COEXISTENCE_CENTER, 3, VR_COEXISTENCE_CENTER, 3, 0);
  expect_origin(ctx.get(), 18.25, 180.95, 45.0);
  vr_object_set(ctx.get(), VR_COEXISTENCE_CENTER, 1, 0);
  EXPECT_TRUE(same_matrix(ctx->plate_to_coexistence, plate_to_coexistence));
  EXPECT_TRUE(same_matrix(ctx->coexistence_to_plate, coexistence_to_plate));

  vr_object_set(ctx.get(), VR_COEXISTENCE_CENTER, 2, VR_COEXISTENCE_DISTANCE, 0.0, 0);
  expect_origin(ctx.get(), 18.25, 12.95, 0.0);
  vr_object_set(ctx.get(), VR_COEXISTENCE_CENTER, 3, VR_COEXISTENCE_HEIGHT, 10.0, 0);
  expect_origin(ctx.get(), 18.25, 22.95, 0.0);

  // Codes outside 1..3 apply no offset.
  vr_object_set(ctx.get(), VR_COEXISTENCE_CENTER, 4, 0);
  EXPECT_TRUE(same_matrix(ctx->plate_to_coexistence, ctx->plate_to_gods_eye));
}

TEST(Coexistence, BaseStandsForAnotherPosition) {
  Ctx ctx = new_ctx();
  vr_object_set(ctx.get(), VR_COEXISTENCE_BASE, 2, VR_COEXISTENCE_CENTER, 2, 0);
  EXPECT_TRUE(same_matrix(ctx->plate_to_coexistence, ctx->plate_to_gods_eye));

  // With a base of 2 or 3 the application's base matrix is used as it stands.
  vr_mat_identity(get_matrix(ctx.get(), VR_PLATE_TO_GODS_EYE));
  vr_object_set(ctx.get(), VR_COEXISTENCE_CENTER, 1, 0);
  expect_origin(ctx.get(), 0.0, 0.0, -45.0);
  vr_object_set(ctx.get(), VR_COEXISTENCE_CENTER, 3, 0);
  expect_origin(ctx.get(), 0.0, 168.0, 0.0);
  vr_object_set(ctx.get(), VR_COEXISTENCE_BASE, 3, 0);
  vr_object_set(ctx.get(), VR_COEXISTENCE_CENTER, 1, 0);
  expect_origin(ctx.get(), 0.0, -168.0, -45.0);
  vr_object_set(ctx.get(), VR_COEXISTENCE_CENTER, 2, 0);
  expect_origin(ctx.get(), 0.0, -168.0, 0.0);
  EXPECT_EQ(ctx->gods_eye_scale, 12.95);  // not rebuilt
}

TEST(Coexistence, HeadMountedModeWorksOnTheTrackerFrame) {
  Ctx ctx = new_ctx();
  vr_object_set(ctx.get(), VR_TRACKING_MODE, 5, 0);
  vr_mat_trans(1.0, 2.0, 3.0, get_matrix(ctx.get(), VR_GODS_EYE_TO_DIG));
  dmat plate_to_coexistence;
  vr_mat_copy(ctx->plate_to_coexistence, plate_to_coexistence);

  vr_object_set(ctx.get(), VR_COEXISTENCE_CENTER, 2, 0);
  const auto o = transform(get_matrix(ctx.get(), VR_COEXISTENCE_TO_DIG), 0.0, 0.0, 0.0);
  EXPECT_NEAR(o[0], 1.0, 1e-5);
  EXPECT_NEAR(o[1], 2.0, 1e-5);
  EXPECT_NEAR(o[2], 48.0, 1e-5);
  EXPECT_NEAR(ctx->dig_to_coexistence[3][2], -48.0, 1e-5);
  // The god's-eye frame is rebuilt with its scale, but the scale reads 1 in this mode.
  EXPECT_EQ(ctx->gods_eye_scale, 1.0);
  EXPECT_NEAR(ctx->coexistence_to_plate[0][0], 12.95, 1e-12);
  EXPECT_TRUE(same_matrix(ctx->plate_to_coexistence, plate_to_coexistence));
}

TEST(GodsEyeFrame, CentreAndSizeModes) {
  Ctx ctx = new_ctx();
  // Centre mode 0: nothing changes.
  vr_object_set(ctx.get(), VR_GODS_EYE_CENTER_MODE, 0, VR_GODS_EYE_SIZE_MODE, 2, 0);
  dmat before;
  vr_mat_copy(ctx->coexistence_to_plate, before);
  vr_window_match_ws(ctx.get(), 100, 100, 200, 200);
  vr_construct_gods_eye_to_plate(ctx.get());
  EXPECT_TRUE(same_matrix(ctx->coexistence_to_plate, before));
  EXPECT_EQ(ctx->gods_eye_scale, 12.95);

  // Screen centre and screen size: unit scale, lifted by the z factor times the smaller side.
  vr_object_set(ctx.get(), VR_GODS_EYE_CENTER_MODE, 2, VR_GODS_EYE_Z_FACTOR, 0.5, 0);
  vr_construct_gods_eye_to_plate(ctx.get());
  EXPECT_EQ(ctx->gods_eye_scale, 1.0);
  dmat expected;
  vr_mat_scale_and_trans(18.25, 12.95, 0.5 * 25.9, 1.0, expected);
  EXPECT_TRUE(same_matrix(ctx->coexistence_to_plate, expected));

  // A 20 x 10 cm window in the window size mode: s = 10, scale 5.
  vr_object_set(ctx.get(), VR_SCREEN_WIDTH_CM, 96.0, VR_SCREEN_HEIGHT_CM, 68.0,
                VR_GODS_EYE_CENTER_MODE, 1, VR_GODS_EYE_SIZE_MODE, 1, VR_GODS_EYE_Z_FACTOR, 0.0, 0);
  vr_window_match_ws(ctx.get(), 100, 80, 200, 100);
  EXPECT_NEAR(ctx->gods_eye_scale, 5.0, 1e-12);
  expect_origin(ctx.get(), 20.0, 55.0, 0.0);

  // An unknown size mode keeps the application's scale.
  vr_object_set(ctx.get(), VR_GODS_EYE_SIZE_MODE, 9, VR_GODS_EYE_SCALE, 3.0, 0);
  vr_construct_gods_eye_to_plate(ctx.get());
  EXPECT_EQ(ctx->gods_eye_scale, 3.0);
  EXPECT_EQ(ctx->coexistence_to_plate[1][1], 3.0);
}

TEST(Quit, CallsTheRemoveSlotsInOrder) {
  Ctx ctx = new_ctx();
  calls.clear();
  vr_quit(ctx.get());  // nothing installed: nothing happens
  EXPECT_EQ(calls, "");

  vr_object_set(ctx.get(), VR_MOUSE_REMOVE_FN, &mouse_remove, VR_GLASSES_REMOVE_FN, &glasses_remove,
                VR_EYE_HOOK_REMOVE_FN, &hook_remove, 0);
  vr_quit(ctx.get());
  EXPECT_EQ(calls, "mgh");
  // The slots are left as they were.
  EXPECT_EQ(ctx->mouse_remove_fn, &mouse_remove);

  calls.clear();
  vr_object_set(ctx.get(), VR_MOUSE_REMOVE_FN, &remove_both, VR_GLASSES_REMOVE_FN, &remove_both, 0);
  vr_quit(ctx.get());
  EXPECT_EQ(calls, "bh");
}
