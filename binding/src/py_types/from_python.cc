// Conversion from Python objects into owned JSON-like values: the copy
// that is made whenever data cannot be read where it lies (Python code could
// run while it is read: subclasses, other mappings and sequences, numbers
// converted through __index__ or __float__, numpy booleans), or when another
// thread changed it while it was read in place.
#include "py_types/from_python.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "errors.h"
#include "once.h"
#include "py_types/exact_types.h"

namespace vintrel::py {

namespace {

// Keeps a rule's locals out of the frames of the recursive path.
#define VINTREL_NOINLINE [[gnu::noinline]]

// A reported length may be a lie or too large to allocate; it only sizes
// a first reservation, and the elements themselves come from iteration.
constexpr Py_ssize_t kMaxReserve = 4096;

size_t bounded_reserve(Py_ssize_t reported) {
  return static_cast<size_t>(std::clamp<Py_ssize_t>(reported, 0, kMaxReserve));
}

bool convert(PyObject* obj, PyJsonValue& out, unsigned depth);

bool too_deep() {
  PyErr_Format(PyExc_RecursionError, "maximum nesting depth of %u exceeded while converting a JSON-like value",
               kMaxJsonDepth);
  return false;
}

bool unsupported(PyObject* obj) {
  PyRef name = PyRef::steal(PyType_GetName(Py_TYPE(obj)));
  if (name) PyErr_Format(PyExc_TypeError, "Unsupported type for JSON value: %U", name.get());
  return false;
}

// The key of a mapping entry as UTF-8 text.
bool key_text(PyObject* key, std::string& out) {
  if (!PyUnicode_Check(key)) {
    PyRef name = PyRef::steal(PyType_GetName(Py_TYPE(key)));
    if (name) PyErr_Format(PyExc_TypeError, "Keys must be str, not %U", name.get());
    return false;
  }
  std::string_view text;
  if (!str_text(key, text)) return false;
  out.assign(text);
  return true;
}

// A str without a UTF-8 form (a lone surrogate) raises its encoding error:
// taking it as a sequence of one-character strings instead would never end.
VINTREL_NOINLINE bool convert_str(PyObject* obj, PyJsonValue& out) {
  std::string_view text;
  if (!str_text(obj, text)) return false;
  out = PyJsonValue::String(std::string(text));
  return true;
}

// False (no error set) when the int is too large even for a float.
VINTREL_NOINLINE bool convert_exact_int(PyObject* obj, PyJsonValue& out) {
  ExactInt n = read_exact_int(obj);
  switch (n.form) {
    case ExactInt::Unsigned:
      out = PyJsonValue::UInt(n.u);
      return true;
    case ExactInt::Signed:
      out = PyJsonValue::Int(n.i);
      return true;
    case ExactInt::Double:
      out = PyJsonValue::Float(n.d);
      return true;
    case ExactInt::TooLarge:
      break;
  }
  return false;
}

// The element at i of a list that Python code may change meanwhile: a new
// reference, or null past the current end.
PyRef list_item(PyObject* list, Py_ssize_t i) {
  if (i >= PyList_GET_SIZE(list)) return PyRef();
#ifdef Py_GIL_DISABLED
  PyObject* item = PyList_GetItemRef(list, i);
  if (!item) PyErr_Clear();  // shrunk by another thread since the check
  return PyRef::steal(item);
#else
  return PyRef::borrow(PyList_GET_ITEM(list, i));
#endif
}

// The next entry of a dict that Python code (or another thread) may change
// meanwhile. Both references are our own, so the entry stays alive while
// its value is converted whatever happens to the dict.
bool dict_next(PyObject* dict, Py_ssize_t* pos, PyRef& key, PyRef& value) {
  PyObject* k = nullptr;
  PyObject* v = nullptr;
  int found;
#ifdef Py_GIL_DISABLED
  Py_BEGIN_CRITICAL_SECTION(dict);
#endif
  found = PyDict_Next(dict, pos, &k, &v);
  if (found) {
    key = PyRef::borrow(k);
    value = PyRef::borrow(v);
  }
#ifdef Py_GIL_DISABLED
  Py_END_CRITICAL_SECTION();
#endif
  return found != 0;
}

// 1 with the next item in `item`, 0 at the end, -1 with an error set.
int iter_next(PyObject* it, PyRef& item) {
#if PY_VERSION_HEX >= 0x030E0000
  PyObject* p = nullptr;
  int r = PyIter_NextItem(it, &p);
  item = PyRef::steal(p);
  return r;
#else
  item = PyRef::steal(PyIter_Next(it));
  if (item) return 1;
  return PyErr_Occurred() ? -1 : 0;
#endif
}

// collections.abc.Sequence and Mapping, imported on first need and kept for
// the life of the process.
GilSafeOnce g_abc_once;
PyObject* g_abc_sequence = nullptr;
PyObject* g_abc_mapping = nullptr;

bool load_abcs() {
  return g_abc_once.run([] {
    PyRef mod = PyRef::steal(PyImport_ImportModule("collections.abc"));
    if (!mod) return false;
    PyRef seq = PyRef::steal(PyObject_GetAttrString(mod.get(), "Sequence"));
    if (!seq) return false;
    PyRef map = PyRef::steal(PyObject_GetAttrString(mod.get(), "Mapping"));
    if (!map) return false;
    g_abc_sequence = seq.release();
    g_abc_mapping = map.release();
    return true;
  });
}

// An instance test that raises counts as failed; its error goes to the
// unraisable-exception hook instead of ending the conversion. `abc` refers
// to one of the globals above, read only once load_abcs has filled it.
bool is_abc_instance(PyObject* obj, PyObject* const& abc) {
  if (!load_abcs()) {
    PyErr_WriteUnraisable(obj);
    return false;
  }
  int r = PyObject_IsInstance(obj, abc);
  if (r < 0) {
    PyErr_WriteUnraisable(obj);
    return false;
  }
  return r == 1;
}

// numpy's boolean scalar, recognised by the type's module and name so
// that numpy need not be imported.
bool is_numpy_bool_type(PyTypeObject* t) {
  if (!(t->tp_flags & Py_TPFLAGS_HEAPTYPE)) {
    // A static type's module and name are the two parts of tp_name.
    return std::strcmp(t->tp_name, "numpy.bool_") == 0 || std::strcmp(t->tp_name, "numpy.bool") == 0;
  }
  // The name first: it costs no allocation for a heap type, and it rules
  // out nearly every type before its module is looked up.
  PyRef name = PyRef::steal(PyType_GetName(t));
  if (!name) {
    PyErr_Clear();
    return false;
  }
  if (PyUnicode_CompareWithASCIIString(name.get(), "bool_") != 0 &&
      PyUnicode_CompareWithASCIIString(name.get(), "bool") != 0)
    return false;
  PyRef module = PyRef::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(t), "__module__"));
  if (!module) {
    PyErr_Clear();
    return false;
  }
  return PyUnicode_Check(module.get()) && PyUnicode_CompareWithASCIIString(module.get(), "numpy") == 0;
}

