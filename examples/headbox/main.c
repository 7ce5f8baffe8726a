/*
 * headbox: head-coupled stereo boxes on a flat panel, the way a new application is written.
 *
 * A 53 x 30 cm monitor of 1920 x 1080 pixels. A simulated viewer sways in front of it (the
 * simulator plays the ultrasonic head tracker on the serial lines; the real driver code reads it).
 * World coordinates are the screen's own centimetres, so the boxes are placed physically: a blue
 * one 4 to 12 cm behind the glass, an orange one 4 to 12 cm in front of it. Each eye's image is
 * drawn with a core-profile shader from the library's separate projection and view matrices,
 * with 0..1 depth, into an offscreen framebuffer through headless EGL (Mesa's software renderer:
 * no display or GPU needed).
 *
 * The program checks what it drew: both boxes in both eyes, uncrossed parallax for the box
 * behind the screen and crossed for the one in front (of the size the tracked eyes predict),
 * images that follow the head, and near faces drawn over far ones. It writes the last stereo
 * pair side by side (left | right) to the PNG file named on the command line (default
 * headbox.png) and exits with 0 when every check passed, 1 when one failed, 2 when it could not
 * run at all.
 */
#define GL_GLEXT_PROTOTYPES 1
#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <GL/glext.h>
#include <png.h>

#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include <vrlib/vr.h>
#include <vrsim/vrsim.h>

/* The monitor. */
#define SCREEN_W_CM 53.0
#define SCREEN_H_CM 30.0
#define SCREEN_W_PX 1920
#define SCREEN_H_PX 1080
/* The images are drawn at half the screen's resolution: the views map the window to clip space,
 * so any framebuffer of the screen's shape shows the same picture. */
#define IMAGE_W 960
#define IMAGE_H 540

static const double pi = 3.14159265358979323846;

/* A box in plate centimetres (origin at the screen's lower-left corner, x right, y up, z toward
 * the viewer). */
typedef struct box {
  double centre[3];
  double size;
  float colour[3];
} box;

static const box boxes[2] = {
    {{18.0, 15.0, -8.0}, 8.0, {0.3f, 0.5f, 1.0f}}, /* behind the screen */
    {{35.0, 15.0, 8.0}, 8.0, {1.0f, 0.6f, 0.2f}},  /* in front of it */
};

/* ---- The simulated viewer ------------------------------------------------------------------ */

/* Eyes 60 cm from the screen, swaying 8 cm left and right (and a little up and down) every 4 s,
 * turning a little toward the screen's centre when off to one side. */
static void sway(void *user, double t, dpt eye_mid, dquat orientation) {
  (void)user;
  const double phase = 2.0 * pi * t / 4.0;
  eye_mid[0] = SCREEN_W_CM / 2 + 8.0 * sin(phase);
  eye_mid[1] = SCREEN_H_CM / 2 + 2.0 * sin(2.0 * phase);
  eye_mid[2] = 60.0;
  vrsim_orientation_from_angles(0.1 * sin(phase), 0.0, 0.0, orientation);
}

/* ---- OpenGL: a headless context, the shader and the box geometry ----------------------------- */

static const char *vertex_shader =
    "#version 330 core\n"
    "layout(location = 0) in vec3 position;  // plate cm\n"
    "layout(location = 1) in vec3 normal;\n"
    "uniform mat4 projection;\n"
    "uniform mat4 view;\n"
    "out vec3 face_normal;\n"
    "void main() {\n"
    "  face_normal = normal;\n"
    "  gl_Position = projection * view * vec4(position, 1.0);\n"
    "}\n";

static const char *fragment_shader =
    "#version 330 core\n"
    "in vec3 face_normal;\n"
    "uniform vec3 colour;\n"
    "out vec4 frag;\n"
    "void main() {\n"
    "  float light = 0.35 + 0.65 * max(dot(face_normal, vec3(0.3, 0.5, 0.8)), 0.0);\n"
    "  frag = vec4(colour * light, 1.0);\n"
    "}\n";

/* The shade of a box's front face (normal +z), as the fragment shader computes it. */
static const double front_face_light = 0.35 + 0.65 * 0.8;

/* A current OpenGL 4.5 core context on Mesa's surfaceless EGL platform, drawing into an offscreen
 * framebuffer of IMAGE_W x IMAGE_H. */
