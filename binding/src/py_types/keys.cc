#include "py_types/keys.h"

#include <algorithm>
#include <string>

namespace vintrel::py {

CompiledKeys::~CompiledKeys() {
  for (PyObject* k : keys_) Py_DECREF(k);
}

bool CompiledKeys::attach(std::vector<VarName*>& names) {
  // Equal names, side by side once sorted, share one key.
  std::sort(names.begin(), names.end(), [](const VarName* a, const VarName* b) { return a->name < b->name; });
  PyObject* key = nullptr;
  for (size_t i = 0; i < names.size(); ++i) {
    const std::string& text = names[i]->name;
    if (i == 0 || text != names[i - 1]->name) {
      key = PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
      if (!key) return false;
      // Not interned: that would enter every compiled name into the
      // interpreter's own table of interned text (for good, on 3.12).
      keys_.push_back(key);
      // Hashed now, so that no look-up hashes it again.
      if (PyObject_Hash(key) == -1) return false;
    }
    names[i]->host_key.attach(key);
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
