// The simulated devices: Logitech control units (6D reports and raw ultrasonic records), the
// CyberMan and the DynaSight, with their wire formats.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "vrsim_internal.h"

namespace vrsim_detail {

namespace {

constexpr long long ms_ns = 1000000;
constexpr long long op_info_latency_ns = 10 * ms_ns;
constexpr long long report_latency_ns = 5 * ms_ns;  // measurement to first byte on the line
constexpr long long demand_latency_ns = 2 * ms_ns;
constexpr long long params_timeout_ns = 50 * ms_ns;
constexpr long long cyberman_start_ns = 100 * ms_ns;
constexpr double speaker_interval_s = 0.02 / 3.0;  // sll, slr, stop fire this far apart
constexpr int unit_clock_wrap_ms = 60000;
constexpr int op_info_bytes = 30;
constexpr int report_6d_bytes = 16;
constexpr int raw_record_bytes = 24;
constexpr int max_params = 8;

constexpr int socket_glasses = 11;
constexpr int socket_mouse = 4;
constexpr int socket_none = 15;
constexpr int op_transmitter_here = 2;

constexpr double wire_units_per_degree = 40.0;
constexpr int wire_angle_full_turn = 360 * 40;
constexpr double ds_cm_per_unit = 0.005;

double seconds(long long ns) {
  return static_cast<double>(ns) / static_cast<double>(ns_per_s);
}

int clamp_int(long long v, int lo, int hi) {
  return static_cast<int>(std::min<long long>(hi, std::max<long long>(lo, v)));
}

// The receiver truth a unit measures.
int truth_of(const Port &p) {
  return p.lt.cfg.receiver == VRSIM_RX_MOUSE ? VRSIM_MOUSE : VRSIM_HEAD;
}

int socket_code(const vrsim_lt_config &cfg) {
  if (cfg.socket_code >= 0) return cfg.socket_code & 0x7F;
  return cfg.receiver == VRSIM_RX_GLASSES ? socket_glasses
         : cfg.receiver == VRSIM_RX_MOUSE ? socket_mouse
                                          : socket_none;
}

void put_le16(unsigned char *at, int v) {
  at[0] = static_cast<unsigned char>(v & 0xFF);
  at[1] = static_cast<unsigned char>((v >> 8) & 0xFF);
}

// Sends one measurement message with the device's imperfections: it may be dropped, or
// preceded by garbage.
void send_measurement(vrsim *sim, Port &p, const unsigned char *bytes, int n, long long ready) {
  if (p.imp.stopped) return;
  if (p.rng.chance(p.imp.drop_rate)) return;
  if (p.rng.chance(p.imp.garbage_rate)) {
    unsigned char junk[4];
    int count = 1 + static_cast<int>(p.rng.next() % 4);
    for (int i = 0; i < count; ++i) junk[i] = static_cast<unsigned char>(p.rng.next());
    queue_bytes(sim, p.index, junk, count, ready);
  }
  queue_bytes(sim, p.index, bytes, n, ready);
}

double noisy(Port &p, double v) {
  return p.imp.distance_noise_cm > 0.0 ? v + p.rng.gauss() * p.imp.distance_noise_cm : v;
}

// ---- Logitech control unit -------------------------------------------------------------------

void lt_power_on(vrsim *sim, Port &p) {
  LogitechUnit &u = p.lt;
  u.mode = VRSIM_MODE_6D;
  u.streaming = false;
  u.tx_on = true;
  u.filter_length = 0;
  u.slave_type = -1;
  u.busy_until_ns = sim->now_ns;
  u.op_info_due_ns = never_ns;
  u.last_measure_ns = -1;
  u.parse = ParseState::idle;
  u.params_deadline_ns = never_ns;
  lt_align_cycle(sim, p);
}

void lt_send_op_info(vrsim *sim, Port &p) {
  if (p.imp.stopped) return;
  const vrsim_lt_config &cfg = p.lt.cfg;
  const bool has_tx = sim->tx.port == p.index;
  unsigned char b[op_info_bytes] = {};
  b[0] = static_cast<unsigned char>(0x80 | (cfg.op_byte0 & 0x3F));
  b[6] = has_tx ? op_transmitter_here : 0;
  b[8] = static_cast<unsigned char>(socket_code(cfg));
  int type = has_tx ? sim->tx.type : std::max(0, p.lt.slave_type);
  b[9] = static_cast<unsigned char>(type & 0x7F);
  put_le16(b + 10, cfg.rx_geom_thou[0]);
  put_le16(b + 12, cfg.rx_geom_thou[1]);
  b[14] = static_cast<unsigned char>(cfg.op_byte14 & 0x7F);
  for (int i = 0; i < 3; ++i) put_le16(b + 15 + 2 * i, sim->tx.geom_thou[i]);
  queue_bytes(sim, p.index, b, op_info_bytes, sim->now_ns);
}

int wire_buttons_raw(int buttons) {
  int b = buttons & 15;
  return (b & 10) | ((b & 1) << 2) | ((b & 4) >> 2);
}

void encode_6d_values(double x, double y, double z, double roll, double pitch, double yaw,
                      int status, unsigned char out[16]) {
  out[0] = static_cast<unsigned char>(0x80 | (status & 0x7F));
  const double xyz[3] = {x, y, z};
  for (int i = 0; i < 3; ++i) {
    int thou = clamp_int(std::llround(xyz[i] / cm_per_thou), -32768, 32767);
    auto v = static_cast<unsigned>(static_cast<std::uint16_t>(thou));
    out[1 + 3 * i] = static_cast<unsigned char>(((v >> 15) & 1) << 1 | ((v >> 14) & 1));
    out[2 + 3 * i] = static_cast<unsigned char>((v >> 7) & 0x7F);
    out[3 + 3 * i] = static_cast<unsigned char>(v & 0x7F);
  }
  const double angles[3] = {pitch, yaw, roll};
  for (int i = 0; i < 3; ++i) {
    long long a = std::llround(angles[i] * 180.0 / std::numbers::pi * wire_units_per_degree);
    a %= wire_angle_full_turn;
    if (a < 0) a += wire_angle_full_turn;
    out[10 + 2 * i] = static_cast<unsigned char>((a >> 7) & 0x7F);
    out[11 + 2 * i] = static_cast<unsigned char>(a & 0x7F);
  }
}

void decompose(const dmat m, double *x, double *y, double *z, double *roll, double *pitch,
               double *yaw) {
  // m = Rz(roll) Rx(pitch) Ry(yaw) T: row 2 of the rotation is (cp sy, -sp, cp cy), column 1 is
  // (sr cp, cr cp, -sp).
  double sp = std::clamp(-m[2][1], -1.0, 1.0);
  double p = std::asin(sp);
  double cp = std::cos(p);
  double r, yw;
  if (cp > 1e-12) {
    yw = std::atan2(m[2][0], m[2][2]);
    r = std::atan2(m[0][1], m[1][1]);
  } else {
    // Pitched straight up or down: only roll - yaw is defined; put it all in roll.
    yw = 0.0;
    r = std::atan2(m[0][2] * sp, m[0][0]);
  }
  *x = m[3][0];
  *y = m[3][1];
  *z = m[3][2];
  *roll = r;
  *pitch = p;
  *yaw = yw;
}

void lt_send_6d(vrsim *sim, Port &p, long long t_ns, long long ready) {
  dmat pose;
  vrsim_get_pose(sim, truth_of(p), seconds(t_ns), pose);
  double x, y, z, roll, pitch, yaw;
  decompose(pose, &x, &y, &z, &roll, &pitch, &yaw);
  x = noisy(p, x);
  y = noisy(p, y);
  z = noisy(p, z);
  unsigned char b[report_6d_bytes];
  encode_6d_values(x, y, z, roll, pitch, yaw, sim->truth[truth_of(p)].buttons, b);
  send_measurement(sim, p, b, report_6d_bytes, ready);
}

void lt_send_raw(vrsim *sim, Port &p, long long t_ns, long long ready) {
  const double cpc = sim->tx.cm_per_count;
  double d[9];
  lt_distances(sim, p, seconds(t_ns), d);
  unsigned u[12];
  u[0] = 0xF0F0u | static_cast<unsigned>(wire_buttons_raw(sim->truth[truth_of(p)].buttons));
  u[4] = static_cast<unsigned>(
      clamp_int(std::llround(sim->tx.geom_thou[2] * cm_per_thou / cpc), 0, 65535));
  u[8] = static_cast<unsigned>(lt_unit_clock_ms(sim, p, t_ns));
  static constexpr int slot[9] = {1, 2, 3, 5, 6, 7, 9, 10, 11};
  for (int k = 0; k < 9; ++k) {
    double dist = noisy(p, d[k]);
    if (p.rng.chance(p.imp.outlier_rate)) dist += p.imp.outlier_cm;
    u[slot[k]] = static_cast<unsigned>(clamp_int(std::llround(dist / cpc), 0, 65535));
  }
  unsigned char b[raw_record_bytes];
  for (int i = 0; i < 12; ++i) put_le16(b + 2 * i, static_cast<int>(u[i]));
  send_measurement(sim, p, b, raw_record_bytes, ready);
}

void lt_send_measurement(vrsim *sim, Port &p, long long t_ns, long long ready) {
  if (p.lt.mode == VRSIM_MODE_RAW)
    lt_send_raw(sim, p, t_ns, ready);
  else
    lt_send_6d(sim, p, t_ns, ready);
}

void lt_reset(vrsim *sim, Port &p) {
  int resets = p.lt.resets;
  lt_power_on(sim, p);
  p.lt.resets = resets + 1;
  p.lt.busy_until_ns = sim->now_ns + std::llround(p.lt.cfg.reset_busy_s * 1e9);
}

void lt_execute_params(vrsim *sim, Port &p) {
  LogitechUnit &u = p.lt;
  u.params_deadline_ns = never_ns;
  u.parse = ParseState::idle;
  ++u.commands;
  for (int i = u.params_have; i < max_params; ++i) u.params[i] = 0;
  if (u.command == '$' && u.params_needed >= 2) {
    if (u.params[0] == 7)
      u.filter_length = u.params[1];
    else if (u.params[0] == 1)
      u.slave_type = u.params[1];
    else
      ++u.unknown_commands;
  } else if (u.command != 'T') {
    ++u.unknown_commands;
  }
}

void lt_execute(vrsim *sim, Port &p, unsigned char c) {
  LogitechUnit &u = p.lt;
  u.parse = ParseState::idle;
  ++u.commands;
  switch (c) {
    case 'R':
      lt_reset(sim, p);
      break;
    case 'm':
      ++u.op_info_requests;
      u.op_info_due_ns = sim->now_ns + op_info_latency_ns;
      break;
    case 0xF2:
      u.mode = VRSIM_MODE_RAW;
      break;
    case '>':
      u.mode = VRSIM_MODE_6D;
      break;
    case 'S':
      u.streaming = true;
      break;
    case 'D':
      u.streaming = false;
      break;
    case 'd':
      ++u.demands;
      if (lt_measuring(sim, p) && u.last_measure_ns >= 0)
        lt_send_measurement(sim, p, u.last_measure_ns, sim->now_ns + demand_latency_ns);
      break;
    case 'O':
      u.tx_on = false;
      break;
    case 'A':
      u.tx_on = true;
      break;
    case 'H':
    case 'h':
    case 'G':
      break;
    default:
      ++u.unknown_commands;
      break;
  }
}

void lt_receive(vrsim *sim, Port &p, unsigned char c) {
  LogitechUnit &u = p.lt;
  if (sim->now_ns < u.busy_until_ns) {
    u.parse = ParseState::idle;  // still resetting: deaf
    return;
  }
  switch (u.parse) {
    case ParseState::idle:
      if (c == '*') u.parse = ParseState::star;
      if (c == '!') u.parse = ParseState::bang;
      break;
    case ParseState::star:
      if (c == '$') {
        u.command = c;
        u.parse = ParseState::count;
        u.params_deadline_ns = sim->now_ns + params_timeout_ns;
      } else {
        lt_execute(sim, p, c);
      }
      break;
    case ParseState::bang:
      if (c == 'T') {
        u.command = c;
        u.params_needed = 3;
        u.params_have = 0;
        u.parse = ParseState::params;
        u.params_deadline_ns = sim->now_ns + params_timeout_ns;
      } else {
        ++u.unknown_commands;
        u.parse = ParseState::idle;
      }
      break;
    case ParseState::count:
      u.params_needed = std::min<int>(c, max_params);
      u.params_have = 0;
      u.parse = ParseState::params;
      u.params_deadline_ns = sim->now_ns + params_timeout_ns;
      if (u.params_needed == 0) lt_execute_params(sim, p);
      break;
    case ParseState::params:
      u.params[u.params_have++] = c;
      u.params_deadline_ns = sim->now_ns + params_timeout_ns;
      if (u.params_have >= u.params_needed) lt_execute_params(sim, p);
      break;
  }
}

void lt_event(vrsim *sim, Port &p) {
  LogitechUnit &u = p.lt;
  const long long now = sim->now_ns;
  if (u.params_deadline_ns <= now) lt_execute_params(sim, p);
  if (u.op_info_due_ns <= now) {
    u.op_info_due_ns = never_ns;
    lt_send_op_info(sim, p);
  }
  if (u.next_cycle_ns <= now) {
    long long t = u.next_cycle_ns;
    u.next_cycle_ns += cycle_ns(sim);
    if (lt_measuring(sim, p)) {
      u.last_measure_ns = t;
      const long long delay = u.mode == VRSIM_MODE_6D && u.report_6d_delay_ns >= 0
                                  ? u.report_6d_delay_ns
                                  : report_latency_ns;
      if (u.streaming) lt_send_measurement(sim, p, t, t + delay);
    }
  }
}

// ---- CyberMan --------------------------------------------------------------------------------

long long period_ns(double rate_hz) {
  return std::max(1LL, std::llround(1e9 / (rate_hz > 0.0 ? rate_hz : 1.0)));
}

void cm_receive(vrsim *sim, Port &p, unsigned char c) {
  CyberMan &cm = p.cm;
  switch (cm.parse) {
    case ParseState::idle:
      if (c == '*') cm.parse = ParseState::star;
      if (c == '!') cm.parse = ParseState::bang;
      break;
    case ParseState::star:
      cm.parse = ParseState::idle;
      if (c == 'S' && cm.woken) {
        cm.woken = false;
        cm.streaming = true;
        cm.next_packet_ns = sim->now_ns + cyberman_start_ns;
      }
      break;
    case ParseState::bang:
      cm.parse = c == 'T' ? ParseState::params : ParseState::idle;
      cm.params_have = 0;
      break;
    default:
      if (++cm.params_have == 3) {
        cm.parse = ParseState::idle;
        if (cm.streaming) ++cm.tactile;
      }
      break;
  }
}

void cm_event(vrsim *sim, Port &p) {
  CyberMan &cm = p.cm;
  cm.next_packet_ns += period_ns(cm.rate_hz);
  unsigned char b[5];
  vrsim_encode_cyberman(sim->cm_x, sim->cm_y, sim->cm_buttons, sim->cm_states, b);
  send_measurement(sim, p, b, 5, sim->now_ns);
}

// ---- DynaSight -------------------------------------------------------------------------------

void ds_event(vrsim *sim, Port &p) {
  p.ds.next_record_ns += period_ns(p.ds.rate_hz);
  dmat pose;
  vrsim_get_pose(sim, VRSIM_HEAD, seconds(sim->now_ns), pose);
  unsigned char b[8];
  vrsim_encode_dynasight(noisy(p, pose[3][0]), noisy(p, pose[3][1]), noisy(p, pose[3][2]), b);
  send_measurement(sim, p, b, 8, sim->now_ns);
}

}  // namespace

void mat_identity(dmat m) {
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) m[i][j] = i == j ? 1.0 : 0.0;
}

