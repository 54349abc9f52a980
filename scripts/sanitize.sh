#!/usr/bin/env bash
# The C++ unit tests and the Python suite under AddressSanitizer and
# UndefinedBehaviorSanitizer (g++). For Python the sanitizer runtimes are
# preloaded and the interpreter's own leaks at exit are suppressed.
#   scripts/sanitize.sh [all|quick|ends]   quick: C++ tests and the oldest interpreter;
#                                          ends: the oldest and the newest
set -uo pipefail
cd "$(dirname "$0")/.."
mode=${1:-all}
scripts/setup.sh || exit 1
python=$(scripts/pythons.sh | sed -n 1p)
. scripts/lib.sh
echo "== building into build-asan/"
mkdir -p build-asan
logged build-asan/configure.log cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DQUORVEL_SANITIZE=ON -DQUORVEL_TESTS=ON -DPython3_EXECUTABLE="$python" || exit 1
logged build-asan/build.log cmake --build build-asan -j"$(nproc)" || exit 1

status=0
echo "== C++ unit tests under ASan+UBSan"
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
beating env ASAN_OPTIONS=detect_leaks=1 build-asan/core_tests --gtest_brief=1 || status=1

preload="$(g++ -print-file-name=libasan.so):$(g++ -print-file-name=libubsan.so)"
supp=$(mktemp)
trap 'rm -f "$supp"' EXIT
cat >"$supp" <<'SUPP'
# The interpreter keeps much of what it allocates until the process ends.
leak:^Py
leak:^_Py
leak:^_PyObject
leak:^PyObject_
leak:^PyMem
leak:^_PyMem
leak:python
leak:libpython
leak:_ctypes
SUPP
mapfile -t pythons < <(scripts/pythons.sh)
[ "$mode" = quick ] && pythons=("${pythons[0]}")
[ "$mode" = ends ] && pythons=("${pythons[0]}" "${pythons[-1]}")
for py in "${pythons[@]}"; do
  version=$("$py" -c 'import platform; print(platform.python_version())')
  venv=$(scripts/venv.sh "$py") || { status=1; continue; }
  echo "== Python tests under ASan+UBSan, CPython $version"
  if beating env LD_PRELOAD="$preload" ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=0 \
      LSAN_OPTIONS="suppressions=$supp:print_suppressions=0" PYTHONMALLOC=malloc \
      PYTHONPATH="$PWD/build-asan:$PWD" \
      "$venv" -m pytest -q -p no:cacheprovider tests/python -k "not wheel"; then
    :
  else
    status=1
  fi
done
exit $status
