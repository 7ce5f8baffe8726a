// Error-state Kalman filter on one rigid receiver's pose (see vr_pose_filter.h for the model).
// Every per-measurement step works on fixed-size Eigen blocks of the covariance and exploits the
// structure of the motion model and of the measurements, so that one scalar update costs a few
// hundred floating-point operations and nothing is allocated.
#include "vr_pose_filter.h"

#include <Eigen/Core>
#include <Eigen/Geometry>
#include <algorithm>
#include <cmath>

namespace {

using Vec3 = Eigen::Vector3d;
using Mat3 = Eigen::Matrix3d;
using Vec12 = Eigen::Matrix<double, vr_pose_filter_dim, 1>;
using Mat12 = Eigen::Matrix<double, vr_pose_filter_dim, vr_pose_filter_dim, Eigen::RowMajor>;
using Cov = Eigen::Map<Mat12>;
using ConstCov = Eigen::Map<const Mat12>;

// Where each part of the error state starts.
constexpr int at_pos = 0;
constexpr int at_vel = 3;
constexpr int at_rot = 6;
constexpr int at_omega = 9;

// Variances are never let below these (cm^2, cm^2/s^2, rad^2, rad^2/s^2): a covariance that
// collapses to zero would take no measurement any more, and rounding could make it negative.
constexpr double floor_var[4] = {1e-10, 1e-8, 1e-12, 1e-10};

// Below this a quaternion or a speaker-to-microphone vector has no length to normalise by.
constexpr double min_length = 1e-9;

bool finite3(const double *p) {
  return p && std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]);
}

Vec3 load(const double *p) {
  return {p[0], p[1], p[2]};
}
void save(const Vec3 &v, double *p) {
  p[0] = v.x();
  p[1] = v.y();
  p[2] = v.z();
}

// The filter works with the rotation R that takes receiver points into the dig frame as column
// vectors (p + R m). The library's quaternion is that of the transposed matrix: its conjugate.
Eigen::Quaterniond rotation_of(const double q[4]) {
  return {q[3], -q[0], -q[1], -q[2]};
}
void save_rotation(const Eigen::Quaterniond &r, double q[4]) {
  q[0] = -r.x();
  q[1] = -r.y();
  q[2] = -r.z();
  q[3] = r.w();
}

// A quaternion given by the caller, normalised; false when it is not finite or has no length.
bool read_quat(const double *q, double out[4]) {
  if (!q) return false;
  const double n = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
  if (!std::isfinite(n) || !(n > min_length)) return false;
  for (int i = 0; i < 4; ++i) out[i] = q[i] / n;
  return true;
}

// The rotation by the rotation vector v (angle |v| about v).
Eigen::Quaterniond exp_rot(const Vec3 &v) {
  const double a2 = v.squaredNorm();
  if (a2 < 0.0025) {
    // Below 0.05 rad (every step between two measurements) the series of cos(a/2) and
    // sin(a/2)/a to the fourth order are exact to 1e-13, without the sine and cosine.
    const double s = 0.5 - a2 / 48 + a2 * a2 / 3840;
    return {1.0 - a2 / 8 + a2 * a2 / 384, s * v.x(), s * v.y(), s * v.z()};
  }
  const double angle = std::sqrt(a2);
  const double s = std::sin(angle / 2) / angle;
  return {std::cos(angle / 2), s * v.x(), s * v.y(), s * v.z()};
}

// The rotation vector of a unit quaternion, the short way round (angle at most pi).
Vec3 log_rot(Eigen::Quaterniond q) {
  if (q.w() < 0) q.coeffs() = -q.coeffs();
  const Vec3 xyz = q.vec();
  const double s = xyz.norm();
  if (s < 1e-9) return 2.0 * xyz;
  return (2.0 * std::atan2(s, q.w()) / s) * xyz;
}

// 0 below low, 1 above high, linear between; a ramp without width is a step at low (0 and 0:
// always 1).
double ramp(double x, double low, double high) {
  if (!(x > low)) return low > 0.0 ? 0.0 : 1.0;
  if (!(high > low) || x >= high) return 1.0;
  return (x - low) / (high - low);
}

