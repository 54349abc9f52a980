#include "core/glob/compile.hpp"

#include <algorithm>
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

// Writes the record of class `set` at `rec`: its runs of consecutive members
// as ranges, or its map when they are more than kMaxRanges. Gives its bytes.
std::size_t write_record(const ByteSet& set, std::uint8_t* rec) {
  // A run starts at a member whose lower neighbour is not one, and ends at a
  // member whose upper neighbour is not one: found a word at a time.
  std::uint64_t starts[4], ends[4];
  unsigned r = 0;
  for (unsigned w = 0; w < 4; ++w) {
    const std::uint64_t m = set.bits[w];
    const std::uint64_t below = w > 0 ? set.bits[w - 1] >> 63 : 0;
    const std::uint64_t above = w < 3 ? set.bits[w + 1] << 63 : 0;
    starts[w] = m & ~((m << 1) | below);
    ends[w] = m & ~((m >> 1) | above);
    r += static_cast<unsigned>(__builtin_popcountll(starts[w]));
  }
  if (r > kMaxRanges) {
    rec[0] = kClassMap;
    std::memcpy(rec + 1, set.bits.data(), 32);
    return 1 + 32;
  }
  rec[0] = static_cast<std::uint8_t>(r);
  std::size_t k = 1, e = 2;
  for (unsigned w = 0; w < 4; ++w) {
    for (std::uint64_t m = starts[w]; m; m &= m - 1, k += 2) rec[k] = static_cast<std::uint8_t>(64 * w + __builtin_ctzll(m));
    for (std::uint64_t m = ends[w]; m; m &= m - 1, e += 2) rec[e] = static_cast<std::uint8_t>(64 * w + __builtin_ctzll(m));
  }
  return 1 + 2 * std::size_t{r};
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

// Sets bit `b` of the word array `w`.
inline void set_bit(std::uint64_t* w, std::size_t b) { w[b / 64] |= std::uint64_t{1} << (b % 64); }

// Sets bits [from, from + n) of the word array `w`, a word at a time.
inline void set_bits(std::uint64_t* w, std::size_t from, std::size_t n) {
  while (n != 0) {
    const std::size_t at = from % 64, k = n < 64 - at ? n : 64 - at;
    w[from / 64] |= (k == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << k) - 1) << at;
    from += k;
    n -= k;
  }
}

// The one pass: tokenizes every piece once, writing its positions, class
// records and joins into the scan, and counts what the layout needs. The
// tokenizer calls back into members (its callbacks capture only `this`), so
// that no closure of many references is built per piece.
struct Scanner {
  Scan& s;                  // the scan being filled
  std::string_view source;  // the source whose pieces are read
  std::size_t last_close = kNoBit;  // the last `]` of the source, found when first needed
  std::size_t bit = 0, nclass = 0, pool = 0, group_words = 0;        // fill positions and counts
  std::size_t lead_lits = 0, trail_lits = 0, tokens = 0, stars = 0;  // for the fast paths
  std::size_t group_lo = kNoBit;        // first position of the current group's choices
  bool only_lits = true;                // every token a Lit
  bool straddle = false;                // a bracket may close across a brace boundary
  // Of the current piece:
  std::size_t trailing = 0;             // literals since its last other token
  std::size_t src_end = 0;              // the source offset where it ends
  std::uint32_t last_star = kNoBit;     // its star position if that is its last token
  bool leading = false;                 // only literals so far, in the first fixed text
  bool after_star = false;              // its last token was a star
  bool last = false;                    // it is the last fixed text

