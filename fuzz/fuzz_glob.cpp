// Brace expansion, compilation and matching. Input: pattern NUL text.
// Properties: at most 1024 alternatives; the full form, the compact form and
// the on-the-fly matcher agree; a pattern without metacharacters matches
// itself and nothing longer; the display is the source.
#include <cstring>
#include <string_view>

#include "core/glob/brace.hpp"
#include "core/glob/pattern.hpp"
#include "fuzz_check.hpp"

using namespace quorvel::core::glob;

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  const std::string_view in(reinterpret_cast<const char*>(data), size);
  const std::size_t cut = in.find('\0');
  const std::string_view pattern = in.substr(0, cut);
  const std::string_view text = cut == std::string_view::npos ? pattern : in.substr(cut + 1);

  const auto alts = expand_braces_capped(pattern);
  if (alts) FUZZ_CHECK(!alts->empty() && alts->size() <= kMaxAlternatives);

  const Pattern p = Pattern::compile(pattern);
  FUZZ_CHECK(p.source() == pattern);
  FUZZ_CHECK(p.alternative_count() == (alts ? alts->size() : 1));
  const bool hit = p.matches(text);
  FUZZ_CHECK(Pattern::compile_compact(pattern).matches(text) == hit);
  FUZZ_CHECK(match_once(pattern, text) == hit);
  if (pattern.find('{') == std::string_view::npos) FUZZ_CHECK(match_text(pattern, text) == hit);
  if (alts && alts->size() <= 64) {  // the cross-check per alternative is slow under ASan
    bool any = false;
    for (const auto& a : *alts) any = any || match_text(a, text);
    FUZZ_CHECK(any == hit);
  }
  if (pattern.find_first_of("*?[\\{") == std::string_view::npos) {
    FUZZ_CHECK(p.matches(pattern));
    FUZZ_CHECK(!p.matches(std::string(pattern) + "x"));
  }
  return 0;
}
