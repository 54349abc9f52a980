// The one place that includes Python.h: the limited API at 3.9, plus the few
// declarations this module uses only when the running interpreter's stable
// ABI has them (3.10 and later). Nothing here depends on the version of the
// headers the module was built with.
#pragma once

#ifndef Py_LIMITED_API
#error "the extension is built against the limited API"
#endif
#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace quorvel::python {

// In the stable ABI from 3.10; declared here because the 3.9 limited headers
// do not. Called only when running on 3.10 or later.
extern "C" const char* PyUnicode_AsUTF8AndSize(PyObject* unicode, Py_ssize_t* size);

// The fast calling convention: in the stable ABI from 3.10.
inline constexpr int kMethFastcall = 0x0080;

// What the running interpreter offers, set once when the module first
// executes.
struct Runtime {
  bool modern = false;         // 3.10 or later: fast calls and UTF-8 without a copy
  bool deferred_gc = false;    // 3.12 or later: a collection never runs inside an allocation
};

// The running interpreter's capabilities.
extern Runtime g_runtime;

// Reads the running interpreter's version into g_runtime.
void detect_runtime();

// Marks a heap type immutable (3.10 and later; 0 before).
unsigned long immutable_type_flag();

// Runs `wait` without the interpreter lock and returns its result: a thread
// that waits for another must not hold the lock the other may need to finish.
template <class Wait>
auto without_interpreter_lock(Wait&& wait) {
  PyThreadState* ts = PyEval_SaveThread();
  auto result = wait();
  PyEval_RestoreThread(ts);
  return result;
}

}  // namespace quorvel::python
