// lint_fold, lint_settings and the body of Ladder.fold.
#include "python/folds.hpp"

#include "core/directive/combine.hpp"
#include "lint/lint.hpp"
#include "python/convert.hpp"
#include "python/directive_class.hpp"
#include "python/errors.hpp"

namespace quorvel::python {

namespace {

// The leading parameters that both folds share, converted in their order:
// current, directives, names, qualifier, scopes (bound[0] to bound[4]).
struct FoldArgs {
  std::string_view current;               // the current level's text
  SmallVec<PyDirective*, 16> dirs;        // the directives, in order
  SmallVec<std::string_view, 4> names;    // the target's names
  SmallVec<std::string_view, 4> scopes;   // the target's scopes
  TargetArgs target{names, scopes, {}};   // the target over them
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

// The fold shared by lint_fold and Ladder.fold: runs the combine over the
// Directive objects (read in place) and returns the tuple (level, dropped,
// notes), where `level_of(sum)` gives the resulting level text.
template <class VoteOf, class LevelOf>
PyObject* fold_to_tuple(const VecBase<PyDirective*>& dirs, const core::directive::Target& target,
                        bool collect_notes, VoteOf vote, LevelOf level_of) {
  Ref notes = Ref::steal(PyList_New(0));
  if (!notes) return nullptr;
  core::directive::Combined c;
  const bool ok = core::directive::combine(
      dirs, target, collect_notes,
      [](const PyDirective* d) -> const core::directive::Selector& { return d->record; }, vote,
      [&](const std::string& note) {
        Ref s = Ref::steal(new_str(note));
        return s && PyList_Append(notes.get(), s.get()) == 0;
      },
      c);
  if (!ok) return nullptr;
  Ref level = Ref::steal(new_str(level_of(c.sum)));
  if (!level) return nullptr;
  return PyTuple_Pack(3, level.get(), c.dropped ? Py_True : Py_False, notes.get());
}

// --- lint_fold and lint_settings ------------------------------------------

Signature g_lint_fold_sig = {"lint_fold", {"current", "directives", "names", "qualifier", "scopes"}, 5, 3, 3, {}};

PyObject* lint_fold_impl(PyObject*, PyObject* const* a) {
  Keep keep;
  FoldArgs f;
  if (!to_fold_args(a, f, keep)) return nullptr;
  const auto severity = lint::severity_from_text(f.current);
  if (!severity) return raise_directive_error(lint::unknown_severity_message(f.current));

  // Each object knows its lint verb already; tokens that are no lint verb
  // (and settings) are skipped before matching.
  return fold_to_tuple(
      f.dirs, f.target.target(), true,
      [](const PyDirective* d) { return d->lint ? d->lint->vote() : core::directive::Vote{false, 0, false}; },
      [&](std::int64_t sum) { return lint::severity_text(lint::move(*severity, sum)); });
}

Signature g_lint_settings_sig = {"lint_settings", {"directives"}, 1, 1, 1, {}};

PyObject* lint_settings_impl(PyObject*, PyObject* const* a) {
  Keep keep;
  SmallVec<PyDirective*, 16> dirs;
  if (!to_directives(a[0], dirs, keep)) {
    name_argument_error("directives");
    return nullptr;
  }
  Ref list = Ref::steal(PyList_New(0));
  if (!list) return nullptr;
  for (const PyDirective* d : dirs) {
    if (!d->lint || d->lint->value() != lint::LintAction::Set) continue;
    const auto& r = d->record;
    Ref key = Ref::steal(new_str(r.name.source()));
    Ref value = Ref::steal(new_str(r.note ? std::string_view(*r.note) : std::string_view()));
    if (!key || !value) return nullptr;
    Ref pair = Ref::steal(PyTuple_Pack(2, key.get(), value.get()));
    if (!pair || PyList_Append(list.get(), pair.get()) < 0) return nullptr;
  }
  return list.release();
}

// --- Ladder.fold ---------------------------------------------------------

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

}  // namespace

Signature g_ladder_fold_sig = {
    "fold", {"current", "directives", "names", "qualifier", "scopes", "steps", "drop", "notes"}, 8, 3, 3, {}};

PyObject* ladder_fold(const core::ladder::Ladder& ladder, PyObject* const* a) {
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
  return fold_to_tuple(
      f.dirs, f.target.target(), vocab.notes, [&](const PyDirective* d) { return vocab.vote(d->record.action.token); },
      [&](std::int64_t sum) { return ladder.step(f.current, sum); });
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
