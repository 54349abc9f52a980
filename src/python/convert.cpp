// Conversions between Python objects and the core's values.
#include "python/convert.hpp"

#include <climits>

namespace quorvel::python {

// --- Keep -------------------------------------------------------------------------------

// Scratch bytes for one thread's calls: a bump area reused from call to
// call. Calls on one thread nest (a call that runs Python code may be
// re-entered), so each call gives back exactly what it took, in LIFO order.
// It lives off the stack, so that frames that can recurse through Python
// code stay small.
struct Scratch {
  static constexpr std::size_t kSize = 4096;  // 3.9's short strs fit many times over
  char bytes[kSize];
  std::size_t used = 0;
};

namespace {
thread_local Scratch t_scratch;
}  // namespace

Keep::~Keep() {
  for (PyObject* o : refs_) Py_DECREF(o);
  while (blocks_) {
    char* next;
    std::memcpy(&next, blocks_, sizeof next);
    ::operator delete(std::exchange(blocks_, next));
  }
  if (area_) area_->used = mark_;
}

void Keep::own(PyObject* o) {
  try {
    refs_.reserve(refs_.size() + 1);
  } catch (...) {
    Py_DecRef(o);
    throw;
  }
  refs_.push_back(o);
}

char* Keep::scratch_elsewhere(std::size_t n) {
  if (!area_) {
    area_ = &t_scratch;
    mark_ = area_->used;
  }
  if (n <= Scratch::kSize - area_->used) {
    char* p = area_->bytes + area_->used;
    area_->used += n;
    return p;
  }
  char* block = static_cast<char*>(::operator new(sizeof(char*) + n));
  std::memcpy(block, &blocks_, sizeof blocks_);
  blocks_ = block;
  return block + sizeof(char*);
}

void Keep::unscratch(char* end_of_use) {
  if (local_ && end_of_use >= local_ && end_of_use <= local_ + local_used_) {
    local_used_ = static_cast<std::size_t>(end_of_use - local_);
    return;
  }
  if (!area_) return;
  char* const base = area_->bytes;
  if (end_of_use >= base + mark_ && end_of_use <= base + area_->used) {
    area_->used = static_cast<std::size_t>(end_of_use - base);
  }
}

// --- text -------------------------------------------------------------------------------

namespace {

// 3.9: the stable ABI has no view of a str's UTF-8. A short str is copied
// out as code points and encoded here, with no temporary object; a long
// one, or one holding a surrogate, goes through the interpreter's encoder
// (which then raises its own exact error).
[[gnu::noinline]] bool to_text_39(PyObject* o, std::string_view& out, Keep& keep) {
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

}  // namespace

bool to_text(PyObject* o, std::string_view& out, Keep& keep, bool hold) {
  if (!is_str(o)) {
    PyErr_Format(PyExc_TypeError, "expected str, got %s", type_name(o).c_str());
    return false;
  }
  if (!g_modern) return to_text_39(o, out, keep);
  Py_ssize_t n = 0;
  const char* p = PyUnicode_AsUTF8AndSize(o, &n);
  if (!p) return false;
  if (hold) keep.hold(o);
  out = std::string_view(p, static_cast<std::size_t>(n));
  return true;
}

bool arg_text(PyObject* o, const char* param, std::string_view& out, Keep& keep) {
  if (to_text(o, out, keep, false)) return true;
  name_argument_error(param);
  return false;
}

// --- containers ---------------------------------------------------------------------------

bool refuse_as_list(PyObject* o) {
  if (PyUnicode_Check(o)) {
    PyErr_SetString(PyExc_TypeError, "expected a sequence, got str (pass a single text as a one-element list)");
  } else {
    PyErr_Format(PyExc_TypeError, "expected a sequence, got %s", type_name(o).c_str());
  }
  return false;
}

bool to_text_list(PyObject* o, VecBase<std::string_view>& out, Keep& keep) {
  Py_ssize_t i = 0;
  PyObject* last = nullptr;  // the item converted last, still held
  return for_each_item(
      o, [&](Py_ssize_t n) { out.reserve(static_cast<std::size_t>(n)); },
      [&](PyObject* item) {
        // The same str again (`[name] * n`) is the same text: on 3.9
        // converting it anew would copy it once per item.
        if (item == last) {
          out.push_back(out[out.size() - 1]);
          ++i;
          return true;
        }
        if (!is_str(item)) {
          PyErr_Format(PyExc_TypeError, "item %zd: expected str, got %s", i, type_name(item).c_str());
          return false;
        }
        std::string_view t;
        if (!to_text(item, t, keep, true)) return false;
        out.push_back(t);
        last = item;
        ++i;
        return true;
      });
}

bool to_text_set(PyObject* o, VecBase<std::string_view>& out, Keep& keep) {
  if (!PyAnySet_Check(o)) {
    PyErr_Format(PyExc_TypeError, "expected a set or frozenset, got %s", type_name(o).c_str());
    return false;
  }
  Ref it = Ref::steal(PyObject_GetIter(o));
  if (!it) return false;
  while (Ref item = Ref::steal(PyIter_Next(it.get()))) {
    if (!PyUnicode_Check(item.get())) {
      PyErr_Format(PyExc_TypeError, "set item: expected str, got %s", type_name(item.get()).c_str());
      return false;
    }
    std::string_view t;
    if (!to_text(item.get(), t, keep, true)) return false;
    out.push_back(t);
  }
  return !PyErr_Occurred();
}

// --- bool and int ------------------------------------------------------------------------

namespace {

// An attribute of a type, into `out`. A missing attribute leaves `out`
// empty; any other exception (a metaclass property may raise anything,
// KeyboardInterrupt included) is left pending and gives false.
bool type_attr(PyObject* type, const char* attr, Ref& out) {
  out = Ref::steal(PyObject_GetAttrString(type, attr));
  if (out) return true;
  if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
  PyErr_Clear();
  return true;
}

// Whether `o` is a str equal to the ASCII text `ascii`.
bool is_ascii_text(const Ref& o, const char* ascii) {
  return o && PyUnicode_Check(o.get()) && PyUnicode_CompareWithASCIIString(o.get(), ascii) == 0;
}

}  // namespace

bool to_bool(PyObject* o, bool& out) {
  if (o == Py_True || o == Py_False) {
    out = o == Py_True;
    return true;
  }
  // numpy's bool scalars, recognised by their type's module and name, so
  // that numpy is never imported here.
  PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(o));
  Ref mod, name;
  if (!type_attr(type, "__module__", mod) || !type_attr(type, "__name__", name)) return false;
  if (is_ascii_text(mod, "numpy") && (is_ascii_text(name, "bool_") || is_ascii_text(name, "bool"))) {
    const int v = PyObject_IsTrue(o);
    if (v < 0) return false;
    out = v != 0;
    return true;
  }
  if (name && PyUnicode_Check(name.get())) {
    PyErr_Format(PyExc_TypeError, "expected a bool, got %U", name.get());
  } else {
    PyErr_SetString(PyExc_TypeError, "expected a bool, got object");
  }
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
    // The value is not shown: turning a huge int into text is itself an
    // error on 3.11 and later, and an int subclass's __repr__ may raise.
    PyErr_SetString(PyExc_OverflowError, "int outside the 32-bit signed range [-2147483648, 2147483647]");
    return false;
  }
  out = static_cast<std::int32_t>(v);
  return true;
}

// --- the match target and a fold's result -------------------------------------------------

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

PyObject* fold_result(std::string_view level, bool dropped, const VecBase<std::string_view>& notes) {
  Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(notes.size())));
  if (!list) return nullptr;
  for (std::size_t i = 0; i < notes.size(); ++i) {
    PyObject* s = new_str(notes[i]);
    if (!s) return nullptr;
    PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), s);  // takes the reference
  }
  Ref level_str = Ref::steal(new_str(level));
  if (!level_str) return nullptr;
  Ref tuple = Ref::steal(PyTuple_New(3));
  if (!tuple) return nullptr;
  PyTuple_SetItem(tuple.get(), 0, level_str.release());  // each takes the reference
  PyTuple_SetItem(tuple.get(), 1, new_bool(dropped));
  PyTuple_SetItem(tuple.get(), 2, list.release());
  return tuple.release();
}

}  // namespace quorvel::python
