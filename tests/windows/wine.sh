#!/usr/bin/env bash
# lookout.exe under Wine, on a private X server with trayer as the tray,
# against the sample lobby, driven as a user would: the icon docks, a notice
# opens the bubble in the corner of the work area, clicks close and open it,
# the menu switches Autorun (Wine's registry) and Sound, and Quit leaves
# config.cfg with CR LF line ends. The traces are checked byte for byte.
#
# usage: wine.sh LINUX_BUILD_DIR ARTEFACT_DIR WINDOWS_BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
artefacts=$2
zip="$3/package/lookout-1.2-win64.zip"
mkdir -p "$artefacts"
. "$(dirname "$0")/../desktop/common.sh"
[ -f "$zip" ] || skip "no $zip: run scripts/windows.sh"
need wine wineboot Xvfb trayer xdotool xwininfo xprop import unzip

width=1024 height=768 panel=24
start_x $width $height
trayer_up() { xwininfo -root -tree | grep -q '"panel": ("panel" "trayer")'; }
# trayer now and then dies at start on a loaded machine: one more try.
for attempt in 1 2; do
    trayer --edge bottom --align right --widthtype request --height $panel \
        --SetDockType true --SetPartialStrut true --transparent false --tint 0x333333 >"$work/trayer.log" 2>&1 &
    pids+=($!)
    wait_for 30 trayer_up && break
    kill "${pids[-1]}" 2>/dev/null || true
    [ "$attempt" -lt 2 ] || fail "trayer did not start: $(cat "$work/trayer.log")"
done
# No window manager: publish the work area, or Wine's is the whole screen.
xprop -root -f _NET_SUPPORTED 32a -set _NET_SUPPORTED "_NET_WORKAREA"
xprop -root -f _NET_WORKAREA 32c -set _NET_WORKAREA "0, 0, $width, $((height - panel))"

export WINEPREFIX="$work/prefix" WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG=-all
wineboot -i >"$work/wineboot.log" 2>&1 || fail "wineboot: $(cat "$work/wineboot.log")"

mkdir -p "$work/reports"
printf 'SERVER 1; 10.0.0.1:27960 Arena\nCLIENTS 3; Sam\t[AB]Kira\tNobody\n' >"$work/reports/1.txt"
"$build/lookout-lobby" --address 127.0.0.1 --reports "$work/reports" >"$work/lobby.log" 2>&1 &
pids+=($!)
wait_for 10 grep -q listening "$work/lobby.log" || fail "lookout-lobby did not start: $(cat "$work/lobby.log")"

mkdir -p "$work/app dir" && unzip -q "$zip" -d "$work/app dir"
app="$work/app dir/lookout-1.2-win64"
printf 'LIST += Sam\nLIST += [AB]\n' >"$app/list.cfg"
printf 'SHOW_TIME = -1\n' >"$app/config.cfg" # the bubble stays until clicked
(cd "$work" && exec wine "$app/lookout.exe") >"$work/out.txt" 2>"$work/wine.log" &
lookout_pid=$!
pids+=($lookout_pid)

# Wine docks its notification-area icon (a window of explorer.exe) in trayer.
docked() { xwininfo -root -tree | awk '/"panel": \("panel" "trayer"\)/{p=1; next} p && /"explorer.exe"/{print $1; exit}' | grep -q .; }
wait_for 30 docked || fail "no icon docked in trayer"
icon=$(xwininfo -root -tree | awk '/"panel": \("panel" "trayer"\)/{p=1; next} p && /"explorer.exe"/{print $1; exit}')
read -r ix iy iw ih < <(window_geometry "$icon")
pass "Wine docked the icon in trayer at $ix,$iy"

