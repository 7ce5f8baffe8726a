// Fuzzes the operating-information read: a whole capture area, a noted start offset and a write
// offset, all arbitrary. Only exactly 30 bytes between the two offsets make a report, and its
// conversion stays within the wire's ranges.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "tests/support/ring_area.h"
#include "vr_serial_decode.h"

namespace {

void check(const vr::capture::RingView &ring, int start, int write_offset) {
  unsigned char bytes[vr::decode::op_info_bytes];
  bool in_ring = start >= 0 && start < vr::capture::ring_bytes && write_offset >= 0 &&
                 write_offset < vr::capture::ring_bytes;
  bool got = vr::decode::op_info_since(ring, start, write_offset, bytes);
  if (got != (in_ring && vr::capture::distance(start, write_offset) == 30)) std::abort();
  if (!got) return;
  vr_lt_op_info info;
  vr_lt_convert_cur_op_info(bytes, &info);
  constexpr double geom_max_cm = 65535 * 2.54 / 1000.0;
  for (double g : {info.receiver_geom[0], info.receiver_geom[1], info.transmitter_geom[0],
                   info.transmitter_geom[1], info.transmitter_geom[2]})
    if (!std::isfinite(g) || g < 0.0 || g > geom_max_cm) std::abort();
  if (info.receiver_geom[2] != 0.0 || info.receiver_geom[3] != 0.0 ||
      info.transmitter_geom[3] != 0.0)
    std::abort();
  if (info.op_byte[0] > 0x3F || info.op_byte14 > 0x7F) std::abort();
  for (int i = 1; i < 10; ++i)
    if (info.op_byte[i] < 0 || info.op_byte[i] > 0x7F) std::abort();
}

}  // namespace

// Input: a 32-bit start offset and a 32-bit write offset (any values), then the capture area
// (zero-padded to 4096 bytes).
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  ring_test::FuzzInput<2> input(data, size);
  const std::int32_t *offsets = input.offsets;
  for (int port = 0; port < 2; ++port) {
    vr::capture::RingView ring = input.area.ring(port);
    check(ring, offsets[0], offsets[1]);
    check(ring, offsets[0], ring.write_offset());
    // The usual case: the start noted 30 bytes before the writer.
    check(ring, vr::capture::wrap(ring.write_offset() - 30), ring.write_offset());
  }
  return 0;
}
