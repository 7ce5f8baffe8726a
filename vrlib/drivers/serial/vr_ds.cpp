// DynaSight driver: the optical head tracker on port A. It streams 8-byte position records that
// the capture driver collects; no command is ever sent to it.
#include "vr.h"
#include "vr_platform.h"
#include "vr_lt_internal.h"
#include "vr_serial_decode.h"

#include <cstdio>
#include <cstdlib>

namespace {

using vr::capture::RingView;

// The DynaSight module's own mapping of the capture area (the first device name only, rings not
// cleared); never unmapped.
unsigned char *ztty = nullptr;

constexpr const char *glasses_name = "Crystal Eyes(tm)";
constexpr double cm_per_ds_unit = 0.005;
constexpr unsigned line_settle_s = 1;
constexpr int settle_map_us = 100000;
constexpr int stream_module_limit = 64;
constexpr int module_name_bytes = 64;

// The Logitech line settings: 19200 baud, 8N1, local, receiver on, no hang-up, raw, min 0,
// timeout 1.
constexpr vr_line_settings ds_line = {19200, 8, 0, 1, 1, 1, 0, 1, 0, 1};

bool map_serial() {
  if (ztty) return true;
  static constexpr int capture_devices[] = {VR_DEVICE_CAPTURE};
  ztty = vr::lt::map_capture_area(capture_devices, 1, false);
  return ztty != nullptr;
}

RingView ring(const vr_lt_unit *unit) {
  return RingView(ztty, unit->port);
}

bool record_start(const RingView &r, int p) {
  return (r[p] & 0xF0) == 0x80 && (r[p + 1] & 0xF0) == 0x80;
}

// The first n bytes of a record: as many of its two sync bytes as have come.
bool record_prefix(const RingView &r, int p, int n) {
  return (r[p] & 0xF0) == 0x80 && (n < 2 || (r[p + 1] & 0xF0) == 0x80);
}

int be16(const unsigned char *b) {
  return static_cast<short>((b[0] << 8) | b[1]);
}

// Gives up a set-up that has opened the line: the line is closed and the record freed, so that
// nothing half-made stays behind.
int abandon_set_up() {
  vr_ds_port_close(vr_ds_glasses_unit);
  std::free(vr_ds_glasses_unit);
  vr_ds_glasses_unit = nullptr;
  return 0;
}

bool pop_stream_modules(int fd) {
  char name[module_name_bytes];
  for (int popped = 0; vr::os::line_top_module(fd, name, sizeof name); ++popped) {
    name[sizeof name - 1] = '\0';
    if (popped >= stream_module_limit || vr::os::line_pop_module(fd) != 0) {
      std::snprintf(vr_ds_message, sizeof vr_ds_message, "Error in popping stream module %s", name);
      return false;
    }
  }
  return true;
}

}  // namespace

namespace vr::ds {

const unsigned char *capture_area() {
  return ztty;
}
void forget_capture_area() {
  ztty = nullptr;
}

}  // namespace vr::ds

namespace vr::decode {

int newest_dynasight_record_at(const RingView &r, int write_offset) {
  return newest_record_start(r, write_offset, dynasight_bytes, record_start);
}

int partial_dynasight_record_bytes(const RingView &r, int from, int write_offset) {
  return partial_record_bytes(r, from, write_offset, dynasight_bytes, record_prefix);
}

bool newest_dynasight_record(const RingView &r, int write_offset,
                             unsigned char out[dynasight_bytes]) {
  int p = newest_dynasight_record_at(r, write_offset);
  if (p < 0) return false;
  r.copy(p, dynasight_bytes, out);
  return true;
}

void dynasight_to_6d(const unsigned char record[dynasight_bytes], vr_lt_6d *out) {
  out->x = be16(record + 2) * cm_per_ds_unit;
  out->y = be16(record + 4) * cm_per_ds_unit;
  out->z = be16(record + 6) * cm_per_ds_unit;
  out->roll = 0.0;
  out->pitch = 0.0;
  out->yaw = 0.0;
  out->buttons = 0;
}

}  // namespace vr::decode

