// Raw ultrasonic pose solver (placeholder entry points until written).
#include "vr.h"

extern "C" {
VR_API int comp_mouse_6d_raws(vr_ctx *, vr_lt_unit *, dmat) { return 0; }
}
