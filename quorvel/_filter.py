"""`python -m quorvel filter` and `baseline`, and `explain --finding N`: directives
over the findings that linters write (see docs/filter.md)."""
from __future__ import annotations

import argparse
import datetime
import gc
import os
import shutil
import stat
import sys
import tempfile
from typing import IO, Any, Callable, Dict, Iterator, List, Optional, Tuple

from _quorvel import DirectiveError, expand

from . import _formats as fm
from ._escape import _kind_text, escape
from ._policy import Policy
from ._read import ReadError, shown
from ._text import WHITE_SPACE, lint_verb, quoted
from .cli import DirectiveAction, Sourced, read_source

COMMANDS = ("filter", "baseline")
PROG = "python -m quorvel"
LEVELS = ("error", "warning", "info")

FILTER_EXAMPLE = """\
Each finding is a target: names = its code and symbolic name (E501, line-too-long),
qualifier = the tool (ruff, pylint, mypy, flake8, or SARIF's driver name in lowercase),
scope = its file, relative to the working directory. A dropped finding leaves the
output (SARIF keeps it, with a suppression); a moved severity changes its level.

example:
  $ ruff check --output-format sarif . > ruff.sarif
  $ python3 -m quorvel baseline ruff.sarif -o baseline.txt
  $ python3 -m quorvel filter -D @baseline.txt --report-unused ruff.sarif -o new.sarif
"""

BASELINE_EXAMPLE = """\
One line suppress:<TOOL>CODE@PATH=baseline per distinct tool, code and file, sorted;
filtering the same findings with -D @FILE then leaves none.

example:
  $ flake8 . | python3 -m quorvel baseline --format lines -o baseline.txt
"""


def register(commands: Any) -> None:
    """Adds `filter` and `baseline` to argparse's subparsers object `commands`, and
    `--finding N` to its `explain`; each sets `run`, the function that runs it."""
    f = commands.add_parser("filter", help="apply directives to a linter's findings",
                            description="Apply directives to the findings a linter wrote and write the "
                            "findings that remain, in the same format.", epilog=FILTER_EXAMPLE,
                            formatter_class=argparse.RawDescriptionHelpFormatter)
    f.add_argument("-D", dest="directives", action=FileDirectives, lint=True, sourced=True)
    _input_arguments(f)
    f.add_argument("--fail-on", choices=LEVELS + ("never",), default="error",
                   help="exit 1 when a finding at or above this severity remains (default: error)")
    f.add_argument("--report-unused", action="store_true",
                   help="name each directive that changed nothing, on standard error; exit 1 if any")
    f.add_argument("--explain", action="store_true",
                   help="print on standard error what the directives did to each finding they matched")
    f.add_argument("-o", dest="output", metavar="OUT", help="write here, whole or not at all (default: stdout)")
    b = commands.add_parser("baseline", help="write a directive file that suppresses every current finding",
                            description="Write a directive file that suppresses every finding of the input.",
                            epilog=BASELINE_EXAMPLE, formatter_class=argparse.RawDescriptionHelpFormatter)
    _input_arguments(b)
    b.add_argument("-o", dest="output", metavar="OUT", help="write here, whole or not at all (default: stdout)")
    f.set_defaults(run=run)
    b.set_defaults(run=run)
    explain = commands.choices.get("explain")
    if explain is not None:
        extend_explain(explain)


class FileDirectives(DirectiveAction):
    """`-D` as DirectiveAction reads it, with a directive file (a baseline of 100,000
    lines, say) parsed by `expand` in one call; any fault is reported by DirectiveAction."""

    def __call__(self, parser: argparse.ArgumentParser, namespace: argparse.Namespace, values: Any,
                 option_string: Optional[str] = None) -> None:
        value = str(values)
        if value.startswith("@") and value != "@-":
            try:
                text = read_source(value[1:])
                found = expand(value)
            except DirectiveError:
                found = None
            if found is not None:
                origins = [f"{value[1:]}:{number}" for number in _directive_numbers(text)]
                if len(origins) == len(found) and all(self.verbs.refusal(a) is None for a in {d.action for d in found}):
                    items = list(getattr(namespace, self.dest, None) or [])
                    items += (Sourced(d, o) for d, o in zip(found, origins))
                    setattr(namespace, self.dest, items)
                    return
        super().__call__(parser, namespace, values, option_string)


