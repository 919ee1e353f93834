// The engine's value: JSON-like data whose text may be borrowed.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <new>
#include <vector>

#include "vintrel/cow.h"
#include "vintrel/result.h"
#include "vintrel/sorted_map.h"

namespace vintrel {

// The kind of a value as messages name it. Its order differs from Value's.
enum class Type : uint8_t { Int, String, Bool, Float, Array, Object, Null };

// "int", "string", "bool", "float", "array", "object", "null".
std::string_view type_name(Type t) noexcept;

class Value;
using ValueArray = std::vector<Value>;
using ValueObject = SortedMap<Value>;

// A value owns the containers inside it; its text may still be borrowed.
// Copy, equality, into_owned and destruction walk nested containers with an
// explicit stack, so no depth of data can exhaust the native stack.
//
// A tagged union written out by hand rather than a std::variant: values are
// made, moved and dropped on every step of an evaluation, and a plain switch
// on the tag costs less than the variant's visitation there.
class Value {
 public:
  // Declared order of the variants.
  enum class Kind : uint8_t { Int, Float, Bool, String, Array, Object, Null };

  Value() noexcept : kind_(Kind::Null) {}
  static Value Int(int64_t i) noexcept {
    Value v(Kind::Int);
    v.i_ = i;
    return v;
  }
  static Value Float(double f) noexcept {
    Value v(Kind::Float);
    v.f_ = f;
    return v;
  }
  static Value Bool(bool b) noexcept {
    Value v(Kind::Bool);
    v.b_ = b;
    return v;
  }
  static Value String(CowStr s) noexcept {
    Value v(Kind::String);
    ::new (&v.s_) CowStr(std::move(s));
    return v;
  }
  static Value Array(ValueArray a) noexcept {
    Value v(Kind::Array);
    ::new (&v.a_) ValueArray(std::move(a));
    return v;
  }
  static Value Object(ValueObject o) noexcept {
    Value v(Kind::Object);
    ::new (&v.o_) ValueObject(std::move(o));
    return v;
  }
  static Value Null() noexcept { return Value(); }
  // An unsigned integer as the engine holds it: Int up to the largest
  // signed value, above that the nearest Float (ties to even).
  static Value from_u64(uint64_t u) noexcept {
    if (u <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return Int(static_cast<int64_t>(u));
    return Float(static_cast<double>(u));
  }

  Value(const Value& other) : kind_(Kind::Null) {  // deep; borrowed text stays borrowed
    if (other.is_container())
      copy_from(other);
    else
      take_scalar_copy(other);
  }
  Value(Value&& other) noexcept : kind_(Kind::Null) { take(std::move(other)); }
  Value& operator=(const Value& other);
  // The old value is released after the new one is in place, so `other`
  // may be a value inside the old one.
  Value& operator=(Value&& other) noexcept {
    if (kind_ == Kind::Null) {  // the usual case: a slot being filled
      take(std::move(other));
      return *this;
    }
    if (this == &other) return *this;
    Value old;
    if (is_container()) old.take(std::move(*this));
    reset();
    take(std::move(other));
    return *this;
  }
  ~Value() { reset(); }

  Kind kind() const noexcept { return kind_; }
  bool is_int() const noexcept { return kind_ == Kind::Int; }
  bool is_float() const noexcept { return kind_ == Kind::Float; }
  bool is_bool() const noexcept { return kind_ == Kind::Bool; }
  bool is_string() const noexcept { return kind_ == Kind::String; }
  bool is_array() const noexcept { return kind_ == Kind::Array; }
  bool is_object() const noexcept { return kind_ == Kind::Object; }
  bool is_null() const noexcept { return kind_ == Kind::Null; }
  bool is_container() const noexcept { return kind_ == Kind::Array || kind_ == Kind::Object; }

  // Accessors; each requires the matching kind.
  int64_t as_int() const noexcept { return i_; }
  double as_float() const noexcept { return f_; }
  bool as_bool() const noexcept { return b_; }
  const CowStr& as_cow_str() const noexcept { return s_; }
  CowStr& as_cow_str() noexcept { return s_; }
  std::string_view as_str() const noexcept { return s_.view(); }
  const ValueArray& as_array() const noexcept { return a_; }
  ValueArray& as_array() noexcept { return a_; }
  const ValueObject& as_object() const noexcept { return o_; }
  ValueObject& as_object() noexcept { return o_; }

  Type get_type() const noexcept;

  // Conversions from a bound value, defined in vintrel/bound.h. The owning
  // form moves text out of `v`; the borrowing form's strings point into
  // `v`. The error is the text "Unsupported value type".
  template <class V>
  static Expected<Value, std::string> from_json_object(V&& v);
  template <class V>
  static Expected<Value, std::string> from_json_object_ref(const V& v);

  // The same value with every string owned; owned text is moved, not copied.
  Value into_owned() &&;

  // Debug text, e.g. Int(1), String("a"), Array([Null]).
  void debug_fmt(std::string& out) const;
  std::string debug_string() const;

  // Display text: what the built-ins string, join and format produce.
  void display_fmt(std::string& out) const;
  std::string display_string() const;

  // Structural equality; Int never equals Float, NaN equals nothing.
  friend bool operator==(const Value& a, const Value& b) noexcept;

 private:
  explicit Value(Kind k) noexcept : kind_(k) {}

  // Leaves the value null. Scalars need nothing released, and are the
  // common case by far: the rest is out of line.
  void reset() noexcept {
    if (kind_ == Kind::String)
      s_.~CowStr();
    else if (is_container())
      release_container();
    kind_ = Kind::Null;
  }
  // A container first empties the containers nested in it, deepest last,
  // so that each is released with none left inside.
  void release_container() noexcept;
  void release_nested_containers() noexcept;
  // Moves `other`'s payload into this null value; `other` keeps its kind
  // with a moved-from payload.
  void take(Value&& other) noexcept {
    switch (other.kind_) {
      case Kind::Int: i_ = other.i_; break;
      case Kind::Float: f_ = other.f_; break;
      case Kind::Bool: b_ = other.b_; break;
      case Kind::String: ::new (&s_) CowStr(std::move(other.s_)); break;
      case Kind::Array: ::new (&a_) ValueArray(std::move(other.a_)); break;
      case Kind::Object: ::new (&o_) ValueObject(std::move(other.o_)); break;
      case Kind::Null: break;
    }
    kind_ = other.kind_;
  }
  // Copies a scalar or string into this null value.
  void take_scalar_copy(const Value& other) {
    switch (other.kind_) {
      case Kind::Int: i_ = other.i_; break;
      case Kind::Float: f_ = other.f_; break;
      case Kind::Bool: b_ = other.b_; break;
      case Kind::String: ::new (&s_) CowStr(other.s_); break;
      default: break;
    }
    kind_ = other.kind_;
  }
  // Makes this null value a copy of the container `other`, children included.
  void copy_from(const Value& other);

  Kind kind_;
  union {
    int64_t i_;
    double f_;
    bool b_;
    CowStr s_;
    ValueArray a_;
    ValueObject o_;
  };
};

bool is_truthy(const Value& v) noexcept;

// Float text forms shared by values and the binding's own value type.
void float_debug_fmt(double f, std::string& out);    // 1.0, 1e16, NaN, -inf
void float_display_fmt(double f, std::string& out);  // 1, 0.0000001, NaN, -0
// Quoted text of the debug form: "a\"b", "e\u{301}".
void quoted_debug_fmt(std::string_view s, std::string& out);

}  // namespace vintrel
