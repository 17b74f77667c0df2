#!/usr/bin/env bash
# The idle program measured from outside: lookout-idle-bench (the real
# program, polling every MS milliseconds instead of every minute) watches a
# simulated typical lobby (200 servers, about 3,000 players) with the
# 50-entry benchmark watch list. The bubble stays open for the same share of
# the pause as in the program (5 s of 60 s), set through SHOW_TIME in the
# config.cfg of the bench's own folder.
#
# Prints its resident memory at rest (a tenth of the pause before the next
# poll: the bubble closed, the notice sound played out) after 10 and after
# POLLS polls, the same while the last notice shows (a twentieth of the pause
# after the poll: the bubble open, the sound playing), and the CPU time it
# used between polls. The pause must outlast the longer sound (0.95 s) by
# more than a tenth of itself for the rest figure to be at rest: 2000 ms by
# default.
#
# Beside it on the same X server, in the same tray (tint2's), runs the
# smallest Qt tray program (lookout-tray-min: an icon and a menu); its
# resident memory, read at the same moment, is the yardstick, and the ratio
# is printed with it.
#
# With SMAPS_DIR set, /proc/PID/smaps of both programs at rest after the last
# poll is copied there (lookout.smaps, tray-min.smaps), for the breakdown by
# mapping.
#
# usage: bench/idle.sh BUILD_DIR [POLLS] [MS]
set -euo pipefail

build=$(cd "${1:?usage: bench/idle.sh BUILD_DIR [POLLS] [MS]}" && pwd)
polls=${2:-100}
delay=${3:-2000}
work=$(mktemp -d)
lobby_pid=
idle_pid=
min_pid=
tray_pid=
x_pid=
pulse_pid=
cleanup() {
    local status=$?
    for pid in $idle_pid $min_pid $lobby_pid $tray_pid $pulse_pid $x_pid; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
    exit "$status"
}
trap cleanup EXIT

"$build/lookout-bench" --write-list typical "$work/list.cfg"
ln -s "$build/icons" "$work/icons"
ln -s "$build/wav" "$work/wav"
printf 'SHOW_TIME = %d\n' $((delay * 5 / 60)) >"$work/config.cfg"
"$build/lookout-lobby" --simulate --seed 1 --servers 200 --players 4500 --port 0 \
    >"$work/lobby.out" 2>"$work/lobby.log" &
lobby_pid=$!
for _ in $(seq 100); do
    grep -q 'listening on' "$work/lobby.out" 2>/dev/null && break
    sleep 0.05
done
port=$(sed -n 's/.*listening on [0-9.]*:\([0-9]*\).*/\1/p' "$work/lobby.out")
[ -n "$port" ] || { echo "idle.sh: the lobby did not start" >&2; exit 1; }

# One X server with a tray; no session bus, so both icons go the XEmbed way.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
x_pid=$!
for _ in $(seq 200); do [ -s "$work/display" ] && break; sleep 0.05; done
[ -s "$work/display" ] || { echo "idle.sh: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")" DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-bus"
export XDG_CONFIG_HOME="$work/config"
unset WAYLAND_DISPLAY QT_QPA_PLATFORM
# tint2's system tray across the bottom, told there is one desktop as a window
# manager would tell it (without one it waits 15 s before it shows).
xprop -root -f _NET_NUMBER_OF_DESKTOPS 32c -set _NET_NUMBER_OF_DESKTOPS 1
xprop -root -f _NET_CURRENT_DESKTOP 32c -set _NET_CURRENT_DESKTOP 0
printf '%s\n' 'panel_items = FS' 'panel_position = bottom right horizontal' 'panel_size = 100% 24' \
    'systray_icon_size = 22' >"$work/tint2rc"
tint2 -c "$work/tint2rc" >"$work/tint2.log" 2>&1 &
tray_pid=$!

# A sound server as on a desktop, with a null sink, so that the notice sounds
# really play; none of the machine's own settings or modules.
export HOME="$work/home" XDG_RUNTIME_DIR="$work/run"
mkdir -p "$HOME" && mkdir -m 700 "$XDG_RUNTIME_DIR"
export PULSE_RUNTIME_PATH="$XDG_RUNTIME_DIR/pulse" PULSE_STATE_PATH="$work/pulse-state"
export PULSE_CONFIG="$work/daemon.conf" PULSE_CLIENTCONFIG="$work/client.conf" PULSE_SERVER="unix:$work/pulse.sock"
: >"$PULSE_CONFIG"
echo 'autospawn = no' >"$PULSE_CLIENTCONFIG"
sound="none (the sounds fail silently)"
if command -v pulseaudio >/dev/null; then
    pulseaudio -n --daemonize=no --system=false --use-pid-file=false --exit-idle-time=-1 --disallow-exit \
        --realtime=false --high-priority=false --log-target=stderr \
        -L "module-null-sink sink_name=idle" -L "module-native-protocol-unix socket=$work/pulse.sock auth-anonymous=1" \
        >"$work/pulse.log" 2>&1 &
    pulse_pid=$!
    for _ in $(seq 200); do pactl info >/dev/null 2>&1 && break; sleep 0.05; done
    pactl info >/dev/null 2>&1 && sound="a private PulseAudio server with a null sink"
