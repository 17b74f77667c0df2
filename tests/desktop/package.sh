#!/usr/bin/env bash
# The portable package as a user gets it: packed by CPack, unpacked into a
# folder whose path has spaces, and run from there, directly and through its
# launcher, for one poll of the lobby.
#
# usage: package.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
. "$(dirname "$0")/common.sh"
need cpack tar readelf ldd stdbuf pgrep

cpack --config "$build/CPackConfig.cmake" -B "$work/cpack" >"$work/cpack.log" 2>&1 \
    || fail "cpack failed: $(cat "$work/cpack.log")"
archive=$(ls "$work"/cpack/*.tar.gz)
pass "packed $(basename "$archive") ($(du -k "$archive" | cut -f1) KiB)"

dest="$work/My Games/Look Out! \$now"
mkdir -p "$dest"
tar -xzf "$archive" -C "$dest"
folder=$(find "$dest" -mindepth 1 -maxdepth 1 -type d)
expected="README.txt icons/about.png icons/lookout.png icons/lookout_info.png icons/quit.png list.cfg lookout lookout.desktop wav/importantinfo.wav wav/info.wav"
got=$(cd "$folder" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | tr '\n' ' ' | sed 's/ $//')
[ "$got" = "$expected" ] || fail "the package holds: $got"
[ -x "$folder/lookout" ] || fail "lookout is not executable"
if ldd "$folder/lookout" | grep -q 'not found'; then fail "missing libraries: $(ldd "$folder/lookout" | grep 'not found')"; fi
if readelf -d "$folder/lookout" | grep -E 'RPATH|RUNPATH' | grep -q -F "$build"; then
    fail "the packaged program looks for libraries in the build folder"
fi
pass "unpacked into '$folder': $got"

mkdir -p "$work/reports"
printf 'SERVER 1; 10.0.0.1:27960 Arena\nCLIENTS 2; Sam\tNobody\n' >"$work/reports/1.txt"
start_lobby "$work/reports" "$work/lobby.log"

# The example list watches nobody; a user adds a name.
printf 'LIST += Sam\n' >>"$folder/list.cfg"
export QT_QPA_PLATFORM=offscreen
(cd / && exec stdbuf -oL "$folder/lookout") >"$work/lookout.out" 2>"$work/lookout.err" &
lookout_pid=$!
pids+=($lookout_pid)
wait_for 20 grep -qx disconnected "$work/lookout.out" \
    || fail "no poll from the packaged program: $(cat "$work/lookout.out" "$work/lookout.err")"
kill -TERM "$lookout_pid"
wait "$lookout_pid" || fail "the packaged program did not quit cleanly"
[ "$(cat "$work/lookout.out")" = "$(printf 'connected\nSam on Arena\ndisconnected')" ] \
    || fail "unexpected traces: $(cat "$work/lookout.out")"
pass "the packaged program polled the lobby and found Sam"

# The launcher, as a desktop session starts it.
/usr/bin/python3 -c 'from gi.repository import Gio' 2>/dev/null \
    || skip "the launcher needs Debian's python3 with python3-gi (scripts/install-deps.sh installs it)"
/usr/bin/python3 - "$folder/lookout.desktop" <<'PY' || fail "the launcher did not start"
import sys
from gi.repository import Gio
info = Gio.DesktopAppInfo.new_from_filename(sys.argv[1])
assert info is not None, "not a valid desktop entry"
assert info.launch([], None)
PY
wait_for 20 sh -c "grep -c '^connection' '$work/lobby.log' | grep -qx 2" \
    || fail "the program started by the launcher did not poll: $(cat "$work/lobby.log")"
for pid in $(pgrep -x lookout); do
    [ "$(readlink "/proc/$pid/exe")" = "$folder/lookout" ] && kill -TERM "$pid"
done || true
pass "lookout.desktop started the program beside it"
echo "package: all checks passed"