static int open_gl(void) {
  PFNEGLGETPLATFORMDISPLAYEXTPROC get_platform_display =
      (PFNEGLGETPLATFORMDISPLAYEXTPROC)eglGetProcAddress("eglGetPlatformDisplayEXT");
  EGLDisplay display = EGL_NO_DISPLAY;
  if (get_platform_display)
    display = get_platform_display(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, NULL);
  if (display == EGL_NO_DISPLAY) display = eglGetDisplay(EGL_DEFAULT_DISPLAY);
  if (!eglInitialize(display, NULL, NULL) || !eglBindAPI(EGL_OPENGL_API)) return 0;
  const EGLint config_attribs[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_SURFACE_TYPE, 0,
                                   EGL_NONE};
  EGLConfig config;
  EGLint count = 0;
  if (!eglChooseConfig(display, config_attribs, &config, 1, &count) || count < 1) return 0;
  const EGLint context_attribs[] = {EGL_CONTEXT_MAJOR_VERSION,
                                    4,
                                    EGL_CONTEXT_MINOR_VERSION,
                                    5,
                                    EGL_CONTEXT_OPENGL_PROFILE_MASK,
                                    EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT,
                                    EGL_NONE};
  EGLContext context = eglCreateContext(display, config, EGL_NO_CONTEXT, context_attribs);
  if (context == EGL_NO_CONTEXT) return 0;
  if (!eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context)) return 0;

  GLuint framebuffer, colour, depth;
  glGenFramebuffers(1, &framebuffer);
  glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
  glGenRenderbuffers(1, &colour);
  glBindRenderbuffer(GL_RENDERBUFFER, colour);
  glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, IMAGE_W, IMAGE_H);
  glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colour);
  glGenRenderbuffers(1, &depth);
  glBindRenderbuffer(GL_RENDERBUFFER, depth);
  glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT32F, IMAGE_W, IMAGE_H);
  glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, depth);
  if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) return 0;
  glViewport(0, 0, IMAGE_W, IMAGE_H);

  /* Depth 0 at the near plane, 1 at the far one: what the library's VR_DEPTH_ZERO_ONE matrices
   * produce. Clear to the far plane and keep the nearer surface. */
  glClipControl(GL_LOWER_LEFT, GL_ZERO_TO_ONE);
  glEnable(GL_DEPTH_TEST);
  glDepthFunc(GL_LESS);
  glClearDepth(1.0);
  glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
  return glGetError() == GL_NO_ERROR;
}

static GLuint compile(GLenum kind, const char *source) {
  GLuint shader = glCreateShader(kind);
  glShaderSource(shader, 1, &source, NULL);
  glCompileShader(shader);
  GLint ok = 0;
  glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
  if (!ok) {
    char log[512];
    glGetShaderInfoLog(shader, sizeof log, NULL, log);
    fprintf(stderr, "headbox: shader: %s\n", log);
  }
  return shader;
}

static GLuint make_program(void) {
  GLuint program = glCreateProgram();
  glAttachShader(program, compile(GL_VERTEX_SHADER, vertex_shader));
  glAttachShader(program, compile(GL_FRAGMENT_SHADER, fragment_shader));
  glLinkProgram(program);
  GLint ok = 0;
  glGetProgramiv(program, GL_LINK_STATUS, &ok);
  return ok ? program : 0;
}

/* The boxes' triangles: position and normal per vertex, 36 vertices per box. */
static GLuint make_boxes(void) {
  /* Each face: its normal's axis and sign; the other two axes span it in two triangles. */
  float vertices[2][36][6];
  for (int b = 0; b < 2; ++b) {
    int v = 0;
    for (int face = 0; face < 6; ++face) {
      const int axis = face / 2, u = (axis + 1) % 3, w = (axis + 2) % 3;
      const double sign = face % 2 ? -1.0 : 1.0, half = boxes[b].size / 2;
      const double corner[6][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, -1}, {1, 1}, {-1, 1}};
      for (int k = 0; k < 6; ++k, ++v) {
        double p[3];
        p[axis] = sign * half;
        p[u] = corner[k][0] * half;
        p[w] = corner[k][1] * half;
        for (int i = 0; i < 3; ++i) {
          vertices[b][v][i] = (float)(boxes[b].centre[i] + p[i]);
          vertices[b][v][3 + i] = (float)(i == axis ? sign : 0.0);
        }
      }
    }
  }
  GLuint array, buffer;
  glGenVertexArrays(1, &array);
  glBindVertexArray(array);
  glGenBuffers(1, &buffer);
  glBindBuffer(GL_ARRAY_BUFFER, buffer);
  glBufferData(GL_ARRAY_BUFFER, sizeof vertices, vertices, GL_STATIC_DRAW);
  glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, 6 * sizeof(float), (void *)0);
  glVertexAttribPointer(1, 3, GL_FLOAT, GL_FALSE, 6 * sizeof(float), (void *)(3 * sizeof(float)));
  glEnableVertexAttribArray(0);
  glEnableVertexAttribArray(1);
  return array;
}

