#include "core/glob/compile.hpp"

#include <cstring>

#include "core/glob/token.hpp"

namespace quorvel::core::glob {

namespace {

// Rounds a byte count up to the alignment of the words.
constexpr std::size_t align8(std::size_t n) { return (n + 7) & ~std::size_t{7}; }

// The offsets of the arrays of a program block, from its header.
struct Layout {
  std::size_t joins, all, lit, cls, star, gmask, cls_base, cls_off, bytes, pool, total;  // byte offsets
  // The layout of a block whose header is `h`.
  explicit Layout(const ProgramHeader& h) {
    const std::size_t w8 = std::size_t{h.words} * 8;
    joins = align8(sizeof(ProgramHeader));
    all = align8(joins + h.ngroups * sizeof(GroupJoin));
    lit = all + w8;
    cls = lit + w8;
    star = cls + w8;
    gmask = star + w8;
    cls_base = gmask + std::size_t{h.group_words} * 16;
    cls_off = cls_base + std::size_t{h.words} * 4;
    bytes = cls_off + std::size_t{h.nclass} * 4;
    pool = bytes + std::size_t{h.words} * 64;
    total = align8(pool + h.pool_bytes);
  }
};

// The number of runs of consecutive members of `set`.
unsigned runs(const ByteSet& set) {
  unsigned n = 0;
  bool in = false;
  for (unsigned b = 0; b < 256; ++b) {
    const bool has = set.has(static_cast<std::uint8_t>(b));
    n += has && !in;
    in = has;
  }
  return n;
}

// The bytes of the record of a class position.
std::size_t record_bytes(const ByteSet& set) {
  const unsigned r = runs(set);
  return r <= kMaxRanges ? 1 + 2 * r : 1 + 32;
}

// The tokens of one piece as positions: stars run together, a class of all
// bytes is Any and a class of one byte is a Lit. `f(kind, byte, set, unterminated)`.
template <class F>
void piece_tokens(std::string_view text, F&& f) {
  bool after_star = false;
  tokenize(text, [&](TokKind kind, std::uint8_t byte, const ByteSet& set, bool unterminated) {
    if (kind == TokKind::Star) {
      if (after_star) return;
      after_star = true;
      f(kind, byte, set, false);
      return;
    }
    after_star = false;
    if (kind == TokKind::Class) {
      const unsigned size = set.size();
      if (size == 256) {
        kind = TokKind::Any;
      } else if (size == 1) {
        kind = TokKind::Lit;
        for (unsigned b = 0; b < 256; ++b) {
          if (set.has(static_cast<std::uint8_t>(b))) byte = static_cast<std::uint8_t>(b);
        }
      }
    }
    f(kind, byte, set, unterminated);
  });
}

// Walks the pieces in position order: sink.piece(text, group, is_choice, last, src_end),
// with sink.group_end(g) after the choices of group g.
template <class Sink>
void walk(std::string_view s, const Pieces& p, Sink& sink) {
  const BraceShape& sh = p.shape;
  const std::size_t k = sh.literal ? 0 : sh.ngroups;
  for (std::size_t g = 0; g <= k; ++g) {
    sink.piece(p.fixed[g], g, false, g == k, g == k ? s.size() : sh.groups[g].open);
    if (g == k) break;
    for_each_choice(s, sh.groups[g], [&](std::string_view c) { sink.piece(c, g, true, false, sh.groups[g].close); });
    sink.group_end(g);
  }
}

// Pass one: counts positions, classes and record bytes; finds straddling brackets.
struct Planner {
  std::size_t last_close;  // the last `]` of the source
  std::size_t bits = 0, nclass = 0, pool = 0, group_words = 0;  // counts so far
  std::size_t group_lo = kNoBit;   // first position of the current group's choices
  std::uint32_t nw[kMaxGroups]{};  // words of each group
  bool straddle = false;           // a bracket may close across a brace boundary
  // Counts the positions of one piece.
  void piece(std::string_view text, std::size_t, bool is_choice, bool last, std::size_t src_end) {
    if (is_choice && group_lo == kNoBit) group_lo = bits;
    piece_tokens(text, [&](TokKind kind, std::uint8_t, const ByteSet& set, bool unterminated) {
      ++bits;
      if (kind == TokKind::Class) {
        ++nclass;
        pool += record_bytes(set);
      }
      // A `[` left open here could close in a later piece of some alternative.
      if (unterminated && !last && last_close != std::string_view::npos && last_close > src_end) straddle = true;
    });
    ++bits;  // the piece's end
  }
  // Closes the counts of group `g`.
  void group_end(std::size_t g) {
    nw[g] = static_cast<std::uint32_t>((bits - 1) / 64 - group_lo / 64 + 1);
    group_words += nw[g];
    group_lo = kNoBit;
  }
};

// Sets bit `b` of the word array `w`.
inline void set_bit(std::uint64_t* w, std::size_t b) { w[b / 64] |= std::uint64_t{1} << (b % 64); }

// Pass two: writes the positions, records and joins.
struct Builder {
  ProgramHeader& h;                               // the header being completed
  GroupJoin* joins;                               // the joins being filled
  std::uint64_t *all, *lit, *cls, *star, *gmask;  // the word arrays (see Program)
  std::uint32_t *cls_base, *cls_off;              // class ranks and record offsets
  std::uint8_t *bytes, *pool;                     // literal bytes and class records
  std::size_t bit = 0, nclass = 0, pool_used = 0, mask_used = 0;     // fill positions
  std::size_t lead_lits = 0, trail_lits = 0, tokens = 0, stars = 0;  // for the fast paths
  bool only_lits = true, started = false;  // every token a Lit; the current group has begun
  std::uint32_t piece_start = 0, last_star = kNoBit;  // of the current piece

