#include "core/glob/match.hpp"

#include <cstdint>
#include <algorithm>
#include <cstring>
#include <memory>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/glob/compile.hpp"
#include "core/glob/token.hpp"

namespace quorvel::core::glob {

namespace {

using u64 = std::uint64_t;

// Bit i set when p[i] == c, for the 64 bytes at p.
inline u64 equal_bytes(const std::uint8_t* p, std::uint8_t c) {
#if defined(__SSE2__)
  const __m128i v = _mm_set1_epi8(static_cast<char>(c));
  u64 m = 0;
  for (int k = 0; k < 4; ++k) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
    m |= u64{static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, v)))} << (16 * k);
  }
  return m;
#else
  u64 m = 0;
  for (int i = 0; i < 64; ++i) m |= u64{p[i] == c} << i;
  return m;
#endif
}

// Whether class record `rec` accepts byte `c`.
inline bool class_accepts(const std::uint8_t* rec, std::uint8_t c) {
  if (rec[0] == kClassMap) {
    u64 w;
    std::memcpy(&w, rec + 1 + 8 * (c >> 6), 8);
    return (w >> (c & 63)) & 1;
  }
  for (unsigned r = 0; r < rec[0]; ++r) {
    const std::uint8_t lo = rec[1 + 2 * r], hi = rec[2 + 2 * r];
    if (static_cast<std::uint8_t>(c - lo) <= static_cast<std::uint8_t>(hi - lo)) return true;
  }
  return false;
}

// The index of bit `b` among the set bits of `mask`, after `base` before it.
inline std::uint32_t rank_of(std::uint32_t base, u64 mask, unsigned b) {
  return base + static_cast<std::uint32_t>(__builtin_popcountll(mask & ((u64{1} << b) - 1)));
}

// The positions among `live` of word `w` that accept byte `c`.
inline u64 accepting(const Program& p, std::uint32_t w, std::uint8_t c, u64 live) {
  u64 x = live & p.any[w];
  if (live & p.lit[w]) x |= live & p.lit[w] & equal_bytes(p.bytes + 64 * std::size_t{w}, c);
  for (u64 k = live & p.cls[w]; k; k &= k - 1) {
    const auto b = static_cast<unsigned>(__builtin_ctzll(k));
    if (class_accepts(p.pool + p.cls_off[rank_of(p.cls_base[w], p.cls[w], b)], c)) x |= u64{1} << b;
  }
  return x;
}

// Position sets of up to this many words use a table of acceptance by byte,
// filled the first time a byte is seen (on the stack: 256 * 4 words).
constexpr std::uint32_t kTableWords = 4;
// Longer ones may use a table on the heap of up to this many words a byte.
constexpr std::uint32_t kHeapTableWords = 512;
// Scratch of up to this many words lives on the stack.
constexpr std::size_t kStackWords = 256;

// The simulation's scratch and its closure over the junctions. The live
// positions of `cur` lie in words [lo, hi]: a step visits only those (and
// the word after, for the shift), so positions far from any live one cost
// nothing.
struct Sim {
  const Program& p;
  std::uint32_t words, aw;  // words of a position set, of the junction set
  u64 *cur, *nxt, *active;  // position sets, live junctions
  std::uint32_t lo = 1, hi = 0;  // the live words of cur (none when lo > hi)
  std::uint32_t tlo = 0, thi = 0;  // the words a closure touched

