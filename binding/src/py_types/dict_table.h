// A dict's table read directly: its entries in order, and a look-up by
// an exact str key.
//
// PyDict_Next costs some forty instructions per entry, more than the check
// of a scalar value, and PyDict_GetItemWithError about a hundred where the
// key is the very object the dict holds. On the interpreters this module
// knows (3.11 to 3.14, with the GIL) a dict whose keys and values share one
// table keeps an index of entry positions, probed in a fixed order, and
// behind it its entries as one array; both are read directly. The layout
// and the probing are confirmed once at start-up against PyDict_Next and
// PyDict_GetItemWithError; any other dict (split tables, other builds, a
// layout that did not confirm) goes through those calls.
#pragma once

#include "py_handle.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

#if !defined(Py_GIL_DISABLED) && PY_VERSION_HEX >= 0x030B0000 && PY_VERSION_HEX < 0x030F0000
#define VINTREL_DICT_TABLE_LAYOUT 1
#endif

namespace vintrel::py {

// Confirms the table layout against PyDict_Next; called once, attached to
// the interpreter, before any dict is read. False with an error set only
// when a test dict cannot be made.
bool init_dict_table();

namespace detail {

#ifdef VINTREL_DICT_TABLE_LAYOUT
// The fixed head of a dict's key table; its index follows it, then the
// entries: {hash, key, value} for any keys, {key, value} for str keys only.
struct DictKeysHead {
  Py_ssize_t refcnt;
  uint8_t log2_size;
  uint8_t log2_index_bytes;
  uint8_t kind;  // 0: any keys; 1: str keys only; 2: split
  uint32_t version;
  Py_ssize_t usable;
  Py_ssize_t nentries;
};

extern bool g_table_layout_confirmed;

inline const DictKeysHead* keys_head(PyObject* dict) {
  return reinterpret_cast<const DictKeysHead*>(reinterpret_cast<PyDictObject*>(dict)->ma_keys);
}
inline const char* table_entries(const DictKeysHead* head) {
  return reinterpret_cast<const char*>(head + 1) + (size_t{1} << head->log2_index_bytes);
}
inline size_t entry_size(const DictKeysHead* head) { return head->kind == 0 ? 3 * sizeof(void*) : 2 * sizeof(void*); }

// The table of a dict that may be read directly, or null.
inline const DictKeysHead* readable_table(PyObject* dict) {
  if (!g_table_layout_confirmed || reinterpret_cast<PyDictObject*>(dict)->ma_values != nullptr) return nullptr;
  const DictKeysHead* head = keys_head(dict);
  return head->kind <= 1 ? head : nullptr;
}

// Slot `i` of the index: an entry position, or negative for an empty (-1)
// or a freed (-2) slot. Its width grows with the table.
inline Py_ssize_t index_slot(const DictKeysHead* head, size_t i) {
  const void* index = head + 1;
  switch (head->log2_index_bytes - head->log2_size) {
    case 0: return static_cast<const int8_t*>(index)[i];
    case 1: return static_cast<const int16_t*>(index)[i];
    case 2: return static_cast<const int32_t*>(index)[i];
    default: return static_cast<Py_ssize_t>(static_cast<const int64_t*>(index)[i]);
  }
}

// Equal exact strs: the same code points in the same width.
inline bool same_text(PyObject* a, PyObject* b) {
  Py_ssize_t n = PyUnicode_GET_LENGTH(a);
  if (PyUnicode_GET_LENGTH(b) != n || PyUnicode_KIND(a) != PyUnicode_KIND(b)) return false;
  return std::memcmp(PyUnicode_DATA(a), PyUnicode_DATA(b), static_cast<size_t>(n) * PyUnicode_KIND(a)) == 0;
}

// Whether the key of an entry, not the very object `key`, is equal to the
// exact str `key` of hash `hash`. Only an exact str of the same hash is
// read as text, whatever the caller knows of the keys, so that nothing else
// is taken for one. The hash is stored in the entry where the table keeps
// hashes, and in the str itself otherwise.
inline bool equal_key(const char* entry, bool hashes, PyObject* k, PyObject* key, Py_hash_t hash) {
  if (hashes && *reinterpret_cast<const Py_hash_t*>(entry) != hash) return false;
  if (!k || !PyUnicode_CheckExact(k)) return false;
  return (hashes || reinterpret_cast<PyASCIIObject*>(k)->hash == hash) && same_text(k, key);
}

// The value under the exact str `key` (hash `hash`) in the table, or null:
// the probe sequence of the dict's own look-up. A key of any other type
// never matches, so a table holding one must not be read here.
inline PyObject* table_lookup(const DictKeysHead* head, PyObject* key, Py_hash_t hash) {
  const char* entries = table_entries(head);
  const size_t stride = entry_size(head);
  const size_t mask = (size_t{1} << head->log2_size) - 1;
  size_t perturb = static_cast<size_t>(hash);
  size_t i = perturb & mask;
  for (;;) {
    Py_ssize_t ix = index_slot(head, i);
    if (ix == -1) return nullptr;
    if (ix >= 0) {
      const char* entry = entries + static_cast<size_t>(ix) * stride;
      // Each entry ends with its key and value; {hash, key, value} entries
      // are the wider ones.
      auto* kv = reinterpret_cast<PyObject* const*>(entry + stride - 2 * sizeof(void*));
      if (kv[0] == key || equal_key(entry, head->kind == 0, kv[0], key, hash)) return kv[1];
    }
    perturb >>= 5;
    i = mask & (i * 5 + perturb + 1);
  }
}
#endif

}  // namespace detail

// The entries of a dict (an exact dict or a subclass, read from its own
// storage) in order, no further than the entries it holds when this is
// made. Nothing may change the dict while they are read: no Python code
// may run meanwhile.
class DictEntries {
 public:
  DictEntries() = default;  // lists nothing
  explicit DictEntries(PyObject* dict) : dict_(dict), left_(PyDict_GET_SIZE(dict)) {
#ifdef VINTREL_DICT_TABLE_LAYOUT
    if (const detail::DictKeysHead* head = detail::readable_table(dict)) init_table(head);
#endif
  }

