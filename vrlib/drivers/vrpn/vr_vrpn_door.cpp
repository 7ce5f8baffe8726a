// The VRPN door: the VRPN source's one way to a tracker server. The default door is VRPN's own
// client classes on one connection (tracker and buttons share it when they name the same
// server); an installed door replaces it entirely.
#include <cstring>
#include <new>

#include <vrpn_Button.h>
#include <vrpn_Connection.h>
#include <vrpn_Tracker.h>

#include "vr.h"
#include "vr_vrpn_internal.h"

namespace {

double seconds_of(const timeval &t) {
  return static_cast<double>(t.tv_sec) + 1e-6 * static_cast<double>(t.tv_usec);
}

// VRPN's remote devices, with their keep-alive step (pings to the server) reachable on its own,
// so that one poll serves the shared connection once rather than once per device.
class TrackerRemote : public vrpn_Tracker_Remote {
 public:
  using vrpn_Tracker_Remote::vrpn_Tracker_Remote;
  void keep_alive() { client_mainloop(); }
};
class ButtonRemote : public vrpn_Button_Remote {
 public:
  using vrpn_Button_Remote::vrpn_Button_Remote;
  void keep_alive() { client_mainloop(); }
};

// One open tracker and button device, and the sink of the poll in progress.
struct Client {
  vrpn_Connection *connection = nullptr;
  TrackerRemote *tracker = nullptr;
  ButtonRemote *button = nullptr;
  bool own_button_connection = false;
  const vr_vrpn_sink *sink = nullptr;
};

void VRPN_CALLBACK on_tracker(void *user, const vrpn_TRACKERCB report) {
  auto *c = static_cast<Client *>(user);
  if (!c->sink) return;
  const double stamp = report.msg_time.tv_sec != 0 ? seconds_of(report.msg_time) : 0.0;
  c->sink->pose(c->sink->user, report.sensor, report.pos, report.quat, stamp);
}

void VRPN_CALLBACK on_button(void *user, const vrpn_BUTTONCB report) {
  auto *c = static_cast<Client *>(user);
  if (!c->sink) return;
  c->sink->button(c->sink->user, report.button, report.state == VRPN_BUTTON_ON ? 1 : 0);
}

// A server on this machine's loopback is reached from the loopback interface only, so that none
// of the connection's sockets (VRPN also listens for the server's call back, and takes the
// reports over UDP) is open on another interface.
const char *interface_for(const char *device) {
  const char *host = std::strchr(device, '@');
  if (!host) return nullptr;
  ++host;
  if (std::strncmp(host, "127.", 4) == 0 || std::strncmp(host, "localhost", 9) == 0)
    return "127.0.0.1";
  return nullptr;
}

void vrpn_close(void *, void *handle);

// The whole set of states, as a server sends it to a client that has just connected.
void VRPN_CALLBACK on_button_states(void *user, const vrpn_BUTTONSTATESCB report) {
  auto *c = static_cast<Client *>(user);
  if (!c->sink) return;
  for (int b = 0; b < report.num_buttons && b < vrpn_BUTTON_MAX_BUTTONS; ++b)
    c->sink->button(c->sink->user, b, report.states[b] == VRPN_BUTTON_ON ? 1 : 0);
}

void *vrpn_open(void *, const char *tracker, const char *button) {
  auto *c = new (std::nothrow) Client;
  if (!c) return nullptr;
  try {
    c->connection = vrpn_get_connection_by_name(tracker, nullptr, nullptr, nullptr, nullptr,
                                                interface_for(tracker));
    if (!c->connection) {
      delete c;
      return nullptr;
    }
    c->tracker = new TrackerRemote(tracker, c->connection);
    // A button device on another server gets a connection of its own.
    c->own_button_connection = std::strcmp(std::strchr(button, '@'), std::strchr(tracker, '@'));
    c->button = c->own_button_connection ? new ButtonRemote(button)
                                         : new ButtonRemote(button, c->connection);
  } catch (...) {
    vrpn_close(nullptr, c);
    return nullptr;
  }
  c->tracker->register_change_handler(c, on_tracker);
  c->button->register_change_handler(c, on_button);
  c->button->register_states_handler(c, on_button_states);
  return c;
}

int vrpn_poll(void *, void *handle, const vr_vrpn_sink *sink) {
  auto *c = static_cast<Client *>(handle);
  c->sink = sink;
  // The connection's service reads what has arrived (selects with a zero timeout) and hands it
  // to the handlers above; the devices then only send their keep-alive pings when due.
  c->connection->mainloop();
  c->tracker->keep_alive();
  if (c->own_button_connection)
    c->button->mainloop();
  else
    c->button->keep_alive();
  c->sink = nullptr;
  vrpn_Connection *connection = c->tracker->connectionPtr();
  return connection && connection->connected() ? 1 : 0;
}

double vrpn_now(void *) {
  return vr::vrpn::vrpn_clock_now();
}

void vrpn_close(void *, void *handle) {
  auto *c = static_cast<Client *>(handle);
  if (!c) return;
  delete c->button;
  delete c->tracker;
  if (c->connection) c->connection->removeReference();
  delete c;
}

constexpr vr_vrpn_door vrpn_door = {nullptr, vrpn_open, vrpn_poll, vrpn_now, vrpn_close};
vr_vrpn_door installed = vrpn_door;

}  // namespace

namespace vr::vrpn {

const vr_vrpn_door &door() {
  return installed;
}

double vrpn_clock_now() {
  timeval now;
  vrpn_gettimeofday(&now, nullptr);
  return seconds_of(now);
}

}  // namespace vr::vrpn

extern "C" {

VR_API void vr_vrpn_door_install(const vr_vrpn_door *door) {
  if (!door) {
    installed = vrpn_door;
    return;
  }
  if (!door->open || !door->poll || !door->now || !door->close) return;
  installed = *door;
}

}  // extern "C"
