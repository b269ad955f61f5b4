#!/usr/bin/env bash
# Builds the fuzz targets (preset fuzz: clang-14, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for a bounded time, starting from a copy of its seed
# corpus in fuzz/corpus/<target>/ so that the committed corpus stays as it is.  Fails at the first
# target with a finding: a crash, a leak, a timeout, a sanitizer report or a broken property.  The
# input that found it is kept under build/fuzz/findings/<target>/.
#
# Usage: scripts/fuzz.sh [seconds-per-target [target...]]   (default: 30 seconds, every target)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

seconds=${1:-30}
[[ $# -gt 0 ]] && shift
targets=("$@")
[[ ${#targets[@]} -gt 0 ]] || targets=(boot_options flash_write installer xmodem line_editor slot_reader send_judges)

# Inputs longer than these reach nothing new: an environment block is 512 bytes, a key line fits
# in one, and downloads, slots and conversations of a few records or blocks cover their roads.
max_len() {
    case $1 in
    boot_options) echo 1024 ;;
    line_editor) echo 512 ;;
    installer | slot_reader) echo 16384 ;;
    *) echo 8192 ;;
    esac
}

# The memory limit applies to the fuzzing process itself; the targets that run the board do their
# work in a child per input, where the fuzzer's watch thread does not exist and would only make
# the child's leak check warn about it.
rss_limit() {
    case $1 in
    boot_options) echo 2048 ;;
    *) echo 0 ;;
    esac
}

cmake --preset fuzz
cmake --build --preset fuzz

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for target in "${targets[@]}"; do
    printf '\n==== fuzz: %s for %s s\n' "$target" "$seconds"
    findings=build/fuzz/findings/$target
    mkdir -p "$work/$target" "$findings"
    cp fuzz/corpus/"$target"/* "$work/$target/"
    # A record may ask for up to 4 GiB, which the installer is allowed to try to allocate: the
    # limit of a single allocation stays above that.
    if ! build/fuzz/fuzz/"${target}"_fuzz -max_total_time="$seconds" -timeout=30 -rss_limit_mb="$(rss_limit "$target")" \
        -malloc_limit_mb=8192 -max_len="$(max_len "$target")" -artifact_prefix="$findings/" \
        -print_final_stats=1 "$work/$target" >"$work/$target.log" 2>&1; then
        tail -n 60 "$work/$target.log"
        echo "fuzz: $target found a fault; its input is in $findings/" >&2
        exit 1
    fi
    grep -E '^(Done|stat::number_of_executed_units)' "$work/$target.log" || true
done
echo "fuzz: ${targets[*]}: no findings in $seconds s each"
