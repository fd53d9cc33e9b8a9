#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The Debian package as a distribution and a person meet it: built from the
# build folder, listed, checked with desktop-file-validate, appstreamcli and
# lintian, unpacked into a scratch root and run from there, where the program
# starts the endpoint beside it and shows the market strip. Runs in a network
# namespace of its own (private_network.sh) for the endpoint's fixed port.
#   package_test.sh CPACK_CONFIG
set -uo pipefail
config=$1
work=$(mktemp -d /tmp/ticklark-package.XXXXXX)
chmod 755 "$work"
export XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data XDG_CACHE_HOME=$work/cache
mkdir -p "$XDG_CONFIG_HOME/Ticklark2"
printf '[Settings]\nMainLeft=300\nMainTop=300\nMainWidth=15500\nMainHeight=9000\n' \
  >"$XDG_CONFIG_HOME/Ticklark2/settings.ini"
. "$(dirname "$0")/script_checks.sh"

cpack --config "$config" -G DEB -B "$work" >"$work/cpack.log" 2>&1
# On Debian the release names the system whose libraries it depends on.
release=1
if . /etc/os-release 2>/dev/null && [ "${ID:-}" = debian ] && [[ "${VERSION_ID:-}" =~ ^[0-9]+$ ]]; then
  release="1~deb$VERSION_ID"
fi
deb=$(ls "$work"/ticklark2_2.39.4-"$release"_*.deb 2>/dev/null)
if [ ! -f "$deb" ]; then
  cat "$work/cpack.log"
  ls "$work"
  echo "FAIL: the package is built as ticklark2_2.39.4-${release}_<arch>.deb"
  exit 1
fi
passes=$((passes + 1))
check "this system can install it, its dependencies met" \
  bash -c "apt-get install --simulate --no-download -o Debug::NoLocking=1 '$deb' >'$work/apt.txt' 2>&1"

dpkg-deb -c "$deb" | awk '{print $6}' >"$work/list.txt"
for path in usr/bin/ticklark2 usr/bin/ticklark-endpoint \
    usr/share/applications/org.ticklark.Ticklark2.desktop \
    usr/share/metainfo/org.ticklark.Ticklark2.metainfo.xml \
    usr/share/icons/hicolor/scalable/apps/org.ticklark.Ticklark2.svg \
    usr/share/man/man1/ticklark2.1.gz usr/share/man/man1/ticklark-endpoint.1.gz \
    usr/share/doc/ticklark2/copyright usr/share/doc/ticklark2/LICENSE \
    usr/share/doc/ticklark2/CREDITS \
    usr/share/systemd/user/ticklark-endpoint.socket \
    usr/share/systemd/user/ticklark-endpoint.service; do
  check "it holds $path" grep -qx "./$path" "$work/list.txt"
done
for size in 16 24 32 48 64 128 256; do
  check "it holds the ${size}px icon" \
    grep -qx "./usr/share/icons/hicolor/${size}x${size}/apps/org.ticklark.Ticklark2.png" "$work/list.txt"
done
depends=$(dpkg-deb -f "$deb" Depends)
for needed in bubblewrap xdg-dbus-proxy libwebkitgtk-6.0-4 libgtkmm-4.0-0 libsystemd0; do
  check "it depends on $needed" grep -qw -- "$needed" <<<"$depends"
done

root=$work/root
dpkg-deb -x "$deb" "$root"
check "the copyright file is machine-readable" \
  grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
  "$root/usr/share/doc/ticklark2/copyright"
check "the desktop entry validates" \
  desktop-file-validate "$root/usr/share/applications/org.ticklark.Ticklark2.desktop"
check "the AppStream data validates" \
  appstreamcli validate --no-net "$root/usr/share/metainfo/org.ticklark.Ticklark2.metainfo.xml"
check "the service names the installed endpoint" \
  grep -qx 'ExecStart=/usr/bin/ticklark-endpoint' "$root/usr/share/systemd/user/ticklark-endpoint.service"
lintian "$deb" >"$work/lintian.txt" 2>&1
check "lintian finds no error" bash -c "! grep '^E:' '$work/lintian.txt'"
cat "$work/lintian.txt"

# Run from the unpacked root: the endpoint is found beside the program.
start_wm
"$root/usr/bin/ticklark2" --gapplication-app-id=org.ticklark.Ticklark2.Package$$ >"$work/out.txt" 2>&1 &
pid=$!
pids+=("$pid")
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
check "the unpacked program shows its main window" wait_for 20000 main_window
check "with the endpoint started beside it" \
  wait_for 3000 bash -c "pgrep -P $pid -f '$root/usr/bin/ticklark-endpoint' >/dev/null"
check "and the market strip in the ad pane" wait_for 15000 strip_shown
wmctrl -i -c "$main"
wait_for 10000 bash -c "! kill -0 $pid 2>/dev/null"
wait "$pid"
check "Exit ends it with status 0" test $? -eq 0

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
