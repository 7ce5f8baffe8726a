/* Creates a context, reports a window, computes one stereo frame and prints both views. */
#include <vrlib/vr.h>

#include <stdio.h>
#include <stdlib.h>

int main(void) {
  vr_ctx *ctx = vr_ctx_create();
  if (!ctx) return 1;
  vr_object_set(ctx, VR_STEREO, 1, 0);
  vr_window_match_ws(ctx, 0, 0, 960, 680);
  vr_comp_view(ctx);

  double(*left)[4] = NULL;
  double(*right)[4] = NULL;
  vr_object_get(ctx, VR_LEFT_VIEW, &left);
  vr_object_get(ctx, VR_RIGHT_VIEW, &right);
  printf("left view\n");
  vr_mat_print(left);
  printf("right view\n");
  vr_mat_print(right);
  vr_quit(ctx);
  free(ctx);
  return 0;
}
