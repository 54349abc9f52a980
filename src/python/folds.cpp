// lint_fold, lint_settings and the body of Ladder.fold.
//
// A fold crosses the boundary once: it converts its arguments, walks the
// directives in C++ and builds its result at the end. When every argument
// is of a plain type (exact list or tuple, dict of exact ints, exact set,
// True or False), converting them runs no Python code and makes no object
// the collector tracks (but the iterator of `drop`, read first for that
// reason), so nothing can change the caller's containers before the walk
// ends: the directives and texts are then read in place, with no reference
// taken per item, into storage on the stack. Plainness is decided after
// the last step that may run code, since that code may change any value.
// Any other argument (a list subclass, an __index__, a set subclass...)
// takes the general path, which holds what it reads.
#include "python/folds.hpp"

#include "core/directive/combine.hpp"
#include "lint/lint.hpp"
#include "python/convert.hpp"
#include "python/directive_class.hpp"
#include "python/errors.hpp"

namespace quorvel::python {

namespace {

using core::directive::Combined;
using core::directive::Selector;

// How much each path keeps inline. The plain path runs no Python code, so
// its frame cannot recur and may be large: a few hundred directives cost no
// heap allocation. The general path's frames are on the stack while Python
// code runs (an __iter__ may call the fold again), so they stay small.
inline constexpr std::size_t kPlainDirectives = 256, kPlainTexts = 8;
inline constexpr std::size_t kGeneralDirectives = 8, kGeneralTexts = 2;
inline constexpr std::size_t kNotes = 64;
inline constexpr std::size_t kPlainScratch = 512;  // 3.9's UTF-8 of a few short strs

// The leading parameters that both folds share, converted in their order
// (current, directives, names, qualifier, scopes: bound[0] to bound[4]),
// over storage the caller chooses.
struct FoldArgs {
  std::string_view current;         // the current level's text
  VecBase<PyDirective*>& dirs;      // the directives, in order
  TargetArgs target;                // names, qualifier, scopes
};

// FoldArgs with its storage, N directives and T texts inline.
template <std::size_t N, std::size_t T>
struct FoldStorage {
  SmallVec<PyDirective*, N> dirs;               // storage of args.dirs
  SmallVec<std::string_view, T> names, scopes;  // storage of args.target
  FoldArgs args{{}, dirs, TargetArgs{names, scopes, {}}};  // the arguments over them
};

// Converts the shared leading parameters.
bool to_fold_args(PyObject* const* a, FoldArgs& out, Keep& keep) {
  if (!arg_text(a[0], "current", out.current, keep)) return false;
  if (!to_directives(a[1], out.dirs, keep)) {
    name_argument_error("directives");
    return false;
  }
  return to_target(a[2], a[3], a[4], out.target, keep);
}

// An exact list or tuple: read in place, running no code.
bool plain_sequence(PyObject* o) { return PyList_CheckExact(o) || PyTuple_CheckExact(o); }

// An omitted or None list parameter, or a plain one.
bool plain_optional_sequence(PyObject* o) { return !o || o == Py_None || plain_sequence(o); }

// Whether the shared leading parameters convert without running code.
bool plain_fold_args(PyObject* const* a) {
  return plain_sequence(a[1]) && plain_sequence(a[2]) && plain_optional_sequence(a[4]);
}

// New references that are dropped unless handed on.
template <std::size_t N>
struct NewRefs {
  SmallVec<PyObject*, N> items;  // each one owned here
  NewRefs() = default;
  NewRefs(const NewRefs&) = delete;
  NewRefs& operator=(const NewRefs&) = delete;
  ~NewRefs() {
    for (PyObject* o : items) Py_DecRef(o);
  }
};

// The tuple (level, dropped, notes). The strs are made first: making a str
// never runs the collector, so the views (into the records, the ladder or
// `current`) stay valid until the last one is made; only then is the list
// made, which may run it.
PyObject* fold_result(std::string_view level, bool dropped, const VecBase<std::string_view>& notes) {
  Ref level_str = Ref::steal(new_str(level));
  if (!level_str) return nullptr;
  NewRefs<kNotes> strs;
  strs.items.reserve(notes.size());
  for (std::string_view note : notes) {
    PyObject* s = new_str(note);
    if (!s) return nullptr;
    strs.items.push_back(s);  // room was reserved: cannot throw
  }
  Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(strs.items.size())));
  if (!list) return nullptr;
  for (std::size_t i = 0; i < strs.items.size(); ++i) {
    PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), strs.items[i]);  // takes the reference
  }
  strs.items.clear();
  return PyTuple_Pack(3, level_str.get(), dropped ? Py_True : Py_False, list.get());
}

