#!/usr/bin/env bash
# Sets up what the checks need, builds the module and the C++ unit tests, then
# runs every check and ends with one summary line per check and the count:
#   C++ unit tests; the Python tests under every CPython from 3.9 on that the
#   machine has and under the system's python3, against the one .so; stubtest
#   (the stubs against the module); the typing check (mypy on correct uses and
#   misuses); the examples of docs/*.md and the README's usage block, run as
#   written; the packaging checks (scripts/test_wheel.sh).
# The test tools are those pinned in requirements-dev.txt, in a virtual
# environment per interpreter under .venv/ (scripts/venv.sh).
#   scripts/test.sh [PYTEST_ARGS...]   arguments go to the Python tests' pytest
set -uo pipefail
cd "$(dirname "$0")/.."

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
# Runs one check under a heading and records its outcome.
check() {
  local title=$1
  shift
  echo "== $title"
  "$@"
  record "$title" $?
}
# Prints the summary and the count, and exits non-zero when any check failed.
finish() {
  echo "== Summary"
  printf '%s\n' "${summary[@]}"
  echo "checks: $(( ${#summary[@]} - failed )) passed, $failed failed"
  [ "$failed" -eq 0 ]
  exit $?
}

check "set-up (Debian packages)" scripts/setup.sh
mapfile -t pythons < <(scripts/pythons.sh --system)
mapfile -t versioned < <(scripts/pythons.sh)
if [ ${#versioned[@]} -eq 0 ]; then
  record "CPython 3.9+ found" 1
  finish
fi
newest=${versioned[-1]}

# The virtual environments: the newest interpreter's has every tool, the
# others' pytest and hypothesis.
venvs() {
  local py status=0
  for py in "${pythons[@]}"; do
    if [ "$py" = "$newest" ]; then
      scripts/venv.sh "$py" --tools >/dev/null || status=1
    else
      scripts/venv.sh "$py" >/dev/null || status=1
    fi
  done
  return $status
}
check "set-up (virtual environments with the pinned tools)" venvs
check "build (module and C++ unit tests)" scripts/build.sh -DQUORVEL_TESTS=ON
if [ "$failed" != 0 ]; then
  finish
fi

check "C++ unit tests" bash -c 'cd build && ctest --output-on-failure -j"$(nproc)"'

# The tests see the module in build/ and the package at the repository root.
test_env=(env PYTHONPATH="$PWD/build:$PWD")
for py in "${pythons[@]}"; do
  venv=$(scripts/venv.sh "$py" 2>/dev/null)
  version=$("$py" -c 'import platform; print(platform.python_version())')
  [ "$py" = /usr/bin/python3 ] && version="$version (the system's python3)"
  echo "== Python tests under CPython $version ($py)"
  "${test_env[@]}" "$venv" -m pytest -q -p no:cacheprovider tests/python "$@"
  record "CPython $version" $?
done

tools=$(scripts/venv.sh "$newest" --tools 2>/dev/null)
mypy_env=(env MYPYPATH="$PWD" PYTHONPATH="$PWD/build")
check "stubtest (the stubs against the module)" "${mypy_env[@]}" "$tools" -m mypy.stubtest _quorvel
check "typing (mypy: correct uses pass, misuses are flagged)" "${mypy_env[@]}" "$tools" -m mypy \
  --strict --warn-unused-ignores --cache-dir "$PWD/build/mypy-cache" tests/typing
check "doc examples (docs/api.md, docs/directives.md)" \
  "${test_env[@]}" "$tools" -m pytest -q -p no:cacheprovider tests/docs/test_doc_examples.py
check "README usage block, run from the repository root" \
  "${test_env[@]}" "$tools" -m pytest -q -p no:cacheprovider tests/docs/test_readme_usage.py
check "packaging (sdist, manylinux wheel, audits, installs under the oldest and newest CPython)" \
  scripts/test_wheel.sh "$tools"
finish
