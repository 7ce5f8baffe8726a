#include "scene.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace vrdemo {

namespace {

constexpr double room_depth_cm = 30.0;   // the room behind the screen
constexpr double grid_step_cm = 5.0;     // lines on the room's walls
constexpr double frame_band_cm = 0.6;    // width of the frame drawn on the screen surface
constexpr double bezel_cm = 4.0;         // the dark surround outside the window
constexpr double stylus_cm = 5.0;        // length of the 3D cursor's stylus
constexpr double tip_ball_cm = 0.7;      // radius of the 3D cursor's ball
constexpr double float_height_cm = 9.0;  // how far the floating body sits in front of the screen

struct Colour {
  float r, g, b;
};

void colour(Colour c) {
  glColor3f(c.r, c.g, c.b);
}

bool all_zero(const dmat m) {
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c)
      if (m[r][c] != 0.0) return false;
  return true;
}

// An axis-aligned quad given by its four corners in order, with its normal.
void quad(const double a[3], const double b[3], const double c[3], const double d[3], double nx,
          double ny, double nz) {
  glNormal3d(nx, ny, nz);
  glVertex3dv(a);
  glVertex3dv(b);
  glVertex3dv(c);
  glVertex3dv(d);
}

// A box centred at the current model-view origin with half sizes hx, hy, hz.
void box(double hx, double hy, double hz) {
  const double p[8][3] = {{-hx, -hy, -hz}, {hx, -hy, -hz}, {hx, hy, -hz}, {-hx, hy, -hz},
                          {-hx, -hy, hz},  {hx, -hy, hz},  {hx, hy, hz},  {-hx, hy, hz}};
  glBegin(GL_QUADS);
  quad(p[4], p[5], p[6], p[7], 0, 0, 1);
  quad(p[1], p[0], p[3], p[2], 0, 0, -1);
  quad(p[5], p[1], p[2], p[6], 1, 0, 0);
  quad(p[0], p[4], p[7], p[3], -1, 0, 0);
  quad(p[7], p[6], p[2], p[3], 0, 1, 0);
  quad(p[0], p[1], p[5], p[4], 0, -1, 0);
  glEnd();
}

void sphere(double radius, int slices, int stacks) {
  const double pi = std::numbers::pi;
  for (int i = 0; i < stacks; ++i) {
    const double t0 = pi * i / stacks - pi / 2, t1 = pi * (i + 1) / stacks - pi / 2;
    glBegin(GL_QUAD_STRIP);
    for (int j = 0; j <= slices; ++j) {
      const double a = 2 * pi * j / slices;
      for (double t : {t1, t0}) {
        const double n[3] = {std::cos(t) * std::cos(a), std::sin(t), std::cos(t) * std::sin(a)};
        glNormal3dv(n);
        glVertex3d(radius * n[0], radius * n[1], radius * n[2]);
      }
    }
    glEnd();
  }
}

// A regular octahedron with flat faces, vertices at distance r on the axes.
void octahedron(double r) {
  const double v[6][3] = {{r, 0, 0}, {-r, 0, 0}, {0, r, 0}, {0, -r, 0}, {0, 0, r}, {0, 0, -r}};
  const int faces[8][3] = {{0, 2, 4}, {2, 1, 4}, {1, 3, 4}, {3, 0, 4},
                           {2, 0, 5}, {1, 2, 5}, {3, 1, 5}, {0, 3, 5}};
  glBegin(GL_TRIANGLES);
  for (const auto &f : faces) {
    const double *a = v[f[0]], *b = v[f[1]], *c = v[f[2]];
    glNormal3d((a[0] + b[0] + c[0]) / 3, (a[1] + b[1] + c[1]) / 3, (a[2] + b[2] + c[2]) / 3);
    glVertex3dv(a);
    glVertex3dv(b);
    glVertex3dv(c);
  }
  glEnd();
}

// Sets up one directional light from the upper front left of the viewer, in plate directions
// carried to world by the frame's chain (the model-view matrix must be the identity here).
void set_up_lighting(const SceneFrame &frame) {
  double d[3] = {-0.35, 0.8, 0.5};
  double w[3];
  for (int c = 0; c < 3; ++c)
    w[c] = d[0] * frame.plate_to_world[0][c] + d[1] * frame.plate_to_world[1][c] +
           d[2] * frame.plate_to_world[2][c];
  const GLfloat position[4] = {static_cast<GLfloat>(w[0]), static_cast<GLfloat>(w[1]),
                               static_cast<GLfloat>(w[2]), 0.0f};
  const GLfloat ambient[4] = {0.38f, 0.38f, 0.40f, 1.0f};
  const GLfloat diffuse[4] = {0.75f, 0.75f, 0.72f, 1.0f};
  glLightfv(GL_LIGHT0, GL_POSITION, position);
  glLightfv(GL_LIGHT0, GL_AMBIENT, ambient);
  glLightfv(GL_LIGHT0, GL_DIFFUSE, diffuse);
  const GLfloat no_ambient[4] = {0, 0, 0, 1};
  glLightModelfv(GL_LIGHT_MODEL_AMBIENT, no_ambient);
  glEnable(GL_LIGHT0);
  glEnable(GL_NORMALIZE);
  glColorMaterial(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE);
  glEnable(GL_COLOR_MATERIAL);
}

