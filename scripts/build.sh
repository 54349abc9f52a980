#!/usr/bin/env bash
# Builds into build/ against the oldest interpreter's headers, so that nothing
# newer than the 3.9 API can slip in.
#   scripts/build.sh                 the module, and the C++ unit tests when GoogleTest is found
#   scripts/build.sh --module        the module alone (build/_quorvel.abi3.so)
#   scripts/build.sh [--module] -DNAME=VALUE...   extra CMake settings (-DQUORVEL_TESTS=ON)
# CMake's output goes to build/build.log; it is shown when a step fails.
set -euo pipefail
cd "$(dirname "$0")/.."
target=()
if [ "${1:-}" = --module ]; then
  target=(--target _quorvel)
  shift
fi
python=$(scripts/pythons.sh | sed -n 1p)
mkdir -p build
log=build/build.log
if ! { cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DPython3_EXECUTABLE="$python" "$@" &&
       cmake --build build -j"$(nproc)" "${target[@]}"; } >"$log" 2>&1; then
  cat "$log" >&2
  echo "build: failed (log above, also in $log)" >&2
  exit 1
fi
