"""The scenarios that reach the board only through its serial line and its power, as a bench reaches
a module: they run on the virtual board and, with --board serial, on a real module. The board is set
up with rescue mode on (diagnostics=rescue), so that each power-on stops at the rescue menu. The
scenarios write both slots; each starts with a power cycle. What they install is the bench's
application, which needs nothing of the module's root file system, and they wait for nothing but
what the launcher, the boot loader and that application print."""
import contextlib
import os
import re
import signal
import time

import pexpect
import pytest
from expected import PROMPT, SLOT_BASES, expect_installed
from roads import (MENU_PROMPT, TRANSFER_STARTS, end_download, expect_still_sending, interrupt_mid_transfer,
                   start_download)

from virtualboard import records
from virtualboard.board import BOOT_TIMEOUT, KEY_DELAY, transfer_bound
from virtualboard.imgtool_send import Send, send_arguments
from virtualboard.target import LOADER_PROMPT, countdown_shown, stopped_at_loader
from virtualboard.terminal import Picocom

pytestmark = pytest.mark.bench

RESCUE_ENTERED = b"Entering Rescue Mode."
UNPACKING = b"Uncompressing application image...."
# What the bench's application prints, before the words it was built with
BENCH_APPLICATION = "bench application: "
# The download given up mid-way: 100 KB of filler make it about nine seconds on the line
GIVEN_UP_FILLER = 100000
# The download cut by a restart: 300 KB of filler make it about 27 seconds on the line, and the power
# is cycled three seconds into it
RESTARTED_FILLER = 300000
# The restarted board's first line: its boot loader's banner, printed at the line's 115200 bit/s
BOOT_LOADER_BANNER = "U-Boot "
# imgtool send gives up this soon after the restarted board's first line
RESTART_NOTICE = 10
RESTARTED = "the board restarted during the transfer: nothing was installed"
BOOTING_SLOT = re.compile(rb"Booting image '(\d)'")
# A progress line that counts a byte sent
BYTES_SENT = re.compile(r" % [1-9]\d*/\d+ bytes")


def download_of(programs, record):
    download = os.path.join(programs.workdir, "download.bin")
    records.write(download, record)
    return download


@contextlib.contextmanager
def sending(target, download, *options):
    """imgtool send on the target's line, and the board's power cycled once it holds the line."""
    seconds = target.boot_wait + 2 * BOOT_TIMEOUT + 2 * transfer_bound(download)
    with target.released() as line, \
            Send(target.workdir, send_arguments([line], download, *options, wait=target.boot_wait), seconds) as send:
        target.power_cycle()
        yield send


def install(programs, target, record, slot):
    """RECORD installed into SLOT with imgtool send; the board is left at its rescue menu."""
    with sending(target, download_of(programs, record), "--slot", str(slot)) as send:
        assert send.finish() == 0, "imgtool send's exit status (send.out, send.err)"
        send.said("installed:")
    expect_held(target, slot, record)


def expect_held(target, slot, record):
    """Where the target can read its flash: the slot byte names SLOT, which holds RECORD."""
    if target.flash:
        expect_installed(target.flash, slot, record)


def held_slots(target, length):
    """Where the target can read its flash: the slot byte and the first LENGTH bytes of each slot."""
    if not target.flash:
        return None
    return target.flash.slot_byte(), [target.flash.flash_bytes(SLOT_BASES[slot], length) for slot in (1, 2)]


def expect_back_at_menu(target, shown):
    """The board came to its rescue menu, in SHOWN (what imgtool send printed of it) or on the line
    since: no key stopped its boot loader's countdown on the way."""
    assert not stopped_at_loader(shown.encode()), "a key stopped the boot loader's countdown (send.out)"
    if MENU_PROMPT in shown:
        return
    found = target.line.expect([re.escape(MENU_PROMPT.encode()), LOADER_PROMPT, pexpect.TIMEOUT], timeout=BOOT_TIMEOUT)
    assert found != 1, "a key stopped the boot loader's countdown: the board waits at its prompt (line.log)"
    assert found == 0, "the board's menu did not come back (send.out, line.log)"


