// vr_net_set_endpoint: an address attribute and the port beside it, from "host:port" text.
#include <cstdio>

#include "vr.h"
#include "vr_opentrack.h"

extern "C" {

VR_API vr_result vr_net_set_endpoint(vr_ctx *ctx, int address_id, const char *text) {
  if (address_id != VR_NET_BIND_ADDRESS && address_id != VR_NET_OUTPUT_ADDRESS) {
    std::fprintf(stderr, "vr_net_set_endpoint: attribute %d is not an address\n", address_id);
    return VR_ERR_UNKNOWN_ID;
  }
  if (ctx == nullptr) return VR_ERR_BAD_VALUE;
  int address = 0, port = 0;
  vr_get_int(ctx, address_id, &address);
  vr_get_int(ctx, address_id + 1, &port);
  auto a = static_cast<unsigned>(address);
  if (!vr::net::parse_endpoint(text, &a, &port)) {
    std::fprintf(stderr, "vr_net_set_endpoint: \"%s\" is not host:port (IPv4)\n",
                 text ? text : "(null)");
    return VR_ERR_BAD_VALUE;
  }
  vr_set_int(ctx, address_id, static_cast<int>(a));
  vr_set_int(ctx, address_id + 1, port);
  return VR_OK;
}

}  // extern "C"
