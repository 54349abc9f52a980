// The tokens of one brace-free alternative: `*` Star, `?` Any, `\x` and plain
// bytes Lit, `[...]` Class. Braces and commas are ordinary bytes here.
//
// The outer scan itself is in compile.cpp (it runs over the pieces of a
// braced pattern); here are its parts: byte sets and the class reader.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quorvel::core::glob {

// A set of bytes, as a 256-bit map.
struct ByteSet {
  // Bit b of word b / 64 is byte b; left unset by default (scratch space),
  // `ByteSet{}` is the empty set.
  std::array<std::uint64_t, 4> bits;
  // Adds byte `b`.
  void add(std::uint8_t b) { bits[b >> 6] |= std::uint64_t{1} << (b & 63); }
  // Adds every byte from `lo` to `hi`; none when lo > hi.
  void add_range(std::uint8_t lo, std::uint8_t hi) {
    for (unsigned b = lo; b <= hi; ++b) add(static_cast<std::uint8_t>(b));
  }
  // Exchanges members and non-members.
  void invert() {
    for (auto& w : bits) w = ~w;
  }
  // Whether `b` is a member.
  bool has(std::uint8_t b) const { return (bits[b >> 6] >> (b & 63)) & 1; }
  // The number of members.
  unsigned size() const {
    unsigned n = 0;
    for (auto w : bits) n += static_cast<unsigned>(__builtin_popcountll(w));
    return n;
  }
  // Equality of the member sets.
  bool operator==(const ByteSet&) const = default;
};

// The four token kinds, in the order of the dialect.
enum class TokKind : std::uint8_t { Star, Any, Lit, Class };

// A bracket class being read, element by element; it may be carried from one
// piece of a braced pattern into the next (no piece ends inside a `\x` pair).
struct ClassReader {
  ByteSet set{};          // members folded so far (negation not applied)
  std::uint8_t lit = 0;   // a literal that may start a range...
  bool have_lit = false;  // ...when set
  bool have_dash = false; // a bare dash after that literal
  bool negated = false;   // written `[!`
  std::uint8_t phase = 0; // 0: right after `[` (a `!` negates); 1: the first element; 2: later

  // Reads elements of `s` from `i` on: gives true with `i` right after the
  // closing `]`, or false at the end of `s` (the class is still open).
  bool read(std::string_view s, std::size_t& i) {
    const std::size_t n = s.size();
    while (i < n) {
      std::uint8_t b = static_cast<std::uint8_t>(s[i++]);
      if (phase == 0 && b == '!') {
        negated = true;
        phase = 1;
        continue;
      }
      if (b == ']' && phase == 2) return true;
      phase = 2;
      const bool dash = b == '-';
      if (b == '\\' && i < n) b = static_cast<std::uint8_t>(s[i++]);  // a trailing one is itself
      if (have_lit && have_dash) {
        // `x-y` is a range; in `x--` a dash does not end it, so x and both dashes are members.
        if (dash) {
          set.add(lit);
          set.add('-');
        } else {
          set.add_range(lit, b);
        }
        have_lit = have_dash = false;
      } else if (dash && have_lit) {
        have_dash = true;
      } else if (dash) {
        set.add('-');
      } else {
        if (have_lit) set.add(lit);
        have_lit = true;
        lit = b;
      }
    }
    return false;
  }
  // The bytes the closed class accepts.
  ByteSet accepted() const {
    ByteSet out = set;
    if (have_lit) out.add(lit);
    if (have_dash) out.add('-');
    if (negated) out.invert();
    return out;
  }
  // Equal reading states: the rest of the class reads the same way.
  bool operator==(const ClassReader&) const = default;
};

}  // namespace quorvel::core::glob
