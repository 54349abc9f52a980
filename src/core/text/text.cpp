#include "core/text/text.hpp"

#include <algorithm>
#include <iterator>

namespace quorvel::core::text {

namespace {

struct CodeRange {
  char32_t first;
  char32_t last;
};

#include "core/text/unicode_table.inc"

// Length of the well-formed sequence at s[i], or 0 when it is ill-formed.
std::size_t sequence_length(std::string_view s, std::size_t i) {
  const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = b(i);
  const std::size_t left = s.size() - i;
  if (c < 0x80) return 1;
  if (c < 0xC2) return 0;
  const auto cont = [&](std::size_t k) { return (b(k) & 0xC0) == 0x80; };
  if (c < 0xE0) return left >= 2 && cont(i + 1) ? 2 : 0;
  if (c < 0xF0) {
    if (left < 3) return 0;
    const unsigned char c1 = b(i + 1);
    if (c == 0xE0 && c1 < 0xA0) return 0;   // overlong
    if (c == 0xED && c1 >= 0xA0) return 0;  // surrogate
    return cont(i + 1) && cont(i + 2) ? 3 : 0;
  }
  if (c < 0xF5) {
    if (left < 4) return 0;
    const unsigned char c1 = b(i + 1);
    if (c == 0xF0 && c1 < 0x90) return 0;   // overlong
    if (c == 0xF4 && c1 >= 0x90) return 0;  // above U+10FFFF
    return cont(i + 1) && cont(i + 2) && cont(i + 3) ? 4 : 0;
  }
  return 0;
}

// Length of the maximal subpart of an ill-formed sequence at s[i]: the
// lead byte and the continuation bytes that could still have completed it.
std::size_t maximal_subpart(std::string_view s, std::size_t i) {
  const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = b(i);
  std::size_t need;
  unsigned char lo = 0x80, hi = 0xBF;
  if (c >= 0xC2 && c < 0xE0) {
    need = 1;
  } else if (c >= 0xE0 && c < 0xF0) {
    need = 2;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;
  } else if (c >= 0xF0 && c < 0xF5) {
    need = 3;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else {
    return 1;
  }
  std::size_t k = 1;
  while (k <= need && i + k < s.size()) {
    const unsigned char d = b(i + k);
    if (d < lo || d > hi) break;
    lo = 0x80;
    hi = 0xBF;
    ++k;
  }
  return k;
}

}  // namespace

bool valid_utf8(std::string_view s) {
  std::size_t i = 0;
  const std::size_t n = s.size();
  while (i < n) {
    // Fast path over ASCII, eight bytes at a time.
    while (i + 8 <= n) {
      std::uint64_t w;
      __builtin_memcpy(&w, s.data() + i, 8);
      if (w & 0x8080808080808080ULL) break;
      i += 8;
    }
    if (i >= n) break;
    if (static_cast<unsigned char>(s[i]) < 0x80) {
      ++i;
      continue;
    }
    const std::size_t len = sequence_length(s, i);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

std::string lossy_utf8(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  std::size_t i = 0;
  while (i < s.size()) {
    const std::size_t len = sequence_length(s, i);
    if (len == 0) {
      out += "\xEF\xBF\xBD";
      i += maximal_subpart(s, i);
      continue;
    }
    out.append(s.substr(i, len));
    i += len;
  }
  return out;
}

char32_t decode_at(std::string_view s, std::size_t i, std::size_t& len) {
  const auto b = [&](std::size_t k) { return static_cast<char32_t>(static_cast<unsigned char>(s[k])); };
  const char32_t c = b(i);
  if (c < 0x80) {
    len = 1;
    return c;
  }
  if (c < 0xE0) {
    len = 2;
    return ((c & 0x1F) << 6) | (b(i + 1) & 0x3F);
  }
  if (c < 0xF0) {
    len = 3;
    return ((c & 0x0F) << 12) | ((b(i + 1) & 0x3F) << 6) | (b(i + 2) & 0x3F);
  }
  len = 4;
  return ((c & 0x07) << 18) | ((b(i + 1) & 0x3F) << 12) | ((b(i + 2) & 0x3F) << 6) |
         (b(i + 3) & 0x3F);
}

std::string_view trim_start_decoding(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto b = static_cast<unsigned char>(s[i]);
    // An ASCII byte is a whole character: no decoding needed.
    if (b < 0x80) {
      if (!is_white_space(b)) break;
      ++i;
      continue;
    }
    std::size_t len;
    if (!is_white_space(decode_at(s, i, len))) break;
    i += len;
  }
  return s.substr(i);
}

std::string_view trim_end_decoding(std::string_view s) {
  std::size_t end = s.size();
  while (end > 0) {
    const auto b = static_cast<unsigned char>(s[end - 1]);
    if (b < 0x80) {
      if (!is_white_space(b)) break;
      --end;
      continue;
    }
    // Step back to the lead byte of the last character.
    std::size_t start = end - 1;
    while (start > 0 && (static_cast<unsigned char>(s[start]) & 0xC0) == 0x80) --start;
    std::size_t len;
    if (!is_white_space(decode_at(s, start, len))) break;
    end = start;
  }
  return s.substr(0, end);
}

bool needs_unicode_escape(char32_t c) {
  const auto* last = std::end(kEscapedRanges);
  const auto* it = std::upper_bound(std::begin(kEscapedRanges), last, c,
                                    [](char32_t v, const CodeRange& r) { return v < r.first; });
  if (it == std::begin(kEscapedRanges)) return false;
  --it;
  return c <= it->last;
}

void append_quoted(std::string& out, std::string_view s) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  std::size_t i = 0;
  while (i < s.size()) {
    std::size_t len;
    const char32_t c = decode_at(s, i, len);
    switch (c) {
      case 0: out += "\\0"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      default:
        if (needs_unicode_escape(c)) {
          out += "\\u{";
          char digits[8];
          int n = 0;
          char32_t v = c;
          do {
            digits[n++] = kHex[v & 0xF];
            v >>= 4;
          } while (v != 0);
          while (n > 0) out += digits[--n];
          out += '}';
        } else {
          out.append(s.substr(i, len));
        }
    }
    i += len;
  }
  out += '"';
}

std::string quoted(std::string_view s) {
  std::string out;
  append_quoted(out, s);
  return out;
}

const char* unicode_version() { return QUORVEL_UNICODE_VERSION; }

}  // namespace quorvel::core::text
