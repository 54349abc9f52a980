// Matching: one bit-parallel simulation of a compiled program.
//
// Cost bound. Let n be the positions of the program (a small constant
// times the source bytes, plus the class positions of straddling brackets)
// and W = n / 64 words. A text byte costs one step: per live word a table
// lookup (past four words, the acceptance of its live positions), a shift,
// an AND and two ORs; then the closure visits only the junctions that a
// live run end reaches, each once and each over its own out-mask words (the
// runs that leave a junction are laid out together, so out-masks do not
// overlap). A step is thus at most W + J word operations, J the junctions
// (two per brace group and state, and one per `[` that may straddle a brace
// or per place a straddling class closes). For m text bytes that is
// (W + J) * m plus a constant per call, whatever the number of alternatives:
// nothing is multiplied out and nothing is compiled per call. Only the live
// span of words is stepped, so positions far from any live one cost nothing.
//
// Skips and early answers, each exactly the automaton's answer: at a fixed
// point, the bytes that only live stars accept change nothing, so the scan
// jumps to the next byte another live position accepts (memchr, or SSE2
// range compares); and once the last star of every match is live, the
// fixed-length tokens after it decide on the last bytes alone.
//
// Scratch lives on the stack, or for a long pattern in blocks freed before
// the call returns; nothing is kept between calls.
#pragma once

#include <cstddef>
#include <string_view>

namespace quorvel::core::glob {

// Whether `middle` (the text without the literal head and tail that the
// caller has compared) takes the General program at `base` from its start
// position to an accepting one.
bool run_program(const void* base, std::string_view middle);

#ifdef QUORVEL_GLOB_STEPS
// Words stepped and closed by the simulation in this thread (tests only).
inline thread_local std::size_t word_steps = 0;
#endif

}  // namespace quorvel::core::glob
