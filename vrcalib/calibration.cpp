// The calibration procedures: targets, touches and holds, and the fits.
#include "calibration.h"

#include <cmath>
#include <cstring>

namespace vrcalib {

namespace {

constexpr int button_bits = 15;

Vec3 sub(const Vec3 &a, const Vec3 &b) {
  return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}
double length(const Vec3 &v) {
  return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
}

Vec3 through(const Vec3 &p, const dmat m) {
  Vec3 out;
  vr_mat_mul_dpt(p.data(), const_cast<double(*)[4]>(m), out.data());
  return out;
}

// A matrix that a tracker has written: a rotation in its upper rows (not the zero matrix of a
// context whose tracker has reported nothing yet).
bool has_pose(const dmat m) {
  const double row0 = m[0][0] * m[0][0] + m[0][1] * m[0][1] + m[0][2] * m[0][2];
  return std::fabs(row0 - 1.0) < 1e-3;
}

// The fit of measured source points to their targets, with residuals per target.
Result fit(const std::vector<Target> &targets, const std::vector<Vec3> &measured, int retakes) {
  Result r;
  r.retakes = retakes;
  std::vector<Vec3> plate;
  for (const Target &t : targets) plate.push_back(t.plate);
  const int n = static_cast<int>(measured.size());
  const auto *from = reinterpret_cast<const dpt *>(measured.data());
  const auto *to = reinterpret_cast<const dpt *>(plate.data());
  switch (vr_rigid_fit(n, from, to, r.source_to_plate, &r.rms_cm, &r.worst_cm)) {
    case VR_FIT_OK:
      break;
    case VR_FIT_COLLINEAR:
      r.error = "the measured points lie on one line: the tracker did not follow the moves";
      return r;
    default:
      r.error = "the measured points cannot be fitted";
      return r;
  }
  for (int i = 0; i < n; ++i) {
    r.residuals.push_back(
        {targets[i].name, length(sub(through(measured[i], r.source_to_plate), targets[i].plate))});
  }
  r.ok = true;
  return r;
}

void print_fit(std::FILE *out, const Result &r, const char *what) {
  if (!r.ok) return;
  std::fprintf(out, "Fit of %s:\n", what);
  for (const Residual &res : r.residuals) {
    std::fprintf(out, "  %-14s residual %.3f cm\n", res.name.c_str(), res.cm);
  }
  std::fprintf(out, "  RMS %.3f cm, worst %.3f cm\n", r.rms_cm, r.worst_cm);
}

Result failed(std::string why) {
  Result r;
  r.error = std::move(why);
  return r;
}

}  // namespace

std::vector<Target> screen_targets(double width_cm, double height_cm, double margin_cm) {
  const double l = margin_cm, r = width_cm - margin_cm;
  const double b = margin_cm, t = height_cm - margin_cm;
  return {{"bottom left", {l, b, 0.0}},
          {"bottom right", {r, b, 0.0}},
          {"top right", {r, t, 0.0}},
          {"top left", {l, t, 0.0}},
          {"centre", {width_cm / 2.0, height_cm / 2.0, 0.0}}};
}

std::vector<Target> head_positions(double width_cm, double height_cm, double distance_cm,
                                   double step_cm) {
  const double cx = width_cm / 2.0, cy = height_cm / 2.0;
  return {{"centred", {cx, cy, distance_cm}},
          {"left", {cx - step_cm, cy, distance_cm}},
          {"right", {cx + step_cm, cy, distance_cm}},
          {"up", {cx, cy + step_cm, distance_cm}}};
}

TouchRecorder::Event TouchRecorder::feed(const Vec3 &tip, bool button_down) {
  if (button_down) {
    if (!down_) {
      down_ = true;
      count_ = 0;
      first_ = tip;
      sum_ = {0, 0, 0};
      motion_cm_ = 0.0;
    }
    ++count_;
    for (int i = 0; i < 3; ++i) sum_[i] += tip[i];
    motion_cm_ = std::fmax(motion_cm_, length(sub(tip, first_)));
    return Event::none;
  }
  if (!down_) return Event::none;
  down_ = false;
  for (int i = 0; i < 3; ++i) point_[i] = sum_[i] / count_;
  return motion_cm_ > max_motion_cm_ ? Event::refused : Event::accepted;
}

Vec3 HoldRecorder::mean() const {
  Vec3 m{0, 0, 0};
  for (const Vec3 &p : points_) {
    for (int i = 0; i < 3; ++i) m[i] += p[i];
  }
  for (double &c : m) c /= points_.empty() ? 1.0 : static_cast<double>(points_.size());
  return m;
}

double HoldRecorder::spread_cm() const {
  const Vec3 m = mean();
  double worst = 0.0;
  for (const Vec3 &p : points_) worst = std::fmax(worst, length(sub(p, m)));
  return worst;
}

bool HoldRecorder::steady() const {
  return !points_.empty() && spread_cm() <= max_motion_cm_;
}

bool TrackerFrameHeadSource::head_to_source(vr_ctx *ctx, dmat out) {
  return vr_get_matrix(ctx, VR_HEAD_TO_DIG, out) == VR_OK && has_pose(out);
}

bool TrackerFrameHeadSource::place(vr_ctx *ctx, const dmat source_to_plate) {
  return vr_set_matrix(ctx, VR_TRACKER_TO_PLATE, source_to_plate) == VR_OK;
}

Result calibrate_mouse(vr_ctx *ctx, Pacer &pacer, const Settings &s, std::FILE *out) {
  double width = 0, height = 0;
  vr_get_double(ctx, VR_SCREEN_WIDTH_CM, &width);
  vr_get_double(ctx, VR_SCREEN_HEIGHT_CM, &height);
  const auto targets = screen_targets(width, height, s.margin_cm);
  std::fprintf(out,
               "Ultrasonic set-up: touch each target on the screen with the 3D mouse tip and press "
               "and release a button while holding the tip still.\n");

  std::vector<Vec3> measured;
  int retakes = 0;
  for (std::size_t k = 0; k < targets.size(); ++k) {
    const Target &t = targets[k];
    std::fprintf(out,
                 "Step %zu of %zu: touch the %s target, %.1f cm right and %.1f cm up from "
                 "the screen's bottom left corner.\n",
                 k + 1, targets.size(), t.name.c_str(), t.plate[0], t.plate[1]);
    std::fflush(out);
    pacer.asked(Ask::touch, t);
    TouchRecorder touch(s.touch_motion_cm);
    const double deadline = pacer.now() + s.step_timeout_s;
    bool done = false;
    while (!done) {
      if (pacer.now() > deadline) return failed("no touch of the " + t.name + " target in time");
      pacer.wait(s.frame_s);
      vr_comp_view(ctx);
      dmat mouse_to_dig;
      dpt tip_offset;
      int buttons = 0;
      vr_get_matrix(ctx, VR_MOUSE_TO_DIG, mouse_to_dig);
      vr_get_point(ctx, VR_MOUSE_TIP_OFFSET, tip_offset);
      vr_get_int(ctx, VR_MOUSE_BUTTONS, &buttons);
      if (!has_pose(mouse_to_dig)) continue;
      const Vec3 tip = through({tip_offset[0], tip_offset[1], tip_offset[2]}, mouse_to_dig);
      switch (touch.feed(tip, (buttons & button_bits) != 0)) {
        case TouchRecorder::Event::none:
          break;
        case TouchRecorder::Event::refused:
          ++retakes;
          std::fprintf(out,
                       "  The tip moved %.2f cm while the button was down: touch the %s "
                       "target again.\n",
                       touch.motion_cm(), t.name.c_str());
          std::fflush(out);
          pacer.asked(Ask::touch, t);
          break;
        case TouchRecorder::Event::accepted:
          measured.push_back(touch.point());
          std::fprintf(out, "  Taken (tip moved %.2f cm).\n", touch.motion_cm());
          done = true;
          break;
      }
    }
  }
  Result r = fit(targets, measured, retakes);
  print_fit(out, r, "the tracker's placement on the plate");
  return r;
}

Result calibrate_head(vr_ctx *ctx, HeadSource &source, Pacer &pacer, const Settings &s,
                      std::FILE *out) {
  double width = 0, height = 0;
  vr_get_double(ctx, VR_SCREEN_WIDTH_CM, &width);
  vr_get_double(ctx, VR_SCREEN_HEIGHT_CM, &height);
  dpt left, right;
  vr_get_point(ctx, VR_LEFT_EYE_OFFSET, left);
  vr_get_point(ctx, VR_RIGHT_EYE_OFFSET, right);
  // The point between the eyes, in the head frame: the one the user places.
  const Vec3 between = {(left[0] + right[0]) / 2, (left[1] + right[1]) / 2,
                        (left[2] + right[2]) / 2};
  const auto targets = head_positions(width, height, s.head_distance_cm, s.head_step_cm);
  std::fprintf(out,
               "Head set-up (%s): wear the tracked glasses and hold your head still at each "
               "position; it is taken %.0f s after each instruction.\n",
               source.name(), s.settle_s);

  std::vector<Vec3> measured;
  int retakes = 0;
  for (std::size_t k = 0; k < targets.size(); ++k) {
    const Target &t = targets[k];
    const double dx = t.plate[0] - targets[0].plate[0];
    const double dy = t.plate[1] - targets[0].plate[1];
    if (k == 0) {
      std::fprintf(out,
                   "Step 1 of %zu: eyes level with the screen centre, %.1f cm from the "
                   "glass (measure with a tape), looking straight at the screen.\n",
                   targets.size(), s.head_distance_cm);
    } else {
      std::fprintf(out,
                   "Step %zu of %zu: keep the distance and move your eyes %.1f cm %s of "
                   "the centre position.\n",
                   k + 1, targets.size(), std::fabs(dx != 0 ? dx : dy),
                   dx < 0 ? "to the left" : (dx > 0 ? "to the right" : "up"));
    }
    std::fflush(out);
    pacer.asked(Ask::hold, t);
    const double deadline = pacer.now() + s.step_timeout_s;
    double window_start = pacer.now() + s.settle_s;
    HoldRecorder hold(s.head_motion_cm);
    for (;;) {
      if (pacer.now() > deadline) return failed("no steady head position " + t.name + " in time");
      pacer.wait(s.frame_s);
      vr_comp_view(ctx);
      dmat head;
      if (pacer.now() < window_start || !source.head_to_source(ctx, head)) continue;
      hold.add(through(between, head));
      if (pacer.now() < window_start + s.hold_s) continue;
      if (hold.steady()) break;
      ++retakes;
      std::fprintf(out, "  Your head moved %.2f cm: hold still at the %s position.\n",
                   hold.spread_cm(), t.name.c_str());
      std::fflush(out);
      hold.clear();
      window_start = pacer.now() + s.settle_s;
    }
    measured.push_back(hold.mean());
    std::fprintf(out, "  Taken (head moved %.2f cm).\n", hold.spread_cm());
  }
  Result r = fit(targets, measured, retakes);
  print_fit(out, r, std::string("the ").append(source.name()).append("'s placement").c_str());
  return r;
}

}  // namespace vrcalib
