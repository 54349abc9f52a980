"""quorvel.Policy against lint_fold, and filter/baseline over every format against a
reference fold of each finding."""
import io
import json
import os
import signal
import stat
import subprocess
import sys
import threading
import time

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import quorvel
from quorvel import _formats as fm
from quorvel.__main__ import main
from quorvel._policy import literal_text

# Small alphabets, so that literal and glob directives often hit the targets.
ATOMS = ["a", "b", "E1", "x-y", "*", "?", "[ab]", "{a,b}", "\\*", "\\", ",", "}", "]", "\\{", "é"]
TEXTS = ["a", "b", "E1", "x-y", "*", "ab", "{a,b}", "\\", ",", "}", "]", "{", "é", "", "a,b"]
pattern = st.lists(st.sampled_from(ATOMS), min_size=1, max_size=3).map("".join)
verbs = st.sampled_from(["suppress", "escalate", "de-escalate", "Note", "set", "allow"])
kinds = st.sampled_from([None, "ruff", "py"])


@st.composite
def directives(draw):
    text = draw(verbs) + ":"
    kind = draw(kinds)
    if kind:
        text += f"<{kind}>"
    text += draw(pattern)
    if draw(st.booleans()):
        text += "@" + draw(pattern)
    if draw(st.booleans()):
        text += "=" + draw(st.sampled_from(["n1", "n2", ""]))
    try:
        return quorvel.parse(text)
    except quorvel.DirectiveError:
        return quorvel.parse("note:a=n3")


targets = st.tuples(st.sampled_from(["error", "warning", "info", "WARNING"]),
                    st.lists(st.sampled_from(TEXTS), max_size=3), kinds,
                    st.one_of(st.none(), st.lists(st.sampled_from(TEXTS), max_size=2)))


@settings(max_examples=400, deadline=None)
@given(st.lists(directives(), max_size=12), st.lists(targets, min_size=1, max_size=6))
def test_policy_folds_as_lint_fold_and_counts_matches(ds, folds):
    policy = quorvel.Policy(ds)
    expected_uses = [0] * len(ds)
    for current, names, qualifier, scopes in folds:
        want = quorvel.lint_fold(current, ds, names, qualifier=qualifier, scopes=scopes)
        assert policy.lint_fold(current, names, qualifier=qualifier, scopes=scopes) == want
        for i, d in enumerate(ds):
            counted = quorvel.explain("warning", [d], names, qualifier=qualifier, scopes=scopes).trace[0].matched
            expected_uses[i] += counted
    assert policy.used() == expected_uses
    assert [e.directive for e in policy.unused()] == [d for d, n in zip(ds, expected_uses) if n == 0]


@given(pattern, st.sampled_from(TEXTS))
def test_literal_text_is_the_one_text_a_pattern_matches(p, text):
    literal = literal_text(p)
    if literal is not None:
        assert quorvel.glob_match(p, literal)
        assert quorvel.glob_match(p, text) == (text == literal)


