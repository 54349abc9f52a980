// Directive files: one directive per line; blank lines and lines whose first
// non-blank character is `#` are skipped; a leading byte-order mark is
// dropped; LF or CRLF end a line (a lone CR does not); trailing white space is
// removed. Every line counts for the line numbers.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/result.hpp"
#include "source/origin.hpp"

namespace quorvel::source::file {

using Loaded = core::Result<std::vector<Sourced>, SourceError>;

// Parses the whole content of a directive file named `name`.
Loaded parse_str(std::string_view text, std::string_view name);

// Reads the file at `path` whole, checks UTF-8 and parses it.
Loaded parse_file(std::string_view path);

// Reads file descriptor `fd` to its end and parses it under `name`. A read
// interrupted by a signal asks `check`; when it answers true the load stops
// with an interrupted Io error.
Loaded parse_reader(int fd, std::string_view name, const InterruptCheck& check);

// Reads a whole file or descriptor; the error carries the OS error number.
core::Result<std::string, IoError> read_path(std::string_view path);
core::Result<std::string, IoError> read_fd(int fd, const InterruptCheck& check);

}  // namespace quorvel::source::file
