// The per-context state of the extensions, kept in the bytes that the context record reserves
// for it (vr_ctx::ext). Each area keeps its own record here; nothing outside the library sees
// the layout.
#pragma once

#include <cstddef>
#include <new>

#include "vr.h"
#include "vr_net_state.h"

// Doubles of the matrices and points that view safety keeps from the last good frame
// (vr_view_safety.cpp lists them).
constexpr int vr_view_saved_doubles = 9 * 16 + 4 * 3 + 3 * 3 + 2 + 3 * 2 + 3 * 3;

// Every field's default is 0, so the zeroed state that vr_ext_init gives is the default state.
// The status of one tracker (head or mouse) as its handler last noted it (vr_status.cpp).
struct vr_track_status {
  int state;            // VR_TRACK_* (attribute 131 / 133)
  int begun;            // a handler has noted this tracker
  double age_s;         // age of the newest fresh pose, 0 before the first note (132 / 134)
  double since_s;       // physical world time of the newest fresh pose, or of the first note
  long long last_mark;  // what identified the newest fresh pose, plus one; 0 none yet
};
#include "vr_display_state.h"

// View safety and tracking status (attributes 130..144).
struct vr_ext_views {
  int view_faults;     // frames whose matrices were kept from the last good frame (130)
  int fault_reported;  // the one message about them has been printed
  int saved_valid;     // `saved` holds a frame
  double saved[vr_view_saved_doubles];
  vr_track_status track[2];  // head, mouse
};

// Graphics conventions and presets (attributes 145..159): what the last frame built each eye's
// world view from, so that vr_eye_matrices can hand it out as a projection and a view.
struct vr_ext_eye_split {
  dmat world_to_coexistence;  // the world's placement in that frame
  dmat coexistence_to_plate;  // and the coexistence frame's
  dmat plate_to_clip;   // the eye's off-axis projection (face-plate corrected window)
  double eye[3];        // the eye, plate cm
  int valid;            // 0 until a frame has built this eye's view
};
struct vr_ext_graphics {
  vr_ext_eye_split eyes[2];  // left (or only), right
};

// Lab trackers (attributes 240..269): the VRPN source's settings and results, and the running
// source and server (owned by vr_vrpn.cpp and vr_vrpn_serve.cpp; null while off).
struct vr_ext_vrpn {
  int head_sensor;      // 240
  int mouse_sensor;     // 241
  double cm_per_unit;   // 242
  int connected;        // 243
  double head_pose_s;   // 244
  double mouse_pose_s;  // 245
  double head_stamp_s;  // 246
  int reports;          // 247
  char tracker[VR_VRPN_NAME_BYTES];
  char button[VR_VRPN_NAME_BYTES];
  void *source;
  void *server;
};

// The extension state of one context. Plain data: a context zeroed by calloc and then given its
// defaults by vr_init_attributes is valid.
struct vr_ext_state {
  vr_ext_views views;
  vr_ext_graphics graphics;
  vr_ext_net net;  // network head trackers and pose output (190..219)
  vr_ext_display display;  // display-time tracking (160..189)
  vr_ext_vrpn vrpn;  // lab trackers over VRPN (240..269)
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
