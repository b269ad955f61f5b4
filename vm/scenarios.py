#!/usr/bin/env python3
"""End-to-end scenarios on the virtual board: each makes a flash image, boots the ppc launcher with
vm/run-board, answers the console where the scenario says, and checks the launcher's console lines
of every boot, in order, and the flash and slot byte afterwards.

Usage: scenarios.py NAME --launcher PATH --mgmt-probe PATH     (scenarios.py --list names them)
Logs of a failed scenario stay in its directory under --logs, which the failure names."""
import argparse
import contextlib
import lzma
import os
import shutil
import sys
import tempfile
import time

# The board's modules are read from the checkout, which stays free of byte-code caches
sys.dont_write_bytecode = True
from virtualboard import boardbuild, records  # noqa: E402
from virtualboard.board import (APP, BOOT_TIMEOUT, KEY_DELAY, LINE_SPEED, Board, transfer_bound)  # noqa: E402
from virtualboard.runner import Failure, boots_of  # noqa: E402
from virtualboard.shell import shell_session  # noqa: E402
from virtualboard.terminal import CTRL_C, Picocom, TerminalError  # noqa: E402

# How long a link change may take to show: the guest's link interrupt and the kernel's carrier
# handling run on a loaded machine
LINK_WAIT = 20
LINK_POLL = 0.5


def expect_equal(what, got, wanted):
    if got != wanted:
        raise Failure(f"{what}:\n  got:    {got!r}\n  wanted: {wanted!r}")


def expect_boots(status, boots, wanted):
    expect_equal("runner exit status", status, 0)
    expect_equal("boots", len(boots), len(wanted))
    for number, (got, lines) in enumerate(zip(boots, wanted), start=1):
        expect_equal(f"console lines of boot {number}", got, lines)


def launched(slot, text):
    return [f"Booting image '{slot}'", "Uncompressing application image....",
            f"backtrace: starting {APP}", f"{APP}: {text}", "board: poweroff"]


SCENARIOS = {}


def scenario(function):
    SCENARIOS[function.__name__.replace("_", "-")] = function
    return function


def two_slots(board, env=()):
    board.make_flash(env, slot1=board.application("demo application from slot 1"),
                     slot2=board.application("demo application from slot 2"))


def with_bad_crc(record):
    return bytes([record[0] ^ 0xFF]) + record[1:]


def boots_the_named_slot(slot, cpu=None, one_line=False):
    """A scenario: the slot byte names SLOT, whose application starts, and the byte stays; on CPU
    when one is given."""
    def scenario_function(board):
        board.cpu = cpu or board.cpu
        two_slots(board)
        status, boots = board.boot(slot=slot, one_line=one_line)
        expect_boots(status, boots, [launched(slot, f"demo application from slot {slot}")])
        expect_equal("slot byte", board.slot_byte(), slot)
    return scenario_function


for name, slot, cpu, one_line in (("boot-slot1", 1, None, False), ("boot-slot2", 2, None, False),
                                  ("boot-on-one-line", 1, None, True), ("boot-e500v2", 1, "e500v2", False)):
    SCENARIOS[name] = boots_the_named_slot(slot, cpu, one_line)


@scenario
def erased_slot1_falls_back(board):
    board.make_flash(slot2=board.application("demo application from slot 2"))
    status, boots = board.boot(slot=1)
    expect_boots(status, boots, [["Booting image '1'",
                                  "Image has invalid header 0xffffffff. (0x64a414e)",
                                  "Image1 has invalid header... trying Image2."]
                                 + launched(2, "demo application from slot 2")])


@scenario
def bad_crc_in_both_resets(board):
    board.make_flash(slot1=with_bad_crc(board.application("demo application from slot 1")),
                     slot2=with_bad_crc(board.application("demo application from slot 2")))
    status, boots = board.boot(slot=1, boots=1)
    expect_boots(status, boots, [["Booting image '1'", "Image1 CRC failed, trying Image2 now.",
                                  "Booting image '2'", "Both image1 and image2 failed.", "board: reboot"]])
    expect_equal("slot byte", board.slot_byte(), 1)


