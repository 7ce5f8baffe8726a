// Logitech tracker driver: the unit records and their lifecycle, the serial link with every
// command the driver sends, and the decoding of the 6D and operating-information reports that
// the units leave in the capture rings.
#include "vr.h"
#include "vr_lt_internal.h"
#include "vr_platform.h"
#include "vr_serial_decode.h"

#include <cstdio>
#include <initializer_list>
#include <numbers>

namespace {

// The Logitech driver's own mapping of the capture area; null until the first port set-up maps
// it, never unmapped.
unsigned char *ztty = nullptr;

}  // namespace

extern "C" {

VR_API vr_lt_unit unit_6d[2];
VR_API vr_lt_unit *vr_lt_glasses_unit = nullptr;
VR_API vr_lt_unit *vr_lt_mouse_6d_unit = nullptr;
VR_API int temporal_filter_length = 8;
VR_API int cybermen_present = 0;
VR_API int use_demand_reporting = 0;
VR_API double goo57 = 0.0;

// Command strings. Each is sent as the bytes before its first zero byte, except the tactile
// command, which is written with its explicit length. The two parameterised commands are patched
// in place at byte 4 before they are sent.
VR_API unsigned char LT_RESET[3] = {0x2A, 0x52, 0x00};
VR_API unsigned char LT_TACTILE[5] = {0x21, 0x54, 0x01, 0x01, 0x07};
VR_API unsigned char LT_SET_EVENT_FILTER_LENGTH[6] = {0x2A, 0x24, 0x02, 0x07, 0x01, 0x00};
VR_API unsigned char LT_CUR_OP_INFO[3] = {0x2A, 0x6D, 0x00};
VR_API unsigned char LT_SET_SLAVE_XMITER_TYPE[6] = {0x2A, 0x24, 0x02, 0x01, 0x01, 0x00};
VR_API unsigned char LT_RAW_MODE[3] = {0x2A, 0xF2, 0x00};
VR_API unsigned char LT_DEMAND_REPORTING[3] = {0x2A, 0x44, 0x00};
VR_API unsigned char LT_STREAMING[3] = {0x2A, 0x53, 0x00};
VR_API unsigned char LT_DIGITIZE[3] = {0x2A, 0x64, 0x00};
VR_API unsigned char LT_DISABLE_TRANSMITTER_OUTPUT[3] = {0x2A, 0x4F, 0x00};
VR_API unsigned char LT_ENABLE_TRANSMITTER_OUTPUT[3] = {0x2A, 0x41, 0x00};
VR_API unsigned char LT_GO_INTO_6D[3] = {0x2A, 0x3E, 0x00};
VR_API unsigned char LT_HEADTRACK_MODE[3] = {0x2A, 0x48, 0x00};
VR_API unsigned char LT_LEAVE_HEADTRACK_MODE[3] = {0x2A, 0x68, 0x00};
VR_API unsigned char LT_GLOBAL_EULER[3] = {0x2A, 0x47, 0x00};

}  // extern "C"

namespace vr::lt {

const unsigned char *capture_area() {
  return ztty;
}

void forget_capture_area() {
  ztty = nullptr;
}

bool map_serial() {
  if (ztty) return true;
  // Both names under which the capture driver may be installed; a fresh mapping starts with
  // empty rings so that nothing left from an earlier session passes for a report.
  static constexpr int capture_devices[] = {VR_DEVICE_CAPTURE, VR_DEVICE_CAPTURE_ALT};
  ztty = map_capture_area(capture_devices, 2, true);
  return ztty != nullptr;
}

}  // namespace vr::lt

