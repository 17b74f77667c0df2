#!/usr/bin/env bash
# usage: kde_plasma.sh BUILD_DIR ARTEFACT_DIR x11|wayland: Lookout in KDE Plasma's own shell (plasmashell, its panel
# and system tray). x11: Plasma 6 under KWin (kwin_x11), or Plasma 5 under openbox where Plasma's daemon is kded5.
# wayland: Plasma 6 under kwin_wayland with two outputs side by side, Lookout through KWin's XWayland (its default on
# Wayland), then natively. KWin draws each output into a window of its own on Xvfb (its X11 backend), where the
# pictures are taken and real clicks and keys sent: its virtual backend, without a GPU, offers no screenshot interface
# on the bus. Both: Lookout started again after the shell, with several monitors, which then change while it runs:
# on x11 monitors set and taken away with xrandr on Xvfb, on wayland KWin's outputs turned off and on and made
# primary with kscreen-doctor.
set -euo pipefail
. "$(dirname "$0")/common.sh"
session=$3
need plasmashell Xvfb xdotool xwininfo xprop xrandr import convert compare dbus-daemon gdbus wmctrl xev xclip
if command -v kded6 >/dev/null; then
    plasma=6 kded=kded6
elif command -v kded5 >/dev/null; then
    plasma=5 kded=kded5
else
    skip "neither kded6 nor kded5, whose module is Plasma's StatusNotifierWatcher, is installed (scripts/install-deps.sh tests installs it)"
fi
if [ "$session" = wayland ]; then
    [ $plasma = 6 ] || skip "no kded6: Plasma 5 here, and the Wayland test is Plasma 6's"
    need kwin_wayland Xwayland kscreen-doctor
    wm=kwin_wayland
elif [ $plasma = 6 ]; then
    need kwin_x11 && wm=kwin_x11
else
    need openbox && wm=openbox
fi
activity_manager=$(ls /usr/lib/*/libexec/kactivitymanagerd 2>/dev/null | head -n1) || true
[ -n "$activity_manager" ] || skip "kactivitymanagerd is not installed (scripts/install-deps.sh tests installs it)"
[ -d /usr/share/plasma/shells/org.kde.plasma.desktop ] || skip "no Plasma desktop shell, its panel and tray (plasma-desktop; scripts/install-deps.sh tests installs it)"
name=kde-plasma$([ $plasma = 5 ] || echo "6-$session") # of the pictures
width=1280 height=800 # of the primary monitor; on Wayland of each of KWin's outputs, the primary at the top left
outputs=$([ "$session" = wayland ] && echo 2 || echo 1)
screen_width=$((width * outputs)) # of the X screen, all monitors side by side
start_x $screen_width $height # the screen: Plasma's on X11, KWin's windows showing its outputs on Wayland
unset WAYLAND_DISPLAY QT_QPA_PLATFORM QT_QPA_PLATFORMTHEME XDG_SESSION_TYPE XDG_SESSION_DESKTOP DESKTOP_SESSION GNOME_DESKTOP_SESSION_ID
# A Plasma session's environment, drawn in software, with a home and XDG folders of its own.
export HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" XDG_CACHE_HOME="$work/cache" \
    XDG_STATE_HOME="$work/state" XDG_RUNTIME_DIR="$work/runtime" KDE_FULL_SESSION=true XDG_CURRENT_DESKTOP=KDE \
    KDE_SESSION_VERSION=$plasma QT_QUICK_BACKEND=software LIBGL_ALWAYS_SOFTWARE=1 QT_XCB_GL_INTEGRATION=none
export PULSE_SERVER="unix:$work/no-pulse" # silent, and no sound server is spawned
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_STATE_HOME" && mkdir -m 700 "$XDG_RUNTIME_DIR"
# No tray item of Plasma's own about software rendering, and no fades: the pictures are exact.
printf '[softwarerenderer]\nneverShow=true\n' >"$XDG_CONFIG_HOME/plasmashellrc"
printf '[KDE]\nAnimationDurationFactor=0\n' >"$XDG_CONFIG_HOME/kdeglobals"
# A bus that starts nothing: on one that does, kglobalaccel5 and others would outlive the test.
start_bus
on_bus() { gdbus call --session -d org.freedesktop.DBus -o /org/freedesktop/DBus -m org.freedesktop.DBus.NameHasOwner "$1" | grep -q true; }
# monitors: "NAME X Y WIDTH HEIGHT" of each RandR monitor of the session's X server; primary_monitor: "X Y WIDTH
# HEIGHT" of the one flagged primary, else of the only one (Xvfb's own monitor, its whole screen, is flagged none).
monitors() {
    in_session xrandr --listmonitors |
        awk 'NR > 1 { name = $2; sub(/^[+*]*/, "", name); split($3, g, /[\/x+]/); print name, g[5], g[6], g[1], g[3] }'
}
primary_monitor() {
    in_session xrandr --listmonitors | awk 'NR > 1 { split($3, g, /[\/x+]/); m = g[5] " " g[6] " " g[1] " " g[3]; n++
        if ($2 ~ /^[+]*[*]/) p = m; else one = m } END { if (p == "" && n == 1) p = one; if (p == "") exit 1; print p }'
}
plasma_env=() # what Plasma's programs add to the session's environment
in_background() { env "${session_env[@]}" "${plasma_env[@]}" "${@:2}" >>"$1" 2>&1 & pids+=($!); } # LOG COMMAND...: a program of the session
if [ "$session" = wayland ]; then
    # The session's programs reach KWin and its XWayland; the test's pictures, clicks and keys go to the screen.
    cat >"$work/xwayland.sh" <<EOF
