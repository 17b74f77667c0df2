# Sourced by the desktop tests with BUILD_DIR ARTEFACT_DIR: waits that fail saying what did not happen.
fail() { echo "FAIL: $*" >&2; exit 1; }
pass() { echo "ok - $*"; }
skip() { echo "SKIP: $*"; exit 77; } # ctest counts 77 as a skip
need() { local c; for c; do command -v "$c" >/dev/null || skip "$c is not installed (scripts/install-deps.sh tests installs it)"; done; }
build=$(cd "$1" && pwd) artefacts=$(mkdir -p "$2" && cd "$2" && pwd)
lobby_address=${LOOKOUT_LOBBY_ADDRESS:-127.0.0.1}

wait_for() { # SECONDS COMMAND...: runs COMMAND until it succeeds
    local deadline=$((SECONDS + $1))
    shift
    until "$@" >/dev/null 2>&1; do
        [ "$SECONDS" -lt "$deadline" ] || return 1
        sleep 0.1
    done
}
gone() { ! kill -0 "$1" 2>/dev/null || [[ $(ps -o stat= -p "$1") == Z* ]]; } # ended, even if not yet reaped
ended() { # PID WHAT LOG: PID ends within 10 s, with status 0
    local status=0
    wait_for 10 gone "$1" || fail "$2 still runs: $(tail -n 5 "$3")"
    wait "$1" || status=$?
    [ "$status" -eq 0 ] || fail "$2 ended with status $status: $(tail -n 5 "$3")"
}
stop() { kill -TERM "$1" 2>/dev/null || fail "$2 died: $(tail -n 5 "$3")"; ended "$@"; } # PID WHAT LOG: SIGTERM ends it

pids=()
cleanup() { # last started, first stopped: programs end before the server they draw on
    local i
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[i]}" 2>/dev/null && wait_for 5 gone "${pids[i]}" || kill -KILL "${pids[i]}" 2>/dev/null || true
    done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
work=$(mktemp -d)
# A session run as nobody cannot read the sanitizers' suppression files in a clone only its owner may enter.
for var in ASAN_OPTIONS LSAN_OPTIONS; do
    value=${!var:-}
    [[ $value =~ suppressions=([^:]*) ]] || continue
    install -m 644 "${BASH_REMATCH[1]}" "$work/$var.supp"
    export "$var=${value/suppressions=${BASH_REMATCH[1]}/suppressions=$work/$var.supp}"
done
# The desktops' libraries (Qt's, KDE's) keep no frame pointers, where the fast unwinder stops: a leak of theirs
# would show no frame of theirs for a suppression to name.
[ -z "${ASAN_OPTIONS:-}" ] || export ASAN_OPTIONS="$ASAN_OPTIONS:fast_unwind_on_malloc=0"

