// An owning handle for one strong reference to a Python object.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace vintrel::py {

// Holds one strong reference (or none) and releases it when destroyed, so
// every early return on an error path gives its references back.
// Must only be destroyed while the thread is attached to the interpreter.
class PyRef {
 public:
  PyRef() noexcept = default;
  PyRef(const PyRef&) = delete;
  PyRef& operator=(const PyRef&) = delete;
  PyRef(PyRef&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
  PyRef& operator=(PyRef&& o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }
  ~PyRef() { Py_XDECREF(p_); }

  // Takes over a new reference (may be null: a failed API call).
  static PyRef steal(PyObject* p) noexcept { return PyRef(p); }
  // Takes a new reference of its own to a borrowed object.
  static PyRef borrow(PyObject* p) noexcept {
    Py_XINCREF(p);
    return PyRef(p);
  }

  PyObject* get() const noexcept { return p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  // Hands the reference to the caller, who then owns it.
  PyObject* release() noexcept { return std::exchange(p_, nullptr); }

 private:
  explicit PyRef(PyObject* p) noexcept : p_(p) {}
  PyObject* p_ = nullptr;
};

}  // namespace vintrel::py
