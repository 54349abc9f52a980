// Glob patterns: `*` (any run of bytes), `?` (one byte), `[...]` classes with
// ranges and `!` negation, `\x` for a literal x, and `{a,b}` alternatives.
//
// Pattern and text are byte strings; `/` and `.` are ordinary bytes, there is
// no case folding, and a match covers the whole text. Every text compiles:
// what cannot be read as a metacharacter stands for itself.
//
// The room: brace.hpp (the brace scanner), token.hpp (byte sets, the class
// reader, the tokenizer), match.hpp (the roads and their bounds), engine.hpp
// with segments.cpp and automaton.cpp (the two engines), and here the
// compiled form: a 16-byte head, the source, and the body of its road.
// for_tests.hpp is for tests only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/glob/engine.hpp"

namespace quorvel::core::glob {

// The source text of a pattern: a view that also converts to std::string.
struct SourceText : std::string_view {
  // Views `s`.
  constexpr SourceText(std::string_view s) : std::string_view(s) {}
  // A copy of the text.
  operator std::string() const { return std::string(data(), size()); }
};

class PatternView;

// A compiled pattern in memory that the caller owns, in two steps that share
// one description of the layout and read the source once:
//   PatternPlan plan(source)   compiles it and knows its exact size;
//   plan.emit(out)             lays it out at `out` (8-byte aligned,
//                              plan.size() bytes) and gives a view of it;
//   PatternView(out)           a non-owning view of memory so laid out.
// The compiled form holds its own copy of the source; it points nowhere
// outside itself, so it may be copied or moved as bytes. A plan views
// `source`, which must outlive it.
class PatternPlan {
 public:
  explicit PatternPlan(std::string_view source);
  // The exact bytes (a multiple of 8) that emit lays out.
  std::size_t size() const { return size_; }
  // Lays the compiled form out at `out`.
  PatternView emit(void* out) const;

 private:
  std::string_view source_;                  // the pattern text
  std::uint32_t road_ = 0, a_ = 0, b_ = 0;   // the head's road and its two facts
  bool dissolved_ = false;                    // Segments: braces of one choice were dissolved...
  std::string alt_;                          // ...into this one alternative
  std::size_t fail_at_ = 0;                  // Segments: the first `[` that does not close
  std::optional<AutomatonPlan> automaton_;   // the Automaton road's build
  std::size_t size_ = 0;                     // bytes of the form
};

// A compiled pattern that someone else keeps alive: a pointer, copied freely.
class PatternView {
 public:
  // Views the compiled form at `block` (laid out by PatternPlan::emit).
  explicit PatternView(const void* block) noexcept : block_(block) {}

  // Whether the whole `text` matches one of the alternatives.
  bool matches(std::string_view text) const;
  // The text exactly as compiled: the display of the pattern.
  SourceText source() const;
  // The bytes of the compiled form (what PatternPlan::size gave).
  std::size_t size() const;

 private:
  const void* block_;  // never null
};

// A compiled glob that keeps its compiled form alive: one shared heap block
// (a reference count, then the compiled form). Immutable once built; copies
// share the block.
class Pattern {
 public:
  // The empty pattern: it matches only the empty text.
  Pattern() noexcept = default;
  // Shares `other`'s block.
  Pattern(const Pattern& other) noexcept;
  // Takes `other`'s block, leaving it the empty pattern.
  Pattern(Pattern&& other) noexcept : block_(other.block_) { other.block_ = nullptr; }
  // Shares `other`'s block.
  Pattern& operator=(const Pattern& other) noexcept;
  // Takes `other`'s block.
  Pattern& operator=(Pattern&& other) noexcept;
  // Drops this pattern's share of its block.
  ~Pattern();

  // Never fails (but for memory): every text is a pattern.
  static Pattern compile(std::string_view source);

  // Whether the whole `text` matches one of the alternatives.
  bool matches(std::string_view text) const;

  // The text exactly as given to compile: the display of the pattern.
  SourceText source() const;

  // The bytes of the pattern's block (reference count and compiled form).
  std::size_t bytes_kept() const;

 private:
  struct Block;
  Block* block_ = nullptr;  // null for the empty pattern
  // The compiled form in the block.
  PatternView view() const;
};

// The same answer as Pattern::compile(pattern).matches(text), keeping
// nothing: short patterns compile on the stack.
bool match_once(std::string_view pattern, std::string_view text);

}  // namespace quorvel::core::glob
