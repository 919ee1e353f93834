// Python data read where it lies, as a bound value of the engine.
//
// Copying every binding before an evaluation costs more than the
// evaluation itself. Data made only of exact dicts (with exact str keys),
// lists, tuples, str, int, float, bool and None converts without running
// any Python code, so once checked it may instead be read in place: the
// engine's own path walk, environment and conversion read the Python
// objects through BoundOps<PyObject>, and so give the results and errors
// that the copy would give. Anything else (subclasses, mappings, numpy
// values, a lone surrogate, an int too large even for a float, nesting too
// deep) takes the copy, which raises what it must. Free-threaded builds
// always copy: another thread may change the data while it is read.
#pragma once

#include "py_handle.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "py_types/dict_table.h"
#include "py_types/exact_types.h"
#include "vintrel/bound.h"
#include "vintrel/env.h"

#ifndef Py_GIL_DISABLED
#define VINTREL_READ_IN_PLACE 1
#endif

namespace vintrel::py {

// True when `obj` may be read in place. Runs no Python code; on false no
// error is set.
bool readable_in_place(PyObject* obj);
// The same for every value of a bindings dict (a subclass reads its own
// storage); every key must be an exact str.
bool bindings_readable_in_place(PyObject* dict);

// Text of a str that the check above accepted, which CPython keeps cached.
std::string_view checked_text(PyObject* s);
// The value under `name` in a dict of exact str keys: borrowed, or null.
// Uses the name's compiled key when it has one; exact str keys compare
// without Python code, so nothing can fail.
PyObject* dict_lookup_by_text(PyObject* dict, const VarName& name);
inline PyObject* dict_lookup(PyObject* dict, const VarName& name) {
  if (const void* key = name.host_key.get()) return dict_get_str(dict, static_cast<PyObject*>(const_cast<void*>(key)));
  return dict_lookup_by_text(dict, name);
}

}  // namespace vintrel::py

namespace vintrel {

// Checked Python data seen as the engine's bound values: a reference to a
// PyObject is the object itself; an array is an exact list or tuple, an
// object an exact dict (or the bindings dict), both the same PyObject.
template <>
struct BoundOps<PyObject> {
  using array_type = PyObject;
  using object_type = PyObject;
  struct Cursor {
    py::DictEntries entries;
    PyObject* key;
    PyObject* value;
    bool done;
  };

  static bool is_null(const PyObject& v) { return py::is_none(&v); }
  static std::optional<bool> as_bool(const PyObject& v) {
    if (py::is_exact_bool(&v)) return &v == Py_True;
    return std::nullopt;
  }
  static std::optional<uint64_t> as_u64(const PyObject& v) {
    if (!py::is_exact_int(&v)) return std::nullopt;
    py::ExactInt n = py::read_exact_int(obj(v));
    if (n.form == py::ExactInt::Unsigned) return n.u;
    return std::nullopt;
  }
  static std::optional<int64_t> as_i64(const PyObject& v) {
    if (!py::is_exact_int(&v)) return std::nullopt;
    py::ExactInt n = py::read_exact_int(obj(v));
    if (n.form == py::ExactInt::Signed) return n.i;
    return std::nullopt;
  }
  // A float, or an int beyond both 64-bit ranges, held as the nearest float.
  static std::optional<double> as_f64(const PyObject& v) {
    if (py::is_exact_float(&v)) return PyFloat_AS_DOUBLE(obj(v));
    if (!py::is_exact_int(&v)) return std::nullopt;
    py::ExactInt n = py::read_exact_int(obj(v));
    if (n.form == py::ExactInt::Double) return n.d;
    return std::nullopt;
  }
  static bool is_string(const PyObject& v) { return py::is_exact_str(&v); }
  static std::optional<std::string_view> as_str(const PyObject& v) {
    if (!is_string(v)) return std::nullopt;
    return py::checked_text(obj(v));
  }
  static bool is_array(const PyObject& v) { return py::is_exact_list(&v) || py::is_exact_tuple(&v); }
  static const PyObject* as_array(const PyObject& v) { return is_array(v) ? &v : nullptr; }
  static size_t array_size(const PyObject& a) { return static_cast<size_t>(PySequence_Fast_GET_SIZE(obj(a))); }
  static const PyObject& element(const PyObject& a, size_t i) { return *PySequence_Fast_ITEMS(obj(a))[i]; }
  static bool is_object(const PyObject& v) { return py::is_exact_dict(&v); }
  static const PyObject* as_object(const PyObject& v) { return is_object(v) ? &v : nullptr; }
  static size_t object_size(const PyObject& o) { return static_cast<size_t>(PyDict_GET_SIZE(obj(o))); }
  static const PyObject* find(const PyObject& o, const VarName& name) { return py::dict_lookup(obj(o), name); }
  static Cursor first_entry(const PyObject& o) {
    Cursor c{py::DictEntries(obj(o)), nullptr, nullptr, false};
    next_entry(c);
    return c;
  }
  static bool at_end(const Cursor& c) { return c.done; }
  static void next_entry(Cursor& c) { c.done = !c.entries.next(c.key, c.value); }
  // The check took only dicts of exact str keys; a key is read as text only
  // if it is one.
  static std::string_view entry_key(const Cursor& c) {
    if (!py::is_exact_str(c.key)) panic("Checked dict key is not a str");
    return py::checked_text(c.key);
  }
  static const PyObject& entry_value(const Cursor& c) { return *c.value; }
  static void debug_fmt(const PyObject& v, std::string& out) { json_debug_fmt(v, out); }

 private:
  // The C API takes objects as mutable; reading them changes nothing.
  static PyObject* obj(const PyObject& v) { return const_cast<PyObject*>(&v); }
};

static_assert(BoundValue<PyObject>);

}  // namespace vintrel

namespace vintrel::py {

// An environment that reads the bindings dict in place; `dict` must have
// passed bindings_readable_in_place and outlive the environment.
using InPlaceEnv = Env<PyObject, BoundObject<PyObject>>;
inline InPlaceEnv in_place_env(PyObject* dict) {
  return InPlaceEnv{BoundObject<PyObject>{dict}, Cow<FunctionTable>::Borrowed(DEFAULT_VTABLE())};
}

}  // namespace vintrel::py
