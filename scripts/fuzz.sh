#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time.
#   scripts/fuzz.sh [SECONDS_PER_TARGET]    (default 30)
# New inputs go to a scratch copy of the committed seed corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
scripts/setup.sh clang libclang-rt-14-dev
. scripts/lib.sh
echo "== building the fuzz targets into build-fuzz/"
mkdir -p build-fuzz
logged build-fuzz/configure.log env CC=clang CXX=clang++ cmake -S . -B build-fuzz -DQUORVEL_FUZZ=ON -DQUORVEL_TESTS=OFF -DQUORVEL_MODULE=OFF
logged build-fuzz/build.log cmake --build build-fuzz -j"$(nproc)"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for target in glob directive file quote; do
  mkdir -p "$work/$target"
  cp fuzz/corpus/"$target"/* "$work/$target"/
  echo "== fuzz_$target for ${seconds}s"
  if beating_quietly "$work/$target.log" build-fuzz/fuzz/fuzz_"$target" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
      -artifact_prefix="$work/crash-$target-" "$work/$target"; then
    tail -n 1 "$work/$target.log"
  else
    status=1
    tail -n 30 "$work/$target.log"
    mkdir -p fuzz/artifacts && cp "$work"/crash-"$target"-* fuzz/artifacts/ 2>/dev/null || true
    echo "fuzz_$target FAILED (artifacts in fuzz/artifacts)"
  fi
done
exit $status
