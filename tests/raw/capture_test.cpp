// The raw capture pass on rings in test memory: clock model, history restarts, speed-of-sound
// calibration, outlier handling, buttons, and rings that lie.
#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <random>

#include "raw_test_util.h"

namespace {

using namespace raw_test;
using vr::lt::capture_pass;
using vr::lt::raw_counters;
using vr::lt::raw_state;

constexpr std::array<unsigned, 9> tof_at_50cm = {9449, 9449, 9449, 9449, 9449,
                                                 9449, 9449, 9449, 9449};  // 50.0 cm each

class Capture : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_module();
    init_unit(&unit, 0, true);
  }
  vr::lt::RawPass pass(double now) { return capture_pass(&unit, ring.view(), ring.w, now); }
  // n records, 20 ms apart on the unit clock, starting at stamp_ms.
  void put_records(int n, unsigned stamp_ms, std::array<unsigned, 9> tof = tof_at_50cm,
                   unsigned buttons = 0) {
    for (int k = 0; k < n; ++k)
      ring.put(record(buttons, (stamp_ms + 20u * k) % 60000u, reference_counts, tof));
  }
  vr_lt_unit unit;
  Ring ring;
};

TEST_F(Capture, FirstPassTakesEveryWholeRecordBehindTheNewestAndCalibrates) {
  put_records(5, 1000);
  const auto r = pass(10.0);
  // The newest record stays in the ring as the margin behind the writer.
  EXPECT_EQ(r.accepted, 4);
  EXPECT_TRUE(r.whole_record);
  EXPECT_EQ(unit.next_slot, 4);
  EXPECT_EQ(unit.ring_pos, 96);
  EXPECT_DOUBLE_EQ(raw_state().time_to_cm, cm_per_count);
  for (int s = 0; s < 4; ++s) {
    EXPECT_EQ(unit.slot_valid[s], 1);
    // Mapped on the physical time line: the queue behind each record was 20 ms per record.
    EXPECT_NEAR(unit.slot_time[s], 10.0 - 0.02 * (4 - s), 1e-5);
    EXPECT_EQ(unit.chan[0].value[s], 4800.0f);
    for (int k = 1; k < 10; ++k) EXPECT_NEAR(unit.chan[k].value[s], 9449 * cm_per_count, 1e-4);
  }
  EXPECT_EQ(unit.slot_valid[4], 0);
  EXPECT_DOUBLE_EQ(unit.last_capture_time, 10.0);
  // The next pass carries on with the newest record once another one is behind it.
  put_records(1, 1100);
  EXPECT_EQ(pass(10.02).accepted, 1);
  EXPECT_EQ(unit.next_slot, 5);
  EXPECT_EQ(raw_counters(0).restarts, 1);
}

TEST_F(Capture, TooFewNewBytesParseNothing) {
  unit.ring_pos = 0;
  unit.last_capture_time = 9.9;
  const auto bytes = encode(record(0, 1000, reference_counts, tof_at_50cm));
  for (int k = 0; k < 23; ++k) ring.put(bytes[k]);
  auto r = pass(10.0);
  EXPECT_EQ(r.accepted, 0);
  EXPECT_FALSE(r.whole_record);
  EXPECT_EQ(unit.ring_pos, 0);
  // A pass without data does not count as a capture for the 1.2 s restart rule.
  EXPECT_EQ(unit.last_capture_time, 9.9);
  // A whole record is there, but the newest 24 bytes are the margin behind the writer.
  ring.put(bytes[23]);
  r = pass(10.0);
  EXPECT_EQ(r.accepted, 0);
  EXPECT_TRUE(r.whole_record);
  EXPECT_EQ(unit.last_capture_time, 10.0);
  ring.put(0);
  EXPECT_EQ(pass(10.0).accepted, 1);
  EXPECT_EQ(raw_counters(0).restarts, 0);
}

TEST_F(Capture, RestartsAfterAGapOrABacklogAndKeepsTheClockModel) {
  put_records(4, 1000);
  pass(10.0);
  const double offset = unit.clock_offset;
  // 1.2 s without a capture: the history starts again from the newest 16 records. The four
  // old records among them no longer fit the clock and are dropped.
  put_records(3, 2300);
  EXPECT_EQ(pass(11.3).accepted, 2);
  EXPECT_EQ(raw_counters(0).restarts, 2);
  EXPECT_EQ(raw_counters(0).out_of_time, 4);
  EXPECT_EQ(unit.slot_valid[2], 0);
  EXPECT_EQ(unit.next_slot, 2);
  EXPECT_NE(unit.clock_offset, -11000000.0);
  EXPECT_NEAR(unit.clock_offset, offset, 0.05);
  // 16 records (384 bytes) pending: restart, parsing only the newest 16 (15 behind the margin).
  put_records(17, 2360);
  EXPECT_EQ(pass(11.64).accepted, 15);
  EXPECT_EQ(raw_counters(0).restarts, 3);
  // Fewer pending and a recent pass: carry on.
  put_records(10, 2700);
  EXPECT_EQ(pass(11.84).accepted, 10);
  EXPECT_EQ(raw_counters(0).restarts, 3);
}

