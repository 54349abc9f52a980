#!/usr/bin/env bash
# Builds into build/ against the oldest interpreter's headers, so that nothing
# newer than the 3.9 API can slip in.
#   scripts/build.sh                 the module, and the C++ unit tests when GoogleTest is found
#   scripts/build.sh --module        the module alone (build/_quorvel.abi3.so)
#   scripts/build.sh [--module] -DNAME=VALUE...   extra CMake settings (-DQUORVEL_TESTS=ON)
# Shows one line per compiled file; CMake's whole output goes to build/build.log
# and its end is shown when a step fails.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh
target=()
if [ "${1:-}" = --module ]; then
  target=(--target _quorvel)
  shift
fi
python=$(scripts/pythons.sh | sed -n 1p)
mkdir -p build
if ! logged build/configure.log cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DPython3_EXECUTABLE="$python" "$@" ||
   ! logged build/build.log cmake --build build -j"$(nproc)" "${target[@]}"; then
  echo "build: failed (logs in build/configure.log and build/build.log)" >&2
  exit 1
fi
