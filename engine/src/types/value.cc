#include "vintrel/value.h"

#include <charconv>
#include <cmath>

#include "unicode_tables.h"
#include "vintrel/small_stack.h"
#include "vintrel/utils.h"

namespace vintrel {

std::string_view type_name(Type t) noexcept {
  switch (t) {
    case Type::Int: return "int";
    case Type::String: return "string";
    case Type::Bool: return "bool";
    case Type::Float: return "float";
    case Type::Array: return "array";
    case Type::Object: return "object";
    case Type::Null: return "null";
  }
  return "null";
}

Type Value::get_type() const noexcept {
  switch (kind()) {
    case Kind::Int: return Type::Int;
    case Kind::Float: return Type::Float;
    case Kind::Bool: return Type::Bool;
    case Kind::String: return Type::String;
    case Kind::Array: return Type::Array;
    case Kind::Object: return Type::Object;
    case Kind::Null: return Type::Null;
  }
  return Type::Null;
}

// ---------------------------------------------------------------------------
// The walks over nested containers (release, copy, equality, into_owned)
// keep their pending work on explicit stacks: a native caller can nest
// values as deep as it likes.

namespace {

// A container with something in it: the only kind of child whose release
// would go one native level deeper.
bool has_children(const Value& v) noexcept {
  return (v.is_array() && !v.as_array().empty()) || (v.is_object() && !v.as_object().empty());
}

bool has_grandchildren(const Value& v) noexcept {
  if (v.is_array()) {
    for (const Value& e : v.as_array())
      if (has_children(e)) return true;
  } else if (v.is_object()) {
    for (const auto& e : v.as_object())
      if (has_children(e.second)) return true;
  }
  return false;
}

// Calls f(Value&) on every element or entry value of a container.
template <class F>
void for_each_child(Value& v, F&& f) {
  if (v.is_array()) {
    for (Value& e : v.as_array()) f(e);
  } else if (v.is_object()) {
    for (auto& e : v.as_object()) f(e.second);
  }
}

}  // namespace

void Value::release_container() noexcept {
  if (has_grandchildren(*this)) release_nested_containers();
  if (kind_ == Kind::Array)
    a_.~ValueArray();
  else
    o_.~ValueObject();
}

// Moves every container nested in this one onto a stack before its parent
// goes, so each dies holding no container: destruction never recurses.
void Value::release_nested_containers() noexcept {
  SmallStack<Value, 16> pending;
  auto detach = [&pending](Value& parent) {
    for_each_child(parent, [&pending](Value& c) {
      if (has_children(c)) pending.push_back(std::move(c));
    });
  };
  detach(*this);
  while (!pending.empty()) {
    Value node = pending.pop();
    detach(node);
  }
}

Value& Value::operator=(const Value& other) {
  if (this == &other) return *this;
  Value copy(other);
  *this = std::move(copy);
  return *this;
}

void Value::copy_from(const Value& other) {
  // Each destination container is sized first, so the addresses of its
  // slots stay put while the (source, destination) pairs wait their turn.
  struct Pair {
    const Value* src;
    Value* dst;
  };
  SmallStack<Pair, 16> pending;
  pending.push_back({&other, this});
  while (!pending.empty()) {
    Pair p = pending.pop();
    if (p.src->is_array()) {
      const ValueArray& src = p.src->a_;
      ::new (&p.dst->a_) ValueArray(src.size());
      p.dst->kind_ = Kind::Array;
      ValueArray& dst = p.dst->a_;
      for (size_t i = 0; i < src.size(); ++i) {
        if (src[i].is_container())
          pending.push_back({&src[i], &dst[i]});
        else
          dst[i].take_scalar_copy(src[i]);
      }
    } else {
      const ValueObject& src = p.src->o_;
      ::new (&p.dst->o_) ValueObject();
      p.dst->kind_ = Kind::Object;
      ValueObject& dst = p.dst->o_;
      dst.reserve(src.size());
      for (const auto& [key, value] : src) {
        dst.push_back_sorted(key, Value());
        Value& slot = (dst.end() - 1)->second;
        if (value.is_container())
          pending.push_back({&value, &slot});
        else
          slot.take_scalar_copy(value);
      }
    }
  }
}

namespace {

// Whether two values are equal apart from what lies inside their
// containers: same kind, same scalar, same length and keys.
bool shallow_equal(const Value& a, const Value& b) noexcept {
  if (a.kind() != b.kind()) return false;
  switch (a.kind()) {
    case Value::Kind::Int: return a.as_int() == b.as_int();
    case Value::Kind::Float: return a.as_float() == b.as_float();  // IEEE: NaN != NaN, 0.0 == -0.0
    case Value::Kind::Bool: return a.as_bool() == b.as_bool();
    case Value::Kind::String: return a.as_str() == b.as_str();
    case Value::Kind::Array: return a.as_array().size() == b.as_array().size();
    case Value::Kind::Object: {
      const auto& x = a.as_object().entries();
      const auto& y = b.as_object().entries();
      if (x.size() != y.size()) return false;
      for (size_t i = 0; i < x.size(); ++i)
        if (x[i].first != y[i].first) return false;
      return true;
    }
    case Value::Kind::Null: return true;
  }
  return false;
}

}  // namespace

bool Value::equal_text_or_containers(const Value& a, const Value& b) noexcept {
  if (!shallow_equal(a, b)) return false;
  if (!a.is_container()) return true;
  struct Pair {
    const Value* a;
    const Value* b;
  };
  SmallStack<Pair, 16> pending;
  pending.push_back({&a, &b});
  while (!pending.empty()) {
    Pair p = pending.pop();
    // Same kind and size: the children pair up by position.
    if (p.a->is_array()) {
      const ValueArray& x = p.a->as_array();
      const ValueArray& y = p.b->as_array();
      for (size_t i = 0; i < x.size(); ++i) {
        if (!shallow_equal(x[i], y[i])) return false;
        if (x[i].is_container()) pending.push_back({&x[i], &y[i]});
      }
    } else {
      const auto& x = p.a->as_object().entries();
      const auto& y = p.b->as_object().entries();
      for (size_t i = 0; i < x.size(); ++i) {
        if (!shallow_equal(x[i].second, y[i].second)) return false;
        if (x[i].second.is_container()) pending.push_back({&x[i].second, &y[i].second});
      }
    }
  }
  return true;
}

bool is_truthy(const Value& v) noexcept {
  switch (v.kind()) {
    case Value::Kind::Int: return v.as_int() != 0;
    case Value::Kind::Float: return v.as_float() != 0.0;  // NaN compares unequal, so it is truthy
    case Value::Kind::Bool: return v.as_bool();
    case Value::Kind::String: return !v.as_str().empty();
    case Value::Kind::Array: return !v.as_array().empty();
    case Value::Kind::Object: return !v.as_object().empty();
    case Value::Kind::Null: return false;
  }
  return false;
}

// ---------------------------------------------------------------------------
// Detaching from borrowed text, in place: owned text and container storage
// stay where they are; only borrowed text is copied.

Value Value::into_owned() && {
  SmallStack<Value*, 16> pending;
  pending.push_back(this);
  while (!pending.empty()) {
    Value* v = pending.pop();
    if (v->is_string()) {
      v->as_cow_str().make_owned();
    } else {
      for_each_child(*v, [&pending](Value& c) {
        if (c.is_string() || c.is_container()) pending.push_back(&c);
      });
    }
  }
  return std::move(*this);
}

// ---------------------------------------------------------------------------
// Float text. std::to_chars in its shortest scientific form gives the
// shortest round-trip digits and the exponent; both layouts are built here
// from those, since the fixed form of to_chars writes the exact binary
// value's digits (1e23 would come out as 99999999999999991611392).

namespace {

struct Digits {
  char d[24];  // significant digits, no point
  int n = 0;   // number of digits
  int exp = 0;  // decimal exponent of the first digit
};

// m: finite and not negative.
Digits shortest_digits(double m) {
  char buf[48];
  auto r = std::to_chars(buf, buf + sizeof buf, m, std::chars_format::scientific);
  Digits out;
  const char* p = buf;
  const char* end = r.ptr;
  while (p < end && *p != 'e') {
    if (*p != '.') out.d[out.n++] = *p;
    ++p;
  }
  if (p < end) {  // 'e', a sign, then the exponent digits
    ++p;
    bool neg = false;
    if (p < end && (*p == '+' || *p == '-')) neg = *p++ == '-';
    int e = 0;
    while (p < end) e = e * 10 + (*p++ - '0');
    out.exp = neg ? -e : e;
  }
  return out;
}

void append_zeros(std::string& out, int count) {
  if (count > 0) out.append(static_cast<size_t>(count), '0');
}

// Plain decimal layout; an integral value gets ".0" when `point_zero`.
void write_plain(const Digits& g, bool point_zero, std::string& out) {
  if (g.exp >= 0) {
    int int_len = g.exp + 1;
    if (g.n <= int_len) {
      out.append(g.d, static_cast<size_t>(g.n));
      append_zeros(out, int_len - g.n);
      if (point_zero) out += ".0";
    } else {
      out.append(g.d, static_cast<size_t>(int_len));
      out += '.';
      out.append(g.d + int_len, static_cast<size_t>(g.n - int_len));
    }
  } else {
    out += "0.";
    append_zeros(out, -g.exp - 1);
    out.append(g.d, static_cast<size_t>(g.n));
  }
}

// Returns false when f is not finite (and has written its word).
bool write_special_and_sign(double f, std::string& out) {
  if (std::isnan(f)) {
    out += "NaN";
    return false;
  }
  if (std::signbit(f)) out += '-';
  if (std::isinf(f)) {
    out += "inf";
    return false;
  }
  return true;
}

}  // namespace

void float_debug_fmt(double f, std::string& out) {
  if (!write_special_and_sign(f, out)) return;
  double m = std::fabs(f);
  Digits g = shortest_digits(m);
  if (m >= 1e16 || (m != 0.0 && m < 1e-4)) {
    out += g.d[0];
    if (g.n > 1) {
      out += '.';
      out.append(g.d + 1, static_cast<size_t>(g.n - 1));
    }
    out += 'e';
    char buf[8];
    auto r = std::to_chars(buf, buf + sizeof buf, g.exp);
    out.append(buf, r.ptr);
  } else {
    write_plain(g, true, out);
  }
}

void float_display_fmt(double f, std::string& out) {
  if (!write_special_and_sign(f, out)) return;
  write_plain(shortest_digits(std::fabs(f)), false, out);
}

// ---------------------------------------------------------------------------
// Debug text.

static void append_hex_escape(char32_t c, std::string& out) {
  char buf[16];
  auto r = std::to_chars(buf, buf + sizeof buf, static_cast<uint32_t>(c), 16);
  out += "\\u{";
  out.append(buf, r.ptr);
  out += '}';
}

// Characters the debug text writes as \u{...}: grapheme extenders (they
// would attach to the preceding quote or escape) and the non-printable.
static bool needs_hex_escape(char32_t c) { return unicode::kHexEscaped.contains(c); }

void quoted_debug_fmt(std::string_view s, std::string& out) {
  out += '"';
  size_t i = 0;
  while (i < s.size()) {
    unsigned char b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) {
      switch (b) {
        case 0: out += "\\0"; break;
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
        case '\n': out += "\\n"; break;
        case '\\': out += "\\\\"; break;
        case '"': out += "\\\""; break;
        default:
          if (b < 0x20 || b == 0x7f)
            append_hex_escape(b, out);
          else
            out += static_cast<char>(b);
      }
      ++i;
      continue;
    }
    char32_t c;
    size_t len = utf8_decode(s.substr(i), &c);
    if (needs_hex_escape(c))
      append_hex_escape(c, out);
    else if (c == 0xFFFD)
      out += "\xEF\xBF\xBD";  // also stands for invalid UTF-8, which is never copied through
    else
      out.append(s.data() + i, len);
    i += len;
  }
  out += '"';
}