namespace {

using vr::capture::RingView;

constexpr const char *glasses_name = "Crystal Eyes(tm)";
constexpr const char *mouse_name = "Logitech 3D Mouse";

// Settle times around the unit commands, microseconds.
constexpr int settle_cmd_us = 100000;
constexpr int settle_reset_us = 1000000;
constexpr int settle_filter_before_us = 400000;
constexpr int settle_op_info_us = 500000;
constexpr int settle_stop_us = 200000;
constexpr int settle_raw_before_us = 500000;
constexpr int settle_raw_after_us = 200000;
constexpr int settle_map_us = 100000;
constexpr int cyberman_toggle_us = 300000;
// Whole-second pauses after the line set-up and before the CyberMan's tactile command.
constexpr unsigned line_settle_s = 1;
constexpr unsigned tactile_wait_s = 1;

constexpr int filter_length_raw = 1;
constexpr int filter_length_6d = 3;
constexpr int filter_length_max = 10;
constexpr int xmiter_type_unknown = 15;

constexpr int op_transmitter_here = 2;
constexpr int op_socket_glasses = 11;
constexpr int op_socket_empty = 15;

// Report scales: thousandths of an inch and fortieths of a degree on the wire.
constexpr double cm_per_wire_unit = 2.54 / 1000.0;
constexpr double rad_per_wire_unit = std::numbers::pi / (180.0 * 40.0);

// Only a bound against a line that claims modules forever; real lines carry a handful.
constexpr int stream_module_limit = 64;
constexpr int module_name_bytes = 64;

// 19200 baud, 8 data bits, no parity, 1 stop bit, local, receiver on, no hang-up, raw, and
// reads that return at once (minimum 0, timeout one tenth of a second).
constexpr vr_line_settings logitech_line = {19200, 8, 0, 1, 1, 1, 0, 1, 0, 1};

int command_length(const unsigned char *text) {
  int n = 0;
  while (text[n] != 0) ++n;
  return n;
}

bool line_open(const vr_lt_unit *unit) {
  return unit != nullptr && unit->fd != 0;
}

void release_line(vr_lt_unit *unit) {
  if (!line_open(unit)) return;
  vr::os::line_close(unit->fd);
  unit->fd = 0;
}

void pause_us(int usec) {
  // A settle time of zero is no pause at all: the demand for each report must not wait.
  if (usec > 0) vr_usleep(usec);
}

void set_port_message(const char *path, int error) {
  std::snprintf(vr_lt_message, sizeof vr_lt_message,
                "Could not set port parameters for \"%s\" (%d)", path, error);
}

// Removes every stream module from the line; false (message stored) when one cannot be popped.
bool pop_stream_modules(int fd, char *message, int message_bytes) {
  char name[module_name_bytes];
  for (int popped = 0; vr::os::line_top_module(fd, name, sizeof name); ++popped) {
    name[sizeof name - 1] = '\0';
    if (popped >= stream_module_limit || vr::os::line_pop_module(fd) != 0) {
      std::snprintf(message, static_cast<size_t>(message_bytes),
                    "Error in popping stream module %s", name);
      return false;
    }
  }
  return true;
}

// The CyberMan's line start-up: 1200 baud and 7 bits while the modem lines wake it, the "*S"
// that starts its packets, then 4800 baud and 8 bits. False (message stored) on a rejected
// setting.
bool start_cyberman_line(int fd) {
  const char *path = vr_device_path(VR_DEVICE_TTYB);
  vr_line_settings s{};
  int error = vr::os::line_get(fd, &s);
  if (error != 0) {
    set_port_message(path, error);
    return false;
  }
  s.baud = 1200;
  s.data_bits = 7;
  s.parity = 0;
  s.stop_bits = 1;
  s.local = 0;
  s.read_enable = 1;
  s.hangup_on_close = 0;
  s.min_read = 0;
  s.read_timeout = 1;
  if ((error = vr::os::line_set(fd, &s)) != 0) {
    set_port_message(path, error);
    return false;
  }
  vr::os::line_modem(fd, VR_MODEM_DTR | VR_MODEM_RTS, 1);
  vr_usleep(cyberman_toggle_us);
  vr::os::line_modem(fd, VR_MODEM_RTS, 0);
  vr_usleep(cyberman_toggle_us);
  vr::os::line_modem(fd, VR_MODEM_RTS, 1);
  vr::os::line_flush(fd);
  // Without its "*S" the CyberMan never sends a packet.
  if (vr::os::line_write(fd, LT_STREAMING, 2) != 2) {
    std::snprintf(vr_lt_message, sizeof vr_lt_message, "Could not start the CyberMan on \"%s\"",
                  path);
    return false;
  }
  vr_usleep(cyberman_toggle_us);
  s.baud = 4800;
  s.data_bits = 8;
  if ((error = vr::os::line_set(fd, &s)) != 0) {
    set_port_message(path, error);
    return false;
  }
  return true;
}

// vr_lt_command, telling whether every write it made went out whole.
bool send_command(vr_lt_unit *a, vr_lt_unit *b, int before_usec, int after_usec,
                  const unsigned char *text) {
  // The CyberMan sits on the mouse line and understands none of the Logitech commands that go
  // to both units.
  if (cybermen_present == 1) b = nullptr;
  if (line_open(a)) vr::os::line_flush(a->fd);
  if (line_open(b)) vr::os::line_flush(b->fd);
  pause_us(before_usec);
  bool sent = true;
  if (text) {
    int n = command_length(text);
    if (line_open(a)) sent = vr::os::line_write(a->fd, text, n) == n && sent;
    if (line_open(b)) sent = vr::os::line_write(b->fd, text, n) == n && sent;
  }
  pause_us(after_usec);
  return sent;
}

void set_command_message(const char *what) {
  std::snprintf(vr_lt_message, sizeof vr_lt_message,
                "Could not send the %s command to the logitech units", what);
}

// Reads a unit's operating information after "*m"; prints the dead-unit message on failure.
bool read_status(vr_lt_unit *unit, int start, const char *line_word) {
  if (vr_lt_obtain_current_op_info(unit, start)) return true;
  std::fprintf(stderr, "Error: Cannot read status from %s logitech unit\n", line_word);
  std::fputs("(possibly power off?)\n", stderr);
  return false;
}

// Asks one unit alone for its operating information again and reads it (its result unused).
void reread_status(vr_lt_unit *unit) {
  int start = vr_lt_obtain_current_offset(unit);
  vr_lt_command(unit, nullptr, settle_cmd_us, settle_op_info_us, LT_CUR_OP_INFO);
  vr_lt_obtain_current_op_info(unit, start);
}

void apply_overrides(const vr_geom_override *rx, const vr_geom_override *tx, vr_lt_op_info *info) {
  for (int i = 0; i < 4; ++i) {
    if (rx[i].set) info->receiver_geom[i] = rx[i].value;
    if (tx[i].set) info->transmitter_geom[i] = tx[i].value;
  }
}

bool report_sync(const RingView &ring, int p) {
  if (!(ring[p] & 0x80)) return false;
  // A report cut short on the line runs into the next report's sync byte; such bytes are no
  // report and an older complete one is taken instead.
  for (int k = 1; k < vr::decode::report_6d_bytes; ++k)
    if (ring[p + k] & 0x80) return false;
  return true;
}

// The first n bytes of a report: the sync byte, then bytes without bit 7.
bool report_prefix(const RingView &ring, int p, int n) {
  if (!(ring[p] & 0x80)) return false;
  for (int k = 1; k < n; ++k)
    if (ring[p + k] & 0x80) return false;
  return true;
}

bool cyberman_sync(const RingView &ring, int p) {
  return (ring[p] & 0xE0) == 0x80;
}

// A 15-bit magnitude over three 7-bit bytes with a separate sign bit (two's complement in 16).
int wire_coordinate(const unsigned char *b) {
  int v = ((b[0] & 0x01) << 14) | ((b[1] & 0x7F) << 7) | (b[2] & 0x7F);
  return (b[0] & 0x02) ? v - 32768 : v;
}

int wire_angle(const unsigned char *b) {
  return (b[0] & 0x7F) * 128 + (b[1] & 0x7F);
}

double wire_geometry_cm(const unsigned char *b) {
  return (b[1] * 256 + b[0]) * cm_per_wire_unit;
}

// A two-bit CyberMan value: 2 stands for -1.
int cyberman_tri(int v) {
  return v == 2 ? -1 : v;
}

}  // namespace