double max_diag(const vr_pose_filter *f, int at) {
  const ConstCov P(f->cov);
  return std::max({P(at, at), P(at + 1, at + 1), P(at + 2, at + 2)});
}

// The covariance's diagonal between its floor and the settings' bound. A variance above its
// bound has its row and column scaled together (D P D with D diagonal keeps P positive); one
// below its floor is raised on the diagonal alone (adding to the diagonal keeps it positive).
void bound_covariance(vr_pose_filter *f) {
  const vr_pose_filter_settings &s = f->settings;
  const double max_sigma[4] = {s.max_sigma_cm, s.max_sigma_cm_s, s.max_sigma_rad,
                               s.max_sigma_rad_s};
  Cov P(f->cov);
  for (int i = 0; i < vr_pose_filter_dim; ++i) {
    const double bound = max_sigma[i / 3] * max_sigma[i / 3];
    if (P(i, i) > bound) {
      const double k = std::sqrt(bound / P(i, i));
      P.row(i) *= k;
      P.col(i) *= k;
    }
    if (!(P(i, i) >= floor_var[i / 3])) P(i, i) = floor_var[i / 3];
  }
}

// Holds the variances of one part of the error state (at .. at + 2) at most max_var, row and
// column scaled together so that the covariance stays positive.
void cap_part(vr_pose_filter *f, int at, double max_var) {
  Cov P(f->cov);
  for (int i = at; i < at + 3; ++i) {
    if (!(P(i, i) > max_var)) continue;
    const double k = std::sqrt(max_var / P(i, i));
    P.row(i) *= k;
    P.col(i) *= k;
  }
}

void set_start_covariance(vr_pose_filter *f) {
  const vr_pose_filter_settings &s = f->settings;
  const double sigma[4] = {s.start_sigma_cm, s.start_sigma_cm_s, s.start_sigma_rad,
                           s.start_sigma_rad_s};
  Cov P(f->cov);
  P.setZero();
  for (int i = 0; i < vr_pose_filter_dim; ++i) P(i, i) = sigma[i / 3] * sigma[i / 3];
  bound_covariance(f);
}

bool converged(const vr_pose_filter *f) {
  const vr_pose_filter_settings &s = f->settings;
  if (!(max_diag(f, at_pos) < s.tracking_sigma_cm * s.tracking_sigma_cm)) return false;
  return !f->has_orientation || max_diag(f, at_rot) < s.tracking_sigma_rad * s.tracking_sigma_rad;
}

void turn_off(vr_pose_filter *f) {
  f->state = VR_FILTER_OFF;
  f->refused_in_row = 0;
}

// A measurement refused for what it says (gated, late, not finite): a run of them means the
// state no longer agrees with the world.
vr_pose_filter_result refuse(vr_pose_filter *f, vr_pose_filter_result why) {
  long &count = why == VR_FILTER_GATED ? f->gated : why == VR_FILTER_LATE ? f->late : f->invalid;
  ++count;
  if (f->state != VR_FILTER_OFF && ++f->refused_in_row >= f->settings.reset_after_refused &&
      f->settings.reset_after_refused > 0) {
    turn_off(f);
    ++f->resets;
  }
  return why;
}

void taken(vr_pose_filter *f, double t) {
  ++f->taken;
  f->refused_in_row = 0;
  f->last_taken_s = std::max(f->last_taken_s, t);
  f->state = converged(f) ? VR_FILTER_TRACKING : VR_FILTER_CONVERGING;
}

// Whether the filter has been silent so long that it must start again; turns it off if so.
bool lost_at(vr_pose_filter *f, double t) {
  if (f->state == VR_FILTER_OFF) return true;
  const double restart = f->settings.restart_after_s;
  if (restart > 0.0 && t - f->last_taken_s > restart) {
    turn_off(f);
    ++f->gaps;
    return true;
  }
  return false;
}

