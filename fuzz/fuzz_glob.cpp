// Brace expansion, compilation and matching. Input: pattern NUL text; or,
// after a first byte 0x01, bytes that each pick a piece of brackets and
// braces interleaved (a `[` before a group whose choice holds a `]`, classes
// opening in one alternative and closing in another), then NUL text.
// Properties: at most 1024 alternatives; the compiled pattern, match_once and
// the simple reference matcher agree; the compiled form stays within 64 + 8
// bytes per source byte (24 with brackets among braces); a pattern without
// metacharacters matches itself and nothing longer; the display is the source.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "core/glob/brace.hpp"
#include "core/glob/for_tests.hpp"
#include "core/glob/pattern.hpp"
#include "fuzz_check.hpp"
#include "../tests/reference/glob_reference.hpp"

using namespace quorvel::core::glob;

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  const std::string_view in(reinterpret_cast<const char*>(data), size);
  const std::size_t cut = in.find('\0');
  std::string_view pattern = in.substr(0, cut);
  const std::string_view text = cut == std::string_view::npos ? pattern : in.substr(cut + 1);
  std::string built;
  if (!pattern.empty() && pattern[0] == '\x01') {
    static const char* const pieces[] = {"[", "[!", "]", "{", "}", ",", "\\", "a", "b", "-", "*", "?", "!", "{]",
                                         "[{", ",]", "]}", "{,", "a-b", "{a,]}", "[{,]}", "\\]", "{a,b}", "[ab]"};
    for (char c : pattern.substr(1)) built += pieces[static_cast<unsigned char>(c) % (sizeof pieces / sizeof *pieces)];
    pattern = built;
  }

  const auto alts = expand_braces_capped(pattern);
  if (alts) FUZZ_CHECK(!alts->empty() && alts->size() <= kMaxAlternatives);
  FUZZ_CHECK(for_tests::alternative_count(pattern) == (alts ? alts->size() : 1));

  const Pattern p = Pattern::compile(pattern);
  FUZZ_CHECK(std::string_view(p.source()) == pattern);
  // 64 + 8 bytes per source byte; a `[` that may close in some alternatives
  // and not in others adds readings (at most three more per boundary, and a
  // class position per fork and place it closes): then 24.
  const bool straddles = pattern.find('[') != std::string_view::npos && pattern.find('{') != std::string_view::npos;
  FUZZ_CHECK(p.bytes_kept() - sizeof(std::uint64_t) <= 64 + (straddles ? 24 : 8) * pattern.size());
  const bool hit = p.matches(text);
  FUZZ_CHECK(match_once(pattern, text) == hit);
  const Pattern copy = p;
  FUZZ_CHECK(copy.matches(text) == hit);
  // The same form laid out in the caller's memory.
  const PatternPlan plan(pattern);
  std::string mem(plan.size() + 8, '\0');
  void* at = mem.data() + (8 - reinterpret_cast<std::uintptr_t>(mem.data()) % 8) % 8;
  const PatternView view = plan.emit(at);
  FUZZ_CHECK(view.size() + sizeof(std::uint64_t) == p.bytes_kept());
  FUZZ_CHECK(view.matches(text) == hit && std::string_view(view.source()) == pattern);
  // The reference multiplies the alternatives out: keep it to small products
  // (it is slow under the sanitizers).
  if (!alts || alts->size() <= 64) {
    const auto ref = quorvel::reference::expand(pattern);
    FUZZ_CHECK(ref == alts);
    FUZZ_CHECK(quorvel::reference::glob_match(pattern, text) == hit);
  }
  if (pattern.find_first_of("*?[\\{") == std::string_view::npos) {
    FUZZ_CHECK(p.matches(pattern));
    FUZZ_CHECK(!p.matches(std::string(pattern) + "x"));
  }
  return 0;
}
