// A new context reads back every default through vr_object_get.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "view_test_util.h"

using namespace view_test;

namespace {

struct DoubleDefault {
  int id;
  double value;
};
struct IntDefault {
  int id;
  int value;
};
struct PointDefault {
  int id;
  Point value;
};

constexpr DoubleDefault double_defaults[] = {{1, 960.0},
                                             {2, 680.0},
                                             {3, 36.5},
                                             {4, 25.9},
                                             {8, 1.3},
                                             {9, 1.52},
                                             {10, 117.3},
                                             {11, 960.0},
                                             {12, 680.0},
                                             {13, 0.0},
                                             {14, 0.0},
                                             {18, 2.0},
                                             {19, 4.0},
                                             {46, 0.026572187776793623},
                                             {47, 3.0},
                                             {48, 100.0},
                                             {61, 168.0},
                                             {62, 45.0},
                                             {65, 6.6},
                                             {66, -3.3},
                                             {67, 3.3},
                                             {69, 17.75},
                                             {70, 13.75},
                                             {71, 35.0},
                                             {73, 24.35},
                                             {74, 13.75},
                                             {75, 35.0},
                                             {79, 0.635},
                                             {82, 18.8},
                                             {87, 0.0},
                                             {88, -1.0},
                                             {89, -10.0},
                                             {90, 0.0},
                                             {91, 12.95},
                                             {95, std::numbers::pi / 2},
                                             {98, -5.0},
                                             {101, -100.0},
                                             {104, -100.0},
                                             {105, -1.0},
                                             {108, -100.0},
                                             {109, 1.0}};

constexpr IntDefault int_defaults[] = {
    {5, 1},  {6, 1},  {7, 2},   {16, 0},  {17, 0},  {32, 1},  {33, 1},  {34, 0}, {36, 0},
    {38, 1}, {39, 1}, {40, 1},  {41, 1},  {42, 8},  {43, 1},  {44, 0},  {45, 1}, {78, 32},
    {80, 0}, {81, 0}, {83, 0},  {84, 0},  {85, 1},  {92, 1},  {93, 1},  {94, 2}, {96, 1},
    {97, 1}, {99, 2}, {100, 1}, {102, 1}, {103, 1}, {106, 2}, {107, 1}, {119, 0}};

const PointDefault point_defaults[] = {
    {15, {18.25, 12.95, 0.0}},  {63, {-3.3, 2.0, 3.5}},     {64, {3.3, 2.0, 3.5}},
    {68, {17.75, 13.75, 35.0}}, {72, {24.35, 13.75, 35.0}}, {76, {21.05, 13.75, 35.0}},
    {77, {21.05, 13.75, 35.0}}, {86, {0.0, -1.0, -10.0}},   {115, {0.0, 0.0, 0.0}},
    {116, {0.0, 0.0, 0.0}},     {117, {0.0, 0.0, 0.0}},     {118, {0.0, 0.0, 0.0}}};

constexpr int zero_matrices[] = {20, 29, 30, 31, 35, 37, 110, 111, 112, 113, 120};

void expect_matrix(const double (*m)[4], const dmat expected, double tolerance, int id) {
  ASSERT_NE(m, nullptr) << "id " << id;
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) {
      EXPECT_NEAR(m[r][c], expected[r][c], tolerance)
          << "id " << id << " [" << r << "][" << c << "]";
    }
  }
}

}  // namespace

TEST(Defaults, ScalarsAndPoints) {
  Ctx ctx = new_ctx();
  ASSERT_NE(ctx, nullptr);
  for (const auto &d : double_defaults) {
    EXPECT_NEAR(get_double(ctx.get(), d.id), d.value, 1e-12) << "id " << d.id;
  }
  for (int id = VR_GLASSES_RX_GEOM_0; id <= VR_TX_GEOM_3; ++id) {
    EXPECT_EQ(get_double(ctx.get(), id), 0.0) << "id " << id;
  }
  for (const auto &d : int_defaults) EXPECT_EQ(get_int(ctx.get(), d.id), d.value) << "id " << d.id;
  for (const auto &d : point_defaults) {
    const Point p = get_point(ctx.get(), d.id);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(p[i], d.value[i], 1e-12) << "id " << d.id;
  }
  // Exact where the value is a plain constant.
  EXPECT_EQ(get_double(ctx.get(), VR_PREDICT_LEAD), 0.026572187776793623);
  EXPECT_EQ(get_double(ctx.get(), VR_QUANTIZE_STEP), 0.635);
  EXPECT_EQ(get_double(ctx.get(), VR_GODS_EYE_SCALE), 12.95);
}

