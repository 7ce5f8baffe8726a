// vrdemo --live: the scene in a real window, drawn every frame with the library's views, the head
// coming from a webcam tracker (opentrack datagrams), the serial trackers, or, without any
// tracker, from the mouse and keys.
#include "live.h"

// glWindowPos2i is core since OpenGL 1.4; its prototype comes from glext.h.
#define GL_GLEXT_PROTOTYPES
#include <GLFW/glfw3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <vrlib/vr.h>

#include "image.h"
#include "png_io.h"
#include "scene.h"

namespace vrdemo {

namespace {

// The mouse-driven head: the cursor's place in the window moves the head across this much of
// the screen, and each frame with Up/Down held moves it this far in depth, within limits.
constexpr double mouse_reach_cm = 30.0;
constexpr double depth_step_cm = 0.5;
constexpr double nearest_cm = 20.0;
constexpr double furthest_cm = 150.0;
constexpr double start_distance_cm = 55.0;
constexpr double half_eye_distance_cm = 3.2;
constexpr double status_text_px = 16.0;
constexpr int text_margin_px = 6;
constexpr double rate_smoothing = 0.05;

struct GlfwSession {
  bool ok = false;
  GlfwSession() { ok = glfwInit() == GLFW_TRUE; }
  ~GlfwSession() {
    if (ok) glfwTerminate();
  }
};

struct WindowCloser {
  void operator()(GLFWwindow *w) const { glfwDestroyWindow(w); }
};
using Window = std::unique_ptr<GLFWwindow, WindowCloser>;

struct CtxCloser {
  void operator()(vr_ctx *ctx) const {
    vr_quit(ctx);
    std::free(ctx);
  }
};

void print_glfw_error(int code, const char *text) {
  std::fprintf(stderr, "vrdemo: window system: %s (%d)\n", text, code);
}

Window open_window(int w, int h, bool quad) {
  glfwDefaultWindowHints();
  glfwWindowHint(GLFW_DEPTH_BITS, 24);
  glfwWindowHint(GLFW_STEREO, quad ? GLFW_TRUE : GLFW_FALSE);
  glfwWindowHint(GLFW_RESIZABLE, GLFW_TRUE);
  return Window(glfwCreateWindow(w, h, "vrdemo: head-tracked stereo", nullptr, nullptr));
}

// Where the head comes from, once set up.
enum class Head { mouse, opentrack, trackers, none };

const char *head_name(Head h) {
  switch (h) {
    case Head::opentrack:
      return "opentrack (UDP)";
    case Head::trackers:
      return "serial trackers";
    case Head::mouse:
    case Head::none:
      break;
  }
  return "mouse and keys";
}

Head start_head(vr_ctx *ctx, const DemoOptions &opt) {
  const std::string &source = opt.source;
  // The trackers read for the moment the frame is shown (the mouse-and-keys head needs nothing).
  if (opt.track_display) vr_set_int(ctx, VR_TRACK_DISPLAY_TIME, 1);
  if (opt.track_filter) vr_set_int(ctx, VR_TRACK_FILTER, 1);
  if (opt.tracker_delay_ms >= 0.0)
    vr_set_double(ctx, VR_TRACKER_DELAY, opt.tracker_delay_ms / 1000.0);
  if (opt.sender_latency_ms >= 0.0)
    vr_set_double(ctx, VR_NET_SENDER_LATENCY, opt.sender_latency_ms / 1000.0);
  if (source == "opentrack" && opt.tracker_delay_ms >= 0.0 && opt.sender_latency_ms < 0.0)
    std::fprintf(stderr,
                 "vrdemo: --tracker-delay is the serial trackers' delay; the opentrack sender's "
                 "latency is --sender-latency\n");
  if (source == "opentrack") {
    vr_object_set(ctx, VR_GLASSES_SOURCE, VR_SOURCE_NETWORK, 0);
    for (int axis = 0; axis < 6; ++axis) {
      if (vr_set_int(ctx, VR_NET_MAP_X + axis, opt.axes[axis]) != VR_OK) {
        std::fprintf(stderr, "vrdemo: --axes: positions take 1..3 and angles 4..6\n");
        return Head::none;
      }
    }
    if (vr_init_glasses_and_mouse_6d(ctx, 1, 0)) return Head::opentrack;
    std::fprintf(stderr, "vrdemo: no opentrack source (%s); the mouse moves the head\n",
                 vr_net_message);
  } else if (source == "trackers") {
    if (vr_init_glasses_and_mouse_6d(ctx, 1, 1)) return Head::trackers;
    std::fprintf(stderr, "vrdemo: the trackers did not start%s%s; the mouse moves the head\n",
                 vr_lt_message[0] ? ": " : "", vr_lt_message);
  }
  vr_object_set(ctx, VR_TRACKING_MODE, 0, 0);
  return Head::mouse;
}

// The mouse-and-keys head: plate coordinates of the point between the eyes.
struct MouseHead {
  double x = 0, y = 0, z = start_distance_cm;

