#include "scenarios.h"

#include <cmath>
#include <numbers>

namespace vrquality {

namespace {

constexpr double pi = std::numbers::pi;
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

}  // namespace

bool silent_at(const Scenario &s, double t) {
  if (!s.dropouts) return false;
  for (double start : dropout_starts_s)
    if (t >= start && t < start + dropout_s) return true;
  return false;
}

Script::Script(vr_ctx *ctx, const Scenario &scenario, unsigned long long seed)
    : Truth(ctx), motion_(scenario.motion), demo_(ctx, seed) {}

void Script::head_to_plate(double t, dmat out) const {
  if (motion_ == Motion::demo) {
    demo_.head_to_plate(t, out);
    return;
  }
  if (!(t > 0.0)) t = 0.0;
  dpt eyes;
  between_eyes(eyes);
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
      vrsession::place(neck, 0.0, 0.0, turn_rad * std::sin(turn_rate_rad_s * t), neck_at, out);
      return;
    }
    default:
      break;
  }
  vrsession::place(eyes, 0.0, 0.0, 0.0, at, out);
}

void Script::mouse_to_plate(double t, dmat out) const {
  // Held still in the still scenario; otherwise the demo's slow loop through the scene.
  demo_.mouse_to_plate(motion_ == Motion::still ? 0.0 : t, out);
}

}  // namespace vrquality
