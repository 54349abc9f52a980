// The automaton of a braced pattern (match.hpp states the algorithm and its
// bound): built from the brace pieces without multiplying them out, then
// simulated a word of positions at a time.
#include <bit>
#include <cassert>
#include <cstring>
#include <memory_resource>
#include <string>
#include <tuple>

#include "core/glob/brace.hpp"
#include "core/glob/engine.hpp"
#include "core/glob/match.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quorvel::core::glob {

// What the program's layout is computed from.
struct Counts {
  std::uint32_t npos = 0, njunctions = 0, nend = 0, ncls = 0, nsucc = 0, pool = 0;
  std::uint32_t words() const { return (npos + 63) / 64; }
};

namespace {

// A position: ready for one token. An End position accepts no byte; when it
// is reached, its junction makes the runs that leave the junction ready.
enum class PosKind : std::uint8_t { Lit, Any, Class, Star, End };

inline constexpr std::uint32_t kDead = 0xFFFFFFFFu;     // an End that leads nowhere
inline constexpr std::uint32_t kToJunction = 1u << 31;  // a successor that is a junction itself

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
  using allocator_type = std::pmr::polymorphic_allocator<>;
  std::pmr::vector<std::uint32_t> succ;  // run starts, or kToJunction | junction
  bool accepting = false;
  explicit Junction(const allocator_type& a) : succ(a) {}
  Junction(const Junction& o, const allocator_type& a) : succ(o.succ, a), accepting(o.accepting) {}
  Junction(Junction&& o, const allocator_type& a) : succ(std::move(o.succ), a), accepting(o.accepting) {}
};

// A class still open at a piece boundary: the fork it started at and its
// reader. Readings that share both merge (see add_open).
struct OpenClass {
  std::uint32_t start;
  ClassReader<> reader;
};

// Class records are found by their offset in the pool: 16 bits for the
// narrow programs, whose records may still take more than 255 bytes.
template <class Ix>
using PoolOffset = std::conditional_t<sizeof(Ix) == 4, std::uint32_t, std::uint16_t>;

// The one description of the program's layout: four position masks, the
// class record of each Class (by rank), the ranks of the End and Class
// positions before each word (past one word), the junction of each End (by
// rank), each junction's first successor (the last one's end after them),
// the successors, the literal byte of each position, the class records.
// Indices are of type Ix: the narrowest of 8, 16 and 32 bits that holds them.
template <class Ix>
struct Layout {
  std::size_t any, star, end, cls, end_base, cls_base, end_to, cls_off, first, succ, bytes, pool, total;
  explicit Layout(const Counts& c) {
    const std::size_t w = c.words();
    std::size_t at = 0;
    const auto take = [&](std::size_t n) {
      const std::size_t here = at;
      at += n;
      return here;
    };
    any = take(8 * w), star = take(8 * w), end = take(8 * w), cls = take(8 * w);
    cls_off = take(sizeof(PoolOffset<Ix>) * c.ncls);  // the widest after the masks: every array aligned
    end_base = take(w > 1 ? sizeof(Ix) * w : 0), cls_base = take(w > 1 ? sizeof(Ix) * w : 0);
    end_to = take(sizeof(Ix) * c.nend);
    first = take(sizeof(Ix) * (c.njunctions + 1)), succ = take(sizeof(Ix) * c.nsucc);
    bytes = take((c.npos + 15) & ~std::size_t{15});
    pool = take(c.pool);
    total = (at + 7) & ~std::size_t{7};
  }
};

// The flags and marks of an index type: its top bit marks a successor that
// is a junction, or an accepting junction; all ones, an End leading nowhere.
template <class Ix>
struct Marks {
  static constexpr std::uint32_t top = std::uint32_t{1} << (8 * sizeof(Ix) - 1);
  static constexpr std::uint32_t dead = static_cast<Ix>(~Ix{0});
};

}  // namespace