# start_x WIDTH HEIGHT: an X server of our own, on the first display number from 100 whose lock file in /tmp it
# takes. Not -displayfd: it takes no lock and picks the first number free in the abstract socket namespace,
# which each test's network namespace has anew, so servers started at the same moment all took :0, and one
# removed the others' socket file and compiled keymap (/var/lib/xkb/server-0.xkm): that server died.
start_x() {
    local n
    for ((n = 100; n < 300; n++)); do
        # -noreset: the server resets when its last client leaves (the check below), turning away a client that came meanwhile.
        Xvfb ":$n" -screen 0 "$1x$2x24" -nolisten tcp -noreset 2>"$work/xvfb.log" &
        pids+=($!)
        # Ours once its lock names it; it ends at once where another server holds :$n, whose socket file a client here would reach.
        wait_for 20 eval "gone ${pids[-1]} || x_answers $n ${pids[-1]}" || fail "Xvfb :$n neither started nor ended: $(cat "$work/xvfb.log")"
        gone "${pids[-1]}" || { export DISPLAY=":$n"; return; }
    done
    fail "Xvfb took no display from :100 to :299: $(cat "$work/xvfb.log")"
}
x_answers() { local holder; read -r holder <"/tmp/.X$1-lock" && [ "$holder" = "$2" ] && DISPLAY=":$1" xwininfo -root; } # N PID
install_program() { # DIR NAME...: the program in DIR, watching the NAMEs, its bubble staying until clicked
    mkdir -p "$1"
    cp -r "$build/lookout" "$build/icons" "$build/wav" "$1/"
    printf 'LIST += %s\n' "${@:2}" >"$1/list.cfg"
    printf 'SHOW_TIME = -1\n' >"$1/config.cfg"
}
start_lookout() { # LOG [VAR=VALUE...]: $app/lookout in the session; sets lookout_pid
    (cd "$work" && exec "${runner[@]}" env "${session_env[@]}" "${@:2}" "$app/lookout") >"$1" 2>&1 &
    lookout_pid=$!
    pids+=("$lookout_pid")
}
runner=() session_env=() # how a session of another user runs a program
# Root of the machine, not the root of the user namespace that own-network.sh gives an ordinary user.
real_root() { [ "$(id -u)" -eq 0 ] && [ "$(awk 'NR == 1 {print $2}' /proc/self/uid_map)" = 0 ]; }
# In that namespace, programs that refuse root run as the user outside it, in a user namespace of their own.
runner_outer_user() { runner=(unshare --map-user="$(awk 'NR == 1 {print $2}' /proc/self/uid_map)" --map-group="$(awk 'NR == 1 {print $2}' /proc/self/gid_map)"); }

work_area() { in_session xprop -root _NET_WORKAREA | grep -qE "= 0, 0, $width, $1(,|$)"; } # HEIGHT: what a panel leaves of the screen
# The X helpers ask through in_session.
in_session() { "${runner[@]}" env "${session_env[@]}" "$@"; }
window_geometry() { # ID: "X Y WIDTH HEIGHT", absolute; xwininfo without one waits for a click
    [ -n "$1" ] && in_session xwininfo -id "$1" | awk '/Absolute upper-left X/{x=$NF} /Absolute upper-left Y/{y=$NF}
        /Width:/{w=$NF} /Height:/{h=$NF} END{print x, y, w, h}'
}
is_viewable() { in_session xwininfo -id "$1" | grep -q 'Map State: IsViewable'; }
viewable_window() { # CLASS EXCLUDED: a viewable window of CLASS whose line does not match the regex EXCLUDED
    local w
    for w in $(in_session xwininfo -root -tree | grep -F "(\"$1\" \"$1\")" | grep -v -E "$2" | awk '{print $1}'); do
        is_viewable "$w" && return 0
    done
    return 1
}
# The bubble: the window of lookout, lookout-short-pause or lookout.exe of bubble_size (200x150 at 100 %).
bubble_size=200x150
bubble_window() {
    in_session xwininfo -root -tree | awk -v size="$bubble_size" '/"lookout[-a-z.]*": \("lookout[-a-z.]*" "lookout[-a-z.]*"\)  / &&
        index($0, ")  " size "+") { print $1; exit }'
}
bubble_open() { local w; w=$(bubble_window); [ -n "$w" ] && is_viewable "$w"; }
bubble_closed() { ! bubble_open; }
bubble_at() { bubble_open && [ "$(window_geometry "$(bubble_window)")" = "$1 $2 ${bubble_size/x/ }" ]; } # X Y
bubble_where() { window_geometry "$(bubble_window)"; }
toggles() { # CLICK STATE AGAIN: CLICK (a command) brings STATE, and once more AGAIN
    eval "$1"
    wait_for 10 eval "$2" || fail "after a click: not $2 (the bubble at $(bubble_where))"
    sleep 0.6 # two clicks in quick succession would be a double click
    eval "$1"
    wait_for 10 eval "$3" || fail "after a second click: not $3 (the bubble at $(bubble_where))"
}
pick() { # N [PNG]: the Nth entry (About, Auto show, Sound, Autorun, Quit) of the menu open_menu opens
    open_menu
    sleep 0.5 # let it paint
    [ -z "${2:-}" ] || import -window root "$2"
    xdotool key $(printf 'Down %.0s' $(seq "$1")) Return
    wait_for 10 eval '! menu_open' || fail "the menu stayed open"
}

