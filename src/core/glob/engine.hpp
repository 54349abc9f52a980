// The two engines behind a compiled pattern, as the compiled form's body:
// segments for a pattern of one alternative, the automaton for braces.
// match.hpp states the algorithms and their bounds; pattern.cpp chooses
// between them, once, at compile time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "core/glob/brace.hpp"
#include "core/glob/token.hpp"

namespace quorvel::core::glob {

// ---- Segments -------------------------------------------------------------

// A segment of a pattern of one alternative: its tokens between two stars,
// as a span of the text they are read from, and its width in text bytes.
struct Seg {
  std::uint32_t begin, end;
  std::uint32_t width_plain;  // width << 1 | the span is its bytes as written (no escape, `?` or class)
  std::uint32_t width() const { return width_plain >> 1; }
  bool plain() const { return width_plain & 1; }
};

// The segments of `s`, written to out[0, cap) (those past cap only counted);
// gives their number and sets `fail_at` to the offset of the first `[` that
// does not close (npos if none).
std::size_t scan_segments(std::string_view s, Seg* out, std::size_t cap, std::size_t& fail_at);

// Whether `text` matches the segments `segs` of `s` (the first at the
// start, the last at the end; one segment, without a star, is the whole
// text).
bool match_segments(std::string_view s, std::size_t fail_at, const Seg* segs, std::size_t nseg,
                    std::string_view text);

// ---- Automaton ------------------------------------------------------------

struct AutomatonBuild;

// A braced pattern compiled into one position automaton.
class AutomatonPlan {
 public:
  AutomatonPlan(std::string_view source, const BraceShape& shape);
  ~AutomatonPlan();
  AutomatonPlan(AutomatonPlan&&) noexcept;
  std::size_t body_size() const;
  void emit(std::uint8_t* out) const;
  std::uint32_t positions() const;
  std::uint32_t junctions() const;
  unsigned index_bytes() const;  // the narrowest of 1, 2 or 4 that holds its indices

 private:
  std::unique_ptr<AutomatonBuild> build_;
};

bool match_automaton(const std::uint8_t* body, std::uint32_t npos, std::uint32_t njunctions, unsigned index_bytes,
                     std::string_view text);

}  // namespace quorvel::core::glob
