#include "py_types/dict_entries.h"

#include <vector>

namespace vintrel::py {

#ifdef VINTREL_DICT_TABLE_LAYOUT
namespace detail {
bool g_table_layout_confirmed = false;
}

namespace {

using detail::DictKeysHead;

// True when the table of `dict`, read as laid out above, lists the same
// entries as PyDict_Next. The head is checked for sense before anything
// behind it is read, and entries are compared as pointers only.
bool table_agrees(PyObject* dict) {
  std::vector<PyObject*> expected;
  Py_ssize_t pos = 0;
  PyObject *k, *v;
  while (PyDict_Next(dict, &pos, &k, &v)) {
    expected.push_back(k);
    expected.push_back(v);
  }
  if (reinterpret_cast<PyDictObject*>(dict)->ma_values != nullptr) return false;
  const DictKeysHead* head = detail::keys_head(dict);
  if (!head || head->kind > 1 || head->log2_size < 3 || head->log2_size > 40) return false;
  if (head->log2_index_bytes < head->log2_size || head->log2_index_bytes > head->log2_size + 3) return false;
  Py_ssize_t capacity = Py_ssize_t{1} << head->log2_size;
  if (head->nentries < PyDict_GET_SIZE(dict) || head->nentries > capacity) return false;
  const char* raw = reinterpret_cast<const char*>(head + 1) + (size_t{1} << head->log2_index_bytes);
  std::vector<PyObject*> seen;
  auto collect = [&](PyObject* key, PyObject* value) {
    seen.push_back(key);
    seen.push_back(value);
    return true;
  };
  if (head->kind == 1)
    detail::visit_table<detail::StrKeyEntry>(raw, head->nentries, PyDict_GET_SIZE(dict), collect);
  else
    detail::visit_table<detail::AnyKeyEntry>(raw, head->nentries, PyDict_GET_SIZE(dict), collect);
  return seen == expected;
}

// A dict of `n` entries keyed by text (or, with `int_key`, one int key
// first), every third one removed again.
PyRef test_dict(int n, bool int_key) {
  PyRef d = PyRef::steal(PyDict_New());
  if (!d) return d;
  if (int_key) {
    PyRef one = PyRef::steal(PyLong_FromLong(1));
    if (!one || PyDict_SetItem(d.get(), one.get(), Py_None) < 0) return PyRef();
  }
  for (int i = 0; i < n; ++i) {
    PyRef key = PyRef::steal(PyUnicode_FromFormat("k%d", i));
    PyRef value = PyRef::steal(PyLong_FromLong(i));
    if (!key || !value || PyDict_SetItem(d.get(), key.get(), value.get()) < 0) return PyRef();
  }
  for (int i = 1; i < n; i += 3) {
    PyRef key = PyRef::steal(PyUnicode_FromFormat("k%d", i));
    if (!key || PyDict_DelItem(d.get(), key.get()) < 0) return PyRef();
  }
  return d;
}

}  // namespace

bool init_dict_entries() {
  // Small and large indexes (one and two bytes wide), both kinds of key.
  const struct {
    int n;
    bool int_key;
  } cases[] = {{5, false}, {5, true}, {400, false}, {400, true}};
  bool agrees = true;
  for (const auto& c : cases) {
    PyRef d = test_dict(c.n, c.int_key);
    if (!d) return false;
    agrees = agrees && table_agrees(d.get());
  }
  detail::g_table_layout_confirmed = agrees;
  return true;
}
#else
bool init_dict_entries() { return true; }
#endif

}  // namespace vintrel::py
