// The real serial path on one machine: vrsim-serve plays the trackers on two pseudo-terminals,
// vrcapd captures them into a capture file, and vrtrack-info is the application (built against
// the fixed interface and the shared library), all as separate processes.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "process.h"
#include "vrlib/vr.h"

namespace hw {

// One frame as vrtrack-info --frames prints it.
struct Frame {
  double t = 0;
  double head[3] = {}, left[3] = {}, right[3] = {}, mouse[3] = {}, tip[3] = {};
  int buttons = 0;
};

inline bool parse_frame(const std::string &line, Frame &f) {
  return std::sscanf(line.c_str(),
                     "frame t %lf head %lf %lf %lf eyes %lf %lf %lf %lf %lf %lf mouse %lf %lf %lf "
                     "tip %lf %lf %lf buttons %d",
                     &f.t, &f.head[0], &f.head[1], &f.head[2], &f.left[0], &f.left[1], &f.left[2],
                     &f.right[0], &f.right[1], &f.right[2], &f.mouse[0], &f.mouse[1], &f.mouse[2],
                     &f.tip[0], &f.tip[1], &f.tip[2], &f.buttons) == 17;
}

// Where a still truth puts the eyes and the mouse tip in plate coordinates, with the default
// attributes that vrtrack-info runs with. The eye points come from the library's own placement
// of a pose (held still, so nothing is extrapolated): what is under test is the path the pose
// travels, not that geometry. Rotations are the identity, so the mouse tip is its offset moved.
struct Expected {
  double left[3], right[3], tip[3];
};

inline Expected expected_for(const double head[3], const double mouse[3]) {
  vr_ctx *ctx = vr_ctx_create();
  Expected e{};
  ctx->glasses_source = 2;
  vr_lt_6d pose{head[0], head[1], head[2], 0, 0, 0, 0};
  for (int i = 0; i < 2; ++i) vr_lt_predict_eye_nodal_points(nullptr, ctx, &pose, e.left, e.right);
  dpt p = {ctx->mouse_tip_offset[0] + mouse[0], ctx->mouse_tip_offset[1] + mouse[1],
           ctx->mouse_tip_offset[2] + mouse[2]};
  vr_mat_mul_dpt(p, ctx->dig_to_plate, e.tip);
  std::free(ctx);
  return e;
}

inline double distance(const double a[3], const double b[3]) {
  double s = 0;
  for (int i = 0; i < 3; ++i) s += (a[i] - b[i]) * (a[i] - b[i]);
  return std::sqrt(s);
}

class HardwarePath : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vrlib-hw-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    tty_a = dir + "/ttyA";
    tty_b = dir + "/ttyB";
    area = dir + "/capture";
  }
  void TearDown() override {
    std::string cmd = "rm -rf '" + dir + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
  }

  // Starts the device server with extra options; waits for its "ready".
  void serve(std::vector<std::string> options = {}) {
    std::vector<std::string> argv = {VRSIM_SERVE_PATH, "--link-a", tty_a, "--link-b", tty_b};
    argv.insert(argv.end(), options.begin(), options.end());
    ASSERT_TRUE(server.start(argv));
    ASSERT_TRUE(server.wait_for("ready", 10)) << server.err();
  }

  std::vector<std::string> daemon_args(bool port_a = true, bool port_b = true) const {
    std::vector<std::string> argv = {VRCAPD_PATH, "--foreground", "--area", area};
    if (port_a) argv.insert(argv.end(), {"--port-a", tty_a});
    if (port_b) argv.insert(argv.end(), {"--port-b", tty_b});
    return argv;
  }

  std::vector<std::string> env() const {
    return {"VRLIB_TTYA=" + tty_a, "VRLIB_TTYB=" + tty_b, "VRLIB_CAPTURE=" + area};
  }

  // Reads frames from vrtrack-info until it ends (its summary lines are kept in `tail`).
  static std::vector<Frame> frames_of(Process &app, double timeout_s,
                                      std::vector<std::string> *tail = nullptr,
                                      int until_frames = -1) {
    std::vector<Frame> out;
    std::string line;
    double end = now_s() + timeout_s;
    while (app.read_line(line, end - now_s())) {
      Frame f;
      if (parse_frame(line, f)) {
        out.push_back(f);
        if (until_frames >= 0 && static_cast<int>(out.size()) >= until_frames) break;
      } else if (tail) {
        tail->push_back(line);
      }
    }
    return out;
  }

  std::string dir, tty_a, tty_b, area;
  Process server;
};

}  // namespace hw
