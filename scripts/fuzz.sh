#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/) in a build folder of their own, with
# the libraries under test compiled for ASan, UBSan and libFuzzer's coverage,
# and runs each target for the given number of seconds (default 60).
# Fails when any target finds a crash; the input that did it is left in
# <build>/artifacts/ and belongs in fuzz/corpus/<target>/ once fixed, where
# the fuzz_corpus_* tests replay it in every build.
#
#   scripts/fuzz.sh [seconds]         LOOKOUT_FUZZ_BUILD=<folder> to build elsewhere
set -euo pipefail

seconds=${1:-60}
case $seconds in
    '' | *[!0-9]*) echo "usage: $0 [seconds]" >&2; exit 2 ;;
esac
root=$(cd "$(dirname "$0")/.." && pwd)
build=${LOOKOUT_FUZZ_BUILD:-$root/build-fuzz}
targets=(report watchlist settings presence)

sanitizers="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
cmake -S "$root" -B "$build" -G Ninja \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_CXX_FLAGS="$sanitizers" \
    -DLOOKOUT_BUILD_TESTS=OFF \
    -DLOOKOUT_BUILD_FUZZERS=ON
cmake --build "$build" --target "${targets[@]/#/fuzz_}"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
failed=()
for target in "${targets[@]}"; do
    # New inputs go to the build folder's corpus; the committed seeds are only read.
    mkdir -p "$build/corpus/$target" "$build/artifacts"
    echo "== fuzz_$target for ${seconds}s"
    if ! "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$build/artifacts/$target-" \
        "$build/corpus/$target" "$root/fuzz/corpus/$target" 2>"$build/fuzz_$target.log"; then
        failed+=("$target")
        tail -n 60 "$build/fuzz_$target.log" >&2
    fi
    grep -E '^stat::(number_of_executed_units|peak_rss_mb)|^Done ' "$build/fuzz_$target.log" || true
done

if [ ${#failed[@]} -gt 0 ]; then
    echo "fuzz: crashes in ${failed[*]}; inputs in $build/artifacts/" >&2
    exit 1
fi
echo "fuzz: ${#targets[@]} targets, ${seconds}s each, no crash"
