// Synthetic truth for the pose filter's tests: a receiver moving along a scripted path, measured
// as a raw ultrasonic unit measures it (three speakers firing in turn, each heard by three
// microphones) or as a whole-pose source does.
#pragma once

#include <cmath>
#include <random>

#include "vr_pose_filter.h"

namespace filter_test {

struct V3 {
  double x, y, z;
};
inline V3 operator+(V3 a, V3 b) {
  return {a.x + b.x, a.y + b.y, a.z + b.z};
}
inline V3 operator-(V3 a, V3 b) {
  return {a.x - b.x, a.y - b.y, a.z - b.z};
}
inline V3 operator*(double s, V3 a) {
  return {s * a.x, s * a.y, s * a.z};
}
inline double norm(V3 a) {
  return std::sqrt(a.x * a.x + a.y * a.y + a.z * a.z);
}
inline V3 load(const double *p) {
  return {p[0], p[1], p[2]};
}

// Quaternion (w first here) of the rotation that takes receiver points into the dig frame as
// column vectors.
struct Rot {
  double w, x, y, z;
};
inline Rot mul(Rot a, Rot b) {
  return {
      a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z, a.w * b.x + b.w * a.x + a.y * b.z - a.z * b.y,
      a.w * b.y + b.w * a.y + a.z * b.x - a.x * b.z, a.w * b.z + b.w * a.z + a.x * b.y - a.y * b.x};
}
inline Rot exp_rot(V3 v) {
  const double a = norm(v);
  if (a < 1e-12) return {1, v.x / 2, v.y / 2, v.z / 2};
  const double s = std::sin(a / 2) / a;
  return {std::cos(a / 2), s * v.x, s * v.y, s * v.z};
}
inline V3 rotate(Rot q, V3 v) {
  const Rot p = mul(mul(q, Rot{0, v.x, v.y, v.z}), Rot{q.w, -q.x, -q.y, -q.z});
  return {p.x, p.y, p.z};
}
// The library's quaternion (x, y, z, w) of the pose matrix: the conjugate.
inline void to_library(Rot q, double out[4]) {
  out[0] = -q.x, out[1] = -q.y, out[2] = -q.z, out[3] = q.w;
}
inline Rot from_library(const double q[4]) {
  return {q[3], -q[0], -q[1], -q[2]};
}
// The angle between two rotations (rad).
inline double angle_between(Rot a, Rot b) {
  const double d = std::fabs(a.w * b.w + a.x * b.x + a.y * b.y + a.z * b.z);
  return 2 * std::acos(std::fmin(1.0, d));
}

// The default transmitter (base and sides 30.48 cm) and the glasses receiver (base 6.35 cm,
// sides 6.43 cm), both as the raw solver builds them: speakers sll, slr, stop in the dig frame,
// microphones mll, mlr, mtop in the receiver frame.
inline const V3 speakers[3] = {{-15.24, 0, 0}, {15.24, 0, 0}, {0, 26.3965, 0}};
inline const V3 mics[3] = {{3.175, 0, 0}, {-3.175, 0, 0}, {0, 5.5914, 0}};
// The speakers fire 20/3 ms apart, the top one last; a record every 20 ms.
constexpr double speaker_interval_s = 0.02 / 3;
constexpr double record_interval_s = 0.02;
constexpr double count_cm = 25.4 / 4800;  // one count of the units' time of flight

struct Pose {
  V3 pos;
  Rot rot;
};

// A scripted motion: constant velocity (or constant acceleration) and constant angular velocity
// from a start pose.
struct Motion {
  V3 p0{0, -10, 55};
  V3 vel{0, 0, 0};
  V3 acc{0, 0, 0};
  Rot r0 = exp_rot({0.2, -0.3, 0.1});
  V3 omega{0, 0, 0};
  Pose at(double t) const {
    return {p0 + t * vel + (t * t / 2) * acc, mul(exp_rot(t * omega), r0)};
  }
};

inline double distance(const Pose &p, int speaker, int mic) {
  return norm(p.pos + rotate(p.rot, mics[mic]) - speakers[speaker]);
}

inline void array(V3 v, double out[3]) {
  out[0] = v.x, out[1] = v.y, out[2] = v.z;
}

// The solver's pose of a record at t, as the front end feeds it when the filter asks for one:
// the truth with 0.1 cm and 0.005 rad of noise, given sigmas twice that.
template <class Rng>
void feed_solved_pose(vr_pose_filter *f, const Motion &m, double t, Rng &rng) {
  std::normal_distribution<double> n(0.0, 1.0);
  const Pose p = m.at(t);
  double pos[3], q[4];
  array(p.pos + V3{0.1 * n(rng), 0.1 * n(rng), 0.1 * n(rng)}, pos);
  to_library(mul(exp_rot({0.005 * n(rng), 0.005 * n(rng), 0.005 * n(rng)}), p.rot), q);
  vr_pose_filter_pose(f, t, pos, q, 0.2, 0.01);
}

// Feeds the nine distances of the record whose top speaker fires at t, each at its speaker's
// firing moment, with Gaussian noise of sigma_cm; first the record's solved pose when the filter
// (started, but coasted too long) asks for one. Returns how many distances were taken.
template <class Rng>
int feed_record(vr_pose_filter *f, const Motion &m, double t, double sigma_cm, Rng &rng) {
  std::normal_distribution<double> noise(0.0, sigma_cm);
  int taken = 0;
  if (f->state != VR_FILTER_OFF && vr_pose_filter_wants_pose(f)) {
    vr_pose_filter_advance(f, t - 2 * speaker_interval_s);
    if (vr_pose_filter_wants_pose(f)) feed_solved_pose(f, m, t - 2 * speaker_interval_s, rng);
  }
  for (int s = 0; s < 3; ++s) {
    const double fired = t - (2 - s) * speaker_interval_s;
    const Pose p = m.at(fired);
    for (int k = 0; k < 3; ++k) {
      double spk[3], mic[3];
      array(speakers[s], spk);
      array(mics[k], mic);
      const double d = distance(p, s, k) + (sigma_cm > 0 ? noise(rng) : 0.0);
      taken += vr_pose_filter_distance(f, fired, spk, mic, d, 0.0) == VR_FILTER_TAKEN;
    }
  }
  return taken;
}

// Settings whose distance noise is the tests' (0.005 cm, about one count), for receivers that
// move at constant speeds (little process noise).
inline vr_pose_filter_settings matched() {
  vr_pose_filter_settings s;
  s.distance_sigma_cm = 0.005;
  s.accel_density_cm2_s3 = 10;
  s.turn_density_rad2_s3 = 0.05;
  s.jerk_density_cm2_s5 = 10;
  return s;
}

// Starts a filter from the truth at t, disturbed by the given offsets.
inline void start_near(vr_pose_filter *f, const Motion &m, double t, V3 offset, V3 turn) {
  const Pose p = m.at(t);
  double pos[3], q[4];
  array(p.pos + offset, pos);
  to_library(mul(exp_rot(turn), p.rot), q);
  vr_pose_filter_start(f, t, pos, q);
}

// Position and orientation error of the filter's prediction at t against the truth; also the
// error of a point 10 cm ahead of the receiver (where the eyes sit), which a turn moves most.
struct Error {
  double pos_cm, rot_rad, eye_cm;
};
inline Error predicted_error(const vr_pose_filter *f, const Motion &m, double t) {
  double pos[3], q[4];
  if (!vr_pose_filter_predict(f, t, pos, q)) return {INFINITY, INFINITY, INFINITY};
  const Pose truth = m.at(t);
  const Rot r = from_library(q);
  const V3 eye{0, -8, 10};
  return {norm(load(pos) - truth.pos), angle_between(r, truth.rot),
          norm(load(pos) + rotate(r, eye) - truth.pos - rotate(truth.rot, eye))};
}

}  // namespace filter_test
