#include "core/directive/directive.hpp"

#include <cstring>
#include <new>

namespace quorvel::core::directive {

namespace {

constexpr std::size_t align8(std::size_t n) { return (n + 7) & ~std::size_t{7}; }

}  // namespace

Selector::Plan::Plan(const Parts& parts) : parts_(parts), name_(parts.name) {
  if (parts.path) path_.emplace(*parts.path);
  name_off_ = parts.kind ? align8(sizeof(Selector) + parts.kind->size()) : sizeof(Selector);
  path_off_ = name_off_ + name_.size();
  note_off_ = path_off_ + (path_ ? path_->size() : 0);
  end_ = align8(note_off_ + (parts.note ? parts.note->size() : 0));
  // Offsets are kept in 32 bits, and a length of all ones means absent.
  if (end_ >= UINT32_MAX) throw std::bad_alloc();
}

const Selector* Selector::Plan::pack_into(void* out) const {
  auto* s = new (out) Selector;
  auto* b = static_cast<char*>(out);
  s->kind_len_ = parts_.kind ? static_cast<std::uint32_t>(parts_.kind->size()) : kAbsent;
  if (parts_.kind && !parts_.kind->empty()) std::memcpy(b + sizeof(Selector), parts_.kind->data(), parts_.kind->size());
  name_.emit(b + name_off_);
  s->path_off_ = 0;
  if (path_) {
    s->path_off_ = static_cast<std::uint32_t>(path_off_);
    path_->emit(b + path_off_);
  }
  s->note_off_ = static_cast<std::uint32_t>(note_off_);
  s->note_len_ = parts_.note ? static_cast<std::uint32_t>(parts_.note->size()) : kAbsent;
  if (parts_.note && !parts_.note->empty()) std::memcpy(b + note_off_, parts_.note->data(), parts_.note->size());
  return s;
}

SharedSelector::SharedSelector(const Parts& parts) {
  const Selector::Plan plan(parts);
  void* mem = ::operator new(sizeof(Block) + plan.size());
  block_ = new (mem) Block{{1}, Gate::of(parts.kind, parts.name)};
  plan.pack_into(block_ + 1);
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
