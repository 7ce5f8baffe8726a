// Mapping the capture area: the POSIX mapping of a device (a regular file standing in for it) at
// its offset, and the driver's mapping routine trying each device name in turn.
#include <gtest/gtest.h>

#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "vr_capture.h"
#include "vr_lt_internal.h"
#include "vr_platform.h"
#include "vrsim/vrsim.h"

namespace {

namespace cap = vr::capture;
using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

constexpr off_t map_offset = 65536;
const char *const kel_message = "Open of kel failed, is driver installed?\n";

// A file laid out like the capture device: 64 KiB of something else, then the area, every byte
// of which holds its index modulo 251.
class CaptureFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/vr_capture_XXXXXX";
    int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    path = name;
    std::vector<unsigned char> bytes(map_offset + cap::area_bytes, 0xEE);
    for (int i = 0; i < cap::area_bytes; ++i)
      bytes[map_offset + i] = static_cast<unsigned char>(i % 251);
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fd);
  }
  void TearDown() override {
    unlink(path.c_str());
    for (int which : {VR_DEVICE_CAPTURE, VR_DEVICE_CAPTURE_ALT}) vr_set_device_path(which, nullptr);
  }

  unsigned char file_byte(off_t at) {
    int fd = open(path.c_str(), O_RDONLY);
    unsigned char b = 0;
    EXPECT_EQ(pread(fd, &b, 1, at), 1);
    close(fd);
    return b;
  }

  static int open_descriptors() {
    int n = 0;
    DIR *d = opendir("/proc/self/fd");
    while (d && readdir(d)) ++n;
    if (d) closedir(d);
    return n;
  }

  std::string path;
};

TEST_F(CaptureFile, PosixMapsTheAreaAtItsOffsetShared) {
  const vr_platform &p = *vr_platform_default();
  int fd = p.capture_open(nullptr, path.c_str());
  ASSERT_GE(fd, 0);
  unsigned char *area = p.capture_map(nullptr, fd);
  ASSERT_NE(area, nullptr);
  for (int i : {0, 1, 2043, 2044, 4087, 4088, 4095}) EXPECT_EQ(area[i], i % 251) << i;
  area[100] = 0xA5;  // the device sees what the library writes
  ASSERT_EQ(msync(area, cap::area_bytes, MS_SYNC), 0);
  EXPECT_EQ(file_byte(map_offset + 100), 0xA5);
  munmap(area, cap::area_bytes);
  close(fd);
  EXPECT_EQ(p.capture_open(nullptr, "/nonexistent/kel"), -1);
}

TEST_F(CaptureFile, PosixRefusesAnAreaThatIsNotThere) {
  const vr_platform &p = *vr_platform_default();
  ASSERT_EQ(truncate(path.c_str(), map_offset + cap::area_bytes - 1), 0);
  int fd = p.capture_open(nullptr, path.c_str());
  ASSERT_GE(fd, 0);
  EXPECT_EQ(p.capture_map(nullptr, fd), nullptr);  // one byte short: no mapping, no crash
  close(fd);
  fd = p.capture_open(nullptr, "/dev/null");  // opens, but cannot be mapped
  ASSERT_GE(fd, 0);
  EXPECT_EQ(p.capture_map(nullptr, fd), nullptr);
  close(fd);
}

TEST_F(CaptureFile, LogitechMappingClearsBothRingsButNotTheOffsets) {
  ASSERT_EQ(vr_set_device_path(VR_DEVICE_CAPTURE, path.c_str()), 1);
  const int devices[] = {VR_DEVICE_CAPTURE, VR_DEVICE_CAPTURE_ALT};
  unsigned char *area = vr::lt::map_capture_area(devices, 2, true);
  ASSERT_NE(area, nullptr);
  for (int i = 0; i < cap::write_offset_byte[0]; ++i) ASSERT_EQ(area[i], 0) << i;
  for (int i = cap::write_offset_byte[0]; i < cap::area_bytes; ++i) EXPECT_EQ(area[i], i % 251);
  msync(area, cap::area_bytes, MS_SYNC);
  EXPECT_EQ(file_byte(map_offset + 5), 0);
  EXPECT_EQ(file_byte(map_offset + 4090), 4090 % 251);
}

