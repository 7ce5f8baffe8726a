// The default Linux/POSIX platform on a pseudo-terminal pair, the device paths and the
// installation of another platform table.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "vr_platform.h"

namespace {

const vr_platform &posix() {
  return *vr_platform_default();
}

constexpr vr_line_settings logitech_line = {19200, 8, 0, 1, 1, 1, 0, 1, 0, 1};

// A pseudo-terminal: the master side stands for the device, the slave side for the serial line.
class Pty : public ::testing::Test {
 protected:
  void SetUp() override {
    master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    path = ptsname(master);
    line = posix().line_open(nullptr, path.c_str());
    ASSERT_GT(line, 0);
  }
  void TearDown() override {
    if (line > 0) posix().line_close(nullptr, line);
    close(master);
  }

  // Reads what reached the master side (waiting briefly for it).
  std::string from_line(int want) {
    std::string got;
    for (int tries = 0; tries < 100 && static_cast<int>(got.size()) < want; ++tries) {
      char buf[64];
      fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
      ssize_t n = read(master, buf, sizeof buf);
      if (n > 0)
        got.append(buf, static_cast<size_t>(n));
      else
        usleep(1000);
    }
    return got;
  }

  int master = -1;
  int line = -1;
  std::string path;
};

TEST_F(Pty, OpenGivesABlockingDescriptorAboveZero) {
  int flags = fcntl(line, F_GETFL);
  ASSERT_GE(flags, 0);
  EXPECT_EQ(flags & O_NONBLOCK, 0);
  EXPECT_EQ(flags & O_ACCMODE, O_RDWR);
  EXPECT_EQ(posix().line_open(nullptr, "/nonexistent/tty"), -1);
}

TEST_F(Pty, LogitechSettingsAreAppliedAndReadBack) {
  ASSERT_EQ(posix().line_set(nullptr, line, &logitech_line), 0);
  termios t{};
  ASSERT_EQ(tcgetattr(line, &t), 0);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B19200));
  EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B19200));
  EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB | CLOCAL | CREAD | HUPCL | CRTSCTS),
            static_cast<tcflag_t>(CS8 | CLOCAL | CREAD));
  EXPECT_EQ(t.c_iflag, 0u);
  EXPECT_EQ(t.c_oflag, 0u);
  EXPECT_EQ(t.c_lflag, 0u);
  EXPECT_EQ(t.c_cc[VMIN], 0);
  EXPECT_EQ(t.c_cc[VTIME], 1);
  vr_line_settings got{};
  ASSERT_EQ(posix().line_get(nullptr, line, &got), 0);
  EXPECT_EQ(std::memcmp(&got, &logitech_line, sizeof got), 0);
}

// Whether the line really takes a character size (Linux pseudo-terminals force 8 bits).
bool holds_seven_bits(int fd) {
  termios t{};
  tcgetattr(fd, &t);
  termios want = t;
  want.c_cflag = (want.c_cflag & ~CSIZE) | CS7;
  tcsetattr(fd, TCSANOW, &want);
  termios now{};
  tcgetattr(fd, &now);
  tcsetattr(fd, TCSANOW, &t);
  return (now.c_cflag & CSIZE) == CS7;
}

