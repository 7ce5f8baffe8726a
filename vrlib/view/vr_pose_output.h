// The pose output: every frame, the head's pose on the plate as an opentrack datagram to
// VR_NET_OUTPUT_ADDRESS (attributes 210..214). It serves every head source, so it lives with
// vr_comp_view rather than with the network source.
#pragma once

#include "vr.h"

namespace vr::net {

// One frame of the pose output (vr_comp_view, after the handlers), and closing its socket
// (vr_quit).
void output_frame(vr_ctx *ctx);
void close_output(vr_ctx *ctx);

}  // namespace vr::net
