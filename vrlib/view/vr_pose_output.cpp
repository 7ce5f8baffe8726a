// The pose output: the head's pose on the plate, sent every frame as an opentrack datagram.
#include "vr_pose_output.h"

#include "vr_ext.h"
#include "vr_opentrack.h"
#include "vr_platform.h"

namespace {

constexpr unsigned loopback_address = 0x7F000001u;

bool all_zero(const dmat m) {
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c)
      if (m[r][c] != 0.0) return false;
  return true;
}

}  // namespace

namespace vr::net {

void output_frame(vr_ctx *ctx) {
  vr_ext_net &net = vr_ext(ctx).net;
  if (!net.output) {
    close_output(ctx);
    return;
  }
  if (all_zero(ctx->head_to_dig)) return;  // no head pose yet
  if (net.out_socket == 0) {
    // Bound to loopback when sending there, so that a loopback output never listens wider.
    const auto destination = static_cast<unsigned>(net.output_address);
    const unsigned local = (destination >> 24) == 127 ? loopback_address : 0u;
    int fd = -1;
    if (vr::os::udp_open(local, 0, &fd) != 0) {
      ++net.output_errors;
      return;
    }
    net.out_socket = fd + 1;
  }
  dmat head_to_plate;
  vr_mat_mul_mat(ctx->head_to_dig, ctx->dig_to_plate, head_to_plate);
  unsigned char bytes[packet_bytes];
  encode_packet(matrix_to_packet(head_to_plate), bytes);
  if (vr::os::udp_send(net.out_socket - 1, static_cast<unsigned>(net.output_address),
                       net.output_port, bytes, packet_bytes) == 0)
    ++net.output_sent;
  else
    ++net.output_errors;
}

void close_output(vr_ctx *ctx) {
  vr_ext_net &net = vr_ext(ctx).net;
  if (net.out_socket == 0) return;
  vr::os::udp_close(net.out_socket - 1);
  net.out_socket = 0;
}

}  // namespace vr::net
