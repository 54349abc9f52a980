// The automaton of a braced pattern (match.hpp states the algorithm and its
// bound): built from the brace pieces without multiplying them out, then
// simulated a word of positions at a time.
#include <bit>
#include <cassert>
#include <cstring>
#include <map>
#include <string>
#include <tuple>

#include "core/glob/brace.hpp"
#include "core/glob/engine.hpp"
#include "core/glob/match.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quorvel::core::glob {

namespace {

// A position: ready for one token. An End position accepts no byte; when it
// is reached, its junction makes the runs that leave the junction ready.
enum class PosKind : std::uint8_t { Lit, Any, Class, Star, End };

inline constexpr std::uint32_t kDead = 0xFFFFFFFFu;     // an End that leads nowhere
inline constexpr std::uint32_t kToJunction = 1u << 31;  // a successor that is a junction itself
inline constexpr std::uint32_t kAccepting = 1u << 31;   // in a junction's first-successor index

// How the tokenizer reads at a place: tokens; tokens after a `[` that did
// not close (so no later `]` may close, and every `[` is a literal), with the
// class reader's phase; or the fork made at a `[` that may close later.
enum class Mode : std::uint8_t { Normal, NoClose, Bracket };

struct Pos {
  PosKind kind;
  std::uint8_t byte;
  std::uint32_t aux;  // Class: its set; End: its junction or kDead
};

struct Junction {
  std::vector<std::uint32_t> succ;  // run starts, or kToJunction | junction
  bool accepting = false;
};

// A class still open at a piece boundary: the fork it started at and its
// reader. Readings that share both merge (see add_open).
struct OpenClass {
  std::uint32_t start;
  ClassReader reader;
};

// The fixed head of the program.
struct ProgHead {
  std::uint32_t npos, words, njunctions, nsucc, nend, ncls, start, pool;
};

// The one description of the program's layout, from its head.
struct Layout {
  std::size_t any, star, end, cls, end_base, cls_base, end_to, cls_off, first, succ, bytes, pool, total;
  explicit Layout(const ProgHead& h) {
    std::size_t at = sizeof(ProgHead);
    const auto take = [&](std::size_t n) {
      const std::size_t here = at;
      at += n;
      return here;
    };
    any = take(8 * h.words);
    star = take(8 * h.words);
    end = take(8 * h.words);
    cls = take(8 * h.words);
    end_base = take(4 * h.words);
    cls_base = take(4 * h.words);
    end_to = take(4 * h.nend);
    cls_off = take(4 * h.ncls);
    first = take(4 * (h.njunctions + 1));
    succ = take(4 * h.nsucc);
    bytes = take(64 * h.words);
    pool = take(h.pool);
    total = (at + 7) & ~std::size_t{7};
  }
};

}  // namespace

struct AutomatonBuild {
  std::vector<Pos> pos;
  std::vector<Junction> junctions;
  std::vector<ByteSet> sets;
  std::uint32_t start = 0;

  // Layers of pieces: fixed texts (one choice) and groups, empty fixed texts left out.
  std::vector<std::vector<std::string>> layers;
  std::vector<std::vector<std::uint32_t>> base;  // the place number of each choice's first byte
  std::vector<bool> close_from;                  // a `]` lies in this layer or a later one

  std::map<std::tuple<std::uint32_t, Mode, std::uint8_t>, std::uint32_t> junction_at;
  std::map<std::pair<std::uint32_t, std::uint32_t>, std::uint32_t> class_at;  // (fork, resume place) -> position
  std::vector<OpenClass> open_now, open_next;

  struct Task {
    std::uint32_t layer, choice, at, from;
    Mode mode;
    std::uint8_t phase;
    bool bracket;  // the run starts with the literal `[` of a fork
  };
  std::vector<Task> tasks;

  std::uint32_t boundary_place(std::size_t b) const { return kToJunction | static_cast<std::uint32_t>(b); }

