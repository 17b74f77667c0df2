#!/usr/bin/env bash
# Shortens the output of a long step for the person waiting on it:
#   set -o pipefail; COMMAND 2>&1 | scripts/progress.sh NAME [SECONDS]
# Every error is shown whole: a failed ninja step from its FAILED: line to the
# next step, a CMake error up to CMake's next message, any other line that
# reports an error (a compiler's, a linker's, apt's E: and W: lines). Of the
# rest, one line a minute (SECONDS) at most: how long NAME has run and its
# latest line, ninja's latest [n/m] where it prints them, so that a build of
# thousands of steps shows that it is alive and how far along it is. A minute
# without a new line is told as such. Everything goes to standard error,
# leaving the caller's standard output its own; pipefail keeps COMMAND's exit
# status.
set -uo pipefail
name=$1 every=${2:-60}
started=$SECONDS next=$((SECONDS + every))
latest='' fresh=0 ninja=0 block=0 partial=''

report() {
    local took=$((SECONDS - started)) what
    if [ -z "$latest" ]; then
        what="no output yet"
    elif [ "$fresh" = 1 ]; then
        what=$latest
    else
        what="nothing new since: $latest"
    fi
    printf '%s, %d min %d s: %s\n' "$name" $((took / 60)) $((took % 60)) "$what" >&2
    fresh=0 next=$((SECONDS + every))
}
error_line='(^|[^[:alnum:]_])error:|^[EW]: |^CMake Error|undefined reference|^ninja: build stopped|^-- Configuring incomplete'
take() { # LINE
    if [[ $1 =~ ^\[[0-9]+/[0-9]+\] ]]; then
        ninja=1 block=0 latest=$1 fresh=1
        return
    fi
    [[ $1 != '-- '* ]] || block=0
    [[ ! $1 =~ ^(FAILED: |CMake Error) ]] || block=1
    if [ "$block" = 1 ] || [[ $1 =~ $error_line ]]; then
        printf '%s\n' "$1" >&2
    elif [ "$ninja" = 0 ] && [ -n "$1" ]; then
        latest=$1 fresh=1
    fi
}

while :; do
    status=0
    IFS= read -r -t $((next > SECONDS ? next - SECONDS : 1)) line || status=$?
    if [ "$status" -gt 128 ]; then
        # A minute without a whole line: what came of one is kept for when the rest comes.
        partial+=$line
        report
        continue
    fi
    line=$partial$line partial=
    [ "$status" -eq 0 ] || [ -n "$line" ] || break
    take "$line"
    [ "$SECONDS" -lt "$next" ] || report
    [ "$status" -eq 0 ] || break
done
