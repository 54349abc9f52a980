// One `-D` value: an inline directive, `@path` (a directive file, verbatim
// path) or `@-` (standard input, read whole under a process-wide lock).
#pragma once

#include <string_view>

#include "source/file.hpp"

namespace quorvel::source::cli {

file::Loaded expand(std::string_view value, const InterruptCheck& check = {});

}  // namespace quorvel::source::cli
