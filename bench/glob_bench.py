#!/usr/bin/env python3
"""The glob engine: adversarial families, a precompiled-`re` contender, the
do-nothing fast-call floor, and the bytes a compiled pattern keeps.

Every figure is measured in this one run; a comparison of two builds runs the
same cases on both, each case in its own child process with a time limit.

    python3 bench/glob_bench.py [--old BUILD_DIR] [--new BUILD_DIR] [--quick]
    python3 bench/glob_bench.py --targets [--new BUILD_DIR] [--quick]

--old names a build of another version of the module (for example one made
from the main branch into build-old/), --new the one measured (default
build/); the floor module comes from BUILD_DIR/bench, so the build must be
configured with -DQUORVEL_BENCH=ON.
"""
import ctypes
import json
import os
import re
import subprocess
import sys
import time
import timeit

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
QUICK = "--quick" in sys.argv
LIMIT = 60.0  # seconds a single adversarial case may take before it counts as a hang

# name: (pattern, text, target seconds per call)
ADVERSARIAL = {
    "star, 1000 literals, ten {b,c}, ?  vs 'a'*10000": ("*" + "a" * 1000 + "{b,c}" * 10 + "?", "a" * 10000, 5e-3),
    "unterminated [ x3200 after *, tail x vs y": ("*" + "[" * 3200 + "x", "[" * 3200 + "y", 20e-3),
    "unterminated [ x3200 after *, then ? (no tail)": ("*" + "[" * 3200 + "?", "[" * 3200, 20e-3),
    "nine 10 kB classes vs 100 kB, tail x vs y": ("*" + ("[" + "b" * 10000 + "a]") * 9 + "x", "a" * 100000 + "y",
                                                  20e-3),
    "nine 10 kB classes vs 100 kB, then ? (no tail)": ("*" + ("[" + "b" * 10000 + "a]") * 9 + "?", "a" * 100000,
                                                       20e-3),
    "3000 classes, all live, vs 100 kB (no match)": ("*" + "[!b]" * 3000 + "b?", "a" * 100000 + "c", 20e-3),
    "*.py vs 1 MB text ending in .py": ("*.py", "x" * (1 << 20) + ".py", 20e-6),
    "*.py vs 1 MB text not ending in .py": ("*.py", "x" * (1 << 20), 20e-6),
    "*.py* vs 1 MB text (memchr after the star)": ("*.py*", "x" * (1 << 20) + ".py", 1e-3),
    "glob_match('{a,b}'*10, 'ab'*5)": ("{a,b}" * 10, "ab" * 5, 5e-6),
}
DIRECTIVE_CASE = "parse(suppress: + '{a,b}'*10 + * + '['*1600 + x), lint_fold over a 1600-byte name"

# Short patterns and texts of at most 20 bytes: glob_match against the floor.
SHORT = [("*.py", "src/pkg/module.py"), ("*.py", "README.md"), ("test_*", "test_parser"),
         ("src/**/*.rs", "src/core/glob/x.rs"), ("[!_]*", "public_name"), ("*.[ch]", "main.c"),
         ("docs/*.md", "docs/guide.md"), ("?ain.c", "main.c"), ("*_test.go", "parser_test.go"), ("plain", "plain")]

_LONG = "src/" + "/".join(["module%02d" % i for i in range(20)])
# 200-byte texts: glob_match against a precompiled re.fullmatch (same answers).
LONG = [("*.py", (_LONG + "/x.py").rjust(200, "a"), r"(?s:.*)\.py"),
        ("*.py", _LONG.rjust(200, "a"), r"(?s:.*)\.py"),
        ("src/*/module19*", (_LONG + "/end.rs").rjust(200, "s")[-200:], r"src/(?s:.*)/module19(?s:.*)"),
        ("*a*b*c*.rs", "x" * 191 + "a_b_c_.rs", r"(?s:.*)a(?s:.*)b(?s:.*)c(?s:.*)\.rs"),
        ("[!_]*", "p" * 200, r"[^_](?s:.*)"),
        ("*module1?/*", _LONG[:200], r"(?s:.*)module1./(?s:.*)")]
