"""The technician's road on the board's one line, a host pseudo-terminal paced at the field's
115200 bit/s: picocom started at the console's 9600 bit/s sending with sx as the technician's runbook
gives it, keys typed while a transfer runs, and imgtool send opening the line as a laptop
opens its serial adapter.

imgtool send runs as a child bounded by --wait and a deadline of its own, its standard output (the
board's console and the summary) and standard error kept as send.out and send.err in the board's
workdir; its scenarios check its exit status, the phrases it gives its outcome, and the flash and
slot byte afterwards."""
import contextlib
import os
import re
import termios
import time

import pytest
from expected import APP, SLOT_BASES, expect_installed
from roads import (MENU_PROMPT, SWITCH_BACK, TRANSFER_STARTS, download_and_install, end_download, expect_booted,
                   expect_menu_after, expect_still_sending, send_and_install, start_download,
                   switch_to_download_speed)

from virtualboard import records
from virtualboard.board import BOOT_TIMEOUT, LINE_SPEED, Board, transfer_bound
from virtualboard.imgtool_send import Send, send_arguments
from virtualboard.runner import boots_of
from virtualboard.terminal import CTRL_C, Picocom

pytestmark = pytest.mark.flash_access

# The download's application: 100 KB of filler make it about nine seconds on the line
DOWNLOAD_FILLER = 100000
# Downloads in a row on the picocom road: on the one line, sx must take the receiver's answers, not
# the board's console text, for what they are every time
PICOCOM_DOWNLOADS = 10
# An application whose slot write outlasts the way from the board's banner line to the power cut
SLOT_WRITE_FILLER = 400000
KERNEL_BASE = 0x01E00000


def technician_board(board):
    """Rescue mode on a board with an application in slot 1; a download holding a new application."""
    application = board.big_application("demo application from the download", DOWNLOAD_FILLER)
    download = os.path.join(board.workdir, "download.bin")
    records.write(download, application)
    board.make_flash(["diagnostics=rescue"], slot1=board.application("demo application from slot 1"))
    return application, download


def expect_untouched(board, application):
    """Nothing reached slot 2, and the slot byte still names slot 1."""
    assert board.flash_bytes(SLOT_BASES[2], len(application)) == b"\xff" * len(application), "slot 2"
    assert board.slot_byte() == 1


# picocom, as the technician drives it

@contextlib.contextmanager
def technician(board, slot, boots, download, downloads=1):
    """run-board with the line on a pty; picocom attached as the technician starts it."""
    seconds = BOOT_TIMEOUT * boots + 2 * downloads * transfer_bound(download)
    with board.line_on_pty(slot, boots, seconds) as (runner, link):
        picocom = Picocom(link, os.path.join(board.workdir, "screen.log"), board.workdir)
        try:
            yield runner, picocom
        finally:
            picocom.close()


def test_technician_downloads_with_picocom(board):
    """A small download sent again and again, sx reporting each transfer complete; then the reboot
    starts what the last one installed."""
    application = new_application(board)
    download = rescue_board(board, application)
    with technician(board, 1, 2, download, PICOCOM_DOWNLOADS) as (runner, picocom):
        for _ in range(PICOCOM_DOWNLOADS):
            download_and_install(picocom, download, 2)
        picocom.screen.expect_exact(MENU_PROMPT, timeout=BOOT_TIMEOUT)
        picocom.type(b"r")
        # The next boot starts the new application from slot 2
        picocom.screen.expect_exact("board: reboot", timeout=BOOT_TIMEOUT)
        expect_booted(picocom, 2, "demo application from the download")
        assert runner.finish() == 0, "run-board's exit status"
    expect_installed(board, 2, application)


@pytest.mark.slow
def test_technician_quits_transfer_then_retries(board):
    """Ctrl-C in picocom mid-transfer ends sx; the receiver gives up, the menu comes back with nothing
    written, and the download done again installs."""
    application, download = technician_board(board)
    with technician(board, 1, 1, download) as (runner, picocom):
        start_download(picocom)
        picocom.send(download)
        picocom.screen.expect_exact("/ 8k", timeout=BOOT_TIMEOUT)
        picocom.type(CTRL_C)
        picocom.screen.expect_exact("*** exit status: 130 ***", timeout=BOOT_TIMEOUT)
        # Three silent rounds of five seconds, each followed by the two-second drain
        end_download(picocom, BOOT_TIMEOUT)
        picocom.screen.expect_exact(MENU_PROMPT, timeout=BOOT_TIMEOUT)
        expect_untouched(board, application)
        download_and_install(picocom, download, 2, at_menu=True)
        expect_booted(picocom, 2, "demo application from the download")
        assert runner.finish() == 0, "run-board's exit status"
    expect_installed(board, 2, application)