def _directive_numbers(text: str) -> Iterator[int]:
    """The numbers of the lines of a directive file that hold a directive (not blank,
    not a comment), as `expand` numbers them."""
    if text.startswith("\ufeff"):
        text = text[1:]
    for number, line in enumerate(text.split("\n"), 1):
        body = line.strip(WHITE_SPACE)
        if body and not body.startswith("#"):
            yield number


def _input_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--format", choices=fm.FORMATS, help="the input's format (default: told from the input)")
    parser.add_argument("--tool", metavar="NAME", help="the qualifier of every finding (default: the tool the "
                        "input names, flake8 for plain lines)")
    parser.add_argument("input", nargs="?", default="-", metavar="INPUT",
                        help="the findings: a file, or - for standard input (default)")


def extend_explain(parser: argparse.ArgumentParser) -> None:
    """Adds `--finding N` and its input to the `explain` subcommand: with it, `--name`
    is not needed and the finding is explained; without, explain runs as before."""
    for action in parser._actions:
        if "--name" in action.option_strings:
            action.required = False
    before = parser.get_default("run")

    def dispatch(args: argparse.Namespace) -> Optional[int]:
        if args.finding is not None:
            return run(args)
        if not args.name:
            parser.error("the following arguments are required: --name (or --finding)")
        return before(args) if before is not None else None

    parser.set_defaults(run=dispatch)
    parser.add_argument("--finding", type=int, metavar="N",
                        help="explain the Nth finding (from 1) of INPUT instead of --name")
    parser.add_argument("--format", choices=fm.FORMATS, help="INPUT's format (with --finding)")
    parser.add_argument("--tool", metavar="NAME", help="the qualifier of every finding (with --finding)")
    parser.add_argument("input", nargs="?", default="-", metavar="INPUT",
                        help="with --finding: the findings, a file or - (default)")


def run(args: argparse.Namespace) -> int:
    """Runs `filter` or `baseline`, or `explain --finding`: the exit status."""
    command = {"filter": run_filter, "baseline": run_baseline}.get(args.command, explain_finding)
    # The findings make no reference cycles; collecting while millions of them are
    # built costs a third of the run.
    enabled = gc.isenabled()
    gc.disable()
    try:
        return guarded(lambda: command(args))
    finally:
        if enabled:
            gc.enable()


def guarded(body: Callable[[], int]) -> int:
    """`body()`, with bad input (2, the message on standard error), Ctrl-C (130) and a
    closed output pipe (141) ending the run without a traceback."""
    try:
        return body()
    except (ReadError, DirectiveError) as e:
        print(f"{PROG}: {e}", file=sys.stderr)
        return 2
    except KeyboardInterrupt:
        return 130
    except BrokenPipeError:
        try:
            fd = os.open(os.devnull, os.O_WRONLY)
            os.dup2(fd, sys.stdout.fileno())
        except (OSError, ValueError):
            pass
        return 141


