// Double-exponential smoothing predictor for head poses. Holt's form with the smoothing factors
// derived from time constants, so that measurements arriving at uneven intervals weigh as much as
// the time they cover: at each measurement the level is pulled toward it by 1 - exp(-dt/level_s)
// and the trend toward the level's change by 1 - exp(-dt/trend_s). The orientation follows the
// same scheme on the rotation group: the innovation is the rotation from the predicted to the
// measured orientation, and the trend an angular velocity.
#include "vr_predict.h"

#include <Eigen/Core>
#include <Eigen/Geometry>

#include <algorithm>
#include <cmath>

namespace {

// A measurement this much older than the newest one used, or this much later, starts a new
// track: a clock that jumped, or a tracker silent (or refused) so long that its history cannot
// judge the new pose and its velocity means nothing.
constexpr double time_jump_back_s = 1.0;
constexpr double silence_restart_s = 0.15;
// The most a head accelerates, for the gate's growth with the time since the last pose used.
constexpr double head_acceleration_cm_s2 = 500.0;
constexpr double head_turn_acceleration_rad_s2 = 50.0;
// 1.4826 x median absolute deviation estimates a normal distribution's sigma.
constexpr double mad_to_sigma = 1.4826;
// Below this many innovations the gate has no history to judge by and lets everything in.
constexpr int gate_min_history = 5;

// The predictor's state is plain arrays (vr_pose_predictor); its arithmetic is Eigen's
// fixed-size vectors and quaternions (x, y, z, w in memory, as the state keeps them).
using Vec3 = Eigen::Vector3d;
using Quat = Eigen::Quaterniond;

Vec3 load(const double *p) {
  return Eigen::Map<const Vec3>(p);
}
void save(const Vec3 &v, double *p) {
  Eigen::Map<Vec3> out(p);
  out = v;
}
Quat qload(const double *q) {
  return Eigen::Map<const Quat>(q);
}
void qsave(const Quat &q, double *p) {
  Eigen::Map<Quat> out(p);
  out = q;
}
// The rotation by the rotation vector v (angle |v| about v).
Quat exp_rot(const Vec3 &v) {
  const double angle = v.norm();
  if (angle < 1e-12) return Quat(1.0, v.x() / 2, v.y() / 2, v.z() / 2).normalized();
  const double s = std::sin(angle / 2) / angle;
  return Quat(std::cos(angle / 2), s * v.x(), s * v.y(), s * v.z());
}
// The rotation vector of a unit quaternion, the short way round (angle at most pi).
Vec3 log_rot(Quat q) {
  if (q.w() < 0) q.coeffs() = -q.coeffs();
  const double s = q.vec().norm();
  if (s < 1e-12) return 2 * q.vec();
  const double angle = 2 * std::atan2(s, q.w());
  return (angle / s) * q.vec();
}

bool finite3(const double *p) {
  return std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]);
}

// Weight of a new measurement covering dt for a time constant tau.
double blend(double dt, double tau) {
  if (!(tau > 0.0)) return 1.0;
  return 1.0 - std::exp(-dt / tau);
}

// The median of the newest innovations, without allocating.
double median(const double *history, int count) {
  double v[vr_predictor_history];
  std::copy(history, history + count, v);
  std::nth_element(v, v + count / 2, v + count);
  return v[count / 2];
}

double gate_width(const double *history, int count, double sigmas, double floor) {
  if (count < gate_min_history) return INFINITY;
  return std::max(floor, sigmas * mad_to_sigma * median(history, count));
}

void start_track(vr_pose_predictor *p, double t, const Vec3 &pos, const Quat *quat) {
  p->tracking = 1;
  p->has_orientation = quat != nullptr;
  p->time_s = t;
  p->last_taken_s = t;
  p->seen_s = t;
  p->refused_since_s = -1.0;
  save(pos, p->pos);
  save(Vec3::Zero(), p->vel);
  qsave(quat ? *quat : Quat::Identity(), p->quat);
  save(Vec3::Zero(), p->omega);
  p->move_gain = 0.0;
  p->turn_gain = 0.0;
  p->history_count = 0;
  p->history_next = 0;
  ++p->restarts;
}

void remember(vr_pose_predictor *p, double move, double turn) {
  p->move_history[p->history_next] = move;
  p->turn_history[p->history_next] = turn;
  p->history_next = (p->history_next + 1) % vr_predictor_history;
  if (p->history_count < vr_predictor_history) ++p->history_count;
}

// The smoothed pose carried dt along the share of its velocities that the ramp lets through.
Vec3 carried_pos(const vr_pose_predictor *p, double dt) {
  return load(p->pos) + (dt * p->move_gain) * load(p->vel);
}
Quat carried_quat(const vr_pose_predictor *p, double dt) {
  return (exp_rot((dt * p->turn_gain) * load(p->omega)) * qload(p->quat)).normalized();
}

// 0 below low, 1 above high, linear between (a ramp without width is a step at low).
double ramp(double speed, double low, double high) {
  if (!(speed > low)) return 0.0;
  if (!(high > low) || speed >= high) return 1.0;
  return (speed - low) / (high - low);
}

double lerp(double a, double b, double g) {
  return a + (b - a) * g;
}

}  // namespace

void vr_predictor_reset(vr_pose_predictor *pred, const vr_predictor_settings *settings) {
  if (!pred) return;
  *pred = vr_pose_predictor{};
  pred->settings = settings ? *settings : vr_predictor_settings{};
  pred->refused_since_s = -1.0;
  pred->quat[3] = 1.0;
}

