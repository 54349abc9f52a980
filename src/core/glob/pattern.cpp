#include "core/glob/pattern.hpp"

#include <cstring>

#include "core/text/text.hpp"

namespace quorvel::core::glob {

namespace {

// --- Byte cursors: the tokenizer reads a pattern through one of these. ---

// Over one contiguous text.
struct FlatCursor {
  const char* p;
  const char* end;
  bool at_end() const { return p == end; }
  std::uint8_t peek() const { return static_cast<std::uint8_t>(*p); }
  void advance() { ++p; }
  bool operator==(const FlatCursor& o) const { return p == o.p; }
  std::uintptr_t key() const { return reinterpret_cast<std::uintptr_t>(p); }
};

// A piece of text with a trivial constructor, so that arrays of them cost
// nothing until they are filled.
struct Piece {
  const char* ptr;
  std::size_t len;
  Piece& operator=(std::string_view v) {
    ptr = v.data();
    len = v.size();
    return *this;
  }
  operator std::string_view() const { return {ptr, len}; }
  std::size_t size() const { return len; }
  char operator[](std::size_t i) const { return ptr[i]; }
};

// Over a short list of texts read as one (a compact alternative).
struct Segments {
  Piece seg[24];
  std::size_t count = 0;
};

struct SegCursor {
  const Segments* segs;
  std::size_t i;    // segment
  std::size_t off;  // offset in it; never at the end of a segment unless last
  void settle() {
    while (i + 1 < segs->count && off == segs->seg[i].size()) {
      ++i;
      off = 0;
    }
  }
  bool at_end() const { return i + 1 >= segs->count && off == segs->seg[i].size(); }
  std::uint8_t peek() const { return static_cast<std::uint8_t>(segs->seg[i][off]); }
  void advance() {
    ++off;
    settle();
  }
  std::uintptr_t key() const { return (static_cast<std::uintptr_t>(i) << 48) | off; }
};

// Reads one bracket-class element: a literal byte or a bare dash.
template <class Cur>
void read_class_element(Cur& c, bool& dash, std::uint8_t& byte) {
  const std::uint8_t b = c.peek();
  c.advance();
  dash = false;
  if (b == '-') {
    dash = true;
    byte = '-';
  } else if (b == '\\' && !c.at_end()) {
    byte = c.peek();
    c.advance();
  } else {
    byte = b;  // a trailing backslash is a literal backslash
  }
}

// Tries to read a bracket class; `c` stands right after the `[`. On success
// fills `set` with the accepted bytes and leaves `c` after the `]`.
template <class Cur>
bool read_class(Cur& c, ByteSet& set) {
  set = ByteSet{};
  bool negated = false;
  if (!c.at_end() && c.peek() == '!') {
    negated = true;
    c.advance();
  }
  if (c.at_end()) return false;
  // Fold elements into items as they come: `x-y` is a range; any other
  // literal, and any dash not used up by a range, is a single member.
  bool have_lit = false, have_dash = false;
  std::uint8_t lit = 0;
  auto element = [&](bool dash, std::uint8_t byte) {
    if (have_lit && have_dash) {
      if (!dash) {
        if (lit <= byte) set.add_range(lit, byte);
        have_lit = have_dash = false;
        return;
      }
      set.add(lit);
      set.add('-');
      set.add('-');
      have_lit = have_dash = false;
      return;
    }
    if (have_lit) {
      if (dash) {
        have_dash = true;
        return;
      }
      set.add(lit);
      lit = byte;
      return;
    }
    if (dash) {
      set.add('-');
      return;
    }
    have_lit = true;
    lit = byte;
  };
  bool dash;
  std::uint8_t byte;
  read_class_element(c, dash, byte);  // the first element is always a member
  element(dash, byte);
  for (;;) {
    if (c.at_end()) return false;
    if (c.peek() == ']') {
      c.advance();
      break;
    }
    read_class_element(c, dash, byte);
    element(dash, byte);
  }
  if (have_lit) set.add(lit);
  if (have_dash) set.add('-');
  if (negated) set.invert();
  return true;
}

// The bytes that start something other than a literal: * ? [ and \\.
constexpr std::array<bool, 256> kSpecial = [] {
  std::array<bool, 256> t{};
  t['*'] = t['?'] = t['['] = t['\\'] = true;
  return t;
}();

// Reads the token at `c` (not at its end) and advances past it. At a `[`,
// `bracket(c, byte)` is called with `c` right after it and reads the class,
// or makes the `[` a literal (and returns what it read).
template <class Cur, class Bracket>
inline Tok::Kind read_token(Cur& c, std::uint8_t& byte, Bracket&& bracket) {
  const std::uint8_t b = c.peek();
  c.advance();
  // Most bytes are literals: one well-predicted test before the rarer cases.
  if (!kSpecial[b]) {
    byte = b;
    return Tok::Kind::Lit;
  }
  if (b == '*') return Tok::Kind::Star;
  if (b == '?') return Tok::Kind::Any;
  if (b == '[') return bracket(c, byte);
  // A backslash: the next byte is literal; a trailing one is itself.
  if (!c.at_end()) {
    byte = c.peek();
    c.advance();
  } else {
    byte = '\\';
  }
  return Tok::Kind::Lit;
}

// The plain reading of a bracket: a class into `set`, or, unterminated, a
// literal `[` after which reading goes on right after it.
template <class Cur>
Tok::Kind read_bracket(Cur& c, std::uint8_t& byte, ByteSet& set) {
  Cur after = c;
  if (read_class(c, set)) return Tok::Kind::Class;
  c = after;
  byte = '[';
  return Tok::Kind::Lit;
}

template <class Cur>
Tok::Kind read_token(Cur& c, std::uint8_t& byte, ByteSet& set) {
  return read_token(c, byte, [&](Cur& at, std::uint8_t& b) { return read_bracket(at, b, set); });
}

// --- Token sources for the matcher. ---

// Compiled tokens of one alternative.
struct CompiledSource {
  const Tok* toks;
  const ByteSet* sets;
  std::uint32_t n;
  using Pos = std::uint32_t;
  Pos begin() const { return 0; }
  bool read(Pos& p, TokView& t) const {
    if (p == n) return false;
    const Tok& k = toks[p++];
    t.kind = k.kind;
    t.byte = k.byte;
    t.set = k.kind == Tok::Kind::Class ? &sets[k.cls] : nullptr;
    return true;
  }
};

// Tokens read from pattern text on the fly.
template <class Cur>
struct TextSource {
  explicit TextSource(Cur c) : start(c) {}
  Cur start;
  // Classes already read, by position: the star's restarts read the same
  // tokens again and again, and a long class must not cost its length each
  // time (a match stays within about tokens x bytes steps).
  struct Memo {
    std::uintptr_t key;
    Cur after;
    ByteSet set;
  };
  static constexpr std::size_t kMemo = 8;
  mutable Memo memo[kMemo];
  mutable std::size_t memo_used = 0;
  using Pos = Cur;
  Pos begin() const { return start; }
  bool read(Pos& p, TokView& t) const {
    if (p.at_end()) return false;
    t.kind = read_token(p, t.byte, [&](Cur& at, std::uint8_t& b) {
      // Out of line, and by value: the cursor stays in registers.
      const Bracket r = remembered(at);
      at = r.after;
      b = '[';
      t.set = r.set;
      return r.kind;
    });
    return true;
  }

