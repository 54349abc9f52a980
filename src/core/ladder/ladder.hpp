// A caller-defined ladder of levels, most significant first, with a
// saturating step, and the fold of directives onto it with the caller's own
// vocabulary (rung counts per action, dropping actions, notes on or off).
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/directive/combine.hpp"
#include "core/directive/directive.hpp"

namespace quorvel::core::ladder {

class Ladder {
 public:
  Ladder() = default;
  explicit Ladder(std::vector<std::string> levels) : levels_(std::move(levels)) {}

  // The first rung whose text equals `level`, or nothing.
  std::optional<std::size_t> position(std::string_view level) const;
  // The level `delta` rungs away, saturating at both ends; `level` itself
  // when it is not on the ladder.
  std::string_view step(std::string_view level, std::int64_t delta) const;
  const std::vector<std::string>& levels() const { return levels_; }

 private:
  std::vector<std::string> levels_;
};

// One entry of a step table: an action and its rung count.
struct Step {
  std::string_view action;
  std::int32_t rungs;
};

// The caller's vocabulary for a fold, over storage the caller owns. Lookups
// are by exact text; call prepare() once after filling the tables (it sorts
// them in place).
struct Vocabulary {
  std::span<Step> steps;               // action -> rungs
  std::span<std::string_view> drop;    // dropping actions
  bool notes = true;

  void prepare() {
    std::sort(steps.begin(), steps.end(), [](const Step& x, const Step& y) { return x.action < y.action; });
    std::sort(drop.begin(), drop.end());
  }

  directive::Vote vote(std::string_view action) const {
    directive::Vote v{true, 0, false};
    if (!steps.empty()) {
      auto it = std::lower_bound(steps.begin(), steps.end(), action,
                                 [](const Step& e, std::string_view a) { return e.action < a; });
      if (it != steps.end() && it->action == action) v.rungs = it->rungs;
    }
    if (!drop.empty()) v.drops = std::binary_search(drop.begin(), drop.end(), action);
    return v;
  }
};

struct Folded {
  std::string level;
  bool dropped = false;
  std::vector<std::string> notes;
};

// Folds `directives` onto `current` for `target`. The records are read in
// place; `current` off the ladder comes back unchanged.
Folded fold(const Ladder& ladder, std::string_view current,
            const std::vector<const directive::Directive<>*>& directives,
            const directive::Target& target, const Vocabulary& vocab);

}  // namespace quorvel::core::ladder
