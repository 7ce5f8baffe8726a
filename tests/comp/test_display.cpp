// Display presets, world coordinates in plate centimetres, and each eye's view split into a
// projection and a world-to-eye matrix under the four depth conventions.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "view_test_util.h"

using namespace view_test;
using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

namespace {

constexpr vr_depth_convention all_conventions[] = {VR_DEPTH_LIBRARY, VR_DEPTH_GL, VR_DEPTH_ZERO_ONE,
                                                   VR_DEPTH_REVERSED_ZERO_ONE};

Ctx display(double w_cm, double h_cm, int w_px, int h_px, vr_display_kind kind) {
  return Ctx(vr_ctx_create_display(w_cm, h_cm, w_px, h_px, kind));
}

// Sets both screen eyes and computes a stereo frame.
void frame_with_eyes(vr_ctx *ctx, const Point &left, const Point &right) {
  const dpt l = {left[0], left[1], left[2]}, r = {right[0], right[1], right[2]};
  ASSERT_EQ(vr_set_int(ctx, VR_STEREO, 1), VR_OK);
  ASSERT_EQ(vr_set_point(ctx, VR_SCREEN_LEFT_EYE, l), VR_OK);
  ASSERT_EQ(vr_set_point(ctx, VR_SCREEN_RIGHT_EYE, r), VR_OK);
  vr_comp_view(ctx);
}

// Normalised device coordinates of a point through a row-vector matrix.
std::array<double, 3> ndc(const double (*m)[4], double x, double y, double z) {
  const auto h = transform(m, x, y, z);
  return {h[0] / h[3], h[1] / h[3], h[2] / h[3]};
}

// Column-vector matrices stored column-major (the arrays vr_eye_matrices hands out) multiplied
// as the shader does: out = a * b.
std::array<double, 16> multiply(const double a[16], const double b[16]) {
  std::array<double, 16> out{};
  for (int c = 0; c < 4; ++c) {
    for (int r = 0; r < 4; ++r) {
      double s = 0.0;
      for (int k = 0; k < 4; ++k) s += a[k * 4 + r] * b[c * 4 + k];
      out[c * 4 + r] = s;
    }
  }
  return out;
}

// The fixed view with its depth moved to a convention: Z' = a Z + b W on the clip coordinates.
std::array<double, 16> remapped(const double (*view)[4], vr_depth_convention d) {
  const double ab[4][2] = {{1, 0}, {-1, 0}, {-0.5, 0.5}, {0.5, 0.5}};
  std::array<double, 16> out{};
  std::memcpy(out.data(), view, sizeof(dmat));
  for (int row = 0; row < 4; ++row) {
    out[row * 4 + 2] = ab[d][0] * view[row][2] + ab[d][1] * view[row][3];
  }
  return out;
}

// Depth after the division by w of an eye-space point through a column-major projection.
double clip_depth(const double p[16], double x, double y, double z) {
  const double v[4] = {x, y, z, 1.0};
  double zc = 0, wc = 0;
  for (int k = 0; k < 4; ++k) {
    zc += p[k * 4 + 2] * v[k];
    wc += p[k * 4 + 3] * v[k];
  }
  return zc / wc;
}

}  // namespace

// ---- The preset -----------------------------------------------------------------------------

TEST(DisplayPreset, RefusesWhatCannotBeADisplay) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan_value = std::numeric_limits<double>::quiet_NaN();
  struct Bad {
    double w, h;
    int wp, hp, kind;
  };
  const Bad bad[] = {{0, 30, 1920, 1080, 1},         {53, -30, 1920, 1080, 1},
                     {nan_value, 30, 1920, 1080, 1}, {53, inf, 1920, 1080, 1},
                     {53, 30, 0, 1080, 1},           {53, 30, 1920, -1, 1},
                     {53, 30, 1920, 1080, 0},        {53, 30, 1920, 1080, 3}};
  for (const Bad &b : bad) {
    CaptureStderr();
    vr_ctx *ctx = vr_ctx_create_display(b.w, b.h, b.wp, b.hp, static_cast<vr_display_kind>(b.kind));
    const std::string message = GetCapturedStderr();
    EXPECT_EQ(ctx, nullptr) << b.w << " " << b.h << " " << b.wp << " " << b.hp << " " << b.kind;
    EXPECT_EQ(message.rfind("vr_ctx_create_display: bad display", 0), 0u) << message;
    std::free(ctx);
  }
}