@pytest.mark.slow
def test_technician_sends_before_asked(board):
    """The send started before the switch to 115200 and the Enter: sx waits for a receiver that
    waits for the Enter; Ctrl-C ends sx, and the download done as the runbook says installs. Then the
    technician quits picocom."""
    application, download = technician_board(board)
    with technician(board, 1, 1, download) as (runner, picocom):
        picocom.screen.expect_exact(MENU_PROMPT, timeout=BOOT_TIMEOUT)
        picocom.type(b"x")
        picocom.screen.expect_exact("Change the baud rate to 115200 bps and hit the <ENTER> key", timeout=BOOT_TIMEOUT)
        picocom.send(download)
        picocom.screen.expect_exact("Give your local XMODEM receive command now.", timeout=BOOT_TIMEOUT)
        time.sleep(5)
        picocom.type(CTRL_C)
        picocom.screen.expect_exact("*** exit status: 130 ***", timeout=BOOT_TIMEOUT)
        switch_to_download_speed(picocom)
        send_and_install(picocom, download, 1)
        # Quitting picocom closes the line: run-board stops the board and ends
        picocom.screen.expect_exact(MENU_PROMPT, timeout=BOOT_TIMEOUT)
        picocom.quit()
        assert runner.finish() == 0, "run-board's exit status"
    with open(os.path.join(board.workdir, "run-board.log")) as log:
        assert "the terminal program closed the board's line" in log.read()
    expect_installed(board, 1, application)


# Keys on the line while run-board's sx sends

# run-board's report of sx: the receiver's NAKs, those that refused a block, and how many of those
# blocks sx sent again
SX_REPORT = re.compile(r"sx ended with status 0: (\d+) bytes in [\d.]+ s from its first block \(\d+ bytes/s\); "
                       r"(\d+) NAKs from the receiver, (\d+) of them refusing a block, "
                       r"(\d+) of those blocks sent again")


def test_keys_typed_during_transfer(board):
    """Keys typed on the line while sx sends go out between its bytes: the receiver refuses the blocks
    they spoil, sx sends them again, and the download arrives whole."""
    application, download = technician_board(board)
    with board.runner(1, 1, "--one-line", "--send", download, "--line-speed", str(LINE_SPEED),
                      seconds=BOOT_TIMEOUT + 2 * transfer_bound(download)) as runner:
        runner.expect(MENU_PROMPT)
        runner.type(b"x")
        runner.expect(TRANSFER_STARTS)
        for keys in (b"2\r", b"x", b"\r\n1"):
            time.sleep(2)
            runner.type(keys)
        runner.expect("(hit return to just boot image): ")
        runner.type(b"2\r")
        runner.expect("Image2 updated succeeded")
        runner.expect(MENU_PROMPT)
        runner.type(b"e")
        assert runner.finish() == 0, "run-board's exit status"
    assert boots_of(runner.console_text())[-1][-5:] == [
        "Booting image '2'", "Uncompressing application image....", f"backtrace: starting {APP}",
        f"{APP}: demo application from the download", "board: poweroff"], "last boot"
    with open(os.path.join(board.workdir, "run-board.log")) as log:
        reported = SX_REPORT.search(log.read())
    assert reported, "run-board's report of sx"
    size, naks, refused, resent = (int(number) for number in reported.groups())
    assert size == len(application)
    # The receiver also refuses the first end of transmission once, to have it confirmed
    assert refused >= 1 and naks >= refused + 1
    assert resent == refused
    expect_installed(board, 2, application)


# imgtool send on the line

def board_seconds(boots, download):
    return BOOT_TIMEOUT * boots + 2 * transfer_bound(download)


@contextlib.contextmanager
def sending(board, boots, download, *options, board_options=()):
    """run-board with the line on a pty (fresh EEPROM: slot 1) and imgtool send on it with OPTIONS;
    gives (runner, send)."""
    seconds = board_seconds(boots, download)
    with board.line_on_pty(1, boots, seconds, *board_options) as (runner, link):
        with Send(board.workdir, send_arguments([link], download, *options), seconds) as send:
            yield runner, send


def rescue_board(board, *download_records):
    """Rescue mode on a board with an application in slot 1; a download of the records given."""
    download = os.path.join(board.workdir, "download.bin")
    records.write(download, b"".join(download_records))
    board.make_flash(["diagnostics=rescue"], slot1=board.application("demo application from slot 1"))
    return download


def new_application(board):
    return board.application("demo application from the download")


def test_send_kernel_and_application(board):
    kernel = records.record("kernel", bytes(range(256)) * 64, 0x11)
    application = new_application(board)
    download = rescue_board(board, kernel, application)
    with sending(board, 1, download, "--slot", "1") as (runner, send):
        assert send.finish() == 0, "imgtool send's exit status (send.out, send.err)"
        # Payload sizes: a record carries a 16-byte header
        send.said("the board will be asked to install: kernel (16384 bytes at 0x01e00000), "
                  f"application ({len(application) - 16} bytes, slot 1)", "installed:")
        assert runner.finish() == 0, "run-board's exit status"
    assert board.flash_bytes(KERNEL_BASE, len(kernel)) == kernel, "kernel area"
    expect_installed(board, 1, application)


