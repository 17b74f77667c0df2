#!/usr/bin/env bash
# The notice sounds as a private PulseAudio server's null sink plays them: a
# watched player who turns up plays the chime, one who leaves the short tone,
# each from its first sample to its last; with "Sound" off nothing plays.
# Without a sound server the program polls as soon and quits cleanly.
# Recordings and figures stay in ARTEFACT_DIR.
#
# usage: sound.sh BUILD_DIR ARTEFACT_DIR
set -euo pipefail
. "$(dirname "$0")/common.sh"
need pulseaudio pactl parec sox soxi
report="$artefacts/sound-report.txt"
note() { echo "$*" | tee -a "$report"; }
: >"$report"
# No window is needed, and nothing may reach a desktop session's bus, sound server or display.
export QT_QPA_PLATFORM=offscreen DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-bus" HOME="$work/home" XDG_RUNTIME_DIR="$work/run"
unset DISPLAY WAYLAND_DISPLAY
mkdir -p "$HOME" && mkdir -m 700 "$XDG_RUNTIME_DIR"
# Not the machine's daemon.conf and client.conf: a client that found no
# server would start one of its own, and the run without one would have one.
export PULSE_RUNTIME_PATH="$XDG_RUNTIME_DIR/pulse" PULSE_STATE_PATH="$work/pulse-state" PULSE_SERVER="unix:$work/pulse.sock" \
    PULSE_CONFIG="$work/daemon.conf" PULSE_CLIENTCONFIG="$work/client.conf"
: >"$PULSE_CONFIG"
echo 'autospawn = no' >"$PULSE_CLIENTCONFIG"

# The sink takes the sounds' own format, so it plays the files' samples
# unchanged; without rewinds every sample its monitor hands on is one it
# played (a rewind would lose a sound's first milliseconds). -n: none of the
# machine's modules; as root, no raised priority.
rate=$(soxi -r "$build/wav/importantinfo.wav") channels=$(soxi -c "$build/wav/importantinfo.wav")
pulseaudio -n --daemonize=no --system=false --use-pid-file=false --exit-idle-time=-1 --disallow-exit \
    --realtime=false --high-priority=false --log-target=stderr --log-level=notice \
    -L "module-null-sink sink_name=lookout_test rate=$rate channels=$channels format=s16le norewinds=1" \
    -L "module-native-protocol-unix socket=$work/pulse.sock auth-anonymous=1" >"$work/pulseaudio.log" 2>&1 &
pids+=($!)
wait_for 20 pactl info || fail "pulseaudio did not start: $(cat "$work/pulseaudio.log")"
pactl set-default-sink lookout_test

