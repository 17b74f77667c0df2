#!/usr/bin/env bash
# The idle program measured from outside: lookout-idle-bench (the real
# program, polling every MS milliseconds instead of every minute) watches a
# simulated typical lobby (200 servers, about 3,000 players) with the
# 50-entry benchmark watch list. Prints its resident memory after 10 and after
# POLLS polls, and the CPU time it used between polls.
#
# usage: bench/idle.sh BUILD_DIR [POLLS] [MS]
set -euo pipefail

build=$(cd "${1:?usage: bench/idle.sh BUILD_DIR [POLLS] [MS]}" && pwd)
polls=${2:-100}
delay=${3:-1000}
work=$(mktemp -d)
lobby_pid=
idle_pid=
cleanup() {
    local status=$?
    for pid in $idle_pid $lobby_pid; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
    exit "$status"
}
trap cleanup EXIT

"$build/lookout-bench" --write-list typical "$work/list.cfg"
"$build/lookout-lobby" --simulate --seed 1 --servers 200 --players 4500 --port 0 \
    >"$work/lobby.out" 2>"$work/lobby.log" &
lobby_pid=$!
for _ in $(seq 100); do
    grep -q 'listening on' "$work/lobby.out" 2>/dev/null && break
    sleep 0.05
done
port=$(sed -n 's/.*listening on [0-9.]*:\([0-9]*\).*/\1/p' "$work/lobby.out")
[ -n "$port" ] || { echo "idle.sh: the lobby did not start" >&2; exit 1; }

XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=offscreen \
    "$build/lookout-idle-bench" "$port" "$work" "$delay" >/dev/null 2>"$work/idle.err" &
idle_pid=$!

polls_done() { grep -c '^connection ' "$work/lobby.log" 2>/dev/null || true; }
wait_for_poll() {
    while [ "$(polls_done)" -lt "$1" ]; do
        kill -0 "$idle_pid" 2>/dev/null || { echo "idle.sh: the program died" >&2; cat "$work/idle.err" >&2; exit 1; }
        sleep 0.01
    done
}
rss_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$idle_pid/status"; }
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$idle_pid/stat"; }
tick_ms=$((1000 / $(getconf CLK_TCK)))
half=$(awk -v d="$delay" 'BEGIN { printf "%.3f", d / 2000 }')

# Between two polls: from a tenth of the pause after one has been answered
# to a quarter of it before the next.
quiet_from=$(awk -v d="$delay" 'BEGIN { printf "%.3f", d / 10000 }')
quiet_for=$(awk -v d="$delay" 'BEGIN { printf "%.3f", d * 0.65 / 1000 }')

wait_for_poll 10
sleep "$half"
rss10=$(rss_kb)
cpu10=$(cpu_ticks)
idle_ticks=0
idle_windows=0
for k in $(seq 11 "$polls"); do
    wait_for_poll "$k"
    sleep "$quiet_from"
    a=$(cpu_ticks)
    sleep "$quiet_for"
    b=$(cpu_ticks)
    idle_ticks=$((idle_ticks + b - a))
    idle_windows=$((idle_windows + 1))
done
sleep "$half"
rss_last=$(rss_kb)
cpu_last=$(cpu_ticks)

echo "polls: $(polls_done), ${delay} ms apart"
echo "rss after 10 polls: $((rss10 / 1024)).$(((rss10 % 1024) * 10 / 1024)) MiB"
echo "rss after $polls polls: $((rss_last / 1024)).$(((rss_last % 1024) * 10 / 1024)) MiB"
echo "rss growth from poll 10 to $polls: $((rss_last - rss10)) KiB"
echo "cpu per poll: $(((cpu_last - cpu10) * tick_ms / (polls - 10))) ms"
echo "cpu between polls: $((idle_ticks * tick_ms)) ms in $idle_windows quiet windows of $(awk -v q="$quiet_for" 'BEGIN { print q * 1000 }') ms"
