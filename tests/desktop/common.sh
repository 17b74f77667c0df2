# Shared by the desktop tests: a private X server, and small helpers to wait
# for things to happen and to fail with a message that says what did not.

fail() { echo "FAIL: $*" >&2; exit 1; }
pass() { echo "ok - $*"; }
# A test that cannot run here is skipped, not failed: ctest counts 77 as a skip.
skip() { echo "SKIP: $*"; exit 77; }
# need COMMAND...: skips the test unless every COMMAND is installed
# (scripts/install-deps.sh installs them all).
need() {
    local command
    for command; do
        command -v "$command" >/dev/null 2>&1 || skip "$command is not installed (scripts/install-deps.sh installs it)"
    done
}

# The lobby address the program was built for; ctest passes it on.
lobby_address=${LOOKOUT_LOBBY_ADDRESS:-127.0.0.1}

# wait_for SECONDS COMMAND...: runs COMMAND until it succeeds.
wait_for() {
    local deadline=$((SECONDS + $1)); shift
    until "$@" >/dev/null 2>&1; do
        [ "$SECONDS" -lt "$deadline" ] || return 1
        sleep 0.1
    done
}

pids=()
cleanup() {
    # Last started, first stopped: the programs end before the X server
    # they are drawing on.
    local i pid tries
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        pid=${pids[i]}
        kill "$pid" 2>/dev/null || continue
        for ((tries = 0; tries < 50; tries++)); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -KILL "$pid" 2>/dev/null || true
    done
    wait 2>/dev/null || true
    [ -n "${work:-}" ] && rm -rf "$work"
}
trap cleanup EXIT

work=$(mktemp -d)

# A sanitizer build reads its suppression files as it starts. A session that
# runs as nobody cannot reach them inside a clone only its owner may enter,
# so every program gets copies in the test's folder, which anyone may read.
for var in ASAN_OPTIONS LSAN_OPTIONS; do
    value=${!var:-}
    [[ $value =~ suppressions=([^:]*) ]] || continue
    install -m 644 "${BASH_REMATCH[1]}" "$work/$var.supp"
    export "$var=${value/suppressions=${BASH_REMATCH[1]}/suppressions=$work/$var.supp}"
done

# start_x WIDTH HEIGHT: an X server of our own on a free display. An X
# server that someone else starts at the same moment may take the same
# display; then ours answers no client, and another is started.
start_x() {
    local attempt
    for attempt in 1 2 3; do
        rm -f "$work/display"
        Xvfb -displayfd 3 -screen 0 "$1x$2x24" -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
        pids+=($!)
        wait_for 20 test -s "$work/display" || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
        export DISPLAY=":$(head -n1 "$work/display")"
        wait_for 5 xwininfo -root && return
        echo "note: the X server on $DISPLAY answers no client (attempt $attempt): $(cat "$work/xvfb.log")"
        kill "${pids[-1]}" 2>/dev/null || true
    done
    fail "no X server of our own answered a client"
}

# The program and what it reads, copied into a folder of its own.
install_program() {
    local build=$1 dir=$2
    mkdir -p "$dir/icons" "$dir/wav"
    cp "$build/lookout" "$dir/"
    cp "$build"/icons/*.png "$dir/icons/"
    cp "$build"/wav/*.wav "$dir/wav/"
}

# window_geometry ID: "X Y WIDTH HEIGHT", absolute.
window_geometry() {
    xwininfo -id "$1" | awk '/Absolute upper-left X/{x=$NF} /Absolute upper-left Y/{y=$NF}
        /Width:/{w=$NF} /Height:/{h=$NF} END{print x, y, w, h}'
}

is_viewable() { xwininfo -id "$1" | grep -q 'Map State: IsViewable'; }
# The bubble's window, of lookout or lookout-short-pause.
bubble_window() { xwininfo -root -tree | awk '/"lookout[-a-z]*": \("lookout[-a-z]*" "lookout[-a-z]*"\)  200x150/{print $1; exit}'; }
bubble_open() { local w; w=$(bubble_window); [ -n "$w" ] && is_viewable "$w"; }
bubble_closed() { ! bubble_open; }

# start_lobby REPORTS_DIR LOG: lookout-lobby serving the folder's reports on
# the program's fixed port; waits while another run holds the port.
start_lobby() {
    local deadline=$((SECONDS + 60))
    while :; do
        "$build/lookout-lobby" --address "$lobby_address" --reports "$1" >"$2" 2>&1 &
        lobby_pid=$!
        pids+=("$lobby_pid")
        wait_for 10 grep -q -e listening -e 'cannot listen' "$2" || fail "lookout-lobby did not start: $(cat "$2")"
        grep -q listening "$2" && return 0
        wait "$lobby_pid" || true
        [ "$SECONDS" -lt "$deadline" ] || fail "port 22000 stayed taken for a minute: $(cat "$2")"
        sleep 1
    done
}

# start_short_pause APP_DIR REPORTS_DIR LOG: lookout-short-pause, the program
# that polls every 1.5 s, against a lobby on a free port serving REPORTS_DIR,
# with its files in APP_DIR; sets lookout_pid. Any further arguments go before
# the program, as env takes them.
start_short_pause() {
    local app=$1 reports=$2 log=$3 port
    shift 3
    "$build/lookout-lobby" --port 0 --reports "$reports" >"$log.lobby" 2>&1 &
    pids+=($!)
    wait_for 10 grep -q 'listening on' "$log.lobby" || fail "lookout-lobby did not start: $(cat "$log.lobby")"
    port=$(sed -n 's/.*listening on [0-9.]*:\([0-9]*\).*/\1/p' "$log.lobby")
    cp "$build/lookout-short-pause" "$app/"
    (cd "$app" && exec env "$@" "$app/lookout-short-pause" "$port" "$app" 1500) >"$log" 2>&1 &
    lookout_pid=$!
    pids+=("$lookout_pid")
}

# The three lines of a notice, as the program colours them: a player who
# stayed (black), one who arrived (green) and one who left (grey). Writes the
# two reports that make them into DIR: the second poll's notice shows them.
three_line_reports() {
    mkdir -p "$1"
    printf 'SERVER 1; 10.0.0.1:27960 Arena\nCLIENTS 2; Sam\t[AB]Kira\n' >"$1/1.txt"
    printf 'SERVER 1; 10.0.0.1:27960 Arena\nCLIENTS 2; Sam\t[AB]Rex\n' >"$1/2.txt"
}
