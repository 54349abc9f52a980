// How a compiled pattern matches, and what each road costs. Let n be the
// bytes of the source and m those of the text. The road is chosen once, at
// compile time (pattern.cpp, `Road`), from what brace expansion and the
// tokens say.
//
// Literal: no star, no escape, `?` or class. The text equals the source:
// one comparison, m <= n bytes.
//
// HeadTail: one star (or a run of them), otherwise Literal. The text starts
// with the bytes before the star and ends with those after it: two
// comparisons, at most n bytes.
//
// Segments: every other pattern of one alternative (no group of two or more
// choices, or more than 1024 alternatives, when braces are literal). Its
// stars cut it into fixed-width segments of literal bytes, `?` and classes.
// The first is compared at the start of the text, the last at its end; each
// middle one is found at its leftmost place after the one before, since a
// star takes any run and a later place never leaves more room. A literal
// segment is found by memchr or memmem (linear in the text); another one, in
// a short search, by testing each start (at most 512 atom tests), else by
// shift-and: a table of 256 x W words for its w atoms (W = ceil(w / 64)),
// built once per search in O(256 x classes + w), then W word operations per
// text byte. So a match costs O(n) plus O(m x W) per middle segment, with
// O(m) for literal ones; compiling reads the source twice, O(n).
//
// Automaton: a pattern with braces that stand for 2 to 1024 alternatives.
// Brace expansion cuts the source into layers (the fixed texts and the
// groups, each a list of choices); every alternative is one path through
// them. Tokenizing an alternative is a left-to-right scan whose only look-
// ahead is whether a `[` closes, so the scan runs over the layers with its
// state made explicit, and readings that reach the same place in the same
// state merge at a junction:
//   Normal   reading tokens;
//   NoClose  after a `[` that did not close: every later `[` is a literal,
//            and an unescaped `]` (past the first element) kills the reading,
//            since it would have closed that `[`;
//   open     a class being read across a boundary, by the fork it started at
//            and its reader's control state; readings that share both merge
//            into one, their members joined (union, or intersection when
//            negated: see AutomatonBuild::add_open), so a class spanning any
//            number of groups stays one reading per control state and ends
//            as one position per place it closes.
// A `[` whose class closes inside its own choice is a class; one with no `]`
// anywhere after its choice is a literal; only the rest fork into a literal
// reading and an open class, and exactly one of the two survives in each
// alternative: so the union of the readings is the pattern's language.
//
// The automaton: runs of consecutive positions (bit p = "ready for token p";
// a run ends in an End position that accepts no byte, so a shift never leaks
// into the next run) joined by junctions, and a junction may lead straight
// to another (an empty choice). A text byte costs one step: per live word of
// W = npos / 64, an SSE2 compare of its literal bytes, a membership test per
// live class position, a shift, an AND and two ORs; then every reached End
// fires its junction once, each visiting its successors. So a step costs at
// most O(W + classes + junctions + successors), all bounded by the compiled
// size, whatever the number of alternatives; nothing is multiplied out.
// Compiling scans each choice once per reading that enters it: Normal, at
// most three NoClose phases, and one per control state of the open classes
// (a control state is the reader's phase, negation and pending literal and
// dash: fewer than 6,144 of them, and in practice one or two), so compile
// work is a constant times the source; a NoClose reading that dies in a
// choice emits nothing.
//
// Scratch lives on the stack, or for a large pattern or segment in blocks
// freed before the call returns: nothing is kept between calls.
#pragma once

#include <cstddef>

#ifdef QUORVEL_GLOB_STEPS
namespace quorvel::core::glob::counters {
// Work done in this thread (a test-only build): bytes scanned by the
// compiler, and word or atom steps of matching.
inline thread_local std::size_t compile_steps = 0;
inline thread_local std::size_t match_steps = 0;
}  // namespace quorvel::core::glob::counters
#define QUORVEL_GLOB_COUNT(which, n) (::quorvel::core::glob::counters::which += (n))
#else
#define QUORVEL_GLOB_COUNT(which, n) ((void)0)
#endif
