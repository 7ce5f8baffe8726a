// Internal structure of the simulator, shared between its files (not installed).
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include "vrsim/vrsim.h"

namespace vrsim_detail {

constexpr long long ns_per_s = 1000000000LL;
constexpr long long never_ns = INT64_MAX;
// One character as every device sends it (8N1): start bit, 8 data bits, stop bit.
constexpr long long bits_per_byte = 10;
constexpr int logitech_baud = 19200;
constexpr int cyberman_baud = 4800;
constexpr int cyberman_wake_baud = 1200;
constexpr double cm_per_thou = 2.54 / 1000.0;

// Deterministic random numbers (splitmix64), with normal deviates by the polar method.
class Rng {
 public:
  void seed(std::uint64_t s) {
    state_ = s;
    have_spare_ = false;
  }
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }  // [0, 1)
  bool chance(double p) { return p > 0.0 && uniform() < p; }
  double gauss();

 private:
  std::uint64_t state_ = 0;
  bool have_spare_ = false;
  double spare_ = 0.0;
};

// A byte waiting to be sent on a port's line.
struct OutByte {
  long long ready_ns;  // the device hands it to its transmitter at this time
  unsigned char byte;
  bool injected;  // stored in the ring as it is, whatever the line settings
};

struct Module {
  std::string name;
  int pop_errno;
};

// The host side of a serial port: what the library's calls have done to it.
struct Line {
  int open_count = 0;
  vr_line_settings settings{};
  bool dtr = false, rts = false;
  bool nodelay = false;
  std::vector<Module> modules;
  vrsim_line_faults faults{};
  int sets_since_faults = 0;
  std::vector<unsigned char> written;
};

enum class ParseState { idle, star, count, params, bang };

struct LogitechUnit {
  vrsim_lt_config cfg{};
  int mode = VRSIM_MODE_6D;
  bool streaming = false;
  bool tx_on = true;
  int filter_length = 0;
  int slave_type = -1;
  long long busy_until_ns = 0;
  long long op_info_due_ns = never_ns;
  long long next_cycle_ns = 0;     // next ultrasonic cycle
  long long last_measure_ns = -1;  // newest cycle the unit measured in; -1 none
  // Measurement to a streamed 6D report's first byte; -1: the usual 5 ms.
  long long report_6d_delay_ns = -1;
  bool clock_stalled = false;
  long long stalled_ms = 0;
  int resets = 0, op_info_requests = 0, demands = 0, unknown_commands = 0, commands = 0;
  // Command parser.
  ParseState parse = ParseState::idle;
  unsigned char command = 0;
  int params_needed = 0, params_have = 0;
  unsigned char params[8] = {};
  long long params_deadline_ns = never_ns;
};

struct CyberMan {
  bool woken = false;      // modem-line wake-up seen, waiting for "*S"
  bool streaming = false;  // sending packets
  double rate_hz = 40.0;
  long long next_packet_ns = never_ns;
  int tactile = 0;
  ParseState parse = ParseState::idle;
  int params_have = 0;
};

struct DynaSight {
  double rate_hz = 60.0;
  long long next_record_ns = 0;
};

struct Port {
  int index = 0;
  int kind = VRSIM_NOTHING;
  bool powered = true;
  Line line;
  std::deque<OutByte> queue;
  long long line_free_scaled = 0;  // end of the last character sent, in ns * baud
  int line_free_baud = logitech_baud;
  Rng rng;     // imperfections
  Rng garble;  // bytes received at the wrong settings
  vrsim_imperfections imp{};
  LogitechUnit lt;
  CyberMan cm;
  DynaSight ds;
};

// A datagram on its way to a virtual socket, or kept as sent by the library.
struct Datagram {
  long long arrival_ns;
  unsigned address;
  int port;
  std::vector<unsigned char> bytes;
};

struct UdpSocket {
  int fd;
  unsigned address;
  int port;
  std::deque<Datagram> waiting;  // in arrival order
};

struct OpentrackSender {
  bool running = false;
  vrsim_opentrack_config cfg{};
  long long next_ns = never_ns;
  unsigned frame = 0;
  int sent = 0;
  vrsim_imperfections imp{};
  Rng rng;
};

struct Udp {
  std::vector<UdpSocket> sockets;
  std::vector<Datagram> sent;  // by the library
  vrsim_udp_faults faults{};
  int next_port = 49152;
  OpentrackSender opentrack;
};

struct Truth {
  dmat fixed;
  vrsim_pose_fn fn = nullptr;
  void *user = nullptr;
  int buttons = 0;
};

