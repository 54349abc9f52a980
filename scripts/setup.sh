#!/usr/bin/env bash
# Installs the Debian packages that a fresh machine lacks, and nothing else;
# the Python tools come from the package index into .venv/ (scripts/venv.sh).
#   scripts/setup.sh --module        what building the module needs: CMake, g++ and
#                                    the headers of a CPython 3.9+ (the demo needs no more)
#   scripts/setup.sh [PACKAGE...]    that, plus GoogleTest for the C++ unit tests, plus
#                                    venv for the system's python3, plus any Debian packages named
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
  # Debian's python3 makes its virtual environments with Debian's venv.
  for py in $(scripts/pythons.sh --system); do
    if ! "$py" -c 'import ensurepip, venv' 2>/dev/null; then
      need+=(python3-venv)
      break
    fi
  done
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
  . scripts/lib.sh
  log=$(mktemp)
  trap 'rm -f "$log"' EXIT
  logged "$log" apt-get update || exit 1
  logged "$log" apt-get install -y "${need[@]}" || exit 1
fi
