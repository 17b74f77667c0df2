#!/usr/bin/env bash
# usage: package.sh BUILD_DIR ARTEFACT_DIR: the CPack .tar.gz unpacked into a path with spaces and run, directly and by its launcher.
set -euo pipefail
. "$(dirname "$0")/common.sh"
need cpack tar readelf stdbuf pgrep
/usr/bin/python3 -c 'from gi.repository import Gio' 2>/dev/null || skip "no python3-gi (scripts/install-deps.sh tests installs it)"
cpack --config "$build/CPackConfig.cmake" -B "$work/cpack" >"$work/cpack.log" 2>&1 || fail "cpack failed: $(cat "$work/cpack.log")"
dest="$work/My Games/Look Out! \$now"
mkdir -p "$dest"
tar -xzf "$work"/cpack/*.tar.gz -C "$dest"
folder=$(find "$dest" -mindepth 1 -maxdepth 1 -type d)
got=$(cd "$folder" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | tr '\n' ' ')
[ "$got" = "README.txt icons/about.png icons/lookout.png icons/lookout_info.png icons/quit.png list.cfg lookout lookout.desktop wav/importantinfo.wav wav/info.wav " ] \
    || fail "the package holds: $got"
! readelf -d "$folder/lookout" | grep -E 'RPATH|RUNPATH' | grep -F "$build" || fail "the packaged program looks for libraries in the build folder"

reports 'SERVER 1; 10.0.0.1:27960 Arena\nCLIENTS 2; Sam\tNobody\n'
start_lobby "$work/lobby.log"
printf 'LIST += Sam\n' >>"$folder/list.cfg" # the example list watches nobody
# -platform offscreen wins over a Wayland session's environment with XWayland.
unset QT_QPA_PLATFORM
export XDG_SESSION_TYPE=wayland WAYLAND_DISPLAY=lookout-test-no-such-socket DISPLAY=:lookout-test-no-such-display
(cd / && exec stdbuf -oL "$folder/lookout" -platform offscreen) >"$work/lookout.out" 2>"$work/lookout.log" &
lookout_pid=$!
pids+=($lookout_pid)
wait_for 20 grep -qx disconnected "$work/lookout.out" || fail "no poll from the packaged program: $(cat "$work/lookout.log")"
stop "$lookout_pid" "the packaged program" "$work/lookout.log"
[ "$(cat "$work/lookout.out")" = "$(printf 'connected\nSam on Arena\ndisconnected')" ] || fail "traces: $(cat "$work/lookout.out")"

QT_QPA_PLATFORM=offscreen /usr/bin/python3 -c 'import sys; from gi.repository import Gio
assert Gio.DesktopAppInfo.new_from_filename(sys.argv[1]).launch([], None)' "$folder/lookout.desktop" >"$work/launched.log" 2>&1 || fail "the launcher did not start"
wait_for 20 polls "$work/lobby.log" 2 || fail "the program started by the launcher did not poll: $(cat "$work/lobby.log")"
for pid in $(pgrep -x lookout); do
    [ "$(readlink "/proc/$pid/exe")" != "$folder/lookout" ] || kill -TERM "$pid"
done
pass "unpacked into '$folder' ($got), the program, given -platform offscreen in a Wayland session, found Sam, and lookout.desktop started it"
