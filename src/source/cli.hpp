// One `-D` value: an inline directive, `@path` (a directive file, verbatim
// path) or `@-` (standard input, read whole under a process-wide lock).
#pragma once

#include <string_view>

#include "source/file.hpp"

namespace quorvel::source::cli {

file::Loaded expand(std::string_view value, const InterruptCheck& check = {});

// The streaming form: each directive goes to `sink` in source order.
file::Outcome expand_each(std::string_view value, const InterruptCheck& check, const file::DirectiveSink& sink,
                          SourceError& error);

}  // namespace quorvel::source::cli
