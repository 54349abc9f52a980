// The module's process-wide objects: the two classes and DirectiveError,
// each created once, on first need, and kept for the life of the process.
#pragma once

#include <optional>
#include <string>

#include "core/directive/directive.hpp"
#include "lint/lint.hpp"
#include "python/args.hpp"

namespace quorvel::python {

PyObject* directive_error_type();
PyObject* directive_type();
PyObject* ladder_type();

// Creators, called once under the guard.
PyObject* create_directive_type();
PyObject* create_ladder_type();

// A Directive object: one core record with the verbatim action, and the
// action's lint verb, worked out once when the object is made.
struct PyDirective {
  PyObject_HEAD
  core::directive::Directive<> record;
  std::optional<lint::LintAction> lint;
};

// A new Directive object owning `record` (moved from).
PyObject* new_directive(core::directive::Directive<>&& record);

// The items of a `directives` argument: Directive objects, each held.
bool to_directives(PyObject* o, SmallVec<PyDirective*, 16>& out, Keep& keep);

// Module-level functions and their signatures (functions.cpp).
extern MethodPair g_parse, g_glob_match, g_expand, g_lint_fold, g_lint_settings;

}  // namespace quorvel::python
