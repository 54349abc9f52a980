// Matching: one bit-parallel simulation of a compiled program.
//
// Cost bound. Let n be the positions of the program (at most a small
// constant times the source bytes, plus the class positions of straddling
// brackets) and W = n / 64 words. A text byte costs one step: per word a
// table lookup (or, past four words, the acceptance of the live positions),
// a shift, an AND and two ORs; then the closure visits only the junctions
// that a live run end reaches, each over its own out-mask words, and the
// out-masks of the junctions never overlap (the runs that leave a junction
// are laid out together). So a step costs at most about 2W word operations
// plus the live junctions, and m bytes cost about (source bytes) * m / 64
// word operations plus a constant per call, whatever the number of
// alternatives: nothing is multiplied out and nothing is compiled per call.
// A fixed point whose one live byte-consuming position is a literal skips to
// the next occurrence of that byte with memchr.
//
// Scratch lives on the stack, or for a long pattern in one block freed
// before the call returns; nothing is kept between calls.
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
