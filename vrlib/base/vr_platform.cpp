// The installed platform table and the device paths.
#include "vr_platform.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int device_count = 4;
constexpr int device_path_bytes = 256;

constexpr const char *default_device_path[device_count] = {
    "/dev/ttya",
    "/dev/ttyb",
    "/devices/pseudo/kel:kel",
    "/devices/pseudo/kel@0:kel",
};

// Zero-initialised, so that the table is usable from any other module's static initialisation:
// until a platform is installed the default one answers.
vr_platform installed;
bool custom_installed;
char device_path[device_count][device_path_bytes];
char file_device_path[device_count][device_path_bytes];

bool valid_path(const char *path) {
  return path[0] != '\0' && std::strlen(path) < device_path_bytes;
}

// Paths taken from the environment once, at the first look-up of any path, so that a program
// written for the built-in names runs on other device names without a change. Empty or
// over-long values are ignored (with one line saying so) rather than cut short.
struct EnvironmentPaths {
  char path[device_count][device_path_bytes] = {};
};

void take_environment(EnvironmentPaths &env, int which, const char *variable) {
  const char *value = std::getenv(variable);
  if (value == nullptr || value[0] == '\0') return;
  if (std::strlen(value) >= device_path_bytes) {
    std::fprintf(stderr, "vrlib: %s ignored: longer than %d bytes\n", variable,
                 device_path_bytes - 1);
    return;
  }
  std::memcpy(env.path[which], value, std::strlen(value) + 1);
}

const EnvironmentPaths &environment_paths() {
  static const EnvironmentPaths env = [] {
    EnvironmentPaths e;
    take_environment(e, VR_DEVICE_TTYA, "VRLIB_TTYA");
    take_environment(e, VR_DEVICE_TTYB, "VRLIB_TTYB");
    // One capture file serves every driver: the Logitech driver's two names and the DynaSight's.
    take_environment(e, VR_DEVICE_CAPTURE, "VRLIB_CAPTURE");
    std::memcpy(e.path[VR_DEVICE_CAPTURE_ALT], e.path[VR_DEVICE_CAPTURE], device_path_bytes);
    return e;
  }();
  return env;
}

bool complete(const vr_platform &p) {
  return p.hrtime && p.hrvtime && p.sleep_seconds && p.line_open && p.line_write && p.line_close &&
         p.line_get && p.line_set && p.line_modem && p.line_flush && p.line_nodelay &&
         p.line_top_module && p.line_pop_module && p.capture_open && p.capture_map && p.udp_open &&
         p.udp_receive && p.udp_send && p.udp_close;
}

}  // namespace

namespace vr::os {
const vr_platform &table() {
  return custom_installed ? installed : posix_platform();
}

int set_file_device_path(int which, const char *path) {
  if (which < 0 || which >= device_count) return 0;
  if (path == nullptr) {
    file_device_path[which][0] = '\0';
    return 1;
  }
  if (!valid_path(path)) return 0;
  std::memcpy(file_device_path[which], path, std::strlen(path) + 1);
  return 1;
}

const char *device_path_for_file(int which) {
  if (which < 0 || which >= device_count) return nullptr;
  if (device_path[which][0]) return device_path[which];
  if (file_device_path[which][0]) return file_device_path[which];
  return default_device_path[which];
}
}  // namespace vr::os

extern "C" {

VR_API void vr_platform_install(const vr_platform *platform) {
  // A table with a missing entry would crash the first driver call that needs it; keep the
  // default for such a table rather than installing half a platform.
  custom_installed = platform != nullptr && complete(*platform);
  if (custom_installed) installed = *platform;
}

VR_API const vr_platform *vr_platform_current(void) {
  return &vr::os::table();
}

VR_API const vr_platform *vr_platform_default(void) {
  return &vr::os::posix_platform();
}

VR_API int vr_set_device_path(int which, const char *path) {
  if (which < 0 || which >= device_count) return 0;
  if (path == nullptr) {
    device_path[which][0] = '\0';
    return 1;
  }
  if (!valid_path(path)) return 0;
  std::memcpy(device_path[which], path, std::strlen(path) + 1);
  return 1;
}

VR_API const char *vr_device_path(int which) {
  if (which < 0 || which >= device_count) return nullptr;
  // A path set by a call wins over the environment (the launcher's choice for this run, e.g. the
  // capture daemon's lines), which wins over a set-up file's, which wins over the built-in name.
  if (device_path[which][0]) return device_path[which];
  const char *from_env = environment_paths().path[which];
  if (from_env[0]) return from_env;
  return file_device_path[which][0] ? file_device_path[which] : default_device_path[which];
}

}  // extern "C"
