// New Python objects from engine values and owned JSON-like values.
#pragma once

#include "py_handle.h"

#include "py_types/jsonobj.h"
#include "vintrel/value.h"

namespace vintrel::py {

// A new Python object (the caller owns it), or null with the error set.
// Lists keep their order; a dict gets its entries in the source's order,
// each value made before its key. Nested containers are filled from an
// explicit stack, so no depth of data deepens the native stack.
PyObject* to_python(const Value& v);
PyObject* to_python(const PyJsonValue& v);

}  // namespace vintrel::py
