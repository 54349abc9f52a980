#!/usr/bin/env bash
# The project's virtual environment of one interpreter, .venv/VERSION/ (or
# .venv/system-VERSION/ for the system's python3), with the pinned development
# tools of requirements-dev.txt:
#   scripts/venv.sh PYTHON           pytest, hypothesis and click
#   scripts/venv.sh PYTHON --tools   every tool of the file (also typing and packaging)
# Prints the environment's python on standard output; pip's progress goes to
# standard error. Installs again only when requirements-dev.txt has changed.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh
python=$1
tools=${2:-}
version=$("$python" -c 'import platform; print(platform.python_version())')
case "$python" in
  /usr/*) name=system-$version ;;
  *) name=$version ;;
esac
dir=$PWD/.venv/$name
# What was installed last: the file's hash, and whether every tool was.
hash=$(sha256sum requirements-dev.txt | cut -d' ' -f1)
stamp="$hash $tools"
have=$(cat "$dir/.installed" 2>/dev/null || true)
if [ "$have" != "$stamp" ] && [ "$have" != "$hash --tools" ]; then
  mkdir -p .venv
  if [ ! -x "$dir/bin/python" ]; then
    echo "venv: creating .venv/$name (python -m venv, with its pip)" >&2
    "$python" -m venv "$dir" >&2
  fi
  echo "venv: .venv/$name: installing the pinned tools${tools:+ (all)}" >&2
  if [ -n "$tools" ]; then
    wanted=(-r requirements-dev.txt)
  else
    wanted=(-c requirements-dev.txt pytest hypothesis click)
  fi
  logged "$dir/install.log" "$dir/bin/python" -m pip install --progress-bar off "${wanted[@]}" >&2
  echo "$stamp" >"$dir/.installed"
fi
echo "$dir/bin/python"
