// A headless OpenGL context: EGL on Mesa's surfaceless platform (no window system, no GPU
// needed), the desktop GL API in its compatibility profile, and an offscreen framebuffer of
// the drawing window's size in pixels, optionally multisampled.
#pragma once

#include <memory>
#include <string>

#include "image.h"

namespace vrdemo {

class GlContext {
 public:
  // Null, with the reason in *error, when no display, configuration or context can be had.
  // samples = 0 renders without multisampling (exact pixel coverage, as the tests want).
  static std::unique_ptr<GlContext> create(int width, int height, int samples, std::string *error);
  ~GlContext();
  GlContext(const GlContext &) = delete;
  GlContext &operator=(const GlContext &) = delete;

  int width() const { return width_; }
  int height() const { return height_; }
  // "llvmpipe (LLVM ...)" and the like, for the run's summary.
  const std::string &renderer() const { return renderer_; }

  // Makes the offscreen framebuffer the drawing target with a viewport that covers it.
  void begin_frame();
  // Waits for the drawing to finish and returns the picture, top row first.
  Image read_pixels();

 private:
  struct Handles;
  explicit GlContext(std::unique_ptr<Handles> handles, int width, int height);
  std::unique_ptr<Handles> handles_;
  int width_;
  int height_;
  std::string renderer_;
};

}  // namespace vrdemo
