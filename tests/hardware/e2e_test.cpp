// Tracking end to end through real pseudo-terminal lines and the capture daemon: an unmodified
// application (vrtrack-info: Start, frames, Stop with VRLIB_* set) tracks the served truth in 6D
// and raw modes and with a DynaSight, and survives the daemon being killed and restarted.
#include "hw_fixture.h"

namespace {

using hw::Expected;
using hw::Frame;
using hw::HardwarePath;
using hw::Process;

// One step of a 6D report is 0.001 inch on each axis; a rounded report is within half of it.
constexpr double report_resolution_cm = 0.00254 * 0.5 * 1.7321;
constexpr double raw_tolerance_cm = 0.2;
// After a jump of the truth the eye prediction overshoots for a few frames.
constexpr int transition_frames_max = 30;
// The first frames after the set-up may come before the first report (the default eyes), and
// the one after that jumps from them: the same overshoot.
constexpr size_t start_frames = 10;
constexpr double set_up_timeout_s = 40;

const double head_1[3] = {0, -10, 55}, mouse_1[3] = {8, -25, 40};  // the server's defaults
const double head_2[3] = {5, -8, 60}, mouse_2[3] = {10, -20, 42};

bool near(const Frame &f, const Expected &e, double tol) {
  return hw::distance(f.left, e.left) <= tol && hw::distance(f.right, e.right) <= tol &&
         hw::distance(f.tip, e.tip) <= tol;
}

void expect_near(const Frame &f, const Expected &e, double tol, const char *what) {
  EXPECT_LE(hw::distance(f.left, e.left), tol) << what << " left eye, t " << f.t;
  EXPECT_LE(hw::distance(f.right, e.right), tol) << what << " right eye, t " << f.t;
  EXPECT_LE(hw::distance(f.tip, e.tip), tol) << what << " mouse tip, t " << f.t;
}

std::vector<std::string> app(const char *mode, const char *seconds) {
  return {VRTRACK_INFO_PATH, "--mode", mode, "--frames", "--seconds", seconds};
}

TEST_F(HardwarePath, SixDTracksTheServedTruthAndTheMouse) {
  serve();
  Process session;
  std::vector<std::string> argv = daemon_args();
  argv.push_back("--");
  for (const auto &a : app("6d", "2.5")) argv.push_back(a);
  ASSERT_TRUE(session.start(argv));

  std::vector<Frame> before = frames_of(session, set_up_timeout_s, nullptr, 40);
  ASSERT_EQ(before.size(), 40u) << session.err();
  server.send("head 5 -8 60");
  server.send("mouse 10 -20 42");
  server.send("buttons 5");
  std::vector<std::string> tail;
  std::vector<Frame> after = frames_of(session, 30, &tail);
  EXPECT_EQ(session.wait(10), 0) << session.err();
  ASSERT_GE(after.size(), 60u);
  EXPECT_EQ(tail.back(), "tracking works");

  Expected e1 = hw::expected_for(head_1, mouse_1), e2 = hw::expected_for(head_2, mouse_2);
  for (size_t i = start_frames; i < before.size(); ++i) {
    expect_near(before[i], e1, report_resolution_cm, "still");
    EXPECT_EQ(before[i].buttons, 0);
  }
  // Every frame shows one truth or the other, but for the short overshoot of the prediction.
  int between = 0;
  for (const Frame &f : after)
    if (!near(f, e1, report_resolution_cm) && !near(f, e2, report_resolution_cm)) ++between;
  EXPECT_LE(between, transition_frames_max);
  for (size_t i = after.size() - 30; i < after.size(); ++i) {
    expect_near(after[i], e2, report_resolution_cm, "moved");
    EXPECT_EQ(after[i].buttons, 5);
  }
}

TEST_F(HardwarePath, RawModeSolvesAStillHeadWithinTwoMillimetres) {
  // The truth from a script this time: the head and mouse keep still at its last keys.
  const double head[3] = {2, -9, 52}, mouse[3] = {6, -24, 38};
  std::string script = dir + "/truth";
  FILE *f = std::fopen(script.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fprintf(f, "# still head and mouse\n0 head 0 -10 55\n0.5 head %g %g %g\n0 mouse %g %g %g\n",
               head[0], head[1], head[2], mouse[0], mouse[1], mouse[2]);
  std::fclose(f);
  serve({"--raw", "--script", script});
  Process session;
  std::vector<std::string> argv = daemon_args();
  argv.push_back("--");
  for (const auto &a : app("raw", "2")) argv.push_back(a);
  ASSERT_TRUE(session.start(argv));
  std::vector<std::string> tail;
  std::vector<Frame> frames = frames_of(session, set_up_timeout_s + 10, &tail);
  EXPECT_EQ(session.wait(10), 0) << session.err();
  ASSERT_GE(frames.size(), 60u) << session.err();
  EXPECT_EQ(tail.back(), "tracking works");
  Expected e = hw::expected_for(head, mouse);
  // Once the clock model has settled: the second half of the run.
  for (size_t i = frames.size() / 2; i < frames.size(); ++i) {
    EXPECT_LE(hw::distance(frames[i].left, e.left), raw_tolerance_cm) << "t " << frames[i].t;
    EXPECT_LE(hw::distance(frames[i].right, e.right), raw_tolerance_cm) << "t " << frames[i].t;
    EXPECT_LE(hw::distance(frames[i].tip, e.tip), raw_tolerance_cm) << "t " << frames[i].t;
  }
}

TEST_F(HardwarePath, DynaSightOnPortAFollowsTheHead) {
  serve({"--port-a", "dynasight", "--port-b", "none"});
  Process session;
  std::vector<std::string> argv = daemon_args(true, false);
  argv.push_back("--");
  for (const auto &a : app("dynasight", "1.5")) argv.push_back(a);
  ASSERT_TRUE(session.start(argv));
  std::vector<Frame> before = frames_of(session, set_up_timeout_s, nullptr, 20);
  ASSERT_EQ(before.size(), 20u) << session.err();
  server.send("head 5 -8 60");
  std::vector<std::string> tail;
  std::vector<Frame> after = frames_of(session, 30, &tail);
  EXPECT_EQ(session.wait(10), 0) << session.err();
  ASSERT_GE(after.size(), 30u);
  EXPECT_EQ(tail.back(), "tracking works");
  // A DynaSight record carries 0.005 cm steps; its head has no rotation.
  constexpr double ds_resolution_cm = 0.005 * 0.5 * 1.7321;
  for (size_t i = start_frames; i < before.size(); ++i)
    EXPECT_LE(hw::distance(before[i].head, head_1), ds_resolution_cm) << "t " << before[i].t;
  const Frame &last = after.back();
  EXPECT_LE(hw::distance(last.head, head_2), ds_resolution_cm);
  Expected e = hw::expected_for(head_2, mouse_1);
  EXPECT_LE(hw::distance(last.left, e.left), ds_resolution_cm);
  EXPECT_LE(hw::distance(last.right, e.right), ds_resolution_cm);
}

TEST_F(HardwarePath, KilledDaemonKeepsTheLastPoseAndARestartResumes) {
  serve();
  Process daemon;
  ASSERT_TRUE(daemon.start(daemon_args()));
  ASSERT_TRUE(hw::wait_for_err(daemon, "ready", 10)) << daemon.err();
  Process session;
  ASSERT_TRUE(session.start(app("6d", "4"), env()));
  std::vector<Frame> before = frames_of(session, set_up_timeout_s, nullptr, 20);
  ASSERT_EQ(before.size(), 20u) << session.err();

  daemon.signal(SIGKILL);
  EXPECT_EQ(daemon.wait(5), 128 + SIGKILL);
  server.send("head 5 -8 60");
  std::vector<Frame> orphaned = frames_of(session, 10, nullptr, 60);
  ASSERT_EQ(orphaned.size(), 60u) << session.err();
  Expected e1 = hw::expected_for(head_1, mouse_1), e2 = hw::expected_for(head_2, mouse_1);
  for (const Frame &f : orphaned) expect_near(f, e1, report_resolution_cm, "daemon gone");

  Process restarted;
  ASSERT_TRUE(restarted.start(daemon_args()));
  std::vector<std::string> tail;
  std::vector<Frame> after = frames_of(session, 30, &tail);
  EXPECT_EQ(session.wait(10), 0) << session.err();
  ASSERT_GE(after.size(), 30u);
  EXPECT_EQ(tail.back(), "tracking works");
  expect_near(after.back(), e2, report_resolution_cm, "restarted");
}

}  // namespace
