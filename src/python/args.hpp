// The argument conventions of every function and method of the module,
// written once:
//  - binding by the names of the text signature (positional-or-keyword before
//    `*`, keyword-only after it), by a hand-written binder that serves both
//    calling conventions: tuple + dict (3.9) and fast calls (3.10 and later,
//    chosen when the module executes);
//  - conversion in signature order, where a TypeError of exactly that type is
//    re-raised as "argument 'NAME': " + its message, with its cause;
//  - the shared kinds: text, list of text, set of text, bool, 32-bit int,
//    the directive list and the match target;
//  - no C++ exception crosses into the interpreter: std::bad_alloc becomes
//    MemoryError, anything else SystemError.
#pragma once

#include <cstdint>
#include <exception>
#include <new>
#include <optional>
#include <string>
#include <string_view>

#include "core/directive/directive.hpp"
#include "python/ref.hpp"

namespace quorvel::python {

inline constexpr int kMaxParams = 9;

// A text signature: `npos` positional-or-keyword parameters, then keyword-only
// ones; the first `nrequired` are required.
struct Signature {
  const char* function;  // for messages, e.g. "glob_match"
  const char* params[kMaxParams];
  int count;
  int npos;
  int nrequired;
  PyObject* interned[kMaxParams];  // filled by intern_signatures()
};

// Interns the parameter names of every registered signature (once).
bool intern_signature(Signature& sig);

// Binds arguments to parameters; `out` has sig.count slots, left null for
// omitted parameters. False with TypeError set on a binding error.
bool bind_fast(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
               PyObject** out);
bool bind_tuple(const Signature& sig, PyObject* args, PyObject* kwargs, PyObject** out);

// Turns a pending exception of exactly TypeError into
// TypeError("argument 'NAME': " + message), keeping its cause.
void name_argument_error(const char* param);

// Runs `f` and keeps C++ exceptions out of the interpreter.
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

using Impl = PyObject* (*)(PyObject* self, PyObject* const* bound);

// The two entry points of one function: the same binding, the same body.
template <Signature* S, Impl F>
PyObject* fast_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    PyObject* bound[kMaxParams] = {};
    if (!bind_fast(*S, args, nargs, kwnames, bound)) return nullptr;
    return F(self, bound);
  });
}

template <Signature* S, Impl F>
PyObject* tuple_entry(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    PyObject* bound[kMaxParams] = {};
    if (!bind_tuple(*S, args, kwargs, bound)) return nullptr;
    return F(self, bound);
  });
}

// A method table entry in both conventions; the module picks one.
struct MethodPair {
  PyMethodDef fast;
  PyMethodDef tuple;
  Signature* sig;
  const PyMethodDef& pick() const;
};

template <Signature* S, Impl F>
MethodPair method_pair(const char* name, const char* doc) {
  return MethodPair{
      PyMethodDef{name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&fast_entry<S, F>)),
                  kMethFastcall | METH_KEYWORDS, doc},
      PyMethodDef{name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&tuple_entry<S, F>)),
                  METH_VARARGS | METH_KEYWORDS, doc},
      S};
}

// --- Conversions. Each returns false with an exception set. ---------------

// Text: a str (or subclass) as UTF-8, through the interpreter's strict
// encoder. `keep` holds whatever keeps the bytes alive; with `hold`, the str
// itself is held too (for items of containers that later code could change).
bool to_text(PyObject* o, std::string_view& out, Keep& keep, bool hold);
// A list of text: any sequence but a str, read in order.
template <std::size_t N>
bool to_text_list(PyObject* o, SmallVec<std::string_view, N>& out, Keep& keep);
// A set of text: a set or frozenset (or subclass), in iteration order.
template <std::size_t N>
bool to_text_set(PyObject* o, SmallVec<std::string_view, N>& out, Keep& keep);
// Exactly True or False, or a numpy bool scalar.
bool to_bool(PyObject* o, bool& out);
// An int (or __index__) within the 32-bit signed range.
bool to_int32(PyObject* o, std::int32_t& out);

// The items of a sequence that is not a str. On success `items` is a new
// reference to a list or tuple with the items, read by iterating `o`.
bool sequence_items(PyObject* o, Ref& items);

// The match target from `names`, `qualifier` and `scopes` (in that order).
struct TargetArgs {
  SmallVec<std::string_view, 8> names;
  SmallVec<std::string_view, 8> scopes;
  std::optional<std::string_view> qualifier;
  core::directive::Target target() const {
    return core::directive::Target{{names.data(), names.size()}, qualifier, {scopes.data(), scopes.size()}};
  }
};
bool to_target(PyObject* names, PyObject* qualifier, PyObject* scopes, TargetArgs& out, Keep& keep);

// The same, naming the parameter in a TypeError.
bool arg_text(PyObject* o, const char* param, std::string_view& out, Keep& keep);

// A new str from UTF-8 the core produced (always valid).
inline PyObject* new_str(std::string_view s) {
  return PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size()));
}

// The name of an object's type, for messages.
std::string type_name(PyObject* o);

// Raises DirectiveError(message).
PyObject* raise_directive_error(std::string_view message);

}  // namespace quorvel::python

#include "python/args_impl.hpp"