  // One token as a position: stars run together (`**` is `*`), a class of
  // all bytes is Any and a class of one byte is a Lit.
  void token(TokKind kind, std::uint8_t byte, const ByteSet& set, bool unterminated) {
    if (kind == TokKind::Star) {
      if (after_star) return;
      after_star = true;
    } else {
      after_star = false;
    }
    if (kind == TokKind::Class) {
      const unsigned size = set.size();
      if (size == 256) {
        kind = TokKind::Any;
      } else if (size == 1) {
        kind = TokKind::Lit;
        for (unsigned w = 0; w < 4; ++w) {
          if (set.bits[w]) byte = static_cast<std::uint8_t>(64 * w + __builtin_ctzll(set.bits[w]));
        }
      }
    }
    leading = leading && kind == TokKind::Lit;
    lead_lits += leading;
    trailing = kind == TokKind::Lit ? trailing + 1 : 0;
    last_star = kind == TokKind::Star ? static_cast<std::uint32_t>(bit) : kNoBit;
    only_lits = only_lits && kind == TokKind::Lit;
    ++tokens;
    s.bytes[bit] = kind == TokKind::Lit ? byte : 0;
    switch (kind) {
      case TokKind::Star:
        ++stars;
        set_bit(s.star, bit);
        set_bit(s.all, bit);
        break;
      case TokKind::Any:
        set_bit(s.all, bit);
        break;
      case TokKind::Lit:
        set_bit(s.lit, bit);
        break;
      case TokKind::Class:
        set_bit(s.cls, bit);
        s.cls_off[nclass++] = static_cast<std::uint32_t>(pool);
        pool += write_record(set, s.pool + pool);
        break;
    }
    // A `[` left open here could close in a later piece of some alternative.
    if (unterminated && !last) {
      if (last_close == kNoBit) last_close = source.rfind(']');
      if (last_close != std::string_view::npos && last_close > src_end) straddle = true;
    }
    ++bit;
  }
  // A run of plain literals: the same counts as one Lit at a time.
  void plain(std::string_view run) {
    after_star = false;
    const std::size_t n = run.size();
    lead_lits += leading ? n : 0;
    trailing += n;
    last_star = kNoBit;
    tokens += n;
    if (n == 1) {
      s.bytes[bit] = static_cast<std::uint8_t>(run[0]);  // a choice of one byte, mostly
    } else {
      std::memcpy(s.bytes + bit, run.data(), n);
    }
    if (bit % 64 + n <= 64) {
      s.lit[bit / 64] |= (n == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << n) - 1) << (bit % 64);
    } else {
      set_bits(s.lit, bit, n);
    }
    bit += n;
  }
  // Writes the positions of one piece and its part of the joins.
  void piece(std::string_view text, std::size_t g, bool is_choice, bool is_last, std::size_t end_offset) {
    if (is_choice && group_lo == kNoBit) {
      group_lo = bit;  // the group's masks start at word group_words
    }
    const std::size_t start = bit;
    trailing = 0;
    last_star = kNoBit;
    leading = g == 0 && !is_choice;
    after_star = false;
    last = is_last;
    src_end = end_offset;
    if (!text.empty()) tokenize_runs(
        text, [this](TokKind kind, std::uint8_t byte, const ByteSet& set, bool open) { token(kind, byte, set, open); },
        [this](std::string_view run) { plain(run); });
    const std::size_t end = bit++;  // the piece's end: accepts no byte
    s.bytes[end] = 0;
    const bool first_star = end > start && ((s.star[start / 64] >> (start % 64)) & 1);
    const auto after_first = static_cast<std::uint32_t>(first_star ? start + 1 : start);
    if (is_choice) {
      // A choice is entered at its start (and after a leading star), and left at its end.
      const std::size_t base = group_lo / 64 * 64 - group_words * 64;  // position of mask bit 0
      set_bit(s.entry, start - base);
      set_bit(s.entry, after_first - base);
      set_bit(s.ends, end - base);
      return;
    }
    if (g > 0) {
      s.joins[g - 1].exit0 = static_cast<std::uint32_t>(start);
      s.joins[g - 1].exit1 = after_first;
    }
    if (!last) {
      s.joins[g].fend = static_cast<std::uint32_t>(end);
    } else {
      s.h.final_bit = static_cast<std::uint32_t>(end);
      trail_lits = trailing;
      s.h.early_bit = last_star;
    }
  }
  // Closes group `g`: its words and where its masks go.
  void group_end(std::size_t g) {
    GroupJoin& j = s.joins[g];
    j.lo = static_cast<std::uint32_t>(group_lo / 64);
    j.nw = static_cast<std::uint32_t>((bit - 1) / 64 - group_lo / 64 + 1);
    j.mask = static_cast<std::uint32_t>(2 * group_words);
    s.h.group_nw[g] = j.nw;
    group_words += j.nw;
    group_lo = kNoBit;
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

void cut_pieces(std::string_view source, Pieces& out, char* scratch, const BraceShape* shape) {
  // Without a `{` there is no group: the whole source is the one fixed text,
  // and the brace scanner is not run at all (most patterns people write).
  if (shape == nullptr && (source.empty() || std::memchr(source.data(), '{', source.size()) == nullptr)) {
    out.fixed[0] = source;
    return;
  }
  out.shape = shape ? *shape : brace_shape(source);
  const std::size_t k = out.shape.literal ? 0 : out.shape.ngroups;
  if (!out.shape.dissolved) {
    // Every fixed text is one span of the source, viewed in place.
    for (std::size_t g = 0; g <= k; ++g) {
      for_each_fixed_span(source, out.shape, g, [&](std::string_view span) { out.fixed[g] = span; });
    }
    return;
  }
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

ScanScratch::ScanScratch(std::string_view source) {
  const std::size_t n = source.size();
  const std::size_t words = (n + 1 + 63) / 64;
  const std::size_t mask_bytes = 4 * words * 8;
  const std::size_t group_bytes = (words + kMaxGroups) * 8;  // of each kind
  const std::size_t byte_bytes = align8(n + 1);
  // Room for classes, by the bounds from the size alone: enough for a short
  // source on the stack. A long one is given room by its number of `[`
  // instead (a class needs one), so that one without brackets takes none.
  std::size_t classes = n / 3, pool_room = 3 * n;
  if (mask_bytes + 2 * group_bytes + byte_bytes + align8(classes * 4) + align8(pool_room) > kStack) {
    std::size_t brackets = 0;
    for (const char *at = source.data(), *end = at + n; at != end; ++at, ++brackets) {
      at = static_cast<const char*>(std::memchr(at, '[', static_cast<std::size_t>(end - at)));
      if (at == nullptr) break;
    }
    classes = std::min(classes, brackets);
    pool_room = std::min(pool_room, 33 * brackets);
  }
  const std::size_t cls_bytes = align8(classes * 4);
  const std::size_t pool_bytes = align8(pool_room);
  const std::size_t total = mask_bytes + 2 * group_bytes + cls_bytes + byte_bytes + pool_bytes;
  unsigned char* b = stack_;
  if (total > kStack) {
    heap_.reset(new std::uint64_t[total / 8]);
    b = reinterpret_cast<unsigned char*>(heap_.get());
  }
  std::memset(b, 0, mask_bytes);
  auto* masks = reinterpret_cast<std::uint64_t*>(b);
  scan.all = masks;
  scan.lit = masks + words;
  scan.cls = masks + 2 * words;
  scan.star = masks + 3 * words;
  b += mask_bytes;
  scan.entry = reinterpret_cast<std::uint64_t*>(b);
  scan.ends = reinterpret_cast<std::uint64_t*>(b + group_bytes);
  b += 2 * group_bytes;
  scan.cls_off = reinterpret_cast<std::uint32_t*>(b);
  scan.bytes = b + cls_bytes;
  scan.pool = b + cls_bytes + byte_bytes;
}

namespace {

// The one pass over a source of `ngroups` groups, its pieces read by
// `read(scanner)`, and the header completed from the counts.
template <class Read>
const Scan& scan_with(std::string_view source, std::size_t ngroups, ScanScratch& scratch, Read&& read) {
  Scan& s = scratch.scan;
  s.h = ProgramHeader{};
  s.h.early_bit = kNoBit;
  Scanner sc{s, source};
  if (ngroups != 0) {
    std::memset(s.entry, 0, (s.ends - s.entry) * 2 * sizeof(std::uint64_t));  // both group mask arrays
  }
  read(sc);
  ProgramHeader& h = s.h;
  if (sc.straddle) {
    // Nothing is compiled: alternatives are compiled one by one when matched.
    h = ProgramHeader{};
    h.per_alternative = true;
    return s;
  }
  h.nbits = static_cast<std::uint32_t>(sc.bit);
  h.words = static_cast<std::uint32_t>((sc.bit + 63) / 64);
  h.nclass = static_cast<std::uint32_t>(sc.nclass);
  h.ngroups = static_cast<std::uint32_t>(ngroups);
  h.pool_bytes = static_cast<std::uint32_t>(sc.pool);
  h.group_words = static_cast<std::uint32_t>(sc.group_words);
  h.head_len = static_cast<std::uint32_t>(sc.lead_lits);
  h.literal = sc.only_lits && h.ngroups == 0;
  h.tail_len = h.literal ? 0 : static_cast<std::uint32_t>(sc.trail_lits);
  h.start_bit = h.head_len;
  h.tail_bit = h.final_bit - h.tail_len;
  h.middle_star = h.ngroups == 0 && sc.stars == 1 && sc.tokens == h.head_len + h.tail_len + 1;
  if (h.tail_len != 0) h.early_bit = kNoBit;
  return s;
}

}  // namespace

const Scan& scan_program(std::string_view source, const Pieces& pieces, ScanScratch& scratch) {
  const std::size_t ngroups = pieces.shape.literal ? 0 : pieces.shape.ngroups;
  return scan_with(source, ngroups, scratch, [&](Scanner& sc) { walk(source, pieces, sc); });
}

const Scan& scan_program(std::string_view alt, ScanScratch& scratch) {
  return scan_with(alt, 0, scratch, [&](Scanner& sc) { sc.piece(alt, 0, false, true, alt.size()); });
}

std::size_t program_size(const Scan& scan) { return Layout(scan.h).total; }

void emit_program(const Scan& s, void* out) {
  const ProgramHeader& h = s.h;
  const Layout l(h);
  auto* b = static_cast<unsigned char*>(out);
  // Few calls: most programs are short, and each call to memcpy or memset
  // costs more than the bytes it moves.
  std::memcpy(b, &h, sizeof h);
  std::memset(b + sizeof h, 0, l.joins - sizeof h);  // the header's padding
  reinterpret_cast<ProgramHeader*>(b)->bytes_off = static_cast<std::uint32_t>(l.bytes);
  if (h.per_alternative) return;
  if (h.ngroups != 0) std::memcpy(b + l.joins, s.joins, h.ngroups * sizeof(GroupJoin));
  const std::size_t w8 = std::size_t{h.words} * 8;
  if (s.lit == s.all + h.words) {
    std::memcpy(b + l.all, s.all, 4 * w8);  // the scratch masks are laid out as the block's
  } else {
    std::memcpy(b + l.all, s.all, w8);
    std::memcpy(b + l.lit, s.lit, w8);
    std::memcpy(b + l.cls, s.cls, w8);
    std::memcpy(b + l.star, s.star, w8);
  }
  // Group masks, entry words then end words for each group (a word or two
  // each, mostly): copied by a loop.
  auto* gmask = reinterpret_cast<std::uint64_t*>(b + l.gmask);
  for (std::uint32_t g = 0; g < h.ngroups; ++g) {
    const GroupJoin& j = s.joins[g];
    const std::size_t from = j.mask / 2;  // the group's first word in the scan's mask arrays
    for (std::uint32_t k = 0; k < j.nw; ++k) {
      gmask[j.mask + k] = s.entry[from + k];
      gmask[j.mask + j.nw + k] = s.ends[from + k];
    }
  }
  auto* cls_base = reinterpret_cast<std::uint32_t*>(b + l.cls_base);
  std::uint32_t rank = 0;
  for (std::uint32_t i = 0; i < h.words; ++i) {
    cls_base[i] = rank;
    if (h.nclass != 0) rank += static_cast<std::uint32_t>(__builtin_popcountll(s.cls[i]));
  }
  if (h.nclass != 0) std::memcpy(b + l.cls_off, s.cls_off, std::size_t{h.nclass} * 4);
  std::memcpy(b + l.bytes, s.bytes, h.nbits);
  std::memset(b + l.bytes + h.nbits, 0, std::size_t{h.words} * 64 - h.nbits);
  if (h.pool_bytes != 0) std::memcpy(b + l.pool, s.pool, h.pool_bytes);
  for (std::size_t i = l.pool + h.pool_bytes; i < l.total; ++i) b[i] = 0;  // under 8 bytes of padding
}

}  // namespace quorvel::core::glob
