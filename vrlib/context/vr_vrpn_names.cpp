// The VRPN device names a context keeps. They live in libvrcore, beside the set-up files that
// name them too; the source that connects to them is in libvrtrack.
#include <cstring>

#include "vr.h"
#include "vr_ext.h"
#include "vr_vrpn_names.h"

namespace vr::vrpn {

bool keep_name(char *dst, const char *src, std::size_t length) {
  if (length == 0 || length >= VR_VRPN_NAME_BYTES) return false;
  const char *at = static_cast<const char *>(std::memchr(src, '@', length));
  if (!at || at == src || at == src + length - 1) return false;
  std::memcpy(dst, src, length);
  dst[length] = '\0';
  return true;
}

}  // namespace vr::vrpn

extern "C" {

VR_API vr_result vr_vrpn_set_devices(vr_ctx *ctx, const char *tracker, const char *button) {
  if (!ctx || !tracker) return VR_ERR_BAD_VALUE;
  // Zeroed: the whole room is copied into the context, never stack bytes past the name.
  char t[VR_VRPN_NAME_BYTES] = {}, b[VR_VRPN_NAME_BYTES] = {};
  if (!vr::vrpn::keep_name(t, tracker, std::strlen(tracker))) return VR_ERR_BAD_VALUE;
  if (button && *button) {
    if (!vr::vrpn::keep_name(b, button, std::strlen(button))) return VR_ERR_BAD_VALUE;
  } else {
    std::memcpy(b, t, sizeof b);
  }
  vr_ext_vrpn &e = vr_ext(ctx).vrpn;
  std::memcpy(e.tracker, t, sizeof t);
  std::memcpy(e.button, b, sizeof b);
  return VR_OK;
}

}  // extern "C"
