"""A target: a board as a bench reaches it, whichever kind it is, a module or a virtual board: its
serial line, its power, switched by a command or by the operator's hand, and the time it takes from
power-on to its rescue menu; and what a kind can offer beyond them, for the scenarios that can use it."""
import re
import subprocess

# A power command that hangs would hold the whole suite
POWER_COMMAND_TIMEOUT = 60
# How long the operator has to power-cycle the module by hand
OPERATOR_WAIT = 300
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


class Target:
    """The board's serial LINE and its power: POWER_COMMAND cycles it, or, without one, TELL_OPERATOR
    asks the operator to. BOOT_WAIT is how long a power cycle takes to bring the board's first
    prompt, the operator's hand included. FLASH, where the kind can read them, gives the slot byte
    and the flash's bytes as the board holds them now (slot_byte(), flash_bytes(offset, count)); a
    module's are out of the host's reach, and it is None there."""

    def __init__(self, line, power_command, tell_operator, boot_wait, flash=None):
        self.line, self.power_command, self.tell_operator = line, power_command, tell_operator
        self.boot_wait, self.flash = boot_wait, flash

    def power_cycle(self):
        """Cycles the board's power; a program must hold the line open already, since what the board
        prints while nobody listens is lost."""
        if self.power_command:
            subprocess.run(self.power_command, shell=True, check=True, timeout=POWER_COMMAND_TIMEOUT)
        else:
            self.tell_operator(f"power-cycle the board on {self.line} now (waiting {self.boot_wait} s)")
