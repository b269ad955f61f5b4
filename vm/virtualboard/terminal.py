"""A technician's terminal program on the board's line, driven through a pseudo-terminal as a person
at the keyboard drives it: what it shows is awaited with pexpect as it comes, keys are typed."""
import os

import pexpect

CTRL_A = b"\x01"
CTRL_C = b"\x03"


class Picocom:
    """picocom with the board's XMODEM sender as its send command, started at the console's speed;
    SCREEN is the pexpect spawn that shows what it shows, kept in SCREEN_LOG."""

    def __init__(self, line, screen_log, cwd, speed=9600):
        self.log = open(screen_log, "wb")
        # A dumb terminal: the program's own prompts then read a plain line, with no cursor queries
        self.screen = pexpect.spawn("picocom", ["-b", str(speed), "--send-cmd", "sx -vv -k", line], cwd=cwd,
                                    env={**os.environ, "TERM": "dumb"})
        self.screen.logfile_read = self.log
        self.screen.expect_exact("Terminal ready", timeout=10)

    def type(self, keys):
        self.screen.send(keys)

    def command(self, key, prompt, answer):
        """C-a and a command key; the command's prompt is answered with a line."""
        self.type(CTRL_A + key)
        self.screen.expect_exact(prompt, timeout=10)
        self.type(answer.encode() + b"\n")

    def set_speed(self, speed):
        self.command(b"\x02", "*** baud: ", str(speed))
        self.screen.expect_exact(f"*** baud: {speed} ***", timeout=10)

    def send(self, path):
        self.command(b"\x13", "*** file: ", path)
        self.screen.expect_exact(f"$ sx -vv -k {path}", timeout=10)

    def quit(self):
        self.type(CTRL_A + b"\x18")

    def close(self):
        self.screen.close(force=True)
        self.log.close()
