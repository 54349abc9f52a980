// Compiling a braced pattern into one position automaton, without
// multiplying the alternatives out.
//
// The source is cut by the brace scanner into pieces: fixed text F0, the
// choices of group 0, F1, ..., the choices of the last group, Fk. Each piece
// is tokenized on its own, and its tokens become consecutive positions (bits)
// followed by one end position that accepts no byte, so that a shift never
// leaks from one piece into the next. Consecutive stars of a piece are one
// position (`**` means `*`). Bit p set means "ready to match the token at p".
// Joins, one per group, link the end of F_g to the start of every choice and
// the end of every choice to the start of F_{g+1}; there are at most ten
// groups (the cap is 1024 = 2^10 alternatives), and each join is a few word
// operations over its group's own words.
//
// Size: the positions number at most (source bytes + pieces), and the
// compiled form keeps per position one byte (the literal byte) and four mask
// bits, two more bits inside groups, and for a class position a four-byte
// offset and its members as at most eight ranges (two bytes each) or, for
// classes of more ranges (and so at least ten source bytes), a 32-byte map.
//
// A bracket class that may straddle a brace boundary (`[{a,b}]`) cannot be
// tokenized piece by piece; such a pattern is marked per-alternative and is
// matched alternative by alternative (still bit-parallel, at most 1024).
//
// Compiling reads the source once: every piece is tokenized a single time
// into scratch memory sized from bounds on the source (on the stack for short
// sources), which gives the exact size of the program; the program is then
// laid out from the scratch, array by array, without reading the source again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/glob/brace.hpp"

namespace quorvel::core::glob {

// A class position keeps its members as at most this many ranges...
inline constexpr unsigned kMaxRanges = 8;
// ...or, marked by this count byte, as a 256-bit map.
inline constexpr std::uint8_t kClassMap = 0xFF;
// No position: an absent bit index.
inline constexpr std::uint32_t kNoBit = 0xFFFFFFFFu;

// The join of one group: where it starts and ends, and its word masks.
struct GroupJoin {
  std::uint32_t fend;   // end position of the fixed text before the group
  std::uint32_t lo;     // first word of the group's choices
  std::uint32_t nw;     // number of words of the group's choices
  std::uint32_t exit0;  // start of the fixed text after the group...
  std::uint32_t exit1;  // ...and the position after its leading star (or exit0)
  std::uint32_t mask;   // entry masks at gmask[mask], choice-end masks at gmask[mask + nw]
};

// The fixed-size head of a compiled program.
struct ProgramHeader {
  std::uint32_t nbits;        // positions, piece ends included
  std::uint32_t words;        // 64-bit words of one position set
  std::uint32_t nclass;       // class positions
  std::uint32_t ngroups;      // joins
  std::uint32_t pool_bytes;   // bytes of class records
  std::uint32_t group_words;  // words of entry masks (as many of choice-end masks)
  std::uint32_t group_nw[kMaxGroups];  // words of each group's masks
  std::uint32_t final_bit;    // end of the last piece: the whole text matched
  std::uint32_t start_bit;    // first position after the literal head
  std::uint32_t head_len;     // literal bytes every match starts with
  std::uint32_t tail_len;     // literal bytes every match ends with
  std::uint32_t tail_bit;     // first position of that tail (or final_bit)
  std::uint32_t early_bit;    // a trailing star: once live, the rest matches (or kNoBit)
  std::uint32_t bytes_off;    // offset of the literal bytes from the header, for the fast paths
  bool literal;               // one piece of literals: matching is comparing
  bool middle_star;           // only one star between head and tail: they decide
  bool per_alternative;       // a bracket may straddle a brace: no automaton
};

// A read-only view of a compiled program laid out in one block.
class Program {
 public:
  // Views the program that starts at `base` (8-byte aligned).
  explicit Program(const void* base);

