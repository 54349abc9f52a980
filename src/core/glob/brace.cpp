#include "core/glob/brace.hpp"

namespace quorvel::core::glob {

using text::find_unescaped;

std::optional<Group> next_group(std::string_view s, std::size_t from) {
  const std::size_t open = find_unescaped(s, from, '{');
  // A `{` that is the last byte, or that no `}` follows, opens no group; and
  // then no later `{` can either, so the rest is plain text.
  if (open == std::string_view::npos || open + 1 == s.size()) return std::nullopt;
  // The group ends at the first unescaped `}`; its unescaped commas, counted
  // on the way, part its choices.
  std::size_t choices = 1;
  for (std::size_t i = open + 1; i < s.size(); ++i) {
    if (s[i] == '\\') {
      ++i;
    } else if (s[i] == ',') {
      ++choices;
    } else if (s[i] == '}') {
      return Group{open, i, choices};
    }
  }
  return std::nullopt;
}

BraceShape brace_shape(std::string_view s) {
  BraceShape shape;
  std::size_t pos = 0;
  while (const auto g = next_group(s, pos)) {
    pos = g->close + 1;
    const std::size_t k = g->choices;
    if (k == 1) {
      shape.dissolved = true;  // into the fixed text
      continue;
    }
    // count * k > cap, written so that nothing can overflow; every k >= 2, so
    // at most kMaxGroups groups get past this test.
    if (k > kMaxAlternatives / shape.count) {
      BraceShape literal;
      literal.literal = true;
      return literal;
    }
    shape.count *= k;
    shape.groups[shape.ngroups] = *g;
    shape.choices[shape.ngroups] = k;
    ++shape.ngroups;
  }
  return shape;
}

std::optional<std::vector<std::string>> expand_braces_capped(std::string_view source) {
  const BraceShape shape = brace_shape(source);
  if (shape.literal) return std::nullopt;
  // Alternatives grow group by group: the first group varies slowest.
  std::vector<std::string> alts{std::string()};
  const auto append_fixed = [&](std::size_t index) {
    std::string fixed;
    for_each_fixed_span(source, shape, index, [&](std::string_view span) { fixed += span; });
    for (auto& a : alts) a += fixed;
  };
  for (std::size_t g = 0; g < shape.ngroups; ++g) {
    append_fixed(g);
    std::vector<std::string> next;
    next.reserve(alts.size() * shape.choices[g]);
    for (const auto& a : alts) {
      for_each_choice(source, shape.groups[g], [&](std::string_view c) { next.push_back(a + std::string(c)); });
    }
    alts = std::move(next);
  }
  append_fixed(shape.ngroups);
  return alts;
}

}  // namespace quorvel::core::glob