namespace vr::decode {

int newest_6d_report_at(const RingView &ring, int write_offset) {
  return newest_record_start(ring, write_offset, report_6d_bytes, report_sync);
}

int partial_6d_report_bytes(const RingView &ring, int from, int write_offset) {
  return partial_record_bytes(ring, from, write_offset, report_6d_bytes, report_prefix);
}

int newest_cyberman_packet_at(const RingView &ring, int write_offset) {
  return newest_record_start(ring, write_offset, cyberman_bytes, cyberman_sync);
}

bool newest_6d_report(const RingView &ring, int write_offset, unsigned char out[report_6d_bytes]) {
  int p = newest_6d_report_at(ring, write_offset);
  if (p < 0) return false;
  ring.copy(p, report_6d_bytes, out);
  return true;
}

bool op_info_since(const RingView &ring, int start, int write_offset,
                   unsigned char out[op_info_bytes]) {
  if (start < 0 || start >= capture::ring_bytes) return false;
  if (write_offset < 0 || write_offset >= capture::ring_bytes) return false;
  if (capture::distance(start, write_offset) != op_info_bytes) return false;
  ring.copy(start, op_info_bytes, out);
  return true;
}

void event_to_6d(const vr_lt_event &event, vr_lt_6d *out) {
  out->x = event.x * cm_per_wire_unit;
  out->y = event.y * cm_per_wire_unit;
  out->z = event.z * cm_per_wire_unit;
  out->roll = event.roll * rad_per_wire_unit;
  out->pitch = event.pitch * rad_per_wire_unit;
  out->yaw = event.yaw * rad_per_wire_unit;
  out->buttons = event.status;
}

bool newest_cyberman_packet(const RingView &ring, int write_offset,
                            unsigned char out[cyberman_bytes]) {
  int p = newest_cyberman_packet_at(ring, write_offset);
  if (p < 0) return false;
  ring.copy(p, cyberman_bytes, out);
  return true;
}

}  // namespace vr::decode