#!/bin/sh
printf '%s\\n' "\$DISPLAY" "\$XAUTHORITY" >"$work/xwayland.new" && mv "$work/xwayland.new" "$work/xwayland"
EOF
    chmod +x "$work/xwayland.sh"
    # js.debug: what KWin's scripts print reaches its log, where kwin_windows reads it.
    in_background "$work/wm.log" QT_LOGGING_RULES=js.debug=true kwin_wayland --x11-display "$DISPLAY" --width $width \
        --height $height --output-count $outputs --xwayland --socket lookout-wayland --no-lockscreen "$work/xwayland.sh"
    wait_for 30 test -s "$work/xwayland" || fail "kwin_wayland started no XWayland: $(tail "$work/wm.log")"
    { read -r xwayland && read -r xauthority; } <"$work/xwayland"
    session_env=(WAYLAND_DISPLAY=lookout-wayland XDG_SESSION_TYPE=wayland DISPLAY="$xwayland" XAUTHORITY="$xauthority")
    wait_for 20 on_bus org.kde.KWin || fail "kwin_wayland is not on the bus: $(tail "$work/wm.log")"
    wait_for 20 in_session xwininfo -root || fail "KWin's XWayland does not answer on $xwayland: $(tail "$work/wm.log")"
    wait_for 10 eval '[ "$(monitors | wc -l)" = $outputs ]' || fail "XWayland's monitors: $(monitors)"
    # KWin opens the window of each output (X11-0, X11-1, made in that order) at the screen's top left corner: each
    # is moved to where its output lies, so that the screen shows KWin's space as it is, and clicks land where aimed.
    hosts=($(xwininfo -root -children | awk '/"KDE Wayland Compositor/ { print $1 }' |
        while read -r w; do echo "$((w)) $w"; done | sort -n | cut -d' ' -f2))
    [ ${#hosts[@]} = $outputs ] || fail "not a window for each of KWin's $outputs outputs on the screen: $(xwininfo -root -children)"
    for i in "${!hosts[@]}"; do
        read -r _ x y _ < <(monitors | grep "^X11-$i ") || fail "XWayland has no monitor X11-$i: $(monitors)"
        xdotool windowmove --sync "${hosts[i]}" "$x" "$y"
    done
    # The primary output, as X clients read it, is the test's screen: the pictures and clicks are aimed at it.
    [ "$(primary_monitor)" = "0 0 $width $height" ] ||
        fail "XWayland's primary monitor is not KWin's first output, ${width}x$height at the top left: $(in_session xrandr --listmonitors)"
    # Keys reach KWin's windows only with the focus: the screen has no window manager to give it.
    xdotool windowfocus --sync "${hosts[0]}" || fail "no window of KWin's on the screen: $(xwininfo -root -children)"
    plasma_env=(QT_QPA_PLATFORM=wayland) # Lookout makes its own choice
else
    in_background "$work/wm.log" $wm # it turns the panel's struts into the work area
    wait_for 20 sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"' || fail "$wm did not start: $(cat "$work/wm.log")"
fi
wm_pid=${pids[-1]}
in_background "$work/kded.log" $kded # its module is the StatusNotifierWatcher
kded_pid=${pids[-1]}
in_background "$work/activities.log" "$activity_manager" # plasmashell aborts without it
activities_pid=${pids[-1]}
wait_for 30 on_bus org.kde.StatusNotifierWatcher || fail "$kded brought no StatusNotifierWatcher: $(tail "$work/kded.log")"
wait_for 30 on_bus org.kde.ActivityManager || fail "kactivitymanagerd did not start: $(tail "$work/activities.log")"
# strays: processes of the session (its runtime folder in their environment) that the test did not start itself,
# but for the XWayland of KWin's own.
strays() {
    local p
    for p in /proc/[0-9]*; do
        [[ " ${pids[*]} $$ $BASHPID " == *" ${p#/proc/} "* ]] && continue
        grep -qzx "XDG_RUNTIME_DIR=$XDG_RUNTIME_DIR" "$p/environ" 2>/dev/null || continue
        [ "$(ps -o ppid=,comm= -p "${p#/proc/}" | xargs)" = "$wm_pid Xwayland" ] || echo "${p#/proc/} $(tr '\0' ' ' <"$p/cmdline")"
    done
    return 0
}

# kwin_prints JS: what the script JS, run in KWin, prints into KWin's log: Wayland's windows are KWin's to tell, an
# X client sees XWayland's only.
kwin_prints() {
    local n=${EPOCHREALTIME/[.,]/}
    printf '%s\n' "print('listing $n');" "$1" "print('listed $n');" >"$work/kwin.js"
    gdbus call --session -d org.kde.KWin -o /Scripting -m org.kde.kwin.Scripting.loadScript "$work/kwin.js" "listing-$n" |
        grep -o '[0-9]\+' >"$work/script" || return
    gdbus call --session -d org.kde.KWin -o "/Scripting/Script$(cat "$work/script")" -m org.kde.kwin.Script.run >/dev/null &&
        wait_for 5 grep -q "js: listed $n\$" "$work/wm.log"
    gdbus call --session -d org.kde.KWin -o /Scripting -m org.kde.kwin.Scripting.unloadScript "listing-$n" >/dev/null
    sed -n "/js: listing $n\$/,/js: listed $n\$/s/^js: //p" "$work/wm.log"
}
# kwin_windows: "CLASS KIND X Y WIDTH HEIGHT" of each window KWin shows (KIND dock, popup or other; the geometry
# without KWin's frame).
kwin_windows() {
    kwin_prints 'for (const w of workspace.windowList()) {
    const g = w.clientGeometry, kind = w.dock ? "dock" : w.popupWindow ? "popup" : "other";
    print("window", w.resourceClass, kind, g.x, g.y, g.width, g.height);
}' | sed -n 's/^window //p'
}
# kwin_active: "FULLSCREEN CAPTION" of KWin's active window (its title, an X window's WM_NAME), nothing without one.
kwin_active() {
    kwin_prints 'const w = workspace.activeWindow;
if (w) print("active", w.fullScreen, w.caption);' | sed -n 's/^active //p'
}
# Where the test looks: the primary monitor (X Y WIDTH HEIGHT), and the strip of the screen's bottom edge whose panel
# it waits for (X WIDTH BOTTOM): Plasma puts its panel across the bottom of the screen it takes for the primary.
primary=(0 0 $width $height) panel_at=(0 $width $height)
# panel_window: "Y HEIGHT" of plasmashell's window across the bottom of panel_at's strip. awk reads all of xwininfo's
# tree: leaving early ends xwininfo with SIGPIPE, which pipefail takes for a failure once Plasma's tree outgrows a
# pipe's buffer.
panel_window() {
    if [ "$session" = wayland ]; then
        kwin_windows | awk -v x=${panel_at[0]} -v w=${panel_at[1]} -v b=${panel_at[2]} \
            '$1 == "plasmashell" && $2 == "dock" && $3 == x && $5 == w && $4 + $6 == b && !found++ { print $4, $6 }'
    else
        xwininfo -root -tree | awk -v x=${panel_at[0]} -v w=${panel_at[1]} -v b=${panel_at[2]} '/\("plasmashell" "plasmashell"\)/ {
            split($(NF - 1), size, /[x+]/); split($NF, at, "+")
            if (at[2] == x && size[1] == w && size[2] < b && at[3] + size[2] == b && !found++) print at[3], size[2] }'
    fi
}
reserved() { in_session xprop -root _NET_WORKAREA | grep -qE "= 0, 0, $screen_width, $1(,|$)"; } # HEIGHT: the work area a panel leaves
# panel_up: plasmashell's panel across the bottom of panel_at's strip, left out of the work area; sets panel, its
# height, and panel_top, where it is drawn: Plasma 6's panel floats, its window taller by a margin above and below.
# The height is the shell's own word, asked through its scripting interface: Plasma 6 first reserves 30 pixels, for
# a few seconds.
panel_up() {
    local y h thickness
    read -r y h < <(panel_window) || return
    thickness=$(gdbus call --session -d org.kde.plasmashell -o /PlasmaShell -m org.kde.PlasmaShell.evaluateScript \
        "print(panels().filter(p => p.location == 'bottom').map(p => p.height))" | grep -o '[0-9]\+') || return
    [ "$thickness" -le "$h" ] && reserved $((panel_at[2] - thickness)) && panel=$thickness panel_top=$((y + (h - thickness) / 2))
}
panels_seen() { # for a failure: the shell's panels and screens, the docks, the work area
    gdbus call --session -d org.kde.plasmashell -o /PlasmaShell -m org.kde.PlasmaShell.evaluateScript \
        "print(panels().map(p => p.location + ' ' + p.height + ' on screen ' + p.screen).join('; ') + '; screens: ' + [...Array(screenCount).keys()].map(i => JSON.stringify(screenGeometry(i))).join(' '))"
    if [ "$session" = wayland ]; then
        kwin_windows | grep '^plasmashell dock'
    else
        xwininfo -root -tree | grep -F '("plasmashell" "plasmashell")' | grep -v '+-[0-9]*+-[0-9]*$'
    fi
    in_session xprop -root _NET_WORKAREA
}
start_shell() { # sets shell_started, the moment it started, panel and panel_top
    shell_started=$EPOCHREALTIME
    in_background "$work/plasmashell.log" plasmashell
    shell_pid=${pids[-1]}
    wait_for 60 panel_up || fail "no panel of plasmashell's across ${panel_at[*]} (x, width, bottom) out of the work area: $(panels_seen) $(tail "$work/plasmashell.log")"
    # kded's watcher says a host is registered whether or not one is: the host's own name tells.
    wait_for 30 on_bus "org.kde.StatusNotifierHost-$shell_pid" || fail "plasmashell registered no StatusNotifierHost: $(tail "$work/plasmashell.log")"
}
stop_shell() {
    kill "$shell_pid" || fail "plasmashell died: $(tail "$work/plasmashell.log")"
    wait_for 20 gone "$shell_pid" || fail "plasmashell did not end on SIGTERM"
    wait_for 20 reserved $height || fail "the work area kept the panel's strip: $(in_session xprop -root _NET_WORKAREA)"
}
since_shell_started() { echo "$EPOCHREALTIME $shell_started" | awk '{printf "%.1f s", $1 - $2}'; }
# The tray: the panel's right half, left of the clock and the show-desktop button. Lookout's icon is its only colour,
# a box no larger than the panel is high (a wallpaper showing before the panel is painted is larger).
tray_strip() { echo "$((width / 2 - 140))x$panel+$((width / 2))+$panel_top"; }
# vivid_box PNG: "X Y WIDTH HEIGHT" of the pixels whose chroma (the spread of their red, green and blue) is a fifth of
# the scale or more. Not coloured_box's saturation: on Wayland Plasma's panel is translucent, a pale tint of the
# wallpaper behind it, and a pale tint's saturation is high. Debian testing's blue wallpaper (desktop-base 14) made
# the panel 211,224,235: 42 % saturated, past coloured_box's 40 %, and all the tray one box; its chroma is 12 %,
# the icon's outline 25 % and its iris 57 %.
vivid_box() {
    convert "$1" -colorspace HCL -channel G -separate +channel -threshold 20% -trim \
        -format '%w %h %X %Y' info: 2>/dev/null | awk '{ if ($1 > 1 || $2 > 1) print $3 + 0, $4 + 0, $1, $2 }'
}
icon_box() { vivid_box "$1" | awk -v most=$panel '$3 >= 8 && $4 >= 8 && $3 <= most && $4 <= most' | grep .; } # PNG
icon_drawn() { import -window root -crop "$(tray_strip)" "$work/panel-now.png" && icon_box "$work/panel-now.png"; } # prints its box
click_icon() { # BUTTON
    local x y w h
    read -r x y w h < <(icon_drawn) || fail "no icon to click in the panel"
    xdotool mousemove $((x + w / 2)) $((y + h / 2)) click "$1"
}
# icon_picture PNG: the icon as the tray draws it, wherever the tray has put it, the pointer away.
icon_picture() {
    local x y w h
    xdotool mousemove 0 0
    import -window root -crop "$(tray_strip)" +repage "$work/tray.png"
    read -r x y w h < <(icon_box "$work/tray.png") || return
    convert "$work/tray.png" -crop "${w}x$h+$x+$y" +repage "$1"
}
# icon_differs PNG: the last icon_picture differs from PNG. compare -metric AE prints the count of differing pixels:
# "0" in ImageMagick 6 and 7.1.1, "0 (0)" in 7.1.2 (Debian testing), the share of them after it; its first word is
# the count in each (an error, pictures of two sizes, is a difference).
icon_differs() {
    local differ
    differ=$(compare -metric AE "$work/icon-now.png" "$1" null: 2>&1) || true
    [ "${differ%% *}" != 0 ]
}
icon_shows() { icon_picture "$work/icon-now.png" && ! icon_differs "$1"; } # PNG
icon_changed() { icon_picture "$work/icon-now.png" && icon_differs "$1"; } # PNG
icon_settled() { # PNG: the icon drawn alike twice in a row, kept in PNG
    icon_picture "$work/icon-now.png" || return
    [ -f "$1" ] && ! icon_differs "$1" && return
    mv "$work/icon-now.png" "$1" && return 1
}
menu_geometry() { # "X Y WIDTH HEIGHT" of the popup menu that plasmashell shows
    local w
    if [ "$session" = wayland ]; then
        kwin_windows | awk '$1 == "plasmashell" && $2 == "popup" && !found++ { print $3, $4, $5, $6 } END { exit !found }'
        return
    fi
    for w in $(xwininfo -root -tree | grep -F '("plasmashell" "plasmashell")' | awk '{print $1}'); do
        is_viewable "$w" && xprop -id "$w" _NET_WM_WINDOW_TYPE | grep -q POPUP_MENU && window_geometry "$w" && return 0
    done
    return 1
}
menu_open() { menu_geometry >/dev/null; }
open_menu() {
    click_icon 3
    wait_for 10 menu_open || fail "a right click on the icon did not open Plasma's menu"
}
# check_row: where Plasma's menu draws its one check mark (a blue box left of the entries), in per cent of the way
# from the About icon to the Quit icon (the first and last entries); "none" without one, nothing before it is drawn.
# Its top and bottom 6 rows are left out: a menu with round corners shows the wallpaper there on Wayland.
check_row() {
    local x y w h top span
    read -r x y w h < <(menu_geometry) && import -window root -crop "${w}x$((h - 12))+$x+$((y + 6))" +repage "$work/menu.png" 2>/dev/null || return 0
    read -r x top w span < <(convert "$work/menu.png" -crop 30x+31+0 +repage png:- | coloured_box png:-) || return 0
    read -r x y w h < <(convert "$work/menu.png" -crop 31x+0+0 +repage png:- | coloured_box png:-) || { echo none; return; }
    echo $(((y + h / 2 - top) * 100 / span))
}
sound_checked() { local row; row=$(check_row); [ "$row" != none ] && [ "${row:-0}" -ge 38 ] && [ "$row" -le 58 ]; } # the third of five rows
# corner: "X Y" of the bubble at the primary monitor's bottom right corner, above the panel's strip where that lies on it.
corner() {
    local right=$((primary[0] + primary[2])) bottom=$((primary[1] + primary[3]))
    [ ${panel_at[0]} -ge $right ] || [ $((panel_at[0] + panel_at[1])) -le ${primary[0]} ] || [ ${panel_at[2]} -le ${primary[1]} ] ||
        [ $((panel_at[2] - panel)) -ge $bottom ] || bottom=$((panel_at[2] - panel))
    echo $((right - 200)) $((bottom - 150))
}
above_panel() { bubble_at $(corner); }

reports 'SERVER 1; 10.0.0.1:27960 Arena\nCLIENTS 2; Sam\t[AB]Kira\n'
start_lobby "$work/lobby.log"
app="$work/app"
install_program "$app" Sam '[AB]'
printf 'AUTO_SHOW = FALSE\nSHOW_TIME = -1\n' >"$app/config.cfg"

# Lookout first, the shell after, as a session may start them: kded's watcher holds the item until a host comes.
kill -STOP "$lobby_pid" # held until the normal icon has been drawn
start_lookout "$work/lookout.log"
wait_for 20 item_registered lookout || fail "Lookout registered no item with $kded's watcher: $(tail "$work/lookout.log")"
item_property Status | grep -qF "'Active'" || fail "the item's status: $(item_property Status)"
item_property ToolTip | grep -qF "'Lookout 1.2'" || fail "the tooltip: $(item_property ToolTip)"
start_shell
wait_for 30 icon_drawn || fail "plasmashell started after Lookout does not draw its icon in the panel's tray"
drawn_after=$(since_shell_started)
wait_for 10 icon_settled "$work/icon-normal.png" || fail "the tray's icon does not settle"
cp "$work/tray.png" "$artefacts/$name-tray-normal.png"
kill -CONT "$lobby_pid"
wait_for 20 icon_changed "$work/icon-normal.png" || fail "the tray still draws the normal icon after the report"
cp "$work/tray.png" "$artefacts/$name-tray-notice.png"
bubble_closed || fail "with auto show off the report opened the bubble"
toggles "click_icon 1" "above_panel && icon_shows $work/icon-normal.png" bubble_closed
pass "item $item (Id lookout, Active, tooltip \"Lookout 1.2\") drawn in the tray of plasmashell started after it ($drawn_after); the report changed the icon, clicks toggle the bubble at the corner of the work area Plasma's panel leaves$([ $outputs = 1 ] || echo " of the primary of $outputs outputs, at $(corner | tr ' ' ,)"), and put the normal icon back"

stop_shell # a shell that crashes is started again; the icon must come back by itself
start_shell
wait_for 30 icon_drawn || fail "the restarted plasmashell does not draw the icon"
drawn_after=$(since_shell_started)
wait_for 20 eval '[ "$(item_registered lookout && echo "$item")" = "$item" ]' || fail "the item changed over the restart"
pass "plasmashell restarted drew the same item's icon again ($drawn_after after it started)"

# The README's picture, taken on the way: the bubble above the panel, and beside it Plasma's menu. Plasma 6's panel
# floats: it is drawn a margin above the strip it reserves, and the bubble, in the work area's corner, covers its top.
shot="280x200+$((width - 280))+$((height - 200))"
click_icon 1
wait_for 10 above_panel || fail "a click did not open the bubble above the panel: $(bubble_where)"
xdotool mousemove 0 0
sleep 0.5 # let it paint
import -window root -crop "$shot" +repage "$work/with-bubble.png"
click_icon 1
wait_for 10 bubble_closed || fail "a second click did not close the bubble"
open_menu
wait_for 10 sound_checked || fail "Plasma's menu draws its one check mark at $(check_row) % of the way from About to Quit, not on Sound's row"
import -window root -crop "$shot" +repage "$work/with-menu.png"
xdotool key Escape
wait_for 10 eval '! menu_open' || fail "Escape left Plasma's menu open"
convert "$work/with-bubble.png" -size 8x200 xc:white "$work/with-menu.png" +append "$artefacts/$name.png"
menu_is 1 || fail "the menu Plasma reads: $(menu)"
pick 3 "$work/menu-screen.png"
convert "$work/menu-screen.png" -crop "480x300+$((width - 480))+$((height - 300))" +repage "$artefacts/$name-menu.png"
wait_for 10 menu_is 0 || fail "the third entry of Plasma's menu did not switch sound off: $(menu)"
open_menu
wait_for 10 eval '[ "$(check_row)" = none ]' || fail "Plasma's menu still draws a check mark, at $(check_row) % of the way from About to Quit"
xdotool key Escape
wait_for 10 eval '! menu_open' || fail "Escape left Plasma's menu open"
pass "Plasma's own menu draws the entries with the check mark on Sound, and switched sound off (the menu: $artefacts/$name.png)"

pick 5
ended "$lookout_pid" "Lookout after Quit" "$work/lookout.log"
printf '#START OF CONFIG FILE\n\nPLAY_SOUND = FALSE\nAUTO_SHOW = FALSE\nSHOW_TIME = -1\n\n#FINISH OF CONFIG FILE' >"$work/config.wanted"
cmp "$app/config.cfg" "$work/config.wanted" || fail "config.cfg after Quit: $(cat "$app/config.cfg")"
wait_for 10 eval '! item_registered lookout' || fail "the item stayed with the watcher after Quit"
wait_for 10 eval '! icon_drawn' || fail "the tray still draws the icon after Quit"
pass "Quit in Plasma's menu saved sound off, and the icon left the tray"

# Lookout started again after the shell, on a layout of several monitors already settled, with auto show: the report
# opens its bubble at once, at the primary's corner above the panel. Qt's own work area would be the whole monitor
# there (Qt takes in the window manager's work area only where it changed after Lookout started).
printf 'AUTO_SHOW = TRUE\nSHOW_TIME = -1\n' >"$app/config.cfg"
started_again() { # LOG
    start_lookout "$1"
    wait_for 20 above_panel || fail "Lookout started after the shell opened no bubble at the primary's corner ($(corner)), above the panel: $(bubble_where) $(tail -n 5 "$1")"
}
# on_primary CHANGE: after CHANGE to the screens, where the test looks is the new primary, and Plasma's panel is up
# where it now lies.
on_primary() {
    read -ra primary < <(primary_monitor) || fail "after $1 no primary monitor: $(in_session xrandr --listmonitors)"
    if [ $plasma = 6 ]; then panel_at=(${primary[0]} ${primary[2]} $((primary[1] + primary[3]))); fi
    screen_width=$(in_session xwininfo -root | awk '/Width:/ { print $NF }')
    wait_for 30 panel_up || fail "after $1 Plasma's panel is not across ${panel_at[*]} (x, width, bottom): $(panels_seen)"
}
followed=()
if [ "$session" = wayland ]; then
    started_again "$work/lookout-again.log"
    pass "Lookout started after the shell, with two outputs: the report opened the bubble at the primary's corner, above the panel, at $(corner | tr ' ' ,)"
    # Then KWin's outputs changed while Lookout runs, its bubble open, through KWin's output management as Plasma's
    # display settings change them (kscreen-doctor): the right output made primary; turned off, the bubble on it;
    # turned on again and made primary; the left made primary again. KWin tells XWayland, whose monitors and work
    # area Lookout reads, and Plasma 6 puts its panel on the primary. KWin's windows on the screen stay where they
    # are: the test reads XWayland's coordinates, and clicks nothing until the outputs are as they were. kscreen-doctor
    # loads its backend itself: the session's bus starts no launcher for it. The outputs by name, each priority given:
    # kscreen-doctor's numbers are not the same on Plasma 6.3 and 6.7, and 6.7 starts with no priority on the first.
    changes=("output.X11-1.priority.1 output.X11-0.priority.2" "output.X11-1.disable"
        "output.X11-1.enable output.X11-1.position.$width,0 output.X11-1.priority.1 output.X11-0.priority.2"
        "output.X11-0.priority.1 output.X11-1.priority.2")
    primaries=("$width 0 $width $height" "0 0 $width $height" "$width 0 $width $height" "0 0 $width $height")
    for i in "${!changes[@]}"; do
        read -ra args <<<"${changes[i]}"
        in_session KSCREEN_BACKEND_INPROCESS=1 timeout 20 kscreen-doctor "${args[@]}" >>"$work/kscreen.log" 2>&1 || fail "kscreen-doctor ${changes[i]}: $(tail -n 3 "$work/kscreen.log")"
        wait_for 10 eval '[ "$(primary_monitor)" = "${primaries[i]}" ]' ||
            fail "after kscreen-doctor ${changes[i]} XWayland's primary is not ${primaries[i]}: $(in_session xrandr --listmonitors)"
        on_primary "kscreen-doctor ${changes[i]}"
        wait_for 10 above_panel || fail "after kscreen-doctor ${changes[i]} (the primary ${primary[*]}, the panel ${panel_at[*]} less $panel) the bubble is at $(bubble_where)"
        followed+=("${changes[i]}: $(corner | tr ' ' ,)")
    done
    pass "then KWin's outputs changed with the bubble open: the bubble at each primary's corner above Plasma's panel (the change: the bubble at) $(IFS=';'; echo "${followed[*]}" | sed 's/;/; /g')"
else
    # Then monitors set and taken away while it runs, its bubble open: Xvfb's RandR monitors as xrandr makes them
    # (one command a layout, the primary starred). The bubble follows to each new primary's bottom right corner,
    # above the panel's strip where that lies on the primary: Plasma 6's shell follows the monitors and puts its
    # panel on the primary; Plasma 5's (Qt 5) still sees one screen, its panel across the whole bottom. Each layout
    # moves the corner. The primary moved between monitors of one height: Plasma 6 moves its panel after Qt told of
    # the monitors, and the work area stays the same. Then a shorter primary: its panel's strut, measured from the
    # screen's bottom edge, is larger than the panel. It has a name of its own: a monitor whose name Qt (6.8) knows
    # is the screen it had, and Qt never tells its new size (plasmashell's panel then stayed at the old one's foot).
    half=640/169x800/211
    layouts=("--setmonitor *L $half+0+0 none --setmonitor R $half+640+0 screen"
        "--delmonitor L --delmonitor R --setmonitor L $half+0+0 none --setmonitor *R $half+640+0 screen"
        "--delmonitor L --delmonitor R --setmonitor *S 640/169x600/159+0+0 none --setmonitor R $half+640+0 screen"
        "--delmonitor S --delmonitor R")
    for layout in "${layouts[@]}"; do
        read -ra args <<<"$layout" # no glob: the star stays
        in_session xrandr "${args[@]}" || fail "xrandr $layout"
        on_primary "xrandr $layout"
        [ ${#followed[@]} -gt 0 ] || started_again "$work/lookout-again.log"
        wait_for 10 above_panel || fail "after xrandr $layout (the primary ${primary[*]}, the panel ${panel_at[*]} less $panel) the bubble is at $(bubble_where)"
        followed+=("${primary[2]}x${primary[3]}+${primary[0]}+${primary[1]}: $(corner | tr ' ' ,)")
    done
    pass "Lookout started after the shell on two monitors, then monitors set and taken away with its bubble open: the bubble at each primary's corner (the primary: the bubble at) $(IFS=';'; echo "${followed[*]}" | sed 's/;/; /g'), above Plasma $plasma's panel where it lay"
fi
stop "$lookout_pid" Lookout "$work/lookout-again.log"
wait_for 10 eval '! item_registered lookout' || fail "the item stayed with the watcher after SIGTERM"
wait_for 10 eval '! icon_drawn' || fail "the tray still draws the icon after SIGTERM"
# A game in front, under the session's window manager (on Wayland KWin, through XWayland, the keys sent to KWin's
# window on the screen): Lookout's first notice opens the bubble over it; the game keeps the focus, the active
# window, its full-screen state and its keys, and on Wayland stays KWin's own active window, full-screen.
game_active_in_kwin() { [ "$(kwin_active)" = "true game" ]; }
start_game ${width}x$height+0+0
[ "$session" = x11 ] || wait_for 10 game_active_in_kwin || fail "KWin's active window (full-screen, title) is $(kwin_active), not the game"
start_lookout "$work/lookout-game.log"
wait_for 20 bubble_open || fail "no bubble over the game: $(tail -n 5 "$work/lookout-game.log")"
game_stays() { # [AFTER]: the game kept its place, on Wayland in KWin's own eyes too
    game_kept_its_place "$@"
    [ "$session" = x11 ] || game_active_in_kwin || fail "after ${1:-the notice} KWin's active window (full-screen, title) is $(kwin_active), not the game"
}
game_stays
copied_from_bubble "Sam on Arena"
game_stays "copying from the bubble"
stop "$lookout_pid" Lookout "$work/lookout-game.log"
if [ "$session" = wayland ]; then
    kill "$game_pid" && wait_for 10 gone "$game_pid" || fail "the game did not end on SIGTERM" # it covers the panel
fi
pass "under $wm$([ "$session" = x11 ] || echo ", through XWayland,") a notice opened the bubble over a full-screen game, which kept the focus, the active window and its keys, also as the bubble's first line was selected and copied"
printf 'AUTO_SHOW = FALSE\nSHOW_TIME = -1\n' >"$app/config.cfg"

if [ "$session" = wayland ]; then
    # Natively a window cannot place itself: the bubble is a window like any other, which KWin frames and places.
    native_open() { kwin_windows | grep -q '^lookout other [0-9]* [0-9]* 200 150$'; }
    start_lookout "$work/lookout-native.log" QT_QPA_PLATFORM=wayland
    wait_for 20 item_registered lookout || fail "natively Lookout registered no item: $(tail "$work/lookout-native.log")"
    wait_for 30 icon_drawn || fail "natively Lookout's icon is not drawn in the tray"
    click_icon 1
    wait_for 10 native_open || fail "natively a click opened no bubble: $(kwin_windows)"
    xdotool mousemove 0 0
    sleep 0.5 # let it paint
    read -r x y w h < <(kwin_windows | awk '$1 == "lookout" { print $3, $4, $5, $6 }') # frameless: a tool window
    import -window root -crop "$((w + 40))x$((h + 65))+$((x - 20))+$((y - 45))" +repage "$artefacts/$name-native.png"
    click_icon 1
    wait_for 10 eval '! native_open' || fail "natively a second click did not close the bubble: $(kwin_windows)"
    stop "$lookout_pid" Lookout "$work/lookout-native.log"
    pass "natively the icon is drawn and clicks toggle the bubble, a frameless tool window KWin places itself ($artefacts/$name-native.png)"
fi

stop_shell
wait_for 10 eval '[ -z "$(strays)" ]' || fail "outlived plasmashell: $(strays)"
for pid in "$activities_pid" "$kded_pid" "$wm_pid"; do kill "$pid" && wait_for 20 gone "$pid" || fail "$(ps -o args= -p "$pid") did not end on SIGTERM"; done
wait_for 10 eval '[ -z "$(strays)" ]' || fail "outlived $wm: $(strays)"
pass "nothing that plasmashell, $kded, kactivitymanagerd or $wm started outlived them"
