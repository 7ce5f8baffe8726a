// The simulated Logitech control units: answers to each command, byte by byte, and the geometry
// and timing behind the 6D reports and raw records.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

#include "sim_fixture.h"
#include "sim_lines.h"
#include "vr_platform.h"

namespace {

using sim_test::raw_records;
using sim_test::ring_since;
using sim_test::Sim;
namespace os = vr::os;

constexpr double cm_per_thou = 2.54 / 1000.0;
constexpr double rad_per_wire = std::numbers::pi / (180.0 * 40.0);
using sim_lines::logitech_line;
using sim_lines::open_unit;

void send(int fd, const char *text, int n = -1) {
  os::line_write(fd, text, n < 0 ? static_cast<int>(std::strlen(text)) : n);
}

// The newest complete 16-byte report (bit 7 set only in its first byte) of a byte sequence.
bool newest_6d(const std::vector<unsigned char> &bytes, unsigned char out[16]) {
  for (int p = static_cast<int>(bytes.size()) - 16; p >= 0; --p)
    if (bytes[p] & 0x80) {
      std::memcpy(out, &bytes[p], 16);
      return true;
    }
  return false;
}

// Signed value of a 6D position field (sign bit, bit 14, 7 bits, 7 bits).
int position(const unsigned char *b) {
  int field = (b[0] & 1) << 14 | (b[1] & 0x7F) << 7 | (b[2] & 0x7F);
  return (b[0] & 2) ? field - 32768 : field;
}

// The pose Rz(roll) Rx(pitch) Ry(yaw) T(x, y, z) built with the library's own math.
void build_pose(double x, double y, double z, double roll, double pitch, double yaw, dmat out) {
  dmat rz, rx, ry, t;
  vr_mat_rot_z(roll, rz);
  vr_mat_rot_x(pitch, rx);
  vr_mat_rot_y(yaw, ry);
  vr_mat_trans(x, y, z, t);
  vr_mat_mul_mat(rz, rx, out);
  vr_mat_mul_mat(out, ry, out);
  vr_mat_mul_mat(out, t, out);
}

TEST(SimLogitech, OperatingInformationByteForByte) {
  Sim sim;
  vrsim_plug_standard(sim);
  vrsim_lt_config mouse;
  vrsim_lt_config_init(&mouse, VRSIM_RX_MOUSE);
  mouse.op_byte0 = 0x7F;  // only six bits go out
  mouse.op_byte14 = 0x85;
  vrsim_plug_logitech(sim, VRSIM_PORT_B, &mouse);
  int a = open_unit(0), b = open_unit(1);
  int start_a = vrsim_ring_offset(0), start_b = vrsim_ring_offset(1);
  send(a, "*m");
  send(b, "*m");
  vrsim_advance(sim, 0.5);
  const unsigned char expect_a[30] = {0x80, 0,    0,    0, 0,    0,    2,    0,    11,   3,   0xC4,
                                      0x09, 0xC4, 0x09, 0, 0xE0, 0x2E, 0xE0, 0x2E, 0x10, 0x27};
  const unsigned char expect_b[30] = {0xBF, 0,    0,    0,    0,    0,    0,
                                      0,    4,    0,    0xD0, 0x07, 0xD0, 0x07,
                                      0x05, 0xE0, 0x2E, 0xE0, 0x2E, 0x10, 0x27};
  auto got_a = ring_since(0, start_a), got_b = ring_since(1, start_b);
  ASSERT_EQ(got_a.size(), 30u);  // the unit is quiet apart from the answer
  ASSERT_EQ(got_b.size(), 30u);
  EXPECT_EQ(std::memcmp(got_a.data(), expect_a, 30), 0);
  EXPECT_EQ(std::memcmp(got_b.data(), expect_b, 30), 0);

  // Once slaved, the unit without the transmitter reports the type it was given.
  start_b = vrsim_ring_offset(1);
  const char slave[] = {'*', '$', 2, 1, 3};
  send(b, slave, 5);
  send(b, "*m");
  vrsim_advance(sim, 0.5);
  got_b = ring_since(1, start_b);
  ASSERT_EQ(got_b.size(), 30u);
  EXPECT_EQ(got_b[9], 3);
  vrsim_lt_state st;
  ASSERT_EQ(vrsim_lt_get_state(sim, 1, &st), 1);
  EXPECT_EQ(st.slave_type, 3);
  EXPECT_EQ(st.op_info_requests, 2);
}

TEST(SimLogitech, ParameterCommandsAndResetState) {
  Sim sim;
  vrsim_plug_standard(sim);
  int a = open_unit(0);
  const char filter[] = {'*', '$', 2, 7, 3};
  send(a, filter, 5);
  const char slave_short[] = {'*', '$', 2, 1};  // a type of 0 ends the command early
  send(a, slave_short, 4);
  vrsim_lt_state st;
  vrsim_lt_get_state(sim, 0, &st);
  EXPECT_EQ(st.filter_length, 3);
  EXPECT_EQ(st.slave_type, -1);
  vrsim_advance(sim, 0.06);  // the unit gives up waiting for the missing byte
  vrsim_lt_get_state(sim, 0, &st);
  EXPECT_EQ(st.slave_type, 0);

  send(a, "*S");
  send(a, "*\xF2");
  send(a, "*O");
  send(a, "*x");
  vrsim_lt_get_state(sim, 0, &st);
  EXPECT_EQ(st.streaming, 1);
  EXPECT_EQ(st.mode, VRSIM_MODE_RAW);
  EXPECT_EQ(st.transmitter_on, 0);
  EXPECT_EQ(st.measuring, 0);
  EXPECT_EQ(st.unknown_commands, 1);

  send(a, "*R");
  vrsim_lt_get_state(sim, 0, &st);
  EXPECT_EQ(st.resets, 1);
  EXPECT_EQ(st.streaming, 0);
  EXPECT_EQ(st.mode, VRSIM_MODE_6D);
  EXPECT_EQ(st.transmitter_on, 1);
  EXPECT_EQ(st.filter_length, 0);
  EXPECT_EQ(st.slave_type, -1);
  EXPECT_EQ(st.measuring, 0);  // still resetting
  send(a, "*S");               // not heard while resetting
  vrsim_advance(sim, 0.5);
  vrsim_lt_get_state(sim, 0, &st);
  EXPECT_EQ(st.streaming, 0);
  EXPECT_EQ(st.measuring, 1);
}

TEST(SimLogitech, SixDReportsRebuildTheTruthThroughTheLibraryPoseBuilder) {
  Sim sim;
  vrsim_plug_standard(sim);
  const double roll = 0.3, pitch = -0.4, yaw = 2.5;
  dmat truth;
  build_pose(-12.7, 3.2, 48.0, roll, pitch, yaw, truth);
  vrsim_set_pose(sim, VRSIM_HEAD, truth);
  vrsim_set_buttons(sim, VRSIM_HEAD, 5);
  int a = open_unit(0);
  int start = vrsim_ring_offset(0);
  send(a, "*S");
  vrsim_advance(sim, 0.1);
  auto bytes = ring_since(0, start);
  ASSERT_EQ(bytes.size() % 16, 0u);
  EXPECT_EQ(bytes.size(), 5u * 16);  // 50 reports a second
  unsigned char r[16];
  ASSERT_TRUE(newest_6d(bytes, r));
  for (int i = 1; i < 16; ++i) EXPECT_EQ(r[i] & 0x80, 0) << i;
  EXPECT_EQ(r[0], 0x80 | 5);  // buttons as they are
  // -12.7 cm is -5000 thousandths: sign and bit 14 set, then 7-bit groups of 0x6C78.
  EXPECT_EQ(r[1], 0x03);
  EXPECT_EQ(r[2], 0x58);
  EXPECT_EQ(r[3], 0x78);
  double x = position(r + 1) * cm_per_thou, y = position(r + 4) * cm_per_thou,
         z = position(r + 7) * cm_per_thou;
  double p = (r[10] * 128 + r[11]) * rad_per_wire, w = (r[12] * 128 + r[13]) * rad_per_wire,
         l = (r[14] * 128 + r[15]) * rad_per_wire;
  dmat rebuilt;
  build_pose(x, y, z, l, p, w, rebuilt);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) EXPECT_NEAR(rebuilt[i][j], truth[i][j], 4e-4) << i << j;
  for (int j = 0; j < 3; ++j) EXPECT_NEAR(rebuilt[3][j], truth[3][j], 0.00128) << j;
  dmat same;
  vr_lt_6d pose{x, y, z, l, p, w, 0};
  build_mat_6Dm_to_dig(nullptr, &pose, same);
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) EXPECT_NEAR(same[i][j], rebuilt[i][j], 1e-12);

  unsigned char enc[16];
  vrsim_encode_6d(truth, 5, enc);
  EXPECT_EQ(std::memcmp(enc, r, 16), 0);
}