  // The junction at (place, mode, phase), made when new; `made` tells which.
  std::uint32_t junction(std::uint32_t place, Mode mode, std::uint8_t phase, bool* made = nullptr) {
    const auto [it, fresh] = junction_at.try_emplace({place, mode, phase}, static_cast<std::uint32_t>(junctions.size()));
    if (fresh) junctions.emplace_back();
    if (made) *made = fresh;
    return it->second;
  }
  // The junction at boundary `b` for a reading that arrives in `mode`: past
  // the last `]`, a NoClose reading is a Normal one.
  std::uint32_t at_boundary(std::size_t b, Mode mode, std::uint8_t phase) {
    if (mode == Mode::NoClose && !close_from[b]) mode = Mode::Normal, phase = 0;
    const std::uint32_t j = junction(boundary_place(b), mode, phase);
    if (b == layers.size()) junctions[j].accepting = true;
    return j;
  }
  void push(PosKind k, std::uint8_t byte = 0, std::uint32_t aux = 0) {
    if (k == PosKind::Star && !pos.empty() && pos.back().kind == PosKind::Star) return;
    pos.push_back({k, byte, aux});
  }
  // Junction `from` leads straight to junction `to` (an empty choice).
  void link(std::uint32_t from, std::uint32_t to) { junctions[from].succ.push_back(kToJunction | to); }
  void begin_run(std::uint32_t from) { junctions[from].succ.push_back(static_cast<std::uint32_t>(pos.size())); }
  void end_run(std::uint32_t to) { push(PosKind::End, 0, to); }

  // A class open at the end of a piece: merged with an equal reading.
  // Members only accumulate, and the same rest adds the same members Q to
  // both, so for the union of what two readings A and B accept:
  // (A | Q) + (B | Q) = (A + B) | Q, and for negated ones
  // ~(A | Q) + ~(B | Q) = ~((A & B) | Q).
  void add_open(const OpenClass& o) {
    for (auto& e : open_next) {
      if (e.start == o.start && e.reader.same_control(o.reader)) {
        if (o.reader.negated) {
          e.reader.set &= o.reader.set;
        } else {
          e.reader.set |= o.reader.set;
        }
        return;
      }
    }
    open_next.push_back(o);
  }

  // A class of fork `start` that closed with `accepted`, the reading going
  // on at byte `at` of choice `c` of layer `l`. Closings of one fork that
  // go on at the same place are one position holding the union.
  void close_class(std::uint32_t start, const ByteSet& accepted, std::uint32_t l, std::uint32_t c, std::uint32_t at) {
    const std::uint32_t place = base[l][c] + at;
    const auto [it, fresh] = class_at.try_emplace({start, place}, 0u);
    if (!fresh) {
      sets[pos[it->second].aux] |= accepted;
      return;
    }
    bool made = false;
    const std::uint32_t next = junction(place, Mode::Normal, 0, &made);
    if (made) tasks.push_back({l, c, at, next, Mode::Normal, 0, false});
    begin_run(start);
    it->second = static_cast<std::uint32_t>(pos.size());
    push(PosKind::Class, 0, static_cast<std::uint32_t>(sets.size()));
    sets.push_back(accepted);
    end_run(next);
  }

  // Reads choice `c` of layer `l` from byte `at` in Normal mode, in one run.
  void run_normal(const Task& t) {
    const std::string& s = layers[t.layer][t.choice];
    begin_run(t.from);
    bool closes = true;  // a `[` may still close inside this choice
    for (std::size_t i = t.at; i < s.size();) {
      QUORVEL_GLOB_COUNT(compile_steps, 1);
      const auto b = static_cast<std::uint8_t>(s[i]);
      if (b == '*') {
        push(PosKind::Star);
      } else if (b == '?') {
        push(PosKind::Any);
      } else if (b == '\\') {
        push(PosKind::Lit, static_cast<std::uint8_t>(i + 1 < s.size() ? s[i + 1] : '\\'));
        i += i + 1 < s.size() ? 2 : 1;
        continue;
      } else if (b == '[' && closes) {
        ClassReader r;
        std::size_t j = i + 1;
        if (r.read(s, j)) {
          push(PosKind::Class, 0, static_cast<std::uint32_t>(sets.size()));
          sets.push_back(r.accepted());
          i = j;
          continue;
        }
        closes = false;
        if (close_from[t.layer + 1]) {
          // It closes in some alternatives and not in others: fork into the
          // literal reading and the open class.
          bool made = false;
          const std::uint32_t fork = junction(base[t.layer][t.choice] + static_cast<std::uint32_t>(i), Mode::Bracket, 0, &made);
          end_run(fork);
          if (made) {
            tasks.push_back({t.layer, t.choice, static_cast<std::uint32_t>(i + 1), fork, Mode::NoClose, 0, true});
            add_open({fork, r});
          }
          return;
        }
        push(PosKind::Lit, '[');  // no `]` is left anywhere: it never closes
      } else {
        push(PosKind::Lit, b);
      }
      ++i;
    }
    end_run(at_boundary(t.layer + 1, Mode::Normal, 0));
  }

