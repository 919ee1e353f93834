// How engine failures become Python exceptions, and the guard that keeps
// C++ exceptions from ever crossing into the interpreter.
#pragma once

#include "py_handle.h"

#include <new>
#include <string>
#include <string_view>
#include <variant>

#include "vintrel/errors.h"
#include "vintrel/panic.h"
#include "vintrel/parser.h"

namespace vintrel::py {

// Every engine failure that a method of Exp or VarAccess reports. Its
// conversion is the one place that picks the Python class and message.
class PyVintrelError {
 public:
  struct Parse {
    std::string input;  // the remaining text where parsing stopped
    ErrorKind kind;
  };

  static PyVintrelError eval(EvalError e) { return PyVintrelError(std::move(e)); }
  static PyVintrelError parse(ErrorKind kind, std::string_view input) {
    return PyVintrelError(Parse{std::string(input), kind});
  }

  // A new exception instance; the caller owns it. Null (with the Python
  // error set) only when the interpreter cannot allocate.
  PyObject* into_pyobject() &&;
  // Sets the exception as the thread's pending error.
  void raise() &&;

 private:
  explicit PyVintrelError(EvalError e) : v_(std::move(e)) {}
  explicit PyVintrelError(Parse p) : v_(std::move(p)) {}
  std::variant<EvalError, Parse> v_;
};

// ValueError "error {} at: {}", raised at once (the VarAccess constructor).
void raise_parse_error(ErrorKind kind, std::string_view input);

// The message of an argument conversion that failed with exactly TypeError
// gets the argument's name in front ("argument '{}': {}"); the new error
// keeps the first one's cause. Other pending errors stay as they are.
void prefix_argument_type_error(const char* arg_name);

// Sets TypeError "argument '{}': expected {}, got {type name}".
void raise_argument_type(const char* arg_name, const char* expected, PyObject* got);

// The class PanicException (a BaseException subclass), created once per
// process by init_panic_exception. Borrowed.
PyObject* panic_exception_type() noexcept;
bool init_panic_exception();

// Writes one diagnostic line to standard error and raises PanicException.
void raise_panic(std::string_view message) noexcept;

// Runs an entry point's body and turns every C++ exception into a Python
// one: Panic -> PanicException, bad_alloc -> MemoryError, anything else
// (a broken invariant too) -> PanicException. `fail` is what the entry
// point returns with an error set.
template <class R, class F>
R guarded(R fail, F&& body) noexcept {
  try {
    return body();
  } catch (const Panic& p) {
    raise_panic(p.message());
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& e) {
    raise_panic(e.what());
  } catch (...) {
    raise_panic("unknown C++ exception");
  }
  return fail;
}

}  // namespace vintrel::py
