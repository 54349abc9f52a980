#include "source/file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/text/text.hpp"

namespace quorvel::source::file {

namespace {

using core::text::trim_end;
using core::text::trim_start;

// Reads `fd` to its end, appending to `out`.
bool read_all(int fd, std::string& out, int& err, const InterruptCheck& check) {
  // A signal that came just before the read would otherwise wait for the
  // end of the input: ask once before blocking.
  if (check && check()) {
    err = EINTR;
    return false;
  }
  std::size_t chunk = 64 * 1024;
  for (;;) {
    if (out.capacity() - out.size() < chunk) out.reserve(out.size() + chunk);
    const std::size_t old = out.size();
    const std::size_t room = out.capacity() - old;
    out.resize(out.capacity());
    const ssize_t got = ::read(fd, out.data() + old, room);
    if (got < 0) {
      out.resize(old);
      if (errno == EINTR) {
        if (check && check()) {
          err = EINTR;
          return false;
        }
        continue;
      }
      err = errno;
      return false;
    }
    out.resize(old + static_cast<std::size_t>(got));
    if (got == 0) return true;
    if (chunk < (std::size_t{1} << 24)) chunk *= 2;
  }
}

}  // namespace

core::Result<std::string, IoError> read_fd(int fd, const InterruptCheck& check) {
  std::string text;
  int err = 0;
  if (!read_all(fd, text, err, check)) return IoError{IoError::Kind::Os, err};
  return text;
}

core::Result<std::string, IoError> read_path(std::string_view path) {
  if (path.find('\0') != std::string_view::npos) return IoError{IoError::Kind::NulInName, 0};
  const std::string p(path);
  int fd;
  do {
    fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return IoError{IoError::Kind::Os, errno};
  std::string text;
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
    text.reserve(static_cast<std::size_t>(st.st_size) + 1);
  }
  int err = 0;
  const bool ok = read_all(fd, text, err, {});
  ::close(fd);
  if (!ok) return IoError{IoError::Kind::Os, err};
  return text;
}

Outcome parse_str_each(std::string_view text, std::string_view name, const DirectiveSink& sink, SourceError& error) {
  if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  std::uint64_t line_no = 0;
  std::size_t pos = 0;
  const std::size_t n = text.size();
  while (pos < n) {
    ++line_no;
    const void* nl = std::memchr(text.data() + pos, '\n', n - pos);
    const std::size_t end = nl ? static_cast<std::size_t>(static_cast<const char*>(nl) - text.data()) : n;
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    line = trim_end(line);
    const std::string_view body = trim_start(line);
    if (body.empty() || body.front() == '#') continue;
    auto parsed = core::parse::parse_as(line);
    if (!parsed.ok()) {
      error = SourceError{std::pair<Origin, core::parse::ParseError>{Origin::at(std::string(name), line_no),
                                                                     parsed.error()}};
      return Outcome::Failed;
    }
    if (!sink(std::move(parsed).value(), line_no)) return Outcome::Stopped;
  }
  return Outcome::Done;
}

namespace {

Outcome checked_text(core::Result<std::string, IoError> text, std::string_view name, const DirectiveSink& sink,
                     SourceError& error) {
  if (text.ok() && !core::text::valid_utf8(text.value())) text = IoError{IoError::Kind::InvalidUtf8, 0};
  if (!text.ok()) {
    error = SourceError{std::pair<std::string, IoError>{std::string(name), text.error()}};
    return Outcome::Failed;
  }
  return parse_str_each(text.value(), name, sink, error);
}

}  // namespace

Outcome parse_file_each(std::string_view path, const DirectiveSink& sink, SourceError& error) {
  return checked_text(read_path(path), path, sink, error);
}

Outcome parse_reader_each(int fd, std::string_view name, const InterruptCheck& check, const DirectiveSink& sink,
                          SourceError& error) {
  return checked_text(read_fd(fd, check), name, sink, error);
}

Loaded parse_str(std::string_view text, std::string_view name) {
  return collect(name, [&](const DirectiveSink& sink, SourceError& e) { return parse_str_each(text, name, sink, e); });
}

Loaded parse_file(std::string_view path) {
  return collect(path, [&](const DirectiveSink& sink, SourceError& e) { return parse_file_each(path, sink, e); });
}

Loaded parse_reader(int fd, std::string_view name, const InterruptCheck& check) {
  return collect(name,
                 [&](const DirectiveSink& sink, SourceError& e) { return parse_reader_each(fd, name, check, sink, e); });
}

}  // namespace quorvel::source::file
