// Fuzzes the CyberMan packet search and conversion: a whole capture area and a write offset,
// both arbitrary. The motions stay 8-bit, the states three-state, the spare word untouched.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "tests/support/ring_area.h"
#include "vr_serial_decode.h"

namespace {

void check(const vr::capture::RingView &ring, int write_offset) {
  unsigned char packet[vr::decode::cyberman_bytes];
  std::memset(packet, 0x11, sizeof packet);
  bool got = vr::decode::newest_cyberman_packet(ring, write_offset, packet);
  if (got && (packet[0] & 0xE0) != 0x80) std::abort();
  if (!got)
    for (unsigned char b : packet)
      if (b != 0x11) std::abort();
  vr_cyberman_state state;
  state.spare = 12345;
  vr_lt_cyberman_cvt(packet, &state);
  if (state.x_motion < -128 || state.x_motion > 127) std::abort();
  if (state.y_motion < -128 || state.y_motion > 127) std::abort();
  if (state.buttons < 0 || state.buttons > 7) std::abort();
  for (int s : state.state)
    if (s != 0 && s != 1 && s != -1 && s != 3) std::abort();
  if (state.spare != 12345) std::abort();
}

}  // namespace

// Input: a 32-bit write offset (any value), then the capture area (zero-padded to 4096 bytes).
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  ring_test::check_both_rings(data, size, check);
  return 0;
}
