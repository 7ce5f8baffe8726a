// Set-up files: a TOML file of keys, each naming one attribute (or device path) of the context.
// A load checks every key first and applies the whole file to a copy of the context, which
// replaces the context only when all of it went in: a refused file changes nothing.
#include "vr_config.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cerrno>
#include <cfloat>
#include <cinttypes>
#include <cstdarg>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <toml++/toml.h>

#include "vr_ext.h"
#include "vr_attr.h"
#include "vr_screen_frames.h"
#include "vr_mat_internal.h"
#include "vr_opentrack.h"
#include "vr_platform.h"

namespace {

// Where a key's value goes: an attribute, a device path, an address attribute and the port
// attribute after it, written as one "a.b.c.d:port" text, or a VRPN device name.
enum class Target : unsigned char { attribute, device, endpoint, vrpn_name };

// One key of the file. The value's type, and the numbers it takes, are the attribute's own
// (vr_attr_type_of, vr_attr_range_of): a file takes exactly what the typed setter takes, so any
// set-up the setters made can be saved and read back. A key for a new attribute is the key
// column of its line in context/vr_attributes.def. A switch (an int attribute read as on / off)
// also takes true / false, and is written so when it holds 0 or 1.
struct Key {
  const char *section;
  const char *name;
  Target target;
  int id;            // attribute identifier, or VR_DEVICE_* for a device path
  const char *what;  // one line for the written file: meaning and unit
  bool saved;        // false: derived from other keys, so a written file leaves it out
  bool is_switch = false;
};

// The VRPN source's device names: the tracker, and the button device after it.
enum { vrpn_tracker = 0, vrpn_button = 1 };

// The lines of vr_attributes.def as keys: an attribute line with a key, or a key that is no
// attribute (a device path, a VRPN device name). Attribute lines without a key are left out.
struct KeyLine {
  bool is_key;
  Key key;
};
constexpr KeyLine no_key_line(const char *, const char *, int, const char *) {
  return KeyLine{false, Key{}};
}
constexpr KeyLine key_line(const char *section, const char *name, int id, const char *what) {
  return KeyLine{true, Key{section, name, Target::attribute, id, what, true}};
}
constexpr KeyLine switch_key_line(const char *section, const char *name, int id, const char *what) {
  return KeyLine{true, Key{section, name, Target::attribute, id, what, true, true}};
}
constexpr KeyLine derived_key_line(const char *section, const char *name, int id,
                                   const char *what) {
  return KeyLine{true, Key{section, name, Target::attribute, id, what, false}};
}
constexpr KeyLine endpoint_key_line(const char *section, const char *name, int address_id,
                                    const char *what) {
  return KeyLine{true, Key{section, name, Target::endpoint, address_id, what, true}};
}

constexpr KeyLine key_lines[] = {
#define VR_ATTRIBUTE(id, kind, access, range, effect, place, unit, initial, key_style, section, \
                     key_name, what)                                                            \
  key_style##_line(#section, #key_name, id, what),
#define VR_SETUP_KEY(target, which, section, key_name, what) \
  KeyLine{true, Key{#section, #key_name, Target::target, which, what, true}},
#include "vr_attributes.def"
#undef VR_SETUP_KEY
#undef VR_ATTRIBUTE
};

// The keys in the order they are applied and written: the order of vr_attributes.def.
constexpr int key_total = static_cast<int>(std::count_if(
    std::begin(key_lines), std::end(key_lines), [](const KeyLine &l) { return l.is_key; }));
constexpr std::array<Key, key_total> collect_keys() {
  std::array<Key, key_total> out{};
  std::size_t n = 0;
  for (const KeyLine &l : key_lines) {
    if (l.is_key) out[n++] = l.key;
  }
  return out;
}
constexpr std::array<Key, key_total> keys = collect_keys();

constexpr std::size_t max_file_bytes = 1 << 20;
constexpr std::size_t max_path_bytes = 255;

std::string last_message;

// A value taken from the file, checked against its key and ready to apply.
struct Staged {
  int key = 0;  // index into keys
  unsigned line = 0;
  double real = 0.0;
  int integer = 0;
  double numbers[16] = {};
  std::string text;
};

// The first problem of a file, by line.
struct Problem {
  unsigned line = 0;
  std::string text;
};

std::string format(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char *fmt, ...) {
  va_list args, again;
  va_start(args, fmt);
  va_copy(again, args);
  const int size = std::vsnprintf(nullptr, 0, fmt, args);
  va_end(args);
  std::string out(size > 0 ? static_cast<std::size_t>(size) : 0, '\0');
  if (size > 0) std::vsnprintf(out.data(), out.size() + 1, fmt, again);
  va_end(again);
  return out;
}

// The shortest text that reads back as exactly the same double, always as a TOML float: a
// whole number gets ".0", so that -0.0 is not written as the integer -0 (read back as +0).
std::string number_text(double v) {
  char buffer[64];
  const auto end = std::to_chars(buffer, buffer + sizeof buffer, v).ptr;
  std::string text(buffer, end);
  if (text.find_first_of(".eE") == std::string::npos && std::isfinite(v)) text += ".0";
  return text;
}

class Reader {
 public:
  explicit Reader(const char *source) : source_(source) {}

  void problem(unsigned line, const std::string &key, const std::string &what) {
    if (first_.has_value() && first_->line <= line) return;
    first_ = Problem{line, format("%s:%u: %s: %s", source_, line, key.c_str(), what.c_str())};
  }
  bool failed() const { return first_.has_value(); }
  const std::string &message() const { return first_->text; }

  // Checks every entry of the file and stages the good ones.
  void read(const toml::table &root, std::vector<Staged> &out) {
    for (const auto &[section_name, section_node] : root) {
      const std::string section(section_name.str());
      const auto *section_table = section_node.as_table();
      if (section_table == nullptr || !known_section(section)) {
        problem(line_of(section_node), section,
                section_table == nullptr ? "unknown key (keys belong in a [section])"
                                         : "unknown section");
        continue;
      }
      for (const auto &[key_name, value] : *section_table) {
        const std::string name = section + "." + std::string(key_name.str());
        const int k = find(section, key_name.str());
        if (k < 0) {
          problem(line_of(value), name, "unknown key");
          continue;
        }
        Staged staged;
        staged.key = k;
        staged.line = line_of(value);
        if (take(keys[k], value, name, staged)) out.push_back(std::move(staged));
      }
    }
  }

 private:
  static unsigned line_of(const toml::node &n) { return n.source().begin.line; }

  static bool known_section(const std::string &section) {
    return std::any_of(std::begin(keys), std::end(keys),
                       [&](const Key &k) { return section == k.section; });
  }

  static int find(const std::string &section, std::string_view name) {
    for (int k = 0; k < key_total; ++k) {
      if (section == keys[k].section && name == keys[k].name) return k;
    }
    return -1;
  }

  // A VRPN device name as the source takes it ("name@host", the host with an optional port), or
  // "" for none.
  static bool vrpn_name_text(const std::string &t) {
    if (t.empty()) return true;
    if (t.size() >= VR_VRPN_NAME_BYTES || t.find('\0') != std::string::npos) return false;
    const std::size_t at = t.find('@');
    return at != std::string::npos && at != 0 && at + 1 < t.size();
  }

  static std::optional<double> number(const toml::node &n) {
    if (const auto *f = n.as_floating_point()) return f->get();
    if (const auto *i = n.as_integer()) return static_cast<double>(i->get());
    return std::nullopt;
  }

  // The numbers the key's attribute takes: its setter's range, or any finite number for each
  // coordinate of a point or matrix (a matrix's own test follows when it is applied).
  static vr_attr_range range_of(const Key &key) {
    vr_attr_range r{-DBL_MAX, DBL_MAX, false, false};
    vr_attr_range_of(key.id, &r);
    return r;
  }

  static std::string range_text(const vr_attr_range &r) {
    if (r.whole) return format("%.15g to %.15g%s", r.low, r.high, r.zero_refused ? ", not 0" : "");
    if (r.high < DBL_MAX) return format("%.9g to %.9g", r.low, r.high);  // single precision
    if (r.low == 0) return r.zero_refused ? "above 0" : "0 or more";
    return r.zero_refused ? "any finite number but 0" : "any finite number";
  }

  bool in_range(const Key &key, double v, const std::string &name, unsigned line) {
    const vr_attr_range r = range_of(key);
    if (std::isfinite(v) && v >= r.low && v <= r.high && !(r.zero_refused && v == 0)) return true;
    problem(line, name, format("%.15g is out of range (%s)", v, range_text(r).c_str()));
    return false;
  }

  // Fills n numbers from an array of n numbers; false (with the problem noted) otherwise.
  bool numbers(const toml::array *a, std::size_t n, const Key &key, const std::string &name,
               unsigned line, double *out, const char *expected) {
    if (a == nullptr || a->size() != n) {
      problem(line, name, expected);
      return false;
    }
    for (std::size_t i = 0; i < n; ++i) {
      const auto v = number(*a->get(i));
      if (!v) {
        problem(line, name, expected);
        return false;
      }
      if (!in_range(key, *v, name, line)) return false;
      out[i] = *v;
    }
    return true;
  }

  bool take(const Key &key, const toml::node &value, const std::string &name, Staged &s) {
    const unsigned line = s.line;
    if (key.target == Target::device) {
      const auto *text = value.as_string();
      if (text == nullptr) {
        problem(line, name, "expected a device path in quotes");
        return false;
      }
      s.text = text->get();
      if (s.text.empty() || s.text.size() > max_path_bytes ||
          s.text.find('\0') != std::string::npos) {
        problem(line, name, "a device path has 1 to 255 bytes and no zero byte");
        return false;
      }
      return true;
    }
    if (key.target == Target::vrpn_name) {
      const auto *text = value.as_string();
      if (text == nullptr || !vrpn_name_text(text->get())) {
        problem(line, name,
                format("expected \"device@host[:port]\" of at most %d bytes, or \"\"",
                       VR_VRPN_NAME_BYTES - 1));
        return false;
      }
      s.text = text->get();
      return true;
    }
    if (key.target == Target::endpoint) {
      const auto *text = value.as_string();
      unsigned address = 0;
      int port = 1;
      if (text == nullptr || text->get().find('\0') != std::string::npos ||
          !vr::net::parse_endpoint(text->get().c_str(), &address, &port)) {
        problem(line, name, "expected \"a.b.c.d:port\" (IPv4 address and UDP port)");
        return false;
      }
      s.text = text->get();
      return true;
    }
    switch (vr_attr_type_of(key.id)) {
      case VR_TYPE_DOUBLE: {
        const auto v = number(value);
        if (!v) {
          problem(line, name, "expected a number");
          return false;
        }
        s.real = *v;
        return in_range(key, *v, name, line);
      }
      case VR_TYPE_INT: {
        if (const auto *b = value.as_boolean(); b != nullptr && key.is_switch) {
          s.integer = b->get() ? 1 : 0;
          return true;
        }
        const auto *i = value.as_integer();
        if (i == nullptr) {
          problem(line, name, key.is_switch ? "expected true or false" : "expected a whole number");
          return false;
        }
        if (!in_range(key, static_cast<double>(i->get()), name, line)) return false;
        s.integer = static_cast<int>(i->get());
        return true;
      }
      case VR_TYPE_POINT:
        return numbers(value.as_array(), 3, key, name, line, s.numbers,
                       "expected three numbers [x, y, z]");
      case VR_TYPE_MATRIX: {
        constexpr const char *expected = "expected four rows of four numbers";
        const auto *rows = value.as_array();
        if (rows == nullptr || rows->size() != 4) {
          problem(line, name, expected);
          return false;
        }
        for (std::size_t r = 0; r < 4; ++r) {
          if (!numbers(rows->get(r)->as_array(), 4, key, name, line, s.numbers + 4 * r, expected))
            return false;
        }
        return true;
      }
      case VR_TYPE_NONE:
      case VR_TYPE_OTHER:
        break;
    }
    problem(line, name, "cannot be set from a file");
    return false;
  }

  const char *source_;
  std::optional<Problem> first_;
};

// Applies a VRPN device name. The tracker comes first (the button device then defaults to it, as
// vr_vrpn_set_devices does); a button device needs a tracker named before it. "" for the tracker
// names none (the VRLIB_VRPN variable then applies), "" for the button device means the tracker.
bool apply_vrpn_name(vr_ctx *ctx, int which, const std::string &text) {
  vr_ext_vrpn &e = vr_ext(ctx).vrpn;
  if (which == vrpn_tracker) {
    if (text.empty()) {
      std::memset(e.tracker, 0, sizeof e.tracker);
      std::memset(e.button, 0, sizeof e.button);
      return true;
    }
    return vr_vrpn_set_devices(ctx, text.c_str(), nullptr) == VR_OK;
  }
  if (!e.tracker[0]) return text.empty();
  const std::string tracker = e.tracker;
  return vr_vrpn_set_devices(ctx, tracker.c_str(), text.c_str()) == VR_OK;
}

// Applies one staged value to the copy; false when the attribute refuses it.
bool apply(vr_ctx *ctx, const Staged &s) {
  const Key &key = keys[s.key];
  if (key.target == Target::endpoint) {
    return vr_net_set_endpoint(ctx, key.id, s.text.c_str()) == VR_OK;
  }
  if (key.target == Target::vrpn_name) return apply_vrpn_name(ctx, key.id, s.text);
  switch (vr_attr_type_of(key.id)) {
    case VR_TYPE_DOUBLE:
      return vr_set_double(ctx, key.id, s.real) == VR_OK;
    case VR_TYPE_INT:
      return vr_set_int(ctx, key.id, s.integer) == VR_OK;
    case VR_TYPE_POINT:
      return vr_set_point(ctx, key.id, s.numbers) == VR_OK;
    case VR_TYPE_MATRIX: {
      dmat m;
      std::memcpy(m, s.numbers, sizeof m);
      return vr_set_matrix(ctx, key.id, m) == VR_OK;
    }
    case VR_TYPE_NONE:
    case VR_TYPE_OTHER:
      break;
  }
  return false;
}

const char *refusal(const Key &key) {
  if (key.target == Target::vrpn_name) return "refused: a button device needs a tracker named";
  if (key.id >= VR_NET_MAP_X && key.id <= VR_NET_MAP_ROLL)
    return "refused: x, y and z take 1 to 3, the angles 4 to 6 (negative: negated)";
  return vr_attr_type_of(key.id) == VR_TYPE_MATRIX
             ? "refused: not a rigid transform (rotation and translation only)"
             : "refused by the context";
}

// ---- Characters the TOML reader cannot take ----------------------------------------------------
//
// The TOML reader's test for non-ASCII white space reaches an "unreachable" branch (undefined
// behaviour) for some code points. It only runs where white space may stand: outside strings and
// comments, and after a line-ending backslash in a multi-line basic string. Such a code point
// there is refused before the reader sees the text. Comments and the other strings take any text.

bool unreadable_code_point(char32_t c) {
  // The reader's test splits U+00A0..U+FEFF into blocks of 0x3FA code points from U+00A0 and
  // reaches the branch for the blocks 0, 11 and 63 beyond its three white-space code points.
  return (c >= 0xA1 && c <= 0x499) || (c >= 0x2C5E && c <= 0x3057 && c != 0x3000) ||
         (c >= 0xFB26 && c <= 0xFEFE);
}

// The code point starting at text[i] (its length in len), or 0 for a malformed sequence, which
// the reader reports itself.
char32_t decode(std::string_view text, std::size_t i, std::size_t &len) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char b0 = byte(i);
  len = b0 >= 0xF0 ? 4 : b0 >= 0xE0 ? 3 : b0 >= 0xC0 ? 2 : 1;
  if (len == 1 || i + len > text.size()) {
    len = 1;
    return 0;
  }
  char32_t c = b0 & (0x3F >> (len - 1));
  for (std::size_t k = 1; k < len; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) {
      len = 1;
      return 0;
    }
    c = (c << 6) | (byte(i + k) & 0x3F);
  }
  return c;
}

