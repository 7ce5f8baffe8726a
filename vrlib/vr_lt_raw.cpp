// Raw capture through the timestamping driver (placeholder entry points until written).
#include "vr.h"

extern "C" {
VR_API int vr_lt_obtain_current_raw_events(vr_ctx *, vr_lt_unit *) { return 0; }
VR_API int vr_lt_obtain_current_raw_event(vr_lt_unit *) { return 0; }
VR_API int vr_lt_debounce_buttons(vr_lt_unit *) { return -1; }
}
