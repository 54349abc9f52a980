"""The quorvel package: its properties against the module itself. escape gives
globs that match exactly their text; pickled and copied directives read back
field for field; explain gives the fold's result and a trace that accounts for
it; the package's loader reads files as expand does."""
import copy
import importlib.metadata
import importlib.util
import os
import pickle
import re

import pytest
from hypothesis import assume, given, settings, strategies as st

import _quorvel
import quorvel
from quorvel.cli import load

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")

# Characters that the grammar, the glob or the trims treat specially, and a few plain ones.
TRICKY = "ab<>\\@=:*?[]{},!- \t\u3000\u00e9#"
texts = st.text(alphabet=TRICKY, max_size=8)
specs = st.text(alphabet=TRICKY, max_size=16)
# Directive texts that mostly parse: a non-blank action and a non-blank head around tricky text.
directive_specs = st.builds(lambda a, b, c, d: f"{a}a{b}:{c}n{d}", texts, texts, texts, texts)


def parsed(spec):
    try:
        return _quorvel.parse(spec)
    except _quorvel.DirectiveError:
        return None


def fields(d):
    return d.action, d.kind, d.name, d.path, d.note


def test_package_reexports_the_module_and_carries_the_distribution_version():
    assert all(getattr(quorvel, name) is getattr(_quorvel, name) for name in _quorvel.__all__)
    assert set(_quorvel.__all__) <= set(quorvel.__all__)
    offered = [name for name in dir(quorvel) if not name.startswith("_")]
    assert set(offered) == set(quorvel.__all__) | {"cli"} and all(hasattr(quorvel, name) for name in dir(quorvel))
    assert re.fullmatch(r"[0-9]+\.[0-9]+\.[0-9]+", quorvel.__version__)
    if not os.path.abspath(quorvel.__file__).startswith(os.path.abspath(ROOT) + os.sep):  # installed
        assert importlib.metadata.version("quorvel") == quorvel.__version__


@settings(deadline=None)
@given(texts, texts, st.lists(texts, max_size=6))
def test_escape_matches_exactly_its_text_and_reads_back_unchanged(name, scope, others):
    pattern = quorvel.escape(name)
    assert _quorvel.glob_match(pattern, name)
    d = _quorvel.parse("allow:" + pattern + "@" + quorvel.escape(scope))
    assert (d.name, d.path) == (pattern, quorvel.escape(scope))
    assert d.matches([name], scopes=[scope])
    assert [o for o in others if _quorvel.glob_match(pattern, o)] == [o for o in others if o == name]


@settings(deadline=None)
@given(directive_specs, st.lists(texts, max_size=3), st.one_of(st.none(), texts), st.lists(texts, max_size=3),
       st.integers(0, pickle.HIGHEST_PROTOCOL))
def test_pickled_and_copied_directives_keep_every_field_and_match_alike(spec, names, qualifier, scopes, protocol):
    d = parsed(spec)
    assume(d is not None)
    for twin in (pickle.loads(pickle.dumps(d, protocol)), copy.copy(d), copy.deepcopy(d)):
        assert type(twin) is _quorvel.Directive and twin is not d
        assert fields(twin) == fields(d)
        for target in (names, [d.name], [d.kind or ""]):
            assert twin.matches(target, qualifier=qualifier, scopes=scopes) == \
                d.matches(target, qualifier=qualifier, scopes=scopes)


@settings(deadline=None)
@given(st.lists(texts, max_size=4), st.integers(0, pickle.HIGHEST_PROTOCOL))
def test_pickled_and_copied_ladders_keep_their_levels(levels, protocol):
    ladder = _quorvel.Ladder(levels)
    for twin in (pickle.loads(pickle.dumps(ladder, protocol)), copy.copy(ladder), copy.deepcopy(ladder)):
        assert type(twin) is _quorvel.Ladder and twin.levels == levels


# Directives for the folds: lint verbs in several spellings, other verbs, and a small glob alphabet.
VERBS = ["suppress", "De-Escalate", "escalate", "note", "set", "Settings", "advance", "hold", "deny"]
fold_directives = st.lists(st.builds(
    lambda verb, kind, name, path, note: _quorvel.parse(f"{verb}:{kind}{name}{path}{note}"),
    st.sampled_from(VERBS), st.sampled_from(["", "<py>", "<c>", "<*>"]), st.sampled_from(["*", "a", "b*", "{a,c}"]),
    st.sampled_from(["", "@src/*", "@*", "@"]), st.sampled_from(["", "=", "=why", "=a=b"])), max_size=8)
target_names = st.lists(st.sampled_from(["a", "b", "c", "bb"]), max_size=3)
target_scopes = st.one_of(st.none(), st.lists(st.sampled_from(["src/x", "", "lib/y"]), max_size=2))
qualifiers = st.sampled_from([None, "py", "c"])


def accounts_for(result, ladder, current, directives, names, qualifier, scopes):
    """Whether the trace of an explanation gives its result and the matches of the module."""
    trace = result.trace
    assert [t.directive for t in trace] == list(directives)
    for t in trace:
        if t.skipped is None:
            assert t.matched == t.directive.matches(names, qualifier=qualifier, scopes=scopes)
            assert (t.failed is None) == t.matched
    matched = [t for t in trace if t.matched]
    assert result.notes == [t.note for t in matched if t.note is not None]
    assert result.dropped == any(t.drop for t in matched)
    assert result.level == ladder.step(current, sum(t.rungs for t in matched))
    return True