  // Reads choice `c` of layer `l` from byte `at` after a `[` that did not
  // close: dropped where a `]` would have closed it.
  void run_no_close(const Task& t) {
    const std::string& s = layers[t.layer][t.choice];
    std::uint8_t phase = t.phase;
    for (std::size_t i = t.at; i < s.size();) {  // first: does it die here?
      QUORVEL_GLOB_COUNT(compile_steps, 1);
      const char b = s[i];
      if (phase == 2 && b == ']') return;
      i += b == '\\' ? 2 : 1;
      phase = phase == 0 && b == '!' ? 1 : 2;
    }
    phase = t.phase;
    if (s.size() == t.at && !t.bracket) {
      link(t.from, at_boundary(t.layer + 1, Mode::NoClose, phase));
      return;
    }
    begin_run(t.from);
    if (t.bracket) push(PosKind::Lit, '[');
    for (std::size_t i = t.at; i < s.size();) {
      const auto b = static_cast<std::uint8_t>(s[i]);
      const std::uint8_t next = phase == 0 && b == '!' ? 1 : 2;
      if (b == '\\') {
        push(PosKind::Lit, static_cast<std::uint8_t>(i + 1 < s.size() ? s[i + 1] : '\\'));
        i += 2;
      } else {
        push(b == '*' ? PosKind::Star : b == '?' ? PosKind::Any : PosKind::Lit, b);
        ++i;
      }
      phase = next;
    }
    end_run(at_boundary(t.layer + 1, Mode::NoClose, phase));
  }

  void run(const Task& t) {
    if (t.mode == Mode::Normal) {
      if (t.at == layers[t.layer][t.choice].size()) {
        link(t.from, at_boundary(t.layer + 1, Mode::Normal, 0));
      } else {
        run_normal(t);
      }
    } else {
      run_no_close(t);
    }
  }

