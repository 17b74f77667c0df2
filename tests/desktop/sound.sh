#!/usr/bin/env bash
# Lookout's notice sounds as they come out of a sound server: a watched player
# who turns up plays the chime, one who leaves plays the short tone, each from
# its first sample to its last, and with "Sound" off nothing plays. Without a
# sound server the program starts, polls and quits as usual, and no later.
# The recordings and the measured figures are left in ARTEFACT_DIR.
#
# usage: sound.sh BUILD_DIR ARTEFACT_DIR
set -euo pipefail

build=$(cd "$1" && pwd)
mkdir -p "$2"
artefacts=$(cd "$2" && pwd)
. "$(dirname "$0")/common.sh"
need pulseaudio pactl parec sox soxi stdbuf

report="$artefacts/sound-report.txt"
: >"$report"
note() { echo "$*" | tee -a "$report"; }
# A sound that is wrong does not stop the run: the other cases and figures
# still come, and the run fails at the end.
problems=()
problem() { echo "FAIL: $*" | tee -a "$report" >&2; problems+=("$*"); }

# No window is needed to play a sound, and nothing may reach a desktop session:
# its bus, its sound server or its display.
export QT_QPA_PLATFORM=offscreen
export DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-bus"
unset DISPLAY WAYLAND_DISPLAY
export HOME="$work/home"
export XDG_RUNTIME_DIR="$work/run"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
export PULSE_RUNTIME_PATH="$XDG_RUNTIME_DIR/pulse" PULSE_STATE_PATH="$work/pulse-state"
# The machine's own daemon.conf and client.conf stay out. A client that found
# no server would otherwise start one of its own (unless it runs as root), and
# the case without a sound server would quietly have one.
export PULSE_CONFIG="$work/daemon.conf" PULSE_CLIENTCONFIG="$work/client.conf"
: >"$PULSE_CONFIG"
echo 'autospawn = no' >"$PULSE_CLIENTCONFIG"
export PULSE_SERVER="unix:$work/pulse.sock"

# The sink takes the sounds' own format, so what it plays is the files' samples
# unchanged. Without rewinds every sample its monitor hands on is one the sink
# really played: with them, a new stream makes the sink redo audio it had
# already passed to the monitor, and a recording loses the sound's first
# milliseconds and the silence before it.
wav="$build/wav"
rate=$(soxi -r "$wav/importantinfo.wav")
channels=$(soxi -c "$wav/importantinfo.wav")
# -n: none of the machine's modules (sound cards, X11, D-Bus), only ours. As
# root, pulseaudio warns that it is meant for --system and runs all the same;
# --system=false says this is on purpose, and without --realtime=false and
# --high-priority=false a root server would raise its own priority.
pulseaudio -n --daemonize=no --system=false --use-pid-file=false \
    --exit-idle-time=-1 --disallow-exit --realtime=false --high-priority=false \
    --log-target=stderr --log-level=notice \
    -L "module-null-sink sink_name=lookout_test rate=$rate channels=$channels format=s16le norewinds=1" \
    -L "module-native-protocol-unix socket=$work/pulse.sock auth-anonymous=1" \
    >"$work/pulseaudio.log" 2>&1 &
pids+=($!)
wait_for 20 pactl info || fail "pulseaudio did not start: $(cat "$work/pulseaudio.log")"
pactl set-default-sink lookout_test
pass "a private sound server with a null sink"

# serve NAME REPORT: a lobby that answers every poll with REPORT.
serve() {
    if [ -n "${lobby_pid:-}" ]; then
        kill "$lobby_pid"
        wait "$lobby_pid" || true
    fi
    mkdir -p "$work/lobby-$1"
    printf '%b' "$2" >"$work/lobby-$1/report.txt"
    start_lobby "$work/lobby-$1" "$work/lobby-$1.log"
}

now_ms() { echo $(($(date +%s%N) / 1000000)); }

# start_recording NAME: records what the sink plays until stop_recording.
start_recording() {
    parec -d lookout_test.monitor --format=s16le --rate="$rate" --channels="$channels" \
        --latency-msec=20 --raw >"$work/$1.raw" 2>"$work/$1.parec.log" &
    recorder=$!
    pids+=($recorder)
    wait_for 10 test -s "$work/$1.raw" || fail "parec recorded nothing: $(cat "$work/$1.parec.log")"
}
# stop_recording NAME: leaves the recording as ARTEFACT_DIR/sound-NAME.wav.
stop_recording() {
    kill -INT "$recorder"
    wait "$recorder" || true
    sox -t raw -r "$rate" -e signed -b 16 -c "$channels" "$work/$1.raw" "$artefacts/sound-$1.wav"
}

