#include "py_types/var.h"

#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "args.h"
#include "errors.h"
#include "py_types/from_python.h"
#include "py_types/to_python.h"
#include "py_types/view.h"
#include "vintrel/env.h"
#include "vintrel/parser.h"
#include "vintrel/path.h"
#include "vintrel/utils.h"

namespace vintrel::py {

Py_hash_t var_access_hash(const VarAccess& v) {
  std::string bytes;
  auto put_u64 = [&bytes](uint64_t x) {
    for (int i = 0; i < 8; ++i) bytes.push_back(static_cast<char>((x >> (8 * i)) & 0xff));
  };
  put_u64(v.names.size());
  for (const VarName& n : v.names) {
    bytes += n.name;
    bytes.push_back(static_cast<char>(0xff));
    put_u64(n.index ? 1 : 0);
    if (n.index) put_u64(*n.index);
  }
  // Fixed keys: the same path hashes alike in every process.
  auto h = static_cast<int64_t>(siphash13(0, 0, bytes));
  return static_cast<Py_hash_t>(h == -1 ? -2 : h);
}

namespace {

PyVarAccess* as_var(PyObject* self) { return reinterpret_cast<PyVarAccess*>(self); }

// Raises a path failure as NameError through the one error mapping.
PyObject* raise_access_error(VarAccessError e) {
  PyVintrelError::eval(EvalError::var_access(std::move(e))).raise();
  return nullptr;
}

// A new str equal to `s`. Text of more than one character is new; shorter
// text is the interpreter's shared object, as for any str it makes.
PyObject* copy_str(PyObject* s) {
  Py_ssize_t n = PyUnicode_GET_LENGTH(s);
  if (n <= 1 || !PyUnicode_IS_COMPACT_ASCII(s)) return PyUnicode_FromKindAndData(PyUnicode_KIND(s), PyUnicode_DATA(s), n);
  // ASCII needs no scan for its widest character.
  PyObject* copy = PyUnicode_New(n, 127);
  if (copy) std::memcpy(PyUnicode_DATA(copy), PyUnicode_DATA(s), static_cast<size_t>(n));
  return copy;
}

// What a path found in data read in place gives back: new objects, made
// from a copy, since making them may run Python code (the cyclic collector)
// that could change the data meanwhile. A str or a machine-word int, which
// cannot hold anything, is made straight from the object found. The found
// object is borrowed from data that such code may drop: it is held for as
// long as it is read.
PyObject* copy_found(const PyObject& found) {
  PyRef held = PyRef::borrow(const_cast<PyObject*>(&found));
  PyObject* obj = held.get();
  if (!still_as_checked(obj)) return nullptr;  // the copy decides
  if (is_exact_str(obj)) return copy_str(obj);
  if (is_exact_int(obj) && is_small_int(obj)) {
    ExactInt n = read_exact_int(obj);
    return n.form == ExactInt::Unsigned ? PyLong_FromUnsignedLongLong(n.u) : PyLong_FromLongLong(n.i);
  }
  PyJsonValue copy;
  if (!PyJsonValue::extract(obj, copy)) return nullptr;
  return to_python(copy);
}
// What a path found in the copy gives back.
PyObject* copy_found(const PyJsonValue& found) { return to_python(found); }

const char* const kNewNames[] = {"accessor"};
const Params kNewParams{"VarAccess", kNewNames, 1, true};

// VarAccess(accessor, /): the path must take the whole text.
PyObject* var_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    PyObject* arg;
    if (!parse_tuple_and_dict(kNewParams, args, kwargs, &arg)) return nullptr;
    if (!PyUnicode_Check(arg)) {
      raise_argument_type("accessor", "str", arg);
      return nullptr;
    }
    Py_ssize_t size;
    const char* data = PyUnicode_AsUTF8AndSize(arg, &size);
    if (!data) return nullptr;
    auto parsed = parse_variable_name(std::string_view(data, static_cast<size_t>(size)));
    if (!parsed) {
      raise_parse_error(parsed.error().kind, parsed.error().input);
      return nullptr;
    }
    if (!parsed->rest.empty()) {
      raise_parse_error(ErrorKind::Eof, parsed->rest);
      return nullptr;
    }
    Py_hash_t hash = var_access_hash(parsed->value);
    PyRef self = PyRef::steal(type->tp_alloc(type, 0));
    if (!self) return nullptr;
    PyVarAccess* v = as_var(self.get());
    new (&v->inner) VarAccess(std::move(parsed->value));
    v->hash = hash;
    new (&v->keys) CompiledKeys();
    return self.release();
  });
}

void var_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  as_var(self)->keys.~CompiledKeys();
  as_var(self)->inner.~VarAccess();
  type->tp_free(self);
  Py_DECREF(type);  // instances of a heap type hold a reference to it
}

PyObject* var_richcompare(PyObject* self, PyObject* other, int op) {
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    if (!PyObject_TypeCheck(other, Py_TYPE(self))) Py_RETURN_NOTIMPLEMENTED;
    if (op != Py_EQ && op != Py_NE) Py_RETURN_NOTIMPLEMENTED;
    bool equal = as_var(self)->inner == as_var(other)->inner;
    return PyBool_FromLong(equal == (op == Py_EQ));
  });
}

