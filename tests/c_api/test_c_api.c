/* The public header compiled as C99 and used through the shared library: a context configured
 * through the variable-argument list, read back, and one stereo frame computed. */
#include <vrlib/vr.h>

#include <math.h>
#include <stdio.h>
#include <stdlib.h>

static int failures = 0;
static int hook_calls = 0;

static void check(int ok, const char *what) {
  if (!ok) {
    printf("FAILED: %s\n", what);
    failures++;
  }
}

static int near(double a, double b, double tolerance) {
  return fabs(a - b) <= tolerance;
}

static void count_hook(vr_ctx *ctx) {
  (void)ctx;
  hook_calls++;
}

int main(void) {
  vr_ctx *ctx;
  double d = 0.0;
  int i = 0;
  dpt p;
  dpt eye_offset = {-3.0, 2.0, 3.5};
  dpt screen_eye = {15.0, 14.0, 40.0};
  double(*view)[4] = NULL;
  double(*right)[4] = NULL;
  double *time = NULL;
  double w;
  float projection[16], eye_view[16];
  vr_ctx *panel;
  int k, r, c, row_ok;

  check(VR_EYE_HOOK_REMOVE_FN == 129 && VR_GLASSES_RX_GEOM_0 == 49 && VR_TX_GEOM_3 == 60,
        "attribute identifiers have not moved");

  ctx = vr_ctx_create();
  if (ctx == NULL) {
    printf("FAILED: no context\n");
    return 1;
  }

  /* double, int, point and function values in one list */
  vr_object_set(ctx, VR_CRT_RADIUS, 100.0, VR_STEREO, 1, VR_HEAD_RELATIVE_VIEWS, 1,
                VR_LEFT_EYE_OFFSET, eye_offset, VR_SCREEN_LEFT_EYE, screen_eye, VR_EYE_HOOK_FN,
                count_hook, VR_INTEROCULAR, 6.0, 0);

  vr_object_get(ctx, VR_CRT_RADIUS, &d);
  check(d == 100.0, "double read back");
  vr_object_get(ctx, VR_STEREO, &i);
  check(i == 1, "int read back");
  vr_object_get(ctx, VR_LEFT_EYE_OFFSET, p);
  check(p[0] == -3.0 && p[1] == 2.0 && p[2] == 3.5, "point read back");
  vr_object_get(ctx, VR_INTEROCULAR, &d);
  check(d == 6.0, "interocular read back");
  check(hook_calls == 1, "eye hook installed and run once by the interocular row");

  vr_comp_view(ctx);
  check(hook_calls == 2, "eye hook run by the frame");

  vr_object_get(ctx, VR_LEFT_EYE, p);
  check(p[0] == 15.0 && p[1] == 14.0 && p[2] == 40.0, "left eye at the screen eye");
  vr_object_get(ctx, VR_LEFT_VIEW, &view);
  vr_object_get(ctx, VR_RIGHT_VIEW, &right);
  check(view == ctx->left_view && right == ctx->right_view, "views handed out by address");
  /* The window centre in the world (its origin) lies in front of both eyes, inside the view. */
  w = view[3][3];
  check(w > 0.0 && fabs(view[3][0] / w) < 1.0 && fabs(view[3][1] / w) < 1.0,
        "world origin inside the left view");
  check(right[3][3] > 0.0 && right[3][0] != view[3][0], "right view differs from the left");
  vr_object_get(ctx, VR_DEPTH_FRONT_NDC, &d);
  check(d > -1.0 && d < 1.0, "first depth plane between hither and yon");

  vr_object_get(ctx, VR_PWORLD_TIME, &time);
  check(time != NULL && near(time[2], time[0] - time[1], 1e-12), "time block");

  /* Each eye's projection and view as float uniforms: their product is the combined view with
   * OpenGL's depth (its z column negated), in the same memory order. */
  check(vr_eye_matrices(ctx, VR_EYE_RIGHT, VR_DEPTH_GL, projection, eye_view) == VR_OK,
        "right eye split");
  row_ok = 1;
  for (c = 0; c < 4; c++) { /* column c of the product is row c of the dmat */
    for (r = 0; r < 4; r++) {
      double sum = 0.0, expected = r == 2 ? -right[c][r] : right[c][r];
      for (k = 0; k < 4; k++) sum += (double)projection[k * 4 + r] * eye_view[c * 4 + k];
      if (!near(sum, expected, 1e-5 * (1.0 + fabs(expected)))) row_ok = 0;
    }
  }
  check(row_ok, "projection x view is the right view with OpenGL's depth");
  /* Numbers outside the enumerations, as a C caller may pass them, are refused. */
  check(vr_eye_matrices(ctx, VR_EYE_LEFT, (vr_depth_convention)4, projection, eye_view) ==
            VR_ERR_BAD_VALUE,
        "unknown depth convention refused");
  check(vr_eye_matrices(ctx, VR_EYE_LEFT, (vr_depth_convention)-1, projection, eye_view) ==
            VR_ERR_BAD_VALUE,
        "negative depth convention refused");
  check(vr_ctx_create_display(53.0, 30.0, 1920, 1080, (vr_display_kind)7) == NULL,
        "unknown display kind refused");
  panel = vr_ctx_create_display(53.0, 30.0, 1920, 1080, VR_DISPLAY_FLAT_PANEL);
  check(panel != NULL && vr_world_in_plate_cm(panel) == VR_OK &&
            vr_set_int(panel, VR_STEREO, 1) == VR_OK,
        "flat-panel preset");
  free(panel);
  {
    /* The rigid fit from C: plain arrays of points, the placement then stored in the context. */
    dpt from[3] = {{0.0, 0.0, 0.0}, {10.0, 0.0, 0.0}, {0.0, 10.0, 0.0}};
    dpt to[3] = {{5.0, 6.0, 7.0}, {5.0, 16.0, 7.0}, {-5.0, 6.0, 7.0}};
    dmat fit;
    double rms = -1.0, worst = -1.0;
    check(vr_rigid_fit(3, from, to, fit, &rms, &worst) == VR_FIT_OK && rms < 1e-12 &&
              worst < 1e-12 && near(fit[0][1], 1.0, 1e-12) && near(fit[3][0], 5.0, 1e-12),
          "rigid fit of a quarter turn");
    check(vr_rigid_fit(2, from, to, fit, NULL, NULL) == VR_FIT_TOO_FEW, "two points refused");
    check(vr_set_matrix(ctx, VR_TRACKER_TO_PLATE, fit) == VR_OK &&
              ctx->dig_to_plate[3][2] == fit[3][2],
          "fitted placement stored");
  }

  vr_quit(ctx);
  free(ctx);
  if (failures == 0) printf("c_api: all checks passed\n");
  return failures ? 1 : 0;
}
