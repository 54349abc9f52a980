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

// The kernel id of the holding thread, or 0 when the lock is free: the
// word the waiters sleep on.
std::atomic<std::uint32_t> g_holder{0};
static_assert(sizeof g_holder == sizeof(std::uint32_t) && std::atomic<std::uint32_t>::is_always_lock_free,
              "the futex calls need a plain 32-bit word");

// Whether this thread holds the lock. It is what "held by me" asks, rather
// than a comparison of thread ids, because it stays true across a fork:
// the forking thread goes on in the child under another id, still inside
// its read.
thread_local bool t_holding = false;

// The longest single wait before the caller's interrupt check runs again.
constexpr long kWaitStepNs = 100'000'000;

// The calling thread's kernel id.
std::uint32_t this_thread_id() { return static_cast<std::uint32_t>(::syscall(SYS_gettid)); }

// A forked child has only the forking thread. If that thread held the lock
// (a signal handler forked during its read), it still holds it in the child,
// under its new id; whoever else held it does not exist there, so the lock
// is free.
void fix_in_child() { g_holder.store(t_holding ? this_thread_id() : 0, std::memory_order_relaxed); }

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
  [[maybe_unused]] static const bool fork_handler = ::pthread_atfork(nullptr, nullptr, &fix_in_child) == 0;
  // Reading again inside one's own read would take the middle of the input
  // away from the outer read: refuse it instead of waiting for oneself.
  if (t_holding) return Reason::StdinBusy;
  const std::uint32_t me = this_thread_id();
  if (!try_take(me)) {
    const std::function<bool()> step = [me] { return wait_step(me); };
    for (;;) {
      if (wait_for_stdin ? wait_for_stdin(step) : step()) break;
      if (check && check()) return Reason::Interrupted;
    }
  }
  t_holding = true;
  return StdinLock(true);
}

StdinLock::~StdinLock() {
  if (!holding_) return;
  t_holding = false;
  g_holder.store(0, std::memory_order_release);
  ::syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&g_holder), FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr, 0);
}

}  // namespace quorvel::source
