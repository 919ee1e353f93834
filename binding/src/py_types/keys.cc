#include "py_types/keys.h"

#include <bit>
#include <functional>
#include <string>
#include <string_view>

namespace vintrel::py {

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
    size_t i = std::hash<std::string_view>{}(text) & mask;
    while (table[i].text && *table[i].text != text) i = (i + 1) & mask;
    if (!table[i].text) {
      PyObject* key = PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
      if (!key) return false;
#if PY_VERSION_HEX < 0x030C0000 || PY_VERSION_HEX >= 0x030D0000
      // Interned where the table lets go of text nobody holds any more (not
      // on 3.12, which keeps it for good): the keys of dicts written in
      // source are interned, and a dict compares an identical key without
      // reading its text.
      PyUnicode_InternInPlace(&key);
#endif
      keys_.push_back(key);
      // Hashed now, so that no look-up hashes it again.
      if (PyObject_Hash(key) == -1) return false;
      table[i] = {&text, key};
    }
    name->host_key.attach(table[i].key);
  }
  ready_ = true;
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
