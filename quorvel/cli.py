"""A repeatable `-D` option for command-line tools, with argparse or click.

Each `-D` value is one directive, `@FILE` for a directive file, or `@-` for
standard input. The option checks the verbs, if given, and its errors name the
value that failed, and the line for a directive file:

    parser.add_argument("-D", dest="directives", action=quorvel.cli.DirectiveAction, lint=True)

    tool: error: argument -D: @rules.txt:7: unknown action "supress"; did you mean "suppress"?

`load(value)` does the same for one value and keeps where each directive came from.
"""
from __future__ import annotations

import argparse
import difflib
import functools
import os
from typing import TYPE_CHECKING, Any, Callable, Dict, Iterator, List, NamedTuple, Optional, Protocol, Sequence, Union

from _quorvel import Directive, DirectiveError, expand, parse

from ._read import ReadError, iter_lines, read_text, shown, utf8_position
from ._text import LINT_VERBS, directive_text, lint_token, lint_verb, quoted

if TYPE_CHECKING:
    import click

__all__ = ["Sourced", "Verbs", "load", "read_source", "DirectiveAction", "click_type"]

# The five lint verbs, spelled as lint_fold's documentation spells them.
_LINT_SPELLINGS = sorted(set(LINT_VERBS.values()))
# Words that other tools use for what the lint verb "suppress" does.
_SUPPRESS_WORDS = frozenset({"ignore", "disable", "skip", "off"})


class VerbCollection(Protocol):
    """What verbs are given as: a set, a list, a tuple, ... of str, but not one str."""

    def __iter__(self) -> Iterator[str]: ...
    def __contains__(self, item: object, /) -> bool: ...


class Sourced(NamedTuple):
    """A directive and where it came from: "<inline>", or the file (or "<stdin>") and line."""

    directive: Directive
    origin: str


class Verbs:
    """The verbs that a tool takes, compared exactly or, with `lint`, in every spelling
    that lint_fold reads (case, hyphens and surrounding white space do not matter)."""

    def __init__(self, verbs: Optional[VerbCollection] = None, *, lint: bool = False) -> None:
        if isinstance(verbs, str):
            raise TypeError("verbs: give a collection of verbs, not one str")
        self.lint = lint
        self.allowed: Optional[Dict[str, str]] = None  # compared form -> spelling shown
        if lint:
            self.allowed = {}
            for verb in _LINT_SPELLINGS if verbs is None else verbs:
                key = lint_verb(verb)
                if key is None:
                    raise ValueError(f"{verb!r} is not a lint verb (one of {', '.join(_LINT_SPELLINGS)})")
                self.allowed.setdefault(key, verb)
        elif verbs is not None:
            self.allowed = {verb: verb for verb in verbs}

    def refusal(self, action: str, *, width: Optional[int] = None) -> Optional[str]:
        """None when `action` is allowed, else the message that refuses it; with `width`,
        an action longer than that is cut short in the message."""
        if self.allowed is None:
            return None
        key = lint_verb(action) if self.lint else action
        if key is not None and key in self.allowed:
            return None
        message = f"unknown action {quoted(shorten(action, width) if width else action)}"
        near = self._nearest(action)
        if near is not None:
            return f"{message}; did you mean {quoted(near)}?"
        shown = sorted(self.allowed.values(), key=lambda v: v.encode())
        return f"{message}; allowed: [{', '.join(quoted(v) for v in shown)}]"

    def _nearest(self, action: str) -> Optional[str]:
        """The allowed verb that `action` most likely means, as the tool spells it, or None."""
        assert self.allowed is not None
        token = lint_token(action) if self.lint else action
        if self.lint and token in _SUPPRESS_WORDS and "suppress" in self.allowed:
            return self.allowed["suppress"]
        # A lint token is compared as lint_fold reads it, with the verbs written the same way.
        compared = {lint_token(k) if self.lint else k: k for k in self.allowed}
        # A token over three times as long as every verb is below the cutoff of 0.6 (the
        # ratio is at most 2 * shorter / both lengths), so it is not compared at all: the
        # comparison costs time and memory in the token's length.
        if not compared or len(token) > 3 * max(len(k) for k in compared):
            return None
        near = difflib.get_close_matches(token, list(compared), n=1, cutoff=0.6)
        return self.allowed[compared[near[0]]] if near else None


def shorten(text: str, width: int) -> str:
    """`text`, or its first `width` characters and "…" when it is longer."""
    return text if len(text) <= width else text[:width] + "\u2026"


def load(value: str, *, verbs: Union[Verbs, VerbCollection, None] = None, lint: bool = False) -> List[Sourced]:
    """The directives of one `-D` value with their origins, as `expand(value)` reads them.

    With `verbs` (or `lint`), every action must be one of the verbs (see `Verbs`). Raises
    `DirectiveError` whose message starts with the origin: "<inline>: ", or the file's name
    and the line ("rules.txt:7: "), or the name alone when the file cannot be read.
    """
    if not isinstance(value, str):
        raise TypeError(f"load() takes a str value, not {type(value).__name__}")
    check = verbs if isinstance(verbs, Verbs) else Verbs(verbs, lint=lint)
    sourced = _load(value)
    for d, origin in sourced:
        refusal = check.refusal(d.action)
        if refusal is not None:
            raise DirectiveError(f"{origin}: {refusal}")
    return sourced


