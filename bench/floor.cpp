// The floor for glob_match: a function that does nothing, registered with the
// same calling convention and limited-API flags as the real one (fast calls
// from 3.10 on, argument tuples on 3.9), and called with the same arguments.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdio>

namespace {

PyObject* noop_fast(PyObject*, PyObject* const*, Py_ssize_t, PyObject*) {
  Py_IncRef(Py_False);
  return Py_False;
}

PyObject* noop_tuple(PyObject*, PyObject*, PyObject*) {
  Py_IncRef(Py_False);
  return Py_False;
}

PyMethodDef g_fast = {"glob_match", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&noop_fast)),
                      0x0080 | METH_KEYWORDS, "glob_match(pattern, text)\n--\n\nDoes nothing."};
PyMethodDef g_tuple = {"glob_match", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&noop_tuple)),
                       METH_VARARGS | METH_KEYWORDS, "glob_match(pattern, text)\n--\n\nDoes nothing."};

int exec_module(PyObject* m) {
  int major = 0, minor = 0;
  std::sscanf(Py_GetVersion(), "%d.%d", &major, &minor);
  PyMethodDef* def = (major > 3 || minor >= 10) ? &g_fast : &g_tuple;
  PyObject* name = PyModule_GetNameObject(m);
  if (!name) return -1;
  PyObject* fn = PyCFunction_NewEx(def, m, name);
  Py_DecRef(name);
  if (!fn) return -1;
  const int rc = PyObject_SetAttrString(m, "glob_match", fn);
  Py_DecRef(fn);
  return rc;
}

PyModuleDef_Slot g_slots[] = {{Py_mod_exec, reinterpret_cast<void*>(&exec_module)}, {0, nullptr}};
PyModuleDef g_def = {PyModuleDef_HEAD_INIT, "_benchfloor", "", 0, nullptr, g_slots, nullptr, nullptr, nullptr};

}  // namespace

PyMODINIT_FUNC PyInit__benchfloor(void) { return PyModuleDef_Init(&g_def); }