extern "C" {

// ---- Unit records and lifecycle ------------------------------------------------------------

VR_API void vr_lt_init_samples(vr_lt_channel *channel) {
  if (!channel) return;
  for (float &v : channel->value) v = -100.0f;
  channel->reject_count = 60;
  channel->fit_intercept = -11000000.0;
  channel->fit_slope = -11000000.0;
}

VR_API void vr_lt_device_struct_init(const char *name, vr_lt_unit *unit) {
  if (!unit) return;
  unit->device_name = name;
  unit->filter_length = temporal_filter_length;
  unit->clock_rate = 1.0;
  unit->clock_offset = -11000000.0;
  unit->clock_lag = 0.0;
  for (vr_lt_channel &c : unit->chan) vr_lt_init_samples(&c);
}

VR_API void vr_lt_remove_glasses_and_mouse_6d(vr_ctx *ctx) {
  if (vr_lt_glasses_unit) {
    vr_lt_port_close(vr_lt_glasses_unit);
    if (ctx)
      vr_object_set(ctx, VR_GLASSES_EVENT_FN, static_cast<vr_fn>(nullptr), VR_GLASSES_REMOVE_FN,
                    static_cast<vr_fn>(nullptr), 0);
    vr_lt_glasses_unit = nullptr;
  }
  if (vr_lt_mouse_6d_unit) {
    vr_lt_port_close(vr_lt_mouse_6d_unit);
    if (ctx)
      vr_object_set(ctx, VR_MOUSE_EVENT_FN, static_cast<vr_fn>(nullptr), VR_MOUSE_REMOVE_FN,
                    static_cast<vr_fn>(nullptr), 0);
    vr_lt_mouse_6d_unit = nullptr;
  }
}

VR_API void vr_lt_close_glasses_and_mouse_6d(void) {
  for (vr_lt_unit **unit : {&vr_lt_glasses_unit, &vr_lt_mouse_6d_unit}) {
    if (!*unit) continue;
    // A unit whose line never opened holds descriptor 0, which is the process's standard input,
    // not a line of ours.
    if ((*unit)->fd != 0) vr::os::line_close((*unit)->fd);
    (*unit)->fd = 0;
    *unit = nullptr;
  }
}

VR_API void vr_lt_pause_glasses_and_mouse_6d(void) {
  for (vr_lt_unit *unit : {vr_lt_glasses_unit, vr_lt_mouse_6d_unit}) {
    if (!unit) continue;
    vr_lt_command(unit, nullptr, settle_cmd_us, settle_stop_us, LT_DEMAND_REPORTING);
    vr_lt_command(unit, nullptr, settle_cmd_us, settle_stop_us, LT_DISABLE_TRANSMITTER_OUTPUT);
  }
}

VR_API void vr_lt_change_filter_length(int n) {
  // n - 5 taken in double: the same value for every n, and no overflow near the int limit.
  goo57 = (static_cast<double>(n) - 5.0) / 10.0;
}

VR_API int vr_lt_obtain_current_offset(vr_lt_unit *unit) {
  if (!unit) return -1;
  return vr::lt::ring(unit).write_offset();
}

VR_API void vr_lt_offsets(int *a_offset, int *b_offset, double *glasses_time, double *mouse_time) {
  // Diagnostics only: whatever cannot be known (no mapping, a unit not in use) is left as the
  // caller had it.
  int a = RingView(ztty, 0).write_offset();
  int b = RingView(ztty, 1).write_offset();
  if (a_offset && a >= 0) *a_offset = a;
  if (b_offset && b >= 0) *b_offset = b;
  if (glasses_time && vr_lt_glasses_unit) *glasses_time = vr_lt_glasses_unit->slot_time[0];
  if (mouse_time && vr_lt_mouse_6d_unit) *mouse_time = vr_lt_mouse_6d_unit->slot_time[0];
}

// ---- Serial link and command protocol ------------------------------------------------------

VR_API void vr_lt_command(vr_lt_unit *a, vr_lt_unit *b, int before_usec, int after_usec,
                          const unsigned char *text) {
  send_command(a, b, before_usec, after_usec, text);
}

VR_API void vr_lt_set_event_filter_length(int n, int before_usec, int after_usec) {
  if (n < 1 || n > filter_length_max) return;
  LT_SET_EVENT_FILTER_LENGTH[4] = static_cast<unsigned char>(n);
  vr_lt_command(vr_lt_glasses_unit, vr_lt_mouse_6d_unit, before_usec, after_usec,
                LT_SET_EVENT_FILTER_LENGTH);
}

VR_API void vr_lt_set_slave_transmitter_type(int type, vr_lt_unit *unit, int before_usec,
                                             int after_usec) {
  LT_SET_SLAVE_XMITER_TYPE[4] =
      static_cast<unsigned char>((type >= 0 && type < 16) ? type : xmiter_type_unknown);
  vr_lt_command(unit, nullptr, before_usec, after_usec, LT_SET_SLAVE_XMITER_TYPE);
}

VR_API void vr_lt_demand_event(vr_lt_unit *unit) {
  if (!unit) return;
  vr_lt_command(unit, nullptr, 0, 0, LT_DIGITIZE);
  unit->pending_count = 0;
  unit->record[24] = 0;
}

VR_API int vr_lt_port_open(vr_ctx *ctx, int want_glasses, int want_mouse, int raw, int re_init) {
  if (!ctx) return 0;
  const char *path_a = vr_device_path(VR_DEVICE_TTYA);
  const char *path_b = vr_device_path(VR_DEVICE_TTYB);

  if (!re_init) {
    if (want_glasses) {
      vr_lt_glasses_unit = &unit_6d[0];
      vr_lt_device_struct_init(glasses_name, vr_lt_glasses_unit);
    }
    if (want_mouse) {
      vr_lt_mouse_6d_unit = &unit_6d[1];
      vr_lt_device_struct_init(mouse_name, vr_lt_mouse_6d_unit);
    }
    // A line left open by an earlier set-up that was never removed would be lost on reopening.
    if (want_glasses) release_line(vr_lt_glasses_unit);
    if (want_mouse) release_line(vr_lt_mouse_6d_unit);
    if (want_glasses) {
      int fd = vr::os::line_open(path_a);
      if (fd <= 0) {
        std::fprintf(stderr, "Couldn't open %s for reading 6D Glasses\n", path_a);
        vr_lt_glasses_unit->fd = 0;
        vr_lt_glasses_unit = nullptr;
        // The mouse record was prepared but its line never opened: it is not in use either.
        if (want_mouse) vr_lt_mouse_6d_unit = nullptr;
        return 0;
      }
      vr_lt_glasses_unit->fd = fd;
    }
    if (want_mouse) {
      int fd = vr::os::line_open(path_b);
      if (fd <= 0) {
        std::fprintf(stderr, "Couldn't open %s for reading 6D Mouse\n", path_b);
        vr_lt_mouse_6d_unit->fd = 0;
        vr_lt_mouse_6d_unit = nullptr;
        vr_lt_close_glasses_and_mouse_6d();
        return 0;
      }
      vr_lt_mouse_6d_unit->fd = fd;
    }
    if (want_glasses) vr_lt_glasses_unit->port = 0;
    if (want_mouse) vr_lt_mouse_6d_unit->port = 1;
  } else if ((want_glasses && !line_open(vr_lt_glasses_unit)) ||
             (want_mouse && !line_open(vr_lt_mouse_6d_unit))) {
    // Re-initialisation works on lines that are already open; a unit that is not in use has
    // nothing to resume.
    std::snprintf(vr_lt_message, sizeof vr_lt_message,
                  "Cannot re-initialise a logitech unit that is not in use");
    return 0;
  }

  vr_lt_unit *glasses = want_glasses ? vr_lt_glasses_unit : nullptr;
  vr_lt_unit *mouse = want_mouse ? vr_lt_mouse_6d_unit : nullptr;
  auto fail = [] {
    vr_lt_close_glasses_and_mouse_6d();
    return 0;
  };

  if (!re_init || cybermen_present) {
    if (!re_init) {
      int error;
      if (glasses && (error = vr::os::line_set(glasses->fd, &logitech_line)) != 0) {
        set_port_message(path_a, error);
        return fail();
      }
      if (mouse && !cybermen_present &&
          (error = vr::os::line_set(mouse->fd, &logitech_line)) != 0) {
        set_port_message(path_b, error);
        return fail();
      }
    }
    if (mouse && cybermen_present && !start_cyberman_line(mouse->fd)) return fail();
    vr::os::sleep_seconds(line_settle_s);
  }

  if (!re_init) {
    for (vr_lt_unit *unit : {glasses, mouse})
      if (unit && !pop_stream_modules(unit->fd, vr_lt_message, sizeof vr_lt_message)) return fail();
    for (vr_lt_unit *unit : {glasses, mouse})
      if (unit && vr::os::line_nodelay(unit->fd) != 0)
        std::snprintf(vr_lt_message, sizeof vr_lt_message, "Error in fcntl serial ports");
  }

  vr_lt_command(vr_lt_glasses_unit, vr_lt_mouse_6d_unit, settle_cmd_us, settle_reset_us, LT_RESET);
  if (cybermen_present && mouse) {
    vr::os::sleep_seconds(tactile_wait_s);
    vr::os::line_write(mouse->fd, LT_TACTILE, sizeof LT_TACTILE);
  }
  vr_lt_set_event_filter_length(raw ? filter_length_raw : filter_length_6d, settle_filter_before_us,
                                settle_cmd_us);

  if (!ztty) {
    vr_usleep(settle_map_us);
    // Without the capture area no report can ever be read: give up the set-up, not the process.
    if (!vr::lt::map_serial()) return fail();
    vr_usleep(settle_map_us);
  }

  int glasses_start = glasses ? vr_lt_obtain_current_offset(glasses) : -1;
  int mouse_start = mouse ? vr_lt_obtain_current_offset(mouse) : -1;
  vr_lt_command(vr_lt_glasses_unit, vr_lt_mouse_6d_unit, settle_cmd_us, settle_op_info_us,
                LT_CUR_OP_INFO);
  if (glasses && !read_status(glasses, glasses_start, "ttya")) return fail();
  if (mouse && !cybermen_present && !read_status(mouse, mouse_start, "ttyb")) return fail();

  if (glasses && mouse) {
    if (glasses->op_info.op_byte[6] != op_transmitter_here) {
      if (cybermen_present || mouse->op_info.op_byte[6] != op_transmitter_here) {
        std::fputs("Error: transmitter not connected to either logitech unit\n", stderr);
        std::fputs("(possibly power off?)\n", stderr);
        return fail();
      }
      vr_lt_set_slave_transmitter_type(mouse->op_info.op_byte[9], glasses, settle_cmd_us,
                                       settle_cmd_us);
      reread_status(glasses);
    } else {
      vr_lt_set_slave_transmitter_type(glasses->op_info.op_byte[9], mouse, settle_cmd_us,
                                       settle_cmd_us);
      if (!cybermen_present) reread_status(mouse);
    }
  }

  // A CyberMan gives no operating information: its record holds nothing read in this set-up.
  if (mouse && !cybermen_present) {
    if (mouse->op_info.op_byte[8] == op_socket_empty)
      std::fputs("Warning: no mouse device connected\n", stderr);
    else if (mouse->op_info.op_byte[8] == op_socket_glasses)
      std::fputs("Warning: glasses connected to 6d mouse unit\n", stderr);
  }
  if (glasses) {
    if (glasses->op_info.op_byte[8] == op_socket_empty)
      std::fputs("Warning: no glasses device connected\n", stderr);
    if (glasses->op_info.op_byte[8] != op_socket_glasses)
      std::fputs("Warning: Something other than CrystalEyesVR attached to glasses unit\n", stderr);
  }

  if (glasses) apply_overrides(ctx->glasses_rx_geom, ctx->tx_geom, &glasses->op_info);
  if (mouse) apply_overrides(ctx->mouse_rx_geom, ctx->tx_geom, &mouse->op_info);

  use_demand_reporting = ctx->streaming == 0 ? 1 : 0;
  // Without raw mode or streaming the units never send what the handlers read: a write of
  // either that fails ends the set-up rather than leaving a tracker silent from the start. (A
  // unit just reset reports on demand already, so that command is not essential.)
  if (raw && !send_command(vr_lt_glasses_unit, vr_lt_mouse_6d_unit, settle_raw_before_us,
                           settle_raw_after_us, LT_RAW_MODE)) {
    set_command_message("raw mode");
    return fail();
  }
  if (use_demand_reporting) {
    vr_lt_command(vr_lt_glasses_unit, vr_lt_mouse_6d_unit, settle_cmd_us, settle_cmd_us,
                  LT_DEMAND_REPORTING);
  } else if (!send_command(vr_lt_glasses_unit, vr_lt_mouse_6d_unit, settle_cmd_us, settle_cmd_us,
                           LT_STREAMING)) {
    set_command_message("streaming");
    return fail();
  }
  return 1;
}

VR_API void vr_lt_port_close(vr_lt_unit *unit) {
  if (!line_open(unit)) return;
  if (unit == &unit_6d[1] && cybermen_present) {
    vr::os::line_modem(unit->fd, VR_MODEM_RTS, 0);
    vr_usleep(cyberman_toggle_us);
    vr::os::line_modem(unit->fd, VR_MODEM_RTS, 1);
    vr_usleep(cyberman_toggle_us);
  } else {
    vr_lt_command(unit, nullptr, settle_cmd_us, settle_stop_us, LT_DEMAND_REPORTING);
    vr_lt_command(unit, nullptr, settle_cmd_us, settle_stop_us, LT_DISABLE_TRANSMITTER_OUTPUT);
  }
  vr::os::line_close(unit->fd);
  unit->fd = 0;
}

// ---- Report decoding -----------------------------------------------------------------------

VR_API int vr_lt_obtain_current_event(vr_lt_unit *unit) {
  if (!unit) return 0;
  RingView ring = vr::lt::ring(unit);
  return vr::decode::newest_6d_report(ring, ring.write_offset(), unit->record) ? 1 : 0;
}

VR_API void vr_lt_convert_event(const unsigned char bytes[16], vr_lt_event *event) {
  if (!event) return;
  *event = vr_lt_event{};
  if (!bytes || !(bytes[0] & 0x80)) return;
  event->status = bytes[0] & 0x7F;
  event->x = wire_coordinate(bytes + 1);
  event->y = wire_coordinate(bytes + 4);
  event->z = wire_coordinate(bytes + 7);
  event->pitch = wire_angle(bytes + 10);
  event->yaw = wire_angle(bytes + 12);
  event->roll = wire_angle(bytes + 14);
}

VR_API int vr_lt_get_6d(vr_lt_unit *unit, vr_lt_6d *out) {
  if (!unit || !out || !vr_lt_obtain_current_event(unit)) return 0;
  vr_lt_event event;
  vr_lt_convert_event(unit->record, &event);
  vr::decode::event_to_6d(event, out);
  return 1;
}

VR_API int vr_lt_obtain_current_op_info(vr_lt_unit *unit, int start) {
  if (!unit) return 0;
  if (start < 0 || start >= vr::capture::ring_bytes) return 0;
  RingView ring = vr::lt::ring(unit);
  unsigned char bytes[vr::decode::op_info_bytes];
  if (!vr::decode::op_info_since(ring, start, ring.write_offset(), bytes)) {
    unit->op_info = vr_lt_op_info{};
    return 0;
  }
  vr_lt_convert_cur_op_info(bytes, &unit->op_info);
  return 1;
}

VR_API void vr_lt_convert_cur_op_info(const unsigned char bytes[30], vr_lt_op_info *info) {
  if (!info) return;
  *info = vr_lt_op_info{};
  if (!bytes || (bytes[0] & 0xC0) != 0x80) return;
  info->op_byte[0] = bytes[0] & 0x3F;
  for (int i = 1; i < 10; ++i) info->op_byte[i] = bytes[i] & 0x7F;
  info->receiver_geom[0] = wire_geometry_cm(bytes + 10);
  info->receiver_geom[1] = wire_geometry_cm(bytes + 12);
  info->op_byte14 = bytes[14] & 0x7F;
  info->transmitter_geom[0] = wire_geometry_cm(bytes + 15);
  info->transmitter_geom[1] = wire_geometry_cm(bytes + 17);
  info->transmitter_geom[2] = wire_geometry_cm(bytes + 19);
}

VR_API void print_vr_lt_i_event(const vr_lt_event *event) {
  if (!event) return;
  std::fprintf(stderr, "\nxyz %6.3f %6.3f %6.3f  pyr %6.2f %6.2f %6.2f  ", event->x / 1000.0,
               event->y / 1000.0, event->z / 1000.0, event->pitch / 40.0, event->yaw / 40.0,
               event->roll / 40.0);
  std::fflush(stderr);
}

// ---- CyberMan packets ----------------------------------------------------------------------

VR_API int vr_lt_obtain_current_raw_cyberman(vr_lt_unit *unit) {
  if (!unit) return 0;
  RingView ring = vr::lt::ring(unit);
  return vr::decode::newest_cyberman_packet(ring, ring.write_offset(), unit->record) ? 1 : 0;
}

VR_API void vr_lt_cyberman_cvt(const unsigned char packet[5], vr_cyberman_state *state) {
  if (!packet || !state) return;
  const unsigned char *b = packet;
  auto x = static_cast<signed char>(((b[1] & 0x7F) << 1) | ((b[2] >> 6) & 1));
  auto y = static_cast<signed char>(((b[2] & 0x3F) << 2) | ((b[3] >> 5) & 3));
  state->x_motion = x;
  state->y_motion = y;
  state->buttons = b[0] & 7;
  state->state[0] = cyberman_tri((b[3] >> 3) & 3);
  state->state[1] = cyberman_tri((b[3] >> 1) & 3);
  state->state[2] = cyberman_tri((b[4] >> 4) & 3);
  state->state[3] = cyberman_tri(((b[3] & 1) << 1) | ((b[4] >> 6) & 1));
}

}  // extern "C"
