// View safety: no frame hands out a non-finite view, head or mouse matrix. The matrices and
// points a frame produces are listed once, in three groups that are restored together (the
// views with the eye points they were made from, the head pose with what the head handler
// derived from it, the mouse pose with the mouse frames and tip points). After each frame every
// field in use is checked; a good group is copied aside as the last good frame, a group with an
// infinite or NaN entry gets that copy back.
#include "vr_view_safety.h"

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>

#include "vr_ext.h"

namespace {

enum Group : unsigned { views_group = 1, head_group = 2, mouse_group = 4 };

// When a field is produced by the frame (and so checked and saved).
enum When : unsigned {
  always = 1,
  stereo = 2,               // the right eye's world view
  head_relative = 4,        // the left eye-relative view and the corner directions
  stereo_head_rel = 8,      // the right eye-relative view
  glasses_handler = 16,     // written by the glasses handler
  head_world_wanted = 32,   // head_to_world
  mouse_handler = 64,       // written by the mouse handler
  mouse_world_wanted = 128  // mouse_to_world
};

struct Field {
  std::size_t offset;  // in the context
  int doubles;
  Group group;
  When when;
  int saved_at;  // index of its first double in vr_ext_views::saved
};

constexpr int mat_doubles = 16;
constexpr int pt_doubles = 3;

#define VR_FIELD(member, n, group, when)        \
  Field {                                       \
    offsetof(vr_ctx, member), n, group, when, 0 \
  }
constexpr auto make_fields() {
  std::array<Field, 16> f = {
      VR_FIELD(left_view, mat_doubles, views_group, always),
      VR_FIELD(right_view, mat_doubles, views_group, stereo),
      VR_FIELD(left_head_view, mat_doubles, views_group, head_relative),
      VR_FIELD(right_head_view, mat_doubles, views_group, stereo_head_rel),
      // Neighbours in the context are guarded as one run: the world's up direction with the
      // corner directions after it, each eye pair, the three mouse tip points.
      VR_FIELD(world_up, 5 * pt_doubles, views_group, always),
      VR_FIELD(left_eye, 2 * pt_doubles, views_group, always),
      VR_FIELD(depth_front_ndc, 1, views_group, always),
      VR_FIELD(depth_back_ndc, 1, views_group, always),
      VR_FIELD(head_to_dig, mat_doubles, head_group, glasses_handler),
      VR_FIELD(head_to_world, mat_doubles, head_group, head_world_wanted),
      VR_FIELD(screen_left_eye, 2 * pt_doubles, head_group, glasses_handler),
      VR_FIELD(mouse_to_dig, mat_doubles, mouse_group, mouse_handler),
      VR_FIELD(mouse_to_plate, mat_doubles, mouse_group, mouse_handler),
      VR_FIELD(mouse_to_world, mat_doubles, mouse_group, mouse_world_wanted),
      VR_FIELD(mouse_tip_plate, 3 * pt_doubles, mouse_group, mouse_handler),
  };
  int at = 0;
  for (Field &x : f) {
    x.saved_at = at;
    at += x.doubles;
  }
  return f;
}
#undef VR_FIELD

constexpr auto fields = make_fields();

// The runs above rely on these neighbours.
constexpr std::size_t pt_bytes = sizeof(dpt);
static_assert(offsetof(vr_ctx, window_corner_dirs) == offsetof(vr_ctx, world_up) + pt_bytes);
static_assert(offsetof(vr_ctx, right_eye) == offsetof(vr_ctx, left_eye) + pt_bytes);
static_assert(offsetof(vr_ctx, screen_right_eye) == offsetof(vr_ctx, screen_left_eye) + pt_bytes);
static_assert(offsetof(vr_ctx, mouse_tip_coexistence) ==
              offsetof(vr_ctx, mouse_tip_plate) + pt_bytes);
static_assert(offsetof(vr_ctx, mouse_tip_world) ==
              offsetof(vr_ctx, mouse_tip_plate) + 2 * pt_bytes);

constexpr int saved_total() {
  int n = 0;
  for (const Field &x : fields) n += x.doubles;
  return n;
}
static_assert(saved_total() == vr_view_saved_doubles,
              "the saved copy must hold exactly the guarded fields");

// The fields this frame produces, as a set of When bits.
unsigned produced(const vr_ctx *ctx) {
  unsigned w = always;
  if (ctx->stereo) w |= stereo;
  if (ctx->head_relative_views) w |= head_relative;
  if (ctx->stereo && ctx->head_relative_views) w |= stereo_head_rel;
  if (ctx->glasses_event_fn != nullptr) w |= glasses_handler;
  if (ctx->head_to_world_wanted) w |= head_world_wanted;
  if (ctx->mouse_event_fn != nullptr) w |= mouse_handler;
  if (ctx->mouse_to_world_wanted) w |= mouse_world_wanted;
  return w;
}

double *at(vr_ctx *ctx, const Field &f) {
  return reinterpret_cast<double *>(reinterpret_cast<unsigned char *>(ctx) + f.offset);
}

// Whether n doubles are all finite. An entry is infinite or NaN exactly when all its exponent
// bits are set; the test is done on the bits, so that it costs a few integer operations per
// entry and the compiler may run it over several entries at once.
inline bool all_finite(const double *p, int n) {
  constexpr std::uint64_t exponent = 0x7FF0000000000000ULL;
  constexpr std::uint64_t carry = 0x0010000000000000ULL;  // all exponent bits set: carries out
  std::uint64_t bad = 0;
  for (int i = 0; i < n; ++i) {
    std::uint64_t b;
    std::memcpy(&b, p + i, sizeof b);
    bad |= (b & exponent) + carry;
  }
  return (bad >> 63) == 0;
}

// The last good frame before the first frame is what the context holds then; a field that is
// not finite even there is kept as an identity matrix or zeros.
void take_first_copy(vr_ctx *ctx, vr_ext_views &v) {
  for (const Field &f : fields) {
    double *saved = v.saved + f.saved_at;
    const double *now = at(ctx, f);
    if (all_finite(now, f.doubles)) {
      std::memcpy(saved, now, sizeof(double) * static_cast<std::size_t>(f.doubles));
      continue;
    }
    for (int i = 0; i < f.doubles; ++i)
      saved[i] = (f.doubles == mat_doubles && i % 5 == 0) ? 1.0 : 0.0;
  }
  v.saved_valid = 1;
}

// The checks and copies of the hot path, unrolled over the table so that every offset and size
// is a constant: a frame costs a few integer operations and moves per entry, and no call.
template <std::size_t I>
unsigned field_failure(vr_ctx *ctx, unsigned in_use) {
  constexpr Field f = fields[I];
  if (!(f.when & in_use)) return 0;
  return all_finite(at(ctx, f), f.doubles) ? 0u : static_cast<unsigned>(f.group);
}

template <std::size_t... I>
unsigned failed_groups(vr_ctx *ctx, unsigned in_use, std::index_sequence<I...>) {
  return (field_failure<I>(ctx, in_use) | ...);
}

template <std::size_t I>
void copy_field(vr_ctx *ctx, vr_ext_views &v, unsigned in_use, unsigned failed) {
  constexpr Field f = fields[I];
  constexpr std::size_t bytes = sizeof(double) * static_cast<std::size_t>(f.doubles);
  if (!(f.when & in_use)) return;
  double *saved = v.saved + f.saved_at;
  if (failed & f.group)
    std::memcpy(at(ctx, f), saved, bytes);
  else
    std::memcpy(saved, at(ctx, f), bytes);
}

template <std::size_t... I>
void copy_fields(vr_ctx *ctx, vr_ext_views &v, unsigned in_use, unsigned failed,
                 std::index_sequence<I...>) {
  (copy_field<I>(ctx, v, in_use, failed), ...);
}

// Why a frame's group went non-finite, as far as the settings tell.
const char *cause_of(const vr_ctx *ctx, unsigned failed, const vr::views::Planes &planes) {
  if (failed & head_group) return "the head tracker's pose is not finite";
  if (failed & mouse_group) return "the mouse tracker's pose is not finite";
  if (!all_finite(ctx->left_eye, pt_doubles) || !all_finite(ctx->right_eye, pt_doubles)) {
    if (ctx->quantize_force == 0 && ctx->eye_pos_mode == VR_EYES_FIXED_FIELD &&
        !(std::fabs(std::tan(ctx->field_of_view / 2.0)) > 0.0))
      return "a field of view of 0 in the fixed-field eye mode";
    return "the eye points are not finite";
  }
  if (planes.hither_left == planes.yon || planes.hither_right == planes.yon)
    return "hither and yon coincide";
  if (ctx->left_eye[2] == planes.yon || ctx->right_eye[2] == planes.yon)
    return "an eye lies in the yon plane";
  if (!(ctx->window_width_cm != 0.0) || !(ctx->window_height_cm != 0.0))
    return "the window has no size";
  return "the settings give no projection";
}

}  // namespace

namespace vr::views {

void begin_frame(vr_ctx *ctx) {
  vr_ext_views &v = vr_ext(ctx).views;
  if (!v.saved_valid) take_first_copy(ctx, v);
}

void keep_finite(vr_ctx *ctx, const Planes &planes) {
  vr_ext_views &v = vr_ext(ctx).views;
  const unsigned in_use = produced(ctx);
  constexpr auto all = std::make_index_sequence<fields.size()>{};
  const unsigned failed = failed_groups(ctx, in_use, all);
  // The cause is read from the frame as it came out, before the last good one is put back.
  if (failed != 0 && !v.fault_reported) {
    v.fault_reported = 1;
    std::fprintf(stderr, "vr_comp_view: matrices not finite (%s); the last good frame is kept\n",
                 cause_of(ctx, failed, planes));
  }
  copy_fields(ctx, v, in_use, failed, all);
  if (failed == 0) return;

  if (v.view_faults < INT32_MAX) ++v.view_faults;
}

}  // namespace vr::views
