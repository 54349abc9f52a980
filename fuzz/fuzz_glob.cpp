// Brace expansion, compilation and matching. Input: pattern NUL text.
// Properties: at most 1024 alternatives; the compiled pattern, match_once and
// the simple reference matcher agree; a pattern without metacharacters
// matches itself and nothing longer; the display is the source.
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
  const std::string_view pattern = in.substr(0, cut);
  const std::string_view text = cut == std::string_view::npos ? pattern : in.substr(cut + 1);

  const auto alts = expand_braces_capped(pattern);
  if (alts) FUZZ_CHECK(!alts->empty() && alts->size() <= kMaxAlternatives);
  FUZZ_CHECK(for_tests::alternative_count(pattern) == (alts ? alts->size() : 1));

  const Pattern p = Pattern::compile(pattern);
  FUZZ_CHECK(std::string_view(p.source()) == pattern);
  // At most 4 bytes per source byte plus a fixed part (headers, positions
  // rounded up to whole words). A `[` that may straddle a brace adds the
  // readings its class gets from the choices (at most 1024 a boundary).
  const bool brackets = pattern.find('[') != std::string_view::npos;
  FUZZ_CHECK(p.bytes_kept() <= 4 * pattern.size() + 1024 + (brackets ? 64 * pattern.size() + (1 << 20) : 0));
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
