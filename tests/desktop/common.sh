# Sourced by the desktop tests with BUILD_DIR ARTEFACT_DIR: a private X
# server and session bus, the lobby, the program, and waits that fail saying
# what did not happen.
fail() { echo "FAIL: $*" >&2; exit 1; }
pass() { echo "ok - $*"; }
skip() { echo "SKIP: $*"; exit 77; } # ctest counts 77 as a skip
need() { local c; for c; do command -v "$c" >/dev/null || skip "$c is not installed (scripts/install-deps.sh installs it)"; done; }
need_gi() { /usr/bin/python3 -c 'from gi.repository import Gio' 2>/dev/null || skip "no python3-gi (scripts/install-deps.sh installs it)"; }
if [ $# -ge 2 ]; then
    build=$(cd "$1" && pwd) artefacts=$(mkdir -p "$2" && cd "$2" && pwd)
fi
lobby_address=${LOOKOUT_LOBBY_ADDRESS:-127.0.0.1}

wait_for() { # SECONDS COMMAND...: runs COMMAND until it succeeds
    local deadline=$((SECONDS + $1))
    shift
    until "$@" >/dev/null 2>&1; do
        [ "$SECONDS" -lt "$deadline" ] || return 1
        sleep 0.1
    done
}
gone() { ! kill -0 "$1" 2>/dev/null; }
ended() { # PID WHAT LOG: PID ends within 10 s, with status 0
    local status=0
    wait_for 10 gone "$1" || fail "$2 still runs: $(tail -n 5 "$3")"
    wait "$1" || status=$?
    [ "$status" -eq 0 ] || fail "$2 ended with status $status: $(tail -n 5 "$3")"
}
stop() { kill -TERM "$1" 2>/dev/null || fail "$2 died: $(tail -n 5 "$3")"; ended "$@"; } # PID WHAT LOG: SIGTERM ends it

pids=()
cleanup() {
    local i
    # Last started, first stopped: programs end before the server they draw on.
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[i]}" 2>/dev/null && wait_for 5 gone "${pids[i]}" || kill -KILL "${pids[i]}" 2>/dev/null || true
    done
    wait 2>/dev/null || true
    # The logs go with the artefacts, for a failure on a machine nobody can log in to.
    [ -z "${log_prefix:-}" ] || for log in "$work"/*.log; do cp "$log" "$artefacts/$log_prefix-${log##*/}" || true; done
    rm -rf "$work"
}
trap cleanup EXIT
work=$(mktemp -d)
# A sanitizer build reads its suppression files as it starts; a session run
# as nobody cannot reach them in a clone only its owner may enter.
for var in ASAN_OPTIONS LSAN_OPTIONS; do
    value=${!var:-}
    [[ $value =~ suppressions=([^:]*) ]] || continue
    install -m 644 "${BASH_REMATCH[1]}" "$work/$var.supp"
    export "$var=${value/suppressions=${BASH_REMATCH[1]}/suppressions=$work/$var.supp}"
done

# start_x WIDTH HEIGHT: an X server of our own. One that someone else starts
# at the same moment may take the same display, and ours answers nobody.
start_x() {
    for _ in 1 2 3; do
        Xvfb -displayfd 3 -screen 0 "$1x$2x24" -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
        pids+=($!)
        wait_for 20 test -s "$work/display" || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
        export DISPLAY=":$(head -n1 "$work/display")"
        wait_for 5 xwininfo -root && return
        kill "${pids[-1]}" 2>/dev/null || true
    done
    fail "no X server of our own answered a client: $(cat "$work/xvfb.log")"
}
install_program() { # DIR NAME...: the program in DIR, watching the NAMEs, its bubble staying until clicked
    mkdir -p "$1"
    cp -r "$build/lookout" "$build/icons" "$build/wav" "$1/"
    printf 'LIST += %s\n' "${@:2}" >"$1/list.cfg"
    printf 'SHOW_TIME = -1\n' >"$1/config.cfg"
}

# The X helpers ask through in_session, which a session of another user redefines.
in_session() { "$@"; }
window_geometry() { # ID: "X Y WIDTH HEIGHT", absolute; xwininfo without one waits for a click
    [ -n "$1" ] && in_session xwininfo -id "$1" | awk '/Absolute upper-left X/{x=$NF} /Absolute upper-left Y/{y=$NF}
        /Width:/{w=$NF} /Height:/{h=$NF} END{print x, y, w, h}'
}
is_viewable() { in_session xwininfo -id "$1" | grep -q 'Map State: IsViewable'; }
# The bubble: the 200x150 window of lookout, lookout-short-pause or lookout.exe.
bubble_window() { in_session xwininfo -root -tree | awk '/"lookout[-a-z.]*": \("lookout[-a-z.]*" "lookout[-a-z.]*"\)  200x150/{print $1; exit}'; }
bubble_open() { local w; w=$(bubble_window); [ -n "$w" ] && is_viewable "$w"; }
bubble_closed() { ! bubble_open; }
bubble_at() { bubble_open && [ "$(window_geometry "$(bubble_window)")" = "$1 $2 200 150" ]; } # X Y
bubble_where() { window_geometry "$(bubble_window)"; }

