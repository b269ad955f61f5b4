"""The scenarios that reach the board only through its serial line and its power, as a bench reaches
a module: they run on the virtual board and, with --board serial, on a real module. The board is set
up with rescue mode on (diagnostics=rescue), so that each power-on stops at the rescue menu. The
scenarios write both slots; each starts with a power cycle. What they install is the bench's
application, which needs nothing of the module's root file system, and they wait for nothing but
what the launcher, the boot loader and that application print."""
import contextlib
import os
import time

import pytest
from expected import PROMPT, SLOT_BASES, expect_installed
from roads import MENU_PROMPT, end_download, interrupt_mid_transfer, start_download

from virtualboard import records
from virtualboard.board import BOOT_TIMEOUT, KEY_DELAY, transfer_bound
from virtualboard.imgtool_send import Send, send_arguments
from virtualboard.terminal import Picocom

pytestmark = pytest.mark.bench

RESCUE_ENTERED = "Entering Rescue Mode."
# The boot loader's countdown before it boots the kernel, and its prompt once a key stopped it
COUNTDOWN = "Hit any key to stop autoboot"
LOADER_PROMPT = "=> "
UNPACKING = "Uncompressing application image...."
# What the bench's application prints, before the words it was built with
BENCH_APPLICATION = "bench application: "
# The download given up mid-way: 100 KB of filler make it about nine seconds on the line
GIVEN_UP_FILLER = 100000


def download_of(board, record):
    download = os.path.join(board.workdir, "download.bin")
    records.write(download, record)
    return download


@contextlib.contextmanager
def sending(board, bench, download, *options):
    """imgtool send on the bench's line, and the board's power cycled once it holds the line."""
    seconds = bench.boot_wait + 2 * BOOT_TIMEOUT + 2 * transfer_bound(download)
    with Send(board.workdir, send_arguments([bench.line], download, *options, wait=bench.boot_wait),
              seconds) as send:
        bench.power_cycle()
        yield send


def install(board, bench, record, slot):
    """RECORD installed into SLOT with imgtool send; the board is left at its rescue menu."""
    with sending(board, bench, download_of(board, record), "--slot", str(slot)) as send:
        assert send.finish() == 0, "imgtool send's exit status (send.out, send.err)"
        send.said("installed:")
    expect_held(bench, slot, record)


def expect_held(bench, slot, record):
    """Where the target can read its flash: the slot byte names SLOT, which holds RECORD."""
    if bench.flash:
        expect_installed(bench.flash, slot, record)


@contextlib.contextmanager
def terminal(board, bench):
    """picocom on the bench's line, as the technician opens it."""
    picocom = Picocom(bench.line, os.path.join(board.workdir, "screen.log"), board.workdir)
    try:
        yield picocom
    finally:
        picocom.close()


def at_menu_type(picocom, key):
    """KEY at the rescue menu that the board shows or already showed."""
    time.sleep(KEY_DELAY)
    picocom.type(key)


def expect_launch(picocom, slot, text):
    picocom.wait_for(f"Booting image '{slot}'", BOOT_TIMEOUT)
    picocom.wait_for(UNPACKING, BOOT_TIMEOUT)
    picocom.wait_for(BENCH_APPLICATION + text, BOOT_TIMEOUT)


def test_power_on_stops_at_the_menu_and_exit_boots(board):
    """The boot road as the bench sets the board up: rescue mode, then E boots the slot the slot
    byte names."""
    with board.bench() as bench, terminal(board, bench) as picocom:
        bench.power_cycle()
        picocom.wait_for(RESCUE_ENTERED, bench.boot_wait)
        picocom.wait_for("X) Use xmodem 1K to serial download an image", BOOT_TIMEOUT)
        picocom.wait_for(MENU_PROMPT, BOOT_TIMEOUT)
        at_menu_type(picocom, b"e")
        picocom.wait_for("Booting image '", BOOT_TIMEOUT)
        picocom.wait_for(UNPACKING, BOOT_TIMEOUT)