  // Marks the junctions that the ends `e` of word `w` reach.
  void mark(std::uint32_t w, u64 e) {
    for (; e; e &= e - 1) {
      const std::uint32_t j = p.end_to[rank_of(p.end_base[w], p.end[w], static_cast<unsigned>(__builtin_ctzll(e)))];
      active[j / 64] |= u64{1} << (j % 64);
    }
  }
  // Adds to `d` what the marked junctions reach, in source order: a junction
  // only reaches later ones. Widens [tlo, thi] to the words it sets.
  void close(u64* d) {
    for (std::uint32_t a = 0; a < aw; ++a) {
      while (active[a]) {
        const std::uint32_t j = a * 64 + static_cast<std::uint32_t>(__builtin_ctzll(active[a]));
        active[a] &= active[a] - 1;
        const Junction& jn = p.junctions[j];
        if (jn.nw == 0) continue;
#ifdef QUORVEL_GLOB_STEPS
        word_steps += jn.nw;
#endif
        tlo = std::min(tlo, jn.lo);
        thi = std::max(thi, jn.lo + jn.nw - 1);
        for (std::uint32_t k = 0; k < jn.nw; ++k) {
          const u64 out = p.outs[jn.off + k], added = out & ~d[jn.lo + k];
          d[jn.lo + k] |= out;
          if (const u64 e = added & p.end[jn.lo + k]) mark(jn.lo + k, e);
        }
      }
    }
  }
  // Narrows [from, to] to the words of `d` that are not zero: gives lo > hi when none is.
  static void live_words(const u64* d, std::uint32_t& from, std::uint32_t& to) {
    while (from <= to && d[from] == 0) ++from;
    while (to > from && d[to] == 0) --to;
    if (from <= to && d[to] == 0) from = to + 1;
  }
  // Whether the live words of cur and `mask` share a position.
  bool meets(const u64* mask) const {
    u64 any = 0;
    for (std::uint32_t w = lo; w <= hi && w < words; ++w) any |= cur[w] & mask[w];
    return any != 0;
  }
};

}  // namespace

namespace {

// Adds the bytes that class record `rec` accepts to `set`.
void add_members(const std::uint8_t* rec, ByteSet& set) {
  if (rec[0] == kClassMap) {
    for (unsigned w = 0; w < 4; ++w) {
      u64 bits;
      std::memcpy(&bits, rec + 1 + 8 * w, 8);
      set.bits[w] |= bits;
    }
    return;
  }
  for (unsigned r = 0; r < rec[0]; ++r) set.add_range(rec[1 + 2 * r], rec[2 + 2 * r]);
}

// The bytes that a live position other than a star accepts, at a fixed
// point of `d`: every other byte leaves the set as it is. False when there
// are too many such positions, or one accepts every byte.
bool stop_bytes(const Program& p, const u64* d, ByteSet& stop) {
  stop = ByteSet{};
  unsigned count = 0;
  for (std::uint32_t w = 0; w < p.h->words; ++w) {
    const u64 live = d[w] & ~p.star[w] & (p.any[w] | p.lit[w] | p.cls[w]);
    if (live & p.any[w]) return false;
    for (u64 k = live; k; k &= k - 1) {
      if (++count > 8) return false;
      const auto b = static_cast<unsigned>(__builtin_ctzll(k));
      if ((p.lit[w] >> b) & 1) {
        stop.add(p.bytes[64 * std::size_t{w} + b]);
      } else {
        add_members(p.pool + p.cls_off[rank_of(p.cls_base[w], p.cls[w], b)], stop);
      }
    }
  }
  return true;
}

// The offset of the first byte of s[from, m) in `stop`, or m: memchr for one
// byte, sixteen bytes at a time for up to four runs of consecutive bytes.
std::size_t find_stop(const std::uint8_t* s, std::size_t from, std::size_t m, const ByteSet& stop) {
  std::uint8_t lo[4], hi[4];
  unsigned r = 0;
  for (unsigned w = 0; w < 4 && r <= 4; ++w) {
    // A run starts at a member whose lower neighbour is not one (a word at a time).
    const u64 bits = stop.bits[w], below = w > 0 ? stop.bits[w - 1] >> 63 : 0;
    for (u64 k = bits & ~((bits << 1) | below); k && r <= 4; k &= k - 1, ++r) {
      unsigned e = 64 * w + static_cast<unsigned>(__builtin_ctzll(k));
      if (r < 4) lo[r] = static_cast<std::uint8_t>(e);
      while (e < 255 && stop.has(static_cast<std::uint8_t>(e + 1))) ++e;
      if (r < 4) hi[r] = static_cast<std::uint8_t>(e);
    }
  }
  if (r == 1 && lo[0] == hi[0]) {
    const void* at = from < m ? std::memchr(s + from, lo[0], m - from) : nullptr;
    return at ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(at) - s) : m;
  }
#if defined(__SSE2__)
  if (r <= 4) {
    for (; from + 16 <= m; from += 16) {
      const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + from));
      __m128i hit = _mm_setzero_si128();
      for (unsigned k = 0; k < r; ++k) {
        // x - lo, unsigned, is at most hi - lo exactly for the members.
        const __m128i t = _mm_sub_epi8(x, _mm_set1_epi8(static_cast<char>(lo[k])));
        const __m128i width = _mm_set1_epi8(static_cast<char>(hi[k] - lo[k]));
        hit = _mm_or_si128(hit, _mm_cmpeq_epi8(_mm_min_epu8(t, width), t));
      }
      if (const int mask = _mm_movemask_epi8(hit)) return from + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
    }
  }
