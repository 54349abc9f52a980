#!/usr/bin/env bash
# Builds the module and runs the main job: the example line checker over the
# sample files, with directives inline, from a rules file and from stdin.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh >/dev/null
export PYTHONPATH="$PWD/build"
py=$(scripts/pythons.sh | sed -n '$p')
cd examples
"$py" demo.py
