// One `-D` value: an inline directive, `@path` (a directive file, verbatim
// path) or `@-` (standard input, read whole under the process's lock). The
// one entry point of loading.
#pragma once

#include <optional>
#include <string_view>

#include "source/error.hpp"
#include "source/hooks.hpp"

namespace quorvel::source::cli {

// Loads the directives of `value`, handing each to `hooks.on_directive` in
// source order as it is parsed. Returns the failure, or nothing when the
// whole source was handed over. The content of a file or of standard input
// is read and checked whole before its first line is parsed; a failure
// after some directives were handed over means the caller drops them.
std::optional<SourceError> expand(std::string_view value, const Hooks& hooks);

}  // namespace quorvel::source::cli
