// The directive grammar and the text form. Properties: parsing UTF-8 input
// never fails except with one of the six errors; where the text form is not
// ambiguous, it parses again to the same fields; display is stable.
#include <string>
#include <string_view>

#include "core/parse/parse.hpp"
#include "core/text/text.hpp"
#include "fuzz_check.hpp"

using namespace quorvel::core;

namespace {

bool ends_with_backslash(std::string_view s) { return !s.empty() && s.back() == '\\'; }

// The text form reads back to the same directive unless a stored text holds
// what the grammar would read as a delimiter.
bool round_trips(const directive::Directive<>& d) {
  if (ends_with_backslash(d.action.token) || ends_with_backslash(d.name().source())) return false;
  if (d.path() && ends_with_backslash(d.path()->source())) return false;
  if (const auto kind = d.kind()) {
    const std::string_view k = *kind;
    if (k == "*" || k.find_first_of(">\\=") != std::string_view::npos) return false;
    if (text::trim(k).size() != k.size()) return false;
  } else if (!d.name().source().empty() && d.name().source()[0] == '<') {
    return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  const std::string_view spec(reinterpret_cast<const char*>(data), size);
  if (!text::valid_utf8(spec)) return 0;
  auto r = parse::parse_as(spec);
  if (!r.ok()) {
    FUZZ_CHECK(r.error().kind != parse::ParseError::Kind::UnknownAction);
    FUZZ_CHECK(!r.error().message().empty());
    return 0;
  }
  const auto& d = r.value();
  FUZZ_CHECK(!d.action.token.empty());
  FUZZ_CHECK(!d.name().source().empty());
  FUZZ_CHECK(!d.kind() || !d.kind()->empty());
  const std::string form = directive::text_form(d);
  FUZZ_CHECK(text::valid_utf8(form));
  if (round_trips(d)) {
    auto again = parse::parse_as(form);
    FUZZ_CHECK(again.ok());
    const auto& e = again.value();
    FUZZ_CHECK(e.action.token == d.action.token);
    FUZZ_CHECK(e.kind() == d.kind());
    FUZZ_CHECK(e.name().source() == d.name().source());
    FUZZ_CHECK(static_cast<bool>(e.path()) == static_cast<bool>(d.path()));
    if (d.path()) FUZZ_CHECK(e.path()->source() == d.path()->source());
    FUZZ_CHECK(e.note() == d.note());
    FUZZ_CHECK(directive::text_form(e) == form);
  }
  return 0;
}
