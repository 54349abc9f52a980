"""The README's usage block runs as written from the repository root, and every
line that gives a value shows that value in its comment."""
import ast
import os
import subprocess
import sys

from docblocks import ROOT, commented_results, fenced, read, sections

# The README's usage block.
USAGE = next(body for lang, body in fenced(dict(sections(read("README.md")))["Usage"]) if lang == "python")


def test_usage_block_runs_from_the_repository_root_as_a_script():
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in sys.path if p))
    proc = subprocess.run([sys.executable, "-c", USAGE], cwd=ROOT, env=env, capture_output=True, text=True,
                          timeout=60)
    assert proc.returncode == 0, proc.stderr


def test_every_expression_line_shows_its_value(monkeypatch):
    monkeypatch.chdir(ROOT)
    namespace = {}
    shown = dict(commented_results(USAGE))
    assert len(shown) >= 10 and None not in shown.values()
    for node in ast.parse(USAGE).body:
        source = ast.get_source_segment(USAGE, node)
        if isinstance(node, ast.Expr):
            assert repr(eval(source, namespace)) == shown[source], source
        else:
            exec(compile(ast.Module(body=[node], type_ignores=[]), "README usage", "exec"), namespace)