void point_through(const dpt p, const dmat m, dpt out) {
  dpt r;
  for (int j = 0; j < 3; ++j) r[j] = p[0] * m[0][j] + p[1] * m[1][j] + p[2] * m[2][j] + m[3][j];
  std::memcpy(out, r, sizeof r);
}

void lt_align_cycle(const vrsim *sim, Port &p) {
  long long c = cycle_ns(sim), ph = phase_ns(sim);
  long long k = sim->now_ns <= ph ? 0 : (sim->now_ns - ph + c - 1) / c;
  p.lt.next_cycle_ns = ph + k * c;
}

void lt_microphones(const Port &p, dpt out[3]) {
  const vrsim_lt_config &cfg = p.lt.cfg;
  // The same arithmetic as the library's conversion of the reported geometry, so that the
  // true triangle is the one the library solves with.
  double b = cfg.rx_geom_thou[0] * 2.54 / 1000.0;
  double s = cfg.rx_geom_thou[1] * 2.54 / 1000.0 + cfg.side_extra_cm;
  double h = cfg.top_height_cm;
  if (!(h > 0.0)) {
    double h2 = s * s - (b / 2) * (b / 2);
    h = h2 > 0.0 ? std::sqrt(h2) : 0.0;
  }
  // Sensor frame: the solving frame with x and z reversed.
  out[0][0] = b / 2, out[0][1] = 0.0, out[0][2] = 0.0;             // mll
  out[1][0] = -b / 2, out[1][1] = 0.0, out[1][2] = 0.0;            // mlr
  out[2][0] = -cfg.top_offset_cm, out[2][1] = h, out[2][2] = 0.0;  // mtop
}

