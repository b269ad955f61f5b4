"""The technician's roads on the board's line, shared by the scenarios that take them: picocom driven
as the runbook gives it, and what imgtool send's output must show."""
import signal
import time

import pexpect
from expected import APP

from virtualboard.board import BOOT_TIMEOUT, KEY_DELAY, transfer_bound

MENU_PROMPT = "Option? : "
SWITCH_BACK = "Change the baud rate back to 9600 bps, hit the <ENTER> key"
TRANSFER_STARTS = "Init serial done"


def start_download(picocom, at_menu=False):
    """X at the menu, then switch the terminal to 115200 bit/s and hit Enter."""
    if not at_menu:
        picocom.screen.expect_exact(MENU_PROMPT, timeout=BOOT_TIMEOUT)
    picocom.type(b"x")
    picocom.screen.expect_exact("before initiating the download.", timeout=BOOT_TIMEOUT)
    time.sleep(KEY_DELAY)
    switch_to_download_speed(picocom)


def switch_to_download_speed(picocom):
    picocom.set_speed(115200)
    picocom.type(b"\r")
    picocom.screen.expect_exact(TRANSFER_STARTS, timeout=BOOT_TIMEOUT)


def end_download(picocom, seconds, asked=False):
    """Once the board asks (ASKED: it has), switch the terminal back to 9600 bit/s and hit Enter. What
    the line brings before sx has ended is sx's, as on the module's line, and does not show: when sx
    ends on the board's last answer, that can be the whole question."""
    if not asked:
        picocom.screen.expect_exact("9600 bps, hit the <ENTER> key", timeout=seconds)
    time.sleep(KEY_DELAY)
    picocom.set_speed(9600)
    picocom.type(b"\r")


def send_and_install(picocom, download, slot):
    """The file sent while the board asks for it, then the switch back and the slot's answer."""
    picocom.send(download)
    picocom.screen.expect_exact("Transfer complete", timeout=transfer_bound(download))
    # sx ended well; the board asks right after its last answer, so it has asked by then
    picocom.screen.expect_exact("*** exit status: 0 ***", timeout=BOOT_TIMEOUT)
    end_download(picocom, BOOT_TIMEOUT, asked=True)
    picocom.screen.expect_exact("Install image as image 1 or 2 (hit return to just boot image): ",
                                timeout=BOOT_TIMEOUT)
    picocom.type(f"{slot}\r".encode())
    picocom.screen.expect_exact(f"Image{slot} updated succeeded", timeout=BOOT_TIMEOUT)


def download_and_install(picocom, download, slot, at_menu=False):
    start_download(picocom, at_menu)
    send_and_install(picocom, download, slot)


def expect_booted(picocom, slot, text):
    """E at the menu boots the slot, and its application runs."""
    picocom.screen.expect_exact(MENU_PROMPT, timeout=BOOT_TIMEOUT)
    picocom.type(b"e")
    picocom.screen.expect_exact(f"Booting image '{slot}'", timeout=BOOT_TIMEOUT)
    picocom.screen.expect_exact(f"{APP}: {text}", timeout=BOOT_TIMEOUT)


def expect_menu_after(send, text):
    """The board's menu prompt came to imgtool send's output after TEXT did."""
    printed = send.printed()
    position = printed.find(text)
    assert position >= 0 and printed.find(MENU_PROMPT, position) >= 0, \
        f"imgtool send's output shows no {MENU_PROMPT!r} after {text!r} (send.out)"


def expect_still_sending(send, what):
    """The transfer had not ended when WHAT happened: otherwise the scenario proves nothing. What
    imgtool send printed by then is taken from its pipe first."""
    ended = send.out.expect_exact([pexpect.TIMEOUT, pexpect.EOF, "Extracting images"], timeout=0.2) == 2
    assert not ended, f"the transfer had ended before {what}: the download is too short"


def interrupt_mid_transfer(send):
    """SIGINT to imgtool send two seconds into the transfer: it cancels, waits for the board to give
    up, and leaves it at its menu."""
    send.expect(TRANSFER_STARTS)
    time.sleep(2)
    expect_still_sending(send, "the interrupt")
    send.process.send_signal(signal.SIGINT)
    assert send.finish() == 1, "imgtool send's exit status (send.out, send.err)"
    send.said("cancelled by the operator")
    expect_menu_after(send, SWITCH_BACK)
