#!/usr/bin/env bash
# Lookout on Wayland: sway on its headless back end with a software renderer,
# waybar's tray as the StatusNotifierItem host (waybar brings its own
# watcher). Twice: as the program starts by default there (through XWayland),
# and natively (QT_QPA_PLATFORM=wayland). Each time the icon is in waybar's
# tray, the item's Activate, as waybar calls it on a click, toggles the
# bubble, and a notice opens it. Pictures with grim.
#
# sway refuses to run as root; as root the session runs as nobody.
#
# usage: sway_waybar.sh BUILD_DIR ARTEFACT_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
artefacts=$(mkdir -p "$2" && cd "$2" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
. "$here/common.sh"
. "$here/panels.sh"
need sway waybar grim Xwayland swaymsg xwininfo convert dbus-daemon gdbus setpriv python3
started=$SECONDS

width=1024 height=768 bar=30
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM QT_QPA_PLATFORMTHEME XDG_CURRENT_DESKTOP XDG_SESSION_TYPE \
    XDG_SESSION_DESKTOP DESKTOP_SESSION KDE_FULL_SESSION GNOME_DESKTOP_SESSION_ID SWAYSOCK

# The session's files, owned by whoever runs it.
chmod 755 "$work"
session="$work/session"
mkdir -p "$session/runtime" "$session/config/sway" "$session/config/waybar" "$session/reports"
chmod 700 "$session/runtime"
runner=()
if [ "$(id -u)" -eq 0 ]; then
    getent passwd nobody >/dev/null || skip "running as root, and there is no user nobody to run sway as"
    runner=(setpriv --reuid=nobody --regid="$(id -gn nobody)" --clear-groups --inh-caps=-all)
fi

start_bus "$work"

cat >"$session/config/sway/config" <<EOF
output HEADLESS-1 resolution ${width}x$height background #36607a solid_color
xwayland enable
exec sh -c 'echo "\$DISPLAY" >"$session/display"'
bar {
    swaybar_command waybar
}
EOF
cat >"$session/config/waybar/config" <<EOF
{ "layer": "top", "position": "bottom", "height": $bar,
  "modules-left": [], "modules-center": [], "modules-right": ["tray"],
  "tray": { "icon-size": 22, "spacing": 8 } }
EOF

app="$session/app"
prepare_session "$session"

session_env=(env HOME="$session" XDG_RUNTIME_DIR="$session/runtime" XDG_CONFIG_HOME="$session/config"
    DBUS_SESSION_BUS_ADDRESS="$DBUS_SESSION_BUS_ADDRESS" PULSE_SERVER="unix:$work/no-pulse")
"${runner[@]}" "${session_env[@]}" WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 \
    sway -c "$session/config/sway/config" >"$work/sway.log" 2>&1 &
pids+=($!)
wait_for 20 test -s "$session/display" || fail "sway did not start: $(tail "$work/sway.log")"
wayland=$(cd "$session/runtime" && ls wayland-* | grep -v lock | head -n1)
swaysock=$(ls "$session"/runtime/sway-ipc.*.sock)
xdisplay=$(cat "$session/display")
in_session() { "${runner[@]}" "${session_env[@]}" WAYLAND_DISPLAY="$wayland" SWAYSOCK="$swaysock" DISPLAY="$xdisplay" "$@"; }
wait_for 20 sni_host_registered || fail "waybar's tray registered no host: $(tail "$work/sway.log")"
pass "sway runs headless with waybar, whose watcher has a host; XWayland is $xdisplay"

keep_logs sway
start_lobby "$session/reports" "$work/lobby.log"

lookout_pid=
item=
# start_lookout LOG [VAR=VALUE...]: the program in the session, and its item.
start_lookout() {
    local log=$1; shift
    (cd "$session" && exec "${runner[@]}" "${session_env[@]}" WAYLAND_DISPLAY="$wayland" DISPLAY="$xdisplay" "$@" \
        "$app/lookout") >"$log" 2>&1 &
    lookout_pid=$!
    pids+=("$lookout_pid")
    wait_for 20 sni_item_of "$lookout_pid" || fail "Lookout registered no item with waybar's watcher: $(tail "$log")"
    item=$(sni_item_of "$lookout_pid")
}
stop_lookout() {
    kill "$lookout_pid"
    wait "$lookout_pid" 2>/dev/null || true
    wait_for 10 no_sni_items || fail "the item stayed in waybar's tray after the program ended"
}
# The tray's icon: waybar draws it in colour at the right end of the bar.
icon_drawn() {
    in_session grim -g "$((width - 200)),$((height - bar)) 200x$bar" - >"$work/bar.png" 2>/dev/null
    [ -n "$(coloured_box "$work/bar.png")" ]
}
picture() {
    in_session grim -g "$((width - 440)),$((height - 220)) 440x220" - >"$artefacts/$1"
}

# --- By default: the X11 platform, through XWayland --------------------------

start_lookout "$work/lookout-xwayland.log"
pass "through XWayland, Lookout's item $item is registered with waybar's watcher"
wait_for 10 icon_drawn || fail "waybar draws no icon in its tray"
pass "waybar draws the icon in its tray"
# XWayland publishes no work area, so the corner is the screen's; waybar,
# on the layer above windows, covers the bubble's lowest $bar pixels.
session_bubble_in_corner "$work/lookout-xwayland.log"
picture sway-xwayland.png
activate_toggles "$item" session_bubble_open session_bubble_closed
stop_lookout

# --- Natively on Wayland ----------------------------------------------------

# "visible" of the program's window in sway's tree, nothing when it has none.
w_bubble() {
    in_session swaymsg -t get_tree -r | python3 -c '
import json, sys
def walk(n):
    if n.get("app_id") == "lookout":
        print(str(n.get("visible")).lower(), n["rect"]["width"], n["rect"]["height"])
    for c in n.get("nodes", []) + n.get("floating_nodes", []):
        walk(c)
walk(json.load(sys.stdin))'
}
w_bubble_open() { w_bubble | grep -q '^true '; }
w_bubble_closed() { ! w_bubble_open; }

start_lookout "$work/lookout-wayland.log" QT_QPA_PLATFORM=wayland
pass "natively on Wayland, Lookout's item $item is registered with waybar's watcher"
wait_for 10 icon_drawn || fail "waybar draws no icon for the native program"
wait_for 20 w_bubble_open || fail "no bubble window in sway's tree after the first report: $(tail "$work/lookout-wayland.log")"
pass "a notice opened the bubble, a window sway places itself: $(w_bubble | cut -d' ' -f2- | tr ' ' x)"
picture sway-wayland.png
activate_toggles "$item" w_bubble_open w_bubble_closed
stop_lookout

echo "sway_waybar: all checks passed in $((SECONDS - started)) s"
