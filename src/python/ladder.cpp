// Ladder: the caller's own ordered levels, immutable, with position, step,
// levels and fold.
#include <new>
#include <string>
#include <vector>

#include "core/ladder/ladder.hpp"
#include "python/directive.hpp"

namespace quorvel::python {

namespace {

using core::ladder::Ladder;

// A Ladder object: one core ladder. Only Ladder(levels) builds one; an
// instance made some other way (3.9 lets Python code replace a class's
// __new__) is zero-filled, has `built` false and is refused by every use.
struct PyLadder {
  PyObject_HEAD
  Ladder ladder;  // the levels, most significant first
  bool built;     // made by new_impl

  // Ends what the object owns (its tp_dealloc).
  void destroy() {
    if (built) ladder.~Ladder();
  }
};

// The one Ladder class of the process.
Once g_ladder;

// The core ladder behind a built Ladder object; otherwise null with
// TypeError set.
const Ladder* ladder_of(PyObject* o) {
  const auto* l = reinterpret_cast<const PyLadder*>(o);
  if (l->built) return &l->ladder;
  PyErr_SetString(PyExc_TypeError, "this Ladder was not made by Ladder(levels)");
  return nullptr;
}

// --- Ladder(levels): the whole construction happens in __new__. -----------

Signature g_new_sig = {"Ladder", {"levels"}, 1, 1, 1, {}};

PyObject* new_impl(PyObject* type, PyObject* const* a) {
  Keep keep;
  SmallVec<std::string_view, 8> views;
  if (!to_text_list(a[0], views, keep)) {
    name_argument_error("levels");
    return nullptr;
  }
  std::vector<std::string> levels(views.begin(), views.end());
  PyObject* obj = alloc_instance(type);
  if (!obj) return nullptr;
  auto* l = reinterpret_cast<PyLadder*>(obj);
  new (&l->ladder) Ladder(std::move(levels));  // a move: cannot throw
  l->built = true;
  return obj;
}

PyObject* ladder_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return tuple_entry<&g_new_sig, &new_impl>(reinterpret_cast<PyObject*>(type), args, kwargs);
}

// --- position, step, levels, fold -------------------------------------------

Signature g_position_sig = {"position", {"level"}, 1, 1, 1, {}};

PyObject* position_impl(PyObject* self, PyObject* const* a) {
  const Ladder* ladder = ladder_of(self);
  Keep keep;
  std::string_view level;
  if (!ladder || !arg_text(a[0], "level", level, keep)) return nullptr;
  const auto i = ladder->position(level);
  return i ? PyLong_FromSize_t(*i) : new_none();
}

Signature g_step_sig = {"step", {"level", "delta"}, 2, 2, 2, {}};

PyObject* step_impl(PyObject* self, PyObject* const* a) {
  const Ladder* ladder = ladder_of(self);
  Keep keep;
  std::string_view level;
  if (!ladder || !arg_text(a[0], "level", level, keep)) return nullptr;
  std::int32_t delta;
  if (!to_int32(a[1], delta)) {
    name_argument_error("delta");
    return nullptr;
  }
  return new_str(ladder->step(level, delta));
}

PyObject* get_levels(PyObject* self, void*) {
  return guarded([&]() -> PyObject* {
    const Ladder* ladder = ladder_of(self);
    if (!ladder) return nullptr;
    const auto& levels = ladder->levels();
    Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(levels.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < levels.size(); ++i) {
      Ref s = Ref::steal(new_str(levels[i]));
      if (!s) return nullptr;
      PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), s.release());  // steals it
    }
    return list.release();
  });
}

// `steps` (None: empty) into the vocabulary: a dict (or subclass) of str
// -> 32-bit int, read from a snapshot of its items, so that an __index__
// that changes the dict changes nothing here. Two keys with the same text
// (possible with str subclasses) both go in, in the dict's order, and the
// later one wins, as in a dict literal.
bool add_steps(PyObject* o, core::ladder::Vocabulary& vocab, Keep& keep) {
  if (!o || o == Py_None) return true;
  if (!PyDict_Check(o)) {
    PyErr_Format(PyExc_TypeError, "expected a dict, got %s", type_name(o).c_str());
    return false;
  }
  PyObject* list = PyDict_Items(o);
  if (!list) return false;
  keep.own(list);  // it holds the keys, whose texts the vocabulary views
  const Py_ssize_t n = PyList_Size(list);
  for (Py_ssize_t i = 0; i < n; ++i) {
    PyObject* pair = PyList_GetItem(list, i);
    PyObject* key = PyTuple_GetItem(pair, 0);
    if (!PyUnicode_Check(key)) {
      PyErr_Format(PyExc_TypeError, "key: expected str, got %s", type_name(key).c_str());
      return false;
    }
    std::string_view action;
    std::int32_t rungs;
    if (!to_text(key, action, keep, false) || !to_int32(PyTuple_GetItem(pair, 1), rungs)) return false;
    vocab.add_step(action, rungs);
  }
  return true;
}

