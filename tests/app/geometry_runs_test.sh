#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Starts and closes the built program many times in a row under a window
# manager (openbox, twm, or none), never moving its window: the stored
# geometry must not change by a byte. Each manager gets a virtual screen of
# its own, and the managers run side by side: most of a run is the splash's
# wait, which costs no processor time.
#   geometry_runs_test.sh PROGRAM X_WINDOW_TOOL MANAGER... [-- RUNS]
set -uo pipefail
program=$1 tool=$2
shift 2
managers=() runs=20
while [ $# -gt 0 ]; do
  case $1 in
    --) runs=$2; shift 2 ;;
    *) managers+=("$1"); shift ;;
  esac
done

if [ "${#managers[@]}" -gt 1 ] || [ -z "${GEOMETRY_RUNS_SCREEN:-}" ]; then
  logs=$(mktemp -d /tmp/ticklark-runs-logs.XXXXXX)
  trap 'rm -rf "$logs"' EXIT
  children=()
  for manager in "${managers[@]}"; do
    (
      # A free display number, chosen by the server itself; a server that reset
      # when the last client goes would refuse the next run now and then.
      exec 3>"$logs/$manager.display"
      Xvfb -displayfd 3 -noreset -screen 0 1600x1200x24 -nolisten tcp >/dev/null 2>&1 &
      server=$!
      for _ in $(seq 100); do [ -s "$logs/$manager.display" ] && break; sleep 0.1; done
      DISPLAY=:$(head -1 "$logs/$manager.display") GEOMETRY_RUNS_SCREEN=1 \
        "$0" "$program" "$tool" "$manager" -- "$runs"
      status=$?
      kill "$server" 2>/dev/null
      exit $status
    ) >"$logs/$manager.log" 2>&1 &
    children+=($!)
  done
  failed=0
  for i in "${!managers[@]}"; do
    wait "${children[$i]}" || failed=1
    sed "s/^/${managers[$i]}: /" "$logs/${managers[$i]}.log"
  done
  exit $failed
fi
manager=${managers[0]}
work=$(mktemp -d /tmp/ticklark-runs.XXXXXX)
# HOME too: twm runs with its default configuration.
export GTK_A11Y=none HOME=$work XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data XDG_CACHE_HOME=$work/cache
settings=$XDG_CONFIG_HOME/Ticklark2/settings.ini
wm_pid= pid=
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null
  [ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
now_ms() { date +%s%3N; }
until_true() {  # until_true <milliseconds> <command...>: polls until it succeeds
  local deadline=$(( $(now_ms) + $1 )); shift
  until "$@"; do
    [ "$(now_ms)" -ge "$deadline" ] && return 1
    sleep 0.05
  done
}

case $manager in
  openbox|twm)
    "$manager" >/dev/null 2>&1 &
    wm_pid=$!
    until_true 10000 timeout 5 "$tool" managed || { echo "FAIL: $manager did not start"; exit 1; }
    ;;
  none) ;;
  *) echo "unknown window manager $manager"; exit 2 ;;
esac

# Outer bounds 100,80 800x600 pixels: a position and size no default has.
mkdir -p "$(dirname "$settings")"
printf '[Settings]\nMainLeft=1500\nMainTop=1200\nMainWidth=12000\nMainHeight=9000\n' >"$settings"
stored_values() { grep -E '^Main(Left|Top|Width|Height)=' "$settings" | tr '\n' ' '; }
expected_values=$(stored_values)

main=
find_main() {  # the window named "Ticklark 2" that is not the 470 x 256 splash
  local id size
  for id in $(timeout 5 xdotool search --onlyvisible --pid "$pid" --name '^Ticklark 2$' 2>/dev/null); do
    size=$(xwininfo -id "$id" 2>/dev/null | sed -n 's/^ *Width: //p; s/^ *Height: //p' | tr '\n' ' ')
    if [ -n "$size" ] && [ "$size" != "470 256 " ]; then
      main=$id
      return 0
    fi
  done
  return 1
}
outer_bounds() { timeout 5 "$tool" outer "$main"; }
placed_as_stored() { [ "$(outer_bounds)" = "100 80 800 600" ]; }
ended() { ! kill -0 "$pid" 2>/dev/null; }

failures=0
before=
for run in $(seq "$runs"); do
  # An application id of its own: other runs of the program on the same
  # session bus would otherwise take this start as a second launch.
  "$program" --gapplication-app-id="org.ticklark.Ticklark2.Runs$$" >"$work/out.txt" 2>&1 &
  pid=$!
  if ! until_true 30000 find_main; then
    echo "FAIL: run $run: no main window"; tail -5 "$work/out.txt"; failures=$((failures + 1)); break
  fi
  # A person looks at the window for a moment before closing it; a window that
  # never reaches its stored place is closed where it is.
  until_true 5000 placed_as_stored
  outer=$(outer_bounds)
  timeout 5 "$tool" close "$main"
  if ! until_true 15000 ended; then
    echo "FAIL: run $run: the program did not end"; tail -5 "$work/out.txt"; failures=$((failures + 1)); break
  fi
  wait "$pid"
  pid=
  after=$(cat "$settings")
  echo "run $run ($manager): window at $outer, stored $(stored_values)"
  # The first run writes the file in the store's own layout; from then on not
  # a byte may change.
  if [ "$(stored_values)" != "$expected_values" ] || { [ -n "$before" ] && [ "$after" != "$before" ]; }; then
    echo "FAIL: run $run changed settings.ini"; diff <(echo "${before:-$expected_values}") <(echo "$after")
    failures=$((failures + 1)); break
  fi
  before=$after
done

[ "$failures" -eq 0 ] && echo "settings.ini unchanged after $runs runs under $manager"
[ "$failures" -eq 0 ]
