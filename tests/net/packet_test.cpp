// The opentrack datagram: lengths, byte order, non-finite and absurd values, the axis mapping and
// its attributes, endpoint text, and where a known datagram puts the head and the eyes.
#include <cmath>
#include <limits>
#include <numbers>

#include "net_fixture.h"

namespace {

using net_test::datagram;
using net_test::NetTest;
using vr::net::Packet;
using vr::net::Verdict;

constexpr double some[6] = {1.5, -2.25, 60.0, 10.0, -5.0, 2.5};

Verdict decode(const std::vector<unsigned char> &d, Packet *p = nullptr) {
  Packet ignored{};
  return vr::net::decode_packet(d.data(), static_cast<int>(d.size()), p ? p : &ignored);
}

TEST(NetPacket, BothLengthsDecodeTheSameSixValues) {
  for (int length : {48, 52}) {
    auto d = datagram(some, length);
    if (length == 52) d[48] = d[49] = d[50] = d[51] = 0xAB;  // a frame number, ignored
    Packet p{};
    ASSERT_EQ(decode(d, &p), Verdict::accepted) << length;
    for (int i = 0; i < 6; ++i) EXPECT_EQ(p.value[i], some[i]) << length << " value " << i;
  }
}

TEST(NetPacket, OtherLengthsAreDroppedAsSuch) {
  for (int length : {0, 1, 8, 40, 47, 49, 51, 53, 56, 64, 96}) {
    EXPECT_EQ(decode(datagram(some, length)), Verdict::wrong_length) << length;
  }
  EXPECT_EQ(vr::net::decode_packet(nullptr, 48, nullptr), Verdict::wrong_length);
}

TEST(NetPacket, ValuesAreLittleEndianDoubles) {
  // 1.0 is 0x3FF0000000000000: the 0x3F byte comes last in each eight.
  std::vector<unsigned char> d(48, 0);
  d[6] = 0xF0;
  d[7] = 0x3F;                         // X = 1.0
  d[8 + 7] = 0xC0;                     // Y = -2.0 (0xC000000000000000)
  d[40 + 6] = 0x59, d[40 + 7] = 0x40;  // roll = 100.0 (0x4059000000000000)
  Packet p{};
  ASSERT_EQ(decode(d, &p), Verdict::accepted);
  EXPECT_EQ(p.value[0], 1.0);
  EXPECT_EQ(p.value[1], -2.0);
  EXPECT_EQ(p.value[2], 0.0);
  EXPECT_EQ(p.value[5], 100.0);
  // The encoder writes the same bytes back.
  unsigned char again[48];
  vr::net::encode_packet(p, again);
  EXPECT_EQ(std::memcmp(again, d.data(), 48), 0);
}

TEST(NetPacket, NonFiniteAndAbsurdValuesAreDroppedWithTheirReason) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  for (int i = 0; i < 6; ++i) {
    for (double bad : {nan, inf, -inf}) {
      double v[6];
      std::copy(some, some + 6, v);
      v[i] = bad;
      EXPECT_EQ(decode(datagram(v)), Verdict::not_finite) << "value " << i;
    }
  }
  struct Case {
    int index;
    double value;
    Verdict verdict;
  } cases[] = {
      {0, 1000.0, Verdict::accepted}, {2, -1000.0, Verdict::accepted},
      {0, 1000.5, Verdict::absurd},   {2, -2000.0, Verdict::absurd},
      {3, 360.0, Verdict::accepted},  {4, -360.0, Verdict::accepted},
      {3, 360.01, Verdict::absurd},   {5, -720.0, Verdict::absurd},
  };
  for (const Case &c : cases) {
    double v[6] = {0, 0, 0, 0, 0, 0};
    v[c.index] = c.value;
    EXPECT_EQ(decode(datagram(v)), c.verdict) << c.index << " = " << c.value;
  }
  // Each axis within 10 m but the point itself beyond it.
  const double far[6] = {600.0, 600.0, 600.0, 0, 0, 0};
  EXPECT_EQ(decode(datagram(far)), Verdict::absurd);
  // The limits belong to the accepted side, as vr.h says; the next double beyond is absurd.
  const double at_limit[6] = {600.0, -800.0, 0.0, 360.0, -360.0, 360.0};
  EXPECT_EQ(decode(datagram(at_limit)), Verdict::accepted);
  const double beyond_cm = std::nextafter(1000.0, 2000.0);
  const double beyond_deg = std::nextafter(360.0, 720.0);
  for (const Case &c :
       {Case{2, beyond_cm, Verdict::absurd}, Case{1, -beyond_cm, Verdict::absurd},
        Case{4, beyond_deg, Verdict::absurd}, Case{5, -beyond_deg, Verdict::absurd}}) {
    double v[6] = {0, 0, 0, 0, 0, 0};
    v[c.index] = c.value;
    EXPECT_EQ(decode(datagram(v)), c.verdict) << c.index << " = " << c.value;
  }
}

