// The capture area that the serial capture driver fills: two byte rings and their write offsets.
// Its bytes come from outside the process and are untrusted: every index wraps into the ring and
// a write offset outside the ring reads as "no data".
#pragma once

#include <cstdint>

namespace vr::capture {

constexpr int area_bytes = 4096;
constexpr int ring_bytes = 2044;
constexpr int ring_start_byte[2] = {0, 2044};
constexpr int write_offset_byte[2] = {4088, 4092};
constexpr long map_offset_bytes = 65536;

// i reduced into 0..ring_bytes-1, for any int.
constexpr int wrap(int i) {
  int r = i % ring_bytes;
  return r < 0 ? r + ring_bytes : r;
}

// Bytes from position `from` up to (not including) `to`, going forward around the ring.
constexpr int distance(int from, int to) { return wrap(to - from); }

// A read-only view of one port's ring in a mapped capture area (which may be null: not mapped).
class RingView {
 public:
  RingView(const unsigned char *area, int port)
      : area_(area), port_(port == 0 ? 0 : 1) {}

  bool mapped() const { return area_ != nullptr; }

  // The writer's offset, read once; -1 when unmapped or outside 0..ring_bytes-1.
  int write_offset() const {
    if (!area_) return -1;
    const auto *p =
        reinterpret_cast<const std::int32_t *>(area_ + write_offset_byte[port_]);
    std::int32_t w = __atomic_load_n(p, __ATOMIC_ACQUIRE);
    return (w >= 0 && w < ring_bytes) ? static_cast<int>(w) : -1;
  }

  // The byte at ring position i (any int; it wraps). 0 when unmapped.
  unsigned char operator[](int i) const {
    if (!area_) return 0;
    const volatile unsigned char *ring = area_ + ring_start_byte[port_];
    return ring[wrap(i)];
  }

  // Copies n bytes starting at ring position start, wrapping.
  void copy(int start, int n, unsigned char *dst) const {
    for (int k = 0; k < n; ++k) dst[k] = (*this)[start + k];
  }

 private:
  const unsigned char *area_;
  int port_;
};

}  // namespace vr::capture
