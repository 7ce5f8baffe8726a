// vrdemo --wall: a small CAVE of three screens, one process per screen, all fed on loopback by
// one VRPN server that publishes a scripted head. Each screen process computes its own view from
// the shared head, renders the same room of lines and reports how old each pose was when its
// vr_comp_view used it; the parent puts the three pictures side by side.
#include "wall.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include <GL/gl.h>
#include <sys/time.h>

#include "demo_outputs.h"
#include "gl_context.h"
#include "image.h"
#include "png_io.h"
#include "scene.h"
#include "tools/common/free_port.h"

namespace vrdemo {
namespace {

constexpr double screen_width_cm = 100.0;
constexpr double screen_height_cm = 75.0;
constexpr int screen_width_px = 320;
constexpr int screen_height_px = 240;
constexpr const char *device = "Head";
constexpr const char *screen_names[3] = {"left", "centre", "right"};
constexpr double connect_limit_s = 15.0;
constexpr double far_clip_cm = -1000.0;
constexpr double pi = 3.14159265358979323846;

struct CtxFree {
  void operator()(vr_ctx *c) const {
    vr_vrpn_serve_stop(c);
    vr_quit(c);
    std::free(c);
  }
};
using Ctx = std::unique_ptr<vr_ctx, CtxFree>;

double wall_clock_s() {
  timeval t;
  gettimeofday(&t, nullptr);
  return static_cast<double>(t.tv_sec) + 1e-6 * static_cast<double>(t.tv_usec);
}

// The scripted head in room cm: a viewer standing in the CAVE, swaying left and right and
// stepping in and out, looking at the centre screen and turning a little toward each side.
void scripted_head(double t, dmat head_to_room) {
  const double sway = std::sin(2 * pi * t / 4.0);
  const double x = 25.0 * sway, y = 40.0 + 3.0 * std::sin(2 * pi * t / 3.0);
  const double z = 15.0 + 10.0 * std::cos(2 * pi * t / 5.0);
  vr_mat_rot_y(-0.3 * sway, head_to_room);
  head_to_room[3][0] = x;
  head_to_room[3][1] = y;
  head_to_room[3][2] = z;
}

void line(const double a[3], const double b[3]) {
  glVertex3d(a[0], a[1], a[2]);
  glVertex3d(b[0], b[1], b[2]);
}

// The room of lines, in room cm: a large box beyond the screens with a 25 cm grid on its floor,
// ceiling and back walls, and a wire cube floating in the middle of the CAVE. Its lines run
// across the screens' borders.
void draw_room() {
  constexpr double x0 = -200, x1 = 200, y0 = -60, y1 = 160, z0 = -200, z1 = 150, step = 25;
  glLineWidth(1.0f);
  glBegin(GL_LINES);
  glColor3ub(90, 160, 255);
  for (double x = x0; x <= x1; x += step) {  // floor and ceiling, lines going back
    const double f[2][3] = {{x, y0, z0}, {x, y0, z1}}, c[2][3] = {{x, y1, z0}, {x, y1, z1}};
    line(f[0], f[1]);
    line(c[0], c[1]);
  }
  for (double z = z0; z <= z1; z += step) {  // floor and ceiling, lines across
    const double f[2][3] = {{x0, y0, z}, {x1, y0, z}}, c[2][3] = {{x0, y1, z}, {x1, y1, z}};
    line(f[0], f[1]);
    line(c[0], c[1]);
  }
  glColor3ub(255, 190, 80);
  for (double y = y0; y <= y1; y += step) {  // the three far walls, lines around the room
    const double p[4][3] = {{x0, y, z1}, {x0, y, z0}, {x1, y, z0}, {x1, y, z1}};
    line(p[0], p[1]);
    line(p[1], p[2]);
    line(p[2], p[3]);
  }
  glColor3ub(120, 255, 140);
  for (double u = -150; u <= 150; u += step) {  // upright lines on the far walls
    const double back[2][3] = {{u, y0, z0}, {u, y1, z0}};
    const double left[2][3] = {{x0, y0, u}, {x0, y1, u}};
    const double right[2][3] = {{x1, y0, u}, {x1, y1, u}};
    line(back[0], back[1]);
    line(left[0], left[1]);
    line(right[0], right[1]);
  }
  glColor3ub(255, 80, 200);
  constexpr double c = 8, cy = 35, cz = -30;  // the floating cube
  for (int axis = 0; axis < 3; ++axis)
    for (int i = 0; i < 4; ++i) {
      double a[3], b[3];
      const double s1 = (i & 1) ? c : -c, s2 = (i & 2) ? c : -c;
      a[axis] = -c;
      b[axis] = c;
      a[(axis + 1) % 3] = b[(axis + 1) % 3] = s1;
      a[(axis + 2) % 3] = b[(axis + 2) % 3] = s2;
      a[1] += cy;
      b[1] += cy;
      a[2] += cz;
      b[2] += cz;
      line(a, b);
    }
  glEnd();
}

double percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0.0;
  std::sort(v.begin(), v.end());
  const auto k = static_cast<std::size_t>(std::ceil(p / 100.0 * static_cast<double>(v.size())));
  return v[std::min(v.size() - 1, k > 0 ? k - 1 : 0)];
}

std::string latency_path(const std::string &dir, int screen) {
  return dir + "/wall_latency_" + screen_names[screen] + ".txt";
}

std::string picture_path(const std::string &dir, int screen) {
  return dir + "/wall_" + screen_names[screen] + ".png";
}

}  // namespace

