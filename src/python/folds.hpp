// The folds: lint_fold and lint_settings over Directive objects, and the
// body of Ladder.fold, which the Ladder class calls with its core ladder.
#pragma once

#include "core/ladder/ladder.hpp"
#include "python/boundary.hpp"

namespace quorvel::python {

// lint_fold(current, directives, names, *, qualifier=None, scopes=None) and
// lint_settings(directives), as module functions.
extern MethodPair g_lint_fold, g_lint_settings;

// The signature of Ladder.fold.
extern Signature g_ladder_fold_sig;

// Ladder.fold on `ladder` with the arguments bound by g_ladder_fold_sig.
PyObject* ladder_fold(const core::ladder::Ladder& ladder, PyObject* const* bound);

}  // namespace quorvel::python