class Output:
    """Text written to OUT or standard output only when the run succeeds: a temporary
    file beside OUT renamed over it, or a spooled copy for standard output and for an
    OUT that is no regular file (a device such as /dev/null, or a FIFO: renaming over
    it would replace it). A symbolic link is followed."""

    def __init__(self, path: Optional[str]) -> None:
        self.path = None if path == "-" else path
        self.name = path  # as given, for messages
        self.temp = ""
        self.file: IO[str]
        self.special = False
        if self.path is not None:
            self.path = os.path.realpath(self.path)
            try:
                self.special = not stat.S_ISREG(os.stat(self.path).st_mode)
            except OSError:
                pass  # a new file
        if self.path is None or self.special:
            self.file = tempfile.SpooledTemporaryFile(max_size=16 << 20, mode="w+", encoding="utf-8")
        else:
            folder = os.path.dirname(os.path.abspath(self.path))
            try:
                fd, self.temp = tempfile.mkstemp(dir=folder, prefix=".quorvel-", suffix=".tmp")
            except OSError as e:
                raise ReadError(f"{self.name}: cannot write: {e.strerror}") from None
            self.file = os.fdopen(fd, "w", encoding="utf-8")

    def __enter__(self) -> IO[str]:
        return self.file

    def __exit__(self, kind: Any, value: Any, tb: Any) -> None:
        path = self.path
        if kind is not None:
            self.file.close()
            if self.temp:
                os.unlink(self.temp)
            return
        if self.special and path is not None:
            self.file.seek(0)
            try:
                with open(path, "w", encoding="utf-8") as out:
                    shutil.copyfileobj(self.file, out, 1 << 20)
            except OSError as e:
                raise ReadError(f"{self.name}: cannot write: {e.strerror}") from None
            finally:
                self.file.close()
            return
        if path is None:
            # UTF-8 whatever the locale says, as the -o file is written.
            self.file.seek(0)
            sys.stdout.flush()
            raw = getattr(sys.stdout, "buffer", None)
            while True:
                chunk = self.file.read(1 << 20)
                if not chunk:
                    break
                if raw is not None:
                    raw.write(chunk.encode("utf-8"))
                else:
                    sys.stdout.write(chunk)
            (raw or sys.stdout).flush()
            self.file.close()
            return
        try:
            self.file.close()
            try:
                mode = os.stat(path).st_mode & 0o7777
            except OSError:
                mode = 0o666 & ~_umask()
            os.chmod(self.temp, mode)
            os.replace(self.temp, path)
        except OSError as e:
            os.unlink(self.temp)
            raise ReadError(f"{self.name}: cannot write: {e.strerror}") from None


def _umask() -> int:
    mask = os.umask(0)
    os.umask(mask)
    return mask


def _suppressions(policy: Policy, hits: List[int]) -> List[Dict[str, Any]]:
    """SARIF suppression objects for the suppressing directives among `hits`."""
    out = []
    for i in hits:
        d = policy.directives[i]
        if lint_verb(d.action) == "suppress":
            entry: Dict[str, Any] = {"kind": "external"}
            if d.note is not None:
                entry["justification"] = d.note
            origin = policy.origins[i]
            entry["properties"] = {"quorvel": {"directive": str(d), **({"origin": origin} if origin else {})}}
            out.append(entry)
    return out


def outcomes(policy: Policy, reader: fm.Reader) -> Iterator[Tuple[fm.Finding, fm.Outcome]]:
    """Each finding of `reader` with what the directives of `policy` did to it."""
    sarif = isinstance(reader, fm.Sarif)
    folded = policy.folded
    for finding in reader.findings():
        (severity, dropped, notes), hits = folded(finding.severity, finding.names, qualifier=finding.tool,
                                                  scopes=[finding.path])
        suppressions = _suppressions(policy, hits) if dropped and sarif else []
        yield finding, fm.Outcome(severity, dropped, notes, suppressions)


