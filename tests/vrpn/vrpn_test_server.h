// VRPN's own tracker and button servers on a loopback port, standing in for a lab tracker, and
// a frame loop in real time that waits for a condition with a deadline.
#pragma once

#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include <vrpn_Button.h>
#include <vrpn_Connection.h>
#include <vrpn_Tracker.h>

#include "free_port.h"
#include "vr.h"

namespace vrpn_test {

class TestServer {
 public:
  TestServer(int port, const char *device = "Tracker0") {
    const std::string where = "127.0.0.1:" + std::to_string(port);
    connection_ = vrpn_create_server_connection(where.c_str());
    tracker_ = new vrpn_Tracker_Server(device, connection_, 4);
    buttons_ = new vrpn_Button_Server(device, connection_, 4);
  }
  ~TestServer() {
    delete buttons_;
    delete tracker_;
    connection_->removeReference();
  }
  TestServer(const TestServer &) = delete;
  TestServer &operator=(const TestServer &) = delete;

  bool ok() const { return connection_ && connection_->doing_okay(); }
  // Sends one report (position in metres, quaternion x, y, z, w) stamped `stamp` (0: now).
  void send(int sensor, const double position[3], const double q[4], timeval stamp = {}) {
    if (stamp.tv_sec == 0) vrpn_gettimeofday(&stamp, nullptr);
    tracker_->report_pose(sensor, stamp, position, q);
  }
  void set_button(int b, int state) { buttons_->set_button(b, state); }
  void serve() {
    tracker_->mainloop();
    buttons_->mainloop();
    connection_->mainloop();
  }

 private:
  vrpn_Connection *connection_ = nullptr;
  vrpn_Tracker_Server *tracker_ = nullptr;
  vrpn_Button_Server *buttons_ = nullptr;
};

// Runs `frame` every millisecond of real time until `done` holds or `limit_s` has passed.
inline bool run_until(const std::function<void()> &frame, const std::function<bool()> &done,
                      double limit_s) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(limit_s);
  while (std::chrono::steady_clock::now() < end) {
    frame();
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

inline std::string device_at(int port, const char *device = "Tracker0") {
  return std::string(device) + "@127.0.0.1:" + std::to_string(port);
}

inline int get_int(vr_ctx *ctx, int id) {
  int v = -1;
  vr_get_int(ctx, id, &v);
  return v;
}

inline double get_double(vr_ctx *ctx, int id) {
  double v = -1;
  vr_get_double(ctx, id, &v);
  return v;
}

}  // namespace vrpn_test
