// The Python class VarAccess: a variable path compiled once, then used to
// read or replace values inside JSON-like data.
#pragma once

#include "py_handle.h"

#include "py_types/keys.h"
#include "vintrel/var.h"

namespace vintrel::py {

struct PyVarAccess {
  PyObject_HEAD
  VarAccess inner;  // owned; never changes after construction but for its names' keys
  Py_hash_t hash;   // of `inner`, computed once so hashing allocates nothing
  CompiledKeys keys;  // of `inner`'s names, attached to them on first use
};

// A new reference to a new class object (module.cc makes the one per process).
PyObject* create_var_access_type();

// SipHash-1-3 with zero keys over the path's byte stream; never -1.
Py_hash_t var_access_hash(const VarAccess& v);

}  // namespace vintrel::py
