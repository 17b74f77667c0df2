#!/usr/bin/env bash
# usage: x11_tray.sh BUILD_DIR ARTEFACT_DIR [WINDOWS_BUILD_DIR]: Lookout (or lookout.exe under Wine) in trayer, as a person uses it.
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
trayer_up() { xwininfo -root -tree | grep -q '"panel": ("panel" "trayer")'; }
trayer --edge bottom --align right --widthtype request --height $panel \
    --SetDockType true --SetPartialStrut true --transparent false --tint 0x333333 >"$work/trayer.log" 2>&1 &
pids+=($!)
wait_for 30 trayer_up || fail "trayer did not start: $(cat "$work/trayer.log")"
# No window manager publishes the work area, and Wine reads it once as it starts.
xprop -root -f _NET_SUPPORTED 32a -set _NET_SUPPORTED "_NET_WORKAREA"
xprop -root -f _NET_WORKAREA 32c -set _NET_WORKAREA "0, 0, $width, $((height - panel))"
reports 'SERVER 1; 10.0.0.1:27960 Arena\nCLIENTS 3; Sam\t[AB]Kira\tNobody\n'

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
start_lobby "$work/lobby.log"
(cd "$work" && exec "${program[@]}") >"$work/tray.out" 2>"$work/tray.log" &
lookout_pid=$!
pids+=("$lookout_pid")
docked_icon() { xwininfo -root -tree | awk -v c="\"$icon_class\"" '/"panel": \("panel" "trayer"\)/{p=1; next} p && index($0, c){print $1; exit}'; }
wait_for 30 eval '[ -n "$(docked_icon)" ]' || fail "no icon docked in trayer: $(cat "$work/tray.log")"
read -r ix iy iw ih < <(window_geometry "$(docked_icon)")
wait_for 30 bubble_at $((width - 200)) $((height - panel - 150)) || fail "no bubble right above the panel: $(bubble_where)"
click() { xdotool mousemove $((ix + iw / 2)) $((iy + ih / 2)) click "$1"; }
toggles "click 1" bubble_closed bubble_open
pass "the icon docked in trayer, a notice opened the bubble in the corner of the work area, and clicks on the icon toggle it"

menu_open() { viewable_window "$class" "200x150|762x533|${iw}x$ih\+|\"Lookout 1.2\""; }
open_menu() {
    for _ in 1 2 3; do # Wine now and then lets a click on the icon go by once a window closed
        sleep "$settle"
        click 3
        wait_for 3 menu_open && return
    done
    fail "the right-click menu did not open"
}
about_windows() { xwininfo -root -tree | awk '/"Lookout 1.2"/{print $1}'; }
about_shown() { for w in $(about_windows); do is_viewable "$w" && return 0; done; return 1; }
pick 1 "$artefacts/$shot"
wait_for 10 about_shown || fail "About did not open \"Lookout 1.2\""
for _ in 1 2 3; do # a loaded machine may give the box the keyboard a moment after it shows
    xdotool key Return
    wait_for 3 eval '[ -z "$(about_windows)" ]' && break
done
[ -z "$(about_windows)" ] || fail "the About box did not close"
pick 3 # Sound, off
pick 4
wait_for 10 eval '[ "$(autorun_entry)" = "$autorun_wanted" ]' || fail "Autorun wrote \"$(autorun_entry)\", not $autorun_wanted"
pick 4
wait_for 10 eval '[ -z "$(autorun_entry)" ]' || fail "a second Autorun did not take back $(autorun_entry)"
pick 5
ended "$lookout_pid" "Lookout after Quit" "$work/tray.log"
printf "#START OF CONFIG FILE$eol${eol}PLAY_SOUND = FALSE${eol}AUTO_SHOW = TRUE${eol}SHOW_TIME = -1$eol$eol#FINISH OF CONFIG FILE" >"$work/config.wanted"
cmp "$app/config.cfg" "$work/config.wanted" || fail "config.cfg after Quit: $(od -c "$app/config.cfg")"
# One poll in the run (the next is a minute later), and a DETONATE for each Autorun toggle.
printf 'connected\nSam on Arena\n[AB]Kira on Arena\ndisconnected\nDETONATEDETONATE' >"$work/traces.wanted"
cmp "$work/tray.out" "$work/traces.wanted" || fail "traces: $(od -c "$work/tray.out")"
pass "About opened \"Lookout 1.2\" (the menu: $artefacts/$shot), Autorun registered the quoted path and took it back, Quit saved sound off; the traces came byte for byte"
