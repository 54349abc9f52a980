"""Hostile callers at the Python boundary: deep re-entrant recursion, huge
ints, instances the module did not build, re-entry during type creation,
exceptions raised while a bool is examined, and str subclasses with equal
text. A scenario that could crash or hang runs in a child process under a
time limit, so that it fails instead of stalling the suite.
"""
import os
import subprocess
import sys
import textwrap

import pytest

import _quorvel as q

CHILD_TIMEOUT = 120
UNDER_ASAN = "asan" in os.environ.get("LD_PRELOAD", "")


def roomy_stack():
    """The sanitized build's frames are several times those of a release
    build, so under the address sanitizer the child's C stack gets the room
    that a release build's recursion guard is sized for."""
    import resource
    _, hard = resource.getrlimit(resource.RLIMIT_STACK)
    want = 1 << 30
    resource.setrlimit(resource.RLIMIT_STACK, (want if hard == resource.RLIM_INFINITY else min(want, hard), hard))


def run_child(code, timeout=CHILD_TIMEOUT):
    """Runs `code` in a new interpreter; a hang becomes a failed test."""
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    try:
        return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], env=env, capture_output=True,
                              text=True, timeout=timeout, preexec_fn=roomy_stack if UNDER_ASAN else None)
    except subprocess.TimeoutExpired:
        pytest.fail(f"the child did not finish within {timeout} s (a hang)")


def assert_child_prints(code, expected, timeout=CHILD_TIMEOUT):
    r = run_child(code, timeout)
    assert r.returncode == 0, f"child ended with {r.returncode}\n{r.stderr[-2000:]}"
    assert r.stdout.split() == expected, r.stdout + r.stderr[-2000:]


# --- deep re-entrant recursion: RecursionError, never a crash ------------------------------------

# Each entry point that can call back into Python, re-entered from the
# callback as deep as the interpreter lets it (the recursion limit is set
# far above what the C stack could hold without the guard).
REENTRY = {
    "lint_fold": """
        class L(list):
            def __iter__(self):
                q.lint_fold("warning", self, ["x"])
                return super().__iter__()
        q.lint_fold("warning", L(), ["x"])
    """,
    "Ladder.fold": """
        ladder = q.Ladder(["a", "b"])
        class L(list):
            def __iter__(self):
                ladder.fold("a", self, ["x"], steps={"s": 1}, drop={"d"})
                return super().__iter__()
        ladder.fold("a", L(), ["x"], steps={"s": 1}, drop={"d"})
    """,
    "lint_settings": """
        class L(list):
            def __iter__(self):
                q.lint_settings(self)
                return super().__iter__()
        q.lint_settings(L())
    """,
    "matches": """
        d = q.parse("a:x")
        class L(list):
            def __iter__(self):
                d.matches(self)
                return super().__iter__()
        d.matches(L())
    """,
    "Ladder": """
        class L(list):
            def __iter__(self):
                q.Ladder(self)
                return super().__iter__()
        q.Ladder(L())
    """,
}


# From 3.12 on the interpreter guards the C stack apart from the recursion
# limit, so the limit is set far above what the stack could hold; before
# 3.12 the limit is all there is, and the default one is kept.
PRELUDE = """import sys
import _quorvel as q
if sys.version_info >= (3, 12):
    sys.setrecursionlimit(1_000_000)
try:
"""


@pytest.mark.parametrize("entry", sorted(REENTRY))
def test_deep_reentry_raises_recursion_error(entry):
    code = PRELUDE + textwrap.indent(
        textwrap.dedent(REENTRY[entry]), "    ") + "\nexcept RecursionError:\n    print('RecursionError')\n"
    assert_child_prints(code, ["RecursionError"])


# --- out-of-range ints: OverflowError on every interpreter, whatever the int's text --------------

class LoudInt(int):
    """An int whose text cannot be made."""

    def __repr__(self):
        raise RuntimeError("repr called")

    __str__ = __repr__


LADDER = q.Ladder(["draft", "review", "final"])
DIRECTIVES = [q.parse("up:x")]


@pytest.mark.parametrize("value", [10**5000, -10**5000, LoudInt(2**31), LoudInt(-2**40), 2**63, -2**64],
                         ids=["huge", "-huge", "loud", "-loud", "2**63", "-2**64"])
