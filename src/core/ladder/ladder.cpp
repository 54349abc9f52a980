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

Vocabulary::Slot& Vocabulary::insert(std::string_view action, std::uint32_t h) {
  // Keep the table at most half full, so that probes stay short.
  if (2 * (count_ + 1) > mask_ + 1) {
    const std::size_t cap = 2 * (mask_ + 1);
    auto bigger = std::make_unique<Slot[]>(cap);
    for (std::size_t i = 0; i <= mask_; ++i) {
      if (!slots_[i].used) continue;
      std::size_t j = slots_[i].hash & (cap - 1);
      while (bigger[j].used) j = (j + 1) & (cap - 1);
      bigger[j] = slots_[i];
    }
    heap_ = std::move(bigger);
    slots_ = heap_.get();
    mask_ = cap - 1;
  }
  std::size_t i = h & mask_;
  while (slots_[i].used && !(slots_[i].hash == h && slots_[i].action == action)) i = (i + 1) & mask_;
  Slot& s = slots_[i];
  if (!s.used) {
    s = Slot{action, h, 0, true, false};
    ++count_;
  }
  return s;
}

Folded fold(const Ladder& ladder, std::string_view current,
            const std::vector<const directive::Directive<>*>& directives,
            const directive::Target& target, const Vocabulary& vocab) {
  Folded out;
  directive::Combined c;
  directive::combine(
      directives, target, vocab.notes,
      [](const directive::Directive<>* d) { return &d->selector(); },
      [&](const directive::Directive<>* d) { return vocab.vote(d->action.text()); },
      [&](std::string_view note) {
        out.notes.emplace_back(note);
        return true;
      },
      c);
  out.level = std::string(ladder.step(current, c.sum));
  out.dropped = c.dropped;
  return out;
}

}  // namespace quorvel::core::ladder
