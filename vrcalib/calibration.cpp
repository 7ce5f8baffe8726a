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

vr_fit_result free_fit(int n, const dpt *from, const dpt *to, dmat out, double *rms,
                       double *worst) {
  return vr_rigid_fit(n, from, to, out, rms, worst);
}

// The fit of measured source points to their targets, with residuals per target.
template <typename Fitter>
Result fit(const std::vector<Target> &targets, const std::vector<Vec3> &measured, int retakes,
           Fitter &&fitter) {
  Result r;
  r.retakes = retakes;
  std::vector<Vec3> plate;
  for (const Target &t : targets) plate.push_back(t.plate);
  const int n = static_cast<int>(measured.size());
  const auto *from = reinterpret_cast<const dpt *>(measured.data());
  const auto *to = reinterpret_cast<const dpt *>(plate.data());
  switch (fitter(n, from, to, r.source_to_plate, &r.rms_cm, &r.worst_cm)) {
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
  Result r = fit(targets, measured, retakes, free_fit);
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
               "Head set-up (%s): with the tracked glasses on (or facing the camera), hold "
               "your head still at each position; it is taken %.0f s after each instruction.\n",
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
  Result r = fit(targets, measured, retakes,
                 [&](int n, const dpt *from, const dpt *to, dmat m, double *rms, double *worst) {
                   return source.fit(n, from, to, m, rms, worst);
                 });
  print_fit(out, r, std::string("the ").append(source.name()).append("'s placement").c_str());
  if (const std::string note = source.caveat(); r.ok && !note.empty()) {
    std::fprintf(out, "  %s\n", note.c_str());
  }
  return r;
}

// ---- The network (webcam) source --------------------------------------------------------------

namespace {

constexpr double deg_per_rad = 180.0 / 3.141592653589793;
constexpr double quarter_turn_rad = 1.5707963267948966;
// A free fit's rotation further than this from the tilt-only one is worth telling the user.
constexpr double unkept_turn_note_deg = 1.0;

// Rx(t) = D + C cos t + S sin t with D the part that stays (the x axis), taken from the
// library's own rotation so that the signs are its own.
struct TiltBasis {
  dmat c{}, s{};
  TiltBasis() {
    dmat zero, quarter;
    vr_mat_rot_x(0.0, zero);
    vr_mat_rot_x(quarter_turn_rad, quarter);
    for (int i = 1; i < 3; ++i) {
      for (int j = 1; j < 3; ++j) {
        c[i][j] = zero[i][j];
        s[i][j] = quarter[i][j];
      }
    }
  }
};

double frob(const dmat a, const dmat b) {
  double sum = 0.0;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) sum += a[i][j] * b[i][j];
  }
  return sum;
}

// sum over i of to_i . (from_i x m), rotation part of m only.
double agreement(int n, const Vec3 *from, const Vec3 *to, const dmat m) {
  double sum = 0.0;
  for (int k = 0; k < n; ++k) {
    for (int j = 0; j < 3; ++j) {
      double moved = 0.0;
      for (int i = 0; i < 3; ++i) moved += from[k][i] * m[i][j];
      sum += to[k][j] * moved;
    }
  }
  return sum;
}

// The angle of the rotation that carries a's rotation onto b's, degrees.
double turn_between_deg(const dmat a, const dmat b) {
  const double trace = frob(a, b);  // trace of a^T b
  return std::acos(std::fmax(-1.0, std::fmin(1.0, (trace - 1.0) / 2.0))) * deg_per_rad;
}

}  // namespace

void camera_placement(vr_ctx *ctx, dmat out) {
  double width = 0, height = 0, tilt = 0;
  dpt offset{};
  vr_get_double(ctx, VR_SCREEN_WIDTH_CM, &width);
  vr_get_double(ctx, VR_SCREEN_HEIGHT_CM, &height);
  vr_get_point(ctx, VR_NET_CAMERA_OFFSET, offset);
  vr_get_double(ctx, VR_NET_CAMERA_TILT, &tilt);
  dmat turn, place;
  vr_mat_rot_x(tilt, turn);
  vr_mat_trans(width / 2.0 + offset[0], height + offset[1], offset[2], place);
  vr_mat_mul_mat(turn, place, out);
}

