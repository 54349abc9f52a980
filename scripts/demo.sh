#!/usr/bin/env bash
# The demo: builds the module alone and runs examples/demo.py, the example
# line checker and review workflow driven by -D values. One line per step;
# a step that fails shows its output.
set -euo pipefail
cd "$(dirname "$0")/.."
echo "demo: checking for CMake, g++ and the Python headers (installs what is missing, as root)"
scripts/setup.sh --module
echo "demo: building the module into build/_quorvel.abi3.so"
scripts/build.sh --module
py=$(scripts/pythons.sh | sed -n '$p')
echo "demo: running examples/demo.py with $("$py" -c 'import platform; print("CPython", platform.python_version())')"
export PYTHONPATH="$PWD/build:$PWD"
exec "$py" examples/demo.py
