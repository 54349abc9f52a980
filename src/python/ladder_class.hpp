// The Ladder class: the caller's own ordered levels, immutable, with
// position, step, levels and fold.
#pragma once

#include "python/ref.hpp"

namespace quorvel::python {

// The Ladder class (made once per process); null with an exception set if
// it cannot be made.
PyObject* ladder_type();

}  // namespace quorvel::python
