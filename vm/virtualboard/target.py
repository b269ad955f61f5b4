"""A target: a board as a bench reaches it, whichever kind it is, a module or a virtual board: its
serial line, its power, switched by a command or by the operator's hand, and the time it takes from
power-on to its rescue menu; and what a kind can offer beyond them, for the scenarios that can use it."""
import subprocess

# A power command that hangs would hold the whole suite
POWER_COMMAND_TIMEOUT = 60


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
