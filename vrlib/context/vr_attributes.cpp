// The viewing context: its attribute interface and the default settings. Eye placement and the
// coexistence centre are frames (frames/); a context's creation and end are in
// api/vr_lifecycle.cpp.
#include <array>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <string_view>

#include "vr.h"
#include "vr_attr.h"
#include "vr_ext.h"
#include "vr_mat_internal.h"

namespace {

// ---------------------------------------------------------------------------------------------
// The attribute table: one row per identifier, saying what the value is, where it lives in the
// context, who may touch it, what it takes, what setting it sets off and where it starts. The
// rows are written in vr_attributes.def, which the set-up file's keys come from too.
// ---------------------------------------------------------------------------------------------

enum class Kind : unsigned char {
  none,            // no attribute: 0 and 128
  real,            // a double in the context
  integer,         // an int in the context
  point,           // a dpt, copied both ways
  matrix,          // a dmat: get hands out the address of the context's storage
  block,           // another block: get hands out the address of the context's storage
  callback,        // a vr_fn slot
  geom_override,   // a receiver/transmitter override: set also raises the entry's flag
  interocular,     // derived: the distance between the two eye offsets
  left_offset_x,   // the left eye offset's x, kept on the left of the head
  right_offset_x,  // the right eye offset's x, kept on the right of the head
};

// get_typed_set: read by both interfaces, written by vr_set_matrix only (a matrix the varargs
// interface hands out by address).
enum Access : unsigned char { get_only = 1, set_only = 2, set_get = 3, get_typed_set = 5 };

enum class Effect : unsigned char {
  none,
  cache_eyes,
  consistify,
  window,
  world_inverse,        // coexistence_to_world follows a new world_to_coexistence
  coexistence_inverse,  // world_to_coexistence follows a new coexistence_to_world
};

// Values a row refuses besides the non-finite ones, which no row takes.
enum Refuse : unsigned char {
  refuse_none = 0,
  refuse_zero = 1,               // a size of 0 cannot be geometry; negative sizes stay defined
  refuse_negative = 2,           // extension settings that only make sense from 0 up
  refuse_singular = 4,           // frames the library inverts: a matrix without an inverse is refused
  refuse_not_port = 8,           // a UDP port: 1..65535
  refuse_not_position_axis = 16, // an axis mapping entry for a position: +-1..3
  refuse_not_angle_axis = 32,    // an axis mapping entry for an angle: +-4..6
  refuse_non_rigid = 64,         // a frame placement: rotation and translation only
};

// The values a row takes besides the finite ones: refusals, and for an int row its bounds.
struct Takes {
  unsigned char refuse = refuse_none;
  int low = INT_MIN;
  int high = INT_MAX;
};

// Where a value starts (vr_attributes.def says which): set by vr_init_attributes before one of
// its calls that read it, given by vr_ext_init, or elsewhere (computed, zero, or another row's).
enum Stage : unsigned char {
  elsewhere,
  before_window,
  before_eyes,
  before_placement,
  extension,
};

struct Default {
  Stage stage = elsewhere;
  double number = 0.0;  // a double, or an int exactly
  double xyz[3] = {};   // a point
};

struct Attribute {
  Kind kind = Kind::none;
  unsigned char access = 0;
  Effect effect = Effect::none;
  unsigned char refuse = refuse_none;
  std::size_t offset = 0;
  // A matrix that only the typed setter may write (the fixed interface hands it out by pointer).
  bool typed_settable = false;
  // Int rows: the values the row takes.
  int low = INT_MIN;
  int high = INT_MAX;
  const char *name = nullptr;  // the identifier as vr.h writes it, for messages
  const char *unit = "";
  Default initial;

