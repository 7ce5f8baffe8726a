// vrdemo --live: a real window (GLFW) that renders the scene with the library's views every frame.
#pragma once

#include "demo_options.h"

namespace vrdemo {

// Runs until Esc, the window's close button or opt.frames frames (when given); 0 on a clean
// close, 1 when no window could be had.
int run_live(const DemoOptions &opt);

}  // namespace vrdemo
