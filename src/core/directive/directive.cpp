#include "core/directive/directive.hpp"

namespace quorvel::core::directive {

void append_text_form(std::string& out, std::string_view action, const Selector& s) {
  out += action;
  out += ':';
  if (s.kind) {
    out += '<';
    out += *s.kind;
    out += '>';
  }
  out += s.name.source();
  if (s.path) {
    out += '@';
    out += s.path->source();
  }
  if (s.note) {
    out += '=';
    out += *s.note;
  }
}

}  // namespace quorvel::core::directive