  bool settable() const { return kind != Kind::none && (access & set_only); }
  bool gettable() const { return kind != Kind::none && (access & get_only); }
};

// The fixed interface ends at 129; the extension blocks follow up to 269.
constexpr int last_fixed_id = VR_EYE_HOOK_REMOVE_FN;
constexpr int last_attribute_id = 269;

// The columns of vr_attributes.def, as the table takes them.
namespace takes {
constexpr Takes any{};
constexpr Takes not_zero{refuse_zero};
constexpr Takes not_negative{refuse_negative};
constexpr Takes positive{refuse_zero | refuse_negative};
constexpr Takes port{refuse_not_port};
constexpr Takes position_axis{refuse_not_position_axis};
constexpr Takes angle_axis{refuse_not_angle_axis};
constexpr Takes invertible{refuse_singular};
constexpr Takes rigid{refuse_non_rigid};
constexpr Takes whole(int low, int high) {
  return Takes{refuse_none, low, high};
}
}  // namespace takes

namespace defaults {
constexpr Default elsewhere{};
constexpr Default init(Stage stage, double v) {
  return Default{stage, v, {}};
}
constexpr Default init_point(Stage stage, double x, double y, double z) {
  return Default{stage, 0.0, {x, y, z}};
}
constexpr Default value(double v) {
  return Default{extension, v, {}};
}
constexpr Default point(double x, double y, double z) {
  return Default{extension, 0.0, {x, y, z}};
}
}  // namespace defaults

// Reached only when the table is built wrongly, which then fails to compile (it is built at
// compile time, where this cannot run).
void attribute_table_fault() {}

constexpr std::array<Attribute, last_attribute_id + 1> make_attribute_table() {
  std::array<Attribute, last_attribute_id + 1> t{};
  const auto add = [&t](int id, const Attribute &a) {
    if (id <= 0 || id > last_attribute_id || t[static_cast<std::size_t>(id)].kind != Kind::none)
      attribute_table_fault();  // outside the table, or listed twice
    t[static_cast<std::size_t>(id)] = a;
  };
#define CTX(field) offsetof(vr_ctx, field)
#define EXT(member) VR_EXT_AT(member)
#define NOWHERE 0
#define VR_ATTRIBUTE(id, kind, access, range, effect, place, unit, initial, key_style, section, \
                     key_name, what)                                                            \
  add(id, Attribute{Kind::kind, set_get & (access), Effect::effect, takes::range.refuse, place, \
                    ((access) & ~set_get) != 0, takes::range.low, takes::range.high, #id, unit, \
                    defaults::initial});
#define VR_SETUP_KEY(target, which, section, key_name, what)
#include "vr_attributes.def"
#undef VR_SETUP_KEY
#undef VR_ATTRIBUTE
#undef NOWHERE
#undef EXT
#undef CTX
  // Every fixed identifier has its row; 128 was never one. A row in the extension state starts
  // from vr_ext_init, one in the context's own fields does not, and a default fits its row.
  for (int id = 1; id <= last_attribute_id; ++id) {
    const Attribute &a = t[static_cast<std::size_t>(id)];
    if (id <= last_fixed_id && (a.kind == Kind::none) != (id == 128)) attribute_table_fault();
    if (a.kind == Kind::none) continue;
    const bool in_extension =
        a.offset >= offsetof(vr_ctx, ext) && a.offset < offsetof(vr_ctx, ext) + sizeof(vr_ctx::ext);
    if ((a.initial.stage == extension) != in_extension) attribute_table_fault();
    if (a.initial.stage == elsewhere) continue;
    const bool whole = a.initial.number == static_cast<double>(static_cast<int>(a.initial.number));
    if (!(a.kind == Kind::real || a.kind == Kind::point || (a.kind == Kind::integer && whole)))
      attribute_table_fault();
  }
  return t;
}

constexpr auto attribute_table = make_attribute_table();

// The extension state's records may start a field at zero or at its attribute's default, never
// at another value: vr_ext_init writes the table's default over it.
namespace initialisers {
struct Unchecked {};
constexpr bool agree(Unchecked, const Default &) {
  return true;
}
constexpr bool agree(int held, const Default &d) {
  return held == 0 || held == static_cast<int>(d.number);
}
constexpr bool agree(double held, const Default &d) {
  return held == 0.0 || held == d.number;
}
constexpr bool agree(const double (&held)[3], const Default &d) {
  return (held[0] == 0.0 && held[1] == 0.0 && held[2] == 0.0) ||
         (held[0] == d.xyz[0] && held[1] == d.xyz[1] && held[2] == d.xyz[2]);
}
constexpr bool all_agree() {
  constexpr vr_ext_state state{};
  bool ok = true;
#define CTX(field) Unchecked()
#define EXT(member) state.member
#define NOWHERE Unchecked()
#define VR_ATTRIBUTE(id, kind, access, range, effect, place, unit, start, key_style, section, \
                     key_name, what)                                                          \
  ok = ok && agree(place, attribute_table[id].initial);
#define VR_SETUP_KEY(target, which, section, key_name, what)
#include "vr_attributes.def"
#undef VR_SETUP_KEY
#undef VR_ATTRIBUTE
#undef NOWHERE
#undef EXT
#undef CTX
  return ok;
}
static_assert(all_agree(), "an extension state field starts at a value its attribute does not");
}  // namespace initialisers

