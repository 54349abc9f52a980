"""Uses of the quorvel package's annotations, checked as tests/typing/uses.py is:
mypy (`--strict --warn-unused-ignores`) must accept every call in CORRECT and
flag every call in MISUSES with the error named; tests/python/test_quorvel.py
runs them, and every misuse raises TypeError."""
import argparse
import copy
import pickle
from typing import Callable, List

import quorvel
from quorvel.cli import DirectiveAction, Verbs, click_type, load

# One directive and one ladder that the calls below use.
d = quorvel.parse("suppress:<py>long-*@tests/*=why")
ladder = quorvel.Ladder(["draft", "review", "final"])

# Calls that mypy must accept and that work.
CORRECT: List[Callable[[], object]] = [
    lambda: quorvel.escape("long-*").upper(),
    lambda: quorvel.explain("warning", [d], ["long-line"], qualifier="py", scopes=("tests/a",)).level,
    lambda: quorvel.explain("draft", (d,), ["x"], ladder=ladder, steps={"advance": 1}, drop=frozenset({"hold"}),
                            notes=False).trace,
    lambda: [t.failed or "" for t in quorvel.explain("info", quorvel.expand("note:x=y"), ["x"]).trace],
    lambda: pickle.loads(pickle.dumps(d)).name,
    lambda: copy.copy(ladder).levels,
    lambda: quorvel.__version__.split("."),
    lambda: Verbs({"allow"}).refusal("deny"),
    lambda: Verbs(["De-Escalate"], lint=True),
    lambda: [s.origin for s in load("note:x=y", lint=True)],
    lambda: load("allow:x", verbs=("allow",))[0].directive.action,
    lambda: argparse.ArgumentParser().add_argument("-D", action=DirectiveAction, lint=True),
]

# Calls that mypy must flag with the error named, and that raise TypeError.
MISUSES: List[Callable[[], object]] = [
    lambda: quorvel.escape(1),  # type: ignore[arg-type]
    lambda: quorvel.explain("warning", [d], "long-line"),  # type: ignore[arg-type]
    lambda: quorvel.explain("warning", [d], ["x"], "py"),  # type: ignore[misc]
    lambda: quorvel.explain("warning", [d], ["x"], ladder=["draft"]),  # type: ignore[arg-type]
    lambda: quorvel.explain("draft", [d], ["x"], ladder=ladder, drop=["hold"]),  # type: ignore[arg-type]
    lambda: quorvel.explain("draft", ["escalate:x"], ["x"]),  # type: ignore[list-item]
    lambda: Verbs("allow"),  # type: ignore[arg-type]
    lambda: click_type(verbs="allow"),  # type: ignore[arg-type]
    lambda: load(["note:x"]),  # type: ignore[arg-type]
    lambda: load("note:x", verbs="note"),  # type: ignore[arg-type]
]
