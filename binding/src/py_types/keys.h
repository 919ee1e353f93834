// The names of compiled paths as Python str keys, made and hashed once per
// compiled object and attached to the names, so that reading data in place
// looks a name up in a dict without making a str.
#pragma once

#include "py_handle.h"

#include <vector>

#include "vintrel/exp.h"
#include "vintrel/var.h"

namespace vintrel::py {

class CompiledKeys {
 public:
  CompiledKeys() = default;
  CompiledKeys(const CompiledKeys&) = delete;
  CompiledKeys& operator=(const CompiledKeys&) = delete;
  ~CompiledKeys();  // attached to the interpreter

  // Makes the keys of one path, or of every variable of a tree, and
  // attaches them to its names; the keys live as long as this object, which
  // must not outlive the path. False with the error set.
  bool add(VarAccess& var);
  bool add_all(Exp& tree);

 private:
  std::vector<PyObject*> keys_;
};

}  // namespace vintrel::py
