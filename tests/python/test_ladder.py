"""Ladder: the caller's own levels and verb vocabulary."""
import weakref

import pytest

from _quorvel import Ladder, parse

LADDER = ["draft", "review", "final"]


def test_empty_ladder():
    ladder = Ladder([])
    assert ladder.levels == []
    assert ladder.position("x") is None
    assert ladder.step("x", 3) == "x"
    assert ladder.fold("x", [], ["n"]) == ("x", False, [])


def test_construction():
    with pytest.raises(TypeError, match="^argument 'levels'"):
        Ladder("abc")
    assert Ladder(("draft", "final")).levels == ["draft", "final"]
    assert Ladder(levels=["a"]).levels == ["a"]
    assert Ladder(["a", "a"]).position("a") == 0
    for bad in ([1], None, {"a"}):
        with pytest.raises(TypeError):
            Ladder(bad)
    with pytest.raises(TypeError):
        Ladder()
    with pytest.raises(TypeError):
        Ladder(["a"], ["b"])


def test_no_half_built_instances():
    with pytest.raises(TypeError):
        object.__new__(Ladder)
    with pytest.raises(TypeError):
        Ladder.__new__(Ladder)
    assert Ladder.__new__(Ladder, ["a"]).levels == ["a"]


def test_copies_levels_both_ways():
    src = ["a", "b"]
    ladder = Ladder(src)
    src.append("c")
    got = ladder.levels
    got.append("z")
    assert ladder.levels == ["a", "b"]
    assert ladder.levels is not ladder.levels


def test_immutable():
    ladder = Ladder(LADDER)
    with pytest.raises(AttributeError):
        ladder.levels = []
    with pytest.raises(AttributeError):
        ladder.x = 1
    with pytest.raises(TypeError):
        weakref.ref(ladder)
    assert ladder != Ladder(LADDER)


STEPS = [
    ("draft", 1, "review"), ("draft", 5, "final"), ("final", -1, "review"), ("review", -100, "draft"),
    ("review", 0, "review"), ("final", -2**31, "draft"), ("draft", 2**31 - 1, "final"), ("Draft", 1, "Draft"),
    ("", -1, ""), ("draft", True, "review"),
]


@pytest.mark.parametrize("level,delta,expected", STEPS)
def test_step(level, delta, expected):
    assert Ladder(LADDER).step(level, delta) == expected


def test_step_with_index_objects_and_duplicates():
    class Idx:
        def __index__(self):
            return 2

    assert Ladder(LADDER).step("draft", Idx()) == "final"
    dup = Ladder(["a", "b", "a"])
    assert dup.step("a", 2) == "a" and dup.step("b", 1) == "a"


@pytest.mark.parametrize("delta,exc", [(2**31, OverflowError), (-2**31 - 1, OverflowError), (1.0, TypeError),
                                       ("1", TypeError), (None, TypeError), (2**100, OverflowError)])
def test_step_refusals(delta, exc):
    with pytest.raises(exc):
        Ladder(LADDER).step("draft", delta)


def test_position():
    ladder = Ladder(LADDER)
    assert ladder.position("review") == 1
    assert ladder.position("Draft") is None
    assert ladder.position("") is None
    with pytest.raises(TypeError, match="^argument 'level'"):
        ladder.position(1)


def worked():
    return Ladder(LADDER), [parse("advance:long-*=ready"), parse("skip:long-line@tests/*"),
                            parse("advance:<py>*=see docs")]


def test_worked_call():
    ladder, (d1, d2, d3) = worked()
    kw = dict(scopes=["tests/test_a"], steps={"advance": 1}, drop={"skip"})
    assert ladder.fold("draft", [d1, d2, d3], ["long-line"], **kw) == ("review", True, ["ready"])
    assert ladder.fold("draft", [d1, d2, d3], ["long-line"], qualifier="py", **kw) == (
        "final", True, ["ready", "see docs"])
    assert ladder.fold("draft", [d3, d2, d1], ["long-line"], qualifier="py", **kw) == (
        "final", True, ["see docs", "ready"])
    assert ladder.fold("draft", [d1, d2, d3], ["long-line"], notes=False, **kw) == ("review", True, [])
    no_scopes = dict(kw, scopes=None)
    assert ladder.fold("draft", [d1, d2, d3], ["long-line"], **no_scopes) == ("review", False, ["ready"])
    assert ladder.fold("draft", [d1, d2, d3], ["long-line"], **dict(kw, steps={"advance": 5})) == (
        "final", True, ["ready"])