// The row of an identifier of the whole table, fixed and extension, or nullptr for anything
// outside it (any int is safe here).
const Attribute *any_attribute_row(int id) {
  if (id < 0 || id > last_attribute_id) return nullptr;
  const Attribute &a = attribute_table[static_cast<std::size_t>(id)];
  return a.kind == Kind::none ? nullptr : &a;
}

// The row of a fixed identifier, or nullptr for anything outside 0..129: the varargs interface
// keeps to the fixed identifiers.
const Attribute *attribute_row(int id) {
  if (id < 0 || id > last_fixed_id) return nullptr;
  return &attribute_table[static_cast<std::size_t>(id)];
}

template <class T>
T &field(vr_ctx *ctx, std::size_t offset) {
  return *reinterpret_cast<T *>(reinterpret_cast<unsigned char *>(ctx) + offset);
}

// Converted to a 32-bit float and back: the precision in which the eye offsets are kept.
double single_precision(double v) {
  return static_cast<double>(static_cast<float>(v));
}

// The three eye-offset rows move each screen eye by exactly the change of its offset, so that a
// tracked or placed viewer does not jump when the offsets are retuned.
void set_left_offset_x(vr_ctx *ctx, double value) {
  double v = single_precision(value);
  if (v > 0.0) v = -v;
  ctx->screen_left_eye[0] = ctx->screen_left_eye[0] - (ctx->left_eye_offset[0] - v);
  ctx->left_eye_offset[0] = v;
}

void set_right_offset_x(vr_ctx *ctx, double value) {
  double v = single_precision(value);
  if (v < 0.0) v = -v;
  ctx->screen_right_eye[0] = ctx->screen_right_eye[0] - (ctx->right_eye_offset[0] - v);
  ctx->right_eye_offset[0] = v;
}

// A negative distance is taken by its size, as the _OFFSET_X rows take theirs: the left eye
// stays on the left and the right eye on the right.
void set_interocular(vr_ctx *ctx, double value) {
  const double half = std::fabs(single_precision(value)) / 2.0;
  ctx->screen_left_eye[0] = ctx->screen_left_eye[0] - (ctx->left_eye_offset[0] + half);
  ctx->left_eye_offset[0] = -half;
  ctx->screen_right_eye[0] = ctx->screen_right_eye[0] - (ctx->right_eye_offset[0] - half);
  ctx->right_eye_offset[0] = half;
}

// One value as taken from a list or handed to a typed setter, before it is stored.
struct Value {
  double real = 0.0;
  int integer = 0;
  const double *point = nullptr;  // three doubles, or sixteen for a matrix
  vr_fn callback = nullptr;
};

// Takes the row's value from the list. False when the row takes no value (the identifier is
// then read as the next identifier's place).
bool take(const Attribute &a, va_list *args, Value *v) {
  switch (a.kind) {
    case Kind::real:
    case Kind::geom_override:
    case Kind::interocular:
    case Kind::left_offset_x:
    case Kind::right_offset_x:
      v->real = va_arg(*args, double);
      return true;
    case Kind::integer:
      v->integer = va_arg(*args, int);
      return true;
    case Kind::point:
      v->point = va_arg(*args, const double *);
      return true;
    case Kind::callback:
      v->callback = va_arg(*args, vr_fn);
      return true;
    case Kind::matrix:
    case Kind::block:
    case Kind::none:
      break;
  }
  return false;
}

bool finite_all(const double *p, int n) {
  for (int i = 0; i < n; ++i) {
    if (!std::isfinite(p[i])) return false;
  }
  return true;
}

// Whether sixteen doubles, row by row, are a rotation (orthonormal, determinant +1) followed by
// a translation in row 3.
bool rigid(const double *m) {
  constexpr double tolerance = 1e-6;
  auto at = [m](int r, int c) { return m[r * 4 + c]; };
  for (int r = 0; r < 3; ++r) {
    if (at(r, 3) != 0.0) return false;
    for (int q = 0; q < 3; ++q) {
      double dot = 0.0;
      for (int c = 0; c < 3; ++c) dot += at(r, c) * at(q, c);
      if (std::fabs(dot - (r == q ? 1.0 : 0.0)) > tolerance) return false;
    }
  }
  const double det = at(0, 0) * (at(1, 1) * at(2, 2) - at(1, 2) * at(2, 1)) -
                     at(0, 1) * (at(1, 0) * at(2, 2) - at(1, 2) * at(2, 0)) +
                     at(0, 2) * (at(1, 0) * at(2, 1) - at(1, 1) * at(2, 0));
  return det > 0.0 && at(3, 3) == 1.0;
}

