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

file::Loaded expand(std::string_view value, const InterruptCheck& check) {
  if (value.empty() || value.front() != '@') {
    auto parsed = core::parse::parse_as(value);
    if (!parsed.ok()) {
      return SourceError{std::pair<Origin, core::parse::ParseError>{Origin::inline_value(), parsed.error()}};
    }
    std::vector<Sourced> out;
    out.push_back(Sourced{std::move(parsed).value(), Origin::inline_value()});
    return out;
  }
  const std::string_view rest = value.substr(1);
  if (rest == "-") {
    std::lock_guard<std::recursive_mutex> guard(stdin_lock());
    return file::parse_reader(0, "<stdin>", check);
  }
  return file::parse_file(rest);
}

}  // namespace quorvel::source::cli
