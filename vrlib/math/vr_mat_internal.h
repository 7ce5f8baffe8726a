// The math kit's internals, shared with the library's other layers and the tests. Not exported.
#pragma once

#include "vr.h"

// dst = inverse of src in full double precision (partial pivoting), for the frames an
// application sets by value. False, and dst unchanged, when src has no usable inverse (a pivot
// vanishing against the matrix's largest element, or a non-finite result); src may be dst.
bool vr_mat_invert_checked(const dmat src, dmat dst);

// The inverse of fake_make_dig_to_plate, preceded by a shift of d along y.
void fake_make_plate_to_dig(double angle, double x, double y, double z, double d, dmat out);
void print_pt(const double *p, const char *label);
