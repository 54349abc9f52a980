#!/usr/bin/env bash
# The documented install recipe, run as written into a fresh virtual
# environment of the oldest CPython 3.9+:
#   pip install --no-index --find-links /usr/share/python-wheels .
# then the wheel that the same build makes, checked (tagged cp39-abi3, needing
# nothing beyond the C and C++ runtimes) and installed into a fresh virtual
# environment of every other CPython 3.9+. Each environment uses the module.
set -uo pipefail
cd "$(dirname "$0")/.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mapfile -t pythons < <(scripts/pythons.sh)
version_expected=$(sed -n 's/^project(quorvel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

# Uses the module installed in the environment $1 (run outside the source tree).
use_module() {
  (cd "$work" && QUORVEL_VERSION=$version_expected "$1/bin/python" - <<'PY'
import importlib.metadata as md, os, _quorvel as q
assert "/venv-" in q.__file__, q.__file__
assert md.version("quorvel") == os.environ["QUORVEL_VERSION"], md.version("quorvel")
assert md.metadata("quorvel")["License"] == "MIT"
assert any(str(f).endswith(".dist-info/LICENSE") for f in md.files("quorvel"))
d = q.expand("escalate:<py>long-*@src/*=why")[0]
assert q.lint_fold("warning", [d], ["long-line"], qualifier="py", scopes=["src/a"]) == ("error", False, ["why"])
assert os.path.exists(os.path.join(os.path.dirname(q.__file__), "_quorvel.pyi"))
assert os.path.exists(os.path.join(os.path.dirname(q.__file__), "_quorvel-stubs", "py.typed"))
print("  ok:", md.version("quorvel"), q.__file__)
PY
  )
}

status=0
passed=0
failed=0
# Records one environment's outcome.
outcome() {
  if [ "$2" = 0 ]; then
    echo "$1: installed and works"
    passed=$((passed + 1))
  else
    echo "$1: FAILED"
    failed=$((failed + 1))
    status=1
  fi
}

builder=${pythons[0]}
version=$("$builder" -c 'import platform; print(platform.python_version())')
env="$work/venv-$version"
echo "== wheel: the documented recipe under CPython $version"
ok=1
if "$builder" -m venv "$env" >/dev/null 2>&1 &&
   "$env/bin/python" -m pip install -q --no-index --find-links /usr/share/python-wheels . >"$work/recipe.log" 2>&1; then
  use_module "$env" && ok=0
else
  cat "$work/recipe.log"
fi
outcome "CPython $version (recipe)" $ok

# The same environment builds the wheel file (the CMake build above is reused).
if ! "$env/bin/python" -m pip wheel -q --no-index --find-links /usr/share/python-wheels --no-deps \
    -w "$work/dist" . >"$work/build.log" 2>&1; then
  cat "$work/build.log"
  echo "wheel: the wheel file could not be built"
  exit 1
fi
wheels=("$work"/dist/*.whl)
wheel=${wheels[0]}
echo "built $(basename "$wheel")"
case "$(basename "$wheel")" in
  *-cp39-abi3-*.whl) ;;
  *) echo "wheel is not tagged cp39-abi3" >&2; exit 1 ;;
esac

# Dynamic dependencies: the C and C++ runtimes only.
mkdir -p "$work/unpacked"
"$builder" -m zipfile -e "$wheel" "$work/unpacked"
needed=$(readelf -d "$work/unpacked/_quorvel.abi3.so" | sed -n 's/.*NEEDED.*\[\(.*\)\]/\1/p' | sort | tr '\n' ' ')
echo "needs: $needed"
for lib in $needed; do
  case "$lib" in
    libstdc++.so.*|libgcc_s.so.*|libc.so.*|libm.so.*|ld-linux*) ;;
    *) echo "unexpected dependency: $lib" >&2; exit 1 ;;
  esac
done

for py in "${pythons[@]:1}"; do
  version=$("$py" -c 'import platform; print(platform.python_version())')
  env="$work/venv-$version"
  ok=1
  if "$py" -m venv "$env" >/dev/null 2>&1 &&
     "$env/bin/python" -m pip install -q --no-index "$wheel" >/dev/null 2>&1; then
    use_module "$env" && ok=0
  fi
  outcome "CPython $version (the wheel)" $ok
done
echo "wheel: $passed passed, $failed failed"
exit $status
