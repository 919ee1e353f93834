#include "py_types/exp.h"

#include <new>
#include <string_view>
#include <type_traits>

#include "args.h"
#include "errors.h"
#include "py_types/from_python.h"
#include "py_types/to_python.h"
#include "py_types/view.h"
#include "vintrel/interpreter.h"
#include "vintrel/parser.h"
#include "vintrel/utils.h"

namespace vintrel::py {

namespace {

PyExp* as_exp(PyObject* self) { return reinterpret_cast<PyExp*>(self); }

bool only_unicode_white_space(std::string_view s) {
  while (!s.empty()) {
    char32_t c;
    size_t n = utf8_decode(s, &c);
    if (n == 0 || !is_unicode_white_space(c)) return false;
    s.remove_prefix(n);
  }
  return true;
}

const char* const kNewNames[] = {"exp"};
const Params kNewParams{"Exp", kNewNames, 1, true};

// Exp(exp, /): compiles the text into an owned tree.
PyObject* exp_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    PyObject* arg;
    if (!parse_tuple_and_dict(kNewParams, args, kwargs, &arg)) return nullptr;
    if (!PyUnicode_Check(arg)) {
      raise_argument_type("exp", "str", arg);
      return nullptr;
    }
    Py_ssize_t size;
    const char* data = PyUnicode_AsUTF8AndSize(arg, &size);
    if (!data) return nullptr;
    auto parsed = parse_exp(std::string_view(data, static_cast<size_t>(size)));
    if (!parsed) {
      PyVintrelError::parse(parsed.error().kind, parsed.error().input).raise();
      return nullptr;
    }
    // Only whitespace may follow; the rest is reported untrimmed.
    if (!only_unicode_white_space(parsed->rest)) {
      PyVintrelError::parse(ErrorKind::Eof, parsed->rest).raise();
      return nullptr;
    }
    // The parsed tree borrows from `arg`'s text; the object keeps its own.
    Exp tree = std::move(parsed->value).into_owned();
    PyRef self = PyRef::steal(type->tp_alloc(type, 0));
    if (!self) return nullptr;
    PyExp* e = as_exp(self.get());
    new (&e->inner) Exp(std::move(tree));
    new (&e->keys) CompiledKeys();
    new (&e->program) interpreter::Program();
    // Laid out where the object holds the tree, which never moves again.
    e->program = interpreter::Program(e->inner);
    return self.release();
  });
}

void exp_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  as_exp(self)->program.~Program();
  as_exp(self)->keys.~CompiledKeys();
  as_exp(self)->inner.~Exp();
  type->tp_free(self);
  Py_DECREF(type);  // instances of a heap type hold a reference to it
}

PyObject* exp_richcompare(PyObject* self, PyObject* other, int op) {
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    // The interpreter calls this slot with an Exp as `self` only.
    if (!PyObject_TypeCheck(other, Py_TYPE(self))) Py_RETURN_NOTIMPLEMENTED;
    if (op != Py_EQ && op != Py_NE) Py_RETURN_NOTIMPLEMENTED;
    bool equal = as_exp(self)->inner == as_exp(other)->inner;
    return PyBool_FromLong(equal == (op == Py_EQ));
  });
}

PyObject* raise_eval_error(EvalError e) {
  PyVintrelError::eval(std::move(e)).raise();
  return nullptr;
}

// The result as a new Python object. `env` is the environment it may
// borrow text from; it is read here, before `env` goes.
template <class Env>
PyObject* eval_with(const interpreter::Program& program, const Env& env) {
  auto result = interpreter::eval(program, env);
  if (!result) return raise_eval_error(std::move(result).error());
  const Value& v = result->get();
  if (!std::is_same_v<Env, InPlaceEnv> || (!v.is_array() && !v.is_object())) return to_python(v);
  // Making a list or dict may run the cyclic collector, and so any Python
  // code, which could change the data read in place whose text the value
  // borrows: the value owns its text first.
  return to_python(std::move(*result).into_owned().into_owned());
}

const char* const kEvalNames[] = {"bindings"};
const Params kEvalParams{"Exp.eval", kEvalNames, 1, false};

// The hot path: converts the bindings, evaluates, and creates no Python
// object but the result.
PyObject* exp_eval(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    PyObject* bindings;
    if (!parse_fastcall(kEvalParams, args, nargs, kwnames, &bindings)) return nullptr;
    PyExp* e = as_exp(self);
    const interpreter::Program& program = e->program;
    return read_arg(BindingsArg{bindings}, e->keys, e->inner,
                    [&](const auto& env) { return eval_with(program, env); });
  });
}

PyMethodDef exp_methods[] = {
    {"eval", as_pycfunction(exp_eval), METH_FASTCALL | METH_KEYWORDS,
     "eval($self, bindings)\n--\n\nEvaluate the expression with the given variable bindings.\n\n# Arguments\n\n"
     "- `bindings`: A mapping containing variable bindings, where keys are variable names and values are their "
     "corresponding JSON values.\n\n# Returns\n\nThe result of evaluating the expression, represented as a "
     "`PyJsonValue`.\n\n# Errors\n\nIf there is an error during evaluation (e.g., undefined variable, type error), "
     "a `ValueError` will be raised with a message describing the evaluation error."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot exp_slots[] = {
    {Py_tp_doc, const_cast<char*>("Exp(exp, /)\n--\n\n")},
    {Py_tp_new, as_slot(exp_new)},
    {Py_tp_dealloc, as_slot(exp_dealloc)},
    {Py_tp_richcompare, as_slot(exp_richcompare)},
    {Py_tp_hash, as_slot(PyObject_HashNotImplemented)},
    {Py_tp_methods, exp_methods},
    {0, nullptr},
};

PyType_Spec exp_spec = {"builtins.Exp", sizeof(PyExp), 0, Py_TPFLAGS_DEFAULT, exp_slots};

}  // namespace

PyObject* create_exp_type() { return PyType_FromSpec(&exp_spec); }

}  // namespace vintrel::py
