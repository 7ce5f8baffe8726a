// The opentrack datagram as a wire format: six little-endian doubles (X, Y, Z in cm, yaw, pitch,
// roll in degrees), its checks, its axis mapping and the endpoint text the network settings
// take. Pure functions, no context: the network source, the pose output, the attribute checks
// and the set-up reader all use them. Not exported; tests and fuzz targets reach it through the
// static build.
#pragma once

#include "vr.h"

namespace vr::net {

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

// Parses "a.b.c.d:port", "a.b.c.d", ":port" or "localhost[:port]". Fields not in the text keep
// the values passed in. False for anything else (nothing written).
bool parse_endpoint(const char *text, unsigned *address, int *port);

}  // namespace vr::net