// The line of the first code point the reader cannot take where it would test it, or 0.
// The line of the first control character other than the tab and the line ends, or 0.
unsigned control_line(std::string_view text, char32_t &found) {
  unsigned line = 1;
  for (const char ch : text) {
    const auto u = static_cast<unsigned char>(ch);
    if (ch == '\n') {
      ++line;
    } else if ((u < 0x20 && ch != '\t' && ch != '\r') || u == 0x7f) {
      found = u;
      return line;
    }
  }
  return 0;
}

unsigned unreadable_line(std::string_view text, char32_t &found) {
  enum class In { code, comment, basic, literal, multi_basic, multi_literal } in = In::code;
  unsigned line = 1;
  // The last character of the code that is not blank: a string can only start after one of
  // "=[,{." or at the start of a line. A quote anywhere else is a fault the reader reports, after
  // testing what follows it as code, so what follows it is checked as code here too.
  char last = '\n';
  const auto string_may_start = [&] { return std::strchr("=[,{.\n", last) != nullptr; };
  const auto starts = [&](std::size_t i, std::string_view what) {
    return text.substr(i, what.size()) == what;
  };
  for (std::size_t i = 0; i < text.size();) {
    const char ch = text[i];
    if (ch == '\n') {
      ++line;
      if (in == In::comment || in == In::basic || in == In::literal) in = In::code;
      if (in == In::code) last = '\n';
      ++i;
      continue;
    }
    if (static_cast<unsigned char>(ch) >= 0x80) {
      std::size_t len = 1;
      const char32_t c = decode(text, i, len);
      if ((in == In::code || in == In::multi_basic) && unreadable_code_point(c)) {
        found = c;
        return line;
      }
      if (in == In::code) last = 'x';
      i += len;
      continue;
    }
    std::size_t step = 1;
    const auto enter = [&](In state, std::size_t length) {
      if (state == In::code) last = '"';  // a string ended
      in = state;
      step = length;
    };
    const bool quote3 = starts(i, "\"\"\""), apostrophe3 = starts(i, "'''");
    switch (in) {
      case In::code:
        if (ch == '#')
          enter(In::comment, 1);
        else if ((ch == '"' || ch == '\'') && !string_may_start())
          last = ch;
        else if (quote3)
          enter(In::multi_basic, 3);
        else if (apostrophe3)
          enter(In::multi_literal, 3);
        else if (ch == '"')
          enter(In::basic, 1);
        else if (ch == '\'')
          enter(In::literal, 1);
        else if (ch != ' ' && ch != '\t' && ch != '\r')
          last = ch;
        break;
      case In::basic:
      case In::multi_basic:
        // An escaped quote or backslash does not end the string; a line-ending backslash is
        // followed by a line break, counted as any other.
        if (ch == '\\' && (starts(i + 1, "\"") || starts(i + 1, "\\")))
          step = 2;
        else if (in == In::basic && ch == '"')
          enter(In::code, 1);
        else if (in == In::multi_basic && quote3)
          enter(In::code, 3);
        break;
      case In::literal:
        if (ch == '\'') enter(In::code, 1);
        break;
      case In::multi_literal:
        if (apostrophe3) enter(In::code, 3);
        break;
      case In::comment:
        break;
    }
    i += step;
  }
  return 0;
}