@pytest.mark.parametrize("where", ["delta", "steps"])
def test_out_of_range_int_is_overflow_error(value, where):
    with pytest.raises(OverflowError) as e:
        if where == "delta":
            LADDER.step("draft", value)
        else:
            LADDER.fold("draft", DIRECTIVES, ["x"], steps={"up": value})
    assert type(e.value) is OverflowError and str(e.value)


# --- instances the module did not build (possible on 3.9) -----------------------------------------

UNBUILT = """
    import _quorvel as q
    ok = []
    def refused(fn):
        try:
            fn()
        except TypeError:
            return True
        return False
    for cls, made in ((q.Directive, q.parse("a:x")), (q.Ladder, q.Ladder(["a"]))):
        try:
            cls.__new__ = staticmethod(lambda c, *a: object.__new__(c))
        except TypeError:
            print("immutable")  # 3.10 and later: such an instance cannot be made
            continue
        obj = cls()
        if cls is q.Directive:
            uses = [lambda: obj.action, lambda: obj.kind, lambda: obj.name, lambda: obj.path, lambda: obj.note,
                    lambda: str(obj), lambda: repr(obj), lambda: obj.matches(["x"]),
                    lambda: q.lint_fold("warning", [made, obj], ["x"]), lambda: q.lint_settings([obj]),
                    lambda: q.Ladder(["a"]).fold("a", [obj], ["x"])]
        else:
            uses = [lambda: obj.levels, lambda: obj.position("a"), lambda: obj.step("a", 1),
                    lambda: obj.fold("a", [], ["x"])]
        print("refused" if all(refused(u) for u in uses) else "accepted")
        del obj  # its deallocation must not end what was never built
"""


def test_unbuilt_instances_are_refused_on_every_use():
    r = run_child(UNBUILT)
    assert r.returncode == 0, r.stderr[-2000:]
    assert r.stdout.split() in (["refused", "refused"], ["immutable", "immutable"]), r.stdout + r.stderr


# --- re-entry during the first creation of a type -------------------------------------------------

# A finalizer that keeps re-arming itself runs at every collection, and with
# a threshold of 1 the collector runs at every tracked allocation (before
# 3.12), so it runs while the module's execution step creates Directive and
# then DirectiveError, and calls the half-made module at exactly that
# moment: once the names before the type are registered and the type's own
# is not yet.
TYPE_REENTRY = """
    import gc, sys
    seen = []
    class Chain:
        def __init__(self):
            self.me = self  # a cycle: only the collector frees it
        def __del__(self):
            Chain()
            m = sys.modules.get("_quorvel")
            if m is None:
                return
            for before, name, call in (("lint_settings", "Directive", lambda: m.parse("a:x")),
                                       ("Ladder", "DirectiveError", lambda: m.parse("bad"))):
                if hasattr(m, before) and not hasattr(m, name):
                    try:
                        call()
                    except Exception as e:
                        seen.append((name, type(e).__name__))
    Chain()
    gc.set_threshold(1)
    import _quorvel
    gc.set_threshold(700)
    gc.collect()
    names = sorted({name for name, exc in seen if exc == "ImportError"})
    print("imported", names if sys.version_info < (3, 12) else "deferred")
"""


def test_reentering_type_creation_raises_instead_of_hanging():
    expected = "['Directive', 'DirectiveError']" if sys.version_info < (3, 12) else "deferred"
    r = run_child(TYPE_REENTRY, timeout=60)
    assert r.returncode == 0, r.stderr[-2000:]
    assert r.stdout.strip() == f"imported {expected}", r.stdout + r.stderr[-2000:]


# --- exceptions raised while a bool argument is examined propagate --------------------------------

class Boom(Exception):
    pass


def _raiser(exc):
    def get(cls):
        raise exc
    return property(get)


@pytest.mark.parametrize("attr", ["__module__", "__name__"])
@pytest.mark.parametrize("exc", [Boom, KeyboardInterrupt])
def test_bool_conversion_lets_type_check_errors_through(attr, exc):
    meta = type("Meta", (type,), {attr: _raiser(exc)})
    odd = meta("Odd", (), {})()
    with pytest.raises(exc):
        LADDER.fold("draft", DIRECTIVES, ["x"], notes=odd)


# --- str subclasses with equal text ------------------------------------------------------------------

class Distinct(str):
    """A str that equals no other object: a set or dict keeps two with the same text."""

    __hash__ = str.__hash__

    def __eq__(self, other):
        return self is other

    def __ne__(self, other):
        return self is not other


