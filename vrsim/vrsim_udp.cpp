// Virtual UDP sockets on one virtual host, and the opentrack sender that plays a webcam face
// tracker: it measures the head truth and sends it as the opentrack datagram.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <numbers>

#include "vrsim_internal.h"

using namespace vrsim_detail;

namespace {

constexpr std::size_t socket_queue_datagrams = 256;
constexpr std::size_t sent_kept = 65536;
constexpr int largest_datagram_bytes = 1024;
constexpr int last_port = 65535;
constexpr double max_rate_hz = 1000.0;
constexpr int packet_bytes = 48;
constexpr int frame_number_bytes = 4;
constexpr double deg_per_rad = 180.0 / std::numbers::pi;

long long to_ns(double s) {
  return std::llround(s * static_cast<double>(ns_per_s));
}

UdpSocket *find_socket(vrsim *sim, int fd) {
  for (auto &s : sim->udp.sockets)
    if (s.fd == fd) return &s;
  return nullptr;
}

UdpSocket *bound_to(vrsim *sim, unsigned address, int port) {
  for (auto &s : sim->udp.sockets)
    if (s.port == port && (s.address == 0 || address == 0 || s.address == address)) return &s;
  return nullptr;
}

// Puts a datagram on its way to whoever is bound at the destination: true when someone is.
bool deliver(vrsim *sim, unsigned address, int port, const unsigned char *bytes, int count,
             long long arrival_ns) {
  UdpSocket *s = bound_to(sim, address, port);
  if (s == nullptr) return false;
  if (s->waiting.size() >= socket_queue_datagrams) return true;  // the receiver's buffer is full
  Datagram d{arrival_ns, address, port, std::vector<unsigned char>(bytes, bytes + count)};
  auto at = std::upper_bound(s->waiting.begin(), s->waiting.end(), arrival_ns,
                             [](long long t, const Datagram &w) { return t < w.arrival_ns; });
  s->waiting.insert(at, std::move(d));
  return true;
}

void write_le_double(double v, unsigned char *b) {
  std::uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  for (int i = 0; i < 8; ++i) b[i] = static_cast<unsigned char>(bits >> (8 * i));
}

void opentrack_measure(vrsim *sim) {
  OpentrackSender &ot = sim->udp.opentrack;
  const vrsim_opentrack_config &c = ot.cfg;
  const long long arrival = sim->now_ns + to_ns(c.latency_s);
  if (ot.imp.stopped || ot.rng.chance(ot.imp.drop_rate)) return;
  if (ot.rng.chance(ot.imp.garbage_rate)) {
    unsigned char junk[packet_bytes - 1];
    const int n = 1 + static_cast<int>(ot.rng.next() % (packet_bytes - 1));
    for (int i = 0; i < n; ++i) junk[i] = static_cast<unsigned char>(ot.rng.next());
    deliver(sim, c.address, c.port, junk, n, arrival);
    ++ot.sent;
  }
  dmat pose;
  vrsim_get_pose(sim, VRSIM_HEAD, vrsim_now(sim), pose);
  double v[6];
  double roll, pitch, yaw;
  vrsim_decompose_6d(pose, &v[0], &v[1], &v[2], &roll, &pitch, &yaw);
  v[3] = yaw * deg_per_rad;
  v[4] = pitch * deg_per_rad;
  v[5] = roll * deg_per_rad;
  for (int i = 0; i < 3; ++i)
    if (ot.imp.distance_noise_cm > 0.0) v[i] += ot.rng.gauss() * ot.imp.distance_noise_cm;
  unsigned char bytes[packet_bytes + frame_number_bytes];
  for (int i = 0; i < 6; ++i) write_le_double(v[i] * c.axis_sign[i], bytes + 8 * i);
  for (int i = 0; i < frame_number_bytes; ++i)
    bytes[packet_bytes + i] = static_cast<unsigned char>(ot.frame >> (8 * i));
  ++ot.frame;
  deliver(sim, c.address, c.port, bytes,
          c.framed ? packet_bytes + frame_number_bytes : packet_bytes, arrival);
  ++ot.sent;
}

}  // namespace

