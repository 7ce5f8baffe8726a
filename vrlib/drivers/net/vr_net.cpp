// The network head-tracker source: a webcam face tracker (or any program) sending the opentrack
// datagram over UDP. Set-up binds the socket; every frame the handler takes what has arrived
// without waiting, keeps the newest pose and places the eyes from it.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "vr_display_time.h"
#include "vr_ext.h"
#include "vr_clock.h"
#include "vr_net.h"
#include "vr_platform.h"
#include "vr_status.h"
#include "vr_track_internal.h"

namespace {

using vr::net::Packet;
using vr::net::Verdict;

// A frame takes at most this many datagrams; the rest wait for the next frame, so that a
// flooding sender cannot hold the frame up.
constexpr int max_datagrams_per_frame = 256;
// Room for the longest accepted datagram and a little more: longer ones are reported with their
// true length by the platform and dropped for it.
constexpr int receive_buffer_bytes = 64;
// Weight of the newest interval in the smoothed datagram rate.
constexpr double rate_smoothing = 0.1;
constexpr const char *environment_endpoint = "VRLIB_OPENTRACK";

vr_ext_net &state(vr_ctx *ctx) {
  return vr_ext(ctx).net;
}

void note_interval(vr_ext_net &net, double arrival_s) {
  if (net.previous_arrival_s >= 0.0 && arrival_s > net.previous_arrival_s) {
    const double rate = 1.0 / (arrival_s - net.previous_arrival_s);
    net.rate_hz = net.rate_hz > 0.0 ? net.rate_hz + rate_smoothing * (rate - net.rate_hz) : rate;
  }
  net.previous_arrival_s = arrival_s;
}

void count_drop(vr_ext_net &net, Verdict v) {
  switch (v) {
    case Verdict::wrong_length:
      ++net.drops_length;
      break;
    case Verdict::not_finite:
      ++net.drops_not_finite;
      break;
    case Verdict::absurd:
      ++net.drops_absurd;
      break;
    case Verdict::accepted:
      break;
  }
}

// A datagram's values as the head's pose, through the axis mapping.
vr_lt_6d pose_of(const vr_ext_net &net, const Packet &p) {
  return vr::net::packet_to_pose(vr::net::map_axes(net.axis_map, p));
}

// Takes every waiting datagram (up to the frame's share); true when one was accepted, with the
// newest accepted pose and its arrival in the state. With display-time tracking on, every
// accepted pose goes to its predictor, dated by its arrival.
bool drain(vr_ctx *ctx, vr_ext_net &net) {
  const long long now_ns = vr::os::hrtime();
  const bool dated = vr::display::dated_poses_on(ctx);
  bool got = false;
  Packet newest{};
  for (int i = 0; i < max_datagrams_per_frame; ++i) {
    unsigned char bytes[receive_buffer_bytes];
    long long arrival_ns = now_ns;
    const int length = vr::os::udp_receive(net.in_socket - 1, bytes, sizeof bytes, &arrival_ns);
    if (length < 0) break;
    Packet p{};
    const Verdict v = vr::net::decode_packet(bytes, length, &p);
    if (v != Verdict::accepted) {
      count_drop(net, v);
      continue;
    }
    ++net.packets;
    newest = p;
    got = true;
    // On the frame's own time scale: a datagram that came in after the frame read its time
    // counts as arriving after it.
    net.last_arrival_s = vr_pworld_seconds_at(arrival_ns);
    note_interval(net, net.last_arrival_s);
    if (dated) vr::display::take_dated_pose(ctx, pose_of(net, p), net.last_arrival_s);
  }
  if (got) net.pose = pose_of(net, newest);
  return got;
}

// Silence after the timeout, and resumption on the next accepted datagram, each said once.
void update_state(vr_ctx *ctx, vr_ext_net &net, bool got) {
  const double since_s = ctx->pworld_time_now - net.last_arrival_s;
  if (got) {
    if (net.state == VR_NET_STATE_SILENT)
      std::snprintf(vr_net_message, sizeof vr_net_message,
                    "network head tracker: datagrams arrive again; tracking resumed");
    net.state = VR_NET_STATE_TRACKING;
  } else if (net.state == VR_NET_STATE_TRACKING && since_s > net.silence_timeout_s) {
    net.state = VR_NET_STATE_SILENT;
    std::snprintf(vr_net_message, sizeof vr_net_message,
                  "network head tracker: no datagram for %.2f s; holding the last pose",
                  net.silence_timeout_s);
  }
  if (net.have_pose) net.pose_age_s = std::fmax(0.0, since_s);
}

// The one place where this source's pose becomes the eyes. With display-time tracking on, the
// pose its predictor gives for the display time (the drain fed it every datagram); until it has
// a pose, and with the mode off, the newest pose with the same one-frame eye prediction as the
// DynaSight's.
void place_eyes(vr_ctx *ctx, const vr_lt_6d &pose) {
  if (vr::display::dated_poses_on(ctx) && vr::display::place_dated_eyes(ctx)) return;
  vr::track::predict_eyes_from_pose(ctx, nullptr, &pose, ctx->screen_left_eye,
                                    ctx->screen_right_eye);
}

int start_network(vr_ctx *ctx, int, int) {
  return vr_net_init_glasses(ctx);
}

int fail_set_up(const char *message) {
  std::fprintf(stderr, "%s\n", message);
  return 0;
}

}  // namespace

