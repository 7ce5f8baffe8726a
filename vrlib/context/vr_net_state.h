// The per-context state of the network head source and of the pose output (part of
// vr_ext_state), and the camera's place on the plate that both take from it. The source itself
// lives in drivers/net, the pose output in view/.
#pragma once

#include "vr.h"
#include "vr_opentrack.h"

// The per-context settings and state (part of vr_ext_state). The attribute table
// (vr_attributes.def) holds the public fields' defaults and vr_ext_init sets them; the members
// start at zero, or, for the private ones, at what they need before the first datagram.
struct vr_ext_net {
  // Settings (attributes 190..200, 209, 210..212).
  int bind_address = 0;
  int bind_port = 0;
  dpt camera_offset = {0.0, 0.0, 0.0};
  double camera_tilt = 0.0;
  int axis_map[6] = {};
  double silence_timeout_s = 0.0;
  // 209: the sender's measurement to the datagram's arrival.
  double sender_latency_s = 0.0;
  int output = 0;
  int output_address = 0;
  int output_port = 0;
  // Read-only results (201..208, 213, 214).
  int state = VR_NET_STATE_OFF;
  int packets = 0;
  int drops_length = 0;
  int drops_not_finite = 0;
  int drops_absurd = 0;
  double last_arrival_s = -1.0;
  double pose_age_s = 0.0;
  double rate_hz = 0.0;
  int output_sent = 0;
  int output_errors = 0;
  // Private.
  // The sockets' descriptors plus one: 0 is "none", also in a context whose memory was only
  // zeroed, so that nothing ever closes descriptor 0 by mistake.
  int in_socket = 0;   // the source's
  int out_socket = 0;  // the output's
  int have_pose = 0;
  vr_lt_6d pose{};  // newest accepted pose, mapped, in cm and radians
  double previous_arrival_s = -1.0;
  dmat saved_dig_to_plate{};  // VR_DIG_TO_PLATE as it was before the source started
};

namespace vr::net {

// The sender latency as display-time tracking uses it (VR_NET_SENDER_LATENCY, at most 0.2 s like
// VR_TRACKER_DELAY): a datagram was measured this long before it arrived.
constexpr double sender_latency_max_s = 0.2;
inline double sender_latency_s(const vr_ext_net &net) {
  return net.sender_latency_s < sender_latency_max_s ? net.sender_latency_s : sender_latency_max_s;
}

// The camera's frame to the plate: the tilt about x, then the camera's place on the plate
// (the offset from the middle of the screen's top edge).
void camera_to_plate(const vr_ctx *ctx, dmat out);

}  // namespace vr::net