  void update(GLFWwindow *w, const vr_ctx *ctx) {
    double cx = 0, cy = 0;
    int ww = 1, wh = 1;
    glfwGetCursorPos(w, &cx, &cy);
    glfwGetWindowSize(w, &ww, &wh);
    const double fx = std::clamp(cx / std::max(ww, 1), 0.0, 1.0) - 0.5;
    const double fy = 0.5 - std::clamp(cy / std::max(wh, 1), 0.0, 1.0);
    double centre[3];
    vr_get_point(const_cast<vr_ctx *>(ctx), VR_WINDOW_CENTER, centre);
    x = centre[0] + fx * mouse_reach_cm;
    y = centre[1] + fy * mouse_reach_cm;
    const bool nearer =
        glfwGetKey(w, GLFW_KEY_UP) == GLFW_PRESS || glfwGetKey(w, GLFW_KEY_W) == GLFW_PRESS;
    const bool further =
        glfwGetKey(w, GLFW_KEY_DOWN) == GLFW_PRESS || glfwGetKey(w, GLFW_KEY_S) == GLFW_PRESS;
    z = std::clamp(z + (further ? depth_step_cm : 0.0) - (nearer ? depth_step_cm : 0.0), nearest_cm,
                   furthest_cm);
  }

  void place(vr_ctx *ctx) const {
    const dpt left = {x - half_eye_distance_cm, y, z}, right = {x + half_eye_distance_cm, y, z};
    vr_set_point(ctx, VR_SCREEN_LEFT_EYE, left);
    vr_set_point(ctx, VR_SCREEN_RIGHT_EYE, right);
  }
};

const char *net_state_name(int state) {
  static constexpr const char *names[] = {"off", "waiting for datagrams", "tracking",
                                          "silent, holding the last pose"};
  return state >= 0 && state < 4 ? names[state] : "?";
}

// Source, rates, latency estimate and tracking state, one line.
std::string status_line(vr_ctx *ctx, Head head, double frame_hz) {
  char buf[256];
  const double frame_s = frame_hz > 0 ? 1.0 / frame_hz : 0.0;
  if (head == Head::opentrack) {
    int state = 0;
    double rate = 0, age = 0;
    vr_get_int(ctx, VR_NET_STATE, &state);
    vr_get_double(ctx, VR_NET_RATE, &rate);
    vr_get_double(ctx, VR_NET_POSE_AGE, &age);
    // What is known here: the pose's age at the frame and one frame until it is seen; the
    // sender's own delay comes on top.
    std::snprintf(buf, sizeof buf, "%s | %.0f fps | tracker %.0f Hz | latency >= %.0f ms | %s",
                  head_name(head), frame_hz, rate, (age + frame_s) * 1000.0, net_state_name(state));
  } else {
    std::snprintf(buf, sizeof buf, "%s | %.0f fps | latency >= %.0f ms | %s", head_name(head),
                  frame_hz, frame_s * 1000.0,
                  head == Head::mouse ? "Up/Down: depth, Esc: quit" : "tracking");
  }
  return buf;
}

// Text drawn straight into the framebuffer's top left corner.
void draw_status(const std::string &text, int fb_height) {
  const int w = text_width(text, status_text_px) + 2 * text_margin_px;
  const int h = text_height(status_text_px) + 2 * text_margin_px;
  Image img(w, h, Rgb{0, 0, 0});
  draw_text(img, text_margin_px, text_margin_px, text, Rgb{255, 240, 120}, status_text_px);
  std::vector<std::uint8_t> rows(img.pixels.size());
  const size_t stride = static_cast<size_t>(w) * 3;
  for (int y = 0; y < h; ++y)  // GL's rows run from the bottom
    std::copy_n(&img.pixels[static_cast<size_t>(h - 1 - y) * stride], stride, &rows[y * stride]);
  glDisable(GL_DEPTH_TEST);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glWindowPos2i(0, std::max(0, fb_height - h));
  glDrawPixels(w, h, GL_RGB, GL_UNSIGNED_BYTE, rows.data());
}

Image read_back(int w, int h) {
  std::vector<std::uint8_t> rgb(static_cast<size_t>(w) * h * 3);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadBuffer(GL_BACK);
  glReadPixels(0, 0, w, h, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
  Image img(w, h);
  const size_t stride = static_cast<size_t>(w) * 3;
  for (int y = 0; y < h; ++y)
    std::copy_n(&rgb[static_cast<size_t>(h - 1 - y) * stride], stride, img.at(0, y));
  return img;
}

enum class Show { mono, anaglyph, quad };

void draw_eyes(vr_ctx *ctx, Show show, int fb_w, int fb_h) {
  dmat *left = nullptr, *right = nullptr;
  vr_object_get(ctx, VR_LEFT_VIEW, &left);
  vr_object_get(ctx, VR_RIGHT_VIEW, &right);
  const SceneFrame frame = scene_frame_from_context(ctx);
  glViewport(0, 0, fb_w, fb_h);
  switch (show) {
    case Show::mono:
      begin_eye_view(*left);
      draw_scene(frame);
      break;
    case Show::anaglyph:
      // Red from the left eye; the right eye's clear and drawing touch green and blue only.
      glColorMask(GL_TRUE, GL_FALSE, GL_FALSE, GL_TRUE);
      begin_eye_view(*left);
      draw_scene(frame);
      glColorMask(GL_FALSE, GL_TRUE, GL_TRUE, GL_TRUE);
      begin_eye_view(*right);
      draw_scene(frame);
      glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
      break;
    case Show::quad:
      glDrawBuffer(GL_BACK_LEFT);
      begin_eye_view(*left);
      draw_scene(frame);
      glDrawBuffer(GL_BACK_RIGHT);
      begin_eye_view(*right);
      draw_scene(frame);
      glDrawBuffer(GL_BACK_LEFT);
      break;
  }
}

}  // namespace

int run_live(const DemoOptions &opt) {
  GlfwSession glfw;
  if (!glfw.ok) {
    std::fprintf(stderr,
                 "vrdemo: --live needs a display (DISPLAY or WAYLAND_DISPLAY); without one, run "
                 "vrdemo without --live to write pictures\n");
    return 1;
  }
  glfwSetErrorCallback(print_glfw_error);
  std::unique_ptr<vr_ctx, CtxCloser> owned(vr_ctx_create());
  vr_ctx *ctx = owned.get();
  if (!ctx) return 1;
  double ww = 0, wh = 0;
  vr_get_double(ctx, VR_WINDOW_WIDTH, &ww);
  vr_get_double(ctx, VR_WINDOW_HEIGHT, &wh);

  Show show = opt.stereo == "anaglyph" ? Show::anaglyph
              : opt.stereo == "quad"   ? Show::quad
                                       : Show::mono;
  Window window = open_window(static_cast<int>(ww), static_cast<int>(wh), show == Show::quad);
  if (!window && show == Show::quad) {
    std::fprintf(stderr, "vrdemo: no quad-buffered stereo here; showing red/cyan anaglyph\n");
    show = Show::anaglyph;
    window = open_window(static_cast<int>(ww), static_cast<int>(wh), false);
  }
  if (!window) {
    std::fprintf(stderr, "vrdemo: the window could not be opened\n");
    return 1;
  }
  glfwMakeContextCurrent(window.get());
  glfwSwapInterval(1);  // the display's rate
  vr_object_set(ctx, VR_STEREO, show == Show::mono ? 0 : 1, 0);

  const Head head = start_head(ctx, opt);
  if (head == Head::none) return 2;
  const bool tracker = head == Head::opentrack || head == Head::trackers;
  std::printf("vrdemo --live: %s, head from %s%s; Esc or closing the window ends it\n",
              show == Show::mono       ? "mono"
              : show == Show::anaglyph ? "anaglyph"
                                       : "quad-buffered",
              head_name(head), tracker && opt.track_display ? " at display time" : "");
  std::fflush(stdout);

  MouseHead mouse;
  int frames = 0;
  double frame_hz = 0;
  auto last = std::chrono::steady_clock::now();
  int placed_x = -1, placed_y = -1, placed_w = -1, placed_h = -1;
  while (!glfwWindowShouldClose(window.get())) {
    glfwPollEvents();
    if (glfwGetKey(window.get(), GLFW_KEY_ESCAPE) == GLFW_PRESS) break;
    int x = 0, y = 0, w = 0, h = 0, fb_w = 0, fb_h = 0;
    glfwGetWindowPos(window.get(), &x, &y);
    glfwGetWindowSize(window.get(), &w, &h);
    glfwGetFramebufferSize(window.get(), &fb_w, &fb_h);
    if (w > 0 && h > 0 && (x != placed_x || y != placed_y || w != placed_w || h != placed_h)) {
      vr_window_match_ws(ctx, x, y, w, h);
      placed_x = x, placed_y = y, placed_w = w, placed_h = h;
    }
    if (head == Head::mouse) {
      mouse.update(window.get(), ctx);
      mouse.place(ctx);
    }
    vr_comp_view(ctx);
    if (fb_w > 0 && fb_h > 0) {
      draw_eyes(ctx, show, fb_w, fb_h);
      draw_status(status_line(ctx, head, frame_hz), fb_h);
    }
    ++frames;
    const bool last_frame = opt.frames_given && frames >= opt.frames;
    if (last_frame && !opt.screenshot.empty()) {
      std::string error;
      if (!write_png(opt.screenshot, read_back(fb_w, fb_h), &error)) {
        std::fprintf(stderr, "vrdemo: %s\n", error.c_str());
        return 1;
      }
    }
    glfwSwapBuffers(window.get());
    const auto now = std::chrono::steady_clock::now();
    const double dt = std::chrono::duration<double>(now - last).count();
    last = now;
    if (dt > 0)
      frame_hz = frame_hz > 0 ? frame_hz + rate_smoothing * (1.0 / dt - frame_hz) : 1.0 / dt;
    if (last_frame) break;
  }
  int packets = 0;
  vr_get_int(ctx, VR_NET_PACKETS, &packets);
  std::printf("vrdemo --live: %d frames", frames);
  if (head == Head::opentrack) std::printf(", %d tracker datagrams", packets);
  std::printf("; closed cleanly\n");
  return 0;
}

}  // namespace vrdemo
