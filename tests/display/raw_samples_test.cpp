// The front end's raw-distance path on its own: a synthetic source hands it records and a history
// through the source interface (vr_source.h) with no serial driver or simulator behind them, so
// that what the front end owns (the gate, the lines, the display-time reading, the jump hold, the
// pose filter's feeding) is seen apart from any device.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "vr_display_time.h"
#include "vr_ext.h"
#include "vr_source.h"
#include "vrlib/vr.h"

namespace {

using vr::track::RawHistory;
using vr::track::RawLayout;
using vr::track::RawRecord;

constexpr double record_period_s = 0.02;
constexpr double display_latency_s = 0.03;

// A source whose nine distances all follow one function of time; its "solver" puts the first
// distance into the pose's x, so that the pose shows what the front end made of the distances.
struct SyntheticSource {
  float values[vr_display_channels][vr_display_slots] = {};
  RawLayout layout{};
  vr_raw_lines lines{};
  double fired[vr_display_slots] = {};
  unsigned usable = 0;
  int newest = -1;
  int next_slot = 0;
  int solves = 0;

  SyntheticSource() {
    const double offsets[3] = {-0.0133333, -0.0066667, 0.0};
    std::memcpy(layout.speaker_offset_s, offsets, sizeof offsets);
    const int mics[3] = {1, 0, 2};
    std::memcpy(layout.mic_of_channel, mics, sizeof mics);
  }

  static bool solve(vr_ctx *, void *self, dmat pose, const double distance_cm[9]) {
    ++static_cast<SyntheticSource *>(self)->solves;
    for (int r = 0; r < 4; ++r)
      for (int c = 0; c < 4; ++c) pose[r][c] = r == c ? 1.0 : 0.0;
    pose[3][0] = distance_cm[0];
    return true;
  }

  RawHistory history() {
    RawHistory h{};
    h.newest_slot = newest;
    h.usable = usable;
    std::memcpy(h.fired_s, fired, sizeof fired);
    for (int k = 0; k < vr_display_channels; ++k) h.distance_cm[k] = values[k];
    h.layout = &layout;
    h.solve = solve;
    h.unit = this;
    return h;
  }

  // One new record whose top speaker fired at `t` and whose every distance is `value` (channel 0
  // may differ, and may grow at rate_cm_s from its own speaker's moment on).
  RawRecord add(double t, double value, double first = NAN, double rate_cm_s = 0.0) {
    const int s = next_slot;
    next_slot = (next_slot + 1) % vr_display_slots;
    for (int k = 0; k < vr_display_channels; ++k)
      values[k][s] = static_cast<float>(k == 0 && std::isfinite(first) ? first : value);
    values[0][s] += static_cast<float>(rate_cm_s * (t + layout.speaker_offset_s[0]));
    fired[s] = t;
    usable |= 1u << s;
    newest = s;
    return {s, t, true, false, false};
  }
};

class RawSamples : public ::testing::Test {
 protected:
  void SetUp() override {
    ctx = vr_ctx_create();
    ASSERT_NE(ctx, nullptr);
    ASSERT_EQ(vr_set_int(ctx, VR_TRACK_DISPLAY_TIME, 1), VR_OK);
    ASSERT_EQ(vr_set_double(ctx, VR_DISPLAY_LATENCY, display_latency_s), VR_OK);
  }
  void TearDown() override { std::free(ctx); }

  // One frame at time `now`: the record (if any) goes in, then the pose at the display time.
  bool frame(double now, const RawRecord *record, dmat pose) {
    ctx->pworld_time_now = now;
    vr::display::frame_display_time(ctx);
    const RawHistory h = src.history();
    if (record) vr::display::take_raw_records(ctx, src.lines, h, record, 1, nullptr);
    return vr::display::raw_pose(ctx, src.lines, h, nullptr, pose);
  }

  int count(int id) {
    int v = -1;
    EXPECT_EQ(vr_get_int(ctx, id, &v), VR_OK);
    return v;
  }