// Adds the error-state correction dx to the state.
void inject(vr_pose_filter *f, const Vec12 &dx) {
  save(load(f->pos) + dx.segment<3>(at_pos), f->pos);
  save(load(f->vel) + dx.segment<3>(at_vel), f->vel);
  save(load(f->omega) + dx.segment<3>(at_omega), f->omega);
  const Vec3 turn = dx.segment<3>(at_rot);
  // A correction below 1e-3 rad (every one of a filter that tracks): the first order of the
  // turn, normalised once with the product, is within 1e-10 rad of it.
  const Eigen::Quaterniond e =
      turn.squaredNorm() < 1e-6 ? Eigen::Quaterniond(1.0, turn.x() / 2, turn.y() / 2, turn.z() / 2)
                                : exp_rot(turn);
  save_rotation((e * rotation_of(f->quat)).normalized(), f->quat);
}

// After an update, which only lowers variances: the floor alone.
void floor_covariance(vr_pose_filter *f) {
  Cov P(f->cov);
  for (int i = 0; i < vr_pose_filter_dim; ++i)
    if (!(P(i, i) >= floor_var[i / 3])) P(i, i) = floor_var[i / 3];
}

// Time of a measurement at t: the state carried to it, or, for one slightly older than the
// state, how long ago it was (the lag its noise must cover). False: too old.
bool bring_to(vr_pose_filter *f, double t, double *lag) {
  *lag = 0.0;
  if (t >= f->time_s) {
    vr_pose_filter_advance(f, t);
    return true;
  }
  *lag = f->time_s - t;
  return *lag <= f->settings.late_window_s;
}

// One scalar update with measurement row h (given as the product P h' = ph and its value
// h P h' within s), innovation y and noise variance r; false (nothing changed) when the gate
// refuses it or the gain is not finite. dx accumulates the correction of a sequence of updates.
bool scalar_update(vr_pose_filter *f, const Vec12 &ph, double hph, double y, double r, double gate,
                   Vec12 &dx) {
  const double s = hph + r;
  if (!(s > 0.0) || !std::isfinite(s) || !std::isfinite(y)) return false;
  if (gate > 0.0 && y * y > gate * s) return false;
  const double inv_root = 1.0 / std::sqrt(s);
  const Vec12 g = ph * inv_root;  // gain K = g / sqrt(s); P -= g g' keeps P exactly symmetric
  if (!g.allFinite()) return false;
  dx += g * (y * inv_root);
  Cov P(f->cov);
  P.noalias() -= g * g.transpose();
  return true;
}

// P = F P F' on 3x3 blocks, a (dp), b (dv), c (dtheta), d (dw), with
// F = [I dt 0 0; 0 I 0 0; 0 0 R dt; 0 0 0 I]: first the rows (A = F P), then the columns
// (A F'). Only the upper blocks are worked out; the lower ones are their transposes, and the
// diagonal blocks are made exactly symmetric, so that rounding never makes P lopsided.
void propagate(Cov &P, const Mat3 &r, double dt) {
  const auto blk = [&P](int i, int j) { return P.block<3, 3>(i, j); };
  const Mat3 rt = r.transpose();
  const Mat3 pab = blk(at_pos, at_vel), pac = blk(at_pos, at_rot), pad = blk(at_pos, at_omega);
  const Mat3 pbb = blk(at_vel, at_vel), pbc = blk(at_vel, at_rot), pbd = blk(at_vel, at_omega);
  const Mat3 pcc = blk(at_rot, at_rot), pcd = blk(at_rot, at_omega), pdd = blk(at_omega, at_omega);
  // The rows of a and c.
  const Mat3 a_aa = blk(at_pos, at_pos) + dt * pab.transpose();
  const Mat3 a_ab = pab + dt * pbb;
  const Mat3 a_ac = pac + dt * pbc;
  const Mat3 a_ad = pad + dt * pbd;
  const Mat3 a_cc = r * pcc + dt * pcd.transpose();
  const Mat3 a_cd = r * pcd + dt * pdd;
  // The columns of a and c.
  const Mat3 n_aa = a_aa + dt * a_ab;
  const Mat3 n_ac = a_ac * rt + dt * a_ad;
  const Mat3 n_bc = pbc * rt + dt * pbd;
  const Mat3 n_cc = a_cc * rt + dt * a_cd;
  const auto put = [&P](int i, int j, const Mat3 &m) {
    P.block<3, 3>(i, j) = m;
    P.block<3, 3>(j, i) = m.transpose();
  };
  P.block<3, 3>(at_pos, at_pos) = 0.5 * (n_aa + n_aa.transpose());
  P.block<3, 3>(at_rot, at_rot) = 0.5 * (n_cc + n_cc.transpose());
  put(at_pos, at_vel, a_ab);
  put(at_pos, at_rot, n_ac);
  put(at_pos, at_omega, a_ad);
  put(at_vel, at_rot, n_bc);
  put(at_rot, at_omega, a_cd);
}

}  // namespace

