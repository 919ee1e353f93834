// The names of compiled paths as Python str keys, made and hashed once per
// compiled object and attached to the names, so that reading data in place
// looks a name up in a dict without making a str. Equal names of one object
// share one key, so that a look-up can tell them equal by the key alone.
#pragma once

#include "py_handle.h"

#include <vector>

#include "once.h"

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
  // attaches them to its names, once: on the first read in place, so that
  // compiling costs nothing for them. The keys live as long as this object,
  // which must not outlive the path. False with the error set. A thread
  // that comes while another attaches them waits, so every read of the
  // keys comes after they are all attached.
  bool ensure(VarAccess& var) {
    return once_.run([&] { return add(var); });
  }
  bool ensure(Exp& tree) {
    return once_.run([&] { return add_all(tree); });
  }

 private:
  bool add(VarAccess& var);
  bool add_all(Exp& tree);
  bool attach(std::vector<VarName*>& names);

  std::vector<PyObject*> keys_;
  GilSafeOnce once_;
};

}  // namespace vintrel::py
