# Shared by the tests that put Lookout in panels we did not write (LXQt,
# sway with waybar): sourced after common.sh.

# keep_logs PREFIX: when the test ends, its logs go with the artefacts as
# PREFIX-NAME.log, for a failure on a machine nobody can log in to.
keep_logs() {
    log_prefix=$1
    trap 'save_logs; cleanup' EXIT
}
save_logs() {
    local log
    for log in "$work"/*.log; do
        [ -f "$log" ] && cp "$log" "$artefacts/$log_prefix-$(basename "$log")"
    done
    return 0
}

# For a session that runs as another user (sway, GNOME Shell), through the
# test's in_session COMMAND...: the bubble on its XWayland, and the item's
# Activate, as a panel calls it on a click.
session_bubble() { in_session xwininfo -root -tree | awk '/"lookout": \("lookout" "lookout"\)  200x150/{print $1; exit}'; }
session_bubble_open() { local w; w=$(session_bubble); [ -n "$w" ] && in_session xwininfo -id "$w" | grep -q IsViewable; }
session_bubble_closed() { ! session_bubble_open; }
session_bubble_geometry() {
    in_session xwininfo -id "$(session_bubble)" | awk '/Absolute upper-left X/{x=$NF}
        /Absolute upper-left Y/{y=$NF} /Width:/{w=$NF} /Height:/{h=$NF} END{print x, y, w, h}'
}
activate() {
    gdbus call --session -d "${1%%/*}" -o "/${1#*/}" -m org.kde.StatusNotifierItem.Activate 100 100 >/dev/null
}
# session_bubble_in_corner LOG: a notice opened the 200x150 bubble in the
# corner of the session's screen (whose work area XWayland does not publish).
session_bubble_in_corner() {
    local bx by bw bh
    wait_for 20 session_bubble_open || fail "no bubble after the first report: $(tail "$1")"
    read -r bx by bw bh < <(session_bubble_geometry)
    [ "$bx $by $bw $bh" = "$((width - 200)) $((height - 150)) 200 150" ] || fail "bubble at $bx,$by ${bw}x$bh"
    pass "a notice opened the 200x150 bubble at $bx,$by, the screen's corner"
}
# activate_toggles ITEM OPEN CLOSED: the item's Activate, as a panel calls it
# on a click, closes the open bubble and opens it again.
activate_toggles() {
    activate "$1"
    wait_for 10 "$3" || fail "Activate did not close the bubble"
    activate "$1"
    wait_for 10 "$2" || fail "a second Activate did not open the bubble"
    pass "Activate, as a panel calls it on a click, closes and opens the bubble"
}

# start_bus DIR: a session bus of the test's own that starts no services, so
# whatever answers on it, the test started. Any user may connect: a session
# that runs as another user shares it with the test. Exports its address.
start_bus() {
    local dir=$1
    cat >"$dir/bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=$dir/bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
EOF
    dbus-daemon --config-file="$dir/bus.conf" --nofork --nopidfile --print-address >"$dir/bus.address" 2>"$dir/bus.log" &
    pids+=($!)
    wait_for 10 test -s "$dir/bus.address" || fail "dbus-daemon did not start: $(cat "$dir/bus.log")"
    DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$dir/bus.address")
    export DBUS_SESSION_BUS_ADDRESS
}