TEST(DisplayPreset, FitsTheGivenScreen) {
  Ctx ctx = display(53.0, 30.0, 1920, 1080, VR_DISPLAY_FLAT_PANEL);
  ASSERT_NE(ctx, nullptr);
  EXPECT_EQ(ctx->screen_width_cm, 53.0);
  EXPECT_EQ(ctx->screen_height_cm, 30.0);
  EXPECT_EQ(ctx->window_width_pixels, 1920.0);
  EXPECT_EQ(ctx->window_height_pixels, 1080.0);
  EXPECT_EQ(ctx->window_width_cm, 53.0);  // the window computation has run
  EXPECT_EQ(get_point(ctx.get(), VR_WINDOW_CENTER), (Point{26.5, 15.0, 0.0}));
  EXPECT_EQ(ctx->crt_correction, 0);
  // The viewer centred, 60 cm away, eyes the offsets apart.
  EXPECT_EQ(get_point(ctx.get(), VR_LEFT_EYE), (Point{26.5, 15.0, 60.0}));
  EXPECT_EQ(get_point(ctx.get(), VR_SCREEN_LEFT_EYE), (Point{26.5 - 3.3, 15.0, 60.0}));
  EXPECT_EQ(get_point(ctx.get(), VR_SCREEN_RIGHT_EYE), (Point{26.5 + 3.3, 15.0, 60.0}));
  // The transmitter where the default context has it relative to its own screen's top edge.
  Ctx plain = new_ctx();
  EXPECT_NEAR(ctx->dig_to_plate[3][0] - 26.5, plain->dig_to_plate[3][0] - 18.25, 1e-12);
  EXPECT_NEAR(ctx->dig_to_plate[3][1] - 30.0, plain->dig_to_plate[3][1] - 25.9, 1e-12);
  EXPECT_EQ(ctx->dig_to_plate[3][2], plain->dig_to_plate[3][2]);
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) EXPECT_EQ(ctx->dig_to_plate[r][c], plain->dig_to_plate[r][c]);
  }
  // One world unit is one centimetre on the plate at full screen, as on the default display (to
  // the single-precision pivots of the fixed inversion behind coexistence_to_plate).
  dmat chain;
  vr_mat_mul_mat(ctx->world_to_coexistence, ctx->coexistence_to_plate, chain);
  EXPECT_NEAR(chain[0][0], 1.0, 1e-6);
  EXPECT_NEAR(chain[1][1], 1.0, 1e-6);
  EXPECT_NEAR(chain[3][0], 26.5, 1e-5);

  Ctx crt = display(36.5, 25.9, 960, 680, VR_DISPLAY_CRT);
  EXPECT_EQ(crt->crt_correction, 1);
  EXPECT_EQ(crt->crt_curvature, plain->crt_curvature);
}

TEST(DisplayPreset, FlatPanelHasNoParallaxOnTheScreenAndPinnedCorners) {
  Ctx ctx = display(53.0, 30.0, 1920, 1080, VR_DISPLAY_FLAT_PANEL);
  ASSERT_EQ(vr_world_in_plate_cm(ctx.get()), VR_OK);
  // Heads all over the place in front of the screen, tilted pairs included.
  for (int i = 0; i < 40; ++i) {
    const double x = -20.0 + 2.3 * i, y = -5.0 + 1.1 * i, z = 30.0 + 1.7 * i;
    frame_with_eyes(ctx.get(), {x - 3.3, y, z}, {x + 3.3, y + 0.02 * i, z - 0.1 * i});
    // Every point of the screen surface is seen at one place by both eyes.
    for (double px : {0.0, 13.0, 53.0}) {
      for (double py : {0.0, 22.5, 30.0}) {
        const auto l = ndc(ctx->left_view, px, py, 0.0), r = ndc(ctx->right_view, px, py, 0.0);
        EXPECT_NEAR(l[0], r[0], 1e-12);
        EXPECT_NEAR(l[1], r[1], 1e-12);
      }
    }
    // A point in front of the screen is not (the check can fail).
    EXPECT_GT(std::fabs(ndc(ctx->left_view, 20, 15, 10)[0] - ndc(ctx->right_view, 20, 15, 10)[0]),
              1e-3);
    // The window corners stay on the picture corners: at most 1e-9 px of drift.
    for (const double(*view)[4] : {ctx->left_view, ctx->right_view}) {
      const auto lo = ndc(view, 0, 0, 0), hi = ndc(view, 53, 30, 0);
      EXPECT_NEAR(lo[0], -1.0, 1e-12);
      EXPECT_NEAR(lo[1], -1.0, 1e-12);
      EXPECT_NEAR(hi[0], 1.0, 1e-12);
      EXPECT_NEAR(hi[1], 1.0, 1e-12);
    }
  }
}

