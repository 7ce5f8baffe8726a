// The network head-tracker source's entry points. The datagram's wire format is in
// base/vr_opentrack.h, the per-context state in context/vr_net_state.h, the pose output in
// view/vr_pose_output.h. Not exported; tests reach it through the static build.
#pragma once

#include "vr.h"
#include "vr_net_state.h"
#include "vr_source.h"

extern "C" {
// The source's set-up, frame handler and removal (vrtrack).
int vr_net_init_glasses(vr_ctx *ctx);
void vr_net_event_glasses(vr_ctx *ctx);
void vr_net_remove_glasses(vr_ctx *ctx);
}

namespace vr::sources {
extern const vr::track::Source network;  // this source's record for the registry
}  // namespace vr::sources
