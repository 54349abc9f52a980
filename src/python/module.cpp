// _quorvel: directives `ACTION:[<KIND>]NAME[@PATH][=NOTE]` for tools that
// take `-D` options. In Python terms:
//
//   def parse(spec, *, actions=None) -> Directive
//   def glob_match(pattern, text) -> bool
//   def expand(value, *, actions=None) -> list[Directive]
//   def lint_fold(current, directives, names, *, qualifier=None, scopes=None)
//       -> tuple[str, bool, list[str]]
//   def lint_settings(directives) -> list[tuple[str, str]]
//   class Directive: ...            # made by parse/expand only
//   class Ladder: ...               # Ladder(levels)
//   class DirectiveError(ValueError): ...
//
// One build serves every CPython from 3.9 on (limited API 3.9). The module
// keeps no state besides the three process-wide type objects.
#include "python/module.hpp"

#include <atomic>
#include <mutex>

namespace quorvel::python {

namespace {

// A process-wide object made once. A thread that finds another one making
// it waits without holding the interpreter lock.
struct Once {
  std::atomic<PyObject*> obj{nullptr};
  std::mutex mutex;

  PyObject* get(PyObject* (*create)()) {
    if (PyObject* o = obj.load(std::memory_order_acquire)) return o;
    if (!mutex.try_lock()) {
      PyThreadState* ts = PyEval_SaveThread();
      mutex.lock();
      PyEval_RestoreThread(ts);
    }
    std::lock_guard<std::mutex> guard(mutex, std::adopt_lock);
    if (PyObject* o = obj.load(std::memory_order_acquire)) return o;
    PyObject* o = create();
    if (o) obj.store(o, std::memory_order_release);
    return o;
  }
};

Once g_error, g_directive, g_ladder;

PyObject* create_directive_error() {
  return PyErr_NewExceptionWithDoc("_quorvel.DirectiveError",
                                   "A directive failed to parse, or a `@file` failed to load.",
                                   PyExc_ValueError, nullptr);
}

// Sets `name` on the module and appends it to __all__ (made by the first).
bool register_name(PyObject* module, Ref& all, const char* name, PyObject* value) {
  if (!value) return false;
  if (!all) {
    all = Ref::steal(PyList_New(0));
    if (!all) return false;
    if (PyObject_SetAttrString(module, "__all__", all.get()) < 0) return false;
  }
  if (PyObject_SetAttrString(module, name, value) < 0) return false;
  Ref n = Ref::steal(PyUnicode_FromString(name));
  return n && PyList_Append(all.get(), n.get()) == 0;
}

bool register_function(PyObject* module, Ref& all, const MethodPair& m) {
  if (!intern_signature(*m.sig)) return false;
  Ref modname = Ref::steal(PyModule_GetNameObject(module));
  if (!modname) return false;
  // The definition is static: it outlives every function object made from it.
  Ref fn = Ref::steal(PyCFunction_NewEx(const_cast<PyMethodDef*>(&m.pick()), module, modname.get()));
  return register_name(module, all, m.pick().ml_name, fn.get());
}

int exec_module(PyObject* module) {
  return guarded([&]() -> int {
    if (!PyModule_Check(module)) {
      PyErr_SetString(PyExc_TypeError, "_quorvel: the execution step needs a module object");
      return -1;
    }
    detect_runtime();
    Ref all;
    const bool ok = register_function(module, all, g_parse) && register_function(module, all, g_glob_match) &&
                    register_function(module, all, g_expand) && register_function(module, all, g_lint_fold) &&
                    register_function(module, all, g_lint_settings) &&
                    register_name(module, all, "Directive", directive_type()) &&
                    register_name(module, all, "Ladder", ladder_type()) &&
                    register_name(module, all, "DirectiveError", directive_error_type());
    return ok ? 0 : -1;
  });
}

PyModuleDef_Slot g_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&exec_module)},
    {0, nullptr},
};

PyModuleDef g_module = {
    PyModuleDef_HEAD_INIT, "_quorvel", "", 0, nullptr, g_slots, nullptr, nullptr, nullptr,
};

}  // namespace

PyObject* directive_error_type() { return g_error.get(&create_directive_error); }
PyObject* directive_type() { return g_directive.get(&create_directive_type); }
PyObject* ladder_type() { return g_ladder.get(&create_ladder_type); }

}  // namespace quorvel::python

PyMODINIT_FUNC PyInit__quorvel(void) { return PyModuleDef_Init(&quorvel::python::g_module); }
