# SPDX-License-Identifier: MIT
# Sourced by the program-level test scripts, after they set $work: counts
# checks, waits on conditions with a deadline, and on exit ends the processes
# listed in $pids and removes $work.
failures=0
passes=0
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill -9 "$p" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT

check() {  # check <description> <command...>
  local what=$1; shift
  if "$@"; then passes=$((passes + 1)); else echo "FAIL: $what"; failures=$((failures + 1)); fi
}
now_ms() { date +%s%3N; }
wait_for() {  # wait_for <milliseconds> <command...>
  local deadline=$(( $(now_ms) + $1 )); shift
  until "$@"; do [ "$(now_ms)" -lt "$deadline" ] || return 1; sleep 0.1; done
}
