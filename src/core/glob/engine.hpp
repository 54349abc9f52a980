// The two engines behind a compiled pattern, as the compiled form's body:
// segments for a pattern of one alternative, the automaton for braces.
// match.hpp states the algorithms and their bounds; pattern.cpp chooses
// between them, once, at compile time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "core/glob/token.hpp"

namespace quorvel::core::glob {

// A vector that keeps its first N items inline, so that short patterns
// compile without the heap.
template <class T, std::size_t N>
class SmallVec {
 public:
  void push_back(const T& v) {
    if (size_ < N) {
      inline_[size_] = v;
    } else {
      if (size_ == N) heap_.assign(inline_, inline_ + N);
      heap_.push_back(v);
    }
    ++size_;
  }
  std::size_t size() const { return size_; }
  const T& operator[](std::size_t i) const { return size_ <= N ? inline_[i] : heap_[i]; }
  T& back() { return size_ <= N ? inline_[size_ - 1] : heap_.back(); }

 private:
  T inline_[N];
  std::vector<T> heap_;
  std::size_t size_ = 0;
};

// ---- Segments -------------------------------------------------------------

// One token of a brace-free text; a class names its set by index.
struct Token {
  TokKind kind;
  std::uint8_t byte;
  std::uint32_t set;
};

// A brace-free text read into tokens (stars collapsed), with the facts the
// road is chosen by.
class SegmentPlan {
 public:
  explicit SegmentPlan(std::string_view text);
  std::uint32_t stars() const { return stars_; }
  bool plain() const { return plain_; }  // only literal bytes and stars, as written
  std::uint32_t head_len() const { return head_len_; }  // bytes before the first star (all, without one)
  std::uint32_t tail_len() const { return tail_len_; }  // bytes after the last star
  // Bytes of the body (segment table, atoms, class records); a multiple of 8.
  std::size_t body_size() const { return body_; }
  void emit(std::uint8_t* out) const;

 private:
  SmallVec<Token, 48> toks_;
  SmallVec<ByteSet, 4> sets_;
  std::uint32_t stars_ = 0, head_len_ = 0, tail_len_ = 0;
  bool plain_ = true;
  std::size_t body_ = 0;
  friend struct SegmentSink;
};

// Whether `text` matches the segments body at `body` (nseg segments; without
// a star, the one segment must be the whole text).
bool match_segments(const std::uint8_t* body, std::uint32_t nseg, bool starred, std::string_view text);

// ---- Automaton ------------------------------------------------------------

struct AutomatonBuild;

// A braced pattern compiled into one position automaton.
class AutomatonPlan {
 public:
  explicit AutomatonPlan(std::string_view source);
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
