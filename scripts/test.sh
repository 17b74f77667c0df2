#!/usr/bin/env bash
# Installs what the tests and the Windows build need (scripts/install-deps.sh
# tests windows) and runs everything CI runs, in four stages: the whole suite
# built with AddressSanitizer and UBSan, a short run of each fuzzer, the whole
# suite as CI builds it (optimised, warnings are errors, benchmarks too), then
# the Windows build and its test under Wine. About 15 minutes on two cores
# from a fresh clone once the packages and Qt for Windows are there.
#
# A stage that fails does not stop the next. At the end every stage's
# summary is printed again, the ci stage's ctest summary last, and the
# command fails if any stage did.
#
#   LOOKOUT_FUZZ_SECONDS=<n>   seconds per fuzzer (default 60; 0 skips them)
set -uo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh tests windows || exit

logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
results=()
failed=0

# stage NAME COMMAND...: runs COMMAND, its output shown and kept for the end.
stage() {
    local name=$1 started=$SECONDS result=passed
    shift
    echo "=== $name"
    "$@" 2>&1 | tee "$logs/$name.log" || { result=FAILED; failed=1; }
    results+=("$(printf '%-6s %s in %d s' "$name" "$result" $((SECONDS - started)))")
}

# The Windows test runs in the windows stage, once there is a lookout.exe to run.
asan() { cmake --preset asan && cmake --build --preset asan && ctest --preset asan -LE windows; }
fuzz() { scripts/fuzz.sh "$fuzz_seconds"; }
ci() { cmake --preset ci && cmake --build --preset ci && ctest --preset ci -LE windows; }
# The Windows program (Qt for Windows built once, then reused), in Wine's own
# Windows shell.
windows() { scripts/windows.sh && ctest --test-dir build-ci -L windows --output-on-failure; }

stage asan asan
fuzz_seconds=${LOOKOUT_FUZZ_SECONDS:-60}
if [ "$fuzz_seconds" -gt 0 ]; then
    stage fuzz fuzz
fi
stage ci ci
stage windows windows

# What a reader scrolls back for: each stage's result, then each stage's
# own summary lines, the ci stage's ctest summary last.
echo
echo "=== Summary"
printf '%s\n' "${results[@]}"
for name in asan fuzz windows ci; do
    [ -f "$logs/$name.log" ] || continue
    echo "--- $name"
    grep -E '^(FAILED:|CMake Error|fuzz: |[0-9]+% tests passed|The following tests (FAILED|did not run)|[[:space:]]+[0-9]+ - |[a-z]+ += +[0-9.]+ sec|Total Test time)' \
        "$logs/$name.log" | tail -n 40
done
exit "$failed"
