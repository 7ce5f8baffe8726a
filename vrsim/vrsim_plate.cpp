// Truth poses given in a context's plate coordinates: the head by its eye midpoint and the mouse by
// its tip, each with an orientation relative to the screen. They are converted into the
// sensor-to-dig poses the devices measure, through the context's calibration (dig_to_plate), eye
// offsets and mouse tip offset, so that the library, tracking them, reports the given points back.
#include <cmath>
#include <cstring>

#include "vrsim_internal.h"

using namespace vrsim_detail;

namespace {

// The default viewer: eyes centred on the screen, this far in front of it; the default mouse tip
// on the screen's centre line, this far in front of it.
constexpr double default_viewing_distance_cm = 60.0;
constexpr double default_mouse_tip_distance_cm = 30.0;

// The library's eye model: each tracked eye point moves this far along its line of sight to the
// gaze target (the eye's centre of rotation to its nodal point), and the gaze modes.
constexpr double nodal_step_cm = 1.1;
constexpr int gaze_at_window_centre = 1;

// A quaternion shorter than this is no rotation at all.
constexpr double min_quat_norm = 1e-9;

bool finite3(const double *p) {
  return std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]);
}

bool finite_mat(const dmat m) {
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      if (!std::isfinite(m[i][j])) return false;
  return true;
}

// The row-vector rotation matrix of a unit quaternion q = (x, y, z, w) in the right-hand sense:
// the frame's axis i, in the outer frame, is row i. An absent quaternion is the identity.
bool rotation_of(const double *q, dmat out) {
  mat_identity(out);
  if (!q) return true;
  const double n = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
  if (!std::isfinite(n) || n < min_quat_norm) return false;
  const double x = q[0] / n, y = q[1] / n, z = q[2] / n, w = q[3] / n;
  out[0][0] = 1 - 2 * (y * y + z * z);
  out[0][1] = 2 * (x * y + w * z);
  out[0][2] = 2 * (x * z - w * y);
  out[1][0] = 2 * (x * y - w * z);
  out[1][1] = 1 - 2 * (x * x + z * z);
  out[1][2] = 2 * (y * z + w * x);
  out[2][0] = 2 * (x * z + w * y);
  out[2][1] = 2 * (y * z - w * x);
  out[2][2] = 1 - 2 * (x * x + y * y);
  return true;
}

void mat_mul(const dmat a, const dmat b, dmat out) {
  dmat r;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      r[i][j] = a[i][0] * b[0][j] + a[i][1] * b[1][j] + a[i][2] * b[2][j] + a[i][3] * b[3][j];
  std::memcpy(out, r, sizeof r);
}

// The inverse of an affine matrix; false when it is singular or not affine (last column other
// than 0, 0, 0, 1).
bool affine_inverse(const dmat m, dmat out) {
  if (m[0][3] != 0.0 || m[1][3] != 0.0 || m[2][3] != 0.0 || m[3][3] != 1.0) return false;
  const double c00 = m[1][1] * m[2][2] - m[1][2] * m[2][1];
  const double c01 = m[1][2] * m[2][0] - m[1][0] * m[2][2];
  const double c02 = m[1][0] * m[2][1] - m[1][1] * m[2][0];
  const double det = m[0][0] * c00 + m[0][1] * c01 + m[0][2] * c02;
  if (!std::isfinite(det) || std::fabs(det) < 1e-12) return false;
  dmat r;
  mat_identity(r);
  r[0][0] = c00 / det;
  r[1][0] = c01 / det;
  r[2][0] = c02 / det;
  r[0][1] = (m[0][2] * m[2][1] - m[0][1] * m[2][2]) / det;
  r[1][1] = (m[0][0] * m[2][2] - m[0][2] * m[2][0]) / det;
  r[2][1] = (m[0][1] * m[2][0] - m[0][0] * m[2][1]) / det;
  r[0][2] = (m[0][1] * m[1][2] - m[0][2] * m[1][1]) / det;
  r[1][2] = (m[0][2] * m[1][0] - m[0][0] * m[1][2]) / det;
  r[2][2] = (m[0][0] * m[1][1] - m[0][1] * m[1][0]) / det;
  for (int j = 0; j < 3; ++j)
    r[3][j] = -(m[3][0] * r[0][j] + m[3][1] * r[1][j] + m[3][2] * r[2][j]);
  std::memcpy(out, r, sizeof r);
  return true;
}

