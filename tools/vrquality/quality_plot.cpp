#include <cairo/cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "quality.h"

namespace vrquality {

namespace {

constexpr int panel_width = 620;
constexpr int panel_height = 300;
constexpr int columns = 2;
constexpr int title_height = 40;
constexpr double margin_left = 60, margin_right = 70, margin_top = 30, margin_bottom = 80;
// Logarithmic error axis, cm.
constexpr double axis_low_cm = 0.01;
constexpr double axis_high_cm = 300.0;

struct Colour {
  double r, g, b;
};
constexpr Colour palette[] = {{0.55, 0.55, 0.55}, {0.35, 0.55, 0.80}, {0.10, 0.30, 0.75},
                              {0.85, 0.60, 0.35}, {0.80, 0.35, 0.10}, {0.55, 0.80, 0.45},
                              {0.10, 0.55, 0.20}, {0.75, 0.60, 0.85}, {0.45, 0.20, 0.60},
                              {0.85, 0.15, 0.15}, {0.95, 0.40, 0.60}};

double axis_y(double v, double top, double height) {
  const double lv = std::log10(std::clamp(v, axis_low_cm, axis_high_cm));
  const double lo = std::log10(axis_low_cm), hi = std::log10(axis_high_cm);
  return top + height * (1.0 - (lv - lo) / (hi - lo));
}

void draw_panel(cairo_t *cr, double x0, double y0, const std::string &scenario,
                const std::vector<std::string> &configs, const std::vector<RunResult> &results) {
  const double left = x0 + margin_left, top = y0 + margin_top;
  const double width = panel_width - margin_left - margin_right;
  const double height = panel_height - margin_top - margin_bottom;
  cairo_set_source_rgb(cr, 0, 0, 0);
  cairo_set_font_size(cr, 13);
  cairo_move_to(cr, x0 + 10, y0 + 18);
  cairo_show_text(cr, scenario.c_str());

  // Grid and labels of the decades.
  cairo_set_font_size(cr, 10);
  for (double v = axis_low_cm; v <= axis_high_cm * 1.001; v *= 10) {
    const double y = axis_y(v, top, height);
    cairo_set_source_rgb(cr, 0.85, 0.85, 0.85);
    cairo_move_to(cr, left, y);
    cairo_line_to(cr, left + width, y);
    cairo_stroke(cr);
    char label[16];
    std::snprintf(label, sizeof label, v < 1 ? "%.2f" : "%.0f", v);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_move_to(cr, x0 + 8, y + 4);
    cairo_show_text(cr, label);
  }
  cairo_move_to(cr, x0 + 8, top - 6);
  cairo_show_text(cr, "cm");

  const double slot = width / static_cast<double>(configs.size());
  for (size_t i = 0; i < configs.size(); ++i) {
    const RunResult *r = nullptr;
    for (const RunResult &x : results)
      if (x.scenario == scenario && x.config == configs[i]) r = &x;
    const Colour c = palette[i % (sizeof palette / sizeof palette[0])];
    const double bx = left + slot * static_cast<double>(i) + slot * 0.15;
    const double bw = slot * 0.7;
    const double base = top + height;
    if (r) {
      // 95th percentile, light; RMS, full; the worst as a black mark.
      cairo_set_source_rgba(cr, c.r, c.g, c.b, 0.35);
      const double y95 = axis_y(r->p95, top, height);
      cairo_rectangle(cr, bx, y95, bw, base - y95);
      cairo_fill(cr);
      cairo_set_source_rgb(cr, c.r, c.g, c.b);
      const double yr = axis_y(r->rms, top, height);
      cairo_rectangle(cr, bx + bw * 0.2, yr, bw * 0.6, base - yr);
      cairo_fill(cr);
      cairo_set_source_rgb(cr, 0, 0, 0);
      cairo_set_line_width(cr, 2);
      const double yw = axis_y(r->worst, top, height);
      cairo_move_to(cr, bx, yw);
      cairo_line_to(cr, bx + bw, yw);
      cairo_stroke(cr);
      cairo_set_line_width(cr, 1);
      char label[16];
      std::snprintf(label, sizeof label, "%.2f", r->rms);
      cairo_move_to(cr, bx, yr - 3);
      cairo_show_text(cr, label);
    }
    // The configuration's name, turned to fit under its bar.
    cairo_save(cr);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_move_to(cr, bx + bw * 0.3, base + 8);
    cairo_rotate(cr, 0.6);
    cairo_show_text(cr, configs[i].c_str());
    cairo_restore(cr);
  }
  cairo_set_source_rgb(cr, 0, 0, 0);
  cairo_rectangle(cr, left, top, width, height);
  cairo_stroke(cr);
}

}  // namespace

bool write_plot(const std::string &path, const std::vector<std::string> &scenarios,
                const std::vector<std::string> &configs, const std::vector<RunResult> &results,
                std::string *error) {
  const int rows = static_cast<int>((scenarios.size() + columns - 1) / columns);
  const int w = panel_width * columns, h = title_height + panel_height * std::max(rows, 1);
  cairo_surface_t *surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
  cairo_t *cr = cairo_create(surface);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  cairo_set_source_rgb(cr, 0, 0, 0);
  cairo_set_font_size(cr, 15);
  cairo_move_to(cr, 10, 24);
  cairo_show_text(cr,
                  "Eye error when the frame is shown: RMS (bar), 95th percentile (light), worst "
                  "(black mark)");
  cairo_set_line_width(cr, 1);
  for (size_t i = 0; i < scenarios.size(); ++i) {
    const double x0 = panel_width * static_cast<double>(i % columns);
    const double y0 = title_height + panel_height * static_cast<double>(i / columns);
    draw_panel(cr, x0, y0, scenarios[i], configs, results);
  }
  cairo_destroy(cr);
  const cairo_status_t status = cairo_surface_write_to_png(surface, path.c_str());
  cairo_surface_destroy(surface);
  if (status != CAIRO_STATUS_SUCCESS) {
    *error = "cannot write " + path + ": " + cairo_status_to_string(status);
    return false;
  }
  return true;
}

}  // namespace vrquality
