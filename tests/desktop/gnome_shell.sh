#!/usr/bin/env bash
# Lookout on GNOME Shell with the AppIndicator extension, the shell headless
# on a virtual monitor (Wayland, with XWayland for X11 programs). The
# extension's own StatusNotifierWatcher and host take Lookout's icon; its
# Activate, as the extension calls it on a click, toggles the bubble, and a
# notice opens it in the corner of the screen.
#
# GNOME Shell will not start without a system bus, and with the machine's
# logind it would try to take a seat. So the shell runs in a mount namespace
# of its own, in which /run/systemd is empty and /run/dbus holds a private
# system bus with nothing on it. That takes root; the session itself runs as
# nobody.
#
# usage: gnome_shell.sh BUILD_DIR ARTEFACT_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
artefacts=$(mkdir -p "$2" && cd "$2" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
. "$here/common.sh"
. "$here/panels.sh"
need gnome-shell Xwayland unshare setpriv dbus-daemon gdbus xwininfo import
extension=
for uuid in ubuntu-appindicators@ubuntu.com appindicatorsupport@rgcjonas.gmail.com; do
    [ -d "/usr/share/gnome-shell/extensions/$uuid" ] && extension=$uuid
done
[ -n "$extension" ] || skip "not installed: gnome-shell-extension-appindicator"
[ "$(id -u)" -eq 0 ] || skip "GNOME Shell needs a private system bus in a mount namespace here, which takes root"
getent passwd nobody >/dev/null || skip "no user nobody to run the session as"
started=$SECONDS

width=1024 height=768
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM QT_QPA_PLATFORMTHEME XDG_CURRENT_DESKTOP XDG_SESSION_TYPE \
    XDG_SESSION_DESKTOP DESKTOP_SESSION KDE_FULL_SESSION GNOME_DESKTOP_SESSION_ID XAUTHORITY

chmod 755 "$work"
session="$work/session"
mkdir -p "$session/runtime" "$session/home/.config/glib-2.0/settings" "$session/reports"
chmod 700 "$session/runtime"
runner=(setpriv --reuid=nobody --regid="$(id -gn nobody)" --clear-groups --inh-caps=-all)
start_bus "$work"

# The shell's settings from a key file, so no dconf service is needed: the
# extension switched on, and nothing else.
cat >"$session/home/.config/glib-2.0/settings/keyfile" <<EOF
[org/gnome/shell]
enabled-extensions=['$extension']
EOF
cat >"$work/system-bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=/run/dbus/system_bus_socket</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow send_type="method_call"/>
    <allow send_type="method_return"/>
    <allow send_type="error"/>
    <allow send_type="signal"/>
  </policy>
</busconfig>
EOF

app="$session/app"
prepare_session "$session"

session_env=(env HOME="$session/home" XDG_RUNTIME_DIR="$session/runtime" XDG_CONFIG_HOME="$session/home/.config"
    DBUS_SESSION_BUS_ADDRESS="$DBUS_SESSION_BUS_ADDRESS" GSETTINGS_BACKEND=keyfile PULSE_SERVER="unix:$work/no-pulse")
# The namespace's system bus ends with the namespace's first process: the
# shell runs as a child of that shell, not in its place.
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
keep_logs gnome

public_display() { sed -n 's/.*Using public X11 display \(:[0-9]*\).*/\1/p' "$work/shell.log" | head -n1; }
wait_for 60 sni_host_registered || fail "GNOME Shell's AppIndicator extension registered no host: $(grep -v '^\s*$' "$work/shell.log" | tail -n 5)"
wait_for 20 sh -c "grep -q 'Using public X11 display' '$work/shell.log' && ls '$session'/runtime/.mutter-Xwaylandauth.* >/dev/null" \
    || fail "no XWayland: $(tail -n 5 "$work/shell.log")"
xdisplay=$(public_display)
xauthority=$(ls "$session"/runtime/.mutter-Xwaylandauth.* | head -n1)
in_session() { "${runner[@]}" "${session_env[@]}" WAYLAND_DISPLAY=wayland-0 DISPLAY="$xdisplay" XAUTHORITY="$xauthority" "$@"; }
pass "GNOME Shell runs headless with $extension, whose watcher has a host; XWayland is $xdisplay"

start_lobby "$session/reports" "$work/lobby.log"
(cd "$session" && exec "${runner[@]}" "${session_env[@]}" WAYLAND_DISPLAY=wayland-0 DISPLAY="$xdisplay" XAUTHORITY="$xauthority" \
    "$app/lookout") >"$work/lookout.log" 2>&1 &
lookout_pid=$!
pids+=("$lookout_pid")
wait_for 20 sni_item_of "$lookout_pid" || fail "Lookout registered no item with the extension's watcher: $(tail "$work/lookout.log")"
item=$(sni_item_of "$lookout_pid")
pass "through XWayland, Lookout's item $item is registered with the extension's watcher"

session_bubble_in_corner "$work/lookout.log" # GNOME's bar is at the top
in_session import -window "$(session_bubble)" "$session/bubble.png" 2>/dev/null && cp "$session/bubble.png" "$artefacts/gnome-bubble.png"
activate_toggles "$item" session_bubble_open session_bubble_closed

kill "$lookout_pid"
wait "$lookout_pid" 2>/dev/null || true
wait_for 10 no_sni_items || fail "the item stayed with the extension after the program ended"
echo "gnome_shell: all checks passed in $((SECONDS - started)) s"