TEST(SimLogitech, SixDEncodingLimitsAndAngles) {
  dmat m;
  vr_mat_identity(m);
  m[3][0] = 1000.0;  // beyond the field: saturates
  m[3][1] = -1000.0;
  m[3][2] = -0.00254;  // one thousandth below zero
  unsigned char r[16];
  vrsim_encode_6d(m, 0x7F, r);
  EXPECT_EQ(r[0], 0xFF);
  EXPECT_EQ(position(r + 1), 32767);
  EXPECT_EQ(position(r + 4), -32768);
  EXPECT_EQ(position(r + 7), -1);
  EXPECT_EQ(r[7], 0x03);
  EXPECT_EQ(r[8], 0x7F);
  EXPECT_EQ(r[9], 0x7F);
  // Negative angles go out as their equivalent in 0..360 degrees.
  build_pose(0, 0, 0, -std::numbers::pi / 2, 0, 0, m);
  vrsim_encode_6d(m, 0, r);
  EXPECT_EQ(r[14] * 128 + r[15], 270 * 40);
  EXPECT_EQ(r[10] * 128 + r[11], 0);
  // Straight up: roll and yaw are one freedom, carried by roll.
  build_pose(0, 0, 0, 0.5, std::numbers::pi / 2, 0.2, m);
  double x, y, z, rl, pt, yw;
  vrsim_decompose_6d(m, &x, &y, &z, &rl, &pt, &yw);
  dmat back;
  build_pose(x, y, z, rl, pt, yw, back);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) EXPECT_NEAR(back[i][j], m[i][j], 1e-9);
}

