"""The example line checker, end to end, as the demo runs it."""
import os
import subprocess
import sys

import pytest

EXAMPLES = os.path.join(os.path.dirname(__file__), "..", "..", "examples")
FILES = ["sample/app.py", "sample/tests/test_app.py", "sample/docs/guide.md", "sample/Makefile"]


def linecheck(*args, stdin=None):
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    return subprocess.run([sys.executable, "linecheck.py", *args], cwd=EXAMPLES, env=env, input=stdin,
                          capture_output=True, text=True, timeout=60)


def test_rules_file_and_stdin_agree():
    with open(os.path.join(EXAMPLES, "rules.txt"), encoding="utf-8") as f:
        rules = f.read()
    from_file = linecheck("-D", "@rules.txt", *FILES)
    from_stdin = linecheck("-D", "@-", *FILES, stdin=rules)
    assert from_file.returncode == from_stdin.returncode == 1
    assert from_file.stdout == from_stdin.stdout
    out = from_file.stdout
    assert "sample/docs/guide.md:3: info: long-line: 107 > 100 characters  (prose wraps)" in out
    assert "sample/Makefile" not in out
    assert "sample/tests" not in out
    assert out.endswith("5 finding(s), 1 error(s), 2 suppressed\n")


@pytest.mark.parametrize("value,message", [
    ("suppress:<>tab", "linecheck: error: <inline>: empty `<>` kind filter\n"),
    ("@no-such-rules.txt", "linecheck: error: no-such-rules.txt: No such file or directory (os error 2)\n"),
])
def test_bad_directive_exits_2_with_the_library_message(value, message):
    result = linecheck("-D", value, *FILES)
    assert result.returncode == 2
    assert result.stderr == message