@scenario
def diagnostics_record(board):
    diagnostics = boardbuild.demo_application("diagnostics application",
                                              os.path.join(board.workdir, "programs", "mpdiag"))
    archive = records.tar_gz([
        ("home/bin/mp.elf.strip.lzma", lzma.compress(b"replaced", format=lzma.FORMAT_ALONE), 0o644),
        ("home/bin/distro-id", b"diagnostics\n", 0o644),
        ("mpdiag.elf.strip", records.read(diagnostics), 0o755)])
    board.make_flash(slot2=records.record("diagnostics", archive))
    status, boots = board.boot(slot=2)
    expect_boots(status, boots, [["Booting image '2'", "Uncompressing application image....", "install diags image",
                                  f"backtrace: starting {APP}", f"{APP}: diagnostics application", "board: poweroff"]])


PROMPT = "Would you like to enter recovery mode to download a new image? y/N: "
MENU = ["Please select one of the following options:", "\tX) Use xmodem 1K to serial download an image",
        "\tR) Reboot", "\tE) Exit", ""]


def unmarked_slot1(board):
    board.make_flash(slot1=board.application("demo application from slot 1", marker=False))


@scenario
def missing_marker_answered_n(board):
    unmarked_slot1(board)
    status, boots = board.boot(slot=1, keys=[(PROMPT, b"n")])
    expect_boots(status, boots, [["Booting image '1'",
                                  "WARNING: Suspected incompatible application image detected during unpacking",
                                  PROMPT + "Uncompressing application image....",
                                  f"backtrace: starting {APP}", f"{APP}: demo application from slot 1",
                                  "board: poweroff"]])


@scenario
def missing_marker_answered_y_then_exit(board):
    unmarked_slot1(board)
    status, boots = board.boot(slot=1, keys=[(PROMPT, b"y"), ("Option? : ", b"e")])
    expect_boots(status, boots, [["Booting image '1'",
                                  "WARNING: Suspected incompatible application image detected during unpacking",
                                  PROMPT + "Entering Rescue Mode."] + MENU + ["Option? : ",
                                  "Uncompressing application image....",
                                  f"backtrace: starting {APP}", f"{APP}: demo application from slot 1",
                                  "board: poweroff"]])


@scenario
def ctrl_c_at_rescue_menu(board):
    """Ctrl-C on the console line (the tty makes it SIGINT) while the menu waits: the launcher lives
    on, prints the prompt again without a message, and takes the next key."""
    two_slots(board, ["diagnostics=rescue"])
    status, boots = board.boot(slot=1, boots=1, keys=[("Option? : ", b"\x03"), ("Option? : ", b"e")])
    expect_boots(status, boots, [["Entering Rescue Mode."] + MENU + ["Option? : ", "Option? : "]
                                 + launched(1, "demo application from slot 1")])


def debug_boot(board, env, lines, slot2=None):
    board.make_flash(env, slot1=board.application("demo application from slot 1"),
                     slot2=slot2 or board.application("demo application from slot 2"))
    status, boots = board.boot(slot=1, boots=1)
    expect_boots(status, boots, [["Booting image '1'"] + lines])


@scenario
def gdbserver_command_line(board):
    debug_boot(board, ["gdbserver=on", "gdbserver_ip=10.1.2.3", "gdbport=2345"],
               ["Uncompressing application image....", f"/bin/gdbserver 10.1.2.3:2345 {APP}", "board: reboot"])


@scenario
def gdbserver_with_memchk(board):
    debug_boot(board, ["gdbserver=on", "gdbserver_ip=192.168.1.10", "gdbport=7", "memchk=on"],
               ["Uncompressing application image....", "libduma.so.0.0.0: memory checker loaded",
                f"/bin/gdbserver 192.168.1.10:7 {APP}", "board: reboot"])


@scenario
def memchk_preloads_duma(board):
    debug_boot(board, ["memchk=on"],
               ["Uncompressing application image....", "libduma.so.0.0.0: memory checker loaded",
                f"{APP}: demo application from slot 1", "board: poweroff"])