// One screen's process: connects to the head server, runs the frames in real time, keeps the
// last picture and writes the latency of each fresh pose, in milliseconds, one per line.
int run_wall_screen(const DemoOptions &opt) {
  const int screen = opt.wall_screen;
  vr_wall_screen screens[3];
  vr_wall_cave(screen_width_cm, screen_height_cm, screen_width_px, screen_height_px, screens);
  Ctx ctx(vr_ctx_create_wall_screen(&screens[screen], nullptr));
  if (!ctx) return 1;
  vr_set_int(ctx.get(), VR_GLASSES_SOURCE, VR_GLASSES_SOURCE_VRPN);
  // The room of lines reaches 2 m beyond the screens: the far clip plane goes behind it.
  vr_set_double(ctx.get(), VR_YON, far_clip_cm);
  const std::string name = std::string(device) + "@127.0.0.1:" + std::to_string(opt.wall_port);
  if (vr_vrpn_set_devices(ctx.get(), name.c_str(), nullptr) != VR_OK ||
      !vr_init_glasses_and_mouse_6d(ctx.get(), 1, 0)) {
    std::fprintf(stderr, "vrdemo: screen %s: the VRPN source did not start: %s\n",
                 screen_names[screen], vr_lt_message);
    return 1;
  }
  std::string gl_error;
  auto gl = GlContext::create(screen_width_px, screen_height_px, 0, &gl_error);
  if (!gl) {
    std::fprintf(stderr, "vrdemo: no OpenGL: %s\n", gl_error.c_str());
    return 1;
  }
  // Waits (in real time, a frame at a time) for the first pose.
  const auto frame_period = std::chrono::duration<double>(1.0 / opt.frame_rate_hz);
  const auto give_up =
      std::chrono::steady_clock::now() + std::chrono::duration<double>(connect_limit_s);
  int state = VR_TRACK_NONE;
  while (state != VR_TRACK_TRACKING) {
    if (std::chrono::steady_clock::now() > give_up) {
      std::fprintf(stderr, "vrdemo: screen %s: no head from %s\n", screen_names[screen],
                   name.c_str());
      return 1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    vr_comp_view(ctx.get());
    vr_get_int(ctx.get(), VR_HEAD_TRACK_STATE, &state);
  }
  std::vector<double> latency_ms;
  latency_ms.reserve(static_cast<std::size_t>(opt.frames));
  double last_stamp = 0;
  dmat view;
  auto next = std::chrono::steady_clock::now();
  for (int i = 0; i < opt.frames; ++i) {
    vr_comp_view(ctx.get());
    const double done = wall_clock_s();
    double stamp = 0;
    vr_get_double(ctx.get(), VR_VRPN_HEAD_STAMP, &stamp);
    if (stamp != last_stamp) latency_ms.push_back((done - stamp) * 1e3);
    last_stamp = stamp;
    vr_get_matrix(ctx.get(), VR_LEFT_VIEW, view);
    gl->begin_frame();
    begin_eye_view(view);
    draw_room();
    if (i + 1 < opt.frames) glFinish();
    next += std::chrono::duration_cast<std::chrono::steady_clock::duration>(frame_period);
    std::this_thread::sleep_until(next);
  }
  const Image picture = gl->read_pixels();
  std::string error;
  if (!write_png(picture_path(opt.out_dir, screen), picture, &error)) {
    std::fprintf(stderr, "vrdemo: %s\n", error.c_str());
    return 1;
  }
  std::ofstream out(latency_path(opt.out_dir, screen));
  for (double ms : latency_ms) out << ms << "\n";
  return out ? 0 : 1;
}

int run_wall(const DemoOptions &opt, const char *self) {
  std::error_code ec;
  std::filesystem::create_directories(opt.out_dir, ec);
  const int port = vrtools::free_loopback_port();
  if (port == 0) {
    std::fprintf(stderr, "vrdemo: no free port on 127.0.0.1\n");
    return 1;
  }
  // The head server: a context whose plate is the room, publishing the scripted head.
  Ctx server(vr_ctx_create());
  dmat identity;
  vr_mat_identity(identity);
  vr_set_matrix(server.get(), VR_DIG_TO_PLATE, identity);
  if (vr_vrpn_serve_start(server.get(), device, "127.0.0.1", port) != VR_OK) return 1;
  std::printf(
      "vrdemo --wall: 3 screens of %.0f x %.0f cm (%d x %d px) at 90 degrees, head served "
      "on 127.0.0.1:%d, %d frames at %.0f Hz\n",
      screen_width_cm, screen_height_cm, screen_width_px, screen_height_px, port, opt.frames,
      opt.frame_rate_hz);
  std::fflush(stdout);

  pid_t children[3];
  for (int s = 0; s < 3; ++s) {
    const std::string screen = std::to_string(s), port_text = std::to_string(port),
                      frames = std::to_string(opt.frames);
    children[s] = fork();
    if (children[s] == 0) {
      execl(self, self, "--wall-screen", screen.c_str(), "--wall-port", port_text.c_str(),
            "--frames", frames.c_str(), "--out", opt.out_dir.c_str(), static_cast<char *>(nullptr));
      _exit(127);
    }
    if (children[s] < 0) {
      std::perror("vrdemo: fork");
      return 1;
    }
  }
  // Serves the head at the frame rate until every screen has finished.
  const auto start = std::chrono::steady_clock::now();
  const auto period = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double>(1.0 / opt.frame_rate_hz));
  auto next = start;
  int running = 3, failed = 0;
  while (running > 0) {
    const double t =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    dmat head;
    scripted_head(t, head);
    vr_set_matrix(server.get(), VR_HEAD_TO_DIG, head);
    vr_comp_view(server.get());
    vr_vrpn_serve_frame(server.get());
    for (pid_t &child : children) {
      int status = 0;
      if (child > 0 && waitpid(child, &status, WNOHANG) == child) {
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) ++failed;
        child = 0;
        --running;
      }
    }
    next += period;
    std::this_thread::sleep_until(next);
  }
  if (failed) {
    std::fprintf(stderr, "vrdemo: %d screen process(es) failed\n", failed);
    return 1;
  }

  std::vector<SheetTile> tiles;
  std::vector<double> all;
  for (int s = 0; s < 3; ++s) {
    Image img;
    std::string error;
    if (!read_png(picture_path(opt.out_dir, s), &img, &error)) {
      std::fprintf(stderr, "vrdemo: %s\n", error.c_str());
      return 1;
    }
    std::vector<double> ms;
    std::ifstream in(latency_path(opt.out_dir, s));
    for (double v; in >> v;) ms.push_back(v);
    all.insert(all.end(), ms.begin(), ms.end());
    std::printf("  %-6s screen: %zu fresh poses, latency p50 %.3f ms, p99 %.3f ms\n",
                screen_names[s], ms.size(), percentile(ms, 50), percentile(ms, 99));
    tiles.push_back({std::move(img), std::string(screen_names[s]) + " screen"});
  }
  std::printf(
      "latency from the server's pose time stamp to each screen's vr_comp_view: "
      "p50 %.3f ms, p99 %.3f ms (%zu poses)\n",
      percentile(all, 50), percentile(all, 99), all.size());
  std::string error;
  const std::string sheet = opt.out_dir + "/wall_contact_sheet.png";
  if (!write_png(sheet,
                 make_contact_sheet("Three screens at 90 degrees, one tracked head", tiles, 3),
                 &error)) {
    std::fprintf(stderr, "vrdemo: %s\n", error.c_str());
    return 1;
  }
  std::printf("wrote %s\n", sheet.c_str());
  return 0;
}

}  // namespace vrdemo
