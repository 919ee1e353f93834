// The Python class Exp: expression text compiled once, evaluated many times.
#pragma once

#include "py_handle.h"

#include "py_types/keys.h"
#include "vintrel/exp.h"
#include "vintrel/interpreter.h"

namespace vintrel::py {

struct PyExp {
  PyObject_HEAD
  Exp inner;  // owned, borrows no text; never changes after construction but for its names' keys
  interpreter::Program program;  // of `inner`
  CompiledKeys keys;  // of every variable of `inner`, attached to its names on first use
};

// A new reference to a new class object (module.cc makes the one per process).
PyObject* create_exp_type();

}  // namespace vintrel::py
