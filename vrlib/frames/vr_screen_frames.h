// What a screen of a given size places in front of it (frames/vr_calib_frames.cpp), for the
// display presets and the set-up file reader. Not exported.
#pragma once

#include "vr.h"

// What vr_ctx_create_display places for the context's screen size (also a set-up file that sets
// the screen): the leaning transmitter above the middle of the top edge, and one fixed eye
// (VR_EYE_LEFT or VR_EYE_RIGHT) centred 60 cm in front, its eye offset's x from the middle.
// Neither recomputes the eyes.
void vr_center_transmitter(vr_ctx *ctx);
void vr_center_screen_eye(vr_ctx *ctx, int eye);
