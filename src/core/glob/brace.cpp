#include "core/glob/brace.hpp"

#include <cstring>

#include "core/text/text.hpp"

namespace quorvel::core::glob {

using core::text::find_unescaped;

void BraceSplit::digits(std::size_t index, std::size_t* out) const {
  // `index` in the mixed radix of the group sizes, the last group fastest.
  for (std::size_t g = groups.size(); g-- > 0;) {
    out[g] = index % groups[g].size();
    index /= groups[g].size();
  }
}

void BraceSplit::alternative(std::string_view source, std::size_t index, std::string& out) const {
  out.clear();
  std::size_t d[16];
  digits(index, d);
  for (std::size_t g = 0; g < groups.size(); ++g) {
    out += fixed[g];
    out += groups[g][d[g]].in(source);
  }
  out += fixed.back();
}

std::optional<BraceSplit> split_braces(std::string_view s) {
  BraceSplit split;
  std::string current;
  std::size_t fixed_bytes = 0;  // bytes every alternative shares
  std::vector<std::size_t> group_bytes;  // total choice bytes of each group
  std::size_t pos = 0;
  const std::size_t n = s.size();
  for (;;) {
    const std::size_t open = find_unescaped(s, pos, n, '{');
    if (open == std::string_view::npos || open + 1 == n) break;
    const std::size_t close = find_unescaped(s, open + 1, n, '}');
    if (close == std::string_view::npos) break;
    current.append(s.substr(pos, open - pos));
    std::vector<Span> choices;
    std::size_t start = open + 1;
    for (;;) {
      const std::size_t comma = find_unescaped(s, start, close, ',');
      if (comma == std::string_view::npos) {
        choices.push_back(Span{start, close - start});
        break;
      }
      choices.push_back(Span{start, comma - start});
      start = comma + 1;
    }
    if (choices.size() == 1) {
      current.append(choices.front().in(s));
    } else {
      // count * size > cap, written so that nothing can overflow.
      if (choices.size() > kMaxAlternatives / split.count) return std::nullopt;
      split.count *= choices.size();
      fixed_bytes += current.size();
      split.fixed.push_back(std::move(current));
      current.clear();
      std::size_t bytes = 0;
      for (auto c : choices) bytes += c.len;
      group_bytes.push_back(bytes);
      split.groups.push_back(std::move(choices));
    }
    pos = close + 1;
  }
  current.append(s.substr(pos));
  fixed_bytes += current.size();
  split.fixed.push_back(std::move(current));
  // Every alternative holds all fixed texts; each choice of group g appears in
  // count / |g| alternatives.
  split.total_bytes = fixed_bytes * split.count;
  for (std::size_t g = 0; g < split.groups.size(); ++g) {
    split.total_bytes += group_bytes[g] * (split.count / split.groups[g].size());
  }
  return split;
}

std::optional<std::vector<std::string>> expand_braces_capped(std::string_view source) {
  auto split = split_braces(source);
  if (!split) return std::nullopt;
  std::vector<std::string> out(split->count);
  for (std::size_t i = 0; i < split->count; ++i) split->alternative(source, i, out[i]);
  return out;
}

}  // namespace quorvel::core::glob
