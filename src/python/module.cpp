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
#include "python/directive_class.hpp"
#include "python/errors.hpp"
#include "python/folds.hpp"
#include "python/functions.hpp"
#include "python/ladder_class.hpp"

namespace quorvel::python {

namespace {

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

// Registers one module function, bound to the module.
bool register_function(PyObject* module, Ref& all, const MethodPair& m) {
  if (!intern_signature(*m.sig)) return false;
  Ref modname = Ref::steal(PyModule_GetNameObject(module));
  if (!modname) return false;
  // The definition is static: it outlives every function object made from it.
  Ref fn = Ref::steal(PyCFunction_NewEx(const_cast<PyMethodDef*>(&m.pick()), module, modname.get()));
  return register_name(module, all, m.pick().ml_name, fn.get());
}

// The execution step: registers the eight names in their order.
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

// The definition's one slot: the execution step.
PyModuleDef_Slot g_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&exec_module)},
    {0, nullptr},
};

// The module definition: no state, no method table, one slot.
PyModuleDef g_module = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "_quorvel",
    .m_doc = "",
    .m_size = 0,
    .m_methods = nullptr,
    .m_slots = g_slots,
    .m_traverse = nullptr,
    .m_clear = nullptr,
    .m_free = nullptr,
};

}  // namespace

}  // namespace quorvel::python

PyMODINIT_FUNC PyInit__quorvel(void) { return PyModuleDef_Init(&quorvel::python::g_module); }