def test_fold_details():
    ladder = Ladder(LADDER)
    up, down, note = parse("up:*"), parse("down:*=n"), parse("x:*=")
    steps = {"up": 1, "down": -1}
    # Summed before the single move: no clamping between directives.
    assert ladder.fold("final", [up, down], ["t"], steps=steps) == ("final", False, ["n"])
    assert ladder.fold("draft", [up, up], ["t"], steps=steps) == ("final", False, [])
    assert ladder.fold("elsewhere", [down, note], ["t"], steps=steps, drop=frozenset({"x"})) == (
        "elsewhere", True, ["n", ""])
    assert ladder.fold("review", [note], [], steps=steps) == ("review", False, [])
    # A running sum past the 32-bit range saturates the right way.
    big = {"up": 2**31 - 1}
    assert ladder.fold("draft", [up, up, up], ["t"], steps=big) == ("final", False, [])
    assert ladder.fold("final", [down] * 3, ["t"], steps={"down": -2**31}, notes=False) == ("draft", False, [])


class DictSub(dict):
    pass


def test_fold_conversions():
    ladder = Ladder(LADDER)
    up = parse("up:*")
    assert ladder.fold("draft", [up], ["t"], steps=DictSub(up=1)) == ("review", False, [])

    class Two:
        def __index__(self):
            return 2

    # A value that is not a plain int after plain ones: read from a snapshot.
    assert ladder.fold("draft", [up, parse("x:*")], ["t"], steps={"x": -1, "up": Two()}) == ("review", False, [])
    cases = [
        (dict(drop=["up"]), TypeError, "drop"),
        (dict(drop=("up",)), TypeError, "drop"),
        (dict(drop={1}), TypeError, "drop"),
        (dict(steps={"up": 2**31}), OverflowError, None),
        (dict(steps={1: 1}), TypeError, "steps"),
        (dict(steps={"up": 1.5}), TypeError, "steps"),
        (dict(steps=[("up", 1)]), TypeError, "steps"),
        (dict(notes=None), TypeError, "notes"),
        (dict(notes=1), TypeError, "notes"),
        (dict(qualifier=1), TypeError, "qualifier"),
    ]
    for kw, exc, param in cases:
        with pytest.raises(exc) as info:
            ladder.fold("draft", [up], ["t"], **kw)
        assert type(info.value) is exc
        if param:
            assert str(info.value).startswith(f"argument '{param}'")
    with pytest.raises(TypeError):
        ladder.fold("info", [up], ["n"], "q")
    with pytest.raises(TypeError, match="^argument 'directives'"):
        ladder.fold("draft", [up, "up:*"], ["t"])
    with pytest.raises(TypeError, match="^argument 'current'"):
        ladder.fold(None, [up], ["t"])


def test_fold_result_shape():
    result = Ladder(LADDER).fold("draft", [], ["t"])
    assert type(result) is tuple and len(result) == 3
    assert [type(x) for x in result] == [str, bool, list]


def test_docstrings():
    assert Ladder.__doc__.startswith("`Ladder(levels)` — a saturating, order-independent ladder")
    assert Ladder.position.__doc__ == "The rung index of `level`, or `None` if it isn't on this ladder."
    assert Ladder.step.__doc__ == "Move `level` by `delta` rungs, saturating at both ends (`delta>0` → later in the list)."
    assert Ladder.levels.__doc__ == "All levels, most-significant first."
    assert Ladder.fold.__text_signature__ == (
        "($self, current, directives, names, *, qualifier=None, scopes=None, steps=None, drop=None, notes=True)")
    assert Ladder.fold.__doc__.startswith("Fold matching directives onto a target with *your* verb vocabulary")
