// The directive grammar, matching and the text form.
#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>

#include "core/parse/parse.hpp"

namespace quorvel::core::parse {
namespace {

using directive::Target;
using K = ParseError::Kind;

struct Parsed {
  const char* spec;
  const char* action;
  std::optional<std::string> kind;
  const char* name;
  std::optional<std::string> path;
  std::optional<std::string> note;
  const char* display;
};

const Parsed kGood[] = {
    {"allow:<fn>foo*@src/**=legacy code", "allow", "fn", "foo*", "src/**", "legacy code",
     "allow:<fn>foo*@src/**=legacy code"},
    {"allow: <*> foo", "allow", std::nullopt, "foo", std::nullopt, std::nullopt, "allow:foo"},
    {"allow:< * >foo", "allow", std::nullopt, "foo", std::nullopt, std::nullopt, "allow:foo"},
    {"allow:foo@", "allow", std::nullopt, "foo", "", std::nullopt, "allow:foo@"},
    {"allow:foo=", "allow", std::nullopt, "foo", std::nullopt, "", "allow:foo="},
    {"allow:foo = because", "allow", std::nullopt, "foo", std::nullopt, " because", "allow:foo= because"},
    {"allow:<a\\>b>x", "allow", "a>b", "x", std::nullopt, std::nullopt, "allow:<a>b>x"},
    {"allow:<\\*>foo", "allow", "*", "foo", std::nullopt, std::nullopt, "allow:<*>foo"},
    {"a\\=b:c", "a\\=b", std::nullopt, "c", std::nullopt, std::nullopt, "a\\=b:c"},
    {"allow:<fn foo", "allow", std::nullopt, "<fn foo", std::nullopt, std::nullopt, "allow:<fn foo"},
    {"allow:<foo", "allow", std::nullopt, "<foo", std::nullopt, std::nullopt, "allow:<foo"},
    {"allow:<", "allow", std::nullopt, "<", std::nullopt, std::nullopt, "allow:<"},
    {"allow:foo<fn>", "allow", std::nullopt, "foo<fn>", std::nullopt, std::nullopt, "allow:foo<fn>"},
    {"allow: foo @ src/* = legacy code ", "allow", std::nullopt, "foo", "src/*", " legacy code ",
     "allow:foo@src/*= legacy code "},
    {"allow:a@b@c", "allow", std::nullopt, "a", "b@c", std::nullopt, "allow:a@b@c"},
    {"allow:a\\@b", "allow", std::nullopt, "a\\@b", std::nullopt, std::nullopt, "allow:a\\@b"},
    {"allow:foo=a=b", "allow", std::nullopt, "foo", std::nullopt, "a=b", "allow:foo=a=b"},
    {"allow:foo:bar", "allow", std::nullopt, "foo:bar", std::nullopt, std::nullopt, "allow:foo:bar"},
    {"allow\\ :x", "allow\\", std::nullopt, "x", std::nullopt, std::nullopt, "allow\\:x"},
    {"\xC2\xA0" "allow\xE3\x80\x80:\xE2\x80\xA8x\xC2\x85", "allow", std::nullopt, "x", std::nullopt, std::nullopt,
     "allow:x"},
    {"a b:x", "a b", std::nullopt, "x", std::nullopt, std::nullopt, "a b:x"},
    {"allow:<k\\\\>x", "allow", "k\\", "x", std::nullopt, std::nullopt, "allow:<k\\>x"},
    {"allow:<k\\>x", "allow", std::nullopt, "<k\\>x", std::nullopt, std::nullopt, "allow:<k\\>x"},
};

TEST(Grammar, Parses) {
  for (const auto& c : kGood) {
    auto r = parse_as(c.spec);
    ASSERT_TRUE(r.ok()) << c.spec << ": " << r.error().message();
    const auto& d = r.value();
    EXPECT_EQ(d.action.token, c.action) << c.spec;
    EXPECT_EQ(d.kind(), c.kind) << c.spec;
    EXPECT_EQ(d.name().source(), c.name) << c.spec;
    EXPECT_EQ(d.path() ? std::optional<std::string>(d.path()->source()) : std::nullopt, c.path) << c.spec;
    EXPECT_EQ(d.note(), c.note) << c.spec;
    // The size a record's parts report is the size that sizing them gives.
    const auto path = d.path() ? std::optional<std::string_view>(d.path()->source()) : std::nullopt;
    const directive::Parts parts{d.kind(), d.name().source(), path, d.note()};
    EXPECT_EQ(d.selector().size(), directive::Selector::Plan(parts).size()) << c.spec;
    EXPECT_EQ(text_form(d), c.display) << c.spec;
  }
}

TEST(Grammar, Errors) {
  const std::pair<const char*, K> cases[] = {
      {"", K::MissingColon},          {"allow foo", K::MissingColon}, {"a=b", K::MissingColon},
      {"a=b:c", K::EqualsBeforeColon}, {":foo", K::EmptyAction},       {" :foo", K::EmptyAction},
      {"allow:<>foo", K::EmptyKind},  {"allow:< >foo", K::EmptyKind}, {"allow:", K::EmptyName},
      {"allow: ", K::EmptyName},      {"allow:=note", K::EmptyName},  {"allow:<fn>", K::EmptyName},
      {"allow:<fn> @src", K::EmptyName}, {"allow:@src", K::EmptyName}, {"a\\:b", K::MissingColon},
  };
  for (const auto& [spec, kind] : cases) {
    auto r = parse_as(spec);
    ASSERT_FALSE(r.ok()) << spec;
    EXPECT_EQ(r.error().kind, kind) << spec;
  }
  EXPECT_EQ((ParseError{K::MissingColon, {}}.message()), "expected `ACTION:\xE2\x80\xA6` (no `:` found)");
  EXPECT_EQ((ParseError{K::EqualsBeforeColon, {}}.message()), "`=` appeared before the action `:`");
  EXPECT_EQ((ParseError{K::EmptyAction, {}}.message()), "empty action");
  EXPECT_EQ((ParseError{K::UnknownAction, "de\"ny"}.message()), "unknown action \"de\\\"ny\"");
  EXPECT_EQ((ParseError{K::EmptyKind, {}}.message()), "empty `<>` kind filter");
  EXPECT_EQ((ParseError{K::EmptyName, {}}.message()), "empty name pattern");
}

// An action type that declines everything but "ok": unknown actions are
// reported before an empty kind or name.
struct OnlyOk {
  static std::optional<OnlyOk> from_token(std::string_view t) {
    return t == "ok" ? std::optional<OnlyOk>(OnlyOk{}) : std::nullopt;
  }
  std::string_view text() const { return "ok"; }
};

TEST(Grammar, DecliningActionType) {
  EXPECT_EQ(parse_as<OnlyOk>(" nope :<>").error().kind, K::UnknownAction);
  EXPECT_EQ(parse_as<OnlyOk>(" nope :<>").error().message(), "unknown action \"nope\"");
  EXPECT_EQ(parse_as<OnlyOk>("nope").error().kind, K::MissingColon);
  EXPECT_EQ(parse_as<OnlyOk>("ok:<>").error().kind, K::EmptyKind);
  EXPECT_TRUE(parse_as<OnlyOk>("ok:x").ok());
}

TEST(Grammar, Unescape) {
  EXPECT_EQ(unescape("a\\>b"), "a>b");
  EXPECT_EQ(unescape("a\\\\b"), "a\\b");
  EXPECT_EQ(unescape("a\\"), "a\\");
  EXPECT_EQ(unescape("\\\xC3\xA9"), "\xC3\xA9");
}

struct MatchCase {
  const char* spec;
  std::vector<std::string_view> names;
  std::optional<std::string_view> qualifier;
  std::vector<std::string_view> scopes;
  bool expected;
};

TEST(Matching, Rule) {
  const MatchCase cases[] = {
      {"a:<fn>foo", {"foo"}, "fn", {}, true},
      {"a:<fn>foo", {"foo"}, "Fn", {}, false},
      {"a:<fn>foo", {"foo"}, "fn ", {}, false},
      {"a:<fn>foo", {"foo"}, std::nullopt, {}, false},
      {"a:foo", {"foo"}, std::nullopt, {}, true},
      {"a:foo", {"foo"}, "anything", {"x"}, true},
      {"a:*", {}, std::nullopt, {}, false},
      {"a:foo@src/*", {"foo"}, std::nullopt, {}, false},
      {"a:foo@src/*", {"foo"}, std::nullopt, {"lib/x", "src/x"}, true},
      {"a:foo@", {"foo"}, std::nullopt, {"x"}, false},
      {"a:foo@", {"foo"}, std::nullopt, {"x", ""}, true},
      {"a:b*", {"x", "bar"}, std::nullopt, {}, true},
      {"a:<\\*>x", {"x"}, "*", {}, true},
      {"a:<\\*>x", {"x"}, "y", {}, false},
      {"a:a\\@b", {"a@b"}, std::nullopt, {}, true},
  };
  for (const auto& c : cases) {
    auto d = parse_as(c.spec);
    ASSERT_TRUE(d.ok());
    const Target t{c.names, c.qualifier, c.scopes};
    EXPECT_EQ(d.value().matches(t), c.expected) << c.spec;
  }
}

// The gate never turns away a directive that matches: random kinds, NAMEs
// (braces, escapes, classes, stars) and targets, against the full rule.
TEST(Matching, GateAdmitsEveryMatch) {
  std::mt19937 rng(11);
  const std::string_view alphabet = "ab{},*?[]\\!-@";
  auto text = [&](std::size_t max) {
    std::string s;
    for (std::size_t n = rng() % (max + 1); n > 0; --n) s += alphabet[rng() % alphabet.size()];
    return s;
  };
  int admitted_matches = 0, turned_away = 0;
  for (int i = 0; i < 20000; ++i) {
    std::string name = text(6);
    if (name.empty()) name.push_back('a');
    std::string kind = text(2);
    const bool has_kind = rng() % 2;
    const directive::Parts parts{has_kind ? std::optional<std::string_view>(kind) : std::nullopt, name,
                                 std::nullopt, std::nullopt};
    const directive::SharedSelector sel(parts);
    std::vector<std::string> owned = {text(4), text(4)};
    const std::string qualifier = text(2);
    const std::vector<std::string_view> names(owned.begin(), owned.end());
    const Target t{names, rng() % 3 ? std::optional<std::string_view>(qualifier) : std::nullopt, {}};
    const bool admits = sel.gate().admits(directive::Sieve(t));
    if (sel.get().matches(t)) {
      EXPECT_TRUE(admits) << "kind " << kind << " name " << name;
      ++admitted_matches;
    }
    turned_away += !admits;
  }
  // Both sides of the property were exercised.
  EXPECT_GT(admitted_matches, 200);
  EXPECT_GT(turned_away, 5000);
}

}  // namespace
}  // namespace quorvel::core::parse
