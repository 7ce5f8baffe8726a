// The DynaSight record decoder on hand-made rings.
#include <gtest/gtest.h>

#include "ring_area.h"
#include "vr_serial_decode.h"
#include "vrlib/vr.h"

namespace {

using ring_test::Area;

TEST(DynasightDecode, RecordsAndUnits) {
  unsigned char r[8] = {0x80, 0x80, 0xFF, 0xFF, 0x7F, 0xFF, 0x80, 0x00};
  vr_lt_6d p;
  p.roll = p.pitch = p.yaw = 9.0;
  p.buttons = 9;
  vr::decode::dynasight_to_6d(r, &p);
  EXPECT_DOUBLE_EQ(p.x, -0.005);
  EXPECT_DOUBLE_EQ(p.y, 163.835);
  EXPECT_DOUBLE_EQ(p.z, -163.84);
  EXPECT_EQ(p.roll, 0.0);
  EXPECT_EQ(p.pitch, 0.0);
  EXPECT_EQ(p.yaw, 0.0);
  EXPECT_EQ(p.buttons, 0);

  Area a;
  a.put(0, 2040, {0x80, 0x80, 0, 1, 0, 2, 0, 3});
  a.put(0, 4, {0x81, 0x8F, 0, 4, 0, 5, 0, 6});
  a.put(0, 12, {0x80, 0x80, 0, 7});  // incomplete
  unsigned char out[8] = {};
  ASSERT_TRUE(vr::decode::newest_dynasight_record(a.ring(0), 16, out));
  EXPECT_EQ(out[3], 4);
  ASSERT_TRUE(vr::decode::newest_dynasight_record(a.ring(0), 11, out));
  EXPECT_EQ(out[3], 1);  // across the ring end
  EXPECT_FALSE(vr::decode::newest_dynasight_record(a.ring(0), -5, out));
}

// The bytes of a record on its way: one sync byte, then both, then the rest; never a whole record
// or bytes without the record's sync.
TEST(DynasightDecode, PartialRecordOnItsWay) {
  Area a;
  a.put(0, 100, {0x80, 0x81, 0, 1, 0, 2, 0, 3});
  const auto partial = [&](int write) {
    return vr::decode::partial_dynasight_record_bytes(a.ring(0), 100, write);
  };
  EXPECT_EQ(partial(100), 0);
  for (int k = 1; k < 8; ++k) EXPECT_EQ(partial(100 + k), k) << k;
  EXPECT_EQ(partial(108), 0);
  a.put(0, 100, {0x80, 0x01});  // second byte without the sync nibble
  EXPECT_EQ(partial(101), 1);
  EXPECT_EQ(partial(102), 0);
  a.put(0, 100, {0x40});
  EXPECT_EQ(partial(101), 0);
  EXPECT_EQ(vr::decode::partial_dynasight_record_bytes(a.ring(0), 100, -1), 0);
}

}  // namespace