// Ids by 64-bit key (never all ones), open addressing in the arena.
class IdMap {
 public:
  explicit IdMap(std::pmr::memory_resource* r) : keys_(16, kFree, r), ids_(16, 0, r) {}
  // The id kept for `key`, or null.
  const std::uint32_t* find(std::uint64_t key) const {
    for (std::size_t i = slot(key);; i = (i + 1) & (keys_.size() - 1)) {
      if (keys_[i] == key) return &ids_[i];
      if (keys_[i] == kFree) return nullptr;
    }
  }
  // The id kept for `key`, made `id` when new (`fresh` says so); valid
  // until the next key is added.
  std::uint32_t* find_or_add(std::uint64_t key, std::uint32_t id, bool& fresh) {
    assert(key != kFree);
    if (2 * (used_ + 1) > keys_.size()) grow();
    std::size_t i = slot(key);
    for (; keys_[i] != kFree; i = (i + 1) & (keys_.size() - 1)) {
      if (keys_[i] == key) return fresh = false, &ids_[i];
    }
    ++used_, fresh = true;
    keys_[i] = key, ids_[i] = id;
    return &ids_[i];
  }

 private:
  static constexpr std::uint64_t kFree = ~std::uint64_t{0};
  std::size_t slot(std::uint64_t key) const {
    return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15u) >> 40) & (keys_.size() - 1);
  }
  void grow() {
    std::pmr::vector<std::uint64_t> keys(2 * keys_.size(), kFree, keys_.get_allocator());
    std::pmr::vector<std::uint32_t> ids(2 * keys_.size(), 0, ids_.get_allocator());
    keys.swap(keys_), ids.swap(ids_);
    for (std::size_t i = 0; i < keys.size(); ++i) {
      if (keys[i] == kFree) continue;
      std::size_t j = slot(keys[i]);
      while (keys_[j] != kFree) j = (j + 1) & (keys_.size() - 1);
      keys_[j] = keys[i], ids_[j] = ids[i];
    }
  }
  std::pmr::vector<std::uint64_t> keys_;
  std::pmr::vector<std::uint32_t> ids_;
  std::size_t used_ = 0;
};

inline std::uint64_t junction_key(std::uint32_t place, Mode mode, std::uint8_t phase) {
  return std::uint64_t{place} | std::uint64_t{static_cast<std::uint8_t>(mode)} << 32 | std::uint64_t{phase} << 40;
}

Counts counts_of(const AutomatonBuild& b);

struct AutomatonBuild {
  // Everything of the build lives in one arena, freed at once with it.
  alignas(16) std::byte buffer[16384];
  std::pmr::monotonic_buffer_resource arena{buffer, sizeof buffer};

  std::pmr::vector<Pos> pos{&arena};
  std::pmr::vector<Junction> junctions{&arena};
  std::pmr::vector<ByteSet> sets{&arena};

  // Layers of pieces: fixed texts (one choice each, spans between the braces
  // of single-choice groups) and groups; views of the source.
  std::pmr::vector<std::pmr::vector<std::string_view>> layers{&arena};
  std::pmr::vector<std::pmr::vector<std::uint32_t>> base{&arena};  // the place number of each choice's first byte
  std::pmr::vector<bool> close_from{std::pmr::polymorphic_allocator<bool>(&arena)};                     // a `]` lies in this layer or a later one

  IdMap junction_at{&arena};  // (place, mode, phase) -> junction
  IdMap class_at{&arena};     // (fork, resume place) -> position
  std::pmr::vector<OpenClass> open_now{&arena}, open_next{&arena};
  bool forked = false;  // some `[` forked into a literal reading and an open class
  Counts counts;        // of the finished build

  struct Task {
    std::uint32_t layer, choice, at, from;
    Mode mode;
    std::uint8_t phase;
    bool bracket;  // the run starts with the literal `[` of a fork
  };
  std::pmr::vector<Task> tasks{&arena};

  std::uint32_t boundary_place(std::size_t b) const { return kToJunction | static_cast<std::uint32_t>(b); }