void lt_distances(const vrsim *sim, const Port &p, double t, double out[9]) {
  dpt mic[3];
  lt_microphones(p, mic);
  static constexpr int mic_order[3] = {1, 0, 2};  // mlr, mll, mtop
  for (int s = 0; s < 3; ++s) {
    dpt speaker;
    vrsim_speaker(sim, s, speaker);
    dmat pose;
    vrsim_get_pose(sim, truth_of(p), t - (2 - s) * speaker_interval_s, pose);
    for (int m = 0; m < 3; ++m) {
      dpt at;
      point_through(mic[mic_order[m]], pose, at);
      double dx = at[0] - speaker[0], dy = at[1] - speaker[1], dz = at[2] - speaker[2];
      out[3 * s + m] = std::sqrt(dx * dx + dy * dy + dz * dz);
    }
  }
}

long long lt_unit_clock_ms(const vrsim *sim, const Port &p, long long t_ns) {
  if (p.lt.clock_stalled) return p.lt.stalled_ms;
  const vrsim_lt_config &cfg = p.lt.cfg;
  double unit_s = cfg.clock_offset_s + seconds(t_ns) * (1.0 + cfg.clock_drift_ppm * 1e-6);
  auto ms = static_cast<long long>(std::floor(unit_s * 1000.0)) % unit_clock_wrap_ms;
  return ms < 0 ? ms + unit_clock_wrap_ms : ms;
}

