// The registry of head and mouse sources: one line per source (its Source record, defined in its
// own folder under drivers/), and the public entry points that start, restart and stop the
// sources the context names. The only file that knows every driver; the front end (track/) knows
// none of them.
#include <array>

#include "vr.h"
#include "vr_net.h"
#include "vr_serial_frames.h"
#include "vr_vrpn_internal.h"

namespace {

using vr::track::Source;

// The sources, in the order a head source is looked up.
constexpr std::array<const Source *, 4> sources = {
    &vr::sources::logitech,   // drivers/serial: Logitech raw and 6D units
    &vr::sources::dynasight,  // drivers/serial: DynaSight
    &vr::sources::network,    // drivers/net: opentrack datagrams over UDP
    &vr::sources::vrpn,       // drivers/vrpn: a VRPN server's tracker and button
};

const Source *head_source(int glasses_source) {
  if (glasses_source == 0) return nullptr;
  for (const Source *s : sources)
    for (int id : s->glasses_sources)
      if (id == glasses_source) return s;
  return nullptr;
}

const Source *own_mouse_source(int mouse_source) {
  if (mouse_source == 0) return nullptr;
  for (const Source *s : sources)
    if (s->own_mouse_source == mouse_source) return s;
  return nullptr;
}

}  // namespace

extern "C" {

VR_API int vr_init_glasses_and_mouse_6d(vr_ctx *ctx, int want_glasses, int want_mouse) {
  if (!ctx) return 0;
  const Source *head = head_source(ctx->glasses_source);
  if (!head) return 0;
  const Source *mouse = want_mouse ? own_mouse_source(ctx->mouse_source) : nullptr;
  if (mouse && mouse != head && head->takes_other_mouse) {
    // A head beside another source's mouse: the head's own mouse stays closed.
    if (!head->start(ctx, want_glasses, 0)) return 0;
    return mouse->start(ctx, 0, 1);
  }
  return head->start(ctx, want_glasses, want_mouse);
}

VR_API void vr_re_init_glasses_and_mouse_6d(vr_ctx *ctx, int want_glasses, int want_mouse) {
  if (!ctx) return;
  const Source *head = head_source(ctx->glasses_source);
  if (head && head->restart) head->restart(ctx, want_glasses, want_mouse);
}

VR_API void vr_remove_glasses_and_mouse_6d(vr_ctx *ctx) {
  if (!ctx) return;
  // A source that can run a mouse of its own may be running beside any head: stopped first.
  for (const Source *s : sources)
    if (s->own_mouse_source != 0) s->stop(ctx);
  const Source *head = head_source(ctx->glasses_source);
  if (head && head->own_mouse_source == 0) head->stop(ctx);
}

}  // extern "C"
