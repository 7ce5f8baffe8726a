// What the simulator tests of the serial lines share: the millisecond in the simulator's
// nanoseconds, the line settings of a Logitech unit, and opening a unit's line at them.
#pragma once

#include <gtest/gtest.h>

#include "vr_platform.h"
#include "vrlib/vr.h"

namespace sim_lines {

inline constexpr long long ms = 1000000;
inline constexpr vr_line_settings logitech_line = {19200, 8, 0, 1, 1, 1, 0, 1, 0, 1};

// Opens a port's line at the Logitech settings.
inline int open_unit(int port) {
  int fd = vr::os::line_open(port == 0 ? "/dev/ttya" : "/dev/ttyb");
  EXPECT_GT(fd, 0);
  EXPECT_EQ(vr::os::line_set(fd, &logitech_line), 0);
  return fd;
}

}  // namespace sim_lines
