// The one error of a failed load: where it failed and why, with the message
// table beside the reasons.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/parse/parse.hpp"

namespace quorvel::source {

// The name under which standard input appears in origins and messages.
inline constexpr std::string_view kStdinName = "<stdin>";

// Where a load failed: the inline value itself, a named source as a whole, or
// one line of a named source.
struct Where {
  bool is_inline = true;   // the value was the directive itself
  std::string file;        // the path as written after `@`, or "<stdin>"
  std::uint64_t line = 0;  // counted from 1; 0 for the source as a whole

  // The inline value.
  static Where inline_value() { return Where{}; }
  // A named source as a whole.
  static Where source(std::string_view file) { return Where{false, std::string(file), 0}; }
  // One line of a named source.
  static Where at(std::string_view file, std::uint64_t line) { return Where{false, std::string(file), line}; }

  // "<inline>", "NAME" or "NAME:LINE".
  std::string display() const;
};

// Why a load failed.
enum class Reason : std::uint8_t {
  Parse,        // the grammar refused a directive
  Os,           // the operating system refused an open or a read
  InvalidUtf8,  // the content is not UTF-8
  NulInName,    // the file name holds NUL
  StdinBusy,    // this thread is already reading standard input
  Interrupted,  // a hook said stop; the caller holds its own error
};

// The fixed text of each reason; Parse and Os are written from their details.
inline constexpr std::array<std::string_view, 6> kReasonMessages = {
    "",  // Parse: the ParseError's text
    "",  // Os: the C library's text, then " (os error N)"
    "stream did not contain valid UTF-8",
    "file name contained an unexpected NUL byte",
    "standard input is already being read",
    "interrupted",
};
static_assert(kReasonMessages.size() == static_cast<std::size_t>(Reason::Interrupted) + 1);

// A failed load. Its display text is the user's message: where, ": ", why.
struct SourceError {
  Where where;
  Reason reason;
  int os_error = 0;                 // Os only: the error number
  core::parse::ParseError parse{};  // Parse only: the grammar's error

  // A refused directive at `where`.
  static SourceError parse_error(Where where, core::parse::ParseError error);

  // The message: the place, ": ", then the reason's text.
  std::string message() const;
};

}  // namespace quorvel::source
