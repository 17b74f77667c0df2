#!/usr/bin/env bash
# usage: sound.sh BUILD_DIR ARTEFACT_DIR: the notice sounds as a private PulseAudio server's null sink plays them, and no server.
set -euo pipefail
. "$(dirname "$0")/common.sh"
need pulseaudio pactl parec sox soxi
# Nothing may reach a desktop session's bus, sound server or display.
export QT_QPA_PLATFORM=offscreen DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-bus" HOME="$work/home" XDG_RUNTIME_DIR="$work/run"
unset DISPLAY WAYLAND_DISPLAY
mkdir -p "$HOME" && mkdir -m 700 "$XDG_RUNTIME_DIR"
# Not the machine's client.conf: a client that found no server would start one of its own.
export PULSE_RUNTIME_PATH="$XDG_RUNTIME_DIR/pulse" PULSE_STATE_PATH="$work/pulse-state" PULSE_SERVER="unix:$work/pulse.sock" \
    PULSE_CONFIG="$work/daemon.conf" PULSE_CLIENTCONFIG="$work/client.conf"
: >"$PULSE_CONFIG"
echo 'autospawn = no' >"$PULSE_CLIENTCONFIG"

# The sink plays the sounds' own format unchanged; a rewind would lose a sound's first milliseconds.
rate=$(soxi -r "$build/wav/importantinfo.wav") channels=$(soxi -c "$build/wav/importantinfo.wav")
pulseaudio -n --daemonize=no --system=false --use-pid-file=false --exit-idle-time=-1 --disallow-exit \
    --realtime=false --high-priority=false --log-target=stderr --log-level=notice \
    -L "module-null-sink sink_name=lookout_test rate=$rate channels=$channels format=s16le norewinds=1" \
    -L "module-native-protocol-unix socket=$work/pulse.sock auth-anonymous=1" >"$work/pulseaudio.log" 2>&1 &
pids+=($!)
wait_for 20 pactl info || fail "pulseaudio did not start: $(cat "$work/pulseaudio.log")"
pactl set-default-sink lookout_test

level_db() { sox "$@" -n stats 2>&1 | awk '/^RMS lev dB/{print ($4 == "-inf") ? -200 : $4}'; }
sounding() { sox "$1" "$2" silence 1 1s -50d reverse silence 1 1s -50d reverse; } # without the silence around
at_least() { awk -v a="$1" -v b="$2" 'BEGIN{exit !(a >= b)}'; }
# likeness RECORDED REFERENCE: how many dB their difference stays below the reference, both from their first audible sample.
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
    at_least "$like" 10 && ! at_least "$unlike" 10 || fail "${1##*/}: not ${2##*/} (the difference $like dB below it, $unlike dB below the other)"
    awk -v g="$got" -v w="$want" 'BEGIN{exit !(g - w < 0.04 && w - g < 0.04)}' || fail "${1##*/}: $got s sounding, not the whole ${2##*/} ($want s)"
}
# Sam and Kira arrive at the first poll, and Sam leaves at the second.
reports 'SERVER 1; 10.0.0.1:27960 Arena\nCLIENTS 3; Sam\tKira\tNobody\n' 'SERVER 1; 10.0.0.1:27960 Arena\nCLIENTS 2; Kira\tNobody\n'
# run NAME WATCHED CONFIG POLLS [VAR=VALUE...]: lookout-short-pause polling every 3 s, stopped after POLLS; sets ms, from its start to its first poll.
run() {
    local app="$work/$1" start=$(date +%s%N)
    install_program "$app" "$2"
    printf '%s\n' "$3" >>"$app/config.cfg"
    start_short_pause "$app" "$app/out" 3000 "${@:5}"
    wait_for 20 polls "$app/out.lobby" 1 || fail "$1: no poll: $(cat "$app/out")"
    ms=$((($(date +%s%N) - start) / 1000000))
    wait_for 20 polls "$app/out.lobby" "$4" || fail "$1: no later poll: $(cat "$app/out")"
    stop "$lookout_pid" "$1" "$app/out"
    grep -qx "$2 on Arena" "$app/out" || fail "$1: no notice of $2: $(cat "$app/out")"
}
record() { # NAME RUN...: the sink's sound over a run, in ARTEFACT_DIR/sound-NAME.wav
    parec -d lookout_test.monitor --format=s16le --rate="$rate" --channels="$channels" --latency-msec=20 --raw \
        >"$work/rec.raw" 2>"$work/parec.log" &
    local recorder=$!
    pids+=($recorder)
    wait_for 10 test -s "$work/rec.raw" || fail "parec recorded nothing: $(cat "$work/parec.log")"
    run "${@:2}"
    kill -INT "$recorder" && wait "$recorder" || true
    sox -t raw -r "$rate" -e signed -b 16 -c "$channels" "$work/rec.raw" "$artefacts/sound-$1.wav"
}

record notices notices Sam '' 3 # the third poll lets the departure's sound end
with_server_ms=$ms
# The two notices are 3 s apart: cut 2 s after the first sound begins.
sox "$artefacts/sound-notices.wav" "$work/lead.wav" silence 1 1s -50d
cut=$(awk -v a="$(soxi -D "$artefacts/sound-notices.wav")" -v b="$(soxi -D "$work/lead.wav")" 'BEGIN{print a - b + 2}')
sox "$artefacts/sound-notices.wav" "$artefacts/sound-important.wav" trim 0 "$cut"
sox "$artefacts/sound-notices.wav" "$artefacts/sound-info.wav" trim "$cut"
check_sound "$artefacts/sound-important.wav" "$work/chime.wav" "$work/tone.wav"
check_sound "$artefacts/sound-info.wav" "$work/tone.wav" "$work/chime.wav"
pass "an arrival played importantinfo.wav whole, and a departure info.wav"

record sound-off sound-off Kira 'PLAY_SOUND = FALSE' 2
! at_least "$(level_db "$artefacts/sound-sound-off.wav")" -66 || fail "with PLAY_SOUND = FALSE a sound was heard: $(level_db "$artefacts/sound-sound-off.wav") dB"
pass "with sound off, a notice played nothing"

run no-server Kira '' 2 PULSE_SERVER="unix:$work/no-such-server"
[ $((ms - with_server_ms)) -le 2000 ] || fail "without a sound server the first poll came $((ms - with_server_ms)) ms later ($ms ms)"
pass "without a sound server Lookout started, polled and quit cleanly, in $ms ms ($with_server_ms ms with one)"
