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
// deep) takes the copy, which raises what it must. On a free-threaded
// build another thread may change the data between the check and the
// read, so the reader checks the exact type of each object again where it
// reads it (hold.h says how it holds what it reads); data that is no
// longer what the check accepted sends the call to the copy after all.
#pragma once

#include "py_handle.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "py_types/dict_table.h"
#include "py_types/exact_types.h"
#include "py_types/from_python.h"
#include "py_types/hold.h"
#include "py_types/keys.h"
#include "vintrel/bound.h"
#include "vintrel/env.h"

namespace vintrel::py {

// True when `obj` may be read in place. Runs no Python code; on false no
// error is set.
bool readable_in_place(PyObject* obj);
// The same for every value of a bindings dict (a subclass reads its own
// storage); every key must be an exact str.
bool bindings_readable_in_place(PyObject* dict);

// Whether an object that a read found is still what the check accepted:
// false (and the read is marked changed) for one written since, which only
// another thread can do.
inline bool still_as_checked(PyObject* found) {
#ifdef Py_GIL_DISABLED
  if (readable_in_place(found)) return true;
  mark_changed();
  return false;
#else
  (void)found;
  return true;
#endif
}

// Text of a str that the check above accepted, which CPython keeps cached.
// Empty for one written since that has none (free-threaded builds only).
std::string_view checked_text(PyObject* s);

// The value under the str `key` (with its hash) in a dict whose keys the
// check found to be exact strs, or null; kept as hold.h says. With the GIL
// exact str keys compare without Python code, so nothing can fail.
inline PyObject* dict_find(PyObject* dict, PyObject* key) {
#ifdef Py_GIL_DISABLED
  PyObject* value;
  if (PyDict_GetItemRef(dict, key, &value) < 0) {
    // Only a key of another type, written since the check, can raise.
    PyErr_Clear();
    mark_changed();
  }
  return keep_new(value);
#else
  return dict_get_str(dict, key);
#endif
}
// The value under `name`: by its compiled key when it has one.
PyObject* dict_lookup_by_text(PyObject* dict, const VarName& name);
inline PyObject* dict_lookup(PyObject* dict, const VarName& name) {
  if (const void* key = name.host_key.get()) return dict_find(dict, static_cast<PyObject*>(const_cast<void*>(key)));
  return dict_lookup_by_text(dict, name);
}

// The elements of an exact list as the reader sees them: the list itself,
// or, where another thread may change it, a kept tuple of its elements as
// they stood at one moment.
inline PyObject* list_elements(PyObject* list) {
#ifdef Py_GIL_DISABLED
  PyObject* snapshot = keep_new(PyList_AsTuple(list));
  if (!snapshot) {
    PyErr_Clear();
    throw std::bad_alloc();
  }
  return snapshot;
#else
  return list;
#endif
}

// Element `i` of an exact list as it stood at one moment (kept as hold.h
// says), or null past its end; `size` is the list's size at that moment.
inline PyObject* list_element(PyObject* list, size_t i, size_t& size) {
#ifdef Py_GIL_DISABLED
  // One element needs no hold of the list (whose two atomic operations
  // cost more than the rest of the step): CPython reads it without one and
  // gives a reference of its own. Past the end, where the size is wanted
  // too, the list is held below so that the two agree.
  if (i < static_cast<size_t>(PY_SSIZE_T_MAX)) {
    if (PyObject* item = PyList_GetItemRef(list, static_cast<Py_ssize_t>(i))) {
      size = static_cast<size_t>(PyList_GET_SIZE(list));
      if (size <= i) size = i + 1;  // shrunk since: the size it had then
      return keep_new(item);
    }
    PyErr_Clear();
  }
#endif
  Hold hold(list);
  size = static_cast<size_t>(PyList_GET_SIZE(list));
  return i < size ? keep(PyList_GET_ITEM(list, static_cast<Py_ssize_t>(i))) : nullptr;
}

// The entries of a dict, in order, as the reader lists them: read where
// they lie, or, where another thread may change the dict, kept as they
// stood at one moment (taken inside its critical section).
#ifdef Py_GIL_DISABLED
class ObjectEntries {
 public:
  ObjectEntries() = default;
  explicit ObjectEntries(PyObject* dict) : scope_(&ReadScope::current()) {
    Hold hold(dict);
    at_ = scope_->size();
    for_each_dict_entry(dict, [](PyObject* k, PyObject* v) {
      keep(k);
      keep(v);
      return true;
    });
    end_ = scope_->size();
  }
  bool next(PyObject*& key, PyObject*& value) {
    if (at_ == end_) return false;
    key = scope_->at(at_);
    value = scope_->at(at_ + 1);
    at_ += 2;
    return true;
  }

