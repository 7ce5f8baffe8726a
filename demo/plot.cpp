#include "plot.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <numbers>

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

namespace {

// Drawing with cairo: anti-aliased lines and outline-font text on an RGB surface.
struct Canvas {
  cairo_surface_t *surface;
  cairo_t *cr;
  Canvas(int w, int h)
      : surface(cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h)), cr(cairo_create(surface)) {
    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
  }
  ~Canvas() {
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
  }
  Canvas(const Canvas &) = delete;
  Canvas &operator=(const Canvas &) = delete;

  void colour(Rgb c) { cairo_set_source_rgb(cr, c.r / 255.0, c.g / 255.0, c.b / 255.0); }
  // A crisp one-pixel rule along pixel rows or columns.
  void rule(double x0, double y0, double x1, double y1, Rgb c) {
    colour(c);
    cairo_set_line_width(cr, 1.0);
    cairo_move_to(cr, std::floor(x0) + 0.5, std::floor(y0) + 0.5);
    cairo_line_to(cr, std::floor(x1) + 0.5, std::floor(y1) + 0.5);
    cairo_stroke(cr);
  }
  double text_width(const std::string &text, double size) {
    cairo_set_font_size(cr, size);
    cairo_text_extents_t e;
    cairo_text_extents(cr, text.c_str(), &e);
    return e.x_advance;
  }
  // Text whose baseline starts at (x, y).
  void text(double x, double y, const std::string &t, double size, Rgb c) {
    colour(c);
    cairo_set_font_size(cr, size);
    cairo_move_to(cr, x, y);
    cairo_show_text(cr, t.c_str());
  }
  Image to_image() {
    cairo_surface_flush(surface);
    const int w = cairo_image_surface_get_width(surface);
    const int h = cairo_image_surface_get_height(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    const unsigned char *data = cairo_image_surface_get_data(surface);
    Image img(w, h);
    for (int y = 0; y < h; ++y) {
      const auto *row =
          reinterpret_cast<const std::uint32_t *>(data + static_cast<size_t>(y) * stride);
      for (int x = 0; x < w; ++x) {
        const std::uint32_t px = row[x];  // 0x00RRGGBB in native order
        img.set(x, y,
                Rgb{static_cast<std::uint8_t>(px >> 16), static_cast<std::uint8_t>(px >> 8),
                    static_cast<std::uint8_t>(px)});
      }
    }
    return img;
  }
};

constexpr double title_pt = 20.0;
constexpr double panel_title_pt = 15.0;
constexpr double label_pt = 12.0;

}  // namespace

Image render_plot(const PlotLayout &layout, const std::vector<PlotPanel> &panels) {
  const int n = std::max<int>(1, static_cast<int>(panels.size()));
  const int height = margin_top + n * (layout.panel_height + panel_gap) + margin_bottom;
  Canvas c(layout.width, height);
  c.colour(background);
  cairo_paint(c.cr);

  Range xr;
  for (const auto &p : panels)
    for (const auto &s : p.series)
      for (double v : s.x) xr.add(v);
  xr = xr.padded(0.0);

  const int plot_left = margin_left, plot_right = layout.width - margin_right;
  const int plot_w = plot_right - plot_left;
  auto to_px = [&](double x) { return plot_left + (x - xr.lo) / (xr.hi - xr.lo) * plot_w; };

  c.text((layout.width - c.text_width(layout.title, title_pt)) / 2, 32, layout.title, title_pt,
         text_colour);

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

    // Tick labels of the value axis, the panel's title and the axis's unit.
    double ystep = 1.0;
    const std::vector<double> yticks = nice_ticks(yr.lo, yr.hi, 5, &ystep);
    for (double v : yticks) {
      const std::string label = format_tick(v, ystep);
      c.text(plot_left - 8 - c.text_width(label, label_pt), to_py(v) + 4, label, label_pt,
             text_colour);
    }
    c.text(plot_left, top - 8, panel.title, panel_title_pt, text_colour);
    if (!panel.y_label.empty())
      c.text(plot_left - 8 - c.text_width(panel.y_label, label_pt), top - 6, panel.y_label,
             label_pt, text_colour);

    // Grid and series, clipped to the panel.
    cairo_save(c.cr);
    cairo_rectangle(c.cr, plot_left, top, plot_w, bottom - top);
    cairo_clip(c.cr);
    for (double v : yticks) c.rule(plot_left, to_py(v), plot_right, to_py(v), grid_colour);
    for (double v : xticks) c.rule(to_px(v), top, to_px(v), bottom, grid_colour);
    cairo_set_line_join(c.cr, CAIRO_LINE_JOIN_ROUND);
    cairo_set_line_cap(c.cr, CAIRO_LINE_CAP_ROUND);
    for (const auto &s : panel.series) {
      const size_t count = std::min(s.x.size(), s.y.size());
      auto usable = [&](size_t k) { return k < count && std::isfinite(s.x[k] + s.y[k]); };
      c.colour(s.colour);
      for (size_t k = 0; k < count; ++k) {
        if (!usable(k)) continue;
        const double x = to_px(s.x[k]), y = to_py(s.y[k]);
        if (k == 0 || !usable(k - 1)) {
          if (!usable(k + 1)) {
            // A point with no neighbour to join is drawn as a dot.
            cairo_arc(c.cr, x, y, (s.line_width + 2.0) / 2.0, 0, 2 * std::numbers::pi);
            cairo_fill(c.cr);
            continue;
          }
          cairo_move_to(c.cr, x, y);
        } else {
          cairo_line_to(c.cr, x, y);
        }
        if (!usable(k + 1)) {
          cairo_set_line_width(c.cr, s.line_width);
          cairo_stroke(c.cr);
        }
      }
    }
    cairo_restore(c.cr);

    // Frame and legend (top right, one entry per series).
    c.rule(plot_left, top, plot_right, top, axis_colour);
    c.rule(plot_left, bottom, plot_right, bottom, axis_colour);
    c.rule(plot_left, top, plot_left, bottom, axis_colour);
    c.rule(plot_right, top, plot_right, bottom, axis_colour);
    double lx = plot_right;
    for (auto it = panel.series.rbegin(); it != panel.series.rend(); ++it) {
      lx -= c.text_width(it->label, label_pt) + 40;
      c.colour(it->colour);
      cairo_set_line_width(c.cr, std::max(2.0, it->line_width));
      cairo_move_to(c.cr, lx, top - 11);
      cairo_line_to(c.cr, lx + 24, top - 11);
      cairo_stroke(c.cr);
      c.text(lx + 30, top - 6, it->label, label_pt, text_colour);
    }
  }

  // The shared time axis under the last panel.
  const int last_bottom = margin_top + n * (layout.panel_height + panel_gap);
  for (double v : xticks) {
    const double px = to_px(v);
    c.rule(px, last_bottom, px, last_bottom + 5, axis_colour);
    const std::string label = format_tick(v, xstep);
    c.text(px - c.text_width(label, label_pt) / 2, last_bottom + 20, label, label_pt, text_colour);
  }
  c.text(plot_left + (plot_w - c.text_width(layout.x_label, label_pt)) / 2, last_bottom + 40,
         layout.x_label, label_pt, text_colour);
  return c.to_image();
}

}  // namespace vrdemo