@contextlib.contextmanager
def terminal(target):
    """picocom on the target's line, as the technician opens it."""
    with target.released() as line:
        picocom = Picocom(line, os.path.join(target.workdir, "screen.log"), target.workdir)
        try:
            yield picocom
        finally:
            picocom.close()


def at_menu_type(line, key):
    """KEY at the rescue menu that the board shows or already showed."""
    time.sleep(KEY_DELAY)
    line.send(key)


def test_power_on_stops_at_the_menu_and_exit_boots(target):
    """The boot road as the bench sets the board up: rescue mode, then E boots the slot the slot
    byte names."""
    target.to_menu()
    assert RESCUE_ENTERED in target.line.before and b"X) Use xmodem 1K to serial download an image" in \
        target.line.before, "the rescue menu (line.log)"
    at_menu_type(target.line, b"e")
    target.line.expect_exact(b"Booting image '", timeout=BOOT_TIMEOUT)
    target.line.expect_exact(UNPACKING, timeout=BOOT_TIMEOUT)


@pytest.mark.parametrize("slot", [1, 2])
def test_send_installs_and_boots_each_slot(programs, target, slot):
    """imgtool send started before the power-on installs and verifies, and never stops the boot
    loader's countdown."""
    text = f"demo application sent to slot {slot}"
    application = programs.application(text, bench=True)
    with sending(target, download_of(programs, application), "--slot", str(slot), "--verify") as send:
        assert send.finish() == 0, "imgtool send's exit status (send.out, send.err)"
        send.said("installed:", f"booted slot {slot}", BENCH_APPLICATION + text)
        shown = send.printed().encode()
        assert countdown_shown(shown) and not stopped_at_loader(shown), "the boot loader's countdown (send.out)"
    expect_held(target, slot, application)


def test_key_in_the_countdown_stops_at_the_loader_and_boot_goes_on(target):
    """A key typed on purpose while the boot loader counts down leaves the board at the loader's
    prompt; boot there goes on to the launcher."""
    target.to_loader()
    target.line.send(b"boot\r")
    target.line.expect_exact(RESCUE_ENTERED, timeout=target.boot_wait)
    target.line.expect_exact(MENU_PROMPT.encode(), timeout=BOOT_TIMEOUT)


def test_bad_crc_download_voided(programs, target):
    """A download whose record fails its CRC, sent with picocom and sx (imgtool send refuses it): the
    installer voids it, and the next boot starts what the slot held before."""
    before = "demo application before the bad download"
    held = programs.application(before, bench=True)
    install(programs, target, held, 2)
    bad = os.path.join(target.workdir, "bad.bin")
    records.write(bad, records.with_bad_crc(programs.application("demo application with a bad CRC", bench=True)))
    with terminal(target) as picocom:
        start_download(picocom, at_menu=True)
        picocom.send(bad)
        picocom.screen.expect_exact("Transfer complete", timeout=transfer_bound(bad))
        end_download(picocom, BOOT_TIMEOUT)
        picocom.screen.expect_exact("Bad crc for APPLICATION: 0x", timeout=BOOT_TIMEOUT)
        picocom.screen.expect_exact(", voiding download", timeout=BOOT_TIMEOUT)
        picocom.screen.expect_exact(MENU_PROMPT, timeout=BOOT_TIMEOUT)
        time.sleep(KEY_DELAY)
        picocom.type(b"e")
        picocom.screen.expect_exact("Booting image '2'", timeout=BOOT_TIMEOUT)
        picocom.screen.expect_exact(UNPACKING.decode(), timeout=BOOT_TIMEOUT)
        picocom.screen.expect_exact(BENCH_APPLICATION + before, timeout=BOOT_TIMEOUT)
    expect_held(target, 2, held)


def test_transfer_given_up_midway(programs, target):
    """SIGINT to imgtool send mid-transfer: it cancels, the board gives up and shows its menu again,
    and the slot and the slot byte stay as they were."""
    application = programs.big_application("demo application given up", GIVEN_UP_FILLER, bench=True)
    before = held_slots(target, len(application))
    with sending(target, download_of(programs, application), "--slot", "2") as send:
        interrupt_mid_transfer(send)
    assert held_slots(target, len(application)) == before, "the slot byte and the slots"


