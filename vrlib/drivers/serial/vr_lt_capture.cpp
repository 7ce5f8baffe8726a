// Mapping the capture area that the serial capture driver fills.
#include <cstdio>
#include <cstring>

#include "vr_lt_internal.h"
#include "vr_platform.h"

namespace vr::lt {

unsigned char *map_capture_area(const int *device_ids, int device_count, bool clear_rings) {
  int fd = -1;
  for (int i = 0; device_ids != nullptr && i < device_count && fd < 0; ++i) {
    const char *path = vr_device_path(device_ids[i]);
    if (path != nullptr) fd = os::capture_open(path);
  }
  unsigned char *area = fd >= 0 ? os::capture_map(fd) : nullptr;
  if (area == nullptr) {
    // A library must not end its host: the port set-up that asked fails instead. A device that
    // opened but would not map is of no use; the line-closing entry closes any descriptor.
    if (fd >= 0) os::line_close(fd);
    std::fputs("Open of kel failed, is driver installed?\n", stderr);
    return nullptr;
  }
  // The device stays open for as long as the mapping lives: the rest of the process.
  if (clear_rings) std::memset(area, 0, static_cast<size_t>(capture::write_offset_byte[0]));
  return area;
}

}  // namespace vr::lt
