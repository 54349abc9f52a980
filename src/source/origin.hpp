// Where a directive came from, a directive with its origin, and the one
// error of a failed load.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <variant>
#include <vector>

#include "core/directive/directive.hpp"
#include "core/parse/parse.hpp"

namespace quorvel::source {

// `Inline` (the value itself) or a line of a named file.
struct Origin {
  bool is_inline = true;
  std::string file;  // the path as written after `@`, or "<stdin>"
  std::uint64_t line = 0;

  static Origin inline_value() { return Origin{}; }
  static Origin at(std::string file, std::uint64_t line) { return Origin{false, std::move(file), line}; }
  std::string display() const;
};

struct Sourced {
  core::directive::Directive<> directive;
  Origin origin;
};

// An input/output failure: an OS error number, content that is not UTF-8,
// or a file name holding NUL.
struct IoError {
  enum class Kind : std::uint8_t { Os, InvalidUtf8, NulInName };
  Kind kind;
  int code = 0;  // Os only

  std::string message() const;
};

struct SourceError {
  // Parse: origin + parse error. Io: file + io error.
  std::variant<std::pair<Origin, core::parse::ParseError>, std::pair<std::string, IoError>> error;

  std::string message() const;
};

// Asked when a blocking read is interrupted by a signal: true means "stop, the
// caller has an exception to raise".
using InterruptCheck = std::function<bool()>;

}  // namespace quorvel::source
