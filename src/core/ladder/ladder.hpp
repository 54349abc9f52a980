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

// What a fold gives besides the notes.
struct Outcome {
  std::string_view level;  // a rung of the ladder, or `current`
  bool dropped;
};

// The combine's view of a ladder fold: every directive counts, and a
// matching one votes what the vocabulary gives its action.
template <class Access>
struct VocabularyAccess {
  const Access& a;
  const Vocabulary& v;
  template <class D>
  void prefetch(const D& d) const { a.prefetch(d); }
  template <class D>
  static bool counted(const D&) { return true; }
  template <class D>
  const directive::Gate& gate(const D& d) const { return a.gate(d); }
  template <class D>
  void prefetch_match(const D& d) const { a.prefetch_match(d); }
  template <class D>
  const directive::Selector& selector(const D& d) const { return a.selector(d); }
  template <class D>
  directive::Vote vote(const D& d) const { return v.vote(a.action(d), a.action_hash(d)); }
};

// Folds `directives` (a random-access range) onto `current` for `target`
// with the caller's vocabulary: every directive is matched, each matching
// one's note goes to `note(text)` in order (when vocab.notes), its action's
// rung count is summed and its drop flag ORed. The fold reaches a directive
// `d` through `access`:
//   access.action(d) -> std::string_view, its action text;
//   access.action_hash(d) -> Vocabulary::hash of that text;
//   access.prefetch(d), access.gate(d), access.prefetch_match(d) and
//   access.selector(d) as combine reads them.
// `current` off the ladder comes back unchanged.
template <class Range, class Access, class NoteSink>
Outcome fold(const Ladder& ladder, std::string_view current, const directive::Target& target,
             const Range& directives, const Vocabulary& vocab, const Access& access, NoteSink&& note) {
  const auto c = directive::combine(directives, target, VocabularyAccess<Access>{access, vocab}, vocab.notes, note);
  return Outcome{ladder.step(current, c.sum), c.dropped};
}

// How the fold reaches the core's own records, by pointer.
struct RecordAccess {
  using D = const directive::Directive<>*;
  static void prefetch(D d) { __builtin_prefetch(d->parts.head()); }
  static std::string_view action(D d) { return d->action.text(); }
  static std::uint32_t action_hash(D d) { return Vocabulary::hash(d->action.text()); }
  static const directive::Gate& gate(D d) { return d->gate(); }
  static void prefetch_match(D d) { d->selector().prefetch(); }
  static const directive::Selector& selector(D d) { return d->selector(); }
};

// The fold over the core's records, with the level and notes copied out.
struct Folded {
  std::string level;
  bool dropped = false;
  std::vector<std::string> notes;
};
Folded fold(const Ladder& ladder, std::string_view current,
            const std::vector<const directive::Directive<>*>& directives,
            const directive::Target& target, const Vocabulary& vocab);

}  // namespace quorvel::core::ladder