  explicit AutomatonBuild(std::string_view source) {
    const BraceShape shape = brace_shape(source);
    assert(!shape.literal && shape.ngroups > 0);
    const auto add_layer = [&](std::vector<std::string> choices) {
      if (choices.size() == 1 && choices[0].empty()) return;
      layers.push_back(std::move(choices));
    };
    for (std::size_t g = 0; g <= shape.ngroups; ++g) {
      std::string fixed;
      for_each_fixed_span(source, shape, g, [&](std::string_view span) { fixed += span; });
      add_layer({fixed});
      if (g == shape.ngroups) break;
      std::vector<std::string> choices;
      for_each_choice(source, shape.groups[g], [&](std::string_view c) { choices.emplace_back(c); });
      add_layer(std::move(choices));
    }
    std::uint32_t next_base = 0;
    base.resize(layers.size());
    for (std::size_t l = 0; l < layers.size(); ++l) {
      for (const auto& c : layers[l]) {
        base[l].push_back(next_base);
        next_base += static_cast<std::uint32_t>(c.size() + 1);
      }
    }
    close_from.assign(layers.size() + 1, false);
    for (std::size_t l = layers.size(); l-- > 0;) {
      bool any = false;
      for (const auto& c : layers[l]) any = any || c.find(']') != std::string::npos;
      close_from[l] = any || close_from[l + 1];
    }

    start = at_boundary(0, Mode::Normal, 0);
    for (std::uint32_t l = 0; l < layers.size(); ++l) {
      const std::uint32_t nchoices = static_cast<std::uint32_t>(layers[l].size());
      // The readings that arrive at this boundary, each read through every choice.
      for (auto [mode, phase] : {std::pair{Mode::Normal, 0}, {Mode::NoClose, 0}, {Mode::NoClose, 1}, {Mode::NoClose, 2}}) {
        const auto it = junction_at.find({boundary_place(l), mode, static_cast<std::uint8_t>(phase)});
        if (it == junction_at.end()) continue;
        for (std::uint32_t c = 0; c < nchoices; ++c) tasks.push_back({l, c, 0, it->second, mode, static_cast<std::uint8_t>(phase), false});
      }
      open_now.swap(open_next);
      open_next.clear();
      for (const OpenClass& o : open_now) {
        for (std::uint32_t c = 0; c < nchoices; ++c) {
          OpenClass r = o;
          std::size_t at = 0;
          QUORVEL_GLOB_COUNT(compile_steps, layers[l][c].size());
          if (r.reader.read(layers[l][c], at)) {
            close_class(r.start, r.reader.accepted(), l, c, static_cast<std::uint32_t>(at));
          } else {
            add_open(r);
          }
        }
      }
      while (!tasks.empty()) {
        const Task t = tasks.back();
        tasks.pop_back();
        run(t);
      }
    }
    // A class still open at the end never closed: that reading is dropped.
  }
};

AutomatonPlan::AutomatonPlan(std::string_view source) : build_(std::make_unique<AutomatonBuild>(source)) {}
AutomatonPlan::~AutomatonPlan() = default;
AutomatonPlan::AutomatonPlan(AutomatonPlan&&) noexcept = default;

namespace {

ProgHead head_of(const AutomatonBuild& b) {
  ProgHead h{};
  h.npos = static_cast<std::uint32_t>(b.pos.size());
  h.words = (h.npos + 63) / 64;
  h.njunctions = static_cast<std::uint32_t>(b.junctions.size());
  for (const auto& j : b.junctions) h.nsucc += static_cast<std::uint32_t>(j.succ.size());
  for (const auto& p : b.pos) {
    h.nend += p.kind == PosKind::End;
    if (p.kind == PosKind::Class) {
      ++h.ncls;
      h.pool += static_cast<std::uint32_t>(class_record_size(b.sets[p.aux]));
    }
  }
  h.start = b.start;
  return h;
}

}  // namespace

std::size_t AutomatonPlan::body_size() const { return Layout(head_of(*build_)).total; }

void AutomatonPlan::emit(std::uint8_t* out) const {
  const AutomatonBuild& b = *build_;
  const ProgHead h = head_of(b);
  const Layout at(h);
  std::memset(out, 0, at.total);
  std::memcpy(out, &h, sizeof h);
  const auto u64 = [&](std::size_t off, std::size_t i) -> std::uint64_t& {
    return reinterpret_cast<std::uint64_t*>(out + off)[i];
  };
  const auto u32 = [&](std::size_t off, std::size_t i) -> std::uint32_t& {
    return reinterpret_cast<std::uint32_t*>(out + off)[i];
  };
  std::uint32_t nend = 0, ncls = 0, pool = 0;
  for (std::uint32_t p = 0; p < h.npos; ++p) {
    const Pos& q = b.pos[p];
    const std::uint32_t w = p / 64;
    const std::uint64_t bit = std::uint64_t{1} << (p % 64);
    if (p % 64 == 0) {
      u32(at.end_base, w) = nend;
      u32(at.cls_base, w) = ncls;
    }
    switch (q.kind) {
      case PosKind::Lit: out[at.bytes + p] = q.byte; break;
      case PosKind::Any: u64(at.any, w) |= bit; break;
      case PosKind::Star: u64(at.star, w) |= bit; break;
      case PosKind::End:
        u64(at.end, w) |= bit;
        u32(at.end_to, nend++) = q.aux;
        break;
      case PosKind::Class:
        u64(at.cls, w) |= bit;
        u32(at.cls_off, ncls++) = pool;
        write_class_record(b.sets[q.aux], out + at.pool + pool);
        pool += static_cast<std::uint32_t>(class_record_size(b.sets[q.aux]));
        break;
    }
  }
  std::uint32_t s = 0;
  for (std::uint32_t j = 0; j < h.njunctions; ++j) {
    u32(at.first, j) = s | (b.junctions[j].accepting ? kAccepting : 0);
    for (std::uint32_t x : b.junctions[j].succ) u32(at.succ, s++) = x;
  }
  u32(at.first, h.njunctions) = s;
}

