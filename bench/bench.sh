#!/usr/bin/env bash
# Every benchmark figure of BENCHMARKS.md, for this revision and a base
# revision side by side in one run, so that both meet the same machine and
# the same load. Configures an optimised build of each (the base in a
# temporary git worktree), then runs each benchmark group for the base and
# then for this revision, and the idle measurement, and ends with a table of
# both revisions' medians. A benchmark one revision lacks shows no ratio.
#
# usage: bench/bench.sh [BUILD_DIR] [BASE]
#   BUILD_DIR  this revision's build (default: build-bench beside the sources);
#              the base is built in BUILD_DIR-base from a worktree in BUILD_DIR-base-src
#   BASE       the commit to compare with (default: e6f4efe)
set -euo pipefail

source_dir=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$source_dir/build-bench}
base=${2:-e6f4efe}
base_src=$build-base-src
base_build=$build-base
results=$(mktemp -d)
trap 'rm -rf "$results"' EXIT

echo "== machine"
echo "cores: $(nproc)"
grep -m1 'model name' /proc/cpuinfo | sed 's/.*: /cpu: /'
awk '/MemTotal/ { printf "memory: %.1f GiB\n", $2 / 1048576 }' /proc/meminfo
echo "this revision: $(git -C "$source_dir" rev-parse --short HEAD)$(git -C "$source_dir" diff --quiet || echo ' (with uncommitted changes)')"
echo "base: $(git -C "$source_dir" rev-parse --short "$base")"

configure() { # SOURCE BUILD
    cmake -S "$1" -B "$2" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DLOOKOUT_BUILD_BENCHMARKS=ON -DLOOKOUT_WERROR=ON >/dev/null
}
if [ ! -d "$base_src" ]; then
    git -C "$source_dir" worktree add --detach "$base_src" "$base" >/dev/null
fi
git -C "$base_src" checkout --quiet --detach "$base"
configure "$base_src" "$base_build"
cmake --build "$base_build" --target lookout-bench lookout-idle-bench lookout-tray-min lookout-lobby
configure "$source_dir" "$build"
cmake --build "$build" --target lookout-bench lookout-idle-bench lookout-tray-min lookout-lobby
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"

run() { # NAME BUILD ARGS...
    local name=$1 dir=$2
    shift 2
    echo "-- $name"
    "$dir/lookout-bench" "$@" --benchmark_counters_tabular=true \
        --benchmark_out="$results/$name-$(date +%s%N).json" --benchmark_out_format=json
}

echo "== benchmarks (rates are per CPU second; medians of 5 runs)"
for group in 'qhash/|read/|naive/' 'prepare|compare/|compare-qset/|naive-compare'; do
    for rev in base this; do
        dir=$build
        [ "$rev" = base ] && dir=$base_build
        run "$rev" "$dir" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
            --benchmark_filter="$group"
    done
done
for rev in base this; do
    dir=$build
    [ "$rev" = base ] && dir=$base_build
    run "$rev" "$dir" --benchmark_filter='poll' --benchmark_report_aggregates_only=true
done

echo "== the idle program, 100 polls of the typical lobby"
echo "-- base"
bash "$base_src/bench/idle.sh" "$base_build" 100 2000
echo "-- this"
bash "$source_dir/bench/idle.sh" "$build" 100 2000
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"

echo "== medians side by side (CPU time; ratio = this / base)"
python3 - "$results" <<'EOF'
import glob, json, os, re, sys
aggregated = {"base": {}, "this": {}}
runs = {"base": {}, "this": {}}
for path in sorted(glob.glob(os.path.join(sys.argv[1], "*.json"))):
    rev = os.path.basename(path).split("-")[0]
    for b in json.load(open(path))["benchmarks"]:
        name = re.sub(r"/(iterations|repeats|manual_time|real_time).*", "", b.get("run_name", b["name"]))
        # The whole poll is timed by hand, in wall-clock time; the rest in CPU time.
        time = b["real_time"] if name.startswith("poll") else b["cpu_time"]
        ms = time * {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[b["time_unit"]]
        if b.get("run_type") == "aggregate":
            if b.get("aggregate_name") == "median":
                aggregated[rev][name] = ms
        else:
            runs[rev].setdefault(name, []).append(ms)
def median(rev, name):
    if name in aggregated[rev]:
        return aggregated[rev][name]
    values = sorted(runs[rev].get(name, []))
    return values[len(values) // 2] if values else None
print(f"{'benchmark':24} {'base ms':>12} {'this ms':>12} {'this/base':>9}")
for name in list(dict.fromkeys(list(aggregated["this"]) + list(runs["this"]))):
    base, this = median("base", name), median("this", name)
    ratio = f"{this / base:9.2f}" if base else ""
    print(f"{name:24} {base if base is not None else float('nan'):12.4f} {this:12.4f} {ratio}")
EOF
