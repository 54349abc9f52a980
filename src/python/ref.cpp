// The per-call arena of references and scratch bytes.
#include "python/ref.hpp"

namespace quorvel::python {

namespace {

// One scratch area per thread. It lives off the stack, so that frames that
// can recurse through Python code stay small.
thread_local Scratch t_scratch;

}  // namespace

Keep::~Keep() {
  for (PyObject* o : refs_) Py_DecRef(o);
  for (char* p : blocks_) ::operator delete(p);
  if (scratch_) scratch_->used = mark_;
}

void Keep::own(PyObject* o) {
  try {
    refs_.reserve(refs_.size() + 1);
  } catch (...) {
    Py_DecRef(o);
    throw;
  }
  refs_.push_back(o);
}

void Keep::hold_always(PyObject* o) {
  refs_.reserve(refs_.size() + 1);  // may throw before the reference is taken
  Py_IncRef(o);
  refs_.push_back(o);
}

char* Keep::scratch_elsewhere(std::size_t n) {
  if (!scratch_) {
    scratch_ = &t_scratch;
    mark_ = scratch_->used;
  }
  if (n <= Scratch::kSize - scratch_->used) {
    char* p = scratch_->bytes + scratch_->used;
    scratch_->used += n;
    return p;
  }
  blocks_.reserve(blocks_.size() + 1);
  char* p = static_cast<char*>(::operator new(n));
  blocks_.push_back(p);
  return p;
}

void Keep::unscratch_elsewhere(char* end_of_use) {
  if (!scratch_) return;
  char* const base = scratch_->bytes;
  if (end_of_use >= base + mark_ && end_of_use <= base + scratch_->used) {
    scratch_->used = static_cast<std::size_t>(end_of_use - base);
  }
}

}  // namespace quorvel::python
