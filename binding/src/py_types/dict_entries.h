// A dict's entries in order, read without a call per entry.
//
// PyDict_Next costs some forty instructions per entry, more than the check
// of a scalar value. On the interpreters this module knows (3.11 to 3.14,
// with the GIL) a dict whose keys and values share one table keeps its
// entries as one array behind its index, and that array is read directly.
// The layout is confirmed once at start-up against PyDict_Next; any other
// dict (split tables, other builds, a layout that did not confirm) goes
// through PyDict_Next.
#pragma once

#include "py_handle.h"

#include <cstddef>
#include <cstdint>

#if !defined(Py_GIL_DISABLED) && PY_VERSION_HEX >= 0x030B0000 && PY_VERSION_HEX < 0x030F0000
#define VINTREL_DICT_TABLE_LAYOUT 1
#endif

namespace vintrel::py {

// Confirms the table layout against PyDict_Next; called once, attached to
// the interpreter, before any dict is read. False with an error set only
// when a test dict cannot be made.
bool init_dict_entries();

namespace detail {

#ifdef VINTREL_DICT_TABLE_LAYOUT
// The fixed head of a dict's key table; its index follows it, then the
// entries.
struct DictKeysHead {
  Py_ssize_t refcnt;
  uint8_t log2_size;
  uint8_t log2_index_bytes;
  uint8_t kind;  // 0: any keys, with their hashes; 1: str keys only; 2: split
  uint32_t version;
  Py_ssize_t usable;
  Py_ssize_t nentries;
};
struct StrKeyEntry {
  PyObject* key;
  PyObject* value;
};
struct AnyKeyEntry {
  Py_hash_t hash;
  PyObject* key;
  PyObject* value;
};

extern bool g_table_layout_confirmed;

inline const DictKeysHead* keys_head(PyObject* dict) {
  return reinterpret_cast<const DictKeysHead*>(reinterpret_cast<PyDictObject*>(dict)->ma_keys);
}

// The table's entries, removed ones (null value) included, or null when
// the dict must be read through PyDict_Next.
inline const char* table_entries(PyObject* dict, Py_ssize_t& count, bool& str_keys) {
  if (!g_table_layout_confirmed || reinterpret_cast<PyDictObject*>(dict)->ma_values != nullptr) return nullptr;
  const DictKeysHead* head = keys_head(dict);
  if (head->kind > 1) return nullptr;
  count = head->nentries;
  str_keys = head->kind == 1;
  return reinterpret_cast<const char*>(head + 1) + (size_t{1} << head->log2_index_bytes);
}

template <class Entry, class F>
inline bool visit_table(const char* raw, Py_ssize_t count, Py_ssize_t left, F& f) {
  const auto* e = reinterpret_cast<const Entry*>(raw);
  for (Py_ssize_t i = 0; i < count && left > 0; ++i) {
    if (!e[i].value) continue;
    --left;
    if (!f(e[i].key, e[i].value)) return false;
  }
  return true;
}
#endif

}  // namespace detail

// Calls f(key, value) for each entry of `dict` (an exact dict or a
// subclass, read from its own storage) in order, no further than the
// entries it holds now; stops at the first f that returns false, and then
// returns false. Nothing may change the dict meanwhile: f must run no
// Python code.
template <class F>
inline bool for_each_dict_entry(PyObject* dict, F&& f) {
  Py_ssize_t left = PyDict_GET_SIZE(dict);
#ifdef VINTREL_DICT_TABLE_LAYOUT
  Py_ssize_t count;
  bool str_keys;
  if (const char* raw = detail::table_entries(dict, count, str_keys))
    return str_keys ? detail::visit_table<detail::StrKeyEntry>(raw, count, left, f)
                    : detail::visit_table<detail::AnyKeyEntry>(raw, count, left, f);
#endif
  Py_ssize_t pos = 0;
  PyObject *k, *v;
  for (; left > 0 && PyDict_Next(dict, &pos, &k, &v); --left)
    if (!f(k, v)) return false;
  return true;
}

}  // namespace vintrel::py
