// A look into the glob room, for tests, fuzzing and benchmarks only.
#pragma once

#include <cstddef>
#include <string_view>

#include "core/glob/brace.hpp"

namespace quorvel::core::glob::for_tests {

// The number of alternatives of `source` (1 past the cap).
inline std::size_t alternative_count(std::string_view source) {
  const BraceShape shape = brace_shape(source);
  return shape.literal ? 1 : shape.count;
}

}  // namespace quorvel::core::glob::for_tests
