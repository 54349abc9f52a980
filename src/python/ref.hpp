// Owned references: one RAII handle for PyObject*, and a per-call arena of
// references that must stay alive until the call returns.
#pragma once

#include <cstddef>
#include <cstring>
#include <new>
#include <utility>

#include "python/api.hpp"

namespace quorvel::python {

// Owns one reference (or none).
class Ref {
 public:
  Ref() = default;
  static Ref steal(PyObject* o) { return Ref(o); }
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

  PyObject* get() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  PyObject* release() { return std::exchange(p_, nullptr); }
  void reset() {
    if (p_) Py_DecRef(std::exchange(p_, nullptr));
  }

 private:
  explicit Ref(PyObject* o) : p_(o) {}
  PyObject* p_ = nullptr;
};

// A growable array of trivially copyable values with room for N inline, so
// that the common small call allocates nothing.
template <class T, std::size_t N>
class SmallVec {
 public:
  SmallVec() = default;
  SmallVec(const SmallVec&) = delete;
  SmallVec& operator=(const SmallVec&) = delete;
  ~SmallVec() {
    if (data_ != inline_) ::operator delete(data_);
  }
  void push_back(const T& v) {
    if (size_ == cap_) grow();
    data_[size_++] = v;
  }
  void reserve(std::size_t n) {
    while (cap_ < n) grow();
  }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  T* begin() { return data_; }
  T* end() { return data_ + size_; }
  const T* begin() const { return data_; }
  const T* end() const { return data_ + size_; }
  const T* data() const { return data_; }
  T& operator[](std::size_t i) { return data_[i]; }
  const T& operator[](std::size_t i) const { return data_[i]; }

 private:
  void grow() {
    const std::size_t cap = cap_ * 2;
    T* p = static_cast<T*>(::operator new(cap * sizeof(T)));  // bad_alloc -> MemoryError
    std::memcpy(static_cast<void*>(p), data_, size_ * sizeof(T));
    if (data_ != inline_) ::operator delete(data_);
    data_ = p;
    cap_ = cap;
  }
  T inline_[N];
  T* data_ = inline_;
  std::size_t size_ = 0;
  std::size_t cap_ = N;
};

// What one call keeps alive until it returns: references, and scratch bytes
// (UTF-8 made from a str) that must not move.
class Keep {
 public:
  Keep() = default;
  Keep(const Keep&) = delete;
  Keep& operator=(const Keep&) = delete;
  ~Keep() {
    for (PyObject* o : refs_) Py_DecRef(o);
    for (char* p : blocks_) ::operator delete(p);
  }
  // Takes over an owned reference.
  void own(PyObject* o) {
    try {
      refs_.reserve(refs_.size() + 1);
    } catch (...) {
      Py_DecRef(o);
      throw;
    }
    refs_.push_back(o);
  }
  // Holds one more reference to a borrowed object.
  void hold(PyObject* o) {
    refs_.reserve(refs_.size() + 1);  // may throw before the reference is taken
    Py_IncRef(o);
    refs_.push_back(o);
  }
  // Gives back the last `n` bytes of the inline scratch space (after a
  // request that turned out larger than needed).
  void unscratch(char* end_of_use) {
    if (end_of_use >= inline_ && end_of_use <= inline_ + used_) used_ = static_cast<std::size_t>(end_of_use - inline_);
  }
  // `n` bytes of scratch space that stay put until the call returns.
  char* scratch(std::size_t n) {
    if (n <= sizeof inline_ - used_) {
      char* p = inline_ + used_;
      used_ += n;
      return p;
    }
    blocks_.reserve(blocks_.size() + 1);
    char* p = static_cast<char*>(::operator new(n));
    blocks_.push_back(p);
    return p;
  }

 private:
  SmallVec<PyObject*, 16> refs_;
  SmallVec<char*, 4> blocks_;
  std::size_t used_ = 0;
  char inline_[1024];
};

}  // namespace quorvel::python
