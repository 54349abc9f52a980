"""Uses of the type stubs, checked two ways.

mypy (`--strict --warn-unused-ignores`, in scripts/test.sh) must accept every
call in CORRECT and flag every call in MISUSES; each misuse carries a
`type: ignore` with the error it must raise, so a misuse that mypy lets pass
is an unused ignore and fails the check. tests/python/test_typing_uses.py
runs the same calls: every correct use works and every misuse raises
TypeError, so the stubs and the module agree on what is refused.
"""
from typing import Callable, List

import _quorvel as q

# One directive and one ladder that the calls below use.
d = q.parse("suppress:<py>long-*@tests/*=why")
ladder = q.Ladder(["draft", "review", "final"])

# Calls that mypy must accept and that work.
CORRECT: List[Callable[[], object]] = [
    lambda: q.lint_fold("warning", [d], ["long-line"]),
    lambda: q.lint_fold("warning", (d,), ("long-line",), qualifier="py", scopes=("tests/a",)),
    lambda: q.lint_fold(current="info", directives=q.expand("note:x=y"), names=["x"], scopes=None),
    lambda: d.matches(["long-line"]),
    lambda: d.matches(("long-line",), qualifier=None, scopes=["tests/a"]),
    lambda: d.matches(names=[], qualifier="py"),
    lambda: q.parse("allow:x", actions={"allow"}),
    lambda: q.parse(spec="allow:x", actions=frozenset({"allow"})),
    lambda: q.expand("allow:x", actions=None),
    lambda: q.lint_settings(q.expand("set:a=1")),
    lambda: q.lint_settings((d,)),
    lambda: q.Ladder(("draft", "final")),
    lambda: q.Ladder([]),
    lambda: ladder.position("review"),
    lambda: ladder.step("draft", 1),
    lambda: ladder.step(level="draft", delta=True),
    lambda: ladder.levels,
    lambda: ladder.fold("draft", [d], ["x"], steps={"advance": 1}, drop={"hold"}, notes=False),
    lambda: ladder.fold("draft", (d,), ("x",), qualifier="py", scopes=["src"], drop=frozenset({"hold"})),
    lambda: q.glob_match("{src,lib}/*", text="src/a"),
    lambda: (d.action, d.kind, d.name, d.path, d.note, str(d), repr(d)),
]

# Calls that mypy must flag with the error named, and that raise TypeError.
MISUSES: List[Callable[[], object]] = [
    lambda: q.lint_fold("warning", [d], "long-line"),  # type: ignore[arg-type]
    lambda: q.lint_fold("warning", d, ["long-line"]),  # type: ignore[arg-type]
    lambda: q.lint_fold("warning", [d], ["x"], scopes="src"),  # type: ignore[arg-type]
    lambda: q.lint_fold("warning", [d], ["x"], qualifier=1),  # type: ignore[arg-type]
    lambda: q.lint_fold("warning", [d], ["x"], "py"),  # type: ignore[misc]
    lambda: q.lint_fold("warning", ["escalate:x"], ["x"]),  # type: ignore[list-item]
    lambda: d.matches("long-line"),  # type: ignore[arg-type]
    lambda: d.matches(["x"], scopes="src"),  # type: ignore[arg-type]
    lambda: d.matches({"x"}),  # type: ignore[arg-type]
    lambda: d.matches(x for x in ["x"]),  # type: ignore[arg-type]
    lambda: q.Ladder("abc"),  # type: ignore[arg-type]
    lambda: q.Directive(),  # type: ignore[call-arg]
    lambda: q.parse("allow:x", actions=["allow"]),  # type: ignore[arg-type]
    lambda: q.parse("allow:x", actions="allow"),  # type: ignore[arg-type]
    lambda: q.parse("allow:x", {"allow"}),  # type: ignore[misc]
    lambda: q.expand("@-", actions={"allow": 1}),  # type: ignore[arg-type]
    lambda: q.lint_settings("set:a=1"),  # type: ignore[arg-type]
    lambda: ladder.step("draft", 1.0),  # type: ignore[arg-type]
    lambda: ladder.position(1),  # type: ignore[arg-type]
    lambda: ladder.fold("draft", [d], "x"),  # type: ignore[arg-type]
    lambda: ladder.fold("draft", [d], ["x"], drop=["hold"]),  # type: ignore[arg-type]
    lambda: ladder.fold("draft", [d], ["x"], steps={"advance": 1.5}),  # type: ignore[dict-item]
    lambda: ladder.fold("draft", [d], ["x"], notes=None),  # type: ignore[arg-type]
    lambda: ladder.fold("draft", [d], ["x"], notes=1),  # type: ignore[arg-type]
    lambda: q.glob_match("*", 1),  # type: ignore[arg-type]
]
