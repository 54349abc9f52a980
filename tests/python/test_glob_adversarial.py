"""Patterns built to blow a backtracking matcher up answer, and in bounded time.

Each case runs in a child process with a time limit that turns a hang into a
failure; the speed itself is measured in bench/glob_bench.py.
"""
import os
import subprocess
import sys

import pytest

import _quorvel

CASES = [
    ("'*' + 'a' * 1000 + '{b,c}' * 10 + '?'", "'a' * 10000", False),
    ("'*' + 'a' * 1000 + '{b,c}' * 10 + '?'", "'a' * 10000 + 'bcbcbcbcbcb'", True),
    ("'*' + '[' * 3200 + 'x'", "'[' * 3200 + 'y'", False),
    ("'*' + '[' * 3200 + '?'", "'[' * 3200", False),
    ("'*' + '[' * 3200 + '?'", "'[' * 3300", True),
    ("'*' + ('[' + 'b' * 10000 + 'a]') * 9 + 'x'", "'a' * 100000 + 'y'", False),
    ("'*' + ('[' + 'b' * 10000 + 'a]') * 9 + '?'", "'a' * 100000", True),
    ("'{a,b}' * 10 + '*' + '[' * 1600 + 'x'", "'ab' * 5 + '[' * 1600 + 'x'", True),
    ("'*.py'", "'x' * (1 << 20)", False),
    ("'*' + 'ab' * 300 + '*' + 'ab' * 300 + 'c'", "'ab' * 5000 + 'c'", True),
]


@pytest.mark.parametrize("pattern,text,expected", CASES)
def test_answers_within_a_time_limit(pattern, text, expected):
    code = f"import _quorvel; print(_quorvel.glob_match({pattern}, {text}))"
    env = dict(os.environ, PYTHONPATH=os.path.dirname(_quorvel.__file__))
    out = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True, timeout=20)
    assert out.returncode == 0, out.stderr
    assert out.stdout.strip() == str(expected)


def test_compiled_directive_stays_fast():
    code = ("import _quorvel as q; d = [q.parse('suppress:' + '{a,b}' * 10 + '*' + '[' * 1600 + 'x')]; "
            "print(q.lint_fold('warning', d, ['a' * 1600]), q.lint_fold('warning', d, ['ab' * 5 + '[' * 1600 + 'x']))")
    env = dict(os.environ, PYTHONPATH=os.path.dirname(_quorvel.__file__))
    out = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True, timeout=20)
    assert out.returncode == 0, out.stderr
    assert out.stdout.strip() == "('warning', False, []) ('warning', True, [])"
