// The quoted form. Properties: valid UTF-8 out, between double quotes, no raw
// control character inside, and reading the escapes back gives the input.
#include <string>
#include <string_view>

#include "core/text/text.hpp"
#include "fuzz_check.hpp"

using namespace quorvel::core::text;

namespace {

void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

std::string unquote(std::string_view q) {
  std::string out;
  for (std::size_t i = 1; i + 1 < q.size(); ++i) {
    if (q[i] != '\\') {
      out += q[i];
      continue;
    }
    const char e = q[++i];
    switch (e) {
      case '0': out += '\0'; break;
      case 't': out += '\t'; break;
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 'u': {
        const std::size_t close = q.find('}', i);
        append_utf8(out, static_cast<char32_t>(std::stoul(std::string(q.substr(i + 2, close - i - 2)), nullptr, 16)));
        i = close;
        break;
      }
      default: out += e;
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  const std::string_view in(reinterpret_cast<const char*>(data), size);
  if (!valid_utf8(in)) return 0;
  const std::string q = quoted(in);
  FUZZ_CHECK(valid_utf8(q));
  FUZZ_CHECK(q.size() >= 2 && q.front() == '"' && q.back() == '"');
  for (unsigned char c : q) FUZZ_CHECK(c >= 0x20 && c != 0x7F);
  FUZZ_CHECK(unquote(q) == in);
  return 0;
}
