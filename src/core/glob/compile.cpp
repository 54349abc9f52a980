#include "core/glob/compile.hpp"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory_resource>
#include <string>
#include <vector>

#include "core/glob/brace.hpp"
#include "core/glob/token.hpp"

namespace quorvel::core::glob {

namespace {

constexpr std::size_t align8(std::size_t n) { return (n + 7) & ~std::size_t{7}; }

// The scan's mode at a place (see compile.hpp); Fork is a `[` about to fork.
enum class Mode : std::uint8_t { Normal, NoClose, InClass, Fork };

// The scan's state at a place.
struct State {
  Mode mode = Mode::Normal;
  std::uint8_t phase = 0;  // NoClose: 0 right after the `[`, 1 its first element, 2 later
  ClassReader cls{};       // InClass: the class read so far
  bool operator==(const State& o) const {
    return mode == o.mode && phase == o.phase && (mode != Mode::InClass || cls == o.cls);
  }
};

// One token of a run; `set` indexes the class sets.
struct Tok {
  TokKind kind;
  std::uint8_t byte;
  std::uint32_t set;
};

constexpr std::uint32_t kAccept = 0xFFFFFFFEu;  // a run that ends the pattern
constexpr std::uint32_t kDead = 0xFFFFFFFDu;    // a path that dies

// A run of tokens from one junction to another (or to the end).
struct Run {
  std::uint32_t from, to;     // junctions (`to` may be kAccept)
  std::uint32_t first, count; // its tokens
  std::uint32_t start = 0;    // its first position, once laid out
};

// A piece of the source, and where its end leads.
struct Piece {
  std::string_view text;
  std::uint32_t feeds = 1;     // for a place before it: the pieces it enters (a group's choices)
  std::uint32_t next = kAccept;  // the place after it: the piece of that place, or kAccept
  bool later_close = false;    // some later piece holds a `]`
};

// A junction: a place (before piece `piece` when offset is -1, else inside
// it) and the scan's state there.
struct Node {
  std::uint32_t piece;
  std::int64_t offset;
  State state;
  bool done = false;
};

// Writes the record of class `set` at the end of `pool`: its runs of
// consecutive members as ranges, or its map when they are more than kMaxRanges.
void write_record(const ByteSet& set, std::pmr::vector<std::uint8_t>& pool) {
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
  const std::size_t at = pool.size();
  if (r > kMaxRanges) {
    pool.resize(at + 33);
    pool[at] = kClassMap;
    std::memcpy(pool.data() + at + 1, set.bits.data(), 32);
    return;
  }
  pool.resize(at + 1 + 2 * r);
  std::uint8_t* rec = pool.data() + at;
  rec[0] = static_cast<std::uint8_t>(r);
  std::size_t k = 1, e = 2;
  for (unsigned w = 0; w < 4; ++w) {
    for (std::uint64_t m = starts[w]; m; m &= m - 1, k += 2) rec[k] = static_cast<std::uint8_t>(64 * w + __builtin_ctzll(m));
    for (std::uint64_t m = ends[w]; m; m &= m - 1, e += 2) rec[e] = static_cast<std::uint8_t>(64 * w + __builtin_ctzll(m));
  }
}

void set_bit(std::pmr::vector<std::uint64_t>& w, std::size_t b) { w[b / 64] |= std::uint64_t{1} << (b % 64); }

}  // namespace

void program_layout(const ProgramHeader& h, std::size_t (&off)[kLayoutTotal + 1]) {
  const std::size_t w8 = std::size_t{h.words} * 8;
  std::size_t o = align8(sizeof(ProgramHeader));
  off[0] = 0;
  for (int k = 1; k <= 7; ++k, o += w8) off[k] = o;  // the seven masks
  off[8] = o;
  o += 4 * std::size_t{h.words};
  off[9] = o;
  o += 4 * std::size_t{h.words};
  off[10] = o;
  o += 4 * std::size_t{h.nends};
  off[11] = o;
  o = align8(o + 4 * std::size_t{h.nclass});
  off[12] = o;
  o = align8(o + sizeof(Junction) * h.njunctions);
  off[13] = o;
  o += 8 * std::size_t{h.out_words};
  off[14] = o;
  o += 64 * std::size_t{h.words};
  off[15] = o;
  off[16] = align8(o + h.pool_bytes);
}

Program view_program(const void* base) {
  Program p;
  p.h = static_cast<const ProgramHeader*>(base);
  std::size_t off[kLayoutTotal + 1];
  program_layout(*p.h, off);
  const auto* b = static_cast<const unsigned char*>(base);
  const auto words = [&](int k) { return reinterpret_cast<const std::uint64_t*>(b + off[k]); };
  const auto u32 = [&](int k) { return reinterpret_cast<const std::uint32_t*>(b + off[k]); };
  p.any = words(1);
  p.lit = words(2);
  p.cls = words(3);
  p.star = words(4);
  p.end = words(5);
  p.accept = words(6);
  p.early = words(7);
  p.end_base = u32(8);
  p.cls_base = u32(9);
  p.end_to = u32(10);
  p.cls_off = u32(11);
  p.junctions = reinterpret_cast<const Junction*>(b + off[12]);
  p.outs = words(13);
  p.bytes = b + off[14];
  p.pool = b + off[15];
  return p;
}

struct Compiled::Impl {
  // Everything below lives in this arena while it lasts (a short pattern
  // compiles without touching the heap but for the Impl itself).
  alignas(16) std::byte arena[4096];
  std::pmr::monotonic_buffer_resource res{arena, sizeof arena};
  template <class T>
  using Vec = std::pmr::vector<T>;