void lt_stall_clock(vrsim *sim, Port &p, bool stalled) {
  if (stalled && !p.lt.clock_stalled) p.lt.stalled_ms = lt_unit_clock_ms(sim, p, sim->now_ns);
  p.lt.clock_stalled = stalled;
}

bool lt_measuring(const vrsim *sim, const Port &p) {
  if (p.kind != VRSIM_LOGITECH || !p.powered || p.lt.cfg.receiver == VRSIM_RX_NONE) return false;
  if (sim->now_ns < p.lt.busy_until_ns) return false;
  int tp = sim->tx.port;
  if (tp != 0 && tp != 1) return false;
  const Port &master = sim->port[tp];
  if (master.kind != VRSIM_LOGITECH || !master.powered || !master.lt.tx_on) return false;
  if (tp != p.index && p.lt.cfg.strict_slave && p.lt.slave_type != sim->tx.type) return false;
  return true;
}

void device_power_on(vrsim *sim, Port &p) {
  switch (p.kind) {
    case VRSIM_LOGITECH:
      lt_power_on(sim, p);
      break;
    case VRSIM_CYBERMAN:
      p.cm.woken = false;
      p.cm.streaming = false;
      p.cm.next_packet_ns = never_ns;
      p.cm.parse = ParseState::idle;
      break;
    case VRSIM_DYNASIGHT: {
      long long period = period_ns(p.ds.rate_hz);
      p.ds.next_record_ns = (sim->now_ns / period + 1) * period;
      break;
    }
    default:
      break;
  }
}