// The room behind the screen: five walls with their grid lines. Its opening is the window, so
// the room's edges meet the frame on the screen surface.
void draw_room(double l, double b, double r, double t) {
  const double z = -room_depth_cm;
  glEnable(GL_LIGHTING);
  // The walls are pushed back in depth so that the grid lines on them always win. Nearer is a
  // larger depth value here, so pushing back takes a negative offset.
  glEnable(GL_POLYGON_OFFSET_FILL);
  glPolygonOffset(-1.0f, -2.0f);
  glBegin(GL_QUADS);
  const double lb0[3] = {l, b, 0}, rb0[3] = {r, b, 0}, rt0[3] = {r, t, 0}, lt0[3] = {l, t, 0};
  const double lb1[3] = {l, b, z}, rb1[3] = {r, b, z}, rt1[3] = {r, t, z}, lt1[3] = {l, t, z};
  colour({0.55f, 0.50f, 0.46f});  // floor
  quad(lb0, rb0, rb1, lb1, 0, 1, 0);
  colour({0.42f, 0.45f, 0.52f});  // ceiling
  quad(lt1, rt1, rt0, lt0, 0, -1, 0);
  colour({0.40f, 0.46f, 0.55f});  // left wall
  quad(lb0, lb1, lt1, lt0, 1, 0, 0);
  colour({0.46f, 0.42f, 0.52f});  // right wall
  quad(rb1, rb0, rt0, rt1, -1, 0, 0);
  colour({0.36f, 0.38f, 0.46f});  // back wall
  quad(lb1, rb1, rt1, lt1, 0, 0, 1);
  glEnd();
  glDisable(GL_POLYGON_OFFSET_FILL);

  glDisable(GL_LIGHTING);
  glLineWidth(1.0f);
  colour({0.80f, 0.82f, 0.86f});
  // One segment, inside GL_LINES.
  auto line = [](double x0, double y0, double z0, double x1, double y1, double z1) {
    glVertex3d(x0, y0, z0);
    glVertex3d(x1, y1, z1);
  };
  glBegin(GL_LINES);
  // Lines running into depth on floor, ceiling and side walls, every grid step along the wall.
  for (double x = l; x <= r + 1e-9; x += grid_step_cm) {
    line(x, b, 0, x, b, z);
    line(x, t, 0, x, t, z);
  }
  for (double y = b; y <= t + 1e-9; y += grid_step_cm) {
    line(l, y, 0, l, y, z);
    line(r, y, 0, r, y, z);
  }
  // Rings of constant depth around the room.
  for (double d = 0; d >= z - 1e-9; d -= grid_step_cm) {
    line(l, b, d, r, b, d);
    line(r, b, d, r, t, d);
    line(r, t, d, l, t, d);
    line(l, t, d, l, b, d);
  }
  // The grid on the back wall.
  for (double x = l; x <= r + 1e-9; x += grid_step_cm) line(x, b, z, x, t, z);
  for (double y = b; y <= t + 1e-9; y += grid_step_cm) line(l, y, z, r, y, z);
  glEnd();
}

// A band around the window's edge on the screen surface, and a cross at its centre: everything
// here has zero parallax, so the left and right views draw it on the same pixels. Outside the
// window lies a dark bezel: with the face-plate correction on, the window's edges are seen
// slightly displaced, and the bezel, not the empty background, shows in the margin.
void draw_screen_frame(double l, double b, double r, double t) {
  const double w = frame_band_cm, o = bezel_cm;
  // One rectangle on the screen surface, inside GL_QUADS.
  auto rect = [](double x0, double y0, double x1, double y1) {
    glVertex3d(x0, y0, 0);
    glVertex3d(x1, y0, 0);
    glVertex3d(x1, y1, 0);
    glVertex3d(x0, y1, 0);
  };
  glDisable(GL_LIGHTING);
  glBegin(GL_QUADS);
  colour({0.16f, 0.16f, 0.18f});
  rect(l - o, b - o, r + o, b);
  rect(l - o, t, r + o, t + o);
  rect(l - o, b, l, t);
  rect(r, b, r + o, t);
  colour({0.96f, 0.92f, 0.70f});
  rect(l, b, r, b + w);
  rect(l, t - w, r, t);
  rect(l, b, l + w, t);
  rect(r - w, b, r, t);
  const double cx = (l + r) / 2, cy = (b + t) / 2, arm = 1.2, half = 0.08;
  rect(cx - arm, cy - half, cx + arm, cy + half);
  rect(cx - half, cy - arm, cx + half, cy + arm);
  glEnd();
}

