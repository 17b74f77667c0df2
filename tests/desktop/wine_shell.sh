#!/usr/bin/env bash
# usage: wine_shell.sh BUILD_DIR ARTEFACT_DIR WINDOWS_BUILD_DIR: lookout.exe in Wine's own Windows shell (its
# desktop, taskbar and notification area, drawn by Wine's explorer.exe), driven as a Windows user would.
set -euo pipefail
. "$(dirname "$0")/common.sh"
zip=$3/package/lookout-1.2-win64.zip lister=$3/windows-list.exe
need Xvfb wine wineboot wineserver unzip xdotool import convert
[ -f "$zip" ] && [ -f "$lister" ] || skip "no $zip or $lister: run scripts/windows.sh"
zip=$(realpath "$zip") lister=$(realpath "$lister")
width=1024 height=768
start_x $width $height
unset WAYLAND_DISPLAY QT_QPA_PLATFORM
# Nothing of the user's: Wine links its folders into HOME's, would add menu entries there, and Wine 8 leaves its
# server's folder in TMPDIR. Wine 10 (Debian 13) aborts as it starts whenever TMPDIR is set ("free(): invalid
# pointer"), removes that folder itself, and would start a session bus of its own, in /tmp, where there is none.
export HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" XDG_CACHE_HOME="$work/cache"
export WINEPREFIX="$work/prefix" WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=" WINEDEBUG=-all
unset TMPDIR
if [ "$(wine --version | sed -n 's/^wine-\([0-9]*\).*/\1/p')" -ge 10 ]; then
    export DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-bus" XDG_RUNTIME_DIR="$work/runtime"
    mkdir -m 700 "$XDG_RUNTIME_DIR"
else
    export TMPDIR="$work/tmp" && mkdir -p "$TMPDIR"
fi
mkdir -p "$HOME"
# Wine 10 leaves its server's folder in a /tmp/wine-XXXXXX of its own making. Under errexit a command that fails in
# the trap would end it before cleanup, and leave the X server and the lobby holding the test's output.
remove_wine_server_dir() {
    local d
    [ -d "$WINEPREFIX" ] || return 0
    for d in /tmp/wine-*/"server-$(stat -c %D "$WINEPREFIX")-$(printf %x "$(stat -c %i "$WINEPREFIX")")"; do
        [ ! -d "$d" ] || { rm -rf "$d" && rmdir "${d%/*}"; } 2>/dev/null || true
    done
}
trap 'wineserver -k 2>/dev/null || true; remove_wine_server_dir; cleanup' EXIT
wineboot -i >"$work/wineboot.log" 2>&1 || fail "wineboot: $(cat "$work/wineboot.log")"
# "shell" as the prefix's default desktop: a program started with `wine` opens in it and keeps our standard output.
wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d shell /f >>"$work/wineboot.log" 2>&1 &&
    wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v shell /d "${width}x$height" /f >>"$work/wineboot.log" 2>&1 ||
    fail "the default desktop was not set: $(cat "$work/wineboot.log")"
mkdir -p "$work/app dir" && unzip -q "$zip" -d "$work/app dir"
app="$work/app dir/lookout-1.2-win64"
printf 'LIST += Sam\r\nLIST += [AB]\r\n' >"$app/list.cfg"
printf 'SHOW_TIME = -1\r\n' >"$app/config.cfg"
reports 'SERVER 1; 10.0.0.1:27960 Arena\nCLIENTS 3; Sam\t[AB]Kira\tNobody\n'
lobby_address=127.0.0.1 # where the Windows build looks
start_lobby "$work/lobby.log"
kill -STOP "$lobby_pid" # the notice held until the icon is found: a bubble in the wrong place could cover it
(cd "$work" && exec wine "$app/lookout.exe") >"$work/traces.out" 2>"$work/lookout.log" &
lookout_pid=$!
pids+=("$lookout_pid")

# What Windows reports: "workarea L T W H", "foreground ..." and a "window HANDLE PID PROGRAM EXSTYLE VISIBLE L T W H
# CLASS TITLE" line for each top-level window (windows_list.cpp).
listed() { wine "$lister" 2>>"$work/lister.log" | tr -d '\r'; }
# lookout.exe's visible windows whose fields match an awk condition, e.g. '$9 == 200'.
shown() { listed | awk '$1 == "window" && $4 == "lookout.exe" && $6 == 1 && ('"$1"')' | grep .; }
taskbar() { listed | awk '$1 == "window" && $11 == "Shell_TrayWnd" && $6 == 1 {print $7, $8, $9, $10}' | grep .; }
wait_for 60 taskbar || fail "Wine's shell drew no taskbar: $(listed; tail -n 5 "$work/lookout.log")"
above_taskbar() { # sets the taskbar's (t...) and the work area's (a...) place and size
    read -r tx ty tw th < <(taskbar)
    read -r ax ay aw ah < <(listed | awk '$1 == "workarea" {print $2, $3, $4, $5}')
    [ "$tx $ty $tw $((ty + th))" = "0 $((ay + ah)) $width $height" ] && [ "$ax $ay $aw" = "0 0 $width" ]
}
# Wine 10's taskbar leaves the work area the whole screen (and a work area set with SPI_SETWORKAREA holds only
# in the process that set it): there the bubble's place is checked against that, and covers the taskbar's end.
where="the corner of the work area Windows reports above the taskbar"
if ! wait_for 10 above_taskbar; then
    [ "$ax $ay $aw $ah" = "0 0 $width $height" ] && [ "$tx $tw $((ty + th))" = "0 $width $height" ] && [[ $(wine --version) == wine-1[0-9]* ]] ||
        fail "the work area $ax,$ay ${aw}x$ah is not the screen above the taskbar at $tx,$ty ${tw}x$th"
    where="the corner of the work area Windows reports, the whole screen under $(wine --version)"
