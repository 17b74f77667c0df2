#!/usr/bin/env bash
# usage: wine_shell.sh BUILD_DIR ARTEFACT_DIR WINDOWS_BUILD_DIR: lookout.exe in Wine's own Windows shell (its
# desktop, taskbar and notification area, drawn by Wine's explorer.exe), driven as a Windows user would; then at
# 125 and 150 % behind a full-screen window, and on two monitors under Wine's X11 driver.
set -euo pipefail
. "$(dirname "$0")/common.sh"
zip=$3/package/lookout-1.2-win64.zip lister=$3/windows-list.exe
need Xvfb wine wineboot wineserver unzip xdotool import convert xrandr xprop
[ -f "$zip" ] && [ -f "$lister" ] || skip "no $zip or $lister: run scripts/windows.sh"
zip=$(realpath "$zip") lister=$(realpath "$lister")
# A screen on which the work area and the bubble, scaled and rounded each on its own, leave the bubble a pixel over
# Wine 8's taskbar at 125 % and at 150 % (1024x768 would hide it at 125 %).
width=1280 height=800
start_x $width $height
x_pid=${pids[-1]}
unset WAYLAND_DISPLAY QT_QPA_PLATFORM
# Nothing of the user's: Wine links its folders into HOME's, would add menu entries there, and Wine 8 leaves its
# server's folder in TMPDIR. Wine 10 (Debian 13) aborts as it starts whenever TMPDIR is set ("free(): invalid
# pointer"), removes that folder itself, and would start a session bus of its own, in /tmp, where there is none.
export HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" XDG_CACHE_HOME="$work/cache"
export WINEPREFIX="$work/prefix" WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=" WINEDEBUG=-all
unset TMPDIR
wine_major=$(wine --version | sed -n 's/^wine-\([0-9]*\).*/\1/p')
if [ "$wine_major" -ge 10 ]; then
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

# What Windows reports, in device pixels: "dpi N", "workarea L T W H" (SPI_GETWORKAREA), "monitor PRIMARY L T W H
# WORK_L WORK_T WORK_W WORK_H" for each monitor (GetMonitorInfo's rcMonitor and rcWork), "foreground ..." and a
# "window HANDLE PID PROGRAM EXSTYLE VISIBLE L T W H CLASS TITLE" line for each top-level window (windows_list.cpp).
listed() { wine "$lister" 2>>"$work/lister.log" | tr -d '\r'; }
# lookout.exe's visible windows whose fields match an awk condition, e.g. '$9 == 200'.
shown() { listed | awk '$1 == "window" && $4 == "lookout.exe" && $6 == 1 && ('"$1"')' | grep .; }
# The same from one listing, $seen, that look takes: what is read together agrees, and each listing starts a program.
look() { seen=$(listed); }
seen_taskbar() { awk '$1 == "window" && $11 == "Shell_TrayWnd" && $6 == 1 {print $7, $8, $9, $10}' <<<"$seen" | grep .; }
seen_primary_work() { awk '$1 == "monitor" && $2 == 1 {print $7, $8, $9, $10}' <<<"$seen" | grep .; }
seen_work_area() { awk '$1 == "workarea" {print $2, $3, $4, $5}' <<<"$seen"; }
# Wine's shell has drawn its taskbar and lookout.exe has made its tray icon's window.
shell_up() { look && seen_taskbar && grep -q ' lookout\.exe .* "QTrayIconMessageWindow"$' <<<"$seen"; }
# Sets the taskbar's (t...) and the work area's (a...: the primary monitor's rcWork) place and size; true once the
# work area is the screen above the taskbar, or where Wine 10's taskbar leaves the work area the whole screen (and
# a work area set with SPI_SETWORKAREA holds only in the process that set it), that.
work_area_settled() {
    look && read -r tx ty tw th < <(seen_taskbar) && read -r ax ay aw ah < <(seen_primary_work) || return
    { [ "$tx $ty $tw $((ty + th))" = "0 $((ay + ah)) $width $height" ] && [ "$ax $ay $aw" = "0 0 $width" ]; } ||
        { [ "$wine_major" -ge 10 ] && [ "$ax $ay $aw $ah" = "0 0 $width $height" ] && [ "$tx $tw $((ty + th))" = "0 $width $height" ]; }
}
log=$work/lookout.log
desktop_checked() { # DPI: Wine's shell at DPI, its taskbar drawn, Lookout's icon made; sets t..., a... and where
    wait_for 60 shell_up || fail "Wine's shell drew no taskbar, or lookout.exe made no tray icon: $seen $(tail -n 5 "$log")"
    wait_for 10 work_area_settled || fail "the work area $ax,$ay ${aw}x$ah is not the screen above the taskbar at $tx,$ty ${tw}x$th"
    where="the corner of the work area Windows reports above the taskbar"
    [ "$ay + $ah" != "0 + $height" ] || where="the corner of the work area Windows reports, the whole screen under $(wine --version)"
    [ "$(awk '$1 == "dpi" {print $2}' <<<"$seen")" = "$1" ] || fail "Windows reports $(grep '^dpi' <<<"$seen"), not dpi $1"
    # One monitor: its work area is the desktop's.
    [ "$(seen_work_area)" = "$ax $ay $aw $ah" ] ||
        fail "SPI_GETWORKAREA and the primary monitor's rcWork differ: $(grep -e '^workarea' -e '^monitor' <<<"$seen")"
}
desktop_checked 96

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

