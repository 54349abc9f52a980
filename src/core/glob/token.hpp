// The tokens of one brace-free alternative: `*` Star, `?` Any, `\x` and plain
// bytes Lit, `[...]` Class. Braces and commas are ordinary bytes here.
//
// One reader serves every user (the compiler, the short-pattern loop and the
// test-only header). It reads each byte of the alternative a bounded number
// of times: once a `[` is found unterminated, every later `[` of the same text
// is unterminated too (the class scan already went to the end and met no
// closing `]`), so it is not scanned again.
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

// Reads a bracket class from s[i], the byte right after its `[`. Gives the
// offset right after the closing `]` and fills `set` with the bytes the class
// accepts (negation applied), or gives npos when the class is unterminated.
inline std::size_t read_class(std::string_view s, std::size_t i, ByteSet& set) {
  set = ByteSet{};
  const std::size_t n = s.size();
  bool negated = false;
  if (i < n && s[i] == '!') {
    negated = true;
    ++i;
  }
  if (i == n) return std::string_view::npos;
  // Elements fold into items as they come: literal, dash, literal is a range;
  // any other literal, and any dash not used up by a range, is a member.
  bool have_lit = false, have_dash = false;
  std::uint8_t lit = 0;
  bool first = true;
  while (i < n) {
    std::uint8_t b = static_cast<std::uint8_t>(s[i++]);
    if (b == ']' && !first) {
      if (have_lit) set.add(lit);
      if (have_dash) set.add('-');
      if (negated) set.invert();
      return i;
    }
    first = false;
    const bool dash = b == '-';
    if (b == '\\' && i < n) b = static_cast<std::uint8_t>(s[i++]);  // a trailing one is itself
    if (have_lit && have_dash) {
      if (!dash) {
        set.add_range(lit, b);
        have_lit = have_dash = false;
        continue;
      }
      // `x--`: a dash does not end a range, so x and both dashes are members.
      set.add(lit);
      set.add('-');
      have_lit = have_dash = false;
      continue;
    }
    if (dash) {
      if (have_lit) {
        have_dash = true;
      } else {
        set.add('-');
      }
      continue;
    }
    if (have_lit) set.add(lit);
    have_lit = true;
    lit = b;
  }
  return std::string_view::npos;
}

// The bytes that start a token other than a plain literal: `*?[\\`.
inline constexpr auto kOpensToken = [] {
  std::array<bool, 256> t{};
  t['*'] = t['?'] = t['['] = t['\\'] = true;
  return t;
}();

// Reads the tokens of `alt` in order: `emit(kind, byte, set, unterminated)`,
// where `byte` is the Lit byte, `set` the accepted bytes of a Class, and
// `unterminated` marks the Lit `[` of a bracket that did not close; and
// `run(bytes)` for every maximal run of plain bytes, each a Lit.
template <class Emit, class Run>
void tokenize_runs(std::string_view alt, Emit&& emit, Run&& run) {
  const std::size_t n = alt.size();
  bool open_brackets_close = true;  // false once a `[` found no `]` to its end
  ByteSet set;
  for (std::size_t i = 0; i < n;) {
    const auto b = static_cast<std::uint8_t>(alt[i++]);
    switch (b) {
      case '*':
        emit(TokKind::Star, b, set, false);
        break;
      case '?':
        emit(TokKind::Any, b, set, false);
        break;
      case '\\':
        if (i < n) {
          emit(TokKind::Lit, static_cast<std::uint8_t>(alt[i++]), set, false);
        } else {
          emit(TokKind::Lit, b, set, false);  // a trailing backslash is a literal backslash
        }
        break;
      case '[': {
        const std::size_t after = open_brackets_close ? read_class(alt, i, set) : std::string_view::npos;
        if (after != std::string_view::npos) {
          emit(TokKind::Class, b, set, false);
          i = after;
        } else {
          // A literal `[`; reading goes on right after it.
          emit(TokKind::Lit, b, set, open_brackets_close);
          open_brackets_close = false;
        }
        break;
      }
      default: {
        const std::size_t from = i - 1;
        while (i < n && !kOpensToken[static_cast<std::uint8_t>(alt[i])]) ++i;
        run(alt.substr(from, i - from));
      }
    }
  }
}

// The same tokens, every plain byte emitted on its own.
template <class Emit>
void tokenize(std::string_view alt, Emit&& emit) {
  ByteSet none;
  tokenize_runs(alt, emit, [&](std::string_view plain) {
    for (const char c : plain) emit(TokKind::Lit, static_cast<std::uint8_t>(c), none, false);
  });
}

}  // namespace quorvel::core::glob
