#include "source/cli.hpp"

#include <mutex>

namespace quorvel::source::cli {

namespace {

// The process's standard-input lock. Recursive, so that a signal handler that
// itself reads `@-` while a read waits cannot deadlock its own thread.
std::recursive_mutex& stdin_lock() {
  static std::recursive_mutex m;
  return m;
}

}  // namespace

file::Outcome expand_each(std::string_view value, const InterruptCheck& check, const file::DirectiveSink& sink,
                          SourceError& error) {
  if (value.empty() || value.front() != '@') {
    auto parsed = core::parse::parse_as(value);
    if (!parsed.ok()) {
      error = SourceError{std::pair<Origin, core::parse::ParseError>{Origin::inline_value(), parsed.error()}};
      return file::Outcome::Failed;
    }
    return sink(std::move(parsed).value(), 0) ? file::Outcome::Done : file::Outcome::Stopped;
  }
  const std::string_view rest = value.substr(1);
  if (rest == "-") {
    std::lock_guard<std::recursive_mutex> guard(stdin_lock());
    return file::parse_reader_each(0, "<stdin>", check, sink, error);
  }
  return file::parse_file_each(rest, sink, error);
}

file::Loaded expand(std::string_view value, const InterruptCheck& check) {
  const std::string_view rest = value.substr(value.empty() ? 0 : 1);
  const std::string_view name = rest == "-" ? std::string_view("<stdin>") : rest;
  return file::collect(name, [&](const file::DirectiveSink& sink, SourceError& e) {
    return expand_each(value, check, sink, e);
  });
}

}  // namespace quorvel::source::cli
