// Driving the simulated devices against the wall clock on real lines (vrsim-serve): the devices
// stay the simulator's own, only their bytes leave through the driver's sink instead of entering
// the capture rings, and the host side of each line is what the driver observes on it.
// Internal to the project's tools; not installed.
#pragma once

#include "vrsim/vrsim.h"

namespace vrsim_wall {

using ByteSink = void (*)(void *user, int port, unsigned char byte);

// From now on every byte a device sends goes to sink at the moment its last bit arrives.
void set_sink(vrsim *sim, ByteSink sink, void *user);
// Virtual time (ns) of the next thing a device or line does, or -1 when nothing is scheduled.
long long next_event_ns(const vrsim *sim);
// The host side of a line as the driver sees it: its settings, and whether it is open with
// anyone (bytes of a closed line are lost, as on a real port).
void set_line(vrsim *sim, int port, const vr_line_settings &settings, bool open);
// Bytes the host wrote on the line, delivered to the device now.
void host_wrote(vrsim *sim, int port, const unsigned char *bytes, int count);
// A rising edge of RTS with DTR raised, for lines that carry no modem lines of their own.
void modem_wake(vrsim *sim, int port);

}  // namespace vrsim_wall
