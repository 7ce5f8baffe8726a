// The tracking front end's shared eye and mouse geometry (vr_track.cpp), for the sources and the
// display-time tracking. Not exported.
#pragma once

#include "vr.h"

namespace vr::track {

// The previous left and right eye points (tracker coordinates) that the 6D-report eye prediction
// extrapolates from. Read-only view for tests. (vr_track.cpp)
const double *previous_left_eye();
const double *previous_right_eye();

// The screen eye points (nodal points, plate coordinates) of a head pose, without extrapolation.
void place_eyes(vr_ctx *ctx, dmat head_to_dig);
// The same into two given points instead of VR_SCREEN_LEFT_EYE / VR_SCREEN_RIGHT_EYE.
void place_eyes(vr_ctx *ctx, dmat head_to_dig, dpt left_out, dpt right_out);
// The head sources' last step, for a source that has just written ctx->head_to_dig: the screen
// eyes from the eye offsets through the head pose and the calibration, moved along the line of
// sight to the nodal points (desk-top modes; the head-mounted mode uses head_to_dig itself).
void place_eyes_from_head(vr_ctx *ctx);
// The mouse frames and tip points that follow from a new ctx->mouse_to_dig.
void derive_mouse_frames(vr_ctx *ctx);
// The fixed handlers' eye placement from ctx->head_to_dig: each eye extrapolated one frame
// ahead along its own motion (gain from VR_PREDICT_RAMP_START/END and the frame rate), then moved
// to its nodal point. Keeps the previous eye points above.
void predict_eyes(vr_ctx *ctx, dpt left_out, dpt right_out);
// The same from a decoded pose, which becomes ctx->head_to_dig first; nothing without a pose.
void predict_eyes_from_pose(vr_ctx *ctx, vr_lt_unit *unit, const vr_lt_6d *pose, dpt left_out,
                            dpt right_out);

}  // namespace vr::track