TEST(DisplayPreset, ACrtCorrectsItsCornersAsTheHeadMoves) {
  // The same check on the CRT preset finds the face-plate correction at work.
  Ctx ctx = display(36.5, 25.9, 960, 680, VR_DISPLAY_CRT);
  frame_with_eyes(ctx.get(), {0.0, 0.0, 40.0}, {6.6, 0.0, 40.0});
  const double drift_px = (ndc(ctx->left_view, 36.5, 25.9, 0)[0] - 1.0) * 960 / 2;
  EXPECT_GT(std::fabs(drift_px), 1.0);
}

// ---- World in plate centimetres ------------------------------------------------------------

TEST(WorldInPlateCm, WorldIsThePlateWhateverTheWindowDoes) {
  Ctx ctx = display(53.0, 30.0, 1920, 1080, VR_DISPLAY_FLAT_PANEL);
  ASSERT_EQ(vr_world_in_plate_cm(ctx.get()), VR_OK);
  const int windows[][4] = {{0, 0, 1920, 1080}, {100, 200, 640, 480}, {960, 540, 960, 540}};
  for (const auto &w : windows) {
    vr_window_match_ws(ctx.get(), w[0], w[1], w[2], w[3]);
    vr_comp_view(ctx.get());
    dmat chain;
    vr_mat_mul_mat(ctx->world_to_coexistence, ctx->coexistence_to_plate, chain);
    for (int r = 0; r < 4; ++r) {
      for (int c = 0; c < 4; ++c) EXPECT_EQ(chain[r][c], r == c ? 1.0 : 0.0);
    }
    // The window's own corners, given in world = plate cm, fill the picture.
    const double cm_x = 53.0 / 1920, cm_y = 30.0 / 1080;
    const double left = w[0] * cm_x, top = 30.0 - w[1] * cm_y;
    const auto lo = ndc(ctx->left_view, left, top - w[3] * cm_y, 0);
    const auto hi = ndc(ctx->left_view, left + w[2] * cm_x, top, 0);
    EXPECT_NEAR(lo[0], -1.0, 1e-12);
    EXPECT_NEAR(lo[1], -1.0, 1e-12);
    EXPECT_NEAR(hi[0], 1.0, 1e-12);
    EXPECT_NEAR(hi[1], 1.0, 1e-12);
  }
  CaptureStderr();
  EXPECT_EQ(vr_world_in_plate_cm(nullptr), VR_ERR_BAD_VALUE);
  EXPECT_NE(GetCapturedStderr(), "");
}

TEST(WorldInPlateCm, TheDefaultWorldFollowsTheWindowInstead) {
  // What the call is for: the default world shrinks with the window.
  Ctx ctx = new_ctx();
  vr_window_match_ws(ctx.get(), 0, 0, 480, 340);
  dmat chain;
  vr_mat_mul_mat(ctx->world_to_coexistence, ctx->coexistence_to_plate, chain);
  EXPECT_NEAR(chain[0][0], 0.5, 1e-7);  // the fixed inversion pivots in single precision
  ASSERT_EQ(vr_world_in_plate_cm(ctx.get()), VR_OK);
  vr_window_match_ws(ctx.get(), 0, 0, 960, 680);
  vr_mat_mul_mat(ctx->world_to_coexistence, ctx->coexistence_to_plate, chain);
  EXPECT_EQ(chain[0][0], 1.0);
  EXPECT_EQ(chain[3][0], 0.0);
}

// ---- Projection and view --------------------------------------------------------------------

