// The directive grammar: `ACTION:[<KIND>]NAME[@PATH][=NOTE]`.
//
// White space (Unicode White_Space) around the parts is trimmed, a backslash
// makes the next byte ordinary (never a delimiter), backslashes stay in the
// texts and only KIND is unescaped. Exactly six conditions are errors.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/directive/directive.hpp"
#include "core/result.hpp"

namespace quorvel::core::parse {

using directive::Directive;

// Why a directive string is malformed; the display text is the user's message.
struct ParseError {
  enum class Kind : std::uint8_t {
    MissingColon,
    EqualsBeforeColon,
    EmptyAction,
    UnknownAction,
    EmptyKind,
    EmptyName,
  };
  Kind kind;
  std::string token;  // UnknownAction only

  std::string message() const;
};

inline constexpr std::array<std::string_view, 6> kParseErrorMessages = {
    "expected `ACTION:\xE2\x80\xA6` (no `:` found)",
    "`=` appeared before the action `:`",
    "empty action",
    "unknown action ",  // followed by the token in quoted form
    "empty `<>` kind filter",
    "empty name pattern",
};
static_assert(kParseErrorMessages.size() == static_cast<std::size_t>(ParseError::Kind::EmptyName) + 1);

// Resolves backslash escapes, character by character: `\x` gives x, and a
// trailing backslash is a literal backslash.
std::string unescape(std::string_view s);

// The action-independent steps of the grammar. On success, `action` holds
// the trimmed ACTION text and the parts are views into `spec`, but for a kind
// with escapes, which is resolved into `kind_store`.
Result<directive::Parts, ParseError> parse_parts(std::string_view spec, std::string_view& action,
                                                 std::string& kind_store);

// Parses one directive string under action type A.
template <directive::Action A = directive::TextAction>
Result<Directive<A>, ParseError> parse_as(std::string_view spec) {
  std::string_view action;
  std::string kind_store;
  // The action is converted before KIND, NAME and PATH are checked, so an
  // unknown action wins over an empty name; parse_parts reports in order.
  auto parts = parse_parts(spec, action, kind_store);
  if (!parts.ok()) {
    const auto k = parts.error().kind;
    if (k != ParseError::Kind::EmptyKind && k != ParseError::Kind::EmptyName) return parts.error();
  }
  auto a = A::from_token(action);
  if (!a) return ParseError{ParseError::Kind::UnknownAction, std::string(action)};
  if (!parts.ok()) return parts.error();
  return Directive<A>(std::move(*a), directive::SharedSelector(parts.value()));
}

}  // namespace quorvel::core::parse
