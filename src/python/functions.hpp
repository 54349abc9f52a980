// The module-level functions parse, glob_match and expand.
#pragma once

#include "python/boundary.hpp"

namespace quorvel::python {

// parse(spec, *, actions=None), glob_match(pattern, text) and
// expand(value, *, actions=None).
extern MethodPair g_parse, g_glob_match, g_expand;

}  // namespace quorvel::python
