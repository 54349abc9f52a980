#include "python/args.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "python/module.hpp"

namespace quorvel::python {

Runtime g_runtime;

void detect_runtime() {
  // "3.12.1 (main, ...)": the running interpreter, not the build headers.
  const char* v = Py_GetVersion();
  int major = 0, minor = 0;
  if (std::sscanf(v, "%d.%d", &major, &minor) == 2) {
    g_runtime.modern = major > 3 || (major == 3 && minor >= 10);
  }
}

unsigned long immutable_type_flag() { return g_runtime.modern ? (1UL << 8) : 0; }

const PyMethodDef& MethodPair::pick() const { return g_runtime.modern ? fast : tuple; }

std::string type_name(PyObject* o) {
  Ref name = Ref::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(o)), "__name__"));
  if (name) {
    Py_ssize_t n = 0;
    Ref bytes = Ref::steal(PyUnicode_AsUTF8String(name.get()));
    char* p = nullptr;
    if (bytes && PyBytes_AsStringAndSize(bytes.get(), &p, &n) == 0) return std::string(p, static_cast<std::size_t>(n));
  }
  PyErr_Clear();
  return "object";
}

PyObject* raise_directive_error(std::string_view message) {
  PyObject* type = directive_error_type();
  if (!type) return nullptr;
  Ref msg = Ref::steal(new_str(message));
  if (msg) PyErr_SetObject(type, msg.get());
  return nullptr;
}

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

bool too_many_positional(const Signature& sig, Py_ssize_t nargs) {
  if (sig.npos == 0) {
    PyErr_Format(PyExc_TypeError, "%s() takes no positional arguments (%zd given)", sig.function, nargs);
  } else {
    PyErr_Format(PyExc_TypeError, "%s() takes at most %d positional argument%s (%zd given)", sig.function,
                 sig.npos, sig.npos == 1 ? "" : "s", nargs);
  }
  return false;
}

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
    PyErr_Restore(type, value, tb);
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
    PyObject* cause = PyException_GetCause(v.get());  // new reference or null
    if (cause) PyException_SetCause(exc.get(), cause);  // steals it
  }
  PyErr_SetObject(PyExc_TypeError, exc.get());
}