@scenario
def gdb_from_other_slot(board):
    gdb = board.debugger()
    debug_boot(board, ["gdb=on"],
               ["Extracting GDB from image slot 2", f"Found GDB image 2 of length = {len(gdb) - 16}.",
                "decompressing GDB....", "Uncompressing application image....", "*** Launching under GDB ***",
                f"/tmp/gdb {APP}", "board: reboot"], slot2=gdb)


DOWNLOAD = ["Option? : ", "Running xmodem rescue.....", "Init serial",
            "       Change the baud rate to 115200 bps and hit the <ENTER> key",
            "       before initiating the download.", "Init serial done", "EOT", "All done",
            "       Change the baud rate back to 9600 bps, hit the <ENTER> key", "",
            "Extracting images ... Do *NOT* power cycle the switch."]


@scenario
def rescue_download_installs_slot2(board):
    kernel = records.record("kernel", bytes(range(256)) * 64, 0x11)
    rootfs = records.record("rootfs", bytes(255 - i % 256 for i in range(24000)), 0x22)
    application = board.application("demo application from the download")
    download = os.path.join(board.workdir, "download.bin")
    records.write(download, kernel + rootfs + application)
    board.make_flash(["diagnostics=rescue"], slot1=board.application("demo application from slot 1"))
    status, boots = board.boot(slot=1, send=download, keys=[
        ("Option? : ", b"x"), ("(hit return to just boot image): ", b"2\r"), ("Option? : ", b"r"),
        ("Option? : ", b"e")])
    expect_boots(status, boots, [
        ["Entering Rescue Mode."] + MENU + DOWNLOAD + [
            # One progress dot for each flash sector written: every record here fits one 64 KiB sector
            "**** KERNEL ****", ".", "**** ROOTFILESYSTEM ****", ".", "**** APPLICATION ****",
            "Install image as image 1 or 2 (hit return to just boot image): 2", "",
            "Installing image as image2...", ".", "Image2 updated succeeded"] + MENU + [
            "Option? : ", "board: reboot"],
        # The slot byte written by the installer outlives the reboot
        ["Entering Rescue Mode."] + MENU + ["Option? : "] + launched(2, "demo application from the download")])
    expect_equal("slot byte", board.slot_byte(), 2)
    expect_equal("kernel area", board.flash_bytes(0x01E00000, len(kernel)), kernel)
    expect_equal("root file system area", board.flash_bytes(0x01000000, len(rootfs)), rootfs)
    expect_equal("slot 2", board.flash_bytes(0x00800000, len(application)), application)


@scenario
def rescue_download_on_block2mtd(board):
    """The installer's sector rewrites on the board's own 128 KiB erase blocks: the flash is a virtio
    disk made an MTD by block2mtd."""
    board.flash_backend = "block2mtd"
    old_rootfs = records.record("rootfs", b"\x5a" * 400000, 0x21)
    rootfs = records.record("rootfs", bytes(i * 7 % 251 for i in range(300000)), 0x22)
    application = board.application("demo application from the download")
    slot1 = board.application("demo application from slot 1")
    download = os.path.join(board.workdir, "download.bin")
    records.write(download, rootfs + application)
    board.make_flash(["diagnostics=rescue"], slot1=slot1, rootfs=old_rootfs)
    status, boots = board.boot(slot=1, boots=1, send=download, keys=[
        ("Option? : ", b"x"), ("(hit return to just boot image): ", b"2\r"), ("Option? : ", b"e")])
    expect_boots(status, boots, [
        ["Entering Rescue Mode."] + MENU + DOWNLOAD + [
            # 300016 bytes span three 128 KiB sectors
            "**** ROOTFILESYSTEM ****", "...", "**** APPLICATION ****",
            "Install image as image 1 or 2 (hit return to just boot image): 2", "",
            "Installing image as image2...", ".", "Image2 updated succeeded"] + MENU + [
            "Option? : "] + launched(2, "demo application from the download")])
    expect_equal("slot byte", board.slot_byte(), 2)
    expect_equal("root file system area", board.flash_bytes(0x01000000, len(rootfs)), rootfs)
    # The rest of the last sector written, and the sector after it, keep the old record's bytes
    expect_equal("old root file system after the new one",
                 board.flash_bytes(0x01000000 + len(rootfs), len(old_rootfs) - len(rootfs)),
                 old_rootfs[len(rootfs):])
    expect_equal("slot 2", board.flash_bytes(0x00800000, len(application)), application)
    expect_equal("slot 1", board.flash_bytes(0x00000000, len(slot1)), slot1)


