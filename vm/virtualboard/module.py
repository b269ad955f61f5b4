"""A real module on a bench, reached only through its serial line and its power: the board of the
scenarios' serial kind. It makes records as a virtual board does, and has no flash file to read."""
import contextlib

from .target import Target, boot_deadline
from .board import Board


class Module(Board):
    """The module on LINE, its power cycled by POWER_COMMAND or by the operator, whom TELL_OPERATOR
    asks, and at its rescue menu within BOOT_WAIT seconds of power-on; WORKDIR keeps the records and
    the logs of a scenario."""

    def __init__(self, workdir, line, power_command, tell_operator, boot_wait):
        super().__init__(workdir, None, None, None)
        # Nothing of the module's flash is on this host: a scenario that reads it must fail loudly
        self.flash = self.eeprom = None
        self.line, self.power_command, self.tell_operator = line, power_command, tell_operator
        self.boot_wait = boot_wait

    @contextlib.contextmanager
    def bench(self):
        yield Target(self.line, self.power_command, self.tell_operator,
                     boot_deadline(0, self.boot_wait, not self.power_command))