TEST_F(CaptureFile, TheSecondNameServesWhenTheFirstIsMissingAndRingsMayStay) {
  ASSERT_EQ(vr_set_device_path(VR_DEVICE_CAPTURE, "/nonexistent/kel"), 1);
  ASSERT_EQ(vr_set_device_path(VR_DEVICE_CAPTURE_ALT, path.c_str()), 1);
  const int devices[] = {VR_DEVICE_CAPTURE, VR_DEVICE_CAPTURE_ALT};
  unsigned char *area = vr::lt::map_capture_area(devices, 2, false);
  ASSERT_NE(area, nullptr);
  EXPECT_EQ(area[5], 5);  // not cleared
  // The DynaSight driver knows only the first name.
  CaptureStderr();
  EXPECT_EQ(vr::lt::map_capture_area(devices, 1, false), nullptr);
  EXPECT_EQ(GetCapturedStderr(), kel_message);
}

TEST_F(CaptureFile, FailuresPrintTheMessageAndReturnNullWithoutLeaks) {
  const int devices[] = {VR_DEVICE_CAPTURE, VR_DEVICE_CAPTURE_ALT};
  ASSERT_EQ(vr_set_device_path(VR_DEVICE_CAPTURE, "/nonexistent/kel"), 1);
  ASSERT_EQ(vr_set_device_path(VR_DEVICE_CAPTURE_ALT, "/nonexistent/kel@0"), 1);
  CaptureStderr();
  EXPECT_EQ(vr::lt::map_capture_area(devices, 2, true), nullptr);
  EXPECT_EQ(GetCapturedStderr(), kel_message);

  // A device that opens but does not map is closed again.
  ASSERT_EQ(vr_set_device_path(VR_DEVICE_CAPTURE, "/dev/null"), 1);
  int before = open_descriptors();
  CaptureStderr();
  EXPECT_EQ(vr::lt::map_capture_area(devices, 2, true), nullptr);
  EXPECT_EQ(GetCapturedStderr(), kel_message);
  EXPECT_EQ(open_descriptors(), before);

  CaptureStderr();
  EXPECT_EQ(vr::lt::map_capture_area(nullptr, 2, true), nullptr);
  EXPECT_EQ(vr::lt::map_capture_area(devices, 0, true), nullptr);
  EXPECT_EQ(GetCapturedStderr(), std::string(kel_message) + kel_message);
}

// Whoever may write the area can write fake records that the drivers decode as poses: an area
// that other users may write is refused with the usual message, and nothing in it is touched (the
// Logitech mapping would otherwise clear its rings), unless VRLIB_CAPTURE_UNSAFE=1 asks for it.
// Group write is how vrcapd --group shares the area, so that one maps.
TEST_F(CaptureFile, AnAreaOthersMayWriteIsRefusedUnlessAllowedAsUnsafe) {
  const int devices[] = {VR_DEVICE_CAPTURE};
  ASSERT_EQ(vr_set_device_path(VR_DEVICE_CAPTURE, path.c_str()), 1);
  unsetenv("VRLIB_CAPTURE_UNSAFE");
  for (mode_t mode : {0666, 0602, 0622}) {
    ASSERT_EQ(chmod(path.c_str(), mode), 0);
    int before = open_descriptors();
    CaptureStderr();
    EXPECT_EQ(vr::lt::map_capture_area(devices, 1, true), nullptr) << std::oct << mode;
    EXPECT_EQ(GetCapturedStderr(), kel_message);
    EXPECT_EQ(open_descriptors(), before);
    EXPECT_EQ(file_byte(map_offset + 5), 5) << "rings left as they were";
  }
  for (const char *not_one : {"0", "yes", ""}) {
    setenv("VRLIB_CAPTURE_UNSAFE", not_one, 1);
    CaptureStderr();
    EXPECT_EQ(vr::lt::map_capture_area(devices, 1, true), nullptr) << not_one;
    EXPECT_EQ(GetCapturedStderr(), kel_message);
  }
  setenv("VRLIB_CAPTURE_UNSAFE", "1", 1);
  unsigned char *area = vr::lt::map_capture_area(devices, 1, false);
  unsetenv("VRLIB_CAPTURE_UNSAFE");
  ASSERT_NE(area, nullptr);
  EXPECT_EQ(area[5], 5);
  munmap(area, cap::area_bytes);
  for (mode_t mode : {0660, 0664, 0600}) {
    ASSERT_EQ(chmod(path.c_str(), mode), 0);
    area = vr::lt::map_capture_area(devices, 1, false);
    EXPECT_NE(area, nullptr) << std::oct << mode;
    if (area) munmap(area, cap::area_bytes);
  }
}

