#include "core/parse/parse.hpp"

#include "core/text/text.hpp"

namespace quorvel::core::parse {

namespace {

using text::trim;
using text::trim_start;

using text::find_unescaped;

}  // namespace

std::string ParseError::message() const {
  std::string out(kParseErrorMessages[static_cast<std::size_t>(kind)]);
  if (kind == Kind::UnknownAction) text::append_quoted(out, token);
  return out;
}

std::string unescape(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  std::size_t i = 0;
  while (i < s.size()) {
    if (s[i] == '\\' && i + 1 < s.size()) {
      std::size_t len;
      text::decode_at(s, i + 1, len);
      out.append(s.substr(i + 1, len));
      i += 1 + len;
    } else {
      out += s[i];
      ++i;
    }
  }
  return out;
}

Result<directive::Parts, ParseError> parse_parts(std::string_view spec, std::string_view& action,
                                                 std::string& kind_store) {
  using K = ParseError::Kind;
  // One scan finds the action's `:` and notes an `=` before it; an `=` after
  // the `:` is the note's, found again below from the `:` on, where the same
  // bytes are escaped.
  std::size_t colon = std::string_view::npos;
  bool eq_before = false;
  for (std::size_t i = 0; i < spec.size(); ++i) {
    if (spec[i] == '\\') {
      ++i;
    } else if (spec[i] == ':') {
      colon = i;
      break;
    } else if (spec[i] == '=') {
      eq_before = true;
    }
  }
  if (colon == std::string_view::npos) return ParseError{K::MissingColon, {}};
  if (eq_before) return ParseError{K::EqualsBeforeColon, {}};
  action = trim(spec.substr(0, colon));
  if (action.empty()) return ParseError{K::EmptyAction, {}};

  std::string_view rest = spec.substr(colon + 1);
  std::string_view head = rest;
  std::optional<std::string_view> note;
  const std::size_t neq = find_unescaped(rest, 0, '=');
  if (neq != std::string_view::npos) {
    note = rest.substr(neq + 1);
    head = rest.substr(0, neq);
  }
  head = trim(head);

  std::optional<std::string_view> kind;
  if (head.size() >= 2 && head[0] == '<') {
    const std::size_t gt = find_unescaped(head, 1, '>');
    if (gt != std::string_view::npos) {
      const std::string_view k = trim(head.substr(1, gt - 1));
      if (k.empty()) return ParseError{K::EmptyKind, {}};
      if (k != "*") {
        if (k.find('\\') == std::string_view::npos) {
          kind = k;
        } else {
          kind_store = unescape(k);
          kind = kind_store;
        }
      }
      head = trim_start(head.substr(gt + 1));
    }
  }

  std::string_view name = head;
  std::optional<std::string_view> path;
  const std::size_t at = find_unescaped(head, 0, '@');
  if (at != std::string_view::npos) {
    name = trim(head.substr(0, at));
    path = trim(head.substr(at + 1));
  } else {
    name = trim(head);
  }
  if (name.empty()) return ParseError{K::EmptyName, {}};

  return directive::Parts{kind, name, path, note};
}

}  // namespace quorvel::core::parse
