#include "py_types/keys.h"

namespace vintrel::py {

CompiledKeys::~CompiledKeys() {
  for (PyObject* k : keys_) Py_DECREF(k);
}

bool CompiledKeys::add(VarAccess& var) {
  for (VarName& n : var.names) {
    PyObject* key = PyUnicode_FromStringAndSize(n.name.data(), static_cast<Py_ssize_t>(n.name.size()));
    if (!key) return false;
    // Not interned: that would enter every compiled name into the
    // interpreter's own table of interned text (for good, on 3.12).
    keys_.push_back(key);
    // Hashed now, so that no look-up hashes it again.
    if (PyObject_Hash(key) == -1) return false;
    n.host_key.attach(key);
  }
  return true;
}

bool CompiledKeys::add_all(Exp& tree) {
  bool ok = true;
  for_each_variable(tree, [&](VarAccess& var) { ok = ok && add(var); });
  return ok;
}

}  // namespace vintrel::py
