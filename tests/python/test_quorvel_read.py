"""The package's reads and `python -m quorvel` under hostile input: devices,
directories, names that are not UTF-8, closed pipes and Ctrl-C end with one
message and no traceback; lines come out as a plain split gives them whatever
the chunking; `check` does work linear in the length of a line and prints a
bounded number of findings for it."""
import os
import signal
import subprocess
import sys

import pytest
from hypothesis import given, settings, strategies as st

from quorvel import _check, _read
from quorvel._check import check_lines
from quorvel.cli import Verbs

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
ENV = dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in [ROOT] + sys.path if p), PYTHONUNBUFFERED="1")
PROG = [sys.executable, "-m", "quorvel"]


def shell(command, cwd):
    """Runs a bash command line with "quorvel" standing for python -m quorvel."""
    line = command.replace("quorvel ", " ".join(map(repr, PROG)) + " ")
    return subprocess.run(["bash", "-c", line], cwd=cwd, env=ENV, capture_output=True, timeout=60)


@pytest.mark.parametrize("command,status,err,out", [
    ("quorvel check /dev/zero", 2, b"python -m quorvel: /dev/zero: a device, not a file: it is not read\n", b""),
    ("quorvel explain -D @/dev/zero --name x", 2, b"argument -D: @/dev/zero: a device, not a file: it is not read\n", b""),
    ("quorvel check $'\\xfe-missing.txt'", 2,
     b"python -m quorvel: \\xfe-missing.txt: No such file or directory (os error 2)\n", b""),
    ("quorvel explain -D @$'\\xfe-missing.txt' --name x", 2,
     b"argument -D: @\\xfe-missing.txt: No such file or directory (os error 2)\n", b""),
    ("quorvel explain -D $'a:\\xfe' --name x", 2, b"argument -D: a:\\xfe: the value is not valid UTF-8 (column 3: byte 0xfe)\n", b""),
    ("quorvel check - < /dev/zero", 2, b"python -m quorvel: <stdin>: a device, not a file: it is not read\n", b""),
    ("quorvel check <(cat /dev/zero)", 2, b":1: line longer than 67108864 bytes\n", b""),
    ("quorvel check - <&-", 2, b"python -m quorvel: <stdin>: Bad file descriptor (os error 9)\n", b""),
    ("quorvel check /dev/null - < /dev/null", 0, b"", b""),
    ("quorvel check .", 2, b"python -m quorvel: .: Is a directory (os error 21)\n", b""),
    ("quorvel check <(printf 'supress:x')", 1, b"", b'unknown action "supress"'),
    ("mkfifo f; printf 'supress:x\\n' > f & quorvel check f", 1, b"", b'f:1: unknown action "supress"'),
    ("quorvel explain -D @bad.txt --name x", 2,
     b"argument -D: @bad.txt: stream did not contain valid UTF-8 (line 2, column 4: byte 0xff)\n", b""),
    ("quorvel explain -D rules.txt --name x", 2,
     b'argument -D: rules.txt: expected `ACTION:\xe2\x80\xa6` (no `:` found); did you mean "@rules.txt"?\n', b""),
    ("set -o pipefail; quorvel check many.txt | head -1", 141, b"", b'many.txt:1: unknown action "supress"'),
    ("quorvel check", 2, b"python -m quorvel: the following arguments are required: FILE\n", b""),
    ("quorvel --version", 0, b"", b"quorvel 0."),
])
def test_hostile_input_ends_with_one_message_and_no_traceback(tmp_path, command, status, err, out):
    (tmp_path / "bad.txt").write_bytes(b"note:x\nok\xc3\xa9\xff:y\n")
    (tmp_path / "rules.txt").write_text("suppress:x\n")
    (tmp_path / "many.txt").write_text("supress:x\n" * 100000)
    got = shell(command, tmp_path)
    assert got.returncode == status and got.stderr.endswith(err) and out in got.stdout
    assert b"Traceback" not in got.stderr and b"Exception" not in got.stderr
    if "head" in command:
        assert got.stderr == b""


@pytest.mark.parametrize("args", [["check", "-"], ["explain", "-D", "@-", "--name", "x"]])
def test_ctrl_c_ends_a_read_with_status_130_and_no_traceback(args):
    proc = subprocess.Popen(PROG + args, env=ENV, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE)
    proc.stdin.write(b"note:x\n" * 150000)  # returns once the command has read most of it (a pipe holds 64 KiB)
    proc.stdin.flush()
    proc.send_signal(signal.SIGINT)  # while it waits for more
    assert proc.wait(timeout=10) == 130
    assert proc.stderr.read() == b""
    proc.stdin.close()


@settings(deadline=None)
@given(st.lists(st.sampled_from([b"a", b"\r", b"\n", b"\r\n", b"\xff", b""]), max_size=12), st.integers(1, 4))
def test_iter_lines_splits_as_a_plain_split_whatever_the_chunks(tmp_path_factory, parts, chunk):
    data = b"".join(parts)
    path = tmp_path_factory.mktemp("lines") / "f"
    path.write_bytes(data)
    expected = data.split(b"\n")
    if expected[-1] == b"":
        expected.pop()
    expected = [line[:-1] if line.endswith(b"\r") else line for line in expected]
    old = _read.CHUNK
    _read.CHUNK = chunk
    try:
        assert list(_read.iter_lines(str(path))) == expected
        assert _read.read_bytes(str(path)) == data
        longest = max(map(len, expected), default=0) + 1  # with its CR
        if longest > 1:
            with pytest.raises(_read.ReadError, match="line longer than"):
                list(_read.iter_lines(str(path), max_line=longest - 2))
        if data:
            with pytest.raises(_read.ReadError, match="longer than"):
                _read.read_bytes(str(path), limit=len(data) - 1)
    finally:
        _read.CHUNK = old


def line_events(line):
    """The lines of quorvel._check that run to check one directive line."""
    count = 0

    def trace(frame, event, arg):
        nonlocal count
        if frame.f_code.co_filename != _check.__file__:
            return None
        count += event == "line"
        return trace

    sys.settrace(trace)
    try:
        found = list(check_lines([line.encode()], Verbs(lint=True)))
    finally:
        sys.settrace(None)
    return count, found


# Lines of a head and a unit repeated; the first four took the first version of check quadratic time.
@pytest.mark.parametrize("head,unit", [
    ("suppress:", "["), ("suppress:", "{a,b}["), ("suppress:", "[a]{b}"), ("suppress:{", "[a],"),
    ("suppress:x@", "{[a],[b]}"), ("supress:", "a"), ("", "x"),
])
def test_check_is_linear_in_the_line_and_its_output_is_bounded(head, unit):
    small, _ = line_events(head + unit * 2000)
    large, _ = line_events(head + unit * 4000)
    assert large <= 2.2 * small
    megabyte = head + unit * (2 ** 20 // len(unit))
    found = list(check_lines([megabyte.encode()], Verbs(lint=True)))
    assert 1 <= len(found) <= _check.MAX_FINDINGS + 1
    assert sum(len(message) for _, message in found) < 400 * len(found)
    if len(found) > _check.MAX_FINDINGS:  # the count of the rest is the count of what was left out
        every = _check.findings(_check.parse(megabyte), Verbs(lint=True))
        assert found[-1][1] == f"{len(every) - _check.MAX_FINDINGS} more findings on this line"