TEST(Defaults, MatricesAndBlocks) {
  Ctx ctx = new_ctx();
  dmat zero = {};
  for (int id : zero_matrices) expect_matrix(get_matrix(ctx.get(), id), zero, 0.0, id);

  dmat identity;
  vr_mat_identity(identity);
  expect_matrix(get_matrix(ctx.get(), VR_HEAD_VIEW_BASE), identity, 0.0, VR_HEAD_VIEW_BASE);
  expect_matrix(get_matrix(ctx.get(), VR_CORNER_DIR_MATRIX), identity, 0.0, VR_CORNER_DIR_MATRIX);

  constexpr double k = 2.0 / 25.9;
  dmat scale;
  vr_mat_scale(k, k, k, scale);
  expect_matrix(get_matrix(ctx.get(), VR_WORLD_TO_COEXISTENCE), scale, 0.0,
                VR_WORLD_TO_COEXISTENCE);
  EXPECT_EQ(get_matrix(ctx.get(), VR_WORLD_TO_COEXISTENCE)[0][0], 0.07722007722007722);
  vr_mat_scale(1.0 / k, 1.0 / k, 1.0 / k, scale);
  expect_matrix(get_matrix(ctx.get(), VR_COEXISTENCE_TO_WORLD), scale, 0.0,
                VR_COEXISTENCE_TO_WORLD);

  // The transmitter leans 50 degrees, its origin above the screen's top edge.
  const double a = 50.0 * std::numbers::pi / 180.0;
  dmat dig_to_plate = {{1, 0, 0, 0},
                       {0, std::cos(a), std::sin(a), 0},
                       {0, -std::sin(a), std::cos(a), 0},
                       {18.28, 37.71, 4.6, 1}};
  expect_matrix(get_matrix(ctx.get(), VR_DIG_TO_PLATE), dig_to_plate, 1e-15, VR_DIG_TO_PLATE);

  // The coexistence frame sits on the window centre, one unit 12.95 cm; the inverses are of
  // single-precision accuracy.
  dmat coexistence_to_plate;
  vr_mat_scale_and_trans(18.25, 12.95, 0.0, 12.95, coexistence_to_plate);
  expect_matrix(get_matrix(ctx.get(), VR_COEXISTENCE_TO_PLATE), coexistence_to_plate, 1e-5,
                VR_COEXISTENCE_TO_PLATE);
  dmat plate_to_coexistence;
  const double s = 1.0 / 12.95;
  vr_mat_scale_and_trans(-18.25 * s, -12.95 * s, 0.0, s, plate_to_coexistence);
  expect_matrix(get_matrix(ctx.get(), VR_PLATE_TO_COEXISTENCE), plate_to_coexistence, 1e-6,
                VR_PLATE_TO_COEXISTENCE);
  expect_matrix(get_matrix(ctx.get(), VR_PLATE_TO_GODS_EYE), plate_to_coexistence, 1e-6,
                VR_PLATE_TO_GODS_EYE);

  double(*dirs)[3] = nullptr;
  vr_object_get(ctx.get(), VR_WINDOW_CORNER_DIRS, &dirs);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(dirs[i][0], 0.0);
    EXPECT_EQ(dirs[i][1], 0.0);
    EXPECT_EQ(dirs[i][2], -1.0);
  }

  vr_cyberman_state *cyberman = nullptr;
  vr_object_get(ctx.get(), VR_CYBERMAN_STATE, &cyberman);
  ASSERT_NE(cyberman, nullptr);
  EXPECT_EQ(cyberman->x_motion, 0.0);
  EXPECT_EQ(cyberman->buttons, 0);

  double *time = nullptr;
  vr_object_get(ctx.get(), VR_PWORLD_TIME, &time);
  ASSERT_NE(time, nullptr);
  EXPECT_EQ(time[0], 0.0);
  EXPECT_EQ(time[1], -0.3);
  EXPECT_EQ(time[2], 0.3);
  EXPECT_EQ(time[3], 0.0);
}

TEST(Defaults, SlotsFlagsAndTheFixedWorldScale) {
  Ctx ctx = new_ctx();
  EXPECT_EQ(ctx->mouse_event_fn, nullptr);
  EXPECT_EQ(ctx->mouse_remove_fn, nullptr);
  EXPECT_EQ(ctx->glasses_event_fn, nullptr);
  EXPECT_EQ(ctx->glasses_remove_fn, nullptr);
  EXPECT_EQ(ctx->eye_hook_fn, nullptr);
  EXPECT_EQ(ctx->eye_hook_remove_fn, nullptr);
  EXPECT_EQ(ctx->attributes_changed, 1);
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(ctx->glasses_rx_geom[k].set, 0);
    EXPECT_EQ(ctx->mouse_rx_geom[k].set, 0);
    EXPECT_EQ(ctx->tx_geom[k].set, 0);
  }
  // The world scale is a constant of the set-up, not derived from the screen height.
  vr_object_set(ctx.get(), VR_SCREEN_HEIGHT_CM, 30.0, 0);
  vr_window_comp(ctx.get());
  EXPECT_EQ(get_matrix(ctx.get(), VR_WORLD_TO_COEXISTENCE)[1][1], 2.0 / 25.9);
}