// Walks the directives, collecting notes as views into the records, and
// returns the result; `level_of(sum)` gives the resulting level text.
template <class SelectorOf, class VoteOf, class LevelOf>
[[gnu::noinline]] PyObject* walk(const FoldArgs& f, bool collect_notes, SelectorOf selector, VoteOf vote,
                                 LevelOf level_of) {
  SmallVec<std::string_view, kNotes> notes;
  Combined c;
  core::directive::combine(f.dirs, f.target.target(), collect_notes, selector, vote,
                           [&](std::string_view note) {
                             notes.push_back(note);
                             return true;
                           },
                           c);
  return fold_result(level_of(c.sum), c.dropped, notes);
}

// --- lint_fold and lint_settings ------------------------------------------

// lint_fold once its arguments are converted.
PyObject* lint_fold_converted(const FoldArgs& f) {
  const auto severity = lint::severity_from_text(f.current);
  if (!severity) return raise_directive_error(lint::unknown_severity_message(f.current));
  // Each object knows its lint verb already; tokens that are no lint verb,
  // and settings, are skipped before matching.
  return walk(
      f, true,
      [](const PyDirective* d) -> const Selector* { return d->lint && d->lint->counted() ? &d->selector() : nullptr; },
      [](const PyDirective* d) { return d->lint->vote(); },
      [&](std::int64_t sum) { return lint::severity_text(lint::move(*severity, sum)); });
}

// lint_fold over plain arguments, read in place.
[[gnu::noinline]] PyObject* lint_fold_plain(PyObject* const* a) {
  char local[kPlainScratch];
  Keep keep(local, sizeof local);
  keep.borrow_only();
  FoldStorage<kPlainDirectives, kPlainTexts> s;
  return to_fold_args(a, s.args, keep) ? lint_fold_converted(s.args) : nullptr;
}

// lint_fold over any arguments, holding what it reads.
PyObject* lint_fold_general(PyObject* const* a) {
  Keep keep;
  FoldStorage<kGeneralDirectives, kGeneralTexts> s;
  return to_fold_args(a, s.args, keep) ? lint_fold_converted(s.args) : nullptr;
}

Signature g_lint_fold_sig = {"lint_fold", {"current", "directives", "names", "qualifier", "scopes"}, 5, 3, 3, {}};

PyObject* lint_fold_impl(PyObject*, PyObject* const* a) {
  return plain_fold_args(a) ? lint_fold_plain(a) : lint_fold_general(a);
}

Signature g_lint_settings_sig = {"lint_settings", {"directives"}, 1, 1, 1, {}};

PyObject* lint_settings_impl(PyObject*, PyObject* const* a) {
  Keep keep;
  SmallVec<PyDirective*, kGeneralDirectives> dirs;
  if (!to_directives(a[0], dirs, keep)) {
    name_argument_error("directives");
    return nullptr;
  }
  Ref list = Ref::steal(PyList_New(0));
  if (!list) return nullptr;
  for (const PyDirective* d : dirs) {
    if (!d->lint || d->lint->value() != lint::LintAction::Set) continue;
    const auto& r = d->selector();
    Ref key = Ref::steal(new_str(r.name().source()));
    Ref value = Ref::steal(new_str(r.note().value_or(std::string_view())));
    if (!key || !value) return nullptr;
    Ref pair = Ref::steal(PyTuple_Pack(2, key.get(), value.get()));
    if (!pair || PyList_Append(list.get(), pair.get()) < 0) return nullptr;
  }
  return list.release();
}

