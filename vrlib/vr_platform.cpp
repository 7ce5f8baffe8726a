// The installed platform table and the device paths.
#include "vr_platform.h"

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
  if (path[0] == '\0' || std::strlen(path) >= device_path_bytes) return 0;
  std::memcpy(device_path[which], path, std::strlen(path) + 1);
  return 1;
}

VR_API const char *vr_device_path(int which) {
  if (which < 0 || which >= device_count) return nullptr;
  return device_path[which][0] ? device_path[which] : default_device_path[which];
}

}  // extern "C"
