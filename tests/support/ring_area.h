// A capture area in test memory: two rings and their write offsets, filled by hand, for the ring
// decoders.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "vr_capture.h"

namespace ring_test {

struct Area {
  std::array<unsigned char, vr::capture::area_bytes> bytes{};

  // Stores the bytes at ring position pos (wrapping) of a port.
  void put(int port, int pos, std::initializer_list<unsigned char> data) {
    for (unsigned char b : data) at(port, pos++) = b;
  }
  void put(int port, int pos, const unsigned char *data, int n) {
    for (int k = 0; k < n; ++k) at(port, pos + k) = data[k];
  }
  unsigned char &at(int port, int pos) {
    return bytes[vr::capture::ring_start_byte[port] + vr::capture::wrap(pos)];
  }
  void fill(int port, unsigned char b) {
    std::memset(bytes.data() + vr::capture::ring_start_byte[port], b, vr::capture::ring_bytes);
  }
  void set_write_offset(int port, std::int32_t w) {
    std::memcpy(bytes.data() + vr::capture::write_offset_byte[port], &w, sizeof w);
  }
  vr::capture::RingView ring(int port) const { return vr::capture::RingView(bytes.data(), port); }
};

}  // namespace ring_test