void vr_pose_filter_init(vr_pose_filter *f, const vr_pose_filter_settings *settings) {
  if (!f) return;
  *f = vr_pose_filter{};
  f->settings = settings ? *settings : vr_pose_filter_settings{};
  f->state = VR_FILTER_OFF;
  f->quat[3] = 1.0;
}

int vr_pose_filter_start(vr_pose_filter *f, double t, const double pos[3], const double quat[4]) {
  if (!f) return 0;
  double q[4] = {0, 0, 0, 1};
  if (!std::isfinite(t) || !finite3(pos) || (quat && !read_quat(quat, q))) return 0;
  f->time_s = t;
  f->last_taken_s = t;
  f->has_orientation = quat != nullptr;
  std::copy(pos, pos + 3, f->pos);
  std::fill(f->vel, f->vel + 3, 0.0);
  std::copy(q, q + 4, f->quat);
  std::fill(f->omega, f->omega + 3, 0.0);
  set_start_covariance(f);
  f->refused_in_row = 0;
  f->state = VR_FILTER_CONVERGING;
  ++f->starts;
  return 1;
}

void vr_pose_filter_advance(vr_pose_filter *f, double t) {
  if (!f || f->state == VR_FILTER_OFF || !std::isfinite(t) || !(t > f->time_s)) return;
  const vr_pose_filter_settings &s = f->settings;
  const double dt = t - f->time_s;
  save(load(f->pos) + dt * load(f->vel), f->pos);
  const Eigen::Quaterniond turn = exp_rot(dt * load(f->omega));
  save_rotation((turn * rotation_of(f->quat)).normalized(), f->quat);
  f->time_s = t;

  // P = F P F' + Q, with F = [I dt 0 0; 0 I 0 0; 0 0 Rw dt; 0 0 0 I] on (dp, dv, dtheta, dw):
  // a dig-side orientation error turns with the receiver (Rw, the turn over the step).
  Cov P(f->cov);
  const Mat3 rw = turn.toRotationMatrix();
  propagate(P, rw, dt);
  // White acceleration: per axis [dt^3/3 dt^2/2; dt^2/2 dt] times the density.
  const double dt2 = dt * dt, dt3 = dt2 * dt;
  const double qa = std::max(0.0, s.accel_density_cm2_s3);
  const double qt = std::max(0.0, s.turn_density_rad2_s3);
  for (int i = 0; i < 3; ++i) {
    P(at_pos + i, at_pos + i) += qa * dt3 / 3;
    P(at_pos + i, at_vel + i) += qa * dt2 / 2;
    P(at_vel + i, at_pos + i) += qa * dt2 / 2;
    P(at_vel + i, at_vel + i) += qa * dt;
    P(at_rot + i, at_rot + i) += qt * dt3 / 3;
    P(at_rot + i, at_omega + i) += qt * dt2 / 2;
    P(at_omega + i, at_rot + i) += qt * dt2 / 2;
    P(at_omega + i, at_omega + i) += qt * dt;
  }
  bound_covariance(f);
  if (!P.diagonal().allFinite()) {
    // Only a state already out of all bounds gets here; it cannot be trusted.
    turn_off(f);
    ++f->resets;
  }
}

int vr_pose_filter_wants_pose(const vr_pose_filter *f) {
  if (!f || f->state == VR_FILTER_OFF) return 1;
  const vr_pose_filter_settings &s = f->settings;
  return !(max_diag(f, at_pos) < s.distance_max_sigma_cm * s.distance_max_sigma_cm) ||
         (f->has_orientation &&
          !(max_diag(f, at_rot) < s.distance_max_sigma_rad * s.distance_max_sigma_rad));
}