bool fail(std::string message) {
  last_message = std::move(message);
  std::fprintf(stderr, "%s\n", last_message.c_str());
  return false;
}

// ---- Writing ---------------------------------------------------------------------------------

std::string quoted(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20 || u == 0x7f) {
      out += format("\\u%04x", u);
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string numbers_text(const double *v, int n) {
  std::string out = "[";
  for (int i = 0; i < n; ++i) out += (i ? ", " : "") + number_text(v[i]);
  return out + "]";
}

std::string value_text(vr_ctx *ctx, const Key &key) {
  if (key.target == Target::device) {
    const char *path = vr::os::device_path_for_file(key.id);
    return quoted(path != nullptr ? path : "");
  }
  if (key.target == Target::vrpn_name) {
    const vr_ext_vrpn &e = vr_ext(ctx).vrpn;
    return quoted(key.id == vrpn_tracker ? e.tracker : e.button);
  }
  if (key.target == Target::endpoint) {
    int address = 0, port = 0;
    vr_get_int(ctx, key.id, &address);
    vr_get_int(ctx, key.id + 1, &port);
    const auto a = static_cast<unsigned>(address);
    return format("\"%u.%u.%u.%u:%d\"", a >> 24, (a >> 16) & 255u, (a >> 8) & 255u, a & 255u, port);
  }
  switch (vr_attr_type_of(key.id)) {
    case VR_TYPE_DOUBLE: {
      double v = 0.0;
      vr_get_double(ctx, key.id, &v);
      return number_text(v);
    }
    case VR_TYPE_INT: {
      int v = 0;
      vr_get_int(ctx, key.id, &v);
      if (key.is_switch && (v == 0 || v == 1)) return v ? "true" : "false";
      return std::to_string(v);
    }
    case VR_TYPE_POINT: {
      dpt p{};
      vr_get_point(ctx, key.id, p);
      return numbers_text(p, 3);
    }
    case VR_TYPE_MATRIX: {
      dmat m{};
      vr_get_matrix(ctx, key.id, m);
      std::string out = "[\n";
      for (const auto &row : m) out += "  " + numbers_text(row, 4) + ",\n";
      return out + "]";
    }
    case VR_TYPE_NONE:
    case VR_TYPE_OTHER:
      break;
  }
  return "";
}

}  // namespace

