#!/usr/bin/env bash
# Installs what the tests need and runs every test: the whole suite built
# with AddressSanitizer and UBSan, a short run of each fuzzer, then the whole
# suite as CI builds it (warnings are errors), whose summary comes last.
#
#   LOOKOUT_FUZZ_SECONDS=<n>   seconds per fuzzer (default 60; 0 skips them)
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

cmake --preset asan
cmake --build --preset asan
ctest --preset asan

fuzz_seconds=${LOOKOUT_FUZZ_SECONDS:-60}
if [ "$fuzz_seconds" -gt 0 ]; then
    scripts/fuzz.sh "$fuzz_seconds"
fi

cmake --preset ci
cmake --build --preset ci
ctest --preset ci