// --- Ladder.fold ---------------------------------------------------------

// A step table as converted: (action, rung count) in the dict's order.
struct Step {
  std::string_view action;  // the key's text
  std::int32_t rungs;       // its value
};

// One entry of `steps`: a str key and a 32-bit int value.
bool add_step(PyObject* key, PyObject* value, VecBase<Step>& out, Keep& keep) {
  if (!PyUnicode_Check(key)) {
    PyErr_Format(PyExc_TypeError, "key: expected str, got %s", type_name(key).c_str());
    return false;
  }
  std::string_view k;
  std::int32_t v;
  if (!to_text(key, k, keep, true) || !to_int32(value, v)) return false;
  out.push_back(Step{k, v});
  return true;
}

// `steps`: a dict (or subclass) of str -> 32-bit int, in its order. The dict
// is walked in place while its values are plain ints, which run no code;
// from the first other value on (its __index__ could change the dict under
// a live walk), the rest is read from a snapshot of the items. Two keys
// with the same text (possible with str subclasses) both go into the table,
// in the dict's order, and the later one wins, as in a dict literal.
bool to_steps(PyObject* o, VecBase<Step>& out, Keep& keep) {
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

// The vocabulary parameters of Ladder.fold as converted.
struct Vocab {
  VecBase<Step>& steps;               // `steps`, in the dict's order
  VecBase<std::string_view>& drop;    // `drop`, in the set's order
  bool drop_done = false;             // `drop` was converted ahead (plain path)
  bool notes = true;                  // `notes`
};

// Converts `drop` (null or None: empty).
bool to_drop(PyObject* o, Vocab& v, Keep& keep) {
  if (!o || o == Py_None) return true;
  if (!to_text_set(o, v.drop, keep)) {
    name_argument_error("drop");
    return false;
  }
  return true;
}

// Converts steps, drop (unless done already) and notes, in their order.
bool to_vocab(PyObject* const* a, Vocab& v, Keep& keep) {
  if (a[5] && a[5] != Py_None && !to_steps(a[5], v.steps, keep)) {
    name_argument_error("steps");
    return false;
  }
  if (!v.drop_done && !to_drop(a[6], v, keep)) return false;
  if (a[7] && !to_bool(a[7], v.notes)) {
    name_argument_error("notes");
    return false;
  }
  return true;
}

// Whether `drop` and `notes` are of plain types: an exact set or frozenset
// (or none), True or False (or omitted).
bool plain_drop_notes(PyObject* const* a) {
  PyObject* drop = a[6];
  if (drop && drop != Py_None && !PyFrozenSet_CheckExact(drop) && Py_TYPE(drop) != &PySet_Type) return false;
  return !a[7] || a[7] == Py_True || a[7] == Py_False;
}

// Whether every value of `steps` (omitted, None or a dict) is an exact int,
// which converts without running code. Values can change whenever code
// runs, so this is asked after the last step that may run any.
bool plain_steps(PyObject* steps) {
  if (!steps || steps == Py_None) return true;
  if (!PyDict_Check(steps)) return false;
  Py_ssize_t pos = 0;
  PyObject *key, *value;
  while (PyDict_Next(steps, &pos, &key, &value)) {
    if (!PyLong_CheckExact(value)) return false;
  }
  return true;
}

// Ladder.fold once its arguments are converted: the table is built once,
// and looked up only for matching directives.
[[gnu::noinline]] PyObject* ladder_fold_converted(const core::ladder::Ladder& ladder, const FoldArgs& f,
                                                  const Vocab& v) {
  core::ladder::Vocabulary vocab;
  for (const Step& s : v.steps) vocab.add_step(s.action, s.rungs);
  for (std::string_view d : v.drop) vocab.add_drop(d);
  return walk(
      f, v.notes, [](const PyDirective* d) -> const Selector* { return &d->selector(); },
      [&](const PyDirective* d) { return vocab.vote(d->action(), d->action_hash); },
      [&](std::int64_t sum) { return ladder.step(f.current, sum); });
}

// Ladder.fold over plain arguments, read in place. The set iterator that
// reading `drop` needs is an object the collector tracks (and, before
// 3.12, making it may run the collector's finalizers, which may change any
// `steps` value), so `drop` is read first, holding its items, and only then
// are the values of `steps` found plain; should either fail, the general
// path converts everything again (and reports the errors in their order).
[[gnu::noinline]] PyObject* ladder_fold_plain(const core::ladder::Ladder& ladder, PyObject* const* a, bool& fallback) {
  char local[kPlainScratch];
  Keep keep(local, sizeof local);
  SmallVec<Step, kPlainTexts> steps;
  SmallVec<std::string_view, kPlainTexts> drop;
  Vocab v{steps, drop};
  // The Directive class is made on first use, which may run code too (only
  // while the module is being imported).
  if (!directive_type() || !to_drop(a[6], v, keep)) {
    PyErr_Clear();
    fallback = true;
    return nullptr;
  }
  if (!plain_steps(a[5])) {
    fallback = true;
    return nullptr;
  }
  // Nothing from here to the result's first object runs code.
  v.drop_done = true;
  keep.borrow_only();
  FoldStorage<kPlainDirectives, kPlainTexts> s;
  if (!to_fold_args(a, s.args, keep) || !to_vocab(a, v, keep)) return nullptr;
  return ladder_fold_converted(ladder, s.args, v);
}

// Ladder.fold over any arguments, holding what it reads.
PyObject* ladder_fold_general(const core::ladder::Ladder& ladder, PyObject* const* a) {
  Keep keep;
  FoldStorage<kGeneralDirectives, kGeneralTexts> s;
  SmallVec<Step, kGeneralTexts> steps;
  SmallVec<std::string_view, kGeneralTexts> drop;
  Vocab v{steps, drop};
  if (!to_fold_args(a, s.args, keep) || !to_vocab(a, v, keep)) return nullptr;
  return ladder_fold_converted(ladder, s.args, v);
}

}  // namespace

