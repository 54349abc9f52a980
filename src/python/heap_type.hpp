// The scaffolding that the module's process-wide objects share: made once
// per process on first need (Once), heap types made from a spec, and the
// allocation and deallocation of their instances.
#pragma once

#include <atomic>
#include <mutex>
#include <thread>

#include "python/ref.hpp"

namespace quorvel::python {

// A process-wide object made once. A thread that finds another thread
// making it waits without holding the interpreter lock; the making thread
// itself, re-entering (a finalizer that runs during the creation and calls
// the module), gets an ImportError instead of waiting on itself.
class Once {
 public:
  // The object, made by `create` on first need; `what` names it in the
  // re-entry error. Null with an exception set on failure.
  PyObject* get(PyObject* (*create)(), const char* what);

 private:
  std::atomic<PyObject*> obj_{nullptr};
  std::mutex mutex_;
  std::atomic<std::thread::id> maker_{};  // the thread making it, while it does
};

// A new class `builtins.NAME` whose instances are `basicsize` bytes plus
// `itemsize` bytes per item (variable-size when itemsize is not 0): base
// object, not subclassable, no instance dictionary or weak references, and
// immutable where the running interpreter can mark it so (3.10 and later).
PyObject* new_heap_type(const char* qualified_name, std::size_t basicsize, PyType_Slot* slots,
                        std::size_t itemsize = 0);

// A new zero-filled instance of heap type `type` with room for `items`
// items, from its allocation slot.
PyObject* alloc_instance(PyObject* type, Py_ssize_t items = 0);

// Gives back an instance's memory and its reference to its type; the last
// step of every tp_dealloc.
void free_instance(PyObject* self);

// The tp_dealloc of a class whose instance struct T has destroy(), which
// ends what the instance owns.
template <class T>
void dealloc(PyObject* self) {
  reinterpret_cast<T*>(self)->destroy();
  free_instance(self);
}

}  // namespace quorvel::python