  vr_ctx *ctx = nullptr;
  SyntheticSource src;
};

// Distances that grow steadily are read off their lines at the display time, not at the newest
// measurement: the pose leads the newest record by the latency and the record's age.
TEST_F(RawSamples, EachDistanceIsReadOffItsLineAtTheDisplayTime) {
  constexpr double rate_cm_s = 20.0;  // far above the slope a still head's noise gives
  dmat pose{};
  double now = 1.0;
  for (int i = 0; i < 12; ++i, now += record_period_s) {
    const double t = now - 0.005;
    const RawRecord r = src.add(t, 50.0, NAN, rate_cm_s);
    ASSERT_TRUE(frame(now, &r, pose));
  }
  now -= record_period_s;
  const double display_s = now + display_latency_s;
  EXPECT_NEAR(pose[3][0], 50.0 + rate_cm_s * display_s, 1e-3);
  EXPECT_EQ(count(VR_REJECTED_VALUES), 0);
}

// A still head: the lines are read at the middle of their measurements, so that noise is averaged
// and not extrapolated.
TEST_F(RawSamples, AStillHeadIsSmoothedNotExtrapolated) {
  dmat pose{};
  double now = 1.0;
  for (int i = 0; i < 12; ++i, now += record_period_s) {
    const RawRecord r = src.add(now, 60.0 + (i % 2 ? 0.02 : -0.02));
    ASSERT_TRUE(frame(now, &r, pose));
  }
  EXPECT_NEAR(pose[3][0], 60.0, 0.01);
}

// A distance far off its line is left out and counted; the pose stays on the line. A distance that
// stays at its new value is its new course: the pose follows it.
TEST_F(RawSamples, AnOutlierIsLeftOutAndARunOfThemIsTaken) {
  dmat pose{};
  double now = 1.0;
  for (int i = 0; i < 12; ++i, now += record_period_s) {
    const RawRecord r = src.add(now, 60.0 + (i % 2 ? 0.01 : -0.01));
    ASSERT_TRUE(frame(now, &r, pose));
  }
  const RawRecord outlier = src.add(now, 60.0, 64.0);
  ASSERT_TRUE(frame(now, &outlier, pose));
  EXPECT_EQ(count(VR_REJECTED_VALUES), 1);
  EXPECT_NEAR(pose[3][0], 60.0, 0.05);
  for (int i = 0; i < 12; ++i) {
    now += record_period_s;
    const RawRecord r = src.add(now, 60.0, 64.0);
    frame(now, &r, pose);
  }
  EXPECT_NEAR(pose[3][0], 64.0, 0.05);
}

// A pose that jumps farther than a head can move is held (the previous pose stays, counted), until
// a quarter of a second of poses at the new place makes it the head's place.
TEST_F(RawSamples, AJumpIsHeldThenTakenAsTheNewPlace) {
  ASSERT_EQ(vr_set_int(ctx, VR_RAW_FIT_SLOTS, 3), VR_OK);
  dmat pose{};
  double now = 1.0;
  for (int i = 0; i < 6; ++i, now += record_period_s) {
    const RawRecord r = src.add(now, 60.0);
    ASSERT_TRUE(frame(now, &r, pose));
  }
  // Three records at 90 cm fill the three-slot window; the gate has too few disagreements yet.
  int held = 0;
  double first_new = NAN;
  for (int i = 0; i < 25; ++i, now += record_period_s) {
    const RawRecord r = src.add(now, 90.0);
    dmat got;
    std::memcpy(got, pose, sizeof got);
    if (!frame(now, &r, got)) {
      ++held;
      continue;
    }
    std::memcpy(pose, got, sizeof pose);
    if (pose[3][0] > 80.0) {
      first_new = now;
      break;
    }
  }
  EXPECT_GT(held, 0);
  EXPECT_EQ(count(VR_HELD_JUMPS), held);
  ASSERT_TRUE(std::isfinite(first_new));
  EXPECT_NEAR(pose[3][0], 90.0, 1e-3);
}

// A source with no history yet, or one whose records carry no usable distance, gives no pose and
// never calls its solver.
TEST_F(RawSamples, NothingToGoByGivesNoPose) {
  dmat pose{};
  EXPECT_FALSE(frame(1.0, nullptr, pose));
  const RawRecord r = src.add(1.0, -100.0);  // the capture's mark of a missing value
  EXPECT_FALSE(frame(1.0, &r, pose));
  EXPECT_EQ(src.solves, 0);
}

// With the pose filter, a record the source hands over again (seen) is not fed a second time:
// after a silence it would restart the filter from a pose long gone.
TEST_F(RawSamples, ARecordSeenBeforeIsNotFedToTheFilterAgain) {
  vr_pose_filter filter;
  vr_pose_filter_init(&filter, nullptr);
  const double pos[3] = {0, 0, 60}, q[4] = {0, 0, 0, 1};
  ASSERT_EQ(vr_pose_filter_start(&filter, 1.0, pos, q), 1);
  RawRecord r = src.add(1.01, 60.0);
  const RawHistory h = src.history();
  vr::display::take_raw_records(ctx, src.lines, h, &r, 1, &filter);
  const long fed = filter.taken + filter.gated + filter.invalid + filter.late + filter.unstarted;
  EXPECT_EQ(fed, vr_display_channels);
  r.seen = true;
  vr::display::take_raw_records(ctx, src.lines, h, &r, 1, &filter);
  EXPECT_EQ(filter.taken + filter.gated + filter.invalid + filter.late + filter.unstarted, fed);
}

}  // namespace