# At 125 and 150 % (Wine's LogPixels 120 and 144, read as its desktop starts: each run a desktop of its own in the
# same prefix), behind a topmost full-screen window in the foreground, as a game: a notice opens the bubble of
# 200x150 times the scale as Qt rounds it, its right and bottom edges on the primary monitor's work area (rcWork,
# in device pixels; Qt's available geometry is that, scaled) to the pixel, over the full-screen window, which keeps
# the foreground, the activation and the keyboard.
front_state() { wine "$lister" --front-state 2>>"$work/lister.log" | tr -d '\r'; } # "front FOREGROUND ACTIVE FOCUSED MINIMISED LOSSES"
seen_bubble() { awk '$1 == "window" && $4 == "lookout.exe" && $6 == 1 {print $7, $8, $9, $10}' <<<"$seen"; } # every visible window of lookout.exe
bubble_is() { look && [ "$(seen_bubble)" = "$1" ]; } # X Y WIDTH HEIGHT
# The first visible one, from the top, of the bubble and the full-screen window.
seen_in_front() { awk '$1 == "window" && $6 == 1 && ($4 == "lookout.exe" || $11 == "LookoutTestFullScreen") {print $4; exit}' <<<"$seen"; }
magenta_pixels() { convert "$1" -fill black +opaque '#ff00ff' -fill white -opaque '#ff00ff' -format '%[fx:mean*w*h]' info:; }
# Wine's desktop and what runs in it end, the registry is saved: the next program starts a desktop anew.
wine_ended() { wineserver -k && wineserver -w; }
scaled() { # DPI WIDTH HEIGHT PERCENT: the bubble's size in device pixels at DPI
    local log=$work/lookout-$1.log want before picture=$artefacts/windows-shell-$4.png corner
    wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >>"$work/wineboot.log" 2>&1 ||
        fail "LogPixels $1 was not set: $(tail -n 5 "$work/wineboot.log")"
    wine_ended
    kill -STOP "$lobby_pid"
    (cd "$work" && exec wine "$app/lookout.exe") >"$work/traces-$1.out" 2>"$log" &
    pids+=($!)
    desktop_checked "$1"
    (exec wine "$lister" --front 2>>"$work/lister.log") &
    pids+=($!)
    wait_for 20 eval '[[ $(front_state) == "front 1 1 1 0 "* ]]' ||
        fail "the full-screen window did not take the foreground: $(front_state; listed | grep '^foreground')"
    before=$(front_state)
    kill -CONT "$lobby_pid"
    want="$((ax + aw - $2)) $((ay + ah - $3)) $2 $3"
    wait_for 30 bubble_is "$want" || fail "at dpi $1 a notice opened the bubble at \"$(seen_bubble)\", not $want: its right and bottom edges the work area's $ax,$ay ${aw}x$ah"
    [ "$(seen_in_front)" = lookout.exe ] || fail "the bubble opened behind the full-screen window: $seen"
    [ "$(front_state)" = "$before" ] || fail "the notice took the full-screen window's foreground: $before, then $(front_state)"
    # The picture once the full-screen window has gone from the corner: the bubble, the taskbar's end and its icons.
    wine "$lister" --front-close || fail "the full-screen window did not close: $(listed | grep LookoutTestFullScreen)"
    corner="$(($2 + 300))x$(($3 + 80))+$((width - $2 - 300))+$((height - $3 - 80))"
    wait_for 10 eval 'import -window root -crop "$corner" +repage "$picture" && [ "$(magenta_pixels "$picture")" = 0 ]' ||
        fail "the full-screen window stayed on the screen: $picture"
    pass "at $4 % (LogPixels $1) a notice opened the bubble at ${want% * *} ${2}x$3, its right and bottom edges on the primary monitor's rcWork $ax,$ay ${aw}x$ah, $where; over a topmost full-screen window that kept the foreground, the activation and the keyboard ($before) ($picture)"
}
scaled 120 250 188 125
scaled 144 300 225 150

