#!/usr/bin/env bash
# Lookout in LXQt's own panel, on a real X server under openbox, which takes
# the panel's strip out of the work area as a desktop's window manager does.
# The panel's code hosts the icon: its status notifier plugin (with its own
# StatusNotifierWatcher) when the panel is there first, its XEmbed tray when
# Lookout starts first, as autostarted programs and the panel race at log-on.
#
# Driven as a person would: a click on the icon in the panel toggles the
# bubble, the panel's menu switches "Sound" and "Auto show", the fifth entry
# quits and saves them. What the panel reads of the item is read over the bus
# as well: the tooltip, the icon's pixels as a report changes them, the menu,
# and the item again after the panel restarts. With lookout-short-pause (the
# program with a short pause between polls) it also takes the pictures of
# the README: a notice with a stay, an arrival and a departure, and the open
# menu beside it.
#
# usage: lxqt_panel.sh BUILD_DIR ARTEFACT_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
artefacts=$(mkdir -p "$2" && cd "$2" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
. "$here/common.sh"
. "$here/panels.sh"
need lxqt-panel openbox Xvfb xdotool xwininfo xprop xsetroot import convert dbus-daemon gdbus
/usr/bin/python3 -c 'from gi.repository import Gio' 2>/dev/null || skip "no python3-gi (scripts/install-deps.sh installs it)"
started=$SECONDS

width=1024 height=768 panel=32
start_x $width $height
unset WAYLAND_DISPLAY QT_QPA_PLATFORM QT_QPA_PLATFORMTHEME XDG_CURRENT_DESKTOP XDG_SESSION_TYPE \
    XDG_SESSION_DESKTOP DESKTOP_SESSION KDE_FULL_SESSION GNOME_DESKTOP_SESSION_ID
export XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime"
mkdir -p "$XDG_CONFIG_HOME/lxqt" && mkdir -m 700 "$XDG_RUNTIME_DIR"
export PULSE_SERVER="unix:$work/no-pulse" # silent, and no sound server is spawned
start_bus "$work"

# The panel along the bottom with its status notifier and XEmbed tray, a
# spacer to their right as a clock or a pager would be, and a light theme.
cat >"$XDG_CONFIG_HOME/lxqt/panel.conf" <<EOF
[General]
__userfile__=true
panels=panel1

[panel1]
plugins=statusnotifier,tray,spacer
position=Bottom
desktop=0
panelSize=$panel
iconSize=22
lineCount=1
width=100
width-percent=true
alignment=0
hidable=false

[statusnotifier]
type=statusnotifier
alignment=Right

[tray]
type=tray
alignment=Right

[spacer]
type=spacer
alignment=Right
size=330
expandable=false
EOF
printf '[General]\ntheme=light\n' >"$XDG_CONFIG_HOME/lxqt/lxqt.conf"

openbox >"$work/openbox.log" 2>&1 &
pids+=($!)
wait_for 20 sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"' || fail "openbox did not start: $(cat "$work/openbox.log")"
xsetroot -solid '#36607a' # a desktop's colour, for the pictures

panel_pid=
start_panel() {
    lxqt-panel >>"$work/panel.log" 2>&1 &
    panel_pid=$!
    pids+=("$panel_pid")
    wait_for 20 sh -c "xprop -root _NET_WORKAREA | grep -q '= 0, 0, $width, $((height - panel))'" \
        || fail "the panel's strip was not taken out of the work area: $(xprop -root _NET_WORKAREA; tail "$work/panel.log")"
}
stop_panel() {
    kill "$panel_pid"
    wait "$panel_pid" 2>/dev/null || true
    wait_for 20 sh -c "xprop -root _NET_WORKAREA | grep -q '= 0, 0, $width, $height'" \
        || fail "the work area kept the panel's strip: $(xprop -root _NET_WORKAREA)"
}
strip="${width}x$panel+0+$((height - panel))"

start_panel
wait_for 20 sni_host_registered || fail "the panel registered no StatusNotifierHost: $(tail "$work/panel.log")"
import -window root -crop "$strip" "$work/panel-empty.png"
[ -z "$(coloured_box "$work/panel-empty.png")" ] || fail "the empty panel already shows something in colour"
pass "lxqt-panel is up: its watcher has a host, and openbox keeps its ${panel}-pixel strip out of the work area"

mkdir -p "$work/reports"
printf 'SERVER 1; 10.0.0.1:27960 Arena\nCLIENTS 3; Sam\t[AB]Kira\tNobody\n' >"$work/reports/1.txt"
start_lobby "$work/reports" "$work/lobby.log"

app="$work/app"
install_program "$build" "$app"
printf 'LIST += Sam\nLIST += [AB]\n' >"$app/list.cfg"
printf 'SHOW_TIME = -1\n' >"$app/config.cfg" # the bubble stays until clicked

keep_logs lxqt

lookout_pid=
start_lookout() {
    lookout_log=$1
    (cd "$work" && exec "$app/lookout") >"$1" 2>&1 &
    lookout_pid=$!
    pids+=("$lookout_pid")
}
wait_for_exit() {
    local deadline=$((SECONDS + $1))
    while kill -0 "$lookout_pid" 2>/dev/null; do
        [ "$SECONDS" -lt "$deadline" ] || return 1
        sleep 0.1
    done
    wait "$lookout_pid" || fail "Lookout exited with status $?: $(tail -n 20 "$lookout_log")"
}

# bubble_at Y: the bubble is open, 200x150, its right edge on the screen's.
bubble_at() {
    local bx by bw bh
    bubble_open || return 1
    read -r bx by bw bh < <(window_geometry "$(bubble_window)")
    [ "$bx $by $bw $bh" = "$((width - 200)) $1 200 150" ]
}
bubble_where() { window_geometry "$(bubble_window)"; }
menu_open() {
    local w
    for w in $(xwininfo -root -tree | grep '"lxqt-panel": ("lxqt-panel" "lxqt-panel")' | grep -v "${width}x$panel" | awk '{print $1}'); do
        is_viewable "$w" && return 0
    done
    return 1
}
# icon_box: where the panel draws something in colour.
icon_box() {
    import -window root -crop "$strip" "$work/panel-now.png"
    coloured_box "$work/panel-now.png"
}
click_icon() {
    local x y w h
    read -r x y w h < <(icon_box)
    xdotool mousemove $((x + w / 2)) $((y + h / 2)) click "$1"
}

# --- The panel first, then Lookout: the panel's status notifier hosts it -----

# First with auto show off, so that the notice icon stays up to be read, and
# the lobby held until the normal icon has been read; SIGTERM ends the run.
printf 'AUTO_SHOW = FALSE\nSHOW_TIME = -1\n' >"$app/config.cfg"
cp "$app/config.cfg" "$work/config.before"
kill -STOP "$lobby_pid"
start_lookout "$work/lookout.log"
wait_for 20 sni_item_of "$lookout_pid" || fail "Lookout registered no item with the panel's watcher: $(tail "$work/lookout.log")"
item=$(sni_item_of "$lookout_pid")
tooltip=$(sni_read "$item" tooltip)
[ "$tooltip" = "Lookout 1.2" ] || fail "the tooltip reads \"$tooltip\", not \"Lookout 1.2\""
sni_icon_is "$item" "$app/icons/lookout.png" || fail "before any report: $(sni_read "$item" icon "$app/icons/lookout.png" 2>&1)"
icon_drawn() { icon_box | grep -q .; }
wait_for 10 icon_drawn || fail "nothing new drawn in the panel"
read -r ix iy iw ih < <(icon_box)
[ "$iw" -le 24 ] && [ "$ih" -le 24 ] || fail "what the panel drew in colour is ${iw}x$ih, not one icon"
# panel_shows PNG: the panel's strip, the pointer away, is PNG pixel for pixel.
panel_shows() {
    xdotool mousemove 0 0
    import -window root -crop "$strip" +repage "$work/panel-shows.png"
    [ "$(compare -metric AE "$work/panel-shows.png" "$1" null: 2>&1)" = 0 ]
}
panel_shows "$work/panel-empty.png" && fail "the panel's strip did not change with the icon in it"
cp "$work/panel-shows.png" "$work/panel-normal.png"
pass "Lookout's item $item is in lxqt-panel at $ix,$iy (${iw}x$ih): tooltip \"$tooltip\", icon lookout.png pixel for pixel"

kill -CONT "$lobby_pid"
wait_for 20 sni_icon_is "$item" "$app/icons/lookout_info.png" \
    || fail "no notice icon after the report: $(sni_read "$item" icon "$app/icons/lookout_info.png" 2>&1)"
bubble_open && fail "the bubble opened by itself with auto show off"
panel_redrawn() { ! panel_shows "$work/panel-normal.png"; }
wait_for 10 panel_redrawn || fail "the panel still draws the normal icon"
pass "the report turned the icon into lookout_info.png, and the panel redrew it"

click_icon 1
wait_for 10 bubble_at $((height - panel - 150)) || fail "a click on the icon in the panel did not open the bubble above it: $(bubble_where)"
wait_for 10 sni_icon_is "$item" "$app/icons/lookout.png" || fail "the notice icon stayed with the bubble open"
wait_for 10 panel_shows "$work/panel-normal.png" || fail "the panel did not draw the normal icon again"
sleep 0.6 # two clicks in quick succession would be a double click
click_icon 1
wait_for 10 bubble_closed || fail "a second click on the icon did not close the bubble"
pass "clicks on the icon open the bubble right above the panel, which puts the normal icon back, and close it"

kill -TERM "$lookout_pid"
wait_for_exit 10 || fail "SIGTERM did not end Lookout"
cmp -s "$app/config.cfg" "$work/config.before" || fail "SIGTERM rewrote config.cfg: $(cat "$app/config.cfg")"
wait_for 10 no_sni_items || fail "the item stayed in the panel after SIGTERM"
pass "SIGTERM ended Lookout without saving, and its item left the panel"

# Then with auto show on: the notice opens the bubble, the menu is driven.
printf 'SHOW_TIME = -1\n' >"$app/config.cfg"
start_lookout "$work/lookout-menu.log"
wait_for 20 sni_item_of "$lookout_pid" || fail "Lookout registered no item the second time: $(tail "$work/lookout-menu.log")"
item=$(sni_item_of "$lookout_pid")
wait_for 20 bubble_at $((height - panel - 150)) \
    || fail "no bubble above the panel after the first report: $(bubble_where) $(tail "$work/lookout-menu.log")"
pass "a notice opened the 200x150 bubble at $((width - 200)),$((height - panel - 150)), right above the panel"

menu() { sni_read "$item" menu | tr '\n' ' '; }
[ "$(menu)" = "About=icon Auto show=1 Sound=1 Autorun=0 separator Quit=icon " ] || fail "the menu the panel reads: $(menu)"
click_icon 3
wait_for 10 menu_open || fail "a right click on the icon did not open the panel's menu"
sleep 0.3 # let the menu paint before the picture
import -window root "$artefacts/lxqt-menu-screen.png"
pass "the panel's menu opened: $(menu)- $artefacts/lxqt-menu-screen.png"

# The entries in order: About, Auto show, Sound, Autorun, then Quit below a
# separator. Down N times picks the Nth.
menu_closed() { ! menu_open; }
pick() {
    wait_for 10 menu_open || fail "the panel's menu did not open"
    sleep 0.3
    xdotool key $(printf 'Down %.0s' $(seq "$1")) Return
}
pick 3
wait_for 10 menu_closed || fail "the menu stayed open"
sound_off() { menu | grep -q ' Sound=0 '; }
wait_for 10 sound_off || fail "the third entry of the panel's menu did not switch sound off: $(menu)"
click_icon 3
pick 2
both_off() { [ "$(menu)" = "About=icon Auto show=0 Sound=0 Autorun=0 separator Quit=icon " ]; }
wait_for 10 both_off || fail "the second entry of the panel's menu did not switch auto show off: $(menu)"
pass "the panel's menu switched sound and auto show off"

# Panels crash and are restarted; the icon must come back by itself.
stop_panel
start_panel
wait_for 20 sni_item_of "$lookout_pid" || fail "Lookout did not register again with the restarted panel: $(tail "$work/lookout-menu.log")"
[ "$(sni_item_of "$lookout_pid")" = "$item" ] || fail "the restarted panel got $(sni_item_of "$lookout_pid"), not $item"
both_off || fail "the menu changed over the restart: $(menu)"
wait_for 10 icon_drawn || fail "the restarted panel does not draw the icon"
pass "after the panel restarted, the same item registered again with its menu as it was"

click_icon 3
pick 5
wait_for_exit 10 || fail "the fifth entry of the panel's menu did not quit"
[ "$(grep -E '^(PLAY_SOUND|AUTO_SHOW|SHOW_TIME) ' "$app/config.cfg" | sort | tr '\n' ' ')" = \
    "AUTO_SHOW = FALSE PLAY_SOUND = FALSE SHOW_TIME = -1 " ] || fail "config.cfg after Quit: $(cat "$app/config.cfg")"
wait_for 10 no_sni_items || fail "the item stayed in the panel after Quit"
pass "the fifth entry quit, saving sound and auto show off, and the item left the panel"

# --- Lookout first, then the panel: its XEmbed tray takes the icon -----------

stop_panel
printf 'SHOW_TIME = -1\n' >"$app/config.cfg"
start_lookout "$work/lookout-first.log"
wait_for 20 bubble_at $((height - 150)) || fail "no bubble in the corner of the whole screen: $(bubble_where)"
pass "with no panel yet, a notice opened the bubble in the corner of the whole screen"

start_panel
# The panel's XEmbed tray takes the icon's window into a container of its own
# and paints what it shows into the panel.
icon_embedded() {
    xwininfo -root -tree | grep -q '^        0x[0-9a-f]* "lookout": ("lookout" "lookout")'
}
wait_for 20 icon_embedded || fail "the panel started after Lookout did not embed its icon"
wait_for 10 icon_drawn || fail "the embedded icon is not drawn in the panel"
read -r ix iy iw ih < <(icon_box)
pass "the panel started after Lookout embeds its icon and draws it at $ix,$iy (${iw}x$ih)"

click_icon 1
wait_for 10 bubble_closed || fail "a click on the embedded icon did not close the bubble"
sleep 0.6
click_icon 1
wait_for 10 bubble_at $((height - panel - 150)) || fail "the bubble opened after the panel came is at $(bubble_where), not above it"
pass "the bubble opened after the panel reserved its strip sits right above it"
kill "$lookout_pid"
wait "$lookout_pid" || true

# --- The pictures: three kinds of line, and the menu beside them -------------

stop_panel
start_panel
wait_for 20 sni_host_registered || fail "the panel registered no host the second time"
three_line_reports "$work/reports3"
printf 'SHOW_TIME = -1\n' >"$app/config.cfg"
start_short_pause "$app" "$work/reports3" "$work/lookout-pictures.log"
three_polls() { [ "$(grep -c '^connection ' "$work/lookout-pictures.log.lobby")" -ge 3 ]; }
wait_for 20 three_polls || fail "the pictures' program did not poll"
wait_for 10 bubble_at $((height - panel - 150)) || fail "no bubble for the pictures"
sleep 0.3
xdotool mousemove 0 0
crop="480x220+$((width - 480))+$((height - 220))"
import -window root -crop "$crop" +repage "$artefacts/lxqt-bubble.png"
click_icon 3
wait_for 10 menu_open || fail "the menu did not open for the picture"
sleep 0.3
import -window root -crop "$crop" +repage "$artefacts/lxqt-bubble-menu.png"
xdotool key Escape
pass "pictures: $artefacts/lxqt-bubble.png and $artefacts/lxqt-bubble-menu.png"

echo "lxqt_panel: all checks passed in $((SECONDS - started)) s"
