// The module vintrel: its definition and the exec step that fills it.
#include "py_handle.h"

#include "args.h"
#include "errors.h"
#include "once.h"
#include "py_types/dict_table.h"
#include "py_types/exp.h"
#include "py_types/var.h"

namespace vintrel::py {

namespace {

// The class objects, made once per process and kept for its life: every
// module object made from the definition (after a removal from
// sys.modules, say) gets these same ones.
GilSafeOnce g_classes_once;
PyObject* g_exp_type = nullptr;
PyObject* g_var_access_type = nullptr;

bool init_classes() {
  return g_classes_once.run([] {
    PyRef exp = PyRef::steal(create_exp_type());
    if (!exp) return false;
    PyRef var = PyRef::steal(create_var_access_type());
    if (!var) return false;
    if (!init_panic_exception()) return false;
    if (!init_dict_table()) return false;
    g_exp_type = exp.release();
    g_var_access_type = var.release();
    return true;
  });
}

// Appends `name` to the module's __all__ (made when missing), then sets
// the attribute.
bool add_class(PyObject* module, const char* name, PyObject* cls) {
  PyRef all = PyRef::steal(PyObject_GetAttrString(module, "__all__"));
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
    PyErr_Clear();
    all = PyRef::steal(PyList_New(0));
    if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) return false;
  } else if (!PyList_Check(all.get())) {
    PyRef type_name = PyRef::steal(PyType_GetName(Py_TYPE(all.get())));
    if (type_name) PyErr_Format(PyExc_TypeError, "__all__ must be a list, not %U", type_name.get());
    return false;
  }
  PyRef text = PyRef::steal(PyUnicode_FromString(name));
  if (!text || PyList_Append(all.get(), text.get()) < 0) return false;
  return PyObject_SetAttrString(module, name, cls) == 0;
}

int vintrel_exec(PyObject* module) {
  return guarded<int>(-1, [&]() -> int {
    if (!PyModule_Check(module)) {
      PyRef type_name = PyRef::steal(PyType_GetName(Py_TYPE(module)));
      if (type_name) PyErr_Format(PyExc_TypeError, "expected a module object, got %U", type_name.get());
      return -1;
    }
    // The class objects are shared by the whole process, so they must not
    // be handed to a second interpreter with objects of its own.
    if (PyInterpreterState_Get() != PyInterpreterState_Main()) {
      PyErr_SetString(PyExc_ImportError, "vintrel can only be imported in the main interpreter");
      return -1;
    }
    if (!init_classes()) return -1;
    if (!add_class(module, "Exp", g_exp_type)) return -1;
    if (!add_class(module, "VarAccess", g_var_access_type)) return -1;
    return 0;
  });
}

PyModuleDef_Slot g_slots[] = {
    {Py_mod_exec, as_slot(vintrel_exec)},
#ifdef Py_mod_gil
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
#endif
    {0, nullptr},
};

PyModuleDef g_module = {
    PyModuleDef_HEAD_INIT, "vintrel", "", 0, nullptr, g_slots, nullptr, nullptr, nullptr,
};

}  // namespace

}  // namespace vintrel::py

PyMODINIT_FUNC PyInit_vintrel(void) { return PyModuleDef_Init(&vintrel::py::g_module); }
