"""The examples end to end: the demo's commands, pasted into a shell, do what
the demo shows; every rule of the examples changes what a reader sees; a bad
-D value is named in the error."""
import os
import re
import shlex
import subprocess
import sys

import pytest

# The examples directory and the sample files the demo checks.
EXAMPLES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples")
FILES = ["sample/app.py", "sample/tests/test_app.py", "sample/docs/guide.md", "sample/Makefile"]


def env_with_module(tmp_path=None):
    """The environment of a child process that imports the module and package under test; with tmp_path,
    the environment of a shell whose `python3` is this interpreter."""
    # The repository root holds the quorvel package when it is not installed.
    paths = [os.path.dirname(os.path.abspath(EXAMPLES))] + sys.path
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in paths if p))
    if tmp_path is not None:
        # Preloaded libraries (the sanitizer runs) are for the interpreter, not for the shell.
        preload = env.pop("LD_PRELOAD", "")
        bin_dir = tmp_path / "bin"
        bin_dir.mkdir(exist_ok=True)
        shim = bin_dir / "python3"
        shim.write_text(f'#!/bin/sh\nexec env LD_PRELOAD={shlex.quote(preload)} {shlex.quote(sys.executable)} "$@"\n')
        shim.chmod(0o755)
        env["PATH"] = f"{bin_dir}{os.pathsep}{env.get('PATH', '')}"
    return env


def run_example(script, *args, stdin=None):
    """Runs one example script in examples/ with the module under test."""
    return subprocess.run([sys.executable, script, *args], cwd=EXAMPLES, env=env_with_module(), input=stdin,
                          capture_output=True, text=True, timeout=60)


def rules_lines():
    """The lines of the demo's rules file."""
    with open(os.path.join(EXAMPLES, "rules.txt"), encoding="utf-8") as f:
        return f.read().splitlines()


def test_demo_commands_reproduce_their_output_in_a_shell(tmp_path):
    demo = run_example("demo.py")
    assert demo.returncode == 0, demo.stdout + demo.stderr
    blocks = re.findall(r"^\$ ([^\n]*)\n(.*?)^\[[^\]\n]*: exit status (\d+)\]$", demo.stdout, re.M | re.S)
    assert len(blocks) == 11
    env = env_with_module(tmp_path)
    for command, output, status in blocks:
        shell = subprocess.run(["bash", "-c", command], cwd=EXAMPLES, env=env, text=True, timeout=60,
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        assert (shell.stdout, shell.returncode) == (output, int(status)), command


def test_rules_file_and_stdin_agree():
    rules = "\n".join(rules_lines()) + "\n"
    from_file = run_example("linecheck.py", "-D", "@rules.txt", *FILES)
    from_stdin = run_example("linecheck.py", "-D", "@-", *FILES, stdin=rules)
    assert from_file.returncode == from_stdin.returncode == 1
    assert from_file.stdout == from_stdin.stdout
    assert "sample/docs/guide.md:3: info: long-line: 107 > 100 characters  (prose wraps)" in from_file.stdout


def test_check_reports_every_line_of_the_typos_file_and_nothing_in_the_rules():
    with open(os.path.join(EXAMPLES, "typos.txt"), encoding="utf-8") as f:
        typos = f.read().splitlines()
    check = run_example("-m", "quorvel", "check", "rules.txt", "typos.txt")
    flagged = {int(line.split(":")[1]) for line in check.stdout.splitlines() if line.startswith("typos.txt:")}
    assert check.returncode == 1 and "rules.txt" not in check.stdout
    assert flagged == {i + 1 for i in directive_lines(typos)}


def directive_lines(lines):
    """The indices of the lines that hold a directive (not blank, not a comment)."""
    return [i for i, line in enumerate(lines) if line.strip() and not line.lstrip().startswith("#")]


@pytest.mark.parametrize("index", directive_lines(rules_lines()))
def test_every_rule_of_the_rules_file_changes_the_output(tmp_path, index):
    lines = rules_lines()
    without = tmp_path / "without.txt"
    without.write_text("\n".join(lines[:index] + lines[index + 1:]) + "\n", encoding="utf-8")
    inline = "escalate:<py>todo=fix before release"
    full = run_example("linecheck.py", "-D", "@rules.txt", "-D", inline, *FILES)
    reduced = run_example("linecheck.py", "-D", f"@{without}", "-D", inline, *FILES)
    assert full.stdout != reduced.stdout, lines[index]


def test_every_review_rule_changes_the_output():
    sys.path.insert(0, EXAMPLES)
    try:
        import review
    finally:
        sys.path.remove(EXAMPLES)
    full = run_example("review.py").stdout
    table = lambda out: out.split("document", 1)[1]  # noqa: E731 (what follows the list of rules)
    for rule in review.RULES:
        others = [r for r in review.RULES if r != rule]
        script = f"import sys, review; review.RULES = {others!r}; sys.argv = ['review.py']; sys.exit(review.main())"
        reduced = subprocess.run([sys.executable, "-c", script], cwd=EXAMPLES, env=env_with_module(),
                                 capture_output=True, text=True, timeout=60)
        assert reduced.returncode == 0, reduced.stderr
        assert table(reduced.stdout) != table(full), rule


@pytest.mark.parametrize("value,message", [
    ("suppress:<>tab", "linecheck: error: argument -D: suppress:<>tab: empty `<>` kind filter\n"),
    ("@no-such-rules.txt",
     "linecheck: error: argument -D: @no-such-rules.txt: No such file or directory (os error 2)\n"),
    ("ignore:tab", 'linecheck: error: argument -D: ignore:tab: unknown action "ignore"; did you mean "suppress"?\n'),
])
def test_bad_directive_exits_2_naming_the_value_and_the_library_message(value, message):
    result = run_example("linecheck.py", "-D", "note:fine", "-D", value, *FILES)
    assert result.returncode == 2
    assert result.stderr.startswith("usage: linecheck ") and result.stderr.endswith("\n" + message)