TEST_F(Pty, CyberManStagesKeepTheLineProcessingAndDropLocal) {
  // The stages start from the line's current settings, processing flags included.
  termios before{};
  ASSERT_EQ(tcgetattr(line, &before), 0);
  before.c_iflag = ICRNL;
  ASSERT_EQ(tcsetattr(line, TCSANOW, &before), 0);
  vr_line_settings s{};
  ASSERT_EQ(posix().line_get(nullptr, line, &s), 0);
  EXPECT_EQ(s.raw, 0);
  s.baud = 1200;
  s.data_bits = 7;
  s.parity = 0;
  s.stop_bits = 1;
  s.local = 0;
  s.read_enable = 1;
  s.hangup_on_close = 0;
  s.min_read = 0;
  s.read_timeout = 1;
  termios t{};
  if (holds_seven_bits(line)) {
    ASSERT_EQ(posix().line_set(nullptr, line, &s), 0);
    ASSERT_EQ(tcgetattr(line, &t), 0);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B1200));
    EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CLOCAL | CREAD | HUPCL),
              static_cast<tcflag_t>(CS7 | CREAD));
    EXPECT_EQ(t.c_iflag, static_cast<tcflag_t>(ICRNL));
  } else {
    // A line that keeps 8 bits would garble the CyberMan's start-up: that is a failure to set
    // the parameters, not a success.
    EXPECT_EQ(posix().line_set(nullptr, line, &s), EINVAL);
  }
  s.baud = 4800;
  s.data_bits = 8;
  ASSERT_EQ(posix().line_set(nullptr, line, &s), 0);
  ASSERT_EQ(tcgetattr(line, &t), 0);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B4800));
  EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CLOCAL | CREAD | HUPCL),
            static_cast<tcflag_t>(CS8 | CREAD));
  EXPECT_EQ(t.c_iflag, static_cast<tcflag_t>(ICRNL));
  EXPECT_EQ(t.c_cc[VMIN], 0);
  EXPECT_EQ(t.c_cc[VTIME], 1);
  vr_line_settings got{};
  ASSERT_EQ(posix().line_get(nullptr, line, &got), 0);
  EXPECT_EQ(got.baud, 4800);
  EXPECT_EQ(got.data_bits, 8);
  EXPECT_EQ(got.local, 0);
  EXPECT_EQ(got.raw, 0);
}

TEST_F(Pty, ImpossibleSettingsAndBadDescriptorsReportErrors) {
  vr_line_settings odd = logitech_line;
  odd.baud = 12345;
  EXPECT_EQ(posix().line_set(nullptr, line, &odd), EINVAL);
  odd = logitech_line;
  odd.data_bits = 9;
  EXPECT_EQ(posix().line_set(nullptr, line, &odd), EINVAL);
  vr_line_settings s{};
  EXPECT_EQ(posix().line_get(nullptr, 9999, &s), EBADF);
  EXPECT_EQ(posix().line_set(nullptr, 9999, &logitech_line), EBADF);
  EXPECT_EQ(posix().line_flush(nullptr, 9999), EBADF);
  EXPECT_EQ(posix().line_nodelay(nullptr, 9999), EBADF);
  EXPECT_EQ(posix().line_write(nullptr, 9999, "x", 1), -1);
}

TEST_F(Pty, ModemLinesSucceedOrReportTheSystemError) {
  // A pseudo-terminal may have no modem lines; the error must then come back, not success.
  int bits = TIOCM_DTR | TIOCM_RTS;
  int expected = ioctl(line, TIOCMBIS, &bits) == 0 ? 0 : errno;
  EXPECT_EQ(posix().line_modem(nullptr, line, VR_MODEM_DTR | VR_MODEM_RTS, 1), expected);
  bits = TIOCM_RTS;
  expected = ioctl(line, TIOCMBIC, &bits) == 0 ? 0 : errno;
  EXPECT_EQ(posix().line_modem(nullptr, line, VR_MODEM_RTS, 0), expected);
  EXPECT_NE(posix().line_modem(nullptr, 9999, VR_MODEM_RTS, 1), 0);
}

TEST_F(Pty, WritesArriveAndFlushDiscardsQueuedInput) {
  ASSERT_EQ(posix().line_set(nullptr, line, &logitech_line), 0);
  const unsigned char tactile[] = {'!', 'T', 1, 1, 7};
  EXPECT_EQ(posix().line_write(nullptr, line, tactile, 5), 5);
  EXPECT_EQ(from_line(5), std::string(reinterpret_cast<const char *>(tactile), 5));
  EXPECT_EQ(posix().line_write(nullptr, line, tactile, 0), 0);

  // Bytes the device sent but nobody read are gone after the flush.
  ASSERT_EQ(write(master, "stale", 5), 5);
  usleep(20000);
  EXPECT_EQ(posix().line_flush(nullptr, line), 0);
  ASSERT_EQ(posix().line_nodelay(nullptr, line), 0);
  char buf[8];
  EXPECT_EQ(read(line, buf, sizeof buf), -1);
  EXPECT_EQ(errno, EAGAIN);
}

TEST_F(Pty, NoDelayFlagAndNoStreamModules) {
  ASSERT_EQ(posix().line_nodelay(nullptr, line), 0);
  EXPECT_NE(fcntl(line, F_GETFL) & O_NONBLOCK, 0);
  char name[16] = "junk";
  EXPECT_EQ(posix().line_top_module(nullptr, line, name, sizeof name), 0);
  EXPECT_STREQ(name, "");
  EXPECT_NE(posix().line_pop_module(nullptr, line), 0);
}