  // The next live entry, or false at the end.
  bool next(PyObject*& key, PyObject*& value) {
    if (left_ <= 0) return false;
    --left_;
    if (table_) {
      // Removed entries stay in the table with a null value.
      while (table_ != end_) {
        auto* kv = reinterpret_cast<PyObject* const*>(table_);
        table_ += stride_;
        if (kv[1]) {
          key = kv[0];
          value = kv[1];
          return true;
        }
      }
      return false;
    }
    // Through a copy, so that the reader's own state never escapes to a call.
    Py_ssize_t pos = pos_;
    bool more = PyDict_Next(dict_, &pos, &key, &value);
    pos_ = pos;
    return more;
  }

  // Calls f(key, value) for each entry left; stops at the first f that
  // returns false, and then returns false.
  template <class F>
  bool for_each(F&& f) {
    if (table_) {
      for (; table_ != end_; table_ += stride_) {
        auto* kv = reinterpret_cast<PyObject* const*>(table_);
        if (kv[1] && !f(kv[0], kv[1])) return false;
      }
      return true;
    }
    PyObject *k, *v;
    while (next(k, v))
      if (!f(k, v)) return false;
    return true;
  }

 private:
#ifdef VINTREL_DICT_TABLE_LAYOUT
  void init_table(const detail::DictKeysHead* head) {
    stride_ = detail::entry_size(head);
    // Each entry ends with its key and value.
    table_ = detail::table_entries(head) + stride_ - 2 * sizeof(void*);
    end_ = table_ + static_cast<size_t>(head->nentries) * stride_;
  }
#endif

  PyObject* dict_ = nullptr;
  Py_ssize_t left_ = 0;
  Py_ssize_t pos_ = 0;
  const char* table_ = nullptr;  // the next entry's key, read directly, or null for PyDict_Next
  const char* end_ = nullptr;
  size_t stride_ = 0;
};

// The value under `key`, an exact str that has its hash, in a dict whose
// keys are all exact strs: borrowed, or null (no error is set, since
// comparing such keys runs no Python code).
inline PyObject* dict_get_str(PyObject* dict, PyObject* key) {
#ifdef VINTREL_DICT_TABLE_LAYOUT
  if (PyUnicode_CheckExact(key))
    if (Py_hash_t hash = reinterpret_cast<PyASCIIObject*>(key)->hash; hash != -1)
      if (const detail::DictKeysHead* head = detail::readable_table(dict)) return detail::table_lookup(head, key, hash);
#endif
  return PyDict_GetItemWithError(dict, key);
}

// Calls f(key, value) for each entry of `dict`, as DictEntries::for_each.
template <class F>
inline bool for_each_dict_entry(PyObject* dict, F&& f) {
  return DictEntries(dict).for_each(f);
}

}  // namespace vintrel::py
