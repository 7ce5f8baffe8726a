// The camera's place on the plate, which the network source sets VR_DIG_TO_PLATE from, and the
// network source's message (exported, in vrcore with the rest of the network state).
#include "vr_ext.h"
#include "vr_net_state.h"

namespace vr::net {

void camera_to_plate(const vr_ctx *ctx, dmat out) {
  const vr_ext_net &net = vr_ext(ctx).net;
  dmat tilt, place;
  vr_mat_rot_x(net.camera_tilt, tilt);
  vr_mat_trans(ctx->screen_width_cm / 2.0 + net.camera_offset[0],
               ctx->screen_height_cm + net.camera_offset[1], net.camera_offset[2], place);
  vr_mat_mul_mat(tilt, place, out);
}

}  // namespace vr::net

extern "C" {

VR_API char vr_net_message[256];

}  // extern "C"
