#!/usr/bin/env bash
# Installs what a fresh machine lacks: the compilers and CMake are on the
# machine; the test tools come from Debian's packages.
set -euo pipefail

need=()
command -v cmake >/dev/null || need+=(cmake)
command -v g++ >/dev/null || need+=(g++)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
[ -f /usr/lib/python3/dist-packages/pytest/__init__.py ] || need+=(python3-pytest)
[ -d /usr/lib/python3/dist-packages/hypothesis ] || need+=(python3-hypothesis)
[ -d /usr/lib/python3/dist-packages/exceptiongroup ] || need+=(python3-exceptiongroup)
[ -d /usr/lib/python3/dist-packages/tomli ] || need+=(python3-tomli)
# Offline wheel builds take setuptools and wheel from Debian's wheel files;
# mypy's stubtest checks the type stubs.
ls /usr/share/python-wheels/setuptools-*.whl >/dev/null 2>&1 || need+=(python3-setuptools-whl)
ls /usr/share/python-wheels/wheel-*.whl >/dev/null 2>&1 || need+=(python3-wheel-whl)
[ -d /usr/lib/python3/dist-packages/mypy ] || need+=(python3-mypy)
for extra in "$@"; do
  dpkg -s "$extra" >/dev/null 2>&1 || need+=("$extra")
done

if [ ${#need[@]} -gt 0 ]; then
  if [ "$(id -u)" != 0 ]; then
    echo "setup: missing Debian packages: ${need[*]} (run as root to install them)" >&2
    exit 1
  fi
  echo "setup: installing ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q >/dev/null
  apt-get install -y -q "${need[@]}" >/dev/null
fi