def test_send_two_boards(board):
    """One imgtool send serves two boards at once; each gets the download and a row in the table."""
    second = Board(os.path.join(board.workdir, "second"), board.launcher, board.probe, board.cpu)
    os.makedirs(second.workdir)
    application = new_application(board)
    download = rescue_board(board, application)
    second.make_flash(["diagnostics=rescue"], slot1=second.application("demo application from slot 1"))
    seconds = board_seconds(1, download)
    with board.line_on_pty(1, 1, seconds) as (runner, link), \
            second.line_on_pty(1, 1, seconds) as (second_runner, second_link):
        with Send(board.workdir, send_arguments([link, second_link], download, "--slot", "2"), seconds) as send:
            assert send.finish() == 0, "imgtool send's exit status (send.out, send.err)"
            rows = [line for line in send.printed().splitlines() if "installed:" in line]
            for line_path in (link, second_link):
                assert any(row.startswith(line_path + " ") for row in rows), \
                    f"the summary has no row for {line_path} saying installed: (send.out)"
        assert runner.finish() == 0, "run-board's exit status"
        assert second_runner.finish() == 0, "second run-board's exit status"
    expect_installed(board, 2, application)
    expect_installed(second, 2, application)


def test_send_to_board_booting_normally(board):
    board.make_two_slots()
    slot2 = board.flash_bytes(SLOT_BASES[2], 4096)
    download = os.path.join(board.workdir, "download.bin")
    records.write(download, new_application(board))
    with sending(board, 1, download, "--slot", "2") as (runner, send):
        assert send.finish() == 1, "imgtool send's exit status (send.out, send.err)"
        send.said("is booting its application, not the rescue menu", "diagnostics=rescue")
        runner.finish()
    assert board.flash_bytes(SLOT_BASES[2], 4096) == slot2, "slot 2"
    assert board.slot_byte() == 1


def test_send_with_tmp_too_small(board):
    """The board's /tmp fills up mid-transfer: the board gives the transfer up and shows its menu
    again, and nothing is written."""
    application = board.big_application("demo application from the download", 300000)
    download = rescue_board(board, application)
    with sending(board, 1, download, "--slot", "2", board_options=["--tmp-size", "128k"]) as (runner, send):
        assert send.finish() == 1, "imgtool send's exit status (send.out, send.err)"
        send.said("the board gave the transfer up")
        expect_menu_after(send, SWITCH_BACK)
        runner.finish()
    expect_untouched(board, application)


def garble_line(link, seconds):
    """Sets LINK to 9600 bit/s for SECONDS, then back as it was: while the two ends' speeds differ,
    the relay turns every byte on the line into a framing error."""
    fd = os.open(link, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
    try:
        settings = termios.tcgetattr(fd)
        slow = list(settings)
        slow[4] = slow[5] = termios.B9600
        termios.tcsetattr(fd, termios.TCSANOW, slow)
        time.sleep(seconds)
        termios.tcsetattr(fd, termios.TCSANOW, settings)
    finally:
        os.close(fd)


def test_send_through_line_noise(board):
    """A second of garbled bytes both ways mid-transfer: blocks are sent again and the download
    arrives whole."""
    application, download = technician_board(board)
    with sending(board, 1, download, "--slot", "2") as (runner, send):
        send.expect(TRANSFER_STARTS)
        time.sleep(1)
        garble_line(os.path.join(board.workdir, "line"), 1)
        expect_still_sending(send, "the noise ended")
        assert send.finish() == 0, "imgtool send's exit status (send.out, send.err)"
        send.said("installed:")
        assert runner.finish() == 0, "run-board's exit status"
    expect_installed(board, 2, application)


@pytest.mark.power_control
def test_send_board_powers_off_mid_install(board):
    """QEMU killed as the install begins: the line goes quiet and then away, which must never read as
    success."""
    download = rescue_board(board, new_application(board))
    with sending(board, 1, download, "--slot", "2") as (runner, send):
        send.expect("Extracting images")
        board.cut_power()
        assert send.finish() == 1, "imgtool send's exit status (send.out, send.err)"
        # The line's far end goes with the board here, as an adapter that is pulled: the board may be
        # writing flash, which the words must say
        send.said("the line went away during the install: the board may be writing flash: do not power it off")
        runner.finish()


@pytest.mark.power_control
def test_send_board_resets_in_the_slot_write(board):
    """The bench's power cycled as the board starts writing slot 2: it boots again through its boot
    loader into rescue mode, which must read as a restart, never as success, and the slot byte still
    names slot 1."""
    download = rescue_board(board, board.big_application("demo application from the download", SLOT_WRITE_FILLER))
    with board.bench() as bench:
        seconds = board_seconds(2, download)
        with bench.released() as line, Send(board.workdir, send_arguments([line], download, "--slot", "2"),
                                            seconds) as send:
            bench.power_cycle()
            send.expect("Installing image as image2...")
            # The slot's write takes seconds of dots: the cycle lands inside it
            bench.power_cycle()
            assert send.finish() == 1, "imgtool send's exit status (send.out, send.err)"
            send.said("the board restarted during the install", "slot 2 was being written and must not be trusted")
            assert "installed:" not in send.printed(), "the summary (send.out)"
        assert bench.flash.slot_byte() == 1
