// Segments: a pattern of one alternative is its stars and the fixed-width
// segments between them (match.hpp states the algorithm and its bound).
#include <cassert>
#include <cstring>

#include "core/glob/engine.hpp"
#include "core/glob/match.hpp"

namespace quorvel::core::glob {

namespace {

// A segment in the body: where its bytes (literal) or codes (otherwise) lie,
// from the start of the body, and its width in text bytes.
struct Seg {
  std::uint32_t off;
  std::uint32_t width_lit;  // width << 1 | all literal
  std::uint32_t width() const { return width_lit >> 1; }
  bool literal() const { return width_lit & 1; }
};
static_assert(sizeof(Seg) == 8);

// The code of one atom of a coded segment.
inline constexpr std::uint32_t kAnyCode = 0x100;  // below: a literal byte
inline constexpr std::uint32_t kClassCode = 0x200;  // plus the record's offset in the body

// Past this many atom tests, a search builds its shift-and table instead.
inline constexpr std::size_t kVerifyWork = 512;

constexpr std::size_t align(std::size_t n, std::size_t a) { return (n + a - 1) & ~(a - 1); }

}  // namespace

struct SegmentSink {
  SegmentPlan& p;
  void star() {
    if (p.toks_.size() == 0 || p.toks_.back().kind != TokKind::Star) p.toks_.push_back({TokKind::Star, 0, 0});
  }
  void any() { p.toks_.push_back({TokKind::Any, 0, 0}); }
  void lit(std::uint8_t b) { p.toks_.push_back({TokKind::Lit, b, 0}); }
  void cls(const ByteSet& s) {
    p.toks_.push_back({TokKind::Class, 0, static_cast<std::uint32_t>(p.sets_.size())});
    p.sets_.push_back(s);
  }
};

// Calls out(first token, end token, literal) for each segment, in order.
template <class Toks, class Out>
static void for_each_segment(const Toks& toks, Out&& out) {
  std::size_t start = 0;
  bool literal = true;
  for (std::size_t i = 0; i <= toks.size(); ++i) {
    if (i == toks.size() || toks[i].kind == TokKind::Star) {
      out(start, i, literal);
      start = i + 1;
      literal = true;
    } else if (toks[i].kind != TokKind::Lit) {
      literal = false;
    }
  }
}

SegmentPlan::SegmentPlan(std::string_view text) {
  SegmentSink sink{*this};
  tokenize(text, sink);
  plain_ = sets_.size() == 0 && text.find_first_of("\\?") == std::string_view::npos;
  std::size_t nseg = 0, codes = 0, bytes = 0, pool = 0;
  for_each_segment(toks_, [&](std::size_t a, std::size_t b, bool literal) {
    if (nseg == 0) head_len_ = static_cast<std::uint32_t>(b - a);
    tail_len_ = static_cast<std::uint32_t>(b - a);
    ++nseg;
    if (literal) {
      bytes += b - a;
      return;
    }
    codes += b - a;
    for (std::size_t i = a; i < b; ++i) {
      if (toks_[i].kind == TokKind::Class) pool += class_record_size(sets_[toks_[i].set]);
    }
  });
  stars_ = static_cast<std::uint32_t>(nseg - 1);
  body_ = align(8 * nseg + 4 * codes + bytes + pool, 8);
}

void SegmentPlan::emit(std::uint8_t* out) const {
  std::memset(out, 0, body_);
  std::size_t nseg = 0, ncodes = 0;
  for_each_segment(toks_, [&](std::size_t a, std::size_t b, bool literal) {
    ++nseg;
    if (!literal) ncodes += b - a;
  });
  auto* segs = reinterpret_cast<Seg*>(out);
  std::size_t code_at = 8 * nseg, byte_at = code_at + 4 * ncodes, pool_at = byte_at;
  for_each_segment(toks_, [&](std::size_t a, std::size_t b, bool literal) {
    if (literal) pool_at += b - a;
  });
  for_each_segment(toks_, [&](std::size_t a, std::size_t b, bool literal) {
    const auto width = static_cast<std::uint32_t>(b - a);
    if (literal) {
      *segs++ = Seg{static_cast<std::uint32_t>(byte_at), width << 1 | 1};
      for (std::size_t i = a; i < b; ++i) out[byte_at++] = toks_[i].byte;
      return;
    }
    *segs++ = Seg{static_cast<std::uint32_t>(code_at), width << 1};
    for (std::size_t i = a; i < b; ++i, code_at += 4) {
      const Token& t = toks_[i];
      std::uint32_t code = t.byte;
      if (t.kind == TokKind::Any) code = kAnyCode;
      if (t.kind == TokKind::Class) {
        code = kClassCode + static_cast<std::uint32_t>(pool_at);
        write_class_record(sets_[t.set], out + pool_at);
        pool_at += class_record_size(sets_[t.set]);
      }
      std::memcpy(out + code_at, &code, 4);
    }
  });
  assert(pool_at <= body_);
}

namespace {

// Whether atom `code` of a body at `body` accepts byte `c`.
inline bool accepts(const std::uint8_t* body, std::uint32_t code, std::uint8_t c) {
  if (code < kAnyCode) return code == c;
  return code == kAnyCode || class_has(body + (code - kClassCode), c);
}

// Whether segment `s` matches the text at `p` (width bytes).
bool fits(const std::uint8_t* body, const Seg& s, const char* p) {
  const std::uint32_t w = s.width();
  if (s.literal()) return w == 0 || std::memcmp(body + s.off, p, w) == 0;
  const auto* codes = body + s.off;
  for (std::uint32_t i = 0; i < w; ++i) {
    std::uint32_t code;
    std::memcpy(&code, codes + 4 * i, 4);
    QUORVEL_GLOB_COUNT(match_steps, 1);
    if (!accepts(body, code, static_cast<std::uint8_t>(p[i]))) return false;
  }
  return true;
}

// The leftmost start of segment `s` in text[from, end), or npos.
std::size_t find(const std::uint8_t* body, const Seg& s, std::string_view text, std::size_t from, std::size_t end) {
  const std::size_t w = s.width();
  if (end - from < w) return std::string_view::npos;
  const char* base = text.data();
  if (s.literal()) {
    QUORVEL_GLOB_COUNT(match_steps, (end - from) / 16 + 1);
    const void* hit = w == 1 ? std::memchr(base + from, body[s.off], end - from)
                             : memmem(base + from, end - from, body + s.off, w);
    return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - base) : std::string_view::npos;
  }
  // A short search verifies each start; a long one runs shift-and: bit i
  // of the state says the last i + 1 bytes match the first i + 1 atoms, and
  // a table gives, for each byte, the atoms that accept it.
  if ((end - from - w + 1) * w <= kVerifyWork) {
    for (std::size_t at = from; at + w <= end; ++at) {
      if (fits(body, s, base + at)) return at;
    }
    return std::string_view::npos;
  }
  const std::size_t words = (w + 63) / 64;
  constexpr std::size_t kStackWords = 4;
  std::uint64_t stack_table[257 * kStackWords], stack_state[kStackWords];
  std::unique_ptr<std::uint64_t[]> heap;
  std::uint64_t* table = stack_table;
  std::uint64_t* state = stack_state;
  if (words > kStackWords) {
    heap.reset(new std::uint64_t[258 * words]);
    table = heap.get();
    state = table + 257 * words;
  }
  std::uint64_t* any = table + 256 * words;
  std::memset(table, 0, 257 * words * 8);
  std::memset(state, 0, words * 8);
  const auto* codes = body + s.off;
  for (std::size_t i = 0; i < w; ++i) {
    std::uint32_t code;
    std::memcpy(&code, codes + 4 * i, 4);
    const std::uint64_t bit = std::uint64_t{1} << (i % 64);
    const std::size_t k = i / 64;
    if (code < kAnyCode) {
      table[code * words + k] |= bit;
    } else if (code == kAnyCode) {
      any[k] |= bit;
    } else {
      const std::uint8_t* rec = body + (code - kClassCode);
      QUORVEL_GLOB_COUNT(match_steps, 8);
      for (unsigned c = 0; c < 256; ++c) {
        if (class_has(rec, static_cast<std::uint8_t>(c))) table[c * words + k] |= bit;
      }
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

}  // namespace

bool match_segments(const std::uint8_t* body, std::uint32_t nseg, bool starred, std::string_view text) {
  const auto* segs = reinterpret_cast<const Seg*>(body);
  const std::size_t m = text.size();
  const Seg& head = segs[0];
  if (!starred) return m == head.width() && fits(body, head, text.data());
  const Seg& tail = segs[nseg - 1];
  if (m < std::size_t{head.width()} + tail.width()) return false;
  if (!fits(body, head, text.data()) || !fits(body, tail, text.data() + m - tail.width())) return false;
  // A star takes any run, so each middle segment may sit at its leftmost
  // place after the one before: a later place never leaves more room.
  std::size_t pos = head.width();
  const std::size_t end = m - tail.width();
  for (std::uint32_t i = 1; i + 1 < nseg; ++i) {
    const std::size_t at = find(body, segs[i], text, pos, end);
    if (at == std::string_view::npos) return false;
    pos = at + segs[i].width();
  }
  return true;
}

}  // namespace quorvel::core::glob