def _load(value: str) -> List[Sourced]:
    if not value.startswith("@"):
        try:
            value.encode("utf-8")
        except UnicodeEncodeError:  # bytes of the command line that are not UTF-8
            _, column, byte = utf8_position(os.fsencode(value)) or (0, 0, 0)
            raise DirectiveError(f"<inline>: the value is not valid UTF-8 (column {column}: byte 0x{byte:02x})"
                                 ) from None
        try:
            return [Sourced(d, "<inline>") for d in expand(value)]
        except DirectiveError as e:
            if os.path.isfile(value):  # the "@" was left out
                raise DirectiveError(f"{e}; did you mean {quoted('@' + value)}?") from None
            raise
    return _load_file(value[1:])


def _load_file(path: str) -> List[Sourced]:
    """The directives of a directive file (or standard input for "-"), read as `expand`
    reads `@path`, one line at a time: memory holds one line and the directives. As in
    `expand`, content that is not UTF-8 anywhere fails the whole load, before a line that
    does not parse."""
    name = shown(path)
    sourced: List[Sourced] = []
    failure: Optional[DirectiveError] = None  # the first line that did not parse
    for number, data in enumerate(iter_lines(path), 1):
        try:
            line = data.decode("utf-8")
        except UnicodeDecodeError:
            _, column, byte = utf8_position(data) or (0, 0, 0)
            raise ReadError(f"{name}: stream did not contain valid UTF-8 (line {number}, column {column}: "
                            f"byte 0x{byte:02x})") from None
        text = None if failure else directive_text(line[1:] if number == 1 and line.startswith("\ufeff") else line)
        if text is None:
            continue
        try:
            sourced.append(Sourced(parse(text), f"{name}:{number}"))
        except DirectiveError as e:
            failure, sourced = DirectiveError(f"{name}:{number}: {e}"), []
    if failure is not None:
        raise failure
    return sourced


def read_source(path: str) -> str:
    """The text of a directive file, or of standard input for "-", as `expand("@" + path)`
    reads it; `ReadError` (a `DirectiveError`) with the module's message when it cannot be
    read, followed by the line and column of the first byte that is not UTF-8."""
    return read_text(path)


def _value_error(value: str, error: DirectiveError) -> str:
    """The message for a `-D` value that failed, naming the value once: "VALUE: what failed"
    for an inline value, "@FILE:LINE: what failed" for a line of a file."""
    message = str(error)
    value = "@" + shown(value[1:]) if value.startswith("@") and value != "@-" else shown(value)
    if message.startswith("<inline>: "):
        return f"{value}: {message[len('<inline>: '):]}"
    if value.startswith("@") and value != "@-" and message.startswith(value[1:] + ":"):
        return "@" + message
    return f"{value}: {message}"


class DirectiveAction(argparse.Action):
    """An argparse action for a repeatable `-D VALUE`: appends the value's directives (or,
    with `sourced=True`, `Sourced` pairs) to the destination list, or ends with the parser's
    usage error naming the value.

        parser.add_argument("-D", dest="directives", action=DirectiveAction, verbs={"allow", "deny"})

    Extra keywords: `verbs` (the allowed verbs; exact), `lint=True` (the lint verbs in any
    spelling that lint_fold reads; `verbs` then names some of them), `sourced`.
    """

    def __init__(
        self,
        option_strings: Sequence[str],
        dest: str,
        *,
        verbs: Optional[VerbCollection] = None,
        lint: bool = False,
        sourced: bool = False,
        default: Any = None,
        metavar: Union[str, None] = "VALUE",
        help: Optional[str] = "ACTION:[<KIND>]NAME[@PATH][=NOTE], @FILE or @- (repeatable)",
        **kwargs: Any,
    ) -> None:
        if kwargs.get("nargs") is not None:
            raise ValueError("DirectiveAction takes one value per option")
        super().__init__(option_strings, dest, default=[] if default is None else default, metavar=metavar,
                         help=help, **kwargs)
        self.verbs = Verbs(verbs, lint=lint)
        self.sourced = sourced

    def __call__(self, parser: argparse.ArgumentParser, namespace: argparse.Namespace,
                 values: Union[str, Sequence[Any], None], option_string: Optional[str] = None) -> None:
        value = str(values)
        try:
            loaded = load(value, verbs=self.verbs)
        except DirectiveError as e:
            raise argparse.ArgumentError(self, _value_error(value, e)) from None
        items: List[object] = list(getattr(namespace, self.dest, None) or [])
        items += loaded if self.sourced else (s.directive for s in loaded)
        setattr(namespace, self.dest, items)


def click_type(*, verbs: Optional[VerbCollection] = None, lint: bool = False) -> click.ParamType:
    """A click parameter type for `-D`: each value becomes the list of its directives.
    With `multiple=True` the option gives a tuple of such lists, in order:

        @click.option("-D", "directives", type=quorvel.cli.click_type(lint=True), multiple=True)
        def main(directives):
            directives = [d for value in directives for d in value]

    click is imported here, on first use; the package does not need it otherwise.
    """
    allowed = Verbs(verbs, lint=lint)
    return _click_class()(allowed)


@functools.lru_cache(maxsize=None)
def _click_class() -> Callable[[Verbs], click.ParamType]:
    import click

    class DirectiveType(click.ParamType):
        name = "directive"

        def __init__(self, verbs: Verbs) -> None:
            self.verbs = verbs

        def convert(self, value: Any, param: Optional[click.Parameter], ctx: Optional[click.Context]) -> Any:
            if isinstance(value, list):  # already converted (a default, say)
                return value
            try:
                return [s.directive for s in load(str(value), verbs=self.verbs)]
            except DirectiveError as e:
                self.fail(_value_error(str(value), e), param, ctx)

    return DirectiveType