extern "C" {

VR_API vr_lt_unit *vr_ds_glasses_unit = nullptr;

VR_API vr_lt_unit *vr_ds_device_create(const char *name) {
  auto *unit = static_cast<vr_lt_unit *>(std::calloc(1, sizeof(vr_lt_unit)));
  if (unit) unit->device_name = name;
  return unit;
}

VR_API void vr_ds_remove_glasses(vr_ctx *ctx) {
  if (!vr_ds_glasses_unit) return;
  vr_ds_port_close(vr_ds_glasses_unit);
  if (ctx)
    vr_object_set(ctx, VR_GLASSES_EVENT_FN, static_cast<vr_fn>(nullptr), VR_GLASSES_REMOVE_FN,
                  static_cast<vr_fn>(nullptr), 0);
  std::free(vr_ds_glasses_unit);
  vr_ds_glasses_unit = nullptr;
}

VR_API int vr_ds_port_open(void) {
  // A unit still in use from an earlier set-up would otherwise be lost with its open line.
  if (vr_ds_glasses_unit) abandon_set_up();
  vr_ds_glasses_unit = vr_ds_device_create(glasses_name);
  if (!vr_ds_glasses_unit) return 0;

  const char *path = vr_device_path(VR_DEVICE_TTYA);
  int fd = vr::os::line_open(path);
  if (fd <= 0) {
    std::fprintf(stderr, "Couldn't open %s for reading DynaSight\n", path);
    return abandon_set_up();
  }
  vr_ds_glasses_unit->fd = fd;
  vr_ds_glasses_unit->port = 0;

  int error = vr::os::line_set(fd, &ds_line);
  if (error != 0) {
    std::snprintf(vr_ds_message, sizeof vr_ds_message,
                  "Could not set port parameters for \"%s\" (%d)", path, error);
    return abandon_set_up();
  }
  vr::os::sleep_seconds(line_settle_s);
  if (!pop_stream_modules(fd)) return abandon_set_up();
  if (vr::os::line_nodelay(fd) != 0)
    std::snprintf(vr_ds_message, sizeof vr_ds_message, "Error in fcntl serial ports");

  if (!ztty) {
    vr_usleep(settle_map_us);
    // Without the capture area no record can be read: give up the set-up, not the process.
    if (!map_serial()) return abandon_set_up();
    vr_usleep(settle_map_us);
  }
  return 1;
}

VR_API void vr_ds_port_close(vr_lt_unit *unit) {
  if (!unit || unit->fd == 0) return;
  vr::os::line_close(unit->fd);
  unit->fd = 0;
}

VR_API int vr_ds_obtain_current_event(vr_lt_unit *unit) {
  if (!unit) return 0;
  RingView r = ring(unit);
  return vr::decode::newest_dynasight_record(r, r.write_offset(), unit->record) ? 1 : 0;
}

VR_API int vr_ds_get_6d(vr_lt_unit *unit, vr_lt_6d *out) {
  if (!unit || !out || !vr_ds_obtain_current_event(unit)) return 0;
  vr::decode::dynasight_to_6d(unit->record, out);
  return 1;
}

VR_API int vr_ds_obtain_current_offset(vr_lt_unit *unit) {
  if (!unit) return -1;
  return ring(unit).write_offset();
}

VR_API void print_vr_ds_i_event(const vr_lt_event *event) {
  if (!event) return;
  std::fprintf(stderr, "\nxyz %6.3f %6.3f %6.3f  pyr %6.2f %6.2f %6.2f  ", event->x / 1000.0,
               event->y / 1000.0, event->z / 1000.0, event->pitch / 40.0, event->yaw / 40.0,
               event->roll / 40.0);
  std::fflush(stderr);
}

}  // extern "C"
