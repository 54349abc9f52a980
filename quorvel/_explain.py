"""`explain`: a fold's result together with the part that each directive
played in it."""
from __future__ import annotations

from typing import TYPE_CHECKING, Dict, List, NamedTuple, Optional

from _quorvel import Directive, Ladder, glob_match, lint_fold

from ._text import lint_verb

if TYPE_CHECKING:
    from _quorvel import _Items, _StrSet

# The rungs that a lint verb moves a severity (toward "info" is positive).
_LINT_RUNGS = {"de-escalate": 1, "escalate": -1}


class Trace(NamedTuple):
    """What one directive did in a fold."""

    directive: Directive
    matched: bool
    """Whether the directive applied to the target."""
    failed: Optional[str]
    """For a directive that did not match: the part that failed, "kind", "name" or "path"."""
    rungs: int
    """For a match: the rungs it moved the level (positive: toward the end of the ladder)."""
    drop: bool
    """For a match: whether it dropped the target."""
    note: Optional[str]
    """For a match: the note it added to the result's notes."""
    skipped: Optional[str]
    """Why the lint policy left the directive out unmatched: "not a lint verb" or "a setting"."""


class Explanation(NamedTuple):
    """The result of the fold, `(level, dropped, notes)`, and one `Trace` per directive."""

    level: str
    dropped: bool
    notes: List[str]
    trace: List[Trace]


def failed_part(d: Directive, names: List[str], qualifier: Optional[str], scopes: List[str]) -> Optional[str]:
    """The first part of `d` that fails the target, in the order matching tests them
    ("kind", "name", "path"), or None when `d` matches."""
    if d.kind is not None and d.kind != qualifier:
        return "kind"
    if not any(glob_match(d.name, n) for n in names):
        return "name"
    if d.path is not None and not any(glob_match(d.path, s) for s in scopes):
        return "path"
    return None


def explain(
    current: str,
    directives: _Items[Directive],
    names: _Items[str],
    *,
    qualifier: Optional[str] = None,
    scopes: Optional[_Items[str]] = None,
    ladder: Optional[Ladder] = None,
    steps: Optional[Dict[str, int]] = None,
    drop: Optional[_StrSet] = None,
    notes: bool = True,
) -> Explanation:
    """The fold of `directives` onto `current` for one target, explained.

    Without `ladder`, the fold is `lint_fold(current, directives, names,
    qualifier=..., scopes=...)`; with it, `ladder.fold(...)` with the same
    arguments and `steps`, `drop` and `notes`. The first three items of the result
    are the fold's own result; `trace` lists the directives in order, each with
    whether it matched and, if so, its rungs, drop and note, or else the part that
    failed. Errors are the fold's (`DirectiveError` for an unknown severity,
    TypeError for arguments of the wrong type).
    """
    if ladder is None:
        if steps is not None or drop is not None or notes is not True:
            raise TypeError("explain: steps, drop and notes are Ladder.fold's and need a ladder")
        level, dropped, collected = lint_fold(current, directives, names, qualifier=qualifier, scopes=scopes)
    elif not isinstance(ladder, Ladder):
        raise TypeError(f"explain: ladder must be a Ladder, not {type(ladder).__name__}")
    else:
        level, dropped, collected = ladder.fold(current, directives, names, qualifier=qualifier, scopes=scopes,
                                                steps=steps, drop=drop, notes=notes)
    target_names, target_scopes = list(names), list(scopes or [])
    trace = []
    for d in directives:
        skipped = None
        if ladder is None:
            verb = lint_verb(d.action)
            skipped = "not a lint verb" if verb is None else "a setting" if verb == "set" else None
            rungs, drops, keeps_note = _LINT_RUNGS.get(verb or "", 0), verb == "suppress", True
        else:
            rungs, drops, keeps_note = (steps or {}).get(d.action, 0), d.action in (drop or ()), notes
        failed = None if skipped else failed_part(d, target_names, qualifier, target_scopes)
        if skipped or failed:
            trace.append(Trace(d, False, failed, 0, False, None, skipped))
        else:
            trace.append(Trace(d, True, None, rungs, drops, d.note if keeps_note else None, None))
    return Explanation(level, dropped, collected, trace)