TEST(NetPacket, AxisMappingSwapsAndNegates) {
  Packet in{};
  std::copy(some, some + 6, in.value);
  const int identity[6] = {1, 2, 3, 4, 5, 6};
  Packet out = vr::net::map_axes(identity, in);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(out.value[i], in.value[i]);
  const int swapped[6] = {-3, 1, -2, -6, 4, 5};
  out = vr::net::map_axes(swapped, in);
  EXPECT_EQ(out.value[0], -some[2]);
  EXPECT_EQ(out.value[1], some[0]);
  EXPECT_EQ(out.value[2], -some[1]);
  EXPECT_EQ(out.value[3], -some[5]);
  EXPECT_EQ(out.value[4], some[3]);
  EXPECT_EQ(out.value[5], some[4]);
}

TEST(NetPacket, MatrixAndPacketValuesRoundTrip) {
  Packet p{};
  const double v[6] = {3.0, -4.0, 55.0, 25.0, -12.0, 7.5};
  std::copy(v, v + 6, p.value);
  const vr_lt_6d pose = vr::net::packet_to_pose(p);
  EXPECT_NEAR(pose.yaw, 25.0 * std::numbers::pi / 180.0, 1e-15);
  dmat m;
  build_mat_6Dm_to_dig(nullptr, &pose, m);
  const Packet back = vr::net::matrix_to_packet(m);
  for (int i = 0; i < 6; ++i) EXPECT_NEAR(back.value[i], v[i], 1e-9) << i;
}

TEST(NetPacket, EndpointTextIsParsedStrictly) {
  unsigned a = 1;
  int port = 2;
  EXPECT_TRUE(vr::net::parse_endpoint("10.1.2.3:5000", &a, &port));
  EXPECT_EQ(a, 0x0A010203u);
  EXPECT_EQ(port, 5000);
  EXPECT_TRUE(vr::net::parse_endpoint(":4300", &a, &port));
  EXPECT_EQ(a, 0x0A010203u);  // kept
  EXPECT_EQ(port, 4300);
  EXPECT_TRUE(vr::net::parse_endpoint("localhost", &a, &port));
  EXPECT_EQ(a, 0x7F000001u);
  EXPECT_EQ(port, 4300);
  EXPECT_TRUE(vr::net::parse_endpoint("0.0.0.0:1", &a, &port));
  EXPECT_EQ(a, 0u);
  for (const char *bad :
       {"", ":", "1.2.3", "1.2.3.4.5", "256.0.0.1", "1.2.3.4:", "1.2.3.4:0", "1.2.3.4:65536",
        "1.2.3.4:12x", "host:1", " 1.2.3.4", "1.2.3.4:99999999999"}) {
    unsigned a2 = 9;
    int p2 = 9;
    EXPECT_FALSE(vr::net::parse_endpoint(bad, &a2, &p2)) << bad;
    EXPECT_EQ(a2, 9u);
    EXPECT_EQ(p2, 9);
  }
}

TEST_F(NetTest, AttributesHaveTheirDefaultsAndRefuseWhatCannotWork) {
  EXPECT_EQ(get_int(VR_NET_BIND_ADDRESS), 0x7F000001);
  EXPECT_EQ(get_int(VR_NET_BIND_PORT), 4242);
  EXPECT_EQ(get_int(VR_NET_OUTPUT), 0);
  EXPECT_EQ(get_int(VR_NET_OUTPUT_PORT), 4243);
  EXPECT_EQ(get_double(VR_NET_SILENCE_TIMEOUT), 0.5);
  EXPECT_EQ(get_int(VR_NET_STATE), VR_NET_STATE_OFF);
  for (int axis = 0; axis < 6; ++axis) EXPECT_EQ(get_int(VR_NET_MAP_X + axis), axis + 1);
  EXPECT_STREQ(vr_attr_name(VR_NET_MAP_PITCH), "VR_NET_MAP_PITCH");

  testing::internal::CaptureStderr();
  EXPECT_EQ(vr_set_int(ctx, VR_NET_BIND_PORT, 0), VR_ERR_BAD_VALUE);
  EXPECT_EQ(vr_set_int(ctx, VR_NET_OUTPUT_PORT, 65536), VR_ERR_BAD_VALUE);
  EXPECT_EQ(vr_set_int(ctx, VR_NET_MAP_X, 4), VR_ERR_BAD_VALUE);     // an angle for a position
  EXPECT_EQ(vr_set_int(ctx, VR_NET_MAP_YAW, -2), VR_ERR_BAD_VALUE);  // a position for an angle
  EXPECT_EQ(vr_set_int(ctx, VR_NET_MAP_Z, 0), VR_ERR_BAD_VALUE);
  EXPECT_EQ(vr_set_int(ctx, VR_NET_MAP_ROLL, 7), VR_ERR_BAD_VALUE);
  EXPECT_EQ(vr_set_double(ctx, VR_NET_SILENCE_TIMEOUT, 0.0), VR_ERR_BAD_VALUE);
  EXPECT_EQ(vr_set_int(ctx, VR_NET_PACKETS, 3), VR_ERR_NOT_SETTABLE);
  EXPECT_EQ(vr_net_set_endpoint(ctx, VR_NET_BIND_ADDRESS, "1.2.3.4:"), VR_ERR_BAD_VALUE);
  EXPECT_EQ(vr_net_set_endpoint(ctx, VR_NET_BIND_PORT, "1.2.3.4:5"), VR_ERR_UNKNOWN_ID);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(get_int(VR_NET_BIND_PORT), 4242);
  EXPECT_EQ(get_int(VR_NET_MAP_X), 1);

  EXPECT_EQ(vr_set_int(ctx, VR_NET_MAP_X, -3), VR_OK);
  EXPECT_EQ(vr_set_int(ctx, VR_NET_MAP_ROLL, -4), VR_OK);
  EXPECT_EQ(vr_net_set_endpoint(ctx, VR_NET_OUTPUT_ADDRESS, "127.0.0.2:5001"), VR_OK);
  EXPECT_EQ(get_int(VR_NET_OUTPUT_ADDRESS), 0x7F000002);
  EXPECT_EQ(get_int(VR_NET_OUTPUT_PORT), 5001);
  // The varargs interface keeps to the fixed identifiers.
  int v = 0;
  testing::internal::CaptureStderr();
  vr_object_get(ctx, VR_NET_BIND_PORT, &v);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(v, 0);
}