 private:
  ReadScope* scope_ = nullptr;
  size_t at_ = 0, end_ = 0;
};
#else
using ObjectEntries = DictEntries;
#endif

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
    py::ObjectEntries entries;
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
    if (n.form == py::ExactInt::TooLarge) py::mark_changed();  // the last number test: the check refuses it
    return std::nullopt;
  }
  static bool is_string(const PyObject& v) { return py::is_exact_str(&v); }
  static std::optional<std::string_view> as_str(const PyObject& v) {
    if (!is_string(v)) return std::nullopt;
    return py::checked_text(obj(v));
  }
  static bool is_array(const PyObject& v) { return py::is_exact_list(&v) || py::is_exact_tuple(&v); }
  // A list or a tuple, whose elements stay put for the rest of the read.
  static const PyObject* as_array(const PyObject& v) {
    if (py::is_exact_list(&v)) return py::list_elements(obj(v));
    return py::is_exact_tuple(&v) ? &v : nullptr;
  }
  static size_t array_size(const PyObject& a) { return static_cast<size_t>(PySequence_Fast_GET_SIZE(obj(a))); }
  static const PyObject& element(const PyObject& a, size_t i) { return *PySequence_Fast_ITEMS(obj(a))[i]; }
  // One element, without the copy of a whole list.
  static const PyObject* element_at(const PyObject& v, size_t i, size_t& size) {
    if (py::is_exact_tuple(&v)) {
      size = static_cast<size_t>(PyTuple_GET_SIZE(obj(v)));
      return i < size ? PyTuple_GET_ITEM(obj(v), static_cast<Py_ssize_t>(i)) : nullptr;
    }
    return py::list_element(obj(v), i, size);
  }
  // The last kind test of a conversion and of a path step: where it fails,
  // an object of a type the check refuses was written since.
  static bool is_object(const PyObject& v) {
    if (py::is_exact_dict(&v)) return true;
    note_if_refused(v);
    return false;
  }
  static const PyObject* as_object(const PyObject& v) { return is_object(v) ? &v : nullptr; }
  static size_t object_size(const PyObject& o) { return static_cast<size_t>(PyDict_GET_SIZE(obj(o))); }
  static const PyObject* find(const PyObject& o, const VarName& name) { return py::dict_lookup(obj(o), name); }
  static Cursor first_entry(const PyObject& o) {
    Cursor c{py::ObjectEntries(obj(o)), nullptr, nullptr, false};
    next_entry(c);
    return c;
  }
  static bool at_end(const Cursor& c) { return c.done; }
  static void next_entry(Cursor& c) { c.done = !c.entries.next(c.key, c.value); }
  // The check took only dicts of exact str keys; a key is read as text only
  // if it is one.
  static std::string_view entry_key(const Cursor& c) {
    if (py::is_exact_str(c.key)) return py::checked_text(c.key);
    py::not_as_checked("Checked dict key is not a str");
    return {};
  }
  static const PyObject& entry_value(const Cursor& c) { return *c.value; }
  static void debug_fmt(const PyObject& v, std::string& out) { json_debug_fmt(v, out); }
  // Checked data nests less deeply than this; only data written since the
  // check, a container made to hold itself say, nests deeper.
  static bool too_deep(size_t depth) {
    if (depth < py::kMaxJsonDepth) return false;
    py::mark_changed();
    return true;
  }

 private:
  // The C API takes objects as mutable; reading them changes nothing.
  static PyObject* obj(const PyObject& v) { return const_cast<PyObject*>(&v); }
  static void note_if_refused(const PyObject& v) {
    if (py::exact_type(&v) == py::ExactType::Other) py::mark_changed();
  }
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

namespace vintrel::py {

// What one call reads: the bindings dict of Exp.eval and
// VarAccess.access_from_bindings, or the value that VarAccess.access reads
// inside. Each is seen in place (an environment over the dict, the object
// itself) or as its copy.
struct BindingsArg {
  PyObject* dict;
  bool checked() const { return PyDict_Check(dict) && bindings_readable_in_place(dict); }
  InPlaceEnv in_place() const { return in_place_env(dict); }
  std::optional<Env<PyJsonValue>> copied() const { return env_from_bindings(dict); }
};
struct ValueArg {
  PyObject* obj;
  bool checked() const { return readable_in_place(obj); }
  const PyObject& in_place() const { return *obj; }
  std::optional<PyJsonValue> copied() const {
    PyJsonValue value;
    if (!extract_argument(obj, "value", value)) return std::nullopt;
    return value;
  }
};

// The one way in of every read: `read(data)` over the argument in place
// when it passes the check, else over its copy (the compiled names of
// `compiled` get their keys first, either way). A read in place that met data changed
// since the check (which only another thread can do) is thrown away and
// the copy decides, raising what it must. Returns what `read` returns: a
// new reference, or null with the error set.
template <class Arg, class Compiled, class Read>
PyObject* read_arg(const Arg& arg, CompiledKeys& keys, Compiled& compiled, Read&& read) {
  {
    ReadScope scope;
    // The keys are made first: nothing may come between the check and the read.
    if (!keys.ensure(compiled)) return nullptr;
    if (arg.checked()) {
      PyObject* result = read(arg.in_place());
      if (!scope.changed()) return result;
      Py_XDECREF(result);
      PyErr_Clear();
    }
  }
  auto copy = arg.copied();
  if (!copy) return nullptr;
  return read(*copy);
}

}  // namespace vintrel::py
