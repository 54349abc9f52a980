#!/usr/bin/env bash
# Builds the module and the C++ unit tests, then runs every check and ends
# with one summary line per check and a count:
#   C++ unit tests; the Python tests under every CPython from 3.9 on that the
#   machine has, against the one .so; stubtest (the stubs against the module);
#   the typing check (mypy on correct uses and misuses of the stubs); the
#   examples of docs/*.md and the README's usage block, run as written; the
#   wheel, installed with the documented recipe into fresh environments.
#   scripts/test.sh [PYTEST_ARGS...]   arguments go to the Python tests' pytest
set -uo pipefail
cd "$(dirname "$0")/.."

summary=()
failed=0
# Records the outcome of one check; every failure is counted, whatever failed.
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
check "build (module and C++ unit tests)" scripts/build.sh -DQUORVEL_TESTS=ON
if [ "$failed" != 0 ]; then
  finish
fi

check "C++ unit tests" bash -c 'cd build && ctest --output-on-failure -j"$(nproc)"'

mapfile -t pythons < <(scripts/pythons.sh)
if [ ${#pythons[@]} -eq 0 ]; then
  record "CPython 3.9+ found" 1
  finish
fi
pytest_env=(env PYTHONPATH="$PWD/build:/usr/lib/python3/dist-packages")
for py in "${pythons[@]}"; do
  version=$("$py" -c 'import platform; print(platform.python_version())')
  echo "== Python tests under CPython $version ($py)"
  "${pytest_env[@]}" "$py" -m pytest -q -p no:cacheprovider tests/python "$@"
  record "CPython $version" $?
done
newest=${pythons[-1]}

# mypy runs under Debian's python3, which has it; the module is abi3, so that
# interpreter loads the same build.
mypy_env=(env MYPYPATH="$PWD" PYTHONPATH="$PWD/build")
check "stubtest (the stubs against the module)" "${mypy_env[@]}" /usr/bin/python3 -m mypy.stubtest _quorvel
check "typing (mypy: correct uses pass, misuses are flagged)" "${mypy_env[@]}" /usr/bin/python3 -m mypy \
  --strict --warn-unused-ignores --cache-dir "$PWD/build/mypy-cache" tests/typing
check "doc examples (docs/api.md, docs/directives.md)" \
  "${pytest_env[@]}" "$newest" -m pytest -q -p no:cacheprovider tests/docs/test_doc_examples.py
check "README usage block, run from the repository root" \
  "${pytest_env[@]}" "$newest" -m pytest -q -p no:cacheprovider tests/docs/test_readme_usage.py
check "wheel (the documented install recipe)" scripts/test_wheel.sh
finish
