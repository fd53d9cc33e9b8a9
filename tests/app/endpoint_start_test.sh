#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The program and its endpoint as a person meets them: started together, an
# endpoint already running used and left alone, another user's never asked,
# none left behind however the program ends, a second launch, and the endpoint
# under systemd's socket activation. Runs in a network namespace of its own
# (private_network.sh), where the fixed port 127.0.0.1:8642 is free.
#   endpoint_start_test.sh PROGRAM ENDPOINT
set -uo pipefail
program=$1
endpoint=$2
base=http://127.0.0.1:8642
strip=$base/ticklark/viewext/ticklark_ad_frame.asp
work=$(mktemp -d /tmp/ticklark-endpoint-start.XXXXXX)
chmod 755 "$work"
export XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data XDG_CACHE_HOME=$work/cache
mkdir -p "$XDG_CONFIG_HOME/Ticklark2"
# Wide enough for the whole market strip.
printf '[Settings]\nMainLeft=300\nMainTop=300\nMainWidth=15500\nMainHeight=9000\n' \
  >"$XDG_CONFIG_HOME/Ticklark2/settings.ini"
# Copies of this test never meet a copy of another test on the session bus.
app_id=org.ticklark.Ticklark2.EndpointStart$$
. "$(dirname "$0")/script_checks.sh"
endpoint_child() { pgrep -P "$pid" -f ticklark-endpoint; }
main_window() {  # the splash, 470 x 256, bears the same name
  main=
  for id in $(xdotool search --onlyvisible --pid "$pid" --name '^Ticklark 2$' 2>/dev/null); do
    xwininfo -id "$id" 2>/dev/null | grep -q 'Width: 470$' || main=$id
  done
  [ -n "$main" ]
}
strip_shown() {  # the main window, shot now, shows the market strip
  [ -n "$main" ] && import -window "$main" "$work/shot.png" 2>/dev/null &&
    strip_in_shot "$work/shot.png"
}

# start [env...]: the program in the background, its output in $work/out.txt;
# waits for its main window.
start() {
  env "$@" "$program" --gapplication-app-id="$app_id" >"$work/out.txt" 2>&1 &
  pid=$!
  pids+=("$pid")
  wait_for 20000 main_window
}
close_program() {
  wmctrl -i -c "$main"
  wait_for 10000 gone "$pid" && wait "$pid"
}
said() { grep -qF -- "$1" "$work/out.txt"; }
# Another user's copy of the endpoint, run from the work folder: the build tree
# may be where that user cannot enter.
start_other_users_endpoint() {
  setpriv --reuid=65534 --regid=65534 --clear-groups env XDG_CONFIG_HOME=/nonexistent \
    "$work/ticklark-endpoint" 2>"$work/other.log" &
  other=$!
  pids+=("$other")
}
listening_as() {  # listening_as <uid>: 127.0.0.1:8642 (hex) in state LISTEN
  awk -v uid="$1" '$2 == "0100007F:21C2" && $4 == "0A" && $8 == uid { found = 1 }
    END { exit !found }' /proc/net/tcp
}

start_wm

# The command lines, no window.
check "ticklark2 --version" test "$("$program" --version)" = "Ticklark 2 2.39.4"
check "ticklark-endpoint --version" test "$("$endpoint" --version)" = "ticklark-endpoint 2.39.4"
check "ticklark2 --help names --endpoint" bash -c "'$program' --help | grep -q -- --endpoint=BASE"
"$program" --endpoint ftp://example >/dev/null 2>"$work/err.txt"
check "a base that is not http or https is refused with status 2" test $? -eq 2
check "and says so" grep -q "takes an http or https address" "$work/err.txt"

