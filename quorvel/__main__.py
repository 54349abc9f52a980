"""`python -m quorvel`: check directive files for mistakes, and explain a fold.

    python -m quorvel check [--verb VERB]... [--kinds KIND,...] FILE...
    python -m quorvel explain -D VALUE... --name NAME [--scope PATH] [--qualifier KIND] [--severity LEVEL]
    python -m quorvel --version

Exit status: 0, 1 when check finds something, 2 for a usage error, a bad directive or
a source that cannot be read (one line "python -m quorvel: MESSAGE" on standard error),
130 after Ctrl-C and 141 when the output pipe was closed.
"""
from __future__ import annotations

import argparse
import os
import sys
from typing import List, NoReturn, Optional

from _quorvel import DirectiveError

from . import __version__, _filter
from ._check import check_lines
from ._read import iter_lines, shown
from ._explain import Trace, explain
from ._text import quoted
from .cli import DirectiveAction, Sourced, Verbs

CHECK_EXAMPLE = """\
Each finding is printed as FILE:LINE: MESSAGE; the exit status is 1 when there is any.
Without --verb, the verbs are the lint verbs in any spelling lint_fold reads. With
--kinds (the tool's qualifiers, say py,make), a KIND outside them is reported.

example:
  $ printf 'supress:long-line\\nsuppress:todo@\\nsuppress:<py todo\\n' > rules.txt
  $ python3 -m quorvel check rules.txt
  rules.txt:1: unknown action "supress"; did you mean "suppress"?
  rules.txt:2: empty PATH after "@": it matches only an empty scope (write "@{}" if that is meant)
  rules.txt:3: NAME "<py todo" starts with "<" but has no ">": it is no kind filter (write "\\<" for a literal "<")
"""

EXPLAIN_EXAMPLE = """\
Shows, for each directive in order, whether it applied to the target and what it did
(or which part failed), then the result of lint_fold.

example:
  $ python3 -m quorvel explain -D 'escalate:long-*=promoted' -D 'suppress:long-line@tests/*' --name long-line
  <inline>  escalate:long-*=promoted
            matched: 1 step toward error; note "promoted"
  <inline>  suppress:long-line@tests/*
            no match: PATH "tests/*", and no scope is given
  long-line, starting at warning: error, not dropped; notes ["promoted"]
"""


PROG = "python -m quorvel"


class UsageError(Exception):
    """A command line that the parser refuses: the usage of the (sub)command and the message."""

    def __init__(self, usage: str, message: str) -> None:
        super().__init__(message)
        self.usage = usage


class Parser(argparse.ArgumentParser):
    """The parser of the command and of each subcommand: a usage error is raised, for main()
    to report, instead of ending the process."""

    def error(self, message: str) -> NoReturn:
        raise UsageError(self.format_usage(), message)


def build_parser() -> argparse.ArgumentParser:
    """The parser of `python -m quorvel` with every subcommand. Each subcommand sets
    `run`, the function that runs it: `parser.set_defaults(run=FUNCTION)`, where
    FUNCTION(args) returns the exit status."""
    parser = Parser(prog=PROG, description=__doc__.split("\n\n")[0])
    parser.add_argument("--version", action="version", version=f"quorvel {__version__}")
    commands = parser.add_subparsers(dest="command", required=True, metavar="COMMAND", parser_class=Parser)
    check = commands.add_parser("check", help="report directives that can never apply or look like typos",
                                description="Report directives that parse but can never apply as written, "
                                "or that look like typos.", epilog=CHECK_EXAMPLE,
                                formatter_class=argparse.RawDescriptionHelpFormatter)
    check.add_argument("--verb", action="append", metavar="VERB",
                       help="a verb the tool takes, compared exactly (repeatable; default: the lint verbs)")
    check.add_argument("--kinds", type=_names, metavar="KIND,...",
                       help="the qualifiers the tool gives, compared exactly: a KIND outside them is reported")
    check.add_argument("files", nargs="+", metavar="FILE", help="a directive file, or - for standard input")
    check.set_defaults(run=lambda args: run_check(args.files, Verbs(args.verb) if args.verb else Verbs(lint=True),
                                                  args.kinds))
    why = commands.add_parser("explain", help="show how directives fold onto one target",
                              description="Fold directives onto one target with lint_fold and show the part "
                              "each played.", epilog=EXPLAIN_EXAMPLE,
                              formatter_class=argparse.RawDescriptionHelpFormatter)
    why.add_argument("-D", dest="directives", action=DirectiveAction, sourced=True, required=True)
    why.add_argument("--name", action="append", required=True, help="a name of the target (repeatable)")
    why.add_argument("--scope", action="append", default=[], help="a location of the target (repeatable)")
    why.add_argument("--qualifier", metavar="KIND", help="the target's kind")
    why.add_argument("--severity", default="warning", metavar="LEVEL",
                     help="the current severity: error, warning (default) or info")
    why.set_defaults(run=lambda args: run_explain(args.directives, args.name, args.qualifier, args.scope,
                                                  args.severity))
    # Subcommands of other modules of the package: each module's register(commands) adds its
    # parsers with commands.add_parser(...) and sets their `run` (see above).
    _filter.register(commands)
    return parser


