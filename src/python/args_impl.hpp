// Template conversions of args.hpp.
#pragma once

namespace quorvel::python {

template <std::size_t N>
bool to_text_list(PyObject* o, SmallVec<std::string_view, N>& out, Keep& keep) {
  Ref items;
  if (!sequence_items(o, items)) return false;
  const bool is_list = PyList_Check(items.get());
  const Py_ssize_t n = is_list ? PyList_Size(items.get()) : PyTuple_Size(items.get());
  out.reserve(static_cast<std::size_t>(n));
  for (Py_ssize_t i = 0; i < n; ++i) {
    PyObject* item = is_list ? PyList_GetItem(items.get(), i) : PyTuple_GetItem(items.get(), i);
    std::string_view t;
    if (!PyUnicode_Check(item)) {
      PyErr_Format(PyExc_TypeError, "item %zd: expected str, got %s", i, type_name(item).c_str());
      return false;
    }
    if (!to_text(item, t, keep, true)) return false;
    out.push_back(t);
  }
  return true;
}

template <std::size_t N>
bool to_text_set(PyObject* o, SmallVec<std::string_view, N>& out, Keep& keep) {
  if (!PyAnySet_Check(o)) {
    PyErr_Format(PyExc_TypeError, "expected a set or frozenset, got %s", type_name(o).c_str());
    return false;
  }
  Ref it = Ref::steal(PyObject_GetIter(o));
  if (!it) return false;
  for (;;) {
    Ref item = Ref::steal(PyIter_Next(it.get()));
    if (!item) break;
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

}  // namespace quorvel::python
