#!/usr/bin/env python3
"""Benchmarks of _quorvel against what a user would pick instead.

Every figure is a ratio of two timings taken in this one run, on this one
machine. Run through bench/run.sh, which builds the module, the floor module
and the core micro-benchmarks first.

    PYTHONPATH=build:build/bench python3 bench/run.py [--quick] [--boundary]

--boundary runs only the table of the boundary and the folds (see README);
--against PATH/_quorvel.abi3.so adds, to that table, the same figures for
another build of the module loaded into this same process (before/after).
"""
import fnmatch
import os
import random
import sys
import tempfile
import time
import timeit

import _benchfloor
import _quorvel as q

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import baseline as py  # noqa: E402

QUICK = "--quick" in sys.argv
BOUNDARY_ONLY = "--boundary" in sys.argv
AGAINST = sys.argv[sys.argv.index("--against") + 1] if "--against" in sys.argv else None
REPEAT = 3 if QUICK else 7


def best(fn, number):
    """Seconds per call: the best of REPEAT runs of `number` calls."""
    return min(timeit.Timer(fn).repeat(repeat=REPEAT, number=number)) / number


def best_of(fns, number):
    """Seconds per call of each function, measured in interleaved rounds so
    that a noisy neighbour slows all of them alike; the best round counts."""
    timers = [timeit.Timer(f) for f in fns]
    out = [float("inf")] * len(fns)
    for _ in range(REPEAT):
        for i, t in enumerate(timers):
            out[i] = min(out[i], t.timeit(number) / number)
    return out


def ns(seconds):
    return f"{seconds * 1e9:8.1f} ns"


def rss():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


# --- glob_match ------------------------------------------------------------------

GLOB_CASES = [
    ("*.py", "src/pkg/module.py"), ("*.py", "README.md"), ("test_*", "test_parser"),
    ("src/**/*.rs", "src/core/glob/pattern.rs"), ("[!_]*", "public_name"), ("[!_]*", "_private"),
    ("*.[ch]", "main.c"), ("docs/*.md", "docs/guide.md"), ("?ain.c", "main.c"), ("*_test.go", "parser_test.go"),
]
BRACE_CASES = [("{src,lib}/*.{c,h}", "lib/x.h"), ("{src,lib}/*.{c,h}", "bin/x.h")]


def bench_glob():
    print("== glob_match, per call (ratios: fnmatch.fnmatchcase warm / glob_match; glob_match / floor)")
    number = 20_000 if QUICK else 200_000
    worst_speedup, worst_floor = None, 0.0
    for pattern, text in GLOB_CASES + BRACE_CASES:
        ours = q.glob_match(pattern, text)
        fns = [lambda: _benchfloor.glob_match(pattern, text), lambda: q.glob_match(pattern, text)]
        plain = (pattern, text) in GLOB_CASES
        if plain:
            assert fnmatch.fnmatchcase(text, pattern) == ours, (pattern, text)
            fnmatch.fnmatchcase(text, pattern)  # warm fnmatch's cache
            fns.append(lambda: fnmatch.fnmatchcase(text, pattern))
        floor, t_ours, *rest = best_of(fns, number)
        line = f"  {pattern!r:22} {text!r:28} quorvel {ns(t_ours)}  floor {ns(floor)}  x{t_ours / floor:4.2f} floor"
        worst_floor = max(worst_floor, t_ours / floor)
        if plain:
            t_fn = rest[0]
            speedup = t_fn / t_ours
            worst_speedup = speedup if worst_speedup is None else min(worst_speedup, speedup)
            line += f"  fnmatch {ns(t_fn)}  {speedup:5.2f}x faster"
        print(line)
    print(f"  worst: {worst_speedup:.2f}x faster than fnmatchcase (target >= 2); "
          f"at most {worst_floor:.2f}x the floor (target <= 3 for short patterns)")
    return worst_speedup, worst_floor


# --- matching and the folds --------------------------------------------------------

CHECKS = ["long-line", "unused-import", "missing-docstring", "trailing-whitespace", "bare-except", "too-many-args",
          "shadowed-name", "todo-marker", "line-too-long", "wildcard-import"]
KINDS = ["py", "rs", "c", "md"]
DIRS = ["src", "tests", "lib", "docs", "tools"]