long long device_next_event(const vrsim *sim, const Port &p) {
  if (!p.powered) return never_ns;
  switch (p.kind) {
    case VRSIM_LOGITECH:
      return std::min({p.lt.next_cycle_ns, p.lt.op_info_due_ns, p.lt.params_deadline_ns});
    case VRSIM_CYBERMAN:
      return p.cm.streaming ? p.cm.next_packet_ns : never_ns;
    case VRSIM_DYNASIGHT:
      return p.ds.next_record_ns;
    default:
      return never_ns;
  }
}

void device_event(vrsim *sim, Port &p) {
  switch (p.kind) {
    case VRSIM_LOGITECH:
      lt_event(sim, p);
      break;
    case VRSIM_CYBERMAN:
      cm_event(sim, p);
      break;
    case VRSIM_DYNASIGHT:
      ds_event(sim, p);
      break;
    default:
      break;
  }
}

void device_receive(vrsim *sim, Port &p, unsigned char byte) {
  if (!p.powered) return;
  if (p.kind == VRSIM_LOGITECH) lt_receive(sim, p, byte);
  if (p.kind == VRSIM_CYBERMAN) cm_receive(sim, p, byte);
}

void device_modem(vrsim *sim, Port &p, bool rts_rising) {
  if (p.kind != VRSIM_CYBERMAN || !p.powered || !rts_rising) return;
  // The wake-up: the CyberMan falls silent and waits for "*S" at its start-up speed.
  p.cm.woken = true;
  p.cm.streaming = false;
  p.cm.next_packet_ns = never_ns;
  p.cm.parse = ParseState::idle;
}