def _names(value: str) -> List[str]:
    """A comma-separated list of names, without blanks around them."""
    return [name.strip() for name in value.split(",") if name.strip()]


def main(argv: Optional[List[str]] = None) -> int:
    """Runs one command and gives its exit status. The one place where failures become
    messages: a usage error, an unreadable source or a bad directive is reported as
    "python -m quorvel: MESSAGE" on standard error with status 2; Ctrl-C ends with 130 and
    a closed output pipe with 141 (the statuses of a process ended by SIGINT and SIGPIPE),
    both quietly."""
    try:
        args = build_parser().parse_args(argv)
        status: int = args.run(args)
        sys.stdout.flush()  # a closed pipe shows here, not in the interpreter's flush at exit
        return status
    except UsageError as e:
        sys.stderr.write(e.usage)
        return _fail(str(e))
    except DirectiveError as e:  # ReadError included
        return _fail(str(e))
    except KeyboardInterrupt:
        return 130
    except BrokenPipeError:
        _discard_stdout()
        return 141


def _fail(message: str) -> int:
    sys.stderr.write(f"{PROG}: {message}\n")
    return 2


def _discard_stdout() -> None:
    """Points standard output at the null device, so that what is left in its buffer is
    dropped when the interpreter flushes it at exit."""
    try:
        null = os.open(os.devnull, os.O_WRONLY)
        os.dup2(null, sys.stdout.fileno())
        os.close(null)
    except (OSError, ValueError, AttributeError):  # no descriptor behind sys.stdout
        pass


def run_check(files: List[str], verbs: Verbs, kinds: Optional[List[str]]) -> int:
    """Prints the findings of every file as they are found; 1 when there is any, else 0."""
    status = 0
    for path in files:
        name = shown(path)
        for number, message in check_lines(iter_lines(path), verbs, kinds):
            print(f"{name}:{number}: {message}")
            status = 1
    return status


def run_explain(sourced: List[Sourced], names: List[str], qualifier: Optional[str], scopes: List[str],
                severity: str) -> int:
    """Prints the trace of one lint fold and its result."""
    result = explain(severity, [s.directive for s in sourced], names, qualifier=qualifier, scopes=scopes)
    width = max([len(s.origin) for s in sourced] + [0]) + 2
    for (_, origin), trace in zip(sourced, result.trace):
        print(f"{origin:<{width}}{trace.directive}")
        print(" " * width + describe(trace, names, qualifier, scopes))
    target = ", ".join(names) + (f" ({qualifier})" if qualifier else "") + (f" in {', '.join(scopes)}" if scopes else "")
    notes = ", ".join(quoted(n) for n in result.notes)
    print(f"{target}, starting at {severity}: {result.level}, {'dropped' if result.dropped else 'not dropped'}; "
          f"notes [{notes}]")
    return 0


def describe(trace: Trace, names: List[str], qualifier: Optional[str], scopes: List[str]) -> str:
    """One line on what a directive did in a lint fold."""
    d = trace.directive
    if trace.skipped:
        return f"left out: {trace.skipped}"
    if trace.failed == "kind":
        given = f"not {quoted(qualifier)}" if qualifier is not None else "and none is given"
        return f'no match: KIND "{d.kind}" needs that qualifier, {given}'
    if trace.failed == "name":
        return f'no match: NAME "{d.name}" matches none of the names'
    if trace.failed == "path":
        given = "matches none of the scopes" if scopes else ", and no scope is given"
        return f'no match: PATH "{d.path}"' + (" " if scopes else "") + given
    effects = []
    if trace.rungs:
        effects.append(f"{abs(trace.rungs)} step toward {'info' if trace.rungs > 0 else 'error'}")
    if trace.drop:
        effects.append("drops the target")
    if trace.note is not None:
        effects.append(f"note {quoted(trace.note)}")
    return "matched: " + ("; ".join(effects) or "no effect")


if __name__ == "__main__":
    sys.exit(main())
