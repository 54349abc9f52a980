// The directive-file format: one directive per line; blank lines and lines
// whose first non-blank character is `#` are skipped; a leading byte-order
// mark is dropped; LF or CRLF end a line (a lone CR does not); trailing white
// space is removed. Every line counts for the line numbers.
#pragma once

#include <optional>
#include <string_view>

#include "source/error.hpp"
#include "source/hooks.hpp"

namespace quorvel::source::file {

// Parses `text`, the whole content (valid UTF-8) of the source `name`, and
// hands each directive to `on_directive` in line order. Asks `check` every
// few MiB of text. Returns the first failure, or nothing when every
// directive was handed over.
std::optional<SourceError> parse_lines(std::string_view text, std::string_view name,
                                       const OnDirective& on_directive, const InterruptCheck& check);

}  // namespace quorvel::source::file
