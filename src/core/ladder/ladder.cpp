#include "core/ladder/ladder.hpp"

#include <sys/random.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cstring>

namespace quorvel::core::ladder {

namespace {

// The secret key of the vocabulary hash: 128 bits from the kernel, drawn
// when the library is loaded.
struct HashKey {
  std::uint64_t k0, k1;
};

HashKey draw_key() {
  HashKey key{};
  // getrandom(2) through its system call: glibc wraps it only from 2.25 on,
  // and the portable wheels run on 2.17.
  if (::syscall(SYS_getrandom, &key, sizeof key, GRND_NONBLOCK) == static_cast<long>(sizeof key)) return key;
  // No entropy yet (early boot): the clock and where things were loaded
  // still differ from run to run.
  timespec t{};
  ::clock_gettime(CLOCK_MONOTONIC, &t);
  key.k0 = static_cast<std::uint64_t>(t.tv_nsec) ^ (static_cast<std::uint64_t>(t.tv_sec) << 32);
  key.k1 = reinterpret_cast<std::uintptr_t>(&key) ^ reinterpret_cast<std::uintptr_t>(&draw_key);
  return key;
}

const HashKey g_key = draw_key();

constexpr std::uint64_t rotl(std::uint64_t x, int b) { return (x << b) | (x >> (64 - b)); }

// SipHash-1-3 of `s` under `key`: a keyed function whose collisions cannot
// be found without the key, and fast on the short texts of action tokens.
std::uint64_t siphash13(const HashKey& key, std::string_view s) {
  std::uint64_t v0 = key.k0 ^ 0x736f6d6570736575ull, v1 = key.k1 ^ 0x646f72616e646f6dull;
  std::uint64_t v2 = key.k0 ^ 0x6c7967656e657261ull, v3 = key.k1 ^ 0x7465646279746573ull;
  auto round = [&] {
    v0 += v1; v1 = rotl(v1, 13); v1 ^= v0; v0 = rotl(v0, 32);
    v2 += v3; v3 = rotl(v3, 16); v3 ^= v2;
    v0 += v3; v3 = rotl(v3, 21); v3 ^= v0;
    v2 += v1; v1 = rotl(v1, 17); v1 ^= v2; v2 = rotl(v2, 32);
  };
  const char* p = s.data();
  std::size_t n = s.size();
  for (; n >= 8; p += 8, n -= 8) {
    std::uint64_t m;
    std::memcpy(&m, p, 8);
    v3 ^= m;
    round();
    v0 ^= m;
  }
  std::uint64_t last = static_cast<std::uint64_t>(s.size()) << 56;
  for (std::size_t i = 0; i < n; ++i) last |= static_cast<std::uint64_t>(static_cast<unsigned char>(p[i])) << (8 * i);
  v3 ^= last;
  round();
  v0 ^= last;
  v2 ^= 0xff;
  round();
  round();
  round();
  return v0 ^ v1 ^ v2 ^ v3;
}

}  // namespace

std::uint32_t Vocabulary::hash(std::string_view action) {
  const std::uint64_t h = siphash13(g_key, action);
  return static_cast<std::uint32_t>(h ^ (h >> 32));
}

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
  const Outcome o = fold(ladder, current, target, directives, vocab, RecordAccess{},
                         [&](std::string_view note) { out.notes.emplace_back(note); });
  out.level = std::string(o.level);
  out.dropped = o.dropped;
  return out;
}

}  // namespace quorvel::core::ladder
