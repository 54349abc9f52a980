// Directive: one parsed directive, immutable, made only by parse and expand;
// and the `directives` argument of the folds.
#include "python/directive.hpp"

#include <cstring>
#include <new>

#include "core/ladder/ladder.hpp"

namespace quorvel::python {

namespace {

using core::directive::Directive;

// The one Directive class of the process.
Once g_directive;

// The message for an instance that parse or expand did not build.
constexpr const char* kNotBuilt = "this Directive was not made by parse() or expand()";

// A new str, or None for an absent text.
PyObject* optional_str(std::optional<std::string_view> s) { return s ? new_str(*s) : new_none(); }

// Runs `f` on a built Directive, or raises TypeError.
template <class F>
PyObject* with_directive(PyObject* self, F&& f) {
  return guarded([&]() -> PyObject* {
    const PyDirective* d = built_directive(self);
    return d ? f(*d) : nullptr;
  });
}

// The five read-only attributes.
PyObject* get_action(PyObject* self, void*) {
  return with_directive(self, [](const PyDirective& d) { return new_str(d.action()); });
}
PyObject* get_kind(PyObject* self, void*) {
  return with_directive(self, [](const PyDirective& d) { return optional_str(d.selector().kind()); });
}
PyObject* get_name(PyObject* self, void*) {
  return with_directive(self, [](const PyDirective& d) { return new_str(d.selector().name().source()); });
}
PyObject* get_path(PyObject* self, void*) {
  return with_directive(self, [](const PyDirective& d) {
    const auto path = d.selector().path();
    return path ? new_str(path->source()) : new_none();
  });
}
PyObject* get_note(PyObject* self, void*) {
  return with_directive(self, [](const PyDirective& d) { return optional_str(d.selector().note()); });
}

// str(d): the text form.
PyObject* directive_str(PyObject* self) {
  return with_directive(self, [](const PyDirective& d) {
    std::string s;
    core::directive::append_text_form(s, d.action(), d.selector());
    return new_str(s);
  });
}

// repr(d): "Directive(" + the text form + ")".
PyObject* directive_repr(PyObject* self) {
  return with_directive(self, [](const PyDirective& d) {
    std::string s = "Directive(";
    core::directive::append_text_form(s, d.action(), d.selector());
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
  return new_bool(d->selector().matches(t.target()));
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
  // Variable-size: each instance has room for its own parts after the
  // fixed struct (one byte per item).
  return new_heap_type("builtins.Directive", sizeof(PyDirective), slots, 1);
}

}  // namespace

PyObject* directive_type() { return g_directive.get(&create_directive_type, "Directive"); }

namespace {

// A new Directive object with room for `selector_size` bytes of parts and
// the action: its head filled in, the parts left to `place`, which cannot
// fail.
template <class Place>
PyObject* make_directive(std::string_view action, core::directive::Gate gate, std::size_t selector_size,
                         Place place) {
  if (action.size() > UINT32_MAX || selector_size > PY_SSIZE_T_MAX - action.size()) throw std::bad_alloc();
  PyObject* type = directive_type();
  if (!type) return nullptr;
  Ref obj = Ref::steal(alloc_instance(type, static_cast<Py_ssize_t>(selector_size + action.size())));
  if (!obj) return nullptr;
  auto* d = reinterpret_cast<PyDirective*>(obj.get());
  place(const_cast<char*>(reinterpret_cast<const char*>(&d->selector())));  // may throw: obj is freed
  d->head.gate = gate;
  d->head.action_len = static_cast<std::uint32_t>(action.size());
  if (!action.empty()) std::memcpy(const_cast<char*>(d->action().data()), action.data(), action.size());
  d->head.action_hash = core::ladder::Vocabulary::hash(action);
  const auto verb = lint::LintAction::from_token(action);
  d->head.verb = verb ? static_cast<std::uint8_t>(verb->value()) : PyDirective::kNoVerb;
  d->head.built = true;
  return obj.release();
}

}  // namespace

PyObject* new_directive(std::string_view action, const core::directive::Parts& parts) {
  const core::directive::Selector::Plan plan(parts);
  return make_directive(action, core::directive::Gate::of(parts.kind, parts.name), plan.size(),
                        [&](char* at) { plan.pack_into(at); });
}

PyObject* new_directive(const Directive<>& record) {
  // The parts point nowhere outside themselves: a copy of the bytes is a
  // copy of the parts.
  const core::directive::Selector& s = record.selector();
  return make_directive(record.action.token, record.gate(), s.size(),
                        [&](char* at) { std::memcpy(at, &s, s.size()); });
}

const PyDirective* built_directive(PyObject* o) {
  const auto* d = reinterpret_cast<const PyDirective*>(o);
  if (d->head.built) return d;
  PyErr_SetString(PyExc_TypeError, kNotBuilt);
  return nullptr;
}

// --- the `directives` argument -------------------------------------------------------------

// How many items ahead the loops that hold and release directives ask for
// an object's memory: they do little with each, so they run far ahead.
constexpr std::size_t kHoldAhead = 32;

HeldDirectives::~HeldDirectives() {
  const HeldDirective* h = items_.begin();
  std::size_t i = 0;
  for (; i + kHoldAhead < held_; ++i) {
    __builtin_prefetch(h[i + kHoldAhead].object);
    Py_DECREF(reinterpret_cast<PyObject*>(const_cast<PyDirective*>(h[i].object)));
  }
  for (; i < held_; ++i) Py_DECREF(reinterpret_cast<PyObject*>(const_cast<PyDirective*>(h[i].object)));
}

namespace {

// Holds `h.object`, the i-th item, if it is a built Directive, copying its
// gate and verb; otherwise raises TypeError.
bool hold(HeldDirective& h, std::size_t i, PyObject* type) {
  PyObject* item = reinterpret_cast<PyObject*>(const_cast<PyDirective*>(h.object));
  if (reinterpret_cast<PyObject*>(Py_TYPE(item)) != type) {
    PyErr_Format(PyExc_TypeError, "item %zu: expected Directive, got %s", i, type_name(item).c_str());
    return false;
  }
  if (!h.object->head.built) {
    PyErr_Format(PyExc_TypeError, "item %zu: %s", i, kNotBuilt);
    return false;
  }
  Py_INCREF(item);  // inline: the 3.9 limited API reads the count in place
  h.gate = h.object->head.gate;
  h.verb = h.object->head.verb;
  return true;
}

}  // namespace

bool to_directives(PyObject* o, HeldDirectives& out) {
  // The class first: making it (on first use, during the module's import)
  // may run code.
  PyObject* const type = directive_type();
  if (!type) return false;
  const bool list = PyList_CheckExact(o);
  if (list || PyTuple_CheckExact(o)) {
    // The items are copied out first, then checked and held while the
    // objects ahead are fetched: nothing in between runs code.
    const auto n = static_cast<std::size_t>(Py_SIZE(o));  // an exact list or tuple: its length
    HeldDirective* const h = out.items_.extend(n);
    for (std::size_t i = 0; i < n; ++i) {
      const auto k = static_cast<Py_ssize_t>(i);
      h[i].object = reinterpret_cast<const PyDirective*>(list ? PyList_GetItem(o, k) : PyTuple_GetItem(o, k));
    }
    std::size_t i = 0;
    for (; i < n; ++i) {
      if (i + kHoldAhead < n) {
        // The count and type, and the head, which may start the next line.
        const char* ahead = reinterpret_cast<const char*>(h[i + kHoldAhead].object);
        __builtin_prefetch(ahead);
        __builtin_prefetch(ahead + offsetof(PyDirective, head.built));
      }
      if (!hold(h[i], i, type)) break;
    }
    out.held_ = i;
    return i == n;
  }
  if (PyUnicode_Check(o) || !PySequence_Check(o)) return refuse_as_list(o);
  Ref it = Ref::steal(PyObject_GetIter(o));
  if (!it) return false;
  while (Ref item = Ref::steal(PyIter_Next(it.get()))) {
    HeldDirective& h = *out.items_.extend(1);
    h.object = reinterpret_cast<const PyDirective*>(item.get());
    if (!hold(h, out.held_, type)) return false;
    ++out.held_;
  }
  return !PyErr_Occurred();
}

bool to_fold_args(PyObject* const* a, FoldArgs& out) {
  if (!arg_text(a[0], "current", out.current, out.keep)) return false;
  if (!to_directives(a[1], out.directives)) {
    name_argument_error("directives");
    return false;
  }
  return to_target(a[2], a[3], a[4], out.target, out.keep);
}

}  // namespace quorvel::python