def test_policy_errors_and_threads_match_lint_fold():
    ds = [quorvel.parse("suppress:a"), quorvel.parse("note:*=n")]
    policy = quorvel.Policy([(d, f"f:{i}") for i, d in enumerate(ds)])
    for args, kw in [(("fatal", ["a"]), {}), ((5, ["a"]), {}), (("info", "a"), {}), (("info", ["a"]), {"scopes": "p"})]:
        with pytest.raises(Exception) as mine:
            policy.lint_fold(*args, **kw)
        with pytest.raises(Exception) as theirs:
            quorvel.lint_fold(args[0], ds, args[1], **kw)
        assert type(mine.value) is type(theirs.value)
    assert policy.used() == [0, 0]
    threads = [threading.Thread(target=lambda: [policy.lint_fold("info", ["a"]) for _ in range(500)])
               for _ in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert policy.used() == [2000, 2000]
    assert [e.origin for e in policy.entries()] == ["f:0", "f:1"]


# ---------------------------------------------------------------- formats

FINDINGS = [  # tool, code, symbol, path, line, level (the tool's word)
    ("ruff", "E501", "line-too-long", "src/a.py", 3, "error"),
    ("ruff", "F401", "unused-import", "src/b.py", 1, "warning"),
    ("ruff", "E501", "line-too-long", "tests/t,1.py", 9, "note"),
    ("ruff", "C901", "too-complex", "src/a.py", 20, "warning"),
]
PYLINT_TYPE = {"error": "error", "warning": "warning", "note": "convention"}
MYPY_LEVEL = {"error": "error", "warning": "error", "note": "note"}


def render(fmt):
    if fmt == "sarif":
        rules = [{"id": c, "name": s} for _, c, s, *_ in FINDINGS]
        results = [{"ruleId": c, "level": lv, "message": {"text": "m"},
                    "locations": [{"physicalLocation": {"artifactLocation": {"uri": p}, "region": {"startLine": n}}}]}
                   for _, c, _, p, n, lv in FINDINGS]
        run = {"tool": {"driver": {"name": "Ruff", "rules": rules}}, "results": results}
        return json.dumps({"version": "2.1.0", "runs": [run]}, indent=2)
    if fmt == "ruff-json":
        return json.dumps([{"code": c, "name": s, "filename": p, "location": {"row": n, "column": 1},
                            "message": "m"} for _, c, s, p, n, _ in FINDINGS])
    if fmt == "pylint-json2":
        return json.dumps({"messages": [{"type": PYLINT_TYPE[lv], "messageId": c, "symbol": s, "path": p, "line": n,
                                         "column": 0, "message": "m"} for _, c, s, p, n, lv in FINDINGS],
                           "statistics": {}})
    if fmt == "mypy-json":
        return "".join(json.dumps({"file": p, "line": n, "column": 0, "message": "m", "hint": None, "code": s,
                                   "severity": MYPY_LEVEL[lv]}) + "\n" for _, _, s, p, n, lv in FINDINGS)
    return "".join(f"{p}:{n}:1: {c} m\n" for _, c, _, p, n, _ in FINDINGS)


FORMATS = list(fm.FORMATS)


def run(argv, stdin=b""):
    """main(argv) in this process: (status, stdout, stderr)."""
    out, err = io.StringIO(), io.StringIO()
    old = sys.stdin, sys.stdout, sys.stderr
    sys.stdin = io.TextIOWrapper(io.BytesIO(stdin))
    sys.stdout, sys.stderr = out, err
    try:
        try:
            status = main(argv)
        except SystemExit as e:
            status = e.code
    finally:
        sys.stdin, sys.stdout, sys.stderr = old
    return status, out.getvalue(), err.getvalue()


def kept(fmt, text):
    """(code or symbol, path) of the findings that an output keeps (SARIF: unsuppressed)."""
    if fmt == "sarif":
        res = json.loads(text)["runs"][0]["results"]
        return sorted((r["ruleId"], r["locations"][0]["physicalLocation"]["artifactLocation"]["uri"])
                      for r in res if not r.get("suppressions"))
    with open("kept.out", "w") as f:
        f.write(text)
    return sorted((f.code, f.path) for f in fm.open_input("kept.out", fmt, fm.Scopes()).findings())


@pytest.fixture
def inputs(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)

    def write(fmt):
        path = tmp_path / f"in.{fmt}"
        path.write_text(render(fmt))
        return str(path)
    return write


@settings(max_examples=30, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(st.lists(st.sampled_from(["suppress:E501", "suppress:<ruff>*@src/*=old", "escalate:F401",
                                 "suppress:line-too-long@tests/t\\,1.py", "note:*=n", "suppress:<pylint>*"]),
                max_size=4), st.sampled_from(FORMATS), st.booleans())
def test_filter_keeps_what_a_reference_fold_keeps(inputs, ds, fmt, detect):
    path = inputs(fmt)
    reader = fm.open_input(path, fmt, fm.Scopes())
    parsed = [quorvel.parse(d) for d in ds]
    want = sorted((f.code, f.path) for f in reader.findings()
                  if not quorvel.lint_fold(f.severity, parsed, f.names, qualifier=f.tool, scopes=[f.path])[1])
    argv = ["filter", "--fail-on", "never"] + [a for d in ds for a in ("-D", d)] + ([] if detect else ["--format", fmt])
    status, out, err = run(argv + [path])
    assert (status, err) == (0, "")
    assert kept(fmt, out) == want


@pytest.mark.parametrize("fmt", FORMATS)
def test_baseline_round_trip_and_stale_lines(inputs, tmp_path, fmt):
    path = inputs(fmt)
    base = str(tmp_path / "base.txt")
    assert run(["baseline", path, "-o", base])[0] == 0
    lines = [line for line in open(base) if not line.startswith("#")]
    assert lines == sorted(lines, key=lambda s: (s.split("@")[1], s)) and all(s.endswith("=baseline\n") for s in lines)
    status, out, err = run(["filter", "-D", "@" + base, "-D", "suppress:<ruff>X1", "--report-unused", path])
    assert kept(fmt, out) == []
    assert status == 1 and err == "<inline>: unused directive: suppress:<ruff>X1\n"


def test_output_to_a_fifo_or_through_a_link_keeps_what_is_there(inputs, tmp_path):
    # -o is written whole or not at all by renaming a temporary file over OUT, but a FIFO
    # or device (/dev/null) must stay what it is, and a link keeps pointing at its file.
    path = inputs("lines")
    fifo, target, link = tmp_path / "fifo", tmp_path / "target.txt", tmp_path / "link.txt"
    os.mkfifo(fifo)
    target.write_text("old")
    link.symlink_to(target)
    got = []
    reader = threading.Thread(target=lambda: got.append(fifo.read_text()))
    reader.start()
    assert run(["filter", "--fail-on", "never", path, "-o", str(fifo)])[0] == 0
    reader.join(10)
    assert stat.S_ISFIFO(os.lstat(fifo).st_mode) and got == [render("lines")]
    assert run(["filter", "--fail-on", "never", path, "-o", str(link)])[0] == 0
    assert link.is_symlink() and target.read_text() == render("lines")


def test_sarif_suppression_level_and_notes(inputs):
    path = inputs("sarif")
    status, out, _ = run(["filter", "-D", "suppress:F401=legacy", "-D", "escalate:C901=n", path])
    results = json.loads(out)["runs"][0]["results"]
    assert status == 1  # C901 moved to error and stays
    assert results[1]["suppressions"][0]["kind"] == "external"
    assert results[1]["suppressions"][0]["justification"] == "legacy"
    assert (results[3]["level"], results[3]["properties"]["quorvel"]["notes"]) == ("error", ["n"])
    assert "level" not in results[0] or results[0]["level"] == "error"


BAD = [
    ("sarif", b'{"runs": [', "in.txt:1:11: truncated JSON (sarif)"),
    ("sarif", b'{"runs": [{"tool": {"driver": {}}}]}', "runs[0].tool.driver: no 'name'"),
    ("sarif", b"[]", "this is ruff-json, not sarif"),
    ("ruff-json", b'[{"filename": "a.py"}]', "[0]: no 'code'"),
    ("pylint-json2", b'{"messages": [{"type": "error", "messageId": "E1"}]}', "messages[0]: no 'absolutePath'"),
    ("mypy-json", b'{"file": "a", "severity": "error"}\n{"file": ', "in.txt:2:"),
    ("lines", b"a.py:1:1: E1 m\nnonsense\n", "in.txt:2: not PATH:LINE"),
    (None, b"", "empty input"),
    (None, b"hello\n", "cannot tell the format"),
    ("sarif", b"\xff{}", "not UTF-8"),
]


@pytest.mark.parametrize("fmt,data,message", BAD)
def test_bad_input_exits_2_and_writes_nothing(tmp_path, monkeypatch, fmt, data, message):
    monkeypatch.chdir(tmp_path)
    (tmp_path / "in.txt").write_bytes(data)
    status, out, err = run(["filter", "-o", "out"] + (["--format", fmt] if fmt else []) + ["in.txt"])
    assert (status, out) == (2, "")
    assert err.startswith("python -m quorvel: in.txt") and message in err and "Traceback" not in err
    assert list(tmp_path.iterdir()) == [tmp_path / "in.txt"]


def test_a_document_over_the_limit_is_refused(tmp_path, monkeypatch):
    monkeypatch.setattr(fm, "DOCUMENT_LIMIT", 100)
    monkeypatch.chdir(tmp_path)
    (tmp_path / "in.sarif").write_text(render("sarif"))
    status, out, err = run(["filter", "in.sarif"])
    assert (status, out) == (2, "") and err.startswith("python -m quorvel: in.sarif")


def test_ctrl_c_ends_with_130_and_no_traceback():
    child = subprocess.Popen([sys.executable, "-m", "quorvel", "filter", "--format", "lines"], stdin=subprocess.PIPE,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    child.stdin.write(b"a.py:1:1: E1 m\n")
    child.stdin.flush()
    time.sleep(2)  # reading standard input, which stays open
    child.send_signal(signal.SIGINT)
    out, err = child.communicate(timeout=60)
    assert (child.returncode, out, b"Traceback" in err) == (130, b"", False)


def test_closed_pipe_is_quiet(tmp_path):
    big = tmp_path / "big.txt"
    big.write_text("".join(f"a.py:{i}:1: E1 m\n" for i in range(200000)))
    cmd = f"{sys.executable} -m quorvel filter --format lines {big} | head -c 10"
    done = subprocess.run(["sh", "-c", cmd], capture_output=True, timeout=120)
    assert (done.stdout, done.stderr) == (b"a.py:0:1: ", b"")


def test_docs_policy_session():
    import doctest
    import os
    import re
    doc = open(os.path.join(os.path.dirname(__file__), "..", "..", "docs", "filter.md"), encoding="utf-8").read()
    session = "".join(re.findall(r"```python\n(.*?)```", doc, re.S))
    test = doctest.DocTestParser().get_doctest(session, {}, "filter.md", "docs/filter.md", 0)
    assert test.examples and doctest.DocTestRunner().run(test) == (0, len(test.examples))


def test_lines_headings_summaries_and_continued_messages(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    (tmp_path / "in.txt").write_text("************* Module a\na.py:1: [R0801(duplicate-code), ] Similar lines\n"
                                     "==a:[1:2]\n    x = 1\na.py:2: [C0114(missing-module-docstring), ] M\n")
    assert run(["filter", "-D", "suppress:<pylint>duplicate-code", "in.txt"])[:2] == (
        0, "a.py:2: [C0114(missing-module-docstring), ] M\n")
    assert run(["filter", "-D", "suppress:C0114", "in.txt"])[:2] == (
        0, "a.py:1: [R0801(duplicate-code), ] Similar lines\n==a:[1:2]\n    x = 1\n")
    (tmp_path / "ok.txt").write_text("All checks passed!\n")
    assert run(["filter", "ok.txt"]) == (0, "", "")
