#include "session.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>

namespace vrsession {

namespace {

constexpr double pi = std::numbers::pi;
constexpr double deg = pi / 180.0;
constexpr double nodal_shift_cm = 1.1;  // eye nodal point: 1.1 cm along the line of sight

// 0 before a, 1 after b, a smooth (zero-slope) ramp between.
double ramp(double t, double a, double b) {
  if (t <= a) return 0.0;
  if (t >= b) return 1.0;
  const double u = (t - a) / (b - a);
  return u * u * (3.0 - 2.0 * u);
}

// 1 between b and c, smooth ramps from a to b and from c to d, 0 elsewhere.
double window(double t, double a, double b, double c, double d) {
  return ramp(t, a, b) * (1.0 - ramp(t, c, d));
}

// The script's time: one pass of the script repeats; before the start it holds the first pose.
double script_time(double t) {
  if (!(t > 0.0)) return 0.0;
  return std::fmod(t, Session::period_s);
}

void toward(const dpt from, const dpt target, double step, dpt out) {
  dpt d = {target[0] - from[0], target[1] - from[1], target[2] - from[2]};
  vr_dvector_normalize(d);
  for (int c = 0; c < 3; ++c) out[c] = from[c] + step * d[c];
}

}  // namespace

void place(const dpt pivot, double roll, double pitch, double yaw, const dpt target, dmat out) {
  dmat a, b;
  vr_mat_trans(-pivot[0], -pivot[1], -pivot[2], a);
  vr_mat_rot_z(roll, b);
  vr_mat_mul_mat(a, b, a);
  vr_mat_rot_x(pitch, b);
  vr_mat_mul_mat(a, b, a);
  vr_mat_rot_y(yaw, b);
  vr_mat_mul_mat(a, b, a);
  vr_mat_trans(target[0], target[1], target[2], b);
  vr_mat_mul_mat(a, b, out);
}

Truth::Truth(vr_ctx *ctx) {
  dmat *dig_to_plate = nullptr;
  vr_object_get(ctx, VR_DIG_TO_PLATE, &dig_to_plate);
  vr_mat_inv2(*dig_to_plate, plate_to_dig_);
  vr_object_get(ctx, VR_LEFT_EYE_OFFSET, left_eye_offset_);
  vr_object_get(ctx, VR_RIGHT_EYE_OFFSET, right_eye_offset_);
  vr_object_get(ctx, VR_MOUSE_TIP_OFFSET, mouse_tip_offset_);
  vr_object_get(ctx, VR_WINDOW_CENTER, window_center_);
}

void Truth::head_to_dig(double t, dmat out) const {
  dmat m;
  head_to_plate(t, m);
  vr_mat_mul_mat(m, plate_to_dig_, out);
}

void Truth::mouse_to_dig(double t, dmat out) const {
  dmat m;
  mouse_to_plate(t, m);
  vr_mat_mul_mat(m, plate_to_dig_, out);
}

void Truth::true_eyes(double t, dpt left, dpt right) const {
  dmat m;
  head_to_plate(t, m);
  dpt l, r;
  vr_mat_mul_dpt(left_eye_offset_, m, l);
  vr_mat_mul_dpt(right_eye_offset_, m, r);
  toward(l, window_center_, nodal_shift_cm, left);
  toward(r, window_center_, nodal_shift_cm, right);
}

void Truth::true_mouse_tip(double t, dpt tip) const {
  dmat m;
  mouse_to_plate(t, m);
  vr_mat_mul_dpt(mouse_tip_offset_, m, tip);
}

void Truth::between_eyes(dpt out) const {
  for (int c = 0; c < 3; ++c) out[c] = (left_eye_offset_[c] + right_eye_offset_[c]) / 2;
}

Session::Session(vr_ctx *ctx, unsigned long long seed) : Truth(ctx) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  for (double &j : jitter_) j = unit(rng);
}

// The head. The viewer sits about 58 cm from the screen, eyes a little above the window centre,
// head upright and facing the screen (the glasses' frame then has the plate's axes). Over one
// pass of the script the viewer
//   0.0 - 3.0 s  sways from side to side,
//   2.5 - 5.5 s  leans in to about 38 cm and back,
//   5.0 - 8.0 s  turns the head left and right and nods, swaying slowly,
//   7.5 - 10  s  moves the head round in a loop and settles back to the start.
void Session::head_to_plate(double t, dmat out) const {
  t = script_time(t);
  const double cx = window_center_[0], cy = window_center_[1];
  const double sway = window(t, 0.0, 0.6, 2.4, 3.2) * (11.0 + 2.0 * jitter_[0]) *
                      std::sin(2 * pi * t / 2.6 + 0.3 * jitter_[1]);
  const double lean = window(t, 2.5, 3.6, 4.4, 5.6) * (20.0 + 2.0 * jitter_[2]);
  const double turning = window(t, 5.0, 5.6, 7.4, 8.0);
  const double slow_sway = turning * 4.0 * std::sin(2 * pi * (t - 5.0) / 3.0);
  const double loop = window(t, 7.5, 8.0, 9.4, 10.0);
  const double loop_x = loop * 7.0 * std::sin(2 * pi * (t - 7.5) / 2.0);
  const double loop_y = loop * 4.0 * (1.0 - std::cos(2 * pi * (t - 7.5) / 2.0));
  const dpt eyes_at = {cx + sway + slow_sway + loop_x,
                       cy + 2.0 + 1.5 * std::sin(2 * pi * t / 5.0) * (1.0 - turning) + loop_y,
                       58.0 - lean};
  const double yaw = turning * (24.0 + 3.0 * jitter_[3]) * deg * std::sin(2 * pi * (t - 5.0) / 2.4);
  const double pitch = turning * 7.0 * deg * std::sin(2 * pi * (t - 5.0) / 1.2);
  const double roll = 4.0 * deg * std::sin(2 * pi * t / 5.0 + jitter_[4]);
  // The head turns about the point between the eyes.
  dpt pivot;
  between_eyes(pivot);
  place(pivot, roll, pitch, yaw, eyes_at, out);
}

// The 3D mouse: held out in front of the screen, its tip drawn through the space in front of the
// screen on a slow loop that passes the floating body. The mouse's microphones must face the
// transmitter, which leans out over the top of the screen, so the mouse points up and into the
// screen (about 50 degrees up) and turns a little toward the window centre as it moves.
void Session::mouse_to_plate(double t, dmat out) const {
  t = script_time(t);
  const double cx = window_center_[0], cy = window_center_[1];
  const double u = 2 * pi * t / period_s;
  const dpt tip_at = {cx + (9.0 + jitter_[5]) * std::sin(2 * u + 0.5),
                      cy - 2.0 + 5.0 * std::sin(3 * u + 0.4 * jitter_[6]),
                      11.0 + 6.0 * std::sin(u + 0.3 * jitter_[7])};
  const double yaw = -0.02 * (tip_at[0] - cx);
  const double pitch = (50.0 + 6.0 * std::sin(2 * u)) * deg;
  place(mouse_tip_offset_, 0.0, pitch, yaw, tip_at, out);
}

const char *Session::activity(double t) const {
  t = script_time(t);
  if (t < 2.6) return "swaying";
  if (t < 5.3) return "leaning in";
  if (t < 7.8) return "turning";
  return "circling";
}

}  // namespace vrsession