fi

"$build/lookout-tray-min" "$build/icons/lookout.png" >/dev/null 2>"$work/min.err" &
min_pid=$!
"$build/lookout-idle-bench" "$port" "$work" "$delay" >/dev/null 2>"$work/idle.err" &
idle_pid=$!

polls_done() { grep -c '^connection ' "$work/lobby.log" 2>/dev/null || true; }
wait_for_poll() {
    while [ "$(polls_done)" -lt "$1" ]; do
        kill -0 "$idle_pid" 2>/dev/null || { echo "idle.sh: the program died" >&2; cat "$work/idle.err" >&2; exit 1; }
        sleep 0.01
    done
}
rss_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/${1:-$idle_pid}/status"; }
mib() { echo "$(($1 / 1024)).$((($1 % 1024) * 10 / 1024)) MiB"; }
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$idle_pid/stat"; }
tick_ms=$((1000 / $(getconf CLK_TCK)))

# Between two polls: from a tenth of the pause after one has been answered
# to a quarter of it before the next.
quiet_from=$(awk -v d="$delay" 'BEGIN { printf "%.3f", d / 10000 }')
quiet_for=$(awk -v d="$delay" 'BEGIN { printf "%.3f", d * 0.65 / 1000 }')
# While a notice shows, and at rest.
showing_at=$(awk -v d="$delay" 'BEGIN { printf "%.3f", d / 20000 }')
to_quiet=$(awk -v d="$delay" 'BEGIN { printf "%.3f", d / 20000 }')
to_rest=$(awk -v d="$delay" 'BEGIN { printf "%.3f", d * 0.15 / 1000 }')
at_rest_from_poll=$(awk -v d="$delay" 'BEGIN { printf "%.3f", d * 0.9 / 1000 }')

wait_for_poll 10
sleep "$at_rest_from_poll"
rss10=$(rss_kb)
cpu10=$(cpu_ticks)
idle_ticks=0
idle_windows=0
for k in $(seq 11 "$polls"); do
    wait_for_poll "$k"
    if [ "$k" -eq "$polls" ]; then
        sleep "$showing_at"
        rss_showing=$(rss_kb)
        sleep "$to_quiet"
    else
        sleep "$quiet_from"
    fi
    a=$(cpu_ticks)
    sleep "$quiet_for"
    b=$(cpu_ticks)
    idle_ticks=$((idle_ticks + b - a))
    idle_windows=$((idle_windows + 1))
done
sleep "$to_rest"
rss_last=$(rss_kb)
rss_min=$(rss_kb "$min_pid")
cpu_last=$(cpu_ticks)
if [ -n "${SMAPS_DIR:-}" ]; then
    mkdir -p "$SMAPS_DIR"
    cat "/proc/$idle_pid/smaps" >"$SMAPS_DIR/lookout.smaps"
    cat "/proc/$min_pid/smaps" >"$SMAPS_DIR/tray-min.smaps"
fi

echo "polls: $(polls_done), ${delay} ms apart; sound server: $sound"
echo "rss at rest after 10 polls: $(mib "$rss10")"
echo "rss at rest after $polls polls: $(mib "$rss_last")"
echo "rss growth from poll 10 to $polls: $((rss_last - rss10)) KiB"
echo "rss while notice $polls shows (bubble open, sound playing): $(mib "$rss_showing")"
echo "rss of the smallest Qt tray program beside it: $(mib "$rss_min")"
echo "ratio to it at rest after $polls polls: $(awk -v a="$rss_last" -v b="$rss_min" 'BEGIN { printf "%.2f", a / b }')x"
echo "ratio to it while notice $polls shows: $(awk -v a="$rss_showing" -v b="$rss_min" 'BEGIN { printf "%.2f", a / b }')x"
echo "cpu per poll: $(((cpu_last - cpu10) * tick_ms / (polls - 10))) ms"
echo "cpu between polls: $((idle_ticks * tick_ms)) ms in $idle_windows quiet windows of $(awk -v q="$quiet_for" 'BEGIN { print q * 1000 }') ms"