TEST(EyeMatrices, ProductIsTheFixedViewAfterTheDepthRemap) {
  // Default CRT context with a turned, scaled world; CRT correction on; stereo eyes off-centre.
  Ctx ctx = new_ctx();
  dmat world, turn;
  vr_mat_rot_y(0.4, turn);
  vr_mat_scale_and_trans(3.0, -2.0, 1.0, 0.8, world);
  vr_mat_mul_mat(turn, world, world);
  ASSERT_EQ(vr_set_matrix(ctx.get(), VR_WORLD_TO_COEXISTENCE, world), VR_OK);
  frame_with_eyes(ctx.get(), {5.0, 20.0, 45.0}, {11.6, 20.5, 44.0});
  // Attributes changed after the frame do not change what the frame built.
  ASSERT_EQ(vr_set_double(ctx.get(), VR_HITHER, -1.0), VR_OK);
  ASSERT_EQ(vr_set_int(ctx.get(), VR_STEREO, 0), VR_OK);

  for (int eye : {VR_EYE_LEFT, VR_EYE_RIGHT}) {
    const double(*fixed)[4] = eye == VR_EYE_LEFT ? ctx->left_view : ctx->right_view;
    for (vr_depth_convention d : all_conventions) {
      double p[16], v[16];
      ASSERT_EQ(vr_eye_matrices_d(ctx.get(), eye, d, p, v), VR_OK);
      const auto product = multiply(p, v);
      const auto expected = remapped(fixed, d);
      for (int i = 0; i < 16; ++i) {
        EXPECT_NEAR(product[i], expected[i], 1e-12 * std::fmax(1.0, std::fabs(expected[i])))
            << "eye " << eye << " depth " << d << " element " << i;
      }
      float pf[16], vf[16];
      ASSERT_EQ(vr_eye_matrices(ctx.get(), eye, d, pf, vf), VR_OK);
      for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(pf[i], static_cast<float>(p[i]));
        EXPECT_EQ(vf[i], static_cast<float>(v[i]));
      }
    }
  }
}

TEST(EyeMatrices, ViewPutsTheEyeAtTheOriginAndProjectionTheDepthsWhereTheyBelong) {
  Ctx ctx = display(53.0, 30.0, 1920, 1080, VR_DISPLAY_FLAT_PANEL);
  ASSERT_EQ(vr_world_in_plate_cm(ctx.get()), VR_OK);
  frame_with_eyes(ctx.get(), {20.0, 12.0, 55.0}, {26.6, 12.0, 55.0});
  // Default planes: hither 5 cm before each eye, yon 100 cm behind the screen.
  const double near_eye = 5.0, far_eye = 55.0 + 100.0;
  const double near_far[4][2] = {{1, -1}, {-1, 1}, {0, 1}, {1, 0}};
  for (vr_depth_convention d : all_conventions) {
    double p[16], v[16];
    ASSERT_EQ(vr_eye_matrices_d(ctx.get(), VR_EYE_LEFT, d, p, v), VR_OK);
    // The eye (world = plate) goes to the origin, the axes stay.
    for (int i = 0; i < 3; ++i) {
      EXPECT_NEAR(v[12 + i], -(i == 0 ? 20.0 : i == 1 ? 12.0 : 55.0), 1e-12);
      for (int j = 0; j < 3; ++j) EXPECT_EQ(v[j * 4 + i], i == j ? 1.0 : 0.0);
    }
    EXPECT_NEAR(clip_depth(p, 1.0, -2.0, -near_eye), near_far[d][0], 1e-12) << d;
    EXPECT_NEAR(clip_depth(p, 3.0, 4.0, -far_eye), near_far[d][1], 1e-12) << d;
  }
}

TEST(EyeMatrices, RefusalsSayWhy) {
  Ctx ctx = new_ctx();
  double p[16] = {}, v[16] = {};
  struct Case {
    vr_result expected;
    const char *message;
  };
  auto check = [&](vr_result r, const std::string &message) {
    CaptureStderr();
    const vr_result got = vr_eye_matrices_d(ctx.get(), VR_EYE_LEFT, VR_DEPTH_GL, p, v);
    EXPECT_EQ(got, r);
    EXPECT_EQ(GetCapturedStderr(), message);
  };
  check(VR_ERR_NO_VIEW, "vr_eye_matrices_d: no view computed yet (vr_comp_view has not run)\n");
  vr_comp_view(ctx.get());  // mono
  check(VR_OK, "");
  CaptureStderr();
  EXPECT_EQ(vr_eye_matrices_d(ctx.get(), VR_EYE_RIGHT, VR_DEPTH_GL, p, v), VR_ERR_NO_VIEW);
  EXPECT_EQ(GetCapturedStderr(),
            "vr_eye_matrices_d: the last frame had no right eye (VR_STEREO was 0)\n");
  CaptureStderr();
  float pf[16], vf[16];
  EXPECT_EQ(vr_eye_matrices(ctx.get(), 2, VR_DEPTH_GL, pf, vf), VR_ERR_BAD_VALUE);
  EXPECT_EQ(vr_eye_matrices(ctx.get(), VR_EYE_LEFT, VR_DEPTH_GL, nullptr, vf), VR_ERR_BAD_VALUE);
  EXPECT_EQ(vr_eye_matrices(nullptr, VR_EYE_LEFT, VR_DEPTH_GL, pf, vf), VR_ERR_BAD_VALUE);
  EXPECT_EQ(GetCapturedStderr(),
            "vr_eye_matrices: eye is neither VR_EYE_LEFT nor VR_EYE_RIGHT\n"
            "vr_eye_matrices: null context or matrix\n"
            "vr_eye_matrices: null context or matrix\n");
  // A stereo frame gives the right eye; the head-mounted mode has no desk-top view to split.
  ASSERT_EQ(vr_set_int(ctx.get(), VR_STEREO, 1), VR_OK);
  vr_comp_view(ctx.get());
  EXPECT_EQ(vr_eye_matrices_d(ctx.get(), VR_EYE_RIGHT, VR_DEPTH_GL, p, v), VR_OK);
  ASSERT_EQ(vr_set_int(ctx.get(), VR_TRACKING_MODE, VR_TRACKING_HEAD_MOUNTED), VR_OK);
  check(VR_ERR_NO_VIEW, "vr_eye_matrices_d: no desk-top view in the head-mounted mode\n");
}

