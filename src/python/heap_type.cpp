// Once, heap types from specs, and instance allocation.
#include "python/heap_type.hpp"

namespace quorvel::python {

PyObject* Once::get(PyObject* (*create)(), const char* what) {
  if (PyObject* o = obj_.load(std::memory_order_acquire)) return o;
  if (!mutex_.try_lock()) {
    if (maker_.load(std::memory_order_relaxed) == std::this_thread::get_id()) {
      PyErr_Format(PyExc_ImportError,
                   "_quorvel: %s is being created by this thread and was needed again before it was ready "
                   "(the module was re-entered, e.g. from a finalizer, during its import)",
                   what);
      return nullptr;
    }
    without_interpreter_lock([this] {
      mutex_.lock();
      return true;
    });
  }
  std::lock_guard<std::mutex> guard(mutex_, std::adopt_lock);
  if (PyObject* o = obj_.load(std::memory_order_acquire)) return o;
  maker_.store(std::this_thread::get_id(), std::memory_order_relaxed);
  PyObject* o = create();
  maker_.store(std::thread::id(), std::memory_order_relaxed);
  if (o) obj_.store(o, std::memory_order_release);
  return o;
}

PyObject* new_heap_type(const char* qualified_name, std::size_t basicsize, PyType_Slot* slots,
                        std::size_t itemsize) {
  PyType_Spec spec = {
      .name = qualified_name,
      .basicsize = static_cast<int>(basicsize),
      .itemsize = static_cast<int>(itemsize),
      .flags = static_cast<unsigned int>(Py_TPFLAGS_DEFAULT | immutable_type_flag()),
      .slots = slots,
  };
  return PyType_FromSpec(&spec);
}

PyObject* alloc_instance(PyObject* type, Py_ssize_t items) {
  auto* t = reinterpret_cast<PyTypeObject*>(type);
  auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(t, Py_tp_alloc));
  return alloc(t, items);
}

void free_instance(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  auto free_fn = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
  free_fn(self);
  Py_DecRef(reinterpret_cast<PyObject*>(type));
}

}  // namespace quorvel::python