# Nothing answers: the program starts the endpoint, shows the strip, stops it.
start
check "the main window shows" test -n "$main"
child=$(endpoint_child)
check "the program started the endpoint" test -n "$child"
check "the market strip shows in the ad pane" wait_for 15000 strip_shown
mkdir -p shots && cp "$work/shot.png" shots/endpoint-started-strip.png
check "Exit ends the program with status 0" close_program
check "and leaves no endpoint behind" wait_for 3000 gone "${child:-0}"

# An endpoint already running is used, and still runs after the program.
"$endpoint" 2>"$work/endpoint.log" &
running=$!
pids+=("$running")
check "an endpoint of our own listens on the port" wait_for 5000 listening_as "$(id -u)"
start
check "no second endpoint is started" test -z "$(endpoint_child)"
check "the running one serves the strip" \
  wait_for 15000 grep -q "GET /ticklark/viewext/ticklark_ad_frame.asp 200" "$work/endpoint.log"
close_program
check "and runs on after the program" kill -0 "$running"
kill "$running"; wait "$running" 2>/dev/null

# Another user's program on the port: never asked, nothing started.
install -m 755 "$endpoint" "$work/ticklark-endpoint"
start_other_users_endpoint
if check "another user's endpoint listens on the port (uid 65534)" wait_for 5000 listening_as 65534
then
  start
  check "another user's listener is named on standard error" said "another user's program (uid 65534)" ||
  sed 's/^/  program: /' "$work/out.txt"
  check "no endpoint is started beside it" test -z "$(endpoint_child)"
  # Nothing to wait for: the check is that no request arrives meanwhile.
  sleep 2
  check "it receives no request" test "$(grep -vc '^ticklark-endpoint: ' "$work/other.log")" -eq 0
  close_program
else
  cat "$work/other.log"
fi
kill "$other"; wait "$other" 2>/dev/null

# The endpoint killed outright comes back on the program's socket: the
# address is never free meanwhile, not even for a moment.
start
child=$(endpoint_child)
kill -9 "${child:-0}"
timeout 5 setpriv --reuid=65534 --regid=65534 --clear-groups env XDG_CONFIG_HOME=/nonexistent \
  "$work/ticklark-endpoint" 2>"$work/taker.log"
check "another user's endpoint cannot listen there meanwhile" \
  grep -q "cannot listen on 127.0.0.1:8642" "$work/taker.log"
check "and is never given the address" not listening_as 65534
came_back() { local now; now=$(endpoint_child); [ -n "$now" ] && [ "$now" != "$child" ]; }
check "a new endpoint is started" wait_for 5000 came_back
check "the program says so, once" \
  test "$(grep -c "the endpoint ended (signal Killed); started again in 0.25 s" "$work/out.txt")" -eq 1
check "and the endpoint answers again" \
  wait_for 5000 bash -c "curl -sI --max-time 2 '$strip' | grep -q '^HTTP/1.1 200'"
check "the market strip still shows" wait_for 15000 strip_shown
mkdir -p shots && cp "$work/shot.png" shots/endpoint-restarted-strip.png
close_program
check "and no endpoint is left behind" wait_for 3000 not bash -c "pgrep -f '^$endpoint' >/dev/null"

# The user's own endpoint, which the program did not start, is asked for its
# owner again before a load: once another user's program holds the address,
# nothing goes there.
"$endpoint" 2>"$work/endpoint.log" &
running=$!
pids+=("$running")
wait_for 5000 listening_as "$(id -u)"
start
wait_for 15000 grep -q "GET /ticklark/viewext/ticklark_ad_frame.asp 200" "$work/endpoint.log"
kill -9 "$running"; wait "$running" 2>/dev/null
start_other_users_endpoint
if check "another user's endpoint takes the address (uid 65534)" wait_for 5000 listening_as 65534
then
  xdotool windowactivate --sync "$main" 2>/dev/null
  xdotool key alt+t
  wait_for 5000 menu_open "$pid"
  xdotool key Return
  check "a menu command's page is not asked of it, and the program says why" \
    wait_for 10000 said "another user's program (uid 65534) now holds 127.0.0.1:8642"
  sleep 2
  check "it receives no request" test "$(grep -vc '^ticklark-endpoint: ' "$work/other.log")" -eq 0
  for site in $(xdotool search --onlyvisible --name '^Nasdaq Earnings Calendar$' 2>/dev/null); do
    wmctrl -i -c "$site"
  done