bool kept_in_single_precision(const Attribute &a) {
  return a.kind == Kind::interocular || a.kind == Kind::left_offset_x ||
         a.kind == Kind::right_offset_x;
}

// Whether a value can be stored: no row takes a non-finite number, and size rows refuse 0.
bool acceptable(const Attribute &a, const Value &v) {
  switch (a.kind) {
    case Kind::real:
    case Kind::geom_override:
    case Kind::interocular:
    case Kind::left_offset_x:
    case Kind::right_offset_x:
      if (!std::isfinite(v.real)) return false;
      if ((a.refuse & refuse_zero) && v.real == 0.0) return false;
      if ((a.refuse & refuse_negative) && v.real < 0.0) return false;
      return true;
    case Kind::integer:
      if (v.integer < a.low || v.integer > a.high) return false;
      if ((a.refuse & refuse_zero) && v.integer == 0) return false;
      if ((a.refuse & refuse_negative) && v.integer < 0) return false;
      if ((a.refuse & refuse_not_port) && (v.integer < 1 || v.integer > 65535)) return false;
      if ((a.refuse & refuse_not_position_axis) && !vr::net::valid_mapping(0, v.integer))
        return false;
      if ((a.refuse & refuse_not_angle_axis) && !vr::net::valid_mapping(3, v.integer)) return false;
      return true;
    case Kind::point:
      return v.point != nullptr && finite_all(v.point, 3);
    case Kind::matrix: {
      if (v.point == nullptr || !finite_all(v.point, 16)) return false;
      if ((a.refuse & refuse_non_rigid) && !rigid(v.point)) return false;
      if (!(a.refuse & refuse_singular)) return true;
      dmat m, inverse;
      std::memcpy(m, v.point, sizeof m);
      return vr_mat_invert_checked(m, inverse);
    }
    case Kind::callback:
      return true;
    case Kind::block:
    case Kind::none:
      break;
  }
  return false;
}

void store(vr_ctx *ctx, const Attribute &a, const Value &v) {
  switch (a.kind) {
    case Kind::real:
      field<double>(ctx, a.offset) = v.real;
      break;
    case Kind::integer:
      field<int>(ctx, a.offset) = v.integer;
      break;
    case Kind::point:
      std::memmove(&field<double>(ctx, a.offset), v.point, sizeof(dpt));
      break;
    case Kind::matrix:
      std::memmove(&field<double>(ctx, a.offset), v.point, sizeof(dmat));
      break;
    case Kind::callback:
      field<vr_fn>(ctx, a.offset) = v.callback;
      break;
    case Kind::geom_override: {
      auto &entry = field<vr_geom_override>(ctx, a.offset);
      entry.value = v.real;
      entry.set = 1;
      break;
    }
    case Kind::interocular:
      set_interocular(ctx, v.real);
      break;
    case Kind::left_offset_x:
      set_left_offset_x(ctx, v.real);
      break;
    case Kind::right_offset_x:
      set_right_offset_x(ctx, v.real);
      break;
    case Kind::block:
    case Kind::none:
      break;
  }
}

void run_effect(vr_ctx *ctx, Effect effect) {
  switch (effect) {
    case Effect::cache_eyes:
      vr_cache_eye_pos(ctx);
      break;
    case Effect::consistify:
      consistify_coexistence_center(ctx);
      break;
    case Effect::window:
      vr_window_comp(ctx);
      break;
    case Effect::world_inverse:
      vr_mat_invert_checked(ctx->world_to_coexistence, ctx->coexistence_to_world);
      break;
    case Effect::coexistence_inverse:
      vr_mat_invert_checked(ctx->coexistence_to_world, ctx->world_to_coexistence);
      break;
    case Effect::none:
      break;
  }
}

