// The VRPN door: the VRPN source's one way to a tracker server. The default door is VRPN's own
// client classes on one connection (tracker and buttons share it when they name the same
// server); an installed door replaces it entirely.
//
// Contexts that name the same server share VRPN's one connection to it, and whichever polls
// reads every report for all of them: VRPN hands each report to every context's devices, and
// each keeps it in its own queue until its own context's poll passes it on.
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

// Reports and button changes that arrived for one context and wait for its poll. Room for
// several frames' worth at a tracker's rate; when a context stops polling, the oldest go first.
constexpr int queue_events = 256;
// Messages read from one connection per poll at most, so that a peer that sends without pause
// cannot keep a frame reading; the rest waits in the system's buffer for the next poll.
constexpr unsigned messages_per_poll = 1000;
// Button numbers passed on from a "whole set of states" message (the source keeps four).
constexpr int buttons_passed = 32;

struct Event {
  bool pose = false;
  int number = 0;  // sensor or button
  int pressed = 0;
  double position[3] = {};
  dquat orientation = {};
  double stamp_s = 0.0;
};

// One open tracker and button device, and what arrived for them since their context's poll.
struct Client {
  vrpn_Connection *connection = nullptr;
  TrackerRemote *tracker = nullptr;
  ButtonRemote *button = nullptr;
  bool own_button_connection = false;
  Event queue[queue_events];
  int first = 0;
  int count = 0;

  Event &push() {
    if (count == queue_events) {
      first = (first + 1) % queue_events;
      --count;
    }
    Event &e = queue[(first + count) % queue_events];
    ++count;
    return e;
  }
  void pass_on(const vr_vrpn_sink *sink) {
    for (; count > 0; --count, first = (first + 1) % queue_events) {
      const Event &e = queue[first];
      if (e.pose)
        sink->pose(sink->user, e.number, e.position, e.orientation, e.stamp_s);
      else
        sink->button(sink->user, e.number, e.pressed);
    }
    first = 0;
  }
  void button_event(int number, int pressed) {
    Event &e = push();
    e.pose = false;
    e.number = number;
    e.pressed = pressed;
  }
};

void VRPN_CALLBACK on_tracker(void *user, const vrpn_TRACKERCB report) {
  auto *c = static_cast<Client *>(user);
  Event &e = c->push();
  e.pose = true;
  e.number = report.sensor;
  std::memcpy(e.position, report.pos, sizeof e.position);
  std::memcpy(e.orientation, report.quat, sizeof e.orientation);
  e.stamp_s = report.msg_time.tv_sec != 0 ? seconds_of(report.msg_time) : 0.0;
}

void VRPN_CALLBACK on_button(void *user, const vrpn_BUTTONCB report) {
  static_cast<Client *>(user)->button_event(report.button, report.state == VRPN_BUTTON_ON ? 1 : 0);
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
  for (int b = 0; b < report.num_buttons && b < buttons_passed; ++b)
    c->button_event(b, report.states[b] == VRPN_BUTTON_ON ? 1 : 0);
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
    c->connection->Jane_stop_this_crazy_thing(messages_per_poll);
    c->tracker = new TrackerRemote(tracker, c->connection);
    // A button device on another server gets a connection of its own.
    c->own_button_connection = std::strcmp(std::strchr(button, '@'), std::strchr(tracker, '@'));
    c->button = c->own_button_connection ? new ButtonRemote(button)
                                         : new ButtonRemote(button, c->connection);
    if (vrpn_Connection *own = c->button->connectionPtr())
      own->Jane_stop_this_crazy_thing(messages_per_poll);
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
  // The connection's service reads what has arrived (selects with a zero timeout, and reads
  // only what is there: a message cut short waits for its rest) and hands it to the handlers
  // above, of this context and of any other on the same connection; the devices then only
  // send their keep-alive pings when due.
  c->connection->mainloop();
  c->tracker->keep_alive();
  if (c->own_button_connection)
    c->button->mainloop();
  else
    c->button->keep_alive();
  c->pass_on(sink);
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