/* ---- Checking the pictures ------------------------------------------------------------------ */

typedef unsigned char rgba[4];

/* Where a point of the world (plate cm) appears on the screen for an eye, in image pixels from
 * the lower-left corner: the line from the eye through the point, met with the screen plane. */
static void screen_pixel(const dpt eye, const double p[3], double out[2]) {
  const double t = eye[2] / (eye[2] - p[2]);
  out[0] = (eye[0] + t * (p[0] - eye[0])) / SCREEN_W_CM * IMAGE_W;
  out[1] = (eye[1] + t * (p[1] - eye[1])) / SCREEN_H_CM * IMAGE_H;
}

/* Whether a pixel shows a box's front face (the one facing the viewer, normal +z). */
static int front_face_pixel(const unsigned char *p, const box *b) {
  for (int c = 0; c < 3; ++c)
    if (fabs(p[c] - 255.0 * b->colour[c] * front_face_light) > 3.0) return 0;
  return 1;
}

/* The centre (pixels from the lower left) and pixel count of a box's front face in a picture.
 * The face is a square parallel to the screen, so its picture is a square too, whose centre is
 * where the face's centre appears. */
static int front_face_centre(const rgba *image, const box *b, double out[2]) {
  double sx = 0, sy = 0;
  int n = 0;
  for (int y = 0; y < IMAGE_H; ++y)
    for (int x = 0; x < IMAGE_W; ++x)
      if (front_face_pixel(image[y * IMAGE_W + x], b)) {
        sx += x + 0.5;
        sy += y + 0.5;
        ++n;
      }
  out[0] = n ? sx / n : 0;
  out[1] = n ? sy / n : 0;
  return n;
}

static int failures = 0;

static void check(int ok, const char *what, double got, double want) {
  printf("%-58s %8.2f (expected %8.2f)  %s\n", what, got, want, ok ? "ok" : "FAILED");
  if (!ok) ++failures;
}

/* A measured shift of a box between two pictures against the shift the eyes predict: the same
 * sign, and the same size to a pixel (the face's edges fall on whole pixels). */
static void check_shift(const char *what, double got, double want) {
  check(fabs(got - want) <= 1.0 && (want > 0) == (got > 0), what, got, want);
}

static int write_png(const char *path, const rgba *left, const rgba *right) {
  FILE *f = fopen(path, "wb");
  if (!f) return 0;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, NULL, NULL, NULL);
  png_infop info = png ? png_create_info_struct(png) : NULL;
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    fclose(f);
    return 0;
  }
  png_init_io(png, f);
  png_set_IHDR(png, info, 2 * IMAGE_W, IMAGE_H, 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  static rgba row[2 * IMAGE_W];
  for (int y = IMAGE_H - 1; y >= 0; --y) { /* pictures start at the top, GL at the bottom */
    for (int x = 0; x < IMAGE_W; ++x)
      for (int c = 0; c < 4; ++c) {
        row[x][c] = left[y * IMAGE_W + x][c];
        row[IMAGE_W + x][c] = right[y * IMAGE_W + x][c];
      }
    png_write_row(png, (png_bytep)row);
  }
  png_write_end(png, NULL);
  png_destroy_write_struct(&png, &info);
  return fclose(f) == 0;
}

/* ---- The application ------------------------------------------------------------------------ */