bubble_window() { xwininfo -root -tree | awk '/\("lookout.exe" "lookout.exe"\)  200x150/{print $1; exit}'; }
bubble_open() { local w; w=$(bubble_window); [ -n "$w" ] && is_viewable "$w"; }
bubble_closed() { ! bubble_open; }
wait_for 30 bubble_open || fail "no bubble after the first report"
read -r bx by _ _ < <(window_geometry "$(bubble_window)")
[ "$bx $by" = "$((width - 200)) $((height - panel - 150))" ] || fail "bubble at $bx,$by, not in the corner of the work area"
pass "a notice opened the 200x150 bubble at $bx,$by"

click() { xdotool mousemove $((ix + iw / 2)) $((iy + ih / 2)) click "$1"; }
click 1
wait_for 10 bubble_closed || fail "a click on the icon did not close the bubble"
sleep 0.6 # two clicks in quick succession would be a double click
click 1
wait_for 10 bubble_open || fail "a second click did not open the bubble"
pass "clicks on the icon close and open the bubble"

menu_open() { xwininfo -root -tree | grep '("lookout.exe" "lookout.exe")' | grep -v -e 200x150 -e 762x533 -e 1x1 | grep -q .; }
menu() {
    click 3
    wait_for 10 menu_open || fail "the right-click menu did not open"
    sleep 0.5
}
# The About box is a window of the program too, so the menu's going is not
# looked for: a moment for the chosen entry to act is enough.
key() {
    xdotool key "$@"
    sleep 1
}
menu
import -window root "$artefacts/windows-wine.png"
pass "picture of the bubble and the menu: $artefacts/windows-wine.png"
# About, Auto show, Sound, Autorun, a separator, Quit.
key Down Return
wait_for 10 sh -c 'xwininfo -root -tree | grep -q "\"Lookout 1.2\""' || fail "About did not open \"Lookout 1.2\""
xdotool key Return
wait_for 10 sh -c '! xwininfo -root -tree | grep -q "\"Lookout 1.2\""' || fail "the About box did not close"
pass "About opened \"Lookout 1.2\""

menu && key Down Down Down Return # Sound, off

run_value() { wine reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Run' /v lookout 2>/dev/null | tr -d '\r' | awk '/lookout/{sub(/.*REG_SZ +/, ""); print}'; }
menu && key Down Down Down Down Return
winpath=$(printf '%s' "Z:$app/lookout.exe" | tr / '\\')
has_run_value() { [ -n "$(run_value)" ]; }
no_run_value() { [ -z "$(run_value)" ]; }
wait_for 10 has_run_value || fail "Autorun wrote no Run value"
[ "$(run_value)" = "\"$winpath\"" ] || fail "Run value $(run_value), not \"$winpath\""
menu && key Down Down Down Down Return
wait_for 10 no_run_value || fail "a second Autorun did not delete the Run value"
pass "Autorun wrote the quoted backslash path to the Run key, and took it back"

menu && xdotool key Up Return
for _ in $(seq 150); do kill -0 "$lookout_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$lookout_pid" 2>/dev/null && fail "Quit did not end the program"
wait "$lookout_pid" || fail "lookout.exe ended with status $?"
pass "Quit ended the program with status 0"

expected=$(printf '#START OF CONFIG FILE\r\n\r\nPLAY_SOUND = FALSE\r\nAUTO_SHOW = TRUE\r\nSHOW_TIME = -1\r\n\r\n#FINISH OF CONFIG FILE' | od -c)
[ "$(od -c <"$app/config.cfg")" = "$expected" ] || fail "config.cfg: $(od -c <"$app/config.cfg")"
pass "config.cfg holds the seven lines with CR LF, sound off"

# One poll in the run (the next is a minute later), then a DETONATE for each
# Autorun toggle.
traces=$(printf 'connected\nSam on Arena\n[AB]Kira on Arena\ndisconnected\nDETONATEDETONATE' | od -c)
[ "$(od -c <"$work/out.txt")" = "$traces" ] || fail "traces: $(od -c <"$work/out.txt")"
pass "the traces of a poll and of Autorun arrived byte for byte"
echo "wine: all checks passed"
