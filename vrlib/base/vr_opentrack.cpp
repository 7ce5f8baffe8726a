// The opentrack datagram (six little-endian doubles), its axis mapping and endpoint text: the
// wire format alone, with no context, so that every layer above can check and read it.
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>

#include "vr_opentrack.h"

namespace {

using vr::net::Packet;

constexpr double deg_per_rad = 180.0 / std::numbers::pi;
constexpr int bytes_per_value = 8;
constexpr unsigned loopback_address = 0x7F000001u;

double read_le_double(const unsigned char *b) {
  std::uint64_t bits = 0;
  for (int i = bytes_per_value - 1; i >= 0; --i) bits = (bits << 8) | b[i];
  return std::bit_cast<double>(bits);
}

void write_le_double(double v, unsigned char *b) {
  auto bits = std::bit_cast<std::uint64_t>(v);
  for (int i = 0; i < bytes_per_value; ++i) b[i] = static_cast<unsigned char>(bits >> (8 * i));
}

bool is_position(int value) {
  return value < vr::net::value_yaw;
}

// One decimal field of up to `limit`, advancing *p. False without a digit or past the limit.
bool parse_number(const char **p, long limit, long *out) {
  long v = 0;
  const char *s = *p;
  if (*s < '0' || *s > '9') return false;
  for (; *s >= '0' && *s <= '9'; ++s) {
    v = v * 10 + (*s - '0');
    if (v > limit) return false;
  }
  *p = s;
  *out = v;
  return true;
}

bool parse_ipv4(const char **p, unsigned *out) {
  constexpr char localhost[] = "localhost";
  if (std::strncmp(*p, localhost, sizeof localhost - 1) == 0) {
    *p += sizeof localhost - 1;
    *out = loopback_address;
    return true;
  }
  unsigned address = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (**p != '.') return false;
      ++*p;
    }
    long v = 0;
    if (!parse_number(p, 255, &v)) return false;
    address = (address << 8) | static_cast<unsigned>(v);
  }
  *out = address;
  return true;
}

}  // namespace

namespace vr::net {

Verdict decode_packet(const unsigned char *bytes, int length, Packet *out) {
  if (bytes == nullptr || (length != packet_bytes && length != framed_packet_bytes))
    return Verdict::wrong_length;
  Packet p{};
  for (int i = 0; i < value_count; ++i) {
    p.value[i] = read_le_double(bytes + i * bytes_per_value);
    if (!std::isfinite(p.value[i])) return Verdict::not_finite;
  }
  const double distance =
      std::sqrt(p.value[value_x] * p.value[value_x] + p.value[value_y] * p.value[value_y] +
                p.value[value_z] * p.value[value_z]);
  if (distance > farthest_position_cm) return Verdict::absurd;
  for (int i = value_yaw; i < value_count; ++i)
    if (std::fabs(p.value[i]) > largest_angle_deg) return Verdict::absurd;
  if (out != nullptr) *out = p;
  return Verdict::accepted;
}

void encode_packet(const Packet &packet, unsigned char out[packet_bytes]) {
  for (int i = 0; i < value_count; ++i) write_le_double(packet.value[i], out + i * bytes_per_value);
}

bool valid_mapping(int axis, int entry) {
  if (axis < 0 || axis >= value_count) return false;
  if (entry == 0 || entry < -value_count || entry > value_count) return false;
  const int source = (entry < 0 ? -entry : entry) - 1;
  return is_position(axis) == is_position(source);
}

Packet map_axes(const int map[value_count], const Packet &in) {
  Packet out{};
  for (int axis = 0; axis < value_count; ++axis) {
    const int entry = map[axis];
    const int source = (entry < 0 ? -entry : entry) - 1;
    out.value[axis] = entry < 0 ? -in.value[source] : in.value[source];
  }
  return out;
}

vr_lt_6d packet_to_pose(const Packet &p) {
  vr_lt_6d pose{};
  pose.x = p.value[value_x];
  pose.y = p.value[value_y];
  pose.z = p.value[value_z];
  pose.yaw = p.value[value_yaw] / deg_per_rad;
  pose.pitch = p.value[value_pitch] / deg_per_rad;
  pose.roll = p.value[value_roll] / deg_per_rad;
  return pose;
}

Packet matrix_to_packet(const dmat m) {
  // build_mat_6Dm_to_dig makes Rz(roll) x Rx(pitch) x Ry(yaw): its last row is
  // (cos p sin y, -sin p, cos p cos y), its middle column (sin r cos p, cos r cos p, -sin p).
  Packet p{};
  p.value[value_x] = m[3][0];
  p.value[value_y] = m[3][1];
  p.value[value_z] = m[3][2];
  const double sin_pitch = std::fmax(-1.0, std::fmin(1.0, -m[2][1]));
  p.value[value_pitch] = std::asin(sin_pitch) * deg_per_rad;
  p.value[value_yaw] = std::atan2(m[2][0], m[2][2]) * deg_per_rad;
  p.value[value_roll] = std::atan2(m[0][1], m[1][1]) * deg_per_rad;
  return p;
}

bool parse_endpoint(const char *text, unsigned *address, int *port) {
  if (text == nullptr || address == nullptr || port == nullptr) return false;
  const char *p = text;
  unsigned a = *address;
  long n = *port;
  if (*p != ':' && !parse_ipv4(&p, &a)) return false;
  if (*p == ':') {
    ++p;
    if (!parse_number(&p, 65535, &n) || n == 0) return false;
  }
  if (*p != '\0') return false;
  *address = a;
  *port = static_cast<int>(n);
  return true;
}

}  // namespace vr::net
