// The built-in lint policy: five verbs, the scale error / warning / info, and
// the fold that moves a severity by the matching lint directives.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/directive/combine.hpp"
#include "core/directive/directive.hpp"

namespace quorvel::lint {

using core::directive::Directive;
using core::directive::Target;

class LintAction {
 public:
  enum Value : std::uint8_t { Suppress, DeEscalate, Escalate, Note, Set };

  constexpr LintAction(Value v) : v_(v) {}
  constexpr Value value() const { return v_; }
  constexpr bool operator==(const LintAction&) const = default;

  // Trim White_Space, lowercase A-Z, delete every `-`, then compare with
  // "set", "note", "suppress", "escalate", "settings" and "deescalate".
  static std::optional<LintAction> from_token(std::string_view token);
  std::string_view text() const;

  // Whether a directive with this verb is matched at all: settings never are.
  constexpr bool counted() const { return v_ != Set; }

  // The contribution of a matching directive with this verb.
  constexpr core::directive::Vote vote() const {
    switch (v_) {
      case Suppress: return {0, true};
      case DeEscalate: return {1, false};
      case Escalate: return {-1, false};
      case Note:
      case Set: break;
    }
    return {0, false};
  }

 private:
  Value v_;
};

enum class Severity : std::uint8_t { Error, Warning, Info };
inline constexpr std::array<std::string_view, 3> kSeverityTexts = {"error", "warning", "info"};

inline std::string_view severity_text(Severity s) { return kSeverityTexts[static_cast<std::size_t>(s)]; }

// Reads a severity from caller text: ASCII case-insensitive, no trimming.
std::optional<Severity> severity_from_text(std::string_view text);

// The message for a severity that is not one of the three.
std::string unknown_severity_message(std::string_view text);

// Moves a severity by a net count, saturating at error and info.
inline Severity move(Severity s, std::int64_t net) {
  return static_cast<Severity>(core::directive::saturating_move(static_cast<std::size_t>(s), 3, net));
}

// The directive re-typed as a lint directive, sharing its parts (nothing is
// allocated), or none when its token is no lint verb.
std::optional<Directive<LintAction>> as_lint(const Directive<>& d);

// What a fold gives besides the notes.
struct Outcome {
  Severity severity;
  bool dropped;
};

// The combine's view of a lint fold: settings and tokens that are no lint
// verb are left out, and a matching directive votes what its verb gives.
template <class Access>
struct VerbAccess {
  const Access& a;
  template <class D>
  void prefetch(const D& d) const { a.prefetch(d); }
  template <class D>
  bool counted(const D& d) const {
    const std::optional<LintAction> v = a.verb(d);
    return v && v->counted();
  }
  template <class D>
  const core::directive::Gate& gate(const D& d) const { return a.gate(d); }
  template <class D>
  void prefetch_match(const D& d) const { a.prefetch_match(d); }
  template <class D>
  const core::directive::Selector& selector(const D& d) const { return a.selector(d); }
  template <class D>
  core::directive::Vote vote(const D& d) const { return a.verb(d)->vote(); }
};

// Folds `directives` (a random-access range) onto `current` for `target`:
// settings and directives whose token is no lint verb are left out, the
// others are matched, and each matching one's note goes to `note(text)` in
// order. The fold reaches a directive `d` through `access`:
//   access.verb(d) -> std::optional<LintAction>, and
//   access.prefetch(d), access.gate(d), access.prefetch_match(d) and
//   access.selector(d) as combine reads them.
template <class Range, class Access, class NoteSink>
Outcome fold(Severity current, const Target& target, const Range& directives, const Access& access,
             NoteSink&& note) {
  const auto c = core::directive::combine(directives, target, VerbAccess<Access>{access}, true, note);
  return Outcome{move(current, c.sum), c.dropped};
}

// How the fold reaches the core's own lint directives.
struct RecordAccess {
  static void prefetch(const Directive<LintAction>& d) { __builtin_prefetch(d.parts.head()); }
  static std::optional<LintAction> verb(const Directive<LintAction>& d) { return d.action; }
  static const core::directive::Gate& gate(const Directive<LintAction>& d) { return d.gate(); }
  static void prefetch_match(const Directive<LintAction>& d) { d.selector().prefetch(); }
  static const core::directive::Selector& selector(const Directive<LintAction>& d) { return d.selector(); }
};

// The fold over the core's records, with the notes copied out.
struct Folded {
  Severity severity;
  bool dropped = false;
  std::vector<std::string> notes;
};
Folded fold(Severity current, const Target& target, const std::vector<Directive<LintAction>>& directives);

// A `set:KEY=VALUE` setting: KEY is the NAME source, VALUE the note or "".
struct Setting {
  std::string key;
  std::string value;
};
std::vector<Setting> settings(const std::vector<Directive<LintAction>>& directives);

}  // namespace quorvel::lint
