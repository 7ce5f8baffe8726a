// Walls of screens: several screens placed in one room frame, each with a context of its own
// whose world is the room, so that every screen draws the same room from the same tracked head.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "vr.h"

namespace {

constexpr double rigid_tolerance = 1e-6;

bool positive_finite(double v) {
  return std::isfinite(v) && v > 0.0;
}

// A rotation with a translation: orthonormal right-handed axes, nothing in the last column.
bool rigid(const dmat m) {
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      if (!std::isfinite(m[i][j])) return false;
  if (m[0][3] != 0.0 || m[1][3] != 0.0 || m[2][3] != 0.0 || m[3][3] != 1.0) return false;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      const double dot = m[i][0] * m[j][0] + m[i][1] * m[j][1] + m[i][2] * m[j][2];
      if (std::fabs(dot - (i == j ? 1.0 : 0.0)) > rigid_tolerance) return false;
    }
  const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                     m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                     m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
  return det > 0.0;
}

// A plate whose x axis, y axis and normal are the given room directions, lower-left corner at
// `origin`.
void place(const dpt x_axis, const dpt normal, const dpt origin, dmat out) {
  vr_mat_identity(out);
  const dpt y_axis = {0.0, 1.0, 0.0};
  for (int j = 0; j < 3; ++j) {
    out[0][j] = x_axis[j];
    out[1][j] = y_axis[j];
    out[2][j] = normal[j];
    out[3][j] = origin[j];
  }
}

}  // namespace

extern "C" {

VR_API vr_ctx *vr_ctx_create_wall_screen(const vr_wall_screen *screen, const dmat tracker_to_room) {
  if (!screen || !rigid(screen->plate_to_room) || (tracker_to_room && !rigid(tracker_to_room)) ||
      !std::isfinite(screen->gaze_room[0]) || !std::isfinite(screen->gaze_room[1]) ||
      !std::isfinite(screen->gaze_room[2])) {
    std::fprintf(stderr,
                 "vr_ctx_create_wall_screen: no screen, a placement that is not rigid or a gaze "
                 "point that is not finite\n");
    return nullptr;
  }
  vr_ctx *ctx = vr_ctx_create_display(screen->width_cm, screen->height_cm, screen->width_px,
                                      screen->height_px, VR_DISPLAY_FLAT_PANEL);
  if (!ctx) return nullptr;
  dmat plate_to_room, room_to_plate, dig_to_plate;
  std::memcpy(plate_to_room, screen->plate_to_room, sizeof(dmat));
  vr_mat_inv2(plate_to_room, room_to_plate);
  if (tracker_to_room) {
    dmat t;
    std::memcpy(t, tracker_to_room, sizeof(dmat));
    vr_mat_mul_mat(t, room_to_plate, dig_to_plate);
  } else {
    std::memcpy(dig_to_plate, room_to_plate, sizeof(dmat));
  }
  if (vr_world_in_plate_cm(ctx) != VR_OK ||
      vr_set_matrix(ctx, VR_WORLD_TO_COEXISTENCE, room_to_plate) != VR_OK ||
      vr_set_matrix(ctx, VR_DIG_TO_PLATE, dig_to_plate) != VR_OK ||
      vr_set_int(ctx, VR_GAZE_MODE, VR_GAZE_MOUSE_TIP) != VR_OK) {
    std::free(ctx);
    return nullptr;
  }
  vr_mat_mul_dpt(screen->gaze_room, room_to_plate, ctx->mouse_tip_plate);
  return ctx;
}

VR_API vr_result vr_wall_cave(double width_cm, double height_cm, int width_px, int height_px,
                              vr_wall_screen out[3]) {
  if (!out || !positive_finite(width_cm) || !positive_finite(height_cm) || width_px <= 0 ||
      height_px <= 0)
    return VR_ERR_BAD_VALUE;
  const double h = width_cm / 2.0;
  // Each screen's x axis runs along the floor square's side, its normal into the room.
  const dpt x_axes[3] = {{0.0, 0.0, -1.0}, {1.0, 0.0, 0.0}, {0.0, 0.0, 1.0}};
  const dpt normals[3] = {{1.0, 0.0, 0.0}, {0.0, 0.0, 1.0}, {-1.0, 0.0, 0.0}};
  const dpt origins[3] = {{-h, 0.0, h}, {-h, 0.0, -h}, {h, 0.0, -h}};
  for (int i = 0; i < 3; ++i) {
    place(x_axes[i], normals[i], origins[i], out[i].plate_to_room);
    out[i].width_cm = width_cm;
    out[i].height_cm = height_cm;
    out[i].width_px = width_px;
    out[i].height_px = height_px;
    out[i].gaze_room[0] = 0.0;
    out[i].gaze_room[1] = height_cm / 2.0;
    out[i].gaze_room[2] = 0.0;
  }
  return VR_OK;
}

}  // extern "C"