#endif
  while (from < m && !stop.has(s[from])) ++from;
  return from;
}

// The automaton over s[0, m) from position `start`: whether an accepting
// position is live at the end. With `decide`, once the last star of every
// match is live, the tokens after it decide on the last bytes alone.
bool simulate(const Program& p, const std::uint8_t* s, std::size_t m, std::uint32_t start, bool decide) {
  const ProgramHeader& h = *p.h;
  const std::uint32_t words = h.words, aw = (h.njunctions + 63) / 64;
  const std::size_t scratch = 2 * std::size_t{words} + aw;
  u64 stack[kStackWords];
  std::unique_ptr<u64[]> heap;
  u64* mem = stack;
  if (scratch > kStackWords) {
    heap.reset(new u64[scratch]);
    mem = heap.get();
  }
  std::memset(mem, 0, scratch * sizeof(u64));
  Sim sim{p, words, aw, mem, mem + words, mem + 2 * words};
  // A one-word program of few junctions closes densely: per junction in
  // order, its in-mask (the run ends that reach it) against its out-mask.
  const bool dense = words == 1 && h.njunctions <= 64 && h.nends != 0;
  const bool junctions = h.nends != 0 && !dense;
  u64 in_mask[64], out_mask[64];
  if (dense) {
    for (std::uint32_t j = 0; j < h.njunctions; ++j) {
      in_mask[j] = 0;
      out_mask[j] = p.junctions[j].nw != 0 ? p.outs[p.junctions[j].off] : 0;
    }
    std::uint32_t rank = 0;
    for (u64 e = p.end[0]; e; e &= e - 1) in_mask[p.end_to[rank++]] |= e & (~e + 1);
  }
  const auto close_dense = [&](u64 d) {
    for (std::uint32_t j = 0; j < h.njunctions; ++j) {
      if (d & in_mask[j]) d |= out_mask[j];
    }
#ifdef QUORVEL_GLOB_STEPS
    word_steps += 1;
#endif
    return d;
  };
  sim.cur[start / 64] |= u64{1} << (start % 64);
  if ((p.star[start / 64] >> (start % 64)) & 1) sim.cur[(start + 1) / 64] |= u64{1} << ((start + 1) % 64);
  if (junctions) {
    for (std::uint32_t w = 0; w < words; ++w) sim.mark(w, sim.cur[w] & p.end[w]);
    sim.close(sim.cur);
  }
  if (dense) sim.cur[0] = close_dense(sim.cur[0]);
  sim.lo = 0;
  sim.hi = words - 1;
  Sim::live_words(sim.cur, sim.lo, sim.hi);
  std::uint32_t stale_lo = 1, stale_hi = 0;  // the words of nxt that may not be zero
  decide = decide && h.has_early;
  // Whether the set after `i` bytes already settles the answer.
  const auto settled = [&](std::size_t i, bool& answer) {
    if (!decide || m - i < h.fixed_len || !sim.meets(p.early)) return false;
    answer = h.fixed_len == 0 || simulate(p, s + m - h.fixed_len, h.fixed_len, h.fixed_bit, false);
    return true;
  };
  bool answer = false;
  if (settled(0, answer)) return answer;

  // Acceptance by byte, a column the first time a byte is seen: on the stack
  // for a short pattern, else on the heap while the text is long enough to
  // pay for it (at most kHeapTableWords per byte, freed on return).
  u64 stack_table[256 * kTableWords];
  std::unique_ptr<u64[]> heap_table;
  u64* table = stack_table;
  if (words > kTableWords && words <= kHeapTableWords && m >= 4 * std::size_t{words}) {
    heap_table.reset(new u64[256 * std::size_t{words}]);
    table = heap_table.get();
  }
  u64 seen[4] = {0, 0, 0, 0};
  const bool tabled = table != stack_table || words <= kTableWords;
  bool skip_tried = false;
  for (std::size_t i = 0; i < m; ++i) {
    const std::uint8_t c = s[i];
    const u64* column = nullptr;
    if (tabled) {
      column = table + std::size_t{c} * words;
      if (!((seen[c / 64] >> (c % 64)) & 1)) {
        seen[c / 64] |= u64{1} << (c % 64);
        for (std::uint32_t w = 0; w < words; ++w) table[std::size_t{c} * words + w] = accepting(p, w, c, ~u64{0});
      }
    }
    for (std::uint32_t w = stale_lo; w <= stale_hi; ++w) sim.nxt[w] = 0;
    const std::uint32_t from = sim.lo, to = std::min(sim.hi + 1, words - 1);
    u64 carry = 0, skip = 0, any = 0;
    for (std::uint32_t w = from; w <= to; ++w) {
      const u64 old = sim.cur[w];
      const u64 x = old == 0 ? 0 : column ? old & column[w] : accepting(p, w, c, old);
      // Every accepting position advances; stars also stay...
      u64 n = (x << 1) | carry | (x & p.star[w]);
      carry = x >> 63;
      // ...and a live star may match nothing: the position after it is live too.
      const u64 st = n & p.star[w];
      n |= (st << 1) | skip;
      skip = st >> 63;
      sim.nxt[w] = n;
      any |= n;
      if (junctions) sim.mark(w, n & p.end[w]);
    }
    if (!any) return false;
    sim.tlo = from;
    sim.thi = to;
    if (junctions) sim.close(sim.nxt);
    if (dense) sim.nxt[0] = close_dense(sim.nxt[0]);
    Sim::live_words(sim.nxt, sim.tlo, sim.thi);
    u64 changed = 0;
    for (std::uint32_t w = std::min(sim.lo, sim.tlo), e = std::max(sim.hi, sim.thi); w <= e && w < words; ++w) {
      changed |= sim.nxt[w] ^ sim.cur[w];
    }
    std::swap(sim.cur, sim.nxt);
    stale_lo = sim.lo;
    stale_hi = sim.hi;
    sim.lo = sim.tlo;
    sim.hi = sim.thi;
#ifdef QUORVEL_GLOB_STEPS
    word_steps += to - from + 1;
#endif
    if (changed) {
      if (settled(i + 1, answer)) return answer;
      skip_tried = false;
      continue;
    }
    if (skip_tried) continue;
    // A fixed point: the bytes that no live position but a star accepts leave
    // the set as it is, so the scan may jump to the next byte that one does.
    skip_tried = true;
    ByteSet stop;
    if (!stop_bytes(p, sim.cur, stop) || stop.has(c)) continue;
    i = find_stop(s, i + 1, m, stop) - 1;
  }
  return sim.meets(p.accept);
}

}  // namespace

bool run_program(const void* base, std::string_view middle) {
  const Program p = view_program(base);
  const ProgramHeader& h = *p.h;
  const auto* s = reinterpret_cast<const std::uint8_t*>(middle.data());
  const std::size_t m = middle.size();
  // A literal every match holds: a text without it cannot match.
  if (h.need_len != 0 && (m < h.need_len || !memmem(s, m, p.bytes + h.need_off, h.need_len))) return false;
  return simulate(p, s, m, h.start_bit, true);
}

}  // namespace quorvel::core::glob