namespace vr::config {

bool load_text(vr_ctx *ctx, std::string_view text, const char *source, bool devices) {
  last_message.clear();
  // TOML allows no control character but the tab and the line ends anywhere, not even in
  // comments and strings; the reader's own handling of some of them outside strings is unsafe
  // (an internal assertion on a table header holding one), so they are refused before it runs.
  char32_t control = 0;
  if (const unsigned at = control_line(text, control); at != 0) {
    return fail(format("%s:%u: control character U+%04X is not allowed in a set-up file", source,
                       at, static_cast<unsigned>(control)));
  }
  char32_t unreadable = 0;
  if (const unsigned line = unreadable_line(text, unreadable); line != 0) {
    return fail(format("%s:%u: character U+%04X is not accepted outside strings and comments",
                       source, line, static_cast<unsigned>(unreadable)));
  }
  toml::table root;
  try {
    root = toml::parse(text, std::string_view(source));
  } catch (const toml::parse_error &e) {
    return fail(format("%s:%u: not valid TOML: %.*s", source, e.source().begin.line,
                       static_cast<int>(e.description().size()), e.description().data()));
  }

  Reader reader(source);
  std::vector<Staged> staged;
  reader.read(root, staged);
  if (reader.failed()) return fail(reader.message());
  std::sort(staged.begin(), staged.end(),
            [](const Staged &a, const Staged &b) { return a.key < b.key; });

  // The copy runs no hook of the application: the hook sees the context only once it holds
  // the whole set-up.
  auto copy = std::make_unique<vr_ctx>(*ctx);
  copy->eye_hook_fn = nullptr;
  for (const Staged &s : staged) {
    if (keys[s.key].target == Target::device) continue;
    if (!apply(copy.get(), s)) {
      const Key &key = keys[s.key];
      return fail(format("%s:%u: %s.%s: %s", source, s.line, key.section, key.name, refusal(key)));
    }
  }
  const auto sets = [&staged](int id) {
    return std::any_of(staged.begin(), staged.end(), [id](const Staged &s) {
      return keys[s.key].target == Target::attribute && keys[s.key].id == id;
    });
  };
  // A new screen brings what is placed by it, as vr_ctx_create_display places them, unless the
  // file places them itself: the fixed viewer centred in front of it, the transmitter above it.
  if (sets(VR_SCREEN_WIDTH_CM) || sets(VR_SCREEN_HEIGHT_CM)) {
    if (!sets(VR_TRACKER_TO_PLATE)) vr_center_transmitter(copy.get());
    if (!sets(VR_SCREEN_LEFT_EYE)) vr_center_screen_eye(copy.get(), VR_EYE_LEFT);
    if (!sets(VR_SCREEN_RIGHT_EYE)) vr_center_screen_eye(copy.get(), VR_EYE_RIGHT);
    vr_cache_eye_pos(copy.get());
  }
  // A new screen or window size takes effect at once, as when the window is matched.
  vr_window_comp(copy.get());

  const vr_fn hook = ctx->eye_hook_fn;
  *ctx = *copy;
  ctx->eye_hook_fn = hook;
  for (const Staged &s : staged) {
    if (devices && keys[s.key].target == Target::device)
      vr::os::set_file_device_path(keys[s.key].id, s.text.c_str());
  }
  if (hook != nullptr) vr_cache_eye_pos(ctx);
  // The serial units' delay is no longer the network sender's latency: an older webcam set-up
  // that sets it (and not the sender's own key) is told once, and the value goes to the units.
  if (sets(VR_TRACKER_DELAY) && !sets(VR_NET_SENDER_LATENCY) &&
      ctx->glasses_source == VR_SOURCE_NETWORK) {
    const auto at = std::find_if(staged.begin(), staged.end(), [](const Staged &s) {
      return keys[s.key].id == VR_TRACKER_DELAY && keys[s.key].target == Target::attribute;
    });
    last_message = format(
        "%s:%u: display_time.tracker_delay: applies to the serial units only; the network "
        "source's latency is network.sender_latency (VR_NET_SENDER_LATENCY, still %s s)",
        source, at->line, number_text(vr_ext(ctx).net.sender_latency_s).c_str());
    std::fprintf(stderr, "%s\n", last_message.c_str());
  }
  return true;
}

std::string save_text(vr_ctx *ctx, const std::vector<bool> *only) {
  std::string out = "# vrlib set-up (vr_config_save). Lengths in cm, angles in radians.\n";
  const char *section = "";
  for (int k = 0; k < key_total; ++k) {
    const Key &key = keys[k];
    if (only != nullptr ? !(*only)[static_cast<std::size_t>(k)] : !key.saved) continue;
    if (std::strcmp(section, key.section) != 0) {
      section = key.section;
      out += format("\n[%s]\n", section);
    }
    out += format("# %s\n", key.what);
    out += std::string(key.name) + " = " + value_text(ctx, key) + "\n";
  }
  return out;
}

int key_count() {
  return key_total;
}

KeyInfo key_at(int index) {
  if (index < 0 || index >= key_total) return KeyInfo{nullptr, nullptr};
  const Key &k = keys[static_cast<std::size_t>(index)];
  return KeyInfo{k.section,         k.name, k.id, k.target == Target::attribute,
                 k.target == Target::endpoint, k.is_switch};
}

}  // namespace vr::config

