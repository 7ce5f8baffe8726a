// Internal declarations shared between the library's modules and its tests. Nothing here is
// exported from the shared libraries; tests link the static build to reach it.
#pragma once

#include "vr.h"

// View computation, private to vr_comp.
void vr_make_v(vr_ctx *ctx, const double *eye, double hither, double yon, double depth_front,
               double depth_back, dmat out, int eye_relative);
void vr_compute_coexistence_to_plate(vr_ctx *ctx);
void vr_compute_lr_plate_to_cc(vr_ctx *ctx, const double *eye, double hither, double yon,
                               int eye_selector);
void vr_correct_crt(vr_ctx *ctx, const double *eye, double x, double y, double *out_x,
                    double *out_y);

// dst = inverse of src in full double precision (partial pivoting), for the frames an
// application sets by value. False, and dst unchanged, when src has no usable inverse (a pivot
// vanishing against the matrix's largest element, or a non-finite result); src may be dst.
bool vr_mat_invert_checked(const dmat src, dmat dst);

// Graphics conventions (vr_display): keeps what one eye's world view was built from. Called by
// the view computation for every desk-top world view (eye 0 = left or only, 1 = right) with
// the eye (plate cm), its projection and the view the two made.
void vr_record_eye_split(vr_ctx *ctx, int eye, const double *eye_position, const dmat plate_to_clip,
                         const dmat view);

// What vr_ctx_create_display places for the context's screen size (also a set-up file that sets
// the screen): the leaning transmitter above the middle of the top edge, and one fixed eye
// (VR_EYE_LEFT or VR_EYE_RIGHT) centred 60 cm in front, its eye offset's x from the middle.
// Neither recomputes the eyes. (vr_display)
void vr_center_transmitter(vr_ctx *ctx);
void vr_center_screen_eye(vr_ctx *ctx, int eye);

// Physical world time (seconds, as VR_PWORLD_TIME counts it) of a reading of the platform's
// hrtime clock, for events stamped on that clock. (vr_comp)
double vr_pworld_seconds_at(long long clock_ns);

// The numbers a typed setter takes for a double or int attribute, which the set-up file reader
// takes too (one range for both): low to high, both included, less 0 where zero_refused. Some
// rows refuse more inside it (the axis mappings: their setter says which). False, with nothing
// written, for an attribute of another type or none. (vr.cpp)
struct vr_attr_range {
  double low;
  double high;
  bool zero_refused;
  bool whole;  // an int attribute
};
bool vr_attr_range_of(int id, vr_attr_range *out);

// Calibration frames, private to vr_mat.
void fake_make_plate_to_dig(double angle, double x, double y, double z, double d, dmat out);
void print_pt(const double *p, const char *label);

// Raw pose solver, private to vr_lt.
double least_sq_fit_interpolate(vr_ctx *ctx, vr_lt_unit *unit, const double time_base[16],
                                vr_lt_channel *chan, int newest_slot, double lead);