  std::pmr::string flat{&res};   // fixed texts joined from several spans
  Vec<Piece> pieces{&res};
  Vec<Node> nodes{&res};
  Vec<Tok> toks{&res};
  Vec<ByteSet> sets{&res};
  Vec<Run> runs{&res};
  std::size_t region = 0;        // nodes before this one belong to places already done

  Shape shape = Shape::General;
  std::uint32_t head = 0, tail = 0;
  std::pmr::string literal{&res};  // head then tail bytes
  ProgramHeader h{};
  Vec<std::uint64_t> any{&res}, lit{&res}, cls{&res}, star{&res}, end{&res}, accept{&res}, early{&res};
  Vec<std::uint32_t> end_base{&res}, cls_base{&res}, end_to{&res}, cls_off{&res};
  Vec<Junction> junctions{&res};
  Vec<std::uint64_t> outs{&res};
  Vec<std::uint8_t> bytes{&res}, pool{&res};
  // The seven masks, in the order of the layout.
  Vec<std::uint64_t>* masks[7] = {&any, &lit, &cls, &star, &end, &accept, &early};

  explicit Impl(std::string_view source);
  void cut(std::string_view source);
  std::uint32_t node(std::uint32_t piece, std::int64_t offset, const State& st);
  std::uint32_t after(std::uint32_t piece, const State& st);
  void scan(std::uint32_t from, std::uint32_t piece, std::size_t i, State st);
  void push(TokKind kind, std::uint8_t byte, const ByteSet* set = nullptr);
  void lay_out();
};

void Compiled::Impl::cut(std::string_view source) {
  const BraceShape shape = brace_shape(source);
  const std::size_t k = shape.literal ? 0 : shape.ngroups;
  flat.reserve(source.size());  // views into it stay valid
  for (std::size_t g = 0; g <= k; ++g) {
    std::string_view fixed;
    std::size_t spans = 0;
    const std::size_t from = flat.size();
    for_each_fixed_span(source, shape, g, [&](std::string_view span) {
      if (span.empty()) return;
      if (++spans == 1) {
        fixed = span;
        return;
      }
      if (spans == 2) flat += fixed;
      flat += span;
    });
    if (spans > 1) fixed = std::string_view(flat).substr(from);
    const auto at = static_cast<std::uint32_t>(pieces.size());
    if (g > 0) {
      for (std::size_t c = at - shape.choices[g - 1]; c < at; ++c) pieces[c].next = at;
    }
    pieces.push_back(Piece{fixed});
    if (g == k) break;
    pieces.back().next = at + 1;
    for_each_choice(source, shape.groups[g], [&](std::string_view c) { pieces.push_back(Piece{c}); });
    pieces[at + 1].feeds = static_cast<std::uint32_t>(shape.choices[g]);
  }
  bool close = false;
  for (std::size_t p = pieces.size(); p-- > 0;) {
    pieces[p].later_close = close;
    close = close || pieces[p].text.find(']') != std::string_view::npos;
  }
}

std::uint32_t Compiled::Impl::node(std::uint32_t piece, std::int64_t offset, const State& st) {
  for (std::size_t j = region; j < nodes.size(); ++j) {
    if (nodes[j].piece == piece && nodes[j].offset == offset && nodes[j].state == st) return static_cast<std::uint32_t>(j);
  }
  nodes.push_back(Node{piece, offset, st});
  return static_cast<std::uint32_t>(nodes.size() - 1);
}

std::uint32_t Compiled::Impl::after(std::uint32_t piece, const State& st) {
  const std::uint32_t next = pieces[piece].next;
  if (next == kAccept) return st.mode == Mode::InClass ? kDead : kAccept;
  return node(next, -1, st);
}

void Compiled::Impl::push(TokKind kind, std::uint8_t byte, const ByteSet* set) {
  if (kind == TokKind::Class) {
    const unsigned size = set->size();
    if (size == 256) {
      kind = TokKind::Any;
    } else if (size == 1) {
      kind = TokKind::Lit;
      for (unsigned w = 0; w < 4; ++w) {
        if (set->bits[w]) byte = static_cast<std::uint8_t>(64 * w + __builtin_ctzll(set->bits[w]));
      }
    } else {
      sets.push_back(*set);
    }
  }
  toks.push_back(Tok{kind, byte, kind == TokKind::Class ? static_cast<std::uint32_t>(sets.size() - 1) : 0});
}

// Scans piece `piece` from offset `i` in state `st`, the run leaving junction `from`.
void Compiled::Impl::scan(std::uint32_t from, std::uint32_t piece, std::size_t i, State st) {
  const std::string_view s = pieces[piece].text;
  const std::size_t n = s.size();
  Run r{from, kDead, static_cast<std::uint32_t>(toks.size()), 0};
  const auto finish = [&](std::uint32_t to) {
    if (to == kDead) {
      toks.resize(r.first);
      return;
    }
    r.to = to;
    r.count = static_cast<std::uint32_t>(toks.size() - r.first);
    runs.push_back(r);
  };
  if (st.mode == Mode::Fork) {
    // The class path reads on to the end of the piece (it did not close in it)...
    State c{Mode::InClass};
    std::size_t k = i + 1;
    c.cls.read(s, k);
    finish(after(piece, c));
    // ...and the literal path goes on after a literal `[`.
    r = Run{from, kDead, static_cast<std::uint32_t>(toks.size()), 0};
    push(TokKind::Lit, '[');
    st = State{Mode::NoClose};
    ++i;
  } else if (st.mode == Mode::InClass) {
    if (st.cls.read(s, i)) {
      const ByteSet set = st.cls.accepted();
      push(TokKind::Class, 0, &set);
      finish(node(piece, static_cast<std::int64_t>(i), State{}));
    } else {
      finish(after(piece, st));
    }
    return;
  }
  while (i < n) {
    const auto b = static_cast<std::uint8_t>(s[i]);
    if (st.mode == Mode::NoClose && st.phase < 2) {
      // Right after a literal `[`: a `!`, then one element that could not close it.
      if (st.phase == 0 && b == '!') {
        push(TokKind::Lit, b);
        ++i;
        st.phase = 1;
        continue;
      }
      st.phase = 2;
      if (b == ']' || b == '[') {
        push(TokKind::Lit, b);
        ++i;
        continue;
      }
    } else if (b == ']' && st.mode == Mode::NoClose) {
      return finish(kDead);  // it would have closed that `[`
    }
    ++i;
    switch (b) {
      case '*':
        if (toks.size() == r.first || toks.back().kind != TokKind::Star) push(TokKind::Star, b);  // `**` is `*`
        break;
      case '?':
        push(TokKind::Any, b);
        break;
      case '\\':
        push(TokKind::Lit, i < n ? static_cast<std::uint8_t>(s[i++]) : b);  // a trailing one is itself
        break;
      case '[': {
        if (st.mode == Mode::NoClose) {
          push(TokKind::Lit, b);
          break;
        }
        ClassReader c;
        std::size_t k = i;
        if (c.read(s, k)) {
          const ByteSet set = c.accepted();
          push(TokKind::Class, 0, &set);
          i = k;
        } else if (pieces[piece].next == kAccept || !pieces[piece].later_close) {
          push(TokKind::Lit, b);  // nothing after it can close it
          st = State{Mode::NoClose};
        } else {
          return finish(node(piece, static_cast<std::int64_t>(i - 1), State{Mode::Fork}));
        }
        break;
      }
      default:
        push(TokKind::Lit, b);
    }
  }
  finish(after(piece, st));
}

Compiled::Impl::Impl(std::string_view source) {
  toks.reserve(source.size() + 2);
  pieces.reserve(4);
  nodes.reserve(4);
  runs.reserve(4);
  cut(source);
  nodes.push_back(Node{0, -1, State{}});
  // Places in source order: the place before a piece (or a group's choices),
  // then the junctions inside those pieces by offset.
  std::size_t first = 0;  // nodes before it are at places already done
  for (std::uint32_t p = 0; p < pieces.size(); p += pieces[p].feeds) {
    region = first;
    const std::size_t made = nodes.size();
    // The junctions at the place before p were all made by earlier pieces.
    for (std::size_t j = first; j < made; ++j) {
      if (nodes[j].piece != p || nodes[j].offset != -1) continue;
      nodes[j].done = true;
      for (std::uint32_t q = p; q < p + pieces[p].feeds; ++q) scan(static_cast<std::uint32_t>(j), q, 0, nodes[j].state);
    }
    // Then the junctions inside these pieces, in source order.
    for (;;) {
      std::size_t best = nodes.size();
      for (std::size_t j = made; j < nodes.size(); ++j) {
        const Node& n = nodes[j];
        if (n.done || n.offset < 0) continue;
        if (best == nodes.size() || n.piece < nodes[best].piece ||
            (n.piece == nodes[best].piece && n.offset < nodes[best].offset)) {
          best = j;
        }
      }
      if (best == nodes.size()) break;
      nodes[best].done = true;
      const Node n = nodes[best];
      scan(static_cast<std::uint32_t>(best), n.piece, static_cast<std::size_t>(n.offset), n.state);
    }
    first = made;
  }
  lay_out();
}

void Compiled::Impl::lay_out() {
  // Junctions in source order; runs grouped by the junction they leave.
  Vec<std::uint32_t> order(nodes.size(), &res), rank(nodes.size(), &res);
  for (std::uint32_t j = 0; j < order.size(); ++j) order[j] = j;
  std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
    const Node &x = nodes[a], &y = nodes[b];
    return x.piece != y.piece ? x.piece < y.piece : x.offset != y.offset ? x.offset < y.offset : a < b;
  });
  for (std::uint32_t k = 0; k < order.size(); ++k) rank[order[k]] = k;
  std::sort(runs.begin(), runs.end(), [&](const Run& a, const Run& b) {
    return rank[a.from] != rank[b.from] ? rank[a.from] < rank[b.from] : a.first < b.first;
  });
  std::size_t nbits = 0, accepting = 0;
  const Run* accept_run = nullptr;
  for (Run& r : runs) {
    r.start = static_cast<std::uint32_t>(nbits);
    nbits += r.count + 1;
    if (r.to == kAccept) {
      ++accepting;
      accept_run = &r;
    }
  }
  const Run& r0 = runs.front();  // the one run from the start
  const auto kind = [&](const Run& r, std::uint32_t k) { return toks[r.first + k].kind; };
  while (head < r0.count && kind(r0, head) == TokKind::Lit) ++head;
  if (accepting == 1) {
    const std::uint32_t floor = accept_run == &r0 ? head : 0;
    while (tail < accept_run->count - floor && kind(*accept_run, accept_run->count - 1 - tail) == TokKind::Lit) ++tail;
  }
  if (runs.size() == 1 && accepting == 1) {
    if (head == r0.count) shape = Shape::Literal;
    if (head + 1 + tail == r0.count && kind(r0, head) == TokKind::Star) shape = Shape::HeadTail;
  }
  for (std::uint32_t k = 0; k < head; ++k) literal += static_cast<char>(toks[r0.first + k].byte);
  if (shape != Shape::Literal) {
    for (std::uint32_t k = accept_run ? accept_run->count - tail : 0; k < (accept_run ? accept_run->count : 0); ++k) {
      literal += static_cast<char>(toks[accept_run->first + k].byte);
    }
  }
  if (shape != Shape::General) return;

  const std::size_t words = (nbits + 63) / 64;
  for (auto* m : masks) m->assign(words, 0);
  bytes.assign(words * 64, 0);
  end_base.assign(words, 0);
  cls_base.assign(words, 0);
  for (const Run& r : runs) {
    for (std::uint32_t k = 0; k < r.count; ++k) {
      const Tok& t = toks[r.first + k];
      const std::size_t p = r.start + k;
      switch (t.kind) {
        case TokKind::Star:
          set_bit(star, p);
          set_bit(any, p);
          break;
        case TokKind::Any:
          set_bit(any, p);
          break;
        case TokKind::Lit:
          set_bit(lit, p);
          bytes[p] = t.byte;
          break;
        case TokKind::Class:
          set_bit(cls, p);
          cls_off.push_back(static_cast<std::uint32_t>(pool.size()));
          write_record(sets[t.set], pool);
          break;
      }
    }
    const std::size_t e = r.start + r.count;
    if (r.to == kAccept) {
      set_bit(accept, e - (accepting == 1 ? tail : 0));
    } else {
      set_bit(end, e);
      end_to.push_back(rank[r.to]);
    }
  }
  for (std::size_t w = 1; w < words; ++w) {
    end_base[w] = end_base[w - 1] + static_cast<std::uint32_t>(__builtin_popcountll(end[w - 1]));
    cls_base[w] = cls_base[w - 1] + static_cast<std::uint32_t>(__builtin_popcountll(cls[w - 1]));
  }
  // Out-masks: the starts of the runs that leave each junction (and the
  // position after a leading star), over the words they span.
  std::size_t k = 0;
  for (std::uint32_t j = 0; j < order.size(); ++j) {
    Junction jn{0, 0, static_cast<std::uint32_t>(outs.size())};
    const std::size_t begin = k;
    while (k < runs.size() && rank[runs[k].from] == j) ++k;
    if (k != begin) {
      jn.lo = runs[begin].start / 64;
      jn.nw = (runs[k - 1].start + 1) / 64 - jn.lo + 1;
      outs.resize(outs.size() + jn.nw, 0);
      for (std::size_t q = begin; q < k; ++q) {
        const std::size_t at = runs[q].start - std::size_t{jn.lo} * 64;
        outs[jn.off + at / 64] |= std::uint64_t{1} << (at % 64);
        if (runs[q].count != 0 && kind(runs[q], 0) == TokKind::Star) {
          outs[jn.off + (at + 1) / 64] |= std::uint64_t{1} << ((at + 1) % 64);
        }
      }
    }
    junctions.push_back(jn);
  }
  // The literal every match holds after the head: the longest run of
  // literals in the first run that neither the head nor the tail holds.
  const std::uint32_t stop = accept_run == &r0 ? r0.count - tail : r0.count;
  for (std::uint32_t a = head; a < stop;) {
    std::uint32_t b = a;
    while (b < stop && kind(r0, b) == TokKind::Lit) ++b;
    if (b - a > h.need_len) {
      h.need_off = r0.start + a;
      h.need_len = b - a;
    }
    a = b + 1;
  }
  // The stars that settle the answer once live. When every accepting run
  // ends in the same star-free tokens after its last star, every match ends
  // in them: a live last star leaves only the last bytes to check against
  // them (the early stars). Else only the runs that end in a star count.
  const auto same = [&](const Tok& a, const Tok& b) {
    return a.kind == b.kind && a.byte == b.byte && (a.kind != TokKind::Class || sets[a.set] == sets[b.set]);
  };
  const auto after_last_star = [&](const Run& r) {
    std::uint32_t k = 0;
    while (k < r.count && kind(r, r.count - 1 - k) != TokKind::Star) ++k;
    return k < r.count ? k : kNoBit;
  };
  const std::uint32_t fixed = accept_run ? after_last_star(*accept_run) : kNoBit;
  bool uniform = fixed != kNoBit;
  for (const Run& r : runs) {
    if (!uniform || r.to != kAccept) continue;
    uniform = after_last_star(r) == fixed;
    for (std::uint32_t k = 1; uniform && k <= fixed; ++k) {
      uniform = same(toks[r.first + r.count - k], toks[accept_run->first + accept_run->count - k]);
    }
  }
  h.fixed_len = uniform ? fixed - (accepting == 1 ? tail : 0) : 0;
  for (const Run& r : runs) {
    if (r.to == kAccept && (uniform || after_last_star(r) == 0) && after_last_star(r) != kNoBit) {
      set_bit(early, r.start + r.count - 1 - after_last_star(r));
      if (h.fixed_bit == 0) h.fixed_bit = r.start + r.count - after_last_star(r);
    }
  }
  h.nbits = static_cast<std::uint32_t>(nbits);
  h.words = static_cast<std::uint32_t>(words);
  h.njunctions = static_cast<std::uint32_t>(junctions.size());
  h.nends = static_cast<std::uint32_t>(end_to.size());
  h.nclass = static_cast<std::uint32_t>(cls_off.size());
  h.out_words = static_cast<std::uint32_t>(outs.size());
  h.pool_bytes = static_cast<std::uint32_t>(pool.size());
  h.start_bit = head;
  for (std::uint64_t w : early) h.has_early |= w != 0;
}

