// The directive-file format. Properties: line numbers rise strictly and stay
// within the file; every directive is what its own line parses to; a failure
// names a line whose text the grammar refuses.
#include <string>
#include <string_view>
#include <vector>

#include "core/text/text.hpp"
#include "fuzz_check.hpp"
#include "source/file.hpp"

using namespace quorvel;

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  if (!core::text::valid_utf8(text)) return 0;
  auto r = source::file::parse_str(text, "F");
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
  if (!r.ok()) {
    const auto* p = std::get_if<0>(&r.error().error);
    FUZZ_CHECK(p != nullptr);
    FUZZ_CHECK(p->first.line >= 1 && p->first.line <= lines.size());
    FUZZ_CHECK(!core::parse::parse_as(line_text(p->first.line)).ok());
    return 0;
  }
  std::uint64_t last = 0;
  for (const auto& s : r.value()) {
    FUZZ_CHECK(s.origin.line > last && s.origin.line <= lines.size());
    last = s.origin.line;
    auto alone = core::parse::parse_as(line_text(s.origin.line));
    FUZZ_CHECK(alone.ok());
    FUZZ_CHECK(core::directive::text_form(alone.value()) == core::directive::text_form(s.directive));
  }
  return 0;
}