  const ProgramHeader& h;          // counts and flags
  const GroupJoin* joins;          // one per group
  const std::uint64_t* all;        // positions that accept every byte (Any, Star)
  const std::uint64_t* lit;        // literal positions
  const std::uint64_t* cls;        // class positions
  const std::uint64_t* star;       // star positions (they loop on themselves)
  const std::uint64_t* gmask;      // group entry and choice-end masks
  const std::uint32_t* cls_base;   // class positions before each word
  const std::uint32_t* cls_off;    // pool offset of each class position's record
  const std::uint8_t* bytes;       // literal byte of every position (words * 64)
  const std::uint8_t* pool;        // class records
};

// The pieces of a source: its brace shape and its fixed texts laid flat.
struct Pieces {
  BraceShape shape;                        // the groups
  std::string_view fixed[kMaxGroups + 1];  // F0 .. Fk (views into source or `flat`)
  std::string flat;                        // fixed texts that had to be joined
};

// Cuts `source` into a fresh `out`; `flat` is only filled when a fixed text
// spans a dissolved single-choice group. `scratch` (of at least source.size() bytes,
// or null) is used instead of `flat` when given; `shape`, when given, is the
// source's brace shape, already scanned.
void cut_pieces(std::string_view source, Pieces& out, char* scratch, const BraceShape* shape = nullptr);

// A source read once: the complete header and joins of its program, and its
// arrays (masks, literal bytes, class records) before they are laid out.
struct Scan {
  ProgramHeader h;                          // counts and fast-path facts
  GroupJoin joins[kMaxGroups];              // one per group
  std::uint64_t *all, *lit, *cls, *star;    // the masks of Program, unaligned to the block
  std::uint8_t* bytes;                      // the literal byte of every position (0 for others)
  std::uint8_t* pool;                       // class records, in position order
  std::uint32_t* cls_off;                   // pool offset of each class record
  std::uint64_t *entry, *ends;              // the groups' entry and choice-end masks, group after group
};

// The memory a Scan of a source fills: on the stack when the source is
// short, else one heap block. Sized from upper bounds that hold for any
// source of n bytes with b bytes `[`: at most n + 1 positions (every piece
// has its end, and the braces and commas that cut the pieces are no
// positions), at most min(b, n / 3) classes (`[x]` is the shortest), and
// class records of at most 33 bytes each and at most 3 bytes per source byte
// of their class (a record of r ranges is 1 + 2r bytes from at least r + 2
// bytes; a 33-byte map takes at least nine runs, eleven bytes). The groups'
// masks take at most words + ten words of each kind in all (the groups'
// positions do not overlap, and neighbours share at most a word), and they
// are cleared only for a source that has groups.
class ScanScratch {
 public:
  // Scratch for `source` (which is not kept), masks zeroed.
  explicit ScanScratch(std::string_view source);
  // Pointers into this scratch, filled by scan_program.
  Scan scan;

 private:
  static constexpr std::size_t kStack = 4096;  // bytes kept on the stack
  alignas(8) unsigned char stack_[kStack];     // short sources (left unset but for the masks)
  std::unique_ptr<std::uint64_t[]> heap_;      // long sources
};

// Reads every piece of `source` once into `scratch`: positions, class records,
// the joins, the header and its fast-path facts, and whether a bracket may
// straddle a brace boundary (then the header says per_alternative and
// nothing else). Gives scratch.scan.
const Scan& scan_program(std::string_view source, const Pieces& pieces, ScanScratch& scratch);

// The same for a source read as one piece: a source without `{`, or one
// alternative (whose braces are ordinary bytes).
const Scan& scan_program(std::string_view alt, ScanScratch& scratch);

// The bytes of the program of `scan` (8-byte aligned).
std::size_t program_size(const Scan& scan);

// Lays the program of `scan` out at `out` (program_size bytes, 8-byte aligned).
void emit_program(const Scan& scan, void* out);

}  // namespace quorvel::core::glob
