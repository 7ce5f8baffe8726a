// Each eye's projection and view, handed to a core-profile shader as float uniforms, draw what
// the library's combined view draws through the fixed-function pipeline, and the depth test
// keeps near surfaces over far ones under every depth convention.
#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "render_fixture.h"

namespace {

using render_test::Ctx;
using render_test::RenderTest;

using render_test::height;
using render_test::screen_h_cm;
using render_test::screen_w_cm;
using render_test::width;

struct Vertex {
  float position[3];
  float colour[3];
};

const char *const vertex_shader = R"(#version 330 core
layout(location = 0) in vec3 position;
layout(location = 1) in vec3 colour;
uniform mat4 projection;
uniform mat4 view;
flat out vec3 face_colour;
void main() {
  face_colour = colour;
  gl_Position = projection * view * vec4(position, 1.0);
}
)";

const char *const fragment_shader = R"(#version 330 core
flat in vec3 face_colour;
out vec4 pixel;
void main() { pixel = vec4(face_colour, 1.0); }
)";

// Pure colours only: every channel is 0 or 255 whatever the interpolation does.
const std::array<float, 3> face_colours[] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1},
                                             {1, 1, 0}, {1, 0, 1}, {0, 1, 1}};

// A flat-panel context of the fixture's size, world = plate cm, stereo, one frame computed.
Ctx frame(const render_test::Point &left, const render_test::Point &right) {
  Ctx ctx(vr_ctx_create_display(screen_w_cm, screen_h_cm, width, height, VR_DISPLAY_FLAT_PANEL));
  vr_world_in_plate_cm(ctx.get());
  const dpt l = {left[0], left[1], left[2]}, r = {right[0], right[1], right[2]};
  vr_set_int(ctx.get(), VR_STEREO, 1);
  vr_set_point(ctx.get(), VR_SCREEN_LEFT_EYE, l);
  vr_set_point(ctx.get(), VR_SCREEN_RIGHT_EYE, r);
  vr_comp_view(ctx.get());
  return ctx;
}

// Two triangles of a rectangle parallel to the screen at depth z, all one colour.
void add_rectangle(std::vector<Vertex> &v, double cx, double cy, double half, double z,
                   int colour) {
  const double x0 = cx - half, x1 = cx + half, y0 = cy - half, y1 = cy + half;
  const double corners[6][2] = {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y0}, {x1, y1}, {x0, y1}};
  for (const auto &c : corners) {
    const auto &k = face_colours[colour];
    v.push_back({{float(c[0]), float(c[1]), float(z)}, {k[0], k[1], k[2]}});
  }
}

// A box turned about two axes that straddles the screen surface: six faces, six colours.
std::vector<Vertex> turned_box() {
  dmat turn_x, turn_y, place, to_plate;
  vr_mat_rot_x(0.35, turn_x);
  vr_mat_rot_y(0.6, turn_y);
  vr_mat_mul_mat(turn_x, turn_y, place);
  vr_mat_trans(18.0, 13.5, 0.5, turn_x);
  vr_mat_mul_mat(place, turn_x, to_plate);
  const double h[3] = {5.0, 4.0, 6.0};
  // Each face: the axis it faces along and its sign.
  std::vector<Vertex> v;
  for (int axis = 0; axis < 3; ++axis) {
    for (int sign = -1; sign <= 1; sign += 2) {
      const int u = (axis + 1) % 3, w = (axis + 2) % 3;
      const double square[6][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, -1}, {1, 1}, {-1, 1}};
      const auto &k = face_colours[axis * 2 + (sign > 0)];
      for (const auto &s : square) {
        dpt p{};
        p[axis] = sign * h[axis];
        p[u] = s[0] * h[u];
        p[w] = s[1] * h[w];
        vr_mat_mul_dpt(p, to_plate, p);
        v.push_back({{float(p[0]), float(p[1]), float(p[2])}, {k[0], k[1], k[2]}});
      }
    }
  }
  return v;
}

GLuint compile(GLenum kind, const char *source) {
  const GLuint s = glCreateShader(kind);
  glShaderSource(s, 1, &source, nullptr);
  glCompileShader(s);
  GLint ok = 0;
  glGetShaderiv(s, GL_COMPILE_STATUS, &ok);
  if (!ok) {
    char log[1024] = {};
    glGetShaderInfoLog(s, sizeof log, nullptr, log);
    ADD_FAILURE() << "shader: " << log;
  }
  return s;
}