static void append_int(int64_t i, std::string& out) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, i);
  out.append(buf, r.ptr);
}

// ---------------------------------------------------------------------------
// Debug and display text share one walk with an explicit stack of open
// containers, so neither uses a native frame per nesting level.

namespace {

enum class TextForm { Debug, Display };

struct OpenContainer {
  const Value* v;
  size_t next;
};

void write_debug_scalar(const Value& v, std::string& out) {
  switch (v.kind()) {
    case Value::Kind::Int:
      out += "Int(";
      append_int(v.as_int(), out);
      break;
    case Value::Kind::Float:
      out += "Float(";
      float_debug_fmt(v.as_float(), out);
      break;
    case Value::Kind::Bool: out += v.as_bool() ? "Bool(true" : "Bool(false"; break;
    case Value::Kind::String:
      out += "String(";
      quoted_debug_fmt(v.as_str(), out);
      break;
    default: out += "Null"; return;
  }
  out += ')';
}

// `nested`: an array element or object value, whose string is quoted and
// escaped; a string at the top is written raw.
void write_display_scalar(const Value& v, bool nested, std::string& out) {
  switch (v.kind()) {
    case Value::Kind::Int: append_int(v.as_int(), out); break;
    case Value::Kind::Float: float_display_fmt(v.as_float(), out); break;
    case Value::Kind::Bool: out += v.as_bool() ? "true" : "false"; break;
    case Value::Kind::String:
      if (nested) {
        out += '"';
        out += escape_str_for_json(v.as_str()).view();
        out += '"';
      } else {
        out += v.as_str();
      }
      break;
    default: out += "null"; break;
  }
}

size_t container_size(const Value& v) { return v.is_array() ? v.as_array().size() : v.as_object().size(); }

void write_text(const Value& root, TextForm form, std::string& out) {
  const bool debug = form == TextForm::Debug;
  std::vector<OpenContainer> open;
  const Value* cur = &root;
  while (cur) {
    if (cur->is_array()) {
      out += debug ? "Array([" : "[";
      open.push_back({cur, 0});
    } else if (cur->is_object()) {
      out += debug ? "Object({" : "{";
      open.push_back({cur, 0});
    } else {
      if (debug)
        write_debug_scalar(*cur, out);
      else
        write_display_scalar(*cur, !open.empty(), out);
    }
    // The next value to write: the next child of the innermost open
    // container, closing every container that is done.
    cur = nullptr;
    while (!open.empty()) {
      OpenContainer& top = open.back();
      if (top.next < container_size(*top.v)) {
        if (top.next > 0) out += ", ";
        if (top.v->is_array()) {
          cur = &top.v->as_array()[top.next];
        } else {
          const auto& entry = top.v->as_object().entries()[top.next];
          if (debug) {
            quoted_debug_fmt(entry.first, out);
            out += ": ";
          } else {
            out += '"';
            out += entry.first;  // keys are written unescaped
            out += "\": ";
          }
          cur = &entry.second;
        }
        ++top.next;
        break;
      }
      if (top.v->is_array())
        out += debug ? "])" : "]";
      else
        out += debug ? "})" : "}";
      open.pop_back();
    }
  }
}

}  // namespace

void Value::debug_fmt(std::string& out) const { write_text(*this, TextForm::Debug, out); }

std::string Value::debug_string() const {
  std::string out;
  debug_fmt(out);
  return out;
}

void Value::display_fmt(std::string& out) const { write_text(*this, TextForm::Display, out); }

std::string Value::display_string() const {
  std::string out;
  display_fmt(out);
  return out;
}

}  // namespace vintrel