// A symbolic link planted at the capture path is not followed: the Logitech mapping clears the
// rings, which would write zeros into whatever file the link names.
TEST_F(CaptureFile, ASymbolicLinkAtTheCapturePathIsNotFollowed) {
  const std::string link = path + ".link";
  ASSERT_EQ(symlink(path.c_str(), link.c_str()), 0);
  const vr_platform &p = *vr_platform_default();
  EXPECT_EQ(p.capture_open(nullptr, link.c_str()), -1);
  ASSERT_EQ(vr_set_device_path(VR_DEVICE_CAPTURE, link.c_str()), 1);
  const int devices[] = {VR_DEVICE_CAPTURE};
  CaptureStderr();
  EXPECT_EQ(vr::lt::map_capture_area(devices, 1, true), nullptr);
  EXPECT_EQ(GetCapturedStderr(), kel_message);
  EXPECT_EQ(file_byte(map_offset + 5), 5);
  unlink(link.c_str());
}

TEST(CaptureOnSimulator, EachNameInTurnAndTheFailedDeviceClosed) {
  vrsim *sim = vrsim_create(1);
  vrsim_install(sim);
  const int devices[] = {VR_DEVICE_CAPTURE, VR_DEVICE_CAPTURE_ALT};
  vrsim_set_capture_fault(sim, VRSIM_CAPTURE_PRIMARY_MISSING);
  unsigned char *area = vr::lt::map_capture_area(devices, 2, true);
  EXPECT_EQ(area, vrsim_capture_area());
  ASSERT_EQ(vrsim_event_count(sim), 3);
  EXPECT_STREQ(vrsim_event_at(sim, 0)->text, "/devices/pseudo/kel:kel");
  EXPECT_EQ(vrsim_event_at(sim, 0)->result, -1);
  EXPECT_STREQ(vrsim_event_at(sim, 1)->text, "/devices/pseudo/kel@0:kel");
  EXPECT_EQ(vrsim_event_at(sim, 2)->kind, VRSIM_EV_CAPTURE_MAP);

  vrsim_events_clear(sim);
  vrsim_set_capture_fault(sim, VRSIM_CAPTURE_UNMAPPABLE);
  CaptureStderr();
  EXPECT_EQ(vr::lt::map_capture_area(devices, 2, true), nullptr);
  EXPECT_EQ(GetCapturedStderr(), kel_message);
  ASSERT_EQ(vrsim_event_count(sim), 3);
  EXPECT_EQ(vrsim_event_at(sim, 2)->kind, VRSIM_EV_CLOSE);
  EXPECT_EQ(vrsim_event_at(sim, 2)->fd, vrsim_event_at(sim, 0)->result);
  EXPECT_EQ(vrsim_event_at(sim, 2)->err, 0);
  vrsim_destroy(sim);
}

}  // namespace