TEST(SimLogitech, RawRecordLayoutByteOrderAndGeometry) {
  Sim sim;
  vrsim_plug_standard(sim);
  vrsim_set_buttons(sim, VRSIM_HEAD, 1);  // goes out as bit 2
  int a = open_unit(0);
  send(a, "*\xF2");
  int start = vrsim_ring_offset(0);
  send(a, "*S");
  vrsim_advance(sim, 0.205);  // the record of the cycle at 183 ms is in by 200.5 ms
  auto bytes = ring_since(0, start);
  EXPECT_EQ(bytes.size(), 10u * 24);
  EXPECT_EQ(bytes[0], 0xF4);  // low byte first
  EXPECT_EQ(bytes[1], 0xF0);
  auto recs = raw_records(bytes);
  ASSERT_EQ(recs.size(), 10u);
  const auto &u = recs.back();
  EXPECT_EQ(u[0], 0xF0F4u);
  EXPECT_EQ(u[4], 4800u);  // 10.000 in at 25.4/4800 cm a count

  // Cycles run at 3 ms + 20 ms k; the tenth after the start at 0 fires its stop at 183 ms.
  const double t_stop = 0.183;
  EXPECT_EQ(u[8], static_cast<unsigned>(std::floor((12.345 + t_stop) * 1000.0)));

  // Independent geometry: speakers of a 12 in equilateral triangle, glasses microphones of a
  // 2.5 in base with sides 2.5 in + 0.08 cm, head at (0, -10, 55) facing the transmitter.
  const double B = 12 * 2.54, H = std::sqrt(B * B - B * B / 4);
  const double speakers[3][3] = {{-B / 2, 0, 0}, {B / 2, 0, 0}, {0, H, 0}};
  const double b = 2.5 * 2.54, s = 2.5 * 2.54 + 0.08, h = std::sqrt(s * s - b * b / 4);
  const double mics[3][3] = {{-b / 2, -10, 55}, {b / 2, -10, 55}, {0, h - 10, 55}};  // mlr mll mtop
  const int value[3][3] = {{1, 2, 3}, {5, 6, 7}, {9, 10, 11}};
  const double cpc = 25.4 / 4800;
  double d9[9];
  vrsim_true_distances(sim, 0, t_stop, d9);
  for (int sp = 0; sp < 3; ++sp)
    for (int mc = 0; mc < 3; ++mc) {
      double dx = mics[mc][0] - speakers[sp][0], dy = mics[mc][1] - speakers[sp][1],
             dz = mics[mc][2] - speakers[sp][2];
      double d = std::sqrt(dx * dx + dy * dy + dz * dz);
      EXPECT_NEAR(d9[3 * sp + mc], d, 1e-9);
      EXPECT_EQ(u[value[sp][mc]], static_cast<unsigned>(std::llround(d / cpc))) << sp << mc;
    }
}

