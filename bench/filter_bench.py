#!/usr/bin/env python3
"""`python -m quorvel filter` and `quorvel.Policy`: throughput and the cost of a
large baseline, beside the time linters take to write the same findings.

    PYTHONPATH=build:. python3 bench/filter_bench.py [--findings N] [--rounds R] [--no-tools]

1. findings/s of `filter` in one process on one core, SARIF in and out (read,
   fold, write to a file), through 200 directives: a baseline's literal lines,
   globs, and half of each;
2. one `Policy.lint_fold` through 100 and through 100,000 baseline directives
   (literal `suppress:<ruff>CODE@PATH`), and `filter` of 100,000 findings
   through each (the directive file's load included);
3. with ruff, flake8 and pylint beside this interpreter: their time on a copy of
   part of the standard library, against `filter` on their output.

Every figure is CPU time (of this process, or of the linter's), the best of R rounds
(default 3) for this process's.
"""
from __future__ import annotations

import argparse
import json
import os
import random
import resource
import shutil
import subprocess
import sys
import sysconfig
import tempfile
import time
from pathlib import Path

import quorvel
from quorvel.__main__ import main
from quorvel._filter import baseline_lines
from quorvel._formats import Scopes, open_input

CODES = [f"{p}{n:03d}" for p in ("E", "F", "W", "B", "C", "PL") for n in range(1, 60)]
PATHS = [f"src/pkg{p}/mod{m}.py" for p in range(40) for m in range(25)]


def sarif(n: int, rng: random.Random) -> dict:
    results = []
    for _ in range(n):
        results.append({
            "ruleId": rng.choice(CODES), "level": rng.choice(["error", "warning", "note"]),
            "message": {"text": "something is not quite right here"},
            "locations": [{"physicalLocation": {"artifactLocation": {"uri": rng.choice(PATHS)},
                                                "region": {"startLine": rng.randrange(1, 900),
                                                           "startColumn": rng.randrange(1, 80)}}}]})
    rules = [{"id": c, "name": f"rule-{c.lower()}"} for c in CODES]
    return {"version": "2.1.0", "runs": [{"tool": {"driver": {"name": "Ruff", "rules": rules}}, "results": results}]}


def literal_lines(n: int, rng: random.Random) -> list:
    """n distinct baseline lines; about one in four names a code and path the findings have."""
    lines = set()
    while len(lines) < n:
        if rng.random() < 0.25:
            code, path = rng.choice(CODES), rng.choice(PATHS)
        else:
            code, path = f"X{rng.randrange(10**6)}", f"old/f{rng.randrange(10**6)}.py"
        lines.add(f"suppress:<ruff>{code}@{path}=baseline")
    return sorted(lines)


def glob_lines(n: int, rng: random.Random) -> list:
    verbs = ["suppress", "escalate", "de-escalate", "note"]
    return [f"{rng.choice(verbs)}:{rng.choice(CODES)[:2]}*@src/pkg{rng.randrange(60)}/*=g{i}" for i in range(n)]


def best(rounds: int, fn) -> float:
    """The least CPU time of this process over `rounds` calls of `fn` (the machine is
    shared: CPU time moves less than wall time when others run)."""
    times = []
    for _ in range(rounds):
        start = time.process_time()
        fn()
        times.append(time.process_time() - start)
    return min(times)


def run_filter(args: list) -> int:
    """main(["filter", ...]) with its messages silenced."""
    err, sys.stderr = sys.stderr, open(os.devnull, "w")
    try:
        return main(["filter", "--fail-on", "never", *args])
    finally:
        sys.stderr.close()
        sys.stderr = err


def throughput(tmp: Path, n: int, rounds: int, rng: random.Random) -> None:
    data = tmp / "in.sarif"
    data.write_text(json.dumps(sarif(n, rng), indent=2))
    out = tmp / "out.sarif"
    print(f"1. filter, SARIF in and out, {n:,} findings ({data.stat().st_size >> 20} MiB), 200 directives")
    sets = {"200 baseline lines": literal_lines(200, rng), "200 globs": glob_lines(200, rng),
            "100 of each": literal_lines(100, rng) + glob_lines(100, rng), "no directive": []}
    for label, lines in sets.items():
        rules = tmp / "rules.txt"
        rules.write_text("\n".join(lines) + "\n")
        args = (["-D", f"@{rules}"] if lines else []) + [str(data), "-o", str(out)]
        seconds = best(rounds, lambda: run_filter(args))
        print(f"   {label:<20} {seconds:6.2f} s   {n / seconds:>9,.0f} findings/s")


