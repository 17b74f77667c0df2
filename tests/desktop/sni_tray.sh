#!/usr/bin/env bash
# Lookout in a tray hosted over D-Bus, as Plasma, GNOME's AppIndicator
# extension or waybar host it: the icon is a StatusNotifierItem that a shell
# reads and clicks through the bus, and the menu is a dbusmenu it draws
# itself. The shell here is sni_host.py; the program is the real one, on a
# real X server, with its bubble a real window.
#
# Two runs of the program. The first, with auto show off, keeps the notice
# icon up long enough to read its pixels, and is clicked open and shut. The
# second opens the bubble by itself, has its menu read and clicked through
# to "Quit", and must save what was clicked.
#
# usage: sni_tray.sh BUILD_DIR ARTEFACT_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
artefacts=$2
mkdir -p "$artefacts"
here=$(cd "$(dirname "$0")" && pwd)
. "$here/common.sh"
need Xvfb dbus-daemon xprop xwininfo import
started=$SECONDS

# Debian's python3-gi belongs to Debian's python; a python3 earlier in PATH
# (pyenv, a venv) usually lacks it.
python=
for candidate in python3 /usr/bin/python3; do
    if "$candidate" -c 'import gi; gi.require_version("Gio", "2.0"); from gi.repository import Gio' 2>/dev/null; then
        python=$candidate
        break
    fi
done
[ -n "$python" ] || skip "no python3 with python3-gi (scripts/install-deps.sh installs it)"
shell() { "$python" "$here/sni_host.py" "$@"; }

width=1024 height=768 panel=32
start_x $width $height
# The shell's panel along the bottom, as its window manager would publish it.
# Xvfb starts afresh, root properties and all, whenever its last client
# leaves, so a client stays connected from here on: one that watches the work
# area, as a desktop would.
xprop -root -spy >"$work/workarea.log" 2>&1 &
pids+=($!)
wait_for 10 test -s "$work/workarea.log" || fail "xprop -spy did not start: $(cat "$work/workarea.log")"
xprop -root -f _NET_SUPPORTED 32a -set _NET_SUPPORTED "_NET_WORKAREA"
xprop -root -f _NET_WORKAREA 32c -set _NET_WORKAREA "0, 0, $width, $((height - panel))"
wait_for 10 grep -q "= 0, 0, $width, $((height - panel))" "$work/workarea.log" \
    || fail "the work area was not published: $(cat "$work/workarea.log")"

# Nothing of the desktop this runs on may choose for the program: it must
# find the tray host on its own, on the X11 platform, through the bus.
unset WAYLAND_DISPLAY QT_QPA_PLATFORM QT_QPA_PLATFORMTHEME XDG_CURRENT_DESKTOP XDG_SESSION_TYPE \
    XDG_SESSION_DESKTOP DESKTOP_SESSION KDE_FULL_SESSION GNOME_DESKTOP_SESSION_ID
# A config home of the run's own: "Autorun" must start unchecked, whatever an
# earlier run left behind.
export XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime"
mkdir -p "$XDG_CONFIG_HOME" && mkdir -m 700 "$XDG_RUNTIME_DIR"
# A sound server that is not there: the sounds stay silent and none is spawned.
export PULSE_SERVER="unix:$work/no-pulse"
export QT_LOGGING_RULES="qt.qpa.tray*=true;qt.qpa.menu*=true"

# A session bus of our own that starts no services: whatever answers on it,
# the test started.
cat >"$work/bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=$work/bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
EOF
dbus-daemon --config-file="$work/bus.conf" --nofork --nopidfile --print-address >"$work/bus.address" 2>"$work/bus.log" &
pids+=($!)
wait_for 10 test -s "$work/bus.address" || fail "dbus-daemon did not start: $(cat "$work/bus.log")"
DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$work/bus.address")
export DBUS_SESSION_BUS_ADDRESS

