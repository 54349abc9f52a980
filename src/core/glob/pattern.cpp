#include "core/glob/pattern.hpp"

#include <algorithm>
#include <atomic>
#include <cassert>
#include <cstring>
#include <memory>
#include <new>

#include "core/glob/brace.hpp"
#include "core/glob/match.hpp"

namespace quorvel::core::glob {

namespace {

constexpr std::size_t align8(std::size_t n) { return (n + 7) & ~std::size_t{7}; }

// The road a compiled pattern takes (match.hpp), in the low bits of its size.
// The automaton's three roads differ only in the width of its indices.
enum Road : std::uint32_t { Literal, HeadTail, Segments, Automaton8, Automaton16, Automaton32 };
constexpr std::uint32_t kRoadBits = 7;

// The head of a compiled form; then the source bytes; then, at the next
// 8-byte boundary, the body of the road.
struct Head {
  std::uint32_t source_len;  // bytes of the source
  std::uint32_t size_road;   // bytes of the form (a multiple of 8) | Road
  std::uint32_t a;  // HeadTail: bytes before the star; Segments: the segment count; Automaton: positions
  std::uint32_t b;  // HeadTail: bytes after it; Automaton: junctions
};

const Head& head_of(const void* block) { return *static_cast<const Head*>(block); }

// The Segments body: this, the segments, then the alternative's bytes when
// they are not the source.
struct SegHead {
  std::uint32_t fail_at;  // the first `[` that does not close (past the end: none)
  std::uint32_t alt_len;  // bytes of the alternative, or kSource: the source itself
};
constexpr std::uint32_t kSource = 0xFFFFFFFFu;
std::size_t body_at(std::size_t source_len) { return align8(sizeof(Head) + source_len); }

// Only literal bytes and stars, every star in one run: the two plain roads.
bool plain_road(std::string_view s, std::uint32_t& road, std::uint32_t& head, std::uint32_t& tail) {
  std::size_t first = std::string_view::npos, last = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '\\' || c == '?' || c == '[' || c == '{') return false;
    if (c == '*') {
      if (first != std::string_view::npos && last + 1 != i) return false;  // a second run of stars
      if (first == std::string_view::npos) first = i;
      last = i;
    }
  }
  road = first == std::string_view::npos ? Literal : HeadTail;
  head = road == Literal ? static_cast<std::uint32_t>(s.size()) : static_cast<std::uint32_t>(first);
  tail = road == Literal ? 0 : static_cast<std::uint32_t>(s.size() - last - 1);
  return true;
}

// Whether `text` matches a plain road of `source`: equal to it, or starting
// with its `head` bytes and ending with its `tail` bytes.
bool plain_match(std::uint32_t road, std::string_view source, std::size_t head, std::size_t tail,
                 std::string_view text) {
  if (road == Literal) return text == source;
  const std::size_t m = text.size();
  return m >= head + tail && text.substr(0, head) == source.substr(0, head) &&
         text.substr(m - tail) == source.substr(source.size() - tail);
}

}  // namespace

PatternPlan::PatternPlan(std::string_view source) : source_(source) {
  std::size_t body = 0;
  if (!plain_road(source, road_, a_, b_)) {
    const BraceShape shape = brace_shape(source);
    if (!shape.literal && shape.count >= 2) {
      const AutomatonPlan& plan = automaton_.emplace(source, shape);
      road_ = plan.index_bytes() == 1 ? Automaton8 : plan.index_bytes() == 2 ? Automaton16 : Automaton32;
      a_ = plan.positions();
      b_ = plan.junctions();
      body = plan.body_size();
    } else {
      dissolved_ = shape.dissolved && !shape.literal;
      if (dissolved_) {  // single-choice groups dissolve into one alternative
        for_each_fixed_span(source, shape, 0, [&](std::string_view span) { alt_ += span; });
      }
      const std::string_view atoms = dissolved_ ? alt_ : source;
      const std::size_t nseg = scan_segments(atoms, nullptr, 0, fail_at_);
      road_ = Segments;
      a_ = static_cast<std::uint32_t>(nseg);
      body = align8(sizeof(SegHead) + sizeof(Seg) * nseg + alt_.size());
    }
  }
  const std::size_t total = body_at(source.size()) + body;
  if (total > 0xFFFFFFF8u) throw std::bad_alloc();
  size_ = total;
}