void vr_config_load_from_environment(vr_ctx *ctx) {
  const char *path = std::getenv("VRLIB_CONFIG");
  if (path == nullptr || path[0] == '\0') return;
  if (!vr_config_load(ctx, path)) {
    std::fprintf(stderr, "VRLIB_CONFIG: the set-up in %s was not applied; the defaults stay\n",
                 path);
  }
}

namespace {
int load_file(vr_ctx *ctx, const char *path);
int save_file(vr_ctx *ctx, const char *path, const char *const *names);
}  // namespace

extern "C" {

VR_API int vr_config_load(vr_ctx *ctx, const char *path) {
  // Nothing may leave a C entry point as an exception: running out of memory is a failure.
  try {
    return load_file(ctx, path);
  } catch (const std::exception &) {
    return fail("vr_config_load: out of memory");
  }
}

VR_API int vr_config_save(vr_ctx *ctx, const char *path) {
  try {
    return save_file(ctx, path, nullptr);
  } catch (const std::exception &) {
    return fail("vr_config_save: out of memory");
  }
}

VR_API int vr_config_save_keys(vr_ctx *ctx, const char *path, const char *const *names) {
  try {
    if (names == nullptr) return fail("vr_config_save_keys: null list of keys");
    return save_file(ctx, path, names);
  } catch (const std::exception &) {
    return fail("vr_config_save_keys: out of memory");
  }
}

VR_API const char *vr_config_message(void) {
  return last_message.c_str();
}

}  // extern "C"

