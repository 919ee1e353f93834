// Copies of Python data as owned JSON-like values, and environments over them.
#pragma once

#include "py_handle.h"

#include <optional>

#include "py_types/jsonobj.h"
#include "vintrel/env.h"

namespace vintrel::py {

// PyJsonValue::extract for a method argument: a TypeError is renamed after
// the argument.
bool extract_argument(PyObject* obj, const char* arg_name, PyJsonValue& out);

// The bindings of Exp.eval and VarAccess.access_from_bindings: `dict` must
// be a dict (or subclass), read from its own storage; every key a str,
// every value converted. A TypeError is renamed after the argument.
// Converts straight into an environment builder's table: the map that
// bind_multiple would take first and empty again is never seen by anyone.
bool extract_bindings(PyObject* dict, NameMap<Cow<PyJsonValue>>& out);

// The environment of one call over the converted bindings of `dict`; the
// bound values are moved in, not copied again. Empty with the Python error
// set when a binding does not convert.
inline std::optional<Env<PyJsonValue>> env_from_bindings(PyObject* dict) {
  auto builder = EnvBuilder<PyJsonValue>::new_();
  if (!extract_bindings(dict, builder.bindings)) return std::nullopt;
  return std::move(builder).build();
}

}  // namespace vintrel::py
