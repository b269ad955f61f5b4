"""Rescue mode and the installer: the menu's keys, a download over sx -k installed on either flash
back end and on the one line, and the operator's quit key at the menu."""
import os

import pytest
from expected import DOWNLOAD, MENU, expect_boots, launched

from virtualboard import records

pytestmark = pytest.mark.flash_access


def test_ctrl_c_at_rescue_menu(board):
    """Ctrl-C on the console line (the tty makes it SIGINT) while the menu waits: the launcher lives
    on, prints the prompt again without a message, and takes the next key."""
    board.make_two_slots(["diagnostics=rescue"])
    status, boots = board.boot(slot=1, boots=1, keys=[("Option? : ", b"\x03"), ("Option? : ", b"e")])
    expect_boots(status, boots, [["Entering Rescue Mode."] + MENU + ["Option? : ", "Option? : "]
                                 + launched(1, "demo application from slot 1")])


def test_rescue_download_installs_slot2(board):
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
    assert board.slot_byte() == 2
    assert board.flash_bytes(0x01E00000, len(kernel)) == kernel, "kernel area"
    assert board.flash_bytes(0x01000000, len(rootfs)) == rootfs, "root file system area"
    assert board.flash_bytes(0x00800000, len(application)) == application, "slot 2"


@pytest.mark.slow
@pytest.mark.parametrize("flash_backend", ["block2mtd"])
def test_rescue_download_on_block2mtd(board):
    """The installer's sector rewrites on the board's own 128 KiB erase blocks: the flash is a virtio
    disk made an MTD by block2mtd."""
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
    assert board.slot_byte() == 2
    assert board.flash_bytes(0x01000000, len(rootfs)) == rootfs, "root file system area"
    # The rest of the last sector written, and the sector after it, keep the old record's bytes
    assert board.flash_bytes(0x01000000 + len(rootfs), len(old_rootfs) - len(rootfs)) == old_rootfs[len(rootfs):], \
        "old root file system after the new one"
    assert board.flash_bytes(0x00800000, len(application)) == application, "slot 2"
    assert board.flash_bytes(0x00000000, len(slot1)) == slot1, "slot 1"


def test_rescue_download_on_one_line(board):
    application = board.application("demo application from the download")
    download = os.path.join(board.workdir, "download.bin")
    records.write(download, application)
    board.make_flash(["diagnostics=rescue"], slot1=board.application("demo application from slot 1"))
    status, boots = board.boot(slot=1, send=download, one_line=True, keys=[
        ("Option? : ", b"x"), ("(hit return to just boot image): ", b"1\r"), ("Option? : ", b"e")])
    # Every byte the board prints before and after the transfer shows: the receiver's first 'C', and
    # after its last reply its note of the sender's EOT and the lines that end the download. The port
    # is raw while it is the download's (no carriage returns), and the operator's Enter is echoed on
    # the same line.
    expect_boots(status, boots, [
        ["Entering Rescue Mode."] + MENU + [
            "Option? : ", "Running xmodem rescue.....", "Init serial",
            "       Change the baud rate to 115200 bps and hit the <ENTER> key",
            "       before initiating the download.", "Init serial done", "CEOT", "All done",
            "       Change the baud rate back to 9600 bps, hit the <ENTER> key", "", "",
            "Extracting images ... Do *NOT* power cycle the switch.", "**** APPLICATION ****",
            "Install image as image 1 or 2 (hit return to just boot image): 1", "",
            "Installing image as image1...", ".", "Image1 updated succeeded"] + MENU + [
            "Option? : "] + launched(1, "demo application from the download")])
    assert board.slot_byte() == 1
    assert board.flash_bytes(0x00000000, len(application)) == application, "slot 1"


def test_quit_key_on_one_line(board):
    """Ctrl-] at the rescue menu stops QEMU without reaching the board: no download starts, and
    run-board ends with status 0 and says why."""
    board.make_two_slots(["diagnostics=rescue"])
    status, boots = board.boot(slot=1, boots=1, one_line=True, keys=[("Option? : ", b"\x1d")])
    # The boot ends at the menu's prompt: the board neither took a key nor printed anything after it
    expect_boots(status, boots, [["Entering Rescue Mode."] + MENU + ["Option? : "]])
    with open(os.path.join(board.workdir, "run-board.log")) as log:
        assert "vm: quit key (Ctrl-]) typed: QEMU stopped" in log.read()
