// The view pipeline: per-frame view computation and the eye view matrix with its off-axis
// projection and CRT correction. The window and the god's-eye frame are frames
// (frames/vr_window.cpp); the clock is in base/vr_clock.cpp.
#include <climits>
#include <cmath>
#include <cstring>

#include "vr.h"
#include "vr_view_internal.h"
#include "vr_mat_internal.h"
#include "vr_pose_output.h"
#include "vr_view_safety.h"

namespace {

constexpr double no_depth_planes = 1e23;      // depth_front at or above this: no depth planes
constexpr double head_view_hither_cm = 0.05;  // clip planes of the eye-relative views,
constexpr double head_view_yon_cm = 1.5;      // in front of the eye
constexpr double head_mounted_eye_cm = 36.0;  // eye distance from each head-mounted plate

// ---------------------------------------------------------------------------------------------
// Window edges and the off-axis projection
// ---------------------------------------------------------------------------------------------

struct Edges {
  double left, right, bottom, top;  // plate cm
};

Edges window_edges(const vr_ctx *ctx) {
  const double left = ctx->window_left_cm;
  const double bottom = ctx->window_bottom_cm;
  return Edges{left, left + ctx->window_width_cm, bottom, bottom + ctx->window_height_cm};
}

// The window as the eye sees it through the face plate. Only the lower left and the upper right
// phosphor corners are corrected; the pair stands for all four edges.
Edges seen_window_edges(vr_ctx *ctx, const double *eye) {
  Edges e = window_edges(ctx);
  if (ctx->crt_correction) {
    vr_correct_crt(ctx, eye, e.left, e.bottom, &e.left, &e.bottom);
    vr_correct_crt(ctx, eye, e.right, e.top, &e.right, &e.top);
  }
  return e;
}

// Plate coordinates to clip coordinates for an eye looking through the window: the window maps
// to x, y in -1..1 after the division by w, and depth runs from +1 at hither to -1 at yon.
void off_axis_projection(const double *eye, const Edges &w, double hither, double yon, dmat p) {
  const double ex = eye[0], ey = eye[1], ez = eye[2];
  const double k = 1.0 / (ez - yon);
  const double width = w.right - w.left;
  const double height = w.top - w.bottom;
  const double depth_sum = (yon + hither) - 2.0 * ez;

  vr_mat_identity(p);
  p[0][0] = 2.0 * ez * k / width;
  p[1][1] = 2.0 * ez * k / height;
  p[2][0] = k * ((w.right + w.left) - 2.0 * ex) / width;
  p[2][1] = k * ((w.top + w.bottom) - 2.0 * ey) / height;
  p[2][2] = k * depth_sum / (yon - hither);
  p[2][3] = -k;
  p[3][0] = ez * k * (-w.right - w.left) / width;
  p[3][1] = ez * k * (-w.top - w.bottom) / height;
  p[3][2] = k * ((yon - ez) - yon * depth_sum / (yon - hither));
  p[3][3] = ez * k;
}

// Normalised depth of the plate plane z under projection p, held to -1..1.
double normalized_depth(const dmat p, double z) {
  double ndc = (p[2][2] * z + p[3][2]) / (p[2][3] * z + p[3][3]);
  if (ndc > 1.0) ndc = 1.0;
  if (ndc < -1.0) ndc = -1.0;
  return ndc;
}

// The body of vr_make_v, with the window edges already corrected for this eye, so that a frame
// that builds a world view and an eye-relative view for the same eye corrects its corners once.
void make_view(vr_ctx *ctx, const double *eye, const Edges &w, double hither, double yon,
               double depth_front, double depth_back, dmat out, int eye_relative) {
  dmat p;
  off_axis_projection(eye, w, hither, yon, p);

  if (depth_front < no_depth_planes) {
    ctx->depth_front_ndc = normalized_depth(p, depth_front);
    ctx->depth_back_ndc = normalized_depth(p, depth_back);
  }

  dmat q;
  if (eye_relative == 0) {
    vr_mat_mul_mat(ctx->coexistence_to_plate, p, q);
    vr_mat_mul_mat(ctx->world_to_coexistence, q, out);
    vr_record_eye_split(ctx, out == ctx->right_view ? 1 : 0, eye, p, out);
    return;
  }

  const double ex = eye[0], ey = eye[1], ez = eye[2];
  vr_mat_trans(ex, ey, ez, q);
  vr_mat_mul_mat(q, p, q);
  vr_mat_mul_mat(ctx->head_view_base, q, out);

  const double corners[4][2] = {
      {w.left, w.bottom}, {w.right, w.bottom}, {w.left, w.top}, {w.right, w.top}};
  for (int i = 0; i < 4; ++i) {
    double *dir = ctx->window_corner_dirs[i];
    dir[0] = corners[i][0] - ex;
    dir[1] = corners[i][1] - ey;
    dir[2] = -ez;
    vr_mat_mul_dpt(dir, ctx->corner_dir_matrix, dir);
    vr_dvector_normalize(dir);
  }
}

// Scale of the clip and depth distances: 1, or the world's scale on the plate.
double plane_scale(const vr_ctx *ctx, int scale_mode) {
  if (scale_mode != VR_PLANE_WORLD_UNITS) return 1.0;
  const dmat &w = ctx->world_to_coexistence;
  const double world_scale = std::sqrt(w[0][0] * w[0][0] + w[0][1] * w[0][1] + w[0][2] * w[0][2]);
  return std::fabs(world_scale * ctx->gods_eye_scale);
}

double plane_z(int relative, double eye_z, double scale, double distance) {
  return relative == VR_PLANE_EYE_RELATIVE ? eye_z + scale * distance : scale * distance;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Module-private entry points (vr_view_internal.h)
// ---------------------------------------------------------------------------------------------

void vr_make_v(vr_ctx *ctx, const double *eye, double hither, double yon, double depth_front,
               double depth_back, dmat out, int eye_relative) {
  make_view(ctx, eye, seen_window_edges(ctx, eye), hither, yon, depth_front, depth_back, out,
            eye_relative);
}

void vr_correct_crt(vr_ctx *ctx, const double *eye, double x, double y, double *out_x,
                    double *out_y) {
  const double ex = eye[0], ey = eye[1], ez = eye[2];
  const double cx = ctx->screen_width_cm / 2.0;
  const double cy = ctx->screen_height_cm / 2.0;
  const double rho = ctx->crt_radius;
  const double t = ctx->crt_glass_thickness;
  const double n = ctx->crt_refraction_index;
  const bool spherical = ctx->crt_curvature == 1;

  *out_x = x;
  *out_y = y;

  // Distance in the plate plane from the point below the eye; with the eye straight in front of
  // the point, or in the plate plane, there is no direction to shift along: the point stays.
  const double d = std::sqrt((x - ex) * (x - ex) + (y - ey) * (y - ey));
  if (!(d > 0.0) || ez == 0.0) return;
  const double theta = std::atan(d / ez);

  // Outer-surface normal at the point.
  const double nx = (x - cx) / rho;
  const double ny = spherical ? (y - cy) / rho : 0.0;
  double q = 1.0 - nx * nx - ny * ny;
  if (q < 0.0) q = 0.0;
  const double nz = std::sqrt(q);

  // Angle of incidence between the normal and the line of sight to the eye.
  const double to_eye = std::sqrt(d * d + ez * ez);
  double cos_i = (nx * (ex - x) + ny * (ey - y) + nz * ez) / to_eye;
  if (cos_i > 1.0) cos_i = 1.0;  // rounding of two unit vectors
  if (cos_i < -1.0) cos_i = -1.0;
  const double i = std::acos(cos_i);

  // Snell's law, and the angle of the point on the curved face from the centre of curvature.
  // Either sine outside -1..1 (a point beyond the radius of curvature, or an index too small
  // for the glass to pass the ray) has no geometric meaning: the point stays.
  const double sin_r = std::sin(i) / n;
  const double off_center =
      spherical ? std::sqrt((x - cx) * (x - cx) + (y - cy) * (y - cy)) / rho : (x - cx) / rho;
  if (!(std::fabs(sin_r) <= 1.0) || !(std::fabs(off_center) <= 1.0)) return;
  const double r = std::asin(sin_r);
  const double phi = std::asin(off_center);

  const double sag = rho * (1.0 - std::cos(phi));
  const double shift = t * (std::tan(i) - std::tan(r)) - sag * std::tan(theta);
  *out_x = x - shift * (x - ex) / d;
  *out_y = y - shift * (y - ey) / d;
}

void vr_compute_lr_plate_to_cc(vr_ctx *ctx, const double *eye, double hither, double yon,
                               int eye_selector) {
  off_axis_projection(eye, window_edges(ctx), hither, yon,
                      ctx->lr_plate_to_cc[eye_selector == 0 ? 0 : 1]);
}

void vr_compute_coexistence_to_plate(vr_ctx *ctx) {
  dmat a, b;

  if (ctx->tracking_mode != VR_TRACKING_HEAD_MOUNTED) {
    if (ctx->attributes_changed != 0 && ctx->gods_eye_center_mode != VR_GODS_EYE_KEPT) {
      consistify_coexistence_center(ctx);
      ctx->attributes_changed = 0;
    }
    if (ctx->head_to_world_wanted) {
      vr_mat_mul_mat(ctx->head_to_dig, ctx->dig_to_plate, a);
      vr_mat_mul_mat(a, ctx->plate_to_coexistence, b);
      vr_mat_mul_mat(b, ctx->coexistence_to_world, ctx->head_to_world);
    }
    if (ctx->mouse_to_world_wanted) {
      vr_mat_mul_mat(ctx->mouse_to_dig, ctx->dig_to_plate, a);
      vr_mat_mul_mat(a, ctx->plate_to_coexistence, b);
      vr_mat_mul_mat(b, ctx->coexistence_to_world, ctx->mouse_to_world);
    }
    return;
  }

  // Head-mounted: the plates ride on the head, so the views run world, coexistence, tracker,
  // head, each eye's plate, clip coordinates.
  vr_mat_inv2(ctx->head_to_dig, ctx->dig_to_head);

  vr_mat_inv2(ctx->coexistence_to_dig, a);  // tracker to coexistence
  double *up = ctx->world_up;
  up[0] = 0.0;
  up[1] = 1.0;
  up[2] = 0.0;
  vr_mat_mul_dnorm(up, ctx->head_to_dig, up);
  vr_mat_mul_dnorm(up, a, up);
  vr_mat_mul_dnorm(up, ctx->coexistence_to_world, up);

  dmat *views[2] = {&ctx->left_view, &ctx->right_view};
  for (int eye = 0; eye < 2; ++eye) {
    vr_mat_mul_mat(ctx->head_to_lr_plate[eye], ctx->lr_plate_to_cc[eye], a);
    vr_mat_mul_mat(ctx->dig_to_head, a, a);
    vr_mat_mul_mat(ctx->coexistence_to_dig, a, a);
    vr_mat_mul_mat(ctx->world_to_coexistence, a, *views[eye]);
  }

  if (ctx->head_to_world_wanted) {
    vr_mat_mul_mat(ctx->head_to_dig, ctx->dig_to_coexistence, a);
    vr_mat_mul_mat(a, ctx->coexistence_to_world, ctx->head_to_world);
  }
  if (ctx->mouse_to_world_wanted) {
    vr_mat_mul_mat(ctx->mouse_to_dig, ctx->dig_to_coexistence, a);
    vr_mat_mul_mat(a, ctx->coexistence_to_world, ctx->mouse_to_world);
  }
}

extern "C" {

// ---------------------------------------------------------------------------------------------
// Per-frame view computation
// ---------------------------------------------------------------------------------------------

VR_API void vr_comp_view(vr_ctx *ctx) {
  vr::views::begin_frame(ctx);
  vr_sync_pworld_time(ctx);
  // The mouse is read before the head.
  if (ctx->mouse_event_fn != nullptr) ctx->mouse_event_fn(ctx);
  if (ctx->glasses_event_fn != nullptr) ctx->glasses_event_fn(ctx);
  vr::net::output_frame(ctx);
  vr_cache_eye_pos(ctx);

  const double *left = ctx->left_eye;
  const double *right = ctx->right_eye;

  // Front planes take the hither's scale, back planes the yon's; one yon serves both eyes,
  // measured from the left eye when relative.
  const double front_scale = plane_scale(ctx, ctx->hither_scale_mode);
  const double hither_left = plane_z(ctx->hither_relative, left[2], front_scale, ctx->hither);
  const double hither_right = plane_z(ctx->hither_relative, right[2], front_scale, ctx->hither);
  const double front = plane_z(ctx->depth_front_relative, left[2], front_scale, ctx->depth_front);
  const double back_scale = plane_scale(ctx, ctx->yon_scale_mode);
  const double yon = plane_z(ctx->yon_relative, left[2], back_scale, ctx->yon);
  const double back = plane_z(ctx->depth_back_relative, left[2], back_scale, ctx->depth_back);

  if (ctx->tracking_mode != VR_TRACKING_HEAD_MOUNTED) {
    const Edges left_edges = seen_window_edges(ctx, left);
    make_view(ctx, left, left_edges, hither_left, yon, front, back, ctx->left_view, 0);
    Edges right_edges{};
    if (ctx->stereo) {
      right_edges = seen_window_edges(ctx, right);
      make_view(ctx, right, right_edges, hither_right, yon, no_depth_planes, no_depth_planes,
                ctx->right_view, 0);
    }
    if (ctx->head_relative_views) {
      make_view(ctx, left, left_edges, left[2] - head_view_hither_cm, left[2] - head_view_yon_cm,
                no_depth_planes, no_depth_planes, ctx->left_head_view, 1);
      if (ctx->stereo) {
        make_view(ctx, right, right_edges, right[2] - head_view_hither_cm,
                  right[2] - head_view_yon_cm, no_depth_planes, no_depth_planes,
                  ctx->right_head_view, 1);
      }
    }
  } else {
    // Each eye sits at a fixed distance in front of the centre of its own plate.
    const dpt eye = {ctx->window_center[0], ctx->window_center[1], head_mounted_eye_cm};
    vr_compute_lr_plate_to_cc(ctx, eye, hither_left, yon, 0);
    if (ctx->stereo) vr_compute_lr_plate_to_cc(ctx, eye, hither_right, yon, 1);
  }

  vr_compute_coexistence_to_plate(ctx);
  vr::views::keep_finite(ctx, {hither_left, hither_right, yon});
}

}  // extern "C"
