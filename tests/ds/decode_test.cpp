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

}  // namespace
