# Sourced by the scripts: runs long steps so that they show progress without
# flooding the terminal.

# The lines worth showing while a step runs: CMake's configure steps, compile
# steps (ninja, make), pip's downloads and installs, the build front end's and
# back end's headlines, apt-get's downloads and installs.
progress_lines='^ *(\[ *[0-9]+(/[0-9]+|%)\]|Collecting|Downloading|Installing|Successfully|Building (wheel|sdist)|\*\*\* |\* [A-Z]|-- |Get:|Unpacking|Setting up)'

# logged LOG COMMAND...: runs COMMAND with its whole output in LOG, showing the
# progress lines (indented) as they come; when COMMAND fails, shows the last
# part of LOG. Returns COMMAND's status.
logged() {
  local log=$1
  shift
  "$@" 2>&1 | tee "$log" | { grep --line-buffered -E "$progress_lines" || true; } | sed -u -e 's/^\(.\{150\}\).*/\1/' -e 's/^/    /'
  local status=${PIPESTATUS[0]}
  if [ "$status" != 0 ]; then
    echo "---- last lines of $log" >&2
    tail -n 60 "$log" >&2
  fi
  return "$status"
}
