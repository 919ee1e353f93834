// The exact built-in types whose values convert without running any Python
// code: the one classification that the conversion from Python, the check
// of data read in place and the in-place view all go by.
#pragma once

#include "py_handle.h"

#include <cstdint>
#include <string_view>

namespace vintrel::py {

// Deepest nesting of lists and dicts that a conversion from Python accepts;
// it also stops a container that holds itself.
inline constexpr unsigned kMaxJsonDepth = 1000;

enum class ExactType : uint8_t { Str, Int, Float, Bool, None, List, Tuple, Dict, Other };

// By type identity alone: a subclass is Other.
inline ExactType exact_type(PyObject* obj) noexcept {
  PyTypeObject* t = Py_TYPE(obj);
  if (t == &PyUnicode_Type) return ExactType::Str;
  if (t == &PyLong_Type) return ExactType::Int;
  if (t == &PyDict_Type) return ExactType::Dict;
  if (t == &PyList_Type) return ExactType::List;
  if (t == &PyFloat_Type) return ExactType::Float;
  if (t == &PyBool_Type) return ExactType::Bool;
  if (obj == Py_None) return ExactType::None;
  if (t == &PyTuple_Type) return ExactType::Tuple;
  return ExactType::Other;
}

// The UTF-8 text of a str (or subclass), borrowed from the object, which
// keeps it for its life (CPython caches it after the first request). False
// with the encoding error set for a lone surrogate.
inline bool str_text(PyObject* s, std::string_view& out) {
  if (PyUnicode_IS_COMPACT_ASCII(s)) {
    out = std::string_view(static_cast<const char*>(PyUnicode_DATA(s)), static_cast<size_t>(PyUnicode_GET_LENGTH(s)));
    return true;
  }
  Py_ssize_t n;
  const char* p = PyUnicode_AsUTF8AndSize(s, &n);
  if (!p) return false;
  out = std::string_view(p, static_cast<size_t>(n));
  return true;
}

// How an exact int is held: unsigned when it fits, else signed, else the
// nearest float; TooLarge (no error set) when not even a float holds it.
struct ExactInt {
  enum Form : uint8_t { Unsigned, Signed, Double, TooLarge } form;
  uint64_t u = 0;
  int64_t i = 0;
  double d = 0;
};

ExactInt read_exact_int(PyObject* obj);

// An exact int that fits a machine word, told without a call.
inline bool is_small_int(PyObject* obj) noexcept {
#if PY_VERSION_HEX >= 0x030C0000
  return PyUnstable_Long_IsCompact(reinterpret_cast<PyLongObject*>(obj));
#else
  // Up to two 30-bit digits.
  Py_ssize_t size = Py_SIZE(obj);
  return size >= -2 && size <= 2;
#endif
}

}  // namespace vintrel::py
