#include "source/read.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <new>
#include <optional>
#include <string>

namespace quorvel::source {

namespace {

// How much data may go by between two interrupt checks. It also caps one
// read, so that a source that never blocks (/dev/zero) still comes back to
// the check; the check itself costs next to nothing.
constexpr std::size_t kCheckEvery = std::size_t{4} << 20;

// The first room of a buffer whose final size is unknown.
constexpr std::size_t kFirstRoom = std::size_t{64} << 10;

// True when the caller wants the load stopped.
bool stop(const InterruptCheck& check) { return check && check(); }

// Closes a descriptor when it goes out of scope.
struct Closer {
  int fd;
  ~Closer() { ::close(fd); }
};

// Reads `fd` to its end into `out`.
std::optional<ReadFailure> fill(int fd, Bytes& out, const InterruptCheck& check) {
  // A signal that came just before the first read would otherwise wait for
  // the next EINTR or a few MiB of data.
  if (stop(check)) return ReadFailure{Reason::Interrupted};
  std::size_t since_check = 0;
  for (;;) {
    if (out.spare_size() == 0) out.reserve_more(kFirstRoom);
    const ssize_t got = ::read(fd, out.spare(), std::min(out.spare_size(), kCheckEvery));
    if (got < 0) {
      if (errno != EINTR) return ReadFailure{Reason::Os, errno};
      if (stop(check)) return ReadFailure{Reason::Interrupted};
      continue;
    }
    if (got == 0) return std::nullopt;
    out.commit(static_cast<std::size_t>(got));
    since_check += static_cast<std::size_t>(got);
    if (since_check >= kCheckEvery) {
      since_check = 0;
      if (stop(check)) return ReadFailure{Reason::Interrupted};
    }
  }
}

}  // namespace

void Bytes::reserve_more(std::size_t n) {
  if (capacity_ - size_ >= n) return;
  if (n > SIZE_MAX - size_ || capacity_ > SIZE_MAX / 2) throw std::bad_alloc();
  const std::size_t capacity = std::max(capacity_ * 2, size_ + n);
  // realloc moves large blocks by remapping their pages, not by copying.
  char* p = static_cast<char*>(std::realloc(data_.get(), capacity));
  if (!p) throw std::bad_alloc();
  static_cast<void>(data_.release());
  data_.reset(p);
  capacity_ = capacity;
}

core::Result<Bytes, ReadFailure> read_fd(int fd, const InterruptCheck& check) {
  Bytes out;
  if (auto failure = fill(fd, out, check)) return *failure;
  return out;
}

core::Result<Bytes, ReadFailure> read_path(std::string_view path, const InterruptCheck& check) {
  if (path.find('\0') != std::string_view::npos) return ReadFailure{Reason::NulInName};
  const std::string p(path);
  int fd;
  // Opening a FIFO waits for a writer: a signal must be able to end that wait.
  while ((fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC)) < 0) {
    if (errno != EINTR) return ReadFailure{Reason::Os, errno};
    if (stop(check)) return ReadFailure{Reason::Interrupted};
  }
  const Closer closer{fd};
  Bytes out;
  // A regular file is read into room for its whole size and one byte more,
  // so that the read that sees its end needs no growth.
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
    out.reserve_more(static_cast<std::size_t>(st.st_size) + 1);
  }
  if (auto failure = fill(fd, out, check)) return *failure;
  return out;
}

}  // namespace quorvel::source
