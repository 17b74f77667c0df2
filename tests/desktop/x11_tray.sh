#!/usr/bin/env bash
# Lookout in a real tray on a real X server, used as a person would: the icon
# sits in the tray, a notice opens the bubble in the corner of the work area,
# a click on the icon closes it, the menu toggles "Sound" and quits.
#
# usage: x11_tray.sh BUILD_DIR ARTEFACT_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
artefacts=$2
mkdir -p "$artefacts"
. "$(dirname "$0")/common.sh"
need Xvfb trayer xdotool xwininfo xprop import

width=1024 height=768 panel=24
start_x $width $height
# No session bus: nothing may start one, and the tray icon goes the XEmbed way.
export DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-bus"
unset WAYLAND_DISPLAY QT_QPA_PLATFORM

trayer --edge bottom --align right --widthtype request --height $panel \
    --SetDockType true --SetPartialStrut true --transparent false --tint 0x333333 >"$work/trayer.log" 2>&1 &
pids+=($!)
wait_for 20 sh -c 'xwininfo -root -tree | grep -q "\"panel\": (\"panel\" \"trayer\")"' || fail "trayer did not start: $(cat "$work/trayer.log")"
# With no window manager nobody publishes the work area: publish it as one
# would, without the panel's strip at the bottom.
xprop -root -f _NET_SUPPORTED 32a -set _NET_SUPPORTED "_NET_WORKAREA"
xprop -root -f _NET_WORKAREA 32c -set _NET_WORKAREA "0, 0, $width, $((height - panel))"

mkdir -p "$work/reports"
printf 'SERVER 1; 10.0.0.1:27960 Arena\nCLIENTS 3; Sam\t[AB]Kira\tNobody\n' >"$work/reports/1.txt"
start_lobby "$work/reports" "$work/lobby.log"

app="$work/app"
install_program "$build" "$app"
printf 'LIST += Sam\nLIST += [AB]\n' >"$app/list.cfg"
printf 'SHOW_TIME = -1\n' >"$app/config.cfg" # the bubble stays until clicked
(cd "$work" && exec "$app/lookout") >"$work/lookout.log" 2>&1 &
lookout_pid=$!
pids+=($lookout_pid)

# The icon: a window of ours, embedded in trayer's panel.
icon_in_tray() {
    xwininfo -root -tree | awk '/"panel": \("panel" "trayer"\)/{inpanel=1; next}
        inpanel && /^     0x/{inpanel=0} inpanel && /"lookout": \("lookout" "lookout"\)/{print $1; exit}' | grep -q .
}
wait_for 20 icon_in_tray || fail "no Lookout icon in the tray"
icon=$(xwininfo -root -tree | awk '/"panel": \("panel" "trayer"\)/{p=1; next} p && /"lookout": \("lookout" "lookout"\)/{print $1; exit}')
read -r ix iy iw ih < <(window_geometry "$icon")
pass "the icon is in the tray at $ix,$iy (${iw}x$ih)"

wait_for 20 bubble_open || fail "no bubble after the first report: $(cat "$work/lookout.log")"
bubble=$(bubble_window)
read -r bx by bw bh < <(window_geometry "$bubble")
[ "$bx $by $bw $bh" = "$((width - 200)) $((height - panel - 150)) 200 150" ] \
    || fail "bubble at $bx,$by ${bw}x$bh, not in the corner of the work area"
pass "a notice opened the bubble at $bx,$by, right above the panel"

xdotool mousemove $((ix + iw / 2)) $((iy + ih / 2)) click 1
wait_for 10 sh -c "! xwininfo -id $bubble 2>/dev/null | grep -q IsViewable" || fail "a click on the icon did not close the bubble"
pass "a left click on the icon closed the bubble"

