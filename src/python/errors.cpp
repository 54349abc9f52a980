// DirectiveError: made once per process, a subclass of ValueError.
#include "python/errors.hpp"

#include "python/convert.hpp"
#include "python/heap_type.hpp"

namespace quorvel::python {

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

}  // namespace quorvel::python
