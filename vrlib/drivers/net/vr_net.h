// The network head-tracker source and the pose output: the opentrack datagram, its decoding and
// axis mapping, the per-context state, and the per-frame steps. Not exported; tests and fuzz
// targets reach it through the static build.
#pragma once

#include "vr.h"

// The per-context settings and state (part of vr_ext_state). Defaults are the member
// initialisers; the attribute table points at the public fields.
struct vr_ext_net {
  // Settings (attributes 190..200, 209, 210..212).
  int bind_address = 0x7F000001;
  int bind_port = 4242;
  dpt camera_offset = {0.0, 0.0, 0.0};
  double camera_tilt = 0.0;
  int axis_map[6] = {1, 2, 3, 4, 5, 6};
  double silence_timeout_s = 0.5;
  // 209: the sender's measurement to the datagram's arrival. The 5 ms default is what the
  // source took from VR_TRACKER_DELAY's default before it had its own setting.
  double sender_latency_s = 0.005;
  int output = 0;
  int output_address = 0x7F000001;
  int output_port = 4243;
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

constexpr int packet_bytes = 48;
constexpr int framed_packet_bytes = 52;  // an older sender's trailing 4-byte frame number
constexpr double farthest_position_cm = 1000.0;
constexpr double largest_angle_deg = 360.0;
enum { value_x, value_y, value_z, value_yaw, value_pitch, value_roll, value_count };

// The six values of a datagram as sent: X, Y, Z (cm), yaw, pitch, roll (degrees).
struct Packet {
  double value[value_count];
};

enum class Verdict { accepted, wrong_length, not_finite, absurd };

// Decodes one datagram of `length` bytes (only the first min(length, 48) are read). *out is
// written only for an accepted datagram.
Verdict decode_packet(const unsigned char *bytes, int length, Packet *out);
void encode_packet(const Packet &packet, unsigned char out[packet_bytes]);

// Whether a mapping entry is acceptable for the head's axis `axis` (0..5).
bool valid_mapping(int axis, int entry);
// The head's six values from a packet through the axis mapping (entries assumed valid).
Packet map_axes(const int map[value_count], const Packet &in);
// Packet values (after mapping) as a pose in cm and radians.
vr_lt_6d packet_to_pose(const Packet &p);
// The inverse decomposition: a rotation-and-translation matrix (row vectors, as
// build_mat_6Dm_to_dig makes it) as packet values.
Packet matrix_to_packet(const dmat m);

// The camera's frame to the plate: the tilt about x, then the camera's place on the plate
// (the offset from the middle of the screen's top edge).
void camera_to_plate(const vr_ctx *ctx, dmat out);

// Parses "a.b.c.d:port", "a.b.c.d", ":port" or "localhost[:port]". Fields not in the text keep
// the values passed in. False for anything else (nothing written).
bool parse_endpoint(const char *text, unsigned *address, int *port);

// One frame of the pose output (vr_comp_view, after the handlers), and closing its socket
// (vr_quit). Both in vrcore.
void output_frame(vr_ctx *ctx);
void close_output(vr_ctx *ctx);

}  // namespace vr::net

extern "C" {
// The source's set-up, frame handler and removal (vrtrack).
int vr_net_init_glasses(vr_ctx *ctx);
void vr_net_event_glasses(vr_ctx *ctx);
void vr_net_remove_glasses(vr_ctx *ctx);
}
