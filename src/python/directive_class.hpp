// The Directive class: one parsed directive, immutable, made only by parse
// and expand; and the conversion of a `directives` argument.
#pragma once

#include <cstdint>
#include <optional>

#include "core/directive/directive.hpp"
#include "lint/lint.hpp"
#include "python/ref.hpp"

namespace quorvel::python {

// A Directive object: one allocation that holds the whole directive. The
// fixed part is what a fold reads before it matches (the lint verb, the
// action's hash); right after it lies the Selector (the kind, the compiled
// NAME and PATH, the note), then the action's bytes. Only parse and expand
// build one; an instance that was made some other way (3.9 lets Python code
// replace a class's __new__) is zero-filled, has `built` false and is
// refused by every use.
struct PyDirective {
  PyObject_VAR_HEAD                      // ob_size: the bytes after the fixed part
  std::uint32_t action_hash;             // the ladder vocabulary's hash of the action
  std::uint32_t action_len;              // bytes of the action, after the Selector
  std::optional<lint::LintAction> lint;  // its lint verb, if the token is one
  bool built;                            // made by new_directive

  // The kind, NAME, PATH and note (built objects only).
  const core::directive::Selector& selector() const {
    return *reinterpret_cast<const core::directive::Selector*>(reinterpret_cast<const char*>(this) + sizeof *this);
  }
  // The action token, verbatim (built objects only).
  std::string_view action() const {
    return {reinterpret_cast<const char*>(&selector()) + selector().size(), action_len};
  }

  // Ends what the object owns (its tp_dealloc): nothing, as it is all inline.
  void destroy() {}
};
static_assert(sizeof(PyDirective) % 8 == 0, "the Selector after the fixed part must be 8-byte aligned");

// The Directive class (made once per process); null with an exception set
// if it cannot be made.
PyObject* directive_type();

// A new Directive object with `action` and the parts laid out in it.
PyObject* new_directive(std::string_view action, const core::directive::Parts& parts);

// A new Directive object holding a copy of `record`.
PyObject* new_directive(const core::directive::Directive<>& record);

// The object behind `o` if it is a built Directive; otherwise null with
// TypeError set.
const PyDirective* built_directive(PyObject* o);

// The items of a `directives` argument, in order: built Directive objects,
// each held unless the Keep borrows.
bool to_directives(PyObject* o, VecBase<PyDirective*>& out, Keep& keep);

}  // namespace quorvel::python