vr_pose_filter_state vr_pose_filter_tick(vr_pose_filter *f, double now_s) {
  if (!f) return VR_FILTER_OFF;
  if (f->state == VR_FILTER_OFF || !std::isfinite(now_s)) return f->state;
  if (lost_at(f, now_s)) return f->state;
  if (now_s - f->last_taken_s > f->settings.coast_after_s) f->state = VR_FILTER_COASTING;
  return f->state;
}

vr_pose_filter_result vr_pose_filter_distance(vr_pose_filter *f, double t,
                                              const double speaker_dig[3],
                                              const double mic_receiver[3], double distance_cm,
                                              double sigma_cm) {
  if (!f) return VR_FILTER_INVALID;
  if (!std::isfinite(t) || !finite3(speaker_dig) || !finite3(mic_receiver) ||
      !std::isfinite(distance_cm) || !(distance_cm > 0.0) || !std::isfinite(sigma_cm))
    return refuse(f, VR_FILTER_INVALID);
  if (lost_at(f, t)) {
    ++f->unstarted;
    return VR_FILTER_UNSTARTED;
  }
  double lag;
  if (!bring_to(f, t, &lag)) return refuse(f, VR_FILTER_LATE);
  if (vr_pose_filter_wants_pose(f)) {
    ++f->unstarted;
    return VR_FILTER_NEEDS_POSE;
  }

  const vr_pose_filter_settings &s = f->settings;
  const Vec3 r = rotation_of(f->quat) * load(mic_receiver);
  const Vec3 a = load(f->pos) + r - load(speaker_dig);
  const double predicted = a.norm();
  if (!(predicted > min_length)) return refuse(f, VR_FILTER_INVALID);
  const Vec3 u = a / predicted;
  const Vec3 w = r.cross(u);  // d(distance)/d(dtheta)

  double sigma = sigma_cm > 0.0 ? sigma_cm : s.distance_sigma_cm;
  double var = sigma * sigma;
  if (lag > 0.0) {
    // How far the distance moves in the lag, at the state's velocities.
    const double rate = u.dot(load(f->vel) + load(f->omega).cross(r));
    var += rate * rate * lag * lag;
  }
  const ConstCov P(f->cov);
  // P h', h nonzero on dp and dtheta only.
  Vec12 ph;
  for (int i = 0; i < vr_pose_filter_dim; ++i)
    ph(i) = P(i, at_pos) * u.x() + P(i, at_pos + 1) * u.y() + P(i, at_pos + 2) * u.z() +
            P(i, at_rot) * w.x() + P(i, at_rot + 1) * w.y() + P(i, at_rot + 2) * w.z();
  const double hph = u.dot(ph.segment<3>(at_pos)) + w.dot(ph.segment<3>(at_rot));
  Vec12 dx = Vec12::Zero();
  if (!scalar_update(f, ph, hph, distance_cm - predicted, var, s.gate_chi2_1, dx))
    return refuse(f, VR_FILTER_GATED);
  inject(f, dx);
  floor_covariance(f);
  f->has_orientation = 1;
  taken(f, t);
  return VR_FILTER_TAKEN;
}