@pytest.mark.parametrize("slot", [1, 2])
def test_send_installs_and_boots_each_slot(board, slot):
    text = f"demo application sent to slot {slot}"
    application = board.application(text, bench=True)
    with board.bench() as bench:
        with sending(board, bench, download_of(board, application), "--slot", str(slot), "--verify") as send:
            assert send.finish() == 0, "imgtool send's exit status (send.out, send.err)"
            send.said(COUNTDOWN, "installed:", f"booted slot {slot}", BENCH_APPLICATION + text)
        expect_held(bench, slot, application)


def test_key_in_the_countdown_stops_at_the_loader_and_boot_goes_on(board):
    """A key typed on purpose while the boot loader counts down leaves the board at the loader's
    prompt; boot there goes on to the launcher."""
    with board.bench() as bench, terminal(board, bench) as picocom:
        bench.power_cycle()
        picocom.wait_for(COUNTDOWN, bench.boot_wait)
        picocom.type(b" ")
        picocom.wait_for(LOADER_PROMPT, BOOT_TIMEOUT)
        picocom.type(b"boot\r")
        picocom.wait_for(RESCUE_ENTERED, bench.boot_wait)
        picocom.wait_for(MENU_PROMPT, BOOT_TIMEOUT)


def test_bad_crc_download_voided(board):
    """A download whose record fails its CRC, sent with picocom and sx (imgtool send refuses it): the
    installer voids it, and the next boot starts what the slot held before."""
    before = "demo application before the bad download"
    held = board.application(before, bench=True)
    with board.bench() as bench:
        install(board, bench, held, 2)
        bad = os.path.join(board.workdir, "bad.bin")
        records.write(bad, records.with_bad_crc(board.application("demo application with a bad CRC", bench=True)))
        with terminal(board, bench) as picocom:
            start_download(picocom, at_menu=True)
            picocom.send(bad)
            picocom.wait_for("Transfer complete", transfer_bound(bad))
            end_download(picocom, BOOT_TIMEOUT)
            picocom.wait_for("Bad crc for APPLICATION: 0x", BOOT_TIMEOUT)
            picocom.wait_for(", voiding download", BOOT_TIMEOUT)
            picocom.wait_for(MENU_PROMPT, BOOT_TIMEOUT)
            at_menu_type(picocom, b"e")
            expect_launch(picocom, 2, before)
        expect_held(bench, 2, held)


def test_transfer_given_up_midway(board):
    """SIGINT to imgtool send mid-transfer: it cancels, the board gives up and shows its menu again."""
    application = board.big_application("demo application given up", GIVEN_UP_FILLER, bench=True)
    with board.bench() as bench:
        slot2 = bench.flash and bench.flash.flash_bytes(SLOT_BASES[2], len(application))
        with sending(board, bench, download_of(board, application), "--slot", "2") as send:
            interrupt_mid_transfer(send)
        if bench.flash:
            assert bench.flash.flash_bytes(SLOT_BASES[2], len(application)) == slot2, "slot 2"


def test_incompatibility_question_answered_n(board):
    """An application without the marker file: the launcher asks before it unpacks, and N goes on with
    the launch."""
    text = "demo application without its marker"
    with board.bench() as bench:
        install(board, bench, board.application(text, marker=False, bench=True), 1)
        with terminal(board, bench) as picocom:
            # R reboots into rescue mode again, and E boots the slot just written
            at_menu_type(picocom, b"r")
            picocom.wait_for(RESCUE_ENTERED, bench.boot_wait)
            picocom.wait_for(MENU_PROMPT, BOOT_TIMEOUT)
            at_menu_type(picocom, b"e")
            picocom.wait_for("Booting image '1'", BOOT_TIMEOUT)
            picocom.wait_for("WARNING: Suspected incompatible application image detected during unpacking",
                             BOOT_TIMEOUT)
            picocom.wait_for(PROMPT, BOOT_TIMEOUT)
            at_menu_type(picocom, b"n")
            picocom.wait_for(UNPACKING, BOOT_TIMEOUT)
            picocom.wait_for(BENCH_APPLICATION + text, BOOT_TIMEOUT)
