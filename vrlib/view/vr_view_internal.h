// The view pipeline's internals, shared by its files, the display presets and the tests. Not
// exported; tests link the static build to reach them.
#pragma once

#include <cstdio>
#include <cstring>

#include "vr.h"

// View computation, private to vr_comp.
void vr_make_v(vr_ctx *ctx, const double *eye, double hither, double yon, double depth_front,
               double depth_back, dmat out, int eye_relative);
void vr_compute_coexistence_to_plate(vr_ctx *ctx);
void vr_compute_lr_plate_to_cc(vr_ctx *ctx, const double *eye, double hither, double yon,
                               int eye_selector);
void vr_correct_crt(vr_ctx *ctx, const double *eye, double x, double y, double *out_x,
                    double *out_y);

// Keeps what one eye's world view was built from (vr_eye_matrices.cpp). Called by the view
// computation for every desk-top world view (eye 0 = left or only, 1 = right) with the eye
// (plate cm), its projection and the view the two made.
void vr_record_eye_split(vr_ctx *ctx, int eye, const double *eye_position, const dmat plate_to_clip,
                         const dmat view);

namespace vr::view {

// The number a caller passed for an enumeration. C callers may pass any int; reading the bits
// keeps values outside the enumeration defined here too, so they can be refused.
template <class Enum>
int enum_value(const Enum &e) {
  static_assert(sizeof(Enum) == sizeof(int), "the enumerations are int-sized");
  int v = 0;
  std::memcpy(&v, &e, sizeof v);
  return v;
}

// One line on stderr naming the entry and the reason; the result is handed back.
inline vr_result report_failure(const char *who, const char *why, vr_result result) {
  std::fprintf(stderr, "%s: %s\n", who, why);
  return result;
}

}  // namespace vr::view
