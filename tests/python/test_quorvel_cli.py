"""quorvel.cli and `python -m quorvel`: the -D option names the value that
failed (and the line of a file) once, takes the lint verbs in every spelling
lint_fold reads and suggests the nearest verb; `check` flags the typos that
parse but can never apply; the examples of the commands' --help run as shown."""
import argparse
import io
import os
import re
import subprocess
import sys

import pytest
from hypothesis import given, settings, strategies as st

import quorvel
from quorvel._check import check_text
from quorvel.cli import DirectiveAction, Verbs, click_type

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
ENV = dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in [ROOT] + sys.path if p))

# A directive file whose line 7 misspells its verb.
BAD7 = "# rules\nsuppress:a\n\nnote:b=why\n  # indented comment\nescalate:c\nsupress:long-line\n"


def run(*args, stdin=None, cwd=ROOT):
    return subprocess.run([sys.executable, "-m", "quorvel", *args], cwd=cwd, env=ENV, input=stdin,
                          capture_output=True, text=True, timeout=60)


@pytest.mark.parametrize("options,values,shown", [
    ({"lint": True}, ["De-Escalate:unused-import", "SET:k=v", " sup-press :x"],
     ["De-Escalate:unused-import", "SET:k=v", "sup-press:x"]),
    ({"lint": True, "verbs": ["Suppress", "note"]}, ["suppress:x", "NOTE:y"], ["suppress:x", "NOTE:y"]),
    ({"verbs": {"allow"}}, ["allow:x", "@bad7.txt"], None),
    ({"lint": True}, ["supress:x"], 'supress:x: unknown action "supress"; did you mean "suppress"?'),
    ({"lint": True}, ["@bad7.txt"], '@bad7.txt:7: unknown action "supress"; did you mean "suppress"?'),
    ({"lint": True}, ["@-"], '@-: <stdin>:7: unknown action "supress"; did you mean "suppress"?'),
    ({"lint": True, "verbs": {"note"}}, ["escalate:x"], 'escalate:x: unknown action "escalate"; allowed: ["note"]'),
    ({"verbs": {"allow", "deny"}}, ["Allow:x"], 'Allow:x: unknown action "Allow"; did you mean "allow"?'),
    ({"verbs": {"allow", "deny"}}, ["zzz:x"], 'zzz:x: unknown action "zzz"; allowed: ["allow", "deny"]'),
    ({}, ["suppress:<>x"], "suppress:<>x: empty `<>` kind filter"),
    ({}, ["@missing.txt"], "@missing.txt: No such file or directory (os error 2)"),
])
def test_argparse_action_loads_values_or_names_the_one_that_failed(tmp_path, monkeypatch, capsys, options, values,
                                                                  shown):
    monkeypatch.chdir(tmp_path)
    (tmp_path / "bad7.txt").write_text(BAD7)
    monkeypatch.setattr(sys, "stdin", io.TextIOWrapper(io.BytesIO(BAD7.encode())))
    parser = argparse.ArgumentParser(prog="tool")
    parser.add_argument("-D", dest="directives", action=DirectiveAction, **options)
    argv = [arg for value in values for arg in ("-D", value)]
    if isinstance(shown, str):
        with pytest.raises(SystemExit):
            parser.parse_args(argv)
        assert capsys.readouterr().err.splitlines()[-1] == f"tool: error: argument -D: {shown}"
    elif shown is None:
        with pytest.raises(SystemExit):
            parser.parse_args(argv)
        assert "@bad7.txt:2: unknown action" in capsys.readouterr().err
    else:
        assert [str(d) for d in parser.parse_args(argv).directives] == shown


