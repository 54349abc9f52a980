// What the caller of a load hands in: where each directive goes, when to
// stop, and how to wait for standard input.
#pragma once

#include <cstdint>
#include <functional>

#include "core/directive/directive.hpp"

namespace quorvel::source {

// Receives each directive as it is parsed, with its line number (0 for an
// inline value); false stops the load, the caller holding its own error.
using OnDirective = std::function<bool(core::directive::Directive<>&&, std::uint64_t line)>;

// Asked when a blocking call was interrupted by a signal, and every few MiB
// of data: true stops the load, the caller holding its own error.
using InterruptCheck = std::function<bool()>;

// Runs `wait`, one bounded wait for the standard-input lock, and returns its
// answer; a caller with a lock of its own to give up while it waits does so
// here.
using WaitHook = std::function<bool(const std::function<bool()>& wait)>;

// The hooks of one load; only `on_directive` is required.
struct Hooks {
  OnDirective on_directive;    // each directive, in source order
  InterruptCheck interrupted;  // empty: never stop
  WaitHook wait_for_stdin;     // empty: wait right here
};

}  // namespace quorvel::source
