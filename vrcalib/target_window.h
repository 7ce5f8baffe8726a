// The live target window of vrcalib (built when GLFW and OpenGL are there): the procedure's
// targets drawn on the screen being calibrated, wrapped around the pacer that lets time pass.
#pragma once

#include <string>
#include <vector>

#include "calibration.h"

struct GLFWwindow;

namespace vrcalib {

class TargetWindow : public Pacer {
 public:
  // Targets in plate cm on a screen of the given size; the window fills the primary monitor.
  TargetWindow(Pacer &inner, const std::vector<Target> &targets, double width_cm, double height_cm);
  ~TargetWindow() override;
  TargetWindow(const TargetWindow &) = delete;
  TargetWindow &operator=(const TargetWindow &) = delete;

  // False when no display could be opened: the steps are then only printed.
  bool open() const { return window_ != nullptr; }
  int frames() const { return frames_; }

  double now() override;
  void wait(double seconds) override;
  void asked(Ask what, const Target &target) override;

 private:
  void draw();

  Pacer &inner_;
  std::vector<Target> targets_;
  double width_cm_, height_cm_;
  GLFWwindow *window_ = nullptr;
  std::string current_;
  int frames_ = 0;
};

}  // namespace vrcalib
