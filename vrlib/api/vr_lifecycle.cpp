// A context's life cycle: creation with the defaults and the set-up file that VRLIB_CONFIG
// names, and the end that stops its trackers and its pose output.
#include <cstdlib>

#include "vr.h"
#include "vr_config.h"
#include "vr_pose_output.h"

extern "C" {

VR_API vr_ctx *vr_ctx_create(void) {
  auto *ctx = static_cast<vr_ctx *>(std::calloc(1, sizeof(vr_ctx)));
  if (ctx == nullptr) return nullptr;
  vr_init_attributes(ctx);
  vr_config_load_from_environment(ctx);
  return ctx;
}

VR_API void vr_quit(vr_ctx *ctx) {
  if (ctx->mouse_remove_fn != nullptr) ctx->mouse_remove_fn(ctx);
  // Read again: the Logitech remove function clears both slot pairs when it runs for the mouse,
  // and must not run a second time for the glasses.
  if (ctx->glasses_remove_fn != nullptr) ctx->glasses_remove_fn(ctx);
  if (ctx->eye_hook_remove_fn != nullptr) ctx->eye_hook_remove_fn(ctx);
  vr::net::close_output(ctx);
}

}  // extern "C"
