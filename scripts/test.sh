#!/usr/bin/env bash
# Sets up what the checks need, builds, runs the checks and ends with one
# summary line per check and the count.
#   scripts/test.sh --quick [PYTEST_ARGS...]
#     the loop while developing: the module and the C++ unit tests built with
#     g++ into build/, the C++ unit tests, the Python tests under the newest
#     CPython against build/; no packaging
#   scripts/test.sh [--sdist] [PYTEST_ARGS...]
#     everything: that; the four portable wheels built with zig into dist/
#     (scripts/wheels.sh); the Python tests under every other CPython 3.9+ and
#     the system's python3 against build/, and under the oldest and the newest
#     against the x86_64 wheel installed in fresh environments; stubtest (the
#     stubs against the module); the typing check (mypy on correct uses and
#     misuses); the examples of docs/*.md and the README's usage block, run as
#     written; the packaging checks (scripts/test_wheel.sh: the sdist, the
#     wheels' tags and abi3 claim, the aarch64 wheel under emulation).
#     --sdist also builds and installs the sdist with pip (g++), as CI does.
# Each toolchain compiles the module once: g++ into build/, zig into
# build-wheel/TARGET/ (both incremental); the packaging checks install the
# wheels built. The test tools are those pinned in requirements-dev.txt, in a
# virtual environment per interpreter under .venv/ (scripts/venv.sh).
set -uo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh

quick=0
sdist=
while [ $# -gt 0 ]; do
  case "$1" in
    --quick) quick=1 ;;
    --sdist) sdist=--sdist ;;
    *) break ;;
  esac
  shift
done

start=$SECONDS
summary=()
failed=0
# Records the outcome of one check; every failure is counted, whatever failed
# (pytest's exit status 5, no test collected, included).
record() {
  if [ "$2" = 0 ]; then
    summary+=("$1: passed")
  else
    summary+=("$1: FAILED")
    failed=$((failed + 1))
  fi
}
# Runs one check under a heading (with the time so far) and records its outcome.
check() {
  local title=$1
  shift
  echo "== $title [$((SECONDS - start))s]"
  "$@"
  record "$title" $?
}
# Prints the summary and the count, and exits non-zero when any check failed.
finish() {
  echo "== Summary ($((SECONDS - start))s)"
  printf '%s\n' "${summary[@]}"
  echo "checks: $(( ${#summary[@]} - failed )) passed, $failed failed"
  [ "$failed" -eq 0 ]
  exit $?
}
version_of() {
  local v
  v=$("$1" -c 'import platform; print(platform.python_version())')
  [ "$1" = /usr/bin/python3 ] && v="$v (the system's python3)"
  echo "$v"
}

check "set-up (Debian packages)" scripts/setup.sh
mapfile -t versioned < <(scripts/pythons.sh)
if [ ${#versioned[@]} -eq 0 ]; then
  record "CPython 3.9+ found" 1
  finish
fi
newest=${versioned[-1]}
oldest=${versioned[0]}
if [ "$quick" = 1 ]; then
  pythons=("$newest")
else
  mapfile -t pythons < <(scripts/pythons.sh --system)
fi

# The virtual environments: the newest interpreter's has every tool (in the
# quick loop, pytest and hypothesis only), the others' pytest and hypothesis.
venvs() {
  local py status=0
  for py in "${pythons[@]}"; do
    if [ "$py" = "$newest" ] && [ "$quick" = 0 ]; then
      scripts/venv.sh "$py" --tools >/dev/null || status=1
    else
      scripts/venv.sh "$py" >/dev/null || status=1
    fi
  done
  return $status
}
check "set-up (virtual environments with the pinned tools)" venvs
check "build (g++: module and C++ unit tests, build/)" scripts/build.sh -DQUORVEL_TESTS=ON
if [ "$failed" != 0 ]; then
  finish
fi

# The two test programs side by side, each reporting its count; the output of
# one that fails is shown whole.
cpp_tests() {
  local dir status=0 t
  dir=$(mktemp -d)
  for t in core_tests glob_steps_test; do
    build/$t --gtest_brief=1 >"$dir/$t.log" 2>&1 &
  done
  for t in core_tests glob_steps_test; do
    wait -n || status=1
  done
  for t in core_tests glob_steps_test; do
    if grep -q '^\[  PASSED  \]' "$dir/$t.log" && ! grep -q FAILED "$dir/$t.log"; then
      echo "   $t: $(grep '^\[  PASSED  \]' "$dir/$t.log")"
    else
      cat "$dir/$t.log"
      status=1
    fi
  done
  rm -rf "$dir"
  return $status
}
check "C++ unit tests" beating cpp_tests

if [ "$quick" = 0 ]; then
  check "wheels (zig: manylinux2014 and musllinux_1_2, x86_64 and aarch64, dist/)" scripts/wheels.sh
fi

# The tests see the module in build/ and the package at the repository root.
# In the full run the oldest and the newest run them against the installed
# wheel instead (in the packaging checks).
test_env=(env PYTHONPATH="$PWD/build:$PWD")
for py in "${pythons[@]}"; do
  if [ "$quick" = 0 ] && [ ${#versioned[@]} -gt 1 ] && { [ "$py" = "$oldest" ] || [ "$py" = "$newest" ]; }; then
    continue
  fi
  venv=$(scripts/venv.sh "$py" 2>/dev/null)
  version=$(version_of "$py")
  echo "== Python tests under CPython $version, build/ [$((SECONDS - start))s]"
  beating "${test_env[@]}" "$venv" -m pytest -q -p no:cacheprovider tests/python "$@"
  record "CPython $version (g++ build)" $?
done
if [ "$quick" = 1 ]; then
  finish
fi

tools=$(scripts/venv.sh "$newest" --tools 2>/dev/null)
mypy_env=(env MYPYPATH="$PWD" PYTHONPATH="$PWD/build")
check "stubtest (the stubs against the module)" "${mypy_env[@]}" "$tools" -m mypy.stubtest _quorvel
check "typing (mypy: correct uses pass, misuses are flagged)" beating "${mypy_env[@]}" "$tools" -m mypy \
  --strict --warn-unused-ignores --cache-dir "$PWD/build/mypy-cache" tests/typing
check "doc examples (docs/api.md, docs/directives.md)" \
  "${test_env[@]}" "$tools" -m pytest -q -p no:cacheprovider tests/docs/test_doc_examples.py
check "README usage block, run from the repository root" \
  "${test_env[@]}" "$tools" -m pytest -q -p no:cacheprovider tests/docs/test_readme_usage.py
check "real linters' findings through filter, baseline and explain (ruff, flake8, pylint, mypy)" \
  beating "${test_env[@]}" QUORVEL_REQUIRE_TOOLS=1 "$tools" -m pytest -q -p no:cacheprovider tests/python/test_filter_tools.py
check "packaging (sdist, the wheels' audits, the x86_64 wheel under the oldest and newest CPython, the aarch64 one emulated)" \
  scripts/test_wheel.sh "$tools" $sdist
finish