// The sensor-to-dig pose that puts the sensor-frame point `offset` at plate point `at`, with the
// sensor frame turned by q against the plate.
bool pose_from_plate(const vr_ctx *ctx, const dpt offset, const double *at, const double *q,
                     dmat out) {
  if (!ctx || !at || !finite3(at) || !finite3(offset) || !finite_mat(ctx->dig_to_plate))
    return false;
  dmat sensor_to_plate, plate_to_dig;
  if (!rotation_of(q, sensor_to_plate) || !affine_inverse(ctx->dig_to_plate, plate_to_dig))
    return false;
  dpt turned;
  point_through(offset, sensor_to_plate, turned);  // no translation yet: only turned
  for (int j = 0; j < 3; ++j) sensor_to_plate[3][j] = at[j] - turned[j];
  dmat pose;
  mat_mul(sensor_to_plate, plate_to_dig, pose);
  if (!finite_mat(pose)) return false;
  std::memcpy(out, pose, sizeof pose);
  return true;
}

void eye_midpoint_offset(const vr_ctx *ctx, dpt out) {
  for (int j = 0; j < 3; ++j) out[j] = (ctx->left_eye_offset[j] + ctx->right_eye_offset[j]) / 2.0;
}

// The scripted variant: the plate pose at time t, converted through the context as it is now.
void plate_script_pose(void *user, double t, dmat out) {
  const PlateScript &s = *static_cast<const PlateScript *>(user);
  dpt at = {0.0, 0.0, 0.0};
  dquat q = {0.0, 0.0, 0.0, 1.0};
  s.fn(s.user, t, at, q);
  bool ok = s.which == VRSIM_HEAD ? vrsim_head_pose_from_plate(s.ctx, at, q, out)
                                  : vrsim_mouse_pose_from_plate(s.ctx, at, q, out);
  if (!ok) std::memcpy(out, s.fallback, sizeof(dmat));
}

}  // namespace

