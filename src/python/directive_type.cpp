// Directive: one parsed directive, immutable, made only by parse and expand.
#include <new>

#include "python/module.hpp"

namespace quorvel::python {

namespace {

using core::directive::Directive;

PyDirective* as_directive(PyObject* o) { return reinterpret_cast<PyDirective*>(o); }

PyObject* optional_str(const std::optional<std::string>& s) {
  if (!s) {
    Py_IncRef(Py_None);
    return Py_None;
  }
  return new_str(*s);
}

PyObject* get_action(PyObject* self, void*) {
  return guarded([&] { return new_str(as_directive(self)->record.action.token); });
}
PyObject* get_kind(PyObject* self, void*) {
  return guarded([&] { return optional_str(as_directive(self)->record.kind); });
}
PyObject* get_name(PyObject* self, void*) {
  return guarded([&] { return new_str(as_directive(self)->record.name.source()); });
}
PyObject* get_path(PyObject* self, void*) {
  return guarded([&]() -> PyObject* {
    const auto& path = as_directive(self)->record.path;
    if (!path) {
      Py_IncRef(Py_None);
      return Py_None;
    }
    return new_str(path->source());
  });
}
PyObject* get_note(PyObject* self, void*) {
  return guarded([&] { return optional_str(as_directive(self)->record.note); });
}

PyObject* directive_str(PyObject* self) {
  return guarded([&] { return new_str(core::directive::text_form(as_directive(self)->record)); });
}

PyObject* directive_repr(PyObject* self) {
  return guarded([&] {
    std::string s = "Directive(";
    core::directive::append_text_form(s, as_directive(self)->record.action.token, as_directive(self)->record);
    s += ')';
    return new_str(s);
  });
}

PyObject* directive_new(PyTypeObject*, PyObject*, PyObject*) {
  PyErr_SetString(PyExc_TypeError,
                  "cannot create 'Directive' instances; use parse() or expand() to obtain one");
  return nullptr;
}

void directive_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  PyDirective* d = as_directive(self);
  d->record.~Directive();
  d->lint.~optional();
  auto free_fn = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
  free_fn(self);
  Py_DecRef(reinterpret_cast<PyObject*>(type));
}

Signature g_matches_sig = {"matches", {"names", "qualifier", "scopes"}, 3, 1, 1, {}};

PyObject* matches_impl(PyObject* self, PyObject* const* a) {
  Keep keep;
  TargetArgs t;
  if (!to_target(a[0], a[1], a[2], t, keep)) return nullptr;
  PyObject* result = as_directive(self)->record.matches(t.target()) ? Py_True : Py_False;
  Py_IncRef(result);
  return result;
}

MethodPair g_matches = method_pair<&g_matches_sig, &matches_impl>(
    "matches",
    "matches($self, names, *, qualifier=None, scopes=None)\n--\n\n"
    "Does this directive apply to a target with these `names` (and optional `qualifier`/`scopes`)?\n"
    "\n"
    "KIND (if set) must equal `qualifier` exactly; NAME must glob-match one of `names`; PATH (if\n"
    "set) must glob-match one of `scopes`.");

PyMethodDef g_methods[2];

PyGetSetDef g_getset[] = {
    {"action", get_action, nullptr, "The action token, verbatim.", nullptr},
    {"kind", get_kind, nullptr, "The `<KIND>` filter, or `None` for any kind.", nullptr},
    {"name", get_name, nullptr, "The NAME glob, as written.", nullptr},
    {"path", get_path, nullptr, "The `@PATH` glob, or `None`.", nullptr},
    {"note", get_note, nullptr, "The `=NOTE` text, or `None`.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

PyObject* create_directive_type() {
  if (!intern_signature(g_matches_sig)) return nullptr;
  g_methods[0] = g_matches.pick();
  g_methods[1] = PyMethodDef{nullptr, nullptr, 0, nullptr};
  PyType_Slot slots[] = {
      {Py_tp_doc, const_cast<char*>(
                      "One parsed directive (`ACTION:[<KIND>]NAME[@PATH][=NOTE]`), open-set: `action` is the raw token.")},
      {Py_tp_new, reinterpret_cast<void*>(&directive_new)},
      {Py_tp_dealloc, reinterpret_cast<void*>(&directive_dealloc)},
      {Py_tp_str, reinterpret_cast<void*>(&directive_str)},
      {Py_tp_repr, reinterpret_cast<void*>(&directive_repr)},
      {Py_tp_getset, g_getset},
      {Py_tp_methods, g_methods},
      {0, nullptr},
  };
  PyType_Spec spec = {
      "builtins.Directive",
      static_cast<int>(sizeof(PyDirective)),
      0,
      static_cast<unsigned int>(Py_TPFLAGS_DEFAULT | immutable_type_flag()),
      slots,
  };
  return PyType_FromSpec(&spec);
}

PyObject* new_directive(Directive<>&& record) {
  PyObject* type = directive_type();
  if (!type) return nullptr;
  auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(reinterpret_cast<PyTypeObject*>(type), Py_tp_alloc));
  PyObject* obj = alloc(reinterpret_cast<PyTypeObject*>(type), 0);
  if (!obj) return nullptr;
  PyDirective* d = as_directive(obj);
  // Moving the record cannot throw; the lint verb is worked out from a copy
  // of nothing (a view of the token), so nothing here can fail half-way.
  new (&d->record) Directive<>(std::move(record));
  new (&d->lint) std::optional<lint::LintAction>(lint::LintAction::from_token(d->record.action.token));
  return obj;
}

bool to_directives(PyObject* o, SmallVec<PyDirective*, 16>& out, Keep& keep) {
  Ref items;
  if (!sequence_items(o, items)) return false;
  PyObject* type = directive_type();
  if (!type) return false;
  const bool is_list = PyList_Check(items.get());
  const Py_ssize_t n = is_list ? PyList_Size(items.get()) : PyTuple_Size(items.get());
  out.reserve(static_cast<std::size_t>(n));
  for (Py_ssize_t i = 0; i < n; ++i) {
    PyObject* item = is_list ? PyList_GetItem(items.get(), i) : PyTuple_GetItem(items.get(), i);
    if (reinterpret_cast<PyObject*>(Py_TYPE(item)) != type) {
      PyErr_Format(PyExc_TypeError, "item %zd: expected Directive, got %s", i, type_name(item).c_str());
      return false;
    }
    keep.hold(item);
    out.push_back(as_directive(item));
  }
  return true;
}

bool to_fold_args(PyObject* const* a, FoldArgs& out, Keep& keep) {
  if (!arg_text(a[0], "current", out.current, keep)) return false;
  if (!to_directives(a[1], out.dirs, keep)) {
    name_argument_error("directives");
    return false;
  }
  return to_target(a[2], a[3], a[4], out.target, keep);
}

}  // namespace quorvel::python