Signature g_ladder_fold_sig = {
    "fold", {"current", "directives", "names", "qualifier", "scopes", "steps", "drop", "notes"}, 8, 3, 3, {}};

PyObject* ladder_fold(const core::ladder::Ladder& ladder, PyObject* const* a) {
  if (plain_fold_args(a) && plain_drop_notes(a)) {
    bool fallback = false;
    PyObject* result = ladder_fold_plain(ladder, a, fallback);
    if (!fallback) return result;
  }
  return ladder_fold_general(ladder, a);
}

MethodPair g_lint_fold = method_pair<&g_lint_fold_sig, &lint_fold_impl>(
    "lint_fold",
    "lint_fold(current, directives, names, *, qualifier=None, scopes=None)\n--\n\n"
    "`lint_fold(current, directives, names, *, qualifier=None, scopes=None)` \xE2\x86\x92 `(severity, dropped,\n"
    "notes)`. Applies the standard lint combine policy (suppress / de-escalate / escalate / note);\n"
    "non-lint actions are inert. `current` \xE2\x88\x88 `\"error\" | \"warning\" | \"info\"`.");

MethodPair g_lint_settings = method_pair<&g_lint_settings_sig, &lint_settings_impl>(
    "lint_settings",
    "lint_settings(directives)\n--\n\n"
    "`lint_settings(directives)` \xE2\x86\x92 `[(key, value)]` from every `set:KEY=VALUE` directive, in order.");

}  // namespace quorvel::python
