#!/usr/bin/env bash
# Debian's arm64 CPython 3.11, unpacked from its package files (not installed)
# into build-wheel/arm64-python/, to run aarch64 wheels under qemu's user-mode
# emulation. As root, installs qemu-user-static and adds the arm64
# architecture to apt the first time.
#   scripts/arm64_python.sh     prints the path of DIR/usr/bin/python3.11-emulated,
#                               which runs qemu-aarch64-static -L DIR DIR/usr/bin/python3.11;
#                               it is also the interpreter's sys.executable, so that
#                               the subprocesses it starts run emulated too
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh
root=$PWD/build-wheel/arm64-python
# The interpreter, the libraries its standard library loads, and libgcc_s for
# the test tools' own compiled parts.
packages=(python3.11-minimal libpython3.11-minimal libpython3.11-stdlib libc6 libexpat1 zlib1g libffi8
          libssl3 libbz2-1.0 liblzma5 libsqlite3-0 libuuid1 libncursesw6 libtinfo6 libreadline8 libcrypt1
          libgcc-s1)
stamp="${packages[*]}"
python=$root/usr/bin/python3.11-emulated
if [ "$(cat "$root/.unpacked" 2>/dev/null)" = "$stamp" ] && command -v qemu-aarch64-static >/dev/null; then
  echo "$python"
  exit 0
fi
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! command -v qemu-aarch64-static >/dev/null || ! dpkg --print-foreign-architectures | grep -qx arm64; then
  if [ "$(id -u)" != 0 ]; then
    echo "arm64_python: needs qemu-user-static and apt's arm64 architecture (run as root)" >&2
    exit 1
  fi
  echo "arm64_python: adding apt's arm64 architecture and installing qemu-user-static" >&2
  dpkg --add-architecture arm64
  export DEBIAN_FRONTEND=noninteractive
  logged "$log" apt-get update >&2
  logged "$log" apt-get install -y qemu-user-static >&2
fi
echo "arm64_python: fetching ${#packages[@]} arm64 package files into $root" >&2
rm -rf "$root"
mkdir -p "$root/debs"
if ! (cd "$root/debs" && logged "$log" apt-get download "${packages[@]/%/:arm64}" >&2); then
  # An outdated package list names files the archive no longer has.
  [ "$(id -u)" = 0 ] && logged "$log" apt-get update >&2
  (cd "$root/debs" && logged "$log" apt-get download "${packages[@]/%/:arm64}" >&2)
fi
for deb in "$root"/debs/*.deb; do
  dpkg -x "$deb" "$root"
done
rm -rf "$root/debs"
# qemu's -0 hands the wrapper's path to the interpreter as its argv[0].
printf '#!/bin/sh\nexec qemu-aarch64-static -0 "$0" -L "%s" "%s/usr/bin/python3.11" "$@"\n' "$root" "$root" >"$python"
chmod +x "$python"
"$python" -c 'import platform, ssl, decimal, sqlite3, sys; assert platform.machine() == "aarch64"; assert sys.executable.endswith("-emulated")' >&2
echo "$stamp" >"$root/.unpacked"
echo "$python"
