// The tokens of one brace-free alternative: `*` Star, `?` Any, `\x` and plain
// bytes Lit, `[...]` Class. Braces and commas are ordinary bytes here.
//
// Here are the byte sets, the class reader (which the automaton also carries
// from one brace piece into the next), the compact class record the
// automaton keeps, and `read_token`, which segments read their tokens with.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <type_traits>

namespace quorvel::core::glob {

// A set of bytes, as a 256-bit map.
struct ByteSet {
  std::array<std::uint64_t, 4> bits{};
  // Adds byte `b`.
  void add(std::uint8_t b) { bits[b >> 6] |= std::uint64_t{1} << (b & 63); }
  // Adds every byte from `lo` to `hi`; none when lo > hi. A word at a time.
  void add_range(std::uint8_t lo, std::uint8_t hi) {
    for (unsigned w = lo >> 6; lo <= hi && w <= (hi >> 6); ++w) {
      const unsigned a = w == (lo >> 6u) ? lo & 63u : 0, b = w == (hi >> 6u) ? hi & 63u : 63;
      bits[w] |= (~std::uint64_t{0} >> (63 - b)) & (~std::uint64_t{0} << a);
    }
  }
  void invert() {
    for (auto& w : bits) w = ~w;
  }
  bool has(std::uint8_t b) const { return (bits[b >> 6] >> (b & 63)) & 1; }
  ByteSet& operator|=(const ByteSet& o) {
    for (int i = 0; i < 4; ++i) bits[i] |= o.bits[i];
    return *this;
  }
  ByteSet& operator&=(const ByteSet& o) {
    for (int i = 0; i < 4; ++i) bits[i] &= o.bits[i];
    return *this;
  }
};

enum class TokKind : std::uint8_t { Star, Any, Lit, Class };

// One byte's membership, tested as a class is read, without building its set.
struct Probe {
  std::uint8_t c;
  bool hit = false;
  void add(std::uint8_t b) { hit = hit || b == c; }
  void add_range(std::uint8_t lo, std::uint8_t hi) { hit = hit || (lo <= c && c <= hi); }
};

// A bracket class being read, element by element, into a ByteSet (or a
// Probe). Its control part (all but the members folded so far) decides how
// the rest reads; a class may be carried from one brace piece into the next
// (no piece ends inside `\x`).
template <class Set = ByteSet>
struct ClassReader {
  Set set{};               // members folded so far (negation not applied)
  std::uint8_t lit = 0;    // a literal that may start a range...
  bool have_lit = false;   // ...when set
  bool have_dash = false;  // a bare dash after that literal
  bool negated = false;    // written `[!`
  std::uint8_t phase = 0;  // 0: right after `[` (a `!` negates); 1: the first element; 2: later

  // Reads elements of `s` from `i` on: true with `i` right after the closing
  // `]`, or false at the end of `s` (the class is still open).
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
        // `x-y` is a range; in `x--` the second dash ends nothing: x and both dashes are members.
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
  // Whether the closed class accepts the probed byte.
  bool accepts() const {
    Probe p = set;
    if (have_lit) p.add(lit);
    if (have_dash) p.add('-');
    return p.hit != negated;
  }
  // Equal control parts: the rest of the class reads the same way.
  bool same_control(const ClassReader& o) const {
    return lit == o.lit && have_lit == o.have_lit && have_dash == o.have_dash && negated == o.negated &&
           phase == o.phase;
  }
};

// A class as kept in a compiled form: a count byte, then that many (lo, hi)
// runs of the accepted set, or, past kMaxRuns runs, the count kMap and the
// 256-bit map. So a record holds at most 2 bytes per element written, or 33.
inline constexpr unsigned kMaxRuns = 8;
inline constexpr std::uint8_t kMap = 0xFF;

// The runs of `s`, written to `out` when it is not null; gives their number.
inline unsigned class_runs(const ByteSet& s, std::uint8_t* out) {
  unsigned n = 0;
  for (unsigned b = 0; b < 256;) {
    if (!s.has(static_cast<std::uint8_t>(b))) {
      ++b;
      continue;
    }
    unsigned e = b;
    while (e + 1 < 256 && s.has(static_cast<std::uint8_t>(e + 1))) ++e;
    if (out && n < kMaxRuns) {
      out[2 * n] = static_cast<std::uint8_t>(b);
      out[2 * n + 1] = static_cast<std::uint8_t>(e);
    }
    ++n;
    b = e + 1;
  }
  return n;
}
// Bytes of the record of `s`.
inline std::size_t class_record_size(const ByteSet& s) {
  const unsigned n = class_runs(s, nullptr);
  return n <= kMaxRuns ? 1 + 2 * n : 1 + 32;
}
// Writes the record of `s` at `out` (class_record_size bytes).
inline void write_class_record(const ByteSet& s, std::uint8_t* out) {
  const unsigned n = class_runs(s, out + 1);
  if (n <= kMaxRuns) {
    out[0] = static_cast<std::uint8_t>(n);
    return;
  }
  out[0] = kMap;
  for (unsigned b = 0; b < 256; ++b) {
    if (b % 8 == 0) out[1 + b / 8] = 0;
    if (s.has(static_cast<std::uint8_t>(b))) out[1 + b / 8] |= static_cast<std::uint8_t>(1u << (b % 8));
  }
}
// Whether the class recorded at `rec` accepts `c`.
inline bool class_has(const std::uint8_t* rec, std::uint8_t c) {
  if (rec[0] == kMap) return (rec[1 + c / 8] >> (c % 8)) & 1;
  for (unsigned i = 0; i < rec[0]; ++i) {
    if (c >= rec[1 + 2 * i] && c <= rec[2 + 2 * i]) return true;
  }
  return false;
}

// Reads the token of the brace-free text `s` at `i` and moves `i` past it;
// a class fills `set` (when given) with the bytes it accepts. A `[` at or
// past `fail_at` is a literal; before it, one whose class does not close is
// a literal and sets `fail_at` to its offset: no later `[` can close either
// (its `]` would have closed this one), so no byte is read more than twice.
template <class Set = ByteSet>
TokKind read_token(std::string_view s, std::size_t& i, std::size_t& fail_at, std::uint8_t& byte, Set* set = nullptr) {
  const std::size_t n = s.size();
  const char b = s[i++];
  if (b == '*') return TokKind::Star;
  if (b == '?') return TokKind::Any;
  byte = static_cast<std::uint8_t>(b);
  if (b == '\\' && i < n) {
    byte = static_cast<std::uint8_t>(s[i++]);
  } else if (b == '[' && i - 1 < fail_at) {
    ClassReader<Set> r;
    if (set) r.set = *set;  // a Probe carries its byte
    std::size_t j = i;
    if (r.read(s, j)) {
      if constexpr (std::is_same_v<Set, Probe>) {
        set->hit = r.accepts();
      } else if (set) {
        *set = r.accepted();
      }
      i = j;
      return TokKind::Class;
    }
    fail_at = i - 1;
  }
  return TokKind::Lit;
}

}  // namespace quorvel::core::glob
