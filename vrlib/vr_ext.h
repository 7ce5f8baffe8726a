// The per-context state of the extensions, kept in the bytes that the context record reserves
// for it (vr_ctx::ext). Each area keeps its own record here; nothing outside the library sees
// the layout.
#pragma once

#include <cstddef>
#include <new>

#include "vr.h"
#include "vr_display_state.h"

// View safety and tracking status (attributes 130..144).
struct vr_ext_views {
  int placeholder_;
};

// The extension state of one context. Plain data: a context zeroed by calloc and then given its
// defaults by vr_init_attributes is valid.
struct vr_ext_state {
  vr_ext_views views;
  vr_ext_display display;
};

static_assert(sizeof(vr_ext_state) <= VR_CTX_EXT_BYTES,
              "the extension state must fit the bytes the context reserves for it");
static_assert(alignof(vr_ext_state) <= alignof(double) || alignof(vr_ext_state) <= alignof(void *),
              "the reserved bytes are aligned for double and pointers only");

inline vr_ext_state &vr_ext(vr_ctx *ctx) {
  return *std::launder(reinterpret_cast<vr_ext_state *>(ctx->ext.bytes));
}
inline const vr_ext_state &vr_ext(const vr_ctx *ctx) {
  return *std::launder(reinterpret_cast<const vr_ext_state *>(ctx->ext.bytes));
}

// Gives a context's extension state its defaults (called from vr_init_attributes).
void vr_ext_init(vr_ctx *ctx);

// Offset of an extension field from the start of the context, for the attribute table.
#define VR_EXT_AT(member) (offsetof(vr_ctx, ext) + offsetof(vr_ext_state, member))