@scenario
def rescue_download_on_one_line(board):
    application = board.application("demo application from the download")
    download = os.path.join(board.workdir, "download.bin")
    records.write(download, application)
    board.make_flash(["diagnostics=rescue"], slot1=board.application("demo application from slot 1"))
    status, boots = board.boot(slot=1, send=download, one_line=True, keys=[
        ("Option? : ", b"x"), ("(hit return to just boot image): ", b"1\r"), ("Option? : ", b"e")])
    # Every byte the board prints before and after the transfer shows: the receiver's first 'C', and
    # after its last reply the lines that end the download. The port is raw while it is the
    # download's (no carriage returns), and the operator's Enter is echoed on the same line.
    expect_boots(status, boots, [
        ["Entering Rescue Mode."] + MENU + [
            "Option? : ", "Running xmodem rescue.....", "Init serial",
            "       Change the baud rate to 115200 bps and hit the <ENTER> key",
            "       before initiating the download.", "Init serial done", "CAll done",
            "       Change the baud rate back to 9600 bps, hit the <ENTER> key", "", "",
            "Extracting images ... Do *NOT* power cycle the switch.", "**** APPLICATION ****",
            "Install image as image 1 or 2 (hit return to just boot image): 1", "",
            "Installing image as image1...", ".", "Image1 updated succeeded"] + MENU + [
            "Option? : "] + launched(1, "demo application from the download")])
    expect_equal("slot byte", board.slot_byte(), 1)
    expect_equal("slot 1", board.flash_bytes(0x00000000, len(application)), application)


# The technician's road, as README's rescue download section gives it: picocom on the board's line
# (a host pty, paced at the field's 115200 bit/s), started at the console's 9600 bit/s.

# The download's application: 100 KB of filler make it about nine seconds on the line
DOWNLOAD_FILLER = 100000


@contextlib.contextmanager
def technician(board, slot, boots, download):
    """run-board with the line on a pty; picocom attached as the technician starts it."""
    seconds = BOOT_TIMEOUT * boots + 2 * transfer_bound(download)
    with board.line_on_pty(slot, boots, seconds) as (runner, link):
        picocom = Picocom(link, os.path.join(board.workdir, "screen.log"), board.workdir)
        try:
            yield runner, picocom
        finally:
            picocom.close()


def start_download(picocom, at_menu=False):
    """X at the menu, then switch the terminal to 115200 bit/s and hit Enter."""
    if not at_menu:
        picocom.wait_for("Option? : ", BOOT_TIMEOUT)
    picocom.type(b"x")
    picocom.wait_for("before initiating the download.", BOOT_TIMEOUT)
    time.sleep(KEY_DELAY)
    switch_to_download_speed(picocom)


def switch_to_download_speed(picocom):
    picocom.set_speed(115200)
    picocom.type(b"\r")
    picocom.wait_for("Init serial done", BOOT_TIMEOUT)


def end_download(picocom, seconds):
    """Once the board asks, switch the terminal back to 9600 bit/s and hit Enter. sx's last read takes
    what the line has brought by then, which can be the start of the board's question, as it does
    on the module's line: the end of the question is what shows for certain."""
    picocom.wait_for("9600 bps, hit the <ENTER> key", seconds)
    time.sleep(KEY_DELAY)
    picocom.set_speed(9600)
    picocom.type(b"\r")