TEST(EyeMatrices, ANonFiniteFrameKeepsTheLastGoodSplit) {
  Ctx ctx = new_ctx();
  vr_comp_view(ctx.get());
  double p0[16], v0[16], p1[16], v1[16];
  ASSERT_EQ(vr_eye_matrices_d(ctx.get(), VR_EYE_LEFT, VR_DEPTH_GL, p0, v0), VR_OK);
  // An eye on the yon plane makes the projection degenerate.
  ctx->eye_pos_mode = 0;
  ctx->left_eye[2] = ctx->right_eye[2] = -100.0;
  vr_comp_view(ctx.get());
  ASSERT_EQ(vr_eye_matrices_d(ctx.get(), VR_EYE_LEFT, VR_DEPTH_GL, p1, v1), VR_OK);
  EXPECT_EQ(std::memcmp(p0, p1, sizeof p0), 0);
  EXPECT_EQ(std::memcmp(v0, v1, sizeof v0), 0);
}

TEST(DepthReferencePlanes, AreResultsOfEachFrameInTheLibrarysDepth) {
  // The front and back "NDC" attributes are written by every frame with the depth the left view
  // gives the two reference planes; a value set by the application does not survive a frame.
  Ctx ctx = new_ctx();
  ASSERT_EQ(vr_world_in_plate_cm(ctx.get()), VR_OK);  // world points below are plate points
  ASSERT_EQ(vr_set_double(ctx.get(), VR_DEPTH_FRONT_NDC, 0.5), VR_OK);
  vr_comp_view(ctx.get());
  // Defaults: eye at z 35, front plane 100 cm behind it (z -65), back plane the yon (z -100).
  EXPECT_NEAR(ctx->depth_front_ndc, -(97.0 + 4.0 / 13.0) / 100.0, 1e-12);  // about -0.973
  EXPECT_NEAR(ctx->depth_back_ndc, -1.0, 1e-12);
  EXPECT_NEAR(ndc(ctx->left_view, 3.0, 4.0, -65.0)[2], ctx->depth_front_ndc, 1e-12);

  // Moved planes move the results; a plane nearer than the hither is held to +1.
  ASSERT_EQ(vr_set_double(ctx.get(), VR_DEPTH_FRONT, -1.0), VR_OK);
  ASSERT_EQ(vr_set_int(ctx.get(), VR_DEPTH_BACK_RELATIVE, VR_PLANE_EYE_RELATIVE), VR_OK);
  ASSERT_EQ(vr_set_double(ctx.get(), VR_DEPTH_BACK, -35.0), VR_OK);  // the screen surface
  vr_comp_view(ctx.get());
  EXPECT_EQ(ctx->depth_front_ndc, 1.0);
  EXPECT_NEAR(ctx->depth_back_ndc, ndc(ctx->left_view, 10.0, 10.0, 0.0)[2], 1e-12);

  // The same plane in another convention: the split projection gives -ndc for OpenGL.
  double p[16], v[16];
  ASSERT_EQ(vr_eye_matrices_d(ctx.get(), VR_EYE_LEFT, VR_DEPTH_GL, p, v), VR_OK);
  EXPECT_NEAR(clip_depth(p, 0.0, 0.0, -35.0), -ctx->depth_back_ndc, 1e-12);
}
