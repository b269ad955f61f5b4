#!/usr/bin/env python3
"""Boot time on the virtual board: from the launcher's start to the exec of /bin/backtrace, with an
8 MiB application record in slot 1, measured in the guest on its monotonic clock (board.timing).

Each boot is a fresh QEMU run of the same flash. The plain boots give the total; the mandated sleeps
on that road, the launcher's fixed waits, are listed one by one. As many boots again have the board
time the launcher's tar and lzma, its own programs rather than ours, and split the road into those
and the launcher's parts between them; their timing wrappers cost a little, so they do not count in
the total. QEMU's TCG emulation runs the guest many times slower than a real core: the figures
compare the parts of a boot, they do not predict the board's.

Usage: boot-time.py [--boots N] [--launcher PATH] [--mgmt-probe PATH] [--cpu MODEL] [--logs DIR]"""
import argparse
import os
import random
import shutil
import statistics
import sys
import tempfile

# The board's modules are read from the checkout, which stays free of byte-code caches
sys.dont_write_bytecode = True
from virtualboard import boardbuild, records  # noqa: E402
from virtualboard.board import Board  # noqa: E402
from virtualboard.patience import Failure  # noqa: E402

SLOT_SIZE = 8 << 20
# The filler is random, so that the gzip stream is as long as the data; seeded, so that every run
# boots the same record
FILLER_SEED = 20261207
# The fixed waits of a normal boot from slot 1: the CPLD gate opened and closed around the read of
# the slot byte, and the pause before the archive is unpacked
MANDATED_SLEEPS = (("CPLD gate set before reading the slot byte", 0.1),
                   ("CPLD gate cleared after reading the slot byte", 0.1),
                   ("pause before unpacking the application archive", 1.0))
OURS = "the launcher's parts together"


def application_record(board):
    """An application record of just under 8 MiB: the demo application, its marker and random filler."""
    binary = records.read(boardbuild.demo_application("boot time", os.path.join(board.workdir, "programs", "app")))
    filler = random.Random(FILLER_SEED).randbytes(SLOT_SIZE)

    def with_filler(size):
        return records.record("application", records.app_archive(binary, extra=[("home/filler", filler[:size], 0o644)]))

    # gzip adds a little to random data, tar its headers: one trial gives the overhead to take off
    overhead = len(with_filler(SLOT_SIZE // 2)) - SLOT_SIZE // 2
    record = with_filler(SLOT_SIZE - overhead - 4096)
    if len(record) > SLOT_SIZE:
        raise Failure(f"the record of {len(record)} bytes does not fit the slot")
    return record


def timing_notes(console_text):
    """The board's timing notes of one boot: name -> list of the times in it (seconds)."""
    notes = {}
    for line in console_text.replace("\r", "").split("\n"):
        words = line.split()
        if line.startswith("board: timing ") and len(words) >= 4:
            notes[words[2]] = [float(word) for word in words[3:]]
    return notes


def timed_boot(board, timing):
    with board.runner(1, 1, "--timing", timing) as runner:
        status = runner.finish()
    notes = timing_notes(runner.console_text())
    if status != 0:
        raise Failure(f"boot with board.timing={timing}: run-board ended with status {status}")
    for name in ("launcher", "backtrace") + (("tar", "lzma") if timing == "commands" else ()):
        if name not in notes:
            raise Failure(f"boot with board.timing={timing} has no {name} note")
    return notes


def segments(notes, sleeps):
    """A boot's road with timed commands, in parts (seconds): the launcher's own up to the unpacking
    (mandated sleeps taken off), tar, the launcher between, lzma, the launcher to the exec."""
    return {
        "launcher: start-up, slot byte, record read, CRC-32 check, archive written":
            notes["tar"][0] - notes["launcher"][0] - sleeps,
        "the board's tar (gunzip included)": notes["tar"][1] - notes["tar"][0],
        "launcher: archive removed, lzma started": notes["lzma"][0] - notes["tar"][1],
        "the board's lzma": notes["lzma"][1] - notes["lzma"][0],
        "launcher: rm, chmod, exec of /bin/backtrace": notes["backtrace"][0] - notes["lzma"][1],
    }


def measure(board, boots):
    """(record size, median total of the plain boots, median total and parts of the timed-command boots)."""
    record = application_record(board)
    board.make_flash(slot1=record)
    sleeps = sum(seconds for _, seconds in MANDATED_SLEEPS)
    totals, timed_totals, parts = [], [], []
    for number in range(1, boots + 1):
        notes = timed_boot(board, "1")
        totals.append(notes["backtrace"][0] - notes["launcher"][0])
        notes = timed_boot(board, "commands")
        timed_totals.append(notes["backtrace"][0] - notes["launcher"][0])
        part = segments(notes, sleeps)
        part[OURS] = sum(seconds for name, seconds in part.items() if name.startswith("launcher"))
        parts.append(part)
        print(f"boot {number}: {totals[-1]:.3f} s; with timed commands {timed_totals[-1]:.3f} s: "
              + ", ".join(f"{seconds:.3f}" for seconds in part.values()), flush=True)
    medians = {name: statistics.median(part[name] for part in parts) for name in parts[0]}
    return len(record), statistics.median(totals), statistics.median(timed_totals), medians


def report(record_size, boots, cpu, total, timed_total, parts):
    sleeps = sum(seconds for _, seconds in MANDATED_SLEEPS)
    print(f"\nlauncher start to exec of /bin/backtrace, application record of {record_size} bytes in slot 1, "
          f"{cpu} under QEMU TCG (many times slower than the board's core), medians of {boots} boot(s):")
    rows = [("total", total)] + [(f"mandated sleep: {what}", seconds) for what, seconds in MANDATED_SLEEPS]
    rows.append(("remains after the sleeps", total - sleeps))
    rows.append(("with tar and lzma timed (the wrappers' cost falls in the launcher's parts): total", timed_total))
    rows += [(f"  {name}", seconds) for name, seconds in parts.items()]
    width = max(len(label) for label, _ in rows)
    for label, seconds in rows:
        print(f"  {label:<{width}} {seconds:7.3f} s")


def main(argv):
    parser = argparse.ArgumentParser(prog="boot-time.py", description=__doc__.split("\n\n")[0])
    parser.add_argument("--boots", type=int, default=5, metavar="N", help="boots of each kind (default 5)")
    parser.add_argument("--launcher", help="the ppc launcher to boot (default: the ppc preset's, installed "
                        "into a staging root, built when missing)")
    parser.add_argument("--mgmt-probe", help="the ppc management link probe (default: as the launcher)")
    parser.add_argument("--cpu", choices=boardbuild.CPUS, default="e500mc")
    parser.add_argument("--logs", default=tempfile.gettempdir(), metavar="DIR",
                        help="where the flash and the boots' logs are kept (removed when all boots succeed)")
    args = parser.parse_args(argv)
    if args.boots < 1:
        parser.error("--boots must be at least 1")
    os.makedirs(args.logs, exist_ok=True)
    workdir = tempfile.mkdtemp(prefix="vm-boot-time-", dir=args.logs)
    board = Board(workdir, args.launcher, args.mgmt_probe, args.cpu)
    try:
        record_size, total, timed_total, parts = measure(board, args.boots)
    except Failure as failure:
        print(f"FAILED boot time: {failure}\nlogs kept in {workdir}", file=sys.stderr)
        return 1
    report(record_size, args.boots, args.cpu, total, timed_total, parts)
    shutil.rmtree(workdir, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