struct Sweep {
  double speed;  // cm/s along x
};

void sweep(void *user, double t, dmat out) {
  vr_mat_trans(static_cast<Sweep *>(user)->speed * t, -10.0, 55.0, out);
}

TEST(SimLogitech, EachSpeakerIsMeasuredAtItsOwnFiringTime) {
  Sim sim;
  vrsim_plug_standard(sim);
  Sweep move{30.0};
  vrsim_set_pose_fn(sim, VRSIM_HEAD, sweep, &move);
  dmat at;
  vrsim_get_pose(sim, VRSIM_HEAD, 2.0, at);
  EXPECT_DOUBLE_EQ(at[3][0], 60.0);
  double d[9];
  vrsim_true_distances(sim, 0, 1.0, d);
  vrsim_set_position(sim, VRSIM_HEAD, 30.0 * (1.0 - 0.04 / 3), -10.0, 55.0);
  double sll[9];
  vrsim_true_distances(sim, 0, 1.0, sll);
  vrsim_set_position(sim, VRSIM_HEAD, 30.0 * (1.0 - 0.02 / 3), -10.0, 55.0);
  double slr[9];
  vrsim_true_distances(sim, 0, 1.0, slr);
  vrsim_set_position(sim, VRSIM_HEAD, 30.0, -10.0, 55.0);
  double stop[9];
  vrsim_true_distances(sim, 0, 1.0, stop);
  for (int k = 0; k < 3; ++k) {
    EXPECT_NEAR(d[k], sll[k], 1e-9);
    EXPECT_NEAR(d[3 + k], slr[3 + k], 1e-9);
    EXPECT_NEAR(d[6 + k], stop[6 + k], 1e-9);
  }
  EXPECT_GT(std::fabs(d[0] - stop[0]), 0.1);
}

TEST(SimLogitech, DemandModeAnswersEachDigitizeWithOneMessage) {
  Sim sim;
  vrsim_plug_standard(sim);
  int a = open_unit(0);
  send(a, "*D");
  int start = vrsim_ring_offset(0);
  vrsim_advance(sim, 0.1);
  EXPECT_EQ(ring_since(0, start).size(), 0u);
  send(a, "*d");
  vrsim_advance(sim, 0.1);
  EXPECT_EQ(ring_since(0, start).size(), 16u);
  send(a, "*\xF2");
  send(a, "*d");
  vrsim_advance(sim, 0.1);
  EXPECT_EQ(ring_since(0, start).size(), 16u + 24u);
}

