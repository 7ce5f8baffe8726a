// Shared pieces of the rendering tests: a context with fixed eyes, a headless GL context of the
// window's size, the expected pixel of a physical point, and the centroid of a drawn marker.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>

#include "gl_context.h"
#include "image.h"
#include "scene.h"
#include "vrlib/vr.h"

namespace render_test {

using Point = std::array<double, 3>;

struct CtxFree {
  void operator()(vr_ctx *ctx) const { std::free(ctx); }
};
using Ctx = std::unique_ptr<vr_ctx, CtxFree>;

// A pixel position in picture coordinates: x to the right and y down from the top left corner of
// the picture, pixel (i, j) covering [i, i + 1) x [j, j + 1).
struct Pixel {
  double x = NAN, y = NAN;
  int count = 0;  // pixels that make up the marker
};

// A context with both eyes fixed in plate coordinates (screen-relative eyes, two views) and no
// trackers; the face-plate correction as asked.
inline Ctx context_with_eyes(const Point &left, const Point &right, int crt_correction) {
  Ctx ctx(vr_ctx_create());
  double l[3] = {left[0], left[1], left[2]}, r[3] = {right[0], right[1], right[2]};
  vr_object_set(ctx.get(), VR_STEREO, 1, VR_CRT_CORRECTION, crt_correction, VR_SCREEN_LEFT_EYE, l,
                VR_SCREEN_RIGHT_EYE, r, 0);
  vr_comp_view(ctx.get());
  return ctx;
}

// Where the line from the eye through a physical point meets the screen surface (z = 0).
inline std::array<double, 2> on_screen(const Point &eye, const Point &p) {
  const double s = eye[2] / (eye[2] - p[2]);
  return {eye[0] + s * (p[0] - eye[0]), eye[1] + s * (p[1] - eye[1])};
}

// The pixel position of a plate point for a window that the image spans from (l, b) to (r, t).
inline Pixel plate_to_pixel(double x, double y, double l, double b, double r, double t, int width,
                            int height) {
  Pixel p;
  p.x = (x - l) / (r - l) * width;
  p.y = (t - y) / (t - b) * height;
  return p;
}

// The centroid of all pixels of exactly this colour.
inline Pixel centroid(const vrdemo::Image &img, vrdemo::Rgb c) {
  double sx = 0, sy = 0;
  Pixel p;
  for (int y = 0; y < img.height; ++y) {
    for (int x = 0; x < img.width; ++x) {
      const vrdemo::Rgb v = img.get(x, y);
      if (v.r == c.r && v.g == c.g && v.b == c.b) {
        sx += x + 0.5;
        sy += y + 0.5;
        ++p.count;
      }
    }
  }
  if (p.count > 0) {
    p.x = sx / p.count;
    p.y = sy / p.count;
  }
  return p;
}

// Draws flat markers (discs parallel to the screen) for one eye with that eye's view matrix and
// returns the picture.
struct Marker {
  Point at;
  vrdemo::Rgb colour;
};

inline vrdemo::Image render_markers(vrdemo::GlContext &gl, vr_ctx *ctx, int view_id,
                                    const std::vector<Marker> &markers, double radius_cm) {
  dmat *view = nullptr;
  vr_object_get(ctx, view_id, &view);
  const vrdemo::SceneFrame frame = vrdemo::scene_frame_from_context(ctx);
  gl.begin_frame();
  vrdemo::begin_eye_view(*view);
  for (const auto &m : markers) {
    const dpt c = {m.at[0], m.at[1], m.at[2]};
    vrdemo::draw_plate_disc(frame, c, radius_cm, m.colour);
  }
  return gl.read_pixels();
}

// One GL context for all tests of a suite: creating one costs more than drawing.
class RenderTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string error;
    gl_ = vrdemo::GlContext::create(960, 680, 0, &error).release();
    if (!gl_) error_ = error;
  }
  static void TearDownTestSuite() {
    delete gl_;
    gl_ = nullptr;
  }
  void SetUp() override { ASSERT_NE(gl_, nullptr) << "no headless OpenGL: " << error_; }

  static inline vrdemo::GlContext *gl_ = nullptr;
  static inline std::string error_;
};

// The window the rendering tests draw (pixels) and the screen it fills (cm), declared last so
// that the helpers above keep their own parameters of these names.
inline constexpr int width = 960, height = 680;
inline constexpr double screen_w_cm = 36.5, screen_h_cm = 25.9;

}  // namespace render_test