# Brace patterns: glob_match against a precompiled re.fullmatch.
BRACES = [("{src,lib}/*.{c,h}", "lib/x.h", r"(?:src|lib)/(?s:.*)\.(?:c|h)"),
          ("{src,lib}/*.{c,h}", "bin/x.h", r"(?:src|lib)/(?s:.*)\.(?:c|h)"),
          ("*.{py,pyi,pyx}", "pkg/module.pyi", r"(?s:.*)\.(?:py|pyi|pyx)"),
          ("{foo,bar,baz}-*", "bar-thing", r"(?:foo|bar|baz)-(?s:.*)"),
          ("{a,b}" * 10, "ab" * 5, "(?:a|b)" * 10)]
# Sources whose compiled form is measured (resident memory per source byte).
N = 1_000_000 if QUICK else 4_000_000
MEMORY = {"literal + {a,b}x4": "x" * N + "{a,b}" * 4, "literal + *": "x" * N + "*",
          "{a,b}x10 + literal": "{a,b}" * 10 + "x" * N, "[ab] x N/4": "[ab]" * (N // 4),
          "*[!a-z]? x N/8": "*[!a-z]?" * (N // 8)}


def per_call(fn, budget=0.3):
    """Seconds per call: the best of a few timed runs within about `budget`."""
    t0 = time.perf_counter()
    fn()
    once = time.perf_counter() - t0
    if once > budget:
        return once
    number = max(1, int(budget / 5 / max(once, 1e-7)))
    return min(timeit.Timer(fn).repeat(repeat=5, number=number)) / number


def best_of(fns, number):
    """Seconds per call of each function, in interleaved rounds; the best round counts."""
    timers = [timeit.Timer(f) for f in fns]
    out = [float("inf")] * len(fns)
    for _ in range(3 if QUICK else 7):
        for i, t in enumerate(timers):
            out[i] = min(out[i], t.timeit(number) / number)
    return out


class _MallInfo2(ctypes.Structure):
    _fields_ = [(name, ctypes.c_size_t) for name in
                ("arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks", "fordblks",
                 "keepcost")]


def heap_in_use():
    """Bytes the C allocator has handed out and not taken back (glibc)."""
    libc = ctypes.CDLL(None)
    libc.mallinfo2.restype = _MallInfo2
    info = libc.mallinfo2()
    return info.uordblks + info.hblkhd


def child_case(name):
    """One adversarial case in this process: its seconds per call."""
    import _quorvel as q
    if name == DIRECTIVE_CASE:
        d = [q.parse("suppress:" + "{a,b}" * 10 + "*" + "[" * 1600 + "x")]
        names = ["[" * 1600]
        return per_call(lambda: q.lint_fold("warning", d, names))
    pattern, text, _ = ADVERSARIAL[name]
    return per_call(lambda: q.glob_match(pattern, text))


def child_ratios():
    """Per-call ratios against the floor and against precompiled re, and memory."""
    import _benchfloor
    import _quorvel as q
    number = 20_000 if QUICK else 100_000
    out = {"short": [], "long": [], "braces": [], "memory": {}}
    for pattern, text in SHORT:
        floor, ours = best_of([lambda: _benchfloor.glob_match(pattern, text), lambda: q.glob_match(pattern, text)],
                              number)
        out["short"].append((pattern, text, ours, floor))
    for key, cases in (("long", LONG), ("braces", BRACES)):
        for pattern, text, rx in cases:
            compiled = re.compile(rx)
            assert (compiled.fullmatch(text) is not None) == q.glob_match(pattern, text), (pattern, text)
            ours, theirs = best_of([lambda: q.glob_match(pattern, text), lambda: compiled.fullmatch(text)], number)
            out[key].append((pattern, text, ours, theirs))
    for name, source in MEMORY.items():
        spec = "allow:" + source
        before = heap_in_use()
        kept = q.parse(spec)
        out["memory"][name] = (heap_in_use() - before) / len(source)
        del kept
    return out


def _regex(pattern):
    """A precompiled re contender for a brace-free pattern of SHORT."""
    out, i = [], 0
    while i < len(pattern):
        c = pattern[i]
        if c == "*":
            out.append("(?s:.*)")
        elif c == "?":
            out.append("(?s:.)")
        elif c == "[":
            j = pattern.index("]", i + 2)
            body = pattern[i + 1:j]
            out.append("[" + ("^" + body[1:] if body.startswith("!") else body) + "]")
            i = j
        else:
            out.append(re.escape(c))
        i += 1
    return re.compile("".join(out))


def child_targets():
    """The engine's target table: every row a ratio (or a time) measured in this one run."""
    import fnmatch
    import _benchfloor
    import _quorvel as q
    rows = []
    number = 20_000 if QUICK else 100_000

    def row(name, value, target, unit="x"):
        rows.append((name, value, target, unit))

    def scan(text):
        absent = "\x00"
        return per_call(lambda: text.find(absent))

    # Short brace-free path patterns: the worst of the ten against each contender.
    worst = {"floor": 0.0, "re": 0.0, "fnmatch": 0.0, "matches": 0.0}
    for pattern, text in SHORT:
        rx = _regex(pattern)
        d = q.parse("allow:" + pattern)
        names = [text]
        assert (rx.fullmatch(text) is not None) == q.glob_match(pattern, text) == d.matches(names), pattern
        floor, ours, theirs, fn, compiled = best_of(
            [lambda: _benchfloor.glob_match(pattern, text), lambda: q.glob_match(pattern, text),
             lambda: rx.fullmatch(text), lambda: fnmatch.fnmatchcase(text, pattern), lambda: d.matches(names)],
            number)
        worst["floor"] = max(worst["floor"], ours / floor)
        worst["re"] = max(worst["re"], ours / theirs)
        worst["fnmatch"] = max(worst["fnmatch"], ours / fn)
        worst["matches"] = max(worst["matches"], compiled / floor)
    row("glob_match, 10 short path patterns: worst / floor with conversion", worst["floor"], 3.0)
    row("  the same: worst / precompiled re.fullmatch", worst["re"], 1.0)
    row("  the same: worst / warm fnmatch.fnmatchcase", worst["fnmatch"], 0.99)
    row("Directive.matches([text]), the same 10: worst / floor", worst["matches"], 2.0)
    mb = "src/" + "x/" * (1 << 19) + "tests/t.py"
    d = q.parse("allow:src/*/tests/*.py")
    row("src/*/tests/*.py near the end of 1 MB, glob_match / memchr scan",
        per_call(lambda: q.glob_match("src/*/tests/*.py", mb)) / scan(mb), 3.0)
    row("  the same, compiled / memchr scan", per_call(lambda: d.matches([mb])) / scan(mb), 3.0)
    cls = "*" + "[!/]*" * 15 + ".py"
    text = "a/" * (1 << 19) + "abcdefghijklmnop.py"
    assert q.glob_match(cls, text)
    row("*[!/]* x15 .py vs 1 MB, glob_match / memchr scan", per_call(lambda: q.glob_match(cls, text)) / scan(text),
        20.0)
    rx = re.compile("(?:a|b)" * 10)
    ours, theirs = best_of([lambda: q.glob_match("{a,b}" * 10, "ab" * 5), lambda: rx.fullmatch("ab" * 5)], number)
    row("glob_match {a,b}x10 (1024 alternatives) / grouped re", ours / theirs, 1.5)
    p = "*" + "[a{b,]c}*" * 10 + "x" * 1000 + "?"
    row("ten straddling groups + 1 kB literal + ? vs 100 kB: time", per_call(lambda: q.glob_match(p, "a" * 100000)),
        20e-3, "s")
    p = "*" + "{a*,b*}" * 10 + "[xy]"
    row("ten {a*,b*} groups + class vs 100 kB: time", per_call(lambda: q.glob_match(p, "ab" * 50000)), 5e-3, "s")
    text = "y" * 20000 + "z"
    times = {}
    for k in (1, 9):
        pat = "*[" + "".join("{%s,%s}" % (chr(99 + 2 * i), chr(100 + 2 * i)) for i in range(k)) + "]*{y,z}"
        d = q.parse("allow:" + pat)
        times[k] = per_call(lambda: d.matches([text]))
    row("class over nine groups / class over one, compiled, vs 20 kB", times[9] / times[1], 3.0)
    def held(pattern):
        before = heap_in_use()
        q.glob_match(pattern, "ab")
        return heap_in_use() - before

    big = "[ab]" * (1 << 20)
    held("[ab]")  # the measurement's own allocations settle
    row("heap held after glob_match of a 4 MB class pattern (beyond a 4-byte one)", held(big) - held("[ab]"), 0, "B")
    src = os.path.join(ROOT, "src", "core", "glob")
    lines = sum(sum(1 for _ in open(os.path.join(src, f))) for f in os.listdir(src))
    row("lines in src/core/glob", lines, 1100, "lines")
    return rows


def run_child(build, args, timeout):
    env = dict(os.environ, PYTHONPATH=os.pathsep.join([os.path.abspath(build), os.path.join(os.path.abspath(build), "bench")]))
    try:
        r = subprocess.run([sys.executable, __file__, "--child"] + args, env=env, capture_output=True, text=True,
                           timeout=timeout)
    except subprocess.TimeoutExpired:
        return None
    if r.returncode != 0:
        raise RuntimeError(r.stderr)
    return json.loads(r.stdout)


def fmt(seconds):
    if seconds is None:
        return f"> {LIMIT:.0f} s"
    for unit, scale in (("s", 1), ("ms", 1e-3), ("us", 1e-6)):
        if seconds >= scale:
            return f"{seconds / scale:.3g} {unit}"
    return f"{seconds * 1e9:.3g} ns"


def main():
    if "--child" in sys.argv:
        what = sys.argv[sys.argv.index("--child") + 1]
        print(json.dumps(child_ratios() if what == "ratios" else child_targets() if what == "targets" else
                         child_case(what)))
        return
    if "--targets" in sys.argv:
        new = sys.argv[sys.argv.index("--new") + 1] if "--new" in sys.argv else os.path.join(ROOT, "build")
        print(f"CPython {sys.version.split()[0]}, build {new}: the engine's targets, measured in one run")
        for name, value, target, unit in run_child(new, ["targets"], 1800):
            shown = fmt(value) if unit == "s" else f"{value:.0f} {unit}" if unit in ("B", "lines") else f"{value:.2f}x"
            goal = fmt(target) if unit == "s" else f"{target} {unit}" if unit in ("B", "lines") else f"{target}x"
            mark = "ok" if value <= target else "MISSED"
            print(f"  {name:66} {shown:>12}   target <= {goal:<10} {mark}")
        return
    new = sys.argv[sys.argv.index("--new") + 1] if "--new" in sys.argv else os.path.join(ROOT, "build")
    builds = [("new", new)]
    if "--old" in sys.argv:
        builds.insert(0, ("old", sys.argv[sys.argv.index("--old") + 1]))
    print(f"CPython {sys.version.split()[0]}, builds: " + ", ".join(f"{n}={b}" for n, b in builds))
    print("== adversarial families (seconds per call)")
    for name in list(ADVERSARIAL) + [DIRECTIVE_CASE]:
        target = ADVERSARIAL[name][2] if name in ADVERSARIAL else 20e-3
        cells = [f"{n} {fmt(run_child(b, [name], LIMIT * 3))}" for n, b in builds]
        print(f"  {name:58} " + "  ".join(f"{c:>14}" for c in cells) + f"   target <= {fmt(target)}")
    results = {n: run_child(b, ["ratios"], 1800) for n, b in builds}
    print("== short patterns (texts <= 20 bytes): glob_match / do-nothing fast-call floor (target <= 2.2x, 3.10+)")
    for i, (pattern, text) in enumerate(SHORT):
        cells = "  ".join(f"{n} {r['short'][i][2] * 1e9:6.1f} ns x{r['short'][i][2] / r['short'][i][3]:4.2f}"
                          for n, r in results.items())
        print(f"  {pattern!r:16} {text!r:22} {cells}")
    for n, r in results.items():
        ratios = [o / f for _, _, o, f in r["short"]]
        print(f"  {n}: {min(ratios):.2f}x - {max(ratios):.2f}x the floor")
    for key, title in (("long", "200-byte texts"), ("braces", "brace patterns")):
        print(f"== {title}: glob_match / precompiled re.fullmatch (target <= 1.0x)")
        for i, case in enumerate(LONG if key == "long" else BRACES):
            cells = "  ".join(f"{n} {r[key][i][2] * 1e9:6.1f} ns x{r[key][i][2] / r[key][i][3]:4.2f}"
                              for n, r in results.items())
            print(f"  {case[0][:22]!r:24} {len(case[1]):4} bytes  {cells}")
        for n, r in results.items():
            ratios = [o / t for _, _, o, t in r[key]]
            print(f"  {n}: {min(ratios):.2f}x - {max(ratios):.2f}x re.fullmatch")
    print(f"== bytes kept per source byte of a compiled directive (heap in use, {N}-byte sources; target <= 4)")
    for name in MEMORY:
        print(f"  {name:24} " + "  ".join(f"{n} {r['memory'][name]:6.2f}" for n, r in results.items()))


if __name__ == "__main__":
    main()
