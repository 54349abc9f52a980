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
// keeps no state besides the three process-wide type objects. Here: the
// running interpreter, argument binding, errors, the type objects'
// scaffolding and the module's registration.
#include "python/module.hpp"

#include <cstdio>

namespace quorvel::python {

// --- the running interpreter ---------------------------------------------------

bool g_modern = false;

namespace {

// Py_TPFLAGS_IMMUTABLETYPE, which the 3.9 headers do not define.
constexpr unsigned long Py_TPFLAGS_IMMUTABLETYPE_310 = 1UL << 8;

// Reads the running interpreter's version ("3.12.1 (main, ...)").
void detect_runtime() {
  int major = 0, minor = 0;
  if (std::sscanf(Py_GetVersion(), "%d.%d", &major, &minor) != 2) return;
  g_modern = major * 100 + minor >= 310;
}

}  // namespace

// --- argument binding ------------------------------------------------------------

bool intern_signature(Signature& sig) {
  for (int i = 0; i < sig.count; ++i) {
    if (sig.interned[i]) continue;
    sig.interned[i] = PyUnicode_InternFromString(sig.params[i]);
    if (!sig.interned[i]) return false;
  }
  return true;
}

namespace {

// The parameter a keyword names, or -1.
int find_keyword(const Signature& sig, PyObject* key) {
  for (int i = 0; i < sig.count; ++i) {
    if (sig.interned[i] == key) return i;
  }
  if (!PyUnicode_Check(key)) return -1;
  for (int i = 0; i < sig.count; ++i) {
    if (PyUnicode_CompareWithASCIIString(key, sig.params[i]) == 0) return i;
  }
  PyErr_Clear();
  return -1;
}

// Raises the TypeError for more positional arguments than the signature takes.
bool too_many_positional(const Signature& sig, Py_ssize_t nargs) {
  if (sig.npos == 0) {
    PyErr_Format(PyExc_TypeError, "%s() takes no positional arguments (%zd given)", sig.function, nargs);
  } else {
    PyErr_Format(PyExc_TypeError, "%s() takes at most %d positional argument%s (%zd given)", sig.function,
                 sig.npos, sig.npos == 1 ? "" : "s", nargs);
  }
  return false;
}

// Puts one keyword argument in its slot, or raises the TypeError for an
// unknown or repeated one.
bool place_keyword(const Signature& sig, PyObject* key, PyObject* value, Py_ssize_t nargs, PyObject** out) {
  if (!PyUnicode_Check(key)) {
    PyErr_SetString(PyExc_TypeError, "keywords must be strings");
    return false;
  }
  const int i = find_keyword(sig, key);
  if (i < 0) {
    PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", sig.function, key);
    return false;
  }
  if (out[i]) {
    if (i < nargs) {
      PyErr_Format(PyExc_TypeError, "argument for %s() given by name ('%s') and position (%d)", sig.function,
                   sig.params[i], i + 1);
    } else {
      PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", sig.function, sig.params[i]);
    }
    return false;
  }
  out[i] = value;
  return true;
}

// Raises the TypeError for the first required parameter left without a value.
bool check_required(const Signature& sig, PyObject** out) {
  for (int i = 0; i < sig.nrequired; ++i) {
    if (!out[i]) {
      PyErr_Format(PyExc_TypeError, "%s() missing required argument '%s' (pos %d)", sig.function, sig.params[i],
                   i + 1);
      return false;
    }
  }
  return true;
}

}  // namespace

bool bind_fast(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** out) {
  // The offset bit of vectorcall's nargs is never set for method calls made
  // through the fast convention, but mask it to be safe.
  nargs &= ~(static_cast<Py_ssize_t>(1) << (8 * sizeof(Py_ssize_t) - 1));
  if (nargs > sig.npos) return too_many_positional(sig, nargs);
  for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = args[i];
  for (Py_ssize_t i = nargs; i < sig.count; ++i) out[i] = nullptr;
  if (!kwnames) return nargs >= sig.nrequired || check_required(sig, out);
  const Py_ssize_t nkw = PyTuple_Size(kwnames);
  for (Py_ssize_t k = 0; k < nkw; ++k) {
    if (!place_keyword(sig, PyTuple_GetItem(kwnames, k), args[nargs + k], nargs, out)) return false;
  }
  return check_required(sig, out);
}

bool bind_tuple(const Signature& sig, PyObject* args, PyObject* kwargs, PyObject** out) {
  const Py_ssize_t nargs = args ? PyTuple_Size(args) : 0;
  if (nargs > sig.npos) return too_many_positional(sig, nargs);
  for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = PyTuple_GetItem(args, i);
  for (Py_ssize_t i = nargs; i < sig.count; ++i) out[i] = nullptr;
  if (kwargs) {
    Py_ssize_t pos = 0;
    PyObject *key, *value;
    while (PyDict_Next(kwargs, &pos, &key, &value)) {
      if (!place_keyword(sig, key, value, nargs, out)) return false;
    }
  }
  return check_required(sig, out);
}

void name_argument_error(const char* param) {
  PyObject *type, *value, *tb;
  PyErr_Fetch(&type, &value, &tb);
  if (type != PyExc_TypeError) {
    PyErr_Restore(type, value, tb);  // hands the three references back
    return;
  }
  PyErr_NormalizeException(&type, &value, &tb);
  Ref t = Ref::steal(type), v = Ref::steal(value), tr = Ref::steal(tb);
  Ref text = Ref::steal(v ? PyObject_Str(v.get()) : PyUnicode_FromString(""));
  if (!text) return;
  Ref msg = Ref::steal(PyUnicode_FromFormat("argument '%s': %U", param, text.get()));
  if (!msg) return;
  Ref exc = Ref::steal(PyObject_CallFunctionObjArgs(PyExc_TypeError, msg.get(), nullptr));
  if (!exc) return;
  if (v) {
    Ref cause = Ref::steal(PyException_GetCause(v.get()));
    if (cause) PyException_SetCause(exc.get(), cause.release());  // takes the reference
  }
  PyErr_SetObject(PyExc_TypeError, exc.get());
}


// --- errors ------------------------------------------------------------------------

std::string type_name(PyObject* o) {
  // The type is held: a metaclass's attribute code may drop the last other
  // reference to `o`, and with it to its class.
  Ref type = Ref::borrow(reinterpret_cast<PyObject*>(Py_TYPE(o)));
  Ref name = Ref::steal(PyObject_GetAttrString(type.get(), "__name__"));
  if (name) {
    Py_ssize_t n = 0;
    Ref bytes = Ref::steal(PyUnicode_AsUTF8String(name.get()));
    char* p = nullptr;
    if (bytes && PyBytes_AsStringAndSize(bytes.get(), &p, &n) == 0) return std::string(p, static_cast<std::size_t>(n));
  }
  PyErr_Clear();
  return "object";
}

namespace {

// The one DirectiveError of the process.
Once g_error;

// Makes the class: `_quorvel.DirectiveError`, base ValueError, no dict.
PyObject* create_directive_error() {
  return PyErr_NewExceptionWithDoc("_quorvel.DirectiveError",
                                   "A directive failed to parse, or a `@file` failed to load.",
                                   PyExc_ValueError, nullptr);
}

}  // namespace

PyObject* directive_error_type() { return g_error.get(&create_directive_error, "DirectiveError"); }

PyObject* raise_directive_error(std::string_view message) {
  PyObject* type = directive_error_type();
  if (!type) return nullptr;
  Ref msg = Ref::steal(new_str(message));
  if (msg) PyErr_SetObject(type, msg.get());
  return nullptr;
}

// --- process-wide objects and heap types ---------------------------------------------

PyObject* Once::make(PyObject* (*create)(), const char* what) {
  if (!mutex_.try_lock()) {
    if (maker_.load(std::memory_order_relaxed) == std::this_thread::get_id()) {
      PyErr_Format(PyExc_ImportError,
                   "_quorvel: %s is being created by this thread and was needed again before it was ready "
                   "(the module was re-entered, e.g. from a finalizer, during its import)",
                   what);
      return nullptr;
    }
    without_interpreter_lock([this] {
      mutex_.lock();
      return true;
    });
  }
  std::lock_guard<std::mutex> guard(mutex_, std::adopt_lock);
  if (PyObject* o = obj_.load(std::memory_order_acquire)) return o;
  maker_.store(std::this_thread::get_id(), std::memory_order_relaxed);
  PyObject* o = create();
  maker_.store(std::thread::id(), std::memory_order_relaxed);
  if (o) obj_.store(o, std::memory_order_release);
  return o;
}

PyObject* new_heap_type(const char* qualified_name, std::size_t basicsize, PyType_Slot* slots,
                        std::size_t itemsize) {
  PyType_Spec spec = {
      .name = qualified_name,
      .basicsize = static_cast<int>(basicsize),
      .itemsize = static_cast<int>(itemsize),
      .flags = static_cast<unsigned int>(Py_TPFLAGS_DEFAULT | (g_modern ? Py_TPFLAGS_IMMUTABLETYPE_310 : 0)),
      .slots = slots,
  };
  return PyType_FromSpec(&spec);
}

PyObject* alloc_instance(PyObject* type, Py_ssize_t items) {
  auto* t = reinterpret_cast<PyTypeObject*>(type);
  auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(t, Py_tp_alloc));
  return alloc(t, items);
}

void free_instance(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  auto free_fn = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
  free_fn(self);
  Py_DecRef(reinterpret_cast<PyObject*>(type));
}


// --- registration ----------------------------------------------------------------------

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
