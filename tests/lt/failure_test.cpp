// Every way the Logitech set-up can fail or warn, with the system's own texts, and what it leaves
// behind: no handlers, both units out of use, every opened line closed, the process still alive.
#include <cerrno>

#include "track_fixture.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;
using track_test::TrackTest;

class LtFailure : public TrackTest {
 protected:
  void SetUp() override {
    TrackTest::SetUp();
    vrsim_plug_standard(sim);
    use_6d();
  }

  // Runs the set-up with standard error captured; returns its result.
  int init(int want_glasses = 1, int want_mouse = 1) {
    CaptureStderr();
    int r = vr_init_glasses_and_mouse_6d(ctx, want_glasses, want_mouse);
    err = GetCapturedStderr();
    return r;
  }

  // A failed set-up leaves nothing in use and every line it opened closed.
  void expect_nothing_left() {
    EXPECT_EQ(vr_lt_glasses_unit, nullptr);
    EXPECT_EQ(vr_lt_mouse_6d_unit, nullptr);
    EXPECT_EQ(unit_6d[0].fd, 0);
    EXPECT_EQ(unit_6d[1].fd, 0);
    EXPECT_EQ(ctx->glasses_event_fn, nullptr);
    EXPECT_EQ(ctx->mouse_event_fn, nullptr);
    int opened = 0;
    for (int i = vrsim_event_find(sim, 0, VRSIM_EV_OPEN, -2); i >= 0;
         i = vrsim_event_find(sim, i + 1, VRSIM_EV_OPEN, -2))
      opened += vrsim_event_at(sim, i)->result > 0;
    EXPECT_EQ(count_events(VRSIM_EV_CLOSE, 0) + count_events(VRSIM_EV_CLOSE, 1), opened);
  }

  // One fault on a port's line (error 0 clears them all).
  void set_line_fault(int port, int vrsim_line_faults::*field, int error) {
    vrsim_line_faults f{};
    f.*field = error;
    vrsim_set_line_faults(sim, port, &f);
  }

  std::string err;
};

TEST_F(LtFailure, GlassesLineCannotBeOpened) {
  vrsim_unplug(sim, 0);
  EXPECT_EQ(init(), 0);
  EXPECT_EQ(err, "Couldn't open /dev/ttya for reading 6D Glasses\n");
  expect_nothing_left();
  EXPECT_EQ(count_events(VRSIM_EV_OPEN, 1), 0);

  // The message names the configured path.
  vr_set_device_path(VR_DEVICE_TTYA, "/dev/ttyS4");
  EXPECT_EQ(init(), 0);
  EXPECT_EQ(err, "Couldn't open /dev/ttyS4 for reading 6D Glasses\n");
}

TEST_F(LtFailure, MouseLineCannotBeOpened) {
  vrsim_unplug(sim, 1);
  EXPECT_EQ(init(), 0);
  EXPECT_EQ(err, "Couldn't open /dev/ttyb for reading 6D Mouse\n");
  expect_nothing_left();
  EXPECT_EQ(count_events(VRSIM_EV_CLOSE, 0), 1);
}

TEST_F(LtFailure, PoweredOffUnits) {
  vrsim_set_power(sim, 0, 0);
  EXPECT_EQ(init(), 0);
  EXPECT_EQ(err, "Error: Cannot read status from ttya logitech unit\n(possibly power off?)\n");
  expect_nothing_left();

  vrsim_set_power(sim, 0, 1);
  vrsim_set_power(sim, 1, 0);
  vrsim_events_clear(sim);
  EXPECT_EQ(init(), 0);
  EXPECT_EQ(err, "Error: Cannot read status from ttyb logitech unit\n(possibly power off?)\n");
  expect_nothing_left();
  // The unit's status is cleared, not left from the earlier read.
  EXPECT_EQ(unit_6d[1].op_info.op_byte[8], 0);

  // The configured path changes nothing in this message: it names the line.
  vr_set_device_path(VR_DEVICE_TTYB, "/dev/ttyS9");
  EXPECT_EQ(init(), 0);
  EXPECT_EQ(err, "Error: Cannot read status from ttyb logitech unit\n(possibly power off?)\n");
}

TEST_F(LtFailure, NoTransmitter) {
  vrsim_transmitter tx;
  vrsim_get_transmitter(sim, &tx);
  tx.port = -1;
  vrsim_set_transmitter(sim, &tx);
  EXPECT_EQ(init(), 0);
  EXPECT_EQ(err,
            "Error: transmitter not connected to either logitech unit\n(possibly power off?)\n");
  expect_nothing_left();
  // With one unit there is nothing to check.
  EXPECT_EQ(init(1, 0), 1);
  EXPECT_EQ(err, "");
}

