#include "source/error.hpp"

#include <cstring>

#include "core/text/text.hpp"

namespace quorvel::source {

namespace {

// strerror_r comes in two flavours; both end up as a C string here.
[[maybe_unused]] const char* strerror_text(int ret, const char* buf) { return ret == 0 ? buf : "Unknown error"; }
[[maybe_unused]] const char* strerror_text(const char* ret, const char*) { return ret; }

// The C library's text for an error number, made valid UTF-8, and the number.
std::string os_error_text(int code) {
  char buf[256];
  buf[0] = '\0';
  const char* msg = strerror_text(strerror_r(code, buf, sizeof buf), buf);
  return core::text::lossy_utf8(msg) + " (os error " + std::to_string(code) + ")";
}

}  // namespace

std::string Where::display() const {
  if (is_inline) return "<inline>";
  if (line == 0) return file;
  return file + ":" + std::to_string(line);
}

SourceError SourceError::parse_error(Where where, core::parse::ParseError error) {
  return SourceError{std::move(where), Reason::Parse, 0, std::move(error)};
}

std::string SourceError::message() const {
  std::string out = where.display() + ": ";
  switch (reason) {
    case Reason::Parse: return out + parse.message();
    case Reason::Os: return out + os_error_text(os_error);
    default: return out.append(kReasonMessages[static_cast<std::size_t>(reason)]);
  }
}

}  // namespace quorvel::source
