"""The calls of tests/typing/uses.py at run time: what mypy accepts works, and
what mypy must flag raises TypeError, so the stubs refuse what the module refuses."""
import importlib.util
import os
import re

import pytest

# The file of uses that mypy checks, loaded as a module.
USES_PATH = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "typing", "uses.py")
_spec = importlib.util.spec_from_file_location("typing_uses", USES_PATH)
uses = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(uses)


@pytest.mark.parametrize("index", range(len(uses.CORRECT)))
def test_correct_use_works(index):
    uses.CORRECT[index]()


@pytest.mark.parametrize("index", range(len(uses.MISUSES)))
def test_misuse_raises_type_error(index):
    with pytest.raises(TypeError):
        uses.MISUSES[index]()


def test_every_misuse_names_the_error_mypy_must_report():
    with open(USES_PATH, encoding="utf-8") as f:
        source = f.read()
    block = source[source.index("\nMISUSES:"):]
    calls = [line for line in block.splitlines() if line.lstrip().startswith("lambda")]
    assert len(calls) == len(uses.MISUSES)
    unmarked = [line for line in calls if not re.search(r"# type: ignore\[[a-z-]+\]$", line)]
    assert unmarked == []
