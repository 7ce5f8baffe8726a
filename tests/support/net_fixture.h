// A simulator and a context whose glasses are the network head-tracker source, with helpers to
// build datagrams and to work out where the library should put the head and the eyes.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "vr_ext.h"
#include "vr_net.h"
#include "vr_pose_output.h"
#include "vrlib/vr.h"
#include "vrsim/vrsim.h"

namespace net_test {

constexpr unsigned loopback = 0x7F000001u;
constexpr double frame_s = 1.0 / 60.0;

// The 48 bytes of six values, little-endian, as a sender writes them.
inline std::vector<unsigned char> datagram(const double v[6], int length = 48) {
  std::vector<unsigned char> out(static_cast<std::size_t>(length), 0);
  vr::net::Packet p{};
  for (int i = 0; i < 6; ++i) p.value[i] = v[i];
  unsigned char bytes[48];
  vr::net::encode_packet(p, bytes);
  if (length > 0) std::memcpy(out.data(), bytes, static_cast<std::size_t>(std::min(length, 48)));
  return out;
}

// A point through a row-vector matrix.
inline void through(const double p[3], const dmat m, double out[3]) {
  for (int j = 0; j < 3; ++j) out[j] = p[0] * m[0][j] + p[1] * m[1][j] + p[2] * m[2][j] + m[3][j];
}

// Where an eye of the context ends up for a head pose in the camera's frame with the eye
// prediction at rest: the eye offset through the head pose and the camera's place, then moved
// 1.1 cm along the line of sight to the window centre (gaze mode 1) or the mouse tip.
inline void expected_eye(vr_ctx *ctx, const dmat head_to_camera, const double offset[3],
                         double out[3]) {
  dmat camera_to_plate;
  vr::net::camera_to_plate(ctx, camera_to_plate);
  double cam[3], plate[3];
  through(offset, head_to_camera, cam);
  through(cam, camera_to_plate, plate);
  const double *target = ctx->gaze_mode == 1 ? ctx->window_center : ctx->mouse_tip_plate;
  double g[3], len = 0;
  for (int i = 0; i < 3; ++i) {
    g[i] = target[i] - plate[i];
    len += g[i] * g[i];
  }
  len = std::sqrt(len);
  for (int i = 0; i < 3; ++i) out[i] = plate[i] + 1.1 * g[i] / len;
}

class NetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("VRLIB_OPENTRACK");
    sim = vrsim_create(7);
    ASSERT_NE(sim, nullptr);
    vrsim_install(sim);
    ctx = vr_ctx_create();
    ASSERT_NE(ctx, nullptr);
    ctx->glasses_source = VR_SOURCE_NETWORK;
    ctx->tracking_mode = 1;
  }
  void TearDown() override {
    vr_quit(ctx);
    EXPECT_EQ(vrsim_udp_open_count(sim), 0) << "a socket was left open";
    vrsim_destroy(sim);
    std::free(ctx);
  }

  int get_int(int id) {
    int v = -99;
    EXPECT_EQ(vr_get_int(ctx, id, &v), VR_OK);
    return v;
  }
  double get_double(int id) {
    double v = -99;
    EXPECT_EQ(vr_get_double(ctx, id, &v), VR_OK);
    return v;
  }

  // Sends values to the source's port, arriving after `delay_s`.
  void send(const double v[6], double delay_s = 0.0, int length = 48) {
    const auto d = datagram(v, length);
    EXPECT_EQ(vrsim_udp_inject(sim, loopback, 4242, d.data(), length, delay_s), 1);
  }

  // One frame: virtual time moves on, then the library computes the views.
  void frame(double dt = frame_s) {
    vrsim_advance(sim, dt);
    vr_comp_view(ctx);
  }

  vrsim *sim = nullptr;
  vr_ctx *ctx = nullptr;
};

}  // namespace net_test