def baseline_cost(tmp: Path, rounds: int, rng: random.Random) -> None:
    print("2. a baseline of 100 against 100,000 directives")
    targets = [([c, f"rule-{c.lower()}"], "ruff", [p]) for c, p in
               ((rng.choice(CODES), rng.choice(PATHS)) for _ in range(20000))]
    data = tmp / "in100k.sarif"
    data.write_text(json.dumps(sarif(100000, rng)))
    per = {}
    for size in (100, 100000):
        lines = literal_lines(size, rng)
        policy = quorvel.Policy([quorvel.parse(line) for line in lines])

        def folds():
            fold = policy.lint_fold
            for names, tool, scopes in targets:
                fold("warning", names, qualifier=tool, scopes=scopes)
        fold_s = best(rounds, folds) / len(targets)
        rules = tmp / f"base{size}.txt"
        rules.write_text("\n".join(lines) + "\n")
        whole = best(rounds, lambda: run_filter(["-D", f"@{rules}", str(data), "-o", str(tmp / "o.sarif")]))
        per[size] = (fold_s, whole)
        print(f"   {size:>7,} directives: one fold {fold_s * 1e6:5.2f} us; filter of 100,000 findings {whole:5.2f} s")
    fold, whole = per[100000][0] / per[100][0], per[100000][1] / per[100][1]
    print(f"   ratio 100,000 / 100: fold {fold:.2f}x, filter {whole:.2f}x")


TOOLS = {
    "ruff": (["ruff", "check", "--isolated", "--no-cache", "--select", "E,F,W,B,UP,PL", "--output-format", "sarif"],
             "sarif"),
    "flake8": (["flake8", "--isolated"], "lines"),
    "pylint": (["pylint", "--output-format=json2", "--persistent=n", "--jobs=1"], "pylint-json2"),
}


def beside_tools(tmp: Path, rounds: int, rng: random.Random) -> None:
    bin_dir = Path(sys.executable).parent
    if not all((bin_dir / t).exists() for t in TOOLS):
        print("3. skipped: ruff, flake8 and pylint are not installed beside", sys.executable)
        return
    root = tmp / "stdlib"
    stdlib = Path(sysconfig.get_paths()["stdlib"])
    for package in ("json", "email", "http", "xml", "asyncio", "logging", "unittest"):
        shutil.copytree(stdlib / package, root / package, ignore=shutil.ignore_patterns("__pycache__", "test*"))
    print("3. the linters on a copy of json, email, http, xml, asyncio, logging and unittest, against filter "
          "on their output through 200 directives (100 baseline lines of that output, 100 globs)")
    for tool, (argv, fmt) in TOOLS.items():
        out = root.parent / f"{tool}.out"
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        done = subprocess.run([str(bin_dir / argv[0])] + argv[1:] + [p.name for p in root.iterdir()], cwd=root,
                              capture_output=True, timeout=1200)
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
        linted = after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime
        out.write_bytes(done.stdout)
        cwd = os.getcwd()
        os.chdir(root)  # the findings' paths are relative to it
        try:
            base, findings = baseline_lines(open_input(str(out), fmt, Scopes()))
            rules = tmp / f"{tool}.rules"
            rules.write_text("\n".join(base[:100] + glob_lines(100, rng)) + "\n")
            seconds = best(rounds, lambda: run_filter(["-D", f"@{rules}", "--format", fmt, str(out),
                                                       "-o", str(tmp / "o")]))
        finally:
            os.chdir(cwd)
        print(f"   {tool:<7} {findings:>6,} findings ({fmt}): linter {linted:6.2f} s; filter {seconds:5.2f} s "
              f"({findings / seconds:,.0f} findings/s, {100 * seconds / linted:.1f} % of the linter's time)")


def cli() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--findings", type=int, default=100000)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--no-tools", action="store_true", help="leave out part 3")
    parser.add_argument("--tools-only", action="store_true", help="only part 3")
    args = parser.parse_args()
    rng = random.Random(7)
    print(f"CPython {sys.version.split()[0]}, quorvel from {Path(quorvel.__file__).parent}")
    with tempfile.TemporaryDirectory() as tmp:
        if not args.tools_only:
            throughput(Path(tmp), args.findings, args.rounds, rng)
            baseline_cost(Path(tmp), args.rounds, rng)
        if not args.no_tools:
            beside_tools(Path(tmp), args.rounds, rng)


if __name__ == "__main__":
    cli()
