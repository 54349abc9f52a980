// The directive-file format. Properties: line numbers rise strictly and stay
// within the file; every directive is what its own line parses to; a failure
// names a line whose text the grammar refuses.
#include <string>
#include <string_view>
#include <vector>

#include "core/text/text.hpp"
#include "fuzz_check.hpp"
#include "source/file.hpp"
#include "source/hooks.hpp"

using namespace quorvel;

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  if (!core::text::valid_utf8(text)) return 0;
  // The directives as handed over, with their line numbers.
  std::vector<std::pair<std::uint64_t, std::string>> got;
  const auto error = source::file::parse_lines(
      text, "F",
      [&](core::directive::Directive<>&& d, std::uint64_t line) {
        got.emplace_back(line, core::directive::text_form(d));
        return true;
      },
      {});
  // The physical lines, as the format numbers them.
  std::string_view body = text;
  if (body.substr(0, 3) == "\xEF\xBB\xBF") body.remove_prefix(3);
  std::vector<std::string_view> lines;
  std::size_t pos = 0;
  while (pos < body.size()) {
    std::size_t nl = body.find('\n', pos);
    if (nl == std::string_view::npos) nl = body.size();
    lines.push_back(body.substr(pos, nl - pos));
    pos = nl + 1;
  }
  auto line_text = [&](std::uint64_t n) {
    std::string_view l = lines.at(n - 1);
    if (!l.empty() && l.back() == '\r') l.remove_suffix(1);
    return core::text::trim_end(l);
  };
  std::uint64_t last = 0;
  for (const auto& [line, form] : got) {
    FUZZ_CHECK(line > last && line <= lines.size());
    last = line;
    auto alone = core::parse::parse_as(line_text(line));
    FUZZ_CHECK(alone.ok());
    FUZZ_CHECK(core::directive::text_form(alone.value()) == form);
  }
  if (error) {
    // The failing line comes after every directive handed over.
    FUZZ_CHECK(error->reason == source::Reason::Parse && !error->where.is_inline && error->where.file == "F");
    FUZZ_CHECK(error->where.line > last && error->where.line <= lines.size());
    FUZZ_CHECK(!core::parse::parse_as(line_text(error->where.line)).ok());
    FUZZ_CHECK(error->message().rfind("F:" + std::to_string(error->where.line) + ": ", 0) == 0);
  }
  return 0;
}
