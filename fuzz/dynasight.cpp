// Fuzzes the DynaSight record search and conversion, and the count of a record on its way: a
// whole capture area and a write offset, both arbitrary. A record yields a finite position within
// the 16-bit range and zero angles.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "tests/support/ring_area.h"
#include "vr_serial_decode.h"

namespace {

void check(const vr::capture::RingView &ring, int write_offset) {
  ring_test::check_partial_counts(ring, write_offset, vr::decode::dynasight_bytes,
                                  vr::decode::newest_dynasight_record_at,
                                  vr::decode::partial_dynasight_record_bytes);
  unsigned char record[vr::decode::dynasight_bytes];
  std::memset(record, 0x22, sizeof record);
  if (!vr::decode::newest_dynasight_record(ring, write_offset, record)) {
    for (unsigned char b : record)
      if (b != 0x22) std::abort();
    return;
  }
  if ((record[0] & 0xF0) != 0x80 || (record[1] & 0xF0) != 0x80) std::abort();
  vr_lt_6d pose;
  vr::decode::dynasight_to_6d(record, &pose);
  for (double v : {pose.x, pose.y, pose.z})
    if (!std::isfinite(v) || v < -163.84 || v > 163.835) std::abort();
  if (pose.roll != 0.0 || pose.pitch != 0.0 || pose.yaw != 0.0 || pose.buttons != 0) std::abort();
}

}  // namespace

// Input: a 32-bit write offset (any value), then the capture area (zero-padded to 4096 bytes).
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  ring_test::check_both_rings(data, size, check);
  return 0;
}
