# Sourced after common.sh where a test or the demo wants an XEmbed tray on an X server without a window manager:
# tint2, a panel across the bottom $panel pixels of the $width x $height screen whose one item is its system tray.

# start_tray LOG: tint2 up, its strip reserved, and the work area published beside it as a window manager would.
start_tray() {
    # tint2 waits up to 15 s for a window manager to tell how many desktops there are: here the caller is that manager.
    xprop -root -f _NET_NUMBER_OF_DESKTOPS 32c -set _NET_NUMBER_OF_DESKTOPS 1
    xprop -root -f _NET_CURRENT_DESKTOP 32c -set _NET_CURRENT_DESKTOP 0
    # F, a spacer, fills the panel left of the tray, so the icon sits at its right end. A 22-pixel icon keeps a pixel
    # clear of the panel's edges, as trayer, the tray host before, gave it.
    cat >"$work/tint2rc" <<EOF
rounded = 0
border_width = 0
background_color = #333333 100
border_color = #000000 0
panel_items = FS
panel_position = bottom right horizontal
panel_size = 100% $panel
panel_margin = 0 0
panel_padding = 0 0 0
panel_background_id = 1
strut_policy = follow_size
disable_transparency = 1
systray_padding = 1 1 0
systray_background_id = 0
systray_icon_size = $((panel - 2))
EOF
    tint2 -c "$work/tint2rc" >"$1" 2>&1 &
    pids+=($!)
    local wanted="0, 0, 0, $panel, 0, 0, 0, 0, 0, 0, 0, $((width - 1))"
    wait_for 30 eval '[ "$(tray_strut)" = "$wanted" ]' ||
        fail "tint2 did not reserve the bottom $panel pixels (its strut: $(tray_strut)): $(tail -n 5 "$1")"
    # No window manager publishes the work area: the screen less the panel's strip.
    xprop -root -f _NET_SUPPORTED 32a -set _NET_SUPPORTED "_NET_WORKAREA"
    xprop -root -f _NET_WORKAREA 32c -set _NET_WORKAREA "0, 0, $width, $((height - panel))"
}
tray_panel() { xwininfo -root -tree | awk '/"tint2": \("tint2" "Tint2"\)/ && !n++ { print $1 }'; }
tray_strut() { local p; p=$(tray_panel) && [ -n "$p" ] && xprop -id "$p" _NET_WM_STRUT_PARTIAL | sed 's/^[^=]*= //'; }
# tray_icon: Lookout's window among those tint2 holds, the lines of the tree indented deeper than the panel's.
tray_icon() {
    xwininfo -root -tree | awk '/"tint2": \("tint2" "Tint2"\)/ { depth = match($0, /[^ ]/); next }
        depth && match($0, /[^ ]/) <= depth { depth = 0 }
        depth && /"lookout": \("lookout" "lookout"\)/ && !n++ { print $1 }'
}
