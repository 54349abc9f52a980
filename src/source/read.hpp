// Reading bytes: a whole file or descriptor into one buffer, each byte
// written once, with the interrupt check on EINTR and every few MiB.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "core/result.hpp"
#include "source/error.hpp"
#include "source/hooks.hpp"

namespace quorvel::source {

// A growable byte buffer. Its spare room is never zero-filled, so reading
// into it costs each byte once whatever the size of the reads.
class Bytes {
 public:
  // The bytes read so far.
  std::string_view view() const { return {data_.get(), size_}; }
  // The spare room after the bytes, to read into.
  char* spare() { return data_.get() + size_; }
  // How many bytes of spare room there are.
  std::size_t spare_size() const { return capacity_ - size_; }
  // Takes `n` bytes of spare room as read.
  void commit(std::size_t n) { size_ += n; }
  // Makes room for at least `n` more bytes, at least doubling the capacity;
  // throws std::bad_alloc when memory runs out.
  void reserve_more(std::size_t n);

 private:
  // Frees what realloc gave.
  struct Free {
    void operator()(char* p) const { std::free(p); }
  };
  std::unique_ptr<char, Free> data_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

// Why reading failed: Os (with the error number), NulInName or Interrupted.
struct ReadFailure {
  Reason reason;
  int os_error = 0;  // Os only
};

// Reads descriptor `fd` to its end.
core::Result<Bytes, ReadFailure> read_fd(int fd, const InterruptCheck& check);

// Opens the file at `path`, verbatim, and reads it to its end.
core::Result<Bytes, ReadFailure> read_path(std::string_view path, const InterruptCheck& check);

}  // namespace quorvel::source
