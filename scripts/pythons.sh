#!/usr/bin/env bash
# Prints the CPython interpreters from 3.9 on that this machine has, one path
# a line, oldest first: the pyenv versions, or else the system python3.
set -euo pipefail
found=0
for minor in 9 10 11 12 13 14 15; do
  for dir in /root/.pyenv/versions/3."$minor".*; do
    [ -x "$dir/bin/python" ] || continue
    case "$dir" in *t) continue ;; esac  # free-threaded builds cannot load abi3
    echo "$dir/bin/python"
    found=1
  done
done
if [ "$found" = 0 ] && command -v python3 >/dev/null; then
  command -v python3
fi
