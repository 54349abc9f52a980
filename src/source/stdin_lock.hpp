// The process's standard-input lock: one reader at a time, a nested read on
// the holding thread refused at once (in a child that this thread forked
// during its read as well), and free in any other forked child.
#pragma once

#include <cstdint>
#include <optional>

#include "source/error.hpp"
#include "source/hooks.hpp"

namespace quorvel::source {

// Holds the standard-input lock from a successful `take` until it is
// destroyed.
class StdinLock {
 public:
  // Takes the lock. While another thread holds it, waits in bounded steps
  // run through `wait_for_stdin` and asks `check` between them. Fails with
  // StdinBusy when this thread already holds it (a signal handler or a
  // finalizer reading inside a read), or with Interrupted.
  static core::Result<StdinLock, Reason> take(const WaitHook& wait_for_stdin, const InterruptCheck& check);

  // Moves the hold (on the thread that took it).
  StdinLock(StdinLock&& other) noexcept : holding_(other.holding_) { other.holding_ = false; }
  StdinLock& operator=(StdinLock&&) = delete;
  // Lets the lock go and wakes a waiter.
  ~StdinLock();

 private:
  explicit StdinLock(bool holding) : holding_(holding) {}
  bool holding_;  // false when moved from
};

}  // namespace quorvel::source
