// The engine's value: JSON-like data whose text may be borrowed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
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

class Value {
 public:
  // Declared order of the variants; equals the index of `v`.
  enum class Kind : uint8_t { Int, Float, Bool, String, Array, Object, Null };
  using Storage = std::variant<int64_t, double, bool, CowStr, ValueArray, ValueObject, std::monostate>;

  Value() noexcept : v(std::monostate{}) {}  // Null
  static Value Int(int64_t i) noexcept { return Value(std::in_place_index<0>, i); }
  static Value Float(double f) noexcept { return Value(std::in_place_index<1>, f); }
  static Value Bool(bool b) noexcept { return Value(std::in_place_index<2>, b); }
  static Value String(CowStr s) noexcept { return Value(std::in_place_index<3>, std::move(s)); }
  static Value Array(ValueArray a) noexcept { return Value(std::in_place_index<4>, std::move(a)); }
  static Value Object(ValueObject o) noexcept { return Value(std::in_place_index<5>, std::move(o)); }
  static Value Null() noexcept { return Value(); }

  Kind kind() const noexcept { return static_cast<Kind>(v.index()); }
  bool is_int() const noexcept { return kind() == Kind::Int; }
  bool is_float() const noexcept { return kind() == Kind::Float; }
  bool is_bool() const noexcept { return kind() == Kind::Bool; }
  bool is_string() const noexcept { return kind() == Kind::String; }
  bool is_array() const noexcept { return kind() == Kind::Array; }
  bool is_object() const noexcept { return kind() == Kind::Object; }
  bool is_null() const noexcept { return kind() == Kind::Null; }

  // Accessors; each requires the matching kind.
  int64_t as_int() const noexcept { return *std::get_if<0>(&v); }
  double as_float() const noexcept { return *std::get_if<1>(&v); }
  bool as_bool() const noexcept { return *std::get_if<2>(&v); }
  const CowStr& as_cow_str() const noexcept { return *std::get_if<3>(&v); }
  std::string_view as_str() const noexcept { return std::get_if<3>(&v)->view(); }
  const ValueArray& as_array() const noexcept { return *std::get_if<4>(&v); }
  ValueArray& as_array() noexcept { return *std::get_if<4>(&v); }
  const ValueObject& as_object() const noexcept { return *std::get_if<5>(&v); }
  ValueObject& as_object() noexcept { return *std::get_if<5>(&v); }

  Type get_type() const noexcept;

  // Conversions from a bound value (see vintrel/env.h, which defines them).
  // The owning form moves text out of `v`; the borrowing form's strings
  // point into `v`. The error is the text "Unsupported value type".
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

  Storage v;

 private:
  template <size_t I, class A>
  Value(std::in_place_index_t<I> i, A&& a) noexcept : v(i, std::forward<A>(a)) {}
};

bool is_truthy(const Value& v) noexcept;

// Float text forms shared by values and the binding's own value type.
void float_debug_fmt(double f, std::string& out);    // 1.0, 1e16, NaN, -inf
void float_display_fmt(double f, std::string& out);  // 1, 0.0000001, NaN, -0
// Quoted text of the debug form: "a\"b", "e\u{301}".
void quoted_debug_fmt(std::string_view s, std::string& out);

}  // namespace vintrel
