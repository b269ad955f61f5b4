#!/usr/bin/env bash
# The performance figures of docs/performance.md: builds the benchmarks in the optimised
# release preset and runs them, the CRC and the flash roads with several repetitions (medians
# reported), the XMODEM figures once (the line efficiency is on virtual time, the sx transfer takes
# most of a minute); last, when the board can be built here, the boot time on the virtual board
# (vm/boot-time.py, 5 boots of each kind) and a 1 MiB rescue download on its line paced at 115200
# bit/s, sent by sx -k and then by imgtool send in the same run (vm/line-speed.py, about four
# minutes; it builds imgtool in the dev preset).
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

# The board needs the ppc launcher, the cross compiler and QEMU; a machine without them skips it
board_builds() {
    scripts/stage-libi2c.sh && cmake --preset ppc >/dev/null &&
        cmake --build --preset ppc -j2 --target launcher mgmt_probe && vm/run-board --build-only
}
if board_builds; then
    vm/boot-time.py
    vm/line-speed.py --sizes 1
else
    echo "bench: the virtual board's boot time and line speed skipped: the board cannot be built on this machine"
fi
