// The per-frame view computation allocates nothing, and a context creation that runs out of
// memory reports it.
#include <gtest/gtest.h>

#include <cstdlib>

#include "alloc_count.h"
#include "view_test_util.h"

using namespace view_test;

using namespace alloc_count;

namespace {

void idle_tracker(vr_ctx *ctx) {
  ctx->screen_left_eye[0] += 1e-6;
}

long allocations_in_frames(vr_ctx *ctx, int frames) {
  long total = 0;
  for (int i = 0; i < frames; ++i) {
    ctx->attributes_changed = i % 2;  // every other frame re-establishes the coexistence centre
    allocations = 0;
    counting = true;
    vr_comp_view(ctx);
    counting = false;
    total += allocations;
  }
  return total;
}

}  // namespace

TEST(Allocation, TheCounterSeesAllocations) {
  ASSERT_NE(hooks_installed, 0);
  void *(*volatile allocate)(std::size_t) = std::malloc;
  allocations = 0;
  counting = true;
  void *p = allocate(64);
  int *volatile q = new int(3);  // volatile: the pair may not be elided
  counting = false;
  std::free(p);
  delete q;
  EXPECT_GE(allocations, 2);
}

TEST(Allocation, FramesAllocateNothingInAnyMode) {
  struct Mode {
    const char *name;
    int stereo, crt, head_relative, tracking, eye_pos, quantize_space;
  };
  const Mode modes[] = {
      {"mono, no CRT correction", 0, 0, 0, 1, 2, 0},
      {"stereo with CRT correction", 1, 1, 0, 1, 2, 0},
      {"stereo, CRT, head-relative views", 1, 1, 1, 1, 2, 0},
      {"fixed field, quantized, spherical face", 1, 1, 1, 1, 1, 1},
      {"head-mounted", 1, 0, 0, 5, 2, 0},
  };
  for (const Mode &m : modes) {
    Ctx ctx = new_ctx();
    vr_object_set(ctx.get(), VR_STEREO, m.stereo, VR_CRT_CORRECTION, m.crt, VR_HEAD_RELATIVE_VIEWS,
                  m.head_relative, VR_TRACKING_MODE, m.tracking, VR_EYE_POS_MODE, m.eye_pos,
                  VR_QUANTIZE_SPACE, m.quantize_space, VR_CRT_CURVATURE, m.quantize_space ? 1 : 2,
                  VR_HEAD_TO_WORLD_WANTED, 1, VR_MOUSE_TO_WORLD_WANTED, 1, VR_MOUSE_EVENT_FN,
                  &idle_tracker, VR_GLASSES_EVENT_FN, &idle_tracker, VR_EYE_HOOK_FN, &idle_tracker,
                  0);
    if (m.tracking == 5) {
      make_head_to_lr_plate(ctx.get());
      make_coexistence_to_dig(ctx.get(), 45.72);
    }
    EXPECT_EQ(allocations_in_frames(ctx.get(), 300), 0) << m.name;
  }
}

TEST(Allocation, ContextCreationReportsExhaustedMemory) {
#ifdef ALLOC_COUNT_CAN_REFUSE
  refusing = true;
  vr_ctx *ctx = vr_ctx_create();
  refusing = false;
  EXPECT_EQ(ctx, nullptr);
  std::free(ctx);
#else
  GTEST_SKIP() << "the sanitizer's allocator cannot be made to refuse a single request cleanly";
#endif
}
