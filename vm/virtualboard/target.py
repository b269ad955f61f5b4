"""A target: a board as a bench reaches it, whichever kind it is, a module or a virtual board: its
serial line, its power, switched by a command or by the operator's hand, and the time it takes from
power-on to its rescue menu; and what a kind can offer beyond them (flash access, timed power cuts),
for the scenarios that can use it."""
import contextlib
import os
import re
import subprocess
import termios
import time
import tty

from pexpect import fdpexpect

# A power command that hangs would hold the whole suite
POWER_COMMAND_TIMEOUT = 60
# How long the operator has to power-cycle the module by hand
OPERATOR_WAIT = 300
# The boot loader and the console share the line at the console's speed
LINE_SPEED = termios.B9600
MENU_PROMPT = b"Option? : "
# The boot loader's countdown, whose first number shows when it starts; a key typed while it runs
# stops the boot at the loader's prompt, which starts a line of its own
COUNTDOWN = re.compile(rb"Hit any key to stop autoboot: *\d")
LOADER_PROMPT = re.compile(rb"(?:^|\n)=> ")


def countdown_shown(text):
    """True when TEXT, what the line carried, shows the boot loader's countdown."""
    return COUNTDOWN.search(text) is not None


def stopped_at_loader(text):
    """True when TEXT shows the boot loader's prompt after its countdown: a key stopped the boot."""
    countdown = COUNTDOWN.search(text)
    return countdown is not None and LOADER_PROMPT.search(text, countdown.end()) is not None


def boot_deadline(cycled_at, boot_wait, by_hand):
    """When the board must show its first prompt after a power cycle asked at CYCLED_AT: BOOT_WAIT
    seconds after a power command returned, and the operator's time on top when a hand cycles it."""
    return cycled_at + boot_wait + (OPERATOR_WAIT if by_hand else 0)


def open_line(path):
    """The line opened as a terminal program opens it: raw bytes at the console's speed, since the
    far end reads every other speed as framing errors and an echo would go back to the board."""
    fd = os.open(path, os.O_RDWR | os.O_NOCTTY)
    tty.setraw(fd)
    settings = termios.tcgetattr(fd)
    settings[4] = settings[5] = LINE_SPEED
    termios.tcsetattr(fd, termios.TCSANOW, settings)
    return fd


class Target:
    """The board's serial line at LINE_PATH and its power: POWER_COMMAND cycles it, or, without one,
    TELL_OPERATOR asks the operator to. BOOT_WAIT is how long the board takes from power-on to its
    rescue menu. LINE is a pexpect spawn over the line, open while the target holds it; what it
    carried goes to line.log in WORKDIR.

    Capabilities, None where the kind lacks them: FLASH gives the slot byte and the flash's bytes as
    the board holds them now (slot_byte(), flash_bytes(offset, count)); CUT_POWER() cuts the power
    at once, at a moment the scenario chooses."""

    def __init__(self, line_path, workdir, power_command, tell_operator, boot_wait, flash=None, cut_power=None):
        self.line_path, self.workdir = line_path, workdir
        self.power_command, self.tell_operator, self.boot_wait = power_command, tell_operator, boot_wait
        self.flash, self.cut_power = flash, cut_power
        self.line, self.cycled_at = None, time.monotonic()
        self.log = open(os.path.join(workdir, "line.log"), "ab")

    def __enter__(self):
        self.hold_line()
        return self

    def __exit__(self, *_):
        self.let_go()
        self.log.close()

    def hold_line(self):
        self.line = fdpexpect.fdspawn(open_line(self.line_path), timeout=self.boot_wait)
        self.line.logfile_read = self.log

    def let_go(self):
        if self.line:
            self.line.close()
            self.line = None

    @contextlib.contextmanager
    def released(self):
        """The line left to a program that opens it itself (picocom, imgtool send), which takes it
        alone; the target holds it again afterwards."""
        self.let_go()
        try:
            yield self.line_path
        finally:
            self.hold_line()

    def power_cycle(self):
        """Cycles the board's power; a program must hold the line open already, since what the board
        prints while nobody listens is lost."""
        if self.power_command:
            subprocess.run(self.power_command, shell=True, check=True, timeout=POWER_COMMAND_TIMEOUT)
        else:
            self.tell_operator(f"power-cycle the board on {self.line_path} now (waiting {self.boot_wait} s)")
        self.cycled_at = time.monotonic()

    def boot_left(self):
        """Seconds left of the boot wait since the last power cycle."""
        return max(0.0, boot_deadline(self.cycled_at, self.boot_wait, not self.power_command) - time.monotonic())

    def to_menu(self):
        """A power cycle, and the board at its rescue menu within the boot wait."""
        self.power_cycle()
        self.line.expect_exact(MENU_PROMPT, timeout=self.boot_left())

    def to_loader(self, key=b" "):
        """A power cycle, and KEY typed in the boot loader's countdown: the board waits at the loader's
        prompt."""
        self.power_cycle()
        self.line.expect(COUNTDOWN, timeout=self.boot_left())
        self.line.send(key)
        self.line.expect(LOADER_PROMPT)
