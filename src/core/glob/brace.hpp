// Brace expansion: `x{a,b}y` stands for the alternatives `xay` and `xby`.
//
// Groups do not nest (a group ends at its first unescaped `}`), a backslash
// makes the next byte ordinary, backslashes are kept for the glob compiler,
// and a pattern with more than 1024 alternatives has no expansion at all.
// The work is a single left-to-right loop: any number of groups is fine.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel::core::glob {

// At most this many alternatives; one more and the pattern is taken literally.
inline constexpr std::size_t kMaxAlternatives = 1024;

// A piece of the source text, by offset, so that a split stays valid when the
// text it was made from is copied or moved along with it.
struct Span {
  std::size_t off;
  std::size_t len;
  std::string_view in(std::string_view source) const { return source.substr(off, len); }
};

// The structure of a brace pattern, without multiplying it out: the
// alternatives are fixed[0] + groups[0][i0] + fixed[1] + ... + fixed[k], for
// every choice of indices, the first group varying slowest. Single-choice
// groups are folded into the fixed texts, so there are at most ten groups.
struct BraceSplit {
  std::vector<std::string> fixed;        // groups.size() + 1 texts
  std::vector<std::vector<Span>> groups;  // each with >= 2 choices, in the source
  std::size_t count = 1;                  // number of alternatives
  std::size_t total_bytes = 0;            // sum of their lengths

  // The group choices of alternative `index`, first group first.
  void digits(std::size_t index, std::size_t* out) const;
  // Writes alternative `index` (0 <= index < count) of `source` into `out`.
  void alternative(std::string_view source, std::size_t index, std::string& out) const;
};

// Splits `source`, or gives nothing when it has more than kMaxAlternatives
// alternatives.
std::optional<BraceSplit> split_braces(std::string_view source);

// The alternatives of `source` in order, or nothing past the cap.
std::optional<std::vector<std::string>> expand_braces_capped(std::string_view source);

}  // namespace quorvel::core::glob
