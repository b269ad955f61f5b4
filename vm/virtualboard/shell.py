"""A shell on the board's console in place of the launcher, with QEMU's QMP monitor open: to run the
board's programs and change its devices from the host."""
import contextlib
import os
import shutil
import tempfile

from .qmp import Qmp
from .runner import Failure

SHELL_START = "board: starting a shell"


class Shell:
    """The shell on the board's console: commands typed one at a time, each output taken up to a
    marker that the command line prints after it."""

    def __init__(self, runner):
        self.runner, self.count = runner, 0
        self.position = runner.wait_for(SHELL_START, 0)

    def type_line(self, line):
        self.runner.type(line.encode() + b"\n")

    def run(self, command):
        """The output of COMMAND, without carriage returns and the line end after it."""
        self.count += 1
        marker = f"--{self.count}--"
        # Split by quotes, the marker is only whole in what echo prints, not in the echoed line
        line = f'{command}; echo "{marker[:-1]}""{marker[-1]}"'
        self.type_line(line)
        self.position = self.runner.wait_for(marker, self.position)
        # The line shows twice when typed ahead: the terminal echoes it, then the shell's editor
        text = self.runner.console.text
        echoed = text.rfind(line, 0, self.position) + len(line)
        output = text[echoed:self.position - len(marker)].replace("\r", "")
        return output.removeprefix("\n").removesuffix("\n")


@contextlib.contextmanager
def shell_session(board):
    """One boot of BOARD with a shell on the console and QEMU's QMP monitor open; gives (shell, qmp).
    The board powers off at the end."""
    # A unix socket's path is short; the logs directory may be deep
    sockets = tempfile.mkdtemp(prefix="vm-qmp-")
    qmp_path = os.path.join(sockets, "qmp.sock")
    try:
        with board.runner(0, 1, "--run", "shell", "--qmp", qmp_path) as runner:
            shell = Shell(runner)
            with Qmp(qmp_path) as qmp:
                yield shell, qmp
            shell.type_line("poweroff")
            status = runner.finish()
            if status != 0:
                raise Failure(f"run-board ended with status {status} after the shell's poweroff")
    finally:
        shutil.rmtree(sockets, ignore_errors=True)
