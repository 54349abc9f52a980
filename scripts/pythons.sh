#!/usr/bin/env bash
# Prints the CPython interpreters from 3.9 on that this machine has, one path
# a line, oldest first: the pyenv versions, or else the system python3.
#   scripts/pythons.sh            those
#   scripts/pythons.sh --system   those, then the system's /usr/bin/python3 too
set -euo pipefail
found=0
for minor in 9 10 11 12 13 14 15; do
  for dir in "$HOME"/.pyenv/versions/3."$minor".*; do
    [ -x "$dir/bin/python" ] || continue
    case "$dir" in *t) continue ;; esac  # free-threaded builds cannot load abi3
    echo "$dir/bin/python"
    found=1
  done
done
if [ "$found" = 0 ]; then
  command -v python3 || true
elif [ "${1:-}" = --system ] && [ -x /usr/bin/python3 ] &&
     /usr/bin/python3 -c 'import sys; sys.exit(sys.version_info < (3, 9))'; then
  echo /usr/bin/python3
fi
