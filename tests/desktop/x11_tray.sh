#!/usr/bin/env bash
# usage: x11_tray.sh BUILD_DIR ARTEFACT_DIR: Lookout in tint2's XEmbed tray, as a person uses it.
set -euo pipefail
. "$(dirname "$0")/common.sh"
. "$(dirname "$0")/xembed_tray.sh"
need Xvfb tint2 xdotool xwininfo xprop import
width=1024 height=768 panel=24
start_x $width $height
export DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-bus" XDG_CONFIG_HOME="$work/config"
unset WAYLAND_DISPLAY QT_QPA_PLATFORM
start_tray "$work/tint2.log"
reports 'SERVER 1; 10.0.0.1:27960 Arena\nCLIENTS 3; Sam\t[AB]Kira\tNobody\n'

app="$work/app"
install_program "$app" Sam '[AB]'
autorun_entry() { sed -n 's/^Exec=//p' "$XDG_CONFIG_HOME/autostart/lookout.desktop" 2>/dev/null; }
autorun_wanted="\"$app/lookout\""
start_lobby "$work/lobby.log"
(cd "$work" && exec "$app/lookout") >"$work/tray.out" 2>"$work/tray.log" &
lookout_pid=$!
pids+=("$lookout_pid")
wait_for 30 eval '[ -n "$(tray_icon)" ]' || fail "no icon docked in tint2: $(cat "$work/tray.log")"
read -r ix iy iw ih < <(window_geometry "$(tray_icon)")
wait_for 30 bubble_at $((width - 200)) $((height - panel - 150)) || fail "no bubble right above the panel: $(bubble_where)"
click() { xdotool mousemove $((ix + iw / 2)) $((iy + ih / 2)) click "$1"; }
toggles "click 1" bubble_closed bubble_open
pass "the icon docked in tint2, a notice opened the bubble in the corner of the work area, and clicks on the icon toggle it"

menu_open() { viewable_window lookout "200x150|762x533|${iw}x$ih\+|\"Lookout 1.2\""; }
open_menu() {
    click 3
    wait_for 10 menu_open || fail "the right-click menu did not open"
}
about_windows() { xwininfo -root -tree | awk '/"Lookout 1.2"/{print $1}'; }
about_shown() { for w in $(about_windows); do is_viewable "$w" && return 0; done; return 1; }
pick 1 "$artefacts/tray-x11.png"
wait_for 10 about_shown || fail "About did not open \"Lookout 1.2\""
# Return once the box has the keyboard, which a loaded machine gives it a moment after it shows.
about_focused() { about_windows | grep -qx "$(printf '0x%x' "$(xdotool getwindowfocus)")"; }
wait_for 10 about_focused || fail "the About box never had the keyboard"
xdotool key Return
wait_for 10 eval '[ -z "$(about_windows)" ]' || fail "the About box did not close"
sound_autorun_quit '\n' "$work/tray.log" "$work/tray.out"
pass "About opened \"Lookout 1.2\" (the menu: $artefacts/tray-x11.png), Autorun registered the quoted path and took it back, Quit saved sound off; the traces came byte for byte"