void load(vr_ctx *ctx, const Attribute &a, void *value) {
  switch (a.kind) {
    case Kind::real:
    case Kind::geom_override:  // the value comes first in the entry
    case Kind::left_offset_x:
    case Kind::right_offset_x:
      std::memcpy(value, &field<double>(ctx, a.offset), sizeof(double));
      break;
    case Kind::integer:
      std::memcpy(value, &field<int>(ctx, a.offset), sizeof(int));
      break;
    case Kind::point:
      std::memcpy(value, &field<double>(ctx, a.offset), sizeof(dpt));
      break;
    case Kind::matrix:
    case Kind::block: {
      void *address = &field<unsigned char>(ctx, a.offset);
      std::memcpy(value, &address, sizeof address);
      break;
    }
    case Kind::interocular: {
      const double d = ctx->right_eye_offset[0] - ctx->left_eye_offset[0];
      std::memcpy(value, &d, sizeof d);
      break;
    }
    case Kind::callback:
    case Kind::none:
      break;
  }
}

// ---------------------------------------------------------------------------------------------
// Typed accessors
// ---------------------------------------------------------------------------------------------

vr_attr_type type_of(const Attribute &a) {
  switch (a.kind) {
    case Kind::real:
    case Kind::geom_override:
    case Kind::interocular:
    case Kind::left_offset_x:
    case Kind::right_offset_x:
      return VR_TYPE_DOUBLE;
    case Kind::integer:
      return VR_TYPE_INT;
    case Kind::point:
      return VR_TYPE_POINT;
    case Kind::matrix:
      return VR_TYPE_MATRIX;
    case Kind::block:
    case Kind::callback:
      return VR_TYPE_OTHER;
    case Kind::none:
      break;
  }
  return VR_TYPE_NONE;
}

constexpr const char *type_names[] = {"no value", "a double", "an int",
                                      "a point",  "a matrix", "a block or callback"};

const char *type_name(vr_attr_type t) {
  return type_names[static_cast<int>(t)];
}

const char *name_of(int id) {
  const Attribute *a = any_attribute_row(id);
  return a == nullptr ? nullptr : a->name;
}

// Finds the row for a typed access and says why it cannot be used, with one message.
vr_result check_access(const char *who, vr_ctx *ctx, int id, vr_attr_type wanted, bool setting,
                       const void *value, const Attribute **out) {
  const Attribute *a = any_attribute_row(id);
  if (a == nullptr) {
    std::fprintf(stderr, "%s: unknown attribute %d\n", who, id);
    return VR_ERR_UNKNOWN_ID;
  }
  const char *name = name_of(id);
  // A slot that can only be written says so to a reader, whatever type it was read as.
  if (!setting && !a->gettable()) {
    std::fprintf(stderr, "%s: attribute %d (%s) can only be written\n", who, id, name);
    return VR_ERR_NOT_GETTABLE;
  }
  const vr_attr_type held = type_of(*a);
  if (held != wanted) {
    std::fprintf(stderr, "%s: attribute %d (%s) holds %s\n", who, id, name, type_name(held));
    return VR_ERR_WRONG_TYPE;
  }
  if (setting && !a->settable() && !a->typed_settable) {
    std::fprintf(stderr, "%s: attribute %d (%s) can only be read\n", who, id, name);
    return VR_ERR_NOT_SETTABLE;
  }
  if (ctx == nullptr || value == nullptr) {
    std::fprintf(stderr, "%s: attribute %d (%s): null %s\n", who, id, name,
                 ctx == nullptr ? "context" : "value");
    return VR_ERR_BAD_VALUE;
  }
  *out = a;
  return VR_OK;
}

vr_result typed_set(const char *who, vr_ctx *ctx, int id, vr_attr_type wanted, const Value &v,
                    const void *value_ptr) {
  const Attribute *a = nullptr;
  const vr_result r = check_access(who, ctx, id, wanted, true, value_ptr, &a);
  if (r != VR_OK) return r;
  if (!acceptable(*a, v)) {
    std::fprintf(stderr, "%s: attribute %d (%s): value refused\n", who, id, name_of(id));
    return VR_ERR_BAD_VALUE;
  }
  ctx->attributes_changed = 1;
  store(ctx, *a, v);
  run_effect(ctx, a->effect);
  return VR_OK;
}

// ---------------------------------------------------------------------------------------------
// Defaults
// ---------------------------------------------------------------------------------------------

constexpr double default_world_scale = 2.0 / 25.9;  // one world unit per plate cm
constexpr double transmitter_lean_rad = 50.0 * std::numbers::pi / 180.0;
constexpr double transmitter_x_cm = 18.28;
constexpr double transmitter_y_cm = 37.71;
constexpr double transmitter_z_cm = 4.6;