namespace {

// The key written "section.name", or -1.
int key_named(std::string_view name) {
  for (int k = 0; k < key_total; ++k) {
    const std::string_view section = keys[k].section;
    if (name.size() == section.size() + 1 + std::strlen(keys[k].name) &&
        name.substr(0, section.size()) == section && name[section.size()] == '.' &&
        name.substr(section.size() + 1) == keys[k].name)
      return k;
  }
  return -1;
}

// Why a set-up file could not be read. Only regular files are read, and never through a link:
// a FIFO, device or socket is refused without waiting for a writer.
const char *read_error(int error) {
  struct Reason {
    int error;
    const char *text;
  };
  static constexpr Reason reasons[] = {
      {EFBIG, "larger than 1 MiB"},
      {ELOOP, "a symbolic link (set-up files are opened without following links)"},
      {EISDIR, "a folder, not a regular file"},
      {vr::os::not_regular_fifo, "a FIFO, not a regular file"},
      {vr::os::not_regular_socket, "a socket, not a regular file"},
      {vr::os::not_regular_device, "a device, not a regular file"},
  };
  for (const Reason &r : reasons)
    if (r.error == error) return r.text;
  return std::strerror(error);
}

int load_file(vr_ctx *ctx, const char *path) {
  last_message.clear();
  if (ctx == nullptr || path == nullptr) return fail("vr_config_load: null context or path");
  std::string text;
  const int error = vr::os::read_file(path, text, max_file_bytes);
  if (error != 0)
    return fail(format("%s: cannot read the set-up file: %s", path, read_error(error)));
  return vr::config::load_text(ctx, text, path) ? 1 : 0;
}

int save_file(vr_ctx *ctx, const char *path, const char *const *names) {
  last_message.clear();
  if (ctx == nullptr || path == nullptr) return fail("vr_config_save: null context or path");
  std::vector<bool> only;
  if (names != nullptr) {
    only.assign(static_cast<std::size_t>(key_total), false);
    for (const char *const *name = names; *name != nullptr; ++name) {
      const int k = key_named(*name);
      if (k < 0) return fail(format("%s: not written: %s is no set-up key", path, *name));
      only[static_cast<std::size_t>(k)] = true;
    }
  }
  // A value that a file cannot bring back (one poked into the record directly: a non-finite
  // number, a scaled placement) would give a file that every later load refuses.
  const std::string text = vr::config::save_text(ctx, names != nullptr ? &only : nullptr);
  auto scratch = std::make_unique<vr_ctx>(*ctx);
  scratch->eye_hook_fn = nullptr;
  if (!vr::config::load_text(scratch.get(), text, path, false)) {
    return fail(format("%s: not written: the set-up holds a value that a file cannot keep (%s)",
                       path, last_message.c_str()));
  }
  const int error = vr::os::replace_file(path, text);
  if (error != 0) {
    return fail(format("%s: cannot write the set-up file: %s", path, std::strerror(error)));
  }
  return 1;
}

}  // namespace
