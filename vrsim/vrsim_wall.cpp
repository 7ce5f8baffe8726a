// The wall-clock driver's entries into the simulator core.
#include "vrsim/vrsim_wall.h"

#include "vrsim_internal.h"

using namespace vrsim_detail;

namespace vrsim_wall {

namespace {
bool valid_port(int port) {
  return port == 0 || port == 1;
}
}  // namespace

void set_sink(vrsim *sim, ByteSink sink, void *user) {
  sim->byte_sink = sink;
  sim->byte_sink_user = user;
}

long long next_event_ns(const vrsim *sim) {
  long long t = vrsim_detail::next_event_ns(sim);
  return t == never_ns ? -1 : t;
}

void set_line(vrsim *sim, int port, const vr_line_settings &settings, bool open) {
  if (!valid_port(port)) return;
  Line &line = sim->port[port].line;
  line.settings = settings;
  line.open_count = open ? 1 : 0;
}

void host_wrote(vrsim *sim, int port, const unsigned char *bytes, int count) {
  if (!valid_port(port) || !bytes) return;
  Port &p = sim->port[port];
  if (!device_line_matches(p)) return;  // not understood at the wrong speed
  for (int i = 0; i < count; ++i) device_receive(sim, p, bytes[i]);
}

void modem_wake(vrsim *sim, int port) {
  if (valid_port(port)) device_modem(sim, sim->port[port], true);
}

}  // namespace vrsim_wall
