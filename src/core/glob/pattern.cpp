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

// The head of a compiled form: then the source bytes, then the compiled
// program at the next 8-byte boundary.
struct Head {
  std::uint64_t total;       // bytes of the whole compiled form
  std::uint32_t source_len;  // bytes of the source
  std::uint32_t program_off; // offset of the program from the head
};

constexpr std::size_t align8(std::size_t n) { return (n + 7) & ~std::size_t{7}; }

const Head& head_of(const void* block) { return *static_cast<const Head*>(block); }

}  // namespace

// A pattern's heap block: the reference count, then the compiled form.
struct Pattern::Block {
  std::atomic<std::uint32_t> refs;  // patterns sharing the block
  std::uint32_t unused;             // keeps the compiled form 8-byte aligned
  // The compiled form that follows.
  const void* form() const { return this + 1; }
};

namespace {

// Fixed texts up to this size are joined on the stack while compiling.
constexpr std::size_t kStackScratch = 512;
// Programs up to this size are built on the stack by match_once.
constexpr std::size_t kStackProgram = 4096;

}  // namespace

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

// Reads `source` into `scratch`: without a `{` as its one piece, else cut
// into pieces first (they are not needed once read).
const Scan& scan_source(std::string_view source, ScanScratch& scratch) {
  if (source.empty() || std::memchr(source.data(), '{', source.size()) == nullptr) {
    return scan_program(source, scratch);
  }
  Pieces pieces;
  char flat[kStackScratch];
  cut_pieces(source, pieces, source.size() <= sizeof flat ? flat : nullptr);
  return scan_program(source, pieces, scratch);
}

}  // namespace

std::size_t compiled_size(std::string_view source) {
  ScanScratch scratch(source);
  return align8(sizeof(Head) + source.size()) + program_size(scan_source(source, scratch));
}

PatternView compile_into(std::string_view source, void* out) {
  ScanScratch scratch(source);
  const Scan& scan = scan_source(source, scratch);
  const std::size_t program_off = align8(sizeof(Head) + source.size());
  auto* b = static_cast<unsigned char*>(out);
  new (out) Head{program_off + program_size(scan), static_cast<std::uint32_t>(source.size()),
                 static_cast<std::uint32_t>(program_off)};
  if (!source.empty()) std::memcpy(b + sizeof(Head), source.data(), source.size());
  emit_program(scan, b + program_off);
  return PatternView(out);
}

bool PatternView::matches(std::string_view text) const {
  const Head& h = head_of(block_);
  const void* program = static_cast<const unsigned char*>(block_) + h.program_off;
  if (!static_cast<const ProgramHeader*>(program)->per_alternative) return run_program(program, text);
  const std::string_view source = this->source();
  Pieces pieces;
  cut_pieces(source, pieces, nullptr);
  return match_per_alternative(source, pieces, text);
}

SourceText PatternView::source() const {
  return std::string_view(static_cast<const char*>(block_) + sizeof(Head), head_of(block_).source_len);
}

std::size_t PatternView::size() const { return head_of(block_).total; }

Pattern Pattern::compile(std::string_view source) {
  const std::size_t size = compiled_size(source);
  void* mem = ::operator new(sizeof(Block) + size);
  Pattern p;
  p.block_ = new (mem) Block{{1}, 0};
  compile_into(source, static_cast<unsigned char*>(mem) + sizeof(Block));
  return p;
}

PatternView Pattern::view() const { return PatternView(block_->form()); }

bool Pattern::matches(std::string_view text) const { return block_ ? view().matches(text) : text.empty(); }

SourceText Pattern::source() const { return block_ ? view().source() : SourceText(std::string_view()); }

std::size_t Pattern::bytes_kept() const { return block_ ? sizeof(Block) + view().size() : 0; }

namespace {

// The general path of match_once: compiles into scratch memory (on the stack
// for short patterns) and runs the program. Kept out of line so that the
// short paths do not pay for its stack frame.
[[gnu::noinline]] bool match_compiled(std::string_view pattern, const BraceShape* shape, std::string_view text) {
  Pieces pieces;
  char flat[kStackScratch];
  cut_pieces(pattern, pieces, pattern.size() <= sizeof flat ? flat : nullptr, shape);
  ScanScratch scratch(pattern);
  const Scan& scan = scan_program(pattern, pieces, scratch);
  if (scan.h.per_alternative) return match_per_alternative(pattern, pieces, text);
  const std::size_t size = program_size(scan);
  alignas(8) unsigned char stack[kStackProgram];
  std::unique_ptr<std::uint64_t[]> heap;
  void* mem = stack;
  if (size > sizeof stack) {
    heap.reset(new std::uint64_t[size / 8]);
    mem = heap.get();
  }
  emit_program(scan, mem);
  return run_program(mem, text);
}

}  // namespace

bool match_once(std::string_view pattern, std::string_view text) {
  if (pattern.size() <= kShortPattern) {
    if (std::memchr(pattern.data(), '{', pattern.size()) == nullptr) return match_short(pattern, text);
    const BraceShape shape = brace_shape(pattern);
    if (shape.literal) return match_short(pattern, text);
    if (shape.count <= kFewAlternatives) return match_few_alternatives(pattern, shape, text);
    return match_compiled(pattern, &shape, text);  // the braces scanned once
  }
  return match_compiled(pattern, nullptr, text);
}

}  // namespace quorvel::core::glob
