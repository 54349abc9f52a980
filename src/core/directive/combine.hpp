// The combine shared by the lint fold and the ladder fold: walk the
// directives in order, test each against the target, collect the notes of
// the matching ones, sum their rung counts and OR their drop flags; then move
// the current level once by the sum, saturating at both ends.
//
// Because the counts are summed before the single move, the level and the
// drop flag do not depend on the order of the directives.
//
// The running sum is kept in 64 bits (saturating at the 64-bit limits, which
// no list in memory can reach). A sum beyond the 32-bit range is therefore
// exact, and saturates to the end of the ladder like any large move, instead
// of wrapping around to the other end.
#pragma once

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string_view>

#include "core/directive/directive.hpp"

namespace quorvel::core::directive {

// What a matching directive contributes.
struct Vote {
  std::int32_t rungs;  // added to the running sum
  bool drops;          // sets the drop flag
};

// What a walk gathers besides the notes.
struct Combined {
  std::int64_t sum = 0;  // the running sum of rung counts
  bool dropped = false;  // whether a matching directive dropped the target
};

// a + b, saturating at the 64-bit limits.
inline std::int64_t saturating_add(std::int64_t a, std::int64_t b) {
  std::int64_t r;
  if (__builtin_add_overflow(a, b, &r)) return b > 0 ? INT64_MAX : INT64_MIN;
  return r;
}

// How far ahead a walk asks for memory it will read, so that a long list of
// directives scattered over the heap costs about what a short one costs per
// directive: the head of the item kPrefetchAhead places on, and the rest of
// an admitted item kMatchDepth admitted items before it is matched.
inline constexpr std::ptrdiff_t kPrefetchAhead = 16;
inline constexpr std::size_t kMatchDepth = 16;

// Walks `items` (a random-access range) in order for `target`, reaching each
// item through `access`:
//   access.prefetch(item)        asks for the memory of the next two;
//   access.counted(item)         false for an item left out before matching;
//   access.gate(item)            its Gate, which turns most non-matches away;
//   access.prefetch_match(item)  asks for the memory that matching it reads;
//   access.selector(item)        its Selector, read only once the gate admits;
//   access.vote(item)            what a matching item contributes.
// Each matching item's note goes to `note(text)` when `collect_notes`.
//
// The walk is a short pipeline: items the gate admits wait in a ring of
// kMatchDepth while their patterns are fetched, and are matched in order.
template <class Range, class Access, class NoteSink>
Combined combine(const Range& items, const Target& target, const Access& access, bool collect_notes,
                 NoteSink&& note) {
  Combined out;
  const Sieve sieve(target);
  const auto first = std::begin(items);
  const std::ptrdiff_t n = std::end(items) - first;
  auto match = [&](const auto& item) {
    const Selector& s = access.selector(item);
    if (!s.matches(target)) return;
    if (collect_notes) {
      if (const auto text = s.note()) note(*text);
    }
    const Vote v = access.vote(item);
    if (v.rungs != 0) out.sum = saturating_add(out.sum, v.rungs);
    if (v.drops) out.dropped = true;
  };
  std::ptrdiff_t ring[kMatchDepth];  // admitted items waiting, oldest at `head`
  std::size_t head = 0, waiting = 0;
  for (std::ptrdiff_t i = 0; i < std::min(n, kPrefetchAhead); ++i) access.prefetch(first[i]);
  for (std::ptrdiff_t i = 0; i < n; ++i) {
    if (i + kPrefetchAhead < n) access.prefetch(first[i + kPrefetchAhead]);
    const auto& item = first[i];
    if (!access.counted(item) || !access.gate(item).admits(sieve)) continue;
    access.prefetch_match(item);
    if (waiting == kMatchDepth) {
      match(first[ring[head]]);
      ring[head] = i;
      head = (head + 1) % kMatchDepth;
    } else {
      ring[(head + waiting++) % kMatchDepth] = i;
    }
  }
  for (; waiting > 0; --waiting, head = (head + 1) % kMatchDepth) match(first[ring[head]]);
  return out;
}

// Moves rung `i` of a ladder of `n` rungs (n > 0) by `delta`, saturating at
// rung 0 and rung n - 1.
inline std::size_t saturating_move(std::size_t i, std::size_t n, std::int64_t delta) {
  if (delta < 0) {
    // The magnitude of INT64_MIN does not fit; any magnitude >= i reaches 0.
    const std::uint64_t m = delta == INT64_MIN ? UINT64_MAX : static_cast<std::uint64_t>(-delta);
    return m >= i ? 0 : i - static_cast<std::size_t>(m);
  }
  const std::uint64_t m = static_cast<std::uint64_t>(delta);
  const std::uint64_t last = n - 1;
  return m >= last - i ? last : i + static_cast<std::size_t>(m);
}

}  // namespace quorvel::core::directive
