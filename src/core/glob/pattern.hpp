// Glob patterns: `*` (any run of bytes), `?` (one byte), `[...]` classes with
// ranges and `!` negation, `\x` for a literal x, and `{a,b}` alternatives.
//
// Pattern and text are byte strings; `/` and `.` are ordinary bytes, there is
// no case folding, and a match covers the whole text. Every text compiles:
// what cannot be read as a metacharacter stands for itself.
//
// Matching uses one restart point (the latest star): every token but `*`
// consumes exactly one byte, so resuming only the latest star is complete.
// It allocates nothing and takes at most about n * m steps for n tokens and
// m bytes, per alternative.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/glob/brace.hpp"

namespace quorvel::core::glob {

// A set of bytes, as a 256-bit map. `ByteSet{}` is the empty set; a
// default-initialised one is left unset, for scratch space.
struct ByteSet {
  std::array<std::uint64_t, 4> bits;
  void add(std::uint8_t b) { bits[b >> 6] |= std::uint64_t{1} << (b & 63); }
  void add_range(std::uint8_t lo, std::uint8_t hi) {
    for (unsigned b = lo; b <= hi; ++b) add(static_cast<std::uint8_t>(b));
  }
  void invert() {
    for (auto& w : bits) w = ~w;
  }
  bool has(std::uint8_t b) const { return (bits[b >> 6] >> (b & 63)) & 1; }
  bool operator==(const ByteSet&) const = default;
};

// One compiled token. A class token refers to the accepted set of bytes
// (members, or non-members when it was written `[!...]`).
struct Tok {
  // End separates the alternatives of a compiled pattern; compile_alt never
  // produces it.
  enum class Kind : std::uint8_t { Star, Any, Lit, Class, End };
  Kind kind;
  std::uint8_t byte;   // Lit
  std::uint32_t cls;   // Class: index into the pattern's sets
};

// A token as the matcher sees it.
struct TokView {
  Tok::Kind kind;
  std::uint8_t byte;
  const ByteSet* set;
  bool accepts(std::uint8_t b) const {
    switch (kind) {
      case Tok::Kind::Any: return true;
      case Tok::Kind::Lit: return b == byte;
      case Tok::Kind::Class: return set->has(b);
      case Tok::Kind::Star:
      case Tok::Kind::End: break;
    }
    return false;
  }
};

// Tokens of one or more alternatives; classes live in a shared pool.
struct TokList {
  std::vector<Tok> toks;
  std::vector<ByteSet> sets;
};

// Compiles one brace-free alternative, appending its tokens to `out`.
// Braces and commas are ordinary bytes here.
void compile_alt(std::string_view alt, TokList& out);

// Matches a brace-free pattern text against `text` without compiling it
// (the same tokens compile_alt would give, read on the fly).
bool match_text(std::string_view pattern, std::string_view text);

// Matches any pattern against `text` without keeping a compiled form: the
// same answer as Pattern::compile(pattern).matches(text), and for patterns of
// a few groups without allocating.
bool match_once(std::string_view pattern, std::string_view text);

// A compiled glob. Immutable once built; copies are independent.
class Pattern {
 public:
  Pattern() = default;
  // Never fails: every text is a pattern.
  static Pattern compile(std::string_view source);
  // Compiles keeping only the brace structure, however small the pattern
  // (the form used for patterns whose alternatives would be large).
  static Pattern compile_compact(std::string_view source);

  bool matches(std::string_view text) const;

  // The text exactly as given to compile: the display of the pattern.
  const std::string& source() const { return source_; }
  std::size_t alternative_count() const;
  // The tokens of every alternative, in order (for inspection and tests).
  std::vector<TokList> alternatives() const;
  bool compact() const { return split_ != nullptr; }

 private:
  struct Compact;
  bool matches_compact(std::string_view text) const;

  std::string source_;
  // A single alternative of plain bytes (no `*?[\`, no group): matching is
  // comparing with the source, and no tokens are kept.
  bool literal_ = false;
  // Full form: the tokens of every alternative, in order, each but the last
  // followed by an End token.
  std::vector<Tok> toks_;
  std::vector<ByteSet> sets_;
  // Compact form: the brace structure only; alternatives are matched from
  // their texts without being multiplied out. Immutable, so copies share it.
  std::shared_ptr<const Compact> split_;
};

}  // namespace quorvel::core::glob
