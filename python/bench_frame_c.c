/* The C side of bench_frame.py: one frame (vr_comp_view and the two eyes' vr_eye_matrices) in a
 * loop, timed; prints the best of five runs in nanoseconds per frame. */
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include <vrlib/vr.h>

static double now_ns(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1e9 + t.tv_nsec;
}

int main(int argc, char **argv) {
  const int frames = argc > 1 ? atoi(argv[1]) : 100000;
  vr_ctx *ctx = vr_ctx_create_display(53.0, 30.0, 1920, 1080, VR_DISPLAY_FLAT_PANEL);
  if (!ctx || frames <= 0 || vr_set_int(ctx, VR_STEREO, 1) != VR_OK) return 2;
  float projection[2][16], view[2][16];
  double best = 1e300, sink = 0;
  for (int run = 0; run < 5; ++run) {
    const double start = now_ns();
    for (int i = 0; i < frames; ++i) {
      vr_comp_view(ctx);
      vr_eye_matrices(ctx, VR_EYE_LEFT, VR_DEPTH_ZERO_ONE, projection[0], view[0]);
      vr_eye_matrices(ctx, VR_EYE_RIGHT, VR_DEPTH_ZERO_ONE, projection[1], view[1]);
      sink += projection[0][0] + view[1][12];
    }
    const double per_frame = (now_ns() - start) / frames;
    if (per_frame < best) best = per_frame;
  }
  printf("%.1f\n", best);
  free(ctx);
  return sink == 12345.0 ? 3 : 0; /* keeps the results alive */
}
