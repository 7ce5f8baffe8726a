// The demo's test scene, drawn with the fixed-function OpenGL pipeline.
//
// The library's view matrix goes into GL_PROJECTION exactly as vr_object_get hands it out: a
// row-vector dmat stored row-major is the column-major layout that glLoadMatrixd reads, and it
// takes world coordinates to clip coordinates. Its depth runs from +1 at the front clipping
// plane to -1 at the back one, the reverse of GL's habit, so nearer surfaces win with
// GL_GREATER against a depth buffer cleared to 0.
//
// The scene is laid out physically, in plate centimetres around the drawing window, and reaches
// world coordinates through the library's own chain plate -> coexistence -> world, which
// becomes GL_MODELVIEW: a box-shaped room behind the screen whose opening is the window, a cube
// and a sphere standing in it, a frame on the screen surface, a body floating in front of the
// screen, and the 3D mouse, whose tip is drawn where the library says it is in world
// coordinates.
#pragma once

#include <vrlib/vr.h>

#include "image.h"

namespace vrdemo {

// What one frame of the scene needs from the library, read after vr_comp_view.
struct SceneFrame {
  dmat plate_to_world{};  // plate_to_coexistence x coexistence_to_world
  double window_left_cm = 0, window_bottom_cm = 0, window_width_cm = 0, window_height_cm = 0;
  bool mouse_tip_valid = false;  // false until the mouse handler has produced a pose
  dpt mouse_tip_world{};
  dpt mouse_tip_plate{};
  dpt mouse_tip_offset{};  // the hot spot in the mouse's own frame
  bool mouse_pose_valid = false;
  dmat mouse_to_world{};  // the 3D mouse body's frame, when the context fills it
  double time_s = 0;      // animates the floating body
};

// Reads the frames, the window and the mouse from the context. The mouse counts as valid when
// its matrix is not all zero (a fresh context holds zeros until the first pose).
SceneFrame scene_frame_from_context(vr_ctx *ctx);

// Plate point to world, through the frame's chain (row vector times matrix).
void plate_to_world_point(const SceneFrame &frame, const dpt plate, dpt world);

// Clears the offscreen picture and loads the eye's view matrix, unchanged, as the projection;
// the model-view matrix is left at identity (world coordinates).
void begin_eye_view(const dmat view);

// The whole scene for one eye (call begin_eye_view first).
void draw_scene(const SceneFrame &frame);

// A flat, unlit disc parallel to the screen, centred on a plate point: the projection of such a
// disc is a disc whose centre is the projection of its centre, which makes its rendered centroid
// a sub-pixel measure of where the library puts that point.
void draw_plate_disc(const SceneFrame &frame, const dpt plate_center, double radius_cm, Rgb c);

// Background colour of begin_eye_view, for tests that look for drawn pixels.
constexpr Rgb scene_clear_colour{0, 0, 0};

}  // namespace vrdemo