def test_unknown_action_lists_each_text_once():
    allowed = {Distinct("warn"), Distinct("warn"), Distinct("allow"), "allow"}
    assert len(allowed) == 4
    for fn in (q.parse, q.expand):
        with pytest.raises(q.DirectiveError) as e:
            fn("deny:x", actions=allowed)
        assert str(e.value) == 'unknown action "deny"; allowed: ["allow", "warn"]'


@pytest.mark.parametrize("plain", [True, False], ids=["plain", "general"])
@pytest.mark.parametrize("first,second", [(1, -1), (-1, 1), (2, 0), (0, 2)])
def test_equal_text_steps_keys_later_wins(first, second, plain):
    steps = {Distinct("up"): first, Distinct("up"): second}
    assert len(steps) == 2
    directives = DIRECTIVES if plain else type("L", (list,), {})(DIRECTIVES)
    level, _, _ = LADDER.fold("review", directives, ["x"], steps=steps)
    assert level == LADDER.step("review", second)


# --- code that runs while a fold reads its arguments ------------------------------------------------

# Before 3.12 the collector runs on allocation, so a gc callback runs inside
# the fold wherever the fold allocates a tracked object. There it swaps a
# `steps` value for one whose __index__ empties the directive and name lists
# and fills the freed memory. Whichever collection it is (one attempt per
# collection, by the count and the padding before the call), the fold must
# give the answer for the lists as they were passed.
FOLD_DURING_GC = """
    import gc, _quorvel as q
    class Pad:
        pass
    ladder = q.Ladder(["a", "b", "c"])
    def attempt(nth, pad):
        dirs = [q.parse(f"up:n{i}*=note{i}") for i in range(200)]
        names = ["n1" + "x" * 40, "n2" + "y" * 40]
        steps, drop, junk, seen = {"up": 1}, {"zz"}, [], [0]
        class Clear:
            def __index__(self):
                dirs.clear()
                names.clear()
                junk.extend(b"\\xff" * n for n in range(1, 600) for _ in range(20))
                return 1
        def callback(phase, info):
            if phase == "start":
                seen[0] += 1
                if seen[0] == nth:
                    steps["up"] = Clear()
        fold = ladder.fold
        gc.callbacks.append(callback)
        gc.set_threshold(1)
        try:
            pad1 = Pad() if pad > 0 else None
            pad2 = Pad() if pad > 1 else None
            return fold("a", dirs, names, steps=steps, drop=drop)
        finally:
            gc.set_threshold(700)
            gc.callbacks.remove(callback)
    print(all(attempt(nth, pad) == ("c", False, ["note1", "note2"]) for nth in range(1, 6) for pad in range(3)))
"""


def test_fold_holds_what_code_run_during_it_may_free():
    assert_child_prints(FOLD_DURING_GC, ["True"])


# --- sizes that a quadratic algorithm cannot finish in time ----------------------------------------

def test_holding_many_items_stays_linear():
    # Every name and action is held for the call: growing the held array one
    # item at a time would take minutes here.
    code = """
        import _quorvel as q
        names = [f"n{i}" for i in range(300_000)]
        print(q.parse("a:zz").matches(names), q.parse("a:x", actions=set(names) | {"a"}).action)
    """
    assert_child_prints(code, ["False", "a"])


def test_steps_keys_cannot_flood_the_vocabulary():
    # 2**19 keys crafted so that an unkeyed multiplicative hash (FNV-1a)
    # gives them all the same low 20 bits, hence one bucket of the table:
    # each pair of 3-character blocks leads to the same state, and a key is
    # one choice per pair.
    code = """
        import itertools, random, string, _quorvel as q
        bits, mask, rng = 20, (1 << 20) - 1, random.Random(7)
        def step(h, block):
            for c in block.encode():
                h = ((h ^ c) * 16777619) & mask
            return h
        state, pairs = 2166136261 & mask, []
        while len(pairs) < 19:
            seen = {}
            while True:
                block = "".join(rng.choices(string.ascii_letters, k=3))
                h = step(state, block)
                if seen.get(h, block) != block:
                    pairs.append((seen[h], block))
                    state = h
                    break
                seen[h] = block
        steps = {"".join(choice): 1 for choice in itertools.product(*pairs)}
        print(len(steps), q.Ladder(["a", "b"]).fold("a", [q.parse("up:x")], ["x"], steps=steps | {"up": 1})[0])
    """
    assert_child_prints(code, ["524288", "b"])
