#!/usr/bin/env python3
"""Benchmarks of _quorvel against what a user would write instead.

    scripts/build.sh && PYTHONPATH=build python3 bench/run.py [--quick] [SECTION ...]

Sections (all by default): folds, e2e, memory, expand, glob. Every figure is
a ratio of timings taken in this one run: the contenders of a comparison are
timed in interleaved rounds and the best round of each counts, so a noisy
neighbour slows both alike. The peer is bench/peer.py (see bench/README.md).
Memory is measured in fresh child processes, one per shape.
"""
import argparse
import fnmatch
import os
import random
import re
import subprocess
import sys
import sysconfig
import tempfile
import timeit

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import peer  # noqa: E402

SECTIONS = ("folds", "e2e", "memory", "expand", "glob")
OPTS = None  # the parsed command line
q = None  # the module under test, imported once the command line is read


def rounds():
    return 3 if OPTS.quick else 7


def best_of(fns, number, repeat=None):
    """Seconds per call of each function, in interleaved rounds; the best round counts."""
    timers = [timeit.Timer(f) for f in fns]
    out = [float("inf")] * len(fns)
    for _ in range(repeat or rounds()):
        for i, t in enumerate(timers):
            out[i] = min(out[i], t.timeit(number) / number)
    return out


def scaled(n):
    return max(1, n // 4) if OPTS.quick else n


# --- the corpus -----------------------------------------------------------------------

CHECKS = ["long-line", "unused-import", "missing-docstring", "trailing-whitespace", "bare-except", "too-many-args",
          "shadowed-name", "todo-marker", "line-too-long", "wildcard-import"]
KINDS = ["py", "rs", "c", "md"]
DIRS = ["src", "tests", "lib", "docs", "tools"]
VERBS = ["suppress", "escalate", "de-escalate", "note", "advance", "hold"]


def make_specs(n, seed=7, dirs=DIRS):
    """n directive strings: six verbs (two of them no lint verb), names, kinds, paths and notes at random."""
    rng = random.Random(seed)
    specs = []
    for i in range(n):
        verb = rng.choice(VERBS)
        check = rng.choice(CHECKS)
        name = rng.choice([check, check.split("-")[0] + "-*", "*", f"{check[:4]}*"])
        kind = rng.choice(["", "", f"<{rng.choice(KINDS)}>"])
        path = rng.choice(["", "", f"@{rng.choice(dirs)}/**", f"@{rng.choice(dirs)}/*.{rng.choice(KINDS)}"])
        note = rng.choice(["", f"=reason {i}"])
        specs.append(f"{verb}:{kind}{name}{path}{note}")
    return specs


TARGET = dict(names=["long-line"], qualifier="py", scopes=["src/pkg/module.py", "tests/test_a.py"])


def load_both(specs):
    """The module's directives and the peer's, checked to fold alike."""
    ours, theirs = [q.parse(s) for s in specs], [peer.parse(s) for s in specs]
    return ours, peer.lint_rules(theirs), theirs


# --- folds ----------------------------------------------------------------------------


SIZES = (1, 100, 10_000, 100_000)


def fold_number(n):
    return scaled(max(20, 400_000 // (n + 20)))


def bench_folds():
    print("== folds against the peer (one name, a qualifier, two scopes; make_specs directives)")
    kw = TARGET
    empty = []
    specs = make_specs(SIZES[-1])
    ours_all, _, theirs_all = load_both(specs)
    lint_ratio, ladder_ratio = {}, {}
    ladder, py_ladder = q.Ladder(["error", "warning", "info"]), peer.Ladder(["error", "warning", "info"])
    steps, drop = {"de-escalate": 1, "escalate": -1, "advance": 1}, {"suppress", "hold"}
    for n in SIZES:
        # The first n directives as loaded: objects made one after another.
        ours, theirs = ours_all[:n], theirs_all[:n]
        rules, lrules = peer.lint_rules(theirs), peer.ladder_rules(theirs)
        assert q.lint_fold("warning", ours, **kw) == peer.lint_fold("warning", rules, **kw)
        assert ladder.fold("warning", ours, steps=steps, drop=drop, **kw) == py_ladder.fold(
            "warning", lrules, steps=steps, drop=drop, **kw)
        t_ours, t_peer, t_lad, t_plad = best_of([
            lambda: q.lint_fold("warning", ours, **kw),
            lambda: peer.lint_fold("warning", rules, **kw),
            lambda: ladder.fold("warning", ours, steps=steps, drop=drop, **kw),
            lambda: py_ladder.fold("warning", lrules, steps=steps, drop=drop, **kw)], fold_number(n))
        lint_ratio[n], ladder_ratio[n] = t_peer / t_ours, t_plad / t_lad
        print(f"  {n:>7} directives: lint_fold {t_ours * 1e6:9.2f} us, peer {t_peer * 1e6:9.2f} us: "
              f"{lint_ratio[n]:5.1f}x; Ladder.fold {t_lad * 1e6:9.2f} us, peer {t_plad * 1e6:9.2f} us: "
              f"{ladder_ratio[n]:5.1f}x")

    # The cost per directive beyond the empty call as the list grows, timed
    # in rounds of its own (the peer's objects would evict ours between
    # calls): the first 100, 10,000 and 100,000 in load order, and the same
    # 100,000 objects shuffled, every directive a cache miss away from the last.
    shuffled = ours_all[:]
    random.Random(3).shuffle(shuffled)
    lists = {"100": ours_all[:100], "10,000": ours_all[:10_000], "100,000": ours_all,
             "100,000 shuffled": shuffled}
    times = best_of([lambda: q.lint_fold("warning", empty, **kw)] +
                    [(lambda d=d: q.lint_fold("warning", d, **kw)) for d in lists.values()],
                    scaled(max(5, 20_000 // len(ours_all))), repeat=None)
    # Short lists are timed over many more calls, in rounds of their own.
    t0, t100 = best_of([lambda: q.lint_fold("warning", empty, **kw),
                        lambda: q.lint_fold("warning", lists["100"], **kw)], scaled(20_000))
    per = {label: (t - times[0]) / len(d) for (label, d), t in zip(lists.items(), times[1:])}
    per["100"] = (t100 - t0) / 100
    print("  per directive beyond the empty call: " + ", ".join(
        f"{label} {per[label] * 1e9:.1f} ns ({per[label] / per['100']:.2f}x)" for label in lists))
    print(f"  | directives | {' | '.join(f'{n:,}' for n in SIZES)} |")
    print(f"  | `lint_fold`, times faster than the peer | {' | '.join(f'{lint_ratio[n]:.1f}x' for n in SIZES)} |")
    print(f"  | time per directive against 100 directives | - | 1 | {per['10,000'] / per['100']:.2f}x | "
          f"{per['100,000'] / per['100']:.2f}x; shuffled {per['100,000 shuffled'] / per['100']:.2f}x |")
    print(f"  | `Ladder.fold`, times faster than the peer | "
          f"{' | '.join(f'{ladder_ratio[n]:.1f}x' for n in SIZES)} |")
    print("  target: lint_fold >= 3x / 12x / 10x / 8x; per directive <= 1.3x at 10,000 and <= 2x at 100,000, "
          "shuffled <= 3x; Ladder.fold >= 10x at 10,000")
    if OPTS.instructions:
        print(f"  the call's own cost (one directive, one name): {call_instructions(q.__file__):.0f} instructions "
              "(callgrind, inclusive, per call; target <= 1,500)")
    if OPTS.against:
        bench_against(OPTS.against)


# One lint_fold call of one directive and one name, n times: the
# module's entry points are counted inclusively (--toggle-collect), and the
# difference of two counts is the cost of n calls.
CALL_CHILD = """
import sys, _quorvel as q
n = int(sys.argv[1])
d = [q.parse('suppress:long-line@src/*=why')]
names = ['long-line']
fold = q.lint_fold
for _ in range(n):
    fold('warning', d, names)
"""


def call_instructions(module_file):
    def count(n):
        with tempfile.TemporaryDirectory() as tmp:
            out = os.path.join(tmp, "callgrind.out")
            subprocess.run(["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}",
                            "--toggle-collect=*fast_entry*", "--toggle-collect=*tuple_entry*", sys.executable,
                            "-c", CALL_CHILD, str(n)], check=True, capture_output=True,
                           env=child_env(os.path.dirname(os.path.abspath(module_file))))
            with open(out) as f:
                for line in f:
                    if line.startswith(("summary:", "totals:")):
                        return int(line.split()[1])
        raise RuntimeError("no summary from callgrind")
    return (count(3_000) - count(1_000)) / 2_000


def load_other_build(path):
    """Another build of the module, loaded beside the first (each build has its own types)."""
    import importlib.machinery
    import importlib.util
    loader = importlib.machinery.ExtensionFileLoader("_quorvel", path)
    spec = importlib.util.spec_from_file_location("_quorvel", path, loader=loader)
    module = importlib.util.module_from_spec(spec)
    loader.exec_module(module)
    return module


def bench_against(path):
    other = load_other_build(path)
    print(f"== this build (new) against {path} (old), same process: new / old time")
    kw = TARGET
    specs = make_specs(SIZES[-1])
    old_all, new_all = [other.parse(s) for s in specs], [q.parse(s) for s in specs]
    for n in SIZES:
        old, new = old_all[:n], new_all[:n]
        t_old, t_new = best_of([lambda: other.lint_fold("warning", old, **kw),
                                lambda: q.lint_fold("warning", new, **kw)], fold_number(n))
        print(f"  lint_fold, {n:>7} directives: {t_new / t_old:.2f}")
    if OPTS.instructions:
        print(f"  the call's own cost, old build: {call_instructions(path):.0f} instructions")


# --- end to end ---------------------------------------------------------------------


def stdlib_corpus(n_rules=200, seed=5):
    """Fake diagnostics over the running interpreter's standard library, and rules aimed at it."""
    root = sysconfig.get_paths()["stdlib"]
    files = []
    for dirpath, dirnames, filenames in os.walk(root):
        dirnames[:] = sorted(d for d in dirnames if d not in ("site-packages", "__pycache__"))
        files += [os.path.relpath(os.path.join(dirpath, f), root) for f in sorted(filenames) if f.endswith(".py")]
    rng = random.Random(seed)
    diags = [(check, path) for path in files for check in rng.choices(CHECKS, k=rng.randint(0, 20))]
    tops = sorted({p.split(os.sep)[0] for p in files if os.sep in p})
    rules = make_specs(n_rules, seed=seed, dirs=tops)
    return diags, rules


def bench_e2e():
    diags, specs = stdlib_corpus()
    ours, rules, _ = load_both(specs)
    print(f"== end to end: lint_fold over {len(diags)} fake diagnostics of this interpreter's standard library, "
          f"{len(specs)} rules")

    def run_ours():
        fold = q.lint_fold
        return [fold("warning", ours, [c], qualifier="py", scopes=[p]) for c, p in diags]

    def run_peer():
        fold = peer.lint_fold
        return [fold("warning", rules, [c], qualifier="py", scopes=[p]) for c, p in diags]

    assert run_ours() == run_peer()
    t_ours, t_peer = best_of([run_ours, run_peer], 1, repeat=3 if OPTS.quick else 5)
    print(f"  quorvel {t_ours * 1e3:.1f} ms, peer {t_peer * 1e3:.1f} ms: {t_peer / t_ours:.1f}x")


# --- memory: fresh child processes ---------------------------------------------------

MEMORY_CHILD = """
import gc, os, sys
import _quorvel
def rss():
    with open('/proc/self/statm') as f:
        return int(f.read().split()[1]) * os.sysconf('SC_PAGE_SIZE')
_quorvel.parse('allow:warm-up@x=y')
gc.collect()
before = rss()
kept = _quorvel.expand('@' + sys.argv[1])
gc.collect()
print((rss() - before) / len(kept))
"""

SHAPES = [
    ("allow:foo", lambda i: "allow:foo"),
    ("NAME and PATH", lambda i: "suppress:unused-import@src/core/parse.py"),
    ("braces and classes", lambda i: "escalate:<py>unused-[a-z]*@src/{core,lib}/*.py=legacy"),
    ("a realistic mix", None),
]


def child_env(module_dir):
    env = dict(os.environ)
    if module_dir:
        env["PYTHONPATH"] = module_dir + os.pathsep + env.get("PYTHONPATH", "")
    return env


def bytes_per_directive(path, module_dir=None):
    out = subprocess.run([sys.executable, "-c", MEMORY_CHILD, path], env=child_env(module_dir),
                         capture_output=True, text=True, check=True)
    return float(out.stdout)


def bench_memory():
    n = 100_000
    print(f"== bytes held per loaded directive ({n} loaded by expand, each shape in a fresh process)")
    builds = [("this build", None)]
    if OPTS.against:
        builds.append(("old", os.path.dirname(os.path.abspath(OPTS.against))))
    mix = make_specs(n, seed=11)
    with tempfile.TemporaryDirectory() as tmp:
        for label, line in SHAPES:
            path = os.path.join(tmp, "rules.txt")
            with open(path, "w") as f:
                f.writelines((line(i) if line else mix[i]) + "\n" for i in range(n))
            figures = ", ".join(f"{b} {bytes_per_directive(path, d):.0f}" for b, d in builds)
            print(f"  {label:20} {figures}")
    print("  target <= 250 / 300 / 350 / 300")


# --- expand ---------------------------------------------------------------------------


def read_and_split(path):
    """What a caller does at the least to get the lines of a file."""
    with open(path, encoding="utf-8") as f:
        return f.read().split("\n")


def write_rules(path, n):
    """n distinct directive lines; a third of them with a class or a brace group in NAME."""
    base = make_specs(1000, seed=11)
    extra = {1: "[a-z]", 4: "{a,b}"}
    with open(path, "w") as f:
        f.writelines(base[i % len(base)].replace(":", f":x{i}{extra.get(i % 6, '')}", 1) + "\n" for i in range(n))


# The result is kept and the process ends without tearing the interpreter
# down, so that only loading is counted.
INSTR_CHILD = """
import os, sys, _quorvel
mode, path = sys.argv[1], sys.argv[2]
_quorvel.parse('allow:warm-up')
if mode == 'expand':
    kept = _quorvel.expand('@' + path)
elif mode == 'split':
    with open(path, encoding='utf-8') as f:
        kept = f.read().split('\\n')
os._exit(0)
"""


def instructions(mode, path, tmp):
    out = os.path.join(tmp, f"callgrind.{mode}")
    subprocess.run(["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}", sys.executable, "-c",
                    INSTR_CHILD, mode, path], check=True, capture_output=True)
    with open(out) as f:
        for line in f:
            if line.startswith("summary:") or line.startswith("totals:"):
                return int(line.split()[1])
    raise RuntimeError("no summary in " + out)


def bench_expand():
    n = 100_000
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "rules.txt")
        write_rules(path, n)
        assert len(q.expand("@" + path)) == n
        size = os.path.getsize(path)
        t_split, t_expand = best_of([lambda: read_and_split(path), lambda: q.expand("@" + path)], 1,
                                    repeat=3 if OPTS.quick else 7)
        print(f"== expand('@file'), {n} lines of {size / n:.0f} bytes: {t_expand * 1e3:.1f} ms; "
              f"read + split {t_split * 1e3:.1f} ms: {t_expand / t_split:.2f}x (target <= 3)")
        if OPTS.instructions:
            none = instructions("none", path, tmp)
            ex, sp = instructions("expand", path, tmp) - none, instructions("split", path, tmp) - none
            print(f"  instructions per line (callgrind): expand {ex / n:.0f}, read + split {sp / n:.0f}, "
                  f"{ex / sp:.1f}x (target <= 2,000 per line)")


# --- glob_match ------------------------------------------------------------------------

GLOB_CASES = [
    ("*.py", "src/pkg/module.py"), ("*.py", "README.md"), ("test_*", "test_parser"),
    ("src/**/*.rs", "src/core/glob/pattern.rs"), ("[!_]*", "public_name"), ("[!_]*", "_private"),
    ("*.[ch]", "main.c"), ("docs/*.md", "docs/guide.md"), ("?ain.c", "main.c"), ("*_test.go", "parser_test.go"),
]


def bench_glob():
    try:
        import _benchfloor  # built with -DQUORVEL_BENCH=ON
    except ImportError:
        _benchfloor = None
    print("== glob_match against a warm fnmatch.fnmatchcase" +
          (" and the do-nothing floor" if _benchfloor else " (no _benchfloor on the path: no floor column)"))
    worst, worst_floor = None, 0.0
    number = scaled(200_000)
    for pattern, text in GLOB_CASES:
        assert fnmatch.fnmatchcase(text, pattern) == q.glob_match(pattern, text), (pattern, text)
        fns = [lambda: q.glob_match(pattern, text), lambda: fnmatch.fnmatchcase(text, pattern)]
        if _benchfloor:
            fns.append(lambda: _benchfloor.glob_match(pattern, text))
        t_ours, t_fn, *floor = best_of(fns, number)
        worst = t_fn / t_ours if worst is None else min(worst, t_fn / t_ours)
        if floor:
            worst_floor = max(worst_floor, t_ours / floor[0])
    print(f"  worst of {len(GLOB_CASES)} patterns: {worst:.1f}x faster than fnmatchcase" +
          (f"; at most {worst_floor:.2f}x the floor" if _benchfloor else ""))


def main(argv=None):
    global OPTS, q
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0],
                                 epilog="Figures and how they are taken: bench/README.md.")
    ap.add_argument("sections", nargs="*", metavar="SECTION",
                    help="which to run: " + ", ".join(SECTIONS) + " (default: all)")
    ap.add_argument("--quick", action="store_true", help="fewer rounds and calls (about a minute)")
    ap.add_argument("--against", metavar="OLD/_quorvel.abi3.so",
                    help="also time another build of the module in this process (folds) and in children (memory)")
    ap.add_argument("--instructions", action="store_true",
                    help="count instructions under callgrind: expand's per line, lint_fold's own per call "
                         "(needs valgrind; slow)")
    OPTS = ap.parse_args(argv)
    for name in OPTS.sections:
        if name not in SECTIONS:
            ap.error(f"unknown section {name!r}; choose from {', '.join(SECTIONS)}")
    chosen = OPTS.sections or SECTIONS
    try:
        import _quorvel as q
    except ImportError:
        sys.exit("bench/run.py: _quorvel is not importable; build it (scripts/build.sh) and run with "
                 "PYTHONPATH=build")
    print(f"CPython {sys.version.split()[0]}, {'quick' if OPTS.quick else 'full'} run, module {q.__file__}")
    for name in SECTIONS:
        if name in chosen:
            globals()["bench_" + name]()


if __name__ == "__main__":
    main()
