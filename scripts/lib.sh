# Sourced by the scripts: runs long steps so that they show progress without
# flooding the terminal, and never stay silent for more than 10 seconds.

# The lines worth showing while a step runs: CMake's configure steps, compile
# steps (ninja, make), pip's downloads and installs, the build front end's and
# back end's headlines, apt-get's downloads and installs.
progress_lines='^ *(\[ *[0-9]+(/[0-9]+|%)\]|Collecting|Downloading|Installing|Successfully|Building (wheel|sdist)|\*\*\* |\* [A-Z]|-- |Get:|Unpacking|Setting up)'

# beating COMMAND...: runs COMMAND with its output shown as it comes; while
# nothing has been shown for 8 seconds, prints a line saying what still runs
# and for how long. Returns COMMAND's status.
beating() {
  local shown status start=$SECONDS
  shown=$(mktemp)
  (
    last=0 quiet=0
    while sleep 2; do
      size=$(stat -c %s "$shown" 2>/dev/null) || exit 0
      if [ "$size" != "$last" ]; then
        last=$size quiet=0
      else
        quiet=$((quiet + 2))
        if [ "$quiet" -ge 8 ]; then
          printf '    ... still running (%ss): %.80s\n' $((SECONDS - start)) "${beat_label:-$*}"
          quiet=0
        fi
      fi
    done
  ) &
  local ticker=$!
  status=0
  # (Python flushes each line, or each of pytest's dots, as it comes.)
  PYTHONUNBUFFERED=1 "$@" 2>&1 | tee "$shown" || status=${PIPESTATUS[0]}
  kill "$ticker" 2>/dev/null || true
  wait "$ticker" 2>/dev/null || true
  rm -f "$shown"
  return "$status"
}

# logged LOG COMMAND...: runs COMMAND with its whole output in LOG, showing the
# progress lines (indented) as they come, and a heartbeat between them; when
# COMMAND fails, shows the last part of LOG. Returns COMMAND's status.
logged() {
  local log=$1
  shift
  local beat_label="$*"
  local status=0
  beating _filtered "$log" "$@" || status=$?
  if [ "$status" != 0 ]; then
    echo "---- last lines of $log" >&2
    tail -n 60 "$log" >&2
  fi
  return "$status"
}
_filtered() {
  local log=$1
  shift
  local status=0
  "$@" 2>&1 | tee "$log" | { grep --line-buffered -E "$progress_lines" || true; } |
    sed -u -e 's/^\(.\{150\}\).*/\1/' -e 's/^/    /' || status=${PIPESTATUS[0]}
  return "$status"
}

# beating_quietly LOG COMMAND...: runs COMMAND with its whole output in LOG
# and nothing shown but the heartbeat. Returns COMMAND's status.
beating_quietly() {
  local log=$1
  shift
  local beat_label="$*"
  beating _quietly "$log" "$@"
}
_quietly() {
  local log=$1
  shift
  "$@" >"$log" 2>&1
}