void draw_props(const SceneFrame &frame, double l, double b, double r, double t) {
  const double cx = (l + r) / 2, cy = (b + t) / 2;
  glEnable(GL_LIGHTING);
  // Behind the screen: a cube standing on the floor and a ball further back.
  glPushMatrix();
  glTranslated(cx - 8.0, b + 3.5, -14.0);
  glRotated(28.0, 0, 1, 0);
  colour({0.92f, 0.58f, 0.25f});
  box(3.5, 3.5, 3.5);
  glPopMatrix();

  glPushMatrix();
  glTranslated(cx + 9.0, b + 5.0, -22.0);
  colour({0.35f, 0.75f, 0.55f});
  sphere(5.0, 32, 16);
  glPopMatrix();

  // In front of the screen: a slowly turning body floating over the window's centre.
  glPushMatrix();
  glTranslated(cx + 3.0, cy + 1.5, float_height_cm);
  glRotated(frame.time_s * 40.0, 0.2, 1.0, 0.1);
  colour({0.95f, 0.85f, 0.30f});
  octahedron(3.0);
  glPopMatrix();
}

// The 3D mouse as a 3D cursor: a ball at the hot spot, at the world point the library reports,
// and a short stylus back along the mouse's own axis (from the mouse frame the library reports),
// which shows how the mouse is held. The physical mouse is in the viewer's hand, so its body is
// not drawn. A thin line from the hot spot straight to the screen surface, ending in a small
// ring there, shows how far in front of (or behind) the screen the hot spot is.
void draw_mouse(const SceneFrame &frame) {
  if (!frame.mouse_tip_valid) return;
  if (frame.mouse_pose_valid) {
    const double *tip = frame.mouse_tip_offset;
    const double len = std::sqrt(tip[0] * tip[0] + tip[1] * tip[1] + tip[2] * tip[2]);
    const double k = len > 0 ? std::max(0.0, 1.0 - stylus_cm / len) : 1.0;
    glLoadMatrixd(&frame.mouse_to_world[0][0]);
    glDisable(GL_LIGHTING);
    glLineWidth(4.0f);
    colour({0.62f, 0.68f, 0.80f});
    glBegin(GL_LINES);
    glVertex3d(tip[0] * k, tip[1] * k, tip[2] * k);
    glVertex3d(tip[0], tip[1], tip[2]);
    glEnd();
    glLineWidth(1.0f);
  }
  // World units per centimetre: the length of the chain's first row.
  const double *row = frame.plate_to_world[0];
  const double world_per_cm = std::sqrt(row[0] * row[0] + row[1] * row[1] + row[2] * row[2]);
  glLoadIdentity();
  glPushMatrix();
  glTranslated(frame.mouse_tip_world[0], frame.mouse_tip_world[1], frame.mouse_tip_world[2]);
  glEnable(GL_LIGHTING);
  colour({1.0f, 1.0f, 1.0f});
  sphere(tip_ball_cm * world_per_cm, 20, 10);
  glPopMatrix();

  const double *p = frame.mouse_tip_plate;
  glLoadMatrixd(&frame.plate_to_world[0][0]);
  glDisable(GL_LIGHTING);
  colour({0.85f, 0.85f, 0.88f});
  glBegin(GL_LINES);
  glVertex3d(p[0], p[1], p[2]);
  glVertex3d(p[0], p[1], 0.0);
  glEnd();
  glBegin(GL_LINE_LOOP);
  for (int i = 0; i < 24; ++i) {
    const double a = 2 * std::numbers::pi * i / 24;
    glVertex3d(p[0] + 0.5 * std::cos(a), p[1] + 0.5 * std::sin(a), 0.0);
  }
  glEnd();
  glLoadIdentity();
}

}  // namespace

