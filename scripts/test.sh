#!/usr/bin/env bash
# Builds everything, runs the C++ unit tests, then the Python tests under
# every CPython from 3.9 on that the machine has, against the one .so.
set -uo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh || exit 1
scripts/build.sh || exit 1

status=0
echo "== C++ unit tests"
(cd build && ctest --output-on-failure -j"$(nproc)") || status=1

mapfile -t pythons < <(scripts/pythons.sh)
if [ ${#pythons[@]} -eq 0 ]; then
  echo "no CPython 3.9+ found" >&2
  exit 1
fi
declare -a summary
for py in "${pythons[@]}"; do
  version=$("$py" -c 'import platform; print(platform.python_version())')
  echo "== Python tests under CPython $version ($py)"
  if PYTHONPATH="$PWD/build:/usr/lib/python3/dist-packages" "$py" -m pytest -q -p no:cacheprovider tests/python "$@"; then
    summary+=("CPython $version: passed")
  else
    summary+=("CPython $version: FAILED")
    status=1
  fi
done

echo "== Type stubs (mypy stubtest)"
if [ -x /usr/bin/python3 ] && /usr/bin/python3 -c 'import mypy.stubtest' 2>/dev/null; then
  if MYPYPATH="$PWD" PYTHONPATH="$PWD/build" /usr/bin/python3 -m mypy.stubtest _quorvel; then
    summary+=("stubtest: passed")
  else
    summary+=("stubtest: FAILED")
    status=1
  fi
else
  echo "mypy is not available: stubtest not run"
fi

echo "== Wheel"
if scripts/test_wheel.sh; then
  summary+=("wheel: passed")
else
  summary+=("wheel: FAILED")
  status=1
fi

echo "== Summary"
printf '%s\n' "${summary[@]}"
failed=$(printf '%s\n' "${summary[@]}" | grep -c FAILED || true)
echo "checks: $(( ${#summary[@]} - failed )) passed, $failed failed"
exit $status
