// The directive record `ACTION:[<KIND>]NAME[@PATH][=NOTE]`, the target it is
// matched against, the matching rule and the text form.
#pragma once

#include <concepts>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/glob/pattern.hpp"

namespace quorvel::core::directive {

using glob::Pattern;

// An action type converts a raw action token into one of its values, or
// declines it.
template <class A>
concept Action = requires(std::string_view token) {
  { A::from_token(token) } -> std::same_as<std::optional<A>>;
};

// The open-set action: the token itself, verbatim. Accepts every token.
struct TextAction {
  std::string token;
  static std::optional<TextAction> from_token(std::string_view token) {
    return TextAction{std::string(token)};
  }
  std::string_view text() const { return token; }
};

// What a directive is matched against. The views belong to the caller.
struct Target {
  std::span<const std::string_view> names;
  std::optional<std::string_view> qualifier;
  std::span<const std::string_view> scopes;  // absent scopes are empty
};

// The parts of a directive that do not depend on the action type.
struct Selector {
  std::optional<std::string> kind;  // escapes resolved; absent = any kind
  Pattern name;
  std::optional<Pattern> path;      // absent without `@`; a Pattern is one pointer
  std::optional<std::string> note;  // verbatim; absent without `=`

  // KIND, then NAME, then PATH; the first failing test decides.
  bool matches(const Target& target) const {
    if (kind) {
      if (!target.qualifier || *target.qualifier != *kind) return false;
    }
    bool named = false;
    for (std::string_view n : target.names) {
      if (name.matches(n)) {
        named = true;
        break;
      }
    }
    if (!named) return false;
    if (!path) return true;
    for (std::string_view s : target.scopes) {
      if (path->matches(s)) return true;
    }
    return false;
  }
};

// One parsed directive, generic over its action type.
template <Action A = TextAction>
struct Directive : Selector {
  A action;

  Directive(A a, Selector s) : Selector(std::move(s)), action(std::move(a)) {}
};

// Appends the text form: ACTION `:` [`<` KIND `>`] NAME [`@` PATH] [`=` NOTE],
// the stored texts joined, nothing escaped.
void append_text_form(std::string& out, std::string_view action, const Selector& s);

template <Action A>
std::string text_form(const Directive<A>& d) {
  std::string out;
  append_text_form(out, d.action.text(), d);
  return out;
}

}  // namespace quorvel::core::directive
