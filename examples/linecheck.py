#!/usr/bin/env python3
"""linecheck: a small line checker that takes -D directives as real tools do.

    linecheck.py [-D VALUE]... FILE...

Checks: long-line (longer than max-line, 80 by default), trailing-whitespace,
tab, todo. Each finding has a default severity; the -D directives move it
with the lint verbs (escalate, de-escalate, suppress, note) and settings come
from set:KEY=VALUE (set:max-line=100). A -D value is one directive, @FILE for
a directive file, or @- for standard input.

Suppressed findings are listed as such, with their notes. Exit status: 0
when no finding is an error, 1 when one is, 2 when a -D value is bad (the
usage, then the value and what is wrong with it, once).
"""
import argparse
import os
import sys

import quorvel
from quorvel.cli import DirectiveAction

DEFAULT = {"long-line": "warning", "trailing-whitespace": "warning", "tab": "error", "todo": "info"}
FILE_TYPES = {".py": "py", ".md": "md", ".txt": "txt", ".c": "c", ".h": "c"}


def file_type(path):
    if os.path.basename(path) == "Makefile":
        return "make"
    return FILE_TYPES.get(os.path.splitext(path)[1], "text")


def findings(path, max_line):
    with open(path, encoding="utf-8", errors="replace") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if len(line) > max_line:
                yield number, "long-line", f"{len(line)} > {max_line} characters"
            if line != line.rstrip():
                yield number, "trailing-whitespace", "trailing white space"
            if "\t" in line:
                yield number, "tab", "hard tab"
            if "TODO" in line:
                yield number, "todo", "TODO marker"


def main(argv=None):
    parser = argparse.ArgumentParser(prog="linecheck", description=__doc__.split("\n\n")[0])
    # Each -D value is loaded as it is parsed; a bad one ends with the usage and one message that names
    # the value (and the line of a file). lint=True takes the lint verbs in every spelling lint_fold reads.
    parser.add_argument("-D", dest="directives", action=DirectiveAction, lint=True)
    parser.add_argument("files", nargs="+", metavar="FILE")
    args = parser.parse_args(argv)
    directives = args.directives

    settings = dict(quorvel.lint_settings(directives))
    try:
        max_line = int(settings.get("max-line", "80"))
    except ValueError:
        print(f"linecheck: error: set:max-line needs a number, got {settings['max-line']!r}", file=sys.stderr)
        return 2

    errors = shown = dropped_count = 0
    for path in args.files:
        kind = file_type(path)
        for number, check, message in findings(path, max_line):
            severity, dropped, notes = quorvel.lint_fold(
                DEFAULT[check], directives, [check], qualifier=kind, scopes=[path])
            extra = f"  ({'; '.join(notes)})" if notes else ""
            if dropped:
                dropped_count += 1
                print(f"{path}:{number}: suppressed: {check}: {message}{extra}")
                continue
            shown += 1
            errors += severity == "error"
            print(f"{path}:{number}: {severity}: {check}: {message}{extra}")
    print(f"linecheck: {shown} finding(s), {errors} error(s), {dropped_count} suppressed")
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
