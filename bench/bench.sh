#!/usr/bin/env bash
# Every benchmark figure of BENCHMARKS.md in one go: configures an optimised
# build with the benchmarks, builds it, checks that the fast paths still agree
# with the plain Qt calls, then runs the benchmarks, the file mode on the huge
# lobby and the idle measurement.
#
# usage: bench/bench.sh [BUILD_DIR]   (default: build-bench beside the sources)
set -euo pipefail

source_dir=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$source_dir/build-bench}

echo "== machine"
echo "cores: $(nproc)"
grep -m1 'model name' /proc/cpuinfo | sed 's/.*: /cpu: /'
awk '/MemTotal/ { printf "memory: %.1f GiB\n", $2 / 1048576 }' /proc/meminfo
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"

cmake -S "$source_dir" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DLOOKOUT_BUILD_BENCHMARKS=ON -DLOOKOUT_WERROR=ON >/dev/null
cmake --build "$build" --target lookout-bench lookout-idle-bench lookout-tray-min lookout-lobby tst_matchfold

echo "== the fast paths against the Qt calls they replace"
"$build/bench/tst_matchfold" | tail -1

echo "== benchmarks (rates are per CPU second; medians of 5 runs)"
"$build/lookout-bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
    --benchmark_filter='-poll' --benchmark_counters_tabular=true
"$build/lookout-bench" --benchmark_filter='poll' --benchmark_counters_tabular=true

echo "== file mode, huge lobby against the poll before it"
files=$(mktemp -d)
trap 'rm -rf "$files"' EXIT
"$build/lookout-bench" --write-list huge "$files/list.cfg"
"$build/lookout-lobby" --simulate --seed 1 --servers 20000 --players 450000 --dump "$files/reports" --count 2 >/dev/null
"$build/lookout-bench" --report "$files/reports/report-0002.txt" --list "$files/list.cfg" \
    --against "$files/reports/report-0001.txt"

echo "== the idle program, 100 polls of the typical lobby"
bash "$source_dir/bench/idle.sh" "$build" 100 2000
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
