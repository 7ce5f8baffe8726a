#include "scenarios.h"

#include <cmath>
#include <numbers>

#include "session.h"

namespace vrquality {

namespace {

constexpr double pi = std::numbers::pi;
constexpr double nodal_shift_cm = 1.1;
constexpr double viewing_distance_cm = 58.0;

// Slow sway: 8 cm either way at 1.25 rad/s, so at most 10 cm/s.
constexpr double sway_cm = 8.0;
constexpr double sway_rad_s = 1.25;
// Fast turns: 30 degrees either way at 4 rad/s, so at most 120 degrees a second, about the neck
// (9 cm behind and 5 cm below the eyes).
constexpr double turn_rad = pi / 6.0;
constexpr double turn_rate_rad_s = 4.0;
constexpr dpt neck_from_eyes_cm = {0.0, -5.0, 9.0};
// Leaning in: 20 cm toward the screen and back every 4 s.
constexpr double lean_cm = 20.0;
constexpr double lean_period_s = 4.0;
// Dropouts: 0.5 s of silence starting at these session times.
constexpr double dropout_starts_s[] = {2.0, 5.0, 8.0};
constexpr double dropout_s = 0.5;

// p -> (p - pivot) x Rz(roll) x Rx(pitch) x Ry(yaw) + target.
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

void toward(const dpt from, const dpt target, double step, dpt out) {
  dpt d = {target[0] - from[0], target[1] - from[1], target[2] - from[2]};
  vr_dvector_normalize(d);
  for (int c = 0; c < 3; ++c) out[c] = from[c] + step * d[c];
}

}  // namespace

struct Script::Demo {
  vrdemo::Session session;
  Demo(vr_ctx *ctx, unsigned long long seed) : session(ctx, seed) {}
};

bool silent_at(const Scenario &s, double t) {
  if (!s.dropouts) return false;
  for (double start : dropout_starts_s)
    if (t >= start && t < start + dropout_s) return true;
  return false;
}

Script::Script(vr_ctx *ctx, const Scenario &scenario, unsigned long long seed)
    : motion_(scenario.motion), demo_(new Demo(ctx, seed)) {
  dmat *dig_to_plate = nullptr;
  vr_object_get(ctx, VR_DIG_TO_PLATE, &dig_to_plate);
  vr_mat_inv2(*dig_to_plate, plate_to_dig_);
  vr_object_get(ctx, VR_LEFT_EYE_OFFSET, left_eye_offset_);
  vr_object_get(ctx, VR_RIGHT_EYE_OFFSET, right_eye_offset_);
  vr_object_get(ctx, VR_MOUSE_TIP_OFFSET, mouse_tip_offset_);
  vr_object_get(ctx, VR_WINDOW_CENTER, window_center_);
}

Script::~Script() {
  delete demo_;
}

void Script::head_to_plate(double t, dmat out) const {
  if (motion_ == Motion::demo) {
    demo_->session.head_to_plate(t, out);
    return;
  }
  if (!(t > 0.0)) t = 0.0;
  const dpt eyes = {(left_eye_offset_[0] + right_eye_offset_[0]) / 2,
                    (left_eye_offset_[1] + right_eye_offset_[1]) / 2,
                    (left_eye_offset_[2] + right_eye_offset_[2]) / 2};
  dpt at = {window_center_[0], window_center_[1] + 2.0, viewing_distance_cm};
  switch (motion_) {
    case Motion::sway:
      at[0] += sway_cm * std::sin(sway_rad_s * t);
      break;
    case Motion::lean:
      at[2] -= lean_cm * 0.5 * (1.0 - std::cos(2 * pi * t / lean_period_s));
      break;
    case Motion::turns: {
      const dpt neck = {eyes[0] + neck_from_eyes_cm[0], eyes[1] + neck_from_eyes_cm[1],
                        eyes[2] + neck_from_eyes_cm[2]};
      const dpt neck_at = {at[0] + neck_from_eyes_cm[0], at[1] + neck_from_eyes_cm[1],
                           at[2] + neck_from_eyes_cm[2]};
      place(neck, 0.0, 0.0, turn_rad * std::sin(turn_rate_rad_s * t), neck_at, out);
      return;
    }
    default:
      break;
  }
  place(eyes, 0.0, 0.0, 0.0, at, out);
}

void Script::mouse_to_plate(double t, dmat out) const {
  // Held still in the still scenario; otherwise the demo's slow loop through the scene.
  demo_->session.mouse_to_plate(motion_ == Motion::still ? 0.0 : t, out);
}

void Script::head_to_dig(double t, dmat out) const {
  dmat m;
  head_to_plate(t, m);
  vr_mat_mul_mat(m, plate_to_dig_, out);
}

void Script::mouse_to_dig(double t, dmat out) const {
  dmat m;
  mouse_to_plate(t, m);
  vr_mat_mul_mat(m, plate_to_dig_, out);
}

void Script::true_eyes(double t, dpt left, dpt right) const {
  dmat m;
  head_to_plate(t, m);
  dpt l, r;
  vr_mat_mul_dpt(left_eye_offset_, m, l);
  vr_mat_mul_dpt(right_eye_offset_, m, r);
  toward(l, window_center_, nodal_shift_cm, left);
  toward(r, window_center_, nodal_shift_cm, right);
}

void Script::true_mouse_tip(double t, dpt tip) const {
  dmat m;
  mouse_to_plate(t, m);
  vr_mat_mul_dpt(mouse_tip_offset_, m, tip);
}

}  // namespace vrquality