PatternView PatternPlan::emit(void* out) const {
  auto* b = static_cast<std::uint8_t*>(out);
  new (out) Head{static_cast<std::uint32_t>(source_.size()), static_cast<std::uint32_t>(size_) | road_, a_, b_};
  if (!source_.empty()) std::memcpy(b + sizeof(Head), source_.data(), source_.size());
  std::memset(b + sizeof(Head) + source_.size(), 0, body_at(source_.size()) - sizeof(Head) - source_.size());
  if (road_ == Segments) {
    std::uint8_t* body = b + body_at(source_.size());
    std::memset(body, 0, size_ - body_at(source_.size()));
    new (body) SegHead{static_cast<std::uint32_t>(std::min<std::size_t>(fail_at_, 0xFFFFFFFFu)),
                       dissolved_ ? static_cast<std::uint32_t>(alt_.size()) : kSource};
    std::size_t fail = 0;
    [[maybe_unused]] const std::size_t nseg = scan_segments(dissolved_ ? std::string_view(alt_) : source_,
                                                            reinterpret_cast<Seg*>(body + sizeof(SegHead)), a_, fail);
    assert(nseg == a_ && fail == fail_at_);
    if (!alt_.empty()) std::memcpy(body + sizeof(SegHead) + sizeof(Seg) * a_, alt_.data(), alt_.size());
  }
  if (automaton_) automaton_->emit(b + body_at(source_.size()));
  return PatternView(out);
}

bool PatternView::matches(std::string_view text) const {
  const Head& h = head_of(block_);
  const auto* src = static_cast<const char*>(block_) + sizeof(Head);
  const auto* body = static_cast<const std::uint8_t*>(block_) + body_at(h.source_len);
  switch (h.size_road & kRoadBits) {
    case Literal:
    case HeadTail:
      return plain_match(h.size_road & kRoadBits, std::string_view(src, h.source_len), h.a, h.b, text);
    case Segments: {
      const SegHead& g = *reinterpret_cast<const SegHead*>(body);
      const auto* segs = reinterpret_cast<const Seg*>(body + sizeof(SegHead));
      const std::string_view atoms =
          g.alt_len != kSource ? std::string_view(reinterpret_cast<const char*>(segs + h.a), g.alt_len)
                               : std::string_view(src, h.source_len);
      return match_segments(atoms, g.fail_at, segs, h.a, text);
    }
    default:
      return match_automaton(body, h.a, h.b, 1u << ((h.size_road & kRoadBits) - Automaton8), text);
  }
}

SourceText PatternView::source() const {
  return std::string_view(static_cast<const char*>(block_) + sizeof(Head), head_of(block_).source_len);
}

std::size_t PatternView::size() const { return head_of(block_).size_road & ~kRoadBits; }

// A pattern's heap block: the reference count, then the compiled form.
struct Pattern::Block {
  std::atomic<std::uint32_t> refs;  // patterns sharing the block
  std::uint32_t unused;             // keeps the compiled form 8-byte aligned
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
  // The plain roads need no compiled form; the others are laid out on the
  // stack when short, else in a block freed on return. Nothing is kept.
  std::uint32_t road, head, tail;
  if (plain_road(pattern, road, head, tail)) return plain_match(road, pattern, head, tail, text);
  if (pattern.find('{') == std::string_view::npos) {  // one alternative: its segments on the stack
    constexpr std::size_t kStackSegs = 32;
    Seg stack[kStackSegs];
    std::size_t fail_at;
    const std::size_t nseg = scan_segments(pattern, stack, kStackSegs, fail_at);
    if (nseg <= kStackSegs) return match_segments(pattern, fail_at, stack, nseg, text);
    std::unique_ptr<Seg[]> heap(new Seg[nseg]);
    scan_segments(pattern, heap.get(), nseg, fail_at);
    return match_segments(pattern, fail_at, heap.get(), nseg, text);
  }
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
