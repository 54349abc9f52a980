// The lint policy and the ladder: verbs, saturation, and the shared combine.
#include <map>
#include <gtest/gtest.h>

#include "core/ladder/ladder.hpp"
#include "core/parse/parse.hpp"
#include "lint/lint.hpp"

namespace quorvel {
namespace {

using core::directive::Target;
using lint::LintAction;
using lint::Severity;

TEST(Lint, FromToken) {
  const std::pair<const char*, std::optional<LintAction>> cases[] = {
      {"SUPPRESS", LintAction::Suppress},   {" Suppress ", LintAction::Suppress},
      {"sup-press", LintAction::Suppress},  {"-suppress-", LintAction::Suppress},
      {"Sup--Press", LintAction::Suppress}, {"De-Escalate", LintAction::DeEscalate},
      {"DEESCALATE", LintAction::DeEscalate}, {"escalate", LintAction::Escalate},
      {"note", LintAction::Note},           {"SET", LintAction::Set},
      {"Settings", LintAction::Set},        {"set-tings", LintAction::Set},
      {"\xC2\xA0note\xE3\x80\x80", LintAction::Note},
      {"de_escalate", std::nullopt},        {"de escalate", std::nullopt},
      {"notes", std::nullopt},              {"sup", std::nullopt},
      {"", std::nullopt},                   {"---", std::nullopt},
      {"NOTE\xC3\xA9", std::nullopt},       {"s\xC3\x89t", std::nullopt},
      {"suppress--------------------------------", LintAction::Suppress},
  };
  for (const auto& [token, want] : cases) EXPECT_EQ(LintAction::from_token(token), want) << token;
}

std::vector<core::directive::Directive<LintAction>> lint_directives(std::initializer_list<const char*> specs) {
  // Parsed as lint directives, and re-typed from verbatim ones: both agree.
  std::vector<core::directive::Directive<LintAction>> out;
  for (const char* s : specs) {
    out.push_back(core::parse::parse_as<LintAction>(s).value());
    const auto retyped = lint::as_lint(core::parse::parse_as(s).value());
    EXPECT_TRUE(retyped && retyped->action == out.back().action &&
                core::directive::text_form(*retyped) == core::directive::text_form(out.back()))
        << s;
  }
  return out;
}

TEST(Lint, Fold) {
  const std::string_view names[] = {"long-line"};
  const std::string_view scopes[] = {"tests/test_a"};
  const Target t{names, std::nullopt, scopes};
  struct Case {
    Severity current;
    std::initializer_list<const char*> specs;
    Severity severity;
    bool dropped;
    std::vector<std::string> notes;
  };
  const Case cases[] = {
      {Severity::Warning, {}, Severity::Warning, false, {}},
      {Severity::Error, {"escalate:*"}, Severity::Error, false, {}},
      {Severity::Info, {"deescalate:*"}, Severity::Info, false, {}},
      {Severity::Error, {"de-escalate:*", "deescalate:*"}, Severity::Info, false, {}},
      {Severity::Error, {"de-escalate:*", "deescalate:*", "deescalate:*"}, Severity::Info, false, {}},
      {Severity::Error, {"escalate:*", "deescalate:*"}, Severity::Error, false, {}},
      {Severity::Info, {"escalate:*", "escalate:*", "escalate:*", "escalate:*", "escalate:*", "deescalate:*"},
       Severity::Error, false, {}},
      {Severity::Warning, {"suppress:*", "escalate:*"}, Severity::Error, true, {}},
      {Severity::Warning, {"set:*=x", "note:*", "escalate:*=up", "note:*="}, Severity::Error, false, {"up", ""}},
      {Severity::Warning, {"escalate:other=no", "note:*=a", "note:*=a"}, Severity::Warning, false, {"a", "a"}},
      {Severity::Warning, {"escalate:long-*=promoted", "suppress:long-line@tests/*", "note:<py>*=see docs"},
       Severity::Error, true, {"promoted"}},
  };
  for (const auto& c : cases) {
    const auto f = lint::fold(c.current, t, lint_directives(c.specs));
    EXPECT_EQ(f.severity, c.severity);
    EXPECT_EQ(f.dropped, c.dropped);
    EXPECT_EQ(f.notes, c.notes);
  }
}

// The folds reach directives through an accessor, as the module does with
// its objects: verbatim records whose lint verb is known beside them. Many
// matches (more than the walk keeps waiting) between non-matches keep their
// notes in order, and agree with the fold over re-typed records.
struct Verbatim {
  std::optional<LintAction> verb;
  const core::directive::Directive<>* record;
};
struct VerbatimAccess {
  static void prefetch(const Verbatim&) {}
  static std::optional<LintAction> verb(const Verbatim& v) { return v.verb; }
  static const core::directive::Gate& gate(const Verbatim& v) { return v.record->gate(); }
  static void prefetch_match(const Verbatim& v) { v.record->selector().prefetch(); }
  static const core::directive::Selector& selector(const Verbatim& v) { return v.record->selector(); }
  static std::string_view action(const Verbatim& v) { return v.record->action.text(); }
  static std::uint32_t action_hash(const Verbatim& v) { return core::ladder::Vocabulary::hash(action(v)); }
};

TEST(Lint, FoldThroughAnAccessor) {
  std::vector<std::string> specs;
  for (int i = 0; i < 300; ++i) {
    const char* verbs[] = {"note", "escalate", "suppress", "set", "foo", "De-Escalate"};
    const char* names[] = {"long-*", "x*", "*", "l?ng-line", "{a,long}-line", "\\long-line", "[l]ong-line"};
    std::string spec = verbs[i % 6];
    spec += i % 5 == 0 ? ":<py>" : ":";
    spec += names[i % 7];
    spec += i % 4 == 0 ? "@tests/*=n" : "=n";
    spec += std::to_string(i);
    specs.push_back(spec);
  }
  std::vector<core::directive::Directive<>> records;
  std::vector<core::directive::Directive<LintAction>> retyped;
  std::vector<Verbatim> verbatim;
  for (const auto& s : specs) records.push_back(core::parse::parse_as(s).value());
  for (const auto& r : records) {
    const auto lint = lint::as_lint(r);
    if (lint) retyped.push_back(*lint);
    verbatim.push_back(Verbatim{LintAction::from_token(r.action.token), &r});
  }
  const std::string_view names[] = {"long-line"};
  const std::string_view scopes[] = {"tests/a"};
  for (const auto& qualifier : {std::optional<std::string_view>(), std::optional<std::string_view>("py")}) {
    const Target t{names, qualifier, scopes};
    std::vector<std::string> notes;
    const auto got = lint::fold(Severity::Warning, t, verbatim, VerbatimAccess{},
                                [&](std::string_view n) { notes.emplace_back(n); });
    const auto want = lint::fold(Severity::Warning, t, retyped);
    EXPECT_EQ(got.severity, want.severity);
    EXPECT_EQ(got.dropped, want.dropped);
    EXPECT_EQ(notes, want.notes);
    // The reference: every counted directive that matches, in order.
    std::vector<std::string> expected;
    for (const auto& v : verbatim) {
      if (v.verb && v.verb->counted() && v.record->matches(t)) expected.emplace_back(*v.record->note());
    }
    EXPECT_EQ(notes, expected);
    EXPECT_GT(expected.size(), 40u);
    // The ladder fold over the same items counts every matching directive.
    const core::ladder::Ladder l({"a", "b", "c"});
    core::ladder::Vocabulary vocab;
    std::vector<std::string> ladder_notes;
    core::ladder::fold(l, "a", t, verbatim, vocab, VerbatimAccess{},
                       [&](std::string_view n) { ladder_notes.emplace_back(n); });
    std::size_t matching = 0;
    for (const auto& v : verbatim) matching += v.record->matches(t);
    EXPECT_EQ(ladder_notes.size(), matching);
  }
}

TEST(Lint, SettingsAndSeverityText) {
  const auto s = lint::settings(lint_directives({"set:width=100", "suppress:x", "Settings:mode", "set:<k>a@p=1"}));
  ASSERT_EQ(s.size(), 3u);
  EXPECT_EQ(s[0].key + "=" + s[0].value, "width=100");
  EXPECT_EQ(s[1].key + "=" + s[1].value, "mode=");
  EXPECT_EQ(s[2].key + "=" + s[2].value, "a=1");
  EXPECT_EQ(lint::severity_from_text("WaRnInG"), Severity::Warning);
  EXPECT_EQ(lint::severity_from_text(" info"), std::nullopt);
  for (const char* other : {"INFO", "iNfO", "Error", "eRROR", "warninG"}) EXPECT_TRUE(lint::severity_from_text(other));
  for (const char* other : {"inf", "infos", "inf\x0f", "error\x20", "w@rning", "warnin\xc7", ""}) {
    EXPECT_EQ(lint::severity_from_text(other), std::nullopt) << other;
  }
  EXPECT_EQ(lint::unknown_severity_message("FATAL"),
            "unknown severity \"fatal\"; expected \"error\", \"warning\", or \"info\"");
  EXPECT_EQ(lint::unknown_severity_message(""), "unknown severity \"\"; expected \"error\", \"warning\", or \"info\"");
}

TEST(Ladder, PositionAndStep) {
  const core::ladder::Ladder l({"draft", "review", "final"});
  EXPECT_EQ(l.position("review"), 1u);
  EXPECT_EQ(l.position("Draft"), std::nullopt);
  EXPECT_EQ(l.position(""), std::nullopt);
  const std::tuple<const char*, std::int64_t, const char*> steps[] = {
      {"draft", 1, "review"},   {"draft", 5, "final"},        {"final", -1, "review"},
      {"review", -100, "draft"}, {"review", 0, "review"},     {"final", INT32_MIN, "draft"},
      {"draft", INT32_MAX, "final"}, {"nowhere", 3, "nowhere"}, {"final", INT64_MIN, "draft"},
      {"draft", INT64_MAX, "final"},
  };
  for (const auto& [from, delta, to] : steps) EXPECT_EQ(l.step(from, delta), to) << from << " " << delta;
  const core::ladder::Ladder dup({"a", "b", "a"});
  EXPECT_EQ(dup.position("a"), 0u);
  EXPECT_EQ(dup.step("a", 2), "a");
  EXPECT_EQ(dup.step("b", 1), "a");
  const core::ladder::Ladder empty;
  EXPECT_EQ(empty.step("x", 3), "x");
}

TEST(Ladder, Fold) {
  const core::ladder::Ladder l({"draft", "review", "final"});
  std::vector<core::directive::Directive<>> ds;
  for (const char* s : {"advance:long-*=ready", "skip:long-line@tests/*", "advance:<py>*=see docs", "back:*"}) {
    ds.push_back(core::parse::parse_as(s).value());
  }
  std::vector<const core::directive::Directive<>*> ptrs;
  for (const auto& d : ds) ptrs.push_back(&d);
  const std::string_view names[] = {"long-line"};
  const std::string_view scopes[] = {"tests/test_a"};
  core::ladder::Vocabulary v;
  v.add_step("back", -1);
  v.add_step("advance", 1);
  v.add_drop("skip");
  auto f = core::ladder::fold(l, "final", ptrs, Target{names, "py", scopes}, v);
  EXPECT_EQ(f.level, "final");  // +1 +1 -1 from the last rung: net +1, not clamped between
  EXPECT_TRUE(f.dropped);
  EXPECT_EQ(f.notes, (std::vector<std::string>{"ready", "see docs"}));
  v.notes = false;
  f = core::ladder::fold(l, "off", ptrs, Target{names, std::nullopt, {}}, v);
  EXPECT_EQ(f.level, "off");
  EXPECT_FALSE(f.dropped);
  EXPECT_TRUE(f.notes.empty());
  // A running sum past the 32-bit range is exact, so it saturates the right way.
  core::ladder::Vocabulary big;
  big.add_step("advance", INT32_MAX);
  const std::vector<const core::directive::Directive<>*> twice = {ptrs[0], ptrs[0], ptrs[0]};
  EXPECT_EQ(core::ladder::fold(l, "draft", twice, Target{names, std::nullopt, {}}, big).level, "final");
}

// The hashed vocabulary against a plain map, past the inline size, with
// repeated actions (the later count wins) and actions that share a hash
// bucket.
TEST(Ladder, VocabularyAgainstMap) {
  for (int n : {0, 1, 7, 8, 9, 40, 300}) {
    std::vector<std::string> actions;
    auto action = [](int i) { return std::string("a").append(std::to_string(i)); };
    for (int i = 0; i < n; ++i) actions.push_back(action(i % (n / 2 + 1)));
    core::ladder::Vocabulary v;
    std::map<std::string, std::pair<std::int32_t, bool>> ref;
    for (int i = 0; i < n; ++i) {
      if (i % 3 == 0) {
        v.add_drop(actions[i]);
        ref[actions[i]].second = true;
      } else {
        v.add_step(actions[i], i);
        ref[actions[i]].first = i;
      }
    }
    for (int i = -1; i < n + 2; ++i) {
      const std::string a = action(i);
      const auto got = v.vote(a);
      const auto it = ref.find(a);
      EXPECT_EQ(got.rungs, it == ref.end() ? 0 : it->second.first) << n << " " << a;
      EXPECT_EQ(got.drops, it != ref.end() && it->second.second) << n << " " << a;
    }
  }
}

}  // namespace
}  // namespace quorvel
