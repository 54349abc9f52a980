#!/usr/bin/env bash
# Builds the module, the floor module and the core micro-benchmarks, then runs
# every benchmark; every figure is a ratio measured in this one run.
#   bench/run.sh [--quick]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh -DQUORVEL_BENCH=ON >/dev/null
echo "== core micro-benchmarks (Google Benchmark)"
build/bench/core_bench --benchmark_min_time=0.1 2>/dev/null
py=$(scripts/pythons.sh | sed -n '$p')
PYTHONPATH="$PWD/build:$PWD/build/bench" "$py" bench/run.py "$@"
"$py" bench/glob_bench.py "$@"
