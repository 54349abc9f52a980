"""expand: inline values, @file, @- (standard input), and the action check."""
import os
import signal
import subprocess
import sys
import textwrap
import time

import pytest

from _quorvel import DirectiveError, expand

MISSING_COLON = "expected `ACTION:…` (no `:` found)"


def lines(directives):
    return [str(d) for d in directives]


def test_inline():
    (d,) = expand("allow:foo")
    assert str(d) == "allow:foo"
    with pytest.raises(DirectiveError) as info:
        expand("")
    assert str(info.value) == "<inline>: " + MISSING_COLON
    with pytest.raises(DirectiveError, match="^<inline>: "):
        expand(" @rules")


FILES = [
    ("# header\n\n  allow:a  \n", ["allow:a"]),
    ("a:x\r\n\r\nb:y\r\n", ["a:x", "b:y"]),
    ("a:x\rb:y\r\n", ["a:x\rb:y"]),
    ("\ufeffa:x\n", ["a:x"]),
    ("  # note\nallow:a # note\n", ["allow:a # note"]),
    ("allow:a\\\nb:c\n", ["allow:a\\", "b:c"]),
    ("@nested:x\n", ["@nested:x"]),
    ("", []),
    ("\n \n# c\n\t\n", []),
    ("a:x=note  \t\n", ["a:x=note"]),
]


@pytest.mark.parametrize("content,expected", FILES)
def test_file_format(write_file, content, expected):
    assert lines(expand("@" + write_file(content))) == expected
    assert lines(expand("@" + write_file(content), actions={"a", "allow", "b", "@nested"})) == expected


def test_line_numbers_count_every_line(write_file):
    path = write_file("# header\n\n  allow:a  \nbad\n")
    with pytest.raises(DirectiveError) as info:
        expand("@" + path)
    assert str(info.value) == f"{path}:4: {MISSING_COLON}"
    crlf = write_file("ok:1\r\n\r\n:x\r\n")
    with pytest.raises(DirectiveError) as info:
        expand("@" + crlf)
    assert str(info.value) == f"{crlf}:3: empty action"


def test_bom_on_a_later_line_reaches_the_grammar(write_file):
    path = write_file("a:x\n\ufeffb:y\n")
    assert [d.action for d in expand("@" + path)] == ["a", "\ufeffb"]


def test_invalid_utf8_fails_the_whole_file(write_file):
    path = write_file(b"allow:a\nallow:b\nallow:\xff\n")
    with pytest.raises(DirectiveError) as info:
        expand("@" + path)
    assert str(info.value) == f"{path}: stream did not contain valid UTF-8"


def test_io_errors(tmp_path):
    with pytest.raises(DirectiveError) as info:
        expand("@")
    assert str(info.value) == ": No such file or directory (os error 2)"
    with pytest.raises(DirectiveError) as info:
        expand("@" + str(tmp_path))
    assert str(info.value) == f"{tmp_path}: Is a directory (os error 21)"
    with pytest.raises(DirectiveError) as info:
        expand("@a\0b")
    assert str(info.value) == "a\0b: file name contained an unexpected NUL byte"
    assert expand("@/dev/null") == []


def test_paths_are_verbatim(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    names = ["--", " -", "@x", "-x", "rules"]
    for i, name in enumerate(names):
        (tmp_path / name).write_text(f"from:file{i}\n")
    assert lines(expand("@--")) == ["from:file0"]
    assert lines(expand("@ -")) == ["from:file1"]
    assert lines(expand("@@x")) == ["from:file2"]
    assert lines(expand("@-x")) == ["from:file3"]
    assert lines(expand("@rules")) == ["from:file4"]
    with pytest.raises(DirectiveError, match="^ rules: No such file"):
        expand("@ rules")


def test_action_check_after_loading(write_file):
    path = write_file("allow:a\n\ndeny:x\n")
    with pytest.raises(DirectiveError) as info:
        expand("@" + path, actions={"allow"})
    assert str(info.value) == 'unknown action "deny"; allowed: ["allow"]'
    # A malformed line later in the file wins over an earlier bad action.
    path = write_file("allow:a\ndeny:x\n\n\n\n\n=bad:x\n")
    with pytest.raises(DirectiveError, match=r":7: `=` appeared before the action `:`$"):
        expand("@" + path, actions={"allow"})
    assert lines(expand("@" + write_file("# nothing\n"), actions=set())) == []


def run_python(code, **kwargs):
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], env=env, capture_output=True, **kwargs)


def test_stdin_reads_to_the_end_and_is_consumed():
    code = """
        import _quorvel
        print([str(d) for d in _quorvel.expand('@-')])
        print(_quorvel.expand('@-'))
        try:
            _quorvel.expand('@-', actions=['a'])
        except TypeError as e:
            print('TypeError')
    """
    out = run_python(code, input=b"a:x\n\nb:y=z\n", timeout=60)
    assert out.stdout.decode().splitlines() == ["['a:x', 'b:y=z']", "[]", "TypeError"]


@pytest.mark.parametrize(
    "data,message",
    [
        (b"a:x\n:bad\n", "<stdin>:2: empty action"),
        (b"\xff", "<stdin>: stream did not contain valid UTF-8"),
    ],
)
def test_stdin_errors(data, message):
    code = """
        import _quorvel
        try:
            _quorvel.expand('@-')
        except _quorvel.DirectiveError as e:
            print(e)
    """
    out = run_python(code, input=data, timeout=60)
    assert out.stdout.decode().strip() == message


def test_stdin_closed_is_a_clear_error():
    code = """
        import os, _quorvel
        os.close(0)
        try:
            _quorvel.expand('@-')
        except _quorvel.DirectiveError as e:
            print(e)
    """
    out = run_python(code, timeout=60)
    assert out.stdout.decode().strip() == "<stdin>: Bad file descriptor (os error 9)"


def test_ctrl_c_interrupts_a_read_of_stdin():
    code = """
        import sys, _quorvel
        print('waiting', flush=True)
        try:
            _quorvel.expand('@-')
        except KeyboardInterrupt:
            print('interrupted', flush=True)
            sys.exit(3)
    """
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    proc = subprocess.Popen(
        [sys.executable, "-c", textwrap.dedent(code)], env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE
    )
    try:
        assert proc.stdout.readline() == b"waiting\n"
        time.sleep(0.3)  # let it block in the read; the pipe stays open
        proc.send_signal(signal.SIGINT)
        rc = proc.wait(timeout=30)
        assert proc.stdout.read() == b"interrupted\n"
        assert rc == 3
    finally:
        if proc.poll() is None:
            proc.kill()
        proc.stdin.close()
        proc.stdout.close()
