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

check() {  # check <description> <command...>: fails as the command does
  local what=$1; shift
  if "$@"; then passes=$((passes + 1)); else echo "FAIL: $what"; failures=$((failures + 1)); return 1; fi
}
now_ms() { date +%s%3N; }
wait_for() {  # wait_for <milliseconds> <command...>
  local deadline=$(( $(now_ms) + $1 )); shift
  until "$@"; do [ "$(now_ms)" -lt "$deadline" ] || return 1; sleep 0.1; done
}
not() { ! "$@"; }
gone() { ! kill -0 "$1" 2>/dev/null; }  # gone <pid>
# Whether a window manager has taken the screen. The root window keeps the
# announcement of one that was killed; wmctrl then finds no window behind it.
wm_ready() { wmctrl -m 2>/dev/null | grep -q '^Name: '; }
start_wm() {
  openbox >/dev/null 2>&1 &
  pids+=($!)
  check "the window manager takes the screen" wait_for 10000 wm_ready
}
minimised() { xprop -id "$1" _NET_WM_STATE 2>/dev/null | grep -q '_NET_WM_STATE_HIDDEN'; }
menu_open() {  # menu_open <pid>: one of the program's menus is on the screen
  local id
  for id in $(xdotool search --onlyvisible --pid "$1" 2>/dev/null); do
    xprop -id "$id" _NET_WM_WINDOW_TYPE 2>/dev/null | grep -q '_NET_WM_WINDOW_TYPE_MENU$' && return 0
  done
  return 1
}

# strip_in_shot <png>: the share of dark blue in the top right of a shot of the
# main window is the market strip's ground, where an error page or a notice is
# light. ImageMagick 7.1 (Debian 13) writes a stray line before what -fx
# answers: the answer is the last line.
strip_in_shot() {
  [ "$(convert "$1" -crop 600x60+350+30 +repage \
    -fx 'b>0.15 && r<0.2 && b>r+0.1 ? 1 : 0' -format '%[fx:mean>0.5]' info: 2>/dev/null |
    tail -n 1)" = 1 ]
}