TEST_F(LtFailure, ReceiverSocketWarnings) {
  vrsim_lt_config glasses, mouse;
  vrsim_lt_config_init(&glasses, VRSIM_RX_GLASSES);
  vrsim_lt_config_init(&mouse, VRSIM_RX_MOUSE);
  glasses.socket_code = 15;
  mouse.socket_code = 15;
  vrsim_plug_logitech(sim, 0, &glasses);
  vrsim_plug_logitech(sim, 1, &mouse);
  EXPECT_EQ(init(), 1);
  EXPECT_EQ(err,
            "Warning: no mouse device connected\n"
            "Warning: no glasses device connected\n"
            "Warning: Something other than CrystalEyesVR attached to glasses unit\n");
  vr_remove_glasses_and_mouse_6d(ctx);

  glasses.socket_code = 4;
  mouse.socket_code = 11;
  vrsim_plug_logitech(sim, 0, &glasses);
  vrsim_plug_logitech(sim, 1, &mouse);
  EXPECT_EQ(init(), 1);
  EXPECT_EQ(err,
            "Warning: glasses connected to 6d mouse unit\n"
            "Warning: Something other than CrystalEyesVR attached to glasses unit\n");
  EXPECT_EQ(ctx->glasses_event_fn, vr_lt_event_glasses);
}

TEST_F(LtFailure, LineParametersRejected) {
  set_line_fault(0, &vrsim_line_faults::set_errno, EIO);
  EXPECT_EQ(init(), 0);
  EXPECT_STREQ(vr_lt_message, "Could not set port parameters for \"/dev/ttya\" (5)");
  EXPECT_EQ(err, "");
  expect_nothing_left();

  set_line_fault(0, &vrsim_line_faults::set_errno, 0);
  set_line_fault(1, &vrsim_line_faults::set_errno, EINVAL);
  vr_set_device_path(VR_DEVICE_TTYB, "/dev/ttyUSB1");
  EXPECT_EQ(init(), 0);
  EXPECT_STREQ(vr_lt_message, "Could not set port parameters for \"/dev/ttyUSB1\" (22)");
  expect_nothing_left();
}

TEST_F(LtFailure, StreamModules) {
  // Modules that pop are all removed, glasses line first.
  vrsim_push_module(sim, 0, "ldterm", 0);
  vrsim_push_module(sim, 0, "ttcompat", 0);
  vrsim_push_module(sim, 1, "ldterm", 0);
  EXPECT_EQ(init(), 1);
  EXPECT_EQ(vrsim_module_count(sim, 0), 0);
  EXPECT_EQ(vrsim_module_count(sim, 1), 0);
  EXPECT_LT(vrsim_event_find(sim, 0, VRSIM_EV_POP_MODULE, 0),
            vrsim_event_find(sim, 0, VRSIM_EV_POP_MODULE, 1));
  vr_remove_glasses_and_mouse_6d(ctx);

  // One that will not pop ends the set-up.
  vrsim_events_clear(sim);
  vrsim_push_module(sim, 1, "ldterm", 0);
  vrsim_push_module(sim, 1, "ttcompat", EPERM);
  EXPECT_EQ(init(), 0);
  EXPECT_STREQ(vr_lt_message, "Error in popping stream module ttcompat");
  expect_nothing_left();
}

TEST_F(LtFailure, FileStatusFlagsUnreadable) {
  set_line_fault(1, &vrsim_line_faults::nodelay_errno, EBADF);
  EXPECT_EQ(init(), 1);
  EXPECT_STREQ(vr_lt_message, "Error in fcntl serial ports");
  EXPECT_EQ(ctx->mouse_event_fn, vr_lt_event_mouse3d);
}

TEST_F(LtFailure, CaptureDriverMissing) {
  vrsim_set_capture_fault(sim, VRSIM_CAPTURE_MISSING);
  EXPECT_EQ(init(), 0);
  EXPECT_EQ(err, "Open of kel failed, is driver installed?\n");
  expect_nothing_left();
  EXPECT_EQ(vr::lt::capture_area(), nullptr);

  vrsim_set_capture_fault(sim, VRSIM_CAPTURE_UNMAPPABLE);
  EXPECT_EQ(init(), 0);
  EXPECT_EQ(err, "Open of kel failed, is driver installed?\n");
  expect_nothing_left();

  // The driver under its second name will do.
  vrsim_set_capture_fault(sim, VRSIM_CAPTURE_PRIMARY_MISSING);
  EXPECT_EQ(init(), 1);
  EXPECT_EQ(err, "");
  EXPECT_NE(vr::lt::capture_area(), nullptr);
}

}  // namespace
