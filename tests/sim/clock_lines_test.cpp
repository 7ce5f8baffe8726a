// The simulator as a platform: virtual clock, simulated lines, faults, capture device, event log.
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "sim_fixture.h"
#include "sim_lines.h"
#include "vr_platform.h"

namespace {

using sim_test::Sim;
namespace os = vr::os;

using sim_lines::logitech_line;
using sim_lines::ms;

TEST(SimClock, ProcessorClockReadingsMoveTimeByOneStepAfterTheFirst) {
  Sim sim;
  EXPECT_EQ(vrsim_installed(), sim.get());
  EXPECT_EQ(vrsim_now_ns(sim), 0);
  long long c0 = os::hrvtime();
  EXPECT_EQ(vrsim_now_ns(sim), 0);  // the first reading of a run is free
  long long c1 = os::hrvtime();
  EXPECT_EQ(c1 - c0, ms);
  EXPECT_EQ(vrsim_now_ns(sim), ms);
  // The real-time clock shows virtual time plus the origin and moves nothing.
  EXPECT_EQ(os::hrtime(), 1000LL * 1000000000LL + ms);
  EXPECT_EQ(os::hrtime(), 1000LL * 1000000000LL + ms);
  EXPECT_EQ(vrsim_now_ns(sim), ms);
}

TEST(SimClock, UsleepAdvancesExactlyTheRequestedWholeSteps) {
  Sim sim;
  vr_usleep(100000);
  EXPECT_EQ(vrsim_now_ns(sim), 100 * ms);
  vrsim_advance(sim, 0.0);  // ends the run of readings
  vr_usleep(0);             // at least one step
  EXPECT_EQ(vrsim_now_ns(sim), 101 * ms);
  vrsim_advance(sim, 0.0);
  vr_usleep(2500);  // rounded up to whole steps
  EXPECT_EQ(vrsim_now_ns(sim), 104 * ms);
  vrsim_set_cpu_step_ns(sim, 250000);
  vrsim_advance(sim, 0.0);
  vr_usleep(1000);
  EXPECT_EQ(vrsim_now_ns(sim), 105 * ms);
}

TEST(SimClock, SleepAndAdvanceMoveVirtualTime) {
  Sim sim;
  os::sleep_seconds(2);
  EXPECT_EQ(vrsim_now_ns(sim), 2000 * ms);
  EXPECT_DOUBLE_EQ(vrsim_now(sim), 2.0);
  vrsim_advance(sim, 0.25);
  vrsim_advance(sim, -1.0);
  vrsim_advance_ns(sim, -5);
  EXPECT_EQ(vrsim_now_ns(sim), 2250 * ms);
  int i = vrsim_event_find(sim, 0, VRSIM_EV_SLEEP, -2);
  ASSERT_GE(i, 0);
  EXPECT_EQ(vrsim_event_at(sim, i)->count, 2);
  EXPECT_EQ(vrsim_event_at(sim, i)->time_ns, 0);
}

TEST(SimClock, VirtualTimeStopsAtItsLimitInsteadOfOverflowing) {
  Sim sim;  // nothing plugged in: nothing to run on the way
  vrsim_advance(sim, INFINITY);
  EXPECT_EQ(vrsim_now_ns(sim), 100000LL * 1000000000LL);
  vrsim_advance(sim, 1.0);
  vrsim_advance_ns(sim, INT64_MAX);
  EXPECT_EQ(vrsim_now_ns(sim), 100000LL * 1000000000LL);
}

TEST(SimInstall, UninstallAndDestroyRestoreTheDefaultPlatform) {
  vrsim *a = vrsim_create(1);
  vrsim_install(a);
  EXPECT_NE(vr_platform_current()->hrtime, vr_platform_default()->hrtime);
  vrsim_destroy(a);
  EXPECT_EQ(vrsim_installed(), nullptr);
  EXPECT_EQ(vr_platform_current()->hrtime, vr_platform_default()->hrtime);
}

TEST(SimLines, OpenByDevicePathAndRefuseUnpluggedPorts) {
  Sim sim;
  vrsim_plug_logitech(sim, VRSIM_PORT_A, nullptr);
  int a = os::line_open("/dev/ttya");
  EXPECT_GT(a, 0);
  EXPECT_EQ(os::line_open("/dev/ttyb"), -1);  // nothing plugged in
  EXPECT_EQ(vrsim_event_at(sim, vrsim_event_count(sim) - 1)->err, ENXIO);
  EXPECT_EQ(os::line_open("/dev/ttyz"), -1);
  vrsim_set_open_unplugged(sim, 1);
  int b = os::line_open("/dev/ttyb");
  EXPECT_GT(b, 0);
  EXPECT_NE(a, b);

  // The paths follow the library's configured device paths.
  ASSERT_EQ(vr_set_device_path(VR_DEVICE_TTYA, "/dev/ttyS7"), 1);
  EXPECT_EQ(os::line_open("/dev/ttya"), -1);
  int a2 = os::line_open("/dev/ttyS7");
  EXPECT_GT(a2, 0);
  vr_set_device_path(VR_DEVICE_TTYA, nullptr);

  os::line_close(a);
  EXPECT_EQ(os::line_write(a, "*R", 2), -1);  // closed descriptor
  const vrsim_event *e = vrsim_event_at(sim, vrsim_event_count(sim) - 1);
  EXPECT_EQ(e->kind, VRSIM_EV_WRITE);
  EXPECT_EQ(e->err, EBADF);
}

TEST(SimLines, EveryCallIsRecordedWithItsTimeAndArguments) {
  Sim sim;
  vrsim_plug_standard(sim);
  int fd = os::line_open("/dev/ttyb");
  vr_line_settings got{};
  ASSERT_EQ(os::line_get(fd, &got), 0);
  EXPECT_EQ(got.baud, 9600);
  EXPECT_EQ(got.raw, 0);
  ASSERT_EQ(os::line_set(fd, &logitech_line), 0);
  ASSERT_EQ(os::line_get(fd, &got), 0);
  EXPECT_EQ(std::memcmp(&got, &logitech_line, sizeof got), 0);
  EXPECT_EQ(os::line_modem(fd, VR_MODEM_DTR | VR_MODEM_RTS, 0), 0);
  EXPECT_EQ(os::line_flush(fd), 0);
  vr_usleep(100000);
  EXPECT_EQ(os::line_write(fd, "*m", 2), 2);
  EXPECT_EQ(os::line_nodelay(fd), 0);

  const int kinds[] = {VRSIM_EV_OPEN,  VRSIM_EV_LINE_GET, VRSIM_EV_LINE_SET, VRSIM_EV_LINE_GET,
                       VRSIM_EV_MODEM, VRSIM_EV_FLUSH,    VRSIM_EV_WRITE,    VRSIM_EV_NODELAY};
  ASSERT_EQ(vrsim_event_count(sim), 8);
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(vrsim_event_at(sim, i)->kind, kinds[i]) << i;
    EXPECT_EQ(vrsim_event_at(sim, i)->port, 1) << i;
  }
  EXPECT_EQ(vrsim_event_at(sim, 2)->settings.baud, 19200);
  EXPECT_EQ(vrsim_event_at(sim, 4)->lines, VR_MODEM_DTR | VR_MODEM_RTS);
  EXPECT_EQ(vrsim_event_at(sim, 4)->raise, 0);
  // The pause between the flush and the write shows exactly.
  EXPECT_EQ(vrsim_event_at(sim, 6)->time_ns - vrsim_event_at(sim, 5)->time_ns, 100 * ms);
  EXPECT_EQ(vrsim_event_at(sim, 6)->count, 2);
  EXPECT_EQ(std::memcmp(vrsim_event_at(sim, 6)->bytes, "*m", 2), 0);
  unsigned char w[8];
  EXPECT_EQ(vrsim_written(sim, VRSIM_PORT_B, w, sizeof w), 2);
  EXPECT_EQ(std::memcmp(w, "*m", 2), 0);
  EXPECT_EQ(vrsim_event_find(sim, 0, VRSIM_EV_WRITE, 0), -1);
  EXPECT_EQ(vrsim_event_find(sim, 0, VRSIM_EV_WRITE, 1), 6);
  vrsim_events_clear(sim);
  EXPECT_EQ(vrsim_event_count(sim), 0);
  EXPECT_EQ(vrsim_event_at(sim, 0), nullptr);
}

