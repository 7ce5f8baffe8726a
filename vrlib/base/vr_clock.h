// Physical world time (base/vr_clock.cpp). Not exported.
#pragma once

// Physical world time (seconds, as VR_PWORLD_TIME counts it) of a reading of the platform's
// hrtime clock, for events stamped on that clock.
double vr_pworld_seconds_at(long long clock_ns);