vr_fit_result fit_tilt_and_offset(int n, const dpt *from, const dpt *to, dmat out, double *rms,
                                  double *worst) {
  // The free fit refuses what cannot be fitted at all (too few, collinear, not finite).
  dmat free;
  if (const vr_fit_result r = vr_rigid_fit(n, from, to, free, nullptr, nullptr); r != VR_FIT_OK)
    return r;
  Vec3 from_mean{}, to_mean{};
  for (int k = 0; k < n; ++k) {
    for (int i = 0; i < 3; ++i) {
      from_mean[i] += from[k][i] / n;
      to_mean[i] += to[k][i] / n;
    }
  }
  std::vector<Vec3> p(n), q(n);
  for (int k = 0; k < n; ++k) {
    for (int i = 0; i < 3; ++i) {
      p[k][i] = from[k][i] - from_mean[i];
      q[k][i] = to[k][i] - to_mean[i];
    }
  }
  // The tilt maximises sum q . (p Rx(t)) = const + a cos t + b sin t.
  static const TiltBasis basis;
  const double a = agreement(n, p.data(), q.data(), basis.c);
  const double b = agreement(n, p.data(), q.data(), basis.s);
  dmat m;
  vr_mat_rot_x(std::atan2(b, a), m);
  const Vec3 turned = through(from_mean, m);
  for (int i = 0; i < 3; ++i) m[3][i] = to_mean[i] - turned[i];
  double sum = 0.0, largest = 0.0;
  for (int k = 0; k < n; ++k) {
    const double d = length(
        sub(through({from[k][0], from[k][1], from[k][2]}, m), {to[k][0], to[k][1], to[k][2]}));
    sum += d * d;
    largest = std::fmax(largest, d);
  }
  std::memcpy(out, m, sizeof m);
  if (rms != nullptr) *rms = std::sqrt(sum / n);
  if (worst != nullptr) *worst = largest;
  return VR_FIT_OK;
}

bool NetworkHeadSource::head_to_source(vr_ctx *ctx, dmat out) {
  return vr_get_matrix(ctx, VR_HEAD_TO_DIG, out) == VR_OK && has_pose(out);
}

vr_fit_result NetworkHeadSource::fit(int n, const dpt *from, const dpt *to, dmat out, double *rms,
                                     double *worst) {
  const vr_fit_result r = fit_tilt_and_offset(n, from, to, out, rms, worst);
  dmat free;
  unkept_turn_deg_ = 0.0;
  if (r == VR_FIT_OK && vr_rigid_fit(n, from, to, free, nullptr, nullptr) == VR_FIT_OK)
    unkept_turn_deg_ = turn_between_deg(free, out);
  return r;
}

std::string NetworkHeadSource::caveat() const {
  if (unkept_turn_deg_ <= unkept_turn_note_deg) return {};
  char text[256];
  std::snprintf(text, sizeof text,
                "The camera also looks %.1f degrees sideways or is rolled: the set-up keeps only "
                "its tilt and offset, so the residuals above remain. Square the camera to the "
                "screen for better views.",
                unkept_turn_deg_);
  return text;
}

void NetworkHeadSource::offset_and_tilt(const vr_ctx *ctx, const dmat camera_to_plate, dpt offset,
                                        double *tilt_rad) {
  static const TiltBasis basis;
  *tilt_rad = std::atan2(frob(camera_to_plate, basis.s), frob(camera_to_plate, basis.c));
  double width = 0, height = 0;
  vr_get_double(const_cast<vr_ctx *>(ctx), VR_SCREEN_WIDTH_CM, &width);
  vr_get_double(const_cast<vr_ctx *>(ctx), VR_SCREEN_HEIGHT_CM, &height);
  offset[0] = camera_to_plate[3][0] - width / 2.0;
  offset[1] = camera_to_plate[3][1] - height;
  offset[2] = camera_to_plate[3][2];
}

bool NetworkHeadSource::place(vr_ctx *ctx, const dmat source_to_plate) {
  dpt offset;
  double tilt = 0.0;
  offset_and_tilt(ctx, source_to_plate, offset, &tilt);
  return vr_set_point(ctx, VR_NET_CAMERA_OFFSET, offset) == VR_OK &&
         vr_set_double(ctx, VR_NET_CAMERA_TILT, tilt) == VR_OK &&
         vr_set_int(ctx, VR_GLASSES_SOURCE, VR_SOURCE_NETWORK) == VR_OK;
}

}  // namespace vrcalib