def make_specs(n, seed=7):
    rng = random.Random(seed)
    verbs = ["suppress", "escalate", "de-escalate", "note", "advance", "hold"]
    specs = []
    for i in range(n):
        verb = rng.choice(verbs)
        check = rng.choice(CHECKS)
        name = rng.choice([check, check.split("-")[0] + "-*", "*", f"{check[:4]}*"])
        kind = rng.choice(["", "", f"<{rng.choice(KINDS)}>"])
        path = rng.choice(["", "", f"@{rng.choice(DIRS)}/**", f"@{rng.choice(DIRS)}/*.{rng.choice(KINDS)}"])
        note = rng.choice(["", f"=reason {i}"])
        specs.append(f"{verb}:{kind}{name}{path}{note}")
    return specs


TARGET = dict(names=["long-line"], qualifier="py", scopes=["src/pkg/module.py"])


def bench_folds():
    print("== Directive.matches, lint_fold and Ladder.fold (ratio: pure-Python re baseline / quorvel)")
    results = {}
    ladder, py_ladder = q.Ladder(["draft", "review", "final"]), py.Ladder(["draft", "review", "final"])
    steps, drop = {"advance": 1, "escalate": -1}, {"hold", "suppress"}
    for n in (10, 100, 1000):
        specs = make_specs(n)
        ours, theirs = [q.parse(s) for s in specs], [py.parse(s) for s in specs]
        number = max(200, (20_000 if QUICK else 100_000) // n)
        kw = TARGET

        assert [d.matches(**kw) for d in ours] == [d.matches(**kw) for d in theirs]
        t_ours, t_py = best_of([lambda: [d.matches(kw["names"], qualifier="py", scopes=kw["scopes"]) for d in ours],
                                lambda: [d.matches(kw["names"], "py", kw["scopes"]) for d in theirs]], number)
        print(f"  matches      x{n:<5} quorvel {t_ours * 1e6:9.1f} us  baseline {t_py * 1e6:9.1f} us  "
              f"{t_py / t_ours:6.1f}x")

        assert q.lint_fold("warning", ours, **kw) == py.lint_fold("warning", theirs, **kw)
        t_ours, t_py = best_of([lambda: q.lint_fold("warning", ours, **kw),
                                lambda: py.lint_fold("warning", theirs, **kw)], number)
        results[("lint_fold", n)] = t_py / t_ours
        print(f"  lint_fold    x{n:<5} quorvel {t_ours * 1e6:9.1f} us  baseline {t_py * 1e6:9.1f} us  "
              f"{t_py / t_ours:6.1f}x")

        assert ladder.fold("draft", ours, steps=steps, drop=drop, **kw) == py_ladder.fold(
            "draft", theirs, steps=steps, drop=drop, **kw)
        t_ours, t_py = best_of([lambda: ladder.fold("draft", ours, steps=steps, drop=drop, **kw),
                                lambda: py_ladder.fold("draft", theirs, steps=steps, drop=drop, **kw)], number)
        results[("Ladder.fold", n)] = t_py / t_ours
        print(f"  Ladder.fold  x{n:<5} quorvel {t_ours * 1e6:9.1f} us  baseline {t_py * 1e6:9.1f} us  "
              f"{t_py / t_ours:6.1f}x")
    print(f"  with 100 directives: lint_fold {results[('lint_fold', 100)]:.1f}x, "
          f"Ladder.fold {results[('Ladder.fold', 100)]:.1f}x (target >= 10)")
    return results


# --- expand ---------------------------------------------------------------------------


def bench_expand():
    print("== expand('@file') (ratio: pure-Python re baseline / quorvel)")
    sizes = (1_000, 10_000, 100_000) if QUICK else (1_000, 10_000, 100_000, 1_000_000)
    out = {}
    with tempfile.TemporaryDirectory() as tmp:
        base = make_specs(1000, seed=11)
        for n in sizes:
            path = os.path.join(tmp, f"rules{n}.txt")
            with open(path, "w") as f:
                f.write("# generated rules\n")
                for i in range(n):
                    f.write(base[i % len(base)].replace(":", f":x{i}", 1) + "\n")
            mb = os.path.getsize(path) / 1e6
            runs = 1 if n >= 1_000_000 else 3
            t_ours = min(timeit.Timer(lambda: q.expand("@" + path)).repeat(repeat=runs, number=1))
            t_py = min(timeit.Timer(lambda: py.expand("@" + path)).repeat(repeat=1 if n >= 100_000 else runs,
                                                                          number=1))
            out[n] = t_py / t_ours
            print(f"  {n:>9} lines {mb:7.1f} MB  quorvel {n / t_ours / 1e6:6.2f} M directives/s "
                  f"{mb / t_ours:7.1f} MB/s   baseline {n / t_py / 1e6:6.3f} M/s {mb / t_py:6.2f} MB/s   "
                  f"{t_py / t_ours:6.1f}x")
        path = os.path.join(tmp, "rules100000.txt")
        before = rss()
        kept = q.expand("@" + path)
        per = (rss() - before) / len(kept)
        del kept
        print(f"  resident memory per Directive object: {per:.0f} bytes (100000 directives)")
    if 100_000 in out:
        print(f"  10^5 lines: {out[100_000]:.1f}x faster than the baseline (target >= 30)")
    return out


# --- the boundary and the folds: one table, every figure a ratio of this run ----------

BOUNDARY_TARGET = dict(names=["long-line"], qualifier="py", scopes=["src/pkg/module.py", "tests/test_a.py"])


def read_and_split(path):
    """What a caller does at the least to get the lines of a file."""
    with open(path, encoding="utf-8") as f:
        return f.read().split("\n")


def bench_boundary():
    print("== the boundary and the folds")
    specs = make_specs(100)
    ours, theirs = [q.parse(s) for s in specs], [py.parse(s) for s in specs]
    kw = BOUNDARY_TARGET
    ladder, py_ladder = q.Ladder(["error", "warning", "info"]), py.Ladder(["error", "warning", "info"])
    steps, drop = {"de-escalate": 1, "escalate": -1, "advance": 1}, {"suppress", "hold"}
    assert q.lint_fold("warning", ours, **kw) == py.lint_fold("warning", theirs, **kw)
    assert ladder.fold("warning", ours, steps=steps, drop=drop, **kw) == py_ladder.fold(
        "warning", theirs, steps=steps, drop=drop, **kw)
    number = 2_000 if QUICK else 20_000
    t_lint, t_ladder, t_peer = best_of([lambda: q.lint_fold("warning", ours, **kw),
                                        lambda: ladder.fold("warning", ours, steps=steps, drop=drop, **kw),
                                        lambda: py.lint_fold("warning", theirs, **kw)], number)
    print(f"  lint_fold, 100 directives: {t_lint * 1e6:.2f} us ({t_lint * 1e7:.1f} ns per directive); "
          f"peer {t_peer * 1e6:.1f} us: {t_peer / t_lint:.1f}x faster (target >= 10)")
    print(f"  Ladder.fold, 100 directives: {t_ladder * 1e6:.2f} us; per directive / lint_fold per directive "
          f"{t_ladder / t_lint:.2f}x (target <= 1.5)")

    number = 50_000 if QUICK else 500_000
    worst = 0.0
    for pattern, text in (("*.py", "src/pkg/module.py"), ("test_*", "test_parser"), ("?ain.c", "main.c")):
        floor, t = best_of([lambda: _benchfloor.glob_match(pattern, text), lambda: q.glob_match(pattern, text)],
                           number)
        worst = max(worst, t / floor)
        print(f"  glob_match({pattern!r}, {text!r}): {t * 1e9:.1f} ns, floor {floor * 1e9:.1f} ns, "
              f"{t / floor:.2f}x the floor")
    print(f"  glob_match short call / floor: at most {worst:.2f}x (target <= 2.2, 3.10+)")

    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "rules.txt")
        base = make_specs(1000, seed=11)
        with open(path, "w") as f:
            for i in range(100_000):
                f.write(base[i % len(base)].replace(":", f":x{i}", 1) + "\n")
        size = os.path.getsize(path)
        runs = 2 if QUICK else 5
        t_split, t_expand = float("inf"), float("inf")
        for _ in range(runs):  # interleaved rounds, the best of each counts
            t_split = min(t_split, min(timeit.Timer(lambda: read_and_split(path)).repeat(repeat=1, number=1)))
            t_expand = min(t_expand, min(timeit.Timer(lambda: q.expand("@" + path)).repeat(repeat=1, number=1)))
        print(f"  expand('@file'), 10^5 lines of {size / 1e5:.0f} bytes: {t_expand * 1e3:.1f} ms; read + split "
              f"{t_split * 1e3:.1f} ms: {t_expand / t_split:.1f}x (target <= 2.5)")
        before = rss()
        kept = q.expand("@" + path)
        per = (rss() - before) / len(kept)
        del kept
        print(f"  bytes held per loaded Directive: {per:.0f} (target <= 300)")



