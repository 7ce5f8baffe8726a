// The front-end's choice of handler work by source and mode: the raw glasses path in the
// head-mounted mode gives the head pose only, the raw mouse its debounced buttons and frames, and
// handlers without their units or context change nothing.
#include <cmath>

#include "track_fixture.h"

namespace {

using track_test::TrackTest;

class Dispatch : public TrackTest {};

TEST_F(Dispatch, RawGlassesInTheHeadMountedModeGiveTheHeadPoseOnly) {
  vrsim_plug_standard(sim);
  vrsim_set_position(sim, VRSIM_HEAD, 2.0, -8.0, 50.0);
  ctx->glasses_source = 1;
  ctx->mouse_source = 1;
  ASSERT_EQ(vr_init_glasses_and_mouse_6d(ctx, 1, 1), 1);
  ctx->tracking_mode = 5;
  dpt left_before;
  std::memcpy(left_before, ctx->screen_left_eye, sizeof(dpt));
  dmat head_before;
  std::memcpy(head_before, ctx->head_to_dig, sizeof(dmat));
  frames(30);
  EXPECT_EQ(0, std::memcmp(left_before, ctx->screen_left_eye, sizeof(dpt)));
  EXPECT_FALSE(vr_mat_equal(head_before, ctx->head_to_dig));
  EXPECT_NEAR(ctx->head_to_dig[3][2], 50.0, 0.2);

  // In the desk-top mode the same path places the eyes.
  ctx->tracking_mode = 1;
  frames(2);
  EXPECT_NE(0, std::memcmp(left_before, ctx->screen_left_eye, sizeof(dpt)));
}

TEST_F(Dispatch, RawMouseButtonsAndFrames) {
  vrsim_plug_standard(sim);
  vrsim_set_position(sim, VRSIM_MOUSE, 5.0, -20.0, 40.0);
  vrsim_set_buttons(sim, VRSIM_MOUSE, 5);
  ctx->glasses_source = 1;
  ctx->mouse_source = 1;
  ASSERT_EQ(vr_init_glasses_and_mouse_6d(ctx, 1, 1), 1);
  frames(30);
  EXPECT_EQ(ctx->mouse_buttons, 5);
  dmat to_plate;
  vr_mat_mul_mat(ctx->mouse_to_dig, ctx->dig_to_plate, to_plate);
  EXPECT_TRUE(vr_mat_equal(to_plate, ctx->mouse_to_plate));
  EXPECT_NEAR(ctx->mouse_to_dig[3][0], 5.0, 0.2);
  vrsim_set_buttons(sim, VRSIM_MOUSE, 2);
  frames(10);
  EXPECT_EQ(ctx->mouse_buttons, 2);
}

TEST_F(Dispatch, HandlersWithoutUnitsOrContextChangeNothing) {
  vr_lt_event_mouse3d(nullptr);
  vr_lt_event_glasses(nullptr);
  vr_ctx before = *ctx;
  for (int glasses : {0, 1, 2, 3, 4})
    for (int mouse : {1, 2, 3}) {
      ctx->glasses_source = glasses;
      ctx->mouse_source = mouse;
      vr_lt_event_mouse3d(ctx);
      vr_lt_event_glasses(ctx);
    }
  ctx->glasses_source = before.glasses_source;
  ctx->mouse_source = before.mouse_source;
  EXPECT_EQ(0, std::memcmp(&before, ctx, sizeof before));

  // Entries handed no unit.
  vr_lt_6d pose{};
  EXPECT_EQ(vr_lt_get_6d(nullptr, &pose), 0);
  EXPECT_EQ(vr_lt_obtain_current_event(nullptr), 0);
  EXPECT_EQ(vr_lt_obtain_current_op_info(nullptr, 0), 0);
  EXPECT_EQ(vr_lt_obtain_current_raw_cyberman(nullptr), 0);
  EXPECT_EQ(vr_ds_get_6d(nullptr, &pose), 0);
  EXPECT_EQ(vr_ds_obtain_current_event(nullptr), 0);
  EXPECT_EQ(vr_ds_obtain_current_offset(nullptr), -1);
  vr_lt_port_close(nullptr);
  vr_lt_device_struct_init("x", nullptr);
  vr_lt_init_samples(nullptr);
  vr_lt_cyberman_cvt(nullptr, &ctx->cyberman_state);
  print_vr_lt_i_event(nullptr);
  print_vr_ds_i_event(nullptr);
  EXPECT_EQ(vr_init_glasses_and_mouse_6d(nullptr, 1, 1), 0);
  vr_re_init_glasses_and_mouse_6d(nullptr, 1, 1);
  vr_remove_glasses_and_mouse_6d(nullptr);
  EXPECT_EQ(vrsim_event_count(sim), 0);

  // A unit in use before the capture area is mapped has no data.
  vr_lt_unit unit{};
  EXPECT_EQ(vr_lt_get_6d(&unit, &pose), 0);
  EXPECT_EQ(vr_lt_obtain_current_offset(&unit), -1);
}

// The registry starts a head source only by a value some source serves: any other value starts,
// restarts and stops nothing, touches no line and leaves every handler slot empty.
TEST_F(Dispatch, HeadSourceValuesNoSourceServesStartNothing) {
  vrsim_plug_standard(sim);
  ctx->tracking_mode = 1;
  for (int glasses : {0, 3, 5, 7, 239, 241, -1}) {
    ctx->glasses_source = glasses;
    ctx->mouse_source = 2;
    EXPECT_EQ(vr_init_glasses_and_mouse_6d(ctx, 1, 1), 0) << glasses;
    vr_re_init_glasses_and_mouse_6d(ctx, 1, 1);
    vr_remove_glasses_and_mouse_6d(ctx);
    EXPECT_EQ(ctx->glasses_event_fn, nullptr) << glasses;
    EXPECT_EQ(ctx->glasses_remove_fn, nullptr) << glasses;
    EXPECT_EQ(ctx->mouse_event_fn, nullptr) << glasses;
    EXPECT_EQ(ctx->mouse_remove_fn, nullptr) << glasses;
  }
  EXPECT_EQ(vrsim_event_count(sim), 0);
  EXPECT_EQ(vr_lt_glasses_unit, nullptr);
  EXPECT_EQ(vr_ds_glasses_unit, nullptr);
}

TEST(Print, ReportsInInchesAndDegrees) {
  vr_lt_event e{0, 3, 1500, -250, 12345, 3600, 40, 14399};
  testing::internal::CaptureStderr();
  print_vr_lt_i_event(&e);
  print_vr_ds_i_event(&e);
  std::string out = testing::internal::GetCapturedStderr();
  const std::string line = "\nxyz  1.500 -0.250 12.345  pyr  90.00   1.00 359.98  ";
  EXPECT_EQ(out, line + line);
}

}  // namespace