// The shader pipeline: one program, one vertex array.
class ShaderDraw {
 public:
  ShaderDraw() {
    program_ = glCreateProgram();
    const GLuint vs = compile(GL_VERTEX_SHADER, vertex_shader);
    const GLuint fs = compile(GL_FRAGMENT_SHADER, fragment_shader);
    glAttachShader(program_, vs);
    glAttachShader(program_, fs);
    glLinkProgram(program_);
    glDeleteShader(vs);
    glDeleteShader(fs);
    GLint ok = 0;
    glGetProgramiv(program_, GL_LINK_STATUS, &ok);
    EXPECT_TRUE(ok);
    glGenVertexArrays(1, &vao_);
    glGenBuffers(1, &vbo_);
  }
  ~ShaderDraw() {
    glUseProgram(0);
    glBindVertexArray(0);
    glDeleteBuffers(1, &vbo_);
    glDeleteVertexArrays(1, &vao_);
    glDeleteProgram(program_);
  }

  void draw(const std::vector<Vertex> &v, const float projection[16], const float view[16]) {
    glUseProgram(program_);
    glUniformMatrix4fv(glGetUniformLocation(program_, "projection"), 1, GL_FALSE, projection);
    glUniformMatrix4fv(glGetUniformLocation(program_, "view"), 1, GL_FALSE, view);
    glBindVertexArray(vao_);
    glBindBuffer(GL_ARRAY_BUFFER, vbo_);
    glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(v.size() * sizeof(Vertex)), v.data(), GL_STREAM_DRAW);
    glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, sizeof(Vertex), nullptr);
    glVertexAttribPointer(1, 3, GL_FLOAT, GL_FALSE, sizeof(Vertex),
                          reinterpret_cast<const void *>(offsetof(Vertex, colour)));
    glEnableVertexAttribArray(0);
    glEnableVertexAttribArray(1);
    glDrawArrays(GL_TRIANGLES, 0, GLsizei(v.size()));
    glBindVertexArray(0);
    glUseProgram(0);
  }

 private:
  GLuint program_ = 0, vao_ = 0, vbo_ = 0;
};

// The same triangles through the fixed-function pipeline with the library's combined view.
void draw_fixed(const std::vector<Vertex> &v, const dmat view) {
  glMatrixMode(GL_PROJECTION);
  glLoadMatrixd(&view[0][0]);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glBegin(GL_TRIANGLES);
  for (const Vertex &x : v) {
    glColor3f(x.colour[0], x.colour[1], x.colour[2]);
    glVertex3f(x.position[0], x.position[1], x.position[2]);
  }
  glEnd();
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
}

void clear_for(double depth, GLenum test) {
  glClearColor(0, 0, 0, 1);
  glClearDepth(depth);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glEnable(GL_DEPTH_TEST);
  glDepthFunc(test);
  glDisable(GL_CULL_FACE);
}

// Whether this GL has glClipControl: 4.5, or the extension.
bool has_clip_control() {
  GLint major = 0, minor = 0;
  glGetIntegerv(GL_MAJOR_VERSION, &major);
  glGetIntegerv(GL_MINOR_VERSION, &minor);
  if (major > 4 || (major == 4 && minor >= 5)) return true;
  GLint n = 0;
  glGetIntegerv(GL_NUM_EXTENSIONS, &n);
  for (GLint i = 0; i < n; ++i) {
    const auto *e = reinterpret_cast<const char *>(glGetStringi(GL_EXTENSIONS, GLuint(i)));
    if (e != nullptr && std::strcmp(e, "GL_ARB_clip_control") == 0) return true;
  }
  return false;
}

// The picture pixel (x right, y down) of a world (= plate) point through a row-vector view.
std::array<int, 2> pixel_of(const dmat view, double x, double y, double z) {
  double h[4];
  for (int j = 0; j < 4; ++j) h[j] = x * view[0][j] + y * view[1][j] + z * view[2][j] + view[3][j];
  const double nx = h[0] / h[3], ny = h[1] / h[3];
  return {int((nx + 1) / 2 * width), int((1 - ny) / 2 * height)};
}

bool is(const vrdemo::Rgb &c, const std::array<float, 3> &k) {
  return c.r == k[0] * 255 && c.g == k[1] * 255 && c.b == k[2] * 255;
}

// Pixels of colour k in a that have no pixel of that colour in b within one pixel (the 3 x 3
// neighbourhood): an edge more than a pixel out of place shows up here.
int pixels_without_partner(const vrdemo::Image &a, const vrdemo::Image &b,
                           const std::array<float, 3> &k) {
  int lost = 0;
  for (int y = 0; y < a.height; ++y) {
    for (int x = 0; x < a.width; ++x) {
      if (!is(a.get(x, y), k)) continue;
      bool found = false;
      for (int dy = -1; dy <= 1 && !found; ++dy) {
        for (int dx = -1; dx <= 1 && !found; ++dx) {
          const int u = x + dx, w = y + dy;
          found = u >= 0 && w >= 0 && u < b.width && w < b.height && is(b.get(u, w), k);
        }
      }
      lost += !found;
    }
  }
  return lost;
}

int count(const vrdemo::Image &a, const std::array<float, 3> &k) {
  int n = 0;
  for (int y = 0; y < a.height; ++y) {
    for (int x = 0; x < a.width; ++x) n += is(a.get(x, y), k);
  }
  return n;
}