TEST(SimLogitech, NoMeasurementsWithoutAWorkingTransmitter) {
  Sim sim;
  vrsim_plug_standard(sim);
  int a = open_unit(0), b = open_unit(1);
  send(a, "*S");
  send(b, "*S");
  int sa = vrsim_ring_offset(0), sb = vrsim_ring_offset(1);
  vrsim_advance(sim, 0.1);
  EXPECT_EQ(ring_since(0, sa).size(), 80u);
  EXPECT_EQ(ring_since(1, sb).size(), 80u);  // the slave measures with the master's transmitter

  send(a, "*O");  // the master's transmitter off: both fall silent
  sa = vrsim_ring_offset(0), sb = vrsim_ring_offset(1);
  vrsim_advance(sim, 0.1);
  EXPECT_LE(ring_since(0, sa).size(), 16u);  // at most a report already on its way
  sa = vrsim_ring_offset(0), sb = vrsim_ring_offset(1);
  vrsim_advance(sim, 0.1);
  EXPECT_EQ(ring_since(0, sa).size(), 0u);
  EXPECT_EQ(ring_since(1, sb).size(), 0u);

  send(a, "*A");
  vrsim_set_power(sim, 0, 0);  // the master switched off: no transmitter for the slave
  sb = vrsim_ring_offset(1);
  vrsim_advance(sim, 0.1);
  EXPECT_LE(ring_since(1, sb).size(), 16u);
  sb = vrsim_ring_offset(1);
  vrsim_advance(sim, 0.1);
  EXPECT_EQ(ring_since(1, sb).size(), 0u);
  send(a, "*m");  // a powered-off unit answers nothing
  sa = vrsim_ring_offset(0);
  vrsim_advance(sim, 0.5);
  EXPECT_EQ(ring_since(0, sa).size(), 0u);

  // A strict slave waits for its slave type.
  vrsim_set_power(sim, 0, 1);
  vrsim_lt_config strict;
  vrsim_lt_config_init(&strict, VRSIM_RX_MOUSE);
  strict.strict_slave = 1;
  vrsim_plug_logitech(sim, 1, &strict);
  vrsim_lt_state st;
  vrsim_lt_get_state(sim, 1, &st);
  EXPECT_EQ(st.measuring, 0);
  const char slave[] = {'*', '$', 2, 1, 3};
  send(b, slave, 5);
  vrsim_lt_get_state(sim, 1, &st);
  EXPECT_EQ(st.measuring, 1);
}

TEST(SimLogitech, WrongLineSettingsGarbleBothDirections) {
  Sim sim;
  vrsim_plug_standard(sim);
  int a = os::line_open("/dev/ttya");  // still at 9600 baud
  send(a, "*S");
  vrsim_lt_state st;
  vrsim_lt_get_state(sim, 0, &st);
  EXPECT_EQ(st.commands, 0);
  ASSERT_EQ(os::line_set(a, &logitech_line), 0);
  send(a, "*S");
  vr_line_settings slow = logitech_line;
  slow.baud = 9600;
  ASSERT_EQ(os::line_set(a, &slow), 0);
  int start = vrsim_ring_offset(0);
  vrsim_advance(sim, 0.1);
  auto bytes = ring_since(0, start);
  ASSERT_EQ(bytes.size(), 80u);
  dmat head;
  vrsim_get_pose(sim, VRSIM_HEAD, 0.0, head);
  unsigned char good[16];
  vrsim_encode_6d(head, 0, good);
  int differ = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) differ += bytes[i] != good[i % 16];
  EXPECT_GT(differ, 70);

  // Back at the right speed the reports are clean; with the receiver off or the line closed
  // nothing reaches the ring.
  ASSERT_EQ(os::line_set(a, &logitech_line), 0);
  vrsim_advance(sim, 0.02);
  start = vrsim_ring_offset(0);
  vrsim_advance(sim, 0.1);
  bytes = ring_since(0, start);
  ASSERT_EQ(bytes.size(), 80u);
  for (std::size_t i = 0; i < bytes.size(); ++i) EXPECT_EQ(bytes[i], good[i % 16]) << i;
  vr_line_settings deaf = logitech_line;
  deaf.read_enable = 0;
  ASSERT_EQ(os::line_set(a, &deaf), 0);
  start = vrsim_ring_offset(0);
  vrsim_advance(sim, 0.1);
  EXPECT_EQ(ring_since(0, start).size(), 0u);
  ASSERT_EQ(os::line_set(a, &logitech_line), 0);
  os::line_close(a);
  vrsim_advance(sim, 0.1);
  EXPECT_EQ(vrsim_ring_offset(0), start);
}

}  // namespace
