#!/usr/bin/env python3
"""The demo: the line checker over the sample tree with -D values given
inline, from a rules file and on standard input; a bad directive; and the
review-stage Ladder example."""
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
FILES = ["sample/app.py", "sample/tests/test_app.py", "sample/docs/guide.md", "sample/Makefile"]


def run(title, args, stdin=None):
    shown = " ".join(a if " " not in a else repr(a) for a in args)
    print(f"\n$ {shown}" + ("  < stdin" if stdin else ""))
    proc = subprocess.run([sys.executable] + args, cwd=HERE, input=stdin, text=True,
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    print(proc.stdout, end="")
    print(f"[{title}: exit status {proc.returncode}]")
    return proc.returncode


def main():
    print("== linecheck with no directives")
    run("defaults", ["linecheck.py"] + FILES)
    print("\n== with the sample rules file and an inline directive")
    run("rules", ["linecheck.py", "-D", "@rules.txt", "-D", "escalate:<py>todo=fix before release"] + FILES)
    print("\n== the same rules fed on standard input (-D @-)")
    with open(os.path.join(HERE, "rules.txt"), encoding="utf-8") as f:
        run("stdin", ["linecheck.py", "-D", "@-"] + FILES, stdin=f.read())
    print("\n== a bad directive: the user sees the library's message")
    bad = run("bad", ["linecheck.py", "-D", "suppress:<>tab"] + FILES)
    missing = run("missing file", ["linecheck.py", "-D", "@no-such-rules.txt"] + FILES)
    print("\n== review stages with a Ladder")
    run("review", ["review.py"])
    run("review, bad verb", ["review.py", "publish:install"])
    return 0 if bad == 2 and missing == 2 else 1


if __name__ == "__main__":
    sys.exit(main())
