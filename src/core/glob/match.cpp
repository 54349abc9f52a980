#include "core/glob/match.hpp"

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/glob/token.hpp"

namespace quorvel::core::glob {

namespace {

// Bit i set when p[i] == c, for the 64 bytes at p.
inline std::uint64_t equal_bytes(const std::uint8_t* p, std::uint8_t c) {
#if defined(__SSE2__)
  const __m128i v = _mm_set1_epi8(static_cast<char>(c));
  std::uint64_t m = 0;
  for (int k = 0; k < 4; ++k) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
    m |= std::uint64_t{static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, v)))} << (16 * k);
  }
  return m;
#else
  std::uint64_t m = 0;
  for (int i = 0; i < 64; ++i) m |= std::uint64_t{p[i] == c} << i;
  return m;
#endif
}

// Whether class record `rec` accepts byte `c`.
inline bool class_accepts(const std::uint8_t* rec, std::uint8_t c) {
  if (rec[0] == kClassMap) {
    std::uint64_t w;
    std::memcpy(&w, rec + 1 + 8 * (c >> 6), 8);
    return (w >> (c & 63)) & 1;
  }
  for (unsigned r = 0; r < rec[0]; ++r) {
    const std::uint8_t lo = rec[1 + 2 * r], hi = rec[2 + 2 * r];
    if (static_cast<std::uint8_t>(c - lo) <= static_cast<std::uint8_t>(hi - lo)) return true;
  }
  return false;
}

// Whether bit `b` of `d` is set.
inline bool test_bit(const std::uint64_t* d, std::uint32_t b) { return (d[b / 64] >> (b % 64)) & 1; }
// Sets bit `b` of `d`.
inline void put_bit(std::uint64_t* d, std::uint32_t b) { d[b / 64] |= std::uint64_t{1} << (b % 64); }

// Adds what the group joins reach from `d`, groups in order: a join may
// reach a fixed text that is empty or a star, whose end the next join reads.
inline void close_joins(const Program& p, std::uint64_t* d) {
  for (std::uint32_t g = 0; g < p.h.ngroups; ++g) {
    const GroupJoin& j = p.joins[g];
    std::uint64_t* r = d + j.lo;
    const std::uint64_t* entry = p.gmask + j.mask;
    const std::uint64_t* ends = entry + j.nw;
    if (test_bit(d, j.fend)) {
      for (std::uint32_t w = 0; w < j.nw; ++w) r[w] |= entry[w];
    }
    std::uint64_t done = 0;
    for (std::uint32_t w = 0; w < j.nw; ++w) done |= r[w] & ends[w];
    if (done) {
      put_bit(d, j.exit0);
      put_bit(d, j.exit1);
    }
  }
}

// Position sets of up to this many words live on the stack.
constexpr std::size_t kStackWords = 32;

// A grow-only per-thread buffer for larger position sets, so that matching
// a long pattern does not allocate on every call.
std::uint64_t* large_set(std::size_t words) {
  thread_local std::vector<std::uint64_t> buffer;
  if (buffer.size() < words) buffer.resize(words);
  return buffer.data();
}

// Whether class position `bit` of word `w` accepts `c`.
inline bool class_at(const Program& p, std::uint32_t w, unsigned bit, std::uint8_t c) {
  const std::uint64_t below = p.cls[w] & ((std::uint64_t{1} << bit) - 1);
  const std::uint32_t rank = p.cls_base[w] + static_cast<std::uint32_t>(__builtin_popcountll(below));
  return class_accepts(p.pool + p.cls_off[rank], c);
}

// Patterns with at least this many class positions read their classes
// through ClassColumns.
constexpr std::uint32_t kColumnClasses = 64;

// The class positions that accept a byte, as a position set, worked out the
// first time the text holds that byte: with it, a pattern of many classes
// costs one AND per word and byte, as its literals do, instead of one class
// test per live class position. Kept in a grow-only per-thread buffer.
class ClassColumns {
 public:
  // Columns for `p`, none filled yet.
  explicit ClassColumns(const Program& p) : p_(p), words_(p.h.words) {
    std::memset(slot_, 0, sizeof slot_);
    buffer().clear();
  }
  // The class positions of `p` that accept `c`.
  const std::uint64_t* column(std::uint8_t c) {
    std::vector<std::uint64_t>& cols = buffer();
    if (slot_[c] == 0) {
      const std::size_t at = cols.size();
      cols.resize(at + words_);
      for (std::uint32_t w = 0; w < words_; ++w) {
        std::uint64_t acc = 0;
        for (std::uint64_t k = p_.cls[w]; k; k &= k - 1) {
          const unsigned b = static_cast<unsigned>(__builtin_ctzll(k));
          if (class_at(p_, w, b, c)) acc |= std::uint64_t{1} << b;
        }
        cols[at + w] = acc;
      }
      slot_[c] = static_cast<std::uint16_t>(at / words_ + 1);
    }
    return cols.data() + (slot_[c] - 1) * std::size_t{words_};
  }

