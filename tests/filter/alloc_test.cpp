// The pose filter allocates nothing: a minute of two raw units' distances, whole poses,
// refusals, resets and predictions to the display time.
#include <gtest/gtest.h>

#include <random>

#include "alloc_count.h"
#include "filter_test_util.h"

namespace {

using namespace filter_test;

TEST(PoseFilterAlloc, AllocatesNothing) {
  std::mt19937 rng(21);
  Motion head, hand;
  head.vel = {10, -5, 3};
  head.omega = {0.1, 0.8, 0};
  hand.p0 = {8, -25, 40};
  hand.vel = {-4, 6, 0};
  vr_pose_filter fh, fm, fp;
  const vr_pose_filter_settings s = matched();
  vr_pose_filter_init(&fh, &s);
  vr_pose_filter_init(&fm, &s);
  vr_pose_filter_init(&fp, &s);
  start_near(&fh, head, 0.0, {}, {});
  start_near(&fm, hand, 0.0, {}, {});
  alloc_count::allocations = 0;
  alloc_count::counting = true;
  double sum = 0;
  for (int i = 1; i < 3000; ++i) {
    const double t = i * record_interval_s;
    feed_record(&fh, head, t, 0.005, rng);
    feed_record(&fm, hand, t, 0.005, rng);
    double pos[3], q[4], spk[3] = {0, 0, 0}, mic[3] = {0, 0, 0};
    to_library(head.at(t).rot, q);
    array(head.at(t).pos, pos);
    vr_pose_filter_pose(&fp, t, pos, q, 0, 0);
    vr_pose_filter_distance(&fh, t, spk, mic, 1000.0, 0);  // gated
    vr_pose_filter_tick(&fh, t);
    if (vr_pose_filter_predict(&fh, t + 0.04, pos, q)) sum += pos[0];
    if (vr_pose_filter_predict(&fm, t + 0.04, pos, q)) sum += pos[0];
  }
  alloc_count::counting = false;
  EXPECT_EQ(alloc_count::allocations, 0);
  EXPECT_TRUE(std::isfinite(sum));
  EXPECT_NE(fh.state, VR_FILTER_OFF);
  EXPECT_NE(fm.state, VR_FILTER_OFF);
  EXPECT_GT(fh.taken, 9 * 2900);
}

}  // namespace