@settings(deadline=None)
@given(st.sampled_from(["error", "Warning", "info"]), fold_directives, target_names, qualifiers, target_scopes)
def test_explain_gives_lint_folds_result_and_a_trace_that_accounts_for_it(current, directives, names, qualifier,
                                                                         scopes):
    result = quorvel.explain(current, directives, names, qualifier=qualifier, scopes=scopes)
    assert tuple(result[:3]) == _quorvel.lint_fold(current, directives, names, qualifier=qualifier, scopes=scopes)
    severities = _quorvel.Ladder(["error", "warning", "info"])
    assert accounts_for(result, severities, current.lower(), directives, names, qualifier, scopes)


@settings(deadline=None)
@given(st.sampled_from(["draft", "review", "final", "gone"]), fold_directives, target_names, qualifiers,
       target_scopes, st.dictionaries(st.sampled_from(VERBS), st.integers(-3, 3), max_size=4),
       st.sets(st.sampled_from(VERBS), max_size=3), st.booleans())
def test_explain_gives_ladder_folds_result_and_a_trace_that_accounts_for_it(current, directives, names, qualifier,
                                                                           scopes, steps, drop, notes):
    ladder = _quorvel.Ladder(["draft", "review", "final"])
    kwargs = dict(qualifier=qualifier, scopes=scopes, steps=steps, drop=drop, notes=notes)
    result = quorvel.explain(current, directives, names, ladder=ladder, **kwargs)
    assert tuple(result[:3]) == ladder.fold(current, directives, names, **kwargs)
    assert accounts_for(result, ladder, current, directives, names, qualifier, scopes)


@pytest.mark.parametrize("call,error", [
    (lambda: quorvel.explain("fatal", [], ["x"]), _quorvel.DirectiveError),
    (lambda: quorvel.explain("info", [], ["x"], steps={"a": 1}), TypeError),
    (lambda: quorvel.explain("info", [], "x"), TypeError),
])
def test_explain_refuses_what_the_fold_refuses(call, error):
    with pytest.raises(error):
        call()


# Lines of directive files: directives, comments, blank lines, CRs, a BOM, bad lines.
file_lines = st.lists(st.one_of(specs, st.sampled_from(["# c", "  #x", "", " \t", "\ufeffa:b", "a:b\r", "allow:x"])),
                      max_size=6)


@settings(max_examples=60, deadline=None)
@given(file_lines, st.booleans(), st.sampled_from(["\n", "\r\n"]),
       st.sampled_from([b"", b"\xff", b"\xed\xa0\x80", b"\xc0\x80", b"\xf4\x90\x80\x80", b"\xe2\x82"]))
def test_loader_reads_files_as_expand_does(tmp_path_factory, lines, bom, ending, tail):
    path = tmp_path_factory.mktemp("load") / "rules.txt"
    path.write_bytes((("\ufeff" if bom else "") + ending.join(lines)).encode() + tail)
    value = f"@{path}"

    def outcome(read):
        try:
            return [str(d) for d in read()]
        except _quorvel.DirectiveError as e:
            return str(e)

    expected = outcome(lambda: _quorvel.expand(value))
    got = outcome(lambda: [s.directive for s in load(value)])
    if isinstance(expected, str) and expected.endswith("valid UTF-8"):  # the package says where
        data = path.read_bytes()
        bad = max(k for k in range(len(data) + 1) if _valid(data[:k]))  # the longest UTF-8 start
        line = data[:bad].count(b"\n") + 1
        column = len(data[:bad].rsplit(b"\n", 1)[-1].decode()) + 1
        expected += f" (line {line}, column {column}: byte 0x{data[bad]:02x})"
    assert got == expected
    if isinstance(expected, list):
        numbers = [int(s.origin.rsplit(":", 1)[1]) for s in load(value)]
        assert all(lines[n - 1].strip() for n in numbers) and numbers == sorted(set(numbers))


def _valid(data):
    try:
        data.decode()
        return True
    except UnicodeDecodeError:
        return False


@pytest.mark.parametrize("value", ["@", "@no-such-file", "@.", "@a\0b", "allow:", "x:y"])
def test_loader_gives_the_modules_messages_for_what_it_cannot_read(value):
    try:
        expected = [str(d) for d in _quorvel.expand(value)]
    except _quorvel.DirectiveError as e:
        expected = str(e)
    try:
        got = [str(s.directive) for s in load(value)]
    except _quorvel.DirectiveError as e:
        got = str(e)
    assert got == expected


def typing_uses():
    """tests/typing/quorvel_uses.py, which mypy checks, loaded as a module."""
    spec = importlib.util.spec_from_file_location("quorvel_uses", os.path.join(ROOT, "tests", "typing",
                                                                               "quorvel_uses.py"))
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


USES = typing_uses()


@pytest.mark.parametrize("call", USES.CORRECT)
def test_what_mypy_accepts_works(call):
    call()


@pytest.mark.parametrize("call", USES.MISUSES)
def test_what_mypy_flags_raises_type_error(call):
    with pytest.raises(TypeError):
        call()
