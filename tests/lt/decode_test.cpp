// The Logitech report decoders on hand-made rings: 6D reports, operating information and
// CyberMan packets, including the ways a ring can lie.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "ring_area.h"
#include "vr_serial_decode.h"
#include "vrlib/vr.h"

namespace {

using ring_test::Area;
using Report = std::array<unsigned char, 16>;

// A 6D report from its wire fields (coordinates as 15-bit magnitude plus sign, angles 14 bits).
Report make_report(int status, int x, int y, int z, int pitch, int yaw, int roll) {
  Report r{};
  r[0] = static_cast<unsigned char>(0x80 | status);
  int xyz[3] = {x, y, z};
  for (int i = 0; i < 3; ++i) {
    int v = xyz[i] < 0 ? xyz[i] + 32768 : xyz[i];
    r[1 + 3 * i] = static_cast<unsigned char>((xyz[i] < 0 ? 2 : 0) | ((v >> 14) & 1));
    r[2 + 3 * i] = static_cast<unsigned char>((v >> 7) & 0x7F);
    r[3 + 3 * i] = static_cast<unsigned char>(v & 0x7F);
  }
  int angles[3] = {pitch, yaw, roll};
  for (int i = 0; i < 3; ++i) {
    r[10 + 2 * i] = static_cast<unsigned char>((angles[i] >> 7) & 0x7F);
    r[11 + 2 * i] = static_cast<unsigned char>(angles[i] & 0x7F);
  }
  return r;
}

vr_lt_event convert(const Report &r) {
  vr_lt_event e;
  std::memset(&e, 0x5A, sizeof e);
  vr_lt_convert_event(r.data(), &e);
  return e;
}

TEST(ConvertEvent, CoordinateEdgesAndAngles) {
  Report r{};
  r[0] = 0x85;
  // X = -32768, Y = 32767, Z = 1.
  r[1] = 0x02, r[2] = 0x00, r[3] = 0x00;
  r[4] = 0x01, r[5] = 0x7F, r[6] = 0x7F;
  r[7] = 0x00, r[8] = 0x00, r[9] = 0x01;
  r[10] = 0x7F, r[11] = 0x7F;  // pitch 16383
  r[12] = 0x01, r[13] = 0x00;  // yaw 128
  r[14] = 0x00, r[15] = 0x05;  // roll 5
  vr_lt_event e = convert(r);
  EXPECT_EQ(e.reserved, 0);
  EXPECT_EQ(e.status, 5);
  EXPECT_EQ(e.x, -32768);
  EXPECT_EQ(e.y, 32767);
  EXPECT_EQ(e.z, 1);
  EXPECT_EQ(e.pitch, 16383);
  EXPECT_EQ(e.yaw, 128);
  EXPECT_EQ(e.roll, 5);

  vr_lt_event round = convert(make_report(0x7F, -1, -12345, 20000, 3600, 7200, 14399));
  EXPECT_EQ(round.status, 0x7F);
  EXPECT_EQ(round.x, -1);
  EXPECT_EQ(round.y, -12345);
  EXPECT_EQ(round.z, 20000);
  EXPECT_EQ(round.pitch, 3600);
  EXPECT_EQ(round.yaw, 7200);
  EXPECT_EQ(round.roll, 14399);
}

TEST(ConvertEvent, WithoutSyncEverythingIsZero) {
  Report r = make_report(3, 100, 200, 300, 4, 5, 6);
  r[0] &= 0x7F;
  vr_lt_event e = convert(r);
  EXPECT_EQ(e.status, 0);
  EXPECT_EQ(e.x, 0);
  EXPECT_EQ(e.roll, 0);
}

TEST(ConvertEvent, PhysicalUnits) {
  vr_lt_event e{0, 9, 1000, -2000, 500, 40 * 90, 40 * 45, 40 * 180};
  vr_lt_6d p;
  vr::decode::event_to_6d(e, &p);
  EXPECT_DOUBLE_EQ(p.x, 2.54);
  EXPECT_DOUBLE_EQ(p.y, -5.08);
  EXPECT_DOUBLE_EQ(p.z, 1.27);
  EXPECT_DOUBLE_EQ(p.pitch, std::numbers::pi / 2);
  EXPECT_DOUBLE_EQ(p.yaw, std::numbers::pi / 4);
  EXPECT_DOUBLE_EQ(p.roll, std::numbers::pi);
  EXPECT_EQ(p.buttons, 9);
}

TEST(Newest6dReport, TakesTheNewestCompleteReport) {
  Area a;
  Report older = make_report(1, 10, 20, 30, 1, 2, 3);
  Report newer = make_report(2, 11, 21, 31, 4, 5, 6);
  a.put(0, 100, older.data(), 16);
  a.put(0, 116, newer.data(), 16);
  Report out{};
  ASSERT_TRUE(vr::decode::newest_6d_report(a.ring(0), 132, out.data()));
  EXPECT_EQ(out, newer);

  // The newest report has only 15 of its bytes: the one before it is taken.
  ASSERT_TRUE(vr::decode::newest_6d_report(a.ring(0), 131, out.data()));
  EXPECT_EQ(out, older);
  // A few bytes of a following report do not hide the complete one.
  a.put(0, 132, {0x83, 0x00, 0x01});
  ASSERT_TRUE(vr::decode::newest_6d_report(a.ring(0), 135, out.data()));
  EXPECT_EQ(out, newer);
}

TEST(Newest6dReport, ReportAcrossTheRingEnd) {
  Area a;
  Report r = make_report(4, -300, 400, 500, 7, 8, 9);
  a.put(1, 2036, r.data(), 16);  // 8 bytes at the end, 8 at the start of ring B
  Report out{};
  ASSERT_TRUE(vr::decode::newest_6d_report(a.ring(1), 8, out.data()));
  EXPECT_EQ(out, r);
  // Ring A is untouched by what lies in ring B.
  EXPECT_FALSE(vr::decode::newest_6d_report(a.ring(0), 8, out.data()));
}

TEST(Newest6dReport, LyingRingsGiveNothingAndLeaveTheOutput) {
  Area a;
  Report keep = make_report(1, 1, 1, 1, 1, 1, 1);
  Report out = keep;
  // No sync byte at all.
  a.fill(0, 0x7F);
  EXPECT_FALSE(vr::decode::newest_6d_report(a.ring(0), 500, out.data()));
  // Every byte a sync byte: no 16 bytes form a report.
  a.fill(0, 0xFF);
  EXPECT_FALSE(vr::decode::newest_6d_report(a.ring(0), 500, out.data()));
  EXPECT_EQ(out, keep);
  // Write offsets outside the ring mean no data, whatever the ring holds.
  a.fill(0, 0x00);
  Report r = make_report(2, 2, 2, 2, 2, 2, 2);
  a.put(0, 0, r.data(), 16);
  for (int w : {-1, 2044, 4096, -2147483647 - 1, 2147483647})
    EXPECT_FALSE(vr::decode::newest_6d_report(a.ring(0), w, out.data())) << w;
  EXPECT_EQ(out, keep);
}

TEST(Newest6dReport, AReportCutShortOnTheLineIsSkipped) {
  Area a;
  Report good = make_report(1, 5, 6, 7, 8, 9, 10);
  Report cut = make_report(2, 50, 60, 70, 80, 90, 100);
  Report last = make_report(3, 500, 600, 700, 800, 900, 1000);
  a.put(0, 0, good.data(), 16);
  a.put(0, 16, cut.data(), 10);   // six bytes of it were lost
  a.put(0, 26, last.data(), 12);  // still arriving
  Report out{};
  ASSERT_TRUE(vr::decode::newest_6d_report(a.ring(0), 38, out.data()));
  EXPECT_EQ(out, good);
}

// The bytes of a report on its way after the newest complete one: counted while they can be the
// start of a report, never for a whole report, for bytes that are no report's start, or for
// positions outside the ring.
TEST(Partial6dReport, CountsTheStartOfAReportOnItsWay) {
  Area a;
  Report done = make_report(1, 5, 6, 7, 8, 9, 10);
  Report next = make_report(2, 50, 60, 70, 80, 90, 100);
  a.put(0, 2036, done.data(), 16);  // ends at 12, across the ring end
  a.put(0, 12, next.data(), 16);
  const auto partial = [&](int from, int write) {
    return vr::decode::partial_6d_report_bytes(a.ring(0), from, write);
  };
  EXPECT_EQ(partial(12, 12), 0);  // nothing after the report yet
  for (int k = 1; k < 16; ++k) EXPECT_EQ(partial(12, 12 + k), k) << k;
  EXPECT_EQ(partial(12, 28), 0);  // the next report is whole: it is the newest now
  // Bytes that are no report's start: a data byte first, or a second sync byte.
  a.put(0, 12, {0x05, 0x06});
  EXPECT_EQ(partial(12, 14), 0);
  a.put(0, 12, {0x83, 0x84});
  EXPECT_EQ(partial(12, 14), 0);
  for (int bad : {-1, 2044, 2147483647}) {
    EXPECT_EQ(partial(bad, 14), 0);
    EXPECT_EQ(partial(12, bad), 0);
  }
}

TEST(OpInfoSince, ExactlyThirtyBytesAfterTheNotedOffset) {
  Area a;
  unsigned char info[30];
  for (int i = 0; i < 30; ++i) info[i] = static_cast<unsigned char>(i == 0 ? 0x80 : i);
  a.put(0, 2030, info, 30);  // wraps
  unsigned char out[30] = {};
  ASSERT_TRUE(vr::decode::op_info_since(a.ring(0), 2030, vr::capture::wrap(2030 + 30), out));
  EXPECT_EQ(0, std::memcmp(out, info, 30));
  EXPECT_FALSE(vr::decode::op_info_since(a.ring(0), 2030, vr::capture::wrap(2030 + 29), out));
  EXPECT_FALSE(vr::decode::op_info_since(a.ring(0), 2030, vr::capture::wrap(2030 + 31), out));
  EXPECT_FALSE(vr::decode::op_info_since(a.ring(0), -1, 29, out));
  EXPECT_FALSE(vr::decode::op_info_since(a.ring(0), 2044, 30, out));
  EXPECT_FALSE(vr::decode::op_info_since(a.ring(0), 0, -1, out));
  EXPECT_FALSE(vr::decode::op_info_since(a.ring(0), 0, 2074, out));
}

TEST(ConvertOpInfo, FieldsMasksAndGeometry) {
  unsigned char b[30] = {};
  b[0] = 0xBF;  // sync, low six bits 0x3F
  for (int i = 1; i < 10; ++i) b[i] = static_cast<unsigned char>(0x80 | i);
  b[6] = 2;
  b[8] = 11;
  b[9] = 3;
  b[10] = 0xE8, b[11] = 0x03;  // 1000 thousandths of an inch
  b[12] = 0xC4, b[13] = 0x09;  // 2500
  b[14] = 0xFF;
  b[15] = 0xE0, b[16] = 0x2E;  // 12000
  b[17] = 0x00, b[18] = 0x00;
  b[19] = 0x10, b[20] = 0x27;  // 10000
  vr_lt_op_info info;
  std::memset(&info, 0x33, sizeof info);
  vr_lt_convert_cur_op_info(b, &info);
  EXPECT_EQ(info.op_byte[0], 0x3F);
  EXPECT_EQ(info.op_byte[1], 1);
  EXPECT_EQ(info.op_byte[6], 2);
  EXPECT_EQ(info.op_byte[7], 7);
  EXPECT_EQ(info.op_byte[8], 11);
  EXPECT_EQ(info.op_byte[9], 3);
  EXPECT_DOUBLE_EQ(info.receiver_geom[0], 2.54);
  EXPECT_DOUBLE_EQ(info.receiver_geom[1], 6.35);
  EXPECT_EQ(info.receiver_geom[2], 0.0);
  EXPECT_EQ(info.receiver_geom[3], 0.0);
  EXPECT_EQ(info.op_byte14, 0x7F);
  EXPECT_DOUBLE_EQ(info.transmitter_geom[0], 30.48);
  EXPECT_EQ(info.transmitter_geom[1], 0.0);
  EXPECT_DOUBLE_EQ(info.transmitter_geom[2], 25.4);
  EXPECT_EQ(info.transmitter_geom[3], 0.0);

  // Bit 6 set in the first byte is no operating information: everything cleared.
  b[0] = 0xC0;
  vr_lt_convert_cur_op_info(b, &info);
  vr_lt_op_info zero{};
  EXPECT_EQ(0, std::memcmp(&info, &zero, sizeof info));
}

TEST(Cyberman, PacketFields) {
  vr_cyberman_state s;
  s.spare = 77;
  // X motion from b1 bits 6..0 and b2 bit 6; Y from b2 bits 5..0 and b3 bits 6..5.
  const unsigned char minus_one[5] = {0x85, 0x7F, 0x40, 0x00, 0x00};
  vr_lt_cyberman_cvt(minus_one, &s);
  EXPECT_EQ(s.x_motion, -1.0);
  EXPECT_EQ(s.y_motion, 0.0);
  EXPECT_EQ(s.buttons, 5);
  EXPECT_EQ(s.spare, 77);
  const unsigned char zero[5] = {0x80, 0x00, 0x00, 0x00, 0x00};
  vr_lt_cyberman_cvt(zero, &s);
  EXPECT_EQ(s.x_motion, 0.0);
  for (int v : s.state) EXPECT_EQ(v, 0);

  // Y = -128 (0x80): b2 bits 5..0 = 100000, b3 bits 6..5 = 00; X = 127: b1 = 0x3F, b2 bit 6 = 1.
  // States: b3 bits 4..3 = 10 (-1), bits 2..1 = 11 (3), bit 0 = 1; b4 bits 5..4 = 01, bit 6 = 0.
  const unsigned char mixed[5] = {0x87, 0x3F, 0x60, 0x17, 0x10};
  vr_lt_cyberman_cvt(mixed, &s);
  EXPECT_EQ(s.x_motion, 127.0);
  EXPECT_EQ(s.y_motion, -128.0);
  EXPECT_EQ(s.buttons, 7);
  EXPECT_EQ(s.state[0], -1);
  EXPECT_EQ(s.state[1], 3);
  EXPECT_EQ(s.state[2], 1);
  EXPECT_EQ(s.state[3], -1);  // high bit 1 from b3 bit 0, low bit 0 from b4 bit 6
  EXPECT_EQ(s.spare, 77);
}

TEST(Cyberman, NewestCompletePacket) {
  Area a;
  a.put(1, 2041, {0x81, 0x01, 0x02, 0x03, 0x04});  // wraps
  a.put(1, 2, {0x82, 0x11, 0x12, 0x13, 0x14});
  a.put(1, 7, {0x83, 0x21});
  unsigned char out[5] = {};
  ASSERT_TRUE(vr::decode::newest_cyberman_packet(a.ring(1), 9, out));
  EXPECT_EQ(out[0], 0x82);
  ASSERT_TRUE(vr::decode::newest_cyberman_packet(a.ring(1), 6, out));
  EXPECT_EQ(out[0], 0x81);
  EXPECT_EQ(out[4], 0x04);
  // A byte with bits 7..5 = 101 or 110 is not a packet start.
  Area b;
  b.put(1, 10, {0xA0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0});
  EXPECT_FALSE(vr::decode::newest_cyberman_packet(b.ring(1), 20, out));
  EXPECT_FALSE(vr::decode::newest_cyberman_packet(a.ring(1), 2044, out));
}

}  // namespace
