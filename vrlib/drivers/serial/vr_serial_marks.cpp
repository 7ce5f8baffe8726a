// The serial sources' marks for the tracking status: what identifies the newest record a unit's
// ring holds, so that the front end tells a fresh pose from one already seen.
#include "vr_serial_frames.h"

#include "vr_lt_internal.h"
#include "vr_lt_raw.h"
#include "vr_status.h"
#include "vr_serial_decode.h"

namespace {

constexpr int stamp_value = 8;  // the unit time stamp among a raw record's twelve values

long long position_mark(int position) {
  return position < 0 ? vr::status::no_pose : position;
}

}  // namespace

namespace vr::serial {

long long report_6d_mark(const vr_lt_unit *unit) {
  const capture::RingView ring = vr::lt::ring(unit);
  return position_mark(vr::decode::newest_6d_report_at(ring, ring.write_offset()));
}

long long cyberman_mark(const vr_lt_unit *unit) {
  const capture::RingView ring = vr::lt::ring(unit);
  return position_mark(vr::decode::newest_cyberman_packet_at(ring, ring.write_offset()));
}

long long dynasight_mark(const vr_lt_unit *unit) {
  const capture::RingView ring(vr::ds::capture_area(), unit->port);
  return position_mark(vr::decode::newest_dynasight_record_at(ring, ring.write_offset()));
}

long long raw_mark(const vr_lt_unit *unit, int accepted) {
  if (accepted <= 0) return vr::status::no_pose;
  unsigned v[12];
  vr::lt::raw_values(unit->record, v);
  return v[stamp_value];
}

}  // namespace vr::serial
