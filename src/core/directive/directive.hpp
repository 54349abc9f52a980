// The directive record `ACTION:[<KIND>]NAME[@PATH][=NOTE]`, the target it is
// matched against, the matching rule and the text form.
#pragma once

#include <atomic>
#include <concepts>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "core/glob/pattern.hpp"

namespace quorvel::core::directive {

using glob::PatternView;

// An action type converts a raw action token into one of its values, or
// declines it.
template <class A>
concept Action = requires(std::string_view token) {
  { A::from_token(token) } -> std::same_as<std::optional<A>>;
};

// The open-set action: the token itself, verbatim. Accepts every token.
struct TextAction {
  std::string token;
  static std::optional<TextAction> from_token(std::string_view token) {
    return TextAction{std::string(token)};
  }
  std::string_view text() const { return token; }
};

// What a directive is matched against. The views belong to the caller.
struct Target {
  std::span<const std::string_view> names;
  std::optional<std::string_view> qualifier;
  std::span<const std::string_view> scopes;  // absent scopes are empty
};

// The target as a Gate reads it, made once per fold: which bytes the
// target's names start with, and the qualifier's first byte.
struct Sieve {
  explicit Sieve(const Target& target);
  std::uint64_t name_firsts[4] = {};  // bit b: some name starts with byte b
  int qualifier_first;                // -1 without a qualifier, 256 for an empty one
};

// What a fold reads of a directive first, a few bytes beside its action:
// enough to turn most directives that cannot match away without reading
// their patterns. Every directive it turns away fails Selector::matches.
struct Gate {
  static constexpr std::uint8_t kKind = 1;       // the directive has a kind...
  static constexpr std::uint8_t kKindFirst = 2;  // ...whose first byte is kind_first
  static constexpr std::uint8_t kNameFirst = 4;  // every NAME match starts with name_first

  std::uint8_t bits = 0;
  std::uint8_t kind_first = 0;
  std::uint8_t name_first = 0;

  // The gate of a directive with this kind and NAME source. A NAME that
  // starts with a plain byte (not one of `*?[\{`) matches only texts that
  // start with it: every brace alternative keeps the part before the first
  // `{`, and the glob reads any other byte as itself.
  static Gate of(std::optional<std::string_view> kind, std::string_view name) {
    Gate g;
    if (kind) {
      g.bits |= kKind;
      if (!kind->empty()) {
        g.bits |= kKindFirst;
        g.kind_first = static_cast<std::uint8_t>((*kind)[0]);
      }
    }
    if (!name.empty()) {
      const char c = name[0];
      if (c != '*' && c != '?' && c != '[' && c != '\\' && c != '{') {
        g.bits |= kNameFirst;
        g.name_first = static_cast<std::uint8_t>(c);
      }
    }
    return g;
  }

  // False when the directive cannot match the sieve's target.
  bool admits(const Sieve& s) const {
    if (bits & kKind) {
      if (s.qualifier_first < 0) return false;
      if ((bits & kKindFirst) && s.qualifier_first != kind_first) return false;
    }
    if (bits & kNameFirst) return (s.name_firsts[name_first >> 6] >> (name_first & 63)) & 1;
    return true;
  }
};

inline Sieve::Sieve(const Target& target)
    : qualifier_first(!target.qualifier ? -1
                      : target.qualifier->empty() ? 256
                                                  : static_cast<std::uint8_t>((*target.qualifier)[0])) {
  for (std::string_view n : target.names) {
    if (n.empty()) continue;
    const auto b = static_cast<std::uint8_t>(n[0]);
    name_firsts[b >> 6] |= std::uint64_t{1} << (b & 63);
  }
}

// The texts of a directive's action-independent parts, as the grammar cut
// them out: kind with its escapes resolved, NAME and PATH as written.
struct Parts {
  std::optional<std::string_view> kind;  // absent = any kind
  std::string_view name;
  std::optional<std::string_view> path;  // absent without `@`
  std::optional<std::string_view> note;  // absent without `=`
};

// The parts of a directive that do not depend on the action type, laid out
// in one piece of memory: this header, the kind's bytes, NAME's compiled
// form, PATH's compiled form, the note's bytes. What a match reads first
// (the kind, then NAME's header and literal bytes) comes first. It points
// nowhere outside itself, so it may be copied as bytes; it is made only by
// a Selector::Plan and seen only through a pointer.
class Selector {
 public:
  // `parts` with NAME and PATH compiled once, not yet laid out: sized first,
  // so that the caller can make room, then packed into that room. It views
  // the texts of `parts`, which must outlive it.
  class Plan {
   public:
    // Throws std::bad_alloc past 4 GiB.
    explicit Plan(const Parts& parts);
    // The exact bytes (a multiple of 8) that pack_into lays out.
    std::size_t size() const { return end_; }
    // Lays the parts out at `out` (8-byte aligned, size() bytes).
    const Selector* pack_into(void* out) const;

