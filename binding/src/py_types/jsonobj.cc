#include "py_types/jsonobj.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "errors.h"
#include "once.h"

namespace vintrel::py {

// ---- engine-facing accessors and debug text ----

std::optional<std::string_view> PyJsonValue::as_str() const noexcept {
  if (const auto* s = std::get_if<std::string>(&v_)) return std::string_view(*s);
  return std::nullopt;
}

std::optional<std::string> PyJsonValue::into_string() && {
  if (auto* s = std::get_if<std::string>(&v_)) return std::move(*s);
  return std::nullopt;
}

std::optional<PyJsonValue::array_type> PyJsonValue::into_array() && {
  if (auto* a = std::get_if<array_type>(&v_)) return std::move(*a);
  return std::nullopt;
}

std::optional<PyJsonValue::object_type> PyJsonValue::into_object() && {
  if (auto* o = std::get_if<object_type>(&v_)) return std::move(*o);
  return std::nullopt;
}

void PyJsonValue::debug_fmt(std::string& out) const {
  switch (kind()) {
    case Kind::Null:
      out += "Null";
      return;
    case Kind::Bool:
      out += *std::get_if<bool>(&v_) ? "Bool(true)" : "Bool(false)";
      return;
    case Kind::UInt:
      out.append("UInt(").append(std::to_string(*std::get_if<uint64_t>(&v_))).push_back(')');
      return;
    case Kind::Int:
      out.append("Int(").append(std::to_string(*std::get_if<int64_t>(&v_))).push_back(')');
      return;
    case Kind::Float:
      out += "Float(";
      float_debug_fmt(*std::get_if<double>(&v_), out);
      out += ')';
      return;
    case Kind::String:
      out += "String(";
      quoted_debug_fmt(*std::get_if<std::string>(&v_), out);
      out += ')';
      return;
    case Kind::Array: {
      out += "Array([";
      bool first = true;
      for (const auto& e : *std::get_if<array_type>(&v_)) {
        if (!first) out += ", ";
        first = false;
        e.debug_fmt(out);
      }
      out += "])";
      return;
    }
    case Kind::Object: {
      out += "Object({";
      bool first = true;
      for (const auto& [k, e] : *std::get_if<object_type>(&v_)) {
        if (!first) out += ", ";
        first = false;
        quoted_debug_fmt(k, out);
        out += ": ";
        e.debug_fmt(out);
      }
      out += "})";
      return;
    }
  }
}

std::string PyJsonValue::debug_string() const {
  std::string s;
  debug_fmt(s);
  return s;
}

PyJsonValue PyJsonValue::from(Value v) {
  switch (v.kind()) {
    case Value::Kind::Int:
      return Int(v.as_int());
    case Value::Kind::Float:
      return Float(v.as_float());
    case Value::Kind::Bool:
      return Bool(v.as_bool());
    case Value::Kind::String:
      return String(std::move(*std::get_if<CowStr>(&v.v)).into_owned());
    case Value::Kind::Array: {
      array_type items;
      items.reserve(v.as_array().size());
      for (Value& e : v.as_array()) items.push_back(from(std::move(e)));
      return Array(std::move(items));
    }
    case Value::Kind::Object: {
      object_type map;
      map.reserve(v.as_object().size());
      for (auto& [k, e] : v.as_object()) map.insert_or_assign(std::move(k), from(std::move(e)));
      return Object(std::move(map));
    }
    case Value::Kind::Null:
      break;
  }
  return Null();
}

// ---- from Python ----

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

// The UTF-8 text of a str (or subclass), borrowed from the object, which
// keeps it for its life. False with the encoding error set for a lone
// surrogate.
inline bool str_text(PyObject* s, std::string_view& out) {
  if (PyUnicode_IS_COMPACT_ASCII(s)) {
    out = std::string_view(static_cast<const char*>(PyUnicode_DATA(s)), static_cast<size_t>(PyUnicode_GET_LENGTH(s)));
    return true;
  }
  Py_ssize_t n;
  const char* p = PyUnicode_AsUTF8AndSize(s, &n);
  if (!p) return false;
  out = std::string_view(p, static_cast<size_t>(n));
  return true;
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

// How an exact int is held: unsigned when it fits, else signed, else the
// nearest float; TooLarge (no error set) when not even a float holds it.
struct ExactInt {
  enum Form : uint8_t { Unsigned, Signed, Double, TooLarge } form;
  uint64_t u = 0;
  int64_t i = 0;
  double d = 0;
};

ExactInt read_exact_int(PyObject* obj) {
#if PY_VERSION_HEX >= 0x030C0000
  if (auto* l = reinterpret_cast<PyLongObject*>(obj); PyUnstable_Long_IsCompact(l)) {
    int64_t v = PyUnstable_Long_CompactValue(l);
    if (v >= 0) return {ExactInt::Unsigned, static_cast<uint64_t>(v)};
    return {ExactInt::Signed, 0, v};
  }
#endif
  int overflow = 0;
  long long i = PyLong_AsLongLongAndOverflow(obj, &overflow);
  if (overflow == 0) {
    if (i == -1 && PyErr_Occurred()) {
      PyErr_Clear();
      return {ExactInt::TooLarge};
    }
    if (i >= 0) return {ExactInt::Unsigned, static_cast<uint64_t>(i)};
    return {ExactInt::Signed, 0, i};
  }
  if (overflow > 0) {
    unsigned long long u = PyLong_AsUnsignedLongLong(obj);
    if (!(u == static_cast<unsigned long long>(-1) && PyErr_Occurred())) return {ExactInt::Unsigned, u};
    PyErr_Clear();
  }
  double d = PyLong_AsDouble(obj);
  if (d == -1.0 && PyErr_Occurred()) {
    PyErr_Clear();
    return {ExactInt::TooLarge};
  }
  return {ExactInt::Double, 0, 0, d};
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

// An equal key text keeps its first place and takes the new value.
VINTREL_NOINLINE bool fill_from_dict(PyObject* dict, PyJsonValue::object_type& map, unsigned depth) {
  map.reserve(bounded_reserve(PyDict_GET_SIZE(dict)));
  Py_ssize_t pos = 0;
  PyRef k, v;
  std::string key;
  while (dict_next(dict, &pos, k, v)) {
    if (!key_text(k.get(), key)) return false;
    if (!convert(v.get(), map[key], depth)) return false;
  }
  return true;
}

VINTREL_NOINLINE bool fill_from_mapping(PyObject* obj, PyJsonValue::object_type& map, unsigned depth) {
  PyRef keys = PyRef::steal(PyMapping_Keys(obj));
  if (!keys) return false;
  if (!PyList_Check(keys.get())) {
    keys = PyRef::steal(PySequence_List(keys.get()));
    if (!keys) return false;
  }
  map.reserve(bounded_reserve(PyList_GET_SIZE(keys.get())));
  std::string key;
  for (Py_ssize_t i = 0;; ++i) {
    PyRef k = list_item(keys.get(), i);
    if (!k) return true;
    if (!key_text(k.get(), key)) return false;
    PyRef v = PyRef::steal(PyObject_GetItem(obj, k.get()));
    if (!v) return false;
    if (!convert(v.get(), map[key], depth)) return false;
  }
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
  if (is_numpy_bool_type(t)) {
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
  PyTypeObject* t = Py_TYPE(obj);
  if (t == &PyUnicode_Type) return convert_str(obj, out);
  if (t == &PyLong_Type) {
    if (convert_exact_int(obj, out)) return true;
    return convert_general(obj, out, depth);
  }
  if (obj == Py_None) {
    out = PyJsonValue::Null();
    return true;
  }
  if (t == &PyBool_Type) {
    out = PyJsonValue::Bool(obj == Py_True);
    return true;
  }
  if (t == &PyFloat_Type) {
    out = PyJsonValue::Float(PyFloat_AS_DOUBLE(obj));
    return true;
  }
  if (t == &PyDict_Type) return convert_mapping(obj, out, depth);
  if (t == &PyList_Type || t == &PyTuple_Type) return convert_sequence(obj, out, depth);
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
  if (Py_ssize_t n = PyDict_GET_SIZE(dict); n > 0) out.reserve(static_cast<size_t>(n));
  // Straight from the dict's own storage: a subclass's item access and
  // iteration are not used.
  Py_ssize_t pos = 0;
  PyRef k, v;
  std::string key;
  while (dict_next(dict, &pos, k, v)) {
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

// ---- reading data where it is ----

namespace {

bool readable(PyObject* obj, unsigned depth);

bool str_readable(PyObject* s) {
  std::string_view text;
  if (str_text(s, text)) return true;
  PyErr_Clear();
  return false;
}

// Every key an exact str with a UTF-8 form, every value readable at `depth`.
// Reads a dict subclass's own storage.
bool readable_entries(PyObject* dict, unsigned depth) {
  Py_ssize_t pos = 0;
  PyObject *k, *v;
  while (PyDict_Next(dict, &pos, &k, &v))
    if (!PyUnicode_CheckExact(k) || !str_readable(k) || !readable(v, depth)) return false;
  return true;
}

// Mirrors the depth rule of the copy: a container at `depth` is refused
// where the copy would raise.
VINTREL_NOINLINE bool readable_container(PyObject* obj, unsigned depth) {
  if (depth >= kMaxJsonDepth) return false;
  PyTypeObject* t = Py_TYPE(obj);
  if (t == &PyList_Type || t == &PyTuple_Type) {
    Py_ssize_t n = PySequence_Fast_GET_SIZE(obj);
    PyObject** items = PySequence_Fast_ITEMS(obj);
    for (Py_ssize_t i = 0; i < n; ++i)
      if (!readable(items[i], depth + 1)) return false;
    return true;
  }
  return readable_entries(obj, depth + 1);
}

// An exact int that fits a machine word, told without a call.
inline bool is_small_int(PyObject* obj) {
#if PY_VERSION_HEX >= 0x030C0000
  return PyUnstable_Long_IsCompact(reinterpret_cast<PyLongObject*>(obj));
#else
  // Up to two 30-bit digits.
  Py_ssize_t size = Py_SIZE(obj);
  return size >= -2 && size <= 2;
#endif
}

bool readable(PyObject* obj, unsigned depth) {
  PyTypeObject* t = Py_TYPE(obj);
  if (t == &PyUnicode_Type) return str_readable(obj);
  if (t == &PyLong_Type) return is_small_int(obj) || read_exact_int(obj).form != ExactInt::TooLarge;
  if (t == &PyFloat_Type || t == &PyBool_Type || obj == Py_None) return true;
  if (t == &PyDict_Type || t == &PyList_Type || t == &PyTuple_Type) return readable_container(obj, depth);
  return false;
}

// The value under `key` (the Python form of `name`, or null) in a dict of
// str keys: borrowed, or null when absent.
PyObject* dict_get(PyObject* dict, const std::string& name, PyObject* key) {
  PyRef made;
  if (!key) {
    made = PyRef::steal(PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size())));
    if (!made) {
      PyErr_Clear();
      throw std::bad_alloc();
    }
    key = made.get();
  }
  // Exact str keys compare without Python code, so nothing can fail here.
  return PyDict_GetItemWithError(dict, key);
}

PyObject* element(PyObject* seq, uint64_t index) {
  if (!PyList_CheckExact(seq) && !PyTuple_CheckExact(seq)) return nullptr;
  if (index >= static_cast<uint64_t>(PySequence_Fast_GET_SIZE(seq))) return nullptr;
  return PySequence_Fast_ITEMS(seq)[index];
}

// names[from..] from `cur`; null at the first step that fails.
PyObject* walk_in_place(PyObject* cur, const std::vector<VarName>& names, size_t from, PyObject* const* keys) {
  for (size_t i = from; i < names.size(); ++i) {
    if (!PyDict_CheckExact(cur)) return nullptr;
    cur = dict_get(cur, names[i].name, keys ? keys[i] : nullptr);
    if (!cur) return nullptr;
    if (names[i].index && !(cur = element(cur, *names[i].index))) return nullptr;
  }
  return cur;
}

// A failed walk is walked again over a copy, which words the failure; the
// copy is only made on this path.
[[gnu::cold, gnu::noinline]] VarAccessError failure_on_copy(PyObject* root, const std::vector<VarName>& names,
                                                           bool first_resolved) {
  PyJsonValue copy;
  if (!PyJsonValue::extract(root, copy)) {
    PyErr_Clear();
    panic("Checked data failed to convert");
  }
  auto found = VarAccess::access_names(names, copy, first_resolved);
  if (found) panic("A path failed on data but not on its copy");
  return std::move(found).error();
}

}  // namespace

bool readable_in_place(PyObject* obj) { return readable(obj, 0); }

bool bindings_readable_in_place(PyObject* dict) { return readable_entries(dict, 0); }

PathKeys::~PathKeys() {
  for (PyObject* k : keys_) Py_DECREF(k);
}

bool PathKeys::add(const VarAccess& var) {
  if (!add_unsorted(var)) return false;
  std::sort(vars_.begin(), vars_.end());
  return true;
}

bool PathKeys::add_unsorted(const VarAccess& var) {
  vars_.emplace_back(&var, keys_.size());
  for (const VarName& n : var.names) {
    PyObject* key = PyUnicode_FromStringAndSize(n.name.data(), static_cast<Py_ssize_t>(n.name.size()));
    if (!key) return false;
    // Not interned: that would enter every compiled name into the
    // interpreter's own table of interned text (for good, on 3.12).
    keys_.push_back(key);
    // Hashed now, so that no look-up hashes it again.
    if (PyObject_Hash(key) == -1) return false;
  }
  return true;
}

bool PathKeys::add_all(const Exp& root) {
  std::vector<const Exp*> todo{&root};
  while (!todo.empty()) {
    const Exp* e = todo.back();
    todo.pop_back();
    switch (e->kind()) {
      case Exp::Kind::Value:
        break;
      case Exp::Kind::Variable:
        if (!add_unsorted(e->as_variable())) return false;
        break;
      case Exp::Kind::Function:
        for (const Exp& a : e->as_function().args) todo.push_back(&a);
        break;
      case Exp::Kind::Not:
        todo.push_back(&e->operand());
        break;
      case Exp::Kind::Array:
        for (const Exp& a : e->as_array()) todo.push_back(&a);
        break;
      case Exp::Kind::Object:
        for (const auto& [k, a] : e->as_object()) todo.push_back(&a);
        break;
      default:  // the binary operators
        todo.push_back(&e->right());
        todo.push_back(&e->left());
        break;
    }
  }
  std::sort(vars_.begin(), vars_.end());
  return true;
}

PyObject* const* PathKeys::find(const VarAccess& var) const noexcept {
  auto it = std::lower_bound(vars_.begin(), vars_.end(), &var,
                             [](const auto& entry, const VarAccess* v) { return entry.first < v; });
  if (it == vars_.end() || it->first != &var) return nullptr;
  return keys_.data() + it->second;
}

Expected<PyObject*, VarAccessError> access_in_place(PyObject* value, const std::vector<VarName>& names,
                                                    PyObject* const* keys) {
  if (names.empty()) detail::panic_empty_path();
  if (PyObject* found = walk_in_place(value, names, 0, keys)) return found;
  return unexpected(failure_on_copy(value, names, false));
}

Expected<PyObject*, VarAccessError> access_bindings_in_place(PyObject* dict, const VarAccess& var,
                                                             PyObject* const* keys, BindingMemo* memo) {
  const std::vector<VarName>& names = var.names;
  if (names.empty()) detail::panic_empty_path();
  PyObject* bound;
  if (memo && memo->name && *memo->name == names[0].name) {
    bound = memo->bound;
  } else {
    bound = dict_get(dict, names[0].name, keys ? keys[0] : nullptr);
    if (memo) *memo = {&names[0].name, bound};
  }
  if (!bound) return unexpected(VarAccessError::not_found(names[0].name));
  PyObject* cur = bound;
  if (names[0].index) cur = element(bound, *names[0].index);
  if (cur) cur = walk_in_place(cur, names, 1, keys);
  if (cur) return cur;
  return unexpected(failure_on_copy(bound, names, true));
}

namespace {

// An open container of value_in_place: its source, how far it is read, and
// the Value (already of the right kind, reserved to its size) it fills.
struct InPlaceFrame {
  PyObject* src;
  Py_ssize_t pos;
  Value* out;
};

// Converts a scalar into `out`, or makes `out` an empty container and
// pushes the frame that fills it.
void open_in_place(PyObject* obj, Value& out, detail::SmallStack<InPlaceFrame, 8>& frames) {
  PyTypeObject* t = Py_TYPE(obj);
  if (t == &PyUnicode_Type) {
    std::string_view text;
    if (!str_text(obj, text)) {
      PyErr_Clear();
      panic("Checked text has no UTF-8 form");
    }
    out.v.emplace<CowStr>(CowStr::Borrowed(text));
  } else if (t == &PyLong_Type) {
    // As the copy holds it and the engine then reads it.
    ExactInt n = read_exact_int(obj);
    switch (n.form) {
      case ExactInt::Unsigned:
        if (n.u <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
          out.v.emplace<int64_t>(static_cast<int64_t>(n.u));
        else
          out.v.emplace<double>(static_cast<double>(n.u));
        break;
      case ExactInt::Signed:
        out.v.emplace<int64_t>(n.i);
        break;
      case ExactInt::Double:
        out.v.emplace<double>(n.d);
        break;
      case ExactInt::TooLarge:
        panic("Checked int does not convert");
    }
  } else if (t == &PyFloat_Type) {
    out.v.emplace<double>(PyFloat_AS_DOUBLE(obj));
  } else if (t == &PyBool_Type) {
    out.v.emplace<bool>(obj == Py_True);
  } else if (obj == Py_None) {
    // `out` is null already
  } else if (t == &PyList_Type || t == &PyTuple_Type) {
    out.v.emplace<ValueArray>().reserve(static_cast<size_t>(PySequence_Fast_GET_SIZE(obj)));
    frames.emplace_back(InPlaceFrame{obj, 0, &out});
  } else if (t == &PyDict_Type) {
    out.v.emplace<ValueObject>().reserve(static_cast<size_t>(PyDict_GET_SIZE(obj)));
    frames.emplace_back(InPlaceFrame{obj, 0, &out});
  } else {
    panic("Unchecked data read in place");
  }
}

}  // namespace

void value_in_place(PyObject* root, Value& result) {
  detail::SmallStack<InPlaceFrame, 8> frames;
  open_in_place(root, result, frames);
  while (!frames.empty()) {
    InPlaceFrame& f = frames.back();
    PyObject* child;
    Value* slot;
    if (f.out->is_array()) {
      if (f.pos == PySequence_Fast_GET_SIZE(f.src)) {
        frames.drop(1);
        continue;
      }
      child = PySequence_Fast_ITEMS(f.src)[f.pos++];
      slot = &f.out->as_array().emplace_back();
    } else {
      PyObject* key;
      if (!PyDict_Next(f.src, &f.pos, &key, &child)) {
        detail::sort_object_entries(f.out->as_object());
        frames.drop(1);
        continue;
      }
      std::string_view text;
      if (!str_text(key, text)) {
        PyErr_Clear();
        panic("Checked text has no UTF-8 form");
      }
      // Kept in the dict's order until the object is complete, then sorted once.
      ValueObject& obj = f.out->as_object();
      obj.push_back_sorted(std::string(text), Value());
      slot = &(obj.end() - 1)->second;
    }
    open_in_place(child, *slot, frames);  // may move `f`; it is not used again
  }
}

// ---- to Python ----

namespace {

// A new list of the converted elements; null with the error set.
template <class Seq, class F>
PyObject* list_from(const Seq& items, F&& to_py) {
  PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(items.size())));
  if (!list) return nullptr;
  Py_ssize_t i = 0;
  for (const auto& e : items) {
    PyObject* item = to_py(e);
    if (!item) return nullptr;
    PyList_SET_ITEM(list.get(), i++, item);
  }
  return list.release();
}

// A new dict of the converted entries in their order: each value first,
// then its key.
template <class Map, class F>
PyObject* dict_from(const Map& entries, F&& to_py) {
  PyRef dict = PyRef::steal(PyDict_New());
  if (!dict) return nullptr;
  for (const auto& [k, e] : entries) {
    PyRef value = PyRef::steal(to_py(e));
    if (!value) return nullptr;
    PyRef key = PyRef::steal(PyUnicode_FromStringAndSize(k.data(), static_cast<Py_ssize_t>(k.size())));
    if (!key || PyDict_SetItem(dict.get(), key.get(), value.get()) < 0) return nullptr;
  }
  return dict.release();
}

PyObject* str_from(std::string_view s) {
  return PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size()));
}

}  // namespace

PyObject* json_to_pyobject(const PyJsonValue& v) {
  const auto& s = v.storage();
  switch (v.kind()) {
    case PyJsonValue::Kind::Null:
      return Py_NewRef(Py_None);
    case PyJsonValue::Kind::Bool:
      return PyBool_FromLong(*std::get_if<bool>(&s));
    case PyJsonValue::Kind::UInt:
      return PyLong_FromUnsignedLongLong(*std::get_if<uint64_t>(&s));
    case PyJsonValue::Kind::Int:
      return PyLong_FromLongLong(*std::get_if<int64_t>(&s));
    case PyJsonValue::Kind::Float:
      return PyFloat_FromDouble(*std::get_if<double>(&s));
    case PyJsonValue::Kind::String:
      return str_from(*std::get_if<std::string>(&s));
    case PyJsonValue::Kind::Array:
      return list_from(*std::get_if<PyJsonValue::array_type>(&s), json_to_pyobject);
    case PyJsonValue::Kind::Object:
      return dict_from(*std::get_if<PyJsonValue::object_type>(&s), json_to_pyobject);
  }
  return Py_NewRef(Py_None);
}

PyObject* PyJsonValue::into_pyobject() && { return json_to_pyobject(*this); }

PyObject* value_to_pyobject(const Value& v) {
  switch (v.kind()) {
    case Value::Kind::Int:
      return PyLong_FromLongLong(v.as_int());
    case Value::Kind::Float:
      return PyFloat_FromDouble(v.as_float());
    case Value::Kind::Bool:
      return PyBool_FromLong(v.as_bool());
    case Value::Kind::String:
      return str_from(v.as_str());
    case Value::Kind::Array:
      return list_from(v.as_array(), value_to_pyobject);
    case Value::Kind::Object:
      return dict_from(v.as_object(), value_to_pyobject);
    case Value::Kind::Null:
      break;
  }
  return Py_NewRef(Py_None);
}

}  // namespace vintrel::py
