// Physical world time and pauses: the process-wide time zero, each context's frame times on it,
// and the busy wait the serial drivers pause with. Every clock reading goes through the platform
// table.
#include "vr_clock.h"

#include "vr.h"
#include "vr_platform.h"

namespace {

constexpr int time_step_shift = 10;  // steps of 1024 ns
constexpr double time_steps_per_second = 1000000000.0 / 1024.0;
constexpr int idle_count = 10000;  // idle counts between two readings of the processor clock
constexpr long long ns_per_us = 1000;

// The process-wide zero point of physical world time, in clock nanoseconds.
long long long_long_pworld_time_zero = 0;

double clock_seconds(long long ns) {
  return static_cast<double>(ns >> time_step_shift) / time_steps_per_second;
}

// a - b with two's-complement wrap: a clock that jumps can never make the subtraction undefined.
long long clock_difference(long long a, long long b) {
  return static_cast<long long>(static_cast<unsigned long long>(a) -
                                static_cast<unsigned long long>(b));
}

}  // namespace

extern "C" {

VR_API void vr_init_pworld_time(vr_ctx *ctx) {
  const long long now = vr::os::hrtime();
  long_long_pworld_time_zero = now;
  ctx->pworld_time_base = clock_seconds(now);
  ctx->pworld_time_prev = -0.3;
  ctx->pworld_time_now = 0.0;
  ctx->pworld_time_delta = 0.3;
}

}  // extern "C"

double vr_pworld_seconds_at(long long clock_ns) {
  return clock_seconds(clock_difference(clock_ns, long_long_pworld_time_zero));
}

extern "C" {

VR_API void vr_sync_pworld_time(vr_ctx *ctx) {
  ctx->pworld_time_prev = ctx->pworld_time_now;
  ctx->pworld_time_now =
      clock_seconds(clock_difference(vr::os::hrtime(), long_long_pworld_time_zero));
  ctx->pworld_time_delta = ctx->pworld_time_now - ctx->pworld_time_prev;
}

VR_API void vr_usleep(int usec) {
  // A busy wait on the caller's own processor time: the serial drivers need pauses shorter and
  // more exact than the scheduler gives. The product is formed in 64 bits so that every int
  // is a valid request.
  const long long wait_ns = static_cast<long long>(usec) * ns_per_us;
  const long long start = vr::os::hrvtime();
  long long now = 0;
  do {
    volatile int idle = 0;
    while (idle < idle_count) idle = idle + 1;
    now = vr::os::hrvtime();
  } while (clock_difference(now, start) < wait_ns);
}

}  // extern "C"
