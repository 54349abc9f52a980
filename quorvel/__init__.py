"""quorvel: parse and apply `-D` directives, `ACTION:[<KIND>]NAME[@PATH][=NOTE]`.

The package to import. It gives the functions and classes of its exact core,
the compiled module `_quorvel` (`parse`, `expand`, `Directive`, `lint_fold`,
`lint_settings`, `Ladder`, `glob_match`, `DirectiveError`), plus

- `escape(text)`: the NAME or PATH glob that matches exactly `text`;
- `explain(...)`: a fold's result with the part each directive played in it;
- `Policy(directives)`: directives built once for many lint folds, indexed;
- pickling and copying of `Directive` and `Ladder` objects;
- `quorvel.cli`: a repeatable `-D` option for argparse and click;
- `python -m quorvel check`, `explain`, `filter` and `baseline`.
"""
from __future__ import annotations

import copyreg as _copyreg
import typing as _typing

from _quorvel import Directive, DirectiveError, Ladder, expand, glob_match, lint_fold, lint_settings, parse

from . import cli
from ._escape import directive_text as _directive_text, escape
from ._explain import Explanation, Trace, explain
from ._policy import Policy

# The distribution's version, stated once: the build and the wheel's metadata read this line.
__version__ = "0.1.0"

__all__ = [
    "parse", "glob_match", "expand", "lint_fold", "lint_settings", "Directive", "Ladder", "DirectiveError",
    "escape", "explain", "Explanation", "Trace", "Policy",
]


def __dir__() -> _typing.List[str]:
    """What the package offers: its names, the `cli` module and the version."""
    return sorted(__all__ + ["cli", "__version__"])


def _reduce_directive(d: Directive) -> _typing.Tuple[_typing.Callable[..., Directive], _typing.Tuple[str]]:
    # Rebuilt by the module's own parse, so unpickling needs only _quorvel.
    return parse, (_directive_text(d),)


def _ladder(levels: _typing.List[str]) -> Ladder:
    """Rebuilds a pickled or copied Ladder (the class itself is not importable by name)."""
    return Ladder(levels)


def _reduce_ladder(ladder: Ladder) -> _typing.Tuple[_typing.Callable[..., Ladder], _typing.Tuple[_typing.List[str]]]:
    return _ladder, (ladder.levels,)


_copyreg.pickle(Directive, _reduce_directive)
_copyreg.pickle(Ladder, _reduce_ladder)