  // The junction at (place, mode, phase), made when new; `made` tells which.
  std::uint32_t junction(std::uint32_t place, Mode mode, std::uint8_t phase, bool* made = nullptr) {
    bool fresh = false;
    const std::uint32_t j = *junction_at.find_or_add(junction_key(place, mode, phase),
                                                     static_cast<std::uint32_t>(junctions.size()), fresh);
    if (fresh) junctions.emplace_back();
    if (made) *made = fresh;
    return j;
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
    assert(o.reader.phase < 3);
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
    bool fresh = false;
    std::uint32_t* at_pos = class_at.find_or_add(std::uint64_t{start} << 32 | place, 0, fresh);
    if (!fresh) {
      sets[pos[*at_pos].aux] |= accepted;
      return;
    }
    bool made = false;
    const std::uint32_t next = junction(place, Mode::Normal, 0, &made);
    if (made) tasks.push_back({l, c, at, next, Mode::Normal, 0, false});
    begin_run(start);
    *at_pos = static_cast<std::uint32_t>(pos.size());
    push(PosKind::Class, 0, static_cast<std::uint32_t>(sets.size()));
    sets.push_back(accepted);
    end_run(next);
  }

  // Reads choice `c` of layer `l` from byte `at` in Normal mode, in one run.
  void run_normal(const Task& t) {
    const std::string_view s = layers[t.layer][t.choice];
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
        ClassReader<> r;
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
          forked = true;
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
    const std::string_view s = layers[t.layer][t.choice];
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

  AutomatonBuild(std::string_view source, const BraceShape& shape) {
    assert(!shape.literal && shape.ngroups > 0);
    pos.reserve(2 * source.size() + 8);
    junctions.reserve(2 * shape.ngroups + 4);
    for (std::size_t g = 0; g <= shape.ngroups; ++g) {
      for_each_fixed_span(source, shape, g, [&](std::string_view span) {
        if (!span.empty()) layers.emplace_back(1, span);
      });
      if (g == shape.ngroups) break;
      auto& choices = layers.emplace_back();
      for_each_choice(source, shape.groups[g], [&](std::string_view c) { choices.push_back(c); });
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
      for (const auto& c : layers[l]) any = any || c.find(']') != std::string_view::npos;
      close_from[l] = any || close_from[l + 1];
    }

    at_boundary(0, Mode::Normal, 0);  // junction 0: the start
    for (std::uint32_t l = 0; l < layers.size(); ++l) {
      const std::uint32_t nchoices = static_cast<std::uint32_t>(layers[l].size());
      // The readings that arrive at this boundary, each read through every choice.
      for (auto [mode, phase] : {std::pair{Mode::Normal, 0}, {Mode::NoClose, 0}, {Mode::NoClose, 1}, {Mode::NoClose, 2}}) {
        const std::uint32_t* found = junction_at.find(junction_key(boundary_place(l), mode, static_cast<std::uint8_t>(phase)));
        if (!found) continue;
        for (std::uint32_t c = 0; c < nchoices; ++c) tasks.push_back({l, c, 0, *found, mode, static_cast<std::uint8_t>(phase), false});
      }
      open_now.swap(open_next);
      open_next.clear();
      // How a choice reads an open class depends on the reader's control
      // part alone, so each choice is read once per control part: open
      // classes that share it add the same members and end alike.
      struct Read {
        std::uint32_t choice;
        ClassReader<> from, to;  // `to` holds the members the choice adds
        bool closed;
        std::size_t at;
      };
      std::pmr::vector<Read> reads(&arena);
      for (const OpenClass& o : open_now) {
        for (std::uint32_t c = 0; c < nchoices; ++c) {
          // A pending literal that the choice's first element (no bare dash)
          // makes a member is made one now: the reading no longer depends on it.
          ClassReader<> from = o.reader;
          const std::string_view text = layers[l][c];
          if (from.have_lit && !from.have_dash && !text.empty() && text[0] != '-') {
            from.set.add(from.lit);
            from.have_lit = false, from.lit = 0;
          }
          const Read* read = nullptr;
          for (const Read& r : reads) {
            if (r.choice == c && r.from.same_control(from)) read = &r;
          }
          if (!read) {
            Read r{c, from, from, false, 0};
            r.from.set = r.to.set = ByteSet{};
            QUORVEL_GLOB_COUNT(compile_steps, layers[l][c].size());
            r.closed = r.to.read(layers[l][c], r.at);
            read = &reads.emplace_back(r);
          }
          OpenClass next{o.start, read->to};
          next.reader.set |= from.set;
          if (read->closed) {
            close_class(next.start, next.reader.accepted(), l, c, static_cast<std::uint32_t>(read->at));
          } else {
            add_open(next);
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
    // Without a fork every reading goes on to the end, so nothing is dead.
    if (forked) prune();
    counts = counts_of(*this);
  }

  // Drops the runs and junctions from which no accepting junction can be
  // reached (readings that die later, such as NoClose ones at a `]`), lets
  // a run that is only its End and a junction that only leads to another
  // stand for that junction, and numbers what is left afresh; junction 0
  // stays the start.
  void prune() {
    const std::size_t nj = junctions.size();
    std::pmr::vector<std::uint32_t> run_end(pos.size(), &arena);
    for (std::size_t p = pos.size(); p-- > 0;) {
      run_end[p] = pos[p].kind == PosKind::End ? static_cast<std::uint32_t>(p) : run_end[p + 1];
    }
    // Where a junction really leads: through junctions whose one successor is another.
    std::pmr::vector<std::uint32_t> same(nj, &arena);
    for (std::uint32_t j = 0; j < nj; ++j) same[j] = j;
    const auto resolve = [&](std::uint32_t j) {
      while (j != kDead && j != 0 && !junctions[j].accepting && junctions[j].succ.size() == 1) {
        const std::uint32_t x = junctions[j].succ[0];
        const std::uint32_t next = x & kToJunction ? x & ~kToJunction : pos[x].kind == PosKind::End ? pos[x].aux : j;
        if (next == j) break;
        j = next;
      }
      return j;
    };
    for (std::uint32_t j = 0; j < nj; ++j) same[j] = resolve(j);
    const auto target = [&](std::uint32_t x) {  // the junction a successor leads to, or kDead
      const std::uint32_t t = x & kToJunction ? x & ~kToJunction : pos[run_end[x]].aux;
      return t == kDead ? kDead : same[t];
    };
    std::pmr::vector<std::pmr::vector<std::uint32_t>> from(nj, &arena);
    for (std::uint32_t j = 0; j < nj; ++j) {
      if (same[j] != j) continue;
      for (std::uint32_t x : junctions[j].succ) {
        if (const std::uint32_t t = target(x); t != kDead) from[t].push_back(j);
      }
    }
    std::pmr::vector<std::uint32_t> renumber(nj, kDead, &arena), queue(&arena);
    for (std::uint32_t j = 0; j < nj; ++j) {
      if (junctions[j].accepting && same[j] == j) renumber[j] = 0, queue.push_back(j);
    }
    while (!queue.empty()) {
      const std::uint32_t j = queue.back();
      queue.pop_back();
      for (std::uint32_t f : from[j]) {
        if (renumber[f] == kDead) renumber[f] = 0, queue.push_back(f);
      }
    }
    renumber[0] = 0;
    std::uint32_t live = 0;
    for (std::uint32_t j = 0; j < nj; ++j) {
      if (renumber[j] != kDead) renumber[j] = live++;
    }
    std::pmr::vector<std::uint32_t> moved(pos.size() + 1, kDead, &arena);
    std::pmr::vector<Pos> kept(&arena);
    for (std::uint32_t p = 0; p < pos.size(); ++p) {
      const std::uint32_t t = target(p);
      const bool bare_end = pos[p].kind == PosKind::End && (p == 0 || pos[p - 1].kind == PosKind::End);
      if (t == kDead || renumber[t] == kDead || bare_end) continue;
      moved[p] = static_cast<std::uint32_t>(kept.size());
      kept.push_back(pos[p]);
      if (pos[p].kind == PosKind::End) kept.back().aux = renumber[t];
    }
    std::pmr::vector<Junction> left(&arena);
    for (std::uint32_t j = 0; j < live; ++j) left.emplace_back();
    for (std::uint32_t j = 0; j < nj; ++j) {
      if (renumber[j] == kDead) continue;
      Junction& out = left[renumber[j]];
      out.accepting = junctions[j].accepting;
      for (std::uint32_t x : junctions[j].succ) {
        const std::uint32_t t = target(x);
        if (t == kDead || renumber[t] == kDead) continue;
        const bool to_junction = (x & kToJunction) || pos[x].kind == PosKind::End;
        out.succ.push_back(to_junction ? kToJunction | renumber[t] : moved[x]);
      }
    }
    pos.swap(kept);
    junctions.swap(left);
  }
};

Counts counts_of(const AutomatonBuild& b) {
  Counts c;
  c.npos = static_cast<std::uint32_t>(b.pos.size());
  c.njunctions = static_cast<std::uint32_t>(b.junctions.size());
  for (const auto& j : b.junctions) c.nsucc += static_cast<std::uint32_t>(j.succ.size());
  for (const auto& p : b.pos) {
    c.nend += p.kind == PosKind::End;
    if (p.kind == PosKind::Class) {
      ++c.ncls;
      c.pool += static_cast<std::uint32_t>(class_record_size(b.sets[p.aux]));
    }
  }
  return c;
}

AutomatonPlan::AutomatonPlan(std::string_view source, const BraceShape& shape)
    : build_(std::make_unique<AutomatonBuild>(source, shape)) {}
AutomatonPlan::~AutomatonPlan() = default;
AutomatonPlan::AutomatonPlan(AutomatonPlan&&) noexcept = default;

namespace {


// Whether indices of type Ix hold the program (flags take the top bit).
template <class Ix>
bool fits(const Counts& c) {
  const std::uint32_t limit = Marks<Ix>::top;
  return c.npos < limit && c.njunctions + 1 < limit && c.nsucc < limit &&
         c.pool < static_cast<PoolOffset<Ix>>(~PoolOffset<Ix>{0});
}

// Calls f(Ix{}) with the narrowest index type that holds the program.
template <class F>
auto with_index(const Counts& c, F&& f) {
  if (fits<std::uint8_t>(c)) return f(std::uint8_t{});
  if (fits<std::uint16_t>(c)) return f(std::uint16_t{});
  return f(std::uint32_t{});
}

template <class Ix>
void emit_as(const AutomatonBuild& b, const Counts& c, std::uint8_t* out) {
  const Layout<Ix> at(c);
  std::memset(out, 0, at.total);
  const auto u64 = [&](std::size_t off, std::size_t i) -> std::uint64_t& {
    return reinterpret_cast<std::uint64_t*>(out + off)[i];
  };
  const auto ix = [&](std::size_t off, std::size_t i) -> Ix& { return reinterpret_cast<Ix*>(out + off)[i]; };
  const auto narrowed = [](std::uint32_t v) {  // a flag or mark moves to the index's top bit
    if (v == kDead) return static_cast<Ix>(Marks<Ix>::dead);
    return static_cast<Ix>((v & kToJunction ? Marks<Ix>::top : 0) | (v & ~kToJunction));
  };
  std::uint32_t nend = 0, ncls = 0, pool = 0;
  for (std::uint32_t p = 0; p < c.npos; ++p) {
    const Pos& q = b.pos[p];
    const std::uint32_t w = p / 64;
    const std::uint64_t bit = std::uint64_t{1} << (p % 64);
    if (p % 64 == 0 && c.words() > 1) {
      ix(at.end_base, w) = static_cast<Ix>(nend);
      ix(at.cls_base, w) = static_cast<Ix>(ncls);
    }
    switch (q.kind) {
      case PosKind::Lit: out[at.bytes + p] = q.byte; break;
      case PosKind::Any: u64(at.any, w) |= bit; break;
      case PosKind::Star: u64(at.star, w) |= bit; break;
      case PosKind::End:
        u64(at.end, w) |= bit;
        ix(at.end_to, nend++) = narrowed(q.aux);
        break;
      case PosKind::Class:
        u64(at.cls, w) |= bit;
        reinterpret_cast<PoolOffset<Ix>*>(out + at.cls_off)[ncls++] = static_cast<PoolOffset<Ix>>(pool);
        write_class_record(b.sets[q.aux], out + at.pool + pool);
        pool += static_cast<std::uint32_t>(class_record_size(b.sets[q.aux]));
        break;
    }
  }
  std::uint32_t s = 0;
  for (std::uint32_t j = 0; j < c.njunctions; ++j) {
    ix(at.first, j) = static_cast<Ix>(s | (b.junctions[j].accepting ? Marks<Ix>::top : 0));
    for (std::uint32_t x : b.junctions[j].succ) ix(at.succ, s++) = narrowed(x);
  }
  ix(at.first, c.njunctions) = static_cast<Ix>(s);
  // The layout read back from the counts is the one written.
  assert(nend == c.nend && ncls == c.ncls && pool == c.pool && s == c.nsucc);
  assert(b.pos.empty() || b.pos.back().kind == PosKind::End);  // every run ends in an End
}

}  // namespace

std::size_t AutomatonPlan::body_size() const {
  const Counts& c = build_->counts;
  return with_index(c, [&](auto ix) { return Layout<decltype(ix)>(c).total; });
}
std::uint32_t AutomatonPlan::positions() const { return static_cast<std::uint32_t>(build_->pos.size()); }
std::uint32_t AutomatonPlan::junctions() const { return static_cast<std::uint32_t>(build_->junctions.size()); }
unsigned AutomatonPlan::index_bytes() const {
  return with_index(build_->counts, [](auto ix) { return static_cast<unsigned>(sizeof ix); });
}

void AutomatonPlan::emit(std::uint8_t* out) const {
  const Counts& c = build_->counts;
  with_index(c, [&](auto ix) { emit_as<decltype(ix)>(*build_, c, out); });
}

namespace {

// The positions among the `n` literal bytes at `bytes` (at most 64) whose
// byte is `c`.
inline std::uint64_t equal_bytes(const std::uint8_t* bytes, std::uint32_t n, std::uint8_t c) {
  std::uint64_t m = 0;
#if defined(__SSE2__)
  const __m128i needle = _mm_set1_epi8(static_cast<char>(c));
  for (std::uint32_t i = 0; 16 * i < n; ++i) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + 16 * i));
    m |= static_cast<std::uint64_t>(static_cast<std::uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, needle)))) << (16 * i);
  }
#else
  for (std::uint32_t i = 0; i < n; ++i) m |= std::uint64_t{bytes[i] == c} << i;
#endif
  return m;
}