# sni_items: the items registered with the StatusNotifierWatcher on the bus,
# one "service/path" a line (GNOME's extension writes "service@/path").
sni_items() {
    gdbus call --session -d org.kde.StatusNotifierWatcher -o /StatusNotifierWatcher \
        -m org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierWatcher RegisteredStatusNotifierItems \
        | grep -o "'[^']*'" | tr -d "'" | sed 's|@/|/|'
}
# no_sni_items: no item is registered (the last one left with its program).
no_sni_items() { ! sni_items | grep -q .; }
sni_host_registered() {
    gdbus call --session -d org.kde.StatusNotifierWatcher -o /StatusNotifierWatcher \
        -m org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierWatcher IsStatusNotifierHostRegistered \
        | grep -q true
}
# sni_item_of PID: the registered item that belongs to process PID.
sni_item_of() {
    local item service owner_pid
    while read -r item; do
        service=${item%%/*}
        owner_pid=$(gdbus call --session -d org.freedesktop.DBus -o /org/freedesktop/DBus \
            -m org.freedesktop.DBus.GetConnectionUnixProcessID "$service" | grep -o '[0-9]\+' | tail -n1)
        [ "$owner_pid" = "$1" ] && { echo "$item"; return 0; }
    done < <(sni_items)
    return 1
}
# sni_read ITEM tooltip|menu|icon PNG...: what a host reads of the item. The
# tooltip's title; the menu, one "label=toggle-state" (or "=icon", or
# "separator") a line; the name of the PNG its largest picture shows, or how
# far it is from each. Pictures are ARGB32 in network order, compared
# premultiplied, as Qt keeps them: colour under a nearly clear pixel does not
# survive exactly, and nobody can see it.
sni_read() {
    /usr/bin/python3 - "$@" <<'EOF'
import os, subprocess, sys
from gi.repository import Gio, GLib
item, what, pngs = sys.argv[1], sys.argv[2], sys.argv[3:]
service, path = item.split("/", 1)
bus = Gio.bus_get_sync(Gio.BusType.SESSION)
def call(obj, iface, method, args):
    return bus.call_sync(service, obj, iface, method, args, None, 0, 5000, None).unpack()
def prop(name):
    return call("/" + path, "org.freedesktop.DBus.Properties", "Get",
                GLib.Variant("(ss)", ("org.kde.StatusNotifierItem", name)))[0]
if what == "tooltip":
    print(prop("ToolTip")[2])
elif what == "menu":
    menu = prop("Menu")
    call(menu, "com.canonical.dbusmenu", "AboutToShow", GLib.Variant("(i)", (0,)))
    for _, entry, _ in call(menu, "com.canonical.dbusmenu", "GetLayout", GLib.Variant("(iias)", (0, -1, [])))[1][2]:
        if entry.get("type") == "separator":
            print("separator")
        else:
            shown = "icon" if entry.get("icon-name") or entry.get("icon-data") else entry.get("toggle-state")
            print(f"{entry.get('label', '').replace('&', '')}={shown}")
elif what == "icon":
    w, h, argb = max(prop("IconPixmap") or sys.exit("the item has no picture"), key=lambda p: p[0] * p[1])
    argb, far = bytes(argb), []
    pm = lambda a, c: (a * c + 127) // 255
    for png in pngs:
        rgba = subprocess.run(["convert", png, "-depth", "8", "rgba:-"], capture_output=True, check=True).stdout
        if len(rgba) != len(argb):
            far.append(f"{os.path.basename(png)}: not {w}x{h}")
            continue
        worst = max(abs(x - y) for i in range(0, len(argb), 4)
                    for x, y in zip((argb[i], *(pm(argb[i], c) for c in argb[i + 1:i + 4])),
                                    (rgba[i + 3], *(pm(rgba[i + 3], c) for c in rgba[i:i + 3]))))
        if worst <= 2:
            print(os.path.basename(png))
            sys.exit(0)
        far.append(f"{os.path.basename(png)}: {worst} away")
    sys.exit(f"the item's {w}x{h} picture is none of them ({', '.join(far)})")
EOF
}
# sni_icon_is ITEM PNG: the item shows PNG.
sni_icon_is() { sni_read "$1" icon "$2" >/dev/null; }

# prepare_session SESSION: the program in SESSION/app, watching Sam with a
# bubble that stays until activated, and one report in SESSION/reports that
# seats him; all of it owned by nobody when the session runs as nobody.
prepare_session() {
    install_program "$build" "$1/app"
    printf 'LIST += Sam\n' >"$1/app/list.cfg"
    printf 'SHOW_TIME = -1\n' >"$1/app/config.cfg"
    printf 'SERVER 1; 10.0.0.1:27960 Arena\nCLIENTS 2; Sam\tNobody\n' >"$1/reports/1.txt"
    if [ "$(id -u)" -eq 0 ]; then chown -R nobody "$1"; fi
}

# coloured_box PNG: "X Y WIDTH HEIGHT" of the strongly coloured pixels of a
# picture of part of the screen (a panel's greys and whites are not), in the
# screen's coordinates; nothing when there are none. Lookout's icon is blue.
coloured_box() {
    convert "$1" -colorspace HSL -channel G -separate +channel -threshold 40% -trim \
        -format '%w %h %X %Y' info: 2>/dev/null \
        | awk '{ if ($1 > 1 || $2 > 1) print $3 + 0, $4 + 0, $1, $2 }'
}