extern "C" {

VRSIM_API void vrsim_default_head_plate(const vr_ctx *ctx, dpt eye_mid) {
  if (!ctx || !eye_mid) return;
  eye_mid[0] = ctx->screen_width_cm / 2.0;
  eye_mid[1] = ctx->screen_height_cm / 2.0;
  eye_mid[2] = default_viewing_distance_cm;
}

VRSIM_API void vrsim_default_mouse_tip_plate(const vr_ctx *ctx, dpt tip) {
  if (!ctx || !tip) return;
  tip[0] = ctx->screen_width_cm / 2.0;
  tip[1] = ctx->screen_height_cm / 2.0;
  tip[2] = default_mouse_tip_distance_cm;
}

VRSIM_API void vrsim_orientation_from_angles(double yaw, double pitch, double roll, dquat out) {
  if (!out) return;
  // q = q_yaw (about y) x q_pitch (about x) x q_roll (about z): roll acts first, yaw last.
  const double cy = std::cos(yaw / 2), sy = std::sin(yaw / 2);
  const double cp = std::cos(pitch / 2), sp = std::sin(pitch / 2);
  const double cr = std::cos(roll / 2), sr = std::sin(roll / 2);
  // q_yaw x q_pitch = (cy sp, sy cp, -sy sp, cy cp)
  const double ax = cy * sp, ay = sy * cp, az = -sy * sp, aw = cy * cp;
  // ... x q_roll, q_roll = (0, 0, sr, cr)
  out[0] = ax * cr + ay * sr;
  out[1] = ay * cr - ax * sr;
  out[2] = az * cr + aw * sr;
  out[3] = aw * cr - az * sr;
}

VRSIM_API int vrsim_head_pose_from_plate(const vr_ctx *ctx, const dpt eye_mid,
                                         const dquat orientation, dmat sensor_to_dig) {
  if (!ctx || !sensor_to_dig) return 0;
  dpt mid;
  eye_midpoint_offset(ctx, mid);
  return pose_from_plate(ctx, mid, eye_mid, orientation, sensor_to_dig) ? 1 : 0;
}

VRSIM_API int vrsim_mouse_pose_from_plate(const vr_ctx *ctx, const dpt tip, const dquat orientation,
                                          dmat sensor_to_dig) {
  if (!ctx || !sensor_to_dig) return 0;
  return pose_from_plate(ctx, ctx->mouse_tip_offset, tip, orientation, sensor_to_dig) ? 1 : 0;
}

VRSIM_API int vrsim_set_head_plate(vrsim *sim, const vr_ctx *ctx, const dpt eye_mid,
                                   const dquat orientation) {
  if (!sim || !ctx) return 0;
  dpt mid;
  if (!eye_mid) {
    vrsim_default_head_plate(ctx, mid);
    eye_mid = mid;
  }
  dmat pose;
  if (!vrsim_head_pose_from_plate(ctx, eye_mid, orientation, pose)) return 0;
  vrsim_set_pose(sim, VRSIM_HEAD, pose);
  return 1;
}

VRSIM_API int vrsim_set_mouse_tip_plate(vrsim *sim, const vr_ctx *ctx, const dpt tip,
                                        const dquat orientation) {
  if (!sim || !ctx) return 0;
  dpt at;
  if (!tip) {
    vrsim_default_mouse_tip_plate(ctx, at);
    tip = at;
  }
  dmat pose;
  if (!vrsim_mouse_pose_from_plate(ctx, tip, orientation, pose)) return 0;
  vrsim_set_pose(sim, VRSIM_MOUSE, pose);
  return 1;
}

VRSIM_API int vrsim_set_plate_fn(vrsim *sim, int which, const vr_ctx *ctx, vrsim_plate_pose_fn fn,
                                 void *user) {
  if (!sim || !ctx || !fn || (which != VRSIM_HEAD && which != VRSIM_MOUSE)) return 0;
  PlateScript &s = sim->plate_script[which];
  s.ctx = ctx;
  s.fn = fn;
  s.user = user;
  s.which = which;
  std::memcpy(s.fallback, sim->truth[which].fixed, sizeof(dmat));
  vrsim_set_pose_fn(sim, which, plate_script_pose, &s);
  return 1;
}

VRSIM_API void vrsim_plate_eyes(const vr_ctx *ctx, const dpt eye_mid, const dquat orientation,
                                dpt left, dpt right) {
  if (!ctx || !left || !right) return;
  dpt mid;
  if (!eye_mid) {
    vrsim_default_head_plate(ctx, mid);
    eye_mid = mid;
  }
  dmat head_to_dig, head_to_plate;
  if (!vrsim_head_pose_from_plate(ctx, eye_mid, orientation, head_to_dig)) return;
  mat_mul(head_to_dig, ctx->dig_to_plate, head_to_plate);
  const double *target =
      ctx->gaze_mode == gaze_at_window_centre ? ctx->window_center : ctx->mouse_tip_plate;
  const double *offset[2] = {ctx->left_eye_offset, ctx->right_eye_offset};
  double *out[2] = {left, right};
  for (int e = 0; e < 2; ++e) {
    dpt eye, gaze;
    point_through(offset[e], head_to_plate, eye);
    for (int j = 0; j < 3; ++j) gaze[j] = target[j] - eye[j];
    const double len = std::sqrt(gaze[0] * gaze[0] + gaze[1] * gaze[1] + gaze[2] * gaze[2]);
    for (int j = 0; j < 3; ++j) out[e][j] = eye[j] + (len > 0 ? nodal_step_cm * gaze[j] / len : 0);
  }
}

}  // extern "C"