// A read-only view of the program at `body`.
template <class Ix>
struct Program {
  Counts c;
  const std::uint64_t *any, *star, *end, *cls;
  const Ix *end_base, *cls_base, *end_to, *first, *succ;
  const PoolOffset<Ix>* cls_off;
  const std::uint8_t *bytes, *pool;
  Program(const std::uint8_t* body, std::uint32_t npos, std::uint32_t njunctions) {
    c.npos = npos, c.njunctions = njunctions;
    const std::uint32_t words = c.words();
    const auto u64 = [&](std::size_t off) { return reinterpret_cast<const std::uint64_t*>(body + off); };
    end = u64(16 * words), cls = u64(24 * words);
    for (std::uint32_t w = 0; w < words; ++w) {
      c.nend += static_cast<std::uint32_t>(std::popcount(end[w]));
      c.ncls += static_cast<std::uint32_t>(std::popcount(cls[w]));
    }
    const auto ix = [&](std::size_t off) { return reinterpret_cast<const Ix*>(body + off); };
    c.nsucc = ix(Layout<Ix>(c).first)[njunctions];  // the successors' count comes before their offset
    const Layout<Ix> at(c);
    any = u64(at.any), star = u64(at.star);
    end_base = ix(at.end_base), cls_base = ix(at.cls_base), end_to = ix(at.end_to);
    cls_off = reinterpret_cast<const PoolOffset<Ix>*>(body + at.cls_off);
    first = ix(at.first), succ = ix(at.succ);
    bytes = body + at.bytes, pool = body + at.pool;
  }
  std::uint32_t rank(const std::uint64_t* mask, const Ix* base, std::uint32_t p) const {
    const std::uint64_t below = mask[p / 64] & ((std::uint64_t{1} << (p % 64)) - 1);
    return (c.words() > 1 ? base[p / 64] : 0) + static_cast<std::uint32_t>(std::popcount(below));
  }
  bool is(const std::uint64_t* mask, std::uint32_t p) const { return (mask[p / 64] >> (p % 64)) & 1; }
};

