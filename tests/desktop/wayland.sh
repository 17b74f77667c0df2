#!/usr/bin/env bash
# Lookout in a Wayland session whose shell hosts its icon with a watcher of
# its own: sway (headless) with waybar's tray, or GNOME Shell (headless) with
# the AppIndicator extension. Through XWayland, the program's default there,
# and on sway also natively. As root the session runs as nobody: sway
# refuses root, and GNOME Shell needs root for its private system bus.
#
# usage: wayland.sh BUILD_DIR ARTEFACT_DIR sway|gnome
set -euo pipefail
. "$(dirname "$0")/common.sh"
shell=$3
need Xwayland dbus-daemon gdbus xwininfo setpriv python3
if [ "$shell" = sway ]; then
    need sway waybar grim swaymsg convert
else
    need gnome-shell unshare import
    for uuid in ubuntu-appindicators@ubuntu.com appindicatorsupport@rgcjonas.gmail.com; do
        [ -d "/usr/share/gnome-shell/extensions/$uuid" ] && extension=$uuid
    done
    [ -n "${extension:-}" ] || skip "not installed: gnome-shell-extension-appindicator"
    [ "$(id -u)" -eq 0 ] || skip "GNOME Shell needs a private system bus in a mount namespace here, which takes root"
fi
width=1024 height=768 bar=30
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM QT_QPA_PLATFORMTHEME XDG_CURRENT_DESKTOP XDG_SESSION_TYPE \
    XDG_SESSION_DESKTOP DESKTOP_SESSION KDE_FULL_SESSION GNOME_DESKTOP_SESSION_ID SWAYSOCK XAUTHORITY

chmod 755 "$work"
session="$work/session"
mkdir -p "$session/runtime" "$session/config/sway" "$session/config/waybar" "$session/config/glib-2.0/settings" "$session/reports"
chmod 700 "$session/runtime"
runner=()
if [ "$(id -u)" -eq 0 ]; then
    getent passwd nobody >/dev/null || skip "running as root, and there is no user nobody to run the session as"
    runner=(setpriv --reuid=nobody --regid="$(id -gn nobody)" --clear-groups --inh-caps=-all)
fi
start_bus "$work"
app="$session/app"
install_program "$app" Sam
printf 'SERVER 1; 10.0.0.1:27960 Arena\nCLIENTS 2; Sam\tNobody\n' >"$session/reports/1.txt"
[ -z "${runner[*]}" ] || chown -R nobody "$session"
session_env=(env HOME="$session" XDG_RUNTIME_DIR="$session/runtime" XDG_CONFIG_HOME="$session/config"
    DBUS_SESSION_BUS_ADDRESS="$DBUS_SESSION_BUS_ADDRESS" PULSE_SERVER="unix:$work/no-pulse")
log_prefix=$shell

if [ "$shell" = sway ]; then
    cat >"$session/config/sway/config" <<EOF
output HEADLESS-1 resolution ${width}x$height background #36607a solid_color
xwayland enable
exec sh -c 'echo "\$DISPLAY" >"$session/display"'
bar {
    swaybar_command waybar
}
EOF
    printf '{ "layer": "top", "position": "bottom", "height": %s, "modules-right": ["tray"], "tray": { "icon-size": 22 } }\n' \
        $bar >"$session/config/waybar/config"
    "${runner[@]}" "${session_env[@]}" WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 \
        sway -c "$session/config/sway/config" >"$work/sway.log" 2>&1 &
    pids+=($!)
    wait_for 20 test -s "$session/display" || fail "sway did not start: $(tail "$work/sway.log")"
    session_env+=(WAYLAND_DISPLAY="$(cd "$session/runtime" && ls wayland-* | grep -v lock | head -n1)"
        SWAYSOCK="$(ls "$session"/runtime/sway-ipc.*.sock)" DISPLAY="$(cat "$session/display")")
    picture() { in_session grim -g "$((width - 440)),$((height - 220)) 440x220" - >"$artefacts/sway-$1.png"; }
