// Which bit of VR_MOUSE_BUTTONS is which VRPN button, as vr.h states it: bit n is button n for
// buttons 0..3, and higher buttons leave the bits alone. Through a stand-in door that presses
// buttons, so every combination is exact and nothing depends on a network.
#include <gtest/gtest.h>

#include <cstdlib>
#include <utility>
#include <vector>

#include "vrlib/vr.h"

namespace {

// The door: each poll hands over the button changes queued since the last one.
struct Buttons {
  std::vector<std::pair<int, int>> queued;  // button, pressed
};
Buttons buttons;

void *door_open(void *user, const char *, const char *) {
  return user;
}
int door_poll(void *, void *handle, const vr_vrpn_sink *sink) {
  auto *b = static_cast<Buttons *>(handle);
  for (const auto &[button, pressed] : b->queued) sink->button(sink->user, button, pressed);
  b->queued.clear();
  return 1;
}
double door_now(void *) {
  return 0.0;
}
void door_close(void *, void *) {}

class VrpnButtonBits : public ::testing::Test {
 protected:
  void SetUp() override {
    const vr_vrpn_door door = {&buttons, door_open, door_poll, door_now, door_close};
    vr_vrpn_door_install(&door);
    ctx = vr_ctx_create();
    ASSERT_NE(ctx, nullptr);
    ctx->tracking_mode = 1;
    ASSERT_EQ(vr_set_int(ctx, VR_MOUSE_SOURCE, VR_MOUSE_SOURCE_VRPN), VR_OK);
    ASSERT_EQ(vr_vrpn_set_devices(ctx, "Tracker0@door", nullptr), VR_OK);
    ASSERT_EQ(vr_vrpn_init(ctx, 0, 1), 1);
  }
  void TearDown() override {
    vr_quit(ctx);
    std::free(ctx);
    vr_vrpn_door_install(nullptr);
    buttons.queued.clear();
  }
  // Presses or releases buttons, runs a frame, and reads the bits.
  int after(std::initializer_list<std::pair<int, int>> changes) {
    buttons.queued.assign(changes);
    vr_comp_view(ctx);
    int bits = -1;
    EXPECT_EQ(vr_get_int(ctx, VR_MOUSE_BUTTONS, &bits), VR_OK);
    return bits;
  }
  vr_ctx *ctx = nullptr;
};

TEST_F(VrpnButtonBits, BitNIsButtonNAndHigherButtonsAreNotKept) {
  for (int n = 0; n < 4; ++n) {
    EXPECT_EQ(after({{n, 1}}), 1 << n) << "button " << n;
    EXPECT_EQ(after({{n, 0}}), 0) << "button " << n;
  }
  EXPECT_EQ(after({{0, 1}, {3, 1}}), 9);
  EXPECT_EQ(after({{4, 1}, {7, 1}, {31, 1}}), 9);
  EXPECT_EQ(after({{0, 0}, {4, 0}}), 8);
  EXPECT_EQ(after({{-1, 1}}), 8);
}

}  // namespace
