// Error-state Kalman filter on one rigid receiver's pose (see vr_pose_filter.h for the model).
// The covariance is kept as its lower triangle only (it is symmetric by construction, and the
// packed form is what fits the context's extension bytes); every per-measurement step works on
// it directly and exploits the structure of the motion model and of the measurements, so that
// one scalar update costs a few hundred floating-point operations and nothing is allocated.
#include "vr_pose_filter.h"

#include <Eigen/Core>
#include <Eigen/Geometry>
#include <algorithm>
#include <cmath>

namespace {

using Vec3 = Eigen::Vector3d;
using Mat3 = Eigen::Matrix3d;
constexpr int dim = vr_pose_filter_dim;
using VecN = Eigen::Matrix<double, dim, 1>;

// Where each part of the error state starts. The acceleration comes last, so that the first
// twelve rows of the packed covariance are those of the constant-velocity states.
constexpr int at_pos = 0;
constexpr int at_vel = 3;
constexpr int at_rot = 6;
constexpr int at_omega = 9;
constexpr int at_acc = 12;

// Variances are never let below these (cm^2, cm^2/s^2, rad^2, rad^2/s^2, cm^2/s^4): a covariance
// that collapses to zero would take no measurement any more, and rounding could make it negative.
constexpr double floor_var[5] = {1e-10, 1e-8, 1e-12, 1e-10, 1e-8};
constexpr double floor_diag[15] = {1e-10, 1e-10, 1e-10, 1e-8,  1e-8, 1e-8, 1e-12, 1e-12,
                                   1e-12, 1e-10, 1e-10, 1e-10, 1e-8, 1e-8, 1e-8};

// The packed covariance: the lower triangle row by row, row i (i + 1 elements) from row_at(i).
constexpr int row_at(int i) {
  return i * (i + 1) / 2;
}
constexpr int packed_at(int i, int j) {
  return i >= j ? row_at(i) + j : row_at(j) + i;
}
constexpr int diag_at(int i) {
  return row_at(i) + i;
}
static_assert(row_at(dim) == vr_pose_filter_packed);

double cov(const vr_pose_filter *f, int i, int j) {
  return f->cov[packed_at(i, j)];
}

// Where element (i, j) of the covariance is kept, for every i and j: a table, so that the
// steps that read whole rows and columns gather them without working out the triangle.
struct PackedIndex {
  unsigned char at[dim][dim];
};
constexpr PackedIndex make_packed_index() {
  PackedIndex t{};
  for (int i = 0; i < dim; ++i)
    for (int j = 0; j < dim; ++j) t.at[i][j] = static_cast<unsigned char>(packed_at(i, j));
  return t;
}
constexpr PackedIndex packed_index = make_packed_index();

// Column c of the covariance.
void column(const vr_pose_filter *f, int c, VecN &out) {
  for (int i = 0; i < dim; ++i) out(i) = f->cov[packed_index.at[i][c]];
}

// Scales row and column i together by k (D P D with D diagonal keeps P positive).
void scale_index(vr_pose_filter *f, int i, double k) {
  for (int j = 0; j < dim; ++j) f->cov[packed_index.at[i][j]] *= k;
  f->cov[diag_at(i)] *= k;  // the diagonal is in the row and in the column
}

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

// R m for the library's quaternion q: the rotation by its conjugate (w, v), written out as
// m + w t + v x t with t = 2 v x m.
Vec3 rotate(const double q[4], const Vec3 &m) {
  const Vec3 v(-q[0], -q[1], -q[2]);
  const Vec3 t = 2.0 * v.cross(m);
  return m + q[3] * t + v.cross(t);
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
  return std::max({cov(f, at, at), cov(f, at + 1, at + 1), cov(f, at + 2, at + 2)});
}

// The covariance's diagonal between its floor and the settings' bound. A variance above its
// bound has its row and column scaled together; one below its floor is raised on the diagonal
// alone (adding to the diagonal keeps it positive).
void bound_covariance(vr_pose_filter *f) {
  const vr_pose_filter_settings &s = f->settings;
  const double max_sigma[5] = {s.max_sigma_cm, s.max_sigma_cm_s, s.max_sigma_rad, s.max_sigma_rad_s,
                               s.max_sigma_cm_s2};
  for (int part = 0; part < 5; ++part)
    for (int i = 3 * part; i < 3 * part + 3; ++i) {
      const double bound = max_sigma[part] * max_sigma[part];
      double &var = f->cov[diag_at(i)];
      if (var > bound) scale_index(f, i, std::sqrt(bound / var));
      if (!(var >= floor_var[part])) var = floor_var[part];
    }
}

// Holds the variances of one part of the error state (at .. at + 2) at most max_var, row and
// column scaled together so that the covariance stays positive.
void cap_part(vr_pose_filter *f, int at, double max_var) {
  for (int i = at; i < at + 3; ++i) {
    const double var = f->cov[diag_at(i)];
    if (var > max_var) scale_index(f, i, std::sqrt(max_var / var));
  }
}

void set_start_covariance(vr_pose_filter *f) {
  const vr_pose_filter_settings &s = f->settings;
  const double sigma[5] = {s.start_sigma_cm, s.start_sigma_cm_s, s.start_sigma_rad,
                           s.start_sigma_rad_s, s.start_sigma_cm_s2};
  std::fill(f->cov, f->cov + vr_pose_filter_packed, 0.0);
  for (int i = 0; i < dim; ++i) f->cov[diag_at(i)] = sigma[i / 3] * sigma[i / 3];
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
void inject(vr_pose_filter *f, const VecN &dx) {
  save(load(f->pos) + dx.segment<3>(at_pos), f->pos);
  save(load(f->vel) + dx.segment<3>(at_vel), f->vel);
  save(load(f->acc) + dx.segment<3>(at_acc), f->acc);
  save(load(f->omega) + dx.segment<3>(at_omega), f->omega);
  const Vec3 turn = dx.segment<3>(at_rot);
  const double t2 = turn.squaredNorm();
  if (t2 < 1e-6) {
    // A correction below 1e-3 rad (every one of a filter that tracks): the first order of the
    // turn, (1, turn / 2), times the orientation has the length sqrt(1 + t2 / 4), which the
    // first order of its inverse takes out to within 1e-13, and it is within 1e-10 rad of the
    // turn itself. The product on the library's quaternion q (the conjugate of the rotation):
    // conj(e * conj(q)) = q * conj(e).
    double *q = f->quat;
    const double x = turn.x() / 2, y = turn.y() / 2, z = turn.z() / 2;
    const double k = 1.0 - t2 / 8;
    const double qx = q[0], qy = q[1], qz = q[2], qw = q[3];
    q[0] = k * (qx - qw * x + qz * y - qy * z);
    q[1] = k * (qy - qw * y + qx * z - qz * x);
    q[2] = k * (qz - qw * z + qy * x - qx * y);
    q[3] = k * (qw + qx * x + qy * y + qz * z);
    return;
  }
  save_rotation((exp_rot(turn) * rotation_of(f->quat)).normalized(), f->quat);
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

// The share of the process noise for the motion the state shows: still_noise_share for a
// receiver that stands still, rising linearly to all of it at still_below_cm_s (or
// still_below_rad_s, whichever is nearer).
double motion_noise_share(const vr_pose_filter *f) {
  const vr_pose_filter_settings &s = f->settings;
  const double low = std::clamp(s.still_noise_share, 0.0, 1.0);
  if (!(low < 1.0)) return 1.0;
  const double speed = load(f->vel).norm(), turn = load(f->omega).norm();
  double moving = 0.0;
  if (s.still_below_cm_s > 0.0) moving = std::max(moving, speed / s.still_below_cm_s);
  if (s.still_below_rad_s > 0.0) moving = std::max(moving, turn / s.still_below_rad_s);
  if (!(moving < 1.0)) return 1.0;
  return low + (1.0 - low) * moving;
}

// P h' for a distance's measurement row h, nonzero on dp and dtheta only (h[0..2] on dp, h[3..5]
// on dtheta). From row at_rot + 2 on, both triples of a row are where the lower triangle keeps
// them, side by side; the rows above read them by the table.
void gather_ph(const double *c, const double h[6], VecN &ph) {
  for (int i = 0; i < at_rot + 2; ++i) {
    const unsigned char *pi = packed_index.at[i];
    ph(i) = h[0] * c[pi[at_pos]] + h[1] * c[pi[at_pos + 1]] + h[2] * c[pi[at_pos + 2]] +
            h[3] * c[pi[at_rot]] + h[4] * c[pi[at_rot + 1]] + h[5] * c[pi[at_rot + 2]];
  }
  for (int i = at_rot + 2; i < dim; ++i) {
    const double *row = c + row_at(i);
    ph(i) = h[0] * row[at_pos] + h[1] * row[at_pos + 1] + h[2] * row[at_pos + 2] +
            h[3] * row[at_rot] + h[4] * row[at_rot + 1] + h[5] * row[at_rot + 2];
  }
}

// h v for a distance's measurement row h and an error-state vector v.
double row_dot(const double h[6], const VecN &v) {
  return h[0] * v(at_pos) + h[1] * v(at_pos + 1) + h[2] * v(at_pos + 2) + h[3] * v(at_rot) +
         h[4] * v(at_rot + 1) + h[5] * v(at_rot + 2);
}

// One scalar update with measurement row h (given as the product P h' = ph and its value
// h P h' within s), innovation y and noise variance r; false (nothing changed) when the gate
// refuses it or the gain is not finite. dx accumulates the correction of a sequence of updates.
bool scalar_update(vr_pose_filter *f, const VecN &ph, double hph, double y, double r, double gate,
                   VecN &dx) {
  const double s = hph + r;
  if (!(s > 0.0) || !std::isfinite(s) || !std::isfinite(y)) return false;
  if (gate > 0.0 && y * y > gate * s) return false;
  const double inv_root = 1.0 / std::sqrt(s);
  const VecN g = ph * inv_root;                       // gain K = g / sqrt(s); P -= g g'
  if (!std::isfinite(g.squaredNorm())) return false;  // not finite, or beyond all bounds
  dx += g * (y * inv_root);
  double *p = f->cov;
  for (int i = 0; i < dim; ++i) {
    const double gi = g(i);
    for (int j = 0; j <= i; ++j) p[j] -= gi * g(j);
    // The update only lowers variances: the floor alone, on the diagonal (the row's end).
    if (!(p[i] >= floor_diag[i])) p[i] = floor_diag[i];
    p += i + 1;
  }
  return true;
}

// How the acceleration carries over a step of dt: it fades as exp(-dt / tau) (tau 0: it stays),
// which moves the velocity by c1 a and the position by c2 a. It acts only until `until` (s into
// the step): a head's acceleration is known from measurements only for a short while, so past
// that the velocity it reached carries on and the acceleration is taken as gone.
struct AccelStep {
  double fade, c1, c2;
};
AccelStep accel_step(double dt, double tau, double until) {
  const double ta = std::clamp(until, 0.0, std::max(0.0, dt));
  double c1 = ta, c2 = ta * ta / 2, fade = 1.0;
  if (tau > 0.0 && std::isfinite(tau) && ta > 0.0) {
    const double x = ta / tau;
    // 1 - exp(-x) and its remainder after the first two terms, by series for a short step (no
    // cancellation) and in closed form for a long one.
    double one_minus, rest;
    if (x < 0.25) {
      // To the eighth power: within 1e-9 of the closed form below 0.25.
      one_minus =
          x * (1 - x / 2 * (1 - x / 3 * (1 - x / 4 * (1 - x / 5 * (1 - x / 6 * (1 - x / 7))))));
      rest = x * x / 2 *
             (1 - x / 3 * (1 - x / 4 * (1 - x / 5 * (1 - x / 6 * (1 - x / 7 * (1 - x / 8))))));
    } else {
      one_minus = -std::expm1(-x);
      rest = x - one_minus;
    }
    fade = 1.0 - one_minus;
    c1 = tau * one_minus;
    c2 = tau * tau * rest;
  }
  if (ta < dt) fade = 0.0;
  return {fade, c1, c2 + c1 * (dt - ta)};
}

// y = F x for the motion step's F = [I dt 0 0 c2; 0 I 0 0 c1; 0 0 R dt 0; 0 0 0 I 0;
// 0 0 0 0 fade] on (dp, dv, dtheta, dw, da).
struct MotionStep {
  double dt, c1, c2, fade;
  Mat3 r;
  // The first `parts` parts of y (position, velocity, orientation, turn, acceleration), x being
  // read as x[at[j]] (a row of the packed covariance through its index table).
  void apply(const double *x, const unsigned char *at, double *y, int parts) const {
    for (int k = 0; k < 3; ++k) {
      const double a = x[at[at_acc + k]], v = x[at[at_vel + k]];
      y[at_pos + k] = x[at[at_pos + k]] + dt * v + c2 * a;
      y[at_vel + k] = v + c1 * a;
    }
    if (parts <= 2) return;
    const double r0 = x[at[at_rot]], r1 = x[at[at_rot + 1]], r2 = x[at[at_rot + 2]];
    for (int k = 0; k < 3; ++k) {
      const double w = x[at[at_omega + k]];
      y[at_rot + k] = r(k, 0) * r0 + r(k, 1) * r1 + r(k, 2) * r2 + dt * w;
      y[at_omega + k] = w;
      y[at_acc + k] = fade * x[at[at_acc + k]];
    }
  }
};

// P = F P F' on the lower triangle. Row i of N = F P F' is sum_m F(i, m) B[m] with B = P F', whose
// row m is F times row m of P (P being symmetric); the lower triangle needs row m of B only up to
// the last column that a row naming it keeps, which for the position's and velocity's rows is
// the first two parts: most of the work on them is left out.
void propagate(vr_pose_filter *f, const MotionStep &step) {
  // The parts of row m of B that are needed: position and velocity rows only feed rows of N that
  // end within the first two parts.
  constexpr int parts_of_row[5] = {2, 2, 5, 5, 5};
  double B[dim][dim];
  for (int m = 0; m < dim; ++m) step.apply(f->cov, packed_index.at[m], B[m], parts_of_row[m / 3]);
  const Mat3 &r = step.r;
  for (int k = 0; k < 3; ++k) {
    double *out = f->cov + row_at(at_pos + k);
    const double *bp = B[at_pos + k], *bv = B[at_vel + k], *ba = B[at_acc + k];
    for (int j = 0; j <= at_pos + k; ++j) out[j] = bp[j] + step.dt * bv[j] + step.c2 * ba[j];
    out = f->cov + row_at(at_vel + k);
    for (int j = 0; j <= at_vel + k; ++j) out[j] = bv[j] + step.c1 * ba[j];
    out = f->cov + row_at(at_rot + k);
    const double *bw = B[at_omega + k];
    for (int j = 0; j <= at_rot + k; ++j)
      out[j] = r(k, 0) * B[at_rot][j] + r(k, 1) * B[at_rot + 1][j] + r(k, 2) * B[at_rot + 2][j] +
               step.dt * bw[j];
    out = f->cov + row_at(at_omega + k);
    for (int j = 0; j <= at_omega + k; ++j) out[j] = bw[j];
    out = f->cov + row_at(at_acc + k);
    for (int j = 0; j <= at_acc + k; ++j) out[j] = step.fade * ba[j];
  }
}

// Process noise variances over dt for the motion the state shows: per axis, the position's,
// position-velocity, position-acceleration, velocity's, velocity-acceleration, acceleration's,
// orientation's, orientation-turn and turn's.
struct ProcessNoise {
  double pp, pv, pa, vv, va, aa, rr, rw, ww;
};
ProcessNoise process_noise(const vr_pose_filter *f, double dt) {
  const vr_pose_filter_settings &s = f->settings;
  const double noise = motion_noise_share(f);
  // White acceleration (qa) and white jerk (qj) per axis; the jerk's share as for a constant
  // acceleration, which the fade changes little over a step between measurements.
  const double dt2 = dt * dt, dt3 = dt2 * dt;
  const double qa = noise * std::max(0.0, s.accel_density_cm2_s3);
  const double qj = noise * std::max(0.0, s.jerk_density_cm2_s5);
  const double qt = noise * std::max(0.0, s.turn_density_rad2_s3);
  return {qa * dt3 / 3 + qj * dt3 * dt2 / 20,
          qa * dt2 / 2 + qj * dt2 * dt2 / 8,
          qj * dt3 / 6,
          qa * dt + qj * dt3 / 3,
          qj * dt2 / 2,
          qj * dt,
          qt * dt3 / 3,
          qt * dt2 / 2,
          qt * dt};
}

// Carries the covariance over a motion step: P = F P F' + Q, Q for the motion the state showed
// before the step.
void carry_covariance(vr_pose_filter *f, const MotionStep &step) {
  const ProcessNoise q = process_noise(f, step.dt);
  propagate(f, step);
  double *c = f->cov;
  for (int i = 0; i < 3; ++i) {
    c[packed_at(at_pos + i, at_pos + i)] += q.pp;
    c[packed_at(at_pos + i, at_vel + i)] += q.pv;
    c[packed_at(at_pos + i, at_acc + i)] += q.pa;
    c[packed_at(at_vel + i, at_vel + i)] += q.vv;
    c[packed_at(at_vel + i, at_acc + i)] += q.va;
    c[packed_at(at_acc + i, at_acc + i)] += q.aa;
    c[packed_at(at_rot + i, at_rot + i)] += q.rr;
    c[packed_at(at_rot + i, at_omega + i)] += q.rw;
    c[packed_at(at_omega + i, at_omega + i)] += q.ww;
  }
  bound_covariance(f);
  bool finite = true;
  for (int i = 0; i < dim; ++i) finite = finite && std::isfinite(f->cov[diag_at(i)]);
  if (!finite) {
    // Only a state already out of all bounds gets here; it cannot be trusted.
    turn_off(f);
    ++f->resets;
  }
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
  std::fill(f->acc, f->acc + 3, 0.0);
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
  const AccelStep a =
      accel_step(dt, s.accel_fade_s, f->last_taken_s + s.accel_horizon_s - f->time_s);
  const Eigen::Quaterniond turn = exp_rot(dt * load(f->omega));
  // A dig-side orientation error turns with the receiver (Rw, the turn over the step).
  const MotionStep step{dt, a.c1, a.c2, a.fade, turn.toRotationMatrix()};
  carry_covariance(f, step);
  const Vec3 acc = load(f->acc);
  save(load(f->pos) + dt * load(f->vel) + a.c2 * acc, f->pos);
  save(load(f->vel) + a.c1 * acc, f->vel);
  save(a.fade * acc, f->acc);
  save_rotation((turn * rotation_of(f->quat)).normalized(), f->quat);
  f->time_s = t;
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

static_assert(vr_pose_filter_batch_max == 3, "the batch's covariance pass is written for three");

int vr_pose_filter_distances(vr_pose_filter *f, double t, const double speaker_dig[3],
                             const double *const mic_receiver[], const double distance_cm[],
                             int count, double sigma_cm, vr_pose_filter_result results[]) {
  if (!results || count < 0 || count > vr_pose_filter_batch_max) return 0;
  if (!f || !mic_receiver || !distance_cm) {
    for (int i = 0; i < count; ++i) results[i] = VR_FILTER_INVALID;
    return 0;
  }
  // Which distances are measurements at all; the rest are refused before anything moves.
  bool usable[vr_pose_filter_batch_max];
  int left = 0;
  const bool common_ok = std::isfinite(t) && finite3(speaker_dig) && std::isfinite(sigma_cm);
  for (int i = 0; i < count; ++i) {
    usable[i] = common_ok && finite3(mic_receiver[i]) && std::isfinite(distance_cm[i]) &&
                distance_cm[i] > 0.0;
    if (!usable[i]) results[i] = refuse(f, VR_FILTER_INVALID);
    left += usable[i];
  }
  const auto all_left = [&](vr_pose_filter_result r) {
    for (int i = 0; i < count; ++i)
      if (usable[i]) results[i] = r;
  };
  if (left == 0) return 0;
  if (lost_at(f, t)) {
    f->unstarted += left;
    all_left(VR_FILTER_UNSTARTED);
    return 0;
  }
  double lag;
  if (!bring_to(f, t, &lag)) {
    for (int i = 0; i < count; ++i)
      if (usable[i]) results[i] = refuse(f, VR_FILTER_LATE);
    return 0;
  }
  if (vr_pose_filter_wants_pose(f)) {
    f->unstarted += left;
    all_left(VR_FILTER_NEEDS_POSE);
    return 0;
  }

  // Every distance's row and P h' against the state before the batch; the updates before each
  // one then change its P h', its innovation and its variance by what they took out, exactly as
  // if they had been applied to P and the state first (to the first order of their corrections,
  // far below a distance's noise).
  const vr_pose_filter_settings &s = f->settings;
  const double sigma = sigma_cm > 0.0 ? sigma_cm : s.distance_sigma_cm;
  const Vec3 p = load(f->pos), spk = load(speaker_dig);
  VecN gains[vr_pose_filter_batch_max];
  int applied = 0;
  VecN dx = VecN::Zero(), ph;
  for (int i = 0; i < count; ++i) {
    if (!usable[i]) continue;
    if (f->state == VR_FILTER_OFF) {
      // A run of refusals within the batch turned the filter off: the rest wait for a start.
      ++f->unstarted;
      results[i] = VR_FILTER_UNSTARTED;
      continue;
    }
    const Vec3 r = rotate(f->quat, load(mic_receiver[i]));
    const Vec3 a = p + r - spk;
    const double predicted = a.norm();
    if (!(predicted > min_length)) {
      results[i] = refuse(f, VR_FILTER_INVALID);
      continue;
    }
    const Vec3 u = a / predicted;
    const Vec3 w = r.cross(u);  // d(distance)/d(dtheta)
    double var = sigma * sigma;
    if (lag > 0.0) {
      // How far the distance moves in the lag, at the state's velocities.
      const double rate = u.dot(load(f->vel) + load(f->omega).cross(r));
      var += rate * rate * lag * lag;
    }
    const double h[6] = {u.x(), u.y(), u.z(), w.x(), w.y(), w.z()};
    gather_ph(f->cov, h, ph);
    for (int j = 0; j < applied; ++j) ph -= gains[j] * row_dot(h, gains[j]);
    const double hph = row_dot(h, ph);
    const double y = distance_cm[i] - predicted - row_dot(h, dx);
    const double sum = hph + var;
    bool ok = sum > 0.0 && std::isfinite(sum) && std::isfinite(y) &&
              !(s.gate_chi2_1 > 0.0 && y * y > s.gate_chi2_1 * sum);
    if (ok) {
      const double inv_root = 1.0 / std::sqrt(sum);
      gains[applied] = ph * inv_root;
      ok = std::isfinite(gains[applied].squaredNorm());
      if (ok) dx += gains[applied++] * (y * inv_root);
    }
    if (!ok) {
      results[i] = refuse(f, VR_FILTER_GATED);
      continue;
    }
    results[i] = VR_FILTER_TAKEN;
    ++f->taken;
    f->refused_in_row = 0;
  }
  if (applied == 0) return 0;
  // P -= sum of g g' over the updates taken, in one pass (the gains not taken are zero); the
  // floor on the diagonal.
  for (int k = applied; k < vr_pose_filter_batch_max; ++k) gains[k].setZero();
  const double *g0 = gains[0].data(), *g1 = gains[1].data(), *g2 = gains[2].data();
  double *c = f->cov;
  for (int i = 0; i < dim; ++i) {
    const double a0 = g0[i], a1 = g1[i], a2 = g2[i];
    for (int j = 0; j <= i; ++j) c[j] -= a0 * g0[j] + a1 * g1[j] + a2 * g2[j];
    if (!(c[i] >= floor_diag[i])) c[i] = floor_diag[i];
    c += i + 1;
  }
  inject(f, dx);
  f->has_orientation = 1;
  if (f->state != VR_FILTER_OFF) {
    f->last_taken_s = std::max(f->last_taken_s, t);
    f->state = converged(f) ? VR_FILTER_TRACKING : VR_FILTER_CONVERGING;
  }
  return applied;
}

vr_pose_filter_result vr_pose_filter_distance(vr_pose_filter *f, double t,
                                              const double speaker_dig[3],
                                              const double mic_receiver[3], double distance_cm,
                                              double sigma_cm) {
  // A batch of one: the same judgement and the same update.
  const double *const mics[1] = {mic_receiver};
  vr_pose_filter_result result = VR_FILTER_INVALID;
  vr_pose_filter_distances(f, t, speaker_dig, mics, &distance_cm, 1, sigma_cm, &result);
  return result;
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
    cap_part(f, at_acc, s.start_sigma_cm_s2 * s.start_sigma_cm_s2);
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
  for (int part = 0; part < parts; ++part) {
    const int at = part == 0 ? at_pos : at_rot;
    Mat3 S;
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) S(i, j) = cov(f, at + i, at + j);
    S.diagonal().array() += part == 0 ? var_pos : var_rot;
    const Vec3 yi = y.segment<3>(3 * part);
    const Eigen::LDLT<Mat3> ldlt(S);
    const double m2 = yi.dot(ldlt.solve(yi));
    if (!std::isfinite(m2) || (s.gate_chi2_3 > 0.0 && m2 > s.gate_chi2_3))
      return refuse(f, std::isfinite(m2) ? VR_FILTER_GATED : VR_FILTER_INVALID);
  }
  // Independent noise per axis: the pose is applied as scalar updates in turn, each against
  // the correction the ones before it made.
  VecN dx = VecN::Zero(), ph;
  int applied = 0;
  for (; applied < 3 * parts; ++applied) {
    const int i = applied < 3 ? at_pos + applied : at_rot + applied - 3;
    column(f, i, ph);
    // One that cannot be applied (a variance rounded to nothing) ends the sequence; the ones
    // before it changed the covariance, so their correction must reach the state as well.
    if (!scalar_update(f, ph, ph(i), y(applied) - dx(i), applied < 3 ? var_pos : var_rot, 0.0, dx))
      break;
  }
  if (applied == 0) return refuse(f, VR_FILTER_INVALID);
  inject(f, dx);
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
  // The acceleration bends the path forward as the state's own motion step would.
  const Vec3 bend =
      accel_step(dt, s.accel_fade_s, f->last_taken_s + s.accel_horizon_s - f->time_s).c2 *
      load(f->acc);
  const Vec3 p =
      load(f->pos) + ramp(vel.norm(), s.ramp_low_cm_s, s.ramp_high_cm_s) * (dt * vel + bend);
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
