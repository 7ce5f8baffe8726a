// Every platform call of every tracker set-up fails in turn. Each failure must end clean: the
// set-up returns 0 with a message (or succeeds when the call was not essential), no line stays
// open once the trackers are removed, nothing is leaked (the sanitizer build runs this too), and
// a set-up on a healthy simulator afterwards works.
#include <cerrno>
#include <functional>
#include <string>

#include "track_fixture.h"

namespace {

using track_test::TrackTest;

struct TrackerSetUp {
  const char *name;
  std::function<void(vrsim *)> plug;
  std::function<void(vr_ctx *)> configure;
};

class FaultSweep : public TrackTest {
 protected:
  // A new simulator and context, with the drivers' state as in a new process (the capture area
  // not mapped yet, so the sweep reaches the mapping calls too).
  void fresh(const TrackerSetUp &s) {
    TrackTest::fresh();
    s.plug(sim);
    s.configure(ctx);
  }

  bool handlers_installed() const {
    return ctx->glasses_event_fn != nullptr || ctx->mouse_event_fn != nullptr;
  }

  void remove_trackers() {
    if (ctx->glasses_remove_fn != nullptr) ctx->glasses_remove_fn(ctx);
    if (ctx->mouse_remove_fn != nullptr) ctx->mouse_remove_fn(ctx);
  }

  // The number of calls that can fail in one healthy set-up.
  long long calls_of(const TrackerSetUp &s) {
    fresh(s);
    vrsim_fail_call(sim, 0, 0);
    EXPECT_EQ(vr_init_glasses_and_mouse_6d(ctx, 1, 1), 1) << s.name;
    const long long n = vrsim_failable_calls(sim);
    remove_trackers();
    EXPECT_EQ(vrsim_open_lines(sim), 0) << s.name;
    return n;
  }

  void sweep(const TrackerSetUp &s) {
    const long long total = calls_of(s);
    ASSERT_GE(total, 5) << s.name;
    int failed_set_ups = 0;
    for (long long n = 1; n <= total; ++n) {
      SCOPED_TRACE(std::string(s.name) + ", failing call " + std::to_string(n));
      fresh(s);
      vrsim_fail_call(sim, n, EIO);
      testing::internal::CaptureStderr();
      const int ok = vr_init_glasses_and_mouse_6d(ctx, 1, 1);
      const std::string printed = testing::internal::GetCapturedStderr();
      ASSERT_EQ(vrsim_call_failed(sim), 1);
      const int failed_kind = failed_call_kind();
      if (ok == 0) {
        ++failed_set_ups;
        EXPECT_TRUE(!printed.empty() || vr_lt_message[0] != '\0' || vr_ds_message[0] != '\0')
            << "a failed set-up must say why";
        EXPECT_FALSE(handlers_installed());
        EXPECT_EQ(vrsim_open_lines(sim), 0) << "a failed set-up leaves no line open";
      } else {
        // A set-up that succeeds despite the failure must have lost nothing it needs: its
        // trackers deliver poses. The one exception is the CyberMan's modem lines, which a line
        // without them (a pseudo-terminal) refuses by nature and whose failure the set-up has
        // always let pass; the tracking status then says that the mouse is lost.
        EXPECT_TRUE(handlers_installed());
        frames(90);
        for (int id : {VR_HEAD_TRACK_STATE, VR_MOUSE_TRACK_STATE}) {
          const int state = track_state(id);
          if (state == VR_TRACK_NONE) continue;  // no such tracker in this set-up
          if (failed_kind == VRSIM_EV_MODEM && id == VR_MOUSE_TRACK_STATE)
            EXPECT_TRUE(state == VR_TRACK_TRACKING || state == VR_TRACK_LOST);
          else
            EXPECT_EQ(state, VR_TRACK_TRACKING) << "call kind " << failed_kind;
        }
        remove_trackers();
        EXPECT_EQ(vrsim_open_lines(sim), 0) << "removal closes every line";
      }

      // The same process, the simulator healthy again: a new set-up works and tracks.
      vrsim_fail_call(sim, 0, 0);
      testing::internal::CaptureStderr();
      ASSERT_EQ(vr_init_glasses_and_mouse_6d(ctx, 1, 1), 1);
      frames(30);
      testing::internal::GetCapturedStderr();
      EXPECT_EQ(vrsim_call_failed(sim), 0);
      EXPECT_EQ(track_state(VR_HEAD_TRACK_STATE), VR_TRACK_TRACKING);
      remove_trackers();
      EXPECT_EQ(vrsim_open_lines(sim), 0);
    }
    EXPECT_GT(failed_set_ups, 0) << s.name;
  }

