"""A board as a bench reaches it: its serial line, and its power, switched by a command or by the
operator's hand."""
import subprocess

# A power command that hangs would hold the whole suite
POWER_COMMAND_TIMEOUT = 60


class Bench:
    """The board's serial LINE and its power: POWER_COMMAND cycles it, or, without one, TELL_OPERATOR
    asks the operator to. BOOT_WAIT is how long a power cycle takes to bring the board's first
    prompt, the operator's hand included."""

    def __init__(self, line, power_command, tell_operator, boot_wait):
        self.line, self.power_command, self.tell_operator = line, power_command, tell_operator
        self.boot_wait = boot_wait

    def power_cycle(self):
        """Cycles the board's power; a program must hold the line open already, since what the board
        prints while nobody listens is lost."""
        if self.power_command:
            subprocess.run(self.power_command, shell=True, check=True, timeout=POWER_COMMAND_TIMEOUT)
        else:
            self.tell_operator(f"power-cycle the board on {self.line} now (waiting {self.boot_wait} s)")
