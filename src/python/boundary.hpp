// The call boundary: how every function and method of the module is
// entered. The calling convention is chosen once, by the running
// interpreter (fast calls from 3.10 on, argument tuples on 3.9); both
// conventions bind the same way and run the same body, under a recursion
// guard, with no C++ exception ever reaching the interpreter.
#pragma once

#include <exception>
#include <new>

#include "python/bind.hpp"

namespace quorvel::python {

// Runs `f` and keeps C++ exceptions out of the interpreter: std::bad_alloc
// becomes MemoryError, anything else SystemError.
template <class F>
auto guarded(F&& f) noexcept -> decltype(f()) {
  try {
    return f();
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& e) {
    PyErr_SetString(PyExc_SystemError, e.what());
  } catch (...) {
    PyErr_SetString(PyExc_SystemError, "unexpected C++ exception");
  }
  return decltype(f())();
}

// The interpreter's recursion check for one entry that can call back into
// Python code (through __iter__, __index__, a finalizer...): a caller that
// recurses through the module gets RecursionError instead of running out of
// C stack.
class RecursionGuard {
 public:
  explicit RecursionGuard(const char* where) : entered_(Py_EnterRecursiveCall(where) == 0) {}
  RecursionGuard(const RecursionGuard&) = delete;
  RecursionGuard& operator=(const RecursionGuard&) = delete;
  ~RecursionGuard() {
    if (entered_) Py_LeaveRecursiveCall();
  }
  // False with RecursionError set when the limit was reached.
  bool entered() const { return entered_; }

 private:
  bool entered_;
};

// The body of a function or method: `bound` holds one slot per parameter of
// its signature (null when omitted).
using Impl = PyObject* (*)(PyObject* self, PyObject* const* bound);

// Binds, guards and runs one body; shared by both conventions.
template <Signature* S, Impl F>
PyObject* run_bound(PyObject* self, PyObject* const* bound) {
  RecursionGuard guard(S->function);
  if (!guard.entered()) return nullptr;
  return F(self, bound);
}

// The fast-call entry point of a body.
template <Signature* S, Impl F>
PyObject* fast_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    PyObject* bound[kMaxParams] = {};
    if (!bind_fast(*S, args, nargs, kwnames, bound)) return nullptr;
    return run_bound<S, F>(self, bound);
  });
}

// The argument-tuple entry point of a body.
template <Signature* S, Impl F>
PyObject* tuple_entry(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    PyObject* bound[kMaxParams] = {};
    if (!bind_tuple(*S, args, kwargs, bound)) return nullptr;
    // The keyword dict may be the caller's own (a call from C passes it on
    // as it is), and code run during the call may change it: what was bound
    // from it is held until the call returns.
    Ref held[kMaxParams];
    if (kwargs) {
      for (int i = 0; i < S->count; ++i) held[i] = Ref::borrow(bound[i]);
    }
    return run_bound<S, F>(self, bound);
  });
}

// A method table entry in both conventions; the module picks one.
struct MethodPair {
  PyMethodDef fast;   // fast calls, 3.10 and later
  PyMethodDef tuple;  // argument tuples, every version
  Signature* sig;     // the signature both bind by
  // The entry for the running interpreter.
  const PyMethodDef& pick() const { return g_runtime.modern ? fast : tuple; }
};

// Casts an entry point to the type a PyMethodDef stores.
template <class Fn>
PyCFunction as_method(Fn* fn) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fn));
}

// The MethodPair of body F with signature S.
template <Signature* S, Impl F>
MethodPair method_pair(const char* name, const char* doc) {
  return MethodPair{
      PyMethodDef{name, as_method(&fast_entry<S, F>), kMethFastcall | METH_KEYWORDS, doc},
      PyMethodDef{name, as_method(&tuple_entry<S, F>), METH_VARARGS | METH_KEYWORDS, doc},
      S};
}

}  // namespace quorvel::python