// `drop` (None: empty) into the vocabulary.
bool add_drops(PyObject* o, core::ladder::Vocabulary& vocab, Keep& keep) {
  if (!o || o == Py_None) return true;
  SmallVec<std::string_view, 8> drop;
  if (!to_text_set(o, drop, keep)) return false;
  for (std::string_view d : drop) vocab.add_drop(d);
  return true;
}

// fold($self, current, directives, names, *, qualifier=None, scopes=None,
// steps=None, drop=None, notes=True): the core's ladder fold over the held
// Directive objects; the table is filled once, and looked up only for
// matching directives.
Signature g_fold_sig = {
    "fold", {"current", "directives", "names", "qualifier", "scopes", "steps", "drop", "notes"}, 8, 3, 3, {}};

PyObject* fold_impl(PyObject* self, PyObject* const* a) {
  const Ladder* ladder = ladder_of(self);
  if (!ladder) return nullptr;
  FoldArgs args;
  if (!to_fold_args(a, args)) return nullptr;
  Keep& keep = args.keep;
  core::ladder::Vocabulary vocab;
  if (!add_steps(a[5], vocab, keep)) {
    name_argument_error("steps");
    return nullptr;
  }
  if (!add_drops(a[6], vocab, keep)) {
    name_argument_error("drop");
    return nullptr;
  }
  if (a[7] && !to_bool(a[7], vocab.notes)) {
    name_argument_error("notes");
    return nullptr;
  }
  SmallVec<std::string_view, 16> notes;
  const auto folded = core::ladder::fold(*ladder, args.current, args.target.target(), args.directives, vocab,
                                         DirectiveAccess{},
                                         [&](std::string_view note) { notes.push_back(note); });
  return fold_result(folded.level, folded.dropped, notes);
}

MethodPair g_position = method_pair<&g_position_sig, &position_impl>(
    "position",
    "position($self, level)\n--\n\nThe rung index of `level`, or `None` if it isn't on this ladder.");
MethodPair g_step = method_pair<&g_step_sig, &step_impl>(
    "step",
    "step($self, level, delta)\n--\n\n"
    "Move `level` by `delta` rungs, saturating at both ends (`delta>0` \xE2\x86\x92 later in the list).");
MethodPair g_fold = method_pair<&g_fold_sig, &fold_impl>(
    "fold",
    "fold($self, current, directives, names, *, qualifier=None, scopes=None, steps=None, drop=None, notes=True)\n"
    "--\n\n"
    "Fold matching directives onto a target with *your* verb vocabulary, returning\n"
    "`(level, dropped, notes)`: notes accumulate from every match, `current` steps by the summed\n"
    "`steps[action]` (missing actions = 0), and `dropped` is set if any matching action is in\n"
    "`drop`. Custom verbs + custom ladder, same combine shape as the built-in lint fold.");

// The method table, filled with the running interpreter's convention.
PyMethodDef g_methods[4];

// The attribute table.
PyGetSetDef g_getset[] = {
    {"levels", get_levels, nullptr, "All levels, most-significant first.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// Makes the class (once, under the Once guard).
PyObject* create_ladder_type() {
  for (Signature* sig : {&g_new_sig, &g_position_sig, &g_step_sig, &g_fold_sig}) {
    if (!intern_signature(*sig)) return nullptr;
  }
  g_methods[0] = g_position.pick();
  g_methods[1] = g_step.pick();
  g_methods[2] = g_fold.pick();
  g_methods[3] = PyMethodDef{nullptr, nullptr, 0, nullptr};
  PyType_Slot slots[] = {
      {Py_tp_doc, const_cast<char*>(
                      "Ladder(levels)\n--\n\n"
                      "`Ladder(levels)` \xE2\x80\x94 a saturating, order-independent ladder over any ordered set "
                      "(severities,\n"
                      "`[\"draft\", \"review\", \"final\"]`, \xE2\x80\xA6). Levels are most-significant first.")},
      {Py_tp_new, reinterpret_cast<void*>(&ladder_new)},
      {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc<PyLadder>)},
      {Py_tp_getset, g_getset},
      {Py_tp_methods, g_methods},
      {0, nullptr},
  };
  return new_heap_type("builtins.Ladder", sizeof(PyLadder), slots);
}

}  // namespace

PyObject* ladder_type() { return g_ladder.get(&create_ladder_type, "Ladder"); }

}  // namespace quorvel::python