# sound_autorun_quit EOL LOG TRACES: through the menu, Sound off, Autorun on and off again (as autorun_entry reads it,
# autorun_wanted once on), then Quit: Lookout ends with status 0, config.cfg holds sound off in lines that end in EOL,
# and TRACES the one poll of the run (the next is a minute later) and a DETONATE for each Autorun toggle.
sound_autorun_quit() {
    pick 3
    pick 4
    wait_for 10 eval '[ "$(autorun_entry)" = "$autorun_wanted" ]' || fail "Autorun wrote \"$(autorun_entry)\", not $autorun_wanted"
    pick 4
    wait_for 10 eval '[ -z "$(autorun_entry)" ]' || fail "a second Autorun did not take back $(autorun_entry)"
    pick 5
    ended "$lookout_pid" "Lookout after Quit" "$2"
    printf "#START OF CONFIG FILE$1${1}PLAY_SOUND = FALSE${1}AUTO_SHOW = TRUE${1}SHOW_TIME = -1$1$1#FINISH OF CONFIG FILE" >"$work/config.wanted"
    cmp "$app/config.cfg" "$work/config.wanted" || fail "config.cfg after Quit: $(od -c "$app/config.cfg")"
    printf 'connected\nSam on Arena\n[AB]Kira on Arena\ndisconnected\nDETONATEDETONATE' >"$work/traces.wanted"
    cmp "$3" "$work/traces.wanted" || fail "traces: $(od -c "$3")"
}
reports() { # TEXT...: the lobby's reports, one a poll, in $work/reports
    local i=0 text
    mkdir -p "$work/reports"
    for text; do printf "$text" >"$work/reports/$((++i)).txt"; done
}
start_lobby() { # LOG: lookout-lobby serving $work/reports on the program's fixed port; waits while another run holds it
    local deadline=$((SECONDS + 60))
    while :; do
        "$build/lookout-lobby" --address "$lobby_address" --reports "$work/reports" >"$1" 2>&1 &
        lobby_pid=$!
        pids+=("$lobby_pid")
        wait_for 10 grep -q -e listening -e 'cannot listen' "$1" || fail "lookout-lobby did not start: $(cat "$1")"
        grep -q listening "$1" && return 0
        [ "$SECONDS" -lt "$deadline" ] || fail "port 22000 stayed taken for a minute: $(cat "$1")"
        sleep 1
    done
}
# start_short_pause APP_DIR LOG MS [VAR=VALUE...]: lookout-short-pause with its files in APP_DIR, polling every MS
# a lobby of its own (log LOG.lobby) that serves $work/reports; sets lookout_pid.
start_short_pause() {
    local port
    "$build/lookout-lobby" --port 0 --reports "$work/reports" >"$2.lobby" 2>&1 &
    pids+=($!)
    wait_for 10 grep -q 'listening on' "$2.lobby" || fail "lookout-lobby did not start: $(cat "$2.lobby")"
    port=$(sed -n 's/.*listening on [0-9.]*:\([0-9]*\).*/\1/p' "$2.lobby")
    cp "$build/lookout-short-pause" "$1/"
    (cd "$1" && exec env "${@:4}" "$1/lookout-short-pause" "$port" "$1" "$3") >"$2" 2>&1 &
    lookout_pid=$!
    pids+=("$lookout_pid")
}
polls() { [ "$(grep -c '^connection ' "$1")" -ge "$2" ]; } # LOBBY_LOG N: N polls served

