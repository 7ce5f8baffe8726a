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

bool finite_or_unmeasured(double v) {
  return std::isfinite(v);
}

void check_unit(const vr_lt_unit &u) {
  require(u.ring_pos >= 0 && u.ring_pos < vr::capture::ring_bytes);
  require(u.next_slot >= 0 && u.next_slot < 16);
  require(finite_or_unmeasured(u.clock_offset) && std::isfinite(u.clock_lag));
  require(std::isfinite(u.clock_rate));
  for (const vr_lt_channel &c : u.chan) {
    for (float v : c.value) require(std::isfinite(v));
    require(std::isfinite(c.fit_slope) && std::isfinite(c.fit_intercept));
    require(std::isfinite(c.fit_variance) && std::isfinite(c.fit_time));
  }
  const double t = vr::lt::raw_state().time_to_cm;
  require(t == 0.0 || (t > 0.0045 && t < 0.0065));
}

void check_pose(const dmat m) {
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) require(std::isfinite(m[r][c]));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  // A full statistics table prints 255 records: keep the fuzzer's own output readable.
  if (!std::freopen("/dev/null", "w", stdout)) return 0;
  return 0;
}

// Input: a flags byte, a filter length byte, then operations until the input ends:
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
  cur_stat = (flags & 16) ? 0 : 255;

  vr_ctx ctx;
  std::memset(&ctx, 0, sizeof ctx);
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
  while (in.more()) {
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
        ctx.pworld_time_now = now;
        ctx.pworld_time_delta = now - prev;
        vr::lt::capture_pass(&unit, ring, ring.write_offset(), now);
        if (cur_stat == 254) cur_stat = 0;  // keep recording without printing every time
        comp_mouse_6d_raws(&ctx, &unit, pose);
        const int b = vr_lt_debounce_buttons(&unit);
        require(b >= -1 && b <= 15);
        check_unit(unit);
        check_pose(pose);
        for (const vr_lt_stat &st : stats) require(st.headers >= 0 && st.headers <= 16);
        break;
      }
    }
  }
  vr_lt_glasses_unit = nullptr;
  cur_stat = 255;
  return 0;
}
