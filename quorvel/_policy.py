"""`Policy`: directives built once for many lint folds, with an index that lets
a fold skip the directives that cannot match its target, and a count of the
folds in which each directive took part."""
from __future__ import annotations

import re
import threading
from typing import Dict, Iterable, List, NamedTuple, Optional, Sequence, Tuple, Union

from _quorvel import Directive, lint_fold, parse

from ._escape import _dangling, _kind_text
from ._text import lint_verb

# The bytes that make a NAME or PATH more than the one text it spells.
_GLOB_OPEN = frozenset("*?[{")
_GLOB_OPEN_RE = re.compile(r"[*?\[{]")


def literal_text(pattern: str) -> Optional[str]:
    """The one text that glob `pattern` matches when it has no wildcard, class or
    brace group (no unescaped `*`, `?`, `[` or `{`), with every `\\x` read as x;
    None otherwise."""
    if "\\" not in pattern:
        return None if _GLOB_OPEN_RE.search(pattern) else pattern
    out = []
    i, n = 0, len(pattern)
    while i < n:
        c = pattern[i]
        if c == "\\" and i + 1 < n:
            out.append(pattern[i + 1])
            i += 2
            continue
        if c in _GLOB_OPEN:
            return None
        out.append(c)
        i += 1
    return "".join(out)


def leading_text(pattern: str) -> Optional[str]:
    """The first character of every text that glob `pattern` matches ("" when it
    matches only the empty text), or None when that is not fixed."""
    if not pattern:
        return ""
    first = pattern[0]
    if first == "\\":
        return pattern[1] if len(pattern) > 1 else first
    return None if first in _GLOB_OPEN else first


def _probe(d: Directive, index: int) -> Directive:
    """A `note` directive with the kind, NAME and PATH of `d` whose note is `index`:
    a lint fold over such probes lists the indices of the directives that match."""
    def part(text: str) -> str:
        return text + " " if _dangling(text) else text

    text = "note:<" + ("*" if d.kind is None else _kind_text(d.kind)) + ">" + part(d.name)
    if d.path is not None:
        text += "@" + part(d.path)
    return parse(text + "=" + str(index))


class Entry(NamedTuple):
    """A directive of a `Policy`, where it came from (None when not given), and the
    number of folds in which it was used."""

    directive: Directive
    origin: Optional[str]
    uses: int


Item = Union[Directive, Tuple[Directive, Optional[str]]]