bool to_text(PyObject* o, std::string_view& out, Keep& keep, bool hold) {
  if (!PyUnicode_Check(o)) {
    PyErr_Format(PyExc_TypeError, "expected str, got %s", type_name(o).c_str());
    return false;
  }
  if (g_runtime.modern) {
    Py_ssize_t n = 0;
    const char* p = PyUnicode_AsUTF8AndSize(o, &n);
    if (!p) return false;
    if (hold) keep.hold(o);
    out = std::string_view(p, static_cast<std::size_t>(n));
    return true;
  }
  // 3.9: the stable ABI has no view of a str's UTF-8. A short str is copied
  // out as code points and encoded here, with no temporary object; a long
  // one, or one holding a surrogate, goes through the interpreter's encoder
  // (which then raises its own exact error).
  const Py_ssize_t len = PyUnicode_GetLength(o);
  if (len < 0) return false;
  constexpr Py_ssize_t kShort = 128;
  if (len <= kShort) {
    Py_UCS4 cps[kShort > 0 ? kShort : 1];
    if (len > 0 && !PyUnicode_AsUCS4(o, cps, kShort, 0)) return false;
    char* out8 = keep.scratch(static_cast<std::size_t>(len) * 4);
    std::size_t n = 0;
    bool surrogate = false;
    Py_UCS4 any = 0;
    for (Py_ssize_t i = 0; i < len; ++i) any |= cps[i];
    if (any < 0x80) {  // ASCII, the common case: one byte per code point
      for (Py_ssize_t i = 0; i < len; ++i) out8[i] = static_cast<char>(cps[i]);
      n = static_cast<std::size_t>(len);
    }
    for (Py_ssize_t i = any < 0x80 ? len : 0; i < len && !surrogate; ++i) {
      const Py_UCS4 c = cps[i];
      if (c < 0x80) {
        out8[n++] = static_cast<char>(c);
      } else if (c < 0x800) {
        out8[n++] = static_cast<char>(0xC0 | (c >> 6));
        out8[n++] = static_cast<char>(0x80 | (c & 0x3F));
      } else if (c < 0x10000) {
        surrogate = c >= 0xD800 && c <= 0xDFFF;
        out8[n++] = static_cast<char>(0xE0 | (c >> 12));
        out8[n++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out8[n++] = static_cast<char>(0x80 | (c & 0x3F));
      } else {
        out8[n++] = static_cast<char>(0xF0 | (c >> 18));
        out8[n++] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out8[n++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out8[n++] = static_cast<char>(0x80 | (c & 0x3F));
      }
    }
    keep.unscratch(out8 + n);
    if (!surrogate) {
      out = std::string_view(out8, n);
      return true;
    }
  }
  PyObject* bytes = PyUnicode_AsUTF8String(o);
  if (!bytes) return false;
  keep.own(bytes);
  char* p = nullptr;
  Py_ssize_t n = 0;
  if (PyBytes_AsStringAndSize(bytes, &p, &n) < 0) return false;
  out = std::string_view(p, static_cast<std::size_t>(n));
  return true;
}

bool arg_text(PyObject* o, const char* param, std::string_view& out, Keep& keep) {
  if (to_text(o, out, keep, false)) return true;
  name_argument_error(param);
  return false;
}

bool sequence_items(PyObject* o, Ref& items) {
  if (PyUnicode_Check(o)) {
    PyErr_SetString(PyExc_TypeError, "expected a sequence, got str (pass a single text as a one-element list)");
    return false;
  }
  if (PyList_CheckExact(o) || PyTuple_CheckExact(o)) {
    // Read in place: converting the items runs no Python code, so the list
    // cannot change under the loop, and the loops hold what they keep.
    items = Ref::borrow(o);
    return true;
  }
  if (!PySequence_Check(o)) {
    PyErr_Format(PyExc_TypeError, "expected a sequence, got %s", type_name(o).c_str());
    return false;
  }
  Ref it = Ref::steal(PyObject_GetIter(o));
  if (!it) return false;
  items = Ref::steal(PyList_New(0));
  if (!items) return false;
  for (;;) {
    Ref item = Ref::steal(PyIter_Next(it.get()));
    if (!item) break;
    if (PyList_Append(items.get(), item.get()) < 0) return false;
  }
  return !PyErr_Occurred();
}

bool to_bool(PyObject* o, bool& out) {
  if (o == Py_True || o == Py_False) {
    out = o == Py_True;
    return true;
  }
  // numpy's bool scalars, recognised by their type's module and name, so
  // that numpy is never imported here.
  PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(o));
  Ref mod = Ref::steal(PyObject_GetAttrString(type, "__module__"));
  Ref name = Ref::steal(PyObject_GetAttrString(type, "__name__"));
  PyErr_Clear();
  if (mod && name && PyUnicode_Check(mod.get()) && PyUnicode_Check(name.get()) &&
      PyUnicode_CompareWithASCIIString(mod.get(), "numpy") == 0 &&
      (PyUnicode_CompareWithASCIIString(name.get(), "bool_") == 0 ||
       PyUnicode_CompareWithASCIIString(name.get(), "bool") == 0)) {
    const int v = PyObject_IsTrue(o);
    if (v < 0) return false;
    out = v != 0;
    return true;
  }
  PyErr_Clear();
  PyErr_Format(PyExc_TypeError, "expected a bool, got %s", type_name(o).c_str());
  return false;
}

bool to_int32(PyObject* o, std::int32_t& out) {
  Ref index;
  if (!PyLong_Check(o)) {
    index = Ref::steal(PyNumber_Index(o));
    if (!index) return false;
    o = index.get();
  }
  int overflow = 0;
  const long long v = PyLong_AsLongLongAndOverflow(o, &overflow);
  if (v == -1 && PyErr_Occurred()) return false;
  if (overflow != 0 || v < INT32_MIN || v > INT32_MAX) {
    PyErr_Format(PyExc_OverflowError, "%R is outside the 32-bit signed range [-2147483648, 2147483647]", o);
    return false;
  }
  out = static_cast<std::int32_t>(v);
  return true;
}

bool to_target(PyObject* names, PyObject* qualifier, PyObject* scopes, TargetArgs& out, Keep& keep) {
  if (!to_text_list(names, out.names, keep)) {
    name_argument_error("names");
    return false;
  }
  if (qualifier && qualifier != Py_None) {
    std::string_view q;
    if (!arg_text(qualifier, "qualifier", q, keep)) return false;
    out.qualifier = q;
  }
  if (scopes && scopes != Py_None) {
    if (!to_text_list(scopes, out.scopes, keep)) {
      name_argument_error("scopes");
      return false;
    }
  }
  return true;
}

}  // namespace quorvel::python