sleep 0.6 # two clicks in quick succession would be a double click
xdotool click 1
wait_for 10 bubble_open || fail "a second click did not open the bubble again"
xdotool click 3
menu_window() { xwininfo -root -tree | awk '/"lookout": \("lookout" "lookout"\)/ && !/200x150/ && !/22x22/ && !/1x1/{print $1; exit}'; }
wait_for 10 sh -c "xwininfo -root -tree | grep '\"lookout\": (\"lookout\" \"lookout\")' | grep -v -e 200x150 -e 22x22 -e 1x1 | grep -q ." \
    || fail "the right-click menu did not open"
sleep 0.3 # let the menu paint before the picture
import -window root "$artefacts/tray-x11.png"
pass "screenshot with the bubble and the menu: $artefacts/tray-x11.png"

# The entries in order: About, Auto show, Sound, Autorun, then Quit below a
# separator. The third is "Sound"; the fifth, "Quit".
menu_open() { local menu; menu=$(menu_window); [ -n "$menu" ] && is_viewable "$menu"; }
menu_closed() { ! menu_open; }
xdotool key Down Down Down Return
wait_for 10 menu_closed || fail "the menu stayed open after an entry was chosen"
xdotool mousemove $((ix + iw / 2)) $((iy + ih / 2)) click 3
wait_for 10 menu_open || fail "the right-click menu did not open a second time"
xdotool key Down Down Down Down Down Return
for _ in $(seq 100); do kill -0 "$lookout_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$lookout_pid" 2>/dev/null && fail "the fifth menu entry did not quit"
wait "$lookout_pid" || fail "Lookout exited with an error: $(cat "$work/lookout.log")"
pass "the fifth entry quit"

grep -qx 'PLAY_SOUND = FALSE' "$app/config.cfg" || fail "config.cfg after Quit: $(cat "$app/config.cfg")"
grep -qx 'AUTO_SHOW = TRUE' "$app/config.cfg" || fail "auto show changed: $(cat "$app/config.cfg")"
grep -qx 'SHOW_TIME = -1' "$app/config.cfg" || fail "show time changed: $(cat "$app/config.cfg")"
pass "the third entry switched sound off, and Quit saved it"

# On a dark desktop theme (Qt's GTK platform theme, Adwaita's dark variant)
# the bubble keeps the light page its colours were chosen for: the second
# poll's notice, whose first line is a stay (black), on a light page.
ls /usr/lib/*/qt6/plugins/platformthemes/libqgtk3.so >/dev/null 2>&1 \
    || skip "no Qt GTK platform theme (qt6-gtk-platformtheme; scripts/install-deps.sh installs it)"
three_line_reports "$work/reports3"
mkdir -p "$work/dark"
printf 'LIST += Sam\nLIST += [AB]\n' >"$work/dark/list.cfg"
printf 'SHOW_TIME = -1\n' >"$work/dark/config.cfg"
ln -s "$app/icons" "$app/wav" "$work/dark/"
start_short_pause "$work/dark" "$work/reports3" "$work/dark.log" GTK_THEME=Adwaita:dark QT_QPA_PLATFORMTHEME=gtk3
two_polls() { [ "$(grep -c '^connection ' "$work/dark.log.lobby")" -ge 3 ]; }
wait_for 20 two_polls || fail "the short-pause program did not poll: $(cat "$work/dark.log")"
wait_for 10 bubble_open || fail "no bubble on the dark theme: $(cat "$work/dark.log")"
xdotool mousemove 0 0
import -window "$(bubble_window)" "$artefacts/bubble-dark-theme.png"
# Per cent of full lightness: the page (the bubble's lower third, below the
# three lines) and the darkest pixel of the first line.
lightness() { convert "$artefacts/bubble-dark-theme.png" -crop "$1" +repage -colorspace Gray -format "%[fx:int(100*$2)]" info:; }
page=$(lightness 180x40+5+105 mean) stay=$(lightness 180x14+5+3 minima)
[ "$page" -ge 90 ] && [ "$stay" -le 20 ] \
    || fail "on the dark theme the page is at $page % and the stay line's text at $stay %: $artefacts/bubble-dark-theme.png"
pass "on a dark GTK theme the bubble's page is light ($page %) and the stay line dark ($stay %)"
echo "x11_tray: all checks passed"
