// Segments: a pattern of one alternative is its stars and the fixed-width
// segments between them, each read from the pattern's own text when it is
// matched (match.hpp states the algorithm and its bound).
#include <cstring>
#include <memory>

#include "core/glob/engine.hpp"
#include "core/glob/match.hpp"

namespace quorvel::core::glob {

std::size_t scan_segments(std::string_view s, Seg* out, std::size_t cap, std::size_t& fail_at) {
  fail_at = std::string_view::npos;
  std::size_t nseg = 0, begin = 0, width = 0, i = 0;
  bool plain = true;
  const auto cut = [&](std::size_t end) {
    if (nseg < cap) {
      out[nseg] = Seg{static_cast<std::uint32_t>(begin), static_cast<std::uint32_t>(end),
                      static_cast<std::uint32_t>(width << 1 | plain)};
    }
    ++nseg;
  };
  while (i < s.size()) {
    const std::size_t at = i;
    std::uint8_t byte;
    const TokKind k = read_token(s, i, fail_at, byte);
    if (k == TokKind::Star) {
      if (at == begin && nseg > 0) {  // right after a star: `**` is one star
        begin = i;
        continue;
      }
      cut(at);
      begin = i, width = 0, plain = true;
      continue;
    }
    ++width;
    plain = plain && k == TokKind::Lit && i == at + 1;
  }
  cut(s.size());
  return nseg;
}

namespace {

// Past this many token tests, a search builds its shift-and table instead.
inline constexpr std::size_t kVerifyWork = 512;

// How common a byte is in names and paths (higher: more common): separators
// and lowercase letters, then digits, then the rest.
inline int commonness(unsigned char c) {
  if (c == '/' || c == '.' || c == '_' || c == '-' || c == ' ') return 3;
  if (c >= 'a' && c <= 'z') return c == 'e' || c == 't' || c == 'a' || c == 'o' || c == 'i' || c == 'n' ? 3 : 2;
  return c >= '0' && c <= '9' ? 1 : 0;
}

// The leftmost `needle` (w bytes) in text[from, end), or npos. memchr runs
// to the needle's least common byte and each hit is compared; once the
// compared bytes outrun those skipped, memmem (linear) takes the rest.
std::size_t find_plain(const char* needle, std::size_t w, const char* base, std::size_t from, std::size_t end) {
  QUORVEL_GLOB_COUNT(match_steps, (end - from) / 16 + 1);
  std::size_t rare = 0;
  for (std::size_t k = 1; k < w; ++k) {
    if (commonness(static_cast<unsigned char>(needle[k])) < commonness(static_cast<unsigned char>(needle[rare]))) rare = k;
  }
  std::size_t compared = 0;
  for (std::size_t at = from; at + w <= end;) {
    if (compared > (at - from) + 64) {
      const void* hit = memmem(base + at, end - at, needle, w);
      return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - base) : std::string_view::npos;
    }
    const void* hit = std::memchr(base + at + rare, needle[rare], end - w + 1 - at);
    if (!hit) return std::string_view::npos;
    const std::size_t start = static_cast<std::size_t>(static_cast<const char*>(hit) - base) - rare;
    if (std::memcmp(base + start, needle, w) == 0) return start;
    compared += w;
    at = start + 1;
  }
  return std::string_view::npos;
}

// The tokens of one segment, read in order from the pattern's text.
struct Reader {
  std::string_view s;
  std::size_t fail_at;
  // Whether the segment `g` accepts the text at `p` (width bytes).
  bool fits(const Seg& g, const char* p) const {
    if (g.plain()) return g.width() == 0 || std::memcmp(s.data() + g.begin, p, g.width()) == 0;
    std::size_t i = g.begin, fail = fail_at;
    for (std::size_t k = 0; i < g.end; ++k) {
      QUORVEL_GLOB_COUNT(match_steps, 1);
      std::uint8_t byte = 0;
      const auto c = static_cast<std::uint8_t>(p[k]);
      Probe probe{c};
      switch (read_token(s, i, fail, byte, &probe)) {
        case TokKind::Lit:
          if (byte != c) return false;
          break;
        case TokKind::Class:
          if (!probe.hit) return false;
          break;
        default:
          break;
      }
    }
    return true;
  }
  // The leftmost start of segment `g` in text[from, end), or npos.
  std::size_t find(const Seg& g, std::string_view text, std::size_t from, std::size_t end) const {
    const std::size_t w = g.width();
    if (end - from < w) return std::string_view::npos;
    const char* base = text.data();
    if (g.plain()) return find_plain(s.data() + g.begin, w, base, from, end);
    // A short search tests each start; a long one runs shift-and: bit k of
    // the state says the last k + 1 bytes match the first k + 1 tokens, and
    // a table gives, for each byte, the tokens that accept it.
    if ((end - from - w + 1) * w <= kVerifyWork) {
      for (std::size_t at = from; at + w <= end; ++at) {
        if (fits(g, base + at)) return at;
      }
      return std::string_view::npos;
    }
    const std::size_t words = (w + 63) / 64;
    constexpr std::size_t kStackWords = 2;
    std::uint64_t stack_table[258 * kStackWords];
    std::unique_ptr<std::uint64_t[]> heap;
    std::uint64_t* table = stack_table;
    if (words > kStackWords) {
      heap.reset(new std::uint64_t[258 * words]);
      table = heap.get();
    }
    std::uint64_t* any = table + 256 * words;  // then the state
    std::uint64_t* state = any + words;
    std::memset(table, 0, 258 * words * 8);
    std::size_t i = g.begin, fail = fail_at;
    for (std::size_t k = 0; i < g.end; ++k) {
      std::uint8_t byte = 0;
      ByteSet set;
      const std::uint64_t bit = std::uint64_t{1} << (k % 64);
      const TokKind t = read_token(s, i, fail, byte, &set);
      if (t == TokKind::Any) any[k / 64] |= bit;
      if (t == TokKind::Lit) table[byte * words + k / 64] |= bit;
      for (unsigned c = 0; t == TokKind::Class && c < 256; ++c) {
        if (set.has(static_cast<std::uint8_t>(c))) table[c * words + k / 64] |= bit;
      }
    }
    const std::size_t last_word = (w - 1) / 64;
    const std::uint64_t last_bit = std::uint64_t{1} << ((w - 1) % 64);
    for (std::size_t j = from; j < end; ++j) {
      const std::uint64_t* row = table + static_cast<std::uint8_t>(base[j]) * words;
      std::uint64_t carry = 1;
      QUORVEL_GLOB_COUNT(match_steps, words);
      for (std::size_t k = 0; k < words; ++k) {
        const std::uint64_t next = state[k] >> 63;
        state[k] = ((state[k] << 1) | carry) & (row[k] | any[k]);
        carry = next;
      }
      if (state[last_word] & last_bit) return j + 1 - w;
    }
    return std::string_view::npos;
  }
};

}  // namespace

bool match_segments(std::string_view s, std::size_t fail_at, const Seg* segs, std::size_t nseg,
                    std::string_view text) {
  const Reader r{s, fail_at};
  const std::size_t m = text.size();
  const Seg& head = segs[0];
  if (nseg == 1) return m == head.width() && r.fits(head, text.data());
  const Seg& tail = segs[nseg - 1];
  if (m < std::size_t{head.width()} + tail.width()) return false;
  if (!r.fits(head, text.data()) || !r.fits(tail, text.data() + m - tail.width())) return false;
  // A star takes any run, so each middle segment may sit at its leftmost
  // place after the one before: a later place never leaves more room.
  std::size_t pos = head.width();
  const std::size_t end = m - tail.width();
  for (std::size_t i = 1; i + 1 < nseg; ++i) {
    const std::size_t at = r.find(segs[i], text, pos, end);
    if (at == std::string_view::npos) return false;
    pos = at + segs[i].width();
  }
  return true;
}

}  // namespace quorvel::core::glob