// Each level of nesting costs one frame of convert (which hands containers
// on as tail calls) and one frame of a filler below; the other rules stay
// out of line, so deep data needs little native stack. Containers are
// filled in place: a parent never grows while a child is converted.

VINTREL_NOINLINE bool fill_from_list(PyObject* list, PyJsonValue::array_type& items, unsigned depth) {
  items.reserve(bounded_reserve(PyList_GET_SIZE(list)));
  // Python code run by an element's conversion may change the list; the
  // end is checked again before every element, as its iterator would.
  for (Py_ssize_t i = 0;; ++i) {
    PyRef item = list_item(list, i);
    if (!item) return true;
    if (!convert(item.get(), items.emplace_back(), depth)) return false;
  }
}

VINTREL_NOINLINE bool fill_from_tuple(PyObject* tuple, PyJsonValue::array_type& items, unsigned depth) {
  Py_ssize_t n = PyTuple_GET_SIZE(tuple);
  items.reserve(static_cast<size_t>(n));
  for (Py_ssize_t i = 0; i < n; ++i) {
    if (!convert(PyTuple_GET_ITEM(tuple, i), items.emplace_back(), depth)) return false;
  }
  return true;
}

VINTREL_NOINLINE bool fill_from_iteration(PyObject* obj, PyJsonValue::array_type& items, unsigned depth) {
  Py_ssize_t n = PySequence_Size(obj);
  if (n < 0) PyErr_Clear();
  PyRef it = PyRef::steal(PyObject_GetIter(obj));
  if (!it) return false;
  items.reserve(bounded_reserve(n));
  for (;;) {
    PyRef item;
    int r = iter_next(it.get(), item);
    if (r <= 0) return r == 0;
    if (!convert(item.get(), items.emplace_back(), depth)) return false;
  }
}