def load_other_build(path):
    """Another build of the module, loaded beside the first one (each build
    has its own types, so the two never meet)."""
    import importlib.machinery
    import importlib.util
    loader = importlib.machinery.ExtensionFileLoader("_quorvel", path)
    spec = importlib.util.spec_from_file_location("_quorvel", path, loader=loader)
    module = importlib.util.module_from_spec(spec)
    loader.exec_module(module)
    return module


def bench_against(path):
    """Before/after: both builds timed in interleaved rounds of one run."""
    other = load_other_build(path)
    print(f"== this build (new) against {path} (old), same process")
    specs = make_specs(100)
    kw = BOUNDARY_TARGET
    steps, drop = {"de-escalate": 1, "escalate": -1, "advance": 1}, {"suppress", "hold"}
    fns = []
    for m in (other, q):
        ds, ladder = [m.parse(s) for s in specs], m.Ladder(["error", "warning", "info"])
        fns += [lambda m=m, ds=ds: m.lint_fold("warning", ds, **kw),
                lambda ds=ds, ladder=ladder: ladder.fold("warning", ds, steps=steps, drop=drop, **kw)]
    old_lint, old_ladder, new_lint, new_ladder = best_of(fns, 2_000 if QUICK else 20_000)
    print(f"  lint_fold: old {old_lint * 1e6:.2f} us, new {new_lint * 1e6:.2f} us, new/old {new_lint / old_lint:.2f}")
    print(f"  Ladder.fold: old {old_ladder * 1e6:.2f} us ({old_ladder / old_lint:.2f}x lint_fold), new "
          f"{new_ladder * 1e6:.2f} us ({new_ladder / new_lint:.2f}x lint_fold), new/old {new_ladder / old_ladder:.2f}")
    for pattern, text in (("*.py", "src/pkg/module.py"), ("test_*", "test_parser"), ("?ain.c", "main.c")):
        floor, t_old, t_new = best_of([lambda: _benchfloor.glob_match(pattern, text),
                                       lambda: other.glob_match(pattern, text),
                                       lambda: q.glob_match(pattern, text)], 50_000 if QUICK else 500_000)
        print(f"  glob_match({pattern!r}, {text!r}) / floor: old {t_old / floor:.2f}x, new {t_new / floor:.2f}x")