fi

# The notification area is the taskbar's right end; the icon is the only strong colour there (a taskbar button's
# highlight is further left).
tray_area="100x$th+$((width - 100))+$ty"
icon_box() { import -window root -crop "$tray_area" +repage "$work/tray.png" && coloured_box "$work/tray.png"; }
wait_for 30 eval '[ -n "$(icon_box)" ]' || fail "no icon in the taskbar's notification area: $(tail -n 5 "$work/lookout.log")"
read -r ix iy iw ih < <(icon_box)
click() { xdotool mousemove $((width - 100 + ix + iw / 2)) $((ty + iy + ih / 2)) click "$1"; }
# The menu opens with its corner at the pointer: from the icon's top left corner it leaves the icon in view.
right_click() { xdotool mousemove $((width - 100 + ix + 1)) $((ty + iy + 1)) click 3; }
if [ "$ay + $ah" = "0 + $height" ]; then # under Wine 10 the bubble covers the icon: the clicks come as the shell hands them on
    click() { wine "$lister" --tray select $((width - 100 + ix)) $((ty + iy)); }
    right_click() { wine "$lister" --tray menu $((width - 100 + ix + 1)) $((ty + iy + 1)); }
fi
bubble='$9 == 200 && $10 == 150'
kill -CONT "$lobby_pid"
wait_for 30 shown "$bubble" || fail "a notice opened no bubble: $(listed)"
read -r exstyle bx by < <(shown "$bubble" | awk '{print $5, $7, $8}')
[ "$bx $by" = "$((ax + aw - 200)) $((ay + ah - 150))" ] || fail "the bubble at $bx,$by, not in the work area's corner"
# What Windows acts on: a topmost window that the taskbar leaves out (Wine 8's taskbar shows a button for it anyway).
[ $((exstyle & 0x88)) -eq $((0x88)) ] || fail "the bubble's extended style $exstyle lacks WS_EX_TOPMOST | WS_EX_TOOLWINDOW"
toggles "click 1" "! shown '$bubble'" "shown '$bubble'"
pass "the icon in the shell's notification area; a notice opened the bubble ($exstyle: topmost, a tool window) at $bx,$by, $where; clicks on the icon toggle it"

# Windows gives the keyboard to the foreground window's thread, and Qt hands it on to an open menu: keys are typed
# once a window of lookout.exe is the foreground (the menu itself, or the bubble once the About box has closed).
foreground() { listed | awk '$1 == "foreground" {print $4}' | grep -qx lookout.exe; }
menu_open() { shown '$11 ~ /Popup/'; }
open_menu() {
    right_click
    wait_for 10 menu_open || fail "a right click on the icon opened no menu: $(listed)"
    xdotool mousemove 0 0 # no tooltip over the menu in the picture
    wait_for 10 foreground || fail "the menu did not get the keyboard: $(listed | grep foreground)"
}
about_shown() { shown 'NF == 13 && $12 == "\"Lookout" && $13 == "1.2\""'; }
pick 1 "$artefacts/windows-shell-screen.png"
convert "$artefacts/windows-shell-screen.png" -crop "440x200+$((width - 440))+$((height - 200))" +repage \
    "$artefacts/windows-shell.png"
wait_for 10 about_shown || fail "About did not open \"Lookout 1.2\": $(listed)"
wait_for 10 foreground || fail "the About box did not get the keyboard: $(listed | grep foreground)"
xdotool key Return
wait_for 10 eval '! about_shown' || fail "Return did not close the About box"

autorun_entry() { wine reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Run' /v lookout 2>/dev/null | tr -d '\r' | sed -n 's/.*lookout *REG_SZ *//p'; }
autorun_wanted="\"$(printf '%s' "Z:$app/lookout.exe" | tr / '\\')\""
# The C runtime holds a redirected standard output until the program ends: the traces are whole after Quit.
sound_autorun_quit '\r\n' "$work/lookout.log" "$work/traces.out"
pass "the menu opened over the bubble ($artefacts/windows-shell.png); About opened \"Lookout 1.2\", Autorun registered the quoted path and took it back, Quit saved sound off with CR LF and ended with status 0; the traces came byte for byte"
