"""Scenarios of imgtool send on the virtual board: run-board's one line on a host pseudo-terminal,
paced at 115200 bit/s, which imgtool send opens as the technician's laptop opens its serial
adapter. Each runs imgtool send as a child, bounded by --wait and a deadline of its own, keeps its
standard output (the board's console and the summary) and standard error (its own messages and
progress) in the scenario's directory as send.out and send.err, and checks its exit status, the
phrases it gives its outcome, and the flash and slot byte afterwards."""
import contextlib
import os
import signal
import termios
import time

from scenarios import expect_equal, expect_installed, scenario, technician_board, two_slots
from virtualboard import records
from virtualboard.board import BOOT_TIMEOUT, Board, transfer_bound
from virtualboard.imgtool_send import Send, send_arguments
from virtualboard.runner import Failure

SLOT_BASES = {1: 0x00000000, 2: 0x00800000}
KERNEL_BASE = 0x01E00000
MENU_PROMPT = "Option? : "
SWITCH_BACK = "Change the baud rate back to 9600 bps, hit the <ENTER> key"
TRANSFER_STARTS = "Init serial done"


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


def expect_status(send, wanted):
    expect_equal("imgtool send's exit status (send.out, send.err)", send.finish(), wanted)


def expect_untouched(board, application):
    """Nothing reached slot 2, and the slot byte still names slot 1."""
    expect_equal("slot 2", board.flash_bytes(SLOT_BASES[2], len(application)), b"\xff" * len(application))
    expect_equal("slot byte", board.slot_byte(), 1)


def expect_menu_after(send, text):
    """The board's menu prompt came to imgtool send's output after TEXT did."""
    position = send.out.text.find(text)
    if position < 0 or send.out.text.find(MENU_PROMPT, position) < 0:
        raise Failure(f"imgtool send's output shows no {MENU_PROMPT!r} after {text!r} (send.out)")


@scenario
def send_installs_slot2_and_verifies(board):
    application = new_application(board)
    download = rescue_board(board, application)
    with sending(board, 2, download, "--slot", "2", "--verify") as (runner, send):
        expect_status(send, 0)
        # The new application's own first line, not only the board's lines before it
        send.said("installed:", "booted slot 2", "demo application from the download")
        expect_equal("runner exit status", runner.finish(), 0)
    expect_installed(board, 2, application)


@scenario
def send_kernel_and_application(board):
    kernel = records.record("kernel", bytes(range(256)) * 64, 0x11)
    application = new_application(board)
    download = rescue_board(board, kernel, application)
    with sending(board, 1, download, "--slot", "1") as (runner, send):
        expect_status(send, 0)
        # Payload sizes: a record carries a 16-byte header
        send.said("the board will be asked to install: kernel (16384 bytes at 0x01e00000), "
                  f"application ({len(application) - 16} bytes, slot 1)", "installed:")
        expect_equal("runner exit status", runner.finish(), 0)
    expect_equal("kernel area", board.flash_bytes(KERNEL_BASE, len(kernel)), kernel)
    expect_installed(board, 1, application)


@scenario
def send_two_boards(board):
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
            expect_status(send, 0)
            rows = [line for line in send.out.text.splitlines() if "installed:" in line]
            for line_path in (link, second_link):
                if not any(row.startswith(line_path + " ") for row in rows):
                    raise Failure(f"the summary has no row for {line_path} saying installed: (send.out)")
        expect_equal("runner exit status", runner.finish(), 0)
        expect_equal("second runner exit status", second_runner.finish(), 0)
    expect_installed(board, 2, application)
    expect_installed(second, 2, application)


@scenario
def send_to_board_booting_normally(board):
    two_slots(board)
    slot2 = board.flash_bytes(SLOT_BASES[2], 4096)
    download = os.path.join(board.workdir, "download.bin")
    records.write(download, new_application(board))
    with sending(board, 1, download, "--slot", "2") as (runner, send):
        expect_status(send, 1)
        send.said("is booting its application, not the rescue menu", "diagnostics=rescue")
        runner.finish()
    expect_equal("slot 2", board.flash_bytes(SLOT_BASES[2], 4096), slot2)
    expect_equal("slot byte", board.slot_byte(), 1)


@scenario
def send_with_tmp_too_small(board):
    """The board's /tmp fills up mid-transfer: the board gives the transfer up and shows its menu
    again, and nothing is written."""
    application = board.big_application("demo application from the download", 300000)
    download = rescue_board(board, application)
    with sending(board, 1, download, "--slot", "2", board_options=["--tmp-size", "128k"]) as (runner, send):
        expect_status(send, 1)
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


def expect_still_sending(send, what):
    """The transfer had not ended when WHAT happened: otherwise the scenario proves nothing."""
    if "Extracting images" in send.out.text:
        raise Failure(f"the transfer had ended before {what}: the download is too short")


@scenario
def send_through_line_noise(board):
    """A second of garbled bytes both ways mid-transfer: blocks are sent again and the download
    arrives whole."""
    application, download = technician_board(board)
    with sending(board, 1, download, "--slot", "2") as (runner, send):
        send.wait_for(TRANSFER_STARTS)
        time.sleep(1)
        garble_line(os.path.join(board.workdir, "line"), 1)
        expect_still_sending(send, "the noise ended")
        expect_status(send, 0)
        send.said("installed:")
        expect_equal("runner exit status", runner.finish(), 0)
    expect_installed(board, 2, application)


@scenario
def send_ctrl_c_mid_transfer(board):
    """SIGINT mid-transfer: imgtool send cancels, waits for the board to give up, and leaves it at its
    menu with nothing written."""
    application, download = technician_board(board)
    with sending(board, 1, download, "--slot", "2") as (runner, send):
        send.wait_for(TRANSFER_STARTS)
        time.sleep(2)
        expect_still_sending(send, "the interrupt")
        send.process.send_signal(signal.SIGINT)
        expect_status(send, 1)
        send.said("cancelled by the operator")
        expect_menu_after(send, SWITCH_BACK)
        runner.finish()
    expect_untouched(board, application)


@scenario
def send_board_powers_off_mid_install(board):
    """QEMU killed as the install begins: the line goes quiet and then away, which must never read as
    success."""
    download = rescue_board(board, new_application(board))
    with sending(board, 1, download, "--slot", "2") as (runner, send):
        send.wait_for("Extracting images")
        with open(os.path.join(board.workdir, "qemu.pid")) as f:
            os.kill(int(f.read()), signal.SIGKILL)
        expect_status(send, 1)
        send.said("the board went away during the install")
        runner.finish()