// A truth scripted in a context's plate coordinates (vrsim_set_plate_fn), converted at each
// evaluation; the fixed pose in force when it was set stands in for a point it cannot convert.
struct PlateScript {
  const vr_ctx *ctx = nullptr;
  vrsim_plate_pose_fn fn = nullptr;
  void *user = nullptr;
  int which = VRSIM_HEAD;
  dmat fallback = {};
};

struct Descriptor {
  int fd;
  int port;  // 0/1 for a line, -1 for the capture device
  bool open;
};

struct ReplayByte {
  long long time_ns;
  int port;
  unsigned char byte;
};

}  // namespace vrsim_detail

struct vrsim {
  std::uint64_t seed = 0;
  long long now_ns = 0;
  long long cpu_ns = 0;
  long long cpu_step_ns = 1000000;
  long long hrtime_origin_ns = 1000LL * vrsim_detail::ns_per_s;
  bool last_call_hrv = false;

  vrsim_detail::Truth truth[2];
  vrsim_detail::PlateScript plate_script[2];
  vrsim_transmitter tx{};
  vrsim_detail::Port port[2];
  vrsim_detail::Udp udp;

  // The CyberMan's controls (kept here so that they survive re-plugging).
  int cm_x = 0, cm_y = 0, cm_buttons = 0, cm_states[4] = {};

  // Call-by-call fault injection: the fail_at-th call that can fail, counted from the last
  // vrsim_fail_call, fails with fail_errno.
  long long failable_calls = 0;
  long long fail_at = 0;
  int fail_errno = 0;
  bool fail_fired = false;

  bool open_unplugged = false;
  int capture_fault = VRSIM_CAPTURE_OK;
  int next_fd = 10;
  std::vector<vrsim_detail::Descriptor> fds;

  std::vector<vrsim_event> events;

  std::FILE *record = nullptr;
  bool record_failed = false;
  std::vector<vrsim_detail::ReplayByte> replay;
  std::size_t replay_next = 0;
  bool replaying = false;

  // Where bytes go when their last bit has arrived: the capture rings (null), or a wall-clock
  // driver that writes them to real lines (vrsim_wall.h).
  void (*byte_sink)(void *user, int port, unsigned char byte) = nullptr;
  void *byte_sink_user = nullptr;
};

namespace vrsim_detail {

// Core (vrsim.cpp).
// Virtual time of the next thing any device or line does (never_ns: nothing scheduled).
long long next_event_ns(const vrsim *sim);
void queue_bytes(vrsim *sim, int port, const unsigned char *bytes, int n, long long ready_ns);
int device_baud(const Port &p);
long long cycle_ns(const vrsim *sim);
long long phase_ns(const vrsim *sim);

// The platform's UDP entries and the opentrack sender (vrsim_udp.cpp).
int udp_open(vrsim *sim, unsigned address, int port, int *fd);
int udp_receive(vrsim *sim, int fd, unsigned char *bytes, int size, long long *arrival_ns);
int udp_send(vrsim *sim, int fd, unsigned address, int port, const unsigned char *bytes, int count);
void udp_close(vrsim *sim, int fd);
long long udp_next_event(const vrsim *sim);
void udp_event(vrsim *sim);
// Shared with the core (vrsim.cpp).
vrsim_event &log_event(vrsim *sim, int kind, int port, int fd);

// Devices (vrsim_devices.cpp).
void device_power_on(vrsim *sim, Port &p);
long long device_next_event(const vrsim *sim, const Port &p);
void device_event(vrsim *sim, Port &p);
void device_receive(vrsim *sim, Port &p, unsigned char byte);
void device_modem(vrsim *sim, Port &p, bool rts_rising);
// Whether the device currently understands the line at its settings (bytes both ways).
bool device_line_matches(const Port &p);
void lt_stall_clock(vrsim *sim, Port &p, bool stalled);
long long lt_unit_clock_ms(const vrsim *sim, const Port &p, long long t_ns);
bool lt_measuring(const vrsim *sim, const Port &p);
// Puts a unit's next cycle on the transmitter's cycle grid after the present time.
void lt_align_cycle(const vrsim *sim, Port &p);
// Receiver geometry of a unit in its sensor frame (mll, mlr, mtop).
void lt_microphones(const Port &p, dpt out[3]);
// The nine speaker-to-microphone distances, wire order, of a cycle whose stop fires at t.
void lt_distances(const vrsim *sim, const Port &p, double t, double out[9]);
// Small matrix helpers, so the simulator does not lean on the library it checks.
void mat_identity(dmat m);
void point_through(const dpt p, const dmat m, dpt out);

}  // namespace vrsim_detail
