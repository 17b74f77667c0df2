#!/usr/bin/env bash
# Lookout in trayer on a real X server, used as a person would: the icon
# docks, a notice opens the bubble in the corner of the work area, clicks on
# the icon close and open it, the menu's About, Sound, Autorun and Quit act,
# and config.cfg and the traces come out byte for byte; then on a dark theme.
# Given WINDOWS_BUILD_DIR, the same with lookout.exe under Wine (Autorun in
# Wine's registry, CR LF files).
#
# usage: x11_tray.sh BUILD_DIR ARTEFACT_DIR [WINDOWS_BUILD_DIR]
set -euo pipefail
. "$(dirname "$0")/common.sh"
windows=${3:+$3/package/lookout-1.2-win64.zip}
need Xvfb trayer xdotool xwininfo xprop import
[ -z "$windows" ] || [ -f "$windows" ] || skip "no $windows: run scripts/windows.sh"
[ -z "$windows" ] || need wine wineboot unzip
width=1024 height=768 panel=24
start_x $width $height
export DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-bus" XDG_CONFIG_HOME="$work/config"
unset WAYLAND_DISPLAY QT_QPA_PLATFORM
# trayer now and then dies at start on a loaded machine: one more try.
trayer_up() { xwininfo -root -tree | grep -q '"panel": ("panel" "trayer")'; }
for attempt in 1 2; do
    trayer --edge bottom --align right --widthtype request --height $panel \
        --SetDockType true --SetPartialStrut true --transparent false --tint 0x333333 >"$work/trayer.log" 2>&1 &
    pids+=($!)
    wait_for 30 trayer_up && break
    kill "${pids[-1]}" 2>/dev/null || true
    [ "$attempt" -lt 2 ] || fail "trayer did not start: $(cat "$work/trayer.log")"
done
# No window manager publishes the work area: publish it as one would (and
# before Wine starts, which reads it once).
xprop -root -f _NET_SUPPORTED 32a -set _NET_SUPPORTED "_NET_WORKAREA"
xprop -root -f _NET_WORKAREA 32c -set _NET_WORKAREA "0, 0, $width, $((height - panel))"

mkdir -p "$work/reports"
printf 'SERVER 1; 10.0.0.1:27960 Arena\nCLIENTS 3; Sam\t[AB]Kira\tNobody\n' >"$work/reports/1.txt"