TEST(SimLines, InjectedFaultsReportTheirErrorNumbers) {
  Sim sim;
  vrsim_plug_standard(sim);
  vrsim_line_faults f{};
  f.open_errno = EACCES;
  vrsim_set_line_faults(sim, VRSIM_PORT_A, &f);
  EXPECT_EQ(os::line_open("/dev/ttya"), -1);
  EXPECT_EQ(vrsim_event_at(sim, 0)->err, EACCES);

  f = vrsim_line_faults{};
  f.set_errno = EIO;
  f.set_fail_at = 2;  // only the second set from now
  f.get_errno = EPERM;
  f.modem_errno = ENOTTY;
  f.flush_errno = EBADMSG;
  f.nodelay_errno = EBADF;
  vrsim_set_line_faults(sim, VRSIM_PORT_A, &f);
  int fd = os::line_open("/dev/ttya");
  ASSERT_GT(fd, 0);
  EXPECT_EQ(os::line_set(fd, &logitech_line), 0);
  EXPECT_EQ(os::line_set(fd, &logitech_line), EIO);
  EXPECT_EQ(os::line_set(fd, &logitech_line), 0);
  vr_line_settings s{};
  EXPECT_EQ(os::line_get(fd, &s), EPERM);
  EXPECT_EQ(os::line_modem(fd, VR_MODEM_RTS, 1), ENOTTY);
  EXPECT_EQ(os::line_flush(fd), EBADMSG);
  EXPECT_EQ(os::line_nodelay(fd), EBADF);

  f = vrsim_line_faults{};
  f.set_errno = EINVAL;  // every set
  vrsim_set_line_faults(sim, VRSIM_PORT_A, &f);
  EXPECT_EQ(os::line_set(fd, &logitech_line), EINVAL);
  EXPECT_EQ(os::line_set(fd, &logitech_line), EINVAL);
  vrsim_set_line_faults(sim, VRSIM_PORT_A, nullptr);
  vr_line_settings odd = logitech_line;
  odd.baud = 12345;  // not a line speed
  EXPECT_EQ(os::line_set(fd, &odd), EINVAL);
  EXPECT_EQ(os::line_set(fd, &logitech_line), 0);
}

