"""A shell on the board's console in place of the launcher, with QEMU's QMP monitor open: to run the
board's programs and change its devices from the host."""
import contextlib
import os
import shutil
import signal
import tempfile

import pexpect

from .board import BOOT_TIMEOUT
from .qmp import Qmp
from .patience import Failure

SHELL_START = "board: starting a shell"


class Shell:
    """The shell on the board's console: commands typed one at a time, each output taken up to a
    marker that the command line prints after it."""

    def __init__(self, child):
        self.child, self.count = child, 0
        child.expect_exact(SHELL_START)

    def run(self, command):
        """The output of COMMAND, without carriage returns and the line end after it."""
        self.count += 1
        marker = f"--{self.count}--"
        # Split by quotes, the marker is only whole in what echo prints, not in the echoed line
        line = f'{command}; echo "{marker[:-1]}""{marker[-1]}"'
        self.child.sendline(line)
        self.child.expect_exact(marker)
        # The shell's editor echoes the line as it is typed
        shown = self.child.before.replace("\r", "")
        output = shown[shown.rfind(line) + len(line):] if line in shown else shown
        return output.removeprefix("\n").removesuffix("\n")


def stderr_to(path):
    """A preexec function: the child's standard error (run-board's messages and QEMU's) goes to PATH."""
    def redirect():
        os.dup2(os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644), 2)
    return redirect


@contextlib.contextmanager
def shell_session(board):
    """One boot of BOARD with a shell on the console (run-board on a pseudo-terminal, its console in
    console.log, its messages in run-board.log) and QEMU's QMP monitor open; gives (shell, qmp). The
    board powers off at the end."""
    # A unix socket's path is short; the logs directory may be deep
    sockets = tempfile.mkdtemp(prefix="vm-qmp-")
    qmp_path = os.path.join(sockets, "qmp.sock")
    command = board.command(0, 1, BOOT_TIMEOUT, "--run", "shell", "--qmp", qmp_path)
    console = open(os.path.join(board.workdir, "console.log"), "w")
    child = pexpect.spawn(command[0], command[1:], timeout=BOOT_TIMEOUT, encoding="utf-8", codec_errors="replace",
                          preexec_fn=stderr_to(os.path.join(board.workdir, "run-board.log")))
    child.logfile_read = console
    try:
        shell = Shell(child)
        with Qmp(qmp_path) as qmp:
            yield shell, qmp
        child.sendline("poweroff")
        child.expect(pexpect.EOF)
        child.close()
        if child.exitstatus != 0:
            raise Failure(f"run-board ended with status {child.exitstatus} after the shell's poweroff")
    finally:
        if child.isalive():
            # run-board stops QEMU on its way out
            child.kill(signal.SIGTERM)
            with contextlib.suppress(pexpect.TIMEOUT):
                child.expect(pexpect.EOF, timeout=10)
        child.close(force=True)
        console.close()
        shutil.rmtree(sockets, ignore_errors=True)
