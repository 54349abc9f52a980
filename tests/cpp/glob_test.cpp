// Glob dialect and brace expansion: tables of (pattern, text, expected), and
// a cross-check of the matcher against a deliberately simple reference.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "core/glob/brace.hpp"
#include "core/glob/pattern.hpp"

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
    {"*.py", "dir/x.py", true}, {"a*b", "a", false}, {"*x*", "abc", false},
    // Classes.
    {"[\xC3\xA9]", "\xC3\xA9", false}, {"[\xC3\xA9]?", "\xC3\xA9", true}, {"[!a]", "b", true}, {"[!a]", "a", false},
    {"[^a]", "^", true}, {"[^a]", "a", true}, {"[^a]", "b", false}, {"[]]", "]", true}, {"[!]]", "]", false},
    {"[!]]", "x", true}, {"[]a]", "]", true}, {"[]a]", "a", true}, {"[]", "[]", true}, {"[!]", "[!]", true},
    {"[abc", "[abc", true}, {"[", "[", true}, {"[a-]", "a", true}, {"[a-]", "-", true}, {"[-a]", "-", true},
    {"[a-c-e]", "b", true}, {"[a-c-e]", "-", true}, {"[a-c-e]", "e", true}, {"[a-c-e]", "d", false},
    {"[z-a]", "z", false}, {"[z-a]", "a", false}, {"[a\\-z]", "-", true}, {"[a\\-z]", "z", true},
    {"[a\\-z]", "b", false}, {"[\\]]", "]", true}, {"[a\\]", "[a]", true}, {"[a\\]", "a", false},
    {"[\\--0]", "/", true}, {"[\\--0]", "-", true}, {"[a--]", "-", true}, {"[a--]", "a", true},
    {"[--/]", ".", false}, {"[--/]", "/", true}, {"[[*", "[[x", true}, {"[*]", "*", true}, {"[*]", "x", false}, {"[!", "[!", true},
    // Escapes.
    {"\\*", "*", true}, {"\\*", "a", false}, {"\\\\", "\\", true}, {"a\\", "a\\", true}, {"\\", "\\", true},
    // Braces.
    {"{a,b}", "a", true}, {"{a,b}", "b", true}, {"{a,b}", "{a,b}", false}, {"a{}b", "ab", true},
    {"{a,{b,c}}", "a}", true}, {"{a,{b,c}}", "{b}", true}, {"{a,{b,c}}", "c}", true}, {"{a,{b,c}}", "a", false},
    {"\\{a,b}", "{a,b}", true}, {"{a\\,b,c}", "a,b", true}, {"{a\\,b,c}", "c", true}, {"{a,b", "{a,b", true},
    {"a}b", "a}b", true}, {"abc{", "abc{", true}, {"a}{b,c}", "a}c", true}, {"[{a,b}]", "a", true},
    {"[{a,b}]", "b", true}, {"[{]", "{", true}, {"{src,lib}/*.{c,h}", "lib/x.h", true},
};

TEST(Glob, Table) {
  for (const auto& c : kCases) {
    EXPECT_EQ(Pattern::compile(c.pattern).matches(c.text), c.expected) << c.pattern << " vs " << c.text;
    EXPECT_EQ(Pattern::compile_compact(c.pattern).matches(c.text), c.expected) << "compact " << c.pattern;
    EXPECT_EQ(match_once(c.pattern, c.text), c.expected) << "once " << c.pattern;
    if (std::string_view(c.pattern).find('{') == std::string_view::npos) {
      EXPECT_EQ(match_text(c.pattern, c.text), c.expected) << "text " << c.pattern;
    }
  }
}

TEST(Glob, DisplayIsSource) {
  for (const char* s : {"src/{a,b}/*", "[a\\]", "", "\\", "{a,b}{c,d}{e,f}{g,h}{i,j}{k,l}{m,n}{o,p}{q,r}{s,t}{u,v}"}) {
    EXPECT_EQ(Pattern::compile(s).source(), s);
  }
}

TEST(Glob, TokensOfCompileAlt) {
  TokList l;
  compile_alt("a**?[!x]\\", l);
  ASSERT_EQ(l.toks.size(), 6u);
  EXPECT_EQ(l.toks[0].kind, Tok::Kind::Lit);
  EXPECT_EQ(l.toks[1].kind, Tok::Kind::Star);
  EXPECT_EQ(l.toks[2].kind, Tok::Kind::Star);
  EXPECT_EQ(l.toks[3].kind, Tok::Kind::Any);
  EXPECT_EQ(l.toks[4].kind, Tok::Kind::Class);
  EXPECT_FALSE(l.sets[l.toks[4].cls].has('x'));
  EXPECT_TRUE(l.sets[l.toks[4].cls].has(0xFF));
  EXPECT_EQ(l.toks[5].kind, Tok::Kind::Lit);
  EXPECT_EQ(l.toks[5].byte, '\\');
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
  EXPECT_TRUE(match_once(ten.substr(0, 5 * 9), "ababababa"));  // more groups than kept inline
  EXPECT_EQ(p.alternative_count(), 1u);
  EXPECT_TRUE(p.matches(eleven));
  EXPECT_FALSE(p.matches(std::string(11, 'a')));
  EXPECT_TRUE(Pattern::compile(ten).matches("abababaaab"));
  // One group of 1025 choices is past the cap too.
  std::string wide = "{";
  for (int i = 0; i < 1025; ++i) wide += i ? ",x" : "x";
  wide += "}";
  EXPECT_FALSE(expand_braces_capped(wide));
}

