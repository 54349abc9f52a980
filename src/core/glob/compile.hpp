// Compiling a pattern into one position automaton, braces and all, without
// multiplying the alternatives out.
//
// Brace expansion cuts the source into pieces: the fixed text F0, the
// choices of group 0, F1, ..., Fk (single-choice groups dissolve into the
// fixed text). Every alternative is one path F0 c0 F1 c1 ... Fk through them.
// Tokenizing an alternative is a left-to-right scan whose only look-ahead is
// whether a `[` closes, so the scan runs over the pieces with its state made
// explicit, and paths that reach the same place in the same state merge:
//   NORMAL     reading tokens;
//   NO_CLOSE   an earlier `[` was taken as a literal: every later `[` is a
//              literal too, and an unescaped `]` (but the first element after
//              that `[` or `[!`) kills the path, since it would have closed it;
//   IN_CLASS   a class is being read (its reader state carried along); its
//              closing `]` gives one class position, after which the rest of
//              that piece is read in NORMAL; the end of the pattern kills it.
// A `[` whose class does not close inside its piece, with a `]` somewhere
// later, forks into a literal path (NO_CLOSE) and a class path (IN_CLASS).
// Each alternative keeps exactly one surviving tokenization, so the union of
// the paths is exactly the pattern's language.
//
// The automaton: runs of consecutive positions (bit p = "ready for token p";
// a run ends in an end position that accepts no byte, so a shift never leaks
// into the next run) joined by junctions. A junction is (place, scan state):
// the ends of the runs that arrive there make it live, and it makes the
// starts of the runs that leave it live (and the position after a leading
// star). Junctions are numbered in source order, so one pass in that order
// gives the closure. A brace-free pattern is one run from the start
// junction to the end, with nothing to close.
//
// Size: a piece is scanned once per distinct entry (offset, state): offset 0
// in NORMAL and NO_CLOSE (three sub-states), and after a closing `]` in
// NORMAL, so without straddling brackets the positions are a small constant
// times the source. A straddling `[` adds, at every boundary its class
// crosses, one state per distinct reading so far (at most the 1024
// alternatives), each an empty run and a junction, and one class position
// per distinct member set where it closes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quorvel::core::glob {

// No position.
inline constexpr std::uint32_t kNoBit = 0xFFFFFFFFu;
// A class record keeps at most this many ranges...
inline constexpr unsigned kMaxRanges = 8;
// ...or, marked by this count byte, a 256-bit map.
inline constexpr std::uint8_t kClassMap = 0xFF;

// What a compiled pattern is, in the head of its compiled form.
enum class Shape : std::uint8_t {
  Literal,   // the text equals the literal bytes
  HeadTail,  // head `*` tail: two comparisons decide
  General,   // the automaton, after the same comparisons
};

// The fixed head of a General program.
struct ProgramHeader {
  std::uint32_t nbits;       // positions
  std::uint32_t words;       // 64-bit words of a position set
  std::uint32_t njunctions;  // junctions
  std::uint32_t nends;       // run ends that lead to a junction
  std::uint32_t nclass;      // class positions
  std::uint32_t out_words;   // words of the junctions' out-masks
  std::uint32_t pool_bytes;  // bytes of class records
  std::uint32_t start_bit;   // first position after the literal head
  std::uint32_t need_off;    // a literal every match holds after the head...
  std::uint32_t need_len;    // ...(its offset in bytes[] and length; 0: none)
  std::uint32_t has_early;   // some early star: once live, the last fixed_len bytes
  std::uint32_t fixed_len;   // decide, from fixed_bit on (the tokens after the star)
  std::uint32_t fixed_bit;
  std::uint32_t unused;      // keeps the arrays 8-byte aligned
};

// One junction: where its out-mask lies.
struct Junction {
  std::uint32_t lo;   // first word it sets
  std::uint32_t nw;   // words it sets
  std::uint32_t off;  // its words in Program::outs
};

// A read-only view of a General program (the one description of its layout:
// sizing, emitting and viewing all go through program_layout).
struct Program {
  const ProgramHeader* h;
  const std::uint64_t *any, *lit, *cls, *star, *end, *accept, *early;  // position masks, `words` each
  const std::uint32_t* end_base;   // run ends before each word
  const std::uint32_t* cls_base;   // class positions before each word
  const std::uint32_t* end_to;     // junction of each run end (by rank)
  const std::uint32_t* cls_off;    // record offset of each class position (by rank)
  const Junction* junctions;       // in source order
  const std::uint64_t* outs;       // out-mask words of the junctions
  const std::uint8_t* bytes;       // literal byte of every position (words * 64)
  const std::uint8_t* pool;        // class records
};

// The byte offsets of the arrays of a program whose header is `h`, from the
// header; offsets[kLayoutTotal] is the whole size (a multiple of 8).
inline constexpr int kLayoutTotal = 16;
void program_layout(const ProgramHeader& h, std::size_t (&offsets)[kLayoutTotal + 1]);

// Views the program at `base`.
Program view_program(const void* base);

// A pattern compiled into a builder's own memory, ready to be laid out.
class Compiled {
 public:
  // Compiles `source` (braces expanded unless past the cap).
  explicit Compiled(std::string_view source);
  ~Compiled();
  Compiled(const Compiled&) = delete;
  Compiled& operator=(const Compiled&) = delete;

  Shape shape() const;
  std::uint32_t head_len() const;   // literal bytes every match starts with
  std::uint32_t tail_len() const;   // literal bytes every match ends with
  std::string_view literal() const; // head bytes then tail bytes (all of them for Literal)
  // Bytes of the General program (0 for the other shapes).
  std::size_t program_size() const;
  // Lays the General program out at `out` (program_size bytes, 8-byte aligned).
  void emit_program(void* out) const;

 private:
  struct Impl;
  Impl* impl_;                           // in storage_
  alignas(16) unsigned char storage_[5120];  // short patterns compile in it, heap-free
};

}  // namespace quorvel::core::glob
