#include "errors.h"

#include <atomic>
#include <cstdio>
#include <string>

#include "vintrel/panic.h"

namespace vintrel::py {

namespace {

std::atomic<PyObject*> g_panic_exception{nullptr};

// Takes the pending exception (normalized) off the thread; the caller owns it.
PyObject* take_raised_exception() {
#if PY_VERSION_HEX >= 0x030C0000
  return PyErr_GetRaisedException();
#else
  PyObject *type, *value, *tb;
  PyErr_Fetch(&type, &value, &tb);
  PyErr_NormalizeException(&type, &value, &tb);
  if (value && tb) PyException_SetTraceback(value, tb);
  Py_XDECREF(type);
  Py_XDECREF(tb);
  return value;
#endif
}

// Makes `exc` (stolen) the pending exception again, unchanged.
void restore_raised_exception(PyObject* exc) {
#if PY_VERSION_HEX >= 0x030C0000
  PyErr_SetRaisedException(exc);
#else
  PyErr_Restore(Py_NewRef(reinterpret_cast<PyObject*>(Py_TYPE(exc))), exc, PyException_GetTraceback(exc));
#endif
}

// Engine texts are built from valid UTF-8, but a message must never fail
// to become a str, so stray bytes are replaced rather than refused.
PyRef message_str(std::string_view text) {
  return PyRef::steal(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
}

// Raises the instance `exc` (borrowed) of class `cls` as C code does, so a
// call made while handling another exception chains to it.
void set_instance(PyObject* cls, PyObject* exc) { PyErr_SetObject(cls, exc); }

const EvalError& innermost(const EvalError& e) {
  const EvalError* cur = &e;
  while (cur->kind() == EvalError::Kind::FnCall) cur = cur->fn_call_error().error.get();
  return *cur;
}

}  // namespace

PyObject* PyVintrelError::into_pyobject() && {
  PyObject* cls = nullptr;
  std::string text;
  if (auto* p = std::get_if<Parse>(&v_)) {
    cls = PyExc_ValueError;
    text.append("error ").append(error_kind_name(p->kind)).append(" at: ").append(p->input);
  } else {
    // Only the innermost error that is not a failed call decides; the
    // names of the functions it passed through are dropped.
    const EvalError& e = innermost(*std::get_if<EvalError>(&v_));
    switch (e.kind()) {
      case EvalError::Kind::VarAccess:
        cls = PyExc_NameError;
        e.var_access_error().message(text);
        break;
      case EvalError::Kind::UndefinedFunction:
        cls = PyExc_NameError;
        e.message(text);
        break;
      case EvalError::Kind::TypeError:
        cls = PyExc_TypeError;
        text = e.text();
        break;
      case EvalError::Kind::ValueError:
      case EvalError::Kind::RegexError:
        cls = PyExc_ValueError;
        text = e.text();
        break;
      case EvalError::Kind::ArgumentCount:
        cls = PyExc_ValueError;
        text.append("Expected ")
            .append(std::to_string(e.expected()))
            .append(" arguments, got ")
            .append(std::to_string(e.got()));
        break;
      case EvalError::Kind::AsyncInSync:
        cls = PyExc_RuntimeError;
        text = "Cannot call an async function in a synchronous context";
        break;
      case EvalError::Kind::Other:
        cls = PyExc_Exception;
        text = e.text();
        break;
      case EvalError::Kind::FnCall:
        break;
    }
  }
  if (!cls) panic("Failed to convert PyVintrelError to PyErr");
  PyRef msg = message_str(text);
  if (!msg) return nullptr;
  PyObject* exc = PyObject_CallOneArg(cls, msg.get());
  if (!exc && !PyErr_Occurred()) panic("Failed to convert PyVintrelError to PyErr");
  return exc;
}

void PyVintrelError::raise() && {
  PyRef exc = PyRef::steal(std::move(*this).into_pyobject());
  if (!exc) return;  // the allocation's error is pending
  set_instance(reinterpret_cast<PyObject*>(Py_TYPE(exc.get())), exc.get());
}

void raise_parse_error(ErrorKind kind, std::string_view input) {
  PyVintrelError::parse(kind, input).raise();
}

void prefix_argument_type_error(const char* arg_name) {
  if (!PyErr_Occurred()) return;
  PyObject* first = take_raised_exception();
  if (!first) return;
  // Only TypeError itself is renamed; its subclasses and every other
  // class reach the caller as raised.
  if (Py_TYPE(first) != reinterpret_cast<PyTypeObject*>(PyExc_TypeError)) {
    restore_raised_exception(first);
    return;
  }
  PyRef owned_first = PyRef::steal(first);
  PyRef first_text = PyRef::steal(PyObject_Str(first));
  if (!first_text) {
    PyErr_Clear();
    first_text = PyRef::steal(PyUnicode_FromString("<exception str() failed>"));
    if (!first_text) return;
  }
  PyRef text = PyRef::steal(PyUnicode_FromFormat("argument '%s': %U", arg_name, first_text.get()));
  if (!text) return;
  PyRef renamed = PyRef::steal(PyObject_CallOneArg(PyExc_TypeError, text.get()));
  if (!renamed) return;
  PyException_SetCause(renamed.get(), PyException_GetCause(first));  // steals the cause
  set_instance(PyExc_TypeError, renamed.get());
}

void raise_argument_type(const char* arg_name, const char* expected, PyObject* got) {
  PyRef name = PyRef::steal(PyType_GetName(Py_TYPE(got)));
  if (!name) return;
  PyErr_Format(PyExc_TypeError, "argument '%s': expected %s, got %U", arg_name, expected, name.get());
}

PyObject* panic_exception_type() noexcept { return g_panic_exception.load(std::memory_order_acquire); }

bool init_panic_exception() {
  if (panic_exception_type()) return true;
  PyObject* cls = PyErr_NewExceptionWithDoc(
      "vintrel.PanicException",
      "Raised when an internal invariant of vintrel breaks; the module stays usable.", PyExc_BaseException,
      nullptr);
  if (!cls) return false;
  g_panic_exception.store(cls, std::memory_order_release);  // kept for the life of the process
  return true;
}

void raise_panic(std::string_view message) noexcept {
  // One line, whatever the message holds.
  std::fputs("vintrel: internal error: ", stderr);
  for (char c : message) std::fputc(c == '\n' || c == '\r' ? ' ' : c, stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
  PyObject* cls = panic_exception_type();
  if (!cls) cls = PyExc_SystemError;
  PyObject* msg = PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace");
  if (!msg) return;
  PyErr_SetObject(cls, msg);
  Py_DECREF(msg);
}

}  // namespace vintrel::py