  struct Bracket {
    Tok::Kind kind;
    Cur after;
    const ByteSet* set;
  };

  // The bracket right before `at`: a class from the memo when it was read
  // before, else read now (and remembered).
  [[gnu::noinline]] Bracket remembered(Cur at) const {
    const std::uintptr_t key = at.key();
    const std::size_t n = memo_used < kMemo ? memo_used : kMemo;
    for (std::size_t k = 0; k < n; ++k) {
      if (memo[k].key == key) return Bracket{Tok::Kind::Class, memo[k].after, &memo[k].set};
    }
    ByteSet set;
    std::uint8_t byte;
    const Tok::Kind kind = read_bracket(at, byte, set);
    if (kind != Tok::Kind::Class) return Bracket{kind, at, nullptr};
    Memo& m = memo[memo_used++ % kMemo];  // the oldest entry makes room
    m.key = key;
    m.after = at;
    m.set = set;
    return Bracket{kind, at, &m.set};
  }
};

// The single-restart wildcard match of one alternative against `text`.
template <class Src>
bool match_alt(const Src& src, std::string_view text) {
  using Pos = typename Src::Pos;
  TokView t{};
  const std::size_t m = text.size();
  Pos tp = src.begin();
  if (m != 0) {
    const auto* s = reinterpret_cast<const std::uint8_t*>(text.data());
    std::size_t si = 0;
    bool restart = false;
    Pos rt = tp;         // token position right after the remembered star
    std::size_t rs = 0;  // bytes before the star's run
    while (si < m) {
      Pos np = tp;
      const bool got = src.read(np, t);
      if (got && t.kind == Tok::Kind::Star) {
        restart = true;
        rt = np;
        rs = si;
        tp = np;
      } else if (got && t.accepts(s[si])) {
        tp = np;
        ++si;
      } else if (!restart) {
        return false;
      } else {
        // The star takes one more byte.
        si = ++rs;
        tp = rt;
      }
    }
  }
  // All bytes consumed: only stars may remain.
  for (;;) {
    if (!src.read(tp, t)) return true;
    if (t.kind != Tok::Kind::Star) return false;
  }
}

// Patterns whose alternatives hold more bytes than this (and more than
// kCompactFactor times the source) keep only their brace structure.
constexpr std::size_t kFullFormBytes = 64 * 1024;
constexpr std::size_t kCompactFactor = 16;

}  // namespace

void compile_alt(std::string_view alt, TokList& out) {
  FlatCursor c{alt.data(), alt.data() + alt.size()};
  ByteSet set;
  while (!c.at_end()) {
    Tok tok{};
    tok.kind = read_token(c, tok.byte, set);
    if (tok.kind == Tok::Kind::Class) {
      tok.cls = static_cast<std::uint32_t>(out.sets.size());
      out.sets.push_back(set);
    }
    out.toks.push_back(tok);
  }
}

bool match_text(std::string_view pattern, std::string_view text) {
  TextSource<FlatCursor> src{FlatCursor{pattern.data(), pattern.data() + pattern.size()}};
  return match_alt(src, text);
}

// The compact form: the brace structure, and whether the first fixed text is
// plain literal bytes that every alternative starts with.
struct Pattern::Compact {
  BraceSplit split;
  bool literal_prefix = false;
};

namespace {

void compile_one(std::string_view alt, std::vector<Tok>& toks, std::vector<ByteSet>& sets) {
  TokList l{std::move(toks), std::move(sets)};
  compile_alt(alt, l);
  toks = std::move(l.toks);
  sets = std::move(l.sets);
}

// Plain bytes: none of them starts anything but a literal.
bool plain_literal(std::string_view s) {
  for (char c : s) {
    if (kSpecial[static_cast<std::uint8_t>(c)]) return false;
  }
  return true;
}

// Plain bytes that cannot close a class either.
bool closing_plain(std::string_view s) { return plain_literal(s) && s.find(']') == std::string_view::npos; }

// Whether `text` ends with a + b.
bool ends_with(std::string_view text, std::string_view a, std::string_view b) {
  if (text.size() < a.size() + b.size()) return false;
  const std::string_view end = text.substr(text.size() - a.size() - b.size());
  return end.substr(0, a.size()) == a && end.substr(a.size()) == b;
}

// Matches one alternative given as segments: a short one laid out flat,
// where it reads fastest, a long one through a segment cursor.
bool match_segments(const Segments& segs, std::string_view text) {
  std::size_t len = 0;
  for (std::size_t k = 0; k < segs.count; ++k) len += segs.seg[k].len;
  char flat[256];  // left uninitialised: only the first `len` bytes are read
  if (len <= sizeof flat) {
    char* w = flat;
    for (std::size_t k = 0; k < segs.count; ++k) {
      if (segs.seg[k].len != 0) std::memcpy(w, segs.seg[k].ptr, segs.seg[k].len);
      w += segs.seg[k].len;
    }
    return match_text(std::string_view(flat, len), text);
  }
  SegCursor cur{&segs, 0, 0};
  cur.settle();
  TextSource<SegCursor> src{cur};
  return match_alt(src, text);
}

// match_once for a pattern that holds a `{`: kept out of line, so that the
// plain path does not pay for this one's stack frame.
[[gnu::noinline]] bool match_braced(std::string_view pattern, std::string_view text) {
  const char* const p = pattern.data();
  const std::size_t n = pattern.size();
  // The brace structure in fixed arrays, found in one pass: pieces between
  // groups and every group's choices. A `{` opens a group only if a `}`
  // follows; until then its choices are tentative.
  constexpr std::size_t kGroups = 8, kChoices = 64;
  Piece prefix[kGroups + 1];
  Piece choice[kChoices];
  std::size_t first[kGroups + 1];  // index of each group's first choice
  std::size_t ngroups = 0, nchoices = 0, count = 1, pos = 0;
  std::size_t open = 0;  // start of the tentative group's current choice
  bool in_group = false;
  for (std::size_t i = 0; i < n; ++i) {
    const char c = p[i];
    if (c == '\\') {
      ++i;
    } else if (!in_group) {
      if (c == '{' && i + 1 < n) {
        if (ngroups == kGroups) return Pattern::compile(pattern).matches(text);
        prefix[ngroups] = pattern.substr(pos, i - pos);
        first[ngroups] = nchoices;
        open = i + 1;
        in_group = true;
      }
    } else if (c == ',' || c == '}') {
      if (nchoices == kChoices) return Pattern::compile(pattern).matches(text);
      choice[nchoices++] = pattern.substr(open, i - open);
      open = i + 1;
      if (c == '}') {
        const std::size_t k = nchoices - first[ngroups];
        if (k > kMaxAlternatives / count) return match_text(pattern, text);  // past the cap: literal
        count *= k;
        ++ngroups;
        pos = i + 1;
        in_group = false;
      }
    }
  }
  // An unclosed `{` (and what follows it) is literal text.
  if (in_group) nchoices = first[ngroups];
  first[ngroups] = nchoices;
  prefix[ngroups] = pattern.substr(pos);
  Segments segs;
  std::size_t digit[kGroups] = {};
  const auto size = [&](std::size_t g) { return first[g + 1] - first[g]; };
  // The next alternative: the last group varies fastest.
  const auto next = [&] {
    for (std::size_t g = ngroups; g-- > 0;) {
      if (++digit[g] < size(g)) break;
      digit[g] = 0;
    }
  };
  // Every alternative that takes choice d of the first group starts with
  // prefix[0] + choice[d]; when those are plain bytes, a text that does not
  // start with them rules out all of these alternatives at once.
  const std::size_t per_first = ngroups == 0 ? count : count / size(0);
  const bool plain_prefix = ngroups > 0 && plain_literal(prefix[0]);
  if (plain_prefix && text.substr(0, prefix[0].len) != std::string_view(prefix[0])) return false;
  const bool tail_plain = ngroups > 0 && closing_plain(prefix[ngroups]);
  for (std::size_t alt = 0; alt < count; ++alt, next()) {
    if (plain_prefix && alt % per_first == 0) {
      const Piece c = choice[first[0] + digit[0]];
      if (plain_literal(c) && text.substr(prefix[0].len, c.len) != std::string_view(c)) {
        // Go to the last alternative of this first choice; next() moves on.
        for (std::size_t g = 1; g < ngroups; ++g) digit[g] = size(g) - 1;
        alt += per_first - 1;
        continue;
      }
    }
    if (tail_plain) {
      // Likewise at the end: choice + tail of plain bytes holding no `]`
      // (so no class opened before can close in them) end the alternative.
      const Piece c = choice[first[ngroups - 1] + digit[ngroups - 1]];
      if (closing_plain(c) && !ends_with(text, std::string_view(c), std::string_view(prefix[ngroups]))) continue;
    }
    segs.count = 0;
    for (std::size_t g = 0; g < ngroups; ++g) {
      segs.seg[segs.count++] = prefix[g];
      segs.seg[segs.count++] = choice[first[g] + digit[g]];
    }
    segs.seg[segs.count++] = prefix[ngroups];
    if (match_segments(segs, text)) return true;
  }
  return false;
}

}  // namespace

bool match_once(std::string_view pattern, std::string_view text) {
  if (std::memchr(pattern.data(), '{', pattern.size()) == nullptr) return match_text(pattern, text);
  return match_braced(pattern, text);
}

Pattern Pattern::compile(std::string_view source) {
  Pattern p;
  p.source_ = std::string(source);
  if (plain_literal(source) && source.find('{') == std::string_view::npos) {
    p.literal_ = true;
    return p;
  }
  if (source.find('{') == std::string_view::npos) {
    // No group can start: the one alternative is the source.
    p.toks_.reserve(source.size());
    compile_one(p.source_, p.toks_, p.sets_);
    return p;
  }
  auto split = split_braces(p.source_);
  if (split && split->count > 1 && split->total_bytes > kFullFormBytes &&
      split->total_bytes / kCompactFactor > source.size()) {
    const bool prefix = plain_literal(split->fixed.front());
    p.split_ = std::make_shared<const Compact>(Compact{std::move(*split), prefix});
    return p;
  }
  if (!split) {
    // Past the cap: the one alternative is the source, braces and all.
    compile_one(p.source_, p.toks_, p.sets_);
  } else if (split->count == 1) {
    std::string alt;
    split->alternative(p.source_, 0, alt);
    compile_one(alt, p.toks_, p.sets_);
  } else {
    std::string alt;
    p.toks_.reserve(split->total_bytes + split->count);
    for (std::size_t i = 0; i < split->count; ++i) {
      if (i != 0) p.toks_.push_back(Tok{Tok::Kind::End, 0, 0});
      split->alternative(p.source_, i, alt);
      compile_one(alt, p.toks_, p.sets_);
    }
  }
  p.toks_.shrink_to_fit();
  return p;
}

Pattern Pattern::compile_compact(std::string_view source) {
  auto split = split_braces(source);
  if (!split) return compile(source);
  Pattern p;
  p.source_ = std::string(source);
  const bool prefix = plain_literal(split->fixed.front());
  p.split_ = std::make_shared<const Compact>(Compact{std::move(*split), prefix});
  return p;
}

std::size_t Pattern::alternative_count() const {
  if (split_) return split_->split.count;
  std::size_t n = 1;
  for (const Tok& t : toks_) n += t.kind == Tok::Kind::End;
  return n;
}

namespace {

// The segments of compact alternative `index`, from fixed text `first` on.
void compact_segments(std::string_view source, const BraceSplit& split, std::size_t index, bool skip_first,
                      Segments& segs) {
  std::size_t digits[16];
  split.digits(index, digits);
  segs.count = 0;
  for (std::size_t g = 0; g < split.groups.size(); ++g) {
    if (g != 0 || !skip_first) segs.seg[segs.count++] = split.fixed[g];
    segs.seg[segs.count++] = split.groups[g][digits[g]].in(source);
  }
  if (!split.groups.empty() || !skip_first) segs.seg[segs.count++] = split.fixed.back();
  if (segs.count == 0) segs.seg[segs.count++] = std::string_view();
}

}  // namespace

bool Pattern::matches_compact(std::string_view text) const {
  const Compact& c = *split_;
  // Every alternative starts with the same plain bytes: compare them once.
  const bool skip = c.literal_prefix;
  if (skip) {
    const std::string& prefix = c.split.fixed.front();
    if (text.substr(0, prefix.size()) != prefix) return false;
    text.remove_prefix(prefix.size());
  }
  Segments segs;
  for (std::size_t i = 0; i < c.split.count; ++i) {
    compact_segments(source_, c.split, i, skip, segs);
    if (match_segments(segs, text)) return true;
  }
  return false;
}

bool Pattern::matches(std::string_view text) const {
  if (literal_) return text == source_;
  if (split_) return matches_compact(text);
  const Tok* begin = toks_.data();
  const Tok* const end = begin + toks_.size();
  for (;;) {
    const Tok* stop = begin;
    while (stop != end && stop->kind != Tok::Kind::End) ++stop;
    CompiledSource src{begin, sets_.data(), static_cast<std::uint32_t>(stop - begin)};
    if (match_alt(src, text)) return true;
    if (stop == end) return false;
    begin = stop + 1;
  }
}

std::vector<TokList> Pattern::alternatives() const {
  std::vector<TokList> out;
  if (split_) {
    std::string alt;
    for (std::size_t i = 0; i < split_->split.count; ++i) {
      split_->split.alternative(source_, i, alt);
      out.emplace_back();
      compile_alt(alt, out.back());
    }
    return out;
  }
  if (literal_) {
    out.emplace_back();
    compile_alt(source_, out.back());
    return out;
  }
  out.emplace_back();
  for (const Tok& k : toks_) {
    TokList& l = out.back();
    if (k.kind == Tok::Kind::End) {
      out.emplace_back();
      continue;
    }
    Tok t = k;
    if (t.kind == Tok::Kind::Class) {
      t.cls = static_cast<std::uint32_t>(l.sets.size());
      l.sets.push_back(sets_[k.cls]);
    }
    l.toks.push_back(t);
  }
  return out;
}

}  // namespace quorvel::core::glob
