// Binding arguments to the parameters of a text signature.
#include "python/bind.hpp"

namespace quorvel::python {

bool intern_signature(Signature& sig) {
  for (int i = 0; i < sig.count; ++i) {
    if (sig.interned[i]) continue;
    sig.interned[i] = PyUnicode_InternFromString(sig.params[i]);
    if (!sig.interned[i]) return false;
  }
  return true;
}

namespace {

// The parameter a keyword names, or -1.
int find_keyword(const Signature& sig, PyObject* key) {
  for (int i = 0; i < sig.count; ++i) {
    if (sig.interned[i] == key) return i;
  }
  if (!PyUnicode_Check(key)) return -1;
  for (int i = 0; i < sig.count; ++i) {
    if (PyUnicode_CompareWithASCIIString(key, sig.params[i]) == 0) return i;
  }
  PyErr_Clear();
  return -1;
}

// Raises the TypeError for more positional arguments than the signature takes.
bool too_many_positional(const Signature& sig, Py_ssize_t nargs) {
  if (sig.npos == 0) {
    PyErr_Format(PyExc_TypeError, "%s() takes no positional arguments (%zd given)", sig.function, nargs);
  } else {
    PyErr_Format(PyExc_TypeError, "%s() takes at most %d positional argument%s (%zd given)", sig.function,
                 sig.npos, sig.npos == 1 ? "" : "s", nargs);
  }
  return false;
}

// Puts one keyword argument in its slot, or raises the TypeError for an
// unknown or repeated one.
bool place_keyword(const Signature& sig, PyObject* key, PyObject* value, Py_ssize_t nargs, PyObject** out) {
  if (!PyUnicode_Check(key)) {
    PyErr_SetString(PyExc_TypeError, "keywords must be strings");
    return false;
  }
  const int i = find_keyword(sig, key);
  if (i < 0) {
    PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", sig.function, key);
    return false;
  }
  if (out[i]) {
    if (i < nargs) {
      PyErr_Format(PyExc_TypeError, "argument for %s() given by name ('%s') and position (%d)", sig.function,
                   sig.params[i], i + 1);
    } else {
      PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", sig.function, sig.params[i]);
    }
    return false;
  }
  out[i] = value;
  return true;
}

// Raises the TypeError for the first required parameter left without a value.
bool check_required(const Signature& sig, PyObject** out) {
  for (int i = 0; i < sig.nrequired; ++i) {
    if (!out[i]) {
      PyErr_Format(PyExc_TypeError, "%s() missing required argument '%s' (pos %d)", sig.function, sig.params[i],
                   i + 1);
      return false;
    }
  }
  return true;
}

}  // namespace

bool bind_fast(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** out) {
  // The offset bit of vectorcall's nargs is never set for method calls made
  // through the fast convention, but mask it to be safe.
  nargs &= ~(static_cast<Py_ssize_t>(1) << (8 * sizeof(Py_ssize_t) - 1));
  if (nargs > sig.npos) return too_many_positional(sig, nargs);
  for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = args[i];
  if (kwnames) {
    const Py_ssize_t nkw = PyTuple_Size(kwnames);
    for (Py_ssize_t k = 0; k < nkw; ++k) {
      if (!place_keyword(sig, PyTuple_GetItem(kwnames, k), args[nargs + k], nargs, out)) return false;
    }
  }
  return check_required(sig, out);
}

bool bind_tuple(const Signature& sig, PyObject* args, PyObject* kwargs, PyObject** out) {
  const Py_ssize_t nargs = args ? PyTuple_Size(args) : 0;
  if (nargs > sig.npos) return too_many_positional(sig, nargs);
  for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = PyTuple_GetItem(args, i);
  if (kwargs) {
    Py_ssize_t pos = 0;
    PyObject *key, *value;
    while (PyDict_Next(kwargs, &pos, &key, &value)) {
      if (!place_keyword(sig, key, value, nargs, out)) return false;
    }
  }
  return check_required(sig, out);
}

void name_argument_error(const char* param) {
  PyObject *type, *value, *tb;
  PyErr_Fetch(&type, &value, &tb);
  if (type != PyExc_TypeError) {
    PyErr_Restore(type, value, tb);  // hands the three references back
    return;
  }
  PyErr_NormalizeException(&type, &value, &tb);
  Ref t = Ref::steal(type), v = Ref::steal(value), tr = Ref::steal(tb);
  Ref text = Ref::steal(v ? PyObject_Str(v.get()) : PyUnicode_FromString(""));
  if (!text) return;
  Ref msg = Ref::steal(PyUnicode_FromFormat("argument '%s': %U", param, text.get()));
  if (!msg) return;
  Ref exc = Ref::steal(PyObject_CallFunctionObjArgs(PyExc_TypeError, msg.get(), nullptr));
  if (!exc) return;
  if (v) {
    Ref cause = Ref::steal(PyException_GetCause(v.get()));
    if (cause) PyException_SetCause(exc.get(), cause.release());  // takes the reference
  }
  PyErr_SetObject(PyExc_TypeError, exc.get());
}

}  // namespace quorvel::python