host_pid=
shells=0
start_shell() {
    "$python" "$here/sni_host.py" host "$work/host.log" "$build/icons" 2>>"$work/host.err" &
    host_pid=$!
    pids+=("$host_pid")
    shells=$((shells + 1))
    wait_for 10 count_at_least ' ready ' $shells || fail "the tray host did not start: $(cat "$work/host.err")"
}
# count_at_least TEXT N: the tray host has written TEXT on N lines or more.
count_at_least() { [ "$(grep -c -- "$1" "$work/host.log")" -ge "$2" ]; }
start_shell
pass "a StatusNotifierWatcher with a registered host is on a private session bus"

# The lobby's port is fixed. Within ctest the test has a network of its own;
# one run by hand may find another lobby there, and waits its turn.
mkdir -p "$work/reports"
printf 'SERVER 1; 10.0.0.1:27960 Arena\nCLIENTS 3; Sam\t[AB]Kira\tNobody\n' >"$work/reports/1.txt"
port_deadline=$((SECONDS + 60))
while :; do
    "$build/lookout-lobby" --address "$lobby_address" --reports "$work/reports" >"$work/lobby.log" 2>&1 &
    lobby_pid=$!
    pids+=("$lobby_pid")
    wait_for 10 grep -q -e listening -e 'cannot listen' "$work/lobby.log" || fail "lookout-lobby did not start: $(cat "$work/lobby.log")"
    grep -q listening "$work/lobby.log" && break
    wait "$lobby_pid" || true
    [ "$SECONDS" -lt "$port_deadline" ] || fail "port 22000 stayed taken for a minute: $(cat "$work/lobby.log")"
    sleep 1
done
# The lobby is held stopped while a program starts, so that its answer comes
# when the test is ready to see what it changes; a stopped lobby must never
# outlive the test.
# The program's and the shell's logs go with the artefacts, for a failure
# on a machine nobody can log in to.
save_logs() {
    local log
    for log in "$work"/lookout*.log "$work/host.log"; do
        [ -f "$log" ] && cp "$log" "$artefacts/sni-$(basename "$log")"
    done
    return 0
}
trap 'kill -CONT "$lobby_pid" 2>/dev/null; save_logs; cleanup' EXIT

app="$work/app"
install_program "$build" "$app"
printf 'LIST += Sam\nLIST += [AB]\n' >"$app/list.cfg"

summary="$artefacts/sni-tray.txt"
{
    echo "What Lookout showed a D-Bus tray host (sni_tray.sh, $(date -u '+%Y-%m-%d %H:%M:%S UTC'))"
    echo "Qt $(pkg-config --modversion Qt6Core 2>/dev/null || echo '?'), program $build/lookout"
} >"$summary"
section() { printf '\n== %s\n' "$1" >>"$summary"; }

lookout_pid=
registrations=0
# start_lookout LOG: starts the program with the lobby held, and waits for
# its item to be registered with the watcher.
start_lookout() {
    kill -STOP "$lobby_pid"
    (cd "$work" && exec "$app/lookout") >"$1" 2>&1 &
    lookout_pid=$!
    pids+=("$lookout_pid")
    registrations=$((registrations + 1))
    wait_for 20 count_at_least ' registered ' $registrations \
        || fail "the program registered no item with the watcher: $(tail -n 20 "$1")"
    read -r item_service item_path item_pid < <(shell item)
    [ "$item_pid" = "$lookout_pid" ] || fail "the item $item_service belongs to process $item_pid, not to Lookout ($lookout_pid)"
    item="$item_service$item_path"
}

# wait_for_exit SECONDS: waits for the program to end, and for its item to
# leave the tray with it.
wait_for_exit() {
    local deadline=$((SECONDS + $1))
    while kill -0 "$lookout_pid" 2>/dev/null; do
        [ "$SECONDS" -lt "$deadline" ] || return 1
        sleep 0.1
    done
    wait "$lookout_pid" || fail "Lookout exited with status $?: $(tail -n 20 "$work/lookout.log")"
    wait_for 10 grep -q " unregistered $item\$" "$work/host.log" \
        || fail "$item stayed registered after the program ended"
}

