#!/usr/bin/env bash
# Installs the Debian packages that a fresh machine lacks, and nothing else.
#   scripts/setup.sh --module        what building the module needs: CMake, g++ and
#                                    the headers of a CPython 3.9+ (the demo needs no more)
#   scripts/setup.sh [PACKAGE...]    that, plus the test tools, plus any Debian packages named
# Run as root to install; otherwise a missing package is an error.
set -euo pipefail
cd "$(dirname "$0")/.."

module_only=0
if [ "${1:-}" = --module ]; then
  module_only=1
  shift
fi

need=()
command -v cmake >/dev/null || need+=(cmake)
command -v g++ >/dev/null || need+=(g++)
# The module builds against the oldest interpreter found; a system python3
# (no pyenv) needs Debian's headers and venv.
python=$(scripts/pythons.sh | sed -n 1p)
if [ -z "$python" ]; then
  need+=(python3 python3-dev python3-venv)
elif ! "$python" -c 'import os, sysconfig, sys; sys.exit(not os.path.exists(os.path.join(sysconfig.get_paths()["include"], "Python.h")))'; then
  need+=(python3-dev)
fi

if [ "$module_only" = 0 ]; then
  [ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
  [ -f /usr/lib/python3/dist-packages/pytest/__init__.py ] || need+=(python3-pytest)
  [ -d /usr/lib/python3/dist-packages/hypothesis ] || need+=(python3-hypothesis)
  [ -d /usr/lib/python3/dist-packages/exceptiongroup ] || need+=(python3-exceptiongroup)
  [ -d /usr/lib/python3/dist-packages/tomli ] || need+=(python3-tomli)
  # The offline install takes setuptools and wheel from Debian's wheel files;
  # mypy checks the type stubs (stubtest) and their use (the typing check).
  ls /usr/share/python-wheels/setuptools-*.whl >/dev/null 2>&1 || need+=(python3-setuptools-whl)
  ls /usr/share/python-wheels/wheel-*.whl >/dev/null 2>&1 || need+=(python3-wheel-whl)
  [ -d /usr/lib/python3/dist-packages/mypy ] || need+=(python3-mypy)
  if [ -n "$python" ] && ! "$python" -c 'import ensurepip' 2>/dev/null; then
    need+=(python3-venv)
  fi
  for extra in "$@"; do
    dpkg -s "$extra" >/dev/null 2>&1 || need+=("$extra")
  done
fi

if [ ${#need[@]} -gt 0 ]; then
  if [ "$(id -u)" != 0 ]; then
    echo "setup: missing Debian packages: ${need[*]} (run as root to install them)" >&2
    exit 1
  fi
  echo "setup: installing ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  log=$(mktemp)
  trap 'rm -f "$log"' EXIT
  if ! { apt-get update -q && apt-get install -y -q "${need[@]}"; } >"$log" 2>&1; then
    cat "$log" >&2
    echo "setup: apt-get failed" >&2
    exit 1
  fi
fi
