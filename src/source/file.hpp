// Directive files: one directive per line; blank lines and lines whose first
// non-blank character is `#` are skipped; a leading byte-order mark is
// dropped; LF or CRLF end a line (a lone CR does not); trailing white space is
// removed. Every line counts for the line numbers.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.hpp"
#include "source/origin.hpp"

namespace quorvel::source::file {

using Loaded = core::Result<std::vector<Sourced>, SourceError>;

// Receives each directive as it is parsed, with its line number (0 for an
// inline value); returns false to stop the load.
using DirectiveSink = std::function<bool(core::directive::Directive<>&&, std::uint64_t line)>;

// How a streaming load ended: every directive delivered, a SourceError, or
// stopped by the sink (which then has its own error to report).
enum class Outcome { Done, Failed, Stopped };

// The streaming forms: the same loads, delivering directives to `sink` in
// order instead of collecting them. On Failed, `error` says why.
Outcome parse_str_each(std::string_view text, std::string_view name, const DirectiveSink& sink, SourceError& error);
Outcome parse_file_each(std::string_view path, const DirectiveSink& sink, SourceError& error);
Outcome parse_reader_each(int fd, std::string_view name, const InterruptCheck& check, const DirectiveSink& sink,
                          SourceError& error);

// Collects a streaming load into a list of Sourced.
template <class Load>
Loaded collect(std::string_view name, Load load) {
  std::vector<Sourced> out;
  const std::string file(name);
  SourceError error;
  const auto sink = [&](core::directive::Directive<>&& d, std::uint64_t line) {
    out.push_back(Sourced{std::move(d), line == 0 ? Origin::inline_value() : Origin::at(file, line)});
    return true;
  };
  if (load(DirectiveSink(sink), error) == Outcome::Failed) return error;
  return out;
}

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
