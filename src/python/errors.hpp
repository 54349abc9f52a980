// DirectiveError, the exception through which every failure the library
// itself detects reaches Python.
#pragma once

#include <string_view>

#include "python/ref.hpp"

namespace quorvel::python {

// The DirectiveError class (made once per process); null with an exception
// set if it cannot be made.
PyObject* directive_error_type();

// Raises DirectiveError(message); always returns null.
PyObject* raise_directive_error(std::string_view message);

}  // namespace quorvel::python
