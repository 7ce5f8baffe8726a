// Fuzzes the opentrack datagram decoder and what follows an accepted datagram: the input is one
// datagram of any length. An accepted one holds six finite values within 10 m and 360 degrees,
// maps to a finite pose through every acceptable mapping, and encodes back to its own 48 bytes;
// anything else leaves the output untouched.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "vr_opentrack.h"

namespace {

using vr::net::Packet;
using vr::net::Verdict;

void check_accepted(const std::uint8_t *data, const Packet &p) {
  double distance = 0;
  for (int i = 0; i < vr::net::value_count; ++i) {
    if (!std::isfinite(p.value[i])) std::abort();
    if (i >= vr::net::value_yaw && std::fabs(p.value[i]) > vr::net::largest_angle_deg) std::abort();
    if (i < vr::net::value_yaw) distance += p.value[i] * p.value[i];
  }
  if (std::sqrt(distance) > vr::net::farthest_position_cm) std::abort();
  unsigned char again[vr::net::packet_bytes];
  vr::net::encode_packet(p, again);
  if (std::memcmp(again, data, sizeof again) != 0) std::abort();
  // A mapping chosen from the datagram's own bytes.
  int map[vr::net::value_count];
  for (int axis = 0; axis < vr::net::value_count; ++axis) {
    const int pick = data[axis] % 3 + (axis < vr::net::value_yaw ? 1 : 4);
    map[axis] = (data[axis] & 0x80) ? -pick : pick;
    if (!vr::net::valid_mapping(axis, map[axis])) std::abort();
  }
  const vr_lt_6d pose = vr::net::packet_to_pose(vr::net::map_axes(map, p));
  for (double v : {pose.x, pose.y, pose.z, pose.yaw, pose.pitch, pose.roll})
    if (!std::isfinite(v)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const int length = size > 4096 ? 4096 : static_cast<int>(size);
  Packet p;
  std::memset(&p, 0x5A, sizeof p);
  const Verdict v = vr::net::decode_packet(data, length, &p);
  if (v == Verdict::accepted) {
    if (length != vr::net::packet_bytes && length != vr::net::framed_packet_bytes) std::abort();
    check_accepted(data, p);
    return 0;
  }
  const unsigned char *raw = reinterpret_cast<const unsigned char *>(&p);
  for (std::size_t i = 0; i < sizeof p; ++i)
    if (raw[i] != 0x5A) std::abort();
  return 0;
}