void set_point(dpt p, double x, double y, double z) {
  p[0] = x;
  p[1] = y;
  p[2] = z;
}

// Gives every row that starts at this stage its default from the table.
void set_defaults(vr_ctx *ctx, Stage stage) {
  for (const Attribute &a : attribute_table) {
    if (a.initial.stage != stage) continue;
    switch (a.kind) {
      case Kind::real:
        field<double>(ctx, a.offset) = a.initial.number;
        break;
      case Kind::integer:
        field<int>(ctx, a.offset) = static_cast<int>(a.initial.number);
        break;
      case Kind::point:
        std::memcpy(&field<double>(ctx, a.offset), a.initial.xyz, sizeof(dpt));
        break;
      default:
        break;
    }
  }
}

}  // namespace

bool vr_attr_range_of(int id, vr_attr_range *out) {
  const Attribute *a = any_attribute_row(id);
  if (a == nullptr || out == nullptr) return false;
  constexpr double largest_axis_entry = 6;
  const bool refuse_below_zero = (a->refuse & refuse_negative) != 0;
  switch (type_of(*a)) {
    case VR_TYPE_DOUBLE: {
      // The eye offsets are kept in single precision: beyond its range the setter stores an
      // infinite offset, which no file can keep, so a file takes only the finite part.
      const double largest = kept_in_single_precision(*a) ? FLT_MAX : DBL_MAX;
      *out = vr_attr_range{refuse_below_zero ? 0.0 : -largest, largest,
                           (a->refuse & refuse_zero) != 0, false};
      return true;
    }
    case VR_TYPE_INT: {
      double low = a->low, high = a->high;
      if (refuse_below_zero) low = std::fmax(low, 0.0);
      if (a->refuse & refuse_not_port) {
        low = std::fmax(low, 1.0);
        high = std::fmin(high, 65535.0);
      }
      if (a->refuse & (refuse_not_position_axis | refuse_not_angle_axis)) {
        low = std::fmax(low, -largest_axis_entry);
        high = std::fmin(high, largest_axis_entry);
      }
      *out = vr_attr_range{low, high, (a->refuse & refuse_zero) != 0, true};
      return true;
    }
    default:
      return false;
  }
}

bool vr_attr_info_of(int id, vr_attr_info *out) {
  const Attribute *a = any_attribute_row(id);
  if (a == nullptr || out == nullptr) return false;
  *out = vr_attr_info{a->unit,
                      a->gettable(),
                      a->settable(),
                      a->typed_settable,
                      a->effect == Effect::cache_eyes,
                      a->effect == Effect::consistify};
  return true;
}

extern "C" {

// ---------------------------------------------------------------------------------------------
// Context and attributes
// ---------------------------------------------------------------------------------------------

}  // extern "C"

// Gives the extension state its place in the context's reserved bytes, and each extension
// attribute its default from the table; the state's other fields start at zero (or at their
// member initialisers).
void vr_ext_init(vr_ctx *ctx) {
  new (ctx->ext.bytes) vr_ext_state{};
  set_defaults(ctx, extension);
}

