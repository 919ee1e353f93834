#include "py_types/to_python.h"

#include <string_view>

#include "vintrel/small_stack.h"

namespace vintrel::py {

namespace {

PyObject* str_from(std::string_view s) {
  return PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size()));
}

// The two source types, seen alike: a scalar's object, or the element list
// or entry list of a container.
const ValueArray* array_of(const Value& v) { return v.is_array() ? &v.as_array() : nullptr; }
const ValueObject* object_of(const Value& v) { return v.is_object() ? &v.as_object() : nullptr; }
const PyJsonValue::array_type* array_of(const PyJsonValue& v) { return v.as_array(); }
const PyJsonValue::object_type* object_of(const PyJsonValue& v) { return v.as_object(); }

PyObject* scalar(const Value& v) {
  switch (v.kind()) {
    case Value::Kind::Int: return PyLong_FromLongLong(v.as_int());
    case Value::Kind::Float: return PyFloat_FromDouble(v.as_float());
    case Value::Kind::Bool: return PyBool_FromLong(v.as_bool());
    case Value::Kind::String: return str_from(v.as_str());
    default: return Py_NewRef(Py_None);
  }
}

PyObject* scalar(const PyJsonValue& v) {
  if (auto b = v.as_bool()) return PyBool_FromLong(*b);
  if (auto u = v.as_u64()) return PyLong_FromUnsignedLongLong(*u);
  if (auto i = v.as_i64()) return PyLong_FromLongLong(*i);
  if (auto f = v.as_f64()) return PyFloat_FromDouble(*f);
  if (auto s = v.as_str()) return str_from(*s);
  return Py_NewRef(Py_None);
}

template <class T>
PyObject* convert(const T& root) {
  // A container made but not yet filled: `target` is borrowed from its
  // parent (or from `result`), `src` is where its items come from.
  struct Open {
    const T* src;
    PyObject* target;
    size_t next;
  };
  detail::SmallStack<Open, 8> open;
  // A new object for `v`: a scalar's, or an empty container that is queued
  // to be filled.
  auto make = [&open](const T& v) -> PyObject* {
    if (const auto* a = array_of(v)) {
      PyObject* list = PyList_New(static_cast<Py_ssize_t>(a->size()));
      if (list && !a->empty()) open.push_back({&v, list, 0});
      return list;
    }
    if (const auto* o = object_of(v)) {
      PyObject* dict = PyDict_New();
      if (dict && o->size() > 0) open.push_back({&v, dict, 0});
      return dict;
    }
    return scalar(v);
  };
  PyRef result = PyRef::steal(make(root));
  if (!result) return nullptr;
  while (!open.empty()) {
    Open top = open.back();
    if (const auto* a = array_of(*top.src)) {
      if (top.next == a->size()) {
        open.drop(1);
        continue;
      }
      open.back().next++;
      PyObject* item = make((*a)[top.next]);
      if (!item) return nullptr;
      PyList_SET_ITEM(top.target, static_cast<Py_ssize_t>(top.next), item);
    } else {
      const auto& entries = *object_of(*top.src);
      if (top.next == entries.size()) {
        open.drop(1);
        continue;
      }
      open.back().next++;
      const auto& [k, e] = entries.begin()[static_cast<std::ptrdiff_t>(top.next)];
      PyRef value = PyRef::steal(make(e));
      if (!value) return nullptr;
      PyRef key = PyRef::steal(str_from(k));
      if (!key || PyDict_SetItem(top.target, key.get(), value.get()) < 0) return nullptr;
    }
  }
  return result.release();
}

}  // namespace

PyObject* to_python(const Value& v) { return convert(v); }
PyObject* to_python(const PyJsonValue& v) { return convert(v); }

PyObject* PyJsonValue::into_pyobject() && { return to_python(*this); }

}  // namespace vintrel::py
