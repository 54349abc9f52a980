// A caller-defined ladder of levels, most significant first, with a
// saturating step, and the fold of directives onto it with the caller's own
// vocabulary (rung counts per action, dropping actions, notes on or off).
#pragma once

#include <cstdint>
#include <memory>
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

// The caller's vocabulary for a fold: from action text to its rung count
// and whether it drops, by exact text. It is filled once per fold and looked
// up only for matching directives, so it is a small open-addressing hash
// table over views the caller keeps alive: up to 8 actions live inline (no
// heap allocation), more grow the table. The actions may come from a file
// that the caller did not write, so the hash is keyed with a secret drawn
// once per process: whoever writes the keys cannot make them collide.
class Vocabulary {
 public:
  Vocabulary() = default;
  Vocabulary(const Vocabulary&) = delete;
  Vocabulary& operator=(const Vocabulary&) = delete;

  // The hash that look-ups use; callers may keep it beside a token (for the
  // life of the process: the key is the process's own).
  static std::uint32_t hash(std::string_view action);

  // Gives `action` a rung count. An action given twice keeps the later
  // count, as a dict literal keeps the later of two equal keys.
  void add_step(std::string_view action, std::int32_t rungs) {
    Slot& s = insert(action, hash(action));
    s.rungs = rungs;
  }
  // Marks `action` as dropping.
  void add_drop(std::string_view action) { insert(action, hash(action)).drops = true; }

  // The contribution of a matching directive with this action (`h` is its
  // hash()).
  directive::Vote vote(std::string_view action, std::uint32_t h) const {
    if (count_ == 0) return {0, false};
    for (std::size_t i = h & mask_;; i = (i + 1) & mask_) {
      const Slot& s = slots_[i];
      if (!s.used) return {0, false};
      if (s.hash == h && s.action == action) return {s.rungs, s.drops};
    }
  }
  // The same, hashing `action` here.
  directive::Vote vote(std::string_view action) const { return vote(action, hash(action)); }

  bool notes = true;  // whether notes are collected

 private:
  // One entry; unused slots end a probe.
  struct Slot {
    std::string_view action;  // the action's text (the caller's)
    std::uint32_t hash = 0;   // hash(action)
    std::int32_t rungs = 0;   // its rung count (0 when only in drop)
    bool used = false;        // holds an action
    bool drops = false;       // the action is in drop
  };
  static constexpr std::size_t kInline = 16;  // slots without a heap block

  // The slot of `action`, made if it is new.
  Slot& insert(std::string_view action, std::uint32_t h);

  Slot inline_[kInline];           // the table while it is small
  std::unique_ptr<Slot[]> heap_;   // the table once it has grown
  Slot* slots_ = inline_;          // the table in use
  std::size_t mask_ = kInline - 1; // its size - 1 (a power of two)
  std::size_t count_ = 0;          // actions held
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