int main(int argc, char **argv) {
  const char *out_path = argc > 1 ? argv[1] : "headbox.png";

  /* The display: a flat panel (no CRT face-plate correction), the window covering the screen,
   * the tracker and the untracked eyes placed for this screen. */
  vr_ctx *ctx = vr_ctx_create_display(SCREEN_W_CM, SCREEN_H_CM, SCREEN_W_PX, SCREEN_H_PX,
                                      VR_DISPLAY_FLAT_PANEL);
  if (!ctx) return 2;
  /* World units are the screen's centimetres, wherever the window is; two eyes. */
  if (vr_world_in_plate_cm(ctx) != VR_OK || vr_set_int(ctx, VR_STEREO, 1) != VR_OK) return 2;

  /* The simulated tracker: glasses and 3D mouse units on the two serial lines, the head following
   * sway() in this context's plate coordinates. */
  vrsim *sim = vrsim_create(1);
  if (!sim) return 2;
  vrsim_install(sim);
  vrsim_plug_standard(sim);
  vrsim_set_plate_fn(sim, VRSIM_HEAD, ctx, sway, NULL);
  if (!vr_init_glasses_and_mouse_6d(ctx, 1, 1)) {
    fprintf(stderr, "headbox: the tracker did not start\n");
    return 2;
  }

  if (!open_gl()) {
    fprintf(stderr, "headbox: no headless OpenGL 4.5 core context (EGL, Mesa)\n");
    return 2;
  }
  const GLuint program = make_program();
  if (!program) return 2;
  const GLuint geometry = make_boxes();
  glUseProgram(program);
  const GLint projection_at = glGetUniformLocation(program, "projection");
  const GLint view_at = glGetUniformLocation(program, "view");
  const GLint colour_at = glGetUniformLocation(program, "colour");

  static rgba images[2][2][IMAGE_W * IMAGE_H]; /* [checkpoint][eye] */
  dpt eyes[2][2];                              /* [checkpoint][eye], plate cm */
  const int frames = 120, checkpoints[2] = {30, 119};

  for (int frame = 0; frame < frames; ++frame) {
    vrsim_advance(sim, 1.0 / 60); /* the time one frame takes */
    vr_comp_view(ctx);            /* reads the tracker, places the eyes, computes the views */

    const int checkpoint = frame == checkpoints[0] ? 0 : frame == checkpoints[1] ? 1 : -1;
    for (int eye = VR_EYE_LEFT; eye <= VR_EYE_RIGHT; ++eye) {
      float projection[16], view[16];
      if (vr_eye_matrices(ctx, eye, VR_DEPTH_ZERO_ONE, projection, view) != VR_OK) return 2;
      glUniformMatrix4fv(projection_at, 1, GL_FALSE, projection);
      glUniformMatrix4fv(view_at, 1, GL_FALSE, view);
      glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
      glBindVertexArray(geometry);
      for (int b = 0; b < 2; ++b) {
        glUniform3fv(colour_at, 1, boxes[b].colour);
        glDrawArrays(GL_TRIANGLES, 36 * b, 36);
      }
      if (checkpoint >= 0) {
        glReadPixels(0, 0, IMAGE_W, IMAGE_H, GL_RGBA, GL_UNSIGNED_BYTE, images[checkpoint][eye]);
        vr_get_point(ctx, eye == VR_EYE_LEFT ? VR_LEFT_EYE : VR_RIGHT_EYE, eyes[checkpoint][eye]);
      }
    }
  }

  /* Both boxes in both eyes, near faces over far ones: each box's front face shows as a square
   * of its own shade. Its stereo parallax (right-eye position minus left-eye position) has the
   * size and sign the tracked eyes give, and between the two checkpoints it moves in the left
   * eye's picture as the head's motion predicts. */
  for (int b = 0; b < 2; ++b) {
    const double face[3] = {boxes[b].centre[0], boxes[b].centre[1],
                            boxes[b].centre[2] + boxes[b].size / 2};
    double at[2][2][2], want[2][2][2]; /* [checkpoint][eye][x, y] */
    int seen = 1;
    for (int c = 0; c < 2; ++c)
      for (int e = 0; e < 2; ++e) {
        seen &= front_face_centre(images[c][e], &boxes[b], at[c][e]) > 100;
        screen_pixel(eyes[c][e], face, want[c][e]);
      }
    printf("%s:\n", b == 0 ? "box behind the screen" : "box in front of the screen");
    check(seen, "  front face seen by both eyes at both checkpoints", seen, 1);
    if (!seen) continue;
    check_shift("  stereo parallax (px)", at[1][1][0] - at[1][0][0], want[1][1][0] - want[1][0][0]);
    check_shift("  left eye's picture moved with the head (px)", at[1][0][0] - at[0][0][0],
                want[1][0][0] - want[0][0][0]);
  }

  if (!write_png(out_path, images[1][0], images[1][1])) {
    fprintf(stderr, "headbox: cannot write %s\n", out_path);
    ++failures;
  } else {
    printf("stereo pair (left | right) written to %s\n", out_path);
  }

  vr_quit(ctx); /* stops the tracker */
  vrsim_destroy(sim);
  free(ctx); /* the application owns the context */
  return failures ? 1 : 0;
}