 private:
  // The columns of the thread's current match.
  static std::vector<std::uint64_t>& buffer() {
    thread_local std::vector<std::uint64_t> columns;
    return columns;
  }
  const Program& p_;
  const std::uint32_t words_;
  std::uint16_t slot_[256];  // 1 + the column of each byte, 0 while not worked out
};

// The automaton of a program of one word, held in a register: the same steps
// as `simulate`, with the joins as four masks per group.
bool simulate_one(const Program& p, const std::uint8_t* s, std::size_t from, std::size_t to) {
  const ProgramHeader& h = p.h;
  // A group join as masks of the one word.
  struct Join {
    std::uint64_t fend, entry, ends, exit;  // end of the text before; choice starts; choice ends; the text after
  } joins[kMaxGroups];
  const std::uint32_t ngroups = h.ngroups;
  for (std::uint32_t g = 0; g < ngroups; ++g) {
    const GroupJoin& j = p.joins[g];
    joins[g] = Join{std::uint64_t{1} << j.fend, p.gmask[j.mask], p.gmask[j.mask + 1],
                    (std::uint64_t{1} << j.exit0) | (std::uint64_t{1} << j.exit1)};
  }
  const auto close = [&](std::uint64_t d) {
    for (std::uint32_t g = 0; g < ngroups; ++g) {
      if (d & joins[g].fend) d |= joins[g].entry;
      if (d & joins[g].ends) d |= joins[g].exit;
    }
    return d;
  };
  const std::uint64_t all = p.all[0], lit = p.lit[0], cls = p.cls[0], star = p.star[0];
  const std::uint64_t early = h.early_bit != kNoBit ? std::uint64_t{1} << h.early_bit : 0;
  const std::uint64_t accept = std::uint64_t{1} << (h.tail_len != 0 ? h.tail_bit : h.final_bit);
  std::uint64_t d = std::uint64_t{1} << h.start_bit;
  d = close(d | ((d & star) << 1));
  bool skip_tried = false;
  for (std::size_t i = from; i < to; ++i) {
    if (d & early) return true;
    const std::uint8_t c = s[i];
    std::uint64_t x = d & all;
    if (d & lit) x |= d & lit & equal_bytes(p.bytes, c);
    for (std::uint64_t k = d & cls; k; k &= k - 1) {
      const unsigned b = static_cast<unsigned>(__builtin_ctzll(k));
      if (class_at(p, 0, b, c)) x |= std::uint64_t{1} << b;
    }
    std::uint64_t n = (x << 1) | (x & star);
    n |= (n & star) << 1;
    if (!n) return false;
    n = close(n);
    if (n != d) {
      d = n;
      skip_tried = false;
      continue;
    }
    if (skip_tried) continue;
    skip_tried = true;
    // The fixed point of `simulate`: one live literal after stars.
    const std::uint64_t live = d & ((all & ~star) | lit | cls);
    if (live == 0 || (live & (live - 1)) != 0 || !(live & lit)) continue;
    const std::uint8_t b = p.bytes[__builtin_ctzll(live)];
    if (b == c) continue;
    const void* next = std::memchr(s + i + 1, b, to - (i + 1));
    i = next ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(next) - s) - 1 : to - 1;
  }
  return (d & early) || (d & accept);
}