rms() { sox "$1" -n stat 2>&1 | awk '/^RMS +amplitude/{print $3}'; }
level_db() { sox "$@" -n stats 2>&1 | awk '/^RMS lev dB/{print ($4 == "-inf") ? -200 : $4}'; }
# sounding FILE OUT: FILE without the silence before and after it.
sounding() { sox "$1" "$2" silence 1 1s -50d reverse silence 1 1s -50d reverse; }
seconds() { soxi -D "$1"; }
# likeness RECORDED REFERENCE: how far, in dB, the difference between the two
# stays below the reference over the recorded length. Both start at the
# sound's first audible sample, so a sink that played the file unchanged
# leaves no difference at all; another sound differs as much as it is loud.
likeness() {
    sox "$2" "$work/cut.wav" trim 0 "$(soxi -s "$1")s" 2>/dev/null
    awk -v s="$(level_db "$work/cut.wav")" -v d="$(level_db -m -v 1 "$1" -v -1 "$work/cut.wav")" \
        'BEGIN{print s - d}'
}
at_least() { awk -v a="$1" -v b="$2" 'BEGIN{exit !(a >= b)}'; }

sounding "$wav/importantinfo.wav" "$work/chime.wav"
sounding "$wav/info.wav" "$work/tone.wav"
chime_s=$(seconds "$work/chime.wav") tone_s=$(seconds "$work/tone.wav")
note "importantinfo.wav: $(seconds "$wav/importantinfo.wav") s, sounding ${chime_s} s"
note "info.wav: $(seconds "$wav/info.wav") s, sounding ${tone_s} s"
at_least "$(awk -v c="$chime_s" -v t="$tone_s" 'BEGIN{print c - t}')" 0.2 \
    || fail "the two sounds are too close in length to be told apart by it"

# check_sound NAME EXPECTED OTHER: the recording holds EXPECTED whole, and not OTHER.
check_sound() {
    local name=$1 expected=$2 other=$3 level got want like unlike
    level=$(rms "$artefacts/sound-$name.wav")
    note "$name recording: RMS $level (silence: $silence)"
    if ! awk -v l="$level" -v s="$silence" 'BEGIN{exit !(l > 0.005 && l > 10 * s)}'; then
        problem "$name: nothing was heard (RMS $level, silence $silence)"
        return 1
    fi
    sounding "$artefacts/sound-$name.wav" "$work/$name-sounding.wav"
    got=$(seconds "$work/$name-sounding.wav") want=$(seconds "$expected")
    like=$(likeness "$work/$name-sounding.wav" "$expected")
    unlike=$(likeness "$work/$name-sounding.wav" "$other")
    note "$name sound: ${got} s long (file: ${want} s); difference to the file $like dB below it, to the other sound $unlike dB"
    if ! at_least "$like" 10 || at_least "$unlike" 10; then
        problem "$name: the sound heard is not the expected one (difference $like dB below it, $unlike dB below the other)"
        return 1
    fi
    if ! awk -v g="$got" -v w="$want" 'BEGIN{d = g - w; exit !(d < 0.04 && d > -0.04)}'; then
        problem "$name: ${got} s of the sound were heard, the file sounds for ${want} s"
        return 1
    fi
}

# run_lookout NAME LIST CONFIG [VAR=value...]: a copy of the program of its own,
# started now; its traces go to $work/NAME/out.
run_lookout() {
    local name=$1 list=$2 config=$3 app="$work/$1"
    shift 3
    install_program "$build" "$app"
    printf '%s\n' "$list" >"$app/list.cfg"
    [ -z "$config" ] || printf '%s\n' "$config" >"$app/config.cfg"
    started=$(now_ms)
    (cd "$work" && exec env "$@" stdbuf -oL "$app/lookout") >"$app/out" 2>"$app/err" &
    lookout_pid=$!
    pids+=($lookout_pid)
}
# ms_to_poll NAME SECONDS: how long from its start until NAME finished a poll.
ms_to_poll() {
    local deadline=$((SECONDS + $2))
    until grep -qx disconnected "$work/$1/out"; do
        [ "$SECONDS" -lt "$deadline" ] || return 1
        sleep 0.02
    done
    echo $(($(now_ms) - started))
}
stop_lookout() {
    local name=$1 pid=$2
    kill -0 "$pid" 2>/dev/null || fail "$name: Lookout died: $(cat "$work/$name/err")"
    kill -TERM "$pid"
    for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -0 "$pid" 2>/dev/null && fail "$name: Lookout still runs 10 s after SIGTERM"
    wait "$pid" || fail "$name: Lookout exited with an error: $(cat "$work/$name/err")"
}

