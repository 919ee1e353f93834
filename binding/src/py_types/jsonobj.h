// The binding's JSON-like value: how a Python value is held once it has
// been copied into the system, and the owned bound-value type the engine
// runs on when the data cannot be read where it lies.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "vintrel/bound.h"
#include "vintrel/name_table.h"
#include "vintrel/value.h"

namespace vintrel::py {

// Owns all its data and refers to no Python object, so it may be used
// without the interpreter once built. Copying is deep and keeps the order
// of object entries.
class PyJsonValue {
 public:
  enum class Kind : uint8_t { Null, Bool, UInt, Int, Float, String, Array, Object };

  using array_type = std::vector<PyJsonValue>;
  // Insertion-ordered; past a handful of keys they are hashed with the
  // per-process random key, so keys that callers choose cannot be planned to
  // collide.
  using object_type = NameTable<PyJsonValue>;

  PyJsonValue() noexcept = default;  // Null
  static PyJsonValue Null() noexcept { return PyJsonValue(); }
  static PyJsonValue Bool(bool b) noexcept { return PyJsonValue(std::in_place_index<1>, b); }
  static PyJsonValue UInt(uint64_t u) noexcept { return PyJsonValue(std::in_place_index<2>, u); }
  static PyJsonValue Int(int64_t i) noexcept { return PyJsonValue(std::in_place_index<3>, i); }
  static PyJsonValue Float(double f) noexcept { return PyJsonValue(std::in_place_index<4>, f); }
  static PyJsonValue String(std::string s) noexcept { return PyJsonValue(std::in_place_index<5>, std::move(s)); }
  static PyJsonValue Array(array_type a) noexcept { return PyJsonValue(std::in_place_index<6>, std::move(a)); }
  static PyJsonValue Object(object_type o) { return PyJsonValue(std::in_place_index<7>, std::move(o)); }

  Kind kind() const noexcept { return static_cast<Kind>(v_.index()); }

  // The operations the engine needs of a bound value; each answers for its
  // own variant only (an Int never answers as_u64, no integer as_f64).
  bool is_null() const noexcept { return kind() == Kind::Null; }
  std::optional<bool> as_bool() const noexcept { return get<bool>(); }
  std::optional<uint64_t> as_u64() const noexcept { return get<uint64_t>(); }
  std::optional<int64_t> as_i64() const noexcept { return get<int64_t>(); }
  std::optional<double> as_f64() const noexcept { return get<double>(); }
  bool is_string() const noexcept { return kind() == Kind::String; }
  std::optional<std::string_view> as_str() const noexcept;
  std::optional<std::string> into_string() &&;
  bool is_array() const noexcept { return kind() == Kind::Array; }
  const array_type* as_array() const noexcept { return std::get_if<array_type>(&v_); }
  array_type* as_array_mut() noexcept { return std::get_if<array_type>(&v_); }
  std::optional<array_type> into_array() &&;
  bool is_object() const noexcept { return kind() == Kind::Object; }
  const object_type* as_object() const noexcept { return std::get_if<object_type>(&v_); }
  object_type* as_object_mut() noexcept { return std::get_if<object_type>(&v_); }
  std::optional<object_type> into_object() &&;

  // Null, Bool(true), UInt(7), Int(-3), Float(1e16), String("a"),
  // Array([UInt(1), Null]), Object({"k": Bool(false)}).
  void debug_fmt(std::string& out) const { json_debug_fmt(*this, out); }
  std::string debug_string() const;

  // From a Python object (borrowed) by the conversion rules of JSON-like
  // values; defined in from_python.cc. False with the Python error set on
  // failure; `out` is then unspecified. Runs attached to the interpreter.
  static bool extract(PyObject* obj, PyJsonValue& out);
  // A new Python object (the caller owns it), or null with the error set;
  // defined in to_python.cc.
  PyObject* into_pyobject() &&;
  // From an engine value; borrowed text is copied, owned text moved.
  static PyJsonValue from(Value v);

 private:
  template <size_t I, class A>
  PyJsonValue(std::in_place_index_t<I> i, A&& a) : v_(i, std::forward<A>(a)) {}
  template <class T>
  std::optional<T> get() const noexcept {
    if (const T* p = std::get_if<T>(&v_)) return *p;
    return std::nullopt;
  }
  std::variant<std::monostate, bool, uint64_t, int64_t, double, std::string, array_type, object_type> v_;
};

static_assert(OwnedBoundValue<PyJsonValue>);

}  // namespace vintrel::py
