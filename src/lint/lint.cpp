#include "lint/lint.hpp"

#include <cstring>

#include "core/text/text.hpp"

namespace quorvel::lint {

std::optional<LintAction> LintAction::from_token(std::string_view token) {
  token = core::text::trim(token);
  // The longest verb has ten letters; anything that normalises longer than
  // that is no verb, however many hyphens it holds.
  char buf[16];
  std::size_t n = 0;
  for (char c : token) {
    if (c == '-') continue;
    if (n == sizeof buf) return std::nullopt;
    buf[n++] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  const std::string_view t(buf, n);
  if (t == "set" || t == "settings") return Set;
  if (t == "note") return Note;
  if (t == "suppress") return Suppress;
  if (t == "escalate") return Escalate;
  if (t == "deescalate") return DeEscalate;
  return std::nullopt;
}

std::string_view LintAction::text() const {
  static constexpr std::string_view kTexts[] = {"suppress", "deescalate", "escalate", "note", "set"};
  return kTexts[v_];
}

std::optional<Severity> severity_from_text(std::string_view text) {
  // The three texts differ in length, so the length picks the candidate.
  // Then the first and the last four bytes at once: setting bit 5 lowercases
  // a letter, and makes no other byte equal a lowercase letter.
  Severity s;
  switch (text.size()) {
    case 5: s = Severity::Error; break;
    case 7: s = Severity::Warning; break;
    case 4: s = Severity::Info; break;
    default: return std::nullopt;
  }
  const std::string_view want = severity_text(s);
  auto load4 = [](const char* p) {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
  };
  const std::size_t last = text.size() - 4;
  const bool same = ((load4(text.data()) | 0x20202020u) == load4(want.data())) &&
                    ((load4(text.data() + last) | 0x20202020u) == load4(want.data() + last));
  return same ? std::optional<Severity>(s) : std::nullopt;
}

std::string unknown_severity_message(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  std::string out = "unknown severity ";
  core::text::append_quoted(out, lower);
  out += "; expected \"error\", \"warning\", or \"info\"";
  return out;
}

std::optional<Directive<LintAction>> as_lint(const Directive<>& d) {
  const auto verb = LintAction::from_token(d.action.token);
  if (!verb) return std::nullopt;
  return d.with_action(*verb);
}

Folded fold(Severity current, const Target& target, const std::vector<Directive<LintAction>>& directives) {
  Folded out{current, false, {}};
  const Outcome o = fold(current, target, directives, RecordAccess{},
                         [&](std::string_view note) { out.notes.emplace_back(note); });
  out.severity = o.severity;
  out.dropped = o.dropped;
  return out;
}

std::vector<Setting> settings(const std::vector<Directive<LintAction>>& directives) {
  std::vector<Setting> out;
  for (const auto& d : directives) {
    if (d.action.value() != LintAction::Set) continue;
    out.push_back(Setting{d.name().source(), std::string(d.note().value_or(std::string_view()))});
  }
  return out;
}

}  // namespace quorvel::lint
