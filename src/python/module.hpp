// The module's frame: the one place that includes Python.h (the limited API
// at 3.9), owned references, the call boundary every function and method
// goes through (argument binding, the recursion guard, no C++ exception
// reaching the interpreter), the process-wide type objects, DirectiveError,
// and the contents that the module registers.
//
// The layer, floor by floor:
//   module.hpp     this file
//   convert.hpp    Python objects to the core's values and back
//   directive.hpp  the Directive object's layout, and how folds reach it
//   directive.cpp, ladder.cpp, functions.cpp, module.cpp   the bodies
#pragma once

#ifndef Py_LIMITED_API
#error "the extension is built against the limited API"
#endif
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <atomic>
#include <exception>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <thread>
#include <utility>

namespace quorvel::python {

// --- the running interpreter ---------------------------------------------------

// In the stable ABI from 3.10; declared here because the 3.9 limited headers
// do not. Called only when running on 3.10 or later.
extern "C" const char* PyUnicode_AsUTF8AndSize(PyObject* unicode, Py_ssize_t* size);

// The fast calling convention: in the stable ABI from 3.10.
inline constexpr int kMethFastcall = 0x0080;

// 3.10 or later (fast calls, immutable types, UTF-8 without a copy): read
// from the running interpreter, not the build headers, when the module
// first executes.
extern bool g_modern;

// Runs `wait` without the interpreter lock and returns its result: a thread
// that waits for another must not hold the lock the other may need to finish.
template <class Wait>
auto without_interpreter_lock(Wait&& wait) {
  PyThreadState* ts = PyEval_SaveThread();
  auto result = wait();
  PyEval_RestoreThread(ts);
  return result;
}

// --- owned references ------------------------------------------------------------

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

  PyObject* get() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // Hands the reference to the caller.
  PyObject* release() { return std::exchange(p_, nullptr); }
  void reset() {
    if (p_) Py_DecRef(std::exchange(p_, nullptr));
  }

 private:
  explicit Ref(PyObject* o) : p_(o) {}
  PyObject* p_ = nullptr;
};

// New references to None, True or False, and a new str from UTF-8 that the
// core produced (always valid).
inline PyObject* new_ref(PyObject* o) {
  Py_INCREF(o);
  return o;
}
inline PyObject* new_none() { return new_ref(Py_None); }
inline PyObject* new_bool(bool v) { return new_ref(v ? Py_True : Py_False); }
inline PyObject* new_str(std::string_view s) {
  return PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size()));
}

// --- errors ------------------------------------------------------------------------

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

// The DirectiveError class, a subclass of ValueError (made once per
// process); null with an exception set if it cannot be made.
PyObject* directive_error_type();

// Raises DirectiveError(message); always returns null.
PyObject* raise_directive_error(std::string_view message);

// Turns a pending exception of exactly TypeError into
// TypeError("argument 'NAME': " + message), keeping its cause; any other
// pending exception is left as it is.
void name_argument_error(const char* param);

// The name of an object's type, for messages ("object" if it has none).
std::string type_name(PyObject* o);

// --- the call boundary ---------------------------------------------------------------

// The most parameters any function of the module has.
inline constexpr int kMaxParams = 9;

// A text signature: `npos` positional-or-keyword parameters, then keyword-only
// ones; the first `nrequired` are required.
struct Signature {
  const char* function;            // for messages, e.g. "glob_match"
  const char* params[kMaxParams];  // parameter names, in order
  int count;                       // number of parameters
  int npos;                        // how many may be passed by position
  int nrequired;                   // how many leading ones are required
  PyObject* interned[kMaxParams];  // the names as interned strs, filled by intern_signature()
};

// Interns the parameter names of a signature (once; the strs live for the
// life of the process).
bool intern_signature(Signature& sig);

// Binds fast-call arguments, or an argument tuple and keyword dict (either
// may be null), to parameters; `out` has sig.count slots, set null for
// omitted parameters. False with TypeError set on a binding error, in the
// interpreter's usual wording.
bool bind_fast(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
               PyObject** out);
