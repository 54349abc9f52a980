// Brace expansion: `x{a,b}y` stands for the alternatives `xay` and `xby`.
//
// Groups do not nest (a group ends at its first unescaped `}`), a backslash
// makes the next byte ordinary, backslashes are kept for the glob compiler,
// and a pattern with more than 1024 alternatives has no expansion at all.
//
// This is the one brace scanner of the glob room. `next_group` finds groups
// left to right; `brace_shape` keeps only the groups of two or more choices
// (at most ten of them fit under the cap) and dissolves single-choice groups
// into the fixed text around them. Every scan is one left-to-right pass, so
// any number of groups costs time linear in the source and no stack.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/text/text.hpp"

namespace quorvel::core::glob {

// At most this many alternatives; one more and the pattern is taken literally.
inline constexpr std::size_t kMaxAlternatives = 1024;

// Groups of two or more choices that fit under the cap: 2^10 = 1024.
inline constexpr std::size_t kMaxGroups = 10;

// A group `{...}` of the source, by the offsets of its two braces.
struct Group {
  std::size_t open;     // offset of the `{`
  std::size_t close;    // offset of the `}`
  std::size_t choices;  // the number of its choices (unescaped commas + 1)
};

// The first group that starts at or after `from` (a position that no
// backslash escapes), or nothing: then the rest of the source is plain text.
std::optional<Group> next_group(std::string_view s, std::size_t from);

// Calls `out(choice)` for every choice of group `g`, in order, backslashes kept.
template <class Out>
void for_each_choice(std::string_view s, Group g, Out&& out) {
  std::size_t start = g.open + 1;
  for (;;) {
    const std::size_t comma = text::find_unescaped(s, start, g.close, ',');
    if (comma == std::string_view::npos) break;
    out(s.substr(start, comma - start));
    start = comma + 1;
  }
  out(s.substr(start, g.close - start));
}

// The brace structure of a source, without multiplying it out.
struct BraceShape {
  bool literal = false;         // past the cap: the source is its own single alternative
  std::size_t ngroups = 0;      // groups of two or more choices, at most kMaxGroups
  Group groups[kMaxGroups]{};   // those groups, left to right
  std::size_t choices[kMaxGroups]{};  // the number of choices of each
  std::size_t count = 1;        // the number of alternatives
  bool dissolved = false;       // some single-choice group was dissolved
};

// Scans `s` once for its groups and the number of its alternatives.
BraceShape brace_shape(std::string_view s);

// Calls `out(span)` for the spans of fixed text number `index` of `shape`
// (the text before group `index`, or after the last group), with the braces
// of single-choice groups left out; a literal shape has one fixed text, the
// whole source.
template <class Out>
void for_each_fixed_span(std::string_view s, const BraceShape& shape, std::size_t index, Out&& out) {
  if (shape.literal) {
    out(s);
    return;
  }
  std::size_t pos = index == 0 ? 0 : shape.groups[index - 1].close + 1;
  const std::size_t end = index < shape.ngroups ? shape.groups[index].open : s.size();
  if (!shape.dissolved) {
    out(s.substr(pos, end - pos));  // no group lies between: one span
    return;
  }
  // Single-choice groups between `pos` and `end`: their body stands for them.
  for (;;) {
    const auto g = next_group(s, pos);
    if (!g || g->open >= end) break;
    out(s.substr(pos, g->open - pos));
    out(s.substr(g->open + 1, g->close - g->open - 1));
    pos = g->close + 1;
  }
  out(s.substr(pos, end - pos));
}

// The alternatives of `source` in order, or nothing past the cap.
std::optional<std::vector<std::string>> expand_braces_capped(std::string_view source);

}  // namespace quorvel::core::glob
