#!/usr/bin/env bash
# usage: progress_filter.sh SCRIPT: scripts/progress.sh keeps every error of a long build and drops its thousands of steps.
set -euo pipefail
filter=$1
fail() { echo "FAIL: $*" >&2; exit 1; }

# Within its first minute a build says nothing but its errors: a failed step whole, up to the next step, and
# lines that say error; neither its steps nor its warnings.
build() {
    local i
    for ((i = 1; i <= 500; i++)); do
        echo "[$i/502] Building CXX object qtbase/src/corelib/qerror$i.cpp.obj"
        [ $((i % 100)) -ne 0 ] || echo "qtbase/src/corelib/qerror$i.cpp:12: warning: unused variable 'error'"
    done
    printf '%s\n' "FAILED: qtbase/src/gui/qwindow.cpp.obj" "x86_64-w64-mingw32-g++ -c qwindow.cpp" \
        "qwindow.cpp:3:1: error: expected ';'" "" "[501/502] Building CXX object qtbase/src/gui/qpixmap.cpp.obj" \
        "In file included from qpixmap.cpp:1:" "ninja: build stopped: subcommand failed."
}
wanted=$(printf '%s\n' "FAILED: qtbase/src/gui/qwindow.cpp.obj" "x86_64-w64-mingw32-g++ -c qwindow.cpp" \
    "qwindow.cpp:3:1: error: expected ';'" "" "ninja: build stopped: subcommand failed.")
got=$(build | bash "$filter" qt 2>&1)
[ "$got" = "$wanted" ] || fail "a failing build's first minute showed: $got"
echo "ok - a failed step whole, and no steps or warnings, within the first minute"

# A step that prints nothing for longer than the interval is reported as alive, and the next line reported after.
got=$(
    { sleep 2.5; echo "-- Performing Test HAVE_STRERROR_R"; sleep 1.5; } | bash "$filter" configure 1 2>&1
)
[[ $got == "configure, 0 min "[12]" s: no output yet"* ]] || fail "a silent first seconds showed: $got"
[[ $got == *" s: -- Performing Test HAVE_STRERROR_R"* ]] || fail "the line after the silence was not reported: $got"
echo "ok - silence is reported as such, once an interval, and the next line after it"