// The simulation's state: the ready positions, and the junctions fired in
// the current step.
template <class Ix>
struct Sim {
  const Program<Ix>& g;
  std::uint64_t* ready;
  std::uint64_t* fired;  // a bit per junction
  std::uint32_t* stack;  // junctions to fire
  bool accepted = false;
  std::uint32_t lo = ~0u, hi = 0;  // the span of words that may hold ready positions

  static constexpr std::uint32_t kTop = Marks<Ix>::top, kNowhere = Marks<Ix>::dead;

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
      const std::uint32_t j = g.end_to[g.rank(g.end, g.end_base, p)];
      if (j != kNowhere) stack[top++] = j;
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
      if (first & kTop) accepted = true;
      const std::uint32_t last = g.first[k + 1] & ~kTop;
      for (std::uint32_t s = first & ~kTop; s < last; ++s) {
        const std::uint32_t x = g.succ[s];
        if (x & kTop) {
          stack[top++] = x & ~kTop;
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
        const std::uint32_t j = g.end_to[g.rank(g.end, g.end_base, p)];
        if (j != kNowhere) fire(j);
      }
    }
  }
  // One text byte: every ready position that accepts `c` readies the next;
  // ready stars stay ready. False once nothing is ready.
  bool step(std::uint8_t c) {
    if (lo > hi) return false;
    const std::uint32_t words = g.c.words();
    const std::uint32_t from = lo, to = hi + 1 < words ? hi + 1 : hi;
    lo = ~0u, hi = 0;
    std::uint64_t carry = 0;
    for (std::uint32_t w = from; w <= to; ++w) {
      const std::uint64_t d = ready[w];
      if (d == 0 && carry == 0) continue;
      QUORVEL_GLOB_COUNT(match_steps, 1);
      const std::uint64_t other = g.any[w] | g.star[w] | g.end[w] | g.cls[w];
      const std::uint32_t n = g.c.npos - 64 * w < 64 ? g.c.npos - 64 * w : 64;
      std::uint64_t accept = g.any[w] | (equal_bytes(g.bytes + 64 * w, n, c) & ~other);
      for (std::uint64_t k = d & g.cls[w]; k; k &= k - 1) {
        const std::uint32_t p = w * 64 + static_cast<std::uint32_t>(std::countr_zero(k));
        if (class_has(g.pool + g.cls_off[g.rank(g.cls, g.cls_base, p)], c)) accept |= k & -k;
      }
      const std::uint64_t moved = d & accept;
      ready[w] = (moved << 1) | carry | (d & g.star[w]);
      carry = moved >> 63;
      if (ready[w]) {
        lo = w < lo ? w : lo;
        hi = w;
      }
    }
    std::memset(fired, 0, 8 * ((g.c.njunctions + 63) / 64));
    accepted = false;
    close();
    return lo <= hi;
  }
};

