#!/usr/bin/env bash
# Installs, builds and runs Lookout against the sample lobby, whose simulated
# players come and go, with a watch list that catches some of them.
#
# With a display, Lookout sits in your tray: it asks the lobby once a minute,
# so leave it running to see players arrive, move and leave; quit from its
# menu, or with Ctrl+C here. Without a display, the same demo runs on a
# virtual screen with a tray of its own for two polls, and leaves screenshots
# of the icon, the bubble and the menu in the folder it names
# (LOOKOUT_DEMO_SHOTS, by default demo-screenshots/).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

# With a display, building and running Lookout is all it takes; without one, a
# virtual screen, a tray and the tools that take the screenshots too.
display=${DISPLAY:-}${WAYLAND_DISPLAY:-}
if [ -n "$display" ]; then scripts/install-deps.sh build; else scripts/install-deps.sh demo; fi
cmake --preset default >/dev/null
cmake --build --preset default --target lookout lookout-lobby
build=$root/build

# The watch list lives beside the program; a list of your own is kept.
[ -e "$build/list.cfg" ] || cp lobby/demo-list.cfg "$build/list.cfg"
lobby_options=(--simulate --churn 0.25)

if [ -n "$display" ]; then
    lobby_pid=
    trap '[ -n "$lobby_pid" ] && kill "$lobby_pid" 2>/dev/null; wait 2>/dev/null || true' EXIT
    "$build/lookout-lobby" "${lobby_options[@]}" >/dev/null &
    lobby_pid=$!
    echo "Lookout is in your tray, watching the sample lobby with $build/list.cfg." >&2
    echo "The first report comes at once, then one a minute; the players it finds are traced below." >&2
    "$build/lookout"
    exit
fi

shots=${LOOKOUT_DEMO_SHOTS:-$root/demo-screenshots}
# The desktop tests' helpers (an X server of our own, a tray, waits, window
# geometry), given what they take: the build folder, and the folder for
# pictures.
. tests/desktop/common.sh "$build" "$shots"
. tests/desktop/xembed_tray.sh

width=1024 height=768 panel=24
start_x $width $height
export DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-bus"
# A session without a runtime folder (a login without logind): one of the demo's own, not Qt's stand-in in /tmp.
[ -n "${XDG_RUNTIME_DIR:-}" ] || { export XDG_RUNTIME_DIR="$work/runtime" && mkdir -m 700 "$XDG_RUNTIME_DIR"; }
start_tray "$work/tint2.log"
# A desktop-like background, so the bubble stands out as it would.
xsetroot -solid '#3b6ea5'


"$build/lookout-lobby" "${lobby_options[@]}" >/dev/null 2>&1 &
pids+=($!)
(cd "$work" && exec stdbuf -oL "$build/lookout") &
pids+=($!)
echo "No display here: Lookout runs on a virtual screen with a tray of its own." >&2

# shoot FILE [CROP [SCALE]]: a picture of the screen, or of a part of it.
shoot() { import -window root png:- | convert - ${2:+-crop "$2" +repage} ${3:+-scale "$3"} "$1"; }
bubble_shown() {
    local id
    for id in $(xwininfo -root -tree | awk '/"lookout": \("lookout" "lookout"\)  200x150/{print $1}'); do
        is_viewable "$id" && return 0
    done
    return 1
}
bubble_hidden() { ! bubble_shown; }

wait_for 30 bubble_shown || fail "no notice from the first report"
sleep 0.3
shoot "$shots/bubble-first-report.png" "260x190+$((width - 260))+$((height - 190))"
shoot "$shots/tray-icon.png" "120x$panel+$((width - 120))+$((height - panel))" 400%
echo "First report: every watched player online is new (green)." >&2

echo "Waiting a minute for the second report, as Lookout polls once a minute..." >&2
wait_for 30 bubble_hidden || true
wait_for 100 bubble_shown || fail "no notice from the second report"
sleep 0.3
shoot "$shots/bubble.png" "260x190+$((width - 260))+$((height - 190))"
shoot "$shots/desktop-with-bubble.png"
echo "Second report: black stays, green arrived, grey left." >&2

read -r ix iy iw ih < <(window_geometry "$(tray_icon)")
xdotool mousemove $((ix + iw / 2)) $((iy + ih / 2)) click 3
sleep 0.8
shoot "$shots/menu.png" "300x190+$((width - 300))+$((height - 190))"
xdotool key Escape

echo "Screenshots of the tray icon, the bubble and the menu are in $shots:" >&2
ls -1 "$shots" >&2
