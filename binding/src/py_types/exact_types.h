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

// By type identity alone: a subclass is none of these.
inline bool is_exact_str(const PyObject* o) noexcept { return Py_TYPE(o) == &PyUnicode_Type; }
inline bool is_exact_int(const PyObject* o) noexcept { return Py_TYPE(o) == &PyLong_Type; }
inline bool is_exact_float(const PyObject* o) noexcept { return Py_TYPE(o) == &PyFloat_Type; }
inline bool is_exact_bool(const PyObject* o) noexcept { return Py_TYPE(o) == &PyBool_Type; }
inline bool is_none(const PyObject* o) noexcept { return o == Py_None; }
inline bool is_exact_list(const PyObject* o) noexcept { return Py_TYPE(o) == &PyList_Type; }
inline bool is_exact_tuple(const PyObject* o) noexcept { return Py_TYPE(o) == &PyTuple_Type; }
inline bool is_exact_dict(const PyObject* o) noexcept { return Py_TYPE(o) == &PyDict_Type; }

enum class ExactType : uint8_t { Str, Int, Float, Bool, None, List, Tuple, Dict, Other };

// The most common kinds are tested first.
inline ExactType exact_type(const PyObject* obj) noexcept {
  if (is_exact_str(obj)) return ExactType::Str;
  if (is_exact_int(obj)) return ExactType::Int;
  if (is_exact_dict(obj)) return ExactType::Dict;
  if (is_exact_list(obj)) return ExactType::List;
  if (is_exact_float(obj)) return ExactType::Float;
  if (is_exact_bool(obj)) return ExactType::Bool;
  if (is_none(obj)) return ExactType::None;
  if (is_exact_tuple(obj)) return ExactType::Tuple;
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

// Ints of more than one machine digit, out of line.
ExactInt read_wide_int(PyObject* obj);

// An exact int as the copy holds it. The one-digit ints that data is mostly
// made of are read in place.
inline ExactInt read_exact_int(PyObject* obj) {
#if PY_VERSION_HEX >= 0x030C0000
  if (auto* l = reinterpret_cast<PyLongObject*>(obj); PyUnstable_Long_IsCompact(l)) {
    int64_t v = PyUnstable_Long_CompactValue(l);
    if (v >= 0) return {ExactInt::Unsigned, static_cast<uint64_t>(v)};
    return {ExactInt::Signed, 0, v};
  }
#else
  Py_ssize_t size = Py_SIZE(obj);
  if (size >= -1 && size <= 1) {
    // Zero has no digit to read.
    int64_t digit = size == 0 ? 0 : static_cast<int64_t>(reinterpret_cast<PyLongObject*>(obj)->ob_digit[0]);
    if (size >= 0) return {ExactInt::Unsigned, static_cast<uint64_t>(digit)};
    return {ExactInt::Signed, 0, -digit};
  }
#endif
  return read_wide_int(obj);
}

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
