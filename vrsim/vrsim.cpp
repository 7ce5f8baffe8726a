// The simulator's core: virtual time, the platform table it installs, the simulated serial lines,
// the capture area with its rings, the event log, and record/replay.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <new>

#include "vr_capture.h"
#include "vrsim_internal.h"

using namespace vrsim_detail;
namespace cap = vr::capture;

namespace {

// One capture area for the whole process: the library maps it once and keeps the address for
// good, so it must outlive every simulator and be the same memory for all of them.
alignas(64) unsigned char capture_area[cap::area_bytes];
vrsim *installed_sim = nullptr;

constexpr std::size_t max_events = 1u << 18;
constexpr double max_rate_hz = 1000.0;  // a device's message rate; more would flood the line
constexpr char record_magic[8] = {'V', 'R', 'S', 'I', 'M', 'R', 'E', 'C'};
constexpr std::uint32_t record_version = 1;
constexpr int record_entry_bytes = 10;  // time (8, little-endian), port, byte

constexpr int standard_bauds[] = {50,   75,   110,  134,  150,   200,   300,   600,   1200,
                                  1800, 2400, 4800, 9600, 19200, 38400, 57600, 115200};

bool valid_port(int port) {
  return port == 0 || port == 1;
}

long long ceil_div(long long a, long long b) {
  return (a + b - 1) / b;
}

std::int32_t *offset_word(int port) {
  return reinterpret_cast<std::int32_t *>(capture_area + cap::write_offset_byte[port]);
}

int ring_write_offset(int port) {
  std::int32_t w = __atomic_load_n(offset_word(port), __ATOMIC_ACQUIRE);
  return (w >= 0 && w < cap::ring_bytes) ? static_cast<int>(w) : 0;
}

void record_byte(vrsim *sim, int port, unsigned char byte) {
  if (!sim->record) return;
  unsigned char entry[record_entry_bytes];
  auto t = static_cast<unsigned long long>(sim->now_ns);
  for (int i = 0; i < 8; ++i) entry[i] = static_cast<unsigned char>(t >> (8 * i));
  entry[8] = static_cast<unsigned char>(port);
  entry[9] = byte;
  if (std::fwrite(entry, 1, sizeof entry, sim->record) != sizeof entry) sim->record_failed = true;
}

// The capture driver's part: store the byte at the write offset, then advance the offset.
void ring_store(vrsim *sim, int port, unsigned char byte) {
  int w = ring_write_offset(port);
  capture_area[cap::ring_start_byte[port] + w] = byte;
  __atomic_store_n(offset_word(port), static_cast<std::int32_t>((w + 1) % cap::ring_bytes),
                   __ATOMIC_RELEASE);
  record_byte(sim, port, byte);
}

// A byte whose last bit has arrived: into the ring, or to the wall-clock driver's line.
void receive_byte(vrsim *sim, int port, unsigned char byte) {
  if (sim->byte_sink)
    sim->byte_sink(sim->byte_sink_user, port, byte);
  else
    ring_store(sim, port, byte);
}

vrsim_event &log_event_here(vrsim *sim, int kind, int port, int fd) {
  static vrsim_event overflow;
  if (sim->events.size() >= max_events) {
    overflow = vrsim_event{};
    return overflow;
  }
  sim->events.emplace_back();
  vrsim_event &e = sim->events.back();
  e.kind = kind;
  e.port = port;
  e.fd = fd;
  e.time_ns = sim->now_ns;
  return e;
}

void set_text(vrsim_event &e, const char *text) {
  if (!text) return;
  std::strncpy(e.text, text, sizeof e.text - 1);
  e.text[sizeof e.text - 1] = '\0';
}

Descriptor *find_fd(vrsim *sim, int fd) {
  for (auto &d : sim->fds)
    if (d.fd == fd && d.open) return &d;
  return nullptr;
}

// The port of an open line descriptor, or -1.
int line_port(vrsim *sim, int fd) {
  Descriptor *d = find_fd(sim, fd);
  return (d && d->port >= 0) ? d->port : -1;
}

// When the next queued byte of a port has completely arrived (its stop bit), or never.
long long next_byte_ns(const Port &p, long long *end_scaled, int *baud_out) {
  if (p.queue.empty()) return never_ns;
  long long baud = device_baud(p);
  long long free_scaled = p.line_free_baud == baud
                              ? p.line_free_scaled
                              : ceil_div(p.line_free_scaled, p.line_free_baud) * baud;
  long long start = std::max(p.queue.front().ready_ns * baud, free_scaled);
  long long end = start + bits_per_byte * ns_per_s;
  if (end_scaled) *end_scaled = end;
  if (baud_out) *baud_out = static_cast<int>(baud);
  return ceil_div(end, baud);
}

void deliver_byte(vrsim *sim, Port &p) {
  long long end = 0;
  int baud = logitech_baud;
  next_byte_ns(p, &end, &baud);
  OutByte b = p.queue.front();
  p.queue.pop_front();
  p.line_free_scaled = end;
  p.line_free_baud = baud;
  if (sim->replaying) return;  // the recording speaks for the devices
  unsigned char byte = b.byte;
  if (!b.injected) {
    // The port's receiver only runs while the line is open with reception enabled; at the
    // wrong speed or character size every character arrives as something else.
    if (p.line.open_count == 0 || !p.line.settings.read_enable) return;
    if (!device_line_matches(p)) byte = static_cast<unsigned char>(p.garble.next());
  }
  receive_byte(sim, p.index, byte);
}

// The next thing to happen: a byte completing on a line (0, 1), a device event (2, 3), or a
// recorded byte falling due (4); -1 for nothing.
long long next_happening(const vrsim *sim, int *what_out) {
  long long best = never_ns;
  int what = -1;
  for (int i = 0; i < 2; ++i) {
    long long nb = next_byte_ns(sim->port[i], nullptr, nullptr);
    if (nb < best) best = nb, what = i;
  }
  for (int i = 0; i < 2; ++i) {
    long long nd = device_next_event(sim, sim->port[i]);
    if (nd < best) best = nd, what = 2 + i;
  }
  const long long nu = udp_next_event(sim);
  if (nu < best) best = nu, what = 5;
  if (sim->replaying && sim->replay_next < sim->replay.size()) {
    long long nr = std::max(sim->replay[sim->replay_next].time_ns, sim->now_ns);
    if (nr < best) best = nr, what = 4;
  }
  if (what_out) *what_out = what;
  return best;
}

void run_until(vrsim *sim, long long t) {
  for (;;) {
    int what = -1;
    long long best = next_happening(sim, &what);
    if (what < 0 || best > t) break;
    sim->now_ns = std::max(sim->now_ns, best);
    if (what < 2) {
      deliver_byte(sim, sim->port[what]);
    } else if (what < 4) {
      device_event(sim, sim->port[what - 2]);
    } else if (what == 5) {
      udp_event(sim);
    } else {
      const ReplayByte &r = sim->replay[sim->replay_next++];
      receive_byte(sim, r.port, r.byte);
    }
  }
  sim->now_ns = std::max(sim->now_ns, t);
}

// Virtual time never runs past this (about 27.8 hours): line times are kept in ns times the
// baud rate, which must stay within 64 bits.
constexpr long long time_limit_ns = 100000000000000LL;

void advance_ns(vrsim *sim, long long ns) {
  if (ns <= 0) return;
  run_until(sim, std::min(time_limit_ns, sim->now_ns + std::min(ns, time_limit_ns)));
}

// ---- The platform table ------------------------------------------------------------------------

vrsim *of(void *user) {
  return static_cast<vrsim *>(user);
}

// Every entry but the processor-time clock ends a run of clock readings (see vrsim.h).
vrsim *enter(void *user) {
  vrsim *sim = of(user);
  sim->last_call_hrv = false;
  return sim;
}

// Counts a call that can fail; true when it is the one chosen to fail (its error is then
// fail_errno).
bool injected_failure(vrsim *sim) {
  ++sim->failable_calls;
  if (sim->fail_at <= 0 || sim->failable_calls != sim->fail_at) return false;
  sim->fail_fired = true;
  return true;
}

long long sim_hrtime(void *user) {
  vrsim *sim = enter(user);
  return sim->hrtime_origin_ns + sim->now_ns;
}

long long sim_hrvtime(void *user) {
  vrsim *sim = of(user);
  if (sim->last_call_hrv) {
    advance_ns(sim, sim->cpu_step_ns);
    sim->cpu_ns += sim->cpu_step_ns;
  }
  sim->last_call_hrv = true;
  return sim->cpu_ns;
}

void sim_sleep(void *user, unsigned seconds) {
  vrsim *sim = enter(user);
  log_event_here(sim, VRSIM_EV_SLEEP, -1, -1).count = static_cast<int>(seconds);
  advance_ns(sim, static_cast<long long>(seconds) * ns_per_s);
}

int sim_line_open(void *user, const char *path) {
  vrsim *sim = enter(user);
  int port = -1;
  if (path && std::strcmp(path, vr_device_path(VR_DEVICE_TTYA)) == 0) port = 0;
  if (path && std::strcmp(path, vr_device_path(VR_DEVICE_TTYB)) == 0) port = 1;
  vrsim_event &e = log_event_here(sim, VRSIM_EV_OPEN, port, -1);
  set_text(e, path);
  e.result = -1;
  if (injected_failure(sim)) {
    e.err = sim->fail_errno;
  } else if (port < 0) {
    e.err = ENOENT;
  } else if (sim->port[port].line.faults.open_errno != 0) {
    e.err = sim->port[port].line.faults.open_errno;
  } else if (sim->port[port].kind == VRSIM_NOTHING && !sim->open_unplugged) {
    e.err = ENXIO;
  } else {
    Line &line = sim->port[port].line;
    if (line.open_count++ == 0) line.dtr = line.rts = true;
    e.fd = e.result = sim->next_fd++;
    sim->fds.push_back({e.fd, port, true});
  }
  errno = e.err;
  return e.result;
}

int sim_line_write(void *user, int fd, const void *bytes, int count) {
  vrsim *sim = enter(user);
  int port = line_port(sim, fd);
  vrsim_event &e = log_event_here(sim, VRSIM_EV_WRITE, port, fd);
  e.count = count;
  if (bytes && count > 0)
    std::memcpy(e.bytes, bytes, static_cast<std::size_t>(std::min<int>(count, sizeof e.bytes)));
  const bool injected = injected_failure(sim);
  if (injected || port < 0 || count < 0 || (count > 0 && !bytes)) {
    e.err = injected ? sim->fail_errno : port < 0 ? EBADF : EINVAL;
    e.result = -1;
    errno = e.err;
    return -1;
  }
  e.result = count;
  Port &p = sim->port[port];
  const auto *b = static_cast<const unsigned char *>(bytes);
  p.line.written.insert(p.line.written.end(), b, b + count);
  if (device_line_matches(p))
    for (int i = 0; i < count; ++i) device_receive(sim, p, b[i]);
  return count;
}

void sim_line_close(void *user, int fd) {
  vrsim *sim = enter(user);
  Descriptor *d = find_fd(sim, fd);
  vrsim_event &e = log_event_here(sim, VRSIM_EV_CLOSE, d ? d->port : -1, fd);
  if (!d) {
    e.err = EBADF;
    return;
  }
  d->open = false;
  if (d->port >= 0) {
    Line &line = sim->port[d->port].line;
    if (--line.open_count == 0 && line.settings.hangup_on_close) line.dtr = line.rts = false;
  }
  sim->fds.erase(
      std::remove_if(sim->fds.begin(), sim->fds.end(), [](const Descriptor &x) { return !x.open; }),
      sim->fds.end());
}

int sim_line_get(void *user, int fd, vr_line_settings *out) {
  vrsim *sim = enter(user);
  int port = line_port(sim, fd);
  vrsim_event &e = log_event_here(sim, VRSIM_EV_LINE_GET, port, fd);
  if (injected_failure(sim)) return e.err = sim->fail_errno;
  if (port < 0) return e.err = EBADF;
  Line &line = sim->port[port].line;
  if (line.faults.get_errno) return e.err = line.faults.get_errno;
  e.settings = line.settings;
  if (out) *out = line.settings;
  return 0;
}

bool standard_baud(int baud) {
  return std::find(std::begin(standard_bauds), std::end(standard_bauds), baud) !=
         std::end(standard_bauds);
}

int sim_line_set(void *user, int fd, const vr_line_settings *s) {
  vrsim *sim = enter(user);
  int port = line_port(sim, fd);
  vrsim_event &e = log_event_here(sim, VRSIM_EV_LINE_SET, port, fd);
  if (s) e.settings = *s;
  if (injected_failure(sim)) return e.err = sim->fail_errno;
  if (port < 0) return e.err = EBADF;
  if (!s) return e.err = EINVAL;
  Line &line = sim->port[port].line;
  if (line.faults.set_errno) {
    ++line.sets_since_faults;
    if (line.faults.set_fail_at <= 0 || line.sets_since_faults == line.faults.set_fail_at)
      return e.err = line.faults.set_errno;
  }
  if (!standard_baud(s->baud) || s->data_bits < 5 || s->data_bits > 8 || s->parity < 0 ||
      s->parity > 2 || s->stop_bits < 1 || s->stop_bits > 2 || s->min_read < 0 ||
      s->min_read > 255 || s->read_timeout < 0 || s->read_timeout > 255)
    return e.err = EINVAL;
  line.settings = *s;
  return 0;
}

int sim_line_modem(void *user, int fd, int lines, int raise) {
  vrsim *sim = enter(user);
  int port = line_port(sim, fd);
  vrsim_event &e = log_event_here(sim, VRSIM_EV_MODEM, port, fd);
  e.lines = lines;
  e.raise = raise;
  if (injected_failure(sim)) return e.err = sim->fail_errno;
  if (port < 0) return e.err = EBADF;
  Port &p = sim->port[port];
  if (p.line.faults.modem_errno) return e.err = p.line.faults.modem_errno;
  bool rts_was = p.line.rts;
  if (lines & VR_MODEM_DTR) p.line.dtr = raise != 0;
  if (lines & VR_MODEM_RTS) p.line.rts = raise != 0;
  device_modem(sim, p, !rts_was && p.line.rts && p.line.dtr);
  return 0;
}

int sim_line_flush(void *user, int fd) {
  vrsim *sim = enter(user);
  int port = line_port(sim, fd);
  vrsim_event &e = log_event_here(sim, VRSIM_EV_FLUSH, port, fd);
  if (injected_failure(sim)) return e.err = sim->fail_errno;
  if (port < 0) return e.err = EBADF;
  // The capture driver has already taken every received byte: flushing the line's own queues
  // changes nothing in the rings, and the simulated writes leave nothing unsent.
  return e.err = sim->port[port].line.faults.flush_errno;
}

int sim_line_nodelay(void *user, int fd) {
  vrsim *sim = enter(user);
  int port = line_port(sim, fd);
  vrsim_event &e = log_event_here(sim, VRSIM_EV_NODELAY, port, fd);
  if (injected_failure(sim)) return e.err = sim->fail_errno;
  if (port < 0) return e.err = EBADF;
  Line &line = sim->port[port].line;
  if (line.faults.nodelay_errno) return e.err = line.faults.nodelay_errno;
  line.nodelay = true;
  return 0;
}

int sim_line_top_module(void *user, int fd, char *name, int size) {
  vrsim *sim = enter(user);
  int port = line_port(sim, fd);
  vrsim_event &e = log_event_here(sim, VRSIM_EV_TOP_MODULE, port, fd);
  if (name && size > 0) name[0] = '\0';
  if (port < 0) {
    e.err = EBADF;
    return 0;
  }
  const auto &modules = sim->port[port].line.modules;
  if (modules.empty()) return 0;
  set_text(e, modules.back().name.c_str());
  if (name && size > 0) {
    std::strncpy(name, modules.back().name.c_str(), static_cast<std::size_t>(size) - 1);
    name[size - 1] = '\0';
  }
  return e.result = 1;
}

int sim_line_pop_module(void *user, int fd) {
  vrsim *sim = enter(user);
  int port = line_port(sim, fd);
  vrsim_event &e = log_event_here(sim, VRSIM_EV_POP_MODULE, port, fd);
  if (injected_failure(sim)) return e.err = sim->fail_errno;
  if (port < 0) return e.err = EBADF;
  auto &modules = sim->port[port].line.modules;
  if (modules.empty()) return e.err = EINVAL;
  set_text(e, modules.back().name.c_str());
  if (modules.back().pop_errno) return e.err = modules.back().pop_errno;
  modules.pop_back();
  return 0;
}

int sim_capture_open(void *user, const char *path) {
  vrsim *sim = enter(user);
  vrsim_event &e = log_event_here(sim, VRSIM_EV_CAPTURE_OPEN, -1, -1);
  set_text(e, path);
  bool primary = path && std::strcmp(path, vr_device_path(VR_DEVICE_CAPTURE)) == 0;
  bool alt = path && std::strcmp(path, vr_device_path(VR_DEVICE_CAPTURE_ALT)) == 0;
  bool present = (primary && sim->capture_fault != VRSIM_CAPTURE_PRIMARY_MISSING &&
                  sim->capture_fault != VRSIM_CAPTURE_MISSING) ||
                 (alt && sim->capture_fault != VRSIM_CAPTURE_MISSING);
  const bool injected = injected_failure(sim);
  if (injected || !present) {
    e.result = -1;
    errno = e.err = injected ? sim->fail_errno : ENOENT;
    return -1;
  }
  e.fd = e.result = sim->next_fd++;
  sim->fds.push_back({e.fd, -1, true});
  return e.result;
}

unsigned char *sim_capture_map(void *user, int fd) {
  vrsim *sim = enter(user);
  vrsim_event &e = log_event_here(sim, VRSIM_EV_CAPTURE_MAP, -1, fd);
  if (injected_failure(sim)) {
    e.err = sim->fail_errno;
    return nullptr;
  }
  Descriptor *d = find_fd(sim, fd);
  if (!d || d->port != -1) {
    e.err = EBADF;
    return nullptr;
  }
  if (sim->capture_fault == VRSIM_CAPTURE_UNMAPPABLE) {
    e.err = ENODEV;
    return nullptr;
  }
  e.result = 1;
  return capture_area;
}

int sim_udp_open(void *user, unsigned address, int port, int *fd) {
  return udp_open(enter(user), address, port, fd);
}
int sim_udp_receive(void *user, int fd, unsigned char *bytes, int size, long long *arrival_ns) {
  return udp_receive(enter(user), fd, bytes, size, arrival_ns);
}
int sim_udp_send(void *user, int fd, unsigned address, int port, const unsigned char *bytes,
                 int count) {
  return udp_send(enter(user), fd, address, port, bytes, count);
}
void sim_udp_close(void *user, int fd) {
  udp_close(enter(user), fd);
}

vr_platform table_for(vrsim *sim) {
  return vr_platform{sim,
                     sim_hrtime,
                     sim_hrvtime,
                     sim_sleep,
                     sim_line_open,
                     sim_line_write,
                     sim_line_close,
                     sim_line_get,
                     sim_line_set,
                     sim_line_modem,
                     sim_line_flush,
                     sim_line_nodelay,
                     sim_line_top_module,
                     sim_line_pop_module,
                     sim_capture_open,
                     sim_capture_map,
                     sim_udp_open,
                     sim_udp_receive,
                     sim_udp_send,
                     sim_udp_close};
}

void reset_port_device(vrsim *sim, Port &p, int kind) {
  p.kind = kind;
  p.powered = true;
  p.queue.clear();
  p.imp = vrsim_imperfections{};
  p.lt = LogitechUnit{};
  p.cm = CyberMan{};
  p.ds = DynaSight{};
  device_power_on(sim, p);
}

}  // namespace

