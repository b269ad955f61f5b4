#!/usr/bin/env python3
"""Rescue downloads on the virtual board's one line paced at 115200 bit/s: the real kernel's UART
and the static launcher's receiver at one end; at the other, relayed by run-board, lrzsz's sx -k,
then imgtool send on the line's pseudo-terminal, one after the other in the same run.

For each size, a root file system record of exactly that many bytes is sent from the rescue menu.
run-board times sx from its first block to its end; imgtool send is timed from its first progress
line past 0 % on standard error to its last, over the bytes between them (the lines are taken as
they arrive; without a terminal it prints one at every 10 %). The figure is the payload rate against the
line's payload limit at 115200 bit/s 8N1: 11520 bytes/s x 1024 / 1029 (each 1 KiB block carries
five bytes of framing). The install that follows is not timed.

Usage: line-speed.py [--sizes MIB ...] [--launcher PATH] [--mgmt-probe PATH] [--logs DIR]"""
import argparse
import os
import re
import shutil
import sys
import tempfile

# The board's modules are read from the checkout, which stays free of byte-code caches
sys.dont_write_bytecode = True
from virtualboard import records  # noqa: E402
from virtualboard.board import BOOT_TIMEOUT, LINE_SPEED, Board  # noqa: E402
from virtualboard.imgtool_send import Send, send_arguments  # noqa: E402
from virtualboard.patience import Failure  # noqa: E402

PAYLOAD_LIMIT = LINE_SPEED / 10 * 1024 / 1029
RECORD_HEADER = 16
TRANSFER = re.compile(rb"sx ended with status 0: (\d+) bytes in ([\d.]+) s from its first block")
PROGRESS = re.compile(r"(\d+) % (\d+)/(\d+) bytes")


def download_of(board, size):
    """A root file system record of exactly SIZE bytes, so that every block is full."""
    payload = bytes(i * 131 % 251 for i in range(size - RECORD_HEADER))
    path = os.path.join(board.workdir, "download.bin")
    records.write(path, records.record("rootfs", payload, 0x22))
    return path


def rescue_download(board, size):
    """Rescue mode on the board; a download of SIZE bytes."""
    download = download_of(board, size)
    board.make_flash(["diagnostics=rescue"], slot1=board.application("demo application from slot 1"))
    return download, BOOT_TIMEOUT + 2 * size / PAYLOAD_LIMIT


def measure_sx(board, size):
    """Bytes that sx sent, and the seconds it took, from its first block to its end."""
    download, seconds = rescue_download(board, size)
    with board.runner(1, 1, "--one-line", "--send", download, "--line-speed", str(LINE_SPEED),
                      seconds=seconds) as runner:
        runner.expect("Option? : ")
        runner.type(b"x")
        runner.expect("Extracting images")
        with open(os.path.join(board.workdir, "run-board.log"), "rb") as log:
            found = TRANSFER.search(log.read())
    if not found or int(found[1]) != size:
        raise Failure("run-board did not report the transfer")
    return size, float(found[2])


def measure_send(board, size):
    """Bytes that imgtool send sent between its first progress line past 0 % and its last, which must
    count the whole download, and the seconds between them."""
    download, seconds = rescue_download(board, size)
    with board.line_on_pty(1, 1, seconds) as (_, link):
        with Send(board.workdir, send_arguments([link], download), seconds) as send:
            send.expect("Extracting images")
    # Its 0 % line comes before the board's first 'C', which sx's time does not wait for either
    progress = [(at, int(found[2])) for at, line in send.err.lines
                if (found := PROGRESS.search(line)) and int(found[2]) > 0]
    if len(progress) < 2 or progress[-1][1] != size:
        raise Failure("imgtool send did not report its progress up to the whole download (send.err)")
    (first_at, first_sent), (last_at, last_sent) = progress[0], progress[-1]
    return last_sent - first_sent, last_at - first_at


SENDERS = (("`sx -k`, first block to end", measure_sx),
           ("`imgtool send`, first progress line past 0 % to last", measure_send))


def main(argv):
    parser = argparse.ArgumentParser(prog="line-speed.py", description=__doc__.split("\n\n")[0])
    parser.add_argument("--sizes", type=int, nargs="+", default=[1], metavar="MIB")
    parser.add_argument("--launcher", help="the ppc launcher to boot (default: the ppc preset's, installed "
                        "into a staging root, built when missing)")
    parser.add_argument("--mgmt-probe", help="the ppc management link probe (default: as the launcher)")
    parser.add_argument("--logs", default=tempfile.gettempdir(), metavar="DIR")
    args = parser.parse_args(argv)
    os.makedirs(args.logs, exist_ok=True)
    print(f"| download | sender, timed | bytes timed | time | payload rate | share of {PAYLOAD_LIMIT:.0f} bytes/s |")
    print("|---|---|---|---|---|---|")
    for mib in args.sizes:
        for sender, measure in SENDERS:
            workdir = tempfile.mkdtemp(prefix=f"vm-line-speed-{mib}MiB-", dir=args.logs)
            try:
                sent, seconds = measure(Board(workdir, args.launcher, args.mgmt_probe, "e500mc"), mib << 20)
            except Failure as failure:
                print(f"line-speed: {mib} MiB, {sender}: {failure}; logs kept in {workdir}", file=sys.stderr)
                return 1
            shutil.rmtree(workdir, ignore_errors=True)
            rate = sent / seconds
            minutes, rest = divmod(seconds, 60)
            print(f"| {mib} MiB | {sender} | {sent} | {int(minutes)} min {rest:04.1f} s | {rate:.0f} bytes/s "
                  f"| {100 * rate / PAYLOAD_LIMIT:.1f} % |", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
