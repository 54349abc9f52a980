// Glob dialect and brace expansion: tables of (pattern, text, expected), and
// cross-checks of the engine against the simple reference matcher.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "core/glob/brace.hpp"
#include "core/glob/for_tests.hpp"
#include "core/glob/match.hpp"
#include "core/glob/pattern.hpp"
#include "../reference/glob_reference.hpp"

namespace quorvel::core::glob {
namespace {

struct Case {
  const char* pattern;
  const char* text;
  bool expected;
};

const Case kCases[] = {
    // Stars and question marks.
    {"*", "", true}, {"*", "abc/def", true}, {"**", "", true}, {"a*", "a", true}, {"a*", "abc", true},
    {"*a", "ab", false}, {"a*b*c", "abxbc", true}, {"", "", true}, {"", "a", false}, {"?", "", false},
    {"?", "\xC3\xA9", false}, {"??", "\xC3\xA9", true}, {"A*", "abc", false}, {"src/**/*.rs", "src/a/b.rs", true},
    {"*.py", "dir/x.py", true}, {"a*b", "a", false}, {"*x*", "abc", false}, {"?*ab", "ab", false},
    // Classes.
    {"[\xC3\xA9]", "\xC3\xA9", false}, {"[\xC3\xA9]?", "\xC3\xA9", true}, {"[!a]", "b", true}, {"[!a]", "a", false},
    {"[^a]", "^", true}, {"[^a]", "a", true}, {"[^a]", "b", false}, {"[]]", "]", true}, {"[!]]", "]", false},
    {"[!]]", "x", true}, {"[]a]", "]", true}, {"[]a]", "a", true}, {"[]", "[]", true}, {"[!]", "[!]", true},
    {"[abc", "[abc", true}, {"[", "[", true}, {"[a-]", "a", true}, {"[a-]", "-", true}, {"[-a]", "-", true},
    {"[a-c-e]", "b", true}, {"[a-c-e]", "-", true}, {"[a-c-e]", "e", true}, {"[a-c-e]", "d", false},
    {"[z-a]", "z", false}, {"[z-a]", "a", false}, {"[a\\-z]", "-", true}, {"[a\\-z]", "z", true},
    {"[a\\-z]", "b", false}, {"[\\]]", "]", true}, {"[a\\]", "[a]", true}, {"[a\\]", "a", false},
    {"[\\--0]", "/", true}, {"[\\--0]", "-", true}, {"[a--]", "-", true}, {"[a--]", "a", true},
    {"[--/]", ".", false}, {"[--/]", "/", true}, {"[[*", "[[x", true}, {"[*]", "*", true}, {"[*]", "x", false},
    {"[!", "[!", true}, {"[a--b]", "b", true}, {"[a--b]", "-", true}, {"[a--b]", "+", false},
    // Escapes.
    {"\\*", "*", true}, {"\\*", "a", false}, {"\\\\", "\\", true}, {"a\\", "a\\", true}, {"\\", "\\", true},
    // Braces.
    {"{a,b}", "a", true}, {"{a,b}", "b", true}, {"{a,b}", "{a,b}", false}, {"a{}b", "ab", true},
    {"{a,{b,c}}", "a}", true}, {"{a,{b,c}}", "{b}", true}, {"{a,{b,c}}", "c}", true}, {"{a,{b,c}}", "a", false},
    {"\\{a,b}", "{a,b}", true}, {"{a\\,b,c}", "a,b", true}, {"{a\\,b,c}", "c", true}, {"{a,b", "{a,b", true},
    {"a}b", "a}b", true}, {"abc{", "abc{", true}, {"a}{b,c}", "a}c", true}, {"[{a,b}]", "a", true},
    {"[{a,b}]", "b", true}, {"[{]", "{", true}, {"{src,lib}/*.{c,h}", "lib/x.h", true},
    // Brackets across brace boundaries, and joins through empty and star choices.
    {"x[{],a}b]", "x]", true}, {"x[{],a}b]", "xb", true}, {"x[{],a}b]", "xc", false}, {"x[{],a}b]", "xa", true},
    {"{,*}{a,}", "", true}, {"{,*}{a,}", "zzz", true}, {"x{,*}y", "xy", true}, {"x{,*}y", "xqqy", true},
    {"x{*,}{,*}", "x", true}, {"{a,b}{c,d}", "bd", true}, {"{a,b}{c,d}", "bb", false},
    {"{,[}a][b{],}", "ab", true}, {"{,[}a][b{],}", "a[b", true}, {"a[b", "a[b", true}, {"a[b{],}", "ab", true},
};

TEST(Glob, Table) {
  for (const auto& c : kCases) {
    EXPECT_EQ(Pattern::compile(c.pattern).matches(c.text), c.expected) << c.pattern << " vs " << c.text;
    EXPECT_EQ(match_once(c.pattern, c.text), c.expected) << "once " << c.pattern << " vs " << c.text;
    EXPECT_EQ(reference::glob_match(c.pattern, c.text), c.expected) << "reference " << c.pattern;
    // The same pattern laid out in memory of the caller's, as bytes.
    const PatternPlan plan(c.pattern);
    std::vector<std::uint64_t> mem(plan.size() / 8 + 1, 0xA5A5A5A5A5A5A5A5u);
    const PatternView view = plan.emit(mem.data());
    EXPECT_EQ(view.size(), plan.size());
    EXPECT_EQ(mem.back(), 0xA5A5A5A5A5A5A5A5u) << "wrote past its size: " << c.pattern;
    std::vector<std::uint64_t> moved(mem);
    mem.assign(mem.size(), 0);
    EXPECT_EQ(PatternView(moved.data()).matches(c.text), c.expected) << "view " << c.pattern << " vs " << c.text;
    EXPECT_EQ(std::string_view(PatternView(moved.data()).source()), c.pattern);
  }
}

TEST(Glob, DisplayIsSource) {
  for (const char* s : {"src/{a,b}/*", "[a\\]", "", "\\", "{a,b}{c,d}{e,f}{g,h}{i,j}{k,l}{m,n}{o,p}{q,r}{s,t}{u,v}"}) {
    const Pattern p = Pattern::compile(s);
    EXPECT_EQ(std::string_view(p.source()), s);
    const std::string copy = p.source();
    EXPECT_EQ(copy, s);
  }
  EXPECT_EQ(std::string_view(Pattern().source()), "");
}

TEST(Glob, CopiesShareAndOutliveTheOriginal) {
  std::vector<Pattern> copies;
  {
    const Pattern p = Pattern::compile("{src,lib}/*.{c,h}");
    copies.assign(3, p);
    Pattern moved = std::move(copies[2]);
    copies[2] = moved;
    copies[1] = copies[1];  // self-assignment keeps the block
  }
  for (const auto& p : copies) {
    EXPECT_TRUE(p.matches("lib/x.h"));
    EXPECT_FALSE(p.matches("lib/x.o"));
    EXPECT_EQ(std::string_view(p.source()), "{src,lib}/*.{c,h}");
  }
  EXPECT_TRUE(Pattern().matches(""));
  EXPECT_FALSE(Pattern().matches("a"));
}

using Alts = std::vector<std::string>;

TEST(Brace, Expansions) {
  const std::pair<const char*, Alts> cases[] = {
      {"{a,b}", {"a", "b"}},
      {"{a}", {"a"}},
      {"{}", {""}},
      {"a{}b", {"ab"}},
      {"{a,}", {"a", ""}},
      {"{,}", {"", ""}},
      {"{a,{b,c}}", {"a}", "{b}", "c}"}},
      {"\\{a,b}", {"\\{a,b}"}},
      {"{a\\,b,c}", {"a\\,b", "c"}},
      {"{a,b", {"{a,b"}},
      {"a}b", {"a}b"}},
      {"abc{", {"abc{"}},
      {"a}{b,c}", {"a}b", "a}c"}},
      {"[{a,b}]", {"[a]", "[b]"}},
      {"x{a,b}y{1,2}", {"xay1", "xay2", "xby1", "xby2"}},
      {"{a,a}", {"a", "a"}},
      {"{a,b}\\}{c,d}", {"a\\}c", "a\\}d", "b\\}c", "b\\}d"}},
      {"{x}{a,b}{y}z{}", {"xayz", "xbyz"}},
  };
  for (const auto& [src, want] : cases) {
    auto got = expand_braces_capped(src);
    ASSERT_TRUE(got) << src;
    EXPECT_EQ(*got, want) << src;
  }
}

TEST(Brace, Cap) {
  std::string ten, eleven;
  for (int i = 0; i < 10; ++i) ten += "{a,b}";
  eleven = ten + "{a,b}";
  ASSERT_TRUE(expand_braces_capped(ten));
  EXPECT_EQ(expand_braces_capped(ten)->size(), 1024u);
  EXPECT_FALSE(expand_braces_capped(eleven));
  EXPECT_FALSE(expand_braces_capped("{a,b,c,d,e,f}{a,b,c,d,e,f}{a,b,c,d,e,f}{a,b,c,d,e,f}"));
  // Past the cap the source is its own literal alternative.
  const Pattern p = Pattern::compile(eleven);
  EXPECT_TRUE(match_once(eleven, eleven));
  EXPECT_EQ(for_tests::alternative_count(eleven), 1u);
  EXPECT_EQ(for_tests::alternative_count(ten), 1024u);
  EXPECT_TRUE(p.matches(eleven));
  EXPECT_FALSE(p.matches(std::string(11, 'a')));
  EXPECT_TRUE(Pattern::compile(ten).matches("abababaaab"));
  EXPECT_FALSE(Pattern::compile(ten).matches("abababaaac"));
  // One group of 1024 choices is at the cap; 1025 are past it.
  for (int k : {1024, 1025}) {
    std::string wide = "{";
    for (int i = 0; i < k; ++i) {
      if (i) wide += ',';
      wide += std::to_string(i);
    }
    wide += "}";
    EXPECT_EQ(expand_braces_capped(wide).has_value(), k == 1024);
    EXPECT_EQ(Pattern::compile(wide).matches("1023"), k == 1024);
    EXPECT_EQ(Pattern::compile(wide).matches(wide), k == 1025);
  }
}

TEST(Brace, ManySingleChoiceGroupsAreLinear) {
  std::string s;
  for (int i = 0; i < 100000; ++i) s += "{a}";
  auto got = expand_braces_capped(s);
  ASSERT_TRUE(got);
  ASSERT_EQ(got->size(), 1u);
  EXPECT_EQ((*got)[0], std::string(100000, 'a'));
  EXPECT_TRUE(Pattern::compile(s).matches(std::string(100000, 'a')));
  EXPECT_TRUE(match_once(s, std::string(100000, 'a')));
}

#ifdef QUORVEL_GLOB_STEPS
// Work counted by the engine itself (this build only): bytes the compiler
// scans, and words or atoms a match steps.
struct Work {
  std::size_t compile, match;
};
Work work_of(const std::string& pattern, const std::string& text, bool want) {
  counters::compile_steps = counters::match_steps = 0;
  const Pattern p = Pattern::compile(pattern);
  const std::size_t compile = counters::compile_steps;
  counters::match_steps = 0;
  EXPECT_EQ(p.matches(text), want) << pattern.substr(0, 40);
  return {compile, counters::match_steps};
}

// A class spanning many groups is one reading per control state: its
// compile work and match work stay near those of a class over one group,
// and a 30 kB ranged class behind ten groups compiles like its escaped twin.
TEST(Engine, WorkIsBoundedByTheSource) {
  std::string text;
  for (int i = 0; i < 10000; ++i) text += "cf";
  std::string nine = "*[", one = "*[{c,d}";
  for (char c = 'c'; c < 's'; c += 2) nine += std::string("{") + c + "," + static_cast<char>(c + 1) + "}";
  one += std::string(nine.size() - one.size() - 1, 'e');
  nine += "]*{y,z}", one += "]*{y,z}";
  const Work w9 = work_of(nine, text, false), w1 = work_of(one, text, false);
  EXPECT_LE(w9.match, 3 * w1.match) << "nine groups in the class: " << w9.match << " steps, one: " << w1.match;
  std::string ranged = "[", twin = "\\[";
  for (int i = 0; i < 10; ++i) ranged += "{,c}", twin += "{,c}";
  for (int i = 0; i < 10000; ++i) ranged += "\x01-\x7f", twin += "\x01-\x7f";
  ranged += "]", twin += "]";
  const Work wr = work_of(ranged, "x", true), wt = work_of(twin, "x", false);
  EXPECT_LE(wr.compile, 10 * wt.compile);
  EXPECT_LE(wr.compile, 8 * ranged.size());
  // Many classes open at once (one per choice) read the long rest once.
  std::string forks = "{";
  for (int i = 0; i < 500; ++i) {
    forks += i ? ",[" : "[";
    forks += std::to_string(i);
  }
  forks += '}';
  forks.append(20000, 'x').push_back(']');
  EXPECT_LE(work_of(forks, "x", true).compile, 8 * forks.size());
}
#endif

// The compiled form of every pattern stays within 64 + 8 bytes per source byte.
void expect_compact(const std::string& pattern) {
  EXPECT_LE(PatternPlan(pattern).size(), 64 + 8 * pattern.size()) << pattern.substr(0, 40);
}

// Memory: the compiled form stays within 64 + 8 bytes per source byte for
// every shape, braces included.
TEST(Engine, BytesKeptPerSourceByte) {
  const std::string x(200000, 'x');
  std::string many_classes, ranges, pairs, choices = "{";
  for (int i = 0; i < 20000; ++i) many_classes += "[ab]";
  for (int i = 0; i < 20000; ++i) ranges += "[!a-z]";
  for (int i = 0; i < 20000; ++i) pairs += std::string("[") + std::string(1, static_cast<char>('a' + i % 26)) + "b]?*";
  for (int i = 0; i < 1024; ++i) {
    if (i) choices += ',';
    choices.append(100, 'c');
  }
  choices += "}";
  std::string long_class = std::string("*[") + std::string(100000, 'b') + "a]x";
  const std::string families[] = {x,
                                  x + "{a,b}{a,b}{a,b}{a,b}",
                                  "*" + x + "*",
                                  many_classes,
                                  ranges,
                                  pairs,
                                  choices,
                                  long_class,
                                  std::string(100000, '[') + "x",
                                  "{a,b}{a,b}{a,b}{a,b}{a,b}{a,b}{a,b}{a,b}{a,b}{a,b}" + x,
                                  // short, ten groups straddling a word boundary: the fixed part at its largest
                                  "*aaaaaaaAaaaaaaa{b,c}{b,c}{b,c}{b,c}{b,c}{b,c}{b,c}{b,c}{b,c}{b,c}?"};
  // A literal or single-star pattern keeps its source and at most 32 bytes
  // (and its literal bytes again when an escape makes them differ).
  for (const std::string& s : std::vector<std::string>{"foo", "*.py", "src/*", "a*", x, "*" + x}) {
    EXPECT_LE(Pattern::compile(s).bytes_kept(), s.size() + 32) << s.substr(0, 30);
  }
  for (const auto& f : families) {
    const Pattern p = Pattern::compile(f);
    EXPECT_EQ(p.bytes_kept(), PatternPlan(f).size() + 8);
    expect_compact(f);
  }
}

// --- Cross-checks against the reference. -----------------------------------

// All texts over `alphabet` of at most `max_len` bytes.
std::vector<std::string> all_texts(std::string_view alphabet, std::size_t max_len) {
  std::vector<std::string> out{""};
  for (std::size_t begin = 0, len = 1; len <= max_len; ++len) {
    const std::size_t end = out.size();
    for (std::size_t i = begin; i < end; ++i) {
      for (char c : alphabet) out.push_back(out[i] + c);
    }
    begin = end;
  }
  return out;
}

// Whether `text` matches `pattern` by the reference, from pre-tokenized alternatives.
bool reference_match(const std::vector<std::vector<reference::Token>>& alts, std::string_view text) {
  for (const auto& a : alts) {
    if (reference::match_alt(a, text)) return true;
  }
  return false;
}

// The reference's tokens of every alternative of `pattern` (the pattern
// itself past the cap).
std::vector<std::vector<reference::Token>> reference_alternatives(std::string_view pattern) {
  std::vector<std::vector<reference::Token>> alts;
  if (const auto expanded = reference::expand(pattern)) {
    for (const auto& a : *expanded) alts.push_back(reference::tokens(a));
  } else {
    alts.push_back(reference::tokens(pattern));
  }
  return alts;
}

// Every pattern of up to five bytes over a small alphabet holding every
// metacharacter, against every short text; brace expansion too.
TEST(Engine, AgreesWithReferenceOnAllSmallPatterns) {
  const auto patterns = all_texts("ab*?[]!-\\{},", 5);
  const auto texts = all_texts("ab-]{,[\\", 3);
  const auto short_texts = all_texts("ab-]{,[", 2);
  for (const auto& pat : patterns) {
    const auto ref_alts = reference::expand(pat);
    const auto got_alts = expand_braces_capped(pat);
    ASSERT_EQ(ref_alts, got_alts) << pat;
    std::vector<std::vector<reference::Token>> alts;
    for (const auto& a : *ref_alts) alts.push_back(reference::tokens(a));
    const Pattern p = Pattern::compile(pat);
    const auto& sample = pat.size() <= 4 ? texts : short_texts;
    // match_once compiles on every call: it is checked on one text per
    // pattern, a different one each time.
    const std::string& once_text = sample[std::hash<std::string>{}(pat) % sample.size()];
    for (const auto& text : sample) {
      const bool want = reference_match(alts, text);
      ASSERT_EQ(p.matches(text), want) << "pattern " << pat << " text " << text;
      if (&text == &once_text) {
        ASSERT_EQ(match_once(pat, text), want) << "once pattern " << pat << " text " << text;
      }
    }
  }
}

// Random longer patterns: many positions (several words), groups across word
// boundaries, long literal runs, classes, and texts made from the pattern's
// own bytes so that matches are frequent.
TEST(Engine, AgreesWithReferenceOnRandomLongPatterns) {
  std::mt19937 rng(12345);
  const std::vector<std::string> pieces = {"a", "b", "ab", "*", "?", "[ab]", "[!a]", "{a,b}", "{,b*}", "{ab,ba,}",
                                           "aaaaaaaaaaaaaaaaaaaa", "[", "]", "\\", "\\*", "{", "}", ",", "[a-b]"};
  for (int round = 0; round < 150; ++round) {
    std::string pat;
    const int n = 1 + static_cast<int>(rng() % 40);
    for (int i = 0; i < n; ++i) pat += pieces[rng() % pieces.size()];
    const auto alts = reference_alternatives(pat);
    const Pattern p = Pattern::compile(pat);
    for (int k = 0; k < 20; ++k) {
      std::string text;
      const int len = static_cast<int>(rng() % 120);
      for (int i = 0; i < len; ++i) text += "ab[]*"[rng() % (k < 15 ? 2 : 5)];
      const bool want = reference_match(alts, text);
      ASSERT_EQ(p.matches(text), want) << "pattern " << pat << " text " << text;
      ASSERT_EQ(match_once(pat, text), want) << "once pattern " << pat << " text " << text;
    }
  }
}

// A text that the alternative `alt` matches, its bytes drawn from `bytes`
// where the tokens allow (a star takes up to three; a token that accepts
// none of them takes 'z').
std::string text_of(const std::vector<reference::Token>& alt, std::string_view bytes, std::mt19937& rng) {
  std::string text;
  for (const reference::Token& t : alt) {
    if (t.kind == 's') {
      for (unsigned r = rng() % 4; r > 0; --r) text += bytes[rng() % bytes.size()];
    } else if (t.kind == 'l') {
      text += static_cast<char>(t.byte);
    } else {
      std::string can;
      for (char c : bytes) {
        if (t.kind == '?' || t.member[static_cast<unsigned char>(c)]) can += c;
      }
      text += can.empty() ? 'z' : can[rng() % can.size()];
    }
  }
  return text;
}

// Patterns of many classes (past the count at which the matcher reads
// classes a column per byte) among stars, groups and literals, against
// texts whose bytes the classes tell apart.
TEST(Engine, ManyClassesAgreeWithReference) {
  std::mt19937 rng(4242);
  const std::vector<std::string> pieces = {"[ab]", "[!a]", "[a-c]", "[!b-c]", "[c]", "*", "?", "a", "{[a],b}", "{c,}"};
  for (int round = 0; round < 40; ++round) {
    std::string pat;
    const int n = 70 + static_cast<int>(rng() % 90);
    for (int i = 0; i < n; ++i) pat += pieces[rng() % (i % 7 == 0 ? pieces.size() : 5)];
    const auto alts = reference_alternatives(pat);
    const Pattern p = Pattern::compile(pat);
    int hits = 0;
    for (int k = 0; k < 12; ++k) {
      // A text that one alternative matches, then for half of them one byte
      // changed: matches and near misses.
      std::string text = text_of(alts[rng() % alts.size()], "abcd", rng);
      if (k % 2 == 1 && !text.empty()) text[rng() % text.size()] = "abcd"[rng() % 4];
      const bool want = reference_match(alts, text);
      hits += want;
      ASSERT_EQ(p.matches(text), want) << "pattern " << pat << " text " << text;
    }
    EXPECT_GT(hits, 0) << pat;
  }
}

// Classes accept exactly their members, whatever their runs: ranges or a
// map, runs that cross the 64-byte words of the set, bytes 0 and 255, and
// their negations. Every member is written escaped, so any byte may be one.
TEST(Engine, ClassesAcceptExactlyTheirMembers) {
  std::mt19937 rng(777);
  const std::vector<std::vector<int>> fixed = {{0}, {255}, {63, 64}, {127, 128}, {0, 255}, {62, 63, 64, 65, 191, 192},
                                               {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}};
  std::vector<std::vector<int>> sets = fixed;
  for (int round = 0; round < 60; ++round) {
    std::vector<int> members;
    const int n = 2 + static_cast<int>(rng() % 24);  // 2 to 25 members: up to about 25 runs
    for (int i = 0; i < n; ++i) members.push_back(static_cast<int>(rng() % 256));
    sets.push_back(members);
  }
  for (const auto& members : sets) {
    std::string body;
    std::vector<bool> in(256, false);
    for (const int m : members) {
      body += '\\';
      body += static_cast<char>(m);
      in[m] = true;
    }
    for (const bool negated : {false, true}) {
      const std::string pat = std::string(negated ? "[!" : "[") + body + "]*x";
      const Pattern p = Pattern::compile(pat);
      for (int c = 0; c < 256; ++c) {
        const std::string text = std::string(1, static_cast<char>(c)) + "zx";
        ASSERT_EQ(p.matches(text), in[c] != negated) << "class of " << members.size() << " members, byte " << c;
        ASSERT_EQ(reference::glob_match(pat, text), in[c] != negated) << "reference, byte " << c;
        // After a star the scan skips to the bytes the class accepts.
        std::string skipped(40, 'z'), after_star = "*";
        skipped.push_back(static_cast<char>(c));
        skipped.push_back('y');
        after_star.append(pat, 0, pat.size() - 2).push_back('y');
        ASSERT_EQ(Pattern::compile(after_star).matches(skipped), in[c] != negated)
            << "after a star, byte " << c;
      }
    }
  }
}

// Groups placed at every offset around a word boundary of the position set:
// a choice that starts (or ends) on either side of bit 64, with and without
// a leading star, against texts made from the pattern's own bytes.
TEST(Engine, GroupsAcrossWordBoundariesAgreeWithReference) {
  const char* const groups[] = {"{b,*c}", "{*b,c?}", "{,b}", "{bb,*}", "{b,c}{*,d}"};
  std::mt19937 rng(99);
  for (std::size_t lead = 56; lead <= 70; ++lead) {
    for (const char* g : groups) {
      for (const char* tail : {"", "e", "*e"}) {
        const std::string pat = std::string(lead, 'a') + g + tail;
        const Pattern p = Pattern::compile(pat);
        for (int k = 0; k < 40; ++k) {
          std::string text(lead - (k % 3 == 0 ? 1 : 0), 'a');
          const int extra = static_cast<int>(rng() % 5);
          for (int i = 0; i < extra; ++i) text += "abcde"[rng() % 5];
          const bool want = reference::glob_match(pat, text);
          ASSERT_EQ(p.matches(text), want) << "pattern " << pat << " text " << text;
          ASSERT_EQ(match_once(pat, text), want) << "once pattern " << pat << " text " << text;
        }
      }
    }
  }
}

// Brackets and braces interleaved: a `[` before a group whose choice holds
// a `]`, classes that open in one alternative and close in another, groups
// inside classes, with escapes, ranges and `!`; texts are drawn from an
// alternative's own tokens (then, for half of them, one byte changed).
TEST(Engine, InterleavedBracketsAndBracesAgreeWithReference) {
  std::mt19937 rng(2323);
  const std::vector<std::string> pieces = {"[", "[!", "]", "{", "}", ",", "\\", "a", "b", "-", "*", "?", "!",
                                           "{]", "[{", ",]", "]}", "{,", "a-b", "{a,]}", "[{,]}", "\\]"};
  int hits = 0;
  for (int round = 0; round < 6000; ++round) {
    std::string pat;
    const int n = 1 + static_cast<int>(rng() % 12);
    for (int i = 0; i < n; ++i) pat += pieces[rng() % pieces.size()];
    const auto alts = reference_alternatives(pat);
    const Pattern p = Pattern::compile(pat);
    expect_compact(pat);
    for (int k = 0; k < 8; ++k) {
      std::string text = text_of(alts[rng() % alts.size()], "ab]-[!{},\\", rng);
      if (k % 2 == 1 && !text.empty()) text[rng() % text.size()] = "ab]-["[rng() % 5];
      const bool want = reference_match(alts, text);
      hits += want;
      ASSERT_EQ(p.matches(text), want) << "pattern " << pat << " text " << text;
      if (k == 0) {
        ASSERT_EQ(match_once(pat, text), want) << "once pattern " << pat << " text " << text;
      }
    }
  }
  EXPECT_GT(hits, 6000);
}

// The adversarial shapes answer right (their speed is measured in bench/).
TEST(Engine, AdversarialShapes) {
  std::string p1 = std::string("*") + std::string(1000, 'a');
  for (int i = 0; i < 10; ++i) p1 += "{b,c}";
  EXPECT_FALSE(match_once(p1 + "?", std::string(10000, 'a')));
  EXPECT_TRUE(match_once(p1, std::string(10000, 'a') + "bcbcbcbcbb"));
  EXPECT_FALSE(match_once(std::string("*") + std::string(3200, '[') + "x", std::string(3200, '[') + "y"));
  EXPECT_TRUE(match_once(std::string("*") + std::string(3200, '[') + "x", std::string("q") + std::string(3200, '[') + "x"));
  std::string nine = "*";
  for (int i = 0; i < 9; ++i) nine += std::string("[") + std::string(10000, 'b') + "a]";
  EXPECT_FALSE(match_once(nine + "x", std::string(100000, 'a') + "y"));
  EXPECT_TRUE(match_once(nine + "x", std::string(100000, 'a') + "x"));
  EXPECT_TRUE(match_once(nine + "*", std::string(100000, 'a') + "y"));
}

}  // namespace
}  // namespace quorvel::core::glob
