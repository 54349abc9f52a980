#include "source/origin.hpp"

#include <cerrno>
#include <cstring>

#include "core/text/text.hpp"

namespace quorvel::source {

namespace {

// strerror_r comes in two flavours; both end up as a C string here.
[[maybe_unused]] const char* strerror_text(int ret, const char* buf) { return ret == 0 ? buf : "Unknown error"; }
[[maybe_unused]] const char* strerror_text(const char* ret, const char*) { return ret; }

}  // namespace

std::string Origin::display() const {
  if (is_inline) return "<inline>";
  return file + ":" + std::to_string(line);
}

std::string IoError::message() const {
  switch (kind) {
    case Kind::InvalidUtf8: return "stream did not contain valid UTF-8";
    case Kind::NulInName: return "file name contained an unexpected NUL byte";
    case Kind::Os: break;
  }
  char buf[256];
  buf[0] = '\0';
  const char* msg = strerror_text(strerror_r(code, buf, sizeof buf), buf);
  return core::text::lossy_utf8(msg) + " (os error " + std::to_string(code) + ")";
}

std::string SourceError::message() const {
  if (const auto* p = std::get_if<0>(&error)) return p->first.display() + ": " + p->second.message();
  const auto& io = std::get<1>(error);
  return io.first + ": " + io.second.message();
}

}  // namespace quorvel::source
