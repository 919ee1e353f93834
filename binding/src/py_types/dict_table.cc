#include "py_types/dict_table.h"

#include <vector>

namespace vintrel::py {

#ifdef VINTREL_DICT_TABLE_LAYOUT
namespace detail {
bool g_table_layout_confirmed = false;
}

namespace {

using detail::DictKeysHead;

// True when the head of the table of `dict` makes sense as laid out above;
// nothing behind it is read.
bool head_makes_sense(PyObject* dict) {
  if (reinterpret_cast<PyDictObject*>(dict)->ma_values != nullptr) return false;
  const DictKeysHead* head = detail::keys_head(dict);
  if (!head || head->kind > 1 || head->log2_size < 3 || head->log2_size > 40) return false;
  if (head->log2_index_bytes < head->log2_size || head->log2_index_bytes > head->log2_size + 3) return false;
  return head->nentries >= PyDict_GET_SIZE(dict) && head->nentries <= Py_ssize_t{1} << head->log2_size;
}

// The entries as the reader lists them.
std::vector<PyObject*> listed(PyObject* dict) {
  std::vector<PyObject*> out;
  for_each_dict_entry(dict, [&out](PyObject* k, PyObject* v) {
    out.push_back(k);
    out.push_back(v);
    return true;
  });
  return out;
}

// Whether every key "k0".."k{n+2}", as an equal str of its own and, where
// present, as the dict's own key object, is found as PyDict_GetItemWithError
// finds it.
bool lookups_agree(PyObject* dict, int n) {
  std::vector<PyObject*> entries = listed(dict);  // read while unconfirmed: through PyDict_Next
  for (size_t i = 0; i < entries.size(); i += 2) {
    detail::g_table_layout_confirmed = true;
    PyObject* found = dict_get_str(dict, entries[i]);
    detail::g_table_layout_confirmed = false;
    if (found != entries[i + 1]) return false;
  }
  for (int i = 0; i < n + 3; ++i) {
    PyRef key = PyRef::steal(PyUnicode_FromFormat("k%d", i));
    if (!key || PyObject_Hash(key.get()) == -1) {
      PyErr_Clear();
      return false;
    }
    PyObject* expected = PyDict_GetItemWithError(dict, key.get());
    detail::g_table_layout_confirmed = true;
    PyObject* found = dict_get_str(dict, key.get());
    detail::g_table_layout_confirmed = false;
    if (found != expected) return false;
  }
  return true;
}

// A dict of `n` entries keyed by text, every third one removed again (and,
// with `int_key`, an int key that was there first and is removed too, which
// leaves a table for keys of any type).
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
  if (int_key) {
    PyRef one = PyRef::steal(PyLong_FromLong(1));
    if (!one || PyDict_DelItem(d.get(), one.get()) < 0) return PyRef();
  }
  return d;
}

}  // namespace

bool init_dict_table() {
  // Small and large indexes (one and two bytes wide), both kinds of table.
  const struct {
    int n;
    bool int_key;
  } cases[] = {{5, false}, {5, true}, {400, false}, {400, true}};
  std::vector<PyRef> dicts;
  for (const auto& c : cases) {
    dicts.push_back(test_dict(c.n, c.int_key));
    if (!dicts.back()) return false;
  }
  bool agrees = true;
  for (const PyRef& d : dicts) agrees = agrees && head_makes_sense(d.get());
  for (size_t i = 0; agrees && i < dicts.size(); ++i) {
    PyObject* d = dicts[i].get();
    std::vector<PyObject*> expected = listed(d);  // through PyDict_Next
    detail::g_table_layout_confirmed = true;
    agrees = listed(d) == expected;
    detail::g_table_layout_confirmed = false;
    agrees = agrees && lookups_agree(d, cases[i].n);
  }
  detail::g_table_layout_confirmed = agrees;
  return true;
}
#else
bool init_dict_table() { return true; }
#endif

}  // namespace vintrel::py
