// Directive: one parsed directive, immutable, made only by parse and expand.
#include "python/directive_class.hpp"

#include <new>

#include "core/ladder/ladder.hpp"

#include "python/boundary.hpp"
#include "python/convert.hpp"
#include "python/heap_type.hpp"

namespace quorvel::python {

namespace {

using core::directive::Directive;

// The one Directive class of the process.
Once g_directive;

// The message for an instance that parse or expand did not build.
constexpr const char* kNotBuilt = "this Directive was not made by parse() or expand()";

// A new str, or None for an absent text.
PyObject* optional_str(const std::optional<std::string>& s) { return s ? new_str(*s) : new_none(); }

// The five read-only attributes.
// Runs `f` on the record of a built Directive, or raises TypeError.
template <class F>
PyObject* with_record(PyObject* self, F&& f) {
  return guarded([&]() -> PyObject* {
    const PyDirective* d = built_directive(self);
    return d ? f(d->record) : nullptr;
  });
}

// The five read-only attributes.
PyObject* get_action(PyObject* self, void*) {
  return with_record(self, [](const Directive<>& r) { return new_str(r.action.token); });
}
PyObject* get_kind(PyObject* self, void*) {
  return with_record(self, [](const Directive<>& r) { return optional_str(r.kind); });
}
PyObject* get_name(PyObject* self, void*) {
  return with_record(self, [](const Directive<>& r) { return new_str(r.name.source()); });
}
PyObject* get_path(PyObject* self, void*) {
  return with_record(self, [](const Directive<>& r) { return r.path ? new_str(r.path->source()) : new_none(); });
}
PyObject* get_note(PyObject* self, void*) {
  return with_record(self, [](const Directive<>& r) { return optional_str(r.note); });
}

// str(d): the text form.
PyObject* directive_str(PyObject* self) {
  return with_record(self, [](const Directive<>& r) { return new_str(core::directive::text_form(r)); });
}

// repr(d): "Directive(" + the text form + ")".
PyObject* directive_repr(PyObject* self) {
  return with_record(self, [](const Directive<>& r) {
    std::string s = "Directive(";
    core::directive::append_text_form(s, r.action.token, r);
    s += ')';
    return new_str(s);
  });
}

// Directive() from Python: refused.
PyObject* directive_new(PyTypeObject*, PyObject*, PyObject*) {
  PyErr_SetString(PyExc_TypeError, "cannot create 'Directive' instances; use parse() or expand() to obtain one");
  return nullptr;
}

// d.matches(names, *, qualifier=None, scopes=None).
Signature g_matches_sig = {"matches", {"names", "qualifier", "scopes"}, 3, 1, 1, {}};

PyObject* matches_impl(PyObject* self, PyObject* const* a) {
  Keep keep;
  SmallVec<std::string_view, 4> names, scopes;
  TargetArgs t{names, scopes, {}};
  const PyDirective* d = built_directive(self);
  if (!d || !to_target(a[0], a[1], a[2], t, keep)) return nullptr;
  return new_bool(d->record.matches(t.target()));
}

MethodPair g_matches = method_pair<&g_matches_sig, &matches_impl>(
    "matches",
    "matches($self, names, *, qualifier=None, scopes=None)\n--\n\n"
    "Does this directive apply to a target with these `names` (and optional `qualifier`/`scopes`)?\n"
    "\n"
    "KIND (if set) must equal `qualifier` exactly; NAME must glob-match one of `names`; PATH (if\n"
    "set) must glob-match one of `scopes`.");

// The method table, filled with the running interpreter's convention.
PyMethodDef g_methods[2];

// The attribute table.
PyGetSetDef g_getset[] = {
    {"action", get_action, nullptr, "The action token, verbatim.", nullptr},
    {"kind", get_kind, nullptr, "The `<KIND>` filter, or `None` for any kind.", nullptr},
    {"name", get_name, nullptr, "The NAME glob, as written.", nullptr},
    {"path", get_path, nullptr, "The `@PATH` glob, or `None`.", nullptr},
    {"note", get_note, nullptr, "The `=NOTE` text, or `None`.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// Makes the class (once, under the Once guard).
PyObject* create_directive_type() {
  if (!intern_signature(g_matches_sig)) return nullptr;
  g_methods[0] = g_matches.pick();
  g_methods[1] = PyMethodDef{nullptr, nullptr, 0, nullptr};
  PyType_Slot slots[] = {
      {Py_tp_doc, const_cast<char*>(
                      "One parsed directive (`ACTION:[<KIND>]NAME[@PATH][=NOTE]`), open-set: `action` is the raw token.")},
      {Py_tp_new, reinterpret_cast<void*>(&directive_new)},
      {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc<PyDirective>)},
      {Py_tp_str, reinterpret_cast<void*>(&directive_str)},
      {Py_tp_repr, reinterpret_cast<void*>(&directive_repr)},
      {Py_tp_getset, g_getset},
      {Py_tp_methods, g_methods},
      {0, nullptr},
  };
  return new_heap_type("builtins.Directive", sizeof(PyDirective), slots);
}

}  // namespace

void PyDirective::destroy() {
  if (!built) return;  // zero-filled: there is nothing to end
  record.~Directive();
  lint.~optional();
}

PyObject* directive_type() { return g_directive.get(&create_directive_type, "Directive"); }

PyObject* new_directive(Directive<>&& record) {
  PyObject* type = directive_type();
  if (!type) return nullptr;
  PyObject* obj = alloc_instance(type);
  if (!obj) return nullptr;
  auto* d = reinterpret_cast<PyDirective*>(obj);
  // Moving the record cannot throw; the hash and the lint verb are worked
  // out from a view of the token, so nothing here can fail half-way.
  new (&d->record) Directive<>(std::move(record));
  d->action_hash = core::ladder::Vocabulary::hash(d->record.action.token);
  new (&d->lint) std::optional<lint::LintAction>(lint::LintAction::from_token(d->record.action.token));
  d->built = true;
  return obj;
}

const PyDirective* built_directive(PyObject* o) {
  const auto* d = reinterpret_cast<const PyDirective*>(o);
  if (d->built) return d;
  PyErr_SetString(PyExc_TypeError, kNotBuilt);
  return nullptr;
}

bool to_directives(PyObject* o, VecBase<PyDirective*>& out, Keep& keep) {
  Items items;
  if (!items.read(o, keep)) return false;
  PyObject* type = directive_type();
  if (!type) return false;
  const Py_ssize_t n = items.size();
  out.reserve(static_cast<std::size_t>(n));
  for (Py_ssize_t i = 0; i < n; ++i) {
    PyObject* item = items[i];
    if (reinterpret_cast<PyObject*>(Py_TYPE(item)) != type) {
      PyErr_Format(PyExc_TypeError, "item %zd: expected Directive, got %s", i, type_name(item).c_str());
      return false;
    }
    if (!reinterpret_cast<const PyDirective*>(item)->built) {
      PyErr_Format(PyExc_TypeError, "item %zd: %s", i, kNotBuilt);
      return false;
    }
    if (!items.is_private()) keep.hold(item);
    out.push_back(reinterpret_cast<PyDirective*>(item));
  }
  return true;
}

}  // namespace quorvel::python
