#!/usr/bin/env bash
# The virtual board's build cache: eviction keeps the entries of one kind used last, leaves other
# kinds and the locks alone, and clears what interrupted builds of that kind left behind.
#
# Usage: cache_eviction_test.sh vm/cache.sh
set -euo pipefail
# shellcheck source=vm/cache.sh
source "$1"

cache=$(mktemp -d)
trap 'rm -rf "$cache"' EXIT
failures=0

entry() {
    mkdir -p "$cache/$1"
    touch -d "$2" "$cache/$1"
}

expect_entries() {
    local what=$1 wanted=$2 got
    got=$(find "$cache" -mindepth 1 -maxdepth 1 -printf '%f\n' | sort | tr '\n' ' ')
    if [[ $got != "$wanted" ]]; then
        echo "FAILED $what:"$'\n'"  got:    $got"$'\n'"  wanted: $wanted"
        failures=$((failures + 1))
    fi
}

entry kernel-e500mc-00000000000000a1 "2026-01-01 10:00"
entry kernel-e500mc-00000000000000a2 "2026-01-02 10:00"
entry kernel-e500mc-00000000000000a3 "2026-01-03 10:00"
entry kernel-e500mc-00000000000000a4 "2026-01-04 10:00"
entry kernel-e500mc-00000000000000a5 "2026-01-05 10:00"
entry kernel-e500mc-00000000000000a6.build "2026-01-06 10:00"
entry kernel-e500mc-00000000000000a7.part "2026-01-06 10:00"
entry kernel-e500v2-00000000000000b1 "2025-06-01 10:00"
entry busybox-00000000000000c1 "2025-06-01 10:00"
touch "$cache/kernel.lock"
# The oldest entry was used last
vm_cache_touch "$cache/kernel-e500mc-00000000000000a1"

vm_cache_evict "$cache" "kernel-e500mc-*" 3 2>/dev/null
expect_entries "the three e500mc kernels used last stay" \
    "busybox-00000000000000c1 kernel-e500mc-00000000000000a1 kernel-e500mc-00000000000000a4 kernel-e500mc-00000000000000a5 kernel-e500v2-00000000000000b1 kernel.lock "

vm_cache_evict "$cache" "kernel-e500v2-*" 3 2>/dev/null
expect_entries "fewer entries than kept: nothing goes" \
    "busybox-00000000000000c1 kernel-e500mc-00000000000000a1 kernel-e500mc-00000000000000a4 kernel-e500mc-00000000000000a5 kernel-e500v2-00000000000000b1 kernel.lock "

entry linux-source-6.1-6.1.100-1 "2026-01-01 10:00"
entry linux-source-6.1-6.1.192-3 "2026-01-02 10:00"
entry linux-source-6.1-6.1.192-3.part "2026-01-03 10:00"
vm_cache_evict "$cache" "linux-source-6.1-*" 1 2>/dev/null
expect_entries "one kernel source tree stays" \
    "busybox-00000000000000c1 kernel-e500mc-00000000000000a1 kernel-e500mc-00000000000000a4 kernel-e500mc-00000000000000a5 kernel-e500v2-00000000000000b1 kernel.lock linux-source-6.1-6.1.192-3 "

[[ $failures -eq 0 ]] && echo "cache eviction: all checks passed"
exit $((failures > 0))