def test_incompatibility_question_answered_n(programs, target):
    """An application without the marker file: the launcher asks before it unpacks, and N goes on with
    the launch."""
    text = "demo application without its marker"
    install(programs, target, programs.application(text, marker=False, bench=True), 1)
    # R reboots into rescue mode again, and E boots the slot just written
    at_menu_type(target.line, b"r")
    target.line.expect_exact(RESCUE_ENTERED, timeout=target.boot_wait)
    target.line.expect_exact(MENU_PROMPT.encode(), timeout=BOOT_TIMEOUT)
    at_menu_type(target.line, b"e")
    target.line.expect_exact(b"Booting image '1'", timeout=BOOT_TIMEOUT)
    target.line.expect_exact(b"WARNING: Suspected incompatible application image detected during unpacking",
                             timeout=BOOT_TIMEOUT)
    target.line.expect_exact(PROMPT.encode(), timeout=BOOT_TIMEOUT)
    at_menu_type(target.line, b"n")
    target.line.expect_exact(UNPACKING, timeout=BOOT_TIMEOUT)
    target.line.expect_exact((BENCH_APPLICATION + text).encode(), timeout=BOOT_TIMEOUT)


@pytest.mark.slow
def test_send_board_restarts_during_the_transfer(programs, target):
    """The power cycled a few seconds into the blocks: imgtool send tells the restart from the boot
    loader's banner and stops sending, so that nothing reaches the countdown and the board boots on to
    its menu; it says nothing was installed and which slot the board boots, which E at the menu then
    boots, and the slots and the slot byte stay as they were."""
    application = programs.big_application("demo application cut short", RESTARTED_FILLER, bench=True)
    before = held_slots(target, len(application))
    with sending(target, download_of(programs, application), "--slot", "2") as send:
        send.expect(TRANSFER_STARTS)
        time.sleep(3)
        expect_still_sending(send, "the power cycle")
        target.power_cycle()
        send.expect(BOOT_LOADER_BANNER, deadline=time.monotonic() + target.boot_wait)
        assert send.finish(deadline=time.monotonic() + RESTART_NOTICE) == 1, \
            "imgtool send's exit status within 10 s of the boot loader's banner (send.out, send.err)"
        shown = send.printed()
        restarted = [line for _, line in send.err.lines if RESTARTED in line]
    assert restarted, f"imgtool send never said {RESTARTED!r} (send.err)"
    assert "installed:" not in shown, "the summary (send.out)"
    expect_back_at_menu(target, shown[shown.find(TRANSFER_STARTS):])
    assert held_slots(target, len(application)) == before, "the slot byte and the slots"
    at_menu_type(target.line, b"e")
    target.line.expect(BOOTING_SLOT, timeout=BOOT_TIMEOUT)
    booted = int(target.line.match[1])
    # The boot's first lines rarely reach the launcher's choice before the tool ends: then it says that
    # nothing was written, which the unchanged slots above bear out
    assert f"boots slot {booted}" in restarted[0] or "boots the slot it booted before this download" in restarted[0], \
        f"the slot the board boots, {booted}, in imgtool send's words"


def test_send_interrupted_before_the_transfer(programs, target):
    """SIGINT to imgtool send after it pressed X and before the Enter that starts the transfer: the
    tool still presses that Enter, then ends the transfer without a file (EOT, EOT), so that not a byte of
    the download goes out and the board's menu comes back instead of its wait at 115200 bit/s."""
    application = programs.application("demo application never sent", bench=True)
    before = held_slots(target, len(application))
    with sending(target, download_of(programs, application), "--slot", "2") as send:
        send.expect_note("pressing X")
        send.process.send_signal(signal.SIGINT)
        assert send.finish() == 1, "imgtool send's exit status (send.out, send.err)"
        send.said("cancelling before the first block")
        send.said("cancelled by the operator; nothing was installed, and its menu is back")
        shown = send.printed()
    assert not BYTES_SENT.search(send.err.text), "imgtool send's progress (send.err)"
    expect_back_at_menu(target, shown[shown.find("Running xmodem rescue"):])
    assert held_slots(target, len(application)) == before, "the slot byte and the slots"