TEST(Brace, ManySingleChoiceGroupsAreLinear) {
  std::string s;
  for (int i = 0; i < 100000; ++i) s += "{a}";
  auto got = expand_braces_capped(s);
  ASSERT_TRUE(got);
  ASSERT_EQ(got->size(), 1u);
  EXPECT_EQ((*got)[0], std::string(100000, 'a'));
  EXPECT_TRUE(Pattern::compile(s).matches(std::string(100000, 'a')));
}

TEST(Pattern, CompactFormForLargeAlternatives) {
  // A long name with ten two-way groups keeps only its brace structure.
  std::string big(1 << 17, 'x');
  std::string src = big;
  for (int i = 0; i < 10; ++i) src += "{a,b}";
  const Pattern p = Pattern::compile(src);
  EXPECT_TRUE(p.compact());
  EXPECT_EQ(p.alternative_count(), 1024u);
  EXPECT_TRUE(p.matches(big + "abababbbba"));
  EXPECT_FALSE(p.matches(big + "abababbbbc"));
  const Pattern copy = p;  // copies keep working on their own source
  EXPECT_TRUE(copy.matches(big + "aaaaaaaaaa"));
}

// Classes read on the fly are remembered by position (a star re-reads the
// same tokens on every restart); more classes than the memo holds, and long
// ones, must still give the compiled answer.
TEST(Pattern, RememberedClassesAgreeWithCompiled) {
  std::string many = "*";
  for (int i = 0; i < 12; ++i) {
    many += '[';
    many += static_cast<char>('a' + i);
    many += "-z]";
  }
  std::string long_class = "*[";
  long_class.append(5000, 'a');
  long_class += "]b";
  const std::pair<std::string, std::string> cases[] = {
      {many, "xxxxabcdefghijklm"}, {many, "xxxxabcdefghijkl"}, {many, "mmmmmmmmmmmm"},
      {long_class, std::string(3000, 'x') + "ab"}, {long_class, std::string(3000, 'x') + "xb"},
      {many + "{a,b}", "qqabcdefghijklmb"}, {long_class + "{c,d}", "xxabd"},
      // An unterminated bracket read after more classes than the memo holds
      // must not disturb the remembered ones (the star restarts after it).
      {"*[ab][cd][ef][gh][ij][kl][mn][op][qr]x[", "bdfhjlnprx[bdfhjlnprx["},
      {"*[ab][cd][ef][gh][ij][kl][mn][op][qr]x[", "bdfhjlnprx[bdfhjlnpsx["},
  };
  for (const auto& [pattern, text] : cases) {
    const bool want = Pattern::compile(pattern).matches(text);
    EXPECT_EQ(match_once(pattern, text), want) << pattern.substr(0, 40);
    EXPECT_EQ(Pattern::compile_compact(pattern).matches(text), want) << pattern.substr(0, 40);
    if (pattern.find('{') == std::string::npos) {
      EXPECT_EQ(match_text(pattern, text), want);
    }
  }
  EXPECT_TRUE(match_once(long_class, std::string(3000, 'x') + "ab"));
  EXPECT_TRUE(match_once(many, "xxxxabcdefghijklm"));
}

// --- Cross-check against a reference matcher on every small pattern. -------

// Straightforward backtracking over the tokens of one alternative.
bool reference_alt(const TokList& l, std::size_t t, std::string_view s) {
  if (t == l.toks.size()) return s.empty();
  const Tok& k = l.toks[t];
  if (k.kind == Tok::Kind::Star) {
    for (std::size_t i = 0; i <= s.size(); ++i) {
      if (reference_alt(l, t + 1, s.substr(i))) return true;
    }
    return false;
  }
  if (s.empty()) return false;
  const auto b = static_cast<std::uint8_t>(s[0]);
  const bool ok = k.kind == Tok::Kind::Any || (k.kind == Tok::Kind::Lit && k.byte == b) ||
                  (k.kind == Tok::Kind::Class && l.sets[k.cls].has(b));
  return ok && reference_alt(l, t + 1, s.substr(1));
}

TEST(Pattern, AgreesWithReferenceOnAllSmallPatterns) {
  const std::string alphabet = "ab*?[]!-\\{},";
  const std::string texts_alpha = "ab-]";
  std::vector<std::string> texts{""};
  for (std::size_t len = 1; len <= 3; ++len) {
    std::vector<std::string> next;
    for (const auto& t : texts) {
      if (t.size() + 1 != len) continue;
      for (char c : texts_alpha) next.push_back(t + c);
    }
    texts.insert(texts.end(), next.begin(), next.end());
  }
  std::vector<std::string> patterns{""};
  std::size_t begin = 0;
  for (int len = 1; len <= 4; ++len) {
    const std::size_t end = patterns.size();
    for (std::size_t i = begin; i < end; ++i) {
      for (char c : alphabet) patterns.push_back(patterns[i] + c);
    }
    begin = end;
  }
  for (const auto& pat : patterns) {
    const Pattern p = Pattern::compile(pat);
    const Pattern compact = Pattern::compile_compact(pat);
    const auto alts = p.alternatives();
    for (const auto& text : texts) {
      bool want = false;
      for (const auto& a : alts) want = want || reference_alt(a, 0, text);
      ASSERT_EQ(p.matches(text), want) << "pattern " << pat << " text " << text;
      ASSERT_EQ(compact.matches(text), want) << "compact pattern " << pat << " text " << text;
      ASSERT_EQ(match_once(pat, text), want) << "once pattern " << pat << " text " << text;
    }
  }
}

}  // namespace
}  // namespace quorvel::core::glob
