// The VRPN source against servers that misbehave on loopback: a peer that sends part of VRPN's
// cookie, a cookie and part of a message header, garbage, nothing at all, or closes at once.
// In every case the set-up returns within its documented wait, no frame waits on the peer, and
// the head's status goes stale and then lost on time, as for a server that is simply gone.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <utility>

#include "hostile_peer.h"
#include "vr.h"
#include "vrpn_test_server.h"

namespace {

using hostile::Attack;
using vrpn_test::get_double;
using vrpn_test::get_int;

using hostile::frame_budget_s;
using hostile::frame_never_s;
constexpr double setup_wait_s = 0.5;  // the set-up's documented wait for a server
constexpr double late_s = 0.05;       // frames are 1 ms apart; a busy machine may lag a little
constexpr double clocks_s = 2e-3;     // the status's clock against this test's

struct Outcome {
  double setup_s = 0.0;
  hostile::FrameTimes frames;
  double stale_at_s = -1.0;  // since the first frame
  double lost_at_s = -1.0;
  int final_state = -1;
  // Frames whose state disagrees with the time: one that began a little after a threshold
  // and was not yet past it, or one that ended a little before it and already was.
  int early = 0;
  int late = 0;
  void check(double begun_s, double ended_s, int state) {
    for (const auto &[threshold, at_least] : {std::pair{VR_TRACK_STALE_SECONDS, VR_TRACK_STALE},
                                              std::pair{VR_TRACK_LOST_SECONDS, VR_TRACK_LOST}}) {
      late += begun_s > threshold + clocks_s && state < at_least;
      early += ended_s < threshold - clocks_s && state >= at_least;
    }
  }
};

// One context with a VRPN head and mouse on the hostile server's port, run frame by frame for
// `seconds` of real time.
Outcome run_against(int port, double seconds) {
  Outcome r;
  vr_ctx *ctx = vr_ctx_create();
  vr_set_int(ctx, VR_GLASSES_SOURCE, VR_GLASSES_SOURCE_VRPN);
  vr_set_int(ctx, VR_MOUSE_SOURCE, VR_MOUSE_SOURCE_VRPN);
  EXPECT_EQ(vr_vrpn_set_devices(ctx, vrpn_test::device_at(port).c_str(), nullptr), VR_OK);
  int started = 0;
  r.setup_s = hostile::timed([&] { started = vr_init_glasses_and_mouse_6d(ctx, 1, 1); }).seconds;
  EXPECT_EQ(started, 1) << vr_lt_message;
  const auto first = std::chrono::steady_clock::now();
  const auto since_first = [&] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - first).count();
  };
  while (since_first() < seconds) {
    const double begun_s = since_first();
    r.frames.add(hostile::timed([&] { vr_comp_view(ctx); }));
    const int state = get_int(ctx, VR_HEAD_TRACK_STATE);
    r.check(begun_s, since_first(), state);
    if (state == VR_TRACK_STALE && r.stale_at_s < 0) r.stale_at_s = since_first();
    if (state == VR_TRACK_LOST && r.lost_at_s < 0) r.lost_at_s = since_first();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  r.final_state = get_int(ctx, VR_HEAD_TRACK_STATE);
  EXPECT_EQ(get_int(ctx, VR_VRPN_REPORTS), 0);
  vr_quit(ctx);
  std::free(ctx);
  return r;
}

class HostileServer : public ::testing::TestWithParam<Attack> {};

TEST_P(HostileServer, NeitherSetUpNorFramesWaitAndTheStatusGoesStaleThenLostOnTime) {
  const Attack attack = GetParam();
  const int port = net_test::free_loopback_port();
  ASSERT_NE(port, 0);
  hostile::HostileServer peer(port, attack);
  ASSERT_TRUE(peer.ok());
  const Outcome r = run_against(port, 1.5);

  // The peer had its go: it got the set-up's request and (unless it never answers) attacked.
  EXPECT_GE(peer.requests(), 1);
  if (attack != Attack::never_answers) {
    EXPECT_GE(peer.attacks(), 1);
  }

  EXPECT_LE(r.setup_s, setup_wait_s + late_s) << hostile::name_of(attack);
  EXPECT_LE(r.frames.max_uninterrupted_s, frame_budget_s) << hostile::name_of(attack);
  EXPECT_LE(r.frames.max_s, frame_never_s) << hostile::name_of(attack);
  EXPECT_GT(r.frames.frames, 300);
  // Stale from 0.25 s and lost from 1 s after the first frame, in every frame: none early,
  // none late.
  EXPECT_EQ(r.early, 0) << hostile::name_of(attack);
  EXPECT_EQ(r.late, 0) << hostile::name_of(attack);
  EXPECT_GE(r.stale_at_s, VR_TRACK_STALE_SECONDS);
  EXPECT_GE(r.lost_at_s, VR_TRACK_LOST_SECONDS);
  EXPECT_EQ(r.final_state, VR_TRACK_LOST);
  std::printf(
      "[ measure  ] %s: set-up %.1f ms, %d frames, longest %.3f ms (%.3f ms not "
      "preempted), stale at %.3f s, lost at %.3f s\n",
      hostile::name_of(attack), r.setup_s * 1e3, r.frames.frames, r.frames.max_s * 1e3,
      r.frames.max_uninterrupted_s * 1e3, r.stale_at_s, r.lost_at_s);
}

