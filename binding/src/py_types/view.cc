#include "py_types/view.h"

#include <new>

#include "py_types/dict_table.h"
#include "vintrel/panic.h"
#include "vintrel/small_stack.h"

namespace vintrel::py {

namespace {

bool readable_container(PyObject* obj, unsigned depth);

// The rare scalars whose test needs a call, out of line, so that the test
// of the common ones stays a leaf inlined into each loop.
//
// A str whose UTF-8 form exists (CPython then keeps it). The call may wait
// for another thread making the same text, and let the container around
// go meanwhile: the str is held across it.
[[gnu::noinline]] bool has_utf8(PyObject* s) {
  PyRef held = PyRef::borrow(s);
  std::string_view text;
  if (str_text(s, text)) return true;
  PyErr_Clear();
  return false;
}
[[gnu::noinline]] bool wide_int_readable(PyObject* i) { return read_wide_int(i).form != ExactInt::TooLarge; }

// ASCII text is its own UTF-8 and needs no call.
inline bool str_readable(PyObject* s) { return PyUnicode_IS_COMPACT_ASCII(s) || has_utf8(s); }

// Each entry's test is inlined where the entries come from PyDict_Next, a
// call per entry; the table loop of the GIL build runs faster leaving the
// compiler to choose.
#ifdef Py_GIL_DISABLED
#define VINTREL_ENTRY_INLINE __attribute__((always_inline))
#else
#define VINTREL_ENTRY_INLINE
#endif

enum class Seen : uint8_t { Scalar, Container, Refused };

// One value by its exact type; the most common kinds are tested first.
VINTREL_ENTRY_INLINE inline Seen seen(PyObject* obj) {
  switch (exact_type(obj)) {
    case ExactType::Str: return str_readable(obj) ? Seen::Scalar : Seen::Refused;
    case ExactType::Int: return is_small_int(obj) || wide_int_readable(obj) ? Seen::Scalar : Seen::Refused;
    case ExactType::Float:
    case ExactType::Bool:
    case ExactType::None: return Seen::Scalar;
    case ExactType::List:
    case ExactType::Tuple:
    case ExactType::Dict: return Seen::Container;
    case ExactType::Other: break;
  }
  return Seen::Refused;
}

#ifdef Py_GIL_DISABLED
// The containers met in a held container, each with a reference of ours,
// checked once its critical section is let go (a thread checking them
// keeps no other out of the container around them: the bindings dict that
// all share, say) and released when the check of that container ends.
class Below {
 public:
  Below() = default;
  Below(const Below&) = delete;
  Below& operator=(const Below&) = delete;
  ~Below() {
    for (size_t i = 0; i < met_.size(); ++i) Py_DECREF(met_[i]);
  }
  bool add(PyObject* obj, unsigned) {
    met_.push_back(Py_NewRef(obj));
    return true;
  }
  bool check(unsigned depth) {
    for (size_t i = 0; i < met_.size(); ++i)
      if (!readable_container(met_[i], depth)) return false;
    return true;
  }

 private:
  SmallStack<PyObject*, 16> met_;
};
#else
// With the GIL nothing is held: a container is checked where it is met.
struct Below {
  static bool add(PyObject* obj, unsigned depth) { return readable_container(obj, depth); }
  static bool check(unsigned) { return true; }
};
#endif


VINTREL_ENTRY_INLINE inline bool readable(PyObject* obj, unsigned depth, Below& below) {
  switch (seen(obj)) {
    case Seen::Scalar: return true;
    case Seen::Container: return below.add(obj, depth);
    case Seen::Refused: break;
  }
  return false;
}

// Every key an exact str with a UTF-8 form, every value readable at `depth`.
// Reads a dict subclass's own storage, held meanwhile.
bool readable_entries(PyObject* dict, unsigned depth) {
  Below below;
  {
    Hold hold(dict);
    bool ok = for_each_dict_entry(dict, [depth, &below](PyObject* k, PyObject* v) VINTREL_ENTRY_INLINE {
      return PyUnicode_CheckExact(k) && str_readable(k) && readable(v, depth, below);
    });
    if (!ok) return false;
  }
  return below.check(depth);
}

// Read afresh each time: asking a str for its text may begin a section of
// its own, which may let another thread change the list meanwhile.
inline bool scan_items(PyObject* seq, unsigned depth, Below& below) {
  for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(seq); ++i)
    if (!readable(PySequence_Fast_ITEMS(seq)[i], depth, below)) return false;
  return true;
}

bool readable_items(PyObject* seq, unsigned depth) {
  Below below;
  if (PyTuple_CheckExact(seq)) {
    if (!scan_items(seq, depth, below)) return false;  // never changes
  } else {
    Hold hold(seq);
    if (!scan_items(seq, depth, below)) return false;
  }
  return below.check(depth);
}

// Refused at the depth where the copy raises, so that the copy does.
[[gnu::noinline]] bool readable_container(PyObject* obj, unsigned depth) {
  if (depth >= kMaxJsonDepth) return false;
  if (PyDict_CheckExact(obj)) return readable_entries(obj, depth + 1);
  return readable_items(obj, depth + 1);
}

}  // namespace

bool readable_in_place(PyObject* obj) {
  Below below;
  return readable(obj, 0, below) && below.check(0);
}

bool bindings_readable_in_place(PyObject* dict) { return readable_entries(dict, 0); }

std::string_view checked_text(PyObject* s) {
  std::string_view text;
  // The check asked for this text already, and CPython keeps it: this
  // cannot fail on checked data, only on a str written since.
  if (!str_text(s, text)) {
    PyErr_Clear();
    not_as_checked("Checked text has no UTF-8 form");
    return {};
  }
  return text;
}

PyObject* dict_lookup_by_text(PyObject* dict, const VarName& name) {
  PyRef key = PyRef::steal(PyUnicode_FromStringAndSize(name.name.data(), static_cast<Py_ssize_t>(name.name.size())));
  if (!key) {
    PyErr_Clear();
    throw std::bad_alloc();
  }
  return dict_find(dict, key.get());
}

}  // namespace vintrel::py
