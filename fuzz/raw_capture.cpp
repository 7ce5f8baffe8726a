// Fuzzes the raw ultrasonic path: arbitrary ring contents, write offsets (including ones outside
// the ring) and physical times (including NaN, infinities and absurd jumps) through the capture
// pass, followed by the pose solver, the button debouncing and the statistics recorder. Nothing
// may be read outside a ring, no float conversion may overflow, and nothing non-finite may reach
// the unit's persistent state or the pose.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "vr_capture.h"
#include "vr_lt_raw.h"
#include "vrlib/vr.h"

namespace {

struct Input {
  const std::uint8_t *data;
  std::size_t size;
  std::size_t pos = 0;
  bool more() const { return pos < size; }
  std::uint8_t byte() { return pos < size ? data[pos++] : 0; }
  std::int32_t i32() {
    std::uint32_t v = 0;
    for (int k = 0; k < 4; ++k) v |= static_cast<std::uint32_t>(byte()) << (8 * k);
    return static_cast<std::int32_t>(v);
  }
};

void require(bool ok) {
  if (!ok) std::abort();
}

// Whether every value is finite, tested on the bits: a value is infinite or NaN exactly when all
// its exponent bits are set. One pass of integer operations with a single branch at the end,
// instead of a call and a branch per value.
bool all_finite(const float *v, int n) {
  std::uint32_t bad = 0;
  for (int i = 0; i < n; ++i) {
    std::uint32_t b;
    std::memcpy(&b, v + i, sizeof b);
    bad |= (b & 0x7F800000u) + 0x00800000u;
  }
  return (bad >> 31) == 0;
}

bool all_finite(const double *v, int n) {
  std::uint64_t bad = 0;
  for (int i = 0; i < n; ++i) {
    std::uint64_t b;
    std::memcpy(&b, v + i, sizeof b);
    bad |= (b & 0x7FF0000000000000ull) + 0x0010000000000000ull;
  }
  return (bad >> 63) == 0;
}

void check_unit(const vr_lt_unit &u) {
  require(u.ring_pos >= 0 && u.ring_pos < vr::capture::ring_bytes);
  require(u.next_slot >= 0 && u.next_slot < 16);
  const double clock[3] = {u.clock_offset, u.clock_lag, u.clock_rate};
  require(all_finite(clock, 3));
  for (const vr_lt_channel &c : u.chan) {
    require(all_finite(c.value, 16));
    const double fit[2] = {c.fit_slope, c.fit_intercept};
    const float fit_f[2] = {c.fit_variance, c.fit_time};
    require(all_finite(fit, 2) && all_finite(fit_f, 2));
  }
  const double t = vr::lt::raw_state().time_to_cm;
  require(t == 0.0 || (t > 0.0045 && t < 0.0065));
}

void check_pose(const dmat m) {
  require(all_finite(&m[0][0], 16));
}

// The statistics records a frame can write are the one its capture call fills (cur_stat before
// the call) and the one the solve after it fills (cur_stat - 1 after the call): the recorder
// keeps each record's header count within the table there. The other records are not touched.
void check_stat(int index) {
  if (index < 0 || index > 255) return;
  require(stats[index].headers >= 0 && stats[index].headers <= 16);
}

// The frames one input may run; the operations after the last are ignored. A frame (a capture
// pass over up to a window of the ring, then a solve) costs far more than the one byte that asks
// for it, and libFuzzer keeps any input whose only novelty is running the same loops more often:
// unbounded, the corpus fills with inputs of hundreds of frames and the rate falls as it grows.
// This many frames still fill the 16-slot history several times over and reach the clock wrap,
// the lost-record limit and 20 rejected samples in a row.
constexpr int max_frames_per_input = 48;

// Where the statistics recorder starts when armed: at the first record, or a few records before
// the table's end so that its wrap is reached within the bounded frames.
constexpr int stats_start[2] = {0, 250};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  // A full statistics table prints 255 records: keep the fuzzer's own output readable.
  if (!std::freopen("/dev/null", "w", stdout)) return 0;
  return 0;
}

