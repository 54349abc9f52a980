// The floor for glob_match: a function that only converts its two str
// arguments to UTF-8, registered with the same calling convention and
// limited-API flags as the real one (fast calls from 3.10 on, argument
// tuples on 3.9), and called with the same arguments.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdio>

extern "C" const char* PyUnicode_AsUTF8AndSize(PyObject* unicode, Py_ssize_t* size);

namespace {

// Both arguments as UTF-8, as every real call needs them; nothing else. (The
// call is in the stable ABI from 3.10, the versions that call noop_fast; 3.9
// gets a new bytes object, as the module does there.)
PyObject* convert_two(PyObject* a, PyObject* b, bool modern) {
  Py_ssize_t n;
  bool ok = a && b;
  if (ok && modern) {
    ok = PyUnicode_AsUTF8AndSize(a, &n) && PyUnicode_AsUTF8AndSize(b, &n);
  } else if (ok) {
    PyObject* x = PyUnicode_AsUTF8String(a);
    PyObject* y = x ? PyUnicode_AsUTF8String(b) : nullptr;
    ok = x && y;
    Py_DecRef(x);
    Py_DecRef(y);
  }
  if (!ok) {
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_TypeError, "two str arguments");
    return nullptr;
  }
  Py_IncRef(Py_False);
  return Py_False;
}

PyObject* noop_fast(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject*) {
  return convert_two(nargs > 0 ? args[0] : nullptr, nargs > 1 ? args[1] : nullptr, true);
}

PyObject* noop_tuple(PyObject*, PyObject* args, PyObject*) {
  return convert_two(PyTuple_Size(args) > 0 ? PyTuple_GetItem(args, 0) : nullptr,
                     PyTuple_Size(args) > 1 ? PyTuple_GetItem(args, 1) : nullptr, false);
}

PyMethodDef g_fast = {"glob_match", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&noop_fast)),
                      0x0080 | METH_KEYWORDS, "glob_match(pattern, text)\n--\n\nConverts its arguments."};
PyMethodDef g_tuple = {"glob_match", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&noop_tuple)),
                       METH_VARARGS | METH_KEYWORDS, "glob_match(pattern, text)\n--\n\nConverts its arguments."};

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