// The automaton over s[from, to), starting at `start`; true when `accept`
// is live at the end.
bool simulate(const Program& p, const std::uint8_t* s, std::size_t from, std::size_t to, std::uint64_t* d) {
  const ProgramHeader& h = p.h;
  const std::uint32_t words = h.words;
  const std::uint32_t accept = h.tail_len != 0 ? h.tail_bit : h.final_bit;
  std::memset(d, 0, words * sizeof(std::uint64_t));
  put_bit(d, h.start_bit);
  if (test_bit(p.star, h.start_bit)) put_bit(d, h.start_bit + 1);
  close_joins(p, d);
  std::optional<ClassColumns> columns;
  if (h.nclass >= kColumnClasses) columns.emplace(p);
  bool skip_tried = false;
  for (std::size_t i = from; i < to; ++i) {
    if (h.early_bit != kNoBit && test_bit(d, h.early_bit)) return true;
    const std::uint8_t c = s[i];
    const std::uint64_t* column = columns ? columns->column(c) : nullptr;
    std::uint64_t carry = 0, skip_carry = 0, any = 0, changed = 0;
    for (std::uint32_t w = 0; w < words; ++w) {
      const std::uint64_t old = d[w];
      std::uint64_t x = 0;
      if (old) {
        x = old & p.all[w];
        const std::uint64_t l = old & p.lit[w];
        if (l) x |= l & equal_bytes(p.bytes + 64 * std::size_t{w}, c);
        if (column) {
          x |= old & column[w];
        } else {
          for (std::uint64_t k = old & p.cls[w]; k; k &= k - 1) {
            const unsigned b = static_cast<unsigned>(__builtin_ctzll(k));
            if (class_at(p, w, b, c)) x |= std::uint64_t{1} << b;
          }
        }
      }
      // Advance every accepting position; stars also stay.
      std::uint64_t n = (x << 1) | carry | (x & p.star[w]);
      carry = x >> 63;
      // A live star may match nothing: the position after it is live too.
      const std::uint64_t st = n & p.star[w];
      n |= (st << 1) | skip_carry;
      skip_carry = st >> 63;
      d[w] = n;
      any |= n;
      changed |= n ^ old;
    }
    if (!any) return false;
    close_joins(p, d);
    if (changed) {
      skip_tried = false;
      continue;
    }
    if (skip_tried) continue;
    // A fixed point: if the one live position that consumes bytes is a
    // literal b (the others are stars), every byte but b leaves the set as it
    // is, so the scan may jump to the next b.
    skip_tried = true;
    std::uint32_t found = kNoBit, count = 0;
    for (std::uint32_t w = 0; w < words && count < 2; ++w) {
      const std::uint64_t live = d[w] & ((p.all[w] & ~p.star[w]) | p.lit[w] | p.cls[w]);
      if (live) {
        count += (live & (live - 1)) ? 2 : 1;
        found = w * 64 + static_cast<std::uint32_t>(__builtin_ctzll(live));
      }
    }
    if (count != 1 || !test_bit(p.lit, found) || p.bytes[found] == c) continue;
    const void* next = std::memchr(s + i + 1, p.bytes[found], to - (i + 1));
    i = next ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(next) - s) - 1 : to - 1;
  }
  if (h.early_bit != kNoBit && test_bit(d, h.early_bit)) return true;
  return test_bit(d, accept);
}

// Whether the `n` bytes at `a` and `b` are equal: a loop for the few bytes of
// a glob's ends, where calling memcmp costs more than comparing.
inline bool same_bytes(const char* a, const char* b, std::size_t n) {
  if (n > 16) return std::memcmp(a, b, n) == 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
}

// What the plain ends of a brace-free pattern say about a text.
enum class Verdict { NoMatch, Match, Unknown };

// Before any token is read: the plain bytes before the first `*?[\\` are
// literals every match starts with, and those after the last `*?[]\\` are
// literals every match ends with (no class can close among them). A pattern
// of plain bytes only, or of head `*` tail, is decided by them. `head` gets
// the number of plain bytes at the start.
Verdict plain_ends(std::string_view pattern, std::string_view text, std::size_t& head) {
  const std::size_t size = pattern.size();
  head = 0;
  while (head < size && !kOpensToken[static_cast<std::uint8_t>(pattern[head])]) ++head;
  if (head == size) return pattern == text ? Verdict::Match : Verdict::NoMatch;
  std::size_t tail_from = size;
  while (!kOpensToken[static_cast<std::uint8_t>(pattern[tail_from - 1])] && pattern[tail_from - 1] != ']') --tail_from;
  const std::size_t tail_len = size - tail_from;
  if (text.size() < head + tail_len) return Verdict::NoMatch;
  if (!same_bytes(pattern.data(), text.data(), head)) return Verdict::NoMatch;
  if (!same_bytes(pattern.data() + tail_from, text.data() + text.size() - tail_len, tail_len)) return Verdict::NoMatch;
  if (tail_from == head + 1 && pattern[head] == '*') return Verdict::Match;
  return Verdict::Unknown;
}

// Steps the choice of every group to the next alternative, the last group
// varying fastest.
void next_alternative(const BraceShape& shape, std::size_t* digit) {
  for (std::size_t g = shape.ngroups; g-- > 0;) {
    if (++digit[g] < shape.choices[g]) return;
    digit[g] = 0;
  }
}

}  // namespace

