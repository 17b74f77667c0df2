#!/usr/bin/env bash
# usage: wayland.sh BUILD_DIR ARTEFACT_DIR sway|gnome: Lookout in a headless Wayland shell that hosts its icon, through XWayland and natively.
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
    [ "$(id -u)" -eq 0 ] || skip "GNOME Shell needs a private system bus in a mount namespace here, which takes root or a user namespace, and neither may be made"
fi
width=1024 height=768 bar=30
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM QT_QPA_PLATFORMTHEME XDG_CURRENT_DESKTOP XDG_SESSION_TYPE \
    XDG_SESSION_DESKTOP DESKTOP_SESSION KDE_FULL_SESSION GNOME_DESKTOP_SESSION_ID SWAYSOCK XAUTHORITY

chmod 755 "$work"
session="$work/session"
mkdir -p "$session/runtime" "$session/config/sway" "$session/config/waybar" "$session/config/glib-2.0/settings"
chmod 700 "$session/runtime"
# sway refuses root: real root runs the session as nobody, and an ordinary user's namespace root as that user again.
if real_root; then
    getent passwd nobody >/dev/null || skip "running as root, and there is no user nobody to run the session as"
    runner=(setpriv --reuid=nobody --regid="$(id -gn nobody)" --clear-groups --inh-caps=-all)
elif [ "$(id -u)" -eq 0 ]; then
    runner_outer_user
fi
start_bus
app="$session/app"
install_program "$app" Sam
! real_root || chown -R nobody "$session"
session_env=(HOME="$session" XDG_RUNTIME_DIR="$session/runtime" XDG_CONFIG_HOME="$session/config"
    DBUS_SESSION_BUS_ADDRESS="$DBUS_SESSION_BUS_ADDRESS" PULSE_SERVER="unix:$work/no-pulse")

if [ "$shell" = sway ]; then
    printf '%s\n' "output HEADLESS-1 resolution ${width}x$height background #36607a solid_color" 'xwayland enable' \
        "exec sh -c 'echo \"\$DISPLAY\" >\"$session/display\"'" 'bar {' 'swaybar_command waybar' '}' >"$session/config/sway/config"
    printf '{ "layer": "top", "position": "bottom", "height": %s, "modules-right": ["tray"], "tray": { "icon-size": 22 } }\n' \
        $bar >"$session/config/waybar/config"
    # In an ordinary user's namespace the machine's /tmp/.X11-unix belongs to nobody, and wlroots puts no XWayland
    # socket there: sway gets one of its own, in a mount namespace of its own.
    own_x11=()
    real_root || [ "$(id -u)" -ne 0 ] || [ ! -d /tmp/.X11-unix ] ||
        own_x11=(unshare -m sh -c 'mount -t tmpfs -o mode=1777 none /tmp/.X11-unix && exec "$@"' own-x11)
    "${own_x11[@]}" "${runner[@]}" env "${session_env[@]}" WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 \
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
    # GNOME Shell needs a system bus, and would take a seat from the machine's logind: a private bus and no /run/systemd.
    # And a /tmp/.X11-unix of its own: mutter (48 and 50) starts no XWayland in one that is not everybody's and sticky,
    # as the one sway's XWayland (wlroots 0.18, 0.20) leaves in a fresh /tmp is; the X clients here reach XWayland
    # through its abstract socket. Mutter starts XWayland at once here, GNOME 50's too: on demand only where GNOME
    # Shell runs as a systemd user unit, as in a whole session.
    unshare -m --propagation private sh -c '
        mkdir -m 1777 /tmp/.X11-unix 2>/dev/null
        mount -t tmpfs none /run/systemd && mount -t tmpfs none /run/dbus &&
            mount -t tmpfs -o mode=1777 none /tmp/.X11-unix || exit 1
        dbus-daemon --config-file="$1" --nofork --nopidfile & bus=$!
        trap "kill \$shell \$bus 2>/dev/null" TERM INT EXIT
        shift
        "$@" & shell=$!
        wait $shell' gnome-session "$work/system-bus.conf" \
        "${runner[@]}" env "${session_env[@]}" gnome-shell --headless --wayland --unsafe-mode --virtual-monitor "${width}x$height" \
        >"$work/shell.log" 2>&1 &
    pids+=($!)
    wait_for 60 sh -c "grep -q 'Using public X11 display' '$work/shell.log' && ls '$session'/runtime/.mutter-Xwaylandauth.*" \
        || fail "GNOME Shell brought no XWayland: $(grep -v '^\s*$' "$work/shell.log" | tail -n 5)"
    session_env+=(WAYLAND_DISPLAY=wayland-0 XAUTHORITY="$(ls "$session"/runtime/.mutter-Xwaylandauth.* | head -n1)"
        DISPLAY="$(sed -n 's/.*Using public X11 display \(:[0-9]*\).*/\1/p' "$work/shell.log" | head -n1)")
    picture() {
        if [ "$1" = wayland ]; then # natively the bubble has no X window: GNOME's own picture of the screen
            in_session gdbus call --session -d org.gnome.Shell.Screenshot -o /org/gnome/Shell/Screenshot \
                -m org.gnome.Shell.Screenshot.Screenshot false false "$session/screen.png" >/dev/null &&
                cp "$session/screen.png" "$artefacts/gnome-wayland.png"
        else
            in_session import -window "$(bubble_window)" "$session/bubble.png" && cp "$session/bubble.png" "$artefacts/gnome-bubble.png"
        fi
    }