start_recording silence
sleep 2
stop_recording silence
silence=$(rms "$artefacts/sound-silence.wav")
note "silence recording: RMS $silence"

serve with-sam 'SERVER 1; 10.0.0.1:27960 Arena\nCLIENTS 3; Sam\tKira\tNobody\n'
start_recording important
run_lookout important 'LIST += Sam' ''
watcher_pid=$lookout_pid
with_server_ms=$(ms_to_poll important 20) || fail "no poll: $(cat "$work/important/out" "$work/important/err")"
first_poll_done=$SECONDS
grep -qx 'Sam on Arena' "$work/important/out" || fail "Sam was not seen: $(cat "$work/important/out")"
sleep 2.5 # the chime lasts under a second, and it starts at once
stop_recording important
check_sound important "$work/chime.wav" "$work/tone.wav" \
    && pass "a watched player who turned up played importantinfo.wav, whole"

# From here on Sam has gone: the run that watches him finds out at its next
# poll. Every other run watches Kira, who is still there, so each of them has
# a notice to give at its first poll.
serve without-sam 'SERVER 1; 10.0.0.1:27960 Arena\nCLIENTS 2; Kira\tNobody\n'

start_recording sound-off
run_lookout sound-off 'LIST += Kira' 'PLAY_SOUND = FALSE'
sound_off_ms=$(ms_to_poll sound-off 20) || fail "no poll with sound off: $(cat "$work/sound-off/err")"
grep -qx 'Kira on Arena' "$work/sound-off/out" || fail "Kira was not seen: $(cat "$work/sound-off/out")"
sleep 2.5
stop_lookout sound-off "$lookout_pid"
stop_recording sound-off
level=$(rms "$artefacts/sound-sound-off.wav")
note "sound-off recording: RMS $level (silence: $silence)"
if awk -v l="$level" -v s="$silence" 'BEGIN{exit !(l <= 2 * s + 0.0005)}'; then
    pass "with sound off, a notice played nothing"
else
    problem "with PLAY_SOUND = FALSE a sound was heard (RMS $level, silence $silence)"
fi

run_lookout no-server 'LIST += Kira' '' PULSE_SERVER="unix:$work/no-such-server"
no_server_ms=$(ms_to_poll no-server 20) || fail "no poll without a sound server: $(cat "$work/no-server/err")"
grep -qx 'Kira on Arena' "$work/no-server/out" || fail "without a sound server Kira was not seen: $(cat "$work/no-server/out")"
sleep 2
stop_lookout no-server "$lookout_pid"
note "start to first finished poll: ${with_server_ms} ms with a sound server (${sound_off_ms} ms with sound off), ${no_server_ms} ms without one"
if [ $((no_server_ms - with_server_ms)) -le 2000 ]; then
    pass "without a sound server Lookout started, polled and quit cleanly, in ${no_server_ms} ms"
else
    problem "without a sound server the first poll came $((no_server_ms - with_server_ms)) ms later"
fi

# Only a later poll can tell that someone left, and Lookout polls again a
# minute after a poll ends; the runs above used that minute.
while [ "$SECONDS" -lt $((first_poll_done + 55)) ]; do sleep 0.2; done
start_recording info
[ "$(grep -cx disconnected "$work/important/out")" -eq 1 ] \
    || fail "the second poll came $((SECONDS - first_poll_done)) s after the first, before the recording"
deadline=$((first_poll_done + 80))
until [ "$(grep -cx disconnected "$work/important/out")" -ge 2 ]; do
    [ "$SECONDS" -lt "$deadline" ] || fail "no second poll within 80 s: $(cat "$work/important/out")"
    sleep 0.2
done
note "second poll finished $((SECONDS - first_poll_done)) s after the first"
[ "$(grep -cx 'Sam on Arena' "$work/important/out")" -eq 1 ] || fail "Sam was still seen: $(cat "$work/important/out")"
sleep 2
stop_recording info
check_sound info "$work/tone.wav" "$work/chime.wav" \
    && pass "a watched player who left played info.wav, whole"
stop_lookout important "$watcher_pid"

note "took ${SECONDS} s"
[ ${#problems[@]} -eq 0 ] || fail "${#problems[@]} problem(s), see above; recordings and $report in $artefacts"
echo "sound: all checks passed; recordings and $report in $artefacts"
