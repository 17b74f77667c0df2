#!/usr/bin/env bash
# Installs, builds and runs Lookout against the sample lobby, whose simulated
# players come and go, with a watch list that catches some of them.
# Lookout asks the lobby once a minute; leave it running to see players
# arrive, move and leave. Quit from the tray menu, or with Ctrl+C here.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default
build=$PWD/build

# The watch list lives beside the program; a list of your own is kept.
[ -e "$build/list.cfg" ] || cp lobby/demo-list.cfg "$build/list.cfg"

lobby_pid=
cleanup() { [ -n "$lobby_pid" ] && kill "$lobby_pid" 2>/dev/null; wait 2>/dev/null || true; }
trap cleanup EXIT
"$build/lookout-lobby" --simulate &
lobby_pid=$!

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "No display: running without a tray; the watched players are traced below." >&2
    export QT_QPA_PLATFORM=offscreen
fi
echo "Watching the sample lobby with $build/list.cfg; the first report comes at once, then one a minute." >&2
"$build/lookout"
