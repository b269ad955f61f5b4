"""Device faults set up with the kernel's own means: a small tmpfs, a flash chip that refuses to
change, an EEPROM that is not at its address, device nodes that are not there."""
import os

import pytest
from expected import APP, DOWNLOAD, MENU, PROMPT, expect_boots, launched

from virtualboard import records

pytestmark = [pytest.mark.flash_access, pytest.mark.device_faults]

SLOT2_ERASED = b"\xff" * 16


def rescue_board_with_download(board, application):
    """Rescue mode, slot 1's application; a download of APPLICATION."""
    download = os.path.join(board.workdir, "download.bin")
    records.write(download, application)
    board.make_flash(["diagnostics=rescue"], slot1=board.application("demo application from slot 1"))
    return download


def test_tmp_full_on_boot(board):
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
    assert board.slot_byte() == 1


def test_tmp_full_in_rescue(board):
    """A /tmp too small for the download: the receiver gives the transfer up, nothing is installed,
    the menu comes back, and what had arrived is gone from /tmp: the boot after it unpacks its slot."""
    download = rescue_board_with_download(
        board, board.big_application("demo application from the download", 300000))
    status, boots = board.boot(slot=1, boots=1, send=download, keys=[("Option? : ", b"x"), ("Option? : ", b"e")],
                               options=["--tmp-size", "128k"])
    expect_boots(status, boots, [["Entering Rescue Mode."] + MENU + DOWNLOAD[:6]
                                 + ["       Change the baud rate back to 9600 bps, hit the <ENTER> key"] + MENU
                                 + ["Option? : "] + launched(1, "demo application from slot 1")])
    assert board.slot_byte() == 1
    assert board.flash_bytes(0x00800000, 16) == SLOT2_ERASED, "slot 2"


def test_read_only_flash(board):
    """The kernel offers the flash as a read-only partition: the launcher boots from it all the same,
    the installer says the install failed, and the slot byte stays."""
    download = rescue_board_with_download(board, board.application("demo application from the download"))
    status, boots = board.boot(slot=1, boots=1, send=download, options=["--fault", "read-only-flash"], keys=[
        ("Option? : ", b"x"), ("(hit return to just boot image): ", b"2\r"), ("Option? : ", b"e")])
    expect_boots(status, boots, [["Entering Rescue Mode."] + MENU + DOWNLOAD + [
        "**** APPLICATION ****", "Install image as image 1 or 2 (hit return to just boot image): 2", "",
        "Installing image as image2...", "Flash Write mtd erase failed.", "", "Image2 updated failed"] + MENU
        + ["Option? : "] + launched(1, "demo application from slot 1")])
    assert board.slot_byte() == 1
    assert board.flash_bytes(0x00800000, 16) == SLOT2_ERASED, "slot 2"


def test_no_eeprom(board):
    """Nothing answers at the EEPROM's address: the slot byte reads as slot 1, and an application
    installed into slot 2 is written but not selected; the walk goes on and the boot takes slot 1."""
    application = board.application("demo application from the download")
    download = rescue_board_with_download(board, application)
    status, boots = board.boot(slot=2, boots=1, send=download, options=["--fault", "no-eeprom"], keys=[
        ("Option? : ", b"x"), ("(hit return to just boot image): ", b"2\r"), ("Option? : ", b"e")])
    # i2c-stub answers a transfer to an address it does not serve with ENODEV (19); the board's own
    # adapter, as any whose address byte goes unacknowledged, with ENXIO (6)
    expect_boots(status, boots, [["Entering Rescue Mode."] + MENU + DOWNLOAD + [
        "**** APPLICATION ****", "Install image as image 1 or 2 (hit return to just boot image): 2", "",
        "Installing image as image2...", ".", "Image2 updated succeeded", "I2C error when writing bus 0 offset 1: 19",
        "Image2 written but not selected: the slot byte could not be stored"] + MENU
        + ["Option? : "] + launched(1, "demo application from slot 1")])
    assert board.flash_bytes(0x00800000, len(application)) == application, "slot 2"
    assert board.slot_byte() == 2


def test_no_cpld(board):
    """No CPLD register device: every gate change says so, and the boot goes on."""
    board.make_two_slots()
    status, boots = board.boot(slot=1, boots=1, options=["--fault", "no-cpld"])
    # The board's EEPROM answers whatever the gate: the slot byte is read all the same
    expect_boots(status, boots, [["CPLD driver could not be opened", "CPLD driver could not be opened"]
                                 + launched(1, "demo application from slot 1")])


def test_no_download_port(board):
    """No /dev/ttyS0: the receiver cannot open its port, and the menu comes back."""
    board.make_two_slots(["diagnostics=rescue"])
    status, boots = board.boot(slot=1, boots=1, options=["--fault", "no-download-port"],
                               keys=[("Option? : ", b"x"), ("Option? : ", b"e")])
    expect_boots(status, boots, [["Entering Rescue Mode."] + MENU + [
        "Option? : ", "Running xmodem rescue.....", "Init serial", "Can't open serial port!: No such file or directory",
        "Init serial done"] + MENU + ["Option? : "] + launched(1, "demo application from slot 1")])
