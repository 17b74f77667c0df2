#!/usr/bin/env bash
# usage: sound.sh BUILD_DIR ARTEFACT_DIR: the notice sounds as a private sound server's null sink plays them (PulseAudio,
# and where it is installed PipeWire as a desktop runs it), and no server.
set -euo pipefail
. "$(dirname "$0")/common.sh"
need pulseaudio pactl parec sox soxi
# Nothing may reach a desktop session's bus, the machine's bus, sound server or display, nor the user's settings.
export QT_QPA_PLATFORM=offscreen DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-bus" DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/no-bus" \
    HOME="$work/home" XDG_RUNTIME_DIR="$work/run" XDG_CONFIG_HOME="$work/config"
unset DISPLAY WAYLAND_DISPLAY PIPEWIRE_REMOTE PIPEWIRE_RUNTIME_DIR
mkdir -p "$HOME" && mkdir -m 700 "$XDG_RUNTIME_DIR"
# Not the machine's client.conf: a client that found no server would start one of its own.
export PULSE_RUNTIME_PATH="$XDG_RUNTIME_DIR/pulse" PULSE_STATE_PATH="$work/pulse-state" \
    PULSE_CONFIG="$work/daemon.conf" PULSE_CLIENTCONFIG="$work/client.conf"
: >"$PULSE_CONFIG"
echo 'autospawn = no' >"$PULSE_CLIENTCONFIG"
rate=$(soxi -r "$build/wav/importantinfo.wav") channels=$(soxi -c "$build/wav/importantinfo.wav")