namespace vrsim_detail {

vrsim_event &log_event(vrsim *sim, int kind, int port, int fd) {
  return log_event_here(sim, kind, port, fd);
}

double Rng::gauss() {
  if (have_spare_) {
    have_spare_ = false;
    return spare_;
  }
  double u, v, s;
  do {
    u = 2.0 * uniform() - 1.0;
    v = 2.0 * uniform() - 1.0;
    s = u * u + v * v;
  } while (s >= 1.0 || s == 0.0);
  double k = std::sqrt(-2.0 * std::log(s) / s);
  spare_ = v * k;
  have_spare_ = true;
  return u * k;
}

void queue_bytes(vrsim *sim, int port, const unsigned char *bytes, int n, long long ready_ns) {
  // A device's send buffer is finite: what it cannot hold is lost, as on a real unit.
  constexpr std::size_t send_buffer_bytes = 8192;
  Port &p = sim->port[port];
  for (int i = 0; i < n && p.queue.size() < send_buffer_bytes; ++i)
    p.queue.push_back({ready_ns, bytes[i], false});
}

long long next_event_ns(const vrsim *sim) {
  return next_happening(sim, nullptr);
}

int device_baud(const Port &p) {
  return p.kind == VRSIM_CYBERMAN ? cyberman_baud : logitech_baud;
}

long long cycle_ns(const vrsim *sim) {
  return std::max(1LL, std::llround(sim->tx.cycle_s * static_cast<double>(ns_per_s)));
}

long long phase_ns(const vrsim *sim) {
  long long c = cycle_ns(sim);
  long long ph = std::llround(sim->tx.phase_s * static_cast<double>(ns_per_s)) % c;
  return ph < 0 ? ph + c : ph;
}

}  // namespace vrsim_detail