# start_lobby REPORTS_DIR LOG: lookout-lobby serving the folder's reports in
# turn on the program's fixed port; waits while another run holds the port.
start_lobby() {
    local deadline=$((SECONDS + 60))
    while :; do
        "$build/lookout-lobby" --address "$lobby_address" --reports "$1" >"$2" 2>&1 &
        lobby_pid=$!
        pids+=("$lobby_pid")
        wait_for 10 grep -q -e listening -e 'cannot listen' "$2" || fail "lookout-lobby did not start: $(cat "$2")"
        grep -q listening "$2" && return 0
        [ "$SECONDS" -lt "$deadline" ] || fail "port 22000 stayed taken for a minute: $(cat "$2")"
        sleep 1
    done
}
# start_short_pause APP_DIR REPORTS_DIR LOG MS [VAR=VALUE...]: lookout-short-pause
# with its files in APP_DIR, polling every MS a lobby of its own (log
# LOG.lobby) that serves REPORTS_DIR; sets lookout_pid.
start_short_pause() {
    local port
    "$build/lookout-lobby" --port 0 --reports "$2" >"$3.lobby" 2>&1 &
    pids+=($!)
    wait_for 10 grep -q 'listening on' "$3.lobby" || fail "lookout-lobby did not start: $(cat "$3.lobby")"
    port=$(sed -n 's/.*listening on [0-9.]*:\([0-9]*\).*/\1/p' "$3.lobby")
    cp "$build/lookout-short-pause" "$1/"
    (cd "$1" && exec env "${@:5}" "$1/lookout-short-pause" "$port" "$1" "$4") >"$3" 2>&1 &
    lookout_pid=$!
    pids+=("$lookout_pid")
}
polls() { [ "$(grep -c '^connection ' "$1")" -ge "$2" ]; } # LOBBY_LOG N: N polls served
# three_line_reports DIR: the second poll's notice has a player who stayed
# (black), one who arrived (green) and one who left (grey).
three_line_reports() {
    mkdir -p "$1"
    printf 'SERVER 1; 10.0.0.1:27960 Arena\nCLIENTS 2; Sam\t[AB]Kira\n' >"$1/1.txt"
    printf 'SERVER 1; 10.0.0.1:27960 Arena\nCLIENTS 2; Sam\t[AB]Rex\n' >"$1/2.txt"
}

# start_bus DIR: a session bus that starts no services, so whatever answers
# on it the test started; any user may connect. Exports its address.
start_bus() {
    cat >"$1/bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig><type>session</type><listen>unix:path=$1/bus</listen><auth>EXTERNAL</auth>
  <policy context="default"><allow user="*"/><allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/><allow own="*"/></policy></busconfig>
EOF
    dbus-daemon --config-file="$1/bus.conf" --nofork --nopidfile --print-address >"$1/bus.address" 2>"$1/bus.log" &
    pids+=($!)
    wait_for 10 test -s "$1/bus.address" || fail "dbus-daemon did not start: $(cat "$1/bus.log")"
    export DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$1/bus.address")
}
watcher_property() {
    gdbus call --session -d org.kde.StatusNotifierWatcher -o /StatusNotifierWatcher \
        -m org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierWatcher "$1"
}
# The item registered with the panel's watcher, as "service/path" (GNOME's
# extension writes "service@/path"). Only the test's programs use the bus.
sni_item() { watcher_property RegisteredStatusNotifierItems | grep -o "'[^']*'" | tr -d "'" | sed 's|@/|/|' | grep .; }
no_sni_item() { ! sni_item; }
sni_host_registered() { watcher_property IsStatusNotifierHostRegistered | grep -q true; }
# coloured_box PNG: "X Y WIDTH HEIGHT" on the screen of the strongly coloured
# pixels of a picture (a panel's greys are not; Lookout's icon is blue).
coloured_box() {
    convert "$1" -colorspace HSL -channel G -separate +channel -threshold 40% -trim \
        -format '%w %h %X %Y' info: 2>/dev/null | awk '{ if ($1 > 1 || $2 > 1) print $3 + 0, $4 + 0, $1, $2 }'
}
