#include "py_types/exact_types.h"

namespace vintrel::py {

ExactInt read_exact_int(PyObject* obj) {
#if PY_VERSION_HEX >= 0x030C0000
  if (auto* l = reinterpret_cast<PyLongObject*>(obj); PyUnstable_Long_IsCompact(l)) {
    int64_t v = PyUnstable_Long_CompactValue(l);
    if (v >= 0) return {ExactInt::Unsigned, static_cast<uint64_t>(v)};
    return {ExactInt::Signed, 0, v};
  }
#endif
  int overflow = 0;
  long long i = PyLong_AsLongLongAndOverflow(obj, &overflow);
  if (overflow == 0) {
    if (i == -1 && PyErr_Occurred()) {
      PyErr_Clear();
      return {ExactInt::TooLarge};
    }
    if (i >= 0) return {ExactInt::Unsigned, static_cast<uint64_t>(i)};
    return {ExactInt::Signed, 0, i};
  }
  if (overflow > 0) {
    unsigned long long u = PyLong_AsUnsignedLongLong(obj);
    if (!(u == static_cast<unsigned long long>(-1) && PyErr_Occurred())) return {ExactInt::Unsigned, u};
    PyErr_Clear();
  }
  double d = PyLong_AsDouble(obj);
  if (d == -1.0 && PyErr_Occurred()) {
    PyErr_Clear();
    return {ExactInt::TooLarge};
  }
  return {ExactInt::Double, 0, 0, d};
}

}  // namespace vintrel::py
