#include "demo_outputs.h"

#include <algorithm>
#include <cmath>

#include "plot.h"

namespace vrdemo {

namespace {

constexpr Rgb sheet_background{24, 26, 30};
constexpr Rgb sheet_text{235, 235, 235};
constexpr int sheet_gap = 8;
constexpr int caption_height = 26;
constexpr int title_height = 40;
constexpr double title_px = 20.0;    // the sheet's title line
constexpr double caption_px = 13.0;  // each tile's caption

// Light, thick lines for the truth; dark, thin ones for what the library tracked on top.
constexpr Rgb left_true{150, 190, 255};
constexpr Rgb left_tracked{20, 60, 170};
constexpr Rgb right_true{255, 180, 140};
constexpr Rgb right_tracked{180, 50, 20};

template <typename Get>
ErrorStats error_stats(const std::vector<FrameSample> &samples, bool need_mouse, Get get) {
  ErrorStats s;
  double sum2 = 0;
  for (const auto &f : samples) {
    if (!f.head_tracked || (need_mouse && !f.mouse_tracked)) continue;
    const double e = get(f);
    sum2 += e * e;
    ++s.count;
    if (e > s.worst) {
      s.worst = e;
      s.worst_t = f.t;
    }
  }
  if (s.count > 0) s.rms = std::sqrt(sum2 / s.count);
  return s;
}

}  // namespace

double distance(const dpt a, const dpt b) {
  return std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) +
                   (a[2] - b[2]) * (a[2] - b[2]));
}

ErrorStats left_eye_error(const std::vector<FrameSample> &samples) {
  return error_stats(samples, false,
                     [](const FrameSample &f) { return distance(f.true_left, f.tracked_left); });
}

ErrorStats right_eye_error(const std::vector<FrameSample> &samples) {
  return error_stats(samples, false,
                     [](const FrameSample &f) { return distance(f.true_right, f.tracked_right); });
}

ErrorStats mouse_tip_error(const std::vector<FrameSample> &samples) {
  return error_stats(samples, true,
                     [](const FrameSample &f) { return distance(f.true_tip, f.tracked_tip); });
}

Image make_contact_sheet(const std::string &title, const std::vector<SheetTile> &tiles,
                         int columns) {
  if (tiles.empty() || columns < 1) return {};
  int tile_w = 0, tile_h = 0;
  for (const auto &t : tiles) {
    tile_w = std::max(tile_w, t.view.width);
    tile_h = std::max(tile_h, t.view.height);
  }
  columns = std::min<int>(columns, static_cast<int>(tiles.size()));
  const int rows = (static_cast<int>(tiles.size()) + columns - 1) / columns;
  const int w = sheet_gap + columns * (tile_w + sheet_gap);
  const int h = title_height + rows * (tile_h + caption_height + sheet_gap);
  Image sheet(w, h, sheet_background);
  draw_text(sheet, sheet_gap, 10, title, sheet_text, title_px);
  for (size_t i = 0; i < tiles.size(); ++i) {
    const int col = static_cast<int>(i) % columns, row = static_cast<int>(i) / columns;
    const int x = sheet_gap + col * (tile_w + sheet_gap);
    const int y = title_height + row * (tile_h + caption_height + sheet_gap);
    blit(sheet, tiles[i].view, x, y);
    draw_text(sheet, x + 2, y + tile_h + 6, tiles[i].caption, sheet_text, caption_px);
  }
  return sheet;
}

Image make_tracking_plot(const std::vector<FrameSample> &samples, const std::string &mode) {
  PlotLayout layout;
  layout.title = "Eye positions: truth when the frame is shown vs. tracked (" + mode + ")";
  layout.x_label = "session time, s";
  const char *axis_names[3] = {"x (right)", "y (up)", "z (toward the viewer)"};
  std::vector<PlotPanel> panels;
  for (int axis = 0; axis < 3; ++axis) {
    PlotPanel p;
    p.title = std::string("Eye ") + axis_names[axis];
    p.y_label = "cm";
    PlotSeries lt{"left true", left_true, 4.0, {}, {}};
    PlotSeries lk{"left tracked", left_tracked, 1.5, {}, {}};
    PlotSeries rt{"right true", right_true, 4.0, {}, {}};
    PlotSeries rk{"right tracked", right_tracked, 1.5, {}, {}};
    for (const auto &f : samples) {
      if (!f.head_tracked) continue;
      lt.x.push_back(f.t), lt.y.push_back(f.true_left[axis]);
      lk.x.push_back(f.t), lk.y.push_back(f.tracked_left[axis]);
      rt.x.push_back(f.t), rt.y.push_back(f.true_right[axis]);
      rk.x.push_back(f.t), rk.y.push_back(f.tracked_right[axis]);
    }
    p.series = {lt, rt, lk, rk};
    panels.push_back(std::move(p));
  }
  PlotPanel err;
  err.title = "Tracking error |tracked - true|";
  err.y_label = "cm";
  PlotSeries le{"left eye", left_tracked, 1.5, {}, {}};
  PlotSeries re{"right eye", right_tracked, 1.5, {}, {}};
  for (const auto &f : samples) {
    if (!f.head_tracked) continue;
    le.x.push_back(f.t), le.y.push_back(distance(f.true_left, f.tracked_left));
    re.x.push_back(f.t), re.y.push_back(distance(f.true_right, f.tracked_right));
  }
  err.series = {le, re};
  panels.push_back(std::move(err));
  return render_plot(layout, panels);
}

Image side_by_side(const Image &left, const Image &right) {
  Image out(left.width + right.width, std::max(left.height, right.height), Rgb{255, 255, 255});
  blit(out, left, 0, 0);
  blit(out, right, left.width, 0);
  return out;
}

}  // namespace vrdemo
