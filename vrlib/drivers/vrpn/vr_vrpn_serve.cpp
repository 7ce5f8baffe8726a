// The library's VRPN server: publishes a context's tracked head (sensor 0) and 3D mouse
// (sensor 1) in plate coordinates with their measurement times, and the mouse buttons, so that
// other machines (the other screens of a wall) use the same head.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include <vrpn_Button.h>
#include <vrpn_Connection.h>
#include <vrpn_Tracker.h>

#include "vr.h"
#include "vr_ext.h"
#include "vr_vrpn_internal.h"

namespace {

constexpr int head_sensor = 0;
constexpr int mouse_sensor = 1;
constexpr int sensor_count = 2;
constexpr int button_count = 4;
constexpr int address_bytes = 96;
// Messages read from one client per frame at most, so that a client that sends without pause
// cannot keep the frame reading; the rest waits in the system's buffer for the next frame.
constexpr unsigned messages_per_frame = 1000;

struct Server {
  vrpn_Connection *connection = nullptr;
  vrpn_Tracker_Server *tracker = nullptr;
  // Sends the held buttons to each client as it connects (VRPN's button filter does).
  vrpn_Button_Server *buttons = nullptr;
};

Server *server_of(vr_ctx *ctx) {
  return static_cast<Server *>(vr_ext(ctx).vrpn.server);
}

void release(Server *s) {
  if (!s) return;
  delete s->buttons;
  delete s->tracker;
  if (s->connection) s->connection->removeReference();
  delete s;
}

bool tracked(const dmat m) {
  return m[3][3] != 0.0;
}

timeval timeval_of(double seconds) {
  timeval t;
  double whole = std::floor(seconds);
  t.tv_sec = static_cast<decltype(t.tv_sec)>(whole);
  t.tv_usec = static_cast<decltype(t.tv_usec)>(std::lround((seconds - whole) * 1e6));
  if (t.tv_usec >= 1000000) {
    ++t.tv_sec;
    t.tv_usec -= 1000000;
  }
  return t;
}

// A measurement time in the context's physical world time on the server's clock, taken from
// what the frame's clock says now.
double server_stamp(const vr_ctx *ctx, double server_now, double measured_pworld) {
  const double age = ctx->pworld_time_now - measured_pworld;
  return server_now - (age > 0.0 ? age : 0.0);
}

// When the head's pose was measured, in physical world time: the VRPN report's own time for a
// head taken from VRPN, else the newest fresh pose that the tracking status saw, else now.
double head_measured(const vr_ctx *ctx) {
  const vr_ext_state &e = vr_ext(ctx);
  if (ctx->glasses_source == VR_GLASSES_SOURCE_VRPN && e.vrpn.head_pose_s != 0.0)
    return e.vrpn.head_pose_s;
  if (e.views.track[0].begun) return e.views.track[0].since_s;
  return ctx->pworld_time_now;
}

double mouse_measured(const vr_ctx *ctx) {
  const vr_ext_state &e = vr_ext(ctx);
  if (ctx->mouse_source == VR_MOUSE_SOURCE_VRPN && e.vrpn.mouse_pose_s != 0.0)
    return e.vrpn.mouse_pose_s;
  if (e.views.track[1].begun) return e.views.track[1].since_s;
  return ctx->pworld_time_now;
}

void publish(Server &s, int sensor, const dmat to_plate, double cm_per_unit, double stamp) {
  double position[3];
  dquat q;
  vr::vrpn::matrix_to_pose(to_plate, cm_per_unit, position, q);
  s.tracker->report_pose(sensor, timeval_of(stamp), position, q);
}

}  // namespace

extern "C" {

VR_API vr_result vr_vrpn_serve_start(vr_ctx *ctx, const char *device, const char *address,
                                     int port) {
  if (!ctx || port < 0 || port > 65535) return VR_ERR_BAD_VALUE;
  vr_vrpn_serve_stop(ctx);
  if (!device) device = VR_VRPN_SERVE_DEFAULT_DEVICE;
  if (!address) address = VR_VRPN_SERVE_DEFAULT_ADDRESS;
  if (!*device || std::strchr(device, '@') || std::strlen(device) >= VR_VRPN_NAME_BYTES ||
      !*address) {
    std::fprintf(stderr, "vr_vrpn_serve_start: unusable device name or address\n");
    return VR_ERR_BAD_VALUE;
  }
  char where[address_bytes];
  const int n =
      std::snprintf(where, sizeof where, "%s:%d", address, port == 0 ? VR_VRPN_DEFAULT_PORT : port);
  if (n < 0 || n >= static_cast<int>(sizeof where)) {
    std::fprintf(stderr, "vr_vrpn_serve_start: address too long\n");
    return VR_ERR_BAD_VALUE;
  }
  auto *s = new (std::nothrow) Server;
  if (!s) return VR_ERR_BAD_VALUE;
  try {
    s->connection = vrpn_create_server_connection(where);
    if (!s->connection || !s->connection->doing_okay()) {
      std::fprintf(stderr, "vr_vrpn_serve_start: cannot listen on %s\n", where);
      release(s);
      return VR_ERR_BAD_VALUE;
    }
    s->connection->Jane_stop_this_crazy_thing(messages_per_frame);
    s->tracker = new vrpn_Tracker_Server(device, s->connection, sensor_count);
    s->buttons = new vrpn_Button_Server(device, s->connection, button_count);
  } catch (...) {
    release(s);
    return VR_ERR_BAD_VALUE;
  }
  vr_ext(ctx).vrpn.server = s;
  return VR_OK;
}

VR_API void vr_vrpn_serve_frame(vr_ctx *ctx) {
  if (!ctx) return;
  Server *s = server_of(ctx);
  if (!s) return;
  const double cm_per_unit = vr_ext(ctx).vrpn.cm_per_unit;
  const double now = vr::vrpn::vrpn_clock_now();
  if (tracked(ctx->head_to_dig)) {
    dmat head_to_plate;
    vr_mat_mul_mat(ctx->head_to_dig, ctx->dig_to_plate, head_to_plate);
    publish(*s, head_sensor, head_to_plate, cm_per_unit,
            server_stamp(ctx, now, head_measured(ctx)));
  }
  if (tracked(ctx->mouse_to_dig))
    publish(*s, mouse_sensor, ctx->mouse_to_plate, cm_per_unit,
            server_stamp(ctx, now, mouse_measured(ctx)));
  for (int b = 0; b < button_count; ++b) s->buttons->set_button(b, (ctx->mouse_buttons >> b) & 1);
  s->tracker->mainloop();
  s->buttons->mainloop();
  s->connection->mainloop();
}

VR_API void vr_vrpn_serve_stop(vr_ctx *ctx) {
  if (!ctx) return;
  release(server_of(ctx));
  vr_ext(ctx).vrpn.server = nullptr;
}

}  // extern "C"
