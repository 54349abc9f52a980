#!/usr/bin/env python3
"""The demo: the line checker over the sample tree, first without directives,
then with the rules of rules.txt given as a file and on standard input, then
with bad directives; the review workflow on a Ladder; last, the quorvel
package's tools: `python3 -m quorvel check` on the rules and on a file of
typos, `python3 -m quorvel explain` on one finding, and `python3 -m quorvel
filter` on flake8's findings on the sample.

Every command is printed so that it can be pasted as it stands into a shell
in examples/ (its PYTHONPATH names the module's directory and the package's),
and every set of rules is printed before the run that applies it."""
import importlib.util
import os
import shlex
import subprocess
import sys

# The examples directory, where every command runs.
HERE = os.path.dirname(os.path.abspath(__file__))
# The repository root, where the quorvel package is when it is not installed.
ROOT = os.path.dirname(HERE)
# The sample files that the line checker reads.
FILES = ["sample/app.py", "sample/tests/test_app.py", "sample/docs/guide.md", "sample/Makefile"]
# The rules file, and the one directive given inline.
RULES = "rules.txt"
INLINE = "escalate:<py>todo=fix before release"


def python_path():
    """The directories that the commands need on PYTHONPATH: the module's and the package's."""
    module = importlib.util.find_spec("_quorvel")
    if module is None or module.origin is None:
        sys.exit("demo: the module _quorvel is not on PYTHONPATH (build it: scripts/build.sh --module)")
    dirs = [os.path.dirname(module.origin)]
    package = importlib.util.find_spec("quorvel")
    dirs.append(ROOT if package is None or package.origin is None else os.path.dirname(os.path.dirname(package.origin)))
    return list(dict.fromkeys(dirs))


# The commands' PYTHONPATH: as the child processes get it, and as it is printed (from examples/).
PATH_DIRS = python_path()
SHOWN_PATH = os.pathsep.join(os.path.relpath(d, HERE) for d in PATH_DIRS)


def run(title, args, stdin_file=None):
    """Runs one command in examples/, printing it as a shell would take it."""
    shown = f"PYTHONPATH={shlex.quote(SHOWN_PATH)} " + shlex.join(["python3"] + args)
    shown += f" < {shlex.quote(stdin_file)}" if stdin_file else ""
    print(f"$ {shown}")
    stdin = None
    if stdin_file:
        with open(os.path.join(HERE, stdin_file), encoding="utf-8") as f:
            stdin = f.read()
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(PATH_DIRS))
    proc = subprocess.run([sys.executable] + args, cwd=HERE, input=stdin, text=True, env=env,
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
    print(f"Commands run in examples/ with PYTHONPATH={SHOWN_PATH} (the module, then the package).\n")
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
    print("== 6. python3 -m quorvel check: the rules file has no mistakes; typos.txt has one a line")
    checked = run("check", ["-m", "quorvel", "check", RULES])
    typos = run("check typos", ["-m", "quorvel", "check", "typos.txt"])
    print("== 7. python3 -m quorvel explain: why a long line of the guide is only information")
    explained = run("explain", ["-m", "quorvel", "explain", "-D", "@" + RULES, "-D", INLINE, "--name", "long-line",
                                "--qualifier", "md", "--scope", "sample/docs/guide.md"])
    print("== 8. python3 -m quorvel filter: flake8's findings on the sample (saved in flake8.txt) through "
          "directives; what they did goes to standard error, and a suppression that matched nothing is named")
    filtered = run("filter", ["-m", "quorvel", "filter", "-D", "suppress:<flake8>E501@sample/tests/*=tests may be long",
                              "-D", "suppress:W291", "--explain", "--report-unused", "flake8.txt"])
    outcomes = (bad, missing, review, bad_verb, checked, typos, explained, filtered)
    return 0 if outcomes == (2, 2, 0, 2, 0, 1, 0, 1) else 1


if __name__ == "__main__":
    sys.exit(main())
