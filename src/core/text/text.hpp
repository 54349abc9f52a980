// Text helpers shared by the whole core: UTF-8 decoding and validation,
// the Unicode White_Space trim, and the quoted form used in messages.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quorvel::core::text {

// True when `s` is well-formed UTF-8 (no overlongs, no surrogates, at most
// U+10FFFF).
bool valid_utf8(std::string_view s);

// Replaces every ill-formed sequence by U+FFFD (one per maximal subpart).
std::string lossy_utf8(std::string_view s);

// Decodes the character that starts at s[i] of valid UTF-8; sets `len`.
char32_t decode_at(std::string_view s, std::size_t i, std::size_t& len);

// The Unicode White_Space property: U+0009..U+000D, U+0020, U+0085, U+00A0,
// U+1680, U+2000..U+200A, U+2028, U+2029, U+202F, U+205F, U+3000.
constexpr bool is_white_space(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 ||
         c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 ||
         c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

// The first `c` in s[from, end) that no backslash escapes, or npos: a
// backslash makes the scan step over the byte after it. `from` must be a
// position that no backslash escapes (the start, or right after a delimiter).
inline std::size_t find_unescaped(std::string_view s, std::size_t from, std::size_t end, char c) {
  for (std::size_t i = from; i < end; ++i) {
    if (s[i] == '\\') {
      ++i;
    } else if (s[i] == c) {
      return i;
    }
  }
  return std::string_view::npos;
}
inline std::size_t find_unescaped(std::string_view s, std::size_t from, char c) {
  return find_unescaped(s, from, s.size(), c);
}

// The trimming loops, which decode the characters at the ends.
std::string_view trim_start_decoding(std::string_view s);
std::string_view trim_end_decoding(std::string_view s);

// An ASCII byte that is not White_Space: a whole character that ends a trim.
constexpr bool plain_byte(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u < 0x80 && u != ' ' && (u < 0x09 || u > 0x0D);
}

// Trims White_Space characters from the ends of valid UTF-8. Most texts
// neither begin nor end with white space: a plain byte at the end concerned
// answers without the loop.
inline std::string_view trim_start(std::string_view s) {
  return s.empty() || plain_byte(s.front()) ? s : trim_start_decoding(s);
}
inline std::string_view trim_end(std::string_view s) {
  return s.empty() || plain_byte(s.back()) ? s : trim_end_decoding(s);
}
inline std::string_view trim(std::string_view s) { return trim_end(trim_start(s)); }

// True when the quoted form writes `c` as \u{...}: not printable, or a
// Grapheme_Extend mark at U+0300 and above.
bool needs_unicode_escape(char32_t c);

// Appends the quoted form of valid UTF-8 `s`: a double quote, the text with
// NUL, tab, LF, CR, the double quote and the backslash escaped by a
// backslash and other unprintable characters as \u{hex}, a double quote.
void append_quoted(std::string& out, std::string_view s);
std::string quoted(std::string_view s);

// The Unicode version the escape table was generated from.
const char* unicode_version();

}  // namespace quorvel::core::text