Py_hash_t var_hash(PyObject* self) { return as_var(self)->hash; }

const char* const kAccessNames[] = {"value"};
const Params kAccessParams{"VarAccess.access", kAccessNames, 1, true};

PyObject* var_access(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    PyObject* arg;
    if (!parse_fastcall(kAccessParams, args, nargs, kwnames, &arg)) return nullptr;
    PyVarAccess* v = as_var(self);
    const std::vector<VarName>& names = v->inner.names;
    return read_arg(ValueArg{arg}, v->keys, v->inner, [&](const auto& value) -> PyObject* {
      auto found = VarAccess::access_names(names, value, false);
      if (!found) return raise_access_error(std::move(found).error());
      return copy_found(**found);
    });
  });
}

const char* const kReplaceNames[] = {"value", "replacement"};
const Params kReplaceParams{"VarAccess.replace", kReplaceNames, 2, true};

PyObject* var_replace(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    PyObject* argv[2];
    if (!parse_fastcall(kReplaceParams, args, nargs, kwnames, argv)) return nullptr;
    PyJsonValue value;
    if (!extract_argument(argv[0], "value", value)) return nullptr;
    PyJsonValue replacement;
    if (!extract_argument(argv[1], "replacement", replacement)) return nullptr;
    // `value` is this call's own copy; the caller's object never changes.
    auto old = as_var(self)->inner.replace(value, std::move(replacement));
    if (!old) return raise_access_error(std::move(old).error());
    return to_python(value);
  });
}

const char* const kBindingsNames[] = {"bindings"};
const Params kBindingsParams{"VarAccess.access_from_bindings", kBindingsNames, 1, true};

PyObject* var_access_from_bindings(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    PyObject* bindings;
    if (!parse_fastcall(kBindingsParams, args, nargs, kwnames, &bindings)) return nullptr;
    PyVarAccess* v = as_var(self);
    const VarAccess& var = v->inner;
    return read_arg(BindingsArg{bindings}, v->keys, v->inner, [&](const auto& env) -> PyObject* {
      auto found = var.access_from_bindings(env);
      if (!found) return raise_access_error(std::move(found).error());
      return copy_found(**found);  // read before `env` goes
    });
  });
}

PyMethodDef var_methods[] = {
    {"access", as_pycfunction(var_access), METH_FASTCALL | METH_KEYWORDS,
     "access($self, value, /)\n--\n\nAccess the variable specified by this `PyVarAccess` from the given JSON "
     "value.\n\n# Arguments\n\n- `value`: The JSON value from which to access the variable specified by this "
     "`PyVarAccess`.\n\n# Returns\n\n- A `PyJsonValue` representing the value accessed from the provided JSON value "
     "according to the variable access specified by this `PyVarAccess`.\n\n# Errors\n\n- If there is an error "
     "during the variable access (e.g., variable not found, type mismatch), a `ValueError` will be raised with a "
     "message describing the error."},
    {"replace", as_pycfunction(var_replace), METH_FASTCALL | METH_KEYWORDS,
     "replace($self, value, replacement, /)\n--\n\nReplace the variable specified by this `PyVarAccess` in the "
     "given JSON value with a new value.\n\n# Arguments\n\n- `value`: The JSON value in which to replace the "
     "variable specified by this `PyVarAccess`.\n- `replacement`: The new value to replace the variable with.\n\n"
     "# Returns\n\nThe updated mapping after the replacement has been made, represented as a `PyJsonValue`.\n\n"
     "This method differs from the engine's own operation of the same name,\n"
     "which instead returns the old value that was replaced and performs the replacement in place."
     "\n\n# Errors\n\nIf the variable access failed, a `ValueError` will be raised with a message describing the "
     "error."},
    {"access_from_bindings", as_pycfunction(var_access_from_bindings), METH_FASTCALL | METH_KEYWORDS,
     "access_from_bindings($self, bindings, /)\n--\n\nAccess the variable specified by this `PyVarAccess` from the "
     "given variable bindings.\n\n# Arguments\n\n- `bindings`: A mapping containing variable bindings, where keys "
     "are variable names and values are their corresponding JSON values.\n\n# Returns\n\n- A `PyJsonValue` "
     "representing the value accessed from the provided variable bindings according to the variable access "
     "specified by this `PyVarAccess`.\n\n# Errors\n\n- If there is an error during the variable access (e.g., "
     "variable not found, type mismatch), a `ValueError` will be raised with a message describing the error."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot var_slots[] = {
    {Py_tp_doc, const_cast<char*>("VarAccess(accessor, /)\n--\n\n")},
    {Py_tp_new, as_slot(var_new)},
    {Py_tp_dealloc, as_slot(var_dealloc)},
    {Py_tp_richcompare, as_slot(var_richcompare)},
    {Py_tp_hash, as_slot(var_hash)},
    {Py_tp_methods, var_methods},
    {0, nullptr},
};

PyType_Spec var_spec = {"builtins.VarAccess", sizeof(PyVarAccess), 0, Py_TPFLAGS_DEFAULT, var_slots};

}  // namespace

PyObject* create_var_access_type() { return PyType_FromSpec(&var_spec); }

}  // namespace vintrel::py