def run_filter(args: argparse.Namespace) -> int:
    """`filter`: the findings that remain, written in their format; the exit status."""
    sourced: List[Sourced] = args.directives
    policy = Policy(sourced)
    reader = fm.open_input(args.input, args.format, fm.Scopes(), args.tool)
    fail_rank = fm.RANK.get(args.fail_on, -1)
    failing = 0
    explained: List[str] = []
    with Output(args.output) as out:
        results = []
        streamed = not isinstance(reader, (fm.Sarif, fm.RuffJson, fm.PylintJson2))
        write_one = fm.write_mypy_line if isinstance(reader, fm.MypyJson) else fm.write_line
        for finding, outcome in outcomes(policy, reader):
            if not outcome.dropped and fm.RANK[outcome.severity] <= fail_rank:
                failing += 1
            if args.explain and (outcome.dropped or outcome.notes or outcome.severity != finding.severity):
                explained.append(_explained(finding, outcome))
            if streamed:
                if not outcome.dropped:
                    write_one(out, finding, outcome)
            else:
                results.append((finding, outcome))
        if isinstance(reader, fm.Sarif):
            fm.write_sarif(reader, out, results)
        elif isinstance(reader, fm.RuffJson):
            fm.write_ruff(reader, out, results)
        elif isinstance(reader, fm.PylintJson2):
            fm.write_pylint(reader, out, results)
    for line in explained:
        print(line, file=sys.stderr)
    status = 1 if failing else 0
    if args.report_unused:
        for entry in policy.unused():
            print(f"{entry.origin}: unused directive: {entry.directive}", file=sys.stderr)
            status = 1
    return status


def _explained(finding: fm.Finding, outcome: fm.Outcome) -> str:
    """One line of `filter --explain`: what the directives did to a finding."""
    what = []
    if outcome.dropped:
        what.append("dropped")
    if outcome.severity != finding.severity:
        what.append(f"{finding.severity} -> {outcome.severity}")
    if outcome.notes:
        what.append("notes [" + ", ".join(quoted(n) for n in outcome.notes) + "]")
    return f"{finding.where()} ({finding.tool}): {'; '.join(what)}"


def baseline_lines(reader: fm.Reader) -> Tuple[List[str], int]:
    """The sorted directive lines that suppress every finding of `reader`, and the
    number of findings."""
    seen = set()
    count = 0
    for finding in reader.findings():
        count += 1
        seen.add((finding.path, finding.tool, finding.code))
    lines = [f"suppress:<{_kind_text(tool)}>{escape(code)}@{escape(path)}=baseline"
             for path, tool, code in sorted(seen)]
    return lines, count


def run_baseline(args: argparse.Namespace) -> int:
    """`baseline`: the directive file that suppresses every finding of the input."""
    reader = fm.open_input(args.input, args.format, fm.Scopes(), args.tool)
    lines, count = baseline_lines(reader)
    stamp = datetime.datetime.now(datetime.timezone.utc).replace(microsecond=0).isoformat()
    source = "standard input" if args.input == "-" else args.input
    with Output(args.output) as out:
        out.write(f"# Baseline made by `{PROG} baseline` from {source} ({reader.name}) at {stamp}:\n"
                  f"# {count} findings, one line per tool, code and file. Delete a line once its findings\n"
                  f"# are fixed; `{PROG} filter --report-unused` names the lines that suppress nothing.\n")
        for line in lines:
            out.write(line + "\n")
    return 0


def explain_finding(args: argparse.Namespace) -> int:
    """`explain --finding N`: what each directive did to the Nth finding of the input."""
    from .__main__ import run_explain

    sourced: List[Sourced] = args.directives or []
    if args.finding < 1:
        raise ReadError(f"--finding {args.finding}: findings are numbered from 1")
    reader = fm.open_input(args.input, args.format, fm.Scopes(), args.tool)
    for number, finding in enumerate(reader.findings(), 1):
        if number == args.finding:
            break
    else:
        raise ReadError(f"{shown(args.input)}: no finding {args.finding} (there are fewer)")
    print(f"finding {args.finding}: {finding.where()} ({finding.tool}, {finding.severity}): {finding.message}")
    listed = sourced
    if len(sourced) > 50:  # a baseline: only the directives that can matter
        hits = set(Policy(sourced).matching(finding.names, qualifier=finding.tool, scopes=[finding.path]))
        listed = [s for i, s in enumerate(sourced) if i in hits]
        print(f"({len(sourced) - len(listed)} of {len(sourced)} directives do not match and are not shown)")
    return run_explain(listed, finding.names, finding.tool, [finding.path], finding.severity)
