"""filter, baseline, --report-unused and explain over the real output of ruff, flake8,
pylint and mypy on a copy of part of the interpreter's standard library."""
import json
import os
import re
import shutil
import subprocess
import sys
import sysconfig
from pathlib import Path

import pytest

import _quorvel
import quorvel as package
from quorvel import _formats as fm

BIN = Path(sys.executable).parent
TOOLS = ("ruff", "flake8", "pylint", "mypy")
missing = [t for t in TOOLS if not (BIN / t).exists()]
if missing and os.environ.get("QUORVEL_REQUIRE_TOOLS"):  # the full test command insists on them
    raise RuntimeError(f"{', '.join(missing)} not installed beside {sys.executable}")
pytestmark = pytest.mark.skipif(bool(missing), reason=f"{', '.join(missing)} not installed beside {sys.executable} "
                                "(scripts/venv.sh PYTHON --tools installs them)")

# Output name -> (tool and arguments, format).
RUNS = {
    "ruff.sarif": (["ruff", "check", "--isolated", "--no-cache", "--select", "E,F,W,B,UP,PL", "--output-format",
                    "sarif"], "sarif"),
    "ruff.json": (["ruff", "check", "--isolated", "--no-cache", "--select", "E,F,W,B", "--output-format", "json"],
                  "ruff-json"),
    "ruff.txt": (["ruff", "check", "--isolated", "--no-cache", "--select", "E,F,W", "--output-format", "concise"],
                 "lines"),
    "flake8.txt": (["flake8", "--isolated"], "lines"),
    "pylint.json": (["pylint", "--output-format=json2", "--persistent=n"], "pylint-json2"),
    "pylint.txt": (["pylint", "--output-format=parseable", "--persistent=n"], "lines"),
    "mypy.json": (["mypy", "--no-incremental", "-O", "json"], "mypy-json"),
}


@pytest.fixture(scope="module")
def outputs(tmp_path_factory):
    """The folder holding the copied packages and each tool's output on them."""
    root = tmp_path_factory.mktemp("stdlib")
    stdlib = Path(sysconfig.get_paths()["stdlib"])
    for part in ("json", "email"):
        shutil.copytree(stdlib / part, root / part, ignore=shutil.ignore_patterns("__pycache__"))
    for name, (argv, _) in RUNS.items():
        done = subprocess.run([str(BIN / argv[0])] + argv[1:] + ["json", "email"], cwd=root, capture_output=True,
                              timeout=300)
        assert done.stdout.strip(), f"{argv[0]} wrote nothing: {done.stderr[-2000:]!r}"
        (root / name).write_bytes(done.stdout)
    return root


# The package and the module as this process imports them, from any working directory.
ENV = dict(os.environ, PYTHONPATH=os.pathsep.join(
    str(Path(m.__file__).resolve().parent.parent if m is package else Path(m.__file__).resolve().parent)
    for m in (package, _quorvel)))


def quorvel(root, *args):
    return subprocess.run([sys.executable, "-m", "quorvel", *args], cwd=root, capture_output=True, text=True,
                          timeout=300, env=ENV)


def findings(root, name, fmt):
    return list(fm.open_input(str(root / name), fmt, fm.Scopes(str(root))).findings())


@pytest.mark.parametrize("name", RUNS)
def test_baseline_round_trip_and_stale_report(outputs, name):
    fmt = RUNS[name][1]
    before = findings(outputs, name, fmt)
    assert len(before) > 5 and all(f.path.startswith(("json/", "email/")) for f in before)
    made = quorvel(outputs, "baseline", name, "-o", f"{name}.base")
    assert (made.returncode, made.stderr) == (0, "")
    done = quorvel(outputs, "filter", "-D", f"@{name}.base", "-D", "suppress:NOPE9", "--report-unused",
                   "--format", fmt, name, "-o", f"{name}.out")
    # Every baseline line suppressed something; only the stale inline one is named.
    assert (done.returncode, done.stderr) == (1, "<inline>: unused directive: suppress:NOPE9\n")
    out = outputs / f"{name}.out"
    if fmt != "sarif":
        assert findings(outputs, f"{name}.out", fmt) == []
        return
    doc = json.loads(out.read_text())
    results = [r for run in doc["runs"] for r in run["results"]]
    assert len(results) == len(before)
    for r in results:
        assert isinstance(r["ruleId"], str) and r["level"] in ("error", "warning", "note", "none")
        assert r["suppressions"][-1]["kind"] == "external" and r["suppressions"][-1]["justification"] == "baseline"
        assert r["locations"][0]["physicalLocation"]["artifactLocation"]["uri"]


def test_partial_directives_and_explain(outputs):
    before = findings(outputs, "pylint.json", "pylint-json2")
    codes = sorted({f.code for f in before})
    first = before[0]
    done = quorvel(outputs, "filter", "-D", f"suppress:<pylint>{first.symbol}@email/*",
                   "-D", "de-escalate:<pylint>E*", "--fail-on", "error", "pylint.json")
    left = json.loads(done.stdout)["messages"]
    assert len(left) == len([f for f in before if not (f.symbol == first.symbol and f.path.startswith("email/"))])
    assert all(m["type"] != "error" for m in left) and done.returncode == 0, codes
    why = quorvel(outputs, "explain", "-D", f"suppress:<pylint>{first.symbol}=why", "--finding", "1", "pylint.json")
    assert why.returncode == 0 and "matched: drops the target" in why.stdout and first.path in why.stdout


def test_docs_walk_runs_as_written(tmp_path):
    """Every command of docs/filter.md, in order, in an empty directory: the output and
    the exit status (`# exit status N`, else 0) that the page shows."""
    doc = (Path(__file__).resolve().parents[2] / "docs" / "filter.md").read_text()
    steps = re.findall(r"^\$ (.*)\n((?:(?!\$ |```).*\n)*)", "".join(re.findall(r"```console\n(.*?)```", doc, re.S)),
                       re.M)
    shim = tmp_path / "bin"
    shim.mkdir()
    (shim / "python3").symlink_to(sys.executable)
    env = dict(ENV, PATH=f"{shim}{os.pathsep}{BIN}{os.pathsep}{os.environ['PATH']}")
    work = tmp_path / "work"
    work.mkdir()
    assert len(steps) >= 8
    for command, shown in steps:
        status = re.search(r"# exit status (\d+)$", command)
        done = subprocess.run(["bash", "-c", command], cwd=work, env=env, capture_output=True, text=True, timeout=120)
        assert (done.stdout + done.stderr, done.returncode) == (shown, int(status.group(1)) if status else 0), command
