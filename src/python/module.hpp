// The module's process-wide objects: the two classes and DirectiveError,
// each created once, on first need, and kept for the life of the process.
#pragma once

#include <optional>
#include <string>

#include "core/directive/combine.hpp"
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

// The leading parameters that both folds share, converted in their order:
// current, directives, names, qualifier, scopes (bound[0] to bound[4]).
struct FoldArgs {
  std::string_view current;
  SmallVec<PyDirective*, 16> dirs;
  TargetArgs target;
};
bool to_fold_args(PyObject* const* bound, FoldArgs& out, Keep& keep);

// The fold shared by lint_fold and Ladder.fold: runs the combine over the
// Directive objects (read in place) and returns the tuple (level, dropped,
// notes), where `level_of(sum)` gives the resulting level text.
template <class VoteOf, class LevelOf>
PyObject* fold_to_tuple(const SmallVec<PyDirective*, 16>& dirs, const core::directive::Target& target,
                        bool collect_notes, VoteOf vote, LevelOf level_of) {
  Ref notes = Ref::steal(PyList_New(0));
  if (!notes) return nullptr;
  core::directive::Combined c;
  const bool ok = core::directive::combine(
      dirs, target, collect_notes,
      [](const PyDirective* d) -> const core::directive::Selector& { return d->record; }, vote,
      [&](const std::string& note) {
        Ref s = Ref::steal(new_str(note));
        return s && PyList_Append(notes.get(), s.get()) == 0;
      },
      c);
  if (!ok) return nullptr;
  Ref level = Ref::steal(new_str(level_of(c.sum)));
  if (!level) return nullptr;
  return PyTuple_Pack(3, level.get(), c.dropped ? Py_True : Py_False, notes.get());
}

// Module-level functions and their signatures (functions.cpp).
extern MethodPair g_parse, g_glob_match, g_expand, g_lint_fold, g_lint_settings;

}  // namespace quorvel::python