bool run_program(const void* base, std::string_view text) {
  const auto& h = *static_cast<const ProgramHeader*>(base);
  const auto* bytes = static_cast<const std::uint8_t*>(base) + h.bytes_off;
  const auto* s = reinterpret_cast<const std::uint8_t*>(text.data());
  const std::size_t m = text.size();
  if (h.literal) return m == h.final_bit && (m == 0 || std::memcmp(bytes, s, m) == 0);
  // Every match starts with the literal head and ends with the literal tail.
  if (m < std::size_t{h.head_len} + h.tail_len) return false;
  if (h.head_len != 0 && std::memcmp(bytes, s, h.head_len) != 0) return false;
  if (h.tail_len != 0 && std::memcmp(bytes + h.tail_bit, s + m - h.tail_len, h.tail_len) != 0) return false;
  if (h.middle_star) return true;
  const Program p(base);
  if (h.words == 1) return simulate_one(p, s, h.head_len, m - h.tail_len);
  std::uint64_t stack[kStackWords];
  std::uint64_t* d = h.words <= kStackWords ? stack : large_set(h.words);
  return simulate(p, s, h.head_len, m - h.tail_len, d);
}

bool match_per_alternative(std::string_view source, const Pieces& pieces, std::string_view text) {
  const BraceShape& shape = pieces.shape;
  std::vector<std::string_view> choices[kMaxGroups];
  for (std::size_t g = 0; g < shape.ngroups; ++g) {
    for_each_choice(source, shape.groups[g], [&](std::string_view c) { choices[g].push_back(c); });
  }
  std::size_t digit[kMaxGroups] = {};
  std::string alt;
  std::vector<std::uint64_t> program;
  for (std::size_t n = 0; n < shape.count; ++n) {
    alt.clear();
    for (std::size_t g = 0; g < shape.ngroups; ++g) {
      alt += pieces.fixed[g];
      alt += choices[g][digit[g]];
    }
    alt += pieces.fixed[shape.ngroups];
    // Most alternatives are ruled out by their plain ends before compiling.
    std::size_t head;
    if (const Verdict v = plain_ends(alt, text, head); v != Verdict::Unknown) {
      if (v == Verdict::Match) return true;
      next_alternative(shape, digit);
      continue;
    }
    ScanScratch scratch(alt);
    const Scan& scan = scan_program(alt, scratch);  // its braces are ordinary bytes
    program.resize(program_size(scan) / 8);
    emit_program(scan, program.data());
    if (run_program(program.data(), text)) return true;
    next_alternative(shape, digit);
  }
  return false;
}

bool match_few_alternatives(std::string_view pattern, const BraceShape& shape, std::string_view text) {
  // The fixed texts laid flat once, and the choices of every group.
  // Raw pieces, left unset until written: zeroing them would cost more than
  // the match (at most three groups have two or more of eight alternatives).
  struct Piece {
    const char* data;  // first byte
    std::size_t size;  // bytes
  };
  constexpr std::size_t kFewGroups = 3;
  char fixed[kShortPattern];
  Piece fixed_of[kFewGroups + 1];
  Piece choice[kFewGroups][kFewAlternatives];
  std::size_t used = 0;
  for (std::size_t g = 0; g <= shape.ngroups; ++g) {
    const std::size_t from = used;
    for_each_fixed_span(pattern, shape, g, [&](std::string_view span) {
      std::memcpy(fixed + used, span.data(), span.size());
      used += span.size();
    });
    fixed_of[g] = Piece{fixed + from, used - from};
    if (g == shape.ngroups) break;
    std::size_t k = 0;
    for_each_choice(pattern, shape.groups[g], [&](std::string_view c) { choice[g][k++] = Piece{c.data(), c.size()}; });
  }
  // A plain start shared by a whole block of alternatives (the fixed text
  // before the first group and one of its choices) rules the block out at once.
  const auto plain_prefix_differs = [&](Piece a, Piece b) {
    for (std::size_t i = 0; i < a.size + b.size; ++i) {
      const char c = i < a.size ? a.data[i] : b.data[i - a.size];
      if (kOpensToken[static_cast<std::uint8_t>(c)]) return false;
      if (i >= text.size() || text[i] != c) return true;
    }
    return false;
  };
  const std::size_t per_first = shape.ngroups == 0 ? shape.count : shape.count / shape.choices[0];
  char alt[kShortPattern];
  std::size_t digit[kMaxGroups] = {};
  for (std::size_t n = 0; n < shape.count; ++n) {
    if (shape.ngroups != 0 && n % per_first == 0 && plain_prefix_differs(fixed_of[0], choice[0][digit[0]])) {
      n += per_first - 1;
      ++digit[0];
      continue;
    }
    std::size_t len = 0;
    const auto add = [&](Piece piece) {
      std::memcpy(alt + len, piece.data, piece.size);
      len += piece.size;
    };
    for (std::size_t g = 0; g < shape.ngroups; ++g) {
      add(fixed_of[g]);
      add(choice[g][digit[g]]);
    }
    add(fixed_of[shape.ngroups]);
    if (match_short(std::string_view(alt, len), text)) return true;
    next_alternative(shape, digit);
  }
  return false;
}

