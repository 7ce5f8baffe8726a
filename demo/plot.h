// The demo's plots: stacked panels that share one time axis, each with its own value axis, grid,
// tick labels and legend, and anti-aliased polylines, drawn with cairo (outline fonts) into an
// Image.
#pragma once

#include <string>
#include <vector>

#include "image.h"

namespace vrdemo {

struct PlotSeries {
  std::string label;
  Rgb colour;
  double line_width = 1.5;   // pixels
  std::vector<double> x, y;  // same length; non-finite points break the line
};

struct PlotPanel {
  std::string title;    // drawn at the panel's top left
  std::string y_label;  // unit of the value axis, drawn above the tick labels
  std::vector<PlotSeries> series;
};

struct PlotLayout {
  std::string title;
  std::string x_label;
  int width = 1200;
  int panel_height = 220;
};

// The panels stacked top to bottom over the common x range of all their points. Empty series
// and panels are drawn as empty frames.
Image render_plot(const PlotLayout &layout, const std::vector<PlotPanel> &panels);

// An anti-aliased line of the given width in pixels (pixel centres at +0.5).
void draw_line(Image &img, double x0, double y0, double x1, double y1, double width, Rgb c);

// Tick positions for an axis from lo to hi: multiples of 1, 2 or 5 times a power of ten, about
// `wanted` of them. The step is returned through *step.
std::vector<double> nice_ticks(double lo, double hi, int wanted, double *step);

}  // namespace vrdemo