bubble_window() { xwininfo -root -tree | awk '/"lookout": \("lookout" "lookout"\)  200x150/{print $1; exit}'; }
bubble_open() { local w; w=$(bubble_window); [ -n "$w" ] && is_viewable "$w"; }
bubble_closed() { ! bubble_open; }
icon_is() { shell icon "$build/icons" | grep -q "^$1 "; }
new_icons() { grep -c " signal NewIcon from $item\$" "$work/host.log" || true; }
new_icons_at_least() { [ "$(new_icons)" -ge "$1" ]; }
# menu_entry_is LABEL STATE: the entry LABEL is a check box in STATE (0, 1).
menu_entry_is() { shell menu | cut -f2- | grep -qx "standard"$'\t'"$1"$'\t'"checkmark=$2"; }

# check_bubble_in_corner: the bubble sits right above the panel, at the right.
check_bubble_in_corner() {
    local bx by bw bh
    read -r bx by bw bh < <(window_geometry "$(bubble_window)")
    [ "$bx $by $bw $bh" = "$((width - 200)) $((height - panel - 150)) 200 150" ] \
        || fail "bubble at $bx,$by ${bw}x$bh, not in the corner of the work area"
}

# --- First run: auto show off; the icon and a click on it ---------------------

printf 'AUTO_SHOW = FALSE\nSHOW_TIME = -1\n' >"$app/config.cfg"
cp "$app/config.cfg" "$work/config.before"
start_lookout "$work/lookout.log"
pass "the program registered $item with the watcher (no X11 tray on this display)"
section "Item properties before the first report (service $item_service, object $item_path)"
shell props >>"$summary"

tooltip=$(shell tooltip)
[ "$tooltip" = "Lookout 1.2" ] || fail "tooltip title \"$tooltip\", not \"Lookout 1.2\""
pass "the tooltip reads \"$tooltip\""

icon_is lookout.png || fail "before any report the item shows $(shell icon "$build/icons"), not lookout.png"
pass "before any report the icon is lookout.png, pixel for pixel"
shell save-icon "$artefacts/tray-sni-icon.png"

kill -CONT "$lobby_pid"
wait_for 20 icon_is lookout_info.png \
    || fail "no notice icon after the report: the item shows $(shell icon "$build/icons"); $(tail -n 5 "$work/lookout.log")"
pass "the report turned the icon into lookout_info.png ($(shell icon "$build/icons" | cut -d' ' -f2-))"
bubble_open && fail "the bubble opened by itself with auto show off"
shell save-icon "$artefacts/tray-sni-icon-notice.png"
section "Item properties with a notice up"
shell props >>"$summary"

# Where a shell would say the icon was clicked: on its panel, bottom right.
shell activate $((width - 12)) $((height - panel / 2))
wait_for 10 bubble_open || fail "Activate did not open the bubble: $(tail -n 5 "$work/lookout.log")"
check_bubble_in_corner
pass "Activate opened the bubble in the corner of the work area"
wait_for 10 icon_is lookout.png || fail "the notice icon stayed after the bubble opened: $(shell icon "$build/icons")"
pass "with the bubble open the icon is lookout.png again"
sleep 0.3 # let the bubble paint before the picture
import -window root "$artefacts/tray-sni.png"
pass "screenshot with the bubble open: $artefacts/tray-sni.png"

shell activate $((width - 12)) $((height - panel / 2))
wait_for 10 bubble_closed \
    || fail "a second Activate did not close the bubble"
pass "a second Activate closed it"

kill -TERM "$lookout_pid"
wait_for_exit 10 || fail "SIGTERM did not end the program"
cmp -s "$app/config.cfg" "$work/config.before" || fail "SIGTERM rewrote config.cfg: $(cat "$app/config.cfg")"
pass "SIGTERM ended the program without saving, and its item left the tray"

# --- Second run: auto show on; the menu ---------------------------------------

printf 'SHOW_TIME = -1\n' >"$app/config.cfg" # the bubble stays until clicked
mv "$work/lookout.log" "$work/lookout-first.log"
start_lookout "$work/lookout.log"
pass "the program registered $item again"