bool match_short(std::string_view pattern, std::string_view text) {
  std::size_t head;
  if (const Verdict v = plain_ends(pattern, text, head); v != Verdict::Unknown) return v == Verdict::Match;
  // The plain head matched: the tokens after it match the rest of the text.
  pattern.remove_prefix(head);
  text.remove_prefix(head);
  // Tokens on the stack: kind, byte, and for classes an index into `sets`.
  struct Short {
    TokKind kind;       // the token's kind
    std::uint8_t byte;  // the byte of a Lit
    std::uint8_t set;   // the index in `sets` of a Class
  };
  Short toks[kShortPattern];
  std::uint64_t sets[kShortPattern / 3 + 1][4];  // only written slots are read
  std::size_t n = 0, nsets = 0, stars = 0;
  tokenize(pattern, [&](TokKind kind, std::uint8_t byte, const ByteSet& set, bool) {
    Short& t = toks[n++];
    t.kind = kind;
    t.byte = byte;
    if (kind == TokKind::Class) {
      std::memcpy(sets[nsets], set.bits.data(), 32);
      t.set = static_cast<std::uint8_t>(nsets++);
    }
    stars += kind == TokKind::Star;
  });
  const auto* s = reinterpret_cast<const std::uint8_t*>(text.data());
  const std::size_t m = text.size();
  const auto accepts = [&](const Short& t, std::uint8_t c) {
    switch (t.kind) {
      case TokKind::Lit: return c == t.byte;
      case TokKind::Any: return true;
      case TokKind::Class: return ((sets[t.set][c >> 6] >> (c & 63)) & 1) != 0;
      case TokKind::Star: break;
    }
    return false;
  };
  if (stars == 0) {
    if (n != m) return false;
    for (std::size_t i = 0; i < n; ++i) {
      if (!accepts(toks[i], s[i])) return false;
    }
    return true;
  }
  // The tokens after the last star take the last bytes of the text: compare
  // them first, at the end of the text.
  std::size_t tail = 0;
  while (toks[n - 1 - tail].kind != TokKind::Star) ++tail;
  if (m < tail) return false;
  for (std::size_t k = 0; k < tail; ++k) {
    if (!accepts(toks[n - tail + k], s[m - tail + k])) return false;
  }
  // The single-restart loop: only the latest star is ever resumed.
  std::size_t t = 0, i = 0, rt = 0, rs = 0;
  bool restart = false;
  while (i < m) {
    if (t < n && toks[t].kind == TokKind::Star) {
      restart = true;
      rt = ++t;
      rs = i;
      // Once the last star is reached, the compared tail decides.
      if (rt == n - tail) return m - i >= tail;
    } else if (t < n && accepts(toks[t], s[i])) {
      ++t;
      ++i;
    } else if (!restart) {
      return false;
    } else {
      // The star takes one more byte; the run of literals right after it can
      // only start where its first byte occurs (memchr) and the rest follows.
      ++rs;
      while (toks[rt].kind == TokKind::Lit) {
        const void* next = rs < m ? std::memchr(s + rs, toks[rt].byte, m - rs) : nullptr;
        if (!next) return false;
        rs = static_cast<std::size_t>(static_cast<const std::uint8_t*>(next) - s);
        std::size_t k = 1;
        while (rt + k < n && toks[rt + k].kind == TokKind::Lit && rs + k < m && s[rs + k] == toks[rt + k].byte) ++k;
        if (rt + k == n || toks[rt + k].kind != TokKind::Lit) break;  // the whole run is there
        if (rs + k == m) return false;  // the text ends inside the run: no later start fits
        ++rs;
      }
      i = rs;
      t = rt;
    }
  }
  while (t < n && toks[t].kind == TokKind::Star) ++t;
  return t == n;
}

}  // namespace quorvel::core::glob