class KnownPacket : public NetTest {
 protected:
  // Sets the source up, sends one pose (camera frame: head at x, y, z, no turn) and runs frames
  // until the one-frame eye prediction has come to rest on it.
  void track(const double v[6]) {
    ASSERT_EQ(vr_init_glasses_and_mouse_6d(ctx, 1, 0), 1);
    send(v);
    for (int i = 0; i < 4; ++i) frame();
    ASSERT_EQ(get_int(VR_NET_STATE), VR_NET_STATE_TRACKING);
  }
  void expect_head_and_eyes_at(const double v[6], const double head_on_plate[3]) {
    vr_lt_6d pose = vr::net::packet_to_pose([&] {
      Packet p{};
      std::copy(v, v + 6, p.value);
      return p;
    }());
    dmat head;
    build_mat_6Dm_to_dig(nullptr, &pose, head);
    dmat head_to_plate;
    vr_mat_mul_mat(ctx->head_to_dig, ctx->dig_to_plate, head_to_plate);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(head_to_plate[3][i], head_on_plate[i], 1e-9) << i;
    double left[3], right[3];
    net_test::expected_eye(ctx, head, ctx->left_eye_offset, left);
    net_test::expected_eye(ctx, head, ctx->right_eye_offset, right);
    for (int i = 0; i < 3; ++i) {
      EXPECT_NEAR(ctx->screen_left_eye[i], left[i], 1e-9) << i;
      EXPECT_NEAR(ctx->screen_right_eye[i], right[i], 1e-9) << i;
    }
  }
};

TEST_F(KnownPacket, DefaultCameraSitsOnTopOfTheScreenFacingTheViewer) {
  const double v[6] = {4.0, -20.0, 60.0, 0, 0, 0};
  track(v);
  // Plate: origin at the screen's lower left corner; the camera at the middle of the top edge.
  const double head[3] = {36.5 / 2 + 4.0, 25.9 - 20.0, 60.0};
  expect_head_and_eyes_at(v, head);
  // The viewer is in front of the screen, a little right of its middle.
  EXPECT_GT(ctx->screen_left_eye[2], 55.0);
  EXPECT_GT(ctx->screen_right_eye[0], ctx->screen_left_eye[0]);
}

TEST_F(KnownPacket, TiltedAndMovedCameraIsTakenIntoAccount) {
  const double tilt = 15.0 * std::numbers::pi / 180.0;
  ASSERT_EQ(vr_set_double(ctx, VR_NET_CAMERA_TILT, tilt), VR_OK);
  const dpt offset = {-2.0, 1.5, -1.0};
  ASSERT_EQ(vr_set_point(ctx, VR_NET_CAMERA_OFFSET, offset), VR_OK);
  const double v[6] = {0.0, 0.0, 60.0, 10.0, -5.0, 3.0};
  track(v);
  // Straight ahead of a camera looking 15 degrees down: lower and nearer than 60 cm.
  const double head[3] = {36.5 / 2 - 2.0, 25.9 + 1.5 - 60.0 * std::sin(tilt),
                          -1.0 + 60.0 * std::cos(tilt)};
  expect_head_and_eyes_at(v, head);
}

TEST_F(KnownPacket, MappingAppliesBeforeThePose) {
  // A sender whose Z grows toward the screen and whose X points left.
  ASSERT_EQ(vr_set_int(ctx, VR_NET_MAP_X, -1), VR_OK);
  ASSERT_EQ(vr_set_int(ctx, VR_NET_MAP_Z, -3), VR_OK);
  const double sent[6] = {4.0, -20.0, -60.0, 0, 0, 0};
  track(sent);
  const double mapped[6] = {-4.0, -20.0, 60.0, 0, 0, 0};
  const double head[3] = {36.5 / 2 - 4.0, 25.9 - 20.0, 60.0};
  expect_head_and_eyes_at(mapped, head);
}

}  // namespace