# start_SERVER: the server with a null sink, lookout_test, as its default sink; PULSE_SERVER names it to PulseAudio's
# clients (parec, and Qt where it does not talk to PipeWire itself), server_pids its processes. Qt's log of its output
# stream says which of the two Qt played through.
qt_log='QT_LOGGING_RULES=qt.multimedia.pulseaudio.output=true;qt.multimedia.pipewire.audiosink=true'
start_pulseaudio() {
    export PULSE_SERVER="unix:$work/pulse.sock" sink_channels=$channels
    # The sink plays the sounds' own format unchanged; a rewind would lose a sound's first milliseconds.
    pulseaudio -n --daemonize=no --system=false --use-pid-file=false --exit-idle-time=-1 --disallow-exit \
        --realtime=false --high-priority=false --log-target=stderr --log-level=notice \
        -L "module-null-sink sink_name=lookout_test rate=$rate channels=$channels format=s16le norewinds=1" \
        -L "module-native-protocol-unix socket=$work/pulse.sock auth-anonymous=1" >"$work/pulseaudio.log" 2>&1 &
    server_pids=($!)
    pids+=($!)
    wait_for 20 pactl info || fail "pulseaudio did not start: $(cat "$work/pulseaudio.log")"
    pactl set-default-sink lookout_test
}
# PipeWire as a desktop of Debian testing runs it: the daemon, WirePlumber, which links each new stream to the
# default sink, and pipewire-pulse, its PulseAudio server. Qt 6.11 talks to PipeWire itself, 6.4 and 6.8 to
# pipewire-pulse. The sink runs at PipeWire's usual 48 kHz in stereo, so the sounds are converted on their way, as there.
# Its processes take realtime priority where the machine lets them (a desktop's get it through rtkit), as does Qt's
# PipeWire thread through the machine's client.conf: a late one leaves a gap in the sound.
start_pipewire() {
    export PULSE_SERVER="unix:$work/pipewire-pulse.sock" sink_channels=2
    cat >"$work/pipewire.conf" <<EOF
context.properties = { core.daemon = true, core.name = pipewire-0, default.clock.rate = 48000 }
context.spa-libs = { audio.convert.* = audioconvert/libspa-audioconvert, support.* = support/libspa-support }
context.modules = [
    { name = libpipewire-module-rt, flags = [ ifexists nofail ] }
    { name = libpipewire-module-protocol-native }
    { name = libpipewire-module-metadata }
    { name = libpipewire-module-spa-node-factory }
    { name = libpipewire-module-client-node }
    { name = libpipewire-module-client-device }
    { name = libpipewire-module-access }
    { name = libpipewire-module-adapter }
    { name = libpipewire-module-link-factory }
    { name = libpipewire-module-session-manager }
]
context.objects = [
    { factory = adapter, args = { factory.name = support.null-audio-sink, node.name = lookout_test,
        media.class = Audio/Sink, audio.position = [ FL FR ], monitor.channel-volumes = true, object.linger = true } }
]
EOF
    cat >"$work/pipewire-pulse.conf" <<EOF
context.spa-libs = { audio.convert.* = audioconvert/libspa-audioconvert, support.* = support/libspa-support }
context.modules = [
    { name = libpipewire-module-rt, flags = [ ifexists nofail ] }
    { name = libpipewire-module-protocol-native }
    { name = libpipewire-module-client-node }
    { name = libpipewire-module-adapter }
    { name = libpipewire-module-metadata }
    { name = libpipewire-module-protocol-pulse, args = { server.address = [ "$PULSE_SERVER" ] } }
]
EOF
    # WirePlumber with no hardware to look for and nothing that needs D-Bus (the flatpak portal's permissions):
    # 0.4 (Debian 12) reads the Lua (after its own 50-*.lua, before 90-enable-all.lua), 0.5 the profile.
    mkdir -p "$XDG_CONFIG_HOME"/wireplumber/{main.lua.d,bluetooth.lua.d,wireplumber.conf.d}
    printf '%s\n' 'alsa_monitor.enabled = false' 'v4l2_monitor.enabled = false' 'libcamera_monitor.enabled = false' \
        'default_access.properties["enable-flatpak-portal"] = false' >"$XDG_CONFIG_HOME/wireplumber/main.lua.d/51-lookout-test.lua"
    echo 'bluez_monitor.enabled = false' >"$XDG_CONFIG_HOME/wireplumber/bluetooth.lua.d/51-lookout-test.lua"
    printf 'wireplumber.profiles = { main = { %s = disabled, %s = disabled, %s = disabled, %s = disabled, %s = disabled } }\n' \
        hardware.audio hardware.bluetooth hardware.video-capture support.dbus script.client.access-portal \
        >"$XDG_CONFIG_HOME/wireplumber/wireplumber.conf.d/lookout-test.conf"
    pipewire -c "$work/pipewire.conf" >"$work/pipewire.log" 2>&1 &
    server_pids=($!)
    pids+=($!)
    wait_for 20 test -S "$XDG_RUNTIME_DIR/pipewire-0" || fail "pipewire did not start: $(cat "$work/pipewire.log")"
    wireplumber >"$work/wireplumber.log" 2>&1 &
    server_pids+=($!)
    pids+=($!)
    pipewire-pulse -c "$work/pipewire-pulse.conf" >"$work/pipewire-pulse.log" 2>&1 &
    server_pids+=($!)
    pids+=($!)
    wait_for 20 eval 'pactl info | grep -qx "Default Sink: lookout_test"' ||
        fail "no default sink under PipeWire: $(pactl info 2>&1 | tail -n 3; tail -n 3 "$work/wireplumber.log" "$work/pipewire-pulse.log")"
}
stop_server() {
    local i
    for ((i = ${#server_pids[@]} - 1; i >= 0; i--)); do
        kill "${server_pids[i]}" && wait_for 10 gone "${server_pids[i]}" || fail "sound server ${server_pids[i]} did not end"
    done
}

level_db() { sox "$@" -n stats 2>&1 | awk '/^RMS lev dB/{print ($4 == "-inf") ? -200 : $4}'; }
sounding() { sox "$1" "$2" silence 1 1s -50d reverse silence 1 1s -50d reverse; } # without the silence around
silent_start() { sox "$1" "$work/lead.wav" silence 1 1s -50d && awk -v a="$(soxi -D "$1")" -v b="$(soxi -D "$work/lead.wav")" 'BEGIN{print a - b}'; }
at_least() { awk -v a="$1" -v b="$2" 'BEGIN{exit !(a >= b)}'; }
# likeness RECORDED REFERENCE: how many dB their difference stays below the reference, both from their first audible sample.
likeness() {
    sox "$2" "$work/cut.wav" trim 0 "$(soxi -s "$1")s" 2>/dev/null
    awk -v s="$(level_db "$work/cut.wav")" -v d="$(level_db -m -v 1 "$1" -v -1 "$work/cut.wav")" 'BEGIN{print s - d}'
}
sounding "$build/wav/importantinfo.wav" "$work/chime.wav"
sounding "$build/wav/info.wav" "$work/tone.wav"
check_sound() { # RECORDING EXPECTED OTHER: the recording holds EXPECTED whole, not OTHER; sets level, the sound's in dB
    local got want like unlike
    sounding "$1" "$work/sounding.wav"
    got=$(soxi -D "$work/sounding.wav") want=$(soxi -D "$2") level=$(level_db "$work/sounding.wav")
    like=$(likeness "$work/sounding.wav" "$2") unlike=$(likeness "$work/sounding.wav" "$3")
    at_least "$like" 10 && ! at_least "$unlike" 10 ||
        fail "${1##*/}: not ${2##*/} (the difference $like dB below it, $unlike dB below the other; at $level dB, the file at $(level_db "$2"))"
    awk -v g="$got" -v w="$want" 'BEGIN{exit !(g - w < 0.04 && w - g < 0.04)}' || fail "${1##*/}: $got s sounding, not the whole ${2##*/} ($want s)"
}
# Sam and Kira arrive at the first poll, and Sam leaves at the second.
reports 'SERVER 1; 10.0.0.1:27960 Arena\nCLIENTS 3; Sam\tKira\tNobody\n' 'SERVER 1; 10.0.0.1:27960 Arena\nCLIENTS 2; Kira\tNobody\n'
# run NAME WATCHED CONFIG POLLS [VAR=VALUE...]: lookout-short-pause polling every 3 s, stopped after POLLS; sets ms, from
# its start to its first poll. NAME/lobby.times has the lobby's log, each line after the µs it came.
run() {
    local app="$work/$1" start=$(date +%s%N)
    install_program "$app" "$2"
    printf '%s\n' "$3" >>"$app/config.cfg"
    start_short_pause "$app" "$app/out" 3000 "${@:5}"
    tail -n +1 -F --pid="$lookout_pid" "$app/out.lobby" 2>/dev/null |
        while IFS= read -r line; do echo "${EPOCHREALTIME/[.,]/} $line"; done >"$app/lobby.times" &
    pids+=($!)
    wait_for 20 polls "$app/out.lobby" 1 || fail "$1: no poll: $(cat "$app/out")"
    ms=$((($(date +%s%N) - start) / 1000000))
    wait_for 20 polls "$app/out.lobby" "$4" || fail "$1: no later poll: $(cat "$app/out")"
    stop "$lookout_pid" "$1" "$app/out"
    grep -qx "$2 on Arena" "$app/out" || fail "$1: no notice of $2: $(cat "$app/out")"
}
# record NAME RUN...: the sink's sound over a run, in ARTEFACT_DIR/sound-NAME.wav, at the sounds' rate: what the sink
# plays on its first channel, the left speaker's (pipewire-pulse 0.3 sums a stereo sink's two into a mono recording,
# 3 dB above either); sets end_us, when it ended.
record() {
    parec -d lookout_test.monitor --format=s16le --rate="$rate" --channels="$sink_channels" --latency-msec=20 --raw \
        >"$work/rec.raw" 2>"$work/parec.log" &
    local recorder=$!
    pids+=($recorder)
    wait_for 10 test -s "$work/rec.raw" || fail "parec recorded nothing: $(cat "$work/parec.log")"
    run "${@:2}"
    end_us=${EPOCHREALTIME/[.,]/}
    kill -INT "$recorder" && wait "$recorder" || true
    sox -t raw -r "$rate" -e signed -b 16 -c "$sink_channels" "$work/rec.raw" "$artefacts/sound-$1.wav" remix 1
}
# onset_ms RECORDING SECONDS NAME N: ms from the lobby's Nth report to NAME to the sound SECONDS into the recording,
# which ended at end_us. Good to some 20 ms: the recording lags the sink by parec's latency, the times by tail's.
onset_ms() {
    local sent
    sent=$(awk -v n="$4:" '$2 == "connection" && $3 == n { print $1; exit }' "$work/$3/lobby.times")
    [ -n "$sent" ] || fail "$3: no time for report $4: $(cat "$work/$3/lobby.times")"
    awk -v end="$end_us" -v total="$(soxi -D "$1")" -v at="$2" -v sent="$sent" \
        'BEGIN{ printf "%d", (end - (total - at) * 1e6 - sent) / 1000 }'
}

# notices SERVER: through SERVER, an arrival plays importantinfo.wav whole, and a departure info.wav, each at its
# file's level. The first sound waits for Qt to open its sound output and load the file; the second, not a second later.
notices() {
    local rec="$artefacts/sound-$1-notices.wav" lead cut arrival departure chime_level used
    record "$1-notices" "$1-notices" Sam '' 3 "$qt_log" # the third poll lets the departure's sound end
    # The two notices are 3 s apart: cut 2 s after the first sound begins.
    lead=$(silent_start "$rec")
    cut=$(awk -v a="$lead" 'BEGIN{print a + 2}')
    sox "$rec" "$artefacts/sound-$1-important.wav" trim 0 "$cut"
    sox "$rec" "$artefacts/sound-$1-info.wav" trim "$cut"
    check_sound "$artefacts/sound-$1-important.wav" "$work/chime.wav" "$work/tone.wav"
    chime_level=$level
    check_sound "$artefacts/sound-$1-info.wav" "$work/tone.wav" "$work/chime.wav"
    arrival=$(onset_ms "$rec" "$lead" "$1-notices" 1)
    departure=$(onset_ms "$rec" "$(awk -v c="$cut" -v s="$(silent_start "$artefacts/sound-$1-info.wav")" 'BEGIN{print c + s}')" "$1-notices" 2)
    [ "$departure" -lt 1000 ] || fail "$1: info.wav began $departure ms after the departure's report"
    used=$(grep -o -m1 -E '^qt\.multimedia\.(pipewire|pulseaudio)' "$work/$1-notices/out" || echo 'unknown')
    pass "through $1 (Qt's stream: ${used#qt.multimedia.}), an arrival played importantinfo.wav whole at $chime_level dB" \
        "(the file's $(level_db "$work/chime.wav")), $arrival ms after its report, and a departure info.wav at $level dB" \
        "($(level_db "$work/tone.wav")), $departure ms after its report"
}

start_pulseaudio
notices pulseaudio
with_server_ms=$ms

record sound-off sound-off Kira 'PLAY_SOUND = FALSE' 2
! at_least "$(level_db "$artefacts/sound-sound-off.wav")" -66 || fail "with PLAY_SOUND = FALSE a sound was heard: $(level_db "$artefacts/sound-sound-off.wav") dB"
pass "with sound off, a notice played nothing"
stop_server

installed() { local c; for c; do command -v "$c" >/dev/null || return; done; }
# Qt Multimedia 6.8 converts a sound to the output's format itself: a desktop's PipeWire output, 48 kHz stereo, gets
# the 44.1 kHz mono files 3 dB down on each side and through Qt's own resampler, which leaves them too unlike the files
# for this check (4.7 dB). Qt's doing, not Lookout's: 6.4 and 6.11 hand the sound on as it is, and PipeWire converts it.
qt_multimedia=$(dpkg-query -W -f '${Version}' libqt6multimedia6 2>/dev/null || true)
if [[ $qt_multimedia == 6.8.* ]]; then
    echo "Qt Multimedia $qt_multimedia converts the sounds for PipeWire's output itself: not heard through PipeWire"
elif installed pipewire wireplumber pipewire-pulse; then
    start_pipewire
    notices pipewire
    stop_server
else
    echo "PipeWire, WirePlumber or pipewire-pulse is not installed: not heard through PipeWire"
fi

run no-server Kira '' 2 PULSE_SERVER="unix:$work/no-such-server" PIPEWIRE_REMOTE=no-such-server
[ $((ms - with_server_ms)) -le 2000 ] || fail "without a sound server the first poll came $((ms - with_server_ms)) ms later ($ms ms)"
pass "without a sound server Lookout started, polled and quit cleanly, in $ms ms ($with_server_ms ms with one)"
