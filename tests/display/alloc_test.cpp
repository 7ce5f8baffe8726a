// Display-time tracking's frames allocate nothing: raw units and 6D reports, through the whole
// vr_comp_view, on the simulator (only the library's part of each frame is counted), with the
// display-time path and with the pose filter.
#include <gtest/gtest.h>

#include "alloc_count.h"
#include "track_fixture.h"

namespace {

using track_test::TrackTest;

class DisplayAlloc : public TrackTest {};

TEST_F(DisplayAlloc, FramesAllocateNothing) {
  // The counter sees an allocation when there is one.
  alloc_count::allocations = 0;
  alloc_count::counting = true;
  void *volatile probe = std::malloc(16);
  alloc_count::counting = false;
  std::free(probe);
  ASSERT_EQ(alloc_count::allocations, 1);
  for (int run = 0; run < 4; ++run) {
    const int source = 1 + run % 2, filter = run / 2;
    SCOPED_TRACE(source == 1 ? "raw" : "6D");
    SCOPED_TRACE(filter ? "filter" : "display time");
    vrsim_plug_standard(sim);
    vrsim_imperfections imp{};
    imp.distance_noise_cm = 0.02;
    imp.outlier_rate = 0.01;
    imp.outlier_cm = 4.0;
    vrsim_set_imperfections(sim, VRSIM_PORT_A, &imp);
    vrsim_set_imperfections(sim, VRSIM_PORT_B, &imp);
    ctx->tracking_mode = 1;
    ctx->glasses_source = ctx->mouse_source = source;
    ASSERT_EQ(vr_set_int(ctx, filter ? int{VR_TRACK_FILTER} : int{VR_TRACK_DISPLAY_TIME}, 1),
              VR_OK);
    ASSERT_EQ(vr_init_glasses_and_mouse_6d(ctx, 1, 1), 1);
    alloc_count::allocations = 0;
    for (int i = 0; i < 300; ++i) {
      vrsim_advance(sim, 1.0 / 60.0);
      alloc_count::counting = true;
      vr_comp_view(ctx);
      alloc_count::counting = false;
    }
    EXPECT_EQ(alloc_count::allocations, 0);
    double shown = 0;
    vr_get_double(ctx, VR_DISPLAY_TIME, &shown);
    EXPECT_GT(shown, 0.0);
    int state = -1;
    vr_get_int(ctx, VR_TRACK_FILTER_STATE, &state);
    EXPECT_EQ(state, filter ? 2 : 0);  // tracking; untouched without the filter
    fresh();
  }
}

}  // namespace