TEST_F(Capture, UnitClockWrapKeepsTheRecordsAndMovesTheOffset) {
  put_records(3, 59940);  // 59940, 59960, 59980
  pass(100.0);
  const double offset = unit.clock_offset;
  put_records(3, 0);  // 0, 20, 40: the unit clock wrapped after 59980
  const auto r = pass(100.06);
  EXPECT_EQ(r.accepted, 3);
  EXPECT_EQ(raw_counters(0).clock_wraps, 1);
  EXPECT_EQ(raw_counters(0).out_of_time, 0);
  EXPECT_NEAR(unit.clock_offset - offset, 60.0, 0.01);
  // The slot times go on evenly across the wrap.
  for (int s = 1; s < 5; ++s)
    EXPECT_NEAR(unit.slot_time[s] - unit.slot_time[s - 1], 0.02, 1e-4) << s;
}

TEST_F(Capture, OutOfTimeRecordsAreDroppedFourInARowThenTheFifthIsTaken) {
  put_records(3, 1000);
  pass(10.0);
  EXPECT_EQ(raw_state().lost_in_time_counts[0], 0);
  // The unit clock jumps by 5 s: the records after the jump are out of time.
  put_records(6, 6060);
  const auto r = pass(10.12);
  EXPECT_EQ(raw_counters(0).out_of_time, 4);
  EXPECT_EQ(raw_counters(0).forced_in_time, 1);
  EXPECT_EQ(r.accepted, 2);  // the last record before the jump, and the fifth after it
  EXPECT_EQ(raw_state().lost_in_time_counts[0], 0);
  // The model follows: a seventh of the lag per taken record, so after a while every record
  // is in time again.
  double now = 10.12;
  unsigned stamp = 6180;
  int in_a_row = 0;
  int records = 0;
  while (in_a_row < 20 && records < 200) {
    ring.put(record(0, stamp, reference_counts, tof_at_50cm));
    stamp += 20;
    now += 0.02;
    in_a_row = pass(now).accepted == 1 ? in_a_row + 1 : 0;
    ++records;
  }
  EXPECT_EQ(in_a_row, 20);
  EXPECT_LT(records, 120);
  EXPECT_NEAR(unit.clock_lag, 0.0, 0.1);
}

TEST_F(Capture, DroppedRecordLeavesTheSlotTimeOfTheSlotItWouldHaveFilled) {
  put_records(17, 1000);
  pass(10.0);            // slots 0..14 filled; the newest record is the margin
  put_records(2, 9000);  // the margin record fills slot 15; then one out of time
  const float old_time = unit.slot_time[0];
  pass(10.04);
  EXPECT_EQ(raw_counters(0).out_of_time, 1);
  EXPECT_EQ(unit.next_slot, 0);
  EXPECT_EQ(unit.slot_time[0], old_time);
}

TEST_F(Capture, OutlierRejectedThenForcedAfterTwentyOrWhenTheLineIsStale) {
  put_records(3, 1000);
  ring.put(0);  // one byte after each record lets the pass parse it at once
  pass(10.0);
  // A flat fitted line at 50 cm on every channel, fitted just now.
  for (int k = 1; k < 10; ++k) {
    unit.chan[k].fit_slope = 0.0;
    unit.chan[k].fit_intercept = 9449 * cm_per_count;
    unit.chan[k].fit_time = 10.0f;
  }
  std::array<unsigned, 9> bad = tof_at_50cm;
  bad[4] += 600;  // channel 5 (slr->mll) 3.2 cm off
  double now = 10.0;
  unsigned stamp = 1060;
  for (int n = 1; n <= 21; ++n) {
    ring.put(record(0, stamp, reference_counts, bad));
    ring.put(0);
    stamp += 20;
    now += 0.02;
    for (int k = 1; k < 10; ++k) unit.chan[k].fit_time = static_cast<float>(now);
    const int slot = unit.next_slot;
    EXPECT_EQ(pass(now).accepted, 1) << n;
    EXPECT_EQ(unit.chan[5].reject_count, n);
    if (n <= 20)
      EXPECT_EQ(unit.chan[5].value[slot], -100.0f) << n;
    else
      EXPECT_NEAR(unit.chan[5].value[slot], 10049 * cm_per_count, 1e-4);
    EXPECT_NEAR(unit.chan[4].value[slot], 50.0, 0.01);
    EXPECT_EQ(unit.chan[4].reject_count, 0);
  }
  EXPECT_EQ(raw_counters(0).rejected_samples, 20);
  EXPECT_EQ(raw_counters(0).forced_samples, 1);
  EXPECT_NEAR(unit.chan[5].fit_value, 10049 * cm_per_count, 1e-4);

  // A good sample resets the count; a line older than 0.3 s lets the first outlier through.
  ring.put(record(0, stamp, reference_counts, tof_at_50cm));
  stamp += 20;
  ring.put(record(0, stamp, reference_counts, bad));
  stamp += 20;
  ring.put(record(0, stamp, reference_counts, tof_at_50cm));
  for (int k = 1; k < 10; ++k) unit.chan[k].fit_time = static_cast<float>(now - 0.29);
  now += 0.06;
  const int slot = unit.next_slot;
  pass(now);
  EXPECT_EQ(unit.chan[5].reject_count, 1);
  EXPECT_NEAR(unit.chan[5].value[(slot + 1) % 16], 10049 * cm_per_count, 1e-4);
}