if [ -n "$windows" ]; then
    export WINEPREFIX="$work/prefix" WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG=-all
    wineboot -i >"$work/wineboot.log" 2>&1 || fail "wineboot: $(cat "$work/wineboot.log")"
    mkdir -p "$work/app dir" && unzip -q "$windows" -d "$work/app dir"
    app="$work/app dir/lookout-1.2-win64" shot=windows-wine.png class=lookout.exe icon_class=explorer.exe eol='\r\n' settle=1
    program=(wine "$app/lookout.exe") lobby_address=127.0.0.1
    printf 'LIST += Sam\nLIST += [AB]\n' >"$app/list.cfg"
    printf 'SHOW_TIME = -1\n' >"$app/config.cfg"
    autorun_entry() { wine reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Run' /v lookout 2>/dev/null | tr -d '\r' | sed -n 's/.*lookout *REG_SZ *//p'; }
    autorun_wanted="\"$(printf '%s' "Z:$app/lookout.exe" | tr / '\\')\""
else
    app="$work/app" shot=tray-x11.png class=lookout icon_class=lookout eol='\n' settle=0
    program=("$app/lookout")
    install_program "$app" Sam '[AB]'
    autorun_entry() { sed -n 's/^Exec=//p' "$XDG_CONFIG_HOME/autostart/lookout.desktop" 2>/dev/null; }
    autorun_wanted="\"$app/lookout\""
fi
start_lobby "$work/reports" "$work/lobby.log"
(cd "$work" && exec "${program[@]}") >"$work/tray.out" 2>"$work/tray.log" &
lookout_pid=$!
pids+=("$lookout_pid")
docked_icon() { xwininfo -root -tree | awk -v c="\"$icon_class\"" '/"panel": \("panel" "trayer"\)/{p=1; next} p && index($0, c){print $1; exit}'; }
wait_for 30 eval '[ -n "$(docked_icon)" ]' || fail "no icon docked in trayer: $(cat "$work/tray.log")"
read -r ix iy iw ih < <(window_geometry "$(docked_icon)")
wait_for 30 bubble_at $((width - 200)) $((height - panel - 150)) || fail "no bubble right above the panel: $(bubble_where)"
pass "the icon docked in trayer at $ix,$iy (${iw}x$ih), and a notice opened the bubble in the corner of the work area"

click() { xdotool mousemove $((ix + iw / 2)) $((iy + ih / 2)) click "$1"; }
click 1
wait_for 10 bubble_closed || fail "a click on the icon did not close the bubble"
sleep 0.6 # two clicks in quick succession would be a double click
click 1
wait_for 10 bubble_open || fail "a second click did not open the bubble"
pass "clicks on the icon close and open the bubble"

menu_open() {
    local w
    for w in $(xwininfo -root -tree | grep "(\"$class\" \"$class\")" | grep -v -e 200x150 -e 762x533 -e "${iw}x$ih+" | awk '{print $1}'); do
        is_viewable "$w" && return 0
    done
    return 1
}
# pick N: the Nth entry of the icon's menu: About, Auto show, Sound, Autorun,
# then Quit below a separator. About's box is a window of the program too.
pick() {
    # Wine now and then lets a click on the icon go by once a window closed.
    for attempt in 1 2 3; do
        sleep "$settle"
        click 3
        wait_for 3 menu_open && break
    done
    menu_open || fail "the right-click menu did not open"
    sleep 0.5 # let it paint
    [ "$1" -ne 1 ] || import -window root "$artefacts/$shot"
    xdotool key $(printf 'Down %.0s' $(seq "$1")) Return
    [ "$1" -eq 1 ] || wait_for 10 eval '! menu_open' || fail "the menu stayed open"
}
about_open() { xwininfo -root -tree | grep -q '"Lookout 1.2"'; }
pick 1
wait_for 10 about_open || fail "About did not open \"Lookout 1.2\""
xdotool key Return
wait_for 10 eval '! about_open' || fail "the About box did not close"
pass "About opened \"Lookout 1.2\"; the menu's picture: $artefacts/$shot"
pick 3 # Sound, off
pick 4
wait_for 10 eval '[ "$(autorun_entry)" = "$autorun_wanted" ]' || fail "Autorun wrote \"$(autorun_entry)\", not $autorun_wanted"
pick 4
wait_for 10 eval '[ -z "$(autorun_entry)" ]' || fail "a second Autorun did not take back $(autorun_entry)"
pass "Autorun registered the quoted path to start at log-on, and took it back"
pick 5
ended "$lookout_pid" "Lookout after Quit" "$work/tray.log"
printf "#START OF CONFIG FILE$eol${eol}PLAY_SOUND = FALSE${eol}AUTO_SHOW = TRUE${eol}SHOW_TIME = -1$eol$eol#FINISH OF CONFIG FILE" >"$work/config.wanted"
cmp "$app/config.cfg" "$work/config.wanted" || fail "config.cfg after Quit: $(od -c "$app/config.cfg")"
# One poll in the run (the next is a minute later), and a DETONATE for each Autorun toggle.
printf 'connected\nSam on Arena\n[AB]Kira on Arena\ndisconnected\nDETONATEDETONATE' >"$work/traces.wanted"
cmp "$work/tray.out" "$work/traces.wanted" || fail "traces: $(od -c "$work/tray.out")"
pass "Quit ended the program with status 0, saved sound off, and the traces came byte for byte"
[ -z "$windows" ] || exit 0

# On a dark desktop theme (Qt's GTK platform theme, Adwaita dark) the bubble
# keeps the light page its colours were chosen for: the second poll's notice,
# whose first line is a stay (black), on a light page.
ls /usr/lib/*/qt6/plugins/platformthemes/libqgtk3.so >/dev/null 2>&1 \
    || skip "no Qt GTK platform theme (qt6-gtk-platformtheme; scripts/install-deps.sh installs it)"
three_line_reports "$work/reports3"
start_short_pause "$app" "$work/reports3" "$work/dark.log" 1500 GTK_THEME=Adwaita:dark QT_QPA_PLATFORMTHEME=gtk3
wait_for 20 polls "$work/dark.log.lobby" 3 || fail "the short-pause program did not poll: $(cat "$work/dark.log")"
wait_for 10 bubble_open || fail "no bubble on the dark theme: $(cat "$work/dark.log")"
xdotool mousemove 0 0
shot="$artefacts/bubble-dark-theme.png"
import -window "$(bubble_window)" "$shot"
# Per cent of full lightness: the page below the three lines, and the darkest pixel of the first line.
lightness() { convert "$shot" -crop "$1" +repage -colorspace Gray -format "%[fx:int(100*$2)]" info:; }
page=$(lightness 180x40+5+105 mean) stay=$(lightness 180x14+5+3 minima)
[ "$page" -ge 90 ] && [ "$stay" -le 20 ] || fail "on the dark theme the page is at $page % and the stay line at $stay %: $shot"
pass "on a dark GTK theme the bubble's page is light ($page %) and the stay line dark ($stay %)"