def test_argparse_action_keeps_origins_and_refuses_a_bad_setup(tmp_path):
    parser = argparse.ArgumentParser()
    parser.add_argument("-D", dest="sourced", action=DirectiveAction, sourced=True)
    (tmp_path / "r.txt").write_text(BAD7)
    got = parser.parse_args(["-D", "a:b", "-D", f"@{tmp_path / 'r.txt'}"]).sourced
    assert [s.origin.rsplit("/", 1)[-1] for s in got] == ["<inline>", "r.txt:2", "r.txt:4", "r.txt:6", "r.txt:7"]
    assert parser.parse_args([]).sourced == []
    for bad in ({"verbs": "allow"}, {"lint": True, "verbs": ["allow"]}, {"nargs": 2}):
        with pytest.raises((TypeError, ValueError)):
            argparse.ArgumentParser().add_argument("-D", action=DirectiveAction, **bad)


def test_click_type_loads_values_and_names_the_one_that_failed(tmp_path, monkeypatch):
    click = pytest.importorskip("click")
    from click.testing import CliRunner

    @click.command()
    @click.option("-D", "directives", type=click_type(lint=True), multiple=True)
    def main(directives):
        click.echo(" ".join(str(d) for value in directives for d in value))

    monkeypatch.chdir(tmp_path)
    (tmp_path / "bad7.txt").write_text(BAD7)
    ok = CliRunner().invoke(main, ["-D", "De-Escalate:x", "-D", "note:y"])
    assert (ok.exit_code, ok.output) == (0, "De-Escalate:x note:y\n")
    bad = CliRunner().invoke(main, ["-D", "@bad7.txt"])
    assert bad.exit_code == 2
    message = " ".join(bad.output.split())  # click wraps long lines
    assert "Invalid value for '-D': @bad7.txt:7: unknown action \"supress\"; did you mean \"suppress\"?" in message
    assert message.count("-D") == 1 and message.count("bad7.txt") == 1


def test_click_is_imported_only_by_the_click_helper():
    code = "import sys, quorvel.cli, quorvel.__main__; sys.exit('click' in sys.modules)"
    assert subprocess.run([sys.executable, "-c", code], env=ENV, timeout=60).returncode == 0


# The typos of a rules file that parse but can never apply as meant, each with a finding it must give.
TYPOS = [
    ("supress:long-line", 'unknown action "supress"; did you mean "suppress"?'),
    ("suppress:x@", 'empty PATH after "@"'),
    ("suppress:<py x", 'NAME "<py x" starts with "<" but has no ">"'),
    ("suppress:[a{b,c]d}", '"[a{b,c]" in NAME straddles a brace group'),
    ("suppress:{a,[b}c]", '"[b}c]" in NAME straddles a brace group'),
    ("suppress:{a[b,c]}", '"[b,c]" in NAME straddles a brace group'),
    ("suppress:x@{src}/*", 'brace group "{src}" in PATH has one choice'),
    ("suppress:" + "{a,b}" * 11, 'NAME "' + "{a,b}" * 11 + '" has more than 1024 brace alternatives'),
    ("suppress:x@[z-a]*", 'range "z-a" in PATH is reversed'),
    ("suppress:<py*>x", 'KIND "py*" is compared exactly'),
    ("set:<py>width=100", "a setting takes no KIND and no PATH"),
    ("suppress:x\\ @src", 'NAME "x\\" ends in a backslash that escapes nothing'),
    ("suppress:x[ab", '"[" in NAME "x[ab" has no closing "]"'),
    ("suppress:x{ab", '"{" in NAME "x{ab" has no closing "}"'),
    ("suppress x", "expected `ACTION:…` (no `:` found)"),
    ("ignore:E501", 'unknown action "ignore"; did you mean "suppress"?'),
    ("Dis-able:E501", 'unknown action "Dis-able"; did you mean "suppress"?'),
    ("suppress:E501,W291", 'NAME "E501,W291" holds "," outside braces: it is a literal comma, not a list of '
     'choices (write "{E501,W291}")'),
    ("suppress:x@./src/*", 'PATH "./src/*" starts with "./": scopes are compared byte for byte, and tools name '
     'files without it (write "src/*", or "\\./src/*" if yours does)'),
    ("suppress:E501  # long lines", 'NAME "E501  # long lines" holds "# long lines": a directive line has no'),
    ("suppress:<PY>x", 'KIND "PY" is compared byte for byte: the tool\'s qualifier is "py" (write "<py>")'),
    ("suppress:<pyhton>x", 'KIND "pyhton" is none of the tool\'s qualifiers ["py", "make"]: it never matches'),
    ("suppress:x\udcfe", "byte 0xfe at column 11 is not UTF-8: -D @FILE refuses the whole file"),
]


