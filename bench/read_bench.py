#!/usr/bin/env python3
"""Loading a directive source through a pipe against loading the same bytes
from a file, as a ratio of two timings taken in this one run.

    PYTHONPATH=build python3 bench/read_bench.py [--mib N] [--rounds R] [--directives]

Each load runs in a child process that times only its `expand` call: the
file side is `expand('@FILE')`, the pipe side `cat FILE | ... expand('@-')`.
Rounds alternate the two sides and the best round of each counts, so a noisy
neighbour slows both alike. The content is comment lines by default (reading,
the UTF-8 check and the line scan, without the cost of building directives);
--directives uses directive lines instead.
"""
import argparse
import os
import subprocess
import sys
import tempfile

CHILD = """
import sys, time, _quorvel
start = time.perf_counter()
n = len(_quorvel.expand(sys.argv[1]))
print(time.perf_counter() - start, n)
"""


def write_content(path, mib, directives):
    line = b"allow:name-%07d@src/**/*.py=note\n" if directives else b"# %07d a comment line of some length\n"
    block = b"".join(line % i for i in range(4096))
    with open(path, "wb") as f:
        for _ in range(mib * (1 << 20) // len(block) + 1):
            f.write(block)


def timed(args, stdin=None):
    env = dict(os.environ)
    out = subprocess.run([sys.executable, "-c", CHILD, *args], stdin=stdin, env=env, capture_output=True,
                         text=True, check=True)
    seconds, count = out.stdout.split()
    return float(seconds), int(count)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--mib", type=int, default=256)
    ap.add_argument("--rounds", type=int, default=3)
    ap.add_argument("--directives", action="store_true")
    opts = ap.parse_args()
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "rules.txt")
        write_content(path, opts.mib, opts.directives)
        size = os.path.getsize(path)
        best_file = best_pipe = float("inf")
        for _ in range(opts.rounds):
            t_file, n_file = timed(["@" + path])
            cat = subprocess.Popen(["cat", path], stdout=subprocess.PIPE)
            t_pipe, n_pipe = timed(["@-"], stdin=cat.stdout)
            cat.stdout.close()
            cat.wait()
            assert n_file == n_pipe, (n_file, n_pipe)
            best_file, best_pipe = min(best_file, t_file), min(best_pipe, t_pipe)
        kind = "directive" if opts.directives else "comment"
        print(f"{size / (1 << 20):.0f} MiB of {kind} lines: file {best_file:.2f} s, pipe {best_pipe:.2f} s, "
              f"pipe/file {best_pipe / best_file:.2f}x (best of {opts.rounds})")


if __name__ == "__main__":
    main()
