// The Directive class: one parsed directive, immutable, made only by parse
// and expand; and the conversion of a `directives` argument.
#pragma once

#include <cstdint>
#include <optional>

#include "core/directive/directive.hpp"
#include "lint/lint.hpp"
#include "python/ref.hpp"

namespace quorvel::python {

// A Directive object: one core record with the verbatim action, and what
// the folds need of its action, worked out once when the object is made.
// Only parse and expand build one; an instance that was made some other way
// (3.9 lets Python code replace a class's __new__) is zero-filled, has
// `built` false and is refused by every use.
struct PyDirective {
  PyObject_HEAD
  core::directive::Directive<> record;   // the parsed directive
  std::uint32_t action_hash;             // the ladder vocabulary's hash of the action
  std::optional<lint::LintAction> lint;  // its lint verb, if the token is one
  bool built;                            // made by new_directive

  // Ends what the object owns (its tp_dealloc).
  void destroy();
};

// The Directive class (made once per process); null with an exception set
// if it cannot be made.
PyObject* directive_type();

// A new Directive object owning `record` (moved from).
PyObject* new_directive(core::directive::Directive<>&& record);

// The object behind `o` if it is a built Directive; otherwise null with
// TypeError set.
const PyDirective* built_directive(PyObject* o);

// The items of a `directives` argument, in order: built Directive objects,
// each held unless the Keep borrows.
bool to_directives(PyObject* o, VecBase<PyDirective*>& out, Keep& keep);

}  // namespace quorvel::python