namespace {

// A read-only view of the program at `body`.
struct Program {
  const ProgHead& h;
  const std::uint64_t *any, *star, *end, *cls;
  const std::uint32_t *end_base, *cls_base, *end_to, *cls_off, *first, *succ;
  const std::uint8_t *bytes, *pool;
  explicit Program(const std::uint8_t* body)
      : h(*reinterpret_cast<const ProgHead*>(body)) {
    const Layout at(h);
    const auto u64 = [&](std::size_t off) { return reinterpret_cast<const std::uint64_t*>(body + off); };
    const auto u32 = [&](std::size_t off) { return reinterpret_cast<const std::uint32_t*>(body + off); };
    any = u64(at.any), star = u64(at.star), end = u64(at.end), cls = u64(at.cls);
    end_base = u32(at.end_base), cls_base = u32(at.cls_base), end_to = u32(at.end_to), cls_off = u32(at.cls_off);
    first = u32(at.first), succ = u32(at.succ);
    bytes = body + at.bytes, pool = body + at.pool;
  }
  static std::uint32_t rank(const std::uint64_t* mask, const std::uint32_t* base, std::uint32_t p) {
    const std::uint64_t below = mask[p / 64] & ((std::uint64_t{1} << (p % 64)) - 1);
    return base[p / 64] + static_cast<std::uint32_t>(std::popcount(below));
  }
  bool is(const std::uint64_t* mask, std::uint32_t p) const { return (mask[p / 64] >> (p % 64)) & 1; }
};

// The positions of word `w` whose literal byte is `c`.
inline std::uint64_t equal_bytes(const std::uint8_t* bytes, std::uint8_t c) {
#if defined(__SSE2__)
  const __m128i needle = _mm_set1_epi8(static_cast<char>(c));
  std::uint64_t m = 0;
  for (int i = 0; i < 4; ++i) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + 16 * i));
    m |= static_cast<std::uint64_t>(static_cast<std::uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, needle)))) << (16 * i);
  }
  return m;
#else
  std::uint64_t m = 0;
  for (int i = 0; i < 64; ++i) m |= std::uint64_t{bytes[i] == c} << i;
  return m;
#endif
}

// The simulation's state: the ready positions, and the junctions fired in
// the current step.
struct Sim {
  const Program& g;
  std::uint64_t* ready;
  std::uint64_t* fired;  // a bit per junction
  std::uint32_t* stack;  // junctions to fire
  bool accepted = false;
  std::uint32_t lo = ~0u, hi = 0;  // the span of words that may hold ready positions

