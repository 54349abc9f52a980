#!/usr/bin/env bash
# Builds build/_quorvel.abi3.so (and the C++ unit tests) against the oldest
# interpreter's headers, so that nothing newer than the 3.9 API can slip in.
set -euo pipefail
cd "$(dirname "$0")/.."
python=$(scripts/pythons.sh | sed -n 1p)
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DPython3_EXECUTABLE="$python" "$@" >/dev/null
cmake --build build -j"$(nproc)"