TEST_F(Capture, RangeLimitZeroDistanceAndTheNoFitPath) {
  std::array<unsigned, 9> tof = tof_at_50cm;
  tof[0] = 30500;  // 161.4 cm: out of range
  tof[1] = 0;      // 0 cm: taken while the channel has no line
  put_records(2, 1000, tof);
  pass(10.0);
  EXPECT_EQ(unit.chan[1].value[0], -100.0f);
  EXPECT_EQ(unit.chan[2].value[0], 0.0f);
  EXPECT_EQ(unit.chan[2].reject_count, 0);
  EXPECT_EQ(unit.slot_valid[0], 1);
  // Every distance out of range: the record fills no slot.
  const std::array<unsigned, 9> far = {40000, 40000, 40000, 40000, 40000,
                                       40000, 40000, 40000, 40000};
  put_records(2, 1040, far);
  EXPECT_EQ(pass(10.04).accepted, 1);  // the margin record of the first call
  EXPECT_EQ(pass(10.04).accepted, 0);
  EXPECT_EQ(unit.next_slot, 2);
  EXPECT_EQ(unit.slot_valid[2], 0);
}

TEST_F(Capture, SpeedOfSoundOnlyFromTheTransmitterUnitAndOnlyWithinItsBounds) {
  unsigned stamp = 1000;
  double now = 10.0;
  auto calibrate = [&](unsigned reference) {
    ring.put(record(0, stamp, reference, tof_at_50cm));
    ring.put(0);
    stamp += 20;
    now += 0.02;
    EXPECT_EQ(pass(now).accepted, 1);
  };
  calibrate(4800);
  EXPECT_DOUBLE_EQ(raw_state().time_to_cm, 25.4 / 4800);
  calibrate(0);  // no reference time of flight: nothing to divide by
  EXPECT_DOUBLE_EQ(raw_state().time_to_cm, 25.4 / 4800);
  calibrate(3907);  // 0.006501: too slow to be sound
  EXPECT_DOUBLE_EQ(raw_state().time_to_cm, 25.4 / 4800);
  calibrate(5000);
  EXPECT_DOUBLE_EQ(raw_state().time_to_cm, 25.4 / 5000);
  unit.op_info.op_byte[6] = 0;  // the transmitter is on the other unit
  calibrate(4800);
  EXPECT_DOUBLE_EQ(raw_state().time_to_cm, 25.4 / 5000);
}

TEST_F(Capture, ButtonsHaveBitsZeroAndTwoExchangedAndAreDebouncedOverThreeSlots) {
  put_records(1, 1000, tof_at_50cm, 1);
  put_records(1, 1020, tof_at_50cm, 4);
  put_records(1, 1040, tof_at_50cm, 10);
  ring.put(0);
  pass(10.0);
  EXPECT_EQ(unit.slot_buttons[0], 4);
  EXPECT_EQ(unit.slot_buttons[1], 1);
  EXPECT_EQ(unit.slot_buttons[2], 10);

  vr_lt_unit u{};
  u.next_slot = 3;
  const int buttons[3] = {5, 5, 5};
  for (int s = 0; s < 3; ++s) {
    u.slot_valid[s] = 1;
    u.slot_buttons[s] = buttons[s];
  }
  EXPECT_EQ(vr_lt_debounce_buttons(&u), 5);
  u.slot_buttons[0] = 4;
  EXPECT_EQ(vr_lt_debounce_buttons(&u), -1);
  u.slot_valid[0] = 0;
  EXPECT_EQ(vr_lt_debounce_buttons(&u), -1);  // two valid slots
  // The slot under the cursor is never looked at; the walk wraps past slot 0.
  u.slot_valid[3] = 1;
  u.slot_buttons[3] = 5;
  EXPECT_EQ(vr_lt_debounce_buttons(&u), -1);
  u.next_slot = 4;  // slots 3, 2, 1 (0 invalid)
  EXPECT_EQ(vr_lt_debounce_buttons(&u), 5);
  u.slot_valid[15] = 1;
  u.slot_buttons[15] = 5;
  u.next_slot = 2;  // 1, (0 invalid), 15, then 14 down to 3
  EXPECT_EQ(vr_lt_debounce_buttons(&u), 5);
  u.next_slot = 16;
  EXPECT_EQ(vr_lt_debounce_buttons(&u), -1);
}

