// Helpers for the raw ultrasonic path tests: a capture area in test memory that a writer fills
// with raw records, a fresh unit, and the receiver/transmitter geometry from which true
// distances are computed independently of the solver.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "vr_capture.h"
#include "vr_lt_raw.h"
#include "vrlib/vr.h"

namespace raw_test {

using Values = std::array<unsigned, 12>;

// The 24 wire bytes of a raw record: twelve 16-bit values, low byte first.
inline std::array<unsigned char, 24> encode(const Values &v) {
  std::array<unsigned char, 24> b{};
  for (int k = 0; k < 12; ++k) {
    b[2 * k] = static_cast<unsigned char>(v[k] & 0xFF);
    b[2 * k + 1] = static_cast<unsigned char>((v[k] >> 8) & 0xFF);
  }
  return b;
}

// A record with the given wire buttons, time stamp (ms), reference count and nine times of
// flight in wire order (sll->mlr, mll, mtop, slr->..., stop->...).
inline Values record(unsigned buttons, unsigned stamp_ms, unsigned reference,
                     const std::array<unsigned, 9> &tof) {
  return {0xF0F0u | (buttons & 15u),
          tof[0],
          tof[1],
          tof[2],
          reference,
          tof[3],
          tof[4],
          tof[5],
          stamp_ms,
          tof[6],
          tof[7],
          tof[8]};
}

// One port's ring in test memory, written like the capture driver does.
struct Ring {
  std::array<unsigned char, vr::capture::area_bytes> area{};
  int port = 0;
  int w = 0;

  explicit Ring(int p = 0) : port(p) { set_offset(0); }
  void put(unsigned char b) {
    area[vr::capture::ring_start_byte[port] + w] = b;
    w = vr::capture::wrap(w + 1);
    set_offset(w);
  }
  void put(const Values &v) {
    for (unsigned char b : encode(v)) put(b);
  }
  void set_offset(std::int32_t off) {
    std::memcpy(area.data() + vr::capture::write_offset_byte[port], &off, sizeof off);
  }
  vr::capture::RingView view() const { return vr::capture::RingView(area.data(), port); }
};

// Default geometry of the tests (cm): transmitter base and side 30.48 (equilateral), reference
// distance 25.4 over 4800 counts; glasses receiver base and reported side 6.35.
constexpr double tx_base_cm = 30.48;
constexpr double tx_side_cm = 30.48;
constexpr double reference_cm = 25.4;
constexpr unsigned reference_counts = 4800;
constexpr double cm_per_count = reference_cm / reference_counts;

// A unit as the port set-up leaves it, with the transmitter on it when `transmitter` is set.
inline void init_unit(vr_lt_unit *unit, int port, bool transmitter, double rx_base = 6.35,
                      double rx_side = 6.35) {
  std::memset(unit, 0, sizeof *unit);
  vr_lt_device_struct_init(port == 0 ? "Crystal Eyes(tm)" : "Logitech 3D Mouse", unit);
  unit->port = port;
  unit->op_info.op_byte[6] = transmitter ? 2 : 0;
  unit->op_info.receiver_geom[0] = rx_base;
  unit->op_info.receiver_geom[1] = rx_side;
  unit->op_info.transmitter_geom[0] = tx_base_cm;
  unit->op_info.transmitter_geom[1] = tx_side_cm;
  unit->op_info.transmitter_geom[2] = reference_cm;
}

struct P3 {
  double x, y, z;
};
inline P3 through(const P3 &p, const dmat m) {
  return {p.x * m[0][0] + p.y * m[1][0] + p.z * m[2][0] + m[3][0],
          p.x * m[0][1] + p.y * m[1][1] + p.z * m[2][1] + m[3][1],
          p.x * m[0][2] + p.y * m[1][2] + p.z * m[2][2] + m[3][2]};
}
inline double dist(const P3 &a, const P3 &b) {
  return std::sqrt((a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y) +
                   (a.z - b.z) * (a.z - b.z));
}

// Speakers in the transmitter frame: sll, slr, stop.
inline P3 speaker(int which) {
  const double h = std::sqrt(tx_side_cm * tx_side_cm - tx_base_cm * tx_base_cm / 4);
  const P3 s[3] = {{-tx_base_cm / 2, 0, 0}, {tx_base_cm / 2, 0, 0}, {0, h, 0}};
  return s[which];
}

// Microphones in the sensor frame: mll, mlr, mtop, for base b, true side s and mtop offset e.
inline P3 microphone(int which, double b, double s, double e = 0.0) {
  const double h = std::sqrt(s * s - b * b / 4);
  const P3 m[3] = {{b / 2, 0, 0}, {-b / 2, 0, 0}, {-e, h, 0}};
  return m[which];
}

// The nine true distances of a sensor-to-transmitter pose, in wire order.
inline std::array<double, 9> distances(const dmat pose, double b, double s, double e = 0.0) {
  std::array<double, 9> d{};
  const int mic_order[3] = {1, 0, 2};  // mlr, mll, mtop
  for (int sp = 0; sp < 3; ++sp)
    for (int k = 0; k < 3; ++k)
      d[3 * sp + k] = dist(speaker(sp), through(microphone(mic_order[k], b, s, e), pose));
  return d;
}

// A pose: rotation about z, then x, then y (radians), then translation.
inline void pose(double rz, double rx, double ry, double x, double y, double z, dmat out) {
  dmat a, b, c, t, m1, m2;
  vr_mat_rot_z(rz, a);
  vr_mat_rot_x(rx, b);
  vr_mat_rot_y(ry, c);
  vr_mat_trans(x, y, z, t);
  vr_mat_mul_mat(a, b, m1);
  vr_mat_mul_mat(m1, c, m2);
  vr_mat_mul_mat(m2, t, out);
}

// Angle (degrees) of the rotation between the upper 3x3 blocks of two poses.
inline double angle_between_deg(const dmat a, const dmat b) {
  double trace = 0;
  for (int i = 0; i < 3; ++i)
    for (int k = 0; k < 3; ++k) trace += a[i][k] * b[i][k];
  double c = (trace - 1) / 2;
  c = c > 1 ? 1 : c < -1 ? -1 : c;
  return std::acos(c) * 180.0 / M_PI;
}
inline double translation_error(const dmat a, const dmat b) {
  return std::sqrt((a[3][0] - b[3][0]) * (a[3][0] - b[3][0]) +
                   (a[3][1] - b[3][1]) * (a[3][1] - b[3][1]) +
                   (a[3][2] - b[3][2]) * (a[3][2] - b[3][2]));
}

// Back to a fresh process for the module state of the raw path.
inline void reset_module() {
  vr::lt::reset_raw_state();
  vr::lt::reset_raw_counters();
  cur_stat = 255;
  vr_lt_glasses_unit = nullptr;
  vr_lt_mouse_6d_unit = nullptr;
}

}  // namespace raw_test
