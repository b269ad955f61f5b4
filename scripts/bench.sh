#!/usr/bin/env bash
# The performance figures of README's Performance section: builds the benchmarks in the optimised
# release preset and runs them, the CRC and the flash roads with several repetitions (medians
# reported), the XMODEM figures once (the line efficiency is on virtual time, the sx transfer takes
# most of a minute).
#
# Usage: scripts/bench.sh [repetitions]     (default: 9)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
repetitions=${1:-9}

cmake --preset release >/dev/null
cmake --build --preset release --target benchmarks
for program in bench_crc bench_boot; do
    "build/release/bench/$program" --benchmark_repetitions="$repetitions" --benchmark_report_aggregates_only=true
done
build/release/bench/bench_xmodem
