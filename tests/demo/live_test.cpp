// vrdemo --live under a virtual X server (Xvfb, started by the test through xvfb-run on a free
// display): 120 frames with the opentrack source fed by a sender in the test, a screenshot read
// back from the window's framebuffer, and a clean exit. A head further right must show the scene
// behind the screen further right: objects behind the window move with the viewer.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "image.h"
#include "png_io.h"
#include "temp_dir.h"

namespace {

constexpr unsigned loopback = 0x7F000001u;

bool have_xvfb() {
  return std::system("command -v xvfb-run >/dev/null 2>&1 && command -v Xvfb >/dev/null 2>&1") == 0;
}

int free_port() {
  const int s = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(loopback);
  bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(s, reinterpret_cast<sockaddr *>(&a), &len);
  close(s);
  return ntohs(a.sin_port);
}

// A webcam tracker stand-in: the opentrack datagram of one head position at 60 Hz.
class Sender {
 public:
  Sender(int port, double x_cm) {
    thread_ = std::thread([this, port, x_cm] {
      const int s = socket(AF_INET, SOCK_DGRAM, 0);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_addr.s_addr = htonl(loopback);
      a.sin_port = htons(static_cast<unsigned short>(port));
      const double v[6] = {x_cm, -14.0, 60.0, 0.0, 0.0, 0.0};
      unsigned char bytes[48];
      std::memcpy(bytes, v, sizeof bytes);  // this machine is little-endian, as the wire
      while (!stop_) {
        sendto(s, bytes, sizeof bytes, 0, reinterpret_cast<sockaddr *>(&a), sizeof a);
        std::this_thread::sleep_for(std::chrono::microseconds(16667));
      }
      close(s);
    });
  }
  ~Sender() {
    stop_ = true;
    thread_.join();
  }

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

struct LiveRun {
  int status = -1;
  std::string output;
};

LiveRun run_live(int port, const std::string &screenshot, const std::string &extra = "") {
  const std::string cmd = "VRLIB_OPENTRACK=127.0.0.1:" + std::to_string(port) +
                          " xvfb-run -a -s '-screen 0 1280x1024x24 -nolisten tcp' '" + VRDEMO_PATH +
                          "' --live --source opentrack -n 120 --screenshot '" + screenshot + "' " +
                          extra + " 2>&1";
  LiveRun r;
  FILE *p = popen(cmd.c_str(), "r");
  if (!p) return r;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.output.append(buf, n);
  const int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

// Horizontal centre of the green sphere standing in the room behind the screen, in pixels.
double sphere_centre_x(const vrdemo::Image &img) {
  double sum = 0;
  long count = 0;
  for (int y = 0; y < img.height; ++y)
    for (int x = 0; x < img.width; ++x) {
      const vrdemo::Rgb c = img.get(x, y);
      if (c.g > c.r + 40 && c.g > c.b + 10) {
        sum += x;
        ++count;
      }
    }
  return count > 200 ? sum / static_cast<double>(count) : -1.0;
}

TEST(LiveWindow, OpentrackHeadMovesTheSceneAndTheWindowClosesCleanly) {
  if (!have_xvfb()) GTEST_SKIP() << "Xvfb is not installed";
  vr_test::TempDir dir("vrdemo-live");
  ASSERT_FALSE(dir.path().empty());
  double centre[2] = {-1, -1};
  const double head_x[2] = {-8.0, 8.0};
  for (int k = 0; k < 2; ++k) {
    const int port = free_port();
    const std::string shot = (dir.path() / ("head" + std::to_string(k) + ".png")).string();
    LiveRun r;
    {
      Sender sender(port, head_x[k]);
      r = run_live(port, shot);
    }
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("head from opentrack (UDP)"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("vrdemo --live: 120 frames, "), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("; closed cleanly"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("tracker 0 datagrams"), std::string::npos) << r.output;
    vrdemo::Image img;
    std::string error;
    ASSERT_TRUE(vrdemo::read_png(shot, &img, &error)) << error;
    EXPECT_EQ(img.width, 960);
    EXPECT_EQ(img.height, 680);
    centre[k] = sphere_centre_x(img);
    ASSERT_GT(centre[k], 0) << "no sphere in " << shot;
  }
  // 16 cm of head movement, the sphere some 20 cm behind the screen seen from 60 cm: about a
  // quarter of the movement, several centimetres at some 26 pixels per centimetre.
  EXPECT_GT(centre[1] - centre[0], 40.0) << centre[0] << " -> " << centre[1];
}

// --track display: the opentrack head read for the moment each frame is shown. A still head is
// predicted where it is: the scene stands where it does without the prediction.
TEST(LiveWindow, DisplayTimeTrackingPlacesAStillHeadWhereItIs) {
  if (!have_xvfb()) GTEST_SKIP() << "Xvfb is not installed";
  vr_test::TempDir dir("vrdemo-live");
  ASSERT_FALSE(dir.path().empty());
  double centre[2] = {-1, -1};
  const char *extra[2] = {"", "--track display --sender-latency 20"};
  for (int k = 0; k < 2; ++k) {
    const int port = free_port();
    const std::string shot = (dir.path() / ("still" + std::to_string(k) + ".png")).string();
    LiveRun r;
    {
      Sender sender(port, 8.0);
      r = run_live(port, shot, extra[k]);
    }
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output.find("head from opentrack (UDP) at display time") != std::string::npos,
              k == 1)
        << r.output;
    vrdemo::Image img;
    ASSERT_TRUE(vrdemo::read_png(shot, &img, nullptr));
    centre[k] = sphere_centre_x(img);
    ASSERT_GT(centre[k], 0) << "no sphere in " << shot;
  }
  EXPECT_NEAR(centre[1], centre[0], 1.0);
}

TEST(LiveWindow, AnaglyphRunsAndNoDisplayIsAClearError) {
  if (!have_xvfb()) GTEST_SKIP() << "Xvfb is not installed";
  vr_test::TempDir dir("vrdemo-live");
  const std::string shot = (dir.path() / "anaglyph.png").string();
  const int port = free_port();
  LiveRun r;
  {
    Sender sender(port, 0.0);
    r = run_live(port, shot, "--stereo anaglyph");
  }
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("anaglyph"), std::string::npos);
  vrdemo::Image img;
  ASSERT_TRUE(vrdemo::read_png(shot, &img, nullptr));
  // Both eyes drawn: red from the left view, green and blue from the right.
  long red_only = 0, cyan_only = 0;
  for (int y = 0; y < img.height; y += 2)
    for (int x = 0; x < img.width; x += 2) {
      const vrdemo::Rgb c = img.get(x, y);
      red_only += c.r > 100 && c.g < 40 && c.b < 40;
      cyan_only += c.r < 40 && (c.g > 100 || c.b > 100);
    }
  EXPECT_GT(red_only + cyan_only, 100);

  const std::string cmd =
      "env -u DISPLAY -u WAYLAND_DISPLAY '" + std::string(VRDEMO_PATH) + "' --live -n 5 2>&1";
  FILE *p = popen(cmd.c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string out;
  char buf[1024];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  const int st = pclose(p);
  EXPECT_EQ(WEXITSTATUS(st), 1);
  EXPECT_NE(out.find("--live needs a display"), std::string::npos) << out;
}

}  // namespace
