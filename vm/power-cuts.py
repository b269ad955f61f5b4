#!/usr/bin/env python3
"""Power cuts during a rescue install on the virtual board, in series of rounds: the campaign as
virtualboard/powercuts.py describes it.

Usage: power-cuts.py [--cuts N] [--seed S] [--backend cfi|block2mtd]... [--series unbooted|booted]...
Prints a table of outcomes; fails when a board booted a half-written slot, or found no application
while a slot held a whole one."""
import argparse
import os
import random
import shutil
import sys
import tempfile

# The board's modules are read from the checkout, which stays free of byte-code caches
sys.dont_write_bytecode = True
from virtualboard import boardbuild  # noqa: E402
from virtualboard.board import Board  # noqa: E402
from virtualboard.powercuts import ERASE_SIZES, SERIES, run_campaign, say, table  # noqa: E402
from virtualboard.patience import Failure  # noqa: E402


def main(argv):
    parser = argparse.ArgumentParser(prog="power-cuts.py", description=__doc__.split("\n\n")[0])
    parser.add_argument("--cuts", type=int, default=30, metavar="N", help="cuts per series (default 30)")
    parser.add_argument("--seed", type=int, default=1, help="seed of the records and the cut moments")
    parser.add_argument("--backend", action="append", choices=tuple(ERASE_SIZES), help="flash back end "
                        "(repeatable; default both)")
    parser.add_argument("--series", action="append", choices=tuple(SERIES), help="slot installed into "
                        "(repeatable; default both)")
    parser.add_argument("--cpu", choices=boardbuild.CPUS, default="e500mc")
    parser.add_argument("--launcher", help="the ppc launcher to boot (default: the ppc preset's, installed "
                        "into a staging root, built when missing)")
    parser.add_argument("--mgmt-probe", help="the ppc management link probe (default: as the launcher)")
    parser.add_argument("--logs", default=tempfile.gettempdir(), metavar="DIR",
                        help="where the campaign keeps its boards (removed when it passes)")
    args = parser.parse_args(argv)
    if args.cuts < 1:
        parser.error("--cuts must be at least 1")
    rng = random.Random(args.seed)
    os.makedirs(args.logs, exist_ok=True)
    workdir = tempfile.mkdtemp(prefix="vm-power-cuts-", dir=args.logs)
    rows, faults = [], []
    try:
        for backend in args.backend or tuple(ERASE_SIZES):
            board = Board(os.path.join(workdir, backend), args.launcher, args.mgmt_probe, args.cpu)
            os.makedirs(board.workdir)
            backend_rows, backend_faults = run_campaign(board, backend, args.cuts, rng, args.series or tuple(SERIES))
            rows += backend_rows
            faults += backend_faults
    except (Failure, OSError, ValueError) as failure:
        print(f"FAILED: {failure}\nboards kept in {workdir}", file=sys.stderr)
        return 1
    say("\n" + table(rows))
    if faults:
        print("FAILED:\n  " + "\n  ".join(faults) + f"\nboards kept in {workdir}", file=sys.stderr)
        return 1
    shutil.rmtree(workdir, ignore_errors=True)
    say("no board booted a half-written slot; none was left without an application while a slot was whole")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