fi
check "the program ends" close_program || sed 's/^/  program: /' "$work/out.txt"
kill "$other"; wait "$other" 2>/dev/null

# Killed outright, the program takes its endpoint with it.
start
child=$(endpoint_child)
kill -9 "$pid"
wait "$pid" 2>/dev/null
check "SIGKILL to the program ends its endpoint too" wait_for 3000 gone "${child:-0}"

# A second launch raises the first one's modal window and exits.
start
xdotool windowactivate --sync "$main" 2>/dev/null
xdotool key alt+h
wait_for 5000 menu_open "$pid"
xdotool key a
about=
wait_for 5000 bash -c "xdotool search --onlyvisible --name '^About Ticklark 2\$' >/dev/null" &&
  about=$(xdotool search --onlyvisible --name '^About Ticklark 2$' | head -1)
check "the About window opens" test -n "$about"
xdotool windowminimize "$about" 2>/dev/null; xdotool windowminimize "$main"
wait_for 3000 minimised "$main" && wait_for 3000 minimised "${about:-0}"
timeout 10 "$program" --gapplication-app-id="$app_id" >/dev/null 2>&1
check "a second launch exits 0" test $? -eq 0
check "and brings the About window to the front" \
  wait_for 3000 bash -c "[ \"\$(xdotool getactivewindow 2>/dev/null)\" = '$about' ]"
child=$(endpoint_child)
kill -TERM "$pid"
wait_for 10000 gone "$pid"
wait "$pid"
check "SIGTERM ends the program as Exit does, with status 0" test $? -eq 0
check "and its endpoint with it" wait_for 3000 gone "${child:-0}"

# A table the endpoint refuses: the program runs, with the endpoint's word.
mkdir -p "$work/bad/Ticklark2"
cp "$XDG_CONFIG_HOME/Ticklark2/settings.ini" "$work/bad/Ticklark2/"
echo "nasdaqcal https://example.com/" >"$work/bad/Ticklark2/endpoint.conf"
start XDG_CONFIG_HOME="$work/bad"
check "a refused table does not stop the program" test -n "$main"
check "the endpoint's own message is on standard error" said "endpoint.conf:1: "
check "and that it did not start" said "the endpoint did not start"
close_program

# No endpoint executable: the program runs and says where it looked.
if [ -z "$(PATH=/usr/local/bin:/usr/bin:/bin command -v ticklark-endpoint)" ]; then
  mkdir -p "$work/alone"
  cp "$program" "$work/alone/ticklark2"
  program=$work/alone/ticklark2 start PATH=/usr/local/bin:/usr/bin:/bin
  check "the program runs without an endpoint executable" test -n "$main"
  check "and says where it looked" said "ticklark-endpoint was looked for in $work/alone and on PATH"
  close_program
fi

# Socket activation: systemd holds the socket and passes it on.
systemd-socket-activate -l 127.0.0.1:8642 "$endpoint" 2>"$work/activated.log" &
activated=$!
pids+=("$activated")
wait_for 5000 bash -c "grep -q ':21C2 00000000:0000 0A' /proc/net/tcp"
headers=$(curl -sI --max-time 5 "$strip" | tr -d '\r')
check "the endpoint answers on the socket passed to it" grep -q '^HTTP/1.1 200' <<<"$headers"
check "as ticklark-endpoint" grep -qi '^server: ticklark-endpoint/2.39.4' <<<"$headers"
check "and says where it got it" grep -q "(socket from systemd)" "$work/activated.log"
kill "$activated"; wait "$activated" 2>/dev/null

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
