// The live target window: a full-screen window on the display being calibrated that shows every
// target as a cross, the one asked for now bright with a ring around it. It redraws while the
// procedure waits for the tracker.
#include "target_window.h"

#include <GLFW/glfw3.h>

#include <cmath>
#include <numbers>

namespace vrcalib {

namespace {

constexpr double cross_half_px = 20.0;
constexpr double ring_radius_px = 30.0;
constexpr int ring_segments = 48;

}  // namespace

TargetWindow::TargetWindow(Pacer &inner, const std::vector<Target> &targets, double width_cm,
                           double height_cm)
    : inner_(inner), targets_(targets), width_cm_(width_cm), height_cm_(height_cm) {
  if (!glfwInit()) return;
  GLFWmonitor *monitor = glfwGetPrimaryMonitor();
  const GLFWvidmode *mode = monitor != nullptr ? glfwGetVideoMode(monitor) : nullptr;
  if (mode == nullptr) {
    glfwTerminate();
    return;
  }
  window_ = glfwCreateWindow(mode->width, mode->height, "vrcalib", monitor, nullptr);
  if (window_ == nullptr) {
    glfwTerminate();
    return;
  }
  glfwMakeContextCurrent(window_);
  draw();
}

TargetWindow::~TargetWindow() {
  if (window_ == nullptr) return;
  glfwDestroyWindow(window_);
  glfwTerminate();
}

double TargetWindow::now() {
  return inner_.now();
}

void TargetWindow::wait(double seconds) {
  if (window_ != nullptr) {
    draw();
    glfwPollEvents();
  }
  inner_.wait(seconds);
}

void TargetWindow::asked(Ask what, const Target &target) {
  current_ = target.name;
  inner_.asked(what, target);
}

void TargetWindow::draw() {
  int w = 0, h = 0;
  glfwGetFramebufferSize(window_, &w, &h);
  glViewport(0, 0, w, h);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  // Plate centimetres straight onto the framebuffer: the window covers the whole screen.
  glOrtho(0.0, width_cm_, 0.0, height_cm_, -1.0, 1.0);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT);
  const double cm_per_px = w > 0 ? width_cm_ / w : 0.0;
  const double arm = cross_half_px * cm_per_px, ring = ring_radius_px * cm_per_px;
  for (const Target &t : targets_) {
    const bool now_asked = t.name == current_;
    const double x = t.plate[0], y = t.plate[1];
    glColor3f(now_asked ? 1.0f : 0.3f, now_asked ? 1.0f : 0.3f, now_asked ? 0.2f : 0.3f);
    glBegin(GL_LINES);
    glVertex2d(x - arm, y);
    glVertex2d(x + arm, y);
    glVertex2d(x, y - arm);
    glVertex2d(x, y + arm);
    glEnd();
    if (!now_asked) continue;
    glBegin(GL_LINE_LOOP);
    for (int k = 0; k < ring_segments; ++k) {
      const double a = 2.0 * std::numbers::pi * k / ring_segments;
      glVertex2d(x + ring * std::cos(a), y + ring * std::sin(a));
    }
    glEnd();
  }
  glfwSwapBuffers(window_);
  ++frames_;
}

}  // namespace vrcalib