# --- matching cost against text length ----------------------------------------------


def bench_linear():
    print("== matching cost per byte of text (fixed pattern '*a*b*c*.rs')")
    d = q.parse("x:*a*b*c*.rs")
    for m in (100, 1_000, 10_000, 100_000, 1_000_000):
        text = "x" * m + "a_b_c_.rs"
        number = max(3, 2_000_000 // m)
        t = best(lambda: d.matches([text]), number)
        print(f"  {m:>9} bytes  {t * 1e6:10.2f} us  {t / m * 1e9:6.3f} ns/byte")
    worst = q.parse("x:*" + "a" * 1000 + "b")
    text = "a" * 100_000
    start = time.perf_counter()
    worst.matches([text])
    elapsed = time.perf_counter() - start
    print(f"  worst case measured: '*' + 'a'*1000 + 'b' against 'a'*100000 (about 10^8 steps): {elapsed:.3f} s")


def main():
    print(f"CPython {sys.version.split()[0]}, {'quick' if QUICK else 'full'} run")
    if BOUNDARY_ONLY:
        bench_boundary()
        if AGAINST:
            bench_against(AGAINST)
        return
    bench_glob()
    bench_folds()
    bench_expand()
    bench_boundary()
    bench_linear()


if __name__ == "__main__":
    main()
