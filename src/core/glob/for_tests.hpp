// A look into the glob room, for tests, fuzzing and benchmarks only: the
// tokens of one alternative as the dialect defines them, and the facts a
// test may check about a compiled pattern.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "core/glob/brace.hpp"
#include "core/glob/compile.hpp"
#include "core/glob/pattern.hpp"
#include "core/glob/token.hpp"

namespace quorvel::core::glob::for_tests {

// One token of an alternative.
struct Tok {
  TokKind kind;      // Star, Any, Lit or Class
  std::uint8_t byte; // the byte of a Lit
  ByteSet set;       // the accepted bytes of a Class
};

// The tokens of one brace-free alternative (`**` is two stars).
inline std::vector<Tok> compile_alt(std::string_view alt) {
  std::vector<Tok> out;
  tokenize(alt, [&](TokKind kind, std::uint8_t byte, const ByteSet& set, bool) {
    out.push_back(Tok{kind, kind == TokKind::Lit ? byte : std::uint8_t{0}, kind == TokKind::Class ? set : ByteSet{}});
  });
  return out;
}

// The number of alternatives of `source` (1 past the cap).
inline std::size_t alternative_count(std::string_view source) {
  const BraceShape shape = brace_shape(source);
  return shape.literal ? 1 : shape.count;
}

// Whether `source` is matched alternative by alternative (a bracket that
// may straddle a brace boundary) instead of by one automaton.
inline bool per_alternative(std::string_view source) {
  Pieces pieces;
  cut_pieces(source, pieces, nullptr);
  ScanScratch scratch(source);
  return scan_program(source, pieces, scratch).h.per_alternative;
}

}  // namespace quorvel::core::glob::for_tests