using EyeMatricesGl = RenderTest;

}  // namespace

TEST_F(EyeMatricesGl, NearSurfacesCoverFarOnesUnderEveryDepthConvention) {
  Ctx ctx = frame({15.0, 14.0, 55.0}, {21.6, 14.0, 55.0});
  // The near square (green, 8 cm in front of the screen) is drawn before the far one (red,
  // 20 cm behind), so only the depth test can keep it in front.
  std::vector<Vertex> scene;
  add_rectangle(scene, 18.25, 12.95, 3.0, 8.0, 1);
  add_rectangle(scene, 18.25, 12.95, 8.0, -20.0, 0);
  const auto near_px = pixel_of(ctx->left_view, 18.25, 12.95, 8.0);
  const auto far_px = pixel_of(ctx->left_view, 18.25 + 7.0, 12.95, -20.0);

  struct Convention {
    vr_depth_convention depth;
    bool zero_to_one;  // glClipControl(GL_LOWER_LEFT, GL_ZERO_TO_ONE)
    double clear;
    GLenum test;
  };
  const Convention conventions[] = {{VR_DEPTH_LIBRARY, false, 0.0, GL_GREATER},
                                    {VR_DEPTH_GL, false, 1.0, GL_LESS},
                                    {VR_DEPTH_ZERO_ONE, true, 1.0, GL_LESS},
                                    {VR_DEPTH_REVERSED_ZERO_ONE, true, 0.0, GL_GREATER}};
  const bool clip_control = has_clip_control();
  ShaderDraw shader;
  for (const Convention &c : conventions) {
    if (c.zero_to_one && !clip_control) {
      std::printf("no glClipControl: depth convention %d not drawn\n", c.depth);
      continue;
    }
    float projection[16], view[16];
    ASSERT_EQ(vr_eye_matrices(ctx.get(), VR_EYE_LEFT, c.depth, projection, view), VR_OK);
    gl_->begin_frame();
    if (c.zero_to_one) glClipControl(GL_LOWER_LEFT, GL_ZERO_TO_ONE);
    clear_for(c.clear, c.test);
    shader.draw(scene, projection, view);
    const vrdemo::Image img = gl_->read_pixels();
    if (c.zero_to_one) glClipControl(GL_LOWER_LEFT, GL_NEGATIVE_ONE_TO_ONE);
    ASSERT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    EXPECT_TRUE(is(img.get(near_px[0], near_px[1]), face_colours[1])) << "convention " << c.depth;
    EXPECT_TRUE(is(img.get(far_px[0], far_px[1]), face_colours[0])) << "convention " << c.depth;
  }

  // The check can fail: the library's own depth under the usual clear to 1 and GL_LESS lets
  // the far square cover the near one.
  float projection[16], view[16];
  ASSERT_EQ(vr_eye_matrices(ctx.get(), VR_EYE_LEFT, VR_DEPTH_LIBRARY, projection, view), VR_OK);
  gl_->begin_frame();
  clear_for(1.0, GL_LESS);
  shader.draw(scene, projection, view);
  const vrdemo::Image wrong = gl_->read_pixels();
  EXPECT_TRUE(is(wrong.get(near_px[0], near_px[1]), face_colours[0]));
}

TEST_F(EyeMatricesGl, ShaderRenderMatchesTheFixedViewWithinAPixelAlongEveryEdge) {
  Ctx ctx = frame({12.0, 15.5, 48.0}, {18.2, 13.2, 51.0});
  const std::vector<Vertex> box = turned_box();
  ShaderDraw shader;
  for (int eye : {VR_EYE_LEFT, VR_EYE_RIGHT}) {
    // The library's combined view through glLoadMatrixd, with its own depth.
    gl_->begin_frame();
    clear_for(0.0, GL_GREATER);
    draw_fixed(box, eye == VR_EYE_LEFT ? ctx->left_view : ctx->right_view);
    const vrdemo::Image fixed = gl_->read_pixels();

    // The split pair as float uniforms, with OpenGL's depth.
    float projection[16], view[16];
    ASSERT_EQ(vr_eye_matrices(ctx.get(), eye, VR_DEPTH_GL, projection, view), VR_OK);
    gl_->begin_frame();
    clear_for(1.0, GL_LESS);
    shader.draw(box, projection, view);
    const vrdemo::Image shaded = gl_->read_pixels();
    ASSERT_EQ(glGetError(), GLenum(GL_NO_ERROR));

    int faces_seen = 0;
    for (const auto &k : face_colours) {
      const int n = count(fixed, k);
      faces_seen += n > 500;
      EXPECT_EQ(pixels_without_partner(fixed, shaded, k), 0) << "eye " << eye;
      EXPECT_EQ(pixels_without_partner(shaded, fixed, k), 0) << "eye " << eye;
    }
    EXPECT_GE(faces_seen, 3) << "eye " << eye;  // the box is in view, three faces at least
  }
}