# start_bus: a session bus that starts no services and that any user may reach; exports its address. A program run
# as the user outside an ordinary user's namespace claims a uid the bus sees otherwise, so EXTERNAL alone fails it.
start_bus() {
    printf '<busconfig><type>session</type><listen>unix:path=%s</listen><auth>EXTERNAL</auth><auth>ANONYMOUS</auth><allow_anonymous/><policy context="default">%s</policy></busconfig>\n' \
        "$work/bus" '<allow user="*"/><allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/><allow own="*"/>' >"$work/bus.conf"
    dbus-daemon --config-file="$work/bus.conf" --nofork --nopidfile --print-address >"$work/bus.address" 2>"$work/bus.log" &
    pids+=($!)
    wait_for 10 test -s "$work/bus.address" || fail "dbus-daemon did not start: $(cat "$work/bus.log")"
    export DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$work/bus.address")
}
watcher_property() {
    gdbus call --session -d org.kde.StatusNotifierWatcher -o /StatusNotifierWatcher \
        -m org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierWatcher "$1"
}
# item_registered [ID]: sets item to the watcher's one item, or its item whose Id is ID, as "service/path". GNOME's
# extension wrote "service@/path" up to its version 59; version 66 (GNOME 50) gives only the name the item registered
# with, Qt's bus name, whose item is then at /StatusNotifierItem.
item_registered() {
    local items
    items=$(watcher_property RegisteredStatusNotifierItems | grep -o "'[^']*'" | tr -d "'" |
        sed -e 's|@/|/|' -e '\|/|!s|$|/StatusNotifierItem|') || return
    for item in $items; do [ -z "${1:-}" ] || item_property Id | grep -qF "'$1'" && return 0; done
    return 1
}
item_left() { ! watcher_property RegisteredStatusNotifierItems | grep -q "'"; }
sni_host_registered() { watcher_property IsStatusNotifierHostRegistered | grep -q true; }
item_call() { gdbus call --session -d "${item%%/*}" -o "/${item#*/}" -m "$@"; } # METHOD ARG...: as the panel calls it
item_property() { item_call org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierItem "$1"; }
# menu: "label=toggle-state" (or "=icon", or "separator") for each entry, as the panel reads the menu.
menu() {
    local service=${item%%/*} path
    path=$(item_property Menu | grep -o "/[^']*")
    gdbus call --session -d "$service" -o "$path" -m com.canonical.dbusmenu.AboutToShow 0 >/dev/null
    gdbus call --session -d "$service" -o "$path" -m com.canonical.dbusmenu.GetLayout -- 0 -1 '[]' |
        tr "'" '"' | sed 's/<(/\n/g' | tail -n +2 | awk '/"type": <"separator">/ { printf "separator "; next }
            { l = match($0, /"label": <"[^"]*">/) ? substr($0, RSTART + 11, RLENGTH - 13) : ""; gsub(/&/, "", l)
              s = /"icon-(data|name)"/ ? "icon" : match($0, /"toggle-state": <[0-9-]+>/) ? substr($0, RSTART + 17, RLENGTH - 18) : ""
              printf "%s=%s ", l, s }'
}
menu_is() { [ "$(menu)" = "About=icon Auto show=0 Sound=$1 Autorun=0 separator Quit=icon " ]; } # SOUND
# coloured_box PNG: "X Y WIDTH HEIGHT" of the strongly coloured pixels of a picture (a panel's greys are not; the icon is blue).
coloured_box() {
    convert "$1" -colorspace HSL -channel G -separate +channel -threshold 40% -trim \
        -format '%w %h %X %Y' info: 2>/dev/null | awk '{ if ($1 > 1 || $2 > 1) print $3 + 0, $4 + 0, $1, $2 }'
}

# start_game GEOMETRY: a game in front, as players have one: a focused full-screen window (xev's, which logs the keys
# it gets, in $work/game.log) of the session's window manager; sets game and game_pid. The session's X server is
# asked through in_session (XWayland's where a compositor runs one); the keys come from the test's screen, the
# player's keyboard, which reaches the game through the compositor there.
start_game() {
    # in_session's command, run by exec: game_pid is xev's own.
    (exec "${runner[@]}" env "${session_env[@]}" xev -geometry "$1" -name game) >"$work/game.log" 2>&1 &
    game_pid=$!
    pids+=("$game_pid")
    wait_for 10 eval '[ -n "$(game_window)" ]' || fail "no game window: $(tail -n 3 "$work/game.log")"
    game=$(game_window)
    in_session wmctrl -i -r "$game" -b add,fullscreen
    in_session xdotool windowactivate --sync "$game"
    wait_for 10 game_in_front || fail "the game is not full-screen and focused: $(in_session xprop -id "$game" _NET_WM_STATE)"
}
game_window() { in_session xwininfo -root -tree | awk '/"game": \(/ && !n++ { print $1 }'; } # all read: no SIGPIPE
game_in_front() {
    in_session xprop -id "$game" _NET_WM_STATE | grep -q _NET_WM_STATE_FULLSCREEN &&
        [ "$(printf '0x%x' "$(in_session xdotool getwindowfocus)")" = "$game" ] &&
        in_session xprop -root _NET_ACTIVE_WINDOW | grep -q "${game#0x}\$"
}
# game_kept_its_place [AFTER]: after a notice (or AFTER) the game still has the focus, the active window, its full-screen
# state, and the key pressed next.
game_kept_its_place() {
    local keys
    game_in_front || fail "${1:-the notice} took the game's place: focus $(in_session xdotool getwindowfocus), $(in_session xprop -root _NET_ACTIVE_WINDOW), $(in_session xprop -id "$game" _NET_WM_STATE)"
    keys=$(grep -c "KeyPress event" "$work/game.log" || true) # none yet: grep -c says 0 and fails
    xdotool key x
    wait_for 10 eval '[ "$(grep -c "KeyPress event" "$work/game.log")" -gt "$keys" ]' || fail "after ${1:-the notice} the game no longer gets its keys"
}
# lookout_windows: the viewable windows of Lookout's program, whatever their names (a menu has none).
lookout_windows() {
    local w
    for w in $(in_session xwininfo -root -tree | awk '/\("lookout[-a-z.]*" "lookout[-a-z.]*"\)  / { print $1 }'); do
        is_viewable "$w" && echo "$w"
    done
    return 0
}
# copied_from_bubble LINE: a drag along the open bubble's first line selects it, as X's PRIMARY selection then holds;
# the entry Copy, first in the bubble's context menu, puts the selection on the CLIPBOARD. The bubble takes no focus
# for either. xdotool's pixels on the test's screen are the session's: its own X server, or KWin's windows placed
# where their outputs lie.
copied_from_bubble() {
    local x y w h line windows wanted=$1
    read -r x y w h < <(bubble_where)
    line=$((y + h / 14)) # the first line's middle, at any scale
    xdotool mousemove $((x + 2)) $line mousedown 1 mousemove $((x + w / 2)) $line mousemove $((x + w - 4)) $line mouseup 1
    wait_for 10 eval '[ "$(in_session xclip -o -selection primary)" = "$wanted" ]' ||
        fail "a drag along the bubble's first line selected \"$(in_session xclip -o -selection primary 2>&1)\", not \"$1\""
    windows=$(lookout_windows)
    xdotool click 3
    wait_for 10 eval '[ "$(lookout_windows)" != "$windows" ]' || fail "a right click on the bubble opened no menu"
    xdotool key Down Return
    wait_for 10 eval '[ "$(in_session xclip -o -selection clipboard)" = "$wanted" ]' ||
        fail "the bubble's Copy put \"$(in_session xclip -o -selection clipboard 2>&1)\" on the clipboard, not \"$1\""
    bubble_open || fail "the bubble closed as its text was copied"
}
