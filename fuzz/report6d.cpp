// Fuzzes the 6D report decoder and the count of a report on its way: a whole capture area and a
// write offset, both arbitrary. The decoder must never read outside a ring and must yield a
// finite pose within the report's ranges, or nothing, in which case the previous output stays.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "tests/support/ring_area.h"
#include "vr_serial_decode.h"

namespace {

void check(const vr::capture::RingView &ring, int write_offset) {
  ring_test::check_partial_counts(ring, write_offset, vr::decode::report_6d_bytes,
                                  vr::decode::newest_6d_report_at,
                                  vr::decode::partial_6d_report_bytes);
  unsigned char report[vr::decode::report_6d_bytes];
  std::memset(report, 0xA5, sizeof report);
  if (!vr::decode::newest_6d_report(ring, write_offset, report)) {
    for (unsigned char b : report)
      if (b != 0xA5) std::abort();
    return;
  }
  if (!(report[0] & 0x80)) std::abort();
  vr_lt_event event;
  vr_lt_convert_event(report, &event);
  for (int v : {event.x, event.y, event.z})
    if (v < -32768 || v > 32767) std::abort();
  for (int v : {event.pitch, event.yaw, event.roll})
    if (v < 0 || v > 16383) std::abort();
  vr_lt_6d pose;
  vr::decode::event_to_6d(event, &pose);
  for (double v : {pose.x, pose.y, pose.z, pose.roll, pose.pitch, pose.yaw})
    if (!std::isfinite(v)) std::abort();
}

}  // namespace

// Input: a 32-bit write offset (any value), then the capture area (zero-padded to 4096 bytes).
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  ring_test::check_both_rings(data, size, check);
  return 0;
}