extern "C" {

int vr_net_init_glasses(vr_ctx *ctx) {
  if (ctx == nullptr) return 0;
  if (ctx->tracking_mode == VR_TRACKING_NONE) return 1;
  vr_ext_net &net = state(ctx);
  if (net.in_socket != 0) vr_net_remove_glasses(ctx);  // a second set-up replaces the first

  auto address = static_cast<unsigned>(net.bind_address);
  int port = net.bind_port;
  const char *env = std::getenv(environment_endpoint);
  if (env != nullptr && *env != '\0' && !vr::net::parse_endpoint(env, &address, &port)) {
    std::snprintf(vr_net_message, sizeof vr_net_message,
                  "network head tracker: %s=\"%.64s\" is not host:port (IPv4)",
                  environment_endpoint, env);
    return fail_set_up(vr_net_message);
  }
  int fd = -1;
  const int error = vr::os::udp_open(address, port, &fd);
  if (error != 0) {
    std::snprintf(vr_net_message, sizeof vr_net_message,
                  "network head tracker: cannot listen on %u.%u.%u.%u:%d (%s)", address >> 24,
                  (address >> 16) & 255u, (address >> 8) & 255u, address & 255u, port,
                  std::strerror(error));
    return fail_set_up(vr_net_message);
  }
  net.in_socket = fd + 1;
  net.state = VR_NET_STATE_WAITING;
  net.packets = net.drops_length = net.drops_not_finite = net.drops_absurd = 0;
  net.last_arrival_s = net.previous_arrival_s = -1.0;
  net.rate_hz = net.pose_age_s = 0.0;
  net.have_pose = 0;
  vr::display::start_dated_poses(ctx);
  vr_mat_copy(ctx->dig_to_plate, net.saved_dig_to_plate);
  vr::net::camera_to_plate(ctx, ctx->dig_to_plate);
  vr_net_message[0] = '\0';
  vr_object_set(ctx, VR_GLASSES_EVENT_FN, static_cast<vr_fn>(vr_net_event_glasses),
                VR_GLASSES_REMOVE_FN, static_cast<vr_fn>(vr_net_remove_glasses), 0);
  return 1;
}

void vr_net_event_glasses(vr_ctx *ctx) {
  if (ctx == nullptr) return;
  vr_ext_net &net = state(ctx);
  if (net.in_socket == 0) return;
  const bool got = drain(ctx, net);
  if (got) net.have_pose = 1;
  update_state(ctx, net, got);
  // The common status: an accepted datagram is a fresh pose, in either mode.
  vr::status::note_fresh(ctx, vr::status::head, got);
  // The camera's place may have been changed since the last frame.
  vr::net::camera_to_plate(ctx, ctx->dig_to_plate);
  if (net.have_pose) place_eyes(ctx, net.pose);
}

void vr_net_remove_glasses(vr_ctx *ctx) {
  if (ctx == nullptr) return;
  vr_ext_net &net = state(ctx);
  if (net.in_socket == 0) return;
  vr::os::udp_close(net.in_socket - 1);
  net.in_socket = 0;
  net.state = VR_NET_STATE_OFF;
  vr_mat_copy(net.saved_dig_to_plate, ctx->dig_to_plate);
  vr_object_set(ctx, VR_GLASSES_EVENT_FN, static_cast<vr_fn>(nullptr), VR_GLASSES_REMOVE_FN,
                static_cast<vr_fn>(nullptr), 0);
}

}  // extern "C"

namespace vr::sources {

const vr::track::Source network = {.name = "network",
                                   .glasses_sources = {VR_SOURCE_NETWORK, 0},
                                   .start = start_network,
                                   .stop = vr_net_remove_glasses};

}  // namespace vr::sources
