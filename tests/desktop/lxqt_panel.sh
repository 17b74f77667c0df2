#!/usr/bin/env bash
# Lookout in LXQt's own panel under openbox, which takes the panel's strip out
# of the work area. The panel's status notifier hosts the icon when the panel
# is there first, its XEmbed tray when Lookout is (as they race at log-on).
# Leaves the README's pictures in ARTEFACT_DIR.
#
# usage: lxqt_panel.sh BUILD_DIR ARTEFACT_DIR
set -euo pipefail
. "$(dirname "$0")/common.sh"
need lxqt-panel openbox Xvfb xdotool xwininfo xprop xsetroot import convert compare dbus-daemon gdbus
width=1024 height=768 panel=32
start_x $width $height
unset WAYLAND_DISPLAY QT_QPA_PLATFORM QT_QPA_PLATFORMTHEME XDG_CURRENT_DESKTOP XDG_SESSION_TYPE \
    XDG_SESSION_DESKTOP DESKTOP_SESSION KDE_FULL_SESSION GNOME_DESKTOP_SESSION_ID
export XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime"
export PULSE_SERVER="unix:$work/no-pulse" # silent, and no sound server is spawned
mkdir -p "$XDG_CONFIG_HOME/lxqt" && mkdir -m 700 "$XDG_RUNTIME_DIR"
start_bus "$work"
log_prefix=lxqt
# Along the bottom: the status notifier, the XEmbed tray, and a spacer to
# their right as a clock would be; a light theme.
printf '%s\n' '[General]' __userfile__=true panels=panel1 '[panel1]' plugins=statusnotifier,tray,spacer \
    position=Bottom desktop=0 panelSize=$panel iconSize=22 lineCount=1 width=100 width-percent=true alignment=0 \
    hidable=false '[statusnotifier]' type=statusnotifier alignment=Right '[tray]' type=tray alignment=Right \
    '[spacer]' type=spacer alignment=Right size=330 expandable=false >"$XDG_CONFIG_HOME/lxqt/panel.conf"
printf '[General]\ntheme=light\n' >"$XDG_CONFIG_HOME/lxqt/lxqt.conf"
openbox >"$work/openbox.log" 2>&1 &
pids+=($!)
wait_for 20 sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"' || fail "openbox did not start: $(cat "$work/openbox.log")"
xsetroot -solid '#36607a' # a desktop's colour, for the pictures

work_area() { xprop -root _NET_WORKAREA | grep -q "= 0, 0, $width, $1"; }
start_panel() {
    lxqt-panel >>"$work/panel.log" 2>&1 &
    panel_pid=$!
    pids+=("$panel_pid")
    wait_for 20 work_area $((height - panel)) || fail "the panel's strip is in the work area: $(xprop -root _NET_WORKAREA)"
    wait_for 20 sni_host_registered || fail "the panel registered no StatusNotifierHost: $(tail "$work/panel.log")"
}
stop_panel() {
    kill "$panel_pid" && wait "$panel_pid" || true
    wait_for 20 work_area $height || fail "the work area kept the panel's strip: $(xprop -root _NET_WORKAREA)"
}
strip="${width}x$panel+0+$((height - panel))"
icon_box() { # where the panel draws something in colour
    import -window root -crop "$strip" "$work/panel-now.png"
    coloured_box "$work/panel-now.png"
}
icon_drawn() { icon_box | grep -q .; }
click_icon() {
    local x y w h
    read -r x y w h < <(icon_box)
    xdotool mousemove $((x + w / 2)) $((y + h / 2)) click "$1"
}
above_panel=$((height - panel - 150)) corner_x=$((width - 200))

start_panel
! icon_drawn || fail "the empty panel already shows something in colour"
pass "lxqt-panel is up: its watcher has a host, and openbox keeps its ${panel}-pixel strip out of the work area"

