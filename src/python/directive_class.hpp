// The Directive class: one parsed directive, immutable, made only by parse
// and expand; and the conversion of a `directives` argument.
#pragma once

#include <optional>

#include "core/directive/directive.hpp"
#include "lint/lint.hpp"
#include "python/ref.hpp"

namespace quorvel::python {

// A Directive object: one core record with the verbatim action, and the
// action's lint verb, worked out once when the object is made.
struct PyDirective {
  PyObject_HEAD
  core::directive::Directive<> record;   // the parsed directive
  std::optional<lint::LintAction> lint;  // its lint verb, if the token is one

  // Ends what the object owns (its tp_dealloc).
  void destroy();
};

// The Directive class (made once per process); null with an exception set
// if it cannot be made.
PyObject* directive_type();

// A new Directive object owning `record` (moved from).
PyObject* new_directive(core::directive::Directive<>&& record);

// The items of a `directives` argument, in order: Directive objects, each
// held unless the Keep borrows.
bool to_directives(PyObject* o, VecBase<PyDirective*>& out, Keep& keep);

}  // namespace quorvel::python