class Policy:
    """Lint directives built once and folded onto many targets.

    `Policy(items)` takes directives, or `(directive, origin)` pairs such as
    `quorvel.cli.Sourced`, in order. `policy.lint_fold(current, names,
    qualifier=None, scopes=None)` returns what `lint_fold(current, directives,
    names, qualifier=..., scopes=...)` returns for all of them.

    A directive whose NAME and PATH are each one literal text (no unescaped `*`,
    `?`, `[` or `{`: what a baseline is made of) is indexed by those texts, so a
    fold looks only at the indexed directives whose NAME is one of the target's
    names and whose PATH (if any) is one of its scopes, plus the other lint
    directives whose NAME can match a text that starts as one of the names does.
    Settings and tokens that are no lint verb never take part.

    A directive is *used* in a fold when it matches the target: a suppression
    drops it, an escalation or de-escalation steps it (even a step that the end
    of the scale absorbs, or that another directive cancels), a `note` adds its
    note (one without NOTE counts as well). `used()` counts the folds per
    directive; `unused()` lists the directives used in none: settings, tokens
    that are no lint verb, and directives that matched nothing.

    The directives and the index never change after building; the counts are
    kept under a lock, so one policy can serve many threads.
    """

    __slots__ = ("_directives", "_origins", "_index", "_loose", "_probes", "_leading", "_uses", "_lock")

    def __init__(self, items: Iterable[Item]) -> None:
        directives: List[Directive] = []
        origins: List[Optional[str]] = []
        index: Dict[Tuple[str, Optional[str]], List[int]] = {}
        loose: List[int] = []
        verbs: Dict[str, Optional[str]] = {}
        for i, item in enumerate(items):
            if isinstance(item, Directive):
                d, origin = item, None
            elif isinstance(item, tuple) and len(item) == 2 and isinstance(item[0], Directive):
                d, origin = item
                if origin is not None and not isinstance(origin, str):
                    raise TypeError(f"Policy: an origin is a str or None, not {type(origin).__name__}")
            else:
                raise TypeError(f"Policy: expected a Directive or a (Directive, origin) pair, "
                                f"not {type(item).__name__}")
            directives.append(d)
            origins.append(origin)
            action = d.action
            verb = verbs.get(action, "")
            if verb == "":
                verb = verbs[action] = lint_verb(action)
            if verb is None or verb == "set":
                continue
            name = literal_text(d.name)
            glob_path = d.path
            path = None if glob_path is None else literal_text(glob_path)
            if name is None or (glob_path is not None and path is None):
                loose.append(i)
            else:
                key = (name, path)
                if key in index:
                    index[key].append(i)
                else:
                    index[key] = [i]
        self._directives: Tuple[Directive, ...] = tuple(directives)
        self._origins: Tuple[Optional[str], ...] = tuple(origins)
        self._index = {key: tuple(value) for key, value in index.items()}
        self._loose = tuple(loose)
        # The unindexed directives as probes, by the first character of their NAME's
        # texts: a target's names pick their groups and the probes without one.
        probes = [_probe(directives[i], k) for k, i in enumerate(loose)]
        leading: Dict[Optional[str], List[Directive]] = {}
        for probe in probes:
            leading.setdefault(leading_text(probe.name), []).append(probe)
        self._probes = tuple(leading.pop(None, ()))
        self._leading = {c: tuple(group) for c, group in leading.items()}
        self._uses = [0] * len(directives)
        self._lock = threading.Lock()

    def __len__(self) -> int:
        return len(self._directives)

    def __repr__(self) -> str:
        return (f"<quorvel.Policy of {len(self._directives)} directives, "
                f"{sum(map(len, self._index.values()))} indexed>")

    @property
    def directives(self) -> Tuple[Directive, ...]:
        """The directives, in order."""
        return self._directives

    @property
    def origins(self) -> Tuple[Optional[str], ...]:
        """The origin of each directive, in order (None where none was given)."""
        return self._origins

    def matching(self, names: Sequence[str], *, qualifier: Optional[str] = None,
                 scopes: Optional[Sequence[str]] = None) -> List[int]:
        """The positions, in order, of the lint directives that match the target
        (what a fold onto it uses). TypeError for arguments that `lint_fold` refuses."""
        return self._hits(names, qualifier, scopes, True)

    def _hits(self, names: Sequence[str], qualifier: Optional[str], scopes: Optional[Sequence[str]],
              check: bool) -> List[int]:
        if check:  # the target's types, as lint_fold checks them
            lint_fold("warning", (), names, qualifier=qualifier, scopes=scopes)
        probes = self._probes
        if self._leading:
            get_group = self._leading.get
            for lead in {name[:1] for name in names}:
                group = get_group(lead)
                if group is not None:
                    probes = probes + group
        if probes:
            # The probe fold checks the target's types as lint_fold does, and finds the
            # unindexed directives that match.
            found = lint_fold("warning", probes, names, qualifier=qualifier, scopes=scopes)[2]
            hits = [self._loose[int(n)] for n in found]
        else:
            hits = []
        if self._index:
            get = self._index.get
            keys: List[Optional[str]] = [None]
            if scopes:
                keys += scopes
            seen = set()
            for name in names:
                for scope in keys:
                    for i in get((name, scope), ()):
                        kind = self._directives[i].kind
                        if (kind is None or kind == qualifier) and i not in seen:
                            seen.add(i)
                            hits.append(i)
        if len(hits) > 1:
            hits.sort()
        return hits

    def lint_fold(self, current: str, names: Sequence[str], *, qualifier: Optional[str] = None,
                  scopes: Optional[Sequence[str]] = None) -> Tuple[str, bool, List[str]]:
        """`lint_fold(current, self.directives, names, qualifier=..., scopes=...)`,
        looking only at the directives that can match; counts the ones used."""
        return self.folded(current, names, qualifier=qualifier, scopes=scopes)[0]

    def folded(self, current: str, names: Sequence[str], *, qualifier: Optional[str] = None,
               scopes: Optional[Sequence[str]] = None) -> Tuple[Tuple[str, bool, List[str]], List[int]]:
        """`(self.lint_fold(...), positions)`: the fold and the positions, in order, of
        the directives used in it (whose notes are the fold's notes)."""
        if not isinstance(current, str):
            return lint_fold(current, [], names, qualifier=qualifier, scopes=scopes), []
        # Unchecked arguments fail in the fold below, with lint_fold's own TypeError.
        try:
            hits = self._hits(names, qualifier, scopes, False)
        except TypeError:
            hits = self._hits(names, qualifier, scopes, True)
        ds = self._directives
        result = lint_fold(current, [ds[i] for i in hits], names, qualifier=qualifier, scopes=scopes)
        if hits:
            with self._lock:
                uses = self._uses
                for i in hits:
                    uses[i] += 1
        return result, hits

    def used(self) -> List[int]:
        """The number of folds in which each directive was used, in order."""
        with self._lock:
            return list(self._uses)

    def unused(self) -> List[Entry]:
        """The directives used in no fold so far, in order, with their origins."""
        with self._lock:
            return [Entry(d, o, 0) for d, o, n in zip(self._directives, self._origins, self._uses) if not n]

    def entries(self) -> List[Entry]:
        """Every directive with its origin and count, in order."""
        with self._lock:
            return [Entry(d, o, n) for d, o, n in zip(self._directives, self._origins, self._uses)]