mkdir -p "$work/reports"
printf 'SERVER 1; 10.0.0.1:27960 Arena\nCLIENTS 3; Sam\t[AB]Kira\tNobody\n' >"$work/reports/1.txt"
start_lobby "$work/reports" "$work/lobby.log"
app="$work/app"
install_program "$app" Sam '[AB]'
start_lookout() { # LOG [item]: Lookout, and with "item" its item with the panel's watcher
    (cd "$work" && exec "$app/lookout") >"$1" 2>&1 &
    lookout_pid=$!
    pids+=("$lookout_pid")
    [ -z "${2:-}" ] || wait_for 20 sni_item || fail "Lookout registered no item with the panel's watcher: $(tail "$1")"
    [ -z "${2:-}" ] || item=$(sni_item)
}
# item_property NAME: the item's property NAME, as the panel reads it.
item_property() {
    gdbus call --session -d "${item%%/*}" -o "/${item#*/}" -m org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierItem "$1"
}
icon_is() { [ "$(item_property IconPixmap | md5sum)" = "$1" ]; } # SUM: the item's pictures are those of SUM
# menu: "label=toggle-state" (or "=icon", or "separator") for each entry, as the panel reads the menu.
menu() {
    local service=${item%%/*} path
    path=$(item_property Menu | grep -o "/[^']*")
    gdbus call --session -d "$service" -o "$path" -m com.canonical.dbusmenu.AboutToShow 0 >/dev/null
    gdbus call --session -d "$service" -o "$path" -m com.canonical.dbusmenu.GetLayout -- 0 -1 '[]' |
        tr "'" '"' | sed 's/<(/\n/g' | tail -n +2 | awk '/"type": <"separator">/ { printf "separator "; next }
            { l = match($0, /"label": <"[^"]*">/) ? substr($0, RSTART + 11, RLENGTH - 13) : ""; gsub(/&/, "", l)
              s = /"icon-(data|name)"/ ? "icon" : match($0, /"toggle-state": <[0-9-]+>/) ? substr($0, RSTART + 17, RLENGTH - 18) : ""
              printf "%s=%s ", l, s }'
}
menu_is() { [ "$(menu)" = "About=icon Auto show=$1 Sound=$2 Autorun=0 separator Quit=icon " ]; } # AUTO_SHOW SOUND
panel_menu_open() {
    local w
    for w in $(xwininfo -root -tree | grep '"lxqt-panel": ("lxqt-panel" "lxqt-panel")' | grep -v "${width}x$panel" | awk '{print $1}'); do
        is_viewable "$w" && return 0
    done
    return 1
}
open_menu() {
    click_icon 3
    wait_for 10 panel_menu_open || fail "a right click on the icon did not open the panel's menu"
    sleep 0.3 # let it paint
}
pick() { # N [PNG]: the Nth entry of the panel's menu (About, Auto show, Sound, Autorun, Quit)
    open_menu
    [ -z "${2:-}" ] || import -window root "$2"
    xdotool key $(printf 'Down %.0s' $(seq "$1")) Return
    wait_for 10 eval '! panel_menu_open' || fail "the panel's menu stayed open"
}
panel_picture() { xdotool mousemove 0 0 && import -window root -crop "$strip" +repage "$1"; } # the pointer away
panel_shows() { panel_picture "$work/panel-now.png" && [ "$(compare -metric AE "$work/panel-now.png" "$1" null: 2>&1)" = 0 ]; }

# The panel first. Auto show off, so the notice icon stays to be read, and
# the lobby held until the normal icon has been read.
printf 'AUTO_SHOW = FALSE\nSHOW_TIME = -1\n' | tee "$app/config.cfg" >"$work/config.before"
kill -STOP "$lobby_pid"
start_lookout "$work/lookout.log" item
item_property ToolTip | grep -qF "'Lookout 1.2'" || fail "the tooltip: $(item_property ToolTip)"
normal_icon=$(item_property IconPixmap | md5sum)
wait_for 10 icon_drawn || fail "nothing drawn in the panel"
read -r ix iy iw ih < <(icon_box)
[ "$iw" -le 24 ] && [ "$ih" -le 24 ] || fail "what the panel drew in colour is ${iw}x$ih, not one icon"
panel_picture "$work/panel-normal.png"
pass "Lookout's item $item is in lxqt-panel at $ix,$iy (${iw}x$ih): tooltip "Lookout 1.2""
kill -CONT "$lobby_pid"
wait_for 20 eval '! icon_is "$normal_icon"' || fail "the icon did not change with the report"
! bubble_open || fail "the bubble opened by itself with auto show off"
wait_for 10 eval '! panel_shows "$work/panel-normal.png"' || fail "the panel still draws the normal icon"
pass "the report changed the item's icon, and the panel redrew it"
click_icon 1
wait_for 10 bubble_at $corner_x $above_panel || fail "a click on the icon did not open the bubble above the panel: $(bubble_where)"
wait_for 10 icon_is "$normal_icon" || fail "the notice icon stayed with the bubble open"
sleep 0.6 # two clicks in quick succession would be a double click
click_icon 1
wait_for 10 bubble_closed || fail "a second click on the icon did not close the bubble"
pass "clicks on the icon open the bubble right above the panel, which puts the normal icon back, and close it"
stop "$lookout_pid" Lookout "$work/lookout.log"
cmp -s "$app/config.cfg" "$work/config.before" || fail "SIGTERM rewrote config.cfg: $(cat "$app/config.cfg")"
wait_for 10 no_sni_item || fail "the item stayed in the panel after SIGTERM"
pass "SIGTERM ended Lookout without saving, and its item left the panel"

# Auto show on: the notice opens the bubble, and the menu is driven.
printf 'SHOW_TIME = -1\n' >"$app/config.cfg"
start_lookout "$work/lookout-menu.log" item
wait_for 20 bubble_at $corner_x $above_panel || fail "no bubble above the panel after the report: $(bubble_where)"
menu_is 1 1 || fail "the menu the panel reads: $(menu)"
pick 3 "$artefacts/lxqt-menu-screen.png"
wait_for 10 menu_is 1 0 || fail "the third entry of the panel's menu did not switch sound off: $(menu)"
pick 2
wait_for 10 menu_is 0 0 || fail "the second entry of the panel's menu did not switch auto show off: $(menu)"
pass "a notice opened the bubble above the panel; its menu showed the check marks and switched sound and auto show off"
# Panels crash and are restarted; the icon must come back by itself.
stop_panel
start_panel
wait_for 20 eval '[ "$(sni_item)" = "$item" ]' || fail "the same item did not register again with the restarted panel: $(sni_item)"
menu_is 0 0 || fail "the menu changed over the restart: $(menu)"
wait_for 10 icon_drawn || fail "the restarted panel does not draw the icon"
pass "after the panel restarted, the same item registered again with its menu as it was"
pick 5
ended "$lookout_pid" "Lookout after Quit" "$work/lookout-menu.log"
[ "$(grep -E '^(PLAY_SOUND|AUTO_SHOW|SHOW_TIME) ' "$app/config.cfg" | sort | tr '\n' ' ')" = \
    "AUTO_SHOW = FALSE PLAY_SOUND = FALSE SHOW_TIME = -1 " ] || fail "config.cfg after Quit: $(cat "$app/config.cfg")"
wait_for 10 no_sni_item || fail "the item stayed in the panel after Quit"
pass "the fifth entry quit, saving sound and auto show off, and the item left the panel"

# Lookout first, then the panel, whose XEmbed tray takes the icon's window.
# No tray at all before (as on GNOME without its extension), and the
# environment of a Wayland session with XWayland: the program takes XWayland
# (the Wayland socket is missing) and opens its bubble in the screen's corner.
stop_panel
printf 'SHOW_TIME = -1\n' >"$app/config.cfg"
XDG_SESSION_TYPE=wayland WAYLAND_DISPLAY=lookout-test-no-such-socket start_lookout "$work/lookout-first.log"
wait_for 20 bubble_at $corner_x $((height - 150)) || fail "with no tray, no bubble in the corner of the screen: $(bubble_where) $(tail "$work/lookout-first.log")"
start_panel
icon_embedded() { xwininfo -root -tree | grep -q '^        0x[0-9a-f]* "lookout": ("lookout" "lookout")'; }
wait_for 20 icon_embedded || fail "the panel started after Lookout did not embed its icon"
wait_for 10 icon_drawn || fail "the embedded icon is not drawn in the panel"
click_icon 1
wait_for 10 bubble_closed || fail "a click on the embedded icon did not close the bubble"
sleep 0.6
click_icon 1
wait_for 10 bubble_at $corner_x $above_panel || fail "the bubble opened after the panel came is at $(bubble_where), not above it"
pass "with no tray, in a Wayland session, the bubble opened in the screen's corner; the panel started next embeds the icon, whose clicks toggle it, now above the panel"
stop "$lookout_pid" Lookout "$work/lookout-first.log"

# The README's pictures: a stay, an arrival and a departure, and the menu beside them.
three_line_reports "$work/reports3"
start_short_pause "$app" "$work/reports3" "$work/lookout-pictures.log" 1500
wait_for 20 polls "$work/lookout-pictures.log.lobby" 3 || fail "the pictures' program did not poll"
wait_for 20 sni_item && wait_for 10 bubble_at $corner_x $above_panel || fail "no bubble or item for the pictures"
sleep 0.3
xdotool mousemove 0 0
crop="480x220+$((width - 480))+$((height - 220))"
import -window root -crop "$crop" +repage "$artefacts/lxqt-bubble.png"
open_menu
import -window root -crop "$crop" +repage "$artefacts/lxqt-bubble-menu.png"
xdotool key Escape
pass "pictures: $artefacts/lxqt-bubble.png and $artefacts/lxqt-bubble-menu.png"
