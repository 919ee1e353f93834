#include "py_types/keys.h"

#include "py_types/exact_types.h"

#include <bit>
#include <functional>
#include <string>
#include <string_view>

namespace vintrel::py {

namespace {

// The keys made last, by the hash of their text, one per slot, each held
// by a reference of the table's own: objects compiled again and again (a
// new Exp per call, say) find their keys here instead of making and
// interning them anew, which would add and remove entries of the
// interpreter's table of interned text on every call. Threads take turns
// at it: the GIL orders them, or else the table's own lock.
constexpr size_t kRecentKeys = 1024;
PyObject* g_recent_keys[kRecentKeys];

#ifdef Py_GIL_DISABLED
PyMutex g_recent_keys_mutex;  // waits detached from the interpreter
class RecentKeysLock {
 public:
  RecentKeysLock() { PyMutex_Lock(&g_recent_keys_mutex); }
  ~RecentKeysLock() { PyMutex_Unlock(&g_recent_keys_mutex); }
};
#else
struct RecentKeysLock {
  RecentKeysLock() {}  // the GIL orders the threads
};
#endif

// A new reference to the key of `text`, whose std::hash is `h`; null with
// the error set.
PyObject* key_for(const std::string& text, size_t h) {
  RecentKeysLock lock;
  PyObject*& slot = g_recent_keys[h % kRecentKeys];
  std::string_view cached;
  if (slot && str_text(slot, cached) && cached == text) return Py_NewRef(slot);
  PyObject* key = PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
  if (!key) return nullptr;
#if PY_VERSION_HEX < 0x030C0000 || PY_VERSION_HEX >= 0x030D0000
  // Interned where the table lets go of text nobody holds any more (not
  // on 3.12, which keeps it for good): the keys of dicts written in
  // source are interned, and a dict compares an identical key without
  // reading its text.
  PyUnicode_InternInPlace(&key);
#endif
  // Hashed now, so that no look-up hashes it again.
  if (PyObject_Hash(key) == -1) {
    Py_DECREF(key);
    return nullptr;
  }
  Py_XSETREF(slot, Py_NewRef(key));
  return key;
}

}  // namespace

CompiledKeys::~CompiledKeys() {
  for (PyObject* k : keys_) Py_DECREF(k);
}

bool CompiledKeys::attach(std::vector<VarName*>& names) {
  // Equal names share one key, found through a small open-addressed table
  // of the texts seen so far.
  struct Slot {
    const std::string* text = nullptr;
    PyObject* key = nullptr;
  };
  std::vector<Slot> table(std::bit_ceil(2 * names.size() + 1));
  const size_t mask = table.size() - 1;
  for (VarName* name : names) {
    const std::string& text = name->name;
    const size_t h = std::hash<std::string_view>{}(text);
    size_t i = h & mask;
    while (table[i].text && *table[i].text != text) i = (i + 1) & mask;
    if (!table[i].text) {
      PyObject* key = key_for(text, h);
      if (!key) return false;
      keys_.push_back(key);
      table[i] = {&text, key};
    }
    name->host_key.attach(table[i].key);
  }
  return true;
}

bool CompiledKeys::add(VarAccess& var) {
  std::vector<VarName*> names;
  names.reserve(var.names.size());
  for (VarName& n : var.names) names.push_back(&n);
  return attach(names);
}

bool CompiledKeys::add_all(Exp& tree) {
  std::vector<VarName*> names;
  for_each_variable(tree, [&](VarAccess& var) {
    for (VarName& n : var.names) names.push_back(&n);
  });
  return attach(names);
}

}  // namespace vintrel::py
