#include "core/ladder/ladder.hpp"

namespace quorvel::core::ladder {

std::optional<std::size_t> Ladder::position(std::string_view level) const {
  for (std::size_t i = 0; i < levels_.size(); ++i) {
    if (levels_[i] == level) return i;
  }
  return std::nullopt;
}

std::string_view Ladder::step(std::string_view level, std::int64_t delta) const {
  const auto i = position(level);
  if (!i) return level;
  return levels_[directive::saturating_move(*i, levels_.size(), delta)];
}

Folded fold(const Ladder& ladder, std::string_view current,
            const std::vector<const directive::Directive<>*>& directives,
            const directive::Target& target, const Vocabulary& vocab) {
  Folded out;
  directive::Combined c;
  directive::combine(
      directives, target, vocab.notes,
      [](const directive::Directive<>* d) -> const directive::Selector& { return *d; },
      [&](const directive::Directive<>* d) { return vocab.vote(d->action.text()); },
      [&](const std::string& note) {
        out.notes.push_back(note);
        return true;
      },
      c);
  out.level = std::string(ladder.step(current, c.sum));
  out.dropped = c.dropped;
  return out;
}

}  // namespace quorvel::core::ladder
