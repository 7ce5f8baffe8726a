// Cost of one frame of the view computation, in the display modes an application runs.
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "vrlib/vr.h"

namespace {

struct FrameSetup {
  int stereo;
  int crt_correction;
  int head_relative_views;
  int tracking_mode;
};

// A viewer who drifts a little every frame, as a head tracker would report, so that no frame
// repeats the previous one.
void drifting_viewer(vr_ctx *ctx) {
  ctx->screen_left_eye[0] += 1e-4;
  ctx->screen_right_eye[0] += 1e-4;
}

void run_frames(benchmark::State &state, const FrameSetup &setup) {
  vr_ctx *ctx = vr_ctx_create();
  vr_object_set(ctx, VR_STEREO, setup.stereo, VR_CRT_CORRECTION, setup.crt_correction,
                VR_HEAD_RELATIVE_VIEWS, setup.head_relative_views, VR_TRACKING_MODE,
                setup.tracking_mode, VR_GLASSES_EVENT_FN, &drifting_viewer, 0);
  if (setup.tracking_mode == 5) {
    make_head_to_lr_plate(ctx);
    make_coexistence_to_dig(ctx, 45.72);
    vr_mat_identity(ctx->head_to_dig);
  }
  vr_comp_view(ctx);  // settles the coexistence centre after the attribute changes
  for (auto _ : state) {
    vr_comp_view(ctx);
    benchmark::DoNotOptimize(ctx->left_view[0][0]);
    benchmark::DoNotOptimize(ctx->right_view[0][0]);
    benchmark::ClobberMemory();
  }
  std::free(ctx);
}

void BM_CompViewMonoNoCrt(benchmark::State &state) {
  run_frames(state, {0, 0, 0, 1});
}
void BM_CompViewStereoCrt(benchmark::State &state) {
  run_frames(state, {1, 1, 0, 1});
}
void BM_CompViewStereoCrtHeadRelative(benchmark::State &state) {
  run_frames(state, {1, 1, 1, 1});
}
void BM_CompViewHeadMounted(benchmark::State &state) {
  run_frames(state, {1, 0, 0, 5});
}

// Both eyes' projection and view, as a shader pipeline asks for them after each frame.
void BM_EyeMatricesStereo(benchmark::State &state) {
  vr_ctx *ctx = vr_ctx_create_display(53.0, 30.0, 1920, 1080, VR_DISPLAY_FLAT_PANEL);
  vr_world_in_plate_cm(ctx);
  vr_set_int(ctx, VR_STEREO, 1);
  vr_comp_view(ctx);
  float projection[2][16], view[2][16];
  for (auto _ : state) {
    vr_eye_matrices(ctx, VR_EYE_LEFT, VR_DEPTH_ZERO_ONE, projection[0], view[0]);
    vr_eye_matrices(ctx, VR_EYE_RIGHT, VR_DEPTH_ZERO_ONE, projection[1], view[1]);
    benchmark::DoNotOptimize(projection);
    benchmark::DoNotOptimize(view);
    benchmark::ClobberMemory();
  }
  std::free(ctx);
}

}  // namespace

BENCHMARK(BM_EyeMatricesStereo);
BENCHMARK(BM_CompViewMonoNoCrt);
BENCHMARK(BM_CompViewStereoCrt);
BENCHMARK(BM_CompViewStereoCrtHeadRelative);
BENCHMARK(BM_CompViewHeadMounted);
