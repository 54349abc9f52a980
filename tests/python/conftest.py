import os
import sys

import pytest

import _quorvel


@pytest.fixture
def q():
    return _quorvel


@pytest.fixture
def write_file(tmp_path):
    """Writes bytes (or text as UTF-8) to a new file and returns its path."""
    counter = [0]

    def write(content, name=None):
        counter[0] += 1
        path = tmp_path / (name or f"rules{counter[0]}.txt")
        path.write_bytes(content if isinstance(content, bytes) else content.encode())
        return str(path)

    return write


def pytest_report_header(config):
    return f"_quorvel from {_quorvel.__file__} under {sys.version.split()[0]} (pid {os.getpid()})"
