// Ladder: the caller's own ordered levels, immutable, with position, step,
// levels and fold.
#include <new>

#include "core/ladder/ladder.hpp"
#include "python/module.hpp"

namespace quorvel::python {

namespace {

using core::ladder::Ladder;

struct PyLadder {
  PyObject_HEAD
  Ladder ladder;
};

PyLadder* as_ladder(PyObject* o) { return reinterpret_cast<PyLadder*>(o); }

// --- Ladder(levels): the whole construction happens in __new__. -----------

Signature g_new_sig = {"Ladder", {"levels"}, 1, 1, 1, {}};

PyObject* ladder_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    if (!intern_signature(g_new_sig)) return nullptr;
    PyObject* bound[kMaxParams] = {};
    if (!bind_tuple(g_new_sig, args, kwargs, bound)) return nullptr;
    Keep keep;
    SmallVec<std::string_view, 8> views;
    if (!to_text_list(bound[0], views, keep)) {
      name_argument_error("levels");
      return nullptr;
    }
    std::vector<std::string> levels;
    levels.reserve(views.size());
    for (std::string_view v : views) levels.emplace_back(v);
    auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    PyObject* obj = alloc(type, 0);
    if (!obj) return nullptr;
    new (&as_ladder(obj)->ladder) Ladder(std::move(levels));  // a move: cannot throw
    return obj;
  });
}

void ladder_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  as_ladder(self)->ladder.~Ladder();
  auto free_fn = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
  free_fn(self);
  Py_DecRef(reinterpret_cast<PyObject*>(type));
}

// --- position, step, levels ------------------------------------------------

Signature g_position_sig = {"position", {"level"}, 1, 1, 1, {}};

PyObject* position_impl(PyObject* self, PyObject* const* a) {
  Keep keep;
  std::string_view level;
  if (!arg_text(a[0], "level", level, keep)) return nullptr;
  const auto i = as_ladder(self)->ladder.position(level);
  if (!i) {
    Py_IncRef(Py_None);
    return Py_None;
  }
  return PyLong_FromSize_t(*i);
}

Signature g_step_sig = {"step", {"level", "delta"}, 2, 2, 2, {}};

PyObject* step_impl(PyObject* self, PyObject* const* a) {
  Keep keep;
  std::string_view level;
  if (!arg_text(a[0], "level", level, keep)) return nullptr;
  std::int32_t delta;
  if (!to_int32(a[1], delta)) {
    name_argument_error("delta");
    return nullptr;
  }
  return new_str(as_ladder(self)->ladder.step(level, delta));
}

PyObject* get_levels(PyObject* self, void*) {
  return guarded([&]() -> PyObject* {
    const auto& levels = as_ladder(self)->ladder.levels();
    Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(levels.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < levels.size(); ++i) {
      PyObject* s = new_str(levels[i]);
      if (!s) return nullptr;
      PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), s);  // steals s
    }
    return list.release();
  });
}

// --- fold ----------------------------------------------------------------

Signature g_fold_sig = {
    "fold", {"current", "directives", "names", "qualifier", "scopes", "steps", "drop", "notes"}, 8, 3, 3, {}};

using Steps = SmallVec<core::ladder::Step, 8>;

// One entry of `steps`: a str key and a 32-bit int value.
bool add_step(PyObject* key, PyObject* value, Steps& out, Keep& keep) {
  if (!PyUnicode_Check(key)) {
    PyErr_Format(PyExc_TypeError, "key: expected str, got %s", type_name(key).c_str());
    return false;
  }
  std::string_view k;
  std::int32_t v;
  if (!to_text(key, k, keep, true) || !to_int32(value, v)) return false;
  out.push_back(core::ladder::Step{k, v});
  return true;
}

// `steps`: a dict (or subclass) of str -> 32-bit int, in its order. The dict
// is walked in place while its values are plain ints, which run no code;
// from the first other value on (its __index__ could change the dict under
// a live walk), the rest is read from a snapshot of the items.
bool to_steps(PyObject* o, Steps& out, Keep& keep) {
  if (!PyDict_Check(o)) {
    PyErr_Format(PyExc_TypeError, "expected a dict, got %s", type_name(o).c_str());
    return false;
  }
  Py_ssize_t pos = 0, done = 0;
  PyObject *key, *value;
  while (PyDict_Next(o, &pos, &key, &value) && PyLong_CheckExact(value)) {
    if (!add_step(key, value, out, keep)) return false;
    ++done;
  }
  if (done == PyDict_Size(o)) return true;
  Ref items = Ref::steal(PyDict_Items(o));
  if (!items) return false;
  const Py_ssize_t n = PyList_Size(items.get());
  for (Py_ssize_t i = done; i < n; ++i) {
    PyObject* pair = PyList_GetItem(items.get(), i);
    if (!add_step(PyTuple_GetItem(pair, 0), PyTuple_GetItem(pair, 1), out, keep)) return false;
  }
  return true;
}

PyObject* fold_impl(PyObject* self, PyObject* const* a) {
  Keep keep;
  FoldArgs f;
  if (!to_fold_args(a, f, keep)) return nullptr;
  Steps steps;
  if (a[5] && a[5] != Py_None && !to_steps(a[5], steps, keep)) {
    name_argument_error("steps");
    return nullptr;
  }
  SmallVec<std::string_view, 8> drop;
  if (a[6] && a[6] != Py_None && !to_text_set(a[6], drop, keep)) {
    name_argument_error("drop");
    return nullptr;
  }
  core::ladder::Vocabulary vocab{{steps.begin(), steps.end()}, {drop.begin(), drop.end()}, true};
  if (a[7] && !to_bool(a[7], vocab.notes)) {
    name_argument_error("notes");
    return nullptr;
  }
  vocab.prepare();

  const Ladder& ladder = as_ladder(self)->ladder;
  return fold_to_tuple(
      f.dirs, f.target.target(), vocab.notes, [&](const PyDirective* d) { return vocab.vote(d->record.action.token); },
      [&](std::int64_t sum) { return ladder.step(f.current, sum); });
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

PyMethodDef g_methods[4];

PyGetSetDef g_getset[] = {
    {"levels", get_levels, nullptr, "All levels, most-significant first.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

PyObject* create_ladder_type() {
  if (!intern_signature(g_position_sig) || !intern_signature(g_step_sig) || !intern_signature(g_fold_sig)) {
    return nullptr;
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
      {Py_tp_dealloc, reinterpret_cast<void*>(&ladder_dealloc)},
      {Py_tp_getset, g_getset},
      {Py_tp_methods, g_methods},
      {0, nullptr},
  };
  PyType_Spec spec = {
      "builtins.Ladder",
      static_cast<int>(sizeof(PyLadder)),
      0,
      static_cast<unsigned int>(Py_TPFLAGS_DEFAULT | immutable_type_flag()),
      slots,
  };
  return PyType_FromSpec(&spec);
}

}  // namespace quorvel::python
