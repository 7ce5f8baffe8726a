// vrdemo --wall: three screens of a small CAVE, a process each, fed one head over VRPN.
#pragma once

#include "demo_options.h"

namespace vrdemo {

// The parent: serves the scripted head, starts the three screen processes (the program `self`
// with --wall-screen), prints the latency and writes the contact sheet. 0 on success.
int run_wall(const DemoOptions &opt, const char *self);
// One screen's process (--wall-screen N --wall-port P).
int run_wall_screen(const DemoOptions &opt);

}  // namespace vrdemo