  // Writes the positions of one piece and its part of the joins.
  void piece(std::string_view text, std::size_t g, bool is_choice, bool last, std::size_t) {
    if (is_choice && !started) {
      // The group's words begin at its first choice; their number was planned.
      started = true;
      joins[g].lo = static_cast<std::uint32_t>(bit / 64);
      joins[g].nw = h.group_nw[g];
      joins[g].mask = static_cast<std::uint32_t>(mask_used);
    }
    piece_start = static_cast<std::uint32_t>(bit);
    last_star = kNoBit;
    bool first = true, first_star = false, leading = g == 0 && !is_choice;
    std::size_t trailing = 0;
    piece_tokens(text, [&](TokKind kind, std::uint8_t byte, const ByteSet& set, bool) {
      if (first) first_star = kind == TokKind::Star;
      first = false;
      leading = leading && kind == TokKind::Lit;
      if (leading) ++lead_lits;
      trailing = kind == TokKind::Lit ? trailing + 1 : 0;
      last_star = kind == TokKind::Star ? static_cast<std::uint32_t>(bit) : kNoBit;
      only_lits = only_lits && kind == TokKind::Lit;
      ++tokens;
      stars += kind == TokKind::Star;
      switch (kind) {
        case TokKind::Star:
          set_bit(star, bit);
          set_bit(all, bit);
          break;
        case TokKind::Any:
          set_bit(all, bit);
          break;
        case TokKind::Lit:
          set_bit(lit, bit);
          bytes[bit] = byte;
          break;
        case TokKind::Class: {
          set_bit(cls, bit);
          cls_off[nclass++] = static_cast<std::uint32_t>(pool_used);
          std::uint8_t* rec = pool + pool_used;
          const unsigned r = runs(set);
          if (r <= kMaxRanges) {
            rec[0] = static_cast<std::uint8_t>(r);
            std::size_t k = 1;
            for (unsigned b = 0; b < 256; ++b) {
              const bool has = set.has(static_cast<std::uint8_t>(b));
              const bool prev = b > 0 && set.has(static_cast<std::uint8_t>(b - 1));
              const bool next = b < 255 && set.has(static_cast<std::uint8_t>(b + 1));
              if (has && !prev) rec[k++] = static_cast<std::uint8_t>(b);
              if (has && !next) rec[k++] = static_cast<std::uint8_t>(b);
            }
          } else {
            rec[0] = kClassMap;
            std::memcpy(rec + 1, set.bits.data(), 32);
          }
          pool_used += record_bytes(set);
          break;
        }
      }
      ++bit;
    });
    const std::uint32_t end = static_cast<std::uint32_t>(bit++);
    const std::uint32_t after_first = first_star ? piece_start + 1 : piece_start;
    if (is_choice) {
      GroupJoin& j = joins[g];
      const std::size_t base = std::size_t{j.lo} * 64;
      std::uint64_t* entry = gmask + j.mask;
      std::uint64_t* ends = entry + j.nw;
      set_bit(entry, piece_start - base);
      set_bit(entry, after_first - base);
      set_bit(ends, end - base);
      return;
    }
    if (g > 0) {
      joins[g - 1].exit0 = piece_start;
      joins[g - 1].exit1 = after_first;
    }
    if (!last) joins[g].fend = end;
    if (last) {
      h.final_bit = end;
      trail_lits = trailing;
      h.early_bit = last_star;
    }
  }
  // Moves past the masks of group `g`.
  void group_end(std::size_t g) {
    mask_used += 2 * std::size_t{joins[g].nw};
    started = false;
  }
};

}  // namespace

Program::Program(const void* base)
    : h(*static_cast<const ProgramHeader*>(base)) {
  const Layout l(h);
  const auto* b = static_cast<const unsigned char*>(base);
  joins = reinterpret_cast<const GroupJoin*>(b + l.joins);
  all = reinterpret_cast<const std::uint64_t*>(b + l.all);
  lit = reinterpret_cast<const std::uint64_t*>(b + l.lit);
  cls = reinterpret_cast<const std::uint64_t*>(b + l.cls);
  star = reinterpret_cast<const std::uint64_t*>(b + l.star);
  gmask = reinterpret_cast<const std::uint64_t*>(b + l.gmask);
  cls_base = reinterpret_cast<const std::uint32_t*>(b + l.cls_base);
  cls_off = reinterpret_cast<const std::uint32_t*>(b + l.cls_off);
  bytes = b + l.bytes;
  pool = b + l.pool;
}

void cut_pieces(std::string_view source, Pieces& out, char* scratch) {
  // Without a `{` there is no group: the whole source is the one fixed text,
  // and the brace scanner is not run at all (most patterns people write).
  if (source.empty() || std::memchr(source.data(), '{', source.size()) == nullptr) {
    out.fixed[0] = source;
    return;
  }
  out.shape = brace_shape(source);
  const std::size_t k = out.shape.literal ? 0 : out.shape.ngroups;
  char* buf = scratch;  // joined fixed texts; never longer than the source
  std::size_t used = 0;
  for (std::size_t g = 0; g <= k; ++g) {
    std::string_view one;
    std::size_t spans = 0;
    const std::size_t from = used;
    for_each_fixed_span(source, out.shape, g, [&](std::string_view span) {
      if (span.empty()) return;
      if (++spans == 1) {
        one = span;  // a fixed text of one span is viewed in place
        return;
      }
      if (!buf) {
        out.flat.resize(source.size());  // sized once, so views stay valid
        buf = out.flat.data();
      }
      if (spans == 2) {
        std::memcpy(buf + used, one.data(), one.size());
        used += one.size();
      }
      std::memcpy(buf + used, span.data(), span.size());
      used += span.size();
    });
    out.fixed[g] = spans <= 1 ? one : std::string_view(buf + from, used - from);
  }
}

std::size_t plan_program(std::string_view source, const Pieces& pieces, ProgramHeader& h) {
  Planner p{source.rfind(']')};
  walk(source, pieces, p);
  h = ProgramHeader{};
  h.per_alternative = p.straddle;
  h.nbits = static_cast<std::uint32_t>(p.bits);
  h.words = static_cast<std::uint32_t>((p.bits + 63) / 64);
  h.nclass = static_cast<std::uint32_t>(p.nclass);
  h.ngroups = static_cast<std::uint32_t>(pieces.shape.literal ? 0 : pieces.shape.ngroups);
  h.pool_bytes = static_cast<std::uint32_t>(p.pool);
  h.early_bit = kNoBit;
  h.group_words = static_cast<std::uint32_t>(p.group_words);
  for (std::size_t g = 0; g < kMaxGroups; ++g) h.group_nw[g] = p.nw[g];
  if (h.per_alternative) {
    // Nothing is compiled: alternatives are compiled one by one when matched.
    h = ProgramHeader{};
    h.per_alternative = true;
  }
  return Layout(h).total;
}

void build_program(std::string_view source, const Pieces& pieces, const ProgramHeader& planned, void* out) {
  const Layout l(planned);
  std::memset(out, 0, l.total);
  auto* b = static_cast<unsigned char*>(out);
  auto* h = reinterpret_cast<ProgramHeader*>(b);
  *h = planned;
  if (h->per_alternative) return;
  Builder w{*h,
            reinterpret_cast<GroupJoin*>(b + l.joins),
            reinterpret_cast<std::uint64_t*>(b + l.all),
            reinterpret_cast<std::uint64_t*>(b + l.lit),
            reinterpret_cast<std::uint64_t*>(b + l.cls),
            reinterpret_cast<std::uint64_t*>(b + l.star),
            reinterpret_cast<std::uint64_t*>(b + l.gmask),
            reinterpret_cast<std::uint32_t*>(b + l.cls_base),
            reinterpret_cast<std::uint32_t*>(b + l.cls_off),
            b + l.bytes,
            b + l.pool};
  walk(source, pieces, w);
  std::uint32_t rank = 0;
  for (std::uint32_t i = 0; i < h->words; ++i) {
    w.cls_base[i] = rank;
    rank += static_cast<std::uint32_t>(__builtin_popcountll(w.cls[i]));
  }
  h->head_len = static_cast<std::uint32_t>(w.lead_lits);
  h->literal = w.only_lits && h->ngroups == 0;
  h->tail_len = h->literal ? 0 : static_cast<std::uint32_t>(w.trail_lits);
  h->start_bit = h->head_len;
  h->tail_bit = h->final_bit - h->tail_len;
  h->middle_star = h->ngroups == 0 && w.stars == 1 && w.tokens == h->head_len + h->tail_len + 1;
  if (h->tail_len != 0) h->early_bit = kNoBit;
}

}  // namespace quorvel::core::glob