extern "C" {

VRSIM_API vrsim *vrsim_create(unsigned long long seed) {
  vrsim *sim = new (std::nothrow) vrsim;
  if (!sim) return nullptr;
  sim->seed = seed;
  std::memset(capture_area, 0, sizeof capture_area);
  vrsim_set_position(sim, VRSIM_HEAD, 0.0, -10.0, 55.0);
  vrsim_set_position(sim, VRSIM_MOUSE, 8.0, -25.0, 40.0);
  vrsim_transmitter_init(&sim->tx);
  for (int i = 0; i < 2; ++i) {
    Port &p = sim->port[i];
    p.index = i;
    p.line.settings = vr_line_settings{9600, 8, 0, 1, 0, 1, 1, 0, 1, 0};
    p.rng.seed(seed ^ (0x5EED0000ULL + static_cast<std::uint64_t>(i)));
    p.garble.seed(~seed ^ (0x6A4B1E00ULL + static_cast<std::uint64_t>(i)));
    reset_port_device(sim, p, VRSIM_NOTHING);
  }
  sim->udp.opentrack.rng.seed(seed ^ 0x0D7AC4ULL);
  return sim;
}

VRSIM_API void vrsim_destroy(vrsim *sim) {
  if (!sim) return;
  if (installed_sim == sim) vrsim_uninstall();
  if (sim->record) vrsim_record_stop(sim);
  delete sim;
}

VRSIM_API void vrsim_install(vrsim *sim) {
  if (!sim) return;
  vr_platform table = table_for(sim);
  vr_platform_install(&table);
  installed_sim = sim;
}

VRSIM_API void vrsim_uninstall(void) {
  vr_platform_install(nullptr);
  installed_sim = nullptr;
}

VRSIM_API vrsim *vrsim_installed(void) {
  return installed_sim;
}

VRSIM_API long long vrsim_now_ns(const vrsim *sim) {
  return sim->now_ns;
}

VRSIM_API double vrsim_now(const vrsim *sim) {
  return static_cast<double>(sim->now_ns) / static_cast<double>(ns_per_s);
}

VRSIM_API void vrsim_advance(vrsim *sim, double seconds) {
  if (!(seconds > 0.0)) {
    sim->last_call_hrv = false;
    return;
  }
  double ns = std::fmin(seconds * static_cast<double>(ns_per_s), 1e15);
  vrsim_advance_ns(sim, std::llround(ns));
}

VRSIM_API void vrsim_advance_ns(vrsim *sim, long long ns) {
  sim->last_call_hrv = false;
  advance_ns(sim, ns);
}

VRSIM_API void vrsim_set_cpu_step_ns(vrsim *sim, long long step_ns) {
  sim->cpu_step_ns = std::max(1LL, step_ns);
}

VRSIM_API void vrsim_set_hrtime_origin_ns(vrsim *sim, long long origin_ns) {
  sim->hrtime_origin_ns = origin_ns;
}

VRSIM_API void vrsim_set_pose(vrsim *sim, int which, dmat pose) {
  if (which != VRSIM_HEAD && which != VRSIM_MOUSE) return;
  std::memcpy(sim->truth[which].fixed, pose, sizeof(dmat));
  sim->truth[which].fn = nullptr;
}

VRSIM_API void vrsim_set_position(vrsim *sim, int which, double x, double y, double z) {
  dmat m;
  mat_identity(m);
  m[3][0] = x;
  m[3][1] = y;
  m[3][2] = z;
  vrsim_set_pose(sim, which, m);
}

VRSIM_API void vrsim_set_pose_fn(vrsim *sim, int which, vrsim_pose_fn fn, void *user) {
  if (which != VRSIM_HEAD && which != VRSIM_MOUSE) return;
  sim->truth[which].fn = fn;
  sim->truth[which].user = user;
}

VRSIM_API void vrsim_get_pose(const vrsim *sim, int which, double t, dmat out) {
  if (which != VRSIM_HEAD && which != VRSIM_MOUSE) {
    mat_identity(out);
    return;
  }
  const Truth &truth = sim->truth[which];
  if (truth.fn)
    truth.fn(truth.user, t, out);
  else
    std::memcpy(out, truth.fixed, sizeof(dmat));
}

VRSIM_API void vrsim_set_buttons(vrsim *sim, int which, int buttons) {
  if (which == VRSIM_HEAD || which == VRSIM_MOUSE) sim->truth[which].buttons = buttons & 15;
}

VRSIM_API int vrsim_get_buttons(const vrsim *sim, int which) {
  return (which == VRSIM_HEAD || which == VRSIM_MOUSE) ? sim->truth[which].buttons : 0;
}

VRSIM_API void vrsim_transmitter_init(vrsim_transmitter *tx) {
  tx->port = 0;
  tx->type = 3;
  tx->geom_thou[0] = 12000;
  tx->geom_thou[1] = 12000;
  tx->geom_thou[2] = 10000;
  tx->cm_per_count = 25.4 / 4800.0;
  tx->cycle_s = 0.02;
  tx->phase_s = 0.003;
}

VRSIM_API void vrsim_set_transmitter(vrsim *sim, const vrsim_transmitter *tx) {
  sim->tx = *tx;
  if (!(sim->tx.cycle_s >= 0.001 && sim->tx.cycle_s <= 10.0)) sim->tx.cycle_s = 0.02;
  if (!(std::fabs(sim->tx.phase_s) <= 10.0)) sim->tx.phase_s = 0.0;
  if (!(sim->tx.cm_per_count > 0.0)) sim->tx.cm_per_count = 25.4 / 4800.0;
  for (auto &p : sim->port)
    if (p.kind == VRSIM_LOGITECH) lt_align_cycle(sim, p);
}

VRSIM_API void vrsim_get_transmitter(const vrsim *sim, vrsim_transmitter *tx) {
  *tx = sim->tx;
}

VRSIM_API void vrsim_speaker(const vrsim *sim, int which, dpt out) {
  double b = sim->tx.geom_thou[0] * 2.54 / 1000.0;
  double s = sim->tx.geom_thou[1] * 2.54 / 1000.0;
  double h2 = s * s - (b / 2) * (b / 2);
  double h = h2 > 0.0 ? std::sqrt(h2) : 0.0;
  out[0] = which == 0 ? -b / 2 : which == 1 ? b / 2 : 0.0;
  out[1] = which == 2 ? h : 0.0;
  out[2] = 0.0;
}

VRSIM_API void vrsim_plug_logitech(vrsim *sim, int port, const vrsim_lt_config *cfg) {
  if (!valid_port(port)) return;
  Port &p = sim->port[port];
  reset_port_device(sim, p, VRSIM_LOGITECH);
  if (cfg)
    p.lt.cfg = *cfg;
  else
    vrsim_lt_config_init(&p.lt.cfg, port == 0 ? VRSIM_RX_GLASSES : VRSIM_RX_MOUSE);
}

VRSIM_API void vrsim_plug_cyberman(vrsim *sim, int port, double rate_hz) {
  if (!valid_port(port)) return;
  reset_port_device(sim, sim->port[port], VRSIM_CYBERMAN);
  if (rate_hz > 0.0) sim->port[port].cm.rate_hz = std::fmin(rate_hz, max_rate_hz);
}

VRSIM_API void vrsim_plug_dynasight(vrsim *sim, int port, double rate_hz) {
  if (!valid_port(port)) return;
  reset_port_device(sim, sim->port[port], VRSIM_DYNASIGHT);
  if (rate_hz > 0.0) sim->port[port].ds.rate_hz = std::fmin(rate_hz, max_rate_hz);
  device_power_on(sim, sim->port[port]);  // again, on the grid of the new rate
}

VRSIM_API void vrsim_unplug(vrsim *sim, int port) {
  if (valid_port(port)) reset_port_device(sim, sim->port[port], VRSIM_NOTHING);
}

VRSIM_API void vrsim_plug_standard(vrsim *sim) {
  vrsim_lt_config glasses, mouse;
  vrsim_lt_config_init(&glasses, VRSIM_RX_GLASSES);
  vrsim_lt_config_init(&mouse, VRSIM_RX_MOUSE);
  vrsim_plug_logitech(sim, VRSIM_PORT_A, &glasses);
  vrsim_plug_logitech(sim, VRSIM_PORT_B, &mouse);
  sim->tx.port = VRSIM_PORT_A;
}

VRSIM_API int vrsim_plugged(const vrsim *sim, int port) {
  return valid_port(port) ? sim->port[port].kind : VRSIM_NOTHING;
}

VRSIM_API void vrsim_set_power(vrsim *sim, int port, int on) {
  if (!valid_port(port)) return;
  Port &p = sim->port[port];
  if (on && !p.powered) {
    p.powered = true;
    device_power_on(sim, p);
  } else if (!on && p.powered) {
    // Whatever the device had not yet sent dies with it.
    p.powered = false;
    p.queue.erase(std::remove_if(p.queue.begin(), p.queue.end(),
                                 [](const OutByte &b) { return !b.injected; }),
                  p.queue.end());
  }
}

VRSIM_API void vrsim_set_6d_delay(vrsim *sim, int port, double seconds) {
  if (!valid_port(port) || !(seconds >= 0.0) || seconds > 1.0) return;
  sim->port[port].lt.report_6d_delay_ns = std::llround(seconds * 1e9);
}

VRSIM_API void vrsim_set_imperfections(vrsim *sim, int port, const vrsim_imperfections *imp) {
  if (!valid_port(port)) return;
  Port &p = sim->port[port];
  p.imp = imp ? *imp : vrsim_imperfections{};
  lt_stall_clock(sim, p, p.imp.clock_stalled != 0);
}

VRSIM_API void vrsim_inject(vrsim *sim, int port, const unsigned char *bytes, int count) {
  if (!valid_port(port) || !bytes) return;
  Port &p = sim->port[port];
  for (int i = 0; i < count; ++i) p.queue.push_back({sim->now_ns, bytes[i], true});
}

VRSIM_API void vrsim_set_line_faults(vrsim *sim, int port, const vrsim_line_faults *faults) {
  if (!valid_port(port)) return;
  Line &line = sim->port[port].line;
  line.faults = faults ? *faults : vrsim_line_faults{};
  line.sets_since_faults = 0;
}

VRSIM_API void vrsim_set_open_unplugged(vrsim *sim, int opens) {
  sim->open_unplugged = opens != 0;
}

VRSIM_API void vrsim_fail_call(vrsim *sim, long long n, int err) {
  sim->failable_calls = 0;
  sim->fail_at = n > 0 ? n : 0;
  sim->fail_errno = err != 0 ? err : EIO;
  sim->fail_fired = false;
}

VRSIM_API long long vrsim_failable_calls(const vrsim *sim) {
  return sim->failable_calls;
}

VRSIM_API int vrsim_call_failed(const vrsim *sim) {
  return sim->fail_fired ? 1 : 0;
}

VRSIM_API int vrsim_open_lines(const vrsim *sim) {
  int n = 0;
  for (const vrsim_detail::Descriptor &d : sim->fds)
    if (d.open && d.port >= 0) ++n;
  return n;
}

VRSIM_API void vrsim_push_module(vrsim *sim, int port, const char *name, int pop_errno) {
  if (!valid_port(port)) return;
  sim->port[port].line.modules.push_back({name ? name : "", pop_errno});
}

VRSIM_API int vrsim_module_count(const vrsim *sim, int port) {
  return valid_port(port) ? static_cast<int>(sim->port[port].line.modules.size()) : 0;
}

VRSIM_API void vrsim_set_capture_fault(vrsim *sim, int fault) {
  sim->capture_fault = fault;
}

VRSIM_API unsigned char *vrsim_capture_area(void) {
  return capture_area;
}

VRSIM_API int vrsim_ring_offset(int port) {
  return valid_port(port) ? ring_write_offset(port) : 0;
}

VRSIM_API int vrsim_event_count(const vrsim *sim) {
  return static_cast<int>(sim->events.size());
}

VRSIM_API const vrsim_event *vrsim_event_at(const vrsim *sim, int i) {
  if (i < 0 || static_cast<std::size_t>(i) >= sim->events.size()) return nullptr;
  return &sim->events[static_cast<std::size_t>(i)];
}

VRSIM_API int vrsim_event_find(const vrsim *sim, int from, int kind, int port) {
  for (std::size_t i = static_cast<std::size_t>(std::max(0, from)); i < sim->events.size(); ++i)
    if (sim->events[i].kind == kind && (port == -2 || sim->events[i].port == port))
      return static_cast<int>(i);
  return -1;
}

VRSIM_API void vrsim_events_clear(vrsim *sim) {
  sim->events.clear();
}

VRSIM_API int vrsim_written(const vrsim *sim, int port, unsigned char *out, int size) {
  if (!valid_port(port)) return 0;
  const auto &w = sim->port[port].line.written;
  if (out && size > 0)
    std::memcpy(out, w.data(), std::min<std::size_t>(w.size(), static_cast<std::size_t>(size)));
  return static_cast<int>(w.size());
}

VRSIM_API int vrsim_record_start(vrsim *sim, const char *path) {
  if (sim->record) vrsim_record_stop(sim);
  if (!path) return 0;
  sim->record = std::fopen(path, "wb");
  if (!sim->record) return 0;
  sim->record_failed = false;
  unsigned char version[4];
  for (int i = 0; i < 4; ++i) version[i] = static_cast<unsigned char>(record_version >> (8 * i));
  if (std::fwrite(record_magic, 1, sizeof record_magic, sim->record) != sizeof record_magic ||
      std::fwrite(version, 1, sizeof version, sim->record) != sizeof version)
    sim->record_failed = true;
  return 1;
}

VRSIM_API int vrsim_record_stop(vrsim *sim) {
  if (!sim->record) return 0;
  bool ok = !sim->record_failed;
  if (std::fclose(sim->record) != 0) ok = false;
  sim->record = nullptr;
  return ok ? 1 : 0;
}

VRSIM_API int vrsim_replay_start(vrsim *sim, const char *path) {
  if (!path) return 0;
  std::FILE *f = std::fopen(path, "rb");
  if (!f) return 0;
  unsigned char head[12];
  std::vector<ReplayByte> bytes;
  bool ok = std::fread(head, 1, sizeof head, f) == sizeof head &&
            std::memcmp(head, record_magic, sizeof record_magic) == 0 &&
            (head[8] | head[9] << 8 | head[10] << 16 |
             static_cast<std::uint32_t>(head[11]) << 24) == record_version;
  unsigned char entry[record_entry_bytes];
  std::size_t n;
  while (ok && (n = std::fread(entry, 1, sizeof entry, f)) > 0) {
    if (n != sizeof entry || entry[8] > 1) {
      ok = false;
      break;
    }
    unsigned long long t = 0;
    for (int i = 0; i < 8; ++i) t |= static_cast<unsigned long long>(entry[i]) << (8 * i);
    ReplayByte r{static_cast<long long>(t), entry[8], entry[9]};
    if (!bytes.empty() && r.time_ns < bytes.back().time_ns) ok = false;
    bytes.push_back(r);
  }
  std::fclose(f);
  if (!ok) return 0;
  sim->replay = std::move(bytes);
  sim->replay_next = 0;
  sim->replaying = true;
  return 1;
}

VRSIM_API long long vrsim_replay_remaining(const vrsim *sim) {
  return sim->replaying ? static_cast<long long>(sim->replay.size() - sim->replay_next) : 0;
}

}  // extern "C"
