"""The module frame and the argument conventions shared by every function."""
import importlib
import sys

import pytest

import _quorvel

ALL = ["parse", "glob_match", "expand", "lint_fold", "lint_settings", "Directive", "Ladder", "DirectiveError"]


def test_all_in_order_and_empty_docstring():
    assert _quorvel.__all__ == ALL
    assert _quorvel.__doc__ == ""
    for name in ALL:
        assert getattr(_quorvel, name) is not None


def test_directive_error():
    e = _quorvel.DirectiveError
    assert e.__bases__ == (ValueError,)
    assert e.__module__ == "_quorvel" and e.__name__ == "DirectiveError"
    assert e.__doc__ == "A directive failed to parse, or a `@file` failed to load."
    with pytest.raises(ValueError) as info:
        _quorvel.parse("nocolon")
    assert type(info.value) is e
    assert info.value.args == ("expected `ACTION:…` (no `:` found)",)


def test_second_import_shares_type_objects():
    first = sys.modules.pop("_quorvel")
    try:
        second = importlib.import_module("_quorvel")
        assert second is not first
        for name in ("DirectiveError", "Directive", "Ladder"):
            assert getattr(second, name) is getattr(first, name)
        assert second.parse is not first.parse
        assert second.__all__ == ALL
    finally:
        sys.modules["_quorvel"] = first


@pytest.mark.parametrize("name", ["parse", "glob_match", "expand", "lint_fold", "lint_settings"])
def test_functions_are_module_builtins(name):
    f = getattr(_quorvel, name)
    assert f.__module__ == "_quorvel"
    assert f.__name__ == name
    assert f.__self__ is _quorvel


@pytest.mark.parametrize("cls", ["Directive", "Ladder"])
def test_classes_are_final_builtins(cls):
    t = getattr(_quorvel, cls)
    assert t.__module__ == "builtins"
    assert t.__bases__ == (object,)
    with pytest.raises(TypeError):
        type("Sub", (t,), {})


SIGNATURES = {
    "parse": "(spec, *, actions=None)",
    "glob_match": "(pattern, text)",
    "expand": "(value, *, actions=None)",
    "lint_fold": "(current, directives, names, *, qualifier=None, scopes=None)",
    "lint_settings": "(directives)",
}


@pytest.mark.parametrize("name,sig", SIGNATURES.items())
def test_text_signatures(name, sig):
    assert getattr(_quorvel, name).__text_signature__ == sig


def test_glob_match_docstring():
    assert _quorvel.glob_match.__doc__ == (
        "`glob_match(pattern, text)` → does the glob (`* ? {} [..] \\\\`) match `text` in full?"
    )


# --- binding ----------------------------------------------------------------

BINDING_ERRORS = [
    lambda q: q.glob_match("a"),
    lambda q: q.glob_match("a", "b", "c"),
    lambda q: q.glob_match("a", text="b", pattern="c"),
    lambda q: q.glob_match("a", "b", bogus=1),
    lambda q: q.glob_match(),
    lambda q: q.parse("allow:foo", {"allow"}),
    lambda q: q.expand("allow:foo", None),
    lambda q: q.lint_fold("info", [], ["x"], "q"),
    lambda q: q.lint_settings(),
    lambda q: q.lint_settings([], []),
    lambda q: q.parse(spec="a:b", spec2="x"),
    lambda q: q.parse(**{"spec": "a:b", "actions": None, "x": 1}),
]


@pytest.mark.parametrize("call", BINDING_ERRORS)
def test_binding_errors_are_type_errors(call):
    with pytest.raises(TypeError):
        call(_quorvel)


def test_keywords_bind_by_name():
    assert _quorvel.glob_match(text="abc", pattern="a*") is True
    assert _quorvel.glob_match("a*", text="abc") is True
    assert _quorvel.parse(spec="allow:foo", actions=None).action == "allow"
    assert _quorvel.expand(value="allow:foo")[0].name == "foo"
    assert _quorvel.lint_settings(directives=[]) == []
    d = _quorvel.parse("a:x")
    assert _quorvel.lint_fold(names=["x"], directives=[d], current="info") == ("info", False, [])


def test_none_same_as_omitted():
    d = _quorvel.parse("a:x")
    assert d.matches(["x"], qualifier=None, scopes=None) == d.matches(["x"])
    assert _quorvel.parse("a:x", actions=None).action == "a"


# --- conversions ------------------------------------------------------------


def test_type_error_names_the_argument():
    with pytest.raises(TypeError) as info:
        _quorvel.glob_match("a", 5)
    assert str(info.value).startswith("argument 'text': ")
    assert type(info.value) is TypeError
    with pytest.raises(TypeError, match="^argument 'names': "):
        _quorvel.lint_fold("info", [], "x")
    with pytest.raises(TypeError, match="^argument 'actions': "):
        _quorvel.parse("a:b", actions=["a"])


class BadSeq:
    """A sequence whose items cannot be read: a TypeError with a cause."""

    def __len__(self):
        return 1

    def __getitem__(self, i):
        try:
            raise KeyError("inner")
        except KeyError as e:
            raise TypeError("cannot read") from e


