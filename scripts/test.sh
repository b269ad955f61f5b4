#!/usr/bin/env bash
# The project's test command: installs what is needed, then configures, builds and runs every test
# for the host (debug build, then AddressSanitizer and UndefinedBehaviorSanitizer), runs each fuzz
# target for a short bounded time, runs the tests for the PowerPC target under qemu-ppc-static, and
# last the scenarios on the virtual board (the ppc launcher booting under QEMU's PowerPC system
# emulation). Stops at the first step that fails.
#
# Usage: scripts/test.sh [preset...]     (default: dev asan fuzz ppc vm)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

presets=("$@")
[[ ${#presets[@]} -gt 0 ]] || presets=(dev asan fuzz ppc vm)

# Long enough for each fuzz target to get through its seeds and mutate them for a while; the long
# runs happen outside the test command.
FUZZ_SECONDS=20

step() { printf '\n==== %s\n' "$*"; }

# The target has no shared libi2c and may carry other library versions than the cross sysroot:
# the launcher must be a self-contained big-endian 32-bit PowerPC executable.
check_static_ppc() {
    local program=$1 header segments dynamic
    header=$(powerpc-linux-gnu-readelf -h "$program")
    segments=$(powerpc-linux-gnu-readelf -l "$program")
    dynamic=$(powerpc-linux-gnu-readelf -d "$program")
    if ! grep -q 'Class: *ELF32' <<<"$header" ||
        ! grep -q "Data: *2's complement, big endian" <<<"$header" ||
        ! grep -q 'Machine: *PowerPC$' <<<"$header"; then
        echo "$program: not a 32-bit big-endian PowerPC executable" >&2
        return 1
    fi
    if ! grep -q 'Type: *EXEC' <<<"$header" || grep -q INTERP <<<"$segments" ||
        ! grep -q 'no dynamic section' <<<"$dynamic"; then
        echo "$program: not statically linked" >&2
        return 1
    fi
    echo "$program: static 32-bit big-endian PowerPC executable"
}

step "installing build and test dependencies"
scripts/install-deps.sh

for preset in "${presets[@]}"; do
    if [[ $preset == vm ]]; then
        # The scenarios are scripts registered in the dev configuration; the board they boot is
        # built (or taken from its cache) here, for both CPU models, before the first of them.
        step "vm: configure"
        cmake --preset dev
        for cpu in e500mc e500v2; do
            step "vm: building the virtual board for $cpu"
            vm/run-board --build-only --cpu "$cpu"
        done
        step "vm: test"
        ctest --preset vm
        continue
    fi
    if [[ $preset == fuzz ]]; then
        step "fuzz: build and run each target for $FUZZ_SECONDS s"
        scripts/fuzz.sh "$FUZZ_SECONDS"
        continue
    fi
    if [[ $preset == ppc ]]; then
        step "ppc: staging libi2c for the target"
        scripts/stage-libi2c.sh
    fi

    step "$preset: configure"
    cmake --preset "$preset"
    step "$preset: build"
    cmake --build --preset "$preset"

    if [[ $preset == ppc ]]; then
        step "ppc: checking that launcher is a static PowerPC program"
        check_static_ppc build/ppc/src/launcher
    fi

    step "$preset: test"
    ctest --preset "$preset"
done

step "all presets passed: ${presets[*]}"