bool device_line_matches(const Port &p) {
  int baud = logitech_baud, bits = 8;
  if (p.kind == VRSIM_CYBERMAN && !p.cm.streaming) baud = cyberman_wake_baud, bits = 7;
  if (p.kind == VRSIM_CYBERMAN && p.cm.streaming) baud = cyberman_baud;
  const vr_line_settings &s = p.line.settings;
  return s.baud == baud && s.data_bits == bits && s.parity == 0;
}

}  // namespace vrsim_detail

using namespace vrsim_detail;

extern "C" {

VRSIM_API void vrsim_lt_config_init(vrsim_lt_config *cfg, int receiver) {
  *cfg = vrsim_lt_config{};
  cfg->receiver = receiver;
  cfg->socket_code = -1;
  bool glasses = receiver == VRSIM_RX_GLASSES;
  cfg->rx_geom_thou[0] = glasses ? 2500 : 2000;
  cfg->rx_geom_thou[1] = glasses ? 2500 : 2000;
  cfg->side_extra_cm = glasses ? 0.08 : 0.0;
  cfg->clock_offset_s = 12.345;
  cfg->reset_busy_s = 0.5;
}

VRSIM_API void vrsim_microphone(const vrsim *sim, int port, int which, dpt out) {
  out[0] = out[1] = out[2] = 0.0;
  if ((port != 0 && port != 1) || which < 0 || which > 2) return;
  dpt mic[3];
  lt_microphones(sim->port[port], mic);
  std::memcpy(out, mic[which], sizeof(dpt));
}

VRSIM_API void vrsim_true_distances(const vrsim *sim, int port, double t, double out[9]) {
  if (port != 0 && port != 1) {
    for (int k = 0; k < 9; ++k) out[k] = 0.0;
    return;
  }
  lt_distances(sim, sim->port[port], t, out);
}

VRSIM_API int vrsim_lt_get_state(const vrsim *sim, int port, vrsim_lt_state *out) {
  if ((port != 0 && port != 1) || sim->port[port].kind != VRSIM_LOGITECH) return 0;
  const Port &p = sim->port[port];
  const LogitechUnit &u = p.lt;
  *out = vrsim_lt_state{};
  out->powered = p.powered;
  out->mode = u.mode;
  out->streaming = u.streaming;
  out->transmitter_on = u.tx_on;
  out->measuring = lt_measuring(sim, p);
  out->filter_length = u.filter_length;
  out->slave_type = u.slave_type;
  out->resets = u.resets;
  out->op_info_requests = u.op_info_requests;
  out->demands = u.demands;
  out->unknown_commands = u.unknown_commands;
  out->commands = u.commands;
  out->unit_clock_ms = lt_unit_clock_ms(sim, p, sim->now_ns);
  return 1;
}

VRSIM_API void vrsim_cyberman_set(vrsim *sim, int x_motion, int y_motion, int buttons,
                                  const int states[4]) {
  sim->cm_x = x_motion;
  sim->cm_y = y_motion;
  sim->cm_buttons = buttons;
  for (int i = 0; i < 4; ++i) sim->cm_states[i] = states ? states[i] : 0;
}

VRSIM_API int vrsim_cyberman_started(const vrsim *sim) {
  for (const auto &p : sim->port)
    if (p.kind == VRSIM_CYBERMAN && p.powered && p.cm.streaming) return 1;
  return 0;
}

VRSIM_API int vrsim_cyberman_tactile_count(const vrsim *sim) {
  int n = 0;
  for (const auto &p : sim->port)
    if (p.kind == VRSIM_CYBERMAN) n += p.cm.tactile;
  return n;
}

VRSIM_API void vrsim_encode_6d(dmat pose, int status, unsigned char out[16]) {
  double x, y, z, roll, pitch, yaw;
  decompose(pose, &x, &y, &z, &roll, &pitch, &yaw);
  encode_6d_values(x, y, z, roll, pitch, yaw, status, out);
}

VRSIM_API void vrsim_decompose_6d(dmat pose, double *x, double *y, double *z, double *roll,
                                  double *pitch, double *yaw) {
  decompose(pose, x, y, z, roll, pitch, yaw);
}

VRSIM_API void vrsim_encode_cyberman(int x_motion, int y_motion, int buttons, const int states[4],
                                     unsigned char out[5]) {
  auto x = static_cast<unsigned>(clamp_int(x_motion, -128, 127)) & 0xFF;
  auto y = static_cast<unsigned>(clamp_int(y_motion, -128, 127)) & 0xFF;
  unsigned s[4];
  for (int i = 0; i < 4; ++i) {
    int v = states ? states[i] : 0;
    s[i] = v == -1 ? 2u : static_cast<unsigned>(v) & 3u;
  }
  out[0] = static_cast<unsigned char>(0x80 | (buttons & 7));
  out[1] = static_cast<unsigned char>((x >> 1) & 0x7F);
  out[2] = static_cast<unsigned char>(((x & 1) << 6) | ((y >> 2) & 0x3F));
  out[3] = static_cast<unsigned char>(((y & 3) << 5) | (s[0] << 3) | (s[1] << 1) | (s[3] >> 1));
  out[4] = static_cast<unsigned char>(((s[3] & 1) << 6) | (s[2] << 4));
}

VRSIM_API void vrsim_encode_dynasight(double x, double y, double z, unsigned char out[8]) {
  out[0] = out[1] = 0x80;
  const double v[3] = {x, y, z};
  for (int i = 0; i < 3; ++i) {
    auto w =
        static_cast<std::uint16_t>(clamp_int(std::llround(v[i] / ds_cm_per_unit), -32768, 32767));
    out[2 + 2 * i] = static_cast<unsigned char>(w >> 8);
    out[3 + 2 * i] = static_cast<unsigned char>(w & 0xFF);
  }
}

}  // extern "C"