vr_predict_result vr_predictor_add(vr_pose_predictor *p, double t, const double pos[3],
                                   const double quat[4]) {
  if (!p) return VR_PREDICT_REFUSED;
  Quat q = Quat::Identity();
  bool q_ok = quat != nullptr;
  if (q_ok) {
    q = qload(quat);
    const double n = q.norm();
    q_ok = std::isfinite(n) && n > 1e-9;
    if (q_ok) q.normalize();
  }
  if (!std::isfinite(t) || !pos || !finite3(pos) || (quat && !q_ok)) {
    ++p->refused;
    return VR_PREDICT_REFUSED;
  }
  const Vec3 z = load(pos);
  const vr_predictor_settings &s = p->settings;

  // Silence counts from the newest measurement judged: a run of held or gated poses is no
  // silence, and ends by the refusal rule (restart_after_s) instead.
  if (!p->tracking || t < p->time_s - time_jump_back_s || t > p->seen_s + silence_restart_s ||
      (quat != nullptr) != (p->has_orientation != 0)) {
    start_track(p, t, z, quat ? &q : nullptr);
    ++p->taken;
    return VR_PREDICT_RESTARTED;
  }
  const double dt = t - p->time_s;
  if (!(dt > 0.0) || !(t > p->seen_s)) {
    ++p->refused;
    return VR_PREDICT_REFUSED;
  }
  p->seen_s = t;

  const Vec3 pred_pos = carried_pos(p, dt);
  const Quat pred_q = carried_quat(p, dt);
  // The gate judges against the full motion, whatever share of it the prediction uses.
  const Vec3 moving_pos = load(p->pos) + dt * load(p->vel);
  const Quat moving_q = (exp_rot(dt * load(p->omega)) * qload(p->quat)).normalized();
  const double move = (z - moving_pos).norm();
  const double turn = quat ? log_rot(q * moving_q.conjugate()).norm() : 0.0;

  // Refused too long in a row: the track itself is what is wrong (the head did get there).
  auto refuse = [&](vr_predict_result why) {
    if (p->refused_since_s < 0) p->refused_since_s = t;
    if (t - p->refused_since_s >= s.restart_after_s) {
      start_track(p, t, z, quat ? &q : nullptr);
      ++p->taken;
      return VR_PREDICT_RESTARTED;
    }
    if (why == VR_PREDICT_HELD)
      ++p->held;
    else
      ++p->rejected;
    return why;
  };

  // A jump: further from the last pose used than a head moves in the time since.
  const double since = t - p->last_taken_s;
  const double jump_move = (z - load(p->pos)).norm();
  const double jump_turn = quat ? log_rot(q * qload(p->quat).conjugate()).norm() : 0.0;
  if (jump_move > s.jump_floor_cm + s.speed_limit_cm_s * since ||
      jump_turn > s.jump_floor_rad + s.turn_limit_rad_s * since)
    return refuse(VR_PREDICT_HELD);

  if (s.gate_sigmas > 0.0) {
    const int n = p->history_count;
    // What a head's acceleration can add over the time since the last pose used.
    const double growth = 0.5 * dt * dt;
    if (move > gate_width(p->move_history, n, s.gate_sigmas, s.gate_floor_cm) +
                   growth * head_acceleration_cm_s2 ||
        turn > gate_width(p->turn_history, n, s.gate_sigmas, s.gate_floor_rad) +
                   growth * head_turn_acceleration_rad_s2)
      return refuse(VR_PREDICT_REJECTED);
  }

  remember(p, move, turn);
  p->refused_since_s = -1.0;
  const double a = blend(dt, lerp(s.still_level_s, s.level_s, p->move_gain));
  const double a_turn = blend(dt, lerp(s.still_level_s, s.level_s, p->turn_gain));
  const double b = blend(dt, s.trend_s);

  const Vec3 old_pos = load(p->pos);
  const Vec3 new_pos = pred_pos + a * (z - pred_pos);
  const Vec3 vel = load(p->vel) + b * ((1.0 / dt) * (new_pos - old_pos) - load(p->vel));
  save(new_pos, p->pos);
  save(vel, p->vel);

  if (quat) {
    const Quat old_q = qload(p->quat);
    const Quat new_q = (exp_rot(a_turn * log_rot(q * pred_q.conjugate())) * pred_q).normalized();
    const Vec3 step = (1.0 / dt) * log_rot(new_q * old_q.conjugate());
    const Vec3 omega = load(p->omega) + b * (step - load(p->omega));
    qsave(new_q, p->quat);
    save(omega, p->omega);
  }
  p->move_gain = ramp(vel.norm(), s.ramp_low_cm_s, s.ramp_high_cm_s);
  p->turn_gain = ramp(load(p->omega).norm(), s.ramp_low_rad_s, s.ramp_high_rad_s);
  p->time_s = t;
  p->last_taken_s = t;
  ++p->taken;
  return VR_PREDICT_TAKEN;
}

int vr_predictor_predict(const vr_pose_predictor *p, double display_time_s, double pos_out[3],
                         double quat_out[4]) {
  if (!p || !p->tracking || !pos_out || !std::isfinite(display_time_s)) return 0;
  const double horizon =
      std::clamp(display_time_s - p->time_s, 0.0, std::max(0.0, p->settings.max_horizon_s));
  const Vec3 pos = carried_pos(p, horizon);
  const Quat q = p->has_orientation ? carried_quat(p, horizon) : Quat::Identity();
  double out_q[4];
  qsave(q, out_q);
  if (!pos.allFinite() || !q.coeffs().allFinite()) return 0;
  save(pos, pos_out);
  if (quat_out) std::copy(out_q, out_q + 4, quat_out);
  return 1;
}