def test_check_flags_each_typo_on_its_line_and_passes_the_demo_rules(tmp_path):
    lines = []
    for directive, _ in TYPOS:
        lines += ["# a comment", "", directive]
    (tmp_path / "typos.txt").write_bytes(("\r\n".join(lines) + "\r\n").encode("utf-8", "surrogateescape"))
    found = run("check", "--kinds", "py, make", "typos.txt", cwd=tmp_path)
    assert found.returncode == 1
    for number, (directive, message) in enumerate(TYPOS):
        assert f"typos.txt:{3 * number + 3}: {message}" in found.stdout, directive
    assert len(re.findall(r"^typos\.txt:\d+: ", found.stdout, re.M)) == len(found.stdout.splitlines())
    clean = run("check", "examples/rules.txt", "-", stdin="note:*=ok\nnote:[{a,b}]{[x],y}@{ }\n")
    assert (clean.returncode, clean.stdout) == (0, "")
    assert run("check", "--verb", "advance", "-", stdin="advance:*=ok\nadvanse:x\n").stdout == \
        '<stdin>:2: unknown action "advanse"; did you mean "advance"?\n'


@settings(deadline=None)
@given(st.text(alphabet="ab<>\\@=*?[]{},!- \t\u3000#./", max_size=8), st.text(alphabet="ab{}[]\\ ,#./", max_size=6))
def test_check_finds_nothing_wrong_with_escaped_names_and_paths(name, scope):
    text = f"allow:{quorvel.escape(name)}@{quorvel.escape(scope)}=note\n"
    assert check_text(text, Verbs({"allow"})) == []


@pytest.mark.parametrize("command", ["check", "explain"])
def test_help_examples_run_as_shown(tmp_path, command):
    shown = run(command, "--help").stdout
    assert shown.startswith("usage:")
    example = shown.split("\nexample:\n", 1)[1]
    runs = []
    for line in example.splitlines():
        if line.startswith("  $ "):
            runs.append([line[4:], []])
        else:
            runs[-1][1].append(line[2:])
    bin_dir = tmp_path / "bin"
    bin_dir.mkdir()
    (bin_dir / "python3").symlink_to(sys.executable)
    env = dict(ENV, PATH=f"{bin_dir}{os.pathsep}{os.environ['PATH']}")
    for line, output in runs:
        got = subprocess.run(["bash", "-c", line], cwd=tmp_path, env=env, capture_output=True, text=True, timeout=60)
        assert got.stdout.splitlines() == output, line


def test_explain_shows_each_directive_and_ends_as_lint_fold_does():
    out = run("explain", "-D", "@examples/rules.txt", "-D", "escalate:<py>todo=fix", "--name", "todo",
              "--qualifier", "py", "--scope", "sample/tests/test_app.py", "--severity", "INFO")
    lines = out.stdout.splitlines()
    assert out.returncode == 0 and len(lines) == 2 * 7 + 1
    assert lines[2].split() == ["examples/rules.txt:5", "suppress:todo@sample/tests/*"]
    assert lines[3].strip() == "matched: drops the target"
    assert lines[-1] == 'todo (py) in sample/tests/test_app.py, starting at INFO: warning, dropped; notes ["fix"]'
    bad = run("explain", "-D", "x:y", "--name", "n", "--severity", "fatal")
    assert (bad.returncode, bad.stderr) == (
        2, 'python -m quorvel: unknown severity "fatal"; expected "error", "warning", or "info"\n')