vr_pose_filter_result vr_pose_filter_pose(vr_pose_filter *f, double t, const double pos[3],
                                          const double quat[4], double sigma_cm, double sigma_rad) {
  if (!f) return VR_FILTER_INVALID;
  double q[4];
  if (!std::isfinite(t) || !finite3(pos) || (quat && !read_quat(quat, q)) ||
      !std::isfinite(sigma_cm) || !std::isfinite(sigma_rad))
    return refuse(f, VR_FILTER_INVALID);
  if (lost_at(f, t) || (quat != nullptr) != (f->has_orientation != 0)) {
    // Off, silent too long, or the source changed its kind: this pose starts a new track.
    vr_pose_filter_start(f, t, pos, quat ? q : nullptr);
    return VR_FILTER_STARTED;
  }
  double lag;
  if (!bring_to(f, t, &lag)) return refuse(f, VR_FILTER_LATE);

  const vr_pose_filter_settings &s = f->settings;
  if (vr_pose_filter_wants_pose(f)) {
    // A pose that anchors a filter grown too uncertain (a long coast): the velocities it kept
    // are no better known than at a start, and believing them less lets the distances that
    // follow find the motion again.
    cap_part(f, at_vel, s.start_sigma_cm_s * s.start_sigma_cm_s);
    cap_part(f, at_omega, s.start_sigma_rad_s * s.start_sigma_rad_s);
  }
  const double sp = sigma_cm > 0.0 ? sigma_cm : s.pose_sigma_cm;
  const double sr = sigma_rad > 0.0 ? sigma_rad : s.pose_sigma_rad;
  // The noise per axis, widened for a late pose by the motion over the lag.
  const double var_pos = sp * sp + load(f->vel).squaredNorm() * lag * lag;
  const double var_rot = sr * sr + load(f->omega).squaredNorm() * lag * lag;
  Eigen::Matrix<double, 6, 1> y;
  y.head<3>() = load(pos) - load(f->pos);
  const int parts = quat ? 2 : 1;
  if (quat) y.tail<3>() = log_rot(rotation_of(q) * rotation_of(f->quat).conjugate());

  // The gate judges the position and the orientation each as a whole (3 degrees of freedom).
  const ConstCov P(f->cov);
  for (int part = 0; part < parts; ++part) {
    const int at = part == 0 ? at_pos : at_rot;
    Mat3 S = P.block<3, 3>(at, at);
    S.diagonal().array() += part == 0 ? var_pos : var_rot;
    const Vec3 yi = y.segment<3>(3 * part);
    const Eigen::LDLT<Mat3> ldlt(S);
    const double m2 = yi.dot(ldlt.solve(yi));
    if (!std::isfinite(m2) || (s.gate_chi2_3 > 0.0 && m2 > s.gate_chi2_3))
      return refuse(f, std::isfinite(m2) ? VR_FILTER_GATED : VR_FILTER_INVALID);
  }
  // Independent noise per axis: the pose is applied as scalar updates in turn, each against
  // the correction the ones before it made.
  Vec12 dx = Vec12::Zero();
  int applied = 0;
  for (; applied < 3 * parts; ++applied) {
    const int i = applied < 3 ? at_pos + applied : at_rot + applied - 3;
    const Vec12 ph = P.col(i);
    // One that cannot be applied (a variance rounded to nothing) ends the sequence; the ones
    // before it changed the covariance, so their correction must reach the state as well.
    if (!scalar_update(f, ph, ph(i), y(applied) - dx(i), applied < 3 ? var_pos : var_rot, 0.0, dx))
      break;
  }
  if (applied == 0) return refuse(f, VR_FILTER_INVALID);
  inject(f, dx);
  floor_covariance(f);
  taken(f, t);
  return VR_FILTER_TAKEN;
}

int vr_pose_filter_predict(const vr_pose_filter *f, double t, double pos_out[3],
                           double quat_out[4]) {
  if (!f || f->state == VR_FILTER_OFF || !std::isfinite(t) || !pos_out) return 0;
  const double horizon = std::max(0.0, f->settings.max_horizon_s);
  const double latest = std::max(f->last_taken_s + horizon, f->time_s);
  const double dt = std::clamp(t, f->time_s - horizon, latest) - f->time_s;
  const vr_pose_filter_settings &s = f->settings;
  const Vec3 vel = load(f->vel), omega = load(f->omega);
  const Vec3 p = load(f->pos) + (dt * ramp(vel.norm(), s.ramp_low_cm_s, s.ramp_high_cm_s)) * vel;
  if (!p.allFinite()) return 0;
  save(p, pos_out);
  if (quat_out) {
    const double share = ramp(omega.norm(), s.ramp_low_rad_s, s.ramp_high_rad_s);
    const Eigen::Quaterniond r = (exp_rot(dt * share * omega) * rotation_of(f->quat)).normalized();
    save_rotation(r, quat_out);
  }
  return 1;
}

double vr_pose_filter_sigma_cm(const vr_pose_filter *f) {
  return f ? std::sqrt(max_diag(f, at_pos)) : INFINITY;
}

double vr_pose_filter_sigma_rad(const vr_pose_filter *f) {
  return f ? std::sqrt(max_diag(f, at_rot)) : INFINITY;
}
