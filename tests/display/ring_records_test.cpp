// How the front end dates a whole-pose record read from a capture ring (vr_source.h:
// RingRecord): from the frames that bracket its arrival, and, when a frame saw the record on its
// way, from the bytes of it that had come by then.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "vr_display_time.h"
#include "vr_ext.h"
#include "vr_source.h"
#include "vrlib/vr.h"

namespace {

constexpr int ring_record_bytes = 16;
constexpr double ring_line_bytes_per_s = 1920.0;
constexpr double ring_byte_s = 1.0 / ring_line_bytes_per_s;
constexpr double ring_delay_s = 0.005;
constexpr double ring_frame_s = 1.0 / 60.0;

class RingRecords : public ::testing::Test {
 protected:
  void SetUp() override {
    ctx = vr_ctx_create();
    ASSERT_NE(ctx, nullptr);
    ASSERT_EQ(vr_set_int(ctx, VR_TRACK_DISPLAY_TIME, 1), VR_OK);
    vr::display::configure_whole(ctx, whole());
  }
  void TearDown() override { std::free(ctx); }

  vr_display_whole &whole() { return vr_ext(ctx).display.whole[0]; }

  // One frame at `now` that finds the newest complete record at `start` (its bytes tell it from
  // the one before), the writer at `write`, and `partial` bytes of the next record.
  void frame(double now, int start, int write, int partial, unsigned char tag) {
    ctx->pworld_time_now = now;
    record[0] = tag;
    vr_lt_6d pose{};
    pose.z = 50.0;
    vr::display::take_ring_record(ctx, whole(),
                                  {start, write, ring_record_bytes, ring_line_bytes_per_s,
                                   ring_delay_s, record, nullptr, pose, true, partial});
  }

  // The measurement time the predictor was given for the newest record.
  double dated_s() { return whole().predictor.last_taken_s; }

  vr_ctx *ctx = nullptr;
  unsigned char record[ring_record_bytes] = {0x80};
};

// A frame sees the first 5 bytes of the next record: its last byte comes 11 byte times later
// (within a byte), so the record is dated to within a byte time, where the frames alone would
// leave the whole frame interval open.
TEST_F(RingRecords, ARecordSeenOnItsWayIsDatedToWithinAByte) {
  const double t0 = 1.0;
  frame(t0, 0, ring_record_bytes + 5, 5, 1);
  frame(t0 + ring_frame_s, ring_record_bytes, 2 * ring_record_bytes, 0, 2);
  const double end_s = t0 + (ring_record_bytes - 5) * ring_byte_s;
  const double measured_s = end_s - ring_record_bytes * ring_byte_s - ring_delay_s;
  EXPECT_NEAR(dated_s(), measured_s, ring_byte_s);
}

// Without that sight of it, the record is placed in the middle of the frames that bracket its
// arrival: off by a good part of a frame when it came early in the interval.
TEST_F(RingRecords, WithoutASightOnItsWayTheFramesBracketTheArrival) {
  const double t0 = 1.0;
  frame(t0, 0, ring_record_bytes, 0, 1);
  frame(t0 + ring_frame_s, ring_record_bytes, 2 * ring_record_bytes, 0, 2);
  const double middle_s = t0 + ring_frame_s / 2;
  EXPECT_NEAR(dated_s(), middle_s - ring_record_bytes * ring_byte_s - ring_delay_s, 1e-9);
}

// A sight that disagrees with what the next frame finds is not used: here bytes that are no
// record followed the record (line noise), so many that it must have ended before the sight said
// it would. The record keeps the interval the frames and those bytes give.
TEST_F(RingRecords, ASightThatDisagreesWithTheRingIsNotUsed) {
  const double t0 = 1.0;
  constexpr int noise_bytes = 30;
  frame(t0, 0, ring_record_bytes + 5, 5, 1);
  frame(t0 + ring_frame_s, ring_record_bytes, 2 * ring_record_bytes + noise_bytes, 0, 2);
  const double latest_s = t0 + ring_frame_s - noise_bytes * ring_byte_s;
  EXPECT_NEAR(dated_s(), (t0 + latest_s) / 2 - ring_record_bytes * ring_byte_s - ring_delay_s,
              1e-9);
}

}  // namespace