  int track_state(int id) {
    int state = -1;
    vr_get_int(ctx, id, &state);
    return state;
  }

  // The kind of the call that the injection made fail (VRSIM_EV_*).
  int failed_call_kind() const {
    for (int i = 0; i < vrsim_event_count(sim); ++i)
      if (vrsim_event_at(sim, i)->err == EIO) return vrsim_event_at(sim, i)->kind;
    return -1;
  }
};

// The position, among the calls that can fail, of the first write of `bytes` in the event log.
long long failable_index_of_write(const vrsim *sim, const std::string &bytes) {
  long long n = 0;
  for (int i = 0; i < vrsim_event_count(sim); ++i) {
    const vrsim_event *e = vrsim_event_at(sim, i);
    switch (e->kind) {
      case VRSIM_EV_CLOSE:
      case VRSIM_EV_TOP_MODULE:
      case VRSIM_EV_SLEEP:
        continue;
      default:
        ++n;
    }
    if (e->kind == VRSIM_EV_WRITE &&
        std::string(reinterpret_cast<const char *>(e->bytes),
                    static_cast<std::size_t>(e->count < 64 ? e->count : 64)) == bytes)
      return n;
  }
  return -1;
}

void plug_standard(vrsim *sim) {
  vrsim_plug_standard(sim);
}

void plug_glasses_and_cyberman(vrsim *sim) {
  vrsim_lt_config glasses;
  vrsim_lt_config_init(&glasses, VRSIM_RX_GLASSES);
  vrsim_plug_logitech(sim, VRSIM_PORT_A, &glasses);
  vrsim_plug_cyberman(sim, VRSIM_PORT_B, 40.0);
}

void plug_dynasight(vrsim *sim) {
  vrsim_plug_dynasight(sim, VRSIM_PORT_A, 60.0);
}

std::function<void(vr_ctx *)> sources(int glasses, int mouse, int streaming) {
  return [=](vr_ctx *ctx) {
    ctx->tracking_mode = 1;
    ctx->glasses_source = glasses;
    ctx->mouse_source = mouse;
    ctx->streaming = streaming;
  };
}

TEST_F(FaultSweep, Logitech6d) {
  sweep({"Logitech 6D", plug_standard, sources(2, 2, 1)});
}

TEST_F(FaultSweep, Logitech6dOnDemand) {
  sweep({"Logitech 6D on demand", plug_standard, sources(2, 2, 0)});
}

TEST_F(FaultSweep, LogitechRaw) {
  sweep({"Logitech raw", plug_standard, sources(1, 1, 1)});
}

TEST_F(FaultSweep, Cyberman) {
  sweep({"CyberMan", plug_glasses_and_cyberman, sources(2, 3, 1)});
}

TEST_F(FaultSweep, DynaSight) {
  sweep({"DynaSight", plug_dynasight, sources(4, 2, 1)});
}

}  // namespace

namespace {

// The commands without which a tracker never sends a pose, each failing alone: the set-up ends
// with its message and leaves no line open.
TEST_F(FaultSweep, UnsendableStartCommandsEndTheSetUpWithTheirMessage) {
  struct Case {
    TrackerSetUp set_up;
    std::string command;
    const char *message;
  };
  const Case cases[] = {
      {{"6D streaming", plug_standard, sources(2, 2, 1)},
       "*S",
       "Could not send the streaming command to the logitech units"},
      {{"raw mode", plug_standard, sources(1, 1, 1)},
       "*\xF2",
       "Could not send the raw mode command to the logitech units"},
      {{"CyberMan start", plug_glasses_and_cyberman, sources(2, 3, 1)},
       "*S",
       "Could not start the CyberMan on \"/dev/ttyb\""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.set_up.name);
    fresh(c.set_up);
    vrsim_fail_call(sim, 0, 0);
    ASSERT_EQ(vr_init_glasses_and_mouse_6d(ctx, 1, 1), 1);
    const long long n = failable_index_of_write(sim, c.command);
    ASSERT_GT(n, 0);
    remove_trackers();

    fresh(c.set_up);
    vrsim_fail_call(sim, n, EIO);
    EXPECT_EQ(vr_init_glasses_and_mouse_6d(ctx, 1, 1), 0);
    EXPECT_EQ(vrsim_call_failed(sim), 1);
    EXPECT_STREQ(vr_lt_message, c.message);
    EXPECT_EQ(vrsim_open_lines(sim), 0);
  }
}

}  // namespace