else
    # Settings from a key file, so no dconf service is needed: the extension on, nothing else.
    printf '[org/gnome/shell]\nenabled-extensions=['"'%s'"']\n' "$extension" >"$session/config/glib-2.0/settings/keyfile"
    sed -e 's|<type>session</type>|<type>system</type>|' -e "s|unix:path=$work/bus|unix:path=/run/dbus/system_bus_socket|" \
        "$work/bus.conf" >"$work/system-bus.conf"
    session_env+=(GSETTINGS_BACKEND=keyfile)
    # GNOME Shell will not start without a system bus, and with the machine's
    # logind it would take a seat: its mount namespace has an empty
    # /run/systemd and a private system bus, which ends with its first process.
    unshare -m --propagation private sh -c '
        mount -t tmpfs none /run/systemd && mount -t tmpfs none /run/dbus || exit 1
        dbus-daemon --config-file="$1" --nofork --nopidfile & bus=$!
        trap "kill \$shell \$bus 2>/dev/null" TERM INT EXIT
        shift
        "$@" & shell=$!
        wait $shell' gnome-session "$work/system-bus.conf" \
        "${runner[@]}" "${session_env[@]}" gnome-shell --headless --wayland --virtual-monitor "${width}x$height" \
        >"$work/shell.log" 2>&1 &
    pids+=($!)
    wait_for 60 sh -c "grep -q 'Using public X11 display' '$work/shell.log' && ls '$session'/runtime/.mutter-Xwaylandauth.*" \
        || fail "GNOME Shell brought no XWayland: $(grep -v '^\s*$' "$work/shell.log" | tail -n 5)"
    session_env+=(WAYLAND_DISPLAY=wayland-0 XAUTHORITY="$(ls "$session"/runtime/.mutter-Xwaylandauth.* | head -n1)"
        DISPLAY="$(sed -n 's/.*Using public X11 display \(:[0-9]*\).*/\1/p' "$work/shell.log" | head -n1)")
    picture() { in_session import -window "$(bubble_window)" "$session/bubble.png" && cp "$session/bubble.png" "$artefacts/gnome-bubble.png"; }
fi
in_session() { "${runner[@]}" "${session_env[@]}" "$@"; }
wait_for 60 sni_host_registered || fail "$shell registered no StatusNotifierHost: $(tail -n 5 "$work"/s*.log)"
pass "$shell runs headless, its watcher has a host"
start_lobby "$session/reports" "$work/lobby.log"

start_lookout() { # LOG [VAR=VALUE...]: the program in the session, and its item
    (cd "$session" && exec "${runner[@]}" "${session_env[@]}" "${@:2}" "$app/lookout") >"$1" 2>&1 &
    lookout_pid=$!
    pids+=("$lookout_pid")
    wait_for 20 sni_item || fail "Lookout registered no item with the watcher: $(tail "$1")"
    item=$(sni_item)
}
# activate_toggles OPEN CLOSED: the item's Activate, as the panel calls it
# on a click, closes the open bubble and opens it again.
activate() { gdbus call --session -d "${item%%/*}" -o "/${item#*/}" -m org.kde.StatusNotifierItem.Activate 100 100 >/dev/null; }
activate_toggles() {
    activate && wait_for 10 "$2" || fail "Activate did not close the bubble"
    activate && wait_for 10 "$1" || fail "a second Activate did not open the bubble"
}
stop_lookout() {
    stop "$lookout_pid" Lookout "$1"
    wait_for 10 no_sni_item || fail "the item stayed after the program ended"
}
# waybar draws the tray's icon in colour at the right end of its bar.
icon_drawn() {
    in_session grim -g "$((width - 200)),$((height - bar)) 200x$bar" - >"$work/bar.png" 2>/dev/null
    [ -n "$(coloured_box "$work/bar.png")" ]
}

start_lookout "$work/lookout-xwayland.log"
[ "$shell" = gnome ] || wait_for 10 icon_drawn || fail "waybar draws no icon in its tray"
# XWayland publishes no work area: the corner is the screen's.
wait_for 20 bubble_at $((width - 200)) $((height - 150)) || fail "no bubble in the screen's corner: $(bubble_where)"
picture xwayland
activate_toggles bubble_open bubble_closed
stop_lookout "$work/lookout-xwayland.log"
pass "through XWayland the item registered, a notice opened the bubble in the screen's corner, Activate toggled it, and the item left with the program"
[ "$shell" = sway ] || exit 0

# Natively, whether the program's window shows in sway's tree.
native_open() {
    in_session swaymsg -t get_tree -r | python3 -c 'import json, sys
walk = lambda n: n.get("app_id") == "lookout" and n.get("visible") or any(walk(c) for c in n["nodes"] + n["floating_nodes"])
sys.exit(not walk(json.load(sys.stdin)))'
}
native_closed() { ! native_open; }
# libwayland-client (1.21) leaks 800 bytes at exit; leaks of ours show in the XWayland run.
native=(QT_QPA_PLATFORM=wayland ${ASAN_OPTIONS:+ASAN_OPTIONS=$ASAN_OPTIONS:detect_leaks=0})
start_lookout "$work/lookout-wayland.log" "${native[@]}"
wait_for 10 icon_drawn || fail "waybar draws no icon for the native program"
wait_for 20 native_open || fail "no bubble window in sway's tree: $(tail "$work/lookout-wayland.log")"
picture wayland
activate_toggles native_open native_closed
stop_lookout "$work/lookout-wayland.log"
pass "natively the same, the bubble a window sway places itself"