SceneFrame scene_frame_from_context(vr_ctx *ctx) {
  SceneFrame f;
  dmat *plate_to_coexistence = nullptr, *coexistence_to_world = nullptr;
  vr_object_get(ctx, VR_PLATE_TO_COEXISTENCE, &plate_to_coexistence);
  vr_object_get(ctx, VR_COEXISTENCE_TO_WORLD, &coexistence_to_world);
  vr_mat_mul_mat(*plate_to_coexistence, *coexistence_to_world, f.plate_to_world);
  // The window in plate centimetres: its centre and the cm size of its pixels give the rest.
  double width_px = 0, height_px = 0, screen_w_cm = 0, screen_h_cm = 0, screen_w_px = 0,
         screen_h_px = 0;
  dpt centre{};
  vr_object_get(ctx, VR_WINDOW_WIDTH, &width_px);
  vr_object_get(ctx, VR_WINDOW_HEIGHT, &height_px);
  vr_object_get(ctx, VR_SCREEN_WIDTH_CM, &screen_w_cm);
  vr_object_get(ctx, VR_SCREEN_HEIGHT_CM, &screen_h_cm);
  vr_object_get(ctx, VR_SCREEN_WIDTH_PIXELS, &screen_w_px);
  vr_object_get(ctx, VR_SCREEN_HEIGHT_PIXELS, &screen_h_px);
  vr_object_get(ctx, VR_WINDOW_CENTER, centre);
  f.window_width_cm = width_px * screen_w_cm / screen_w_px;
  f.window_height_cm = height_px * screen_h_cm / screen_h_px;
  f.window_left_cm = centre[0] - f.window_width_cm / 2;
  f.window_bottom_cm = centre[1] - f.window_height_cm / 2;

  dmat *mouse_to_dig = nullptr, *mouse_to_world = nullptr;
  vr_object_get(ctx, VR_MOUSE_TO_DIG, &mouse_to_dig);
  f.mouse_tip_valid = !all_zero(*mouse_to_dig);
  vr_object_get(ctx, VR_MOUSE_TIP_WORLD, f.mouse_tip_world);
  vr_object_get(ctx, VR_MOUSE_TIP_PLATE, f.mouse_tip_plate);
  vr_object_get(ctx, VR_MOUSE_TIP_OFFSET, f.mouse_tip_offset);
  vr_object_get(ctx, VR_MOUSE_TO_WORLD, &mouse_to_world);
  f.mouse_pose_valid = f.mouse_tip_valid && !all_zero(*mouse_to_world);
  if (f.mouse_pose_valid) vr_mat_copy(*mouse_to_world, f.mouse_to_world);
  double *time_block = nullptr;  // now, previous, interval, base
  vr_object_get(ctx, VR_PWORLD_TIME, &time_block);
  f.time_s = time_block[0];
  return f;
}

void plate_to_world_point(const SceneFrame &frame, const dpt plate, dpt world) {
  for (int c = 0; c < 3; ++c)
    world[c] = plate[0] * frame.plate_to_world[0][c] + plate[1] * frame.plate_to_world[1][c] +
               plate[2] * frame.plate_to_world[2][c] + frame.plate_to_world[3][c];
}

void begin_eye_view(const dmat view) {
  glClearColor(scene_clear_colour.r / 255.0f, scene_clear_colour.g / 255.0f,
               scene_clear_colour.b / 255.0f, 1.0f);
  glClearDepth(0.0);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glEnable(GL_DEPTH_TEST);
  glDepthFunc(GL_GREATER);
  glDisable(GL_CULL_FACE);
  glShadeModel(GL_SMOOTH);
  glMatrixMode(GL_PROJECTION);
  glLoadMatrixd(&view[0][0]);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
}

void draw_scene(const SceneFrame &frame) {
  const double l = frame.window_left_cm, b = frame.window_bottom_cm;
  const double r = l + frame.window_width_cm, t = b + frame.window_height_cm;
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  set_up_lighting(frame);
  glLoadMatrixd(&frame.plate_to_world[0][0]);
  draw_room(l, b, r, t);
  draw_screen_frame(l, b, r, t);
  draw_props(frame, l, b, r, t);
  glLoadIdentity();
  draw_mouse(frame);
  glDisable(GL_LIGHTING);
  glLoadIdentity();
}

void draw_plate_disc(const SceneFrame &frame, const dpt plate_center, double radius_cm, Rgb c) {
  glMatrixMode(GL_MODELVIEW);
  glLoadMatrixd(&frame.plate_to_world[0][0]);
  glDisable(GL_LIGHTING);
  glColor3ub(c.r, c.g, c.b);
  constexpr int segments = 48;
  glBegin(GL_TRIANGLE_FAN);
  glVertex3d(plate_center[0], plate_center[1], plate_center[2]);
  for (int i = 0; i <= segments; ++i) {
    const double a = 2 * std::numbers::pi * i / segments;
    glVertex3d(plate_center[0] + radius_cm * std::cos(a), plate_center[1] + radius_cm * std::sin(a),
               plate_center[2]);
  }
  glEnd();
  glLoadIdentity();
}

}  // namespace vrdemo