// The ready sets of one call's simulation whose live span is at most kWords
// words, and their moves by byte.
struct StepCache {
  static constexpr std::uint32_t kWords = 4, kStates = 32, kNone = 0xFF;
  std::uint32_t n = 0;
  std::uint32_t lo[kStates], span[kStates];  // where each set lies, in words
  std::uint64_t sets[kStates][kWords];
  bool accepted[kStates];
  std::uint8_t next[kStates][256];
  // The number of the simulation's set (with its acceptance), added when
  // new; kNone when its span is too wide.
  template <class S>
  std::uint32_t add(const S& sim) {
    const std::uint32_t l = sim.lo > sim.hi ? 0 : sim.lo, w = sim.lo > sim.hi ? 0 : sim.hi - sim.lo + 1;
    if (w > kWords) return kNone;
    for (std::uint32_t i = 0; i < n; ++i) {
      if (accepted[i] == sim.accepted && lo[i] == l && span[i] == w && std::memcmp(sets[i], sim.ready + l, 8 * w) == 0) {
        return i;
      }
    }
    if (n == kStates) n = 0;  // full: start afresh
    lo[n] = l, span[n] = w, accepted[n] = sim.accepted;
    std::memcpy(sets[n], sim.ready + l, 8 * w);
    std::memset(next[n], kNone, 256);
    return n++;
  }
  // Makes set `i` the simulation's ready set.
  template <class S>
  void load(std::uint32_t i, S& sim) const {
    if (sim.lo <= sim.hi) std::memset(sim.ready + sim.lo, 0, 8 * (sim.hi - sim.lo + 1));
    std::memcpy(sim.ready + lo[i], sets[i], 8 * span[i]);
    sim.lo = span[i] ? lo[i] : ~0u, sim.hi = span[i] ? lo[i] + span[i] - 1 : 0;
  }
};

