/* The README's API tour, built against the installed package by the test command. */
#include <vrlib/vr.h>

#include <stdio.h>
#include <stdlib.h>

int main(void) {
  vr_ctx *ctx = vr_ctx_create(); /* 36.5 x 25.9 cm screen of 960 x 680 pixels, viewer at 35 cm */
  if (!ctx) return 1;

  /* Typed setters: each checks the identifier's type and access, and says what it refused. */
  if (vr_set_int(ctx, VR_STEREO, 1) != VR_OK || vr_set_int(ctx, VR_CRT_CORRECTION, 1) != VR_OK ||
      vr_set_double(ctx, VR_INTEROCULAR, 6.4) != VR_OK)
    return 1;

  /* The window, in pixels from the top left of the screen, whenever it moves. */
  vr_window_match_ws(ctx, 0, 0, 960, 680);

  /* Once per frame: time, trackers (if any), eyes, then the views. */
  vr_comp_view(ctx);

  /* Typed getters copy the values out. */
  dmat left, right;
  dpt eye;
  vr_get_matrix(ctx, VR_LEFT_VIEW, left);
  vr_get_matrix(ctx, VR_RIGHT_VIEW, right);
  vr_get_point(ctx, VR_LEFT_EYE, eye);
  printf("left eye at (%.2f, %.2f, %.2f) cm in plate coordinates\n", eye[0], eye[1], eye[2]);
  vr_mat_print(left);
  vr_mat_print(right);

  /* With OpenGL:  glMatrixMode(GL_PROJECTION); glLoadMatrixd(&left[0][0]);  then draw. */

  vr_quit(ctx);
  free(ctx); /* the application owns the context */
  return 0;
}
