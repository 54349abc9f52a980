#!/usr/bin/env bash
# Builds one cp39-abi3 wheel offline, checks that the module needs nothing
# beyond the C and C++ runtime, then installs the wheel (--no-index) into a
# fresh virtual environment of every CPython 3.9+ and uses it there.
set -uo pipefail
cd "$(dirname "$0")/.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mapfile -t pythons < <(scripts/pythons.sh)
builder=${pythons[0]}

echo "== wheel: building with $builder"
if ! "$builder" -m pip wheel -q --no-index --find-links /usr/share/python-wheels --no-deps -w "$work/dist" . \
    >"$work/build.log" 2>&1; then
  cat "$work/build.log"
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

version_expected=$(sed -n 's/^project(quorvel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
status=0
passed=0
failed=0
for py in "${pythons[@]}"; do
  version=$("$py" -c 'import platform; print(platform.python_version())')
  env="$work/venv-$version"
  if "$py" -m venv "$env" >/dev/null 2>&1 &&
     "$env/bin/python" -m pip install -q --no-index "$wheel" >/dev/null 2>&1 &&
     (cd "$work" && QUORVEL_VERSION=$version_expected "$env/bin/python" - <<'PY'
import importlib.metadata as md, os, _quorvel as q
assert "/venv-" in q.__file__, q.__file__
assert md.version("quorvel") == os.environ["QUORVEL_VERSION"], md.version("quorvel")
d = q.expand("escalate:<py>long-*@src/*=why")[0]
assert q.lint_fold("warning", [d], ["long-line"], qualifier="py", scopes=["src/a"]) == ("error", False, ["why"])
assert os.path.exists(os.path.join(os.path.dirname(q.__file__), "_quorvel.pyi"))
assert os.path.exists(os.path.join(os.path.dirname(q.__file__), "_quorvel-stubs", "py.typed"))
print("  ok:", md.version("quorvel"), q.__file__)
PY
     ); then
    echo "CPython $version: wheel installed and works"
    passed=$((passed + 1))
  else
    echo "CPython $version: wheel FAILED"
    failed=$((failed + 1))
    status=1
  fi
done
echo "wheel: $passed passed, $failed failed"
exit $status
