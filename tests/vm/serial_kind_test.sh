#!/usr/bin/env bash
# The scenarios' serial kind, proven on the virtual board: run-board keeps the board's line on a pty
# that outlives the programs opening it, as a bench's serial adapter, with rescue mode on, and each
# power-on goes through the boot loader, whose banner and countdown come first on the line; SIGUSR1
# to run-board is the power command. The suite reaches the board through that line and that
# command alone, as it would a module on a bench, and skips the rest with its reasons.
#
# Usage: serial_kind_test.sh PYTEST SCENARIOS LOGS [run-board options...]
set -euo pipefail
pytest=$1 scenarios=$2 logs=$3
shift 3
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$logs"
workdir=$(mktemp -d "$logs/serial-kind-XXXXXX")
line=$workdir/line

"$here/../../vm/run-board" --pty "$line" --bench --boot-loader --line-speed 115200 --env diagnostics=rescue \
    --workdir "$workdir" "$@" >"$workdir/run-board.log" 2>&1 &
board=$!
trap 'kill "$board" 2>/dev/null || true; wait "$board" || true' EXIT

# The board's pieces are built by then; its demo flash and the line take seconds
for _ in $(seq 600); do
    [[ -e $line ]] && break
    kill -0 "$board" 2>/dev/null || { cat "$workdir/run-board.log" >&2; exit 1; }
    sleep 0.2
done
[[ -e $line ]] || { echo "serial_kind_test: run-board gave no line" >&2; exit 1; }

"$pytest" -p no:cacheprovider -rs "$scenarios" --board serial --line "$line" --power-cmd "kill -USR1 $board" \
    --boot-wait 60 --logs "$logs"
rm -rf "$workdir"