start_recording() {
    parec -d lookout_test.monitor --format=s16le --rate="$rate" --channels="$channels" --latency-msec=20 --raw \
        >"$work/rec.raw" 2>"$work/parec.log" &
    recorder=$!
    pids+=($recorder)
    wait_for 10 test -s "$work/rec.raw" || fail "parec recorded nothing: $(cat "$work/parec.log")"
}
stop_recording() { # NAME: the recording as ARTEFACT_DIR/sound-NAME.wav
    kill -INT "$recorder" && wait "$recorder" || true
    sox -t raw -r "$rate" -e signed -b 16 -c "$channels" "$work/rec.raw" "$artefacts/sound-$1.wav"
}
rms() { sox "$1" -n stat 2>&1 | awk '/^RMS +amplitude/{print $3}'; }
level_db() { sox "$@" -n stats 2>&1 | awk '/^RMS lev dB/{print ($4 == "-inf") ? -200 : $4}'; }
sounding() { sox "$1" "$2" silence 1 1s -50d reverse silence 1 1s -50d reverse; } # without the silence around
at_least() { awk -v a="$1" -v b="$2" 'BEGIN{exit !(a >= b)}'; }
# likeness RECORDED REFERENCE: how many dB their difference stays below the
# reference over the recorded length; both start at the first audible sample.
likeness() {
    sox "$2" "$work/cut.wav" trim 0 "$(soxi -s "$1")s" 2>/dev/null
    awk -v s="$(level_db "$work/cut.wav")" -v d="$(level_db -m -v 1 "$1" -v -1 "$work/cut.wav")" 'BEGIN{print s - d}'
}
sounding "$build/wav/importantinfo.wav" "$work/chime.wav"
sounding "$build/wav/info.wav" "$work/tone.wav"
check_sound() { # RECORDING EXPECTED OTHER: the recording holds EXPECTED whole, not OTHER
    local got want like unlike
    sounding "$1" "$work/sounding.wav"
    got=$(soxi -D "$work/sounding.wav") want=$(soxi -D "$2")
    like=$(likeness "$work/sounding.wav" "$2") unlike=$(likeness "$work/sounding.wav" "$3")
    note "${1##*/}: RMS $(rms "$1"), ${got} s sounding (${2##*/}: ${want} s); the difference $like dB below it, $unlike dB below the other"
    at_least "$(rms "$1")" 0.005 || fail "${1##*/}: nothing was heard"
    at_least "$like" 10 && ! at_least "$unlike" 10 || fail "${1##*/}: not ${2##*/}"
    awk -v g="$got" -v w="$want" 'BEGIN{exit !(g - w < 0.04 && w - g < 0.04)}' || fail "${1##*/}: not the whole sound"
}
# Sam and Kira arrive at the first poll, and Sam leaves at the second.
mkdir -p "$work/reports"
printf 'SERVER 1; 10.0.0.1:27960 Arena\nCLIENTS 3; Sam\tKira\tNobody\n' >"$work/reports/1.txt"
printf 'SERVER 1; 10.0.0.1:27960 Arena\nCLIENTS 2; Kira\tNobody\n' >"$work/reports/2.txt"
# run NAME WATCHED CONFIG [VAR=VALUE...]: lookout-short-pause polling every 3 s,
# stopped after 2 polls (3 for Sam, gone in the traces after the first); sets
# ms, from its start to its first poll.
run() {
    local app="$work/$1" start=$(date +%s%N)
    install_program "$app" "$2"
    printf '%s\n' "$3" >>"$app/config.cfg"
    start_short_pause "$app" "$work/reports" "$app/out" 3000 "${@:4}"
    wait_for 20 polls "$app/out.lobby" 1 || fail "$1: no poll: $(cat "$app/out")"
    ms=$((($(date +%s%N) - start) / 1000000))
    wait_for 20 polls "$app/out.lobby" $(([ "$2" = Sam ] && echo 3) || echo 2) || fail "$1: no later poll: $(cat "$app/out")"
    stop "$lookout_pid" "$1" "$app/out"
    grep -qx "$2 on Arena" "$app/out" && [ "$2" = Kira -o "$(grep -c -x "$2 on Arena" "$app/out")" = 1 ] || fail "$1: traces: $(cat "$app/out")"
}

start_recording
run notices Sam ''
with_server_ms=$ms
stop_recording notices
# The two notices are 3 s apart: cut 2 s after the first sound begins.
sox "$artefacts/sound-notices.wav" "$work/lead.wav" silence 1 1s -50d
cut=$(awk -v a="$(soxi -D "$artefacts/sound-notices.wav")" -v b="$(soxi -D "$work/lead.wav")" 'BEGIN{print a - b + 2}')
sox "$artefacts/sound-notices.wav" "$artefacts/sound-important.wav" trim 0 "$cut"
sox "$artefacts/sound-notices.wav" "$artefacts/sound-info.wav" trim "$cut"
check_sound "$artefacts/sound-important.wav" "$work/chime.wav" "$work/tone.wav"
check_sound "$artefacts/sound-info.wav" "$work/tone.wav" "$work/chime.wav"
pass "an arrival played importantinfo.wav whole, and a departure info.wav"

start_recording
run sound-off Kira 'PLAY_SOUND = FALSE'
stop_recording sound-off
note "sound-off: RMS $(rms "$artefacts/sound-sound-off.wav")"
at_least 0.0005 "$(rms "$artefacts/sound-sound-off.wav")" || fail "with PLAY_SOUND = FALSE a sound was heard"
pass "with sound off, a notice played nothing"

run no-server Kira '' PULSE_SERVER="unix:$work/no-such-server"
note "start to first poll: $with_server_ms ms with a sound server, $ms ms without one"
[ $((ms - with_server_ms)) -le 2000 ] || fail "without a sound server the first poll came $((ms - with_server_ms)) ms later"
pass "without a sound server Lookout started, polled and quit cleanly, in $ms ms"