TEST(SimLines, StreamModulesPopFromTheTopUntilOneRefuses) {
  Sim sim;
  vrsim_plug_standard(sim);
  vrsim_push_module(sim, VRSIM_PORT_A, "stuck", EPERM);
  vrsim_push_module(sim, VRSIM_PORT_A, "ldterm", 0);
  vrsim_push_module(sim, VRSIM_PORT_A, "ttcompat", 0);
  int fd = os::line_open("/dev/ttya");
  char name[8];
  ASSERT_EQ(os::line_top_module(fd, name, sizeof name), 1);
  EXPECT_STREQ(name, "ttcompa");  // truncated to the buffer, terminated
  EXPECT_EQ(os::line_pop_module(fd), 0);
  ASSERT_EQ(os::line_top_module(fd, name, sizeof name), 1);
  EXPECT_STREQ(name, "ldterm");
  EXPECT_EQ(os::line_pop_module(fd), 0);
  ASSERT_EQ(os::line_top_module(fd, name, sizeof name), 1);
  EXPECT_EQ(os::line_pop_module(fd), EPERM);
  EXPECT_EQ(vrsim_module_count(sim, VRSIM_PORT_A), 1);
  int other = os::line_open("/dev/ttyb");
  EXPECT_EQ(os::line_top_module(other, name, sizeof name), 0);
  EXPECT_STREQ(name, "");
  EXPECT_EQ(os::line_pop_module(other), EINVAL);
}

TEST(SimCapture, PathsAndFaultsOfTheCaptureDevice) {
  Sim sim;
  const char *primary = vr_device_path(VR_DEVICE_CAPTURE);
  const char *alt = vr_device_path(VR_DEVICE_CAPTURE_ALT);
  int fd = os::capture_open(primary);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(os::capture_map(fd), vrsim_capture_area());
  EXPECT_EQ(os::capture_map(12345), nullptr);

  vrsim_set_capture_fault(sim, VRSIM_CAPTURE_PRIMARY_MISSING);
  EXPECT_EQ(os::capture_open(primary), -1);
  EXPECT_GE(os::capture_open(alt), 0);
  vrsim_set_capture_fault(sim, VRSIM_CAPTURE_MISSING);
  EXPECT_EQ(os::capture_open(primary), -1);
  EXPECT_EQ(os::capture_open(alt), -1);
  vrsim_set_capture_fault(sim, VRSIM_CAPTURE_UNMAPPABLE);
  fd = os::capture_open(primary);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(os::capture_map(fd), nullptr);
}

TEST(SimCapture, OneAreaForTheWholeProcessClearedByEachNewSimulator) {
  unsigned char *area = vrsim_capture_area();
  {
    Sim first;
    area[5] = 0x55;
    area[4090] = 7;
    EXPECT_EQ(vrsim_capture_area(), area);
  }
  Sim second;
  EXPECT_EQ(vrsim_capture_area(), area);
  EXPECT_EQ(area[5], 0);
  EXPECT_EQ(area[4090], 0);
}

}  // namespace
