#include "source/file.hpp"

#include <cstring>

#include "core/text/text.hpp"

namespace quorvel::source::file {

namespace {

// How much text may go by between two interrupt checks.
constexpr std::size_t kCheckEvery = std::size_t{4} << 20;

}  // namespace

std::optional<SourceError> parse_lines(std::string_view text, std::string_view name,
                                       const OnDirective& on_directive, const InterruptCheck& check) {
  if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  std::uint64_t line_no = 0;
  std::size_t pos = 0;
  std::size_t next_check = kCheckEvery;
  const std::size_t n = text.size();
  while (pos < n) {
    ++line_no;
    if (pos >= next_check) {
      next_check = pos + kCheckEvery;
      if (check && check()) return SourceError{Where::source(name), Reason::Interrupted};
    }
    const void* nl = std::memchr(text.data() + pos, '\n', n - pos);
    const std::size_t end = nl ? static_cast<std::size_t>(static_cast<const char*>(nl) - text.data()) : n;
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    line = core::text::trim_end(line);
    const std::string_view body = core::text::trim_start(line);
    if (body.empty() || body.front() == '#') continue;
    auto parsed = core::parse::parse_as(line);
    if (!parsed.ok()) return SourceError::parse_error(Where::at(name, line_no), parsed.error());
    if (!on_directive(std::move(parsed).value(), line_no)) return SourceError{Where::source(name), Reason::Interrupted};
  }
  return std::nullopt;
}

}  // namespace quorvel::source::file
