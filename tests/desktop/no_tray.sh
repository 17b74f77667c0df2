#!/usr/bin/env bash
# Lookout where there is no tray (GNOME without its extension) and in a
# Wayland session: it runs through XWayland, polls, and opens its bubble on
# each notice; a platform the user chose is respected.
#
# usage: no_tray.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
. "$(dirname "$0")/common.sh"
need Xvfb xwininfo stdbuf

start_x 800 600
export DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-bus"
# What a Wayland session with XWayland looks like to a program; the Wayland
# socket does not exist, so a program that tried it would fail to start.
export XDG_SESSION_TYPE=wayland WAYLAND_DISPLAY="lookout-test-no-such-socket"
unset QT_QPA_PLATFORM

mkdir -p "$work/reports"
printf 'SERVER 1; 10.0.0.1:27960 Arena\nCLIENTS 1; Sam\n' >"$work/reports/1.txt"
start_lobby "$work/reports" "$work/lobby.log"

app="$work/app"
install_program "$build" "$app"
printf 'LIST += Sam\n' >"$app/list.cfg"

run() { (cd "$work" && exec stdbuf -oL "$app/lookout" "$@") >"$work/out" 2>"$work/err" & lookout_pid=$!; pids+=($lookout_pid); }
stop() {
    kill -0 "$lookout_pid" 2>/dev/null || fail "Lookout died: $(cat "$work/err")"
    kill -TERM "$lookout_pid"
    wait "$lookout_pid" || fail "Lookout did not quit cleanly: $(cat "$work/err")"
}
bubble() { xwininfo -root -tree | grep -q '"lookout": ("lookout" "lookout")  200x150+600+450'; }

run
wait_for 20 grep -qx disconnected "$work/out" || fail "no poll: $(cat "$work/out" "$work/err")"
wait_for 10 bubble || fail "no bubble in the corner: $(xwininfo -root -tree | grep lookout)"
pass "without a tray, in a Wayland session: ran through XWayland, polled, and opened the bubble"
sleep 1
stop
pass "and kept running until asked to quit"

QT_QPA_PLATFORM=offscreen run
wait_for 20 grep -qx disconnected "$work/out" || fail "no poll on the platform the user chose: $(cat "$work/err")"
if xwininfo -root -tree | grep -q '"lookout"'; then fail "QT_QPA_PLATFORM=offscreen was not respected"; fi
stop
run -platform offscreen
wait_for 20 grep -qx disconnected "$work/out" || fail "no poll with -platform offscreen: $(cat "$work/err")"
if xwininfo -root -tree | grep -q '"lookout"'; then fail "-platform offscreen was not respected"; fi
stop
pass "a platform chosen by the user, in the environment or on the command line, is kept"
echo "no_tray: all checks passed"