   private:
    const Parts& parts_;
    glob::PatternPlan name_;
    std::optional<glob::PatternPlan> path_;
    std::size_t name_off_, path_off_, note_off_, end_;
  };

  Selector(const Selector&) = delete;
  Selector& operator=(const Selector&) = delete;

  std::optional<std::string_view> kind() const {
    if (kind_len_ == kAbsent) return std::nullopt;
    return std::string_view(bytes() + sizeof(Selector), kind_len_);
  }
  PatternView name() const { return PatternView(bytes() + name_off()); }
  std::optional<PatternView> path() const {
    if (path_off_ == 0) return std::nullopt;
    return PatternView(bytes() + path_off_);
  }
  std::optional<std::string_view> note() const {
    if (note_len_ == kAbsent) return std::nullopt;
    return std::string_view(bytes() + note_off_, note_len_);
  }
  // The bytes laid out (what packed_size gave).
  std::size_t size() const {
    return (std::size_t{note_off_} + (note_len_ == kAbsent ? 0 : note_len_) + 7) & ~std::size_t{7};
  }

  // Asks for the memory that matches() reads, without reading any: the
  // first lines, which hold the kind, NAME and most PATHs.
  void prefetch() const {
    __builtin_prefetch(bytes());
    __builtin_prefetch(bytes() + 64);
    __builtin_prefetch(bytes() + 128);
  }

  // KIND, then NAME, then PATH; the first failing test decides.
  bool matches(const Target& target) const {
    if (kind_len_ != kAbsent && (!target.qualifier || *target.qualifier != *kind())) return false;
    const PatternView n = name();
    bool named = false;
    for (std::string_view s : target.names) {
      if (n.matches(s)) {
        named = true;
        break;
      }
    }
    if (!named) return false;
    if (path_off_ == 0) return true;
    const PatternView p(bytes() + path_off_);
    for (std::string_view s : target.scopes) {
      if (p.matches(s)) return true;
    }
    return false;
  }

 private:
  static constexpr std::uint32_t kAbsent = UINT32_MAX;
  Selector() = default;
  const char* bytes() const { return reinterpret_cast<const char*>(this); }
  std::uint32_t name_off() const {
    return kind_len_ == kAbsent ? sizeof(Selector) : (sizeof(Selector) + kind_len_ + 7) & ~std::uint32_t{7};
  }

  std::uint32_t kind_len_;  // kAbsent without a kind
  std::uint32_t path_off_;  // 0 without a path
  std::uint32_t note_off_;  // where the note's bytes start (the end of the rest)
  std::uint32_t note_len_;  // kAbsent without a note
};

// A Selector of its own on the heap, shared by copies: copying one (the
// lint layer's re-typing of a directive) allocates nothing.
class SharedSelector {
 public:
  explicit SharedSelector(const Parts& parts);
  SharedSelector(const SharedSelector& o) noexcept : block_(o.block_) {
    block_->refs.fetch_add(1, std::memory_order_relaxed);
  }
  SharedSelector(SharedSelector&& o) noexcept : block_(std::exchange(o.block_, nullptr)) {}
  SharedSelector& operator=(SharedSelector o) noexcept {
    std::swap(block_, o.block_);
    return *this;
  }
  ~SharedSelector();

  const Selector& get() const { return *reinterpret_cast<const Selector*>(block_ + 1); }
  const Gate& gate() const { return block_->gate; }
  // The memory a fold reads first.
  const void* head() const { return block_; }

 private:
  struct Block {
    std::atomic<std::uint32_t> refs;
    Gate gate;  // in the room that keeps the Selector 8-byte aligned
  };
  static_assert(sizeof(Block) == 8);
  Block* block_;  // null only once moved from
};

// One parsed directive, generic over its action type.
template <Action A = TextAction>
struct Directive {
  A action;
  SharedSelector parts;

  Directive(A a, SharedSelector s) : action(std::move(a)), parts(std::move(s)) {}

  // The same directive under another action type: the parts are shared.
  template <Action B>
  Directive<B> with_action(B b) const {
    return Directive<B>(std::move(b), parts);
  }

  const Selector& selector() const { return parts.get(); }
  const Gate& gate() const { return parts.gate(); }
  std::optional<std::string_view> kind() const { return selector().kind(); }
  PatternView name() const { return selector().name(); }
  std::optional<PatternView> path() const { return selector().path(); }
  std::optional<std::string_view> note() const { return selector().note(); }
  bool matches(const Target& target) const { return selector().matches(target); }
};

// Appends the text form: ACTION `:` [`<` KIND `>`] NAME [`@` PATH] [`=` NOTE],
// the stored texts joined, nothing escaped.
void append_text_form(std::string& out, std::string_view action, const Selector& s);

template <Action A>
std::string text_form(const Directive<A>& d) {
  std::string out;
  append_text_form(out, d.action.text(), d.selector());
  return out;
}

}  // namespace quorvel::core::directive
