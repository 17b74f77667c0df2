#!/usr/bin/env bash
# usage: lxqt_panel.sh BUILD_DIR ARTEFACT_DIR: Lookout in lxqt-panel under openbox, the panel started before and after it.
set -euo pipefail
. "$(dirname "$0")/common.sh"
need lxqt-panel openbox Xvfb xdotool xwininfo xprop xsetroot import convert compare dbus-daemon gdbus xclip xsettingsd xrdb
ls /usr/lib/*/qt6/plugins/platformthemes/libqgtk3.so >/dev/null 2>&1 \
    || skip "no Qt GTK platform theme (qt6-gtk-platformtheme; scripts/install-deps.sh tests installs it)"
width=1024 height=768 panel=32
start_x $width $height
unset WAYLAND_DISPLAY QT_QPA_PLATFORM QT_QPA_PLATFORMTHEME XDG_CURRENT_DESKTOP XDG_SESSION_TYPE \
    XDG_SESSION_DESKTOP DESKTOP_SESSION KDE_FULL_SESSION GNOME_DESKTOP_SESSION_ID
export XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime"
export PULSE_SERVER="unix:$work/no-pulse" # silent, and no sound server is spawned
mkdir -p "$XDG_CONFIG_HOME/lxqt" && mkdir -m 700 "$XDG_RUNTIME_DIR"
start_bus
# The status notifier, the XEmbed tray, and a spacer to their right as a clock would be.
printf '%s\n' '[General]' __userfile__=true panels=panel1 '[panel1]' plugins=statusnotifier,tray,spacer \
    position=Bottom desktop=0 panelSize=$panel iconSize=22 lineCount=1 width=100 width-percent=true alignment=0 \
    hidable=false '[statusnotifier]' type=statusnotifier alignment=Right '[tray]' type=tray alignment=Right \
    '[spacer]' type=spacer alignment=Right size=330 expandable=false >"$XDG_CONFIG_HOME/lxqt/panel.conf"
printf '[General]\ntheme=light\n' >"$XDG_CONFIG_HOME/lxqt/lxqt.conf"
openbox >"$work/openbox.log" 2>&1 &
pids+=($!)
wait_for 20 sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"' || fail "openbox did not start: $(cat "$work/openbox.log")"
xsetroot -solid '#36607a' # a desktop's colour, for the pictures

start_panel() { # [COMMAND]: the panel reserves its strip, as COMMAND tells (by default the work area is the screen above it)
    lxqt-panel >>"$work/panel.log" 2>&1 &
    panel_pid=$!
    pids+=("$panel_pid")
    wait_for 20 "${@:-work_area}" $((height - panel)) || fail "the panel's strip is in the work area: $(xprop -root _NET_WORKAREA)"
    wait_for 20 sni_host_registered || fail "the panel registered no StatusNotifierHost: $(tail "$work/panel.log")"
}
stop_panel() {
    kill "$panel_pid" && wait "$panel_pid" || true
    wait_for 20 work_area $height || fail "the work area kept the panel's strip: $(xprop -root _NET_WORKAREA)"
}
strip="${width}x$panel+0+$((height - panel))"
panel_picture() { xdotool mousemove 0 0 && import -window root -crop "$strip" +repage "$1"; } # the pointer away
# compare -metric AE prints the count of differing pixels: "0" in ImageMagick 6 and 7.1.1, "0 (0)" in 7.1.2
# (Debian testing), the share of them after it; its first word is the count in each.
panel_shows() {
    local differ=
    panel_picture "$work/panel-now.png" && differ=$(compare -metric AE "$work/panel-now.png" "$1" null: 2>&1)
    [ "${differ%% *}" = 0 ]
}
icon_drawn() { import -window root -crop "$strip" "$work/panel-now.png" && coloured_box "$work/panel-now.png" | grep -q .; }
click_icon() { # BUTTON
    local x y w h
    icon_drawn || fail "no icon to click in the panel"
    read -r x y w h < <(coloured_box "$work/panel-now.png")
    xdotool mousemove $((x + w / 2)) $((y + h / 2)) click "$1"
}
above_panel=$((height - panel - 150)) corner_x=$((width - 200))
menu_open() { viewable_window lxqt-panel "${width}x$panel"; }
open_menu() {
    click_icon 3
    wait_for 10 menu_open || fail "a right click on the icon did not open the panel's menu"
}

start_panel
! icon_drawn || fail "the empty panel already shows something in colour"
reports 'SERVER 1; 10.0.0.1:27960 Arena\nCLIENTS 2; Sam\t[AB]Kira\n' 'SERVER 1; 10.0.0.1:27960 Arena\nCLIENTS 2; Sam\t[AB]Rex\n'
start_lobby "$work/lobby.log"
app="$work/app"
install_program "$app" Sam '[AB]'

# Auto show off, and the lobby held until the normal icon has been drawn.
printf 'AUTO_SHOW = FALSE\nSHOW_TIME = -1\n' | tee "$app/config.cfg" >"$work/config.before"
kill -STOP "$lobby_pid"
start_lookout "$work/lookout.log"
wait_for 20 item_registered || fail "Lookout registered no item with the panel's watcher: $(tail "$work/lookout.log")"
item_property ToolTip | grep -qF "'Lookout 1.2'" || fail "the tooltip: $(item_property ToolTip)"
wait_for 10 icon_drawn || fail "nothing drawn in the panel"
panel_picture "$work/panel-normal.png"
kill -CONT "$lobby_pid"
wait_for 20 eval '! panel_shows "$work/panel-normal.png"' || fail "the panel still draws the normal icon after the report"
toggles "click_icon 1" "bubble_at $corner_x $above_panel && panel_shows $work/panel-normal.png" bubble_closed
menu_is 1 || fail "the menu the panel reads: $(menu)"
pick 3 "$artefacts/lxqt-menu-screen.png"
wait_for 10 menu_is 0 || fail "the third entry of the panel's menu did not switch sound off: $(menu)"
pass "item $item in lxqt-panel, tooltip \"Lookout 1.2\"; the report changed its icon, clicks toggle the bubble above the panel and put the normal icon back; the menu switched sound off"
stop_panel # panels crash and are restarted; the icon must come back by itself
start_panel
wait_for 20 eval '[ "$(item_registered && echo "$item")" = "$item" ]' || fail "the same item did not register again with the restarted panel"
menu_is 0 || fail "the menu changed over the restart: $(menu)"
wait_for 10 icon_drawn || fail "the restarted panel does not draw the icon"
stop "$lookout_pid" Lookout "$work/lookout.log"
cmp -s "$app/config.cfg" "$work/config.before" || fail "SIGTERM saved config.cfg: $(cat "$app/config.cfg")"
wait_for 10 item_left || fail "the item stayed in the panel after SIGTERM"
pass "after the panel restarted the same item registered again with its menu as it was; SIGTERM saved nothing, and the item left"

# No tray at all (as on GNOME without its extension) in a Wayland session's environment, then the panel's XEmbed tray.
stop_panel
printf 'SHOW_TIME = -1\n' >"$app/config.cfg"
XDG_SESSION_TYPE=wayland WAYLAND_DISPLAY=lookout-test-no-such-socket start_lookout "$work/lookout-first.log"
wait_for 20 bubble_at $corner_x $((height - 150)) || fail "with no tray, no bubble in the corner of the screen: $(bubble_where) $(tail "$work/lookout-first.log")"
start_panel
wait_for 20 icon_drawn || fail "the panel started after Lookout does not draw its icon"
# LXQt 2 no longer embeds the icon: its tray shows it as a status notifier item and hands each click on
# to the icon's window as a ButtonPress event it sends. Qt takes the second of two such clicks for a double
# click however far apart they come (2.5 s here), in any Qt program, and a double click does not toggle the
# bubble: one more click opens it.
click_icon 1
wait_for 10 bubble_closed || fail "a click did not close the bubble: $(bubble_where)"
sleep 0.6
click_icon 1
wait_for 3 bubble_open || { sleep 0.6 && click_icon 1; }
wait_for 10 bubble_at $corner_x $above_panel || fail "clicks did not open the bubble above the panel: $(bubble_where)"
stop "$lookout_pid" Lookout "$work/lookout-first.log"
pass "with no tray the bubble opened in the screen's corner; the panel started next embeds the icon, whose clicks toggle it, now above the panel"

# The README's pictures, on a dark GTK theme the bubble's page ignores: a stay (black), an arrival and a departure.
start_short_pause "$app" "$work/lookout-pictures.log" 1500 GTK_THEME=Adwaita:dark QT_QPA_PLATFORMTHEME=gtk3
wait_for 20 polls "$work/lookout-pictures.log.lobby" 3 || fail "the pictures' program did not poll: $(tail "$work/lookout-pictures.log")"
wait_for 20 item_registered && wait_for 10 bubble_at $corner_x $above_panel || fail "no bubble or item for the pictures"
xdotool mousemove 0 0
import -window "$(bubble_window)" "$work/bubble.png"
# Per cent of full lightness: the page below the three lines, and the darkest pixel of the first line.
lightness() { convert "$work/bubble.png" -crop "$1" +repage -colorspace Gray -format "%[fx:int(100*$2)]" info:; }
page=$(lightness 180x40+5+105 mean) stay=$(lightness 180x14+5+3 minima)
[ "$page" -ge 90 ] && [ "$stay" -le 20 ] || fail "on the dark theme the page is at $page % and the stay line at $stay %"
crop="480x220+$((width - 480))+$((height - 220))"
open_menu
sleep 0.3
import -window root -crop "$crop" +repage "$artefacts/lxqt-bubble-menu.png"
xdotool key Escape
pass "on a dark GTK theme the bubble's page is light ($page %) and the stay line dark ($stay %): $artefacts/lxqt-bubble-menu.png"

# Screens as players have them, on an X server of their own: monitors of one X screen as RandR has them (as
# xrandr --setmonitor makes them), changed while the bubble is open; scaled at 125 and 150 %; a game in front.
# Qt gives each of several monitors its whole rectangle as its work area, and rounds a scaled one apart from the
# window: the bubble covered the panel, or lay a pixel over it.
stop "$lookout_pid" Lookout "$work/lookout-pictures.log"
stop_panel
width=4480 height=1440
start_x $width $height
openbox >"$work/openbox-screens.log" 2>&1 &
pids+=($!)
wait_for 20 sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"' || fail "openbox did not start: $(cat "$work/openbox-screens.log")"
xsetroot -solid '#36607a'
# set_monitors [*]NAME W/MMxH/MM+X+Y...: the X screen's monitors, the one marked * primary (it takes the screen's output).
set_monitors() {
    local m
    for m in $(xrandr --listmonitors | awk 'NR > 1 && $2 !~ /^\+/ { sub(/^\*/, "", $2); print $2 }'); do
        xrandr --delmonitor "$m" >/dev/null
    done
    for m; do [[ $m == \** ]] || xrandr --setmonitor "${m% *}" "${m#* }" none >/dev/null; done
    for m; do [[ $m != \** ]] || xrandr --setmonitor "${m% *}" "${m#* }" screen >/dev/null; done
}
primary_monitor() { xrandr --listmonitors | awk '$2 ~ /^\+?\*/ { split($3, g, /[\/x+]/); print g[5], g[6], g[1], g[3] }'; }
panel_rect() { window_geometry "$(xwininfo -root -tree | awk -v h=$panel '/\("lxqt-panel" "lxqt-panel"\)/ && $0 ~ "[0-9]x" h "\\+" && !n++ { print $1 }')"; }
# in_corner: the bubble at the primary monitor's bottom right corner, right above the panel where the panel lies on it
# (LXQt 1 under Qt 5 knows one screen and spans the X screen's foot; LXQt 2 keeps to one monitor).
in_corner() {
    local mx my mw mh px py pw ph bottom
    read -r mx my mw mh < <(primary_monitor) && read -r px py pw ph < <(panel_rect) || return
    bottom=$((my + mh))
    [ "$px" -ge $((mx + mw)) ] || [ $((px + pw)) -le "$mx" ] || [ "$py" -ge $bottom ] || [ $((py + ph)) -le "$my" ] || bottom=$py
    bubble_at $((mx + mw - ${bubble_size%x*})) $((bottom - ${bubble_size#*x}))
}
screen_picture() { # PNG: the whole X screen at a quarter of its size, each monitor outlined, the primary in yellow
    local outlines=() m
    for m in $(xrandr --listmonitors | awk 'NR > 1 { split($3, g, /[\/x+]/); print ($2 ~ /\*/ ? "yellow" : "white") "," g[5] "," g[6] "," g[5] + g[1] - 1 "," g[6] + g[3] - 1 }'); do
        IFS=, read -r colour x0 y0 x1 y1 <<<"$m"
        outlines+=(-stroke "$colour" -draw "rectangle $x0,$y0 $x1,$y1")
    done
    xdotool mousemove 0 0 && import -window root "$work/screen.png" &&
        convert "$work/screen.png" -fill none -strokewidth 8 "${outlines[@]}" -resize 25% "$1"
}
corner_picture() { # PNG: the primary's bottom right corner, the pointer away
    local mx my mw mh
    read -r mx my mw mh < <(primary_monitor)
    xdotool mousemove 0 0 && import -window root -crop "640x320+$((mx + mw - 640))+$((my + mh - 320))" +repage "$1"
}
# Two 1080p monitors side by side, their feet on the screen's, the primary on the right; then, with the bubble open,
# the right one unplugged; a 1440p one plugged in right of the primary; then a 1440p one left of a 1080p primary.
set_monitors "L 1920/508x1080/286+0+360" "*R 1920/508x1080/286+1920+360"
# openbox's work area spans the monitors: the screen's top 360 rows are on none.
strut_reserved() { xprop -root _NET_WORKAREA | grep -qE "= [0-9]+, [0-9]+, [0-9]+, $(($1 - 360))(,|$)"; }
start_panel strut_reserved
reports 'SERVER 1; 10.0.0.1:27960 Arena\nCLIENTS 1; Sam\n'
start_short_pause "$app" "$work/lookout-screens.log" 500
wait_for 20 in_corner || fail "two monitors: the bubble at $(bubble_where), not above the panel ($(panel_rect)) at the primary's corner ($(primary_monitor))"
corner_picture "$artefacts/lxqt-two-monitors.png"
set_monitors "*L 1920/508x1080/286+0+360"
wait_for 10 in_corner || fail "the primary unplugged: the bubble stayed at $(bubble_where), not at the new primary's corner ($(primary_monitor))"
set_monitors "*L 1920/508x1080/286+0+360" "W 2560/677x1440/381+1920+0"
wait_for 10 in_corner || fail "a 1440p monitor plugged in right of the primary: the bubble at $(bubble_where), not at the primary's corner ($(primary_monitor))"
set_monitors "A 2560/677x1440/381+0+0" "*B 1920/508x1080/286+2560+360"
wait_for 10 in_corner || fail "a 1440p monitor plugged in: the bubble at $(bubble_where), not at the 1080p primary's corner ($(primary_monitor))"
screen_picture "$artefacts/lxqt-two-monitors-screen.png"
pass "two monitors, the primary on the right, unplugged, a 1440p right of it, then a 1440p left of a 1080p primary: the open bubble followed to the primary's corner above the panel, at $(bubble_where)"
stop "$lookout_pid" Lookout "$work/lookout-screens.log"

# Scaled: at 125 % (QT_SCALE_FACTOR), then at 150 % (Xft.dpi) with a game in front: a focused full-screen window on
# the primary (xev's, which logs the keys it gets). The first notice opens the bubble over it; the game keeps the
# focus, the active window, its full-screen state and its keys, also while the bubble's text is selected and copied.
scaled() { # FACTOR SIZE [VAR=VALUE]: Lookout's first notice, its bubble of SIZE at the corner
    bubble_size=$2
    start_short_pause "$app" "$work/lookout-$1.log" 500 "${@:3}"
    wait_for 20 in_corner || fail "at $1: the bubble at $(bubble_where), not $2 above the panel ($(panel_rect)) at the primary's corner"
    corner_picture "$artefacts/lxqt-scaled-$1.png"
}
scaled 1.25 250x188 QT_SCALE_FACTOR=1.25
stop "$lookout_pid" Lookout "$work/lookout-1.25.log"
start_game 1920x1080+2560+360
echo 'Xft.dpi: 144' | xrdb -merge
scaled 1.5 300x225
game_kept_its_place
copied_from_bubble "Sam on Arena"
game_kept_its_place "copying from the bubble"
stop "$lookout_pid" Lookout "$work/lookout-1.5.log"
pass "at 125 and 150 % the bubble is 250x188 and 300x225 exactly at the corner above the panel, at 150 % over a full-screen game that kept the focus and its keys, also as its text was selected and copied"

# A scale changed while Lookout runs, as a desktop's settings daemon tells it on X11 (XSETTINGS' Xft/DPI, as GNOME's
# and Xfce's do; xsettingsd here): 100 %, then 150 % with the bubble open, then 125 % with it closed and opened by
# the tray's click. Qt on X11 kept the open bubble's window at its old size in device pixels, showing part of its
# page at the new scale. The page is checked whole: a window made larger behind Qt's back stays black at its edges.
xrdb -remove
xsettings() { printf 'Xft/DPI %d\n' $(($1 * 1024)) >"$work/xsettings.conf"; } # DPI
xsettings 96
xsettingsd -c "$work/xsettings.conf" >"$work/xsettingsd.log" 2>&1 &
xsettingsd_pid=$!
pids+=("$xsettingsd_pid")
wait_for 10 grep -q "Took ownership of selection _XSETTINGS_S0" "$work/xsettingsd.log" ||
    fail "xsettingsd did not start: $(cat "$work/xsettingsd.log")"
page_corner() { # the open bubble's page to its bottom right corner, within its frame, as lightness reads it
    local w=${bubble_size%x*} h=${bubble_size#*x}
    import -window "$(bubble_window)" "$work/bubble.png" && lightness "$((w / 2 - 5))x$((h / 2 - 5))+$((w / 2))+$((h / 2))" minima
}
rescaled() { # DPI SIZE: the scale changed to DPI; the bubble (open) of SIZE at the corner, its page white to it
    bubble_size=$2
    wait_for 20 in_corner || fail "at Xft/DPI $1 the bubble at $(bubble_where) is not $2 above the panel ($(panel_rect)) at the primary's corner"
    wait_for 10 eval '[ "$(page_corner)" -ge 90 ]' || fail "at Xft/DPI $1 the bubble is not drawn whole: its page's corner at $(page_corner) % at its darkest"
}
# One report, the same at each poll: no notice after the first (each would place the bubble anew).
rm -r "$work/reports" && reports 'SERVER 1; 10.0.0.1:27960 Arena\nCLIENTS 1; Sam\n'
bubble_size=200x150
start_short_pause "$app" "$work/lookout-rescaled.log" 500
wait_for 20 in_corner || fail "at Xft/DPI 96 the bubble at $(bubble_where), not at the primary's corner"
xsettings 144 && kill -HUP "$xsettingsd_pid"
rescaled 144 300x225
wait_for 20 item_registered || fail "no item in the panel: $(tail "$work/lookout-rescaled.log")"
xdotool mousemove 0 0 # a bubble under the pointer stays open
item_call org.kde.StatusNotifierItem.Activate 0 0 >/dev/null
wait_for 10 bubble_closed || fail "the tray's click did not close the bubble"
xsettings 120 && kill -HUP "$xsettingsd_pid"
wait_for 10 eval '[ "$(grep -c "^xsettingsd: Loaded" "$work/xsettingsd.log")" = 3 ]' || fail "xsettingsd did not reload: $(cat "$work/xsettingsd.log")"
item_call org.kde.StatusNotifierItem.Activate 0 0 >/dev/null
rescaled 120 250x188
stop "$lookout_pid" Lookout "$work/lookout-rescaled.log"
pass "the scale changed while Lookout ran (Xft/DPI 96, 144, 120): the open bubble became 300x225 at the corner above the panel, drawn whole at 150 %; closed at 125 %, the tray's click opened it 250x188 at the corner"
