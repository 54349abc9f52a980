// Conversions between Python objects and the core's values, one per
// parameter kind: text, list of text, set of text, bool, 32-bit int and the
// match target; and back: a fold's result. Each conversion returns false
// with an exception set.
//
// Code can run during a conversion (an __iter__, an __index__, a
// finalizer that an allocation lets the collector run) and change any
// container the caller passed. So whatever a conversion reads from an
// object it keeps is held, by the call's Keep, until the call returns.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

#include "core/directive/directive.hpp"
#include "python/module.hpp"

namespace quorvel::python {

// A growable array of trivially copyable values over storage given by the
// derived SmallVec; conversions take this base so that callers choose how
// much room they keep inline.
template <class T>
class VecBase {
 public:
  VecBase(const VecBase&) = delete;
  VecBase& operator=(const VecBase&) = delete;

  // Appends `n` values left for the caller to set, and gives the first.
  T* extend(std::size_t n) {
    reserve(size_ + n);
    T* first = data_ + size_;
    size_ += n;
    return first;
  }
  // Appends one value (std::bad_alloc when the heap is exhausted).
  void push_back(const T& v) {
    if (size_ == cap_) grow(cap_ * 2);
    data_[size_++] = v;
  }
  // Makes room for `n` values in all, growing geometrically, so that
  // callers which reserve one more value at a time stay linear.
  void reserve(std::size_t n) {
    if (n > cap_) grow(n > 2 * cap_ ? n : 2 * cap_);
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

 protected:
  VecBase(T* inline_data, std::size_t n) : data_(inline_data), inline_(inline_data), cap_(n) {}
  ~VecBase() {
    if (data_ != inline_) ::operator delete(data_);
  }

 private:
  void grow(std::size_t cap) {
    if (cap > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
    T* p = static_cast<T*>(::operator new(cap * sizeof(T)));
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

// A VecBase with room for N values inline.
template <class T, std::size_t N>
class SmallVec : public VecBase<T> {
 public:
  SmallVec() : VecBase<T>(reinterpret_cast<T*>(storage_), N) {}

 private:
  alignas(T) unsigned char storage_[N * sizeof(T)];  // raw: nothing to construct
};

// What one call keeps alive until it returns: references, and scratch bytes
// (3.9's UTF-8 made from a str) that must not move.
class Keep {
 public:
  Keep() = default;
  // A Keep whose scratch space comes first from `local` (n bytes of the
  // caller's frame).
  Keep(char* local, std::size_t n) : local_(local), local_size_(n) {}
  Keep(const Keep&) = delete;
  Keep& operator=(const Keep&) = delete;
  ~Keep();

  // Takes over an owned reference.
  void own(PyObject* o);
  // Holds one more reference to a borrowed object.
  void hold(PyObject* o) {
    refs_.reserve(refs_.size() + 1);  // may throw before the reference is taken
    Py_INCREF(o);
    refs_.push_back(o);
  }
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
  void unscratch(char* end_of_use);

 private:
  char* scratch_elsewhere(std::size_t n);

  SmallVec<PyObject*, 8> refs_;  // references to drop
  char* blocks_ = nullptr;       // heap scratch blocks to free, each led by the next's address
  char* local_ = nullptr;        // the caller's scratch bytes, if any
  std::size_t local_size_ = 0;   // how many
  std::size_t local_used_ = 0;   // how many are in use
  struct Scratch* area_ = nullptr;  // the thread's scratch area, once this call has used it
  std::size_t mark_ = 0;            // where this call's use of it began
};

// Whether `o` is a str (or subclass), the exact type without a call.
inline bool is_str(PyObject* o) { return Py_TYPE(o) == &PyUnicode_Type || PyUnicode_Check(o); }

// Text: a str (or subclass) as UTF-8, through the interpreter's strict
// encoder. With `hold`, the str is held (for items of containers, which
// later code could drop; arguments are held by the caller).
bool to_text(PyObject* o, std::string_view& out, Keep& keep, bool hold);

// The same for an argument, naming the parameter in a TypeError.
bool arg_text(PyObject* o, const char* param, std::string_view& out, Keep& keep);

// The items of a list parameter, read in order: the caller's exact list or
// tuple by index, any other sequence (not a str) by iterating it. `each(item)`
// gets every item, a borrowed reference that stays valid until the next one
// is asked for; it returns false to stop with an exception set. The count
// of items is known only for an exact list or tuple (`expect(n)` first).
template <class Expect, class Each>
bool for_each_item(PyObject* o, Expect&& expect, Each&& each);

// A list of text: any sequence but a str, each item held.
bool to_text_list(PyObject* o, VecBase<std::string_view>& out, Keep& keep);

// A set of text: a set or frozenset (or subclass), in iteration order, each
// item held.
bool to_text_set(PyObject* o, VecBase<std::string_view>& out, Keep& keep);

// Exactly True or False, or a numpy bool scalar.
bool to_bool(PyObject* o, bool& out);

// An int (or __index__) within the 32-bit signed range.
bool to_int32(PyObject* o, std::int32_t& out);

// The match target from `names`, `qualifier` and `scopes` (in that order),
// over storage the caller chooses.
struct TargetArgs {
  VecBase<std::string_view>& names;           // the target's names, in order
  VecBase<std::string_view>& scopes;          // the target's scopes; empty when absent
  std::optional<std::string_view> qualifier;  // the target's kind, if given
  core::directive::Target target() const {
    return core::directive::Target{{names.data(), names.size()}, qualifier, {scopes.data(), scopes.size()}};
  }
};

// Converts `names`, `qualifier` and `scopes` (the last two may be null or
// None), naming the parameter in a TypeError.
bool to_target(PyObject* names, PyObject* qualifier, PyObject* scopes, TargetArgs& out, Keep& keep);

// A fold's result: the tuple (level, dropped, notes), all new objects.
PyObject* fold_result(std::string_view level, bool dropped, const VecBase<std::string_view>& notes);

// --- for_each_item ------------------------------------------------------------------

// TypeError for a str or a non-sequence where a list is expected.
bool refuse_as_list(PyObject* o);

template <class Expect, class Each>
bool for_each_item(PyObject* o, Expect&& expect, Each&& each) {
  const bool list = PyList_CheckExact(o);
  if (list || PyTuple_CheckExact(o)) {
    const Py_ssize_t n = Py_SIZE(o);  // an exact list or tuple: its length
    expect(n);
    for (Py_ssize_t i = 0; i < n; ++i) {
      PyObject* item = list ? PyList_GetItem(o, i) : PyTuple_GetItem(o, i);
      if (!item) {  // `each` ran code that shortened the list: read no further
        PyErr_Clear();
        break;
      }
      if (!each(item)) return false;
    }
    return true;
  }
  if (PyUnicode_Check(o) || !PySequence_Check(o)) return refuse_as_list(o);
  Ref it = Ref::steal(PyObject_GetIter(o));
  if (!it) return false;
  while (Ref item = Ref::steal(PyIter_Next(it.get()))) {
    if (!each(item.get())) return false;
  }
  return !PyErr_Occurred();
}

}  // namespace quorvel::python