VINTREL_NOINLINE bool convert_sequence(PyObject* obj, PyJsonValue& out, unsigned depth) {
  if (depth >= kMaxJsonDepth) return too_deep();
  out = PyJsonValue::Array({});
  PyJsonValue::array_type& items = *out.as_array_mut();
  if (PyList_CheckExact(obj)) return fill_from_list(obj, items, depth + 1);
  if (PyTuple_CheckExact(obj)) return fill_from_tuple(obj, items, depth + 1);
  return fill_from_iteration(obj, items, depth + 1);
}

// The entry under `k`, fetched by item access and converted into `map`.
[[gnu::always_inline]] inline bool fill_entry(PyObject* obj, PyObject* k, PyJsonValue::object_type& map,
                                              std::string& key, unsigned depth) {
  if (!key_text(k, key)) return false;
  PyRef v = PyRef::steal(PyObject_GetItem(obj, k));
  if (!v) return false;
  return convert(v.get(), map[key], depth);
}

// The keys are listed once and each value is fetched by item access, a
// dict's included: Python code run by a value's conversion may change the
// mapping, and then a deleted key fails as its item access does, a key
// added meanwhile is not taken, and the conversion always ends. An equal
// key text keeps its first place and takes the new value.
VINTREL_NOINLINE bool fill_from_mapping(PyObject* obj, PyJsonValue::object_type& map, unsigned depth) {
  PyRef keys = PyRef::steal(PyMapping_Keys(obj));
  if (!keys) return false;
  if (!PyList_Check(keys.get())) {
    keys = PyRef::steal(PySequence_List(keys.get()));
    if (!keys) return false;
  }
  map.reserve(bounded_reserve(PyList_GET_SIZE(keys.get())));
  std::string key;
  // The list may be the mapping's own, changed as it is read.
  for (Py_ssize_t i = 0;; ++i) {
    PyRef k = list_item(keys.get(), i);
    if (!k) return true;
    if (!fill_entry(obj, k.get(), map, key, depth)) return false;
  }
}

// An exact dict as any mapping, but its keys come straight from its
// storage, each held by a reference of our own: a list of them would be a
// container made, and on 3.11 making one may run the cyclic collector and
// so any finaliser, which could change the data mid-copy. Data of exact
// types is thus copied without running any Python code, as it stood at
// one moment.
VINTREL_NOINLINE bool fill_from_dict(PyObject* dict, PyJsonValue::object_type& map, unsigned depth) {
  std::vector<PyRef> keys;
  keys.reserve(static_cast<size_t>(PyDict_GET_SIZE(dict)));
  {
    Py_ssize_t pos = 0;
    PyRef k, v;
    while (dict_next(dict, &pos, k, v)) keys.push_back(std::move(k));
  }
  map.reserve(keys.size());
  std::string key;
  for (const PyRef& k : keys)
    if (!fill_entry(dict, k.get(), map, key, depth)) return false;
  return true;
}

VINTREL_NOINLINE bool convert_mapping(PyObject* obj, PyJsonValue& out, unsigned depth) {
  if (depth >= kMaxJsonDepth) return too_deep();
  out = PyJsonValue::Object({});
  PyJsonValue::object_type& map = *out.as_object_mut();
  if (PyDict_CheckExact(obj)) return fill_from_dict(obj, map, depth + 1);
  return fill_from_mapping(obj, map, depth + 1);
}