TEST(PosixClocks, RealAndProcessorTimeAdvance) {
  long long r0 = posix().hrtime(nullptr), v0 = posix().hrvtime(nullptr);
  volatile double x = 0;
  for (int i = 0; i < 2000000; ++i) x = x + 1.0;
  EXPECT_GT(posix().hrtime(nullptr), r0);
  EXPECT_GT(posix().hrvtime(nullptr), v0);
  long long s0 = posix().hrtime(nullptr);
  posix().sleep_seconds(nullptr, 0);
  EXPECT_LT(posix().hrtime(nullptr) - s0, 500000000LL);
}

TEST(DevicePaths, DefaultsChangesAndBadArguments) {
  EXPECT_STREQ(vr_device_path(VR_DEVICE_TTYA), "/dev/ttya");
  EXPECT_STREQ(vr_device_path(VR_DEVICE_TTYB), "/dev/ttyb");
  EXPECT_STREQ(vr_device_path(VR_DEVICE_CAPTURE), "/devices/pseudo/kel:kel");
  EXPECT_STREQ(vr_device_path(VR_DEVICE_CAPTURE_ALT), "/devices/pseudo/kel@0:kel");
  EXPECT_EQ(vr_device_path(-1), nullptr);
  EXPECT_EQ(vr_device_path(4), nullptr);

  EXPECT_EQ(vr_set_device_path(VR_DEVICE_TTYB, "/dev/ttyUSB0"), 1);
  EXPECT_STREQ(vr_device_path(VR_DEVICE_TTYB), "/dev/ttyUSB0");
  std::string longest(255, 'x'), too_long(256, 'y');
  EXPECT_EQ(vr_set_device_path(VR_DEVICE_TTYB, longest.c_str()), 1);
  EXPECT_EQ(vr_device_path(VR_DEVICE_TTYB), longest);
  EXPECT_EQ(vr_set_device_path(VR_DEVICE_TTYB, too_long.c_str()), 0);
  EXPECT_EQ(vr_set_device_path(VR_DEVICE_TTYB, ""), 0);
  EXPECT_EQ(vr_device_path(VR_DEVICE_TTYB), longest);  // unchanged by the refusals
  EXPECT_EQ(vr_set_device_path(4, "/dev/x"), 0);
  EXPECT_EQ(vr_set_device_path(VR_DEVICE_TTYB, nullptr), 1);
  EXPECT_STREQ(vr_device_path(VR_DEVICE_TTYB), "/dev/ttyb");
  EXPECT_STREQ(vr_device_path(VR_DEVICE_TTYA), "/dev/ttya");
}

struct Calls {
  int hrtime = 0;
  int sleeps = 0;
};

long long fake_hrtime(void *user) {
  ++static_cast<Calls *>(user)->hrtime;
  return 42;
}
void fake_sleep(void *user, unsigned) {
  ++static_cast<Calls *>(user)->sleeps;
}

TEST(PlatformInstall, ACompleteTableIsCopiedAndNullRestoresTheDefault) {
  ASSERT_EQ(vr_platform_current()->hrtime, posix().hrtime);
  Calls calls;
  vr_platform fake = posix();
  fake.user = &calls;
  fake.hrtime = fake_hrtime;
  fake.sleep_seconds = fake_sleep;
  vr_platform_install(&fake);
  fake.hrtime = nullptr;  // the library holds its own copy
  EXPECT_EQ(vr::os::hrtime(), 42);
  vr::os::sleep_seconds(3);
  EXPECT_EQ(calls.hrtime, 1);
  EXPECT_EQ(calls.sleeps, 1);
  EXPECT_EQ(vr_platform_current()->user, &calls);

  // A table with a hole is refused: the default takes over rather than half a platform.
  vr_platform_install(&fake);
  EXPECT_EQ(vr_platform_current()->hrtime, posix().hrtime);
  EXPECT_NE(vr::os::hrtime(), 42);

  fake.hrtime = fake_hrtime;
  vr_platform_install(&fake);
  EXPECT_EQ(vr::os::hrtime(), 42);
  vr_platform_install(nullptr);
  EXPECT_EQ(vr_platform_current()->hrtime, posix().hrtime);
  EXPECT_EQ(vr_platform_current(), vr_platform_default());
}

}  // namespace