// Input: a flags byte, a filter length byte, then operations until the input ends or
// max_frames_per_input frames have run:
//   0: append n bytes (n = next byte) to the ring, as the capture driver does;
//   1: set the write offset to an arbitrary 32-bit value (the next four bytes);
//   2: move time by a signed number of milliseconds (next two bytes); -32768 sets it to a
//      special value chosen by the byte after (NaN, infinities, 1e300, -1e300, 0);
//   3: run a frame: capture pass, solve, debounce, and the checks.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static unsigned char area[vr::capture::area_bytes];
  static vr_lt_unit unit;
  Input in{data, size};
  const std::uint8_t flags = in.byte();
  const int port = (flags >> 3) & 1;

  std::memset(area, 0, sizeof area);
  std::memset(&unit, 0, sizeof unit);
  vr::lt::reset_raw_state();
  vr_lt_device_struct_init("fuzz", &unit);
  unit.port = port;
  unit.filter_length = static_cast<std::int8_t>(in.byte());
  unit.op_info.op_byte[6] = (flags & 4) ? 2 : 0;
  unit.op_info.receiver_geom[0] = 6.35;
  unit.op_info.receiver_geom[1] = 6.35;
  unit.op_info.transmitter_geom[2] = 25.4;
  vr_lt_glasses_unit = (flags & 32) ? &unit : nullptr;
  cur_stat = (flags & 16) ? stats_start[flags >> 7] : 255;

  // The capture and the solver only read the context, and only the fields set below: one
  // zeroed context serves every input (zeroing a whole context, extension block included, for
  // each input cost more than the frames of a short input).
  static vr_ctx ctx;
  ctx.raw_interpolate = flags & 1;
  ctx.predict_from_frame_time = (flags >> 1) & 1;
  ctx.predict_lead = 3.0 / 112.9;
  ctx.predict_lead_limit = 3.0;
  ctx.raw_limit = (flags & 64) ? 1e300 : 100.0;
  dmat pose;
  vr_mat_identity(pose);

  int w = 0;
  double now = 10.0;
  double prev = now;
  const vr::capture::RingView ring(area, port);
  auto set_offset = [&](std::int32_t off) {
    std::memcpy(area + vr::capture::write_offset_byte[port], &off, sizeof off);
  };
  set_offset(0);
  int frames = 0;
  while (in.more() && frames < max_frames_per_input) {
    switch (in.byte() & 3) {
      case 0: {
        const int n = in.byte();
        w = vr::capture::wrap(w);
        for (int k = 0; k < n && in.more(); ++k) {
          area[vr::capture::ring_start_byte[port] + w] = in.byte();
          w = vr::capture::wrap(w + 1);
        }
        set_offset(w);
        break;
      }
      case 1:
        w = in.i32();
        set_offset(w);
        break;
      case 2: {
        const std::uint8_t lo = in.byte(), hi = in.byte();
        const std::int16_t ms = static_cast<std::int16_t>(lo | (hi << 8));
        static const double special[] = {NAN, INFINITY, -INFINITY, 1e300, -1e300, 0.0};
        prev = now;
        if (ms == INT16_MIN)
          now = special[in.byte() % 6];
        else
          now += ms / 1000.0;
        break;
      }
      case 3: {
        ++frames;
        ctx.pworld_time_now = now;
        ctx.pworld_time_delta = now - prev;
        const int captured_into = cur_stat;
        vr::lt::capture_pass(&unit, ring, ring.write_offset(), now);
        if (cur_stat == 254) cur_stat = 0;  // keep recording without printing every time
        const int solved_into = cur_stat - 1;
        comp_mouse_6d_raws(&ctx, &unit, pose);
        const int b = vr_lt_debounce_buttons(&unit);
        require(b >= -1 && b <= 15);
        check_unit(unit);
        check_pose(pose);
        check_stat(captured_into);
        check_stat(solved_into);
        break;
      }
    }
  }
  vr_lt_glasses_unit = nullptr;
  cur_stat = 255;
  return 0;
}