template <class Ix>
bool run(const std::uint8_t* body, std::uint32_t npos, std::uint32_t njunctions, std::string_view text) {
  const Program<Ix> g(body, npos, njunctions);
  const std::size_t words = g.c.words() + 1, jwords = (njunctions + 63) / 64;
  const std::size_t need = words + jwords + (g.c.nsucc + 2) / 2 + 1;  // the stack holds at most nsucc + 1
  constexpr std::size_t kStack = 512;
  std::uint64_t stack_mem[kStack];
  std::unique_ptr<std::uint64_t[]> heap;
  std::uint64_t* mem = stack_mem;
  if (need > kStack) {
    heap.reset(new std::uint64_t[need]);
    mem = heap.get();
  }
  std::memset(mem, 0, 8 * (words + jwords));
  Sim<Ix> sim{g, mem, mem + words, reinterpret_cast<std::uint32_t*>(mem + words + jwords)};
  sim.fire(0);  // the start
  sim.close();
  if (text.size() < 64) {  // too short to pay for remembering
    for (char ch : text) {
      if (!sim.step(static_cast<std::uint8_t>(ch))) return false;
    }
    return sim.accepted;
  }
  // Each step is remembered while the live span is narrow: the ready sets
  // met in this call and their moves by byte (a DFA built as the text needs
  // it), so a byte that repeats a known move costs one lookup.
  StepCache cache;
  std::uint32_t cur = cache.add(sim);
  for (char ch : text) {
    const auto c = static_cast<std::uint8_t>(ch);
    if (cur != StepCache::kNone && cache.next[cur][c] != StepCache::kNone) {
      cur = cache.next[cur][c];
      continue;
    }
    if (cur != StepCache::kNone) cache.load(cur, sim);
    const bool live = sim.step(c);
    const std::uint32_t before = cache.n;
    const std::uint32_t next = cache.add(sim);
    if (cur != StepCache::kNone && next != StepCache::kNone && cache.n >= before) {
      cache.next[cur][c] = static_cast<std::uint8_t>(next);  // unless the cache started afresh
    }
    if (!live) return false;
    cur = next;
  }
  return cur == StepCache::kNone ? sim.accepted : cache.accepted[cur];
}

}  // namespace

bool match_automaton(const std::uint8_t* body, std::uint32_t npos, std::uint32_t njunctions, unsigned index_bytes,
                     std::string_view text) {
  switch (index_bytes) {
    case 1: return run<std::uint8_t>(body, npos, njunctions, text);
    case 2: return run<std::uint16_t>(body, npos, njunctions, text);
    default: return run<std::uint32_t>(body, npos, njunctions, text);
  }
}

}  // namespace quorvel::core::glob