Compiled::Compiled(std::string_view source) {
  static_assert(sizeof(Impl) <= sizeof storage_ && alignof(Impl) <= 16);
  impl_ = new (storage_) Impl(source);
}
Compiled::~Compiled() { impl_->~Impl(); }
Shape Compiled::shape() const { return impl_->shape; }
std::uint32_t Compiled::head_len() const { return impl_->head; }
std::uint32_t Compiled::tail_len() const { return impl_->tail; }
std::string_view Compiled::literal() const { return impl_->literal; }

std::size_t Compiled::program_size() const {
  if (impl_->shape != Shape::General) return 0;
  std::size_t off[kLayoutTotal + 1];
  program_layout(impl_->h, off);
  return off[kLayoutTotal];
}

void Compiled::emit_program(void* out) const {
  const Impl& m = *impl_;
  std::size_t off[kLayoutTotal + 1];
  program_layout(m.h, off);
  auto* b = static_cast<unsigned char*>(out);
  std::memset(b, 0, off[kLayoutTotal]);
  std::memcpy(b, &m.h, sizeof m.h);
  const auto put = [&](int k, const auto& v) {
    if (!v.empty()) std::memcpy(b + off[k], v.data(), v.size() * sizeof(v[0]));
  };
  for (int k = 0; k < 7; ++k) put(k + 1, *m.masks[k]);
  put(8, m.end_base);
  put(9, m.cls_base);
  put(10, m.end_to);
  put(11, m.cls_off);
  put(12, m.junctions);
  put(13, m.outs);
  put(14, m.bytes);
  put(15, m.pool);
}

}  // namespace quorvel::core::glob
