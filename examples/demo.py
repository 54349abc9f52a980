#!/usr/bin/env python3
"""The demo: the line checker over the sample tree, first without directives,
then with the rules of rules.txt given as a file and on standard input, then
with bad directives; last, the review workflow on a Ladder.

Every command is printed so that it can be pasted into a shell in examples/
(with the module on PYTHONPATH), and every set of rules is printed before
the run that applies it."""
import os
import shlex
import subprocess
import sys

# The examples directory, where every command runs.
HERE = os.path.dirname(os.path.abspath(__file__))
# The sample files that the line checker reads.
FILES = ["sample/app.py", "sample/tests/test_app.py", "sample/docs/guide.md", "sample/Makefile"]
# The rules file, and the one directive given inline.
RULES = "rules.txt"
INLINE = "escalate:<py>todo=fix before release"


def run(title, args, stdin_file=None):
    """Runs one example script in examples/, printing the command as a shell would take it."""
    shown = shlex.join(["python3"] + args) + (f" < {shlex.quote(stdin_file)}" if stdin_file else "")
    print(f"$ {shown}")
    stdin = None
    if stdin_file:
        with open(os.path.join(HERE, stdin_file), encoding="utf-8") as f:
            stdin = f.read()
    proc = subprocess.run([sys.executable] + args, cwd=HERE, input=stdin, text=True,
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    print(proc.stdout, end="")
    print(f"[{title}: exit status {proc.returncode}]\n")
    return proc.returncode


def show_rules():
    """Prints the directives of the rules file with their comments, as the runs read them."""
    print(f"{RULES} (one directive a line; # starts a comment):")
    with open(os.path.join(HERE, RULES), encoding="utf-8") as f:
        for line in f:
            if line.strip():
                print(f"    {line.rstrip()}")
    print(f"and inline: -D {shlex.quote(INLINE)}  (a TODO in Python code is a warning)\n")


def main():
    """Runs the demo's steps; fails when a run did not end as the demo expects."""
    print("Commands run in examples/ with the module on PYTHONPATH.\n")
    print("== 1. linecheck with no directives: every finding at its default severity")
    run("defaults", ["linecheck.py"] + FILES)
    print("== 2. the same files with the rules applied")
    show_rules()
    run("rules", ["linecheck.py", "-D", "@" + RULES, "-D", INLINE] + FILES)
    print("== 3. the rules on standard input (-D @-), without the inline directive")
    run("stdin", ["linecheck.py", "-D", "@-"] + FILES, stdin_file=RULES)
    print("== 4. bad directives: the user sees which -D value failed and the library's message")
    bad = run("bad", ["linecheck.py", "-D", "suppress:<>tab"] + FILES)
    missing = run("missing file", ["linecheck.py", "-D", "@no-such-rules.txt"] + FILES)
    print("== 5. review stages on a Ladder: the caller's own levels and verbs")
    review = run("review", ["review.py"])
    bad_verb = run("review, a verb the tool does not know", ["review.py", "publish:install"])
    return 0 if (bad, missing, review, bad_verb) == (2, 2, 0, 2) else 1


if __name__ == "__main__":
    sys.exit(main())