std::string attack_name(const ::testing::TestParamInfo<Attack> &param) {
  constexpr const char *names[] = {"PartialCookie",      "CookieAndPartialHeader", "Garbage",
                                   "GarbageAfterCookie", "NeverAnswers",           "ClosesAtOnce"};
  return names[static_cast<int>(param.param)];
}

INSTANTIATE_TEST_SUITE_P(Attacks, HostileServer,
                         ::testing::Values(Attack::partial_cookie, Attack::cookie_partial_header,
                                           Attack::garbage, Attack::garbage_after_cookie,
                                           Attack::never_answers, Attack::closes_at_once),
                         attack_name);

// A server that never finishes its cookie does not keep the source from its real server for
// good: the source gives up on that connection after VRPN's cookie wait (2 s) and asks again.
TEST(HostileServerHold, AHalfSentCookieIsDroppedAfterTheCookieWait) {
  const int port = net_test::free_loopback_port();
  ASSERT_NE(port, 0);
  hostile::HostileServer peer(port, Attack::partial_cookie);
  ASSERT_TRUE(peer.ok());
  vr_ctx *ctx = vr_ctx_create();
  vr_set_int(ctx, VR_GLASSES_SOURCE, VR_GLASSES_SOURCE_VRPN);
  ASSERT_EQ(vr_vrpn_set_devices(ctx, vrpn_test::device_at(port).c_str(), nullptr), VR_OK);
  ASSERT_EQ(vr_init_glasses_and_mouse_6d(ctx, 1, 0), 1);
  hostile::FrameTimes frames;
  const bool dropped =
      vrpn_test::run_until([&] { frames.add(hostile::timed([&] { vr_comp_view(ctx); })); },
                           [&] { return peer.all_dropped(); }, 3.5);
  EXPECT_TRUE(dropped);
  EXPECT_LE(frames.max_uninterrupted_s, frame_budget_s);
  EXPECT_LE(frames.max_s, frame_never_s);
  EXPECT_EQ(get_int(ctx, VR_HEAD_TRACK_STATE), VR_TRACK_LOST);
  EXPECT_GE(get_double(ctx, VR_HEAD_POSE_AGE), VR_TRACK_LOST_SECONDS);
  vr_quit(ctx);
  std::free(ctx);
}

// The source tracking a real server that goes, and a hostile peer in its place answering the
// source's next connection request with its cookie and half a header: no frame waits, at the
// reconnection or after, and the status goes stale and lost on time from the last report.
TEST(HostileServerHold, AReconnectionToAHostilePeerHoldsUpNoFrame) {
  const int port = net_test::free_loopback_port();
  ASSERT_NE(port, 0);
  auto server = std::make_unique<vrpn_test::TestServer>(port);
  ASSERT_TRUE(server->ok());
  vr_ctx *ctx = vr_ctx_create();
  vr_set_int(ctx, VR_GLASSES_SOURCE, VR_GLASSES_SOURCE_VRPN);
  ASSERT_EQ(vr_vrpn_set_devices(ctx, vrpn_test::device_at(port).c_str(), nullptr), VR_OK);
  ASSERT_EQ(vr_init_glasses_and_mouse_6d(ctx, 1, 0), 1);
  const double p[3] = {0.1, 0.2, 0.5}, q[4] = {0, 0, 0, 1};
  ASSERT_TRUE(vrpn_test::run_until(
      [&] {
        server->send(0, p, q);
        server->serve();
        vr_comp_view(ctx);
      },
      [&] { return get_int(ctx, VR_HEAD_TRACK_STATE) == VR_TRACK_TRACKING; }, 5.0));
  // The last report, taken by the last frame.
  server->send(0, p, q);
  server->serve();
  const auto last = std::chrono::steady_clock::now();
  vr_comp_view(ctx);
  const int reports = get_int(ctx, VR_VRPN_REPORTS);
  server.reset();
  hostile::HostileServer peer(port, Attack::cookie_partial_header);
  ASSERT_TRUE(peer.ok());

  Outcome r;
  const auto since_last = [&] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - last).count();
  };
  while (since_last() < 3.0) {
    const double begun_s = since_last();
    r.frames.add(hostile::timed([&] { vr_comp_view(ctx); }));
    const int state = get_int(ctx, VR_HEAD_TRACK_STATE);
    r.check(begun_s, since_last(), state);
    if (state == VR_TRACK_STALE && r.stale_at_s < 0) r.stale_at_s = since_last();
    if (state == VR_TRACK_LOST && r.lost_at_s < 0) r.lost_at_s = since_last();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_GE(peer.attacks(), 1);
  EXPECT_EQ(get_int(ctx, VR_VRPN_CONNECTED), 1);  // connected to the peer, message half-read
  EXPECT_EQ(get_int(ctx, VR_VRPN_REPORTS), reports);
  EXPECT_LE(r.frames.max_uninterrupted_s, frame_budget_s);
  EXPECT_LE(r.frames.max_s, frame_never_s);
  EXPECT_EQ(r.early, 0);
  EXPECT_EQ(r.late, 0);
  EXPECT_EQ(get_int(ctx, VR_HEAD_TRACK_STATE), VR_TRACK_LOST);
  std::printf(
      "[ measure  ] reconnection to a hostile peer: %d frames, longest %.3f ms (%.3f ms "
      "not preempted), stale at %.3f s, lost at %.3f s after the last report\n",
      r.frames.frames, r.frames.max_s * 1e3, r.frames.max_uninterrupted_s * 1e3, r.stale_at_s,
      r.lost_at_s);
  vr_quit(ctx);
  std::free(ctx);
}

}  // namespace
