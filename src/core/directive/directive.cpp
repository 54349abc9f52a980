#include "core/directive/directive.hpp"

#include <cstring>
#include <new>

namespace quorvel::core::directive {

namespace {

constexpr std::size_t align8(std::size_t n) { return (n + 7) & ~std::size_t{7}; }

// Where each part goes.
struct Layout {
  std::size_t name_off, path_off, note_off, end;

  explicit Layout(const Parts& p, std::size_t header) {
    name_off = p.kind ? align8(header + p.kind->size()) : header;
    const std::size_t after_name = name_off + glob::compiled_size(p.name);
    path_off = p.path ? after_name : 0;
    note_off = p.path ? after_name + glob::compiled_size(*p.path) : after_name;
    end = align8(note_off + (p.note ? p.note->size() : 0));
    // Offsets are kept in 32 bits, and a length of all ones means absent.
    if (end >= UINT32_MAX) throw std::bad_alloc();
  }
};

}  // namespace

std::size_t Selector::packed_size(const Parts& parts) { return Layout(parts, sizeof(Selector)).end; }

const Selector* Selector::pack_into(const Parts& parts, void* out) {
  // The same layout as Layout, each offset taken from the part laid out
  // before it, so that each pattern is scanned once here.
  auto* s = new (out) Selector;
  auto* b = static_cast<char*>(out);
  s->kind_len_ = parts.kind ? static_cast<std::uint32_t>(parts.kind->size()) : kAbsent;
  if (parts.kind && !parts.kind->empty()) std::memcpy(b + sizeof(Selector), parts.kind->data(), parts.kind->size());
  std::size_t at = s->name_off();
  at += glob::compile_into(parts.name, b + at).size();
  s->path_off_ = 0;
  if (parts.path) {
    s->path_off_ = static_cast<std::uint32_t>(at);
    at += glob::compile_into(*parts.path, b + at).size();
  }
  s->note_off_ = static_cast<std::uint32_t>(at);
  s->note_len_ = parts.note ? static_cast<std::uint32_t>(parts.note->size()) : kAbsent;
  if (parts.note && !parts.note->empty()) std::memcpy(b + at, parts.note->data(), parts.note->size());
  return s;
}

SharedSelector::SharedSelector(const Parts& parts) {
  const std::size_t size = Selector::packed_size(parts);
  void* mem = ::operator new(sizeof(Block) + size);
  block_ = new (mem) Block{{1}, 0};
  Selector::pack_into(parts, block_ + 1);
}

SharedSelector::~SharedSelector() {
  if (block_ && block_->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    block_->~Block();
    ::operator delete(block_);
  }
}

void append_text_form(std::string& out, std::string_view action, const Selector& s) {
  out += action;
  out += ':';
  if (const auto kind = s.kind()) {
    out += '<';
    out += *kind;
    out += '>';
  }
  out += s.name().source();
  if (const auto path = s.path()) {
    out += '@';
    out += path->source();
  }
  if (const auto note = s.note()) {
    out += '=';
    out += *note;
  }
}

}  // namespace quorvel::core::directive