section "Menu as the program starts (id, type, label, toggle)"
shell menu | tee -a "$summary" | cut -f2- >"$work/menu" || fail "the menu could not be read"
diff -u - "$work/menu" >"$work/menu.diff" <<EOF || fail "menu:
$(cat "$work/menu.diff")"
standard	About	icon
standard	Auto show	checkmark=1
standard	Sound	checkmark=1
standard	Autorun	checkmark=0
separator
standard	Quit	icon
EOF
pass "menu: About (with icon), Auto show (on), Sound (on), Autorun (off), a separator, Quit (with icon)"

icons_before=$(new_icons)
kill -CONT "$lobby_pid"
wait_for 20 bubble_open || fail "no bubble after the report with auto show on: $(tail -n 5 "$work/lookout.log")"
check_bubble_in_corner
pass "with auto show on, the report opened the bubble by itself"
# The notice icon is up only until the bubble opens, which is at once: it
# cannot be read, but both changes must reach the shell.
wait_for 10 new_icons_at_least $((icons_before + 2)) \
    || fail "the shell was told of $(($(new_icons) - icons_before)) icon changes, not the notice icon and back"
wait_for 10 icon_is lookout.png || fail "the icon is not lookout.png with the bubble open: $(shell icon "$build/icons")"
pass "the shell was told of the notice icon and of the normal one after it"
sleep 0.3
import -window root "$artefacts/tray-sni-auto.png"

shell click Sound
wait_for 10 menu_entry_is Sound 0 \
    || fail "clicking Sound did not clear its check mark: $(shell menu)"
pass "clicking Sound cleared its check mark"
shell click "Auto show"
wait_for 10 menu_entry_is "Auto show" 0 \
    || fail "clicking Auto show did not clear its check mark: $(shell menu)"
pass "clicking Auto show cleared its check mark"
section "Menu after clicking Sound and Auto show"
shell menu >>"$summary"
section "Menu entries with all their properties"
shell menu-raw >>"$summary"

# Panels crash and are restarted; the icon must come back by itself.
kill "$host_pid"
wait "$host_pid" || true
start_shell
registrations=$((registrations + 1))
wait_for 10 count_at_least ' registered ' $registrations \
    || fail "the program did not register again with a restarted watcher: $(tail -n 5 "$work/lookout.log")"
[ "$(shell item | cut -d' ' -f1,2 | tr -d ' ')" = "$item" ] || fail "a restarted watcher got $(shell item), not $item"
{ menu_entry_is Sound 0 && menu_entry_is "Auto show" 0; } || fail "the menu changed over the restart: $(shell menu)"
pass "after the tray host restarted, the same item registered again with its menu as it was"

quit_clicked=$EPOCHREALTIME
shell click Quit
wait_for_exit 20 || fail "the program was still running 20 s after Quit: $(tail -n 5 "$work/lookout.log")"
pass "Quit ended the program, and its item left the tray, $(awk "BEGIN{printf \"%.2f\", $EPOCHREALTIME - $quit_clicked}") s after the click"

grep -qx 'PLAY_SOUND = FALSE' "$app/config.cfg" || fail "sound not saved as off: $(cat "$app/config.cfg")"
grep -qx 'AUTO_SHOW = FALSE' "$app/config.cfg" || fail "auto show not saved as off: $(cat "$app/config.cfg")"
grep -qx 'SHOW_TIME = -1' "$app/config.cfg" || fail "show time changed: $(cat "$app/config.cfg")"
pass "Quit saved sound and auto show off, show time unchanged"

section "What the watcher saw (also in sni-host.log)"
cat "$work/host.log" >>"$summary"
section "config.cfg after Quit"
cat "$app/config.cfg" >>"$summary"
printf '\n\nsni_tray took %d s\n' $((SECONDS - started)) >>"$summary"
echo "sni_tray: all checks passed in $((SECONDS - started)) s; summary in $summary"
