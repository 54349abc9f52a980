#include "source/stdin_lock.hpp"

#include <linux/futex.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <ctime>

namespace quorvel::source {

namespace {

// The kernel id of the holding thread, or 0 when the lock is free. Live
// threads never share an id, so "held by me" is a plain comparison.
std::atomic<std::uint32_t> g_holder{0};
static_assert(sizeof g_holder == sizeof(std::uint32_t) && std::atomic<std::uint32_t>::is_always_lock_free,
              "the futex calls need a plain 32-bit word");

// The longest single wait before the caller's interrupt check runs again.
constexpr long kWaitStepNs = 100'000'000;

// A forked child has only the forking thread: whoever held the lock in the
// parent does not exist there, so the child starts with the lock free.
void free_in_child() { g_holder.store(0, std::memory_order_relaxed); }

// The calling thread's kernel id.
std::uint32_t this_thread_id() { return static_cast<std::uint32_t>(::syscall(SYS_gettid)); }

// Takes the lock if it is free.
bool try_take(std::uint32_t me) {
  std::uint32_t free = 0;
  return g_holder.compare_exchange_strong(free, me, std::memory_order_acquire, std::memory_order_relaxed);
}

// One bounded wait: sleeps until the holder lets go or the step has passed
// (or a signal came), then tries again.
bool wait_step(std::uint32_t me) {
  const std::uint32_t seen = g_holder.load(std::memory_order_relaxed);
  if (seen != 0) {
    const timespec step{0, kWaitStepNs};
    ::syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&g_holder), FUTEX_WAIT_PRIVATE, seen, &step, nullptr, 0);
  }
  return try_take(me);
}

}  // namespace

core::Result<StdinLock, Reason> StdinLock::take(const WaitHook& wait_for_stdin, const InterruptCheck& check) {
  [[maybe_unused]] static const bool fork_handler = ::pthread_atfork(nullptr, nullptr, &free_in_child) == 0;
  const std::uint32_t me = this_thread_id();
  if (try_take(me)) return StdinLock(me);
  // Reading again inside one's own read would take the middle of the input
  // away from the outer read: refuse it instead of waiting for oneself.
  if (g_holder.load(std::memory_order_relaxed) == me) return Reason::StdinBusy;
  const std::function<bool()> step = [me] { return wait_step(me); };
  for (;;) {
    if (wait_for_stdin ? wait_for_stdin(step) : step()) return StdinLock(me);
    if (check && check()) return Reason::Interrupted;
  }
}

StdinLock::~StdinLock() {
  if (holder_ == 0) return;
  // After a fork the child's lock was freed and this hold is void: leave
  // whatever the child has done with the lock since.
  std::uint32_t mine = holder_;
  if (g_holder.compare_exchange_strong(mine, 0, std::memory_order_release, std::memory_order_relaxed)) {
    ::syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&g_holder), FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr,
              0);
  }
}

}  // namespace quorvel::source