# Two monitors, the primary on the left and a panel's 30 pixels across the bottom of both: Wine's desktop (its shell)
# is one monitor of its own size whatever X has, so this is Wine's X11 driver without it. Wine 8 and 10 read the
# monitors from Xinerama (which the X server answers from its RandR monitors; their RandR 1.4 reading sees Xvfb's one
# output) and take each one's work area from _NET_WORKAREA. Wine 10 gives the second monitor's rcMonitor at 0,0, over
# the primary, its rcWork where it lies. No taskbar there: Wine's small tray window holds the icon.
two_monitors() { # DPI WIDTH HEIGHT PERCENT: the bubble's size in device pixels at DPI
    local log=$work/lookout-two.log monitors want picture=$artefacts/windows-two-monitors.png
    # In one go (each Wine program takes its time to start); what it sets is read back below.
    printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Control Panel\\Desktop]\r\n"LogPixels"=dword:%08x\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\Explorer]\r\n"Desktop"=-\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n"UseXRandR"="N"\r\n' \
        "$1" >"$work/two-monitors.reg"
    wine regedit /S "$work/two-monitors.reg" >>"$work/wineboot.log" 2>&1 && wine_ended ||
        fail "the registry was not set for two monitors: $(tail -n 5 "$work/wineboot.log")"
    kill "$x_pid" && wait_for 10 gone "$x_pid" || fail "Xvfb did not end"
    start_x $((2 * width)) $height
    xrandr --setmonitor '*left' "$width/340x$height/210+0+0" screen >/dev/null &&
        xrandr --setmonitor right "$width/340x$height/210+$width+0" none >/dev/null &&
        xprop -root -f _NET_WORKAREA 32c -set _NET_WORKAREA "0, 0, $((2 * width)), $((height - 30))" ||
        fail "Xvfb took no second monitor: $(xrandr --listmonitors)"
    (cd "$work" && exec wine "$app/lookout.exe") >"$work/traces-two.out" 2>"$log" &
    pids+=($!)
    second_at="$width 0"
    [ "$wine_major" -lt 10 ] || second_at="0 0"
    monitors="monitor 1 0 0 $width $height 0 0 $width $((height - 30)),monitor 0 $second_at $width $height $width 0 $width $((height - 30))"
    wait_for 10 eval 'look && [ "$(grep "^monitor" <<<"$seen" | paste -sd ,)" = "$monitors" ]' ||
        fail "$(wine --version) reports $(grep '^monitor' <<<"$seen" | paste -sd ,), not $monitors"
    [ "$(awk '$1 == "dpi" {print $2}' <<<"$seen")" = "$1" ] || fail "Windows reports $(grep '^dpi' <<<"$seen"), not dpi $1"
    want="$((width - $2)) $((height - 30 - $3)) $2 $3"
    wait_for 30 bubble_is "$want" ||
        fail "on two monitors a notice opened the bubble at \"$(seen_bubble)\", not $want, the primary's work area's corner: $(grep '^monitor' <<<"$seen")"
    import -window root "$picture"
    pass "two monitors side by side at $4 % under $(wine --version): the bubble at ${want% * *} ${2}x$3, in the corner of the primary's work area ($monitors), not the second's ($picture)"
}
two_monitors 144 300 225 150
