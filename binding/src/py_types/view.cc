#include "py_types/view.h"

#include <new>

#include "py_types/dict_table.h"
#include "vintrel/panic.h"

namespace vintrel::py {

namespace {

bool readable_container(PyObject* obj, unsigned depth);

// A str whose UTF-8 form exists (CPython then keeps it). ASCII text is
// its own UTF-8 and needs no call.
inline bool str_readable(PyObject* s) {
  if (PyUnicode_IS_COMPACT_ASCII(s)) return true;
  std::string_view text;
  if (str_text(s, text)) return true;
  PyErr_Clear();
  return false;
}

// Scalars, the bulk of any data, are told apart inline; containers recurse
// out of line.
inline bool readable(PyObject* obj, unsigned depth) {
  switch (exact_type(obj)) {
    case ExactType::Str: return str_readable(obj);
    case ExactType::Int: return is_small_int(obj) || read_exact_int(obj).form != ExactInt::TooLarge;
    case ExactType::Float:
    case ExactType::Bool:
    case ExactType::None: return true;
    case ExactType::List:
    case ExactType::Tuple:
    case ExactType::Dict: return readable_container(obj, depth);
    case ExactType::Other: break;
  }
  return false;
}

// Every key an exact str with a UTF-8 form, every value readable at `depth`.
// Reads a dict subclass's own storage.
bool readable_entries(PyObject* dict, unsigned depth) {
  return for_each_dict_entry(dict, [depth](PyObject* k, PyObject* v) {
    return PyUnicode_CheckExact(k) && str_readable(k) && readable(v, depth);
  });
}

// Refused at the depth where the copy raises, so that the copy does.
[[gnu::noinline]] bool readable_container(PyObject* obj, unsigned depth) {
  if (depth >= kMaxJsonDepth) return false;
  if (PyDict_CheckExact(obj)) return readable_entries(obj, depth + 1);
  Py_ssize_t n = PySequence_Fast_GET_SIZE(obj);
  PyObject** items = PySequence_Fast_ITEMS(obj);
  for (Py_ssize_t i = 0; i < n; ++i)
    if (!readable(items[i], depth + 1)) return false;
  return true;
}

}  // namespace

bool readable_in_place(PyObject* obj) { return readable(obj, 0); }

bool bindings_readable_in_place(PyObject* dict) { return readable_entries(dict, 0); }

std::string_view checked_text(PyObject* s) {
  std::string_view text;
  // The check asked for this text already, and CPython keeps it: this
  // cannot fail on checked data.
  if (!str_text(s, text)) {
    PyErr_Clear();
    panic("Checked text has no UTF-8 form");
  }
  return text;
}

PyObject* dict_lookup_by_text(PyObject* dict, const VarName& name) {
  PyRef key = PyRef::steal(PyUnicode_FromStringAndSize(name.name.data(), static_cast<Py_ssize_t>(name.name.size())));
  if (!key) {
    PyErr_Clear();
    throw std::bad_alloc();
  }
  return PyDict_GetItemWithError(dict, key.get());
}

}  // namespace vintrel::py