def send_and_install(picocom, download, slot):
    """The file sent while the board asks for it, then the switch back and the slot's answer."""
    picocom.send(download)
    picocom.wait_for("Transfer complete", transfer_bound(download))
    end_download(picocom, BOOT_TIMEOUT)
    picocom.wait_for("Install image as image 1 or 2 (hit return to just boot image): ", BOOT_TIMEOUT)
    picocom.type(f"{slot}\r".encode())
    picocom.wait_for(f"Image{slot} updated succeeded", BOOT_TIMEOUT)


def download_and_install(picocom, download, slot, at_menu=False):
    start_download(picocom, at_menu)
    send_and_install(picocom, download, slot)


def technician_board(board):
    """Rescue mode on a board with an application in slot 1; a download holding a new application."""
    application = board.big_application("demo application from the download", DOWNLOAD_FILLER)
    download = os.path.join(board.workdir, "download.bin")
    records.write(download, application)
    board.make_flash(["diagnostics=rescue"], slot1=board.application("demo application from slot 1"))
    return application, download


def expect_installed(board, slot, application):
    """The slot byte names SLOT, which holds APPLICATION."""
    expect_equal("slot byte", board.slot_byte(), slot)
    expect_equal(f"slot {slot}", board.flash_bytes({1: 0x00000000, 2: 0x00800000}[slot], len(application)),
                 application)


def expect_booted(picocom, slot, text):
    """E at the menu boots the slot, and its application runs."""
    picocom.wait_for("Option? : ", BOOT_TIMEOUT)
    picocom.type(b"e")
    picocom.wait_for(f"Booting image '{slot}'", BOOT_TIMEOUT)
    picocom.wait_for(f"{APP}: {text}", BOOT_TIMEOUT)


@scenario
def technician_downloads_with_picocom(board):
    application, download = technician_board(board)
    with technician(board, 1, 2, download) as (runner, picocom):
        download_and_install(picocom, download, 2)
        picocom.wait_for("Option? : ", BOOT_TIMEOUT)
        picocom.type(b"r")
        # The next boot starts the new application from slot 2
        picocom.wait_for("board: reboot", BOOT_TIMEOUT)
        expect_booted(picocom, 2, "demo application from the download")
        expect_equal("runner exit status", runner.finish(), 0)
    expect_installed(board, 2, application)


@scenario
def technician_quits_transfer_then_retries(board):
    """Ctrl-C in picocom mid-transfer ends sx; the receiver gives up, the menu comes back with nothing
    written, and the download done again installs."""
    application, download = technician_board(board)
    slot2_before = board.flash_bytes(0x00800000, len(application))
    with technician(board, 1, 1, download) as (runner, picocom):
        start_download(picocom)
        picocom.send(download)
        picocom.wait_for("/ 8k", BOOT_TIMEOUT)
        picocom.type(CTRL_C)
        picocom.wait_for("*** exit status: 130 ***", BOOT_TIMEOUT)
        # Three silent rounds of five seconds, each followed by the two-second drain
        end_download(picocom, BOOT_TIMEOUT)
        picocom.wait_for("Option? : ", BOOT_TIMEOUT)
        expect_equal("slot 2 after the transfer given up", board.flash_bytes(0x00800000, len(application)),
                     slot2_before)
        download_and_install(picocom, download, 2, at_menu=True)
        expect_booted(picocom, 2, "demo application from the download")
        expect_equal("runner exit status", runner.finish(), 0)
    expect_installed(board, 2, application)