extern "C" {

VR_API void vr_object_set(vr_ctx *ctx, ...) {
  va_list args;
  va_start(args, ctx);
  ctx->attributes_changed = 1;
  for (int id = va_arg(args, int); id != 0; id = va_arg(args, int)) {
    const Attribute *a = attribute_row(id);
    Value v;
    // A rejected identifier takes no value: the next item is read as an identifier.
    if (a == nullptr || !a->settable() || !take(*a, &args, &v)) {
      std::fprintf(stderr, "Bad argument to vr_object_set %d\n", id);
      continue;
    }
    if (a->kind == Kind::point && v.point == nullptr) {
      std::fprintf(stderr, "Bad argument to vr_object_set %d\n", id);
      continue;
    }
    // A value that cannot be geometry (non-finite, a size of 0) is taken from the list but not
    // stored: the old value stays and the views stay finite.
    if (!acceptable(*a, v)) {
      std::fprintf(stderr, "Bad value for vr_object_set %d\n", id);
      continue;
    }
    store(ctx, *a, v);
    run_effect(ctx, a->effect);
  }
  va_end(args);
}

VR_API void vr_object_get(vr_ctx *ctx, int id, void *value) {
  const Attribute *a = attribute_row(id);
  if (a == nullptr || !a->gettable() || value == nullptr) {
    std::fprintf(stderr, "Bad argument to vr_object_get %d\n", id);
    return;
  }
  load(ctx, *a, value);
}

VR_API vr_result vr_set_double(vr_ctx *ctx, int id, double value) {
  Value v;
  v.real = value;
  return typed_set("vr_set_double", ctx, id, VR_TYPE_DOUBLE, v, &value);
}

VR_API vr_result vr_set_int(vr_ctx *ctx, int id, int value) {
  Value v;
  v.integer = value;
  return typed_set("vr_set_int", ctx, id, VR_TYPE_INT, v, &value);
}

VR_API vr_result vr_set_point(vr_ctx *ctx, int id, const dpt value) {
  Value v;
  v.point = value;
  return typed_set("vr_set_point", ctx, id, VR_TYPE_POINT, v, value);
}

VR_API vr_result vr_set_matrix(vr_ctx *ctx, int id, const dmat value) {
  Value v;
  v.point = value != nullptr ? &value[0][0] : nullptr;
  return typed_set("vr_set_matrix", ctx, id, VR_TYPE_MATRIX, v, value);
}

VR_API vr_result vr_get_double(vr_ctx *ctx, int id, double *out) {
  const Attribute *a = nullptr;
  const vr_result r = check_access("vr_get_double", ctx, id, VR_TYPE_DOUBLE, false, out, &a);
  if (r == VR_OK) load(ctx, *a, out);
  return r;
}

VR_API vr_result vr_get_int(vr_ctx *ctx, int id, int *out) {
  const Attribute *a = nullptr;
  const vr_result r = check_access("vr_get_int", ctx, id, VR_TYPE_INT, false, out, &a);
  if (r == VR_OK) load(ctx, *a, out);
  return r;
}

VR_API vr_result vr_get_point(vr_ctx *ctx, int id, dpt out) {
  const Attribute *a = nullptr;
  const vr_result r = check_access("vr_get_point", ctx, id, VR_TYPE_POINT, false, out, &a);
  if (r == VR_OK) load(ctx, *a, out);
  return r;
}

VR_API vr_result vr_get_matrix(vr_ctx *ctx, int id, dmat out) {
  const Attribute *a = nullptr;
  const vr_result r = check_access("vr_get_matrix", ctx, id, VR_TYPE_MATRIX, false, out, &a);
  if (r == VR_OK) std::memcpy(out, &field<double>(ctx, a->offset), sizeof(dmat));
  return r;
}

VR_API vr_attr_type vr_attr_type_of(int id) {
  const Attribute *a = any_attribute_row(id);
  return a == nullptr ? VR_TYPE_NONE : type_of(*a);
}

VR_API const char *vr_attr_name(int id) {
  return name_of(id);
}

VR_API void vr_init_attributes(vr_ctx *ctx) {
  vr_ext_init(ctx);
  vr_init_pworld_time(ctx);

  // The values are in vr_attributes.def; each stage is set before the call that reads it.
  set_defaults(ctx, before_window);
  vr_window_comp(ctx);

  set_defaults(ctx, before_eyes);
  // The right screen eye: the left one moved by the difference of the eye offsets.
  set_point(ctx->screen_right_eye,
            ctx->screen_left_eye[0] - ctx->left_eye_offset[0] + ctx->right_eye_offset[0],
            ctx->screen_left_eye[1], ctx->screen_left_eye[2]);
  // A fixed world scale, deliberately not read from screen_height_cm.
  constexpr double k = default_world_scale;
  vr_mat_scale(k, k, k, ctx->world_to_coexistence);
  vr_mat_scale(1.0 / k, 1.0 / k, 1.0 / k, ctx->coexistence_to_world);
  vr_mat_identity(ctx->head_view_base);
  vr_mat_identity(ctx->corner_dir_matrix);
  for (auto &dir : ctx->window_corner_dirs) set_point(dir, 0.0, 0.0, -1.0);
  ctx->pworld_time_base = 0.0;
  vr_cache_eye_pos(ctx);

  set_defaults(ctx, before_placement);
  leaning_triangle_make_dig_to_plate(ctx, transmitter_lean_rad, transmitter_x_cm, transmitter_y_cm,
                                     transmitter_z_cm);
  consistify_coexistence_center(ctx);
  ctx->attributes_changed = 1;
}

}  // extern "C"
