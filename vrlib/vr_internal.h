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

// Physical world time (seconds, as VR_PWORLD_TIME counts it) of a reading of the platform's
// hrtime clock, for events stamped on that clock. (vr_comp)
double vr_pworld_seconds_at(long long clock_ns);

// Calibration frames, private to vr_mat.
void fake_make_plate_to_dig(double angle, double x, double y, double z, double d, dmat out);
void print_pt(const double *p, const char *label);

// Raw pose solver, private to vr_lt.
double least_sq_fit_interpolate(vr_ctx *ctx, vr_lt_unit *unit, const double time_base[16],
                                vr_lt_channel *chan, int newest_slot, double lead);