namespace vrsim_detail {

int udp_open(vrsim *sim, unsigned address, int port, int *fd) {
  vrsim_event &e = log_event(sim, VRSIM_EV_UDP_OPEN, port, -1);
  e.result = -1;
  if (fd == nullptr || port < 0 || port > last_port) return e.err = EINVAL;
  if (sim->udp.faults.open_errno != 0) return e.err = sim->udp.faults.open_errno;
  if (port == 0) {
    while (sim->udp.next_port <= last_port && bound_to(sim, 0, sim->udp.next_port))
      ++sim->udp.next_port;
    if (sim->udp.next_port > last_port) return e.err = EADDRINUSE;
    port = sim->udp.next_port++;
  } else if (bound_to(sim, address, port) != nullptr) {
    return e.err = EADDRINUSE;
  }
  const int d = sim->next_fd++;
  sim->udp.sockets.push_back(UdpSocket{d, address, port, {}});
  *fd = d;
  e.fd = e.result = d;
  return 0;
}

int udp_receive(vrsim *sim, int fd, unsigned char *bytes, int size, long long *arrival_ns) {
  UdpSocket *s = find_socket(sim, fd);
  if (s == nullptr || bytes == nullptr || size < 0 || s->waiting.empty() ||
      s->waiting.front().arrival_ns > sim->now_ns)
    return -1;
  const Datagram &d = s->waiting.front();
  const int length = static_cast<int>(d.bytes.size());
  std::memcpy(bytes, d.bytes.data(), static_cast<std::size_t>(std::min(length, size)));
  if (arrival_ns) *arrival_ns = sim->hrtime_origin_ns + d.arrival_ns;
  s->waiting.pop_front();
  return length;
}

int udp_send(vrsim *sim, int fd, unsigned address, int port, const unsigned char *bytes,
             int count) {
  vrsim_event &e = log_event(sim, VRSIM_EV_UDP_SEND, port, fd);
  e.count = count;
  if (bytes && count > 0) std::memcpy(e.bytes, bytes, std::min<std::size_t>(count, sizeof e.bytes));
  if (find_socket(sim, fd) == nullptr) return e.err = EBADF;
  if (bytes == nullptr || count < 0 || count > largest_datagram_bytes || port <= 0 ||
      port > last_port)
    return e.err = EINVAL;
  if (sim->udp.faults.send_errno != 0) return e.err = sim->udp.faults.send_errno;
  if (sim->udp.sent.size() < sent_kept)
    sim->udp.sent.push_back(
        Datagram{sim->now_ns, address, port, std::vector<unsigned char>(bytes, bytes + count)});
  deliver(sim, address, port, bytes, count, sim->now_ns);
  return 0;
}

void udp_close(vrsim *sim, int fd) {
  log_event(sim, VRSIM_EV_UDP_CLOSE, -1, fd);
  auto &v = sim->udp.sockets;
  v.erase(std::remove_if(v.begin(), v.end(), [fd](const UdpSocket &s) { return s.fd == fd; }),
          v.end());
}

long long udp_next_event(const vrsim *sim) {
  return sim->udp.opentrack.running ? sim->udp.opentrack.next_ns : never_ns;
}

void udp_event(vrsim *sim) {
  OpentrackSender &ot = sim->udp.opentrack;
  opentrack_measure(sim);
  ot.next_ns += std::max(1LL, to_ns(1.0 / ot.cfg.rate_hz));
}

}  // namespace vrsim_detail

extern "C" {

VRSIM_API void vrsim_opentrack_config_init(vrsim_opentrack_config *cfg) {
  if (!cfg) return;
  *cfg = vrsim_opentrack_config{};
  cfg->rate_hz = 30.0;
  cfg->latency_s = 0.02;
  cfg->phase_s = 0.001;
  cfg->address = 0x7F000001u;
  cfg->port = 4242;
  cfg->framed = 0;
  for (int &s : cfg->axis_sign) s = 1;
}

VRSIM_API void vrsim_start_opentrack(vrsim *sim, const vrsim_opentrack_config *cfg) {
  OpentrackSender &ot = sim->udp.opentrack;
  vrsim_opentrack_config c;
  vrsim_opentrack_config_init(&c);
  if (cfg) c = *cfg;
  if (!(c.rate_hz > 0.0)) c.rate_hz = 30.0;
  c.rate_hz = std::min(c.rate_hz, max_rate_hz);
  if (!(c.latency_s >= 0.0)) c.latency_s = 0.0;
  if (!(c.phase_s >= 0.0)) c.phase_s = 0.0;
  for (int &s : c.axis_sign) s = s < 0 ? -1 : 1;
  ot.cfg = c;
  ot.running = true;
  ot.frame = 0;
  ot.next_ns = sim->now_ns + to_ns(c.phase_s);
}

VRSIM_API void vrsim_stop_opentrack(vrsim *sim) {
  sim->udp.opentrack.running = false;
  sim->udp.opentrack.next_ns = never_ns;
}

VRSIM_API void vrsim_set_opentrack_imperfections(vrsim *sim, const vrsim_imperfections *imp) {
  sim->udp.opentrack.imp = imp ? *imp : vrsim_imperfections{};
}

VRSIM_API int vrsim_opentrack_sent(const vrsim *sim) {
  return sim->udp.opentrack.sent;
}

VRSIM_API int vrsim_udp_inject(vrsim *sim, unsigned address, int port, const unsigned char *bytes,
                               int count, double delay_s) {
  if (!sim || (!bytes && count > 0) || count < 0 || count > largest_datagram_bytes ||
      !(delay_s >= 0.0))
    return 0;
  static const unsigned char none = 0;
  return deliver(sim, address, port, bytes ? bytes : &none, count, sim->now_ns + to_ns(delay_s))
             ? 1
             : 0;
}

VRSIM_API int vrsim_udp_sent_count(const vrsim *sim) {
  return static_cast<int>(sim->udp.sent.size());
}

VRSIM_API int vrsim_udp_sent_at(const vrsim *sim, int i, unsigned *address, int *port,
                                double *time_s, unsigned char *bytes, int size) {
  if (i < 0 || i >= static_cast<int>(sim->udp.sent.size())) return -1;
  const Datagram &d = sim->udp.sent[static_cast<std::size_t>(i)];
  if (address) *address = d.address;
  if (port) *port = d.port;
  if (time_s) *time_s = static_cast<double>(d.arrival_ns) / static_cast<double>(ns_per_s);
  const int length = static_cast<int>(d.bytes.size());
  if (bytes && size > 0)
    std::memcpy(bytes, d.bytes.data(), static_cast<std::size_t>(std::min(length, size)));
  return length;
}

VRSIM_API int vrsim_udp_open_count(const vrsim *sim) {
  return static_cast<int>(sim->udp.sockets.size());
}

VRSIM_API void vrsim_set_udp_faults(vrsim *sim, const vrsim_udp_faults *faults) {
  sim->udp.faults = faults ? *faults : vrsim_udp_faults{};
}

}  // extern "C"
