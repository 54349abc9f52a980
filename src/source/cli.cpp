#include "source/cli.hpp"

#include "core/text/text.hpp"
#include "source/file.hpp"
#include "source/read.hpp"
#include "source/stdin_lock.hpp"

namespace quorvel::source::cli {

namespace {

// Reads standard input whole under its lock. The lock is let go before the
// caller parses, so that code run by the hooks may read it again.
core::Result<Bytes, ReadFailure> read_stdin(const Hooks& hooks) {
  auto lock = StdinLock::take(hooks.wait_for_stdin, hooks.interrupted);
  if (!lock.ok()) return ReadFailure{lock.error()};
  return read_fd(0, hooks.interrupted);
}

}  // namespace

std::optional<SourceError> expand(std::string_view value, const Hooks& hooks) {
  if (value.empty() || value.front() != '@') {
    auto parsed = core::parse::parse_as(value);
    if (!parsed.ok()) return SourceError::parse_error(Where::inline_value(), parsed.error());
    if (!hooks.on_directive(std::move(parsed).value(), 0)) {
      return SourceError{Where::inline_value(), Reason::Interrupted};
    }
    return std::nullopt;
  }
  const std::string_view path = value.substr(1);
  const bool is_stdin = path == "-";
  const std::string_view name = is_stdin ? kStdinName : path;
  const auto bytes = is_stdin ? read_stdin(hooks) : read_path(path, hooks.interrupted);
  if (!bytes.ok()) return SourceError{Where::source(name), bytes.error().reason, bytes.error().os_error};
  const std::string_view text = bytes.value().view();
  if (!core::text::valid_utf8(text)) return SourceError{Where::source(name), Reason::InvalidUtf8};
  return file::parse_lines(text, name, hooks.on_directive, hooks.interrupted);
}

}  // namespace quorvel::source::cli
