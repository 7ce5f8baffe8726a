// A fresh simulator and context for each tracker test, with the tracker drivers' global state put
// back to where a new process has it (as far as the drivers allow: the 6D eye prediction's
// previous eye points are never reset), and readers for what the drivers wrote on the lines.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "vr_lt_internal.h"
#include "vr_lt_raw.h"
#include "vr_serial_decode.h"
#include "vrlib/vr.h"
#include "vrsim/vrsim.h"

namespace track_test {

// One write on a line: which port, the bytes, and the virtual time (seconds) of the write.
struct Write {
  int port;
  std::string bytes;
  double time;
};

inline std::string bytes(std::initializer_list<int> b) {
  std::string s;
  for (int c : b) s.push_back(static_cast<char>(c));
  return s;
}

class TrackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    forget_units();
    sim = vrsim_create(seed);
    ASSERT_NE(sim, nullptr);
    vrsim_install(sim);
    ctx = vr_ctx_create();
    ASSERT_NE(ctx, nullptr);
  }

  void TearDown() override {
    // Removal runs on this test's simulator, where the units' descriptors belong.
    vr_lt_remove_glasses_and_mouse_6d(nullptr);
    vr_ds_remove_glasses(nullptr);
    vrsim_destroy(sim);
    vr_platform_install(nullptr);
    for (int which : {VR_DEVICE_TTYA, VR_DEVICE_TTYB, VR_DEVICE_CAPTURE, VR_DEVICE_CAPTURE_ALT})
      vr_set_device_path(which, nullptr);
    std::free(ctx);
    forget_units();
  }

  // A new simulator and context in place of the test's, with the drivers as in a new process (the
  // capture area not mapped yet), for a test that runs several set-ups in turn.
  void fresh() {
    vr_lt_remove_glasses_and_mouse_6d(nullptr);
    vr_ds_remove_glasses(nullptr);
    vrsim_destroy(sim);
    std::free(ctx);
    forget_units();
    sim = vrsim_create(seed);
    vrsim_install(sim);
    ctx = vr_ctx_create();
  }

  // Puts the drivers' globals back to their start-up values. A unit left in use by a failed
  // test is dropped without touching its (foreign) descriptor.
  static void forget_units() {
    vr_lt_glasses_unit = nullptr;
    vr_lt_mouse_6d_unit = nullptr;
    std::memset(unit_6d, 0, sizeof unit_6d);
    std::free(vr_ds_glasses_unit);
    vr_ds_glasses_unit = nullptr;
    temporal_filter_length = 8;
    cybermen_present = 0;
    use_demand_reporting = 0;
    goo57 = 0.0;
    vr_lt_message[0] = '\0';
    vr_ds_message[0] = '\0';
    LT_SET_EVENT_FILTER_LENGTH[4] = 1;
    LT_SET_SLAVE_XMITER_TYPE[4] = 1;
    vr::lt::forget_capture_area();
    vr::ds::forget_capture_area();
    vr::lt::reset_raw_state();
    vr::lt::reset_raw_counters();
    cur_stat = 255;
  }

  // Starts the serial trackers for desk-top tracking with the given glasses and mouse sources,
  // streaming.
  void start_serial(int glasses, int mouse) {
    ctx->tracking_mode = VR_TRACKING_DESKTOP;
    ctx->glasses_source = glasses;
    ctx->mouse_source = mouse;
    ctx->streaming = 1;
    ASSERT_EQ(vr_init_glasses_and_mouse_6d(ctx, 1, 1), 1) << vr_lt_message;
  }

  // The context for the Logitech 6D path: glasses and a 3D mouse in 6D-report mode, streaming.
  void use_6d(int streaming = 1) {
    ctx->tracking_mode = 1;
    ctx->glasses_source = 2;
    ctx->mouse_source = 2;
    ctx->streaming = streaming;
  }

  // Every write on the lines since the events were last cleared, in order.
  std::vector<Write> writes() const {
    std::vector<Write> out;
    for (int i = 0; i < vrsim_event_count(sim); ++i) {
      const vrsim_event *e = vrsim_event_at(sim, i);
      if (e->kind != VRSIM_EV_WRITE) continue;
      out.push_back({e->port,
                     std::string(reinterpret_cast<const char *>(e->bytes),
                                 static_cast<size_t>(e->count < 64 ? e->count : 64)),
                     e->time_ns * 1e-9});
    }
    return out;
  }

  // The writes on one port, bytes only.
  std::vector<std::string> written_on(int port) const {
    std::vector<std::string> out;
    for (const Write &w : writes())
      if (w.port == port) out.push_back(w.bytes);
    return out;
  }

  int count_events(int kind, int port = -2) const {
    int n = 0;
    for (int i = vrsim_event_find(sim, 0, kind, port); i >= 0;
         i = vrsim_event_find(sim, i + 1, kind, port))
      ++n;
    return n;
  }

  // Runs frames of the application: time moves on by dt, then the per-frame computation.
  void frames(int n, double dt = 1.0 / 60.0) {
    for (int i = 0; i < n; ++i) {
      vrsim_advance(sim, dt);
      vr_comp_view(ctx);
    }
  }

  unsigned long long seed = 1;
  vrsim *sim = nullptr;
  vr_ctx *ctx = nullptr;
};

}  // namespace track_test
