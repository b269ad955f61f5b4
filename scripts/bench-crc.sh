#!/usr/bin/env bash
# The CRC figures of docs/performance.md at the optimisation levels of root file system
# builds: bench_crc built with -O2, -Os and -O3 (CMAKE_CXX_FLAGS_RELEASE overridden, one build
# directory each, build/bench-LEVEL), gen_crc and zlib's crc32 (the system's library, as its
# distribution builds it) measured side by side in one process, REPETITIONS times; prints the medians
# of each side's CPU time and their ratio.
#
# Usage: scripts/bench-crc.sh [repetitions]     (default: 9)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
repetitions=${1:-9}

printf '| flags | size | gen_crc | zlib crc32 | gen_crc / zlib |\n|---|---|---|---|---|\n'
for level in O2 Os O3; do
    build=build/bench-$level
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-$level -DNDEBUG" \
        -DCMAKE_C_FLAGS_RELEASE="-$level -DNDEBUG" >/dev/null
    cmake --build "$build" --target bench_crc -j2 >/dev/null
    "$build/bench/bench_crc" --benchmark_filter='BM_crc/(gen_crc|zlib)/' --benchmark_repetitions="$repetitions" \
        --benchmark_report_aggregates_only=true --benchmark_format=json |
        python3 -c '
import json, sys
level = sys.argv[1]
medians = {}
for b in json.load(sys.stdin)["benchmarks"]:
    if b.get("aggregate_name") == "median":
        _, function, size = b["run_name"].split("/")
        assert b["time_unit"] == "us"
        medians[(function, int(size))] = b["cpu_time"]
def shown(microseconds):
    return f"{microseconds / 1000:.3g} ms" if microseconds >= 1000 else f"{microseconds:.3g} µs"
for size in sorted({size for _, size in medians}, reverse=True):
    ours, zlib = medians[("gen_crc", size)], medians[("zlib", size)]
    label = f"{size >> 20} MiB" if size >= 1 << 20 else f"{size >> 10} KiB"
    print(f"| -{level} | {label} | {shown(ours)} | {shown(zlib)} | {ours / zlib:.2f} |")
' "$level"
done
