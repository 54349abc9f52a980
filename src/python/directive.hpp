// The Directive object: its layout, how the module makes one, and how the
// core's folds reach the directives of a `directives` argument.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "core/directive/directive.hpp"
#include "lint/lint.hpp"
#include "python/convert.hpp"

namespace quorvel::python {

// A Directive object is one allocation that holds the whole directive, in
// the order a fold reads it:
//
//   offset  part                 what it holds
//   0       PyObject_VAR_HEAD    reference count, type, ob_size (the bytes after Head)
//   24      Head (16 bytes)      what decides most non-matches: the Gate (kind and
//                                NAME first bytes) and the lint verb; the built
//                                flag; then the action's hash and length
//   40      Selector             the core's parts: kind, compiled NAME, compiled
//                                PATH, note (core/directive/directive.hpp)
//   ...     action               the action token's bytes, verbatim
//
// Holding a directive reads its first 29 bytes (the count, the type, the
// head up to `built`), where a fold finds all it needs to turn away a
// directive that cannot match; it reads nothing else of one. Only parse and expand build one; an instance made some other
// way (3.9 lets Python code replace a class's __new__) is zero-filled, has
// `built` false and is refused by every use.
struct PyDirective {
  PyObject_VAR_HEAD

  struct Head {
    core::directive::Gate gate;  // decides most non-matches before the patterns
    std::uint8_t verb;           // the lint verb (a LintAction value), or kNoVerb
    bool built;                  // made by parse or expand
    std::uint32_t action_hash;   // the ladder vocabulary's hash of the action
    std::uint32_t action_len;    // bytes of the action, after the Selector
  } head;

  static constexpr std::uint8_t kNoVerb = 0xFF;

  // The kind, NAME, PATH and note (built objects only).
  const core::directive::Selector& selector() const {
    return *reinterpret_cast<const core::directive::Selector*>(reinterpret_cast<const char*>(this) + sizeof *this);
  }
  // The action token, verbatim (built objects only).
  std::string_view action() const {
    return {reinterpret_cast<const char*>(&selector()) + selector().size(), head.action_len};
  }

  // Ends what the object owns (its tp_dealloc): nothing, as it is all inline.
  void destroy() {}
};
static_assert(sizeof(PyDirective) == 40 && offsetof(PyDirective, head.built) == 28, "the layout above");

// A new Directive object with `action` and the parts laid out in it.
PyObject* new_directive(std::string_view action, const core::directive::Parts& parts);

// A new Directive object holding a copy of `record`.
PyObject* new_directive(const core::directive::Directive<>& record);

// The object behind `o` if it is a built Directive; otherwise null with
// TypeError set.
const PyDirective* built_directive(PyObject* o);

// One item of a `directives` argument, held: the object, and a copy of what
// decides most non-matches, taken when it was held. A fold walks an array of
// these and touches only the objects whose gate admits the target.
struct HeldDirective {
  const PyDirective* object;
  core::directive::Gate gate;
  std::uint8_t verb;
};

// The items of a `directives` argument, in order, each a built Directive
// held until the call returns.
class HeldDirectives {
 public:
  HeldDirectives() = default;
  HeldDirectives(const HeldDirectives&) = delete;
  HeldDirectives& operator=(const HeldDirectives&) = delete;
  ~HeldDirectives();

  const HeldDirective* begin() const { return items_.begin(); }
  const HeldDirective* end() const { return items_.begin() + held_; }

 private:
  friend bool to_directives(PyObject* o, HeldDirectives& out);
  SmallVec<HeldDirective, 16> items_;  // the items read
  std::size_t held_ = 0;               // how many of them are held (all, once converted)
};

// Converts a `directives` argument (any sequence but a str, whose items are
// all built Directive objects).
bool to_directives(PyObject* o, HeldDirectives& out);

// The arguments both folds begin with, `current`, `directives`, `names`,
// `qualifier` and `scopes`, converted in that order; what they view is held
// as long as this lives.
struct FoldArgs {
  Keep keep;
  std::string_view current;
  HeldDirectives directives;
  SmallVec<std::string_view, 4> names, scopes;
  TargetArgs target{names, scopes, {}};
};
bool to_fold_args(PyObject* const* a, FoldArgs& out);

// How the core's folds reach a held Directive object.
struct DirectiveAccess {
  // The walk reads the held array in order, which needs no help.
  static void prefetch(const HeldDirective&) {}
  static std::optional<lint::LintAction> verb(const HeldDirective& h) {
    if (h.verb == PyDirective::kNoVerb) return std::nullopt;
    return static_cast<lint::LintAction::Value>(h.verb);
  }
  static const core::directive::Gate& gate(const HeldDirective& h) { return h.gate; }
  static void prefetch_match(const HeldDirective& h) { h.object->selector().prefetch(); }
  static const core::directive::Selector& selector(const HeldDirective& h) { return h.object->selector(); }
  static std::string_view action(const HeldDirective& h) { return h.object->action(); }
  static std::uint32_t action_hash(const HeldDirective& h) { return h.object->head.action_hash; }
};

}  // namespace quorvel::python
