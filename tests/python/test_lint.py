"""lint_fold and lint_settings: the built-in lint policy."""
import pytest
from hypothesis import given, settings, strategies as st

from _quorvel import DirectiveError, Ladder, lint_fold, lint_settings, parse

EXPECTED = "; expected \"error\", \"warning\", or \"info\""


def ds(*specs):
    return [parse(s) for s in specs]


def test_worked_call():
    d = ds("escalate:long-*=promoted", "suppress:long-line@tests/*", "note:<py>*=see docs")
    assert lint_fold("warning", d, ["long-line"], scopes=["tests/test_a"]) == ("error", True, ["promoted"])
    assert lint_fold("warning", d, ["long-line"], scopes=["tests/test_a"], qualifier="py") == (
        "error", True, ["promoted", "see docs"])
    assert lint_fold("warning", d, ["long-line"]) == ("error", False, ["promoted"])


FOLDS = [
    ("warning", [], ["x"], ("warning", False, [])),
    ("WARNING", [], [], ("warning", False, [])),
    ("Info", ["escalate:x"], [], ("info", False, [])),
    ("error", ["escalate:*"], ["x"], ("error", False, [])),
    ("info", ["de-escalate:*"], ["x"], ("info", False, [])),
    ("error", ["DeEscalate:*", "de-escalate:*", "deescalate:*"], ["x"], ("info", False, [])),
    ("error", ["escalate:*", "deescalate:*"], ["x"], ("error", False, [])),
    ("info", ["escalate:*"] * 5 + ["deescalate:*"], ["x"], ("error", False, [])),
    ("warning", ["suppress:*", "escalate:*"], ["x"], ("error", True, [])),
    ("warning", ["set:*=x", "settings:*=y", "note:*", "escalate:*=up", "note:*="], ["x"], ("error", False, ["up", ""])),
    ("warning", ["foo:x=bar", "de_escalate:x=n"], ["x"], ("warning", False, [])),
    ("warning", ["note:*=a", "note:*=a", "note:other=b"], ["x"], ("warning", False, ["a", "a"])),
    ("warning", [" Sup--Press :*"], ["x"], ("warning", True, [])),
    ("warning", ["suppress:x@src/*"], ["x"], ("warning", False, [])),
]


@pytest.mark.parametrize("current,specs,names,expected", FOLDS)
def test_folds(current, specs, names, expected):
    result = lint_fold(current, ds(*specs), names)
    assert result == expected
    assert type(result) is tuple and type(result[1]) is bool and type(result[2]) is list


@pytest.mark.parametrize("current,shown", [("fatal", "fatal"), ("FATAL", "fatal"), (" info", " info"), ("", ""),
                                           ("Error ", "error "), ("Ünfo", "Ünfo"), ("a\"b", "a\\\"b")])
def test_unknown_severity(current, shown):
    with pytest.raises(DirectiveError) as info:
        lint_fold(current, [], [])
    assert str(info.value) == f'unknown severity "{shown}"' + EXPECTED


@pytest.mark.parametrize(
    "args,kwargs,param",
    [
        ((1, [], []), {}, "current"),
        (("info", "x", []), {}, "directives"),
        (("info", ["allow:x"], []), {}, "directives"),
        (("info", {1}, []), {}, "directives"),
        (("fatal", [], "x"), {}, "names"),
        (("info", [], [1]), {}, "names"),
        (("info", [], (n for n in "x")), {}, "names"),
        (("info", [], []), {"qualifier": 1}, "qualifier"),
        (("info", [], []), {"scopes": "src"}, "scopes"),
    ],
)
def test_argument_errors(args, kwargs, param):
    with pytest.raises(TypeError, match=f"^argument '{param}'"):
        lint_fold(*args, **kwargs)


def test_tuples_are_sequences_too():
    assert lint_fold("info", tuple(ds("escalate:x")), ("x",), scopes=("s",)) == ("warning", False, [])


def test_settings():
    d = ds("set:width=100", "suppress:x", "Settings:mode", "set:<k>a@p=1", "set:k=", "foo:z=1")
    assert lint_settings(d) == [("width", "100"), ("mode", ""), ("a", "1"), ("k", "")]
    assert lint_settings([]) == []
    assert lint_settings(tuple(d[:1])) == [("width", "100")]
    with pytest.raises(TypeError, match="^argument 'directives'"):
        lint_settings("set:x=1")


def test_docstrings():
    assert lint_fold.__doc__ == (
        "`lint_fold(current, directives, names, *, qualifier=None, scopes=None)` → `(severity, dropped,\n"
        "notes)`. Applies the standard lint combine policy (suppress / de-escalate / escalate / note);\n"
        "non-lint actions are inert. `current` ∈ `\"error\" | \"warning\" | \"info\"`."
    )
    assert lint_settings.__doc__ == (
        "`lint_settings(directives)` → `[(key, value)]` from every `set:KEY=VALUE` directive, in order."
    )


# --- both folds against Directive.matches, over lists longer than a fold keeps waiting ---------

VERBS = {"note": 0, "escalate": -1, "suppress": None, "set": "set", "foo": "foo", "De-Escalate": 1}
GLOB = "ab*?[]{},\\!-"
# Common shapes, so that long lists have many matches, and anything of the glob alphabet.
globs = st.one_of(st.sampled_from(["*", "a*", "?b", "a", "ab", "{a,b}*", "[ab]", "\\a*", "*b", "b{,a}"]),
                  st.text(alphabet=GLOB, min_size=1, max_size=5).filter(str.strip))
directive_specs = st.builds(
    lambda verb, kind, name, path, i: f"{verb}:{f'<{kind}>' if kind else ''}{name}{f'@{path}' if path else ''}=n{i}",
    st.sampled_from(sorted(VERBS)), st.sampled_from(["", "", "a", "b"]), globs, st.sampled_from(["", "", "*"]) | globs,
    st.integers(0, 99))
words = st.one_of(st.sampled_from(["a", "ab", "b", "ba", ""]), st.text(alphabet="ab{},*[]-!", max_size=4))


@settings(max_examples=150, deadline=None)
@given(st.lists(directive_specs, min_size=20, max_size=80), st.lists(words, min_size=1, max_size=3), st.sampled_from([None, "", "a", "b"]),
       st.one_of(st.none(), st.lists(words, max_size=2)))
def test_folds_agree_with_matches(specs, names, qualifier, scopes):
    # `=` and `:` cannot reach NAME or PATH unescaped; the glob alphabet has neither.
    directives = [parse(s) for s in specs]
    matching = [d for d in directives if d.matches(names, qualifier=qualifier, scopes=scopes)]
    counted = [d for d in matching if VERBS[d.action] not in ("set", "foo")]
    net = sum(VERBS[d.action] for d in counted if VERBS[d.action] is not None)
    severity = ["error", "warning", "info"][min(2, max(0, 1 + net))]
    dropped = any(VERBS[d.action] is None for d in counted)
    assert lint_fold("warning", directives, names, qualifier=qualifier, scopes=scopes) == (
        severity, dropped, [d.note for d in counted if d.note is not None])
    steps = {"note": 1, "foo": -1}
    ladder = Ladder(["x", "y", "z"])
    got = ladder.fold("y", directives, names, qualifier=qualifier, scopes=scopes, steps=steps, drop={"set"})
    total = sum(steps.get(d.action, 0) for d in matching)
    assert got == (ladder.step("y", max(-2, min(2, total))), any(d.action == "set" for d in matching),
                   [d.note for d in matching if d.note is not None])