class SubTypeError(TypeError):
    pass


class BadSeqSub(BadSeq):
    def __getitem__(self, i):
        raise SubTypeError("subclass")


def test_type_error_keeps_its_cause_and_subclasses_pass_unchanged():
    d = _quorvel.parse("a:x")
    with pytest.raises(TypeError) as info:
        d.matches(BadSeq())
    assert type(info.value) is TypeError
    assert str(info.value) == "argument 'names': cannot read"
    assert isinstance(info.value.__cause__, KeyError)
    with pytest.raises(SubTypeError, match="^subclass$"):
        d.matches(BadSeqSub())


def test_conversion_order_first_failure_wins():
    # current fails before names is looked at.
    with pytest.raises(TypeError, match="^argument 'current'"):
        _quorvel.lint_fold(1, "not a list", "also not")
    # names (a str) fails before the severity check.
    with pytest.raises(TypeError, match="^argument 'names'"):
        _quorvel.lint_fold("fatal", [], "x")


SURROGATE = "\ud800"


@pytest.mark.parametrize(
    "call",
    [
        lambda q: q.glob_match(SURROGATE, "x"),
        lambda q: q.glob_match("x", SURROGATE),
        lambda q: q.parse(SURROGATE),
        lambda q: q.parse("a:b", actions={SURROGATE}),
        lambda q: q.expand(SURROGATE),
        lambda q: q.lint_fold(SURROGATE, [], []),
        lambda q: q.lint_fold("info", [], [SURROGATE]),
        lambda q: q.lint_fold("info", [], [], qualifier=SURROGATE),
        lambda q: q.lint_fold("info", [], [], scopes=[SURROGATE]),
        lambda q: q.parse("a:b").matches([SURROGATE]),
        lambda q: q.Ladder([SURROGATE]),
        lambda q: q.Ladder(["a"]).position(SURROGATE),
        lambda q: q.Ladder(["a"]).step(SURROGATE, 1),
        lambda q: q.Ladder(["a"]).fold(SURROGATE, [], []),
        lambda q: q.Ladder(["a"]).fold("a", [], [], steps={SURROGATE: 1}),
        lambda q: q.Ladder(["a"]).fold("a", [], [], drop={SURROGATE}),
    ],
)
def test_lone_surrogates_raise_the_encoders_error(call):
    with pytest.raises(UnicodeEncodeError):
        call(_quorvel)


class StrSub(str):
    pass


def test_str_subclasses_are_text():
    assert _quorvel.glob_match(StrSub("a*"), StrSub("abc")) is True
    assert _quorvel.parse(StrSub("a:b")).name == "b"


def numpy_like_bool(value, name="bool_"):
    """An object whose type looks like numpy's bool scalar, without numpy."""
    t = type(name, (), {"__module__": "numpy", "__bool__": lambda self: value})
    return t()


@pytest.mark.parametrize("flag,expected", [(True, ["n"]), (False, [])])
def test_bool_kind_accepts_numpy_bool_scalars(flag, expected):
    ladder = _quorvel.Ladder(["a"])
    d = _quorvel.parse("x:*=n")
    for obj in (flag, numpy_like_bool(flag), numpy_like_bool(flag, "bool")):
        assert ladder.fold("a", [d], ["t"], notes=obj) == ("a", False, expected)


@pytest.mark.parametrize("bad", [None, 1, 0, "yes", numpy_like_bool(True, "int_")])
def test_bool_kind_refuses_others(bad):
    with pytest.raises(TypeError, match="^argument 'notes'"):
        _quorvel.Ladder(["a"]).fold("a", [], ["t"], notes=bad)


@pytest.mark.parametrize("seq", [["x"], ("x",)])
def test_list_kind_accepts_sequences(seq):
    assert _quorvel.parse("a:x").matches(seq) is True


@pytest.mark.parametrize("bad", ["x", {"x"}, {"x": 1}, iter(["x"]), (n for n in ["x"]), 5, None, [1], ["x", b"y"]])
def test_list_kind_refuses_others(bad):
    with pytest.raises(TypeError, match="^argument 'names'"):
        _quorvel.parse("a:x").matches(bad)


class SetSub(set):
    pass


@pytest.mark.parametrize("good", [{"a"}, frozenset({"a"}), SetSub({"a"})])
def test_set_kind_accepts_sets(good):
    assert _quorvel.parse("a:x", actions=good).action == "a"


@pytest.mark.parametrize("bad", [["a"], ("a",), {"a": 1}, "a", {1}])
def test_set_kind_refuses_others(bad):
    with pytest.raises(TypeError, match="^argument 'actions'"):
        _quorvel.parse("a:x", actions=bad)


def test_user_sequence_is_iterated_in_order():
    class Seq:
        def __len__(self):
            return 2

        def __getitem__(self, i):
            if i >= 2:
                raise IndexError
            return ["nope", "foo"][i]

    assert _quorvel.parse("a:foo").matches(Seq()) is True


def test_never_directive_error_from_glob_match():
    for pattern in ["[", "{", "\\", "[!", "{a,", "}", "[]", "**"]:
        assert _quorvel.glob_match(pattern, pattern) in (True, False)
