// The binding's JSON-like value: how every Python value is held once it
// has entered the system, and the one bound-value type the engine runs on.
#pragma once

#include "py_handle.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

// gcc 12 at -O3 reports the default-constructed Value slots of the
// engine's bound-value conversion as maybe-uninitialized once it is inlined
// for this type: a known false positive around std::variant moves.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include "vintrel/env.h"
#include "vintrel/interpreter.h"
#include "vintrel/path.h"
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#include "vintrel/exp.h"
#include "vintrel/utils.h"
#include "vintrel/value.h"
#include "vintrel/var.h"

namespace vintrel::py {

// Deepest nesting of lists and dicts that a conversion from Python accepts;
// it also stops a container that holds itself.
inline constexpr unsigned kMaxJsonDepth = 1000;

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
  using Storage = std::variant<std::monostate, bool, uint64_t, int64_t, double, std::string, array_type, object_type>;

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
  void debug_fmt(std::string& out) const;
  std::string debug_string() const;

  // From a Python object (borrowed): the conversion rules of JSON-like
  // values. False with the Python error set on failure; `out` is then
  // unspecified. Runs attached to the interpreter.
  static bool extract(PyObject* obj, PyJsonValue& out);
  // A new Python object (the caller owns it), or null with the error set.
  PyObject* into_pyobject() &&;
  // From an engine value; borrowed text is copied, owned text moved.
  static PyJsonValue from(Value v);

  const Storage& storage() const noexcept { return v_; }

 private:
  template <size_t I, class A>
  PyJsonValue(std::in_place_index_t<I> i, A&& a) : v_(i, std::forward<A>(a)) {}
  template <class T>
  std::optional<T> get() const noexcept {
    if (const T* p = std::get_if<T>(&v_)) return *p;
    return std::nullopt;
  }
  Storage v_;
};

static_assert(BoundValue<PyJsonValue>);

// A new Python object from a borrowed value (nothing is consumed).
PyObject* json_to_pyobject(const PyJsonValue& v);
// A new Python object straight from an engine value: the same objects that
// PyJsonValue::from followed by into_pyobject gives, without the copy.
PyObject* value_to_pyobject(const Value& v);

// The bindings of Exp.eval and VarAccess.access_from_bindings: `dict` must
// be a dict (or subclass), read from its own storage; every key a str,
// every value converted. A TypeError is renamed after the argument.
// Converts straight into an environment builder's table: the map that
// bind_multiple would take first and empty again is never seen by anyone.
bool extract_bindings(PyObject* dict, NameMap<Cow<PyJsonValue>>& out);

// The environment of one call over the converted bindings of `dict`; the
// bound values are moved in, not copied again. Empty with the Python error
// set when a binding does not convert.
inline std::optional<Env<PyJsonValue>> env_from_bindings(PyObject* dict) {
  auto builder = EnvBuilder<PyJsonValue>::new_();
  if (!extract_bindings(dict, builder.bindings)) return std::nullopt;
  return std::move(builder).build();
}

// PyJsonValue::extract for a method argument: a TypeError is renamed.
bool extract_argument(PyObject* obj, const char* arg_name, PyJsonValue& out);

// ---- reading data where it is ----
//
// Copying every binding before an evaluation costs more than the
// evaluation itself. Data made only of exact dicts (with exact str keys),
// lists, tuples, str, int, float, bool and None converts without running
// any Python code and cannot fail once checked, so it may instead be read
// in place: the results, errors and their order are those of the copy.
// Anything else (subclasses, mappings, numpy values, a lone surrogate, an
// int too large even for a float, nesting too deep) takes the copy, which
// raises what it must. Free-threaded builds always copy: another thread
// may change the data while it is read.
#ifndef Py_GIL_DISABLED
#define VINTREL_READ_IN_PLACE 1
#endif

// True when `obj` may be read in place. Runs no Python code; on false no
// error is set.
bool readable_in_place(PyObject* obj);
// The same for every value of a bindings dict (a subclass reads its own
// storage); every key must be an exact str.
bool bindings_readable_in_place(PyObject* dict);

// The names of compiled paths as hashed Python str keys, made once per
// compiled object, so that a look-up in a dict needs no new str.
class PathKeys {
 public:
  PathKeys() = default;
  PathKeys(const PathKeys&) = delete;
  PathKeys& operator=(const PathKeys&) = delete;
  ~PathKeys();  // attached to the interpreter

  // Adds the names of one path, or of every variable of a tree. The
  // objects must not move afterwards. False with the error set; the
  // object is then only fit to be destroyed.
  bool add(const VarAccess& var);
  bool add_all(const Exp& exp);

  // The keys of `var`'s names in order, or null for a path never added.
  PyObject* const* find(const VarAccess& var) const noexcept;

 private:
  bool add_unsorted(const VarAccess& var);
  std::vector<std::pair<const VarAccess*, size_t>> vars_;  // sorted by address
  std::vector<PyObject*> keys_;
};

// The walks of a path over checked data, with the failures of the same
// walk over a copy. `keys` (may be null) are `names`' keys. The result is
// borrowed from the data.
Expected<PyObject*, VarAccessError> access_in_place(PyObject* value, const std::vector<VarName>& names,
                                                    PyObject* const* keys);
// The binding found last in one evaluation, so that a tree naming the same
// binding again and again looks it up once (the data cannot change while
// it is read). `bound` is null for a name not bound.
struct BindingMemo {
  const std::string* name = nullptr;
  PyObject* bound = nullptr;
};
Expected<PyObject*, VarAccessError> access_bindings_in_place(PyObject* dict, const VarAccess& var,
                                                             PyObject* const* keys, BindingMemo* memo = nullptr);

// Converts checked data into `out` (null on entry); the strings borrow the
// data's text. Objects keep their entries sorted by key, as engine values do.
void value_in_place(PyObject* obj, Value& out);

}  // namespace vintrel::py
