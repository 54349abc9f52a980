// Owned references and per-call storage: the one RAII handle for PyObject*,
// the new-reference helpers for None and bools, a small-buffer vector, and
// the per-call arena of what must stay alive until a call returns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

#include "python/api.hpp"

namespace quorvel::python {

// Owns one reference (or none).
class Ref {
 public:
  Ref() = default;
  // Takes over a new reference (or null).
  static Ref steal(PyObject* o) { return Ref(o); }
  // Takes one more reference to a borrowed object (or null).
  static Ref borrow(PyObject* o) {
    if (o) Py_IncRef(o);
    return Ref(o);
  }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  Ref(Ref&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  Ref& operator=(Ref&& o) noexcept {
    if (this != &o) {
      reset();
      p_ = std::exchange(o.p_, nullptr);
    }
    return *this;
  }
  ~Ref() { reset(); }

  // The object, still owned here.
  PyObject* get() const { return p_; }
  // Whether a reference is held.
  explicit operator bool() const { return p_ != nullptr; }
  // Hands the reference to the caller.
  PyObject* release() { return std::exchange(p_, nullptr); }
  // Drops the reference, if any.
  void reset() {
    if (p_) Py_DecRef(std::exchange(p_, nullptr));
  }

 private:
  explicit Ref(PyObject* o) : p_(o) {}
  PyObject* p_ = nullptr;
};

// A new reference to None.
inline PyObject* new_none() { return Ref::borrow(Py_None).release(); }

// A new reference to True or False.
inline PyObject* new_bool(bool v) { return Ref::borrow(v ? Py_True : Py_False).release(); }

// A growable array of trivially copyable values over storage given by the
// derived SmallVec; conversions take this base so that callers choose how
// much room they keep inline.
template <class T>
class VecBase {
 public:
  VecBase(const VecBase&) = delete;
  VecBase& operator=(const VecBase&) = delete;

  // Appends one value (std::bad_alloc when the heap is exhausted).
  void push_back(const T& v) {
    if (size_ == cap_) grow(cap_ * 2);
    data_[size_++] = v;
  }
  // Makes room for `n` values in all. The room grows geometrically, so
  // that callers which reserve one more value at a time stay linear.
  void reserve(std::size_t n) {
    if (n > cap_) grow(n > 2 * cap_ ? n : 2 * cap_);
  }
  // Forgets every value, keeping the storage.
  void clear() { size_ = 0; }
  // The number of values.
  std::size_t size() const { return size_; }
  // Whether there is no value.
  bool empty() const { return size_ == 0; }
  // Iteration and indexing over the values.
  T* begin() { return data_; }
  T* end() { return data_ + size_; }
  const T* begin() const { return data_; }
  const T* end() const { return data_ + size_; }
  const T* data() const { return data_; }
  T& operator[](std::size_t i) { return data_[i]; }
  const T& operator[](std::size_t i) const { return data_[i]; }

 protected:
  VecBase(T* inline_data, std::size_t n) : data_(inline_data), inline_(inline_data), cap_(n) {}
  ~VecBase() {
    if (data_ != inline_) ::operator delete(data_);
  }

 private:
  void grow(std::size_t cap) {
    if (cap > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
    T* p = static_cast<T*>(::operator new(cap * sizeof(T)));  // bad_alloc -> MemoryError
    std::memcpy(static_cast<void*>(p), data_, size_ * sizeof(T));
    if (data_ != inline_) ::operator delete(data_);
    data_ = p;
    cap_ = cap;
  }
  T* data_;               // the values: inline_ or a heap block
  T* inline_;             // the derived class's inline storage
  std::size_t size_ = 0;  // values in use
  std::size_t cap_;       // room at data_
};

// A VecBase with room for N values inline, so that the common small call
// allocates nothing.
template <class T, std::size_t N>
class SmallVec : public VecBase<T> {
 public:
  SmallVec() : VecBase<T>(storage_, N) {}

 private:
  T storage_[N];  // the inline room
};

// Scratch bytes for one thread's calls: a bump area reused from call to
// call. Calls on one thread nest (a call that runs Python code may be
// re-entered), so each call gives back exactly what it took, in LIFO order.
struct Scratch {
  static constexpr std::size_t kSize = 4096;  // 3.9's short strs fit many times over
  char bytes[kSize];     // the area
  std::size_t used = 0;  // how much of it the calls in progress hold
};

// What one call keeps alive until it returns: references, and scratch bytes
// (UTF-8 made from a str) that must not move.
//
// In borrowing mode (see borrow_only), nothing can run Python code until the
// call has finished with what it read: hold() then takes no reference, since
// whatever a borrowed view points into stays where it is.
class Keep {
 public:
  Keep() = default;
  // A Keep whose scratch space comes first from `local` (n bytes of the
  // caller's frame): for leaf calls, which run no Python code and so
  // cannot recur, this spares the per-thread area's look-up.
  Keep(char* local, std::size_t n) : local_(local), local_size_(n) {}
  Keep(const Keep&) = delete;
  Keep& operator=(const Keep&) = delete;
  ~Keep();

  // Takes over an owned reference.
  void own(PyObject* o);
  // Holds one more reference to a borrowed object (none in borrowing mode).
  void hold(PyObject* o) {
    if (!borrowing_) hold_always(o);
  }
  // Holds one more reference, in either mode.
  void hold_always(PyObject* o);
  // From now on nothing can run Python code before the call is done with
  // its views; hold() takes no reference.
  void borrow_only() { borrowing_ = true; }
  // `n` bytes of scratch space that stay put until the call returns.
  char* scratch(std::size_t n) {
    if (n <= local_size_ - local_used_) {
      char* p = local_ + local_used_;
      local_used_ += n;
      return p;
    }
    return scratch_elsewhere(n);
  }
  // Gives back the unused end of the latest scratch request.
  void unscratch(char* end_of_use) {
    if (local_ && end_of_use >= local_ && end_of_use <= local_ + local_used_) {
      local_used_ = static_cast<std::size_t>(end_of_use - local_);
    } else {
      unscratch_elsewhere(end_of_use);
    }
  }

 private:
  // scratch() and unscratch() past the caller's bytes: the thread's area,
  // then the heap.
  char* scratch_elsewhere(std::size_t n);
  void unscratch_elsewhere(char* end_of_use);

  SmallVec<PyObject*, 8> refs_;  // references to drop
  SmallVec<char*, 2> blocks_;    // heap scratch blocks to free
  char* local_ = nullptr;         // the caller's scratch bytes, if any
  std::size_t local_size_ = 0;    // how many
  std::size_t local_used_ = 0;    // how many are in use
  Scratch* scratch_ = nullptr;  // the thread's area, once this call has used it
  std::size_t mark_ = 0;        // where this call's use of it began
  bool borrowing_ = false;        // see borrow_only()
};

}  // namespace quorvel::python