@scenario
def technician_sends_before_asked(board):
    """The send started before the switch to 115200 and the Enter: sx waits for a receiver that
    waits for the Enter; Ctrl-C ends sx, and the download done as README says installs. Then the
    technician quits picocom."""
    application, download = technician_board(board)
    with technician(board, 1, 1, download) as (runner, picocom):
        picocom.wait_for("Option? : ", BOOT_TIMEOUT)
        picocom.type(b"x")
        picocom.wait_for("Change the baud rate to 115200 bps and hit the <ENTER> key", BOOT_TIMEOUT)
        picocom.send(download)
        picocom.wait_for("Give your local XMODEM receive command now.", BOOT_TIMEOUT)
        time.sleep(5)
        picocom.type(CTRL_C)
        picocom.wait_for("*** exit status: 130 ***", BOOT_TIMEOUT)
        switch_to_download_speed(picocom)
        send_and_install(picocom, download, 1)
        # Quitting picocom closes the line: run-board stops the board and ends
        picocom.wait_for("Option? : ", BOOT_TIMEOUT)
        picocom.quit()
        expect_equal("runner exit status", runner.finish(), 0)
    with open(os.path.join(board.workdir, "run-board.log")) as log:
        if "the terminal program closed the board's line" not in log.read():
            raise Failure("run-board did not end with the terminal program")
    expect_installed(board, 1, application)


@scenario
def keys_typed_during_transfer(board):
    """Keys typed on the line while sx sends go out between its bytes: the receiver refuses the blocks
    they spoil, sx sends them again, and the download arrives whole."""
    application, download = technician_board(board)
    with board.runner(1, 1, "--one-line", "--send", download, "--line-speed", str(LINE_SPEED),
                      seconds=BOOT_TIMEOUT + 2 * transfer_bound(download)) as runner:
        position = runner.wait_for("Option? : ", 0)
        runner.type(b"x")
        position = runner.wait_for("Init serial done", position)
        for keys in (b"2\r", b"x", b"\r\n1"):
            time.sleep(2)
            runner.type(keys)
        position = runner.wait_for("(hit return to just boot image): ", position)
        runner.type(b"2\r")
        position = runner.wait_for("Image2 updated succeeded", position)
        runner.wait_for("Option? : ", position)
        runner.type(b"e")
        expect_equal("runner exit status", runner.finish(), 0)
    expect_equal("last boot", boots_of(runner.console.text)[-1][-5:],
                 launched(2, "demo application from the download"))
    expect_installed(board, 2, application)


# Device faults set up with the kernel's own means: a small tmpfs, a flash chip that refuses to
# change, an EEPROM that is not at its address, device nodes that are not there.

@scenario
def tmp_full_on_boot(board):
    """A /tmp too small for the slot's archive: the archive is cut short, the unpacking lacks the
    marker, and the launcher offers rescue mode; declined, it goes on to a launch that fails."""
    board.make_flash(slot1=board.big_application("demo application from slot 1", 300000))
    status, boots = board.boot(slot=1, boots=1, keys=[(PROMPT, b"n")], options=["--tmp-size", "128k"])
    # The archive fills /tmp, the board's tar stops at the next file, and its lzma finds no binary
    expect_boots(status, boots, [["Booting image '1'", "tar: write error: No space left on device",
                                  "WARNING: Suspected incompatible application image detected during unpacking",
                                  PROMPT + "Uncompressing application image....", "unlzma: bad lzma header",
                                  f"backtrace: starting {APP}",
                                  "backtrace: cannot start the application: Exec format error",
                                  "board: /bin/launcher ended", "board: poweroff"]])
    expect_equal("slot byte", board.slot_byte(), 1)


@scenario
def tmp_full_in_rescue(board):
    """A /tmp too small for the download: the receiver gives the transfer up, nothing is installed,
    the menu comes back, and what had arrived is gone from /tmp: the boot after it unpacks its slot."""
    download = os.path.join(board.workdir, "download.bin")
    records.write(download, board.big_application("demo application from the download", 300000))
    slot1 = board.application("demo application from slot 1")
    board.make_flash(["diagnostics=rescue"], slot1=slot1)
    status, boots = board.boot(slot=1, boots=1, send=download, keys=[("Option? : ", b"x"), ("Option? : ", b"e")],
                               options=["--tmp-size", "128k"])
    expect_boots(status, boots, [["Entering Rescue Mode."] + MENU + DOWNLOAD[:6]
                                 + ["       Change the baud rate back to 9600 bps, hit the <ENTER> key"] + MENU
                                 + ["Option? : "] + launched(1, "demo application from slot 1")])
    expect_equal("slot byte", board.slot_byte(), 1)
    expect_equal("slot 2", board.flash_bytes(0x00800000, 16), b"\xff" * 16)