// The full rule list, in order, for objects that no exact-type fast path
// settled. Errors of the scalar tests are discarded.
VINTREL_NOINLINE bool convert_general(PyObject* obj, PyJsonValue& out, unsigned depth) {
  PyTypeObject* t = Py_TYPE(obj);
  if (obj == Py_None) {
    out = PyJsonValue::Null();
    return true;
  }
  if (t == &PyBool_Type) {
    out = PyJsonValue::Bool(obj == Py_True);
    return true;
  }
  // The type is held while it is asked for its name and module, which may
  // run Python code that gives the object another class.
  if (PyRef type = PyRef::borrow(reinterpret_cast<PyObject*>(t)); is_numpy_bool_type(t)) {
    inquiry truth = t->tp_as_number ? t->tp_as_number->nb_bool : nullptr;
    if (truth) {
      int r = truth(obj);
      if (r >= 0) {
        out = PyJsonValue::Bool(r != 0);
        return true;
      }
      PyErr_Clear();
    }
  }
  {
    unsigned long long u = static_cast<unsigned long long>(-1);
    bool failed = true;
    if (PyLong_Check(obj)) {
      u = PyLong_AsUnsignedLongLong(obj);
      failed = u == static_cast<unsigned long long>(-1) && PyErr_Occurred();
    } else if (PyRef index = PyRef::steal(PyNumber_Index(obj))) {
      u = PyLong_AsUnsignedLongLong(index.get());
      failed = u == static_cast<unsigned long long>(-1) && PyErr_Occurred();
    }
    if (!failed) {
      out = PyJsonValue::UInt(u);
      return true;
    }
    PyErr_Clear();
  }
  {
    long long i = PyLong_AsLongLong(obj);
    if (!(i == -1 && PyErr_Occurred())) {
      out = PyJsonValue::Int(i);
      return true;
    }
    PyErr_Clear();
  }
  {
    double d = PyFloat_CheckExact(obj) ? PyFloat_AS_DOUBLE(obj) : PyFloat_AsDouble(obj);
    if (!(d == -1.0 && PyErr_Occurred())) {
      out = PyJsonValue::Float(d);
      return true;
    }
    PyErr_Clear();
  }
  if (PyUnicode_Check(obj)) return convert_str(obj, out);
  if (PyList_Check(obj) || PyTuple_Check(obj) || is_abc_instance(obj, g_abc_sequence))
    return convert_sequence(obj, out, depth);
  if (PyDict_Check(obj) || is_abc_instance(obj, g_abc_mapping)) return convert_mapping(obj, out, depth);
  return unsupported(obj);
}

// `depth` counts the lists and dicts around `obj`. Exact built-in types
// are settled first, each by the one rule that can apply to it.
bool convert(PyObject* obj, PyJsonValue& out, unsigned depth) {
  switch (exact_type(obj)) {
    case ExactType::Str: return convert_str(obj, out);
    case ExactType::Int:
      if (convert_exact_int(obj, out)) return true;
      return convert_general(obj, out, depth);  // too large: the general rules decide
    case ExactType::Float: out = PyJsonValue::Float(PyFloat_AS_DOUBLE(obj)); return true;
    case ExactType::Bool: out = PyJsonValue::Bool(obj == Py_True); return true;
    case ExactType::None: out = PyJsonValue::Null(); return true;
    case ExactType::List:
    case ExactType::Tuple: return convert_sequence(obj, out, depth);
    case ExactType::Dict: return convert_mapping(obj, out, depth);
    case ExactType::Other: break;
  }
  return convert_general(obj, out, depth);
}

}  // namespace

bool PyJsonValue::extract(PyObject* obj, PyJsonValue& out) { return convert(obj, out, 0); }

bool extract_argument(PyObject* obj, const char* arg_name, PyJsonValue& out) {
  if (convert(obj, out, 0)) return true;
  prefix_argument_type_error(arg_name);
  return false;
}

bool extract_bindings(PyObject* dict, NameMap<Cow<PyJsonValue>>& out) {
  if (!PyDict_Check(dict)) {
    raise_argument_type("bindings", "dict", dict);
    return false;
  }
  Py_ssize_t n = PyDict_GET_SIZE(dict);
  if (n > 0) out.reserve(static_cast<size_t>(n));
  // Straight from the dict's own storage: a subclass's item access and
  // iteration are not used. Python code run by a conversion may change the
  // dict; no more entries are read than it had, so the call always ends.
  Py_ssize_t pos = 0;
  PyRef k, v;
  std::string key;
  for (Py_ssize_t read = 0; read < n && dict_next(dict, &pos, k, v); ++read) {
    bool ok = key_text(k.get(), key);
    if (ok) {
      auto [entry, fresh] = out.emplace(key, Cow<PyJsonValue>::Owned(PyJsonValue()));
      PyJsonValue& slot = *entry->second.owned_mut();
      if (!fresh) slot = PyJsonValue();  // a later value for the same name wins
      ok = convert(v.get(), slot, 0);
    }
    if (!ok) {
      prefix_argument_type_error("bindings");
      return false;
    }
  }
  return true;
}

}  // namespace vintrel::py
