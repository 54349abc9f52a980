"""`python -m quorvel`: check directive files for mistakes, and explain a fold.

    python -m quorvel check [--verb VERB]... FILE...
    python -m quorvel explain -D VALUE... --name NAME [--scope PATH] [--qualifier KIND] [--severity LEVEL]
"""
from __future__ import annotations

import argparse
import sys
from typing import List, Optional

from _quorvel import DirectiveError

from . import _filter
from ._check import check_text
from ._explain import Trace, explain
from ._text import quoted
from .cli import DirectiveAction, Sourced, Verbs, read_source

CHECK_EXAMPLE = """\
Each finding is printed as FILE:LINE: MESSAGE; the exit status is 1 when there is any.
Without --verb, the verbs are the lint verbs in any spelling lint_fold reads.

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


def main(argv: Optional[List[str]] = None) -> int:
    parser = argparse.ArgumentParser(prog="python -m quorvel", description=__doc__.split("\n\n")[0])
    commands = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")
    check = commands.add_parser("check", help="report directives that can never apply or look like typos",
                                description="Report directives that parse but can never apply as written, "
                                "or that look like typos.", epilog=CHECK_EXAMPLE,
                                formatter_class=argparse.RawDescriptionHelpFormatter)
    check.add_argument("--verb", action="append", metavar="VERB",
                       help="a verb the tool takes, compared exactly (repeatable; default: the lint verbs)")
    check.add_argument("files", nargs="+", metavar="FILE", help="a directive file, or - for standard input")
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
    _filter.register(commands)
    args = parser.parse_args(argv)
    status: Optional[int] = args.run(args) if getattr(args, "run", None) else None  # filter, baseline, ...
    if status is not None:
        return status
    if args.command == "check":
        return run_check(args.files, Verbs(args.verb) if args.verb else Verbs(lint=True))
    try:
        return run_explain(args.directives, args.name, args.qualifier, args.scope, args.severity)
    except DirectiveError as e:
        why.error(str(e))


def run_check(files: List[str], verbs: Verbs) -> int:
    """Prints the findings of every file; 1 when there is any, else 0."""
    status = 0
    for path in files:
        name = "<stdin>" if path == "-" else path
        try:
            found = check_text(read_source(path), verbs)
        except DirectiveError as e:
            print(e)
            status = 1
            continue
        for number, message in found:
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
