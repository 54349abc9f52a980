// Conversions between Python objects and the core's values, one per
// parameter kind: text, list of text, set of text, bool, 32-bit int and the
// match target; and back: str from the core's UTF-8. Each conversion returns
// false with an exception set; what a view points into is kept alive by the
// call's Keep.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/directive/directive.hpp"
#include "python/ref.hpp"

namespace quorvel::python {

// The name of an object's type, for messages ("object" if it has none).
std::string type_name(PyObject* o);

// A new str from UTF-8 the core produced (always valid).
inline PyObject* new_str(std::string_view s) {
  return PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size()));
}

// Text: a str (or subclass) as UTF-8, through the interpreter's strict
// encoder. With `hold`, the str itself is held too (for items of containers
// that later code could change).
bool to_text(PyObject* o, std::string_view& out, Keep& keep, bool hold);

// The same, naming the parameter in a TypeError.
bool arg_text(PyObject* o, const char* param, std::string_view& out, Keep& keep);

// The items of a list parameter, read by index: the caller's own exact list
// or tuple, read in place, or a new list made by iterating any other
// sequence (then private to the call, so no item of it can change).
class Items {
 public:
  // Reads `o` (any sequence but a str); false with TypeError otherwise.
  bool read(PyObject* o, Keep& keep);
  // The number of items.
  Py_ssize_t size() const { return n_; }
  // Item `i` (borrowed).
  PyObject* operator[](Py_ssize_t i) const { return is_list_ ? PyList_GetItem(seq_, i) : PyTuple_GetItem(seq_, i); }
  // Whether the items belong to a list only this call can see.
  bool is_private() const { return private_; }

 private:
  PyObject* seq_ = nullptr;  // the list or tuple read (borrowed, or held by the Keep)
  Py_ssize_t n_ = 0;         // its length when read
  bool is_list_ = false;     // a list, else a tuple
  bool private_ = false;     // made by this call
};

// A list of text: any sequence but a str, read in order.
bool to_text_list(PyObject* o, VecBase<std::string_view>& out, Keep& keep);

// A set of text: a set or frozenset (or subclass), in iteration order. Each
// str is held, whatever the Keep's mode.
bool to_text_set(PyObject* o, VecBase<std::string_view>& out, Keep& keep);

// Exactly True or False, or a numpy bool scalar.
bool to_bool(PyObject* o, bool& out);

// An int (or __index__) within the 32-bit signed range.
bool to_int32(PyObject* o, std::int32_t& out);

// The match target from `names`, `qualifier` and `scopes` (in that order),
// over storage the caller chooses.
struct TargetArgs {
  VecBase<std::string_view>& names;   // the target's names, in order
  VecBase<std::string_view>& scopes;  // the target's scopes; empty when absent
  std::optional<std::string_view> qualifier;  // the target's kind, if given
  // The core's view of the target.
  core::directive::Target target() const {
    return core::directive::Target{{names.data(), names.size()}, qualifier, {scopes.data(), scopes.size()}};
  }
};

// Converts `names`, `qualifier` and `scopes` (the last two may be null or
// None), naming the parameter in a TypeError.
bool to_target(PyObject* names, PyObject* qualifier, PyObject* scopes, TargetArgs& out, Keep& keep);

}  // namespace quorvel::python
