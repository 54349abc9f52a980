// The module's functions: parse, glob_match, expand, lint_fold and
// lint_settings.
#include <algorithm>

#include "core/glob/pattern.hpp"
#include "core/parse/parse.hpp"
#include "core/text/text.hpp"
#include "lint/lint.hpp"
#include "python/directive.hpp"
#include "source/cli.hpp"

namespace quorvel::python {

namespace {

// The optional allowed set of action tokens, sorted by their UTF-8 bytes.
struct Allowed {
  bool present = false;
  SmallVec<std::string_view, 8> tokens;
};

// Converts `actions` (null or None: no set).
bool to_allowed(PyObject* o, Allowed& out, Keep& keep) {
  if (!o || o == Py_None) return true;
  if (!to_text_set(o, out.tokens, keep)) {
    name_argument_error("actions");
    return false;
  }
  out.present = true;
  std::sort(out.tokens.begin(), out.tokens.end());
  return true;
}

// Accepts `action` when no set was given or the set holds it (exact bytes);
// otherwise raises DirectiveError naming the allowed tokens.
bool check_action(std::string_view action, const Allowed& allowed) {
  if (!allowed.present || std::binary_search(allowed.tokens.begin(), allowed.tokens.end(), action)) return true;
  std::string msg = "unknown action ";
  core::text::append_quoted(msg, action);
  msg += "; allowed: [";
  // Two distinct str subclass objects of a set may have the same text; the
  // list shows each text once (the tokens are sorted, so equal ones are
  // adjacent).
  for (std::size_t i = 0; i < allowed.tokens.size(); ++i) {
    const std::string_view t = allowed.tokens[i];
    if (i > 0 && t == allowed.tokens[i - 1]) continue;
    if (i > 0) msg += ", ";
    core::text::append_quoted(msg, t);
  }
  msg += ']';
  raise_directive_error(msg);
  return false;
}

// --- parse -----------------------------------------------------------------

Signature g_parse_sig = {"parse", {"spec", "actions"}, 2, 1, 1, {}};

PyObject* parse_impl(PyObject*, PyObject* const* a) {
  Keep keep;
  std::string_view spec;
  if (!arg_text(a[0], "spec", spec, keep)) return nullptr;
  Allowed allowed;
  if (!to_allowed(a[1], allowed, keep)) return nullptr;
  // The parts are laid out straight into the new object.
  std::string_view action;
  std::string kind_store;
  const auto parts = core::parse::parse_parts(spec, action, kind_store);
  if (!parts.ok()) return raise_directive_error(parts.error().message());
  if (!check_action(action, allowed)) return nullptr;
  return new_directive(action, parts.value());
}

// --- glob_match ------------------------------------------------------------

Signature g_glob_match_sig = {"glob_match", {"pattern", "text"}, 2, 2, 2, {}};

PyObject* glob_match_impl(PyObject*, PyObject* const* a) {
  Keep keep;
  std::string_view pattern, text;
  if (!arg_text(a[0], "pattern", pattern, keep) || !arg_text(a[1], "text", text, keep)) return nullptr;
  // Matched as the pattern is read: nothing is compiled or kept.
  return new_bool(core::glob::match_once(pattern, text));
}

// The common call, glob_match(str, str) by position, without the binder.
// Converting two strs runs no Python code, so no recursion guard is needed;
// a failure here can only be the encoder's error, which the generic path
// would raise unchanged as well.
PyObject* glob_match_direct(PyObject* pattern, PyObject* text) {
  return guarded([&]() -> PyObject* {
    if (g_modern) {
      // The UTF-8 views live in the strs, which the caller holds.
      Py_ssize_t np = 0, nt = 0;
      const char* p = PyUnicode_AsUTF8AndSize(pattern, &np);
      if (!p) return nullptr;
      const char* t = PyUnicode_AsUTF8AndSize(text, &nt);
      if (!t) return nullptr;
      return new_bool(core::glob::match_once({p, static_cast<std::size_t>(np)}, {t, static_cast<std::size_t>(nt)}));
    }
    char local[512];  // 3.9's UTF-8 of two short strs
    Keep keep(local, sizeof local);
    std::string_view p, t;
    if (!to_text(pattern, p, keep, false) || !to_text(text, t, keep, false)) return nullptr;
    return new_bool(core::glob::match_once(p, t));
  });
}

// The fast-call entry of glob_match: two positional strs go straight to
// the matcher; keywords, other counts and other types go through the
// binder, with its messages.
PyObject* glob_match_fast(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  if (!kwnames && nargs == 2 && PyUnicode_Check(args[0]) && PyUnicode_Check(args[1])) {
    return glob_match_direct(args[0], args[1]);
  }
  return fast_entry<&g_glob_match_sig, &glob_match_impl>(self, args, nargs, kwnames);
}

// The argument-tuple entry of glob_match (3.9), with the same direct path.
PyObject* glob_match_tuple(PyObject* self, PyObject* args, PyObject* kwargs) {
  if (!kwargs && PyTuple_Size(args) == 2) {
    PyObject* pattern = PyTuple_GetItem(args, 0);
    PyObject* text = PyTuple_GetItem(args, 1);
    if (PyUnicode_Check(pattern) && PyUnicode_Check(text)) return glob_match_direct(pattern, text);
  }
  return tuple_entry<&g_glob_match_sig, &glob_match_impl>(self, args, kwargs);
}

// --- expand ----------------------------------------------------------------

Signature g_expand_sig = {"expand", {"value", "actions"}, 2, 1, 1, {}};

PyObject* expand_impl(PyObject*, PyObject* const* a) {
  Keep keep;
  std::string_view value;
  if (!arg_text(a[0], "value", value, keep)) return nullptr;
  Allowed allowed;
  if (!to_allowed(a[1], allowed, keep)) return nullptr;
  Ref list = Ref::steal(PyList_New(0));
  if (!list) return nullptr;
  // Each directive becomes its object as it is parsed; a failure later in the
  // source drops them all.
  const source::Hooks hooks{
      [&](core::directive::Directive<>&& d, std::uint64_t) {
        Ref obj = Ref::steal(new_directive(d));
        return obj && PyList_Append(list.get(), obj.get()) == 0;
      },
      // Runs the signal handlers (and, on newer interpreters, whatever else
      // is due); if one raised (Ctrl-C), the load stops there.
      [] { return PyErr_CheckSignals() != 0; },
      // Another thread reads standard input: wait for it without the
      // interpreter lock, which that thread may need to finish.
      [](const std::function<bool()>& wait) { return without_interpreter_lock(wait); },
  };
  if (const auto error = source::cli::expand(value, hooks)) {
    // A hook said stop: its Python exception is already set.
    if (error->reason == source::Reason::Interrupted) return nullptr;
    return raise_directive_error(error->message());
  }
  // Loading is complete; only now are the actions checked, in source order.
  if (allowed.present) {
    const Py_ssize_t n = PyList_Size(list.get());
    for (Py_ssize_t i = 0; i < n; ++i) {
      const auto* d = reinterpret_cast<const PyDirective*>(PyList_GetItem(list.get(), i));
      if (!check_action(d->action(), allowed)) return nullptr;
    }
  }
  return list.release();
}

// --- lint_fold and lint_settings --------------------------------------------------

Signature g_lint_fold_sig = {"lint_fold", {"current", "directives", "names", "qualifier", "scopes"}, 5, 3, 3, {}};

// The core's lint fold over the held Directive objects, whose heads carry
// their lint verbs.
PyObject* lint_fold_impl(PyObject*, PyObject* const* a) {
  FoldArgs args;
  if (!to_fold_args(a, args)) return nullptr;
  const auto severity = lint::severity_from_text(args.current);
  if (!severity) return raise_directive_error(lint::unknown_severity_message(args.current));
  SmallVec<std::string_view, 16> notes;
  const auto folded = lint::fold(*severity, args.target.target(), args.directives, DirectiveAccess{},
                                 [&](std::string_view note) { notes.push_back(note); });
  return fold_result(lint::severity_text(folded.severity), folded.dropped, notes);
}

Signature g_lint_settings_sig = {"lint_settings", {"directives"}, 1, 1, 1, {}};

PyObject* lint_settings_impl(PyObject*, PyObject* const* a) {
  HeldDirectives directives;
  if (!to_directives(a[0], directives)) {
    name_argument_error("directives");
    return nullptr;
  }
  Ref list = Ref::steal(PyList_New(0));
  if (!list) return nullptr;
  for (const HeldDirective& d : directives) {
    if (d.verb != lint::LintAction::Set) continue;
    const auto& s = d.object->selector();
    Ref key = Ref::steal(new_str(s.name().source()));
    Ref value = Ref::steal(new_str(s.note().value_or(std::string_view())));
    if (!key || !value) return nullptr;
    Ref pair = Ref::steal(PyTuple_Pack(2, key.get(), value.get()));
    if (!pair || PyList_Append(list.get(), pair.get()) < 0) return nullptr;
  }
  return list.release();
}

}  // namespace

MethodPair g_parse = method_pair<&g_parse_sig, &parse_impl>(
    "parse",
    "parse(spec, *, actions=None)\n--\n\n"
    "`parse(spec, *, actions=None)` \xE2\x86\x92 a [`Directive`]. Raises `DirectiveError` on a malformed string,\n"
    "or \xE2\x80\x94 when `actions` is given \xE2\x80\x94 on an action token outside that allowed set.");

// glob_match's docstring.
constexpr const char* kGlobMatchDoc =
    "glob_match(pattern, text)\n--\n\n"
    "`glob_match(pattern, text)` \xE2\x86\x92 does the glob (`* ? {} [..] \\\\`) match `text` in full?";

MethodPair g_glob_match = {
    PyMethodDef{"glob_match", as_method(&glob_match_fast), kMethFastcall | METH_KEYWORDS, kGlobMatchDoc},
    PyMethodDef{"glob_match", as_method(&glob_match_tuple), METH_VARARGS | METH_KEYWORDS, kGlobMatchDoc},
    &g_glob_match_sig,
};

MethodPair g_expand = method_pair<&g_expand_sig, &expand_impl>(
    "expand",
    "expand(value, *, actions=None)\n--\n\n"
    "`expand(value, *, actions=None)` \xE2\x86\x92 the directives a single `-D` value yields: one inline\n"
    "directive, or every directive in a `@file` (`@-` reads stdin). Raises `DirectiveError` on a bad\n"
    "directive/file, or \xE2\x80\x94 when `actions` is given \xE2\x80\x94 on any action outside that allowed set.");


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
