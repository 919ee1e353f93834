#include "args.h"

#include <string>

namespace vintrel::py {

namespace {

int find_param(const Params& p, PyObject* name) {
  if (!PyUnicode_Check(name)) return -1;
  for (int i = 0; i < p.count; ++i) {
    if (PyUnicode_CompareWithASCIIString(name, p.names[i]) == 0) return i;
  }
  return -1;
}

bool too_many(const Params& p, Py_ssize_t given) {
  PyErr_Format(PyExc_TypeError, "%s() takes %d positional argument%s but %zd %s given", p.func, p.count,
               p.count == 1 ? "" : "s", given, given == 1 ? "was" : "were");
  return false;
}

// Places one keyword argument, or raises the error for it.
bool place_keyword(const Params& p, PyObject* name, PyObject* value, PyObject** out) {
  int i = find_param(p, name);
  if (i < 0) {
    PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%S'", p.func, name);
    return false;
  }
  if (p.positional_only) {
    PyErr_Format(PyExc_TypeError, "%s() got some positional-only arguments passed as keyword arguments: '%s'",
                 p.func, p.names[i]);
    return false;
  }
  if (out[i]) {
    PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", p.func, p.names[i]);
    return false;
  }
  out[i] = value;
  return true;
}

bool check_missing(const Params& p, PyObject** out) {
  int missing = 0;
  std::string names;
  for (int i = 0; i < p.count; ++i) {
    if (out[i]) continue;
    ++missing;
    // No callable here has more than two parameters.
    if (!names.empty()) names += " and ";
    names.append("'").append(p.names[i]).append("'");
  }
  if (missing == 0) return true;
  PyErr_Format(PyExc_TypeError, "%s() missing %d required positional argument%s: %s", p.func, missing,
               missing == 1 ? "" : "s", names.c_str());
  return false;
}

}  // namespace

bool parse_fastcall(const Params& p, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** out) {
  if (nargs == p.count && !kwnames) {  // the usual call: every argument by position
    for (int i = 0; i < p.count; ++i) out[i] = args[i];
    return true;
  }
  if (nargs > p.count) return too_many(p, nargs);
  for (int i = 0; i < p.count; ++i) out[i] = i < nargs ? args[i] : nullptr;
  if (kwnames) {
    Py_ssize_t nk = PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t j = 0; j < nk; ++j) {
      if (!place_keyword(p, PyTuple_GET_ITEM(kwnames, j), args[nargs + j], out)) return false;
    }
  }
  return check_missing(p, out);
}

bool parse_tuple_and_dict(const Params& p, PyObject* args, PyObject* kwargs, PyObject** out) {
  Py_ssize_t nargs = PyTuple_GET_SIZE(args);
  if (nargs > p.count) return too_many(p, nargs);
  for (int i = 0; i < p.count; ++i) out[i] = i < nargs ? PyTuple_GET_ITEM(args, i) : nullptr;
  if (kwargs) {
    // The interpreter built this dict for the call alone; nothing else
    // changes it while it is read.
    Py_ssize_t pos = 0;
    PyObject *k, *v;
    while (PyDict_Next(kwargs, &pos, &k, &v)) {
      if (!place_keyword(p, k, v, out)) return false;
    }
  }
  return check_missing(p, out);
}

}  // namespace vintrel::py
