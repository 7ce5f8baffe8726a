#include "plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace vrdemo {

namespace {

constexpr Rgb background{255, 255, 255};
constexpr Rgb axis_colour{40, 40, 40};
constexpr Rgb grid_colour{225, 225, 228};
constexpr Rgb text_colour{20, 20, 20};
constexpr int margin_left = 90;
constexpr int margin_right = 30;
constexpr int margin_top = 50;     // the plot's title
constexpr int margin_bottom = 50;  // x tick labels and the x label
constexpr int panel_gap = 28;      // room for each panel's title

struct Range {
  double lo = std::numeric_limits<double>::infinity();
  double hi = -std::numeric_limits<double>::infinity();
  void add(double v) {
    if (!std::isfinite(v)) return;
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  bool valid() const { return lo <= hi; }
  // A range wide enough to draw, widened by `fraction` of its span on each side: a flat series
  // gets a band around its value.
  Range padded(double fraction) const {
    if (!valid()) return {0.0, 1.0};
    double l = lo, h = hi;
    if (h <= l) {
      const double half = std::max(std::fabs(l) * 0.05, 1e-3);
      l -= half;
      h += half;
    }
    const double span = h - l;
    return {l - span * fraction, h + span * fraction};
  }
};

std::string format_tick(double v, double step) {
  int decimals = 0;
  if (step < 1.0) decimals = static_cast<int>(std::ceil(-std::log10(step) - 1e-9));
  decimals = std::clamp(decimals, 0, 6);
  if (std::fabs(v) < step * 1e-6) v = 0.0;  // no "-0.0"
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  return buf;
}

}  // namespace

void draw_line(Image &img, double x0, double y0, double x1, double y1, double width, Rgb c) {
  const double half = std::max(width, 0.5) / 2.0;
  const double dx = x1 - x0, dy = y1 - y0;
  const double len2 = dx * dx + dy * dy;
  const int xa = static_cast<int>(std::floor(std::min(x0, x1) - half - 1));
  const int xb = static_cast<int>(std::ceil(std::max(x0, x1) + half + 1));
  const int ya = static_cast<int>(std::floor(std::min(y0, y1) - half - 1));
  const int yb = static_cast<int>(std::ceil(std::max(y0, y1) + half + 1));
  for (int y = std::max(ya, 0); y <= std::min(yb, img.height - 1); ++y) {
    for (int x = std::max(xa, 0); x <= std::min(xb, img.width - 1); ++x) {
      const double px = x + 0.5 - x0, py = y + 0.5 - y0;
      double t = len2 > 0 ? (px * dx + py * dy) / len2 : 0.0;
      t = std::clamp(t, 0.0, 1.0);
      const double ex = px - t * dx, ey = py - t * dy;
      const double dist = std::sqrt(ex * ex + ey * ey);
      // Coverage of a pixel by the line's body, with a one-pixel soft edge.
      const double coverage = std::clamp(half + 0.5 - dist, 0.0, 1.0);
      if (coverage > 0) img.blend(x, y, c, coverage);
    }
  }
}

std::vector<double> nice_ticks(double lo, double hi, int wanted, double *step) {
  std::vector<double> ticks;
  double span = hi - lo;
  if (!(span > 0) || wanted < 1) {
    if (step) *step = 1.0;
    return ticks;
  }
  const double raw = span / wanted;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  double s = power;
  for (double m : {1.0, 2.0, 5.0, 10.0}) {
    s = m * power;
    if (s >= raw) break;
  }
  if (step) *step = s;
  for (double v = std::ceil(lo / s - 1e-9) * s; v <= hi + s * 1e-9; v += s) ticks.push_back(v);
  return ticks;
}

Image render_plot(const PlotLayout &layout, const std::vector<PlotPanel> &panels) {
  const int n = std::max<int>(1, static_cast<int>(panels.size()));
  const int height = margin_top + n * (layout.panel_height + panel_gap) + margin_bottom;
  Image img(layout.width, height, background);

  Range xr;
  for (const auto &p : panels)
    for (const auto &s : p.series)
      for (double v : s.x) xr.add(v);
  xr = xr.padded(0.0);

  const int plot_left = margin_left, plot_right = layout.width - margin_right;
  const int plot_w = plot_right - plot_left;
  auto to_px = [&](double x) { return plot_left + (x - xr.lo) / (xr.hi - xr.lo) * plot_w; };

  draw_text(img, (layout.width - text_width(layout.title, 2)) / 2, 16, layout.title, text_colour,
            2);

  double xstep = 1.0;
  const std::vector<double> xticks = nice_ticks(xr.lo, xr.hi, 10, &xstep);

  for (int i = 0; i < static_cast<int>(panels.size()); ++i) {
    const PlotPanel &panel = panels[i];
    const int top = margin_top + i * (layout.panel_height + panel_gap) + panel_gap;
    const int bottom = top + layout.panel_height;
    Range yr;
    for (const auto &s : panel.series)
      for (size_t k = 0; k < s.y.size() && k < s.x.size(); ++k)
        if (std::isfinite(s.x[k])) yr.add(s.y[k]);
    yr = yr.padded(0.06);
    auto to_py = [&](double y) { return bottom - (y - yr.lo) / (yr.hi - yr.lo) * (bottom - top); };

    // Tick labels of the value axis.
    double ystep = 1.0;
    const std::vector<double> yticks = nice_ticks(yr.lo, yr.hi, 5, &ystep);
    for (double v : yticks) {
      const std::string label = format_tick(v, ystep);
      draw_text(img, plot_left - 8 - text_width(label), static_cast<int>(std::lround(to_py(v))) - 3,
                label, text_colour);
    }
    draw_text(img, plot_left, top - 18, panel.title, text_colour, 2);
    if (!panel.y_label.empty())
      draw_text(img, plot_left - 8 - text_width(panel.y_label), top - 14, panel.y_label,
                text_colour);

    // Grid and series, clipped to the panel by drawing into a panel-sized canvas first.
    Image canvas(plot_w, bottom - top, background);
    for (double v : yticks)
      fill_rect(canvas, 0, static_cast<int>(std::lround(to_py(v))) - top, plot_w, 1, grid_colour);
    for (double v : xticks)
      fill_rect(canvas, static_cast<int>(std::lround(to_px(v))) - plot_left, 0, 1, bottom - top,
                grid_colour);
    for (const auto &s : panel.series) {
      const size_t count = std::min(s.x.size(), s.y.size());
      auto usable = [&](size_t k) { return k < count && std::isfinite(s.x[k] + s.y[k]); };
      for (size_t k = 0; k < count; ++k) {
        if (!usable(k)) continue;
        const double x = to_px(s.x[k]) - plot_left, y = to_py(s.y[k]) - top;
        if (usable(k + 1)) {
          draw_line(canvas, x, y, to_px(s.x[k + 1]) - plot_left, to_py(s.y[k + 1]) - top,
                    s.line_width, s.colour);
        } else if (k == 0 || !usable(k - 1)) {
          // A point with no neighbour to join is drawn as a dot.
          draw_line(canvas, x, y, x, y, s.line_width + 2.0, s.colour);
        }
      }
    }
    blit(img, canvas, plot_left, top);

    // Frame and legend (top right, one entry per series).
    fill_rect(img, plot_left, top, plot_w, 1, axis_colour);
    fill_rect(img, plot_left, bottom, plot_w + 1, 1, axis_colour);
    fill_rect(img, plot_left, top, 1, bottom - top, axis_colour);
    fill_rect(img, plot_right, top, 1, bottom - top, axis_colour);
    int lx = plot_right;
    for (auto it = panel.series.rbegin(); it != panel.series.rend(); ++it) {
      lx -= text_width(it->label) + 40;
      fill_rect(img, lx, top - 12, 24, std::max(2, static_cast<int>(it->line_width + 0.5)),
                it->colour);
      draw_text(img, lx + 30, top - 15, it->label, text_colour);
    }
  }

  // The shared time axis under the last panel.
  const int last_bottom = margin_top + n * (layout.panel_height + panel_gap);
  for (double v : xticks) {
    const int px = static_cast<int>(std::lround(to_px(v)));
    fill_rect(img, px, last_bottom, 1, 5, axis_colour);
    const std::string label = format_tick(v, xstep);
    draw_text(img, px - text_width(label) / 2, last_bottom + 9, label, text_colour);
  }
  draw_text(img, plot_left + (plot_w - text_width(layout.x_label)) / 2, last_bottom + 28,
            layout.x_label, text_colour);
  return img;
}

}  // namespace vrdemo