@scenario
def read_only_flash(board):
    """The kernel offers the flash as a read-only partition: the launcher boots from it all the same,
    the installer says the install failed, and the slot byte stays."""
    application = board.application("demo application from the download")
    download = os.path.join(board.workdir, "download.bin")
    records.write(download, application)
    slot1 = board.application("demo application from slot 1")
    board.make_flash(["diagnostics=rescue"], slot1=slot1)
    status, boots = board.boot(slot=1, boots=1, send=download, options=["--fault", "read-only-flash"], keys=[
        ("Option? : ", b"x"), ("(hit return to just boot image): ", b"2\r"), ("Option? : ", b"e")])
    expect_boots(status, boots, [["Entering Rescue Mode."] + MENU + DOWNLOAD + [
        "**** APPLICATION ****", "Install image as image 1 or 2 (hit return to just boot image): 2", "",
        "Installing image as image2...", "Flash Write mtd erase failed.", "", "Image2 updated failed"] + MENU
        + ["Option? : "] + launched(1, "demo application from slot 1")])
    expect_equal("slot byte", board.slot_byte(), 1)
    expect_equal("slot 2", board.flash_bytes(0x00800000, 16), b"\xff" * 16)


@scenario
def no_eeprom(board):
    """Nothing answers at the EEPROM's address: the slot byte reads as slot 1, and an application
    installed into slot 2 is written but not selected; the walk goes on and the boot takes slot 1."""
    application = board.application("demo application from the download")
    download = os.path.join(board.workdir, "download.bin")
    records.write(download, application)
    board.make_flash(["diagnostics=rescue"], slot1=board.application("demo application from slot 1"))
    status, boots = board.boot(slot=2, boots=1, send=download, options=["--fault", "no-eeprom"], keys=[
        ("Option? : ", b"x"), ("(hit return to just boot image): ", b"2\r"), ("Option? : ", b"e")])
    # i2c-stub answers a transfer to an address it does not serve with ENODEV (19); the board's own
    # adapter, as any whose address byte goes unacknowledged, with ENXIO (6)
    expect_boots(status, boots, [["Entering Rescue Mode."] + MENU + DOWNLOAD + [
        "**** APPLICATION ****", "Install image as image 1 or 2 (hit return to just boot image): 2", "",
        "Installing image as image2...", ".", "Image2 updated succeeded", "I2C error when writing bus 0 offset 1: 19",
        "Image2 written but not selected: the slot byte could not be stored"] + MENU
        + ["Option? : "] + launched(1, "demo application from slot 1")])
    expect_equal("slot 2", board.flash_bytes(0x00800000, len(application)), application)
    expect_equal("slot byte", board.slot_byte(), 2)


@scenario
def no_cpld(board):
    """No CPLD register device: every gate change says so, and the boot goes on."""
    two_slots(board)
    status, boots = board.boot(slot=1, boots=1, options=["--fault", "no-cpld"])
    # The board's EEPROM answers whatever the gate: the slot byte is read all the same
    expect_boots(status, boots, [["CPLD driver could not be opened", "CPLD driver could not be opened"]
                                 + launched(1, "demo application from slot 1")])


@scenario
def no_download_port(board):
    """No /dev/ttyS0: the receiver cannot open its port, and the menu comes back."""
    two_slots(board, ["diagnostics=rescue"])
    status, boots = board.boot(slot=1, boots=1, options=["--fault", "no-download-port"],
                               keys=[("Option? : ", b"x"), ("Option? : ", b"e")])
    expect_boots(status, boots, [["Entering Rescue Mode."] + MENU + [
        "Option? : ", "Running xmodem rescue.....", "Init serial", "Can't open serial port!: No such file or directory",
        "Init serial done"] + MENU + ["Option? : "] + launched(1, "demo application from slot 1")])


def link_status(shell):
    return shell.run("mgmt-probe")