fi
wait_for 60 sni_host_registered || fail "$shell registered no StatusNotifierHost: $(tail -n 5 "$work"/s*.log)"
reports 'SERVER 1; 10.0.0.1:27960 Arena\nCLIENTS 2; Sam\tNobody\n'
start_lobby "$work/lobby.log"

run() { # LOG OPEN [VAR=VALUE...]: the program registers its item, OPEN comes, and the item's Activate toggles it
    start_lookout "$1" "${@:3}"
    wait_for 20 item_registered || fail "Lookout registered no item with the watcher: $(tail "$1")"
    wait_for 20 "$2" || fail "no bubble in the screen's corner: $(bubble_where) $(tail "$1")"
    picture "${1##*-}"
    toggles "item_call org.kde.StatusNotifierItem.Activate 100 100 >/dev/null" "! $2" "$2"
    # The icon is looked for with the bubble closed: sway 1.10 draws XWayland's bubble, in the screen's corner, over
    # waybar's tray.
    if [ "$shell" = sway ]; then
        item_call org.kde.StatusNotifierItem.Activate 100 100 >/dev/null
        wait_for 10 eval "! $2" || fail "a third Activate did not close the bubble"
        wait_for 10 icon_drawn || fail "waybar draws no icon in its tray"
    fi
    stop "$lookout_pid" Lookout "$1"
    wait_for 10 item_left || fail "the item stayed after the program ended"
}
icon_drawn() { # waybar draws the tray's icon in colour at the right end of its bar
    in_session grim -g "$((width - 200)),$((height - bar)) 200x$bar" - >"$work/bar.png" 2>/dev/null
    [ -n "$(coloured_box "$work/bar.png")" ]
}
xwayland_open() { bubble_at $((width - 200)) $((height - 150)); } # XWayland publishes no work area
run "$work/lookout-xwayland" xwayland_open
pass "on $shell through XWayland the item registered, a notice opened the bubble in the screen's corner, Activate toggled it, and the item left with the program"

if [ "$shell" = sway ]; then
    native_open() { # the program's window, visible in sway's tree
        in_session swaymsg -t get_tree -r | python3 -c 'import json, sys
walk = lambda n: n.get("app_id") == "lookout" and n.get("visible") or any(walk(c) for c in n["nodes"] + n["floating_nodes"])
sys.exit(not walk(json.load(sys.stdin)))'
    }
else
    # The program's window among GNOME's, a Wayland client's (client type 0), shown. GNOME answers the test's
    # Introspect call in unsafe mode only.
    native_open() {
        in_session gdbus call --session -d org.gnome.Shell.Introspect -o /org/gnome/Shell/Introspect \
            -m org.gnome.Shell.Introspect.GetWindows | sed 's/uint64 /\n/g' | grep "'wm-class': <'lookout'>" |
            grep "'client-type': <uint32 0>" | grep "'is-hidden': <false>"
    }
fi
# libwayland-client (1.21) leaks 800 bytes at exit; leaks of ours show in the XWayland run.
run "$work/lookout-wayland" native_open QT_QPA_PLATFORM=wayland ${ASAN_OPTIONS:+ASAN_OPTIONS=$ASAN_OPTIONS:detect_leaks=0}
pass "natively on $shell the same, the bubble a window the compositor places itself"
