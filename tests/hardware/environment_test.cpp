// Device paths from the environment: read once at the first look-up, a call still wins, and
// VRLIB_CAPTURE serves both capture names. Each case runs in a fresh child process, since the
// environment is taken only once per process.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "vrlib/vr.h"

namespace {

// Runs body in a child with the given environment changes; the child's failures come back as
// its exit status (the number of the first failed check).
template <typename Body>
int in_child(const std::vector<std::pair<const char *, const char *>> &env, Body body) {
  pid_t pid = fork();
  if (pid == 0) {
    for (const auto &[name, value] : env) {
      if (value)
        setenv(name, value, 1);
      else
        unsetenv(name);
    }
    _exit(body());
  }
  int ws = 0;
  waitpid(pid, &ws, 0);
  return WIFEXITED(ws) ? WEXITSTATUS(ws) : 100;
}

bool same(const char *a, const char *b) {
  return a && b && std::strcmp(a, b) == 0;
}

TEST(DevicePathEnvironment, CallThenEnvironmentThenBuiltIn) {
  EXPECT_EQ(in_child({{"VRLIB_TTYA", "/dev/ttyUSB0"},
                      {"VRLIB_TTYB", nullptr},
                      {"VRLIB_CAPTURE", "/dev/shm/vrlib-capture"}},
                     [] {
                       if (!same(vr_device_path(VR_DEVICE_TTYA), "/dev/ttyUSB0")) return 1;
                       if (!same(vr_device_path(VR_DEVICE_TTYB), "/dev/ttyb")) return 2;
                       if (!same(vr_device_path(VR_DEVICE_CAPTURE), "/dev/shm/vrlib-capture"))
                         return 3;
                       if (!same(vr_device_path(VR_DEVICE_CAPTURE_ALT), "/dev/shm/vrlib-capture"))
                         return 4;
                       // Read once: later changes to the environment do not count.
                       setenv("VRLIB_TTYB", "/dev/ttyUSB1", 1);
                       if (!same(vr_device_path(VR_DEVICE_TTYB), "/dev/ttyb")) return 5;
                       // A call wins; clearing it returns to the environment's path.
                       if (!vr_set_device_path(VR_DEVICE_TTYA, "/dev/vrlib-a")) return 6;
                       if (!same(vr_device_path(VR_DEVICE_TTYA), "/dev/vrlib-a")) return 7;
                       vr_set_device_path(VR_DEVICE_TTYA, nullptr);
                       if (!same(vr_device_path(VR_DEVICE_TTYA), "/dev/ttyUSB0")) return 8;
                       return 0;
                     }),
            0);
}

TEST(DevicePathEnvironment, EmptyOrOverlongValuesLeaveTheBuiltInNames) {
  static const std::string overlong(300, 'x');
  EXPECT_EQ(
      in_child({{"VRLIB_TTYA", ""}, {"VRLIB_TTYB", overlong.c_str()}, {"VRLIB_CAPTURE", nullptr}},
               [] {
                 if (!same(vr_device_path(VR_DEVICE_TTYA), "/dev/ttya")) return 1;
                 if (!same(vr_device_path(VR_DEVICE_TTYB), "/dev/ttyb")) return 2;
                 if (!same(vr_device_path(VR_DEVICE_CAPTURE), "/devices/pseudo/kel:kel")) return 3;
                 if (!same(vr_device_path(VR_DEVICE_CAPTURE_ALT), "/devices/pseudo/kel@0:kel"))
                   return 4;
                 return 0;
               }),
      0);
}

}  // namespace