TEST_F(Capture, ClockCorrectionPullsTheOffsetASeventhTowardsTheNewestArrival) {
  put_records(3, 1000);
  pass(10.0);
  const double offset = unit.clock_offset;
  // The next two records arrive 35 ms later than the model expects (within the 0.1 s window).
  put_records(2, 1060);
  pass(10.04 + 0.035);
  EXPECT_NEAR(unit.clock_lag, 0.035, 1e-6);
  EXPECT_NEAR(unit.clock_offset - offset, 0.035 / 7, 1e-6);
}

TEST_F(Capture, RingsThatLieAreNoData) {
  put_records(5, 1000);
  for (int w : {-1, 2044, INT_MAX, INT_MIN}) {
    EXPECT_EQ(capture_pass(&unit, ring.view(), w, 10.0).accepted, 0) << w;
  }
  // A saved position or slot cursor that is no position restarts the history.
  for (int pos : {INT_MIN, -1, 2044, 5000, INT_MAX}) {
    unit.ring_pos = pos;
    unit.last_capture_time = 9.99;
    unit.next_slot = 0;
    pass(10.0);
    EXPECT_GE(unit.ring_pos, 0);
    EXPECT_LT(unit.ring_pos, 2044);
  }
  unit.next_slot = -7;
  unit.last_capture_time = 9.99;
  pass(10.0);
  EXPECT_GE(unit.next_slot, 0);
  EXPECT_LT(unit.next_slot, 16);
  // An unmapped area has no data either.
  EXPECT_EQ(capture_pass(&unit, vr::capture::RingView(nullptr, 0), 100, 10.0).accepted, 0);
}

TEST_F(Capture, TimesThatAreNoTimesCannotPoisonTheClockModel) {
  put_records(3, 1000);
  EXPECT_EQ(pass(NAN).accepted, 0);
  EXPECT_EQ(pass(INFINITY).accepted, 0);
  EXPECT_EQ(unit.clock_offset, -11000000.0);
  // A clock model already broken from outside is measured again.
  unit.clock_offset = NAN;
  unit.clock_lag = INFINITY;
  EXPECT_EQ(pass(10.0).accepted, 2);
  EXPECT_TRUE(std::isfinite(unit.clock_offset));
  EXPECT_EQ(raw_counters(0).clock_resets, 1);
  // Absurdly large times: the float slot times saturate instead of overflowing.
  put_records(2, 1060);
  unit.clock_offset = -11000000.0;
  EXPECT_EQ(pass(1e300).accepted, 4);  // a restart: every record behind the margin
  EXPECT_EQ(unit.slot_time[0], FLT_MAX);
  EXPECT_TRUE(std::isfinite(unit.clock_offset));
}

TEST_F(Capture, GarbageBetweenAndInsideRecordsIsSkipped) {
  std::mt19937 rng(7);
  double now = 10.0;
  unsigned stamp = 1000;
  int accepted = 0;
  for (int frame = 0; frame < 300; ++frame) {
    // Garbage free of record starts, then a record.
    const int junk = static_cast<int>(rng() % 5);
    for (int k = 0; k < junk; ++k) ring.put(static_cast<unsigned char>(rng() % 0xE0));
    ring.put(record(0, stamp, reference_counts, tof_at_50cm));
    stamp = (stamp + 20) % 60000;
    now += 0.02;
    accepted += pass(now).accepted;
  }
  EXPECT_GE(accepted, 298);
  EXPECT_EQ(raw_counters(0).out_of_time, 0);
}

TEST(RawPrint, PrintsTheTimesOfFlightButtonsAndTimeStamp) {
  const auto bytes = encode(record(5, 12345, 4800, {1, 2, 3, 4, 5, 6, 70000 & 0xFFFF, 8, 9}));
  unsigned char native[24];
  for (int k = 0; k < 12; ++k) {
    const std::uint16_t v = static_cast<std::uint16_t>(bytes[2 * k] | bytes[2 * k + 1] << 8);
    std::memcpy(native + 2 * k, &v, 2);
  }
  testing::internal::CaptureStderr();
  print_mouse_6d_raw(native);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "SA_TO_ABC:\t    1\t    2\t    3\n"
            "SB_TO_ABC:\t    4\t    5\t    6\n"
            "SB_TO_ABC:\t 4464\t    8\t    9\n"
            "buttons:\t0xf0f5\text_ref_time:\t12345\n");
}

}  // namespace
