"""run-board as a child process: its console driven through pexpect, waited on within the run's
deadline, and keys typed on its standard input."""
import fcntl
import os
import subprocess
import time

import pexpect
from pexpect import fdpexpect

from .patience import HARD_BOUND, ProgressLog, expect

BOOT_START = "board: starting /bin/launcher"
BOOT_ENDS = ("board: reboot", "board: poweroff")
# The most an unprivileged process may give a pipe
CONSOLE_ROOM = 1 << 20


def stop(process):
    """Ends a child that is still running: asked first, killed after ten seconds."""
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def boots_of(console_text):
    """The launcher's console lines of each boot: from the board's start line to its end line."""
    boots, current = [], None
    for line in console_text.replace("\r", "").split("\n"):
        if line == BOOT_START:
            current = []
            boots.append(current)
        elif current is not None and line in BOOT_ENDS:
            current.append(line)
            current = None
        elif current is not None:
            current.append(line)
    return boots


class Runner:
    """run-board as a child process: its console driven through pexpect, keys typed on its standard
    input, everything bounded by one deadline that stretches while the console shows progress. Its
    console goes to console.log in WORKDIR, its own messages (and QEMU's) to run-board.log."""

    def __init__(self, command, workdir, seconds):
        self.deadline = time.monotonic() + seconds
        self.hard_deadline = time.monotonic() + HARD_BOUND * seconds
        self.log = ProgressLog(os.path.join(workdir, "console.log"))
        self.errors = open(os.path.join(workdir, "run-board.log"), "wb")
        # The console on a pipe of its own, read through pexpect's descriptor spawn: run-board's
        # messages stay apart from the console (a PopenSpawn merges them), and no pseudo-terminal
        # makes run-board take its standard input for a person's keyboard
        console, console_end = os.pipe()
        # Nobody reads the console between waits: room for all a run prints keeps run-board from
        # stalling on a full pipe while the scenario drives the line
        fcntl.fcntl(console_end, fcntl.F_SETPIPE_SZ, CONSOLE_ROOM)
        try:
            self.process = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=console_end, stderr=self.errors)
        finally:
            os.close(console_end)
        self.console = fdpexpect.fdspawn(console)
        self.console.logfile_read = self.log

    def expect(self, text):
        """Waits until TEXT shows on the console after what earlier waits found."""
        expect(self.console, text, self.deadline, self.hard_deadline)

    def type(self, data):
        self.process.stdin.write(data)
        self.process.stdin.flush()

    def finish(self):
        """The runner's exit status once it has ended by itself, within the console's patience."""
        expect(self.console, pexpect.EOF, self.deadline, self.hard_deadline)
        return self.process.wait(timeout=10)

    def console_text(self):
        """All the console showed so far, as console.log keeps it."""
        with open(self.log.name, "rb") as log:
            return log.read().decode(errors="replace")

    def close(self):
        stop(self.process)
        self.console.close()
        self.log.close()
        self.errors.close()
