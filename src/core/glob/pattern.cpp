#include "core/glob/pattern.hpp"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "core/glob/compile.hpp"
#include "core/glob/match.hpp"

namespace quorvel::core::glob {

namespace {

constexpr std::size_t align8(std::size_t n) { return (n + 7) & ~std::size_t{7}; }

// The head of a compiled form; then the source bytes; then, at the next
// 8-byte boundary, the literal head and tail bytes when the source does not
// hold them as they are; then, at the next, the General program.
struct Head {
  std::uint32_t source_len;  // bytes of the source
  std::uint32_t size_shape;  // bytes of the form (a multiple of 8) | kCopied | Shape
  std::uint32_t head_len;    // literal bytes every match starts with
  std::uint32_t tail_len;    // literal bytes every match ends with
};
constexpr std::uint32_t kCopied = 4;  // the literal bytes follow the source
constexpr std::uint32_t kShapeBits = 3;

// The one layout of a compiled form.
struct Form {
  std::size_t literal_off, program_off, total;
  Form(std::size_t source_len, bool copied, std::size_t literal_len, std::size_t program_size)
      : literal_off(align8(sizeof(Head) + source_len)),
        program_off(literal_off + (copied ? align8(literal_len) : 0)),
        total(program_off + program_size) {}
};

// Whether the literal head and tail of `c` are the first and last bytes of
// `source` as written (no escape among them).
bool in_source(const Compiled& c, std::string_view source) {
  const std::string_view lit = c.literal();
  const std::size_t h = c.head_len(), t = lit.size() - h;
  return source.size() >= h + t && source.substr(0, h) == lit.substr(0, h) &&
         source.substr(source.size() - t) == lit.substr(h);
}

// Whether `text` matches: the literal head and tail compared, then the
// shape decides or the program runs on the rest.
bool decide(Shape shape, const char* head, std::size_t head_len, const char* tail, std::size_t tail_len,
            const void* program, std::string_view text) {
  const std::size_t m = text.size();
  if (shape == Shape::Literal) return m == head_len && (m == 0 || std::memcmp(head, text.data(), m) == 0);
  if (m < head_len + tail_len) return false;
  if (head_len != 0 && std::memcmp(head, text.data(), head_len) != 0) return false;
  if (tail_len != 0 && std::memcmp(tail, text.data() + m - tail_len, tail_len) != 0) return false;
  return shape == Shape::HeadTail || run_program(program, text.substr(head_len, m - head_len - tail_len));
}

const Head& head_of(const void* block) { return *static_cast<const Head*>(block); }

}  // namespace

// A pattern's heap block: the reference count, then the compiled form.
struct Pattern::Block {
  std::atomic<std::uint32_t> refs;  // patterns sharing the block
  std::uint32_t unused;             // keeps the compiled form 8-byte aligned
  // The compiled form that follows.
  const void* form() const { return this + 1; }
};

Pattern::Pattern(const Pattern& other) noexcept : block_(other.block_) {
  if (block_) block_->refs.fetch_add(1, std::memory_order_relaxed);
}

Pattern& Pattern::operator=(const Pattern& other) noexcept {
  Pattern copy(other);
  std::swap(block_, copy.block_);
  return *this;
}

Pattern& Pattern::operator=(Pattern&& other) noexcept {
  std::swap(block_, other.block_);
  return *this;
}

Pattern::~Pattern() {
  if (block_ && block_->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    block_->~Block();
    ::operator delete(block_);
  }
}

namespace {

// The layout of `c`, compiled from `source`.
Form form_of(const Compiled& c, std::string_view source, bool& copied) {
  copied = !in_source(c, source);
  return Form(source.size(), copied, c.literal().size(), c.program_size());
}

}  // namespace

PatternPlan::PatternPlan(std::string_view source)
    : source_(source), compiled_(source), size_(form_of(compiled_, source, copied_).total) {}

PatternView PatternPlan::emit(void* out) const {
  const Compiled& c = compiled_;
  const Form f(source_.size(), copied_, c.literal().size(), c.program_size());
  auto* b = static_cast<unsigned char*>(out);
  new (out) Head{static_cast<std::uint32_t>(source_.size()),
                 static_cast<std::uint32_t>(f.total) | (copied_ ? kCopied : 0) | static_cast<std::uint32_t>(c.shape()),
                 c.head_len(), c.tail_len()};
  if (!source_.empty()) std::memcpy(b + sizeof(Head), source_.data(), source_.size());
  std::memset(b + sizeof(Head) + source_.size(), 0, f.literal_off - sizeof(Head) - source_.size());
  if (copied_) {
    std::memset(b + f.literal_off, 0, f.program_off - f.literal_off);
    std::memcpy(b + f.literal_off, c.literal().data(), c.literal().size());
  }
  if (c.shape() == Shape::General) c.emit_program(b + f.program_off);
  return PatternView(out);
}

bool PatternView::matches(std::string_view text) const {
  const Head& h = head_of(block_);
  const auto* b = static_cast<const char*>(block_);
  const bool copied = h.size_shape & kCopied;
  const Form f(h.source_len, copied, std::size_t{h.head_len} + h.tail_len, 0);
  const char* head = copied ? b + f.literal_off : b + sizeof(Head);
  const char* tail = copied ? head + h.head_len : b + sizeof(Head) + h.source_len - h.tail_len;
  return decide(static_cast<Shape>(h.size_shape & kShapeBits), head, h.head_len, tail, h.tail_len, b + f.program_off, text);
}

SourceText PatternView::source() const {
  return std::string_view(static_cast<const char*>(block_) + sizeof(Head), head_of(block_).source_len);
}

std::size_t PatternView::size() const { return head_of(block_).size_shape & ~std::uint32_t{7}; }

Pattern Pattern::compile(std::string_view source) {
  const PatternPlan plan(source);
  void* mem = ::operator new(sizeof(Block) + plan.size());
  Pattern p;
  p.block_ = new (mem) Block{{1}, 0};
  plan.emit(static_cast<unsigned char*>(mem) + sizeof(Block));
  return p;
}

PatternView Pattern::view() const { return PatternView(block_->form()); }

bool Pattern::matches(std::string_view text) const { return block_ ? view().matches(text) : text.empty(); }

SourceText Pattern::source() const { return block_ ? view().source() : SourceText(std::string_view()); }

std::size_t Pattern::bytes_kept() const { return block_ ? sizeof(Block) + view().size() : 0; }

bool match_once(std::string_view pattern, std::string_view text) {
  // Compiled afresh on every call, and nothing is kept: a short pattern's
  // form is laid out on the stack, a longer one in a block freed on return.
  const PatternPlan plan(pattern);
  constexpr std::size_t kStackWords = 128;
  if (plan.size() <= kStackWords * 8) {
    std::uint64_t stack[kStackWords];
    return plan.emit(stack).matches(text);
  }
  std::unique_ptr<std::uint64_t[]> heap(new std::uint64_t[plan.size() / 8]);
  return plan.emit(heap.get()).matches(text);
}

}  // namespace quorvel::core::glob
