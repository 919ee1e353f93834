// Argument handling for the methods and constructors of the classes.
#pragma once

#include "py_handle.h"

namespace vintrel::py {

// The parameters of one callable, all required.
struct Params {
  const char* func;           // as messages name it: "Exp.eval"
  const char* const* names;   // parameter names, in order
  int count;
  bool positional_only;       // every parameter; keywords are then refused
};

// Fills out[0..count) with borrowed references to the arguments of a
// METH_FASTCALL | METH_KEYWORDS call. False with TypeError set.
bool parse_fastcall(const Params& p, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** out);

// The same for the (args, kwargs) of a tp_new call.
bool parse_tuple_and_dict(const Params& p, PyObject* args, PyObject* kwargs, PyObject** out);

// The casts that method tables and type slots need; the interpreter calls
// each function through the signature that its flags or slot id name.
template <class F>
PyCFunction as_pycfunction(F* f) noexcept {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}
template <class F>
void* as_slot(F* f) noexcept {
  return reinterpret_cast<void*>(f);
}

}  // namespace vintrel::py
