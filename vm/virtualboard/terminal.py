"""A technician's terminal program on the board's line, driven through a pseudo-terminal as a person
at the keyboard drives it: what it shows is awaited as it comes, keys are typed."""
import os

import pexpect

CTRL_A = b"\x01"
CTRL_C = b"\x03"


class TerminalError(Exception):
    pass


class Picocom:
    """picocom with the board's XMODEM sender as its send command, started at the console's speed; its
    screen is kept in SCREEN_LOG."""

    def __init__(self, line, screen_log, cwd, speed=9600):
        self.log = open(screen_log, "wb")
        # A dumb terminal: the program's own prompts then read a plain line, with no cursor queries
        self.child = pexpect.spawn("picocom", ["-b", str(speed), "--send-cmd", "sx -vv -k", line], cwd=cwd,
                                   env={**os.environ, "TERM": "dumb"})
        self.child.logfile_read = self.log
        self.wait_for("Terminal ready", 10)

    def wait_for(self, text, seconds):
        """Waits until TEXT shows after what earlier waits found."""
        try:
            self.child.expect_exact(text.encode(), timeout=seconds)
        except pexpect.TIMEOUT:
            tail = self.child.before[-400:].decode(errors="replace")
            raise TerminalError(f"{text!r} did not show within {seconds:g} s; the screen ends with {tail!r}") from None
        except pexpect.EOF:
            raise TerminalError(f"picocom ended before {text!r} showed") from None

    def type(self, keys):
        self.child.send(keys)

    def command(self, key, prompt, answer):
        """C-a and a command key; the command's prompt is answered with a line."""
        self.type(CTRL_A + key)
        self.wait_for(prompt, 10)
        self.type(answer.encode() + b"\n")

    def set_speed(self, speed):
        self.command(b"\x02", "*** baud: ", str(speed))
        self.wait_for(f"*** baud: {speed} ***", 10)

    def send(self, path):
        self.command(b"\x13", "*** file: ", path)
        self.wait_for(f"$ sx -vv -k {path}", 10)

    def quit(self):
        self.type(CTRL_A + b"\x18")

    def close(self):
        self.child.close(force=True)
        self.log.close()
