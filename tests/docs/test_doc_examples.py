"""Every example of docs/api.md, docs/directives.md and docs/package.md runs as
written and shows what the doc says."""
import os
import re
import shlex
import subprocess
import sys

import pytest

import _quorvel
from docblocks import ROOT, code_spans, fenced, read, run_source, sections, session_examples, tables

# The docs whose examples run here.
API = read("docs/api.md")
DIRECTIVES = read("docs/directives.md")
PACKAGE = read("docs/package.md")


@pytest.fixture(scope="module")
def api_session(tmp_path_factory):
    """Runs the sessions of docs/api.md in order, in one namespace, in an empty directory;
    gives the directory and what each example showed against what the doc shows."""
    work = tmp_path_factory.mktemp("api")
    cwd = os.getcwd()
    os.chdir(work)
    namespace = {"_quorvel": _quorvel}
    results = []
    try:
        for language, body in fenced(API):
            if language == "python" and body.startswith(">>> "):
                for source, expected in session_examples(body):
                    results.append((source, run_source(source, namespace), expected))
    finally:
        os.chdir(cwd)
    return work, results


def test_api_sessions_show_what_the_doc_says(api_session):
    _, results = api_session
    assert len(results) > 20
    wrong = [(source, got, expected) for source, got, expected in results if got != expected]
    assert wrong == []


def script_after(heading):
    """The first python block of a section of docs/api.md that is a script, not a session."""
    body = dict(sections(API))[heading]
    return next(b for lang, b in fenced(body) if lang == "python" and not b.startswith(">>> ")), body


def test_argparse_recipe_runs_the_console_examples_as_shown(api_session):
    work, _ = api_session
    script, body = script_after("Wiring `-D` into argparse")
    (work / "tool").write_text(script, encoding="utf-8")
    console = next(b for lang, b in fenced(body) if lang == "console")
    runs = []
    for line in console.splitlines():
        if line.startswith("$ "):
            runs.append([line[2:], []])
        else:
            runs[-1][1].append(line)
    assert len(runs) == 3
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in [ROOT] + sys.path if p))
    for command, shown in runs:
        args = shlex.split(command)
        assert args[:2] == ["python3", "tool"]
        proc = subprocess.run([sys.executable, *args[1:]], cwd=work, env=env, text=True, timeout=60,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        assert proc.stdout.splitlines() == shown, command
        assert proc.returncode == (2 if "error:" in proc.stdout else 0)


def test_click_recipe_is_valid_python():
    script, _ = script_after("Wiring `-D` into click")
    compile(script, "click recipe", "exec")


def directive_table():
    """The rows of the table of how directives are read."""
    body = dict(sections(DIRECTIVES))["One directive"]
    return next(t for t in tables(body) if "you write" in t[0])


def part(cell):
    """A cell of the parts table: absent when empty, "" for `(empty)`, else its first code span."""
    if cell == "":
        return None
    if cell == "(empty)":
        return ""
    return code_spans(cell)[0]


@pytest.mark.parametrize("row", directive_table(), ids=lambda row: row["you write"])
def test_directive_parts_are_read_as_shown(row):
    d = _quorvel.parse(code_spans(row["you write"])[0])
    got = (d.action, d.kind, d.name, d.path, d.note, str(d))
    columns = ("ACTION", "KIND", "NAME", "PATH", "NOTE", "the tool shows it as")
    assert got == tuple(part(row[c]) for c in columns)


def test_escaped_name_matches_the_text_the_doc_names():
    row = next(r for r in directive_table() if "matches the name" in r["NAME"])
    pattern, name = code_spans(row["NAME"])
    assert _quorvel.parse(code_spans(row["you write"])[0]).matches([name])
    assert _quorvel.glob_match(pattern, name)


def error_rows():
    """(directive, message) for every directive of the error table."""
    body = dict(sections(DIRECTIVES))["One directive"]
    table = next(t for t in tables(body) if "message" in t[0])
    return [(spec, row["message"]) for row in table for spec in code_spans(row["you wrote"])]


@pytest.mark.parametrize("spec,message", error_rows())
def test_error_table_shows_the_messages(spec, message):
    with pytest.raises(_quorvel.DirectiveError) as e:
        _quorvel.parse(spec)
    assert str(e.value) == message


def glob_rows():
    """The rows of the table of the glob's corners."""
    return [row for t in tables(dict(sections(DIRECTIVES))["The glob dialect"]) if "matches?" in t[0] for row in t]


@pytest.mark.parametrize("row", glob_rows(), ids=lambda row: f"{row['pattern']} {row['text']}")
def test_glob_corners_match_as_shown(row):
    (pattern,), (text,) = code_spans(row["pattern"]), code_spans(row["text"])
    assert _quorvel.glob_match(pattern, text) == {"yes": True, "no": False}[row["matches?"]]


def test_directive_file_example_gives_the_directives_shown(tmp_path):
    blocks = fenced(dict(sections(DIRECTIVES))["Directive files"])
    (_, content), (_, result) = blocks[:2]
    for ending in ("\n", "\r\n"):
        path = tmp_path / "rules.txt"
        path.write_bytes(content.replace("\n", ending).encode())
        assert [str(d) for d in _quorvel.expand(f"@{path}")] == result.splitlines()



def test_package_doc_runs_as_shown(tmp_path, monkeypatch):
    """docs/package.md: its sessions in one namespace, then its argparse tool and every console
    block in a shell, in one empty directory; the click tool where click is installed."""
    monkeypatch.chdir(tmp_path)
    namespace = {}
    results = [(source, run_source(source, namespace), expected)
               for language, body in fenced(PACKAGE) if language == "python" and body.startswith(">>> ")
               for source, expected in session_examples(body)]
    assert len(results) > 10 and [r for r in results if r[1] != r[2]] == []
    scripts = [body for language, body in fenced(PACKAGE) if language == "python" and not body.startswith(">>> ")]
    (tmp_path / "tool.py").write_text(scripts[0], encoding="utf-8")
    (tmp_path / "bin").mkdir()
    (tmp_path / "bin" / "python3").symlink_to(sys.executable)
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in [ROOT] + sys.path if p),
               PATH=f"{tmp_path / 'bin'}{os.pathsep}{os.environ['PATH']}")
    runs = []
    for language, body in fenced(PACKAGE):
        if language == "console":
            for line in body.splitlines():
                if line.startswith("$ "):
                    runs.append([line[2:], []])
                else:
                    runs[-1][1].append(line)
    assert len(runs) >= 6
    for command, shown in runs:
        proc = subprocess.run(["bash", "-c", command], cwd=tmp_path, env=env, text=True, timeout=60,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        assert proc.stdout.splitlines() == shown, command
    (tmp_path / "click_tool.py").write_text(scripts[1] + "\nmain()\n", encoding="utf-8")
    compile(scripts[1], "click tool", "exec")
    pytest.importorskip("click")
    proc = subprocess.run([sys.executable, "click_tool.py", "-D", "@bad.txt"], cwd=tmp_path, env=env, text=True,
                          timeout=60, capture_output=True)
    message = re.search(r"gives `([^`]*)`", PACKAGE).group(1)
    assert " ".join(message.split()) in " ".join(proc.stderr.split())