bool bind_tuple(const Signature& sig, PyObject* args, PyObject* kwargs, PyObject** out);

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

// The fast-call entry point of a body (3.10 and later).
template <Signature* S, Impl F>
PyObject* fast_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    PyObject* bound[kMaxParams];  // filled by the binder
    if (!bind_fast(*S, args, nargs, kwnames, bound)) return nullptr;
    RecursionGuard guard(S->function);
    return guard.entered() ? F(self, bound) : nullptr;
  });
}

// The argument-tuple entry point of a body (every version).
template <Signature* S, Impl F>
PyObject* tuple_entry(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    PyObject* bound[kMaxParams];  // filled by the binder
    if (!bind_tuple(*S, args, kwargs, bound)) return nullptr;
    // The keyword dict may be the caller's own (a call from C passes it on
    // as it is), and code run during the call may change it: what was bound
    // from it is held until the call returns.
    Ref held[kMaxParams];
    if (kwargs) {
      for (int i = 0; i < S->count; ++i) held[i] = Ref::borrow(bound[i]);
    }
    RecursionGuard guard(S->function);
    return guard.entered() ? F(self, bound) : nullptr;
  });
}

// Casts an entry point to the type a PyMethodDef stores.
template <class Fn>
PyCFunction as_method(Fn* fn) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fn));
}

// A method table entry in both conventions; the module picks one.
struct MethodPair {
  PyMethodDef fast;   // fast calls, 3.10 and later
  PyMethodDef tuple;  // argument tuples, every version
  Signature* sig;     // the signature both bind by
  // The entry for the running interpreter.
  const PyMethodDef& pick() const { return g_modern ? fast : tuple; }
};

// The MethodPair of body F with signature S.
template <Signature* S, Impl F>
MethodPair method_pair(const char* name, const char* doc) {
  return MethodPair{
      PyMethodDef{name, as_method(&fast_entry<S, F>), kMethFastcall | METH_KEYWORDS, doc},
      PyMethodDef{name, as_method(&tuple_entry<S, F>), METH_VARARGS | METH_KEYWORDS, doc},
      S};
}

// --- process-wide objects and heap types ---------------------------------------------

// A process-wide object made once. A thread that finds another thread
// making it waits without holding the interpreter lock; the making thread
// itself, re-entering (a finalizer that runs during the creation and calls
// the module), gets an ImportError instead of waiting on itself.
class Once {
 public:
  // The object, made by `create` on first need; `what` names it in the
  // re-entry error. Null with an exception set on failure.
  PyObject* get(PyObject* (*create)(), const char* what) {
    if (PyObject* o = obj_.load(std::memory_order_acquire)) return o;
    return make(create, what);
  }

 private:
  PyObject* make(PyObject* (*create)(), const char* what);
  std::atomic<PyObject*> obj_{nullptr};
  std::mutex mutex_;
  std::atomic<std::thread::id> maker_{};  // the thread making it, while it does
};

// A new class `builtins.NAME` whose instances are `basicsize` bytes plus
// `itemsize` bytes per item: base object, not subclassable, no instance
// dictionary or weak references, immutable from 3.10 on.
PyObject* new_heap_type(const char* qualified_name, std::size_t basicsize, PyType_Slot* slots,
                        std::size_t itemsize = 0);

// A new zero-filled instance of heap type `type` with room for `items`
// items, from its allocation slot.
PyObject* alloc_instance(PyObject* type, Py_ssize_t items = 0);

// Gives back an instance's memory and its reference to its type: the
// tp_dealloc of the module's classes, which own nothing outside themselves
// but what their destroy() ends.
void free_instance(PyObject* self);
template <class T>
void dealloc(PyObject* self) {
  reinterpret_cast<T*>(self)->destroy();
  free_instance(self);
}

// --- what the module registers, in its order -------------------------------------------

extern MethodPair g_parse, g_glob_match, g_expand, g_lint_fold, g_lint_settings;  // functions.cpp
PyObject* directive_type();                                                        // directive.cpp
PyObject* ladder_type();                                                           // ladder.cpp

}  // namespace quorvel::python
