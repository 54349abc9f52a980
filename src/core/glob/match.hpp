// Matching: one bit-parallel matcher over a compiled program, and the fast
// paths in front of it.
//
// Cost bound. A text of m bytes costs at most m steps; a step costs one pass
// over the live words of the position set (W = positions / 64 words, and the
// positions number at most source bytes + pieces), i.e. a shift, an AND with
// the byte's acceptance and an OR for the looping stars per word, plus the
// joins of at most ten groups, each over its own words. Classes take part in
// the acceptance as a column per text byte (the class positions accepting
// it), worked out the first time the byte is seen, once per distinct byte;
// a program of fewer than 64 classes tests its few live classes instead
// (at most eight ranges each). So matching is about
// (source bytes) * m / 64 word operations plus a constant per call, whatever
// the number of alternatives, and never more than linear in the text.
//
// Fast paths, each giving exactly the automaton's answer: a pattern of one
// literal piece is a comparison; the literal head and tail of every match are
// compared first (a tail at the end of the text in O(1)); a pattern that is
// head `*` tail is decided by those two comparisons; a trailing star stops
// the scan as soon as it is live; while the only live byte-consuming position
// is a literal after a star, the text is skipped with memchr; and short
// brace-free patterns run the single-restart loop over their tokens.
#pragma once

#include <cstddef>
#include <string_view>

#include "core/glob/compile.hpp"

namespace quorvel::core::glob {

// Alternatives up to this many bytes take the short loop...
inline constexpr std::size_t kShortPattern = 32;
// ...and patterns of that size with up to this many alternatives try each
// alternative on it (a constant factor, bounded like the loop itself).
inline constexpr std::size_t kFewAlternatives = 8;

// Whether the whole `text` matches the compiled program that starts at
// `base` (not per-alternative). The fast paths read only its header and
// literal bytes; the views of a Program are set up only for the automaton.
bool run_program(const void* base, std::string_view text);

// Whether `text` matches one of the alternatives of `source`, each compiled
// and run on its own (for brackets that straddle a brace boundary).
bool match_per_alternative(std::string_view source, const Pieces& pieces, std::string_view text);

// Whether `text` matches one of the at most kFewAlternatives alternatives of
// `pattern` (at most kShortPattern bytes), each on the short loop.
bool match_few_alternatives(std::string_view pattern, const BraceShape& shape, std::string_view text);

// Whether `text` matches the brace-free `pattern` of at most kShortPattern
// bytes, by the single-restart loop over its tokens.
bool match_short(std::string_view pattern, std::string_view text);

}  // namespace quorvel::core::glob
