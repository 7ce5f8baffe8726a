// A capture area in test memory: two rings and their write offsets, filled by hand, for the ring
// decoders.
#pragma once

#include <array>
#include <cstdint>
#include <cstdlib>
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

// For the fuzz targets: a decoder's count of a record on its way (partial(ring, from, write))
// after the newest complete record (newest_at(ring, write), `length` bytes) and after an arbitrary
// place is never a whole record and never reaches past the write offset; aborts otherwise.
template <class NewestAt, class Partial>
void check_partial_counts(const vr::capture::RingView &ring, int write_offset, int length,
                          NewestAt newest_at, Partial partial) {
  const int newest = newest_at(ring, write_offset);
  for (int from : {newest < 0 ? -1 : vr::capture::wrap(newest + length), write_offset ^ 0x5A5}) {
    const int n = partial(ring, from, write_offset);
    if (n < 0 || n >= length) std::abort();
    if (n > 0 && vr::capture::distance(from, write_offset) != n) std::abort();
  }
}

// A fuzz input read as `count` leading 32-bit offsets (any values, zero when the input is too
// short) followed by the capture area (zero-padded to its size).
template <int count>
struct FuzzInput {
  std::int32_t offsets[count] = {};
  Area area;

  FuzzInput(const std::uint8_t *data, std::size_t size) {
    if (size >= sizeof offsets) {
      std::memcpy(offsets, data, sizeof offsets);
      data += sizeof offsets;
      size -= sizeof offsets;
    }
    std::memcpy(area.bytes.data(), data, size < area.bytes.size() ? size : area.bytes.size());
  }
};

// Runs a ring decoder check on both ports, with the fuzzed offset and with the area's own.
template <class Check>
void check_both_rings(const std::uint8_t *data, std::size_t size, Check check) {
  FuzzInput<1> input(data, size);
  for (int port = 0; port < 2; ++port) {
    vr::capture::RingView ring = input.area.ring(port);
    check(ring, input.offsets[0]);
    check(ring, ring.write_offset());
  }
}

}  // namespace ring_test
