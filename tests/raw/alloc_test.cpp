// The per-frame raw path allocates nothing: capture passes and solves, with statistics armed.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>

#include "alloc_count.h"
#include "raw_test_util.h"

using namespace alloc_count;

namespace {

using namespace raw_test;

TEST(RawFrame, AllocatesNothing) {
  reset_module();
  vr_lt_unit glasses, mouse;
  init_unit(&glasses, 0, true);
  init_unit(&mouse, 1, false, 5.08, 5.08);
  vr_lt_glasses_unit = &glasses;
  vr_lt_mouse_6d_unit = &mouse;
  vr_ctx ctx{};
  ctx.raw_interpolate = 1;
  ctx.predict_from_frame_time = 1;
  ctx.predict_lead_limit = 3.0;
  ctx.raw_limit = 100.0;
  ctx.pworld_time_delta = 0.02;
  dmat head, hand;
  pose(0.1, 0.0, 0.1, 0, -10, 55, head);
  pose(0.0, 0.2, 0.0, 8, -25, 40, hand);
  auto tof_of = [](const dmat m, double b, double s) {
    const auto d = distances(m, b, s);
    std::array<unsigned, 9> t{};
    for (int k = 0; k < 9; ++k) t[k] = static_cast<unsigned>(std::lround(d[k] / cm_per_count));
    return t;
  };
  const auto head_tof = tof_of(head, 6.35, 6.43);
  const auto hand_tof = tof_of(hand, 5.08, 5.08);
  Ring ring_a(0), ring_b(1);
  double now = 10.0;
  int solved = 0;
  // The counter sees an allocation when there is one.
  counting = true;
  void *volatile probe = std::malloc(16);
  counting = false;
  std::free(probe);
  ASSERT_EQ(allocations, 1);
  allocations = 0;

  cur_stat = 0;
  counting = true;
  for (int frame = 0; frame < 500; ++frame) {
    const unsigned stamp = (1000u + 20u * frame) % 60000u;
    ring_a.put(record(0, stamp, reference_counts, head_tof));
    ring_b.put(record(0, stamp, reference_counts, hand_tof));
    now += 0.02;
    if (cur_stat == 254) cur_stat = 0;  // keep recording, never print
    vr::lt::capture_pass(&mouse, ring_b.view(), ring_b.w, now);
    solved += comp_mouse_6d_raws(&ctx, &mouse, ctx.mouse_to_dig);
    vr::lt::capture_pass(&glasses, ring_a.view(), ring_a.w, now);
    solved += comp_mouse_6d_raws(&ctx, &glasses, ctx.head_to_dig);
  }
  counting = false;
  cur_stat = 255;
  EXPECT_EQ(allocations, 0);
  EXPECT_GT(solved, 990);
  // Whole counts of 0.0053 cm, through the small receiver triangles: a few millimetres at most.
  EXPECT_LT(translation_error(ctx.head_to_dig, head), 0.5);
  EXPECT_LT(translation_error(ctx.mouse_to_dig, hand), 0.5);
}

}  // namespace
