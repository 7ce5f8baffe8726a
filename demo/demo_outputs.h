// The pictures and numbers a demo run leaves behind: per-frame samples of the true and tracked
// eye positions, the stereo frames, the contact sheet, the tracking plot and the summary.
#pragma once

#include <string>
#include <vector>

#include <vrlib/vr.h>

#include "image.h"

namespace vrdemo {

// One frame of the run, all positions in plate centimetres.
struct FrameSample {
  double t = 0;               // session time at which vr_comp_view ran, seconds
  double t_shown = 0;         // when the frame reaches the screen (one frame later)
  bool head_tracked = false;  // the glasses have delivered a pose by this frame
  bool mouse_tracked = false;
  dpt true_left{}, true_right{};        // truth at t_shown
  dpt tracked_left{}, tracked_right{};  // what the library used for this frame's views
  dpt true_tip{}, tracked_tip{};        // 3D mouse hot spot (truth at t)
  double comp_view_us = 0;              // wall time of vr_comp_view
};

struct ErrorStats {
  int count = 0;
  double rms = 0;
  double worst = 0;
  double worst_t = 0;
};

double distance(const dpt a, const dpt b);
ErrorStats left_eye_error(const std::vector<FrameSample> &samples);
ErrorStats right_eye_error(const std::vector<FrameSample> &samples);
ErrorStats mouse_tip_error(const std::vector<FrameSample> &samples);

// A captioned tile of the contact sheet.
struct SheetTile {
  Image view;  // already reduced to tile size
  std::string caption;
};

// The tiles in a grid of `columns`, under a title line.
Image make_contact_sheet(const std::string &title, const std::vector<SheetTile> &tiles,
                         int columns);

// True and tracked eye x, y, z over the run and the distance between them.
Image make_tracking_plot(const std::vector<FrameSample> &samples, const std::string &mode);

// Two runs' tracking plots side by side (the first on the left), on one picture.
Image side_by_side(const Image &left, const Image &right);

}  // namespace vrdemo
