// The ring decoders of the tracker drivers, each a pure function over one capture ring and the
// write offset the caller took from it, so that tests and fuzz targets can feed any capture area
// and any offset without a platform. Not exported.
//
// Every decoder treats a write offset outside the ring as "no data" and only looks at positions
// whose whole record has arrived before the write offset. A decoder that finds nothing leaves its
// output as it was.
#pragma once

#include "vr.h"
#include "vr_capture.h"

namespace vr::decode {

constexpr int report_6d_bytes = 16;
constexpr int op_info_bytes = 30;
constexpr int cyberman_bytes = 5;
constexpr int dynasight_bytes = 8;

// The newest complete 16-byte 6D report before write_offset: its first byte has bit 7 set and no
// other byte does. (vr_lt.cpp)
bool newest_6d_report(const capture::RingView &ring, int write_offset,
                      unsigned char out[report_6d_bytes]);

// The 30 bytes that arrived between start (the offset noted before "*m" was sent) and
// write_offset. False when start or write_offset lies outside the ring or when more or fewer
// than 30 bytes arrived. (vr_lt.cpp)
bool op_info_since(const capture::RingView &ring, int start, int write_offset,
                   unsigned char out[op_info_bytes]);

// A decoded 6D report in physical units (cm, radians). (vr_lt.cpp)
void event_to_6d(const vr_lt_event &event, vr_lt_6d *out);

// The newest complete 5-byte CyberMan packet (first byte's bits 7..5 are 100). (vr_lt.cpp)
bool newest_cyberman_packet(const capture::RingView &ring, int write_offset,
                            unsigned char out[cyberman_bytes]);

// The newest complete 8-byte DynaSight record (its first two bytes have high nibble 8), and its
// conversion to a pose with zero angles. (vr_ds.cpp)
bool newest_dynasight_record(const capture::RingView &ring, int write_offset,
                             unsigned char out[dynasight_bytes]);
void dynasight_to_6d(const unsigned char record[dynasight_bytes], vr_lt_6d *out);

// The ring positions where the newest complete record of each kind that the decoders above would
// take starts, or -1: the tracking status tells a fresh record from the one already seen by its
// place, and display-time tracking dates the record from it.
int newest_6d_report_at(const capture::RingView &ring, int write_offset);
int newest_cyberman_packet_at(const capture::RingView &ring, int write_offset);
int newest_dynasight_record_at(const capture::RingView &ring, int write_offset);

// How many bytes of a record on its way lie between `from` (the end of the newest complete
// record) and the write offset: 1 to length - 1 when they are the start of a record of the kind
// (what the decoder's test of a start can judge of so few), else 0. Display-time tracking dates
// that record's end from them.
int partial_6d_report_bytes(const capture::RingView &ring, int from, int write_offset);
int partial_dynasight_record_bytes(const capture::RingView &ring, int from, int write_offset);

}  // namespace vr::decode

namespace vr::lt {

// Forgets the Logitech driver's mapping so that the next port set-up maps the capture area again
// (the old mapping is not released). For tests that need a first mapping.
void forget_capture_area();

}  // namespace vr::lt

namespace vr::ds {

// The DynaSight driver's own mapping of the capture area (null until mapped), and the same test
// hook as the Logitech driver's.
const unsigned char *capture_area();
void forget_capture_area();

}  // namespace vr::ds

namespace vr::decode {

// The ring position of the newest record of `length` bytes that lies wholly before the write
// offset and whose first position satisfies is_start(p); -1 when there is none or the write
// offset is outside the ring. Looks at each candidate position of the ring once.
template <class IsStart>
int newest_record_start(const capture::RingView &ring, int write_offset, int length,
                        IsStart is_start) {
  if (write_offset < 0 || write_offset >= capture::ring_bytes) return -1;
  for (int back = length; back <= capture::ring_bytes; ++back) {
    int p = capture::wrap(write_offset - back);
    if (is_start(ring, p)) return p;
  }
  return -1;
}

// The bytes from `from` up to the write offset when there are fewer than `length` of them and
// is_prefix(p, n) accepts the n bytes at p as the start of a record; else 0 (also for positions
// outside the ring).
template <class IsPrefix>
int partial_record_bytes(const capture::RingView &ring, int from, int write_offset, int length,
                         IsPrefix is_prefix) {
  if (from < 0 || from >= capture::ring_bytes || write_offset < 0 ||
      write_offset >= capture::ring_bytes)
    return 0;
  const int n = capture::distance(from, write_offset);
  return n > 0 && n < length && is_prefix(ring, from, n) ? n : 0;
}

}  // namespace vr::decode
