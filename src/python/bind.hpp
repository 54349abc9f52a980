// Binding arguments to parameters by the names of a text signature:
// positional-or-keyword parameters before `*`, keyword-only ones after it,
// for both calling conventions (argument tuple + dict, and fast calls), with
// the interpreter's usual TypeError wording.
#pragma once

#include "python/ref.hpp"

namespace quorvel::python {

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

// Binds fast-call arguments to parameters; `out` has sig.count slots, left
// null for omitted parameters. False with TypeError set on a binding error.
bool bind_fast(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
               PyObject** out);

// The same for an argument tuple and keyword dict (either may be null).
bool bind_tuple(const Signature& sig, PyObject* args, PyObject* kwargs, PyObject** out);

// Turns a pending exception of exactly TypeError into
// TypeError("argument 'NAME': " + message), keeping its cause; any other
// pending exception is left as it is.
void name_argument_error(const char* param);

}  // namespace quorvel::python