def link_status_becomes(shell, wanted, what):
    """Probes until the link test gives WANTED, within LINK_WAIT seconds."""
    deadline = time.monotonic() + LINK_WAIT
    while True:
        said = link_status(shell)
        if said == f"mgmt_link_status: {wanted}":
            return
        if time.monotonic() >= deadline:
            raise Failure(f"{what}: the probe still says {said!r} after {LINK_WAIT} s, not {wanted}")
        time.sleep(LINK_POLL)


@scenario
def management_link(board):
    board.make_flash()
    with shell_session(board) as (shell, qmp):
        link_status_becomes(shell, 1, "eth0 brought up at boot")
        shell.run("ip link set eth0 down")
        # Taking the interface down clears its flag at once
        expect_equal("probe after ip link set eth0 down", link_status(shell), "mgmt_link_status: 0")
        shell.run("ip link set eth0 up")
        link_status_becomes(shell, 1, "after ip link set eth0 up")
        qmp.execute("set_link", name="n0", up=False)
        link_status_becomes(shell, 0, "after QMP set_link off")
        qmp.execute("set_link", name="n0", up=True)
        link_status_becomes(shell, 1, "after QMP set_link on")


# The operator's quit key on the one line relayed to run-board's own terminal.

@scenario
def quit_key_on_one_line(board):
    """Ctrl-] at the rescue menu stops QEMU without reaching the board: no download starts, and
    run-board ends with status 0 and says why."""
    two_slots(board, ["diagnostics=rescue"])
    status, boots = board.boot(slot=1, boots=1, one_line=True, keys=[("Option? : ", b"\x1d")])
    # The boot ends at the menu's prompt: the board neither took a key nor printed anything after it
    expect_boots(status, boots, [["Entering Rescue Mode."] + MENU + ["Option? : "]])
    with open(os.path.join(board.workdir, "run-board.log")) as log:
        said = log.read()
    if "vm: quit key (Ctrl-]) typed: QEMU stopped" not in said:
        raise Failure(f"run-board did not say that the quit key stopped QEMU:\n{said[-500:]}")


def run_scenario(name, launcher, probe, cpu, logs, keep):
    os.makedirs(logs, exist_ok=True)
    workdir = tempfile.mkdtemp(prefix=f"vm-{name}-", dir=logs)
    try:
        SCENARIOS[name](Board(workdir, launcher, probe, cpu))
    except (Failure, TerminalError) as failure:
        print(f"FAILED {name}: {failure}\nlogs kept in {workdir}", file=sys.stderr)
        return 1
    if keep:
        print(f"passed {name}; logs in {workdir}")
    else:
        print(f"passed {name}")
        shutil.rmtree(workdir, ignore_errors=True)
    return 0


def main(argv):
    parser = argparse.ArgumentParser(prog="scenarios.py", description=__doc__.split("\n\n")[0])
    parser.add_argument("name", nargs="?", choices=sorted(SCENARIOS))
    parser.add_argument("--launcher", help="the ppc launcher to boot (default: the ppc preset's, installed "
                        "into a staging root, built when missing)")
    parser.add_argument("--mgmt-probe", help="the ppc management link probe (default: as the launcher)")
    parser.add_argument("--cpu", choices=boardbuild.CPUS, default="e500mc")
    parser.add_argument("--logs", default=tempfile.gettempdir(), metavar="DIR",
                        help="where each scenario keeps its flash, state and logs (removed when it passes)")
    parser.add_argument("--keep", action="store_true", help="keep the logs of a passing scenario too")
    parser.add_argument("--list", action="store_true")
    args = parser.parse_args(argv)
    if args.list or not args.name:
        print("\n".join(sorted(SCENARIOS)))
        return 0
    return run_scenario(args.name, args.launcher, args.mgmt_probe, args.cpu, args.logs, args.keep)


# The scenarios of imgtool send live in a file of their own and add themselves to SCENARIOS; run as a
# program, this module is what they import as scenarios
sys.modules.setdefault("scenarios", sys.modules[__name__])
import send_scenarios  # noqa: E402,F401

if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