  void mark(std::uint32_t p) {
    const std::uint32_t w = p / 64;
    ready[w] |= std::uint64_t{1} << (p % 64);
    lo = w < lo ? w : lo;
    hi = w > hi ? w : hi;
  }
  void set_ready(std::uint32_t p, std::uint32_t& top) {
    mark(p);
    if (g.is(g.star, p)) mark(++p);  // a star is also done at once
    if (g.is(g.end, p)) {
      const std::uint32_t j = g.end_to[Program::rank(g.end, g.end_base, p)];
      if (j != kDead) stack[top++] = j;
    }
  }
  // Fires junction `j` and everything its empty runs reach, each once.
  void fire(std::uint32_t j) {
    std::uint32_t top = 0;
    stack[top++] = j;
    while (top > 0) {
      const std::uint32_t k = stack[--top];
      if ((fired[k / 64] >> (k % 64)) & 1) continue;
      fired[k / 64] |= std::uint64_t{1} << (k % 64);
      QUORVEL_GLOB_COUNT(match_steps, 1);
      const std::uint32_t first = g.first[k];
      if (first & kAccepting) accepted = true;
      const std::uint32_t last = g.first[k + 1] & ~kAccepting;
      for (std::uint32_t s = first & ~kAccepting; s < last; ++s) {
        const std::uint32_t x = g.succ[s];
        if (x & kToJunction) {
          stack[top++] = x & ~kToJunction;
        } else {
          set_ready(x, top);
        }
      }
    }
  }
  // Completes the ready set: a ready star readies the position after it,
  // and a reached End fires its junction.
  void close() {
    if (lo > hi) return;
    const std::uint32_t from = lo, to = hi;  // fire() may widen the span; it completes what it adds
    std::uint64_t carry = 0;
    for (std::uint32_t w = from; w <= to; ++w) {
      const std::uint64_t s = ready[w] & g.star[w];
      ready[w] |= (s << 1) | carry;
      carry = s >> 63;
    }
    if (carry) mark((to + 1) * 64);
    for (std::uint32_t w = from; w <= to + (carry ? 1 : 0); ++w) {
      for (std::uint64_t e = ready[w] & g.end[w]; e; e &= e - 1) {
        const std::uint32_t p = w * 64 + static_cast<std::uint32_t>(std::countr_zero(e));
        const std::uint32_t j = g.end_to[Program::rank(g.end, g.end_base, p)];
        if (j != kDead) fire(j);
      }
    }
  }
  // One text byte: every ready position that accepts `c` readies the next;
  // ready stars stay ready. False once nothing is ready.
  bool step(std::uint8_t c) {
    if (lo > hi) return false;
    const std::uint32_t from = lo, to = hi + 1 < g.h.words ? hi + 1 : hi;
    lo = ~0u, hi = 0;
    std::uint64_t carry = 0;
    for (std::uint32_t w = from; w <= to; ++w) {
      const std::uint64_t d = ready[w];
      if (d == 0 && carry == 0) continue;
      QUORVEL_GLOB_COUNT(match_steps, 1);
      const std::uint64_t other = g.any[w] | g.star[w] | g.end[w] | g.cls[w];
      std::uint64_t accept = g.any[w] | (equal_bytes(g.bytes + 64 * w, c) & ~other);
      for (std::uint64_t k = d & g.cls[w]; k; k &= k - 1) {
        const std::uint32_t p = w * 64 + static_cast<std::uint32_t>(std::countr_zero(k));
        if (class_has(g.pool + g.cls_off[Program::rank(g.cls, g.cls_base, p)], c)) accept |= k & -k;
      }
      const std::uint64_t moved = d & accept;
      ready[w] = (moved << 1) | carry | (d & g.star[w]);
      carry = moved >> 63;
      if (ready[w]) {
        lo = w < lo ? w : lo;
        hi = w;
      }
    }
    std::memset(fired, 0, 8 * ((g.h.njunctions + 63) / 64));
    accepted = false;
    close();
    return lo <= hi;
  }
};

}  // namespace

bool match_automaton(const std::uint8_t* body, std::string_view text) {
  const Program g(body);
  const std::size_t words = g.h.words + 1, jwords = (g.h.njunctions + 63) / 64;
  const std::size_t need = words + jwords + (g.h.njunctions + 1) / 2 + g.h.nsucc / 2 + 1;
  constexpr std::size_t kStack = 512;
  std::uint64_t stack_mem[kStack];
  std::unique_ptr<std::uint64_t[]> heap;
  std::uint64_t* mem = stack_mem;
  if (need > kStack) {
    heap.reset(new std::uint64_t[need]);
    mem = heap.get();
  }
  std::memset(mem, 0, 8 * (words + jwords));
  Sim sim{g, mem, mem + words, reinterpret_cast<std::uint32_t*>(mem + words + jwords)};
  sim.fire(g.h.start);
  sim.close();
  for (char ch : text) {
    if (!sim.step(static_cast<std::uint8_t>(ch))) return false;
  }
  return sim.accepted;
}

}  // namespace quorvel::core::glob
